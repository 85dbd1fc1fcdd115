#pragma once

#include <QString>
#include <QTemporaryDir>

#include <memory>

// A throw-away PostgreSQL cluster for the tests and benchmarks: initdb and pg_ctl of the
// newest server under /usr/lib/postgresql, run as the postgres user when this process is root,
// on a free 127.0.0.1 port with its socket in a folder of its own; stopped and removed with the
// object. The superuser connects through the socket; user "tarvik" (password kPassword) owns
// database "records" and connects over TCP with its password.
class PgCluster
{
public:
    static constexpr const char *kUser = "tarvik";
    static constexpr const char *kPassword = "bench-secret";
    static constexpr const char *kDatabase = "records";

    PgCluster();
    ~PgCluster();
    // Creates and starts the cluster; false with Error() (no server installed, initdb failed).
    bool Create();
    bool Start();
    bool Stop();
    int Port() const { return m_port; }
    QString Error() const { return m_error; }
    // "postgresql://tarvik@127.0.0.1:PORT/records".
    QString Url() const;
    // Runs sql as the superuser in database; its output, or nothing (and Error()) on failure.
    bool Psql(const QString &sql, QString *output = nullptr, const QString &database = QString());

private:
    bool Run(const QString &program, const QStringList &args, QString *output = nullptr);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_bin;
    QString m_data;
    QString m_socket;
    int m_port = 0;
    bool m_running = false;
    QString m_error;
};
