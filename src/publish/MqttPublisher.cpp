#include "publish/MqttPublisher.h"

#include "publish/MqttDiscovery.h"
#include "publish/ReadingPayload.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimerEvent>

#include <mosquitto.h>

#include <cerrno>
#include <cstring>

namespace {
// Messages of QoS 1 sent ahead of their acknowledgements: enough to keep a slow link busy,
// few enough that a lost connection sends little twice.
constexpr qsizetype kMaxInFlight = 64;

void InitLibrary()
{
    static const bool done = [] {
        mosquitto_lib_init();
        return true;
    }();
    (void)done;
}
} // namespace

MqttPublisher::MqttPublisher(QObject *parent)
    : QObject(parent)
{
    InitLibrary();
}

MqttPublisher::~MqttPublisher()
{
    Stop();
}

void MqttPublisher::SetQueueLimits(qsizetype messages, qint64 bytes)
{
    m_queue = PublishQueue(messages, bytes);
}

QString MqttPublisher::Start(const PublishSettings &settings)
{
    const QString error = settings.Check();
    if (!error.isEmpty())
        return error;
    Stop();
    m_settings = settings;
    m_url.Parse(settings.url);
    m_retryMs = m_timing.firstRetryMs;
    m_connections = 0;
    m_lastError.clear();
    m_droppedPublished = -1;
    m_statusTopic = m_settings.topicPrefix + QStringLiteral("/status/")
        + ReadingPayload::TopicLevel(m_settings.EffectiveClientId());
    m_announced.clear(); // another broker may be meant: the meters are announced anew
    Connect();
    return {};
}

void MqttPublisher::Stop()
{
    m_retry.stop();
    m_drainTimer.stop();
    if (m_mosq && m_state == State::Online) {
        // A clean disconnect sends no last will, so "offline" goes out first.
        PublishControl(m_statusTopic, "offline");
        mosquitto_disconnect(m_mosq);
        // Whatever the socket takes now goes; the rest is the broker's will to say.
        mosquitto_loop_write(m_mosq, 10);
    }
    CloseConnection();
    m_queue.Resend();
    SetState(State::Off);
}

void MqttPublisher::Drain(int timeoutMs)
{
    m_draining = true;
    m_drainTimer.start(qMax(0, timeoutMs), this);
    CheckDrained();
}

void MqttPublisher::CheckDrained()
{
    if (!m_draining || !(m_queue.Empty() || m_state == State::Off))
        return;
    m_draining = false;
    m_drainTimer.stop();
    Stop();
    Q_EMIT Drained();
}

void MqttPublisher::Publish(const QString &suffix, const QByteArray &payload)
{
    Enqueue(m_settings.topicPrefix + QLatin1Char('/') + suffix, payload, false);
}

void MqttPublisher::Enqueue(const QString &topic, const QByteArray &payload, bool retain)
{
    m_queue.Append(topic.toUtf8(), payload, retain);
    if (m_state == State::Online)
        Pump();
    Q_EMIT Changed();
}

qint64 MqttPublisher::NextSequence(const QString &topic)
{
    return ++m_sequence[topic];
}

void MqttPublisher::ModbusReading(const QDateTime &at, int address, const QString &serial,
    const std::vector<Value> &values, const QString &failure)
{
    if (m_state == State::Off)
        return;
    if (failure.isEmpty() && !serial.trimmed().isEmpty())
        Announce(serial, values);
    const QString suffix = ReadingPayload::ModbusTopic(address, serial, !failure.isEmpty());
    Publish(
        suffix, ReadingPayload::Modbus(at, address, serial, values, failure, NextSequence(suffix)));
}

void MqttPublisher::MeterReading(
    const QDateTime &at, const QString &serial, const std::vector<Value> &values)
{
    if (m_state == State::Off)
        return;
    if (!serial.trimmed().isEmpty())
        Announce(serial, values);
    const QString suffix = ReadingPayload::MeterTopic(serial);
    Publish(suffix, ReadingPayload::Meter(at, serial, values, NextSequence(suffix)));
}

void MqttPublisher::Announce(const QString &serial, const std::vector<Value> &values)
{
    if (!m_settings.discovery)
        return;
    // Queued ahead of the reading, so a dashboard knows the meter before its first value.
    for (const MqttDiscovery::Message &m :
        MqttDiscovery::Configs(m_settings.topicPrefix, m_statusTopic, serial, values)) {
        QByteArray &sent = m_announced[m.topic];
        if (sent == m.payload)
            continue;
        sent = m.payload;
        Enqueue(QString::fromUtf8(m.topic), m.payload, true);
    }
}

void MqttPublisher::ClearDiscovery(const QString &serial)
{
    for (const QByteArray &topic : MqttDiscovery::Topics(serial)) {
        m_announced.remove(topic);
        Enqueue(QString::fromUtf8(topic), {}, true);
    }
}

void MqttPublisher::Connect()
{
    CloseConnection();
    const QByteArray id = m_settings.EffectiveClientId().toUtf8();
    m_mosq = mosquitto_new(id.constData(), true, this);
    if (!m_mosq) {
        Lost(QStringLiteral("The MQTT client could not be created (%1).")
                 .arg(QString::fromLocal8Bit(std::strerror(errno))));
        return;
    }
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_connect_v5_callback_set(m_mosq, &MqttPublisher::OnConnect);
    mosquitto_publish_v5_callback_set(m_mosq, &MqttPublisher::OnPublish);
    mosquitto_log_callback_set(m_mosq, &MqttPublisher::OnLog);
    m_tlsFailure.clear();
    if (!m_settings.user.isEmpty()) {
        mosquitto_username_pw_set(m_mosq, m_settings.user.toUtf8().constData(),
            m_settings.password.isEmpty() ? nullptr : m_settings.password.toUtf8().constData());
    }
    const QByteArray willTopic = m_statusTopic.toUtf8();
    mosquitto_will_set_v5(m_mosq, willTopic.constData(), 7, "offline", 1, true, nullptr);
    if (m_url.Tls()) {
        const QByteArray ca = QFile::encodeName(m_settings.caFile);
        const QByteArray cert = QFile::encodeName(m_settings.certFile);
        const QByteArray key = QFile::encodeName(m_settings.keyFile);
        int rc = MOSQ_ERR_SUCCESS;
        if (ca.isEmpty())
            rc = mosquitto_int_option(m_mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        // The callback gives no password: an encrypted key fails at once, where the library's
        // own would ask for one on the terminal.
        if (rc == MOSQ_ERR_SUCCESS && !ca.isEmpty())
            rc = mosquitto_tls_set(m_mosq, ca.constData(), nullptr,
                cert.isEmpty() ? nullptr : cert.constData(),
                key.isEmpty() ? nullptr : key.constData(),
                [](char *, int, int, void *) { return 0; });
        if (rc != MOSQ_ERR_SUCCESS) {
            QString why = QString::fromUtf8(mosquitto_strerror(rc));
            if (why.endsWith(QLatin1Char('.')))
                why.chop(1);
            Lost(cert.isEmpty() ? QStringLiteral("The CA file \"%1\" cannot be used: %2.")
                                      .arg(m_settings.caFile, why)
                                : QStringLiteral("The CA file, client certificate or key "
                                                 "cannot be used: %1.")
                                      .arg(why));
            return;
        }
    }
    m_connackSeen = false;
    m_connackCode = -1;
    m_attemptClock.start();
    SetState(State::Connecting);
    // The host is given to the system's resolver as it stands: an address or a name in
    // /etc/hosts answers at once; a name asked of DNS may take the resolver's time.
    const int rc = mosquitto_connect_async(
        m_mosq, m_url.Host().toUtf8().constData(), m_url.Port(), m_timing.keepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        Lost(ErrorText(rc));
        return;
    }
    const int fd = mosquitto_socket(m_mosq);
    if (fd < 0) {
        Lost(ErrorText(MOSQ_ERR_NO_CONN));
        return;
    }
    m_readNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, [this] {
        if (!m_mosq)
            return;
        AfterLoop(mosquitto_loop_read(m_mosq, 16));
    });
    m_writeNotifier = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, [this] {
        if (!m_mosq)
            return;
        AfterLoop(mosquitto_loop_write(m_mosq, 16));
    });
    m_housekeeping.start(m_timing.housekeepingMs, this);
    UpdateWriteNotifier();
}

void MqttPublisher::CloseConnection()
{
    m_housekeeping.stop();
    // The notifiers may be the ones whose signal is being handled: disabled now, deleted later.
    for (QSocketNotifier **notifier : { &m_readNotifier, &m_writeNotifier }) {
        if (*notifier) {
            (*notifier)->setEnabled(false);
            (*notifier)->deleteLater();
            *notifier = nullptr;
        }
    }
    if (m_mosq) {
        mosquitto_destroy(m_mosq);
        m_mosq = nullptr;
    }
}

void MqttPublisher::Lost(const QString &reason)
{
    CloseConnection();
    m_queue.Resend();
    const bool news = reason != m_lastError;
    m_lastError = reason;
    m_retry.start(m_retryMs, this);
    m_retryMs = qMin(m_retryMs * 2, m_timing.maxRetryMs);
    SetState(State::Waiting);
    if (news)
        Q_EMIT Problem(reason);
}

QString MqttPublisher::ErrorText(int rc) const
{
    QString why;
    // A broker that refuses a client certificate alerts and then closes: the connection is
    // lost, and the alert the reason.
    if (!m_tlsFailure.isEmpty()
        && (rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_ERRNO || rc == MOSQ_ERR_PROTOCOL))
        rc = MOSQ_ERR_TLS;
    switch (rc) {
    case MOSQ_ERR_ERRNO:
        // A TLS connection reset before the broker's alert was read leaves no detail.
        if (errno == EPROTO && m_url.Tls() && m_state == State::Connecting)
            why = QStringLiteral("the broker ended the TLS connection before taking it (does it "
                                 "ask for a client certificate, or refuse the one given?)");
        else
            why = QString::fromLocal8Bit(std::strerror(errno));
        break;
    case MOSQ_ERR_CONN_LOST:
        why = QStringLiteral("the connection was lost");
        break;
    case MOSQ_ERR_EAI:
        why = QStringLiteral("the host name could not be resolved");
        break;
    case MOSQ_ERR_TLS:
        why = TlsText();
        break;
    case MOSQ_ERR_KEEPALIVE:
        why = QStringLiteral("the broker stopped answering");
        break;
    default:
        why = QString::fromUtf8(mosquitto_strerror(rc));
        break;
    }
    return QStringLiteral("Cannot reach the MQTT broker at %1: %2.").arg(m_url.HostPort(), why);
}

void MqttPublisher::OnConnect(mosquitto *, void *self, int rc, int, const mqtt5__property *)
{
    auto *publisher = static_cast<MqttPublisher *>(self);
    publisher->m_connackSeen = true;
    publisher->m_connackCode = rc;
}

void MqttPublisher::OnPublish(mosquitto *, void *self, int mid, int rc, const mqtt5__property *)
{
    // Called from within the library's read: only bookkeeping here, no calls back into it.
    auto *publisher = static_cast<MqttPublisher *>(self);
    if (!publisher->m_queue.Acknowledge(mid))
        return; // a status message
    if (rc >= 0x80) {
        ++publisher->m_refused;
        publisher->m_lastError = QStringLiteral("The MQTT broker refused a reading: %1.")
                                     .arg(QString::fromUtf8(mosquitto_reason_string(rc)));
    } else {
        ++publisher->m_delivered;
    }
}

void MqttPublisher::OnLog(mosquitto *, void *self, int level, const char *text)
{
    // The TLS library's reason for a failed handshake reaches us only through the log.
    // The library's own "Error: ..." (a certificate or key it cannot load) comes first and is
    // the one kept; the TLS library's lines follow it.
    auto *publisher = static_cast<MqttPublisher *>(self);
    if (level != MOSQ_LOG_ERR || !text)
        return;
    if (std::strncmp(text, "Error: ", 7) == 0)
        publisher->m_tlsFailure = QString::fromUtf8(text + 7);
    else if (std::strstr(text, "OpenSSL Error") && !publisher->m_tlsFailure.startsWith(u"Unable")
        && !publisher->m_tlsFailure.startsWith(u"Client"))
        publisher->m_tlsFailure = QString::fromUtf8(text);
}

QString MqttPublisher::TlsText() const
{
    QString why = m_tlsFailure;
    if (why.startsWith(u"Unable to load client") || why.startsWith(u"Client certificate")) {
        if (why.endsWith(QLatin1Char('.')))
            why.chop(1);
        return QStringLiteral("the client certificate or key cannot be used (%1)").arg(why);
    }
    const bool alert = why.contains(QLatin1String("alert"));
    if (alert && why.contains(QLatin1String("certificate required")))
        return QStringLiteral("the broker asks for a client certificate and none was given");
    // The broker's alert after it saw ours: it does not take the certificate.
    if (alert && !m_settings.certFile.isEmpty()
        && (why.contains(QLatin1String("certificate")) || why.contains(QLatin1String("unknown ca"))
            || why.contains(QLatin1String("decrypt error"))
            || why.contains(QLatin1String("access denied")))) {
        const qsizetype at = why.lastIndexOf(QStringLiteral("alert "));
        return QStringLiteral("the broker refused the client certificate \"%1\" (%2)")
            .arg(m_settings.certFile, why.mid(at + 6).trimmed());
    }
    if (why.contains(QLatin1String("certificate verify failed")))
        return QStringLiteral("the TLS handshake failed: the broker's certificate is not signed "
                              "by the CA file given");
    return QStringLiteral("the TLS handshake failed (is the broker's certificate signed by "
                          "the CA file given, and is the broker speaking TLS?)");
}

void MqttPublisher::AfterLoop(int rc)
{
    // errno belongs to the call just made; the texts below are made before anything else runs.
    const QString failure = rc == MOSQ_ERR_SUCCESS ? QString() : ErrorText(rc);
    if (m_connackSeen) {
        m_connackSeen = false;
        if (m_connackCode != 0) {
            // 0x86 bad user name or password, 0x87 not authorised: say what to check.
            const bool credentials = m_connackCode == 0x86 || m_connackCode == 0x87;
            Lost(QStringLiteral("The MQTT broker at %1 refused the connection: %2%3.")
                     .arg(m_url.HostPort(),
                         QString::fromUtf8(mosquitto_reason_string(m_connackCode)),
                         credentials ? QStringLiteral(" (check the user name and password)")
                                     : QString()));
            return;
        }
        ++m_connections;
        m_retryMs = m_timing.firstRetryMs;
        m_lastError.clear();
        m_droppedPublished = -1;
        PublishControl(m_statusTopic, "online");
        SetState(State::Online);
    }
    if (!failure.isEmpty()) {
        Lost(failure);
        return;
    }
    if (m_state == State::Online)
        Pump();
    if (m_mosq)
        UpdateWriteNotifier();
    Q_EMIT Changed();
    CheckDrained();
}

void MqttPublisher::Pump()
{
    const int qos = m_settings.qos;
    while (m_mosq && m_queue.HasWaiting()) {
        if (qos == 1 && m_queue.InFlight() >= kMaxInFlight)
            break;
        // At QoS 0 the library would hold every message in memory: hand over one at a time
        // as the socket drains.
        if (qos == 0 && mosquitto_want_write(m_mosq))
            break;
        const QByteArray topic = m_queue.WaitingTopic();
        const QByteArray payload = m_queue.WaitingPayload();
        int mid = 0;
        const int rc = mosquitto_publish_v5(m_mosq, &mid, topic.constData(), int(payload.size()),
            payload.constData(), qos, m_queue.WaitingRetained(), nullptr);
        if (rc == MOSQ_ERR_OVERSIZE_PACKET || rc == MOSQ_ERR_PAYLOAD_SIZE) {
            m_queue.DropWaiting();
            m_lastError = QStringLiteral("A reading of %1 bytes on %2 is larger than the MQTT "
                                         "broker takes; it was left out.")
                              .arg(payload.size())
                              .arg(QString::fromUtf8(topic));
            Q_EMIT Problem(m_lastError);
            continue;
        }
        if (rc != MOSQ_ERR_SUCCESS) {
            Lost(ErrorText(rc));
            return;
        }
        m_queue.MarkSent(mid);
        if (qos == 0) {
            m_queue.Acknowledge(mid);
            ++m_delivered;
        }
    }
    if (m_mosq && Dropped() != m_droppedPublished && Dropped() > 0) {
        m_droppedPublished = Dropped();
        PublishControl(m_settings.topicPrefix + QStringLiteral("/dropped"),
            QByteArray::number(m_droppedPublished));
    }
}

void MqttPublisher::PublishControl(const QString &topicText, const QByteArray &payload)
{
    const QByteArray topic = topicText.toUtf8();
    mosquitto_publish_v5(m_mosq, nullptr, topic.constData(), int(payload.size()),
        payload.constData(), 1, true, nullptr);
}

void MqttPublisher::UpdateWriteNotifier()
{
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(m_mosq && mosquitto_want_write(m_mosq));
}

void MqttPublisher::SetState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    Q_EMIT Changed();
}

void MqttPublisher::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_retry.timerId()) {
        m_retry.stop();
        Connect();
    } else if (event->timerId() == m_drainTimer.timerId()) {
        m_drainTimer.stop();
        m_draining = false;
        Stop();
        Q_EMIT Drained();
    } else if (event->timerId() == m_housekeeping.timerId()) {
        if (!m_mosq)
            return;
        if (m_state == State::Connecting && m_attemptClock.elapsed() > m_timing.connectTimeoutMs) {
            Lost(QStringLiteral("The MQTT broker at %1 took the connection but did not answer "
                                "within %2 s.")
                     .arg(m_url.HostPort())
                     .arg(m_timing.connectTimeoutMs / 1000.0));
            return;
        }
        AfterLoop(mosquitto_loop_misc(m_mosq));
    }
}

QString MqttPublisher::StatusText() const
{
    QString text;
    switch (m_state) {
    case State::Off:
        text = QStringLiteral("MQTT: off");
        break;
    case State::Connecting:
        text = QStringLiteral("MQTT: connecting to %1").arg(m_url.HostPort());
        break;
    case State::Online:
        text = QStringLiteral("MQTT: online at %1").arg(m_url.HostPort());
        break;
    case State::Waiting: {
        // The reason alone ("Connection refused"); the whole message is LastError().
        QString why = m_lastError;
        if (why.endsWith(QLatin1Char('.')))
            why.chop(1);
        const qsizetype colon = why.lastIndexOf(QStringLiteral(": "));
        if (colon >= 0)
            why = why.mid(colon + 2);
        text = QStringLiteral("MQTT: %1 offline (%2), retrying").arg(m_url.HostPort(), why);
    } break;
    }
    if (m_state != State::Off || !m_queue.Empty())
        text += QStringLiteral(", %1 queued").arg(m_queue.Size());
    if (Dropped() > 0)
        text += QStringLiteral(", %1 dropped").arg(Dropped());
    return text;
}
