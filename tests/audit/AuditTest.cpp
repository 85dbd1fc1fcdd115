// The audit trail's file, the comparison of two configurations, the as-found copies and the
// change report's visits.
#include "audit/AsFoundStore.h"
#include "audit/AuditLog.h"
#include "audit/AuditSettings.h"
#include "audit/ChangeReport.h"
#include "audit/ConfigDiff.h"
#include "support/TestEnv.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <pwd.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

namespace {

AuditRecord Send(const QString &serial, const QString &when, std::vector<AuditRecord::Change> c,
    const QString &result = QStringLiteral("ok"))
{
    AuditRecord r = AuditRecord::Now(QStringLiteral("send"), QStringLiteral("Ann"));
    r.time = QDateTime::fromString(when, Qt::ISODate);
    r.serial = serial;
    r.series = QStringLiteral("Kelvane");
    r.firmware = QStringLiteral("4.1A");
    r.changes = std::move(c);
    r.result = result;
    return r;
}

} // namespace

TEST(ConfigDiff, NamesEveryChangedFieldAndCountsTheRest)
{
    const std::vector<ConfigDiff::Field> meter {
        { QStringLiteral("Full Scale"), 1018, QStringLiteral("80.00") },
        { QStringLiteral("Modbus Addr"), 1035, QStringLiteral(" 1") },
        { QStringLiteral("Primary[0]"), 1047, QStringLiteral("1.5") },
        { QStringLiteral("Primary[1]"), 1047, QStringLiteral("2.5") },
        { QStringLiteral("Password"), 1045, QStringLiteral("0") },
    };
    const std::vector<ConfigDiff::Field> file {
        { QStringLiteral("Full Scale"), 1018, QStringLiteral("90.00") },
        { QStringLiteral("Modbus Addr"), 1035, QStringLiteral("1 ") }, // padding is no change
        { QStringLiteral("Primary[0]"), 1047, QStringLiteral("1.5") },
        { QStringLiteral("Primary[1]"), 1047, QStringLiteral("2.75") },
        { QStringLiteral("Tracking ON"), 1032, QStringLiteral("TRUE") }, // only in the file
    };
    const ConfigDiff::Result diff = ConfigDiff::Compare(meter, file);
    const std::vector<AuditRecord::Change> expected {
        { QStringLiteral("Full Scale"), 1018, QStringLiteral("80.00"), QStringLiteral("90.00") },
        { QStringLiteral("Primary[1]"), 1047, QStringLiteral("2.5"), QStringLiteral("2.75") },
        { QStringLiteral("Tracking ON"), 1032, QString(), QStringLiteral("TRUE") },
        { QStringLiteral("Password"), 1045, QStringLiteral("0"), QString() },
    };
    EXPECT_EQ(diff.changes, expected);
    EXPECT_EQ(diff.unchanged, 2);
    EXPECT_FALSE(diff.Equal());
    EXPECT_EQ(ConfigDiff::Text(diff),
        QStringLiteral("Full Scale: 80.00 -> 90.00\nPrimary[1]: 2.5 -> 2.75\nTracking ON:  -> "
                       "TRUE\nPassword: 0 -> \n2 fields unchanged."));
    EXPECT_EQ(ConfigDiff::Text(diff, 2),
        QStringLiteral("Full Scale: 80.00 -> 90.00\nPrimary[1]: 2.5 -> 2.75\n... and 2 more "
                       "changes.\n2 fields unchanged."));
    EXPECT_TRUE(ConfigDiff::Compare(meter, meter).Equal());
    EXPECT_EQ(ConfigDiff::Text(ConfigDiff::Compare({ meter[0] }, { meter[0] })),
        QStringLiteral("1 field unchanged."));

    // Bytes: a changed byte and a stored image one byte short; named by their variable.
    const QByteArray sent = QByteArray::fromHex("AA0102030405");
    const QByteArray stored = QByteArray::fromHex("AA01FF0304");
    const std::vector<int> offsets = ConfigDiff::DifferingBytes(sent, stored);
    EXPECT_EQ(offsets, (std::vector<int> { 2, 5 }));
    EXPECT_TRUE(ConfigDiff::DifferingBytes(sent, sent).empty());
    EXPECT_EQ(ConfigDiff::ByteNames(
                  offsets, [](int o) { return o == 2 ? QStringLiteral("evalue[2]") : QString(); }),
        (QStringList { QStringLiteral("byte 2 (evalue[2])"), QStringLiteral("byte 5") }));
}

TEST(AuditLog, RecordsComeBackWholeAndACutLastLineCostsOnlyItself)
{
    QTemporaryDir dir;
    const AuditLog trail(AuditSettings::TrailPathIn(dir.path()));
    EXPECT_EQ(trail.Path(), dir.filePath(QStringLiteral("tarvik-audit.jsonl")));
    EXPECT_TRUE(trail.Load().records.empty()) << "a missing trail is an empty one";

    AuditRecord first = Send(QStringLiteral("31415"), QStringLiteral("2026-12-09T10:00:00+01:00"),
        { { QStringLiteral("Full Scale"), 1018, QStringLiteral("80"),
            QStringLiteral("90, \"x\"") } });
    first.file = QStringLiteral("/w/edited.mtr");
    first.sha256 = QStringLiteral("ab12");
    first.message = QStringLiteral("Meter stored the configuration");
    QString error;
    ASSERT_TRUE(trail.Append(first, &error)) << qPrintable(error);
    // An empty operator identification is the program's unknown operator, never an empty cell.
    const AuditRecord anon = AuditRecord::Now(QStringLiteral("read"), QStringLiteral("  "));
    EXPECT_EQ(anon.operatorName, QStringLiteral("Anon"));
    EXPECT_FALSE(anon.computer.isEmpty());
    EXPECT_EQ(anon.version, QStringLiteral("Tarvik V2.16"));
    ASSERT_TRUE(trail.Append(anon, &error)) << qPrintable(error);

    // A crash in the middle of a line (the write cut short by power loss): the cut line is
    // passed over and the next record stands on a line of its own.
    {
        QFile f(trail.Path());
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write("{\"time\":\"2026-12-09T10:05:00+01:00\",\"operator\":\"Bo");
    }
    AuditRecord third
        = Send(QStringLiteral("27182"), QStringLiteral("2026-12-10T08:00:00-05:00"), {});
    ASSERT_TRUE(trail.Append(third, &error)) << qPrintable(error);

    const AuditLog::Loaded loaded = trail.Load();
    EXPECT_TRUE(loaded.error.isEmpty());
    EXPECT_EQ(loaded.skipped, 1);
    ASSERT_EQ(loaded.records.size(), 3u);
    const AuditRecord &back = loaded.records[0];
    const auto fields = [](const AuditRecord &r) {
        return std::tie(r.time, r.changes, r.file, r.sha256, r.operatorName, r.result, r.message);
    };
    EXPECT_EQ(fields(back), fields(first));
    EXPECT_EQ(AuditRecord::TimeText(back.time), QStringLiteral("2026-12-09T10:00:00+01:00"));
    EXPECT_EQ(
        AuditRecord::TimeText(loaded.records[2].time), QStringLiteral("2026-12-10T08:00:00-05:00"));
    EXPECT_EQ(ReadFile(trail.Path()).split('\n').size(), 5) << "four lines, each ended";

    // Filter by serial number and date, and the CSV: one row per changed field, quoted.
    EXPECT_EQ(AuditLog::Filter(loaded.records, QStringLiteral("27182"), {}, {}).size(), 1u);
    EXPECT_EQ(AuditLog::Filter(loaded.records, {}, QDate(2026, 12, 10), {}).size(),
        1u + (anon.time.date() >= QDate(2026, 12, 10) ? 1u : 0u));
    EXPECT_EQ(AuditLog::Filter(loaded.records, {}, {}, QDate(2026, 12, 9)).size(),
        1u + (anon.time.date() <= QDate(2026, 12, 9) ? 1u : 0u));
    const QStringList csv = AuditLog::Csv({ back }).split(QLatin1Char('\n'));
    ASSERT_EQ(csv.size(), 3);
    EXPECT_TRUE(csv[0].startsWith(QStringLiteral("time,operator,")));
    EXPECT_TRUE(csv[1].endsWith(QStringLiteral(",Full Scale,1018,80,\"90, \"\"x\"\"\"")))
        << qPrintable(csv[1]);
    ASSERT_TRUE(AuditLog::WriteCsv(dir.filePath(QStringLiteral("t.csv")), { back }, &error));
    EXPECT_EQ(ReadFile(dir.filePath(QStringLiteral("t.csv"))), AuditLog::Csv({ back }).toUtf8());
    EXPECT_EQ(AuditLog::Sha256Of(dir.filePath(QStringLiteral("t.csv"))).size(), 64);
    EXPECT_TRUE(AuditLog::Sha256Of(dir.filePath(QStringLiteral("none"))).isEmpty());
}

TEST(AuditLog, AFileThatCannotTakeALineSaysSoWithTheSystemsReason)
{
    const AuditRecord r
        = Send(QStringLiteral("1"), QStringLiteral("2026-12-09T10:00:00+00:00"), {});
    // /proc/version refuses writes even to root; /dev/full is a disk with no room left.
    const char *const cases[][2]
        = { { "/proc/version", "" }, { "/dev/full", "No space left on device" },
              { "/no/such/folder/tarvik-audit.jsonl", "No such file or directory" } };
    for (const auto &[path, reason] : cases) {
        QString error;
        EXPECT_FALSE(AuditLog(QString::fromLatin1(path)).Append(r, &error)) << path;
        EXPECT_TRUE(error.contains(QString::fromLatin1(path))
            && error.contains(QString::fromLatin1(reason)))
            << qPrintable(error);
    }
}

TEST(AuditLog, TwoWritersAndAKilledOneLeaveOnlyWholeLines)
{
    QTemporaryDir dir;
    const QString path = AuditSettings::TrailPathIn(dir.path());
    constexpr int kEach = 300;
    // Two programs appending at once: every line whole, none lost.
    const auto writer = [&path](const QString &who, int count) {
        QString error;
        AuditRecord r = AuditRecord::Now(QStringLiteral("save"), who);
        r.message = QString(200, QLatin1Char('x')); // long enough to cross buffer sizes
        for (int i = 0; i < count; ++i) {
            r.serial = QString::number(i);
            if (!AuditLog(path).Append(r, &error))
                return false;
        }
        return true;
    };
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        ::_exit(writer(QStringLiteral("child"), kEach) ? 0 : 1);
    EXPECT_TRUE(writer(QStringLiteral("parent"), kEach));
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    AuditLog::Loaded loaded = AuditLog(path).Load();
    EXPECT_EQ(loaded.skipped, 0);
    EXPECT_EQ(loaded.records.size(), size_t(2 * kEach));

    // A writer killed while it appends: what it left is whole lines up to its last.
    const pid_t killed = ::fork();
    ASSERT_GE(killed, 0);
    if (killed == 0) {
        writer(QStringLiteral("killed"), 1000000);
        ::_exit(0);
    }
    const qint64 before = QFileInfo(path).size();
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return QFileInfo(path).size() > before + 20000; }));
    ::kill(killed, SIGKILL);
    ::waitpid(killed, &status, 0);
    loaded = AuditLog(path).Load();
    EXPECT_EQ(loaded.skipped, 0);
    EXPECT_GT(loaded.records.size(), size_t(2 * kEach));
    EXPECT_TRUE(ReadFile(path).endsWith('\n'));
}

TEST(AsFoundStore, KeepsEveryCopyUnderItsSerialAndTime)
{
    const QDateTime at(QDate(2026, 12, 9), QTime(4, 5, 6));
    const char *const rows[][2] = { { "31415", "31415" }, { " 31415 ", "31415" },
        { "../a/b", ".._a_b" }, { "", "unknown" }, { "..", "unknown" }, { "12 34:5", "12_34_5" } };
    for (const auto &[serial, name] : rows)
        EXPECT_EQ(AsFoundStore::FileName(QString::fromLatin1(serial), QStringLiteral(".mtr"), at),
            QString::fromLatin1(name) + QStringLiteral("_20261209-040506.mtr"));

    QTemporaryDir dir;
    QString error;
    const QString first = AsFoundStore::Save(
        dir.path(), QStringLiteral("31415"), QStringLiteral(".qxm"), "AA 01 ", at, &error);
    EXPECT_EQ(first, dir.filePath(QStringLiteral("as-found/31415_20261209-040506.qxm")));
    const QString second = AsFoundStore::Save(
        dir.path(), QStringLiteral("31415"), QStringLiteral(".qxm"), "AA 02 ", at, &error);
    EXPECT_EQ(second, dir.filePath(QStringLiteral("as-found/31415_20261209-040506-2.qxm")));
    EXPECT_EQ(ReadFile(first), QByteArray("AA 01 "));
    EXPECT_EQ(ReadFile(second), QByteArray("AA 02 "));

    // A folder that cannot be made (a file stands in its place): said, nothing written.
    WriteFile(dir.filePath(QStringLiteral("blocked")), "x");
    EXPECT_TRUE(AsFoundStore::Save(dir.filePath(QStringLiteral("blocked")), QStringLiteral("1"),
        QStringLiteral(".mtr"), "AA ", at, &error)
                    .isEmpty());
    EXPECT_TRUE(error.contains(QStringLiteral("blocked/as-found"))) << qPrintable(error);
}

TEST(ChangeReport, OnePagePerVisitWithWhatTheMeterHeldAndWasLeftWith)
{
    using C = AuditRecord::Change;
    const QString fs = QStringLiteral("Full Scale"), addr = QStringLiteral("Modbus Addr"),
                  cf = QStringLiteral("C Factor");
    std::vector<AuditRecord> trail {
        Send(QStringLiteral("31415"), QStringLiteral("2026-12-09T09:00:00+01:00"),
            { C { fs, 1018, QStringLiteral("80"), QStringLiteral("90") },
                C { addr, 1035, QStringLiteral("1"), QStringLiteral("7") } }),
        // Refused: counted, and its changes are not what the meter was left with.
        Send(QStringLiteral("31415"), QStringLiteral("2026-12-09T09:30:00+01:00"),
            { C { cf, 1036, QStringLiteral("1"), QStringLiteral("2") } }, QStringLiteral("failed")),
        Send(QStringLiteral("27182"), QStringLiteral("2026-12-09T09:40:00+01:00"),
            { C { fs, 1018, QStringLiteral("10"), QStringLiteral("20") } }),
        Send(QStringLiteral("31415"), QStringLiteral("2026-12-09T10:00:00+01:00"),
            { C { fs, 1018, QStringLiteral("90"), QStringLiteral("95") },
                C { addr, 1035, QStringLiteral("7"), QStringLiteral("1") } }),
        Send(QStringLiteral("31415"), QStringLiteral("2026-12-11T10:00:00+01:00"),
            { C { cf, 1036, QStringLiteral("1"), QStringLiteral("3") } }),
    };
    trail[3].operatorName = QStringLiteral("Bo");
    AuditRecord read = trail[0];
    read.action = QStringLiteral("read");
    trail.push_back(read);

    const auto visits = ChangeReport::Visits(trail, QStringLiteral("31415"));
    ASSERT_EQ(visits.size(), 2u);
    const ChangeReport::Visit &day = visits[0];
    EXPECT_EQ(day.date, QDate(2026, 12, 9));
    EXPECT_EQ(day.sends, 2);
    EXPECT_EQ(day.failed, 1);
    EXPECT_EQ(day.operators, (QStringList { QStringLiteral("Ann"), QStringLiteral("Bo") }));
    // Full Scale as found 80, as left 95; the address changed and changed back is no change.
    EXPECT_EQ(day.fields,
        (std::vector<C> { C { fs, 1018, QStringLiteral("80"), QStringLiteral("95") } }));
    EXPECT_EQ(visits[1].fields.size(), 1u);
    EXPECT_EQ(ChangeReport::Visits(trail, {}).size(), 3u);

    const QStringList page = ChangeReport::Page(day, SheetMetrics { 300, 240, 200 }).Texts();
    EXPECT_EQ(page.value(0), QStringLiteral("Change Report"));
    for (const char *line : { "Meter 31415", "Operator:  Ann, Bo", "Date:      2026-12-09",
             "Full Scale                   80                     95" })
        EXPECT_TRUE(page.contains(QString::fromLatin1(line)))
            << line << ": " << qPrintable(page.join(QLatin1Char('|')));
}

// The firmware as a meter tells it, the operator of the settings, the process's own login.
TEST(AuditRecord, NamesTheMeterAndThePeopleInOneVocabulary)
{
    for (const auto &[label, text] : { std::pair { "v4.1A", "4.1A" }, { " 1.4A ", "1.4A" },
             { "[4.1A]", "" }, { "?", "" }, { "?.??", "" } })
        EXPECT_EQ(AuditRecord::FirmwareText(QString::fromLatin1(label)), QLatin1String(text));
    const QByteArray user = qgetenv("USER");
    qputenv("USER", "someone-else");
    const AuditRecord stamped = AuditRecord::Now(QStringLiteral("read"), QString());
    qputenv("USER", user);
    EXPECT_EQ(stamped.account, QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name));

    TestEnv::ClearPreferences();
    for (const auto &[settings, identified, named] : { std::tuple { "", "", "Anon" },
             { " Kim ", "", "Kim" }, { "Kim", "Anon", "Kim" }, { "Kim", "Ann", "Ann" } }) {
        AuditSettings::SetOperator(QString::fromLatin1(settings));
        EXPECT_EQ(AuditRecord::Now({}, QString::fromLatin1(identified)).operatorName,
            QLatin1String(named));
    }
    AuditRecord kims
        = Send(QStringLiteral("31415"), QStringLiteral("2026-12-09T09:00:00+01:00"), {});
    kims.operatorName = AuditRecord::Now({}, {}).operatorName;
    TestEnv::ClearPreferences();
    EXPECT_TRUE(ChangeReport::Page(ChangeReport::Visits({ kims }, {}).at(0), SheetMetrics {})
                    .Texts()
                    .contains(QStringLiteral("Operator:  Kim")));

    // A file's save takes its meter's model and firmware from the trail.
    QTemporaryDir dir;
    const AuditLog trail(AuditSettings::TrailPathIn(dir.path()));
    kims.model = QStringLiteral("500");
    kims.asFound = QStringLiteral("as-found/31415_20261209-090000.mtr");
    QString error;
    ASSERT_TRUE(trail.Append(kims, &error)) << qPrintable(error);
    EXPECT_EQ(trail.Load().records.at(0).asFound, kims.asFound);
    for (const auto &[serial, series, model] : { std::tuple { "31415", "Kelvane", "500" },
             { "99999", "Kelvane", "" }, { "31415", "Quixal", "" } }) {
        AuditRecord save = AuditRecord::Now(QStringLiteral("save"), QString());
        std::tie(save.serial, save.series)
            = std::pair(QString::fromLatin1(serial), QString::fromLatin1(series));
        trail.CompleteMeter(save);
        EXPECT_EQ(save.model + save.firmware,
            QString::fromLatin1(model) + QLatin1String(*model ? "4.1A" : ""));
    }
}
