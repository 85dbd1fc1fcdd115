#include "meter/KelvaneDocSeries.h"

#include "base/AppServices.h"
#include "base/AppTitle.h"
#include "base/CPrefs.h"
#include "base/MeterSession.h"
#include "base/UserMessage.h"
#include "meter/CMeterDoc.h"
#include "meter/MeterVars.h"

namespace {

// The version a user selects in the settings to read a file of a section.
QString VersionForSection(const QString &section)
{
    if (section == QLatin1String("[4.0A]"))
        return QStringLiteral("4.0x");
    if (section == QLatin1String("[4.1A]"))
        return QStringLiteral(">= 4.1A");
    return section.mid(1, 4);
}

// The firmware version selected in the settings.
QString SettingsVersion()
{
    CPrefs prefs;
    return prefs.GetVersion();
}

// Two version texts that build the same layout ("4.1A" and ">= 4.1A", "4.0x" and "[4.0A]").
bool SameVersion(const QString &a, const QString &b)
{
    auto family = [](const QString &v) {
        if (v == QLatin1String("3.9G") || v == QLatin1String("[3.9G]"))
            return QStringLiteral("3.9G");
        if (v == QLatin1String("4.0x") || v == QLatin1String("[4.0A]")
            || v == QLatin1String("[4.0B]"))
            return QStringLiteral("4.0x");
        return v.isEmpty() ? QString() : QStringLiteral(">= 4.1A");
    };
    return family(a) == family(b);
}

} // namespace

const KelvaneDocSeries &KelvaneDocSeries::Instance()
{
    static const KelvaneDocSeries series;
    return series;
}

const MeterDocSeries &MeterDocSeries::Kelvane()
{
    return KelvaneDocSeries::Instance();
}

std::unique_ptr<MeterVars> KelvaneDocSeries::Table(const QString &requested, QString *version) const
{
    return std::make_unique<MeterVars>(requested, version);
}

bool KelvaneDocSeries::ChooseLayoutFromMeter(CMeterDoc &doc)
{
    const QString m = AppServices::Meter().Version();
    QString &version = doc.Context().version;
    if (m == QLatin1String("3.9G")) {
        version = QStringLiteral("3.9G");
    } else if (m == QLatin1String("4.0A") || m == QLatin1String("4.0B")) {
        version = QStringLiteral("4.0x");
    } else if (doc.WindowKind() == 5
        && QStringList({ "1.4A", "1.3A", "1.2B", "1.2A", "1.1A", "1.0A" }).contains(m)) {
        // a Quixal form opening for a Quixal meter keeps its version
        return false;
    } else if (!m.isEmpty()) {
        version = QStringLiteral(">= 4.1A");
    } else {
        // No meter identified: the version chosen in the settings stays in force.
        return false;
    }
    return true;
}

bool KelvaneDocSeries::Open(CMeterDoc &doc, const QString &line, const QString &fileName) const
{
    const bool meterChose = ChooseLayoutFromMeter(doc);
    MeterContext &context = doc.Context();
    const QString versionInForce = context.version;
    if (MeterSeries::OfVersion(AppServices::Meter().Version()) != MeterSeries::Quixal) {
        context.meterVersion = AppServices::Meter().Version();
        context.revision = AppServices::Meter().Revision();
    }

    std::unique_ptr<MeterVars> table;
    const bool fits = !MeterVars::DetectSection(line, &context.version, &table).isEmpty();
    if (!fits)
        table = Table(QStringLiteral("[?.??]"), &context.version);
    doc.SetVars(std::move(table));
    // A file of a known layout must hold all of it: half an image would be shown and sent with
    // zeros for its missing bytes. One of no layout is shown with a warning and kept from being
    // saved over (below).
    if (fits && !doc.CheckWholeImage(fileName, line))
        return false;
    MeterVars &vars = *doc.Vars();
    vars.ImageFromText(line);

    // A Quixal file (renamed ".mtr") fits a Quixal section of vars20.dat: shown, never rewritten
    // by this form's vocabulary.
    if (CMeterDoc::WarnOtherSeries(fileName, vars.SectionName(), Series())) {
        doc.SetLayoutMismatch(true);
        return true;
    }
    const bool mismatch
        = vars.Has(QStringLiteral("key")) && vars.Value(QStringLiteral("key"), 1) != 0xAA;
    doc.SetLayoutMismatch(mismatch);
    if (mismatch)
        WarnLayoutMismatch(doc, fileName, line, meterChose, versionInForce);
    return true;
}

void KelvaneDocSeries::WarnLayoutMismatch(const CMeterDoc &doc, const QString &fileName,
    const QString &line, bool meterChose, const QString &versionInForce)
{
    const QString found = MeterVars::DetectLayout(line, QStringLiteral("vars20.dat"));
    QString text = QStringLiteral("%1 does not fit the meter layout in force (%2): its data are "
                                  "shown in the wrong places.\n\n")
                       .arg(fileName, doc.Vars()->SectionName());
    if (found.isEmpty())
        text += QStringLiteral("No layout of vars20.dat fits this file; it may not be a meter "
                               "file. Do not save it over the original.");
    else if (meterChose)
        // Opening again changes nothing while that meter stays identified.
        text += QStringLiteral("The layout in force follows the meter identified in the terminal "
                               "(firmware %1), not the settings. The file was written with the "
                               "layout %2 (firmware %3). Do not save it over the original; to "
                               "read it, open it with a meter of firmware %3 connected, or "
                               "restart the program with %3 selected in the settings.")
                    .arg(AppServices::Meter().Version(), found, VersionForSection(found));
    else if (!SameVersion(versionInForce, SettingsVersion()))
        text += QStringLiteral("The firmware version in force (%1) was set by the last meter "
                               "window opened or meter read, not by the settings (%2). The file "
                               "was written with the layout %3. Select the firmware version %4 "
                               "in the settings and open the file again before saving it.")
                    .arg(versionInForce.isEmpty() ? QStringLiteral("none") : versionInForce,
                        SettingsVersion(), found, VersionForSection(found));
    else
        text += QStringLiteral("The file was written with the layout %1, but the settings select "
                               "the firmware version %2. Select the firmware version %3 in the "
                               "settings and open the file again before saving it.")
                    .arg(found, SettingsVersion(), VersionForSection(found));
    UserMessage::Show(text, QString::fromLatin1(kAppTitle));
}

int KelvaneDocSeries::ConvertToVersion(CMeterDoc &doc, const QString &target) const
{
    doc.Context().version = target;
    return doc.ConvertTo(QStringLiteral("[%1]").arg(target));
}

void KelvaneDocSeries::VarsToForm(
    MeterVars &vars, IFieldAccess &form, const KelvaneFields::Rules &rules) const
{
    KelvaneFields::VarsToForm(vars, form, rules);
}

void KelvaneDocSeries::FormToVars(
    MeterVars &vars, IFieldAccess &form, const KelvaneFields::Rules &rules) const
{
    KelvaneFields::FormToVars(vars, form, rules);
}

void KelvaneDocSeries::UnitsChanged(MeterVars &vars, IFieldAccess &form, int oldUnits, int newUnits,
    const KelvaneFields::Rules &rules) const
{
    KelvaneFields::UnitsChanged(vars, form, oldUnits, newUnits, rules);
}
