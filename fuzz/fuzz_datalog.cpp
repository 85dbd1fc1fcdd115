// What the datalogger reads from outside: the meter's run-mode stream through the reading-line
// receiver into snapshots (display and log row), a log file loaded back (the logic below the
// file), and the date and time rules of its fields over each line of the input.
#include "FuzzEnv.h"

#include "datalog/DatalogCore.h"
#include "datalog/DatalogFieldRules.h"
#include "datalog/LogLoader.h"
#include "datalog/PcLogger.h"
#include "datalog/ReadingReceiver.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzEnv::Init();
    const QByteArray input = FuzzEnv::Bytes(data, size);

    // The stream: every completed line becomes a snapshot as the line reader takes it.
    DatalogCore core;
    core.SetClock([] { return QDateTime(QDate(2026, 12, 8), QTime(9, 30, 5)); });
    ReadingReceiver receiver;
    receiver.Restart();
    for (const char c : input) {
        const ReadingReceiver::Result result = receiver.Feed(static_cast<unsigned char>(c));
        if (receiver.Line().size() > ReadingReceiver::kLimit)
            std::abort(); // a line never outgrows the receiver's limit
        if (result == ReadingReceiver::Result::Line) {
            core.state.lastReadingLine = receiver.Line();
            core.state.displayOnly = 1;
            core.Pc().TakeSnapshot();
        } else if (result == ReadingReceiver::Result::Overflow) {
            receiver.Restart();
        }
    }

    // The same bytes as a log file.
    LogData log;
    LogLoader::LoadBytes(input, log);
    if (log.snapshotList.size() > LogLoader::kMaxLines
        || log.headerList.size() > LogLoader::kMaxLines)
        std::abort();

    // The fields' date and time rules.
    const QStringList lines = QString::fromLatin1(input).split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size() && i < 64; ++i) {
        const QString &text = lines.at(i);
        (void)DatalogFieldRules::NormalizeDate(text);
        (void)DatalogFieldRules::NormalizeTime(text);
        (void)DatalogFieldRules::TimeSeconds(text);
        int year = 0, month = 0, day = 0;
        DatalogFieldRules::ParseDate(text, &year, &month, &day);
        QString hour = text, min = text.mid(1), sec = text.mid(2);
        DatalogFieldRules::LeaveHour(hour, min, sec);
        DatalogFieldRules::LeaveMin(hour, min, sec);
        DatalogFieldRules::LeaveSec(hour, min, sec);
        (void)DatalogFieldRules::IntervalSeconds(hour, min, sec);
    }
    return 0;
}
