#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A mosquitto of a test's own on 127.0.0.1: plain and TLS listeners (certificates made with
// openssl), one user "meter"/"secret" beside anonymous clients, packets up to 2048 bytes, and
// persistence, so a subscriber's session outlives a restart.
class TestBroker
{
public:
    TestBroker();
    ~TestBroker();
    // Makes the certificates and the configuration and starts the broker (Restart: again);
    // false (with Error()) when it could not.
    bool Start();
    bool Restart();
    // SIGTERM, and waits for the broker to end.
    void Stop();
    QString Error() const { return m_error; }
    QString CaFile() const { return m_dir.filePath(QStringLiteral("ca.crt")); }
    // A CA that signed nothing of this broker's.
    QString OtherCaFile() const { return m_dir.filePath(QStringLiteral("other.crt")); }
    QString Url() const { return QStringLiteral("mqtt://127.0.0.1:%1").arg(m_port); }
    QString TlsUrl() const { return QStringLiteral("mqtts://127.0.0.1:%1").arg(m_tlsPort); }
    int Port() const { return m_port; }

    // A port on 127.0.0.1 nobody listens on at the moment of asking.
    static int FreePort();

    class Subscriber
    {
    public:
        // Subscribes to filter with a session kept across reconnects (QoS 1); Ready once a
        // probe published on probeTopic has come back.
        Subscriber(int port, const QString &filter, const QString &probeTopic);
        ~Subscriber();
        bool Ready();
        // Every message so far as "topic payload", in arrival order (probes left out).
        QStringList Messages();

    private:
        QProcess m_process;
        QByteArray m_pending;
        QStringList m_messages;
        QString m_probeTopic;
        int m_port = 0;
    };

private:
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_process;
    int m_port = 0;
    int m_tlsPort = 0;
    QString m_error;
};
