#include "cli/CliArgs.h"

namespace {
const CliHelp::Option *FindOption(const CliHelp::Command &command, const QString &name)
{
    for (const CliHelp::Option &option : command.options)
        if (name == QLatin1String(option.name))
            return &option;
    for (const CliHelp::Option &option : CliHelp::LineOptions(command))
        if (name == QLatin1String(option.name))
            return &option;
    for (const CliHelp::Option &option : CliHelp::CommonOptions())
        if (name == QLatin1String(option.name))
            return &option;
    return nullptr;
}
} // namespace

bool CliArgs::Parse(const CliHelp::Command &command, const QStringList &args)
{
    m_values.clear();
    m_plain.clear();
    m_error.clear();
    bool optionsEnded = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString arg = args.at(i);
        if (optionsEnded || arg == QLatin1String("-") || !arg.startsWith(QLatin1Char('-'))) {
            m_plain << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true; // a file whose name begins with "-" follows
            continue;
        }
        if (arg == QLatin1String("-h")) {
            m_values.insert(QStringLiteral("--help"), QString());
            continue;
        }
        if (!arg.startsWith(QLatin1String("--"))) {
            m_error = QStringLiteral("%1 takes no option %2 (a file named so is given after "
                                     "\"--\").")
                          .arg(QLatin1String(command.name), arg);
            return false;
        }
        const int equals = arg.indexOf(QLatin1Char('='));
        const QString name = equals < 0 ? arg : arg.left(equals);
        const CliHelp::Option *option = FindOption(command, name);
        if (!option) {
            m_error
                = QStringLiteral("%1 takes no option %2.").arg(QLatin1String(command.name), name);
            return false;
        }
        if (!*option->value) {
            if (equals >= 0) {
                m_error = QStringLiteral("%1 takes no value.").arg(name);
                return false;
            }
            m_values.insert(name, QString());
            continue;
        }
        if (equals >= 0) {
            m_values.insert(name, arg.mid(equals + 1));
        } else if (i + 1 < args.size()) {
            m_values.insert(name, args.at(++i));
        } else {
            m_error
                = QStringLiteral("%1 needs a value (%2).").arg(name, QLatin1String(option->value));
            return false;
        }
    }
    return true;
}
