#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into the Interrupted signal on the event loop: the handler only
// writes a byte to a pipe, which a QSocketNotifier watches, so no work is done inside the
// handler. One instance per process (the command-line program's main owns it).
class CliSignals : public QObject
{
    Q_OBJECT
public:
    explicit CliSignals(QObject *parent = nullptr);
    ~CliSignals() override;
    // Whether a signal has come, including one still waiting in the pipe for the event loop.
    bool Interrupted();

Q_SIGNALS:
    void Interrupt();

private:
    void Drain();

    QSocketNotifier *m_notifier = nullptr;
    bool m_interrupted = false;
};
