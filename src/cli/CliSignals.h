#pragma once

#include <QObject>

// The command-line program's seam to the platform, a POSIX half and a Win32 half chosen at build
// time: turns Ctrl+C (SIGINT and SIGTERM; on Windows the console's control events) into the
// Interrupt signal on the event loop, doing no work inside the handler (except to end the
// program when the loop has not taken the signal within seconds: it is then stuck in an output
// that does not take what is written), and says whether a standard stream is a terminal. One
// instance per process (the program's Run owns it). Nothing else in cli/ includes a platform
// header.
class CliSignals : public QObject
{
    Q_OBJECT
public:
    explicit CliSignals(QObject *parent = nullptr);
    ~CliSignals() override;
    // Whether a signal has come, including one the event loop has not taken yet.
    bool Interrupted();

    enum class Stream { Input, Output, Error };
    // Whether the stream is a terminal (progress is drawn only on one).
    static bool IsTerminal(Stream stream);
    // Whether the stream is open at all. Checked before anything else opens a file: a closed
    // standard output's number would go to the next file opened (a serial port, a meter file),
    // and the results would be written into it.
    static bool IsOpen(Stream stream);
    // One line typed on standard input, without its line end. False at the end of the input or
    // when an interrupt comes first: a question is left at once on Ctrl+C, not at the next Enter.
    // The interrupt itself is left for the event loop, which reports it as any other.
    bool ReadLine(QByteArray *line);

Q_SIGNALS:
    void Interrupt();

private:
    void Drain();

    QObject *m_notifier = nullptr;
    bool m_interrupted = false;
};
