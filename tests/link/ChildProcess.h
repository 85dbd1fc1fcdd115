#pragma once

#include <functional>

#include <sys/types.h>

// Runs a piece of a test in a second process (fork), to play "another program" on the same
// port. The child never returns into the test runner.
class ChildProcess
{
public:
    // Runs body in a child and returns its result (its exit status), or -1 if it died.
    static int Run(const std::function<int()> &body);

    // Starts body in a child that keeps running; body gets Ready() to call when it has set
    // itself up, and should then call WaitForFinish(). Start returns once the child is ready.
    explicit ChildProcess(const std::function<void(ChildProcess &)> &body);
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    bool Started() const { return m_pid > 0; }
    pid_t Pid() const { return m_pid; }
    // In the child: tell the parent the set-up is done; then wait until the parent says finish.
    void Ready();
    void WaitForFinish();
    // In the parent: let the child end and reap it.
    void Finish();
    // In the parent: end the child as a crash would (SIGKILL, no clean-up of its own) and reap it.
    void Kill();

private:
    pid_t m_pid = -1;
    int m_ready[2] = { -1, -1 };
    int m_finish[2] = { -1, -1 };
};
