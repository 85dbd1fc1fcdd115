#pragma once

#include <QString>

#include <utility>

class LogFileWriter;

// What the application says after a log transfer that did not end whole, once the transfer is
// over however it ended (a window closed mid-transfer destroys the dialogue where it waits):
// what became of the named file and of what arrived. A transfer the user stopped (Cancel,
// closing the window, Exit) is told as information; a failure under the datalogger's error title.
class TransferNotice
{
public:
    // received is the count of log bytes that arrived, read when the notice is given.
    TransferNotice(QString path, QString partial, bool inPlace, LogFileWriter &file,
        const int &received, int count);
    ~TransferNotice();
    TransferNotice(const TransferNotice &) = delete;
    TransferNotice &operator=(const TransferNotice &) = delete;
    // What became of the named file: it existed before the transfer, or it never did.
    QString FileLeft() const;
    // The meter stopped sending, or the port went: not the user's doing.
    void Failed() { m_failed = true; }
    // A failure of the file's own, said as it stands.
    void Fail(QString text) { m_failure = std::move(text); }
    // The log is whole (or nothing needed saying): no notice.
    void Done() { m_done = true; }

private:
    QString m_path;
    QString m_partial;
    bool m_inPlace;
    LogFileWriter &m_file;
    const int &m_received;
    int m_count;
    bool m_pathExisted;
    bool m_failed = false;
    bool m_done = false;
    QString m_failure;
};
