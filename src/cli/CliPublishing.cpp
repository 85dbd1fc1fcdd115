#include "cli/CliPublishing.h"

#include "base/CPrefs.h"
#include "base/ReadingSink.h"
#include "cli/CliContext.h"
#include "cli/CliSignals.h"
#include "publish/MqttPublisher.h"
#include "publish/PublishSettings.h"
#include "records/KeyringPassword.h"

#include <QCoreApplication>
#include <QSettings>

CliPublishing::CliPublishing(CliContext &context)
    : m_cli(context)
{
}

CliPublishing::~CliPublishing() = default;

bool CliPublishing::Start()
{
    if (!m_cli.args.Has(QStringLiteral("--mqtt"))) {
        // The broker's options without a broker would be passed over without a word.
        for (const char *option : { "--mqtt-ca", "--mqtt-user", "--mqtt-cert", "--mqtt-key",
                 "--mqtt-client-id", "--mqtt-discovery", "--mqtt-discovery-clear" })
            if (m_cli.args.Has(QLatin1String(option))) {
                CliContext::Err(QStringLiteral("%1 needs the broker: give --mqtt URL.")
                                    .arg(QLatin1String(option)));
                m_cli.code = CliContext::kBadInput;
                return false;
            }
        return true;
    }
    PublishSettings settings;
    settings.enabled = true;
    settings.url = m_cli.args.Value(QStringLiteral("--mqtt"));
    if (m_cli.args.Has(QStringLiteral("--topic")))
        settings.topicPrefix = m_cli.args.Value(QStringLiteral("--topic"));
    settings.caFile = m_cli.UserPath(m_cli.args.Value(QStringLiteral("--mqtt-ca")));
    settings.user = m_cli.args.Value(QStringLiteral("--mqtt-user"));
    if (m_cli.args.Has(QStringLiteral("--mqtt-cert")))
        settings.certFile = m_cli.UserPath(m_cli.args.Value(QStringLiteral("--mqtt-cert")));
    if (m_cli.args.Has(QStringLiteral("--mqtt-key")))
        settings.keyFile = m_cli.UserPath(m_cli.args.Value(QStringLiteral("--mqtt-key")));
    settings.clientId = m_cli.args.Value(QStringLiteral("--mqtt-client-id"));
    settings.discovery = m_cli.args.Has(QStringLiteral("--mqtt-discovery"));
    settings.password = qEnvironmentVariable("TARVIK_MQTT_PASSWORD");
    // The broker and user of the settings lend their password: the preferences', else the
    // keyring's (none after a bounded wait where no keyring answers).
    if (settings.password.isEmpty() && !settings.user.isEmpty()) {
        std::unique_ptr<QSettings> store = CPrefs::OpenStore();
        const PublishSettings kept = PublishSettings::Load(*store);
        if (kept.url.trimmed() == settings.url.trimmed() && kept.user == settings.user)
            settings.password = !kept.password.isEmpty()
                ? kept.password
                : KeyringPassword::ReadWaiting(KeyringPassword::MqttAccount());
    }
    m_publisher = std::make_unique<MqttPublisher>();
    MqttPublisher::Timing timing;
    timing.connectTimeoutMs = 5000;
    timing.maxRetryMs = 10000;
    m_publisher->SetTiming(timing);
    const QString error = m_publisher->Start(settings);
    if (!error.isEmpty()) {
        CliContext::Err(error);
        m_publisher.reset();
        m_cli.code = CliContext::kBadInput;
        return false;
    }
    // The first attempt decides: taken, or the reason it was not.
    QObject::connect(m_publisher.get(), &MqttPublisher::Changed, [this] {
        if (m_publisher->GetState() != MqttPublisher::State::Connecting)
            QCoreApplication::exit(0);
    });
    QObject::connect(m_cli.signals, &CliSignals::Interrupt, [] { QCoreApplication::exit(0); });
    if (m_publisher->GetState() == MqttPublisher::State::Connecting)
        QCoreApplication::exec();
    QObject::disconnect(m_publisher.get(), &MqttPublisher::Changed, nullptr, nullptr);
    QObject::disconnect(m_cli.signals, &CliSignals::Interrupt, nullptr, nullptr);
    if (m_publisher->GetState() != MqttPublisher::State::Online) {
        CliContext::Err(m_cli.signals->Interrupted()
                ? QStringLiteral("Interrupted before anything was done.")
                : m_publisher->LastError());
        m_cli.code
            = m_cli.signals->Interrupted() ? CliContext::kMeterFailed : CliContext::kPortUnusable;
        m_publisher.reset();
        return false;
    }
    // Later troubles (the broker gone, a reading refused) are said as they come; the readings
    // wait in the queue meanwhile.
    QObject::connect(m_publisher.get(), &MqttPublisher::Problem,
        [](const QString &message) { CliContext::Err(message); });
    // Meters that are gone: their announcements leave the broker before any reading is sent.
    for (const QString &serial : m_cli.args.Value(QStringLiteral("--mqtt-discovery-clear"))
                                     .split(QLatin1Char(','), Qt::SkipEmptyParts))
        m_publisher->ClearDiscovery(serial.trimmed());
    ReadingSink::Install(m_publisher.get());
    m_cli.publishing = true;
    return true;
}

void CliPublishing::Finish()
{
    if (!m_publisher)
        return;
    ReadingSink::Install(nullptr);
    m_cli.publishing = false;
    bool drained = false;
    QObject::connect(m_publisher.get(), &MqttPublisher::Drained, [&drained] {
        drained = true;
        QCoreApplication::exit(0);
    });
    m_publisher->Drain(5000);
    if (!drained)
        QCoreApplication::exec();
    if (m_publisher->Queued() > 0)
        CliContext::Err(QStringLiteral("%1 readings could not be delivered to the MQTT broker.")
                            .arg(m_publisher->Queued()));
    m_publisher.reset();
}
