#include "support/PgCluster.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>

#include <pwd.h>
#include <unistd.h>

namespace {
QString PgNewestBin()
{
    QDir root(QStringLiteral("/usr/lib/postgresql"));
    QStringList versions = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(versions.begin(), versions.end(),
        [](const QString &a, const QString &b) { return a.toInt() > b.toInt(); });
    for (const QString &v : versions)
        if (QFile::exists(root.filePath(v + QStringLiteral("/bin/initdb"))))
            return root.filePath(v + QStringLiteral("/bin"));
    return QString();
}

int PgFreePort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    return server.serverPort();
}
} // namespace

PgCluster::PgCluster() = default;

PgCluster::~PgCluster()
{
    if (m_running)
        Stop();
}

QString PgCluster::Url() const
{
    return QStringLiteral("postgresql://%1@127.0.0.1:%2/%3")
        .arg(QLatin1String(kUser))
        .arg(m_port)
        .arg(QLatin1String(kDatabase));
}

bool PgCluster::Run(const QString &program, const QStringList &args, QString *output)
{
    QProcess process;
    // The server refuses to run as root: the postgres user runs it and its tools.
    if (geteuid() == 0)
        process.start(QStringLiteral("runuser"),
            QStringList { QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--"),
                QDir(m_bin).filePath(program) }
                + args);
    else
        process.start(QDir(m_bin).filePath(program), args);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        m_error = QStringLiteral("%1 failed: %2%3")
                      .arg(program, QString::fromLocal8Bit(process.readAllStandardError()),
                          process.errorString());
        return false;
    }
    if (output)
        *output = QString::fromLocal8Bit(process.readAllStandardOutput());
    return true;
}

bool PgCluster::Create()
{
    m_bin = PgNewestBin();
    if (m_bin.isEmpty()) {
        m_error = QStringLiteral("no PostgreSQL server under /usr/lib/postgresql");
        return false;
    }
    m_dir = std::make_unique<QTemporaryDir>(
        QDir::temp().filePath(QStringLiteral("tarvik-pg-XXXXXX")));
    if (!m_dir->isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    m_data = m_dir->filePath(QStringLiteral("data"));
    m_socket = m_dir->path();
    const QString pwfile = m_dir->filePath(QStringLiteral("pw"));
    {
        QFile pw(pwfile);
        if (!pw.open(QIODevice::WriteOnly) || pw.write("postgres\n") < 0)
            return false;
    }
    if (geteuid() == 0) {
        const passwd *pg = getpwnam("postgres");
        if (!pg) {
            m_error = QStringLiteral("no postgres user");
            return false;
        }
        for (const QString &path : { m_dir->path(), pwfile })
            if (chown(QFile::encodeName(path).constData(), pg->pw_uid, pg->pw_gid) != 0) {
                m_error = QStringLiteral("cannot hand %1 to postgres").arg(path);
                return false;
            }
    }
    if (!Run(QStringLiteral("initdb"),
            { QStringLiteral("-D"), m_data, QStringLiteral("-U"), QStringLiteral("postgres"),
                QStringLiteral("--auth-local=trust"), QStringLiteral("--auth-host=scram-sha-256"),
                QStringLiteral("--pwfile=") + pwfile, QStringLiteral("-E"), QStringLiteral("UTF8"),
                QStringLiteral("--no-sync") }))
        return false;
    m_port = PgFreePort();
    if (!Start())
        return false;
    return Psql(QStringLiteral("CREATE USER %1 PASSWORD '%2'")
                    .arg(QLatin1String(kUser), QLatin1String(kPassword)))
        && Psql(QStringLiteral("CREATE DATABASE %1 OWNER %2")
                    .arg(QLatin1String(kDatabase), QLatin1String(kUser)));
}

bool PgCluster::Start()
{
    m_running = Run(QStringLiteral("pg_ctl"),
        { QStringLiteral("-D"), m_data, QStringLiteral("-l"),
            m_dir->filePath(QStringLiteral("log")), QStringLiteral("-w"), QStringLiteral("-o"),
            QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off")
                .arg(m_port)
                .arg(m_socket),
            QStringLiteral("start") });
    return m_running;
}

bool PgCluster::Stop()
{
    const bool stopped = Run(QStringLiteral("pg_ctl"),
        { QStringLiteral("-D"), m_data, QStringLiteral("-w"), QStringLiteral("-m"),
            QStringLiteral("fast"), QStringLiteral("stop") });
    m_running = m_running && !stopped;
    return stopped;
}

bool PgCluster::Psql(const QString &sql, QString *output, const QString &database)
{
    return Run(QStringLiteral("psql"),
        { QStringLiteral("-h"), m_socket, QStringLiteral("-p"), QString::number(m_port),
            QStringLiteral("-U"), QStringLiteral("postgres"), QStringLiteral("-d"),
            database.isEmpty() ? QStringLiteral("postgres") : database, QStringLiteral("-tAX"),
            QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-c"), sql },
        output);
}
