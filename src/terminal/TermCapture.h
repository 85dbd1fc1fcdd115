#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// Capture of what a terminal receives to a file: the bytes exactly as the meter sent them, or
// the text as the window shows it (with its timestamps and hex rows, control codes other than
// the line feed left out). Every tick's bytes are written at once and unbuffered, so a capture
// left running for hours grows the file, never the program. Owned by the terminal document.
class TermCapture
{
public:
    enum class Mode { Raw, Shown };

    TermCapture() = default;
    TermCapture(const TermCapture &) = delete;
    TermCapture &operator=(const TermCapture &) = delete;

    // Creates (or empties) the file and starts capturing; false, with the reason in error, when
    // the file cannot be written (nothing changes then).
    bool Start(const QString &path, Mode mode, QString *error);
    void Stop();
    bool IsOn() const { return m_file.isOpen(); }
    QString Path() const { return m_file.fileName(); }
    Mode CaptureMode() const { return m_mode; }
    qint64 BytesWritten() const { return m_written; }

    // One tick's received bytes and what they put on the shown screen (the received bytes
    // themselves while no display toggle is on). False when the write failed: the capture has
    // stopped and error says why; the bytes written before stay in the file.
    bool Write(const QByteArray &received, const QByteArray &shown, QString *error);

    // The text of shown bytes: printable characters and line feeds; carriage returns, escapes,
    // backspaces and other control codes are dropped.
    static QByteArray ShownText(const QByteArray &shown);

private:
    QFile m_file;
    Mode m_mode = Mode::Raw;
    qint64 m_written = 0;
};
