#include "meterqx/QuixalDocSeries.h"

#include "base/AppTitle.h"
#include "base/UserMessage.h"
#include "meter/CMeterDoc.h"
#include "meterqx/QXFields.h"
#include "meterqx/QXMeterVars.h"

const QuixalDocSeries &QuixalDocSeries::Instance()
{
    static const QuixalDocSeries series;
    return series;
}

std::unique_ptr<MeterVars> QuixalDocSeries::Table(const QString &requested, QString *version) const
{
    return std::make_unique<QXMeterVars>(requested, version);
}

bool QuixalDocSeries::Open(CMeterDoc &doc, const QString &line, const QString &fileName) const
{
    const QString layoutFile = QStringLiteral("vars20.dat");
    QString section = MeterVars::DetectLayout(line, layoutFile);
    const bool fits = !section.isEmpty();
    std::unique_ptr<MeterVars> table;
    if (fits) {
        table = std::make_unique<MeterVars>(section, layoutFile);
        // A Kelvane file (renamed ".qxm") is shown as it fits, and kept from being saved over.
        doc.SetLayoutMismatch(CMeterDoc::WarnOtherSeries(fileName, section, Series()));
    } else {
        // Saving would rewrite the whole file in this layout: Save refuses it.
        doc.SetLayoutMismatch(true);
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
    doc.SetVars(std::move(table));
    // A file of a known layout must hold all of it: half an image would be shown and sent
    // with zeros for its missing bytes. One of no layout is shown and kept from being saved.
    return !fits || doc.CheckWholeImage(fileName, line);
}

QString QuixalDocSeries::SectionForTarget(const QString &target)
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

int QuixalDocSeries::ConvertToVersion(CMeterDoc &doc, const QString &target) const
{
    const QString section = SectionForTarget(target);
    if (section.isEmpty())
        return 0;
    if (!doc.ConvertInto(std::make_unique<QXMeterVars>(section, true)))
        return 0;
    doc.Context().version = target;
    return 1;
}

void QuixalDocSeries::VarsToForm(
    MeterVars &vars, IFieldAccess &form, const KelvaneFields::Rules &) const
{
    QXFields::VarsToForm(vars, form);
}

void QuixalDocSeries::FormToVars(
    MeterVars &vars, IFieldAccess &form, const KelvaneFields::Rules &) const
{
    QXFields::FormToVars(vars, form);
}

void QuixalDocSeries::UnitsChanged(MeterVars &vars, IFieldAccess &form, int oldUnits, int newUnits,
    const KelvaneFields::Rules &) const
{
    QXFields::UnitsChanged(vars, form, oldUnits, newUnits);
}
