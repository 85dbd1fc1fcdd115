// Publishing to MQTT: the address, prefix, queue and payload rules, then against a real
// mosquitto the test starts: tarvik-cli polling a simulated network of eight meters delivers
// every reading once, in order, with the values it printed; a broker stopped for 10 s loses
// nothing at QoS 1; a full queue drops the oldest and says how many; a wrong port, a silent
// listener, refused credentials, TLS with the right and a wrong CA, and an oversize reading each
// give their message while the event loop goes on.
#include "TestBroker.h"

#include "publish/BrokerUrl.h"
#include "publish/MqttPublisher.h"
#include "publish/PublishQueue.h"
#include "publish/PublishSettings.h"
#include "publish/ReadingPayload.h"
#include "support/TestEnv.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

TEST(PublishRules, BrokerAddressesAndPrefixes)
{
    struct Row
    {
        const char *url;
        const char *host; // null: refused
        int port;
        bool tls;
        const char *says; // part of the refusal
    };
    const Row rows[] = {
        { "mqtt://127.0.0.1:1883", "127.0.0.1", 1883, false, nullptr },
        { " MQTTS://broker.plant-3.local:8883/ ", "broker.plant-3.local", 8883, true, nullptr },
        { "mqtt://[::1]:1883", "::1", 1883, false, nullptr },
        { "http://host:1883", nullptr, 0, false, "\"http\" is not one of mqtt and mqtts" },
        { "tcp://host:1883", nullptr, 0, false, "scheme" },
        { "mqtt://host", nullptr, 0, false, "gives no port" },
        { "mqtt://host:", nullptr, 0, false, "no port number" },
        { "mqtt://host:0", nullptr, 0, false, "no port number" },
        { "mqtt://host:65536", nullptr, 0, false, "no port number" },
        { "mqtt://host:18x3", nullptr, 0, false, "no port number" },
        { "mqtt://:1883", nullptr, 0, false, "no host name" },
        { "mqtt://ho st:1883", nullptr, 0, false, "no host name" },
        { "mqtt://host:1883/topic", nullptr, 0, false, "has a path" },
        { "mqtt://user:pw@host:1883", nullptr, 0, false, "user name" },
        { "mqtt://[::1]1883", nullptr, 0, false, "gives no port" },
        { "host:1883", nullptr, 0, false, "no broker address" },
        { "\x01\xff garbage", nullptr, 0, false, "no broker address" },
        { "", nullptr, 0, false, "no broker address" },
    };
    for (const Row &row : rows) {
        BrokerUrl url;
        const QString error = url.Parse(QString::fromLatin1(row.url));
        if (row.host) {
            EXPECT_TRUE(error.isEmpty()) << row.url << ": " << qPrintable(error);
            EXPECT_EQ(url.Host(), QLatin1String(row.host)) << row.url;
            EXPECT_EQ(url.Port(), row.port) << row.url;
            EXPECT_EQ(url.Tls(), row.tls) << row.url;
        } else {
            EXPECT_TRUE(error.contains(QLatin1String(row.says)))
                << row.url << ": " << qPrintable(error);
        }
    }
    const char *const goodPrefixes[] = { "tarvik", "plant/hall-2", "ünïcode" };
    for (const char *prefix : goodPrefixes)
        EXPECT_EQ(PublishSettings::PrefixError(QString::fromUtf8(prefix)), QString()) << prefix;
    const char *const badPrefixes[]
        = { "", "plant/+", "#", "a/#/b", "/tarvik", "tarvik/", "a//b", "tab\there" };
    for (const char *prefix : badPrefixes)
        EXPECT_FALSE(PublishSettings::PrefixError(QString::fromUtf8(prefix)).isEmpty()) << prefix;
    EXPECT_FALSE(PublishSettings::PrefixError(QString(201, QLatin1Char('a'))).isEmpty());

    // Settings are refused whole: a CA file on a plain address, an unreadable one, QoS 2.
    PublishSettings s;
    s.url = QStringLiteral("mqtt://h:1");
    EXPECT_EQ(s.Check(), QString());
    s.caFile = QStringLiteral("/no/such/ca.crt");
    EXPECT_FALSE(s.Check().isEmpty());
    s.url = QStringLiteral("mqtts://h:1");
    EXPECT_TRUE(s.Check().contains(QLatin1String("cannot be read")));
    s.caFile.clear();
    s.qos = 2;
    EXPECT_FALSE(s.Check().isEmpty());
    s.qos = 1;
    s.topicPrefix = QStringLiteral("x/+");
    EXPECT_TRUE(s.Check().contains(QLatin1String("\"+\" or \"#\"")));
    // An unsafe serial number never makes a topic of more levels or a wildcard.
    EXPECT_EQ(ReadingPayload::TopicLevel(QStringLiteral(" 12/3+#\n")), QStringLiteral("12_3__"));
    EXPECT_EQ(ReadingPayload::TopicLevel(QStringLiteral("  ")), QStringLiteral("unknown"));
}

TEST(PublishRules, QueueKeepsOrderResendsAndDropsTheOldest)
{
    PublishQueue queue(4, 1 << 20);
    for (int i = 1; i <= 6; ++i)
        queue.Append("t/" + QByteArray::number(i), QByteArray::number(i));
    EXPECT_EQ(queue.Size(), 4);
    EXPECT_EQ(queue.Dropped(), 2);
    EXPECT_EQ(queue.WaitingPayload(), "3") << "the oldest went first";
    EXPECT_EQ(queue.WaitingTopic(), "t/3");
    queue.MarkSent(11);
    queue.MarkSent(12);
    EXPECT_EQ(queue.WaitingPayload(), "5");
    EXPECT_TRUE(queue.Acknowledge(12)) << "out of order: kept until 11 is in";
    EXPECT_EQ(queue.Size(), 4);
    EXPECT_FALSE(queue.Acknowledge(99));
    queue.Resend(); // the connection dropped: 3 goes again, 4 (acknowledged) does not
    EXPECT_EQ(queue.Size(), 3);
    EXPECT_EQ(queue.WaitingPayload(), "3");
    queue.MarkSent(1);
    EXPECT_TRUE(queue.Acknowledge(1));
    EXPECT_EQ(queue.WaitingPayload(), "5");
    queue.DropWaiting(); // the broker will never take it
    EXPECT_EQ(queue.WaitingPayload(), "6");
    EXPECT_EQ(queue.Dropped(), 3);
    queue.MarkSent(2);
    EXPECT_TRUE(queue.Acknowledge(2));
    EXPECT_TRUE(queue.Empty());
    EXPECT_EQ(queue.Bytes(), 0);

    // The byte bound holds as well as the count.
    PublishQueue small(1000, 600);
    for (int i = 0; i < 10; ++i)
        small.Append("t", QByteArray(100, 'x'));
    EXPECT_LE(small.Bytes(), 600);
    EXPECT_GE(small.Size(), 2);
    EXPECT_EQ(small.Dropped(), 10 - small.Size());

    // A full default queue of eight meters' readings stays within its stated memory.
    EXPECT_EQ(PublishQueue::kDefaultMessages, 345600);
    const QDateTime at(QDate(2026, 12, 9), QTime(3, 4, 5, 6), QTimeZone(3600));
    const QByteArray payload = ReadingPayload::Modbus(at, 8,
        { { QStringLiteral("flow"), QStringLiteral("  1234.567"), QStringLiteral("SCFM") },
            { QStringLiteral("totalizer"), QStringLiteral("12345678.9"), QStringLiteral("SCF") },
            { QStringLiteral("temperature"), QStringLiteral("72.5"), QStringLiteral("°F") } },
        {});
    PublishQueue full;
    for (qsizetype i = 0; i < PublishQueue::kDefaultMessages; ++i)
        full.Append("tarvik/modbus/8", payload);
    EXPECT_EQ(full.Dropped(), 0);
    EXPECT_LT(full.Bytes(), 105ll * 1000 * 1000) << full.Bytes();
}

TEST(PublishRules, PayloadsCarryTimeWithOffsetValuesUnitsAndFailures)
{
    const QDateTime at(QDate(2026, 12, 9), QTime(3, 4, 5, 6), QTimeZone(-5 * 3600));
    const QJsonObject ok = QJsonDocument::fromJson(
        ReadingPayload::Modbus(at, 3,
            { { QStringLiteral("flow"), QStringLiteral(" 12.50 "), QStringLiteral("SCFM") },
                { QStringLiteral("totalizer"), QStringLiteral("OVER"), {} },
                { QStringLiteral("temperature"), QString(), QStringLiteral("°F") } },
            {}))
                               .object();
    EXPECT_EQ(ok.value(QStringLiteral("time")).toString(),
        QStringLiteral("2026-12-09T03:04:05.006-05:00"));
    EXPECT_EQ(ok.value(QStringLiteral("address")).toInt(), 3);
    const QJsonObject values = ok.value(QStringLiteral("values")).toObject();
    EXPECT_EQ(values.value(QStringLiteral("flow")).toObject().value(QStringLiteral("value")),
        QJsonValue(12.5));
    EXPECT_EQ(values.value(QStringLiteral("flow")).toObject().value(QStringLiteral("unit")),
        QJsonValue(QStringLiteral("SCFM")));
    EXPECT_EQ(values.value(QStringLiteral("totalizer")).toObject().value(QStringLiteral("value")),
        QJsonValue(QStringLiteral("OVER")));
    EXPECT_FALSE(
        values.value(QStringLiteral("totalizer")).toObject().contains(QLatin1String("unit")));
    EXPECT_TRUE(values.value(QStringLiteral("temperature"))
                    .toObject()
                    .value(QStringLiteral("value"))
                    .isNull());
    EXPECT_FALSE(ok.contains(QLatin1String("failure")));

    const QJsonObject failed = QJsonDocument::fromJson(
        ReadingPayload::Modbus(at.toUTC(), 4, {}, QStringLiteral("Address 4: Time Out")))
                                   .object();
    EXPECT_EQ(
        failed.value(QStringLiteral("failure")).toString(), QStringLiteral("Address 4: Time Out"));
    EXPECT_FALSE(failed.contains(QLatin1String("values")));
    EXPECT_TRUE(failed.value(QStringLiteral("time")).toString().endsWith(QLatin1String("+00:00")));

    const QJsonObject meter = QJsonDocument::fromJson(
        ReadingPayload::Meter(at, QStringLiteral("31415"),
            { { QStringLiteral("relay1"), QStringLiteral("on"),
                {} } })).object();
    EXPECT_EQ(meter.value(QStringLiteral("serial")).toString(), QStringLiteral("31415"));
    EXPECT_EQ(meter.value(QStringLiteral("values"))
                  .toObject()
                  .value(QStringLiteral("relay1"))
                  .toObject()
                  .value(QStringLiteral("value")),
        QJsonValue(QStringLiteral("on")));
}

// One broker for the tests below (making its certificates takes a moment).
class PublishBroker : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_broker = new TestBroker;
        s_started = s_broker->Start();
    }
    static void TearDownTestSuite()
    {
        delete s_broker;
        s_broker = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(s_started) << qPrintable(s_broker->Error());
        if (!s_broker->Restart())
            FAIL() << qPrintable(s_broker->Error());
    }

    static PublishSettings Settings(const QString &url, const QString &prefix)
    {
        PublishSettings s;
        s.enabled = true;
        s.url = url;
        s.topicPrefix = prefix;
        return s;
    }
    static MqttPublisher::Timing Fast()
    {
        MqttPublisher::Timing t;
        t.connectTimeoutMs = 1500;
        t.firstRetryMs = 200;
        t.maxRetryMs = 500;
        t.housekeepingMs = 50;
        return t;
    }
    // The flow value of each reading as the subscriber got them, by topic.
    static QList<int> Sequence(const QStringList &messages, const QString &topicStart)
    {
        QList<int> seq;
        for (const QString &m : messages) {
            if (!m.startsWith(topicStart))
                continue;
            const QJsonObject o
                = QJsonDocument::fromJson(m.mid(m.indexOf(QLatin1Char(' ')) + 1).toUtf8()).object();
            seq << o.value(QStringLiteral("values"))
                       .toObject()
                       .value(QStringLiteral("flow"))
                       .toObject()
                       .value(QStringLiteral("value"))
                       .toInt();
        }
        return seq;
    }

    static TestBroker *s_broker;
    static bool s_started;
};
TestBroker *PublishBroker::s_broker = nullptr;
bool PublishBroker::s_started = false;

TEST_F(PublishBroker, CliPublishesEveryReadingOfTheNetworkOnceInOrder)
{
    TestBroker::Subscriber sub(
        s_broker->Port(), QStringLiteral("net/#"), QStringLiteral("net-probe"));
    ASSERT_TRUE(sub.Ready());
    QProcess sim;
    sim.start(TestEnv::MeterSimPath(),
        { QStringLiteral("--modbus"), QStringLiteral("--addr"), QStringLiteral("1,2,3,4,5,6,7,8"),
            QStringLiteral("--silent"), QStringLiteral("8") });
    ASSERT_TRUE(sim.waitForStarted(5000) && sim.waitForReadyRead(5000));
    const QString pty = QString::fromLocal8Bit(sim.readLine()).trimmed();

    QProcess cli;
    cli.start(QStringLiteral(TARVIK_CLI),
        { QStringLiteral("modbus"), QStringLiteral("--port"), pty, QStringLiteral("--addresses"),
            QStringLiteral("1-8"), QStringLiteral("--count"), QStringLiteral("3"),
            QStringLiteral("--interval"), QStringLiteral("0"), QStringLiteral("--csv"),
            QStringLiteral("--mqtt"), s_broker->Url(), QStringLiteral("--topic"),
            QStringLiteral("net") });
    ASSERT_TRUE(cli.waitForFinished(120000));
    sim.kill();
    sim.waitForFinished(5000);
    const QString out = QString::fromLocal8Bit(cli.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(cli.readAllStandardError());
    EXPECT_EQ(cli.exitCode(), 1) << "address 8 never answers: " << qPrintable(err);

    // The CSV rows are what the master read; each must arrive once, in the same order.
    QStringList rows = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_FALSE(rows.isEmpty());
    rows.removeFirst();
    ASSERT_EQ(rows.size(), 21) << qPrintable(out);
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return sub.Messages().size() >= 1 + 24 + 1; }, 20000))
        << qPrintable(sub.Messages().join(QLatin1Char('\n')));
    QStringList readings;
    QStringList status;
    for (const QString &m : sub.Messages()) {
        if (m.startsWith(QLatin1String("net/modbus/")))
            readings << m;
        else if (m.startsWith(QLatin1String("net/status ")))
            status << m;
    }
    EXPECT_EQ(status.value(0), QStringLiteral("net/status online"));
    EXPECT_EQ(status.value(status.size() - 1), QStringLiteral("net/status offline"));
    ASSERT_EQ(readings.size(), 24) << qPrintable(readings.join(QLatin1Char('\n')));
    int row = 0;
    for (int i = 0; i < readings.size(); ++i) {
        const int address = i % 8 + 1;
        const QString topic = readings[i].section(QLatin1Char(' '), 0, 0);
        EXPECT_EQ(topic, QStringLiteral("net/modbus/%1").arg(address));
        const QJsonObject o
            = QJsonDocument::fromJson(readings[i].section(QLatin1Char(' '), 1).toUtf8()).object();
        EXPECT_EQ(o.value(QStringLiteral("address")).toInt(), address);
        EXPECT_TRUE(o.value(QStringLiteral("time")).toString().contains(QLatin1Char('T')));
        if (address == 8) {
            EXPECT_TRUE(o.value(QStringLiteral("failure"))
                            .toString()
                            .contains(QLatin1String("Address 8: Response Timed Out")))
                << qPrintable(readings[i]);
            continue;
        }
        const QStringList cells = rows.value(row++).split(QLatin1Char(','));
        ASSERT_EQ(cells.size(), 6);
        EXPECT_EQ(cells[2].toInt(), address);
        const QJsonObject v = o.value(QStringLiteral("values")).toObject();
        const char *const names[] = { "flow", "totalizer", "temperature" };
        for (int c = 0; c < 3; ++c) {
            const QJsonObject value = v.value(QLatin1String(names[c])).toObject();
            EXPECT_DOUBLE_EQ(
                value.value(QStringLiteral("value")).toDouble(), cells[3 + c].toDouble())
                << qPrintable(readings[i]);
            EXPECT_FALSE(value.value(QStringLiteral("unit")).toString().isEmpty())
                << names[c] << " of " << qPrintable(readings[i]);
        }
    }

    // Bad options exit 2 without touching a port; an unreachable broker exits 3 at the start.
    const auto run = [](const QStringList &args, QString *errText) {
        QProcess p;
        p.start(QStringLiteral(TARVIK_CLI), args);
        p.waitForFinished(60000);
        *errText = QString::fromLocal8Bit(p.readAllStandardError());
        return p.exitCode();
    };
    const QStringList base = { QStringLiteral("modbus"), QStringLiteral("--port"),
        QStringLiteral("/dev/null"), QStringLiteral("--addresses"), QStringLiteral("1") };
    QString text;
    EXPECT_EQ(
        run(base + QStringList { QStringLiteral("--mqtt"), QStringLiteral("ftp://h:21") }, &text),
        2);
    EXPECT_TRUE(text.contains(QLatin1String("\"ftp\" is not one of mqtt and mqtts")))
        << qPrintable(text);
    EXPECT_EQ(run(base
                      + QStringList { QStringLiteral("--mqtt"), s_broker->Url(),
                          QStringLiteral("--topic"), QStringLiteral("a/#") },
                  &text),
        2);
    const int closed = TestBroker::FreePort();
    EXPECT_EQ(run(base
                      + QStringList { QStringLiteral("--mqtt"),
                          QStringLiteral("mqtt://127.0.0.1:%1").arg(closed) },
                  &text),
        3);
    EXPECT_TRUE(text.contains(QStringLiteral("Cannot reach the MQTT broker at 127.0.0.1:%1: "
                                             "Connection refused")
                                  .arg(closed)))
        << qPrintable(text);
}

TEST_F(PublishBroker, CliLogPublishesEachSnapshotItLogsAndCtrlCFlushes)
{
    TestBroker::Subscriber sub(
        s_broker->Port(), QStringLiteral("pc/#"), QStringLiteral("pc-probe"));
    ASSERT_TRUE(sub.Ready());
    QProcess sim;
    sim.start(TestEnv::MeterSimPath(),
        { QStringLiteral("--serial"), QStringLiteral("31415"), QStringLiteral("--interval"),
            QStringLiteral("200"), QStringLiteral("--data-dir"), TestEnv::DataDir() });
    ASSERT_TRUE(sim.waitForStarted(5000) && sim.waitForReadyRead(5000));
    const QString pty = QString::fromLocal8Bit(sim.readLine()).trimmed();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("pc.log"));
    QProcess cli;
    cli.setWorkingDirectory(TestEnv::WorkDir());
    cli.start(QStringLiteral(TARVIK_CLI),
        { QStringLiteral("log"), QStringLiteral("--port"), pty, QStringLiteral("--interval"),
            QStringLiteral("1"), QStringLiteral("--seconds"), QStringLiteral("600"),
            QStringLiteral("--out"), path, QStringLiteral("--options"),
            QStringLiteral("time,flow,relay1"), QStringLiteral("--pace"), QStringLiteral("0.04"),
            QStringLiteral("--mqtt"), s_broker->Url(), QStringLiteral("--topic"),
            QStringLiteral("pc") });
    const auto rows = [&path] {
        QFile f(path);
        QStringList found;
        if (!f.open(QIODevice::ReadOnly))
            return found;
        for (const QByteArray &line : f.readAll().split('\n'))
            if (line.startsWith("; "))
                found << QString::fromLatin1(line.trimmed());
        return found;
    };
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return rows().size() >= 3; }, 30000));
    ::kill(pid_t(cli.processId()), SIGINT);
    ASSERT_TRUE(cli.waitForFinished(10000));
    sim.kill();
    sim.waitForFinished(5000);
    EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().constData();
    const QStringList logged = rows();
    QStringList published;
    ASSERT_TRUE(TestEnv::WaitUntil([&] {
        published = sub.Messages().filter(QRegularExpression(QStringLiteral("^pc/meter/")));
        return published.size() >= logged.size()
            && sub.Messages().contains(QStringLiteral("pc/status offline"));
    })) << qPrintable(sub.Messages().join(QLatin1Char('\n')));
    ASSERT_EQ(published.size(), logged.size()) << "each snapshot logged, once";
    for (int i = 0; i < logged.size(); ++i) {
        // "; N; hh:mm:ss AM; flow; relay1" in the log, the same flow in the message.
        const QStringList cells = logged[i].split(QLatin1Char(';'));
        ASSERT_GE(cells.size(), 5) << qPrintable(logged[i]);
        EXPECT_TRUE(published[i].startsWith(QLatin1String("pc/meter/31415 ")));
        const QJsonObject o
            = QJsonDocument::fromJson(published[i].section(QLatin1Char(' '), 1).toUtf8()).object();
        EXPECT_EQ(o.value(QStringLiteral("serial")).toString(), QStringLiteral("31415"));
        const QJsonObject values = o.value(QStringLiteral("values")).toObject();
        EXPECT_DOUBLE_EQ(values.value(QStringLiteral("flow"))
                             .toObject()
                             .value(QStringLiteral("value"))
                             .toDouble(),
            cells[3].trimmed().toDouble())
            << qPrintable(published[i]);
        EXPECT_FALSE(values.value(QStringLiteral("flow"))
                         .toObject()
                         .value(QStringLiteral("unit"))
                         .toString()
                         .isEmpty());
    }
}

TEST_F(PublishBroker, BrokerAwayTenSecondsLosesNothingAndAFullQueueDropsTheOldest)
{
    TestBroker::Subscriber sub(
        s_broker->Port(), QStringLiteral("away/#"), QStringLiteral("away-probe"));
    ASSERT_TRUE(sub.Ready());
    MqttPublisher publisher;
    publisher.SetTiming(Fast());
    ASSERT_EQ(publisher.Start(Settings(s_broker->Url(), QStringLiteral("away"))), QString());
    // A second publisher whose queue holds five readings only.
    MqttPublisher small;
    small.SetTiming(Fast());
    small.SetQueueLimits(5, 1 << 20);
    // Two clients of one process need ids of their own (the default is one per process).
    PublishSettings smallSettings = Settings(s_broker->Url(), QStringLiteral("away/small"));
    smallSettings.clientId = QStringLiteral("tarvik-small-queue");
    ASSERT_EQ(small.Start(smallSettings), QString());
    ASSERT_TRUE(TestEnv::WaitUntil([&] {
        return publisher.GetState() == MqttPublisher::State::Online
            && small.GetState() == MqttPublisher::State::Online;
    }));

    int sent = 0;
    const auto reading = [&](MqttPublisher &p) {
        ++sent;
        p.ModbusReading(QDateTime::currentDateTime(), sent % 8 + 1,
            { { QStringLiteral("flow"), QString::number(sent), QStringLiteral("SCFM") } }, {});
    };
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { reading(publisher); });
    ticker.start(50);
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return sent >= 20; }));
    s_broker->Stop();
    ASSERT_TRUE(TestEnv::WaitUntil(
        [&] { return publisher.GetState() != MqttPublisher::State::Online; }, 20000));
    QElapsedTimer away;
    away.start();
    const int sentBefore = sent;
    // While the broker is away the readings queue up and the event loop keeps ticking.
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return away.elapsed() >= 10000; }, 30000));
    EXPECT_GT(sent - sentBefore, 20);
    EXPECT_GE(publisher.Queued(), sent - sentBefore - 1);
    EXPECT_TRUE(publisher.StatusText().contains(QLatin1String("queued")))
        << qPrintable(publisher.StatusText());
    ticker.stop();
    const int smallFirst = sent + 1;
    for (int i = 0; i < 8; ++i)
        reading(small);
    EXPECT_EQ(small.Queued(), 5);
    EXPECT_EQ(small.Dropped(), 3);
    EXPECT_TRUE(small.StatusText().contains(QLatin1String("3 dropped")));
    ASSERT_TRUE(s_broker->Restart()) << qPrintable(s_broker->Error());
    ticker.start(50);
    const int target = sent + 20;
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return sent >= target; }));
    ticker.stop();
    ASSERT_TRUE(
        TestEnv::WaitUntil([&] { return publisher.Queued() == 0 && small.Queued() == 0; }, 30000));
    EXPECT_GE(publisher.Connections(), 2);

    QList<int> main;
    ASSERT_TRUE(TestEnv::WaitUntil(
        [&] {
            main = Sequence(sub.Messages(), QStringLiteral("away/modbus/"));
            return !main.isEmpty() && main.last() == sent;
        },
        30000))
        << "last " << (main.isEmpty() ? -1 : main.last()) << " of " << sent;
    // QoS 1 may deliver a reading in flight at the break twice; none is lost or out of order.
    QList<int> firsts;
    for (int v : main)
        if (!firsts.contains(v))
            firsts << v;
    QList<int> expected;
    for (int v = 1; v <= sent; ++v)
        if (v < smallFirst || v >= smallFirst + 8)
            expected << v;
    EXPECT_EQ(firsts, expected);
    EXPECT_LE(main.size() - firsts.size(), 64) << "only what was in flight comes twice";
    const QList<int> smallSeq = Sequence(sub.Messages(), QStringLiteral("away/small/modbus/"));
    EXPECT_EQ(smallSeq,
        (QList<int> {
            smallFirst + 3, smallFirst + 4, smallFirst + 5, smallFirst + 6, smallFirst + 7 }));
    EXPECT_TRUE(sub.Messages().contains(QStringLiteral("away/small/dropped 3")))
        << qPrintable(sub.Messages().filter(QStringLiteral("small")).join(QLatin1Char('\n')));
}

TEST_F(PublishBroker, BadBrokersGiveTheirMessageWhileTheLoopGoesOn)
{
    // The longest gap between the ticks of a 20 ms timer: a call that waited on the network
    // would show here.
    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = 0;
    qint64 longestGap = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, clock.elapsed() - lastTick);
        lastTick = clock.elapsed();
    });
    ticker.start(20);
    const auto failsWith = [&](const PublishSettings &s, const char *says) {
        MqttPublisher p;
        p.SetTiming(Fast());
        QStringList problems;
        QObject::connect(&p, &MqttPublisher::Problem,
            [&problems](const QString &message) { problems << message; });
        const QString started = p.Start(s);
        if (!started.isEmpty())
            return started;
        TestEnv::WaitUntil([&] { return !problems.isEmpty(); }, 20000);
        p.ModbusReading(QDateTime::currentDateTime(), 1, {}, QStringLiteral("x"));
        // A few retries more, each as quick.
        const qint64 until = clock.elapsed() + 1200;
        TestEnv::WaitUntil([&] { return clock.elapsed() > until; });
        EXPECT_LT(longestGap, 1000) << "the event loop kept running: " << says;
        EXPECT_NE(p.GetState(), MqttPublisher::State::Online) << says;
        EXPECT_EQ(p.Queued(), 1) << "readings wait for the broker: " << says;
        EXPECT_TRUE(problems.value(0).contains(QLatin1String(says)))
            << says << ": " << qPrintable(problems.join(QLatin1Char('|')));
        return problems.value(0);
    };

    const int closed = TestBroker::FreePort();
    failsWith(Settings(QStringLiteral("mqtt://127.0.0.1:%1").arg(closed), QStringLiteral("bad")),
        "Connection refused");
    // A listener that takes the connection and never says a word.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(fd, 4), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length), 0);
    failsWith(Settings(QStringLiteral("mqtt://127.0.0.1:%1").arg(ntohs(address.sin_port)),
                  QStringLiteral("bad")),
        "did not answer within 1.5 s");
    ::close(fd);

    PublishSettings wrongUser = Settings(s_broker->Url(), QStringLiteral("bad"));
    wrongUser.user = QStringLiteral("meter");
    wrongUser.password = QStringLiteral("wrong");
    failsWith(
        wrongUser, "refused the connection: Not authorized (check the user name and password)");

    PublishSettings wrongCa = Settings(s_broker->TlsUrl(), QStringLiteral("bad"));
    wrongCa.caFile = s_broker->OtherCaFile();
    failsWith(wrongCa, "TLS");
    PublishSettings plainOnTls = Settings(
        QStringLiteral("mqtt://127.0.0.1:%1").arg(s_broker->TlsPort()), QStringLiteral("bad"));
    plainOnTls.user = QStringLiteral("meter");
    failsWith(plainOnTls, "Cannot reach the MQTT broker");

    // Given right, the same broker takes TLS and the user; an oversize reading is left out with
    // its message and counted, and the next one still arrives.
    TestBroker::Subscriber sub(
        s_broker->Port(), QStringLiteral("tls/#"), QStringLiteral("tls-probe"));
    ASSERT_TRUE(sub.Ready());
    PublishSettings good = Settings(s_broker->TlsUrl(), QStringLiteral("tls"));
    good.caFile = s_broker->CaFile();
    good.user = QStringLiteral("meter");
    good.password = QStringLiteral("secret");
    MqttPublisher p;
    p.SetTiming(Fast());
    QStringList problems;
    QObject::connect(&p, &MqttPublisher::Problem, [&problems](const QString &m) { problems << m; });
    ASSERT_EQ(p.Start(good), QString());
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return p.GetState() == MqttPublisher::State::Online; }))
        << qPrintable(p.LastError());
    p.MeterReading(QDateTime::currentDateTime(), QStringLiteral("31415"),
        { { QStringLiteral("flow"), QString(3000, QLatin1Char('9')), {} } });
    p.MeterReading(QDateTime::currentDateTime(), QStringLiteral("31415"),
        { { QStringLiteral("flow"), QStringLiteral("7"), QStringLiteral("SCFM") } });
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return p.Queued() == 0; }));
    EXPECT_EQ(p.Dropped(), 1);
    EXPECT_TRUE(problems.value(0).contains(QLatin1String("larger than the MQTT broker takes")))
        << qPrintable(problems.join(QLatin1Char('|')));
    ASSERT_TRUE(TestEnv::WaitUntil([&] {
        return Sequence(sub.Messages(), QStringLiteral("tls/meter/31415")) == QList<int> { 7 };
    })) << qPrintable(sub.Messages().join(QLatin1Char('\n')));
    EXPECT_TRUE(TestEnv::WaitUntil(
        [&] { return sub.Messages().contains(QStringLiteral("tls/dropped 1")); }));
    // A clean stop says "offline"; a lost connection leaves it to the broker's last will.
    p.Stop();
    EXPECT_TRUE(TestEnv::WaitUntil(
        [&] { return sub.Messages().contains(QStringLiteral("tls/status offline")); }));
}

} // namespace
