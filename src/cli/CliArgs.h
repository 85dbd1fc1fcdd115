#pragma once

#include "cli/CliHelp.h"

#include <QHash>
#include <QString>
#include <QStringList>

// A command's arguments checked against its row of the help table: its options (with their
// values, "--name VALUE" or "--name=VALUE") and its plain arguments, in order.
class CliArgs
{
public:
    // Parses args (after the command name); false with Error() set for an unknown option or one
    // missing its value.
    bool Parse(const CliHelp::Command &command, const QStringList &args);
    QString Error() const { return m_error; }

    bool Has(const QString &option) const { return m_values.contains(option); }
    QString Value(const QString &option) const { return m_values.value(option); }
    const QStringList &Plain() const { return m_plain; }

private:
    QHash<QString, QString> m_values;
    QStringList m_plain;
    QString m_error;
};
