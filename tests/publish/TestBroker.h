#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A mosquitto of a test's own on 127.0.0.1: plain and TLS listeners and one that asks for a
// client certificate (certificates made with openssl), one user "meter"/"secret" beside
// anonymous clients, packets up to 2048 bytes, and persistence, so a subscriber's session
// outlives a restart.
class TestBroker
{
public:
    ~TestBroker() { Stop(); }
    // Makes the certificates and configuration and starts (Restart: again); false with Error().
    bool Start();
    bool Restart();
    void Stop(); // SIGTERM, and waits
    QString Error() const { return m_error; }
    QString CaFile() const { return m_dir.filePath(QStringLiteral("ca.crt")); }
    // A CA that signed nothing of this broker's.
    QString OtherCaFile() const { return m_dir.filePath(QStringLiteral("other.crt")); }
    // A client certificate and key the broker takes, and one signed by the other CA.
    QString ClientFile(const char *name) const { return m_dir.filePath(QLatin1String(name)); }
    QString CertUrl() const { return QStringLiteral("mqtts://127.0.0.1:%1").arg(m_certPort); }
    QString Url() const { return QStringLiteral("mqtt://127.0.0.1:%1").arg(m_port); }
    QString TlsUrl() const { return QStringLiteral("mqtts://127.0.0.1:%1").arg(m_tlsPort); }
    int Port() const { return m_port; }

    static int FreePort(); // on 127.0.0.1, nobody listening at the moment of asking

    class Subscriber
    {
    public:
        // Subscribes to filter, QoS 1 with a session kept; Ready once a probe has come back.
        Subscriber(int port, const QString &filter, const QString &probeTopic);
        ~Subscriber()
        {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
        bool Ready();
        QStringList Messages(); // "topic payload", in arrival order, probes left out

    private:
        QProcess m_process;
        QByteArray m_pending;
        QStringList m_messages;
        QString m_probeTopic;
        int m_port;
    };

private:
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_process;
    int m_port = 0;
    int m_tlsPort = 0;
    int m_certPort = 0;
    QString m_error;
};
