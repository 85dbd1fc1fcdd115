#include "base/OperatorIds.h"

#include "base/CPrefs.h"

#include <QFile>
#include <QSettings>

namespace {
const QString kSection = QStringLiteral("Printer");

// The table maps passcodes to names: only the user may read the file that holds it.
void Protect(const QSettings &store)
{
    if (QFile::exists(store.fileName()))
        QFile::setPermissions(store.fileName(), QFile::ReadOwner | QFile::WriteOwner);
}
} // namespace

bool OperatorIds::IsValidId(const QString &id)
{
    return !id.isEmpty() && id.size() <= kMaxIdLength && !id.contains(QLatin1Char('/'))
        && !id.contains(QLatin1Char('\\'));
}

QString OperatorIds::NameOf(const QString &id)
{
    if (!IsValidId(id))
        return QString();
    auto store = CPrefs::OpenStore();
    Protect(*store);
    return CPrefs::ReadText(*store, kSection, id);
}

OperatorIds::Result OperatorIds::Accept(const QString &field)
{
    Result result;
    const qsizetype bar = field.indexOf(QLatin1Char('|'));
    if (bar < 0) {
        result.name = NameOf(field);
    } else {
        const QString name = field.left(bar);
        const QString id = field.mid(bar + 1);
        if (name.isEmpty() || id.isEmpty()) {
            result.message = QStringLiteral(
                "To register an operator, enter the name, a \"|\" and the ID (for example "
                "Jane Doe|1234).");
            return result;
        }
        if (id.size() > kMaxIdLength) {
            result.message
                = QStringLiteral("An operator ID has at most %1 characters.").arg(kMaxIdLength);
            return result;
        }
        if (!IsValidId(id)) {
            result.message = QStringLiteral("An operator ID may not contain \"/\" or \"\\\".");
            return result;
        }
        auto store = CPrefs::OpenStore();
        store->setValue(kSection + QLatin1Char('/') + id, name);
        store->sync();
        if (store->status() != QSettings::NoError) {
            result.message = QStringLiteral("The operator could not be registered: the "
                                            "preferences file %1 cannot be written.")
                                 .arg(store->fileName());
            return result;
        }
        Protect(*store);
        result.name = name;
    }
    if (result.name.isEmpty())
        result.name = QStringLiteral("Anon");
    result.accepted = true;
    return result;
}
