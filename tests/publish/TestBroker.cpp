#include "TestBroker.h"

#include "support/TestEnv.h"

#include <QFile>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// Connects to port on 127.0.0.1 (port 0: binds to a free one); the port, or 0 on failure.
int Loopback(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(quint16(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    const auto *address = reinterpret_cast<sockaddr *>(&a);
    const bool ok = port ? ::connect(fd, address, length) == 0
                         : ::bind(fd, address, length) == 0
            && ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &length) == 0;
    ::close(fd);
    return ok ? ntohs(a.sin_port) : 0;
}
} // namespace

int TestBroker::FreePort()
{
    return Loopback(0);
}

bool TestBroker::Start()
{
    if (!m_dir.isValid())
        return false;
    const char *const script = R"(set -e
key="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
openssl req -x509 $key -keyout ca.key -out ca.crt -subj /CN=ca -days 2
openssl req -x509 $key -keyout other.key -out other.crt -subj /CN=other -days 2
openssl req $key -keyout server.key -out server.csr -subj /CN=127.0.0.1
echo subjectAltName=IP:127.0.0.1 > san.ext
openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 \
  -extfile san.ext -out server.crt
for c in client:ca rogue:other; do
  openssl req $key -keyout ${c%:*}.key -out ${c%:*}.csr -subj /CN=${c%:*}
  openssl x509 -req -in ${c%:*}.csr -CA ${c#*:}.crt -CAkey ${c#*:}.key -CAcreateserial -days 2 \
    -out ${c%:*}.crt
done
mosquitto_passwd -b -c passwords meter secret)";
    QProcess make;
    make.setWorkingDirectory(m_dir.path());
    make.start(QStringLiteral("sh"), { QStringLiteral("-c"), QString::fromLatin1(script) });
    if (!make.waitForFinished(60000) || make.exitCode() != 0) {
        m_error = QString::fromLocal8Bit(make.readAllStandardError());
        return false;
    }
    m_port = FreePort();
    m_tlsPort = FreePort();
    m_certPort = FreePort();
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
                                "keyfile %1server.key\n"
                                "listener %4 127.0.0.1\n"
                                "cafile %1ca.crt\n"
                                "certfile %1server.crt\n"
                                "keyfile %1server.key\n"
                                "require_certificate true\n")
                     .arg(dir)
                     .arg(m_port)
                     .arg(m_tlsPort)
                     .arg(m_certPort)
                     .toUtf8());
    config.close();
    return Restart();
}

bool TestBroker::Restart()
{
    Stop();
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->start(QStringLiteral("mosquitto"),
        { QStringLiteral("-c"), m_dir.filePath(QStringLiteral("mosquitto.conf")) });
    if (!m_process->waitForStarted(10000)
        || !TestEnv::WaitUntil(
            [this] {
                return m_process->state() != QProcess::Running
                    || (Loopback(m_port) && Loopback(m_tlsPort) && Loopback(m_certPort));
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
    if (m_process && m_process->state() == QProcess::Running) {
        m_process->terminate();
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

QStringList TestBroker::Subscriber::Messages()
{
    m_pending += m_process.readAllStandardOutput();
    for (qsizetype end; (end = m_pending.indexOf('\n')) >= 0; m_pending.remove(0, end + 1))
        m_messages << QString::fromUtf8(m_pending.left(end));
    QStringList messages;
    for (const QString &m : m_messages)
        if (!m.startsWith(m_probeTopic + QLatin1Char(' ')))
            messages << m;
    return messages;
}

bool TestBroker::Subscriber::Ready()
{
    return TestEnv::WaitUntil([this] {
        QProcess::execute(QStringLiteral("mosquitto_pub"),
            { QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                QString::number(m_port), QStringLiteral("-t"), m_probeTopic, QStringLiteral("-m"),
                QStringLiteral("probe") });
        Messages();
        return !m_messages.filter(m_probeTopic + QLatin1Char(' ')).isEmpty();
    });
}
