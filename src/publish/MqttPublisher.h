#pragma once

#include "base/ReadingSink.h"
#include "publish/BrokerUrl.h"
#include "publish/PublishQueue.h"
#include "publish/PublishSettings.h"

#include <QBasicTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>

struct mosquitto;
struct mqtt5__property;
class QSocketNotifier;

// Publishes live readings to an MQTT broker. A client of libmosquitto driven from the event
// loop alone: the connection's socket sits on QSocketNotifiers (read always, write while the
// library has bytes to send), its housekeeping (keep-alive, retries) runs on a timer, and no
// call waits for the network, so the window never stalls on a broker. Readings go into a
// bounded queue, in order, and leave it when the broker has them; a lost connection is tried
// again after 1, 2, 4 ... seconds (up to a limit) and what it had in flight is sent again.
// Each client has its own retained status topic, "PREFIX/status/CLIENT_ID": "online" while
// connected and "offline" after a clean stop or, as the connection's last will, when the
// program is gone. With discovery on, each meter whose serial is known is announced once (and
// again when its units change) with retained config messages queued before its reading. The
// application installs one as the reading sink; tarvik-cli makes its own.
class MqttPublisher : public QObject, public ReadingSink
{
    Q_OBJECT
public:
    enum class State {
        Off, // not started, or stopped
        Connecting, // connection or its CONNACK under way
        Online,
        Waiting, // lost or refused: the next attempt is due later
    };

    // Times a test or the command line may shorten.
    struct Timing
    {
        int connectTimeoutMs = 10000; // from the attempt to the broker's CONNACK
        int firstRetryMs = 1000;
        int maxRetryMs = 60000;
        int keepAliveSeconds = 30;
        int housekeepingMs = 1000; // keep-alive, retries, the answer awaited
    };

    explicit MqttPublisher(QObject *parent = nullptr);
    ~MqttPublisher() override;

    void SetTiming(const Timing &timing) { m_timing = timing; }
    void SetQueueLimits(qsizetype messages, qint64 bytes);

    // Starts publishing with these settings (a running connection is ended first). Empty on
    // success (connecting has begun), else the message, and nothing is started.
    QString Start(const PublishSettings &settings);
    // Ends the connection: "offline" is published, the connection closed; what is queued stays
    // (a later Start sends it). Returns at once.
    void Stop();
    // Closes once the queue is empty or after timeoutMs, then emits Drained. With no connection
    // it closes at once when the queue is empty, else waits for the broker up to the same time.
    void Drain(int timeoutMs);

    // Queues a message on PREFIX/suffix.
    void Publish(const QString &suffix, const QByteArray &payload);
    // Queues empty retained messages on every discovery config topic of the meter with this
    // serial, which removes what a meter that is gone left on the broker.
    void ClearDiscovery(const QString &serial);

    State GetState() const { return m_state; }
    bool Started() const { return m_state != State::Off; }
    // What went wrong last (cleared when the broker takes a connection).
    QString LastError() const { return m_lastError; }
    // How many times a connection was accepted by the broker since Start.
    int Connections() const { return m_connections; }
    qsizetype Queued() const { return m_queue.Size(); }
    qint64 QueueBytes() const { return m_queue.Bytes(); }
    // Readings dropped: pushed out of a full queue, or refused by the broker.
    qint64 Dropped() const { return m_queue.Dropped() + m_refused; }
    qint64 Delivered() const { return m_delivered; }
    QString Prefix() const { return m_settings.topicPrefix; }
    // "PREFIX/status/CLIENT_ID" (the client id made one topic level).
    QString StatusTopic() const { return m_statusTopic; }
    QString HostPort() const { return m_url.HostPort(); }
    // One line for the main window's status bar: "MQTT: online, 0 queued" and the like.
    QString StatusText() const;

    void ModbusReading(const QDateTime &at, int address, const QString &serial,
        const std::vector<Value> &values, const QString &failure) override;
    void MeterReading(
        const QDateTime &at, const QString &serial, const std::vector<Value> &values) override;

Q_SIGNALS:
    // The state, the queue's length or the dropped count changed.
    void Changed();
    // A lost connection, a refusal or a reading the broker would not take: the message.
    void Problem(const QString &message);
    void Drained();

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    static void OnConnect(mosquitto *, void *self, int rc, int flags, const mqtt5__property *);
    static void OnPublish(mosquitto *, void *self, int mid, int rc, const mqtt5__property *);
    static void OnLog(mosquitto *, void *self, int level, const char *text);

    void Connect();
    void Lost(const QString &reason);
    void CloseConnection();
    void AfterLoop(int rc);
    void Pump();
    void Enqueue(const QString &topic, const QByteArray &payload, bool retain);
    void Announce(const QString &serial, const std::vector<Value> &values);
    qint64 NextSequence(const QString &topic);
    void PublishControl(const QString &topic, const QByteArray &payload);
    QString TlsText() const;
    void UpdateWriteNotifier();
    void SetState(State state);
    void CheckDrained();
    QString ErrorText(int rc) const;

    PublishSettings m_settings;
    BrokerUrl m_url;
    Timing m_timing;
    PublishQueue m_queue;
    QString m_statusTopic;
    QHash<QString, qint64> m_sequence; // the last "seq" of each topic
    QHash<QByteArray, QByteArray> m_announced; // discovery's configs sent, by topic
    QString m_tlsFailure; // what TLS last said went wrong, from the library's log
    mosquitto *m_mosq = nullptr;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QBasicTimer m_housekeeping;
    QBasicTimer m_retry;
    QBasicTimer m_drainTimer;
    QElapsedTimer m_attemptClock;
    State m_state = State::Off;
    QString m_lastError;
    int m_retryMs = 0;
    int m_connections = 0;
    qint64 m_refused = 0;
    qint64 m_delivered = 0;
    qint64 m_droppedPublished = -1; // the dropped count the broker was last told
    bool m_connackSeen = false;
    int m_connackCode = -1;
    bool m_draining = false;
};
