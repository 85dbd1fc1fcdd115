#include "TestBroker.h"

#include "support/TestEnv.h"

#include <QFile>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
bool Connectable(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}
} // namespace

TestBroker::TestBroker() = default;

TestBroker::~TestBroker()
{
    Stop();
}

int TestBroker::FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool TestBroker::Run(const QString &program, const QStringList &args)
{
    QProcess process;
    process.setWorkingDirectory(m_dir.path());
    process.start(program, args);
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        m_error = program + QLatin1Char(' ') + args.join(QLatin1Char(' ')) + QStringLiteral(": ")
            + QString::fromLocal8Bit(process.readAllStandardError());
        return false;
    }
    return true;
}

bool TestBroker::Start()
{
    if (!m_dir.isValid())
        return false;
    const QString openssl = QStringLiteral("openssl");
    const QStringList key
        = { QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
              QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes") };
    {
        QFile ext(m_dir.filePath(QStringLiteral("san.ext")));
        if (!ext.open(QIODevice::WriteOnly))
            return false;
        ext.write("subjectAltName=IP:127.0.0.1\n");
    }
    const auto req = [&](const QString &name, const QStringList &more) {
        return Run(openssl,
            QStringList { QStringLiteral("req") } + key
                + QStringList { QStringLiteral("-keyout"), name + QStringLiteral(".key"),
                    QStringLiteral("-subj"), QStringLiteral("/CN=") + name }
                + more);
    };
    if (!req(QStringLiteral("ca"),
            { QStringLiteral("-x509"), QStringLiteral("-days"), QStringLiteral("2"),
                QStringLiteral("-out"), QStringLiteral("ca.crt") })
        || !req(QStringLiteral("other"),
            { QStringLiteral("-x509"), QStringLiteral("-days"), QStringLiteral("2"),
                QStringLiteral("-out"), QStringLiteral("other.crt") })
        || !req(QStringLiteral("server"), { QStringLiteral("-out"), QStringLiteral("server.csr") })
        || !Run(openssl,
            { QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                QStringLiteral("server.csr"), QStringLiteral("-CA"), QStringLiteral("ca.crt"),
                QStringLiteral("-CAkey"), QStringLiteral("ca.key"),
                QStringLiteral("-CAcreateserial"), QStringLiteral("-days"), QStringLiteral("2"),
                QStringLiteral("-extfile"), QStringLiteral("san.ext"), QStringLiteral("-out"),
                QStringLiteral("server.crt") })
        || !Run(QStringLiteral("mosquitto_passwd"),
            { QStringLiteral("-b"), QStringLiteral("-c"), QStringLiteral("passwords"),
                QStringLiteral("meter"), QStringLiteral("secret") }))
        return false;
    m_port = FreePort();
    m_tlsPort = FreePort();
    QFile config(m_dir.filePath(QStringLiteral("mosquitto.conf")));
    if (!config.open(QIODevice::WriteOnly))
        return false;
    const QString dir = m_dir.path() + QLatin1Char('/');
    config.write(QStringLiteral("user root\n"
                                "per_listener_settings false\n"
                                "allow_anonymous true\n"
                                "password_file %1passwords\n"
                                "persistence true\n"
                                "persistence_location %1\n"
                                "max_packet_size 2048\n"
                                "listener %2 127.0.0.1\n"
                                "listener %3 127.0.0.1\n"
                                "cafile %1ca.crt\n"
                                "certfile %1server.crt\n"
                                "keyfile %1server.key\n")
                     .arg(dir)
                     .arg(m_port)
                     .arg(m_tlsPort)
                     .toUtf8());
    config.close();
    return Launch();
}

bool TestBroker::Launch()
{
    Stop();
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->start(QStringLiteral("mosquitto"),
        { QStringLiteral("-c"), m_dir.filePath(QStringLiteral("mosquitto.conf")) });
    if (!m_process->waitForStarted(10000)) {
        m_error = QStringLiteral("mosquitto did not start");
        return false;
    }
    if (!TestEnv::WaitUntil(
            [this] {
                return m_process->state() != QProcess::Running
                    || (Connectable(m_port) && Connectable(m_tlsPort));
            },
            20000)
        || m_process->state() != QProcess::Running) {
        m_error = QStringLiteral("mosquitto is not listening: ")
            + QString::fromLocal8Bit(m_process->readAll());
        return false;
    }
    return true;
}

void TestBroker::Stop()
{
    if (!m_process)
        return;
    if (m_process->state() == QProcess::Running) {
        ::kill(pid_t(m_process->processId()), SIGTERM);
        if (!m_process->waitForFinished(10000))
            m_process->kill();
        m_process->waitForFinished(5000);
    }
    m_process.reset();
}

TestBroker::Subscriber::Subscriber(int port, const QString &filter, const QString &probeTopic)
    : m_probeTopic(probeTopic)
    , m_port(port)
{
    static int s_count = 0;
    m_process.start(QStringLiteral("mosquitto_sub"),
        { QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
            QString::number(port), QStringLiteral("-t"), filter, QStringLiteral("-t"), probeTopic,
            QStringLiteral("-q"), QStringLiteral("1"), QStringLiteral("-c"), QStringLiteral("-i"),
            QStringLiteral("tarvik-test-sub-%1-%2").arg(::getpid()).arg(++s_count),
            QStringLiteral("-F"), QStringLiteral("%t %p") });
    m_process.waitForStarted(10000);
}

TestBroker::Subscriber::~Subscriber()
{
    m_process.kill();
    m_process.waitForFinished(5000);
}

QStringList TestBroker::Subscriber::Messages()
{
    m_pending += m_process.readAllStandardOutput();
    qsizetype end;
    while ((end = m_pending.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(m_pending.left(end));
        m_pending.remove(0, end + 1);
        if (line.startsWith(m_probeTopic + QLatin1Char(' ')))
            m_probed = true;
        else
            m_messages << line;
    }
    return m_messages;
}

bool TestBroker::Subscriber::Ready()
{
    // The subscription is in place once a probe comes back; probes are sent until one does.
    return TestEnv::WaitUntil(
        [this] {
            Messages();
            if (!m_probed)
                QProcess::execute(QStringLiteral("mosquitto_pub"),
                    { QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                        QString::number(m_port), QStringLiteral("-t"), m_probeTopic,
                        QStringLiteral("-m"), QStringLiteral("probe") });
            Messages();
            return m_probed;
        },
        20000);
}
