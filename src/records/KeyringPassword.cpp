#include "records/KeyringPassword.h"

#include <QEventLoop>
#include <QTimer>
#include <qt6keychain/keychain.h>

#include <memory>
#include <optional>

namespace {
const QString kKeyringService = QStringLiteral("Tarvik");

// Starts job and calls answer once: with the job when it finishes, or with nullptr when it has
// not finished within the wait (the job is then left to end on its own, unheard).
void KeyringRun(QKeychain::Job *job, std::function<void(QKeychain::Job *)> answer)
{
    auto once = std::make_shared<std::function<void(QKeychain::Job *)>>(std::move(answer));
    const auto give = [once](QKeychain::Job *finished) {
        if (!*once)
            return;
        const auto call = std::move(*once);
        *once = nullptr;
        call(finished);
    };
    job->setAutoDelete(true);
    QObject::connect(job, &QKeychain::Job::finished, job, give);
    QTimer::singleShot(KeyringPassword::kWaitMs, job, [give] { give(nullptr); });
    job->start();
}
} // namespace

QString KeyringPassword::MqttAccount()
{
    return QStringLiteral("MQTT broker");
}

void KeyringPassword::Write(const QString &account, const QString &password,
    std::function<void(const QString &)> store, std::function<void(bool)> done)
{
    auto *job = new QKeychain::WritePasswordJob(kKeyringService);
    job->setKey(account);
    job->setTextData(password);
    KeyringRun(job,
        [store = std::move(store), done = std::move(done), password](QKeychain::Job *finished) {
            const bool inKeyring = finished && finished->error() == QKeychain::NoError;
            // The preferences keep the password only while no keyring does.
            store(inKeyring ? QString() : password);
            done(inKeyring);
        });
}

void KeyringPassword::Read(const QString &account, std::function<void(const QString &)> done)
{
    auto *job = new QKeychain::ReadPasswordJob(kKeyringService);
    job->setKey(account);
    KeyringRun(job, [done = std::move(done)](QKeychain::Job *finished) {
        done(finished && finished->error() == QKeychain::NoError
                ? static_cast<QKeychain::ReadPasswordJob *>(finished)->textData()
                : QString());
    });
}

QString KeyringPassword::ReadWaiting(const QString &account)
{
    QEventLoop loop;
    auto answer = std::make_shared<std::optional<QString>>();
    Read(account, [answer, &loop](const QString &password) {
        *answer = password;
        loop.quit();
    });
    if (!answer->has_value())
        loop.exec();
    return answer->value_or(QString());
}

QString KeyringPassword::InKeyringNote()
{
    return QStringLiteral("The password is kept in the desktop's keyring.");
}

QString KeyringPassword::InPreferencesNote()
{
    return QStringLiteral(
        "No keyring runs on this desktop: the password is kept in the preferences file.");
}
