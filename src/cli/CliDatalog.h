#pragma once

#include "base/Task.h"
#include "datalog/IDatalogSink.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <memory>

class CSerial;
class DatalogCore;
class DialogueRunner;

// The datalogger without its window, for tarvik-cli's log and transfer: a DatalogCore on the
// meter link, whose status words become progress on standard error, watched by a dialogue of
// its own until the run has ended. The log file is the datalogger's own, written by its own code.
class CliDatalog : public QObject, public IDatalogSink
{
    Q_OBJECT
public:
    CliDatalog(CSerial *link, bool progress);
    ~CliDatalog() override;

    // PC logging into path, one snapshot every intervalSeconds with the options given (Date,
    // Time, Flow, Total, High, Low, Relay1, Relay2), for seconds (or until stopMs of the day
    // when seconds < 0); Stop ends it early with the stop line. Runs under the event loop;
    // Finished follows. Status 0 logged, 1 the meter did not let logging start.
    void StartLog(
        const QString &path, int intervalSeconds, const std::array<bool, 8> &options, int seconds);
    // The meter's stored log into path, written whole (a temporary file renamed at the end).
    void StartTransfer(const QString &path);
    // Ctrl+C: logging ends with its stop line; a meter dialogue is cancelled.
    void Stop();
    int Status() const { return m_status; }
    QString Failure() const { return m_failure; }

    void StatusChanged(const QString &status, const QString &mode) override;
    void ProgressChanged(const QString &progress) override;

    // The option names of --options, in the datalogger's order.
    static const char *const kOptionNames[8];

Q_SIGNALS:
    void Finished();

private:
    void Check();
    void Finish(int status);
    // Check every kCheckMs until the run has ended.
    Task<void> Watch();
    void StartWatching();
    static constexpr int kCheckMs = 50;

    std::unique_ptr<DatalogCore> m_core;
    bool m_progress;
    bool m_logging = false;
    bool m_wasLogging = false;
    bool m_transfer = false;
    bool m_stopped = false;
    bool m_done = false;
    bool m_inPlace = false; // the output is a FIFO or terminal, written as it stands
    bool m_draining = false; // the meter is finishing its log after an interrupt
    qint64 m_endAt = 0;
    QString m_path;
    QString m_temporary;
    QStringList m_statuses;
    int m_status = 0;
    QString m_failure;
    std::unique_ptr<DialogueRunner> m_watch; // last: its dialogue ends first
};
