#include "meter/KelvaneSeriesModel.h"

#include "meter/CMeterDoc.h"
#include "meter/FieldIds.h"
#include "meter/KelvaneFieldRules.h"
#include "meter/KelvaneSheet.h"
#include "meter/KelvaneSheetReader.h"
#include "meter/MeterVars.h"
#include "meter/ZarnFormRules.h"

QString KelvaneSeriesModel::TitleOf(const QString &serial, const QString &range)
{
    return serial + QLatin1Char('_') + range;
}

KelvaneSeriesModel::KelvaneSeriesModel()
    : MeterSeriesModel(std::make_unique<CMeterDoc>())
{
    CMeterDoc *raw = m_doc.get();
    m_fields.LoadAlarms();
    m_fields.LoadUnits(KelvaneFields::UnitsFile(raw->RulesInForce().family));
    m_fields.SetVersionHandler([raw](const QString &version) {
        raw->SetMeterVersion(version);
        raw->SetVersion(version);
    });
    m_fields.SetRevisionHandler(
        [raw](const QString &revision) { raw->SetMeterRevision(revision); });
}

QString KelvaneSeriesModel::LayoutFile() const
{
    return QString::fromLatin1(MeterVars::kLayoutFile);
}

void KelvaneSeriesModel::Show()
{
    m_rules = m_doc->RulesInForce();
    if (KelvaneFields::UnitsFile(m_rules.family) != m_fields.UnitsFile())
        m_fields.LoadUnits(KelvaneFields::UnitsFile(m_rules.family));
    m_doc->VarsToForm(m_fields, m_rules);
}

void KelvaneSeriesModel::Collect(bool forFile)
{
    m_fields.SetCollectingForFile(forFile);
    m_doc->FormToVars(m_fields, m_rules);
    m_fields.SetCollectingForFile(false);
}

QString KelvaneSeriesModel::TakeImage(const QString &text)
{
    m_fields.LoadUnits(KelvaneFields::UnitsFile(m_doc->RulesInForce().family));
    m_doc->ImageFromText(text);
    Show();
    // The image holds the meter's active range: the form titles the document with it.
    const int range = ZarnFormRules::LeadingInt(m_fields.GetField(FieldId::DesiredRange));
    return range >= 1 && range <= 4 ? QString::number(range) : QString();
}

void KelvaneSeriesModel::PrepareSend(const QString &activeRange)
{
    m_fields.SetActive(activeRange);
    Collect(false);
    m_fields.SetField(FieldId::ImageText, m_doc->ImageToSendText());
}

bool KelvaneSeriesModel::Convert(const QString &target, QString *error)
{
    QString version = target.trimmed();
    if (version == QLatin1String("4.1A"))
        version = QStringLiteral(">= 4.1A");
    else if (version == QLatin1String("4.0A") || version == QLatin1String("4.0B"))
        version = QStringLiteral("4.0x");
    if (version != QLatin1String("3.9G") && version != QLatin1String("4.0x")
        && version != QLatin1String(">= 4.1A")) {
        *error = QStringLiteral("%1 is no Kelvane firmware to convert to: give 3.9G, 4.0x or "
                                "\">= 4.1A\".")
                     .arg(target);
        return false;
    }
    Collect(true);
    if (!m_doc->ConvertToVersion(version)) {
        *error = QStringLiteral("%1 holds no layout for firmware %2.").arg(LayoutFile(), version);
        return false;
    }
    Show();
    return true;
}

QString KelvaneSeriesModel::Serial()
{
    return m_fields.GetField(FieldId::SerialNumber);
}

QString KelvaneSeriesModel::Firmware()
{
    return m_doc->MeterVersion();
}

SheetPage KelvaneSeriesModel::Sheet(const SheetMetrics &metrics, const QDateTime &now)
{
    const QString section = Layout();
    QString version
        = m_doc->Context().version; // the label rule may settle it; the document's stays
    m_fields.ShowClock(m_rules, ZarnFormRules::TemplateLabel(section, version), now);
    return KelvaneSheet::Build(
        KelvaneSheetReader::Read(m_fields, m_doc->PathName(), section), metrics);
}

std::vector<MeterSeriesModel::Row> KelvaneSeriesModel::Rows()
{
    std::vector<Row> rows;
    const bool extended = Extended();
    for (const KelvaneFormFields::Caption &c : KelvaneFormFields::Captions()) {
        const QString caption = QLatin1String(c.caption);
        const FieldRule *rule = Rules().Find(c.id);
        if (!extended && rule && rule->early == FieldRule::Early::Hidden)
            continue; // hidden on the form before 4.1A
        if (c.id == FieldId::MeterVersion || c.id == FieldId::Revision) {
            const QString known
                = c.id == FieldId::MeterVersion ? m_rules.meterVersion : m_rules.revision;
            rows.push_back({ caption, c.id, ZarnFormRules::IdentityLabel(known) });
        } else if (rule && rule->kind == FieldRule::Kind::Coefficients) {
            const QStringList &list = m_fields.Coefficients(c.id);
            for (int i = 0; i < list.size(); ++i)
                rows.push_back({ QStringLiteral("%1[%2]").arg(caption).arg(i), c.id, list.at(i) });
        } else {
            rows.push_back({ caption, c.id, m_fields.ShownText(c.id) });
        }
    }
    return rows;
}

int KelvaneSeriesModel::IdOf(const QString &field) const
{
    return KelvaneFormFields::IdOf(field);
}

QString KelvaneSeriesModel::CaptionOf(int id) const
{
    return KelvaneFormFields::CaptionOf(id);
}

const FieldRules &KelvaneSeriesModel::Rules() const
{
    return KelvaneFieldRules::Table();
}

bool KelvaneSeriesModel::Extended() const
{
    return ZarnFormRules::HasExtendedFields(m_rules.family);
}

void KelvaneSeriesModel::StoreText(int id, const QString &text)
{
    m_fields.SetField(id, text);
}

QString KelvaneSeriesModel::StoreCoefficient(
    int id, int index, const QString &text, const QString &caption)
{
    if (id == FieldId::PointWiseList
        && index < ZarnFormRules::FirstEditable(ZarnFormRules::CoeffList::PointWise))
        return QStringLiteral("The 0 % point of Point-Wise is fixed.");
    if (!m_fields.SetCoefficient(id, index, text))
        return QStringLiteral("%1 has no line %2.").arg(caption).arg(index);
    return QString();
}

QString KelvaneSeriesModel::Take(
    const FieldRule &rule, const QString &value, const QString &caption)
{
    const int id = rule.id;
    const QString t = value.trimmed();
    switch (id) {
    case FieldId::Units: {
        const int line = m_fields.FindUnits(value);
        if (line < 0)
            return QStringLiteral("\"%1\" is no choice of Engineering Units.").arg(value);
        const int units = ZarnFormRules::UnitsOfLine(m_fields.UnitsLines().at(line));
        m_fields.SelectUnits(line);
        m_doc->Context().units = int(m_doc->Vars()->Value(QStringLiteral("flow_func"), 1));
        m_doc->UnitsChanged(m_fields, units, m_rules);
        return QString();
    }
    case FieldId::CurveFit: {
        int choice = KelvaneFields::CurveFitIndex(t);
        if (t.size() == 1 && t.at(0) >= QLatin1Char('0') && t.at(0) <= QLatin1Char('3'))
            choice = t.toInt();
        else if (choice == 0 && t.compare(KelvaneFields::CurveFitText(0), Qt::CaseInsensitive))
            return QStringLiteral("\"%1\" is no Curve Fit choice.").arg(value);
        choice = ZarnFormRules::CurveFitAfterPick(choice, m_rules.family);
        m_fields.SetField(FieldId::CurveFit, QString::number(choice));
        return QString();
    }
    case FieldId::DesiredRange: {
        const int n = ZarnFormRules::LeadingInt(value);
        if (n < 1 || n > 4 || t != QString::number(n))
            return QStringLiteral("Desired is a range from 1 to 4.");
        m_fields.SetField(FieldId::DesiredRange, QString::number(n));
        m_fields.SetField(FieldId::DesiredHidden, QString::number(n));
        return QString();
    }
    case FieldId::CalibrationDue:
        if (!ZarnFormRules::IsCalibrationDate(value))
            return QStringLiteral("\"%1\" is not a calibration date.\nType it as mm/dd/yy "
                                  "(12/25/27) or dd.mm.yy (25.12.27).")
                .arg(value);
        m_fields.SetField(id, t);
        return QString();
    default: {
        // The four relay functions.
        const int line = m_fields.FindAlarm(value);
        if (line < 0)
            return QStringLiteral("\"%1\" is no choice of %2.").arg(value, caption);
        m_fields.SetField(id, KelvaneFormFields::Tail(m_fields.AlarmLines().at(line), 3));
        return QString();
    }
    }
}

std::unique_ptr<MeterVars> KelvaneSeriesModel::MakeTable(const QString &section) const
{
    return std::make_unique<MeterVars>(section, &m_doc->Context().version);
}
