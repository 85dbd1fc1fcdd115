#include "records/RecordsPassword.h"

#include <qt6keychain/keychain.h>

namespace {
const QString kRecordsKeyringService = QStringLiteral("Tarvik");
} // namespace

void RecordsPassword::Write(const QString &account, const QString &password,
    std::function<void(const QString &)> store, std::function<void(bool)> done)
{
    auto *job = new QKeychain::WritePasswordJob(kRecordsKeyringService);
    job->setAutoDelete(true);
    job->setKey(account);
    job->setTextData(password);
    QObject::connect(job, &QKeychain::Job::finished, job,
        [store = std::move(store), done = std::move(done), password](QKeychain::Job *finished) {
            const bool inKeyring = finished->error() == QKeychain::NoError;
            // The preferences keep the password only while no keyring does.
            store(inKeyring ? QString() : password);
            done(inKeyring);
        });
    job->start();
}

void RecordsPassword::Read(const QString &account, std::function<void(const QString &)> done)
{
    auto *job = new QKeychain::ReadPasswordJob(kRecordsKeyringService);
    job->setAutoDelete(true);
    job->setKey(account);
    QObject::connect(
        job, &QKeychain::Job::finished, job, [done = std::move(done)](QKeychain::Job *finished) {
            done(finished->error() == QKeychain::NoError
                    ? static_cast<QKeychain::ReadPasswordJob *>(finished)->textData()
                    : QString());
        });
    job->start();
}
