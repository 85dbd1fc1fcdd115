#include "meterqx/QXMeterDoc.h"

#include "base/AppTitle.h"
#include "base/UserMessage.h"
#include "meterqx/QXFields.h"
#include "meterqx/QXMeterVars.h"

#include <QFileInfo>

QXMeterDoc::QXMeterDoc(QObject *parent)
    : CMeterDoc(parent)
{
}

QXMeterDoc::QXMeterDoc(const QString &version, QObject *parent)
    : CMeterDoc(version, parent)
{
}

bool QXMeterDoc::OnOpenDocument(const QString &path)
{
    QString line;
    SetOpenError(QString());
    if (!ReadMeterLine(path, &line))
        return false;
    // A file of a known layout must hold all of it: half an image would be shown and sent
    // with zeros for its missing bytes. One of no layout is shown and kept from being saved.
    const bool fits = OpenMeterLine(line, QFileInfo(path).fileName());
    return !fits || CheckWholeImage(path, line);
}

bool QXMeterDoc::OpenMeterLine(const QString &line, const QString &fileName)
{
    // Sections read exactly as named: the working version must not decide where this file's
    // bytes lie.
    const QString layoutFile = QStringLiteral("vars20.dat");
    QString section = MeterVars::DetectLayout(line, layoutFile);
    const bool fits = !section.isEmpty();
    std::unique_ptr<MeterVars> table;
    if (fits) {
        table = std::make_unique<MeterVars>(section, layoutFile);
        // A Kelvane file (renamed ".qxm") is shown as it fits, and kept from being saved over.
        SetLayoutMismatch(WarnOtherSeries(fileName, section, MeterSeries::Quixal));
    } else {
        // Saving would rewrite the whole file in this layout: Save refuses it.
        SetLayoutMismatch(true);
        section = QStringLiteral("[1.4A]");
        table = std::make_unique<QXMeterVars>(section, true);
        UserMessage::Show(QStringLiteral("%1 does not fit any meter layout (its key byte is not "
                                         "AA in any layout of vars20.dat): it may not be a "
                                         "meter file. It is shown in the Quixal %2 layout; do "
                                         "not save it over the original.")
                              .arg(fileName, section),
            QString::fromLatin1(kAppTitle));
    }
    table->ImageFromText(line);
    SetVars(std::move(table));
    return fits;
}

void QXMeterDoc::SetVersionQX(const QString &version)
{
    if (version.isEmpty())
        return;
    const QString section = QStringLiteral("[%1]").arg(version);
    Context().version = section;
    SetVars(std::make_unique<QXMeterVars>(section, &Context().version));
}

int QXMeterDoc::ConvertToQX(const QString &section)
{
    return ConvertInto(std::make_unique<QXMeterVars>(section, &Context().version));
}

QString QXMeterDoc::SectionForTarget(const QString &target)
{
    // The named rows of the Quixal table only: a version they do not name has no Quixal layout,
    // and the table's last row would put the data into one silently.
    static const char *const kRows[][2] = {
        { ">= 4.1A", "[4.1A]" },
        { "4.1A", "[4.1A]" },
        { "4.0x", "[4.0A]" },
        { "4.0A", "[4.0A]" },
        { "4.0B", "[4.0A]" },
        { "3.9G", "[3.9G]" },
        { "1.4A", "[1.4A]" },
        { "1.3A", "[1.0A]" },
        { "1.0A", "[1.0A]" },
    };
    for (const auto &row : kRows) {
        if (target == QLatin1String(row[0]))
            return QString::fromLatin1(row[1]);
    }
    return QString();
}

int QXMeterDoc::ConvertToVersionQX(const QString &target)
{
    const QString section = SectionForTarget(target);
    if (section.isEmpty())
        return 0;
    if (!ConvertInto(std::make_unique<QXMeterVars>(section, true)))
        return 0;
    Context().version = target;
    return 1;
}

void QXMeterDoc::VarsToFormQX(IFieldAccess &form)
{
    if (!Vars())
        return;
    QXFields::VarsToForm(*Vars(), form);
    Context().units = int(Vars()->Value(QStringLiteral("flow_func"), 1));
}

void QXMeterDoc::FormToVarsQX(IFieldAccess &form)
{
    if (!Vars())
        return;
    QXFields::FormToVars(*Vars(), form);
    Context().units = int(Vars()->Value(QStringLiteral("flow_func"), 1));
}

void QXMeterDoc::UnitsChangedQX(IFieldAccess &form, int newUnits)
{
    if (!Vars())
        return;
    QXFields::UnitsChanged(*Vars(), form, Context().units, newUnits);
    Context().units = newUnits;
}
