// Publishing to MQTT: the rules, and against a mosquitto of the test's own.
#include "TestBroker.h"

#include "publish/BrokerUrl.h"
#include "publish/MqttDiscovery.h"
#include "publish/MqttPublisher.h"
#include "publish/PublishQueue.h"
#include "publish/PublishSettings.h"
#include "publish/ReadingPayload.h"
#include "support/TestEnv.h"
#include "support/TestFiles.h"

#include <QCoreApplication>
#include <QElapsedTimer>
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
#include <numeric>
#include <sys/socket.h>
#include <tuple>
#include <unistd.h>

namespace {

// "a b c" as arguments (none holds a blank).
QStringList Args(const char *line)
{
    return QString::fromUtf8(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// The JSON value at path ("values/flow/value") of a message as "topic payload".
QJsonValue At(const QString &message, const QByteArray &path)
{
    QJsonValue v = QJsonDocument::fromJson(message.section(QLatin1Char(' '), 1).toUtf8()).object();
    for (const QByteArray &key : path.split('/'))
        v = v.toObject().value(QString::fromLatin1(key));
    return v;
}

// tarvik-cli's exit status, its output and its messages.
int Cli(const QStringList &args, QString *out, QString *err)
{
    QProcess p;
    p.start(QStringLiteral(TARVIK_CLI), args);
    p.waitForFinished(120000);
    *out = QString::fromLocal8Bit(p.readAllStandardOutput());
    *err = QString::fromLocal8Bit(p.readAllStandardError());
    return p.exitCode();
}

// meter-sim started with args; the pty it serves, or empty.
QString StartSim(QProcess &sim, const QStringList &args)
{
    sim.start(TestEnv::MeterSimPath(), args);
    return sim.waitForStarted(5000) && sim.waitForReadyRead(5000)
        ? QString::fromLocal8Bit(sim.readLine()).trimmed()
        : QString();
}

PublishSettings Settings(const QString &url, const QString &prefix, const QString &user = {},
    const QString &password = {}, const QString &ca = {})
{
    return { .enabled = true,
        .url = url,
        .caFile = ca,
        .topicPrefix = prefix,
        .clientId = QStringLiteral("tarvik-test-") + prefix,
        .user = user,
        .password = password };
}

// A publisher with quick retries, started on s, its problems kept.
struct Publisher
{
    explicit Publisher(const PublishSettings &s)
    {
        p.SetTiming({ 1500, 200, 500, 30, 50 }); // connect, retries, keep-alive, housekeeping
        QObject::connect(&p, &MqttPublisher::Problem, [this](const QString &m) { problems << m; });
        started = p.Start(s);
    }
    bool Online() { return p.GetState() == MqttPublisher::State::Online; }
    MqttPublisher p;
    QStringList problems;
    QString started;
};

TEST(PublishRules, BrokerAddressesAndPrefixes)
{
    BrokerUrl url;
    EXPECT_EQ(url.Parse(QStringLiteral(" MQTTS://broker.plant-3.local:8883/ ")), QString());
    EXPECT_TRUE(
        url.Tls() && url.Host() == QLatin1String("broker.plant-3.local") && url.Port() == 8883);
    EXPECT_EQ(url.Parse(QStringLiteral("mqtt://[::1]:1883")), QString());
    EXPECT_TRUE(!url.Tls() && url.Host() == QLatin1String("::1") && url.Port() == 1883);
    const char *const refused[][2]
        = { { "http://host:1883", "\"http\" is not one of mqtt and mqtts" },
              { "mqtt://host", "gives no port" }, { "mqtt://[::1]1883", "gives no port" },
              { "mqtt://host:", "no port number" }, { "mqtt://host:0", "no port number" },
              { "mqtt://host:65536", "no port number" }, { "mqtt://host:18x3", "no port number" },
              { "mqtt://:1883", "no host name" }, { "mqtt://ho st:1883", "no host name" },
              { "mqtt://host:1883/topic", "has a path" }, { "mqtt://u:pw@host:1883", "user name" },
              { "host:1883", "no broker address" }, { "\x01\xff garbage", "no broker address" },
              { "", "no broker address" } };
    for (const auto &row : refused) {
        const QString error = url.Parse(QString::fromLatin1(row[0]));
        EXPECT_TRUE(error.contains(QLatin1String(row[1]))) << row[0] << ": " << qPrintable(error);
    }
    for (const char *prefix : { "tarvik", "plant/hall-2", "ünïcode" })
        EXPECT_EQ(PublishSettings::PrefixError(QString::fromUtf8(prefix)), QString()) << prefix;
    for (const char *prefix : { "", "plant/+", "#", "a/#/b", "/tarvik", "tarvik/", "a//b", "t\tb" })
        EXPECT_FALSE(PublishSettings::PrefixError(QString::fromUtf8(prefix)).isEmpty()) << prefix;
    PublishSettings s; // a CA file is for mqtts only
    s.url = QStringLiteral("mqtt://h:1");
    EXPECT_EQ(s.Check(), QString());
    s.caFile = QStringLiteral("ca.crt");
    EXPECT_TRUE(s.Check().contains(QLatin1String("A CA file is for mqtts://")));
    // A client certificate comes with its key and a CA file, for mqtts only, all readable
    // ("r": a file that is).
    const std::tuple<const char *, const char *, const char *, const char *, const char *>
        certificates[] = { { "mqtts://h:1", "r", "r", "r", "" },
            { "mqtts://h:1", "r", "r", "", "needs its key file" },
            { "mqtts://h:1", "", "r", "r", "needs the CA file" },
            { "mqtt://h:1", "", "r", "r", "A client certificate is for mqtts://" },
            { "mqtts://h:1", "r", "/c.pem", "r",
                "The client certificate \"/c.pem\" cannot be read" } };
    for (const auto &[address, ca, cert, key, says] : certificates) {
        const auto file = [](const char *f) {
            return *f == 'r' ? QCoreApplication::applicationFilePath() : QString::fromLatin1(f);
        };
        const PublishSettings c { .url = QLatin1String(address),
            .caFile = file(ca),
            .certFile = file(cert),
            .keyFile = file(key) };
        EXPECT_TRUE(*says ? c.Check().contains(QLatin1String(says)) : c.Check().isEmpty()) << says;
    }
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
    queue.Append("ha/config", "{}", true); // a retained message stays one
    EXPECT_TRUE(queue.WaitingRetained());
    queue.MarkSent(3);
    EXPECT_TRUE(queue.Acknowledge(3) && !queue.WaitingRetained());
    EXPECT_EQ(queue.Bytes(), 0);

    // The byte bound holds as well as the count.
    PublishQueue small(1000, 600);
    for (int i = 0; i < 10; ++i)
        small.Append("t", QByteArray(100, 'x'));
    EXPECT_TRUE(small.Bytes() <= 600 && small.Size() >= 2 && small.Dropped() == 10 - small.Size());

    // A full default queue of eight meters' readings stays within its stated memory.
    EXPECT_EQ(PublishQueue::kDefaultMessages, 345600);
    const QDateTime at(QDate(2026, 12, 9), QTime(3, 4, 5, 6), QTimeZone(3600));
    const QByteArray payload = ReadingPayload::Modbus(at, 8, QStringLiteral("20260008"),
        { { QStringLiteral("flow"), QStringLiteral("  1234.567"), QStringLiteral("SCFM") },
            { QStringLiteral("totalizer"), QStringLiteral("12345678.9"), QStringLiteral("SCF") },
            { QStringLiteral("temperature"), QStringLiteral("72.5"), QStringLiteral("°F") } },
        {}, 86400);
    PublishQueue full;
    for (qsizetype i = 0; i < PublishQueue::kDefaultMessages; ++i)
        full.Append("tarvik/meter/20260008", payload);
    EXPECT_EQ(full.Dropped(), 0);
    EXPECT_LT(full.Bytes(), 110ll * 1000 * 1000) << full.Bytes();
}

TEST(PublishRules, PayloadsCarryTimeWithOffsetValuesUnitsAndFailures)
{
    const QDateTime at(QDate(2026, 12, 9), QTime(3, 4, 5, 6), QTimeZone(-5 * 3600));
    using V = ReadingSink::Value;
    EXPECT_EQ(ReadingPayload::Modbus(at, 3, QStringLiteral(" 20260003 "),
                  { V { "flow", " 12.50 ", "SCFM" }, V { "totalizer", "OVER", "" },
                      V { "temperature", "", "°F" } },
                  {}, 7),
        QByteArray(R"({"address":3,"seq":7,"serial":"20260003",)"
                   R"("time":"2026-12-09T03:04:05.006-05:00","values":{"flow":)"
                   R"({"unit":"SCFM","value":12.5},"temperature":{"unit":"°F","value":null},)"
                   R"("totalizer":{"value":"OVER"}}})"));
    EXPECT_EQ(
        ReadingPayload::Modbus(at.toUTC(), 4, {}, {}, QStringLiteral("Address 4: Time Out"), 1),
        QByteArray(R"({"address":4,"failure":"Address 4: Time Out","seq":1,)"
                   R"("time":"2026-12-09T08:04:05.006+00:00"})"));
    // A meter is keyed by its serial once known, its failures on a topic of their own.
    const std::tuple<int, const char *, bool, const char *> topics[]
        = { { 3, "20260003", false, "meter/20260003" },
              { 3, "20260003", true, "meter/20260003/error" }, { 3, " ", false, "modbus/3" },
              { 247, "", true, "modbus/247/error" } };
    for (const auto &[address, serial, failure, topic] : topics)
        EXPECT_EQ(ReadingPayload::ModbusTopic(address, QLatin1String(serial), failure),
            QLatin1String(topic));
}

TEST(PublishRules, DiscoveryAnnouncesEachQuantityOfAMeter)
{
    using V = ReadingSink::Value;
    const auto configs = MqttDiscovery::Configs(QStringLiteral("p"), QStringLiteral("p/status/c"),
        QStringLiteral("4012/3"),
        { V { "flow", "12.5", "SCFM" }, V { "totalizer", "100", "SCF" },
            V { "temperature", "72", QString(QChar(0xB0)) + QLatin1Char('F') },
            V { "relay1", "on", "" }, V { "high", "x", "" }, V { "unknown", "1", "" } });
    // The topic after "homeassistant/", unit, state class and device class ("-": none); a
    // value of no known quantity is not announced.
    QStringList got;
    for (const auto &m : configs) {
        QString line = QString::fromUtf8(m.topic.mid(14));
        for (const char *key : { "unit_of_measurement", "state_class", "device_class" })
            line += QLatin1Char(' ')
                + QJsonDocument::fromJson(m.payload)[QLatin1String(key)].toString(
                    QStringLiteral("-"));
        got << line;
    }
    EXPECT_EQ(got,
        (QStringList { "sensor/tarvik_4012_3/flow/config SCFM measurement -",
            "sensor/tarvik_4012_3/totalizer/config SCF total_increasing -",
            "sensor/tarvik_4012_3/temperature/config °F measurement temperature",
            "binary_sensor/tarvik_4012_3/relay1/config - - -",
            "sensor/tarvik_4012_3/high/config - - -" }));
    EXPECT_EQ(MqttDiscovery::Topics(QStringLiteral("4012/3")).size(), 8u) << "all to clear";
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
    static void TearDownTestSuite() { delete s_broker; }
    void SetUp() override
    {
        ASSERT_TRUE(s_started && s_broker->Restart()) << qPrintable(s_broker->Error());
    }
    // A subscriber to "topic/#", ready.
    static std::unique_ptr<TestBroker::Subscriber> Subscribe(const QString &topic)
    {
        auto sub = std::make_unique<TestBroker::Subscriber>(
            s_broker->Port(), topic + QStringLiteral("/#"), topic + QStringLiteral("-probe"));
        return sub->Ready() ? std::move(sub) : nullptr;
    }
    // The flow value of each reading as the subscriber got them, by topic.
    static QList<int> Sequence(const QStringList &messages, const QString &topicStart)
    {
        QList<int> seq;
        for (const QString &m : messages)
            if (m.startsWith(topicStart))
                seq << At(m, "values/flow/value").toInt();
        return seq;
    }

    // s with the test broker's client certificate and key of these names.
    static PublishSettings WithCertificate(
        PublishSettings s, const char *cert, const char *key = nullptr)
    {
        s.certFile = s_broker->ClientFile(cert) + QStringLiteral(".crt");
        s.keyFile = s_broker->ClientFile(key ? key : cert) + QStringLiteral(".key");
        return s;
    }

    static TestBroker *s_broker;
    static bool s_started;
};
TestBroker *PublishBroker::s_broker = nullptr;
bool PublishBroker::s_started = false;

TEST_F(PublishBroker, CliPublishesEveryReadingOfTheNetworkOnceInOrder)
{
    const auto sub = Subscribe(QStringLiteral("net"));
    ASSERT_TRUE(sub);
    QProcess sim;
    const QString pty = StartSim(sim, Args("--modbus --addr 1,2,3,4,5,6,7,8 --silent 8"));
    ASSERT_FALSE(pty.isEmpty());
    QString out, err;
    EXPECT_EQ(Cli(Args("modbus --addresses 1-8 --count 3 --interval 0 --csv --topic net "
                       "--mqtt-client-id bench/1 --port")
                      << pty << QStringLiteral("--mqtt") << s_broker->Url(),
                  &out, &err),
        1)
        << "address 8 never answers: " << qPrintable(err);
    // The CSV rows are what the master read, the silent meter's with its failure; each reading
    // must arrive once, in the same order.
    QStringList rows = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(1);
    ASSERT_EQ(rows.size(), 24) << qPrintable(out);
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return sub->Messages().size() >= 1 + 24 + 1; }, 20000))
        << qPrintable(sub->Messages().join(QLatin1Char('\n')));
    const QStringList all = sub->Messages();
    EXPECT_EQ(all.first(), QStringLiteral("net/status/bench_1 online"));
    EXPECT_EQ(all.last(), QStringLiteral("net/status/bench_1 offline"));
    const QStringList readings
        = all.filter(QRegularExpression(QStringLiteral("^net/(meter|modbus)/")));
    ASSERT_EQ(readings.size(), 24) << qPrintable(all.join(QLatin1Char('\n')));
    for (int i = 0, row = 0; i < readings.size(); ++i) {
        // Keyed by the serial its static block told; the silent meter by its address, its
        // failures apart. Each topic counts its own messages.
        const int address = i % 8 + 1;
        EXPECT_TRUE(readings[i].startsWith(address == 8
                ? QStringLiteral("net/modbus/8/error {")
                : QStringLiteral("net/meter/%1 {").arg(20260000 + address)))
            << qPrintable(readings[i]);
        EXPECT_EQ(At(readings[i], "address").toInt(), address);
        EXPECT_EQ(At(readings[i], "seq").toInt(), i / 8 + 1);
        const QStringList cells = rows.value(row++).split(QLatin1Char(','));
        // sweep, time, UTC offset, address, serial, flow and unit, totalizer and unit,
        // temperature and unit, status
        ASSERT_EQ(cells.size(), 12);
        EXPECT_EQ(cells[3].toInt(), address);
        if (address == 8) {
            const QString failure = QStringLiteral("Address 8: Response Timed Out");
            EXPECT_EQ(At(readings[i], "failure").toString(), failure);
            EXPECT_EQ(cells.mid(4), (QStringList { "", "", "", "", "", "", "", failure }));
            continue;
        }
        EXPECT_EQ(cells[4], QString::number(20260000 + address));
        EXPECT_EQ(cells[11], QStringLiteral("ok"));
        EXPECT_EQ(At(readings[i], "serial").toString(), cells[4]);
        int c = 5;
        for (const char *name : { "flow", "totalizer", "temperature" }) {
            const QByteArray path = QByteArray("values/") + name;
            EXPECT_DOUBLE_EQ(At(readings[i], path + "/value").toDouble(), cells[c].toDouble());
            EXPECT_EQ(At(readings[i], path + "/unit").toString(), cells[c + 1]) << name;
            c += 2;
        }
    }
    // Bad options exit 2 without touching a port; an unreachable broker exits 3 at the start.
    const QStringList base = Args("modbus --port /dev/null --addresses 1 --mqtt");
    EXPECT_EQ(Cli(base + Args("ftp://h:21"), &out, &err), 2);
    EXPECT_TRUE(err.contains(QLatin1String("\"ftp\" is not one of mqtt and mqtts")));
    EXPECT_EQ(Cli(base + Args("mqtt://h:1 --topic a/#"), &out, &err), 2);
    EXPECT_EQ(Cli(Args("modbus --port /dev/null --addresses 1 --mqtt-discovery"), &out, &err), 2);
    EXPECT_TRUE(err.contains(QLatin1String("--mqtt-discovery needs the broker")))
        << qPrintable(err);
    const QString closed = QStringLiteral("127.0.0.1:%1").arg(TestBroker::FreePort());
    EXPECT_EQ(Cli(QStringList(base) << QStringLiteral("mqtt://") + closed, &out, &err), 3);
    EXPECT_TRUE(err.contains(
        QStringLiteral("Cannot reach the MQTT broker at %1: Connection refused").arg(closed)))
        << qPrintable(err);
}

TEST_F(PublishBroker, CliLogPublishesEachSnapshotItLogsAndCtrlCFlushes)
{
    const auto sub = Subscribe(QStringLiteral("pc"));
    ASSERT_TRUE(sub);
    QProcess sim;
    const QString pty
        = StartSim(sim, Args("--serial 31415 --interval 200 --data-dir") << TestEnv::DataDir());
    ASSERT_FALSE(pty.isEmpty());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("pc.log"));
    QProcess cli;
    cli.setWorkingDirectory(TestEnv::WorkDir());
    cli.start(QStringLiteral(TARVIK_CLI),
        Args("log --interval 1 --seconds 600 --options time,flow,relay1 --pace 0.04 --topic pc")
            + QStringList { QStringLiteral("--port"), pty, QStringLiteral("--out"), path,
                QStringLiteral("--mqtt"), s_broker->Url() });
    const auto rows = [&path] {
        return QString::fromLatin1(ReadFile(path))
            .split(QLatin1Char('\n'))
            .filter(QRegularExpression(QStringLiteral("^; ")));
    };
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return rows().size() >= 3; }, 30000));
    ::kill(pid_t(cli.processId()), SIGINT);
    ASSERT_TRUE(cli.waitForFinished(10000));
    EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().constData();
    const QStringList logged = rows();
    QStringList published;
    ASSERT_TRUE(TestEnv::WaitUntil([&] {
        published = sub->Messages().filter(QRegularExpression(QStringLiteral("^pc/meter/")));
        return published.size() >= logged.size()
            && !sub->Messages()
                    .filter(QRegularExpression(QStringLiteral("^pc/status/tarvik-.+ offline$")))
                    .isEmpty();
    })) << qPrintable(sub->Messages().join(QLatin1Char('\n')));
    ASSERT_EQ(published.size(), logged.size()) << "each snapshot logged, once";
    for (int i = 0; i < logged.size(); ++i) {
        EXPECT_EQ(At(published[i], "seq").toInt(), i + 1);
        // "; N; hh:mm:ss AM; flow; relay1" in the log, the same flow in the message.
        const QStringList cells = logged[i].split(QLatin1Char(';'));
        ASSERT_GE(cells.size(), 5) << qPrintable(logged[i]);
        EXPECT_TRUE(published[i].startsWith(QLatin1String("pc/meter/31415 {")));
        EXPECT_EQ(At(published[i], "serial").toString(), QStringLiteral("31415"));
        EXPECT_DOUBLE_EQ(At(published[i], "values/flow/value").toDouble(), cells[3].toDouble());
        EXPECT_FALSE(At(published[i], "values/flow/unit").toString().isEmpty());
    }
}

TEST_F(PublishBroker, CliAnnouncesMetersAndClearsOnesThatAreGone)
{
    QProcess sim;
    const QString pty = StartSim(sim, Args("--modbus --addr 1,2"));
    ASSERT_FALSE(pty.isEmpty());
    const QStringList run = Args("modbus --count 1 --interval 0 --topic disc --port")
        << pty << QStringLiteral("--mqtt") << s_broker->Url();
    QString out, err;
    ASSERT_EQ(
        Cli(run + Args("--addresses 1-2 --mqtt-discovery --mqtt-client-id first"), &out, &err), 0)
        << qPrintable(err);
    // What is retained, as a subscriber coming later gets it.
    const auto retained = [](const char *filter) {
        TestBroker::Subscriber sub(
            s_broker->Port(), QLatin1String(filter), QStringLiteral("disc-probe"));
        return sub.Ready() ? sub.Messages() : QStringList { QStringLiteral("not ready") };
    };
    QStringList configs = retained("homeassistant/+/+/+/config");
    configs.sort();
    ASSERT_EQ(configs.size(), 6) << qPrintable(configs.join(QLatin1Char('\n')));
    for (int i = 0; i < 6; ++i) { // by serial, then flow, temperature, totalizer
        const QString serial = QString::number(20260001 + i / 3);
        EXPECT_TRUE(configs[i].startsWith(
            QStringLiteral("homeassistant/sensor/tarvik_%1/%2/config")
                .arg(serial, QStringList { "flow", "temperature", "totalizer" }[i % 3])));
        EXPECT_EQ(At(configs[i], "state_topic").toString(), QStringLiteral("disc/meter/") + serial);
        EXPECT_EQ(At(configs[i], "availability_topic"), QStringLiteral("disc/status/first"));
    }
    // Meter 2 is gone: a run of another client on the prefix clears its announcements and
    // leaves the first client's status as it was.
    const QStringList clear = Args("--addresses 1 --mqtt-discovery-clear 20260002");
    ASSERT_EQ(Cli(run + clear + Args("--mqtt-client-id second"), &out, &err), 0) << qPrintable(err);
    configs = retained("homeassistant/+/+/+/config");
    EXPECT_EQ(configs.size(), 3) << qPrintable(configs.join(QLatin1Char('\n')));
    EXPECT_EQ(configs.filter(QStringLiteral("tarvik_20260001/")).size(), 3);
    QStringList statuses = retained("disc/status/+");
    statuses.sort();
    EXPECT_EQ(statuses,
        (QStringList { QStringLiteral("disc/status/first offline"),
            QStringLiteral("disc/status/second offline") }));
}

TEST_F(PublishBroker, BrokerAwayTenSecondsLosesNothing)
{
    const auto sub = Subscribe(QStringLiteral("away"));
    ASSERT_TRUE(sub);
    Publisher publisher(Settings(s_broker->Url(), QStringLiteral("away")));
    ASSERT_EQ(publisher.started, QString());
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return publisher.Online(); }));

    int sent = 0;
    QTimer ticker; // a reading every 50 ms, its flow its number
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const int n = ++sent;
        publisher.p.ModbusReading(QDateTime::currentDateTime(), n % 8 + 1, {},
            { { QStringLiteral("flow"), QString::number(n), QStringLiteral("SCFM") } }, {});
    });
    ticker.start(50);
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return sent >= 20; }));
    s_broker->Stop();
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return !publisher.Online(); }, 20000));
    QElapsedTimer away;
    away.start();
    const int sentBefore = sent;
    // While the broker is away the readings queue up and the event loop keeps ticking.
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return away.elapsed() >= 10000; }, 30000));
    EXPECT_GT(sent - sentBefore, 20);
    EXPECT_GE(publisher.p.Queued(), sent - sentBefore - 1);
    ticker.stop();
    ASSERT_TRUE(s_broker->Restart()) << qPrintable(s_broker->Error());
    ticker.start(50);
    const int target = sent + 20;
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return sent >= target; }));
    ticker.stop();
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return publisher.p.Queued() == 0; }, 30000));
    EXPECT_GE(publisher.p.Connections(), 2);

    QList<int> main;
    ASSERT_TRUE(TestEnv::WaitUntil(
        [&] {
            main = Sequence(sub->Messages(), QStringLiteral("away/modbus/"));
            return !main.isEmpty() && main.last() == sent;
        },
        30000))
        << "last " << (main.isEmpty() ? -1 : main.last()) << " of " << sent;
    // QoS 1 may deliver a reading in flight at the break twice; none is lost or out of order.
    QList<int> firsts;
    for (int v : main)
        if (!firsts.contains(v))
            firsts << v;
    QList<int> expected(sent);
    std::iota(expected.begin(), expected.end(), 1);
    EXPECT_EQ(firsts, expected);
    EXPECT_LE(main.size() - firsts.size(), 64) << "only what was in flight comes twice";
}

TEST_F(PublishBroker, BadBrokersGiveTheirMessageWhileTheLoopGoesOn)
{
    // A call that waited on the network would show as a long gap between these ticks.
    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = 0, longestGap = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, clock.elapsed() - lastTick);
        lastTick = clock.elapsed();
    });
    ticker.start(20);
    // A listener that takes the connection and never says a word.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(fd, 4), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length), 0);
    const QString plain = QStringLiteral("mqtt://127.0.0.1:%1"), bad = QStringLiteral("bad");
    const struct
    {
        PublishSettings settings;
        const char *says;
    } cases[] = {
        { Settings(plain.arg(TestBroker::FreePort()), bad), "Connection refused" },
        { Settings(plain.arg(ntohs(address.sin_port)), bad), "did not answer within 1.5 s" },
        { Settings(s_broker->Url(), bad, QStringLiteral("meter"), QStringLiteral("wrong")),
            "refused the connection: Not authorized (check the user name and password)" },
        { Settings(s_broker->TlsUrl(), bad, {}, {}, s_broker->OtherCaFile()),
            "the broker's certificate is not signed by the CA file given" },
        { Settings(s_broker->CertUrl(), bad, {}, {}, s_broker->CaFile()),
            "the broker asks for a client certificate and none was given" },
        { WithCertificate(Settings(s_broker->CertUrl(), bad, {}, {}, s_broker->CaFile()), "rogue"),
            "the broker refused the client certificate" },
        { WithCertificate(
              Settings(s_broker->CertUrl(), bad, {}, {}, s_broker->CaFile()), "client", "rogue"),
            "the client certificate or key cannot be used" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.says);
        Publisher p(c.settings);
        ASSERT_EQ(p.started, QString());
        // A broker that resets a TLS connection may leave the first attempt without its reason.
        TestEnv::WaitUntil(
            [&] { return !p.problems.filter(QLatin1String(c.says)).isEmpty(); }, 20000);
        p.p.ModbusReading(QDateTime::currentDateTime(), 1, {}, {}, QStringLiteral("x"));
        // A few retries more, each as quick.
        const qint64 until = clock.elapsed() + 1200;
        TestEnv::WaitUntil([&] { return clock.elapsed() > until; });
        EXPECT_LT(longestGap, 1000) << "the event loop kept running";
        EXPECT_FALSE(p.Online());
        EXPECT_EQ(p.p.Queued(), 1) << "readings wait for the broker";
        EXPECT_FALSE(p.problems.filter(QLatin1String(c.says)).isEmpty())
            << qPrintable(p.problems.join(QLatin1Char('|')));
    }
    ::close(fd);

    // Given right, the same broker takes TLS, the client certificate its CA signed and the
    // user; an oversize reading is left out with its message and counted, and the next one
    // still arrives.
    const auto sub = Subscribe(QStringLiteral("tls"));
    ASSERT_TRUE(sub);
    Publisher p(
        WithCertificate(Settings(s_broker->CertUrl(), QStringLiteral("tls"),
                            QStringLiteral("meter"), QStringLiteral("secret"), s_broker->CaFile()),
            "client"));
    ASSERT_EQ(p.started, QString());
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return p.Online(); })) << qPrintable(p.p.LastError());
    for (const QString &flow : { QString(3000, QLatin1Char('9')), QStringLiteral("7") })
        p.p.MeterReading(QDateTime::currentDateTime(), QStringLiteral("31415"),
            { { QStringLiteral("flow"), flow, QStringLiteral("SCFM") } });
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return p.p.Queued() == 0; }));
    EXPECT_EQ(p.p.Dropped(), 1);
    EXPECT_TRUE(p.problems.value(0).contains(QLatin1String("larger than the MQTT broker takes")))
        << qPrintable(p.problems.join(QLatin1Char('|')));
    ASSERT_TRUE(TestEnv::WaitUntil([&] {
        return Sequence(sub->Messages(), QStringLiteral("tls/meter/31415")) == QList<int> { 7 };
    })) << qPrintable(sub->Messages().join(QLatin1Char('\n')));
    EXPECT_TRUE(TestEnv::WaitUntil(
        [&] { return sub->Messages().contains(QStringLiteral("tls/dropped 1")); }));
}

} // namespace
