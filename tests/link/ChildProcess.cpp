#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

int ChildProcess::Run(const std::function<int()> &body)
{
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0)
        ::_exit(body());
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

ChildProcess::ChildProcess(const std::function<void(ChildProcess &)> &body)
{
    if (::pipe2(m_ready, O_CLOEXEC) != 0 || ::pipe2(m_finish, O_CLOEXEC) != 0)
        return;
    m_pid = ::fork();
    if (m_pid == 0) {
        body(*this);
        ::_exit(0);
    }
    if (m_pid > 0) {
        // Wait (bounded) for the child to report that it is set up.
        struct pollfd watch = { m_ready[0], POLLIN, 0 };
        char c = 0;
        if (::poll(&watch, 1, 10000) <= 0 || ::read(m_ready[0], &c, 1) != 1)
            Finish();
    }
}

ChildProcess::~ChildProcess()
{
    Finish();
    for (int fd : { m_ready[0], m_ready[1], m_finish[0], m_finish[1] }) {
        if (fd >= 0)
            ::close(fd);
    }
}

void ChildProcess::Ready()
{
    const char c = 1;
    (void)!::write(m_ready[1], &c, 1);
}

void ChildProcess::WaitForFinish()
{
    struct pollfd watch = { m_finish[0], POLLIN, 0 };
    ::poll(&watch, 1, 30000);
}

void ChildProcess::Finish()
{
    if (m_pid > 0) {
        const char c = 1;
        (void)!::write(m_finish[1], &c, 1);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
    }
}

void ChildProcess::Kill()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
    }
}
