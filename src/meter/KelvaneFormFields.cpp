#include "meter/KelvaneFormFields.h"

#include "base/PrintfText.h"
#include "meter/ChoiceList.h"
#include "meter/FieldCaptions.h"
#include "meter/FieldIds.h"
#include "meter/FieldTransfer.h"
#include "meter/KelvaneFieldRules.h"
#include "meter/KelvaneFields.h"
#include "meter/ZarnFormRules.h"

#include <QDateTime>

namespace {
const FieldRules &KelvaneRules()
{
    return KelvaneFieldRules::Table();
}
} // namespace

const FieldCaptions &KelvaneFormFields::Table()
{
    static const FieldCaptions table(
        {
            { FieldId::SerialNumber, "Serial Number" },
            { FieldId::MeterVersion, "Flow Meter" },
            { FieldId::Revision, "Revision" },
            { FieldId::DesiredRange, "Desired" },
            { FieldId::AlarmFunction0, "Relay #1 OFF Function" },
            { FieldId::AlarmValue0, "Relay #1 OFF Value" },
            { FieldId::AlarmDelay0, "Relay #1 OFF Trip Delay" },
            { FieldId::AlarmFunction1, "Relay #1 ON Function" },
            { FieldId::AlarmValue1, "Relay #1 ON Value" },
            { FieldId::AlarmDelay1, "Relay #1 ON Trip Delay" },
            { FieldId::AlarmFunction2, "Relay #2 OFF Function" },
            { FieldId::AlarmValue2, "Relay #2 OFF Value" },
            { FieldId::AlarmDelay2, "Relay #2 OFF Trip Delay" },
            { FieldId::AlarmFunction3, "Relay #2 ON Function" },
            { FieldId::AlarmValue3, "Relay #2 ON Value" },
            { FieldId::AlarmDelay3, "Relay #2 ON Trip Delay" },
            { FieldId::HoldFlow1, "Hold Flow (Relay #1)" },
            { FieldId::HoldFlow2, "Hold Flow (Relay #2)" },
        },
        {
            { FieldId::AdcGain, "ADC Gain" },
            { FieldId::AdcOffset, "ADC Offset" },
            { FieldId::AdcFilterEdit, "Input ADC Filter" },
            { FieldId::DacFilterEdit, "Output DAC Filter" },
            { FieldId::DacTimeEdit, "Output DAC Time" },
            { FieldId::Contrast, "Contrast" },
            { FieldId::Refresh, "Refresh" },
            { FieldId::LcdBlank, "LCD Blank" },
            { FieldId::CurveFit, "Curve Fit" },
            { FieldId::PrimaryList, "Primary" },
            { FieldId::SecondaryList, "Secondary" },
            { FieldId::PointWiseList, "Point-Wise" },
            { FieldId::Tracking, "Tracking ON" },
            { FieldId::Protocol, "Protocol On" },
            { FieldId::ModbusAddr, "Modbus Addr" },
            { FieldId::CalibrationDue, "Calibration Due" },
            { FieldId::Password, "Password" },
            { FieldId::Watchdog, "Watchdog Timer" },
            { FieldId::UpPcba, "uP PCBA Number" },
        });
    return table;
}

const std::vector<KelvaneFormFields::Caption> &KelvaneFormFields::Captions()
{
    return Table().All();
}

int KelvaneFormFields::IdOf(const QString &text)
{
    return Table().IdOf(text);
}

QString KelvaneFormFields::CaptionOf(int id)
{
    return Table().CaptionOf(id);
}

QString KelvaneFormFields::Tail(const QString &line, int n)
{
    return ChoiceList::Tail(line, n);
}

int KelvaneFormFields::AlarmLine(const QStringList &lines, const QString &code)
{
    return ChoiceList::FindTail(lines, code, 3);
}

int KelvaneFormFields::UnitsLine(const QStringList &lines, const QString &text)
{
    for (int i = 0; i < lines.size(); ++i)
        if (lines.at(i).startsWith(text))
            return i;
    return -1;
}

KelvaneFormFields::KelvaneFormFields()
{
    for (int id : KelvaneRules().IdsOf(FieldRule::Kind::Box))
        m_box[id] = false;
    for (int id : KelvaneRules().IdsOf(FieldRule::Kind::Coefficients))
        m_lists[id];
}

void KelvaneFormFields::LoadUnits(const QString &unitsFile)
{
    m_unitsFile = unitsFile;
    m_unitsLines = ChoiceList::Read(unitsFile);
    m_units = m_unitsLines.isEmpty() ? -1 : 0;
}

void KelvaneFormFields::LoadAlarms()
{
    m_alarmLines = ChoiceList::Read(QStringLiteral("alarms20.dat"));
    m_alarm.fill(m_alarmLines.isEmpty() ? -1 : 0);
}

int KelvaneFormFields::FindUnits(const QString &wording) const
{
    const QString wanted = wording.trimmed();
    if (wanted.isEmpty())
        return -1;
    // The whole line, its code (the last four characters), or the words before the code.
    for (int i = 0; i < m_unitsLines.size(); ++i) {
        const QString line = m_unitsLines.at(i);
        if (line.trimmed().compare(wanted, Qt::CaseInsensitive) == 0 || Tail(line, 4) == wanted
            || line.left(4).trimmed().compare(wanted, Qt::CaseInsensitive) == 0)
            return i;
    }
    for (int i = 0; i < m_unitsLines.size(); ++i) {
        const QString words = m_unitsLines.at(i).left(m_unitsLines.at(i).size() - 4).trimmed();
        if (words.compare(wanted, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

int KelvaneFormFields::FindAlarm(const QString &wording) const
{
    const QString wanted = wording.trimmed();
    if (wanted.isEmpty())
        return -1;
    for (int i = 0; i < m_alarmLines.size(); ++i) {
        const QString line = m_alarmLines.at(i);
        if (line.trimmed().compare(wanted, Qt::CaseInsensitive) == 0 || Tail(line, 3) == wanted
            || line.left(line.size() - 4).trimmed().compare(wanted, Qt::CaseInsensitive) == 0
            || line.left(10).trimmed().compare(wanted, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

bool KelvaneFormFields::SetCoefficient(int listId, int index, const QString &text)
{
    QStringList &list = m_lists[listId];
    if (index < 0 || index >= list.size())
        return false;
    list[index] = text;
    return true;
}

QString KelvaneFormFields::ShownText(int id)
{
    if (const auto label = m_labels.find(id); label != m_labels.end())
        return *label;
    if (id == FieldId::Units)
        return m_units < 0 || m_units >= m_unitsLines.size() ? QString() : m_unitsLines.at(m_units);
    if (id >= FieldId::AlarmFunction0 && id <= FieldId::AlarmFunction3) {
        const int line = m_alarm[size_t(id - FieldId::AlarmFunction0)];
        return line < 0 || line >= m_alarmLines.size() ? QString() : m_alarmLines.at(line);
    }
    if (KelvaneRules().Is(id, FieldRule::Kind::Coefficients))
        return m_lists.value(id).join(QLatin1Char(' '));
    return GetField(id);
}

bool KelvaneFormFields::ShownTicked(int id)
{
    return m_box.value(id, false);
}

int KelvaneFormFields::ShownPosition(int id)
{
    return id == FieldId::Contrast ? m_contrast : id == FieldId::Refresh ? m_refresh : 0;
}

void KelvaneFormFields::SetSlider(int id, int position, bool moved)
{
    int &value = id == FieldId::Contrast ? m_contrast : m_refresh;
    QString &given = id == FieldId::Contrast ? m_contrastGiven : m_refreshGiven;
    value = position;
    if (moved)
        given.clear();
}

void KelvaneFormFields::ShowClock(
    const KelvaneFields::Rules &rules, const QString &templateLabel, const QDateTime &now)
{
    m_text[FieldId::TimeField] = ZarnFormRules::TimeText(now.time(), false);
    m_text[FieldId::DateField] = ZarnFormRules::DateText(now.date(), false);
    m_labels[FieldId::MeterVersion] = ZarnFormRules::IdentityLabel(rules.meterVersion);
    m_labels[FieldId::Revision] = ZarnFormRules::IdentityLabel(rules.revision);
    m_labels[FieldId::TemplateVersion] = ZarnFormRules::TemplateShown(rules.family, templateLabel);
    m_labels[FieldId::ActiveRange] = QStringLiteral("?");
}

const QStringList &KelvaneFormFields::Coefficients(int listId) const
{
    static const QStringList none;
    const auto it = m_lists.find(listId);
    return it == m_lists.end() ? none : *it;
}

void KelvaneFormFields::SetField(int id, const QString &rawText)
{
    if (!ZarnFormRules::IsFormId(id))
        return;
    const QString text = ZarnFormRules::TrimForField(id, rawText);
    const int n = ZarnFormRules::LeadingInt(text);

    // The fields with a store of their own first, then the others as their kind says.
    switch (id) {
    case FieldId::AlarmFunction0:
    case FieldId::AlarmFunction1:
    case FieldId::AlarmFunction2:
    case FieldId::AlarmFunction3:
        m_alarm[size_t(id - FieldId::AlarmFunction0)] = AlarmLine(m_alarmLines, text);
        return;
    case FieldId::Units:
        if (const int line = UnitsLine(m_unitsLines, text); line >= 0)
            m_units = line;
        return;
    case FieldId::CurveFit:
        if (!text.isEmpty() && text.at(0).isDigit() && n >= 0 && n <= 3) {
            m_curveFit = n;
        }
        return;
    case FieldId::DesiredHidden:
        m_text[FieldId::DesiredHidden] = QString::number(qint64(n) - 1); // n may be INT_MIN
        return;
    case FieldId::Contrast:
        m_contrast = qBound(0, n, 255); // the slider's range
        m_contrastGiven = QString::number(n);
        return;
    case FieldId::Refresh:
        m_refresh = qBound(1, n, 100);
        m_refreshGiven = QString::number(n);
        return;
    case FieldId::MeterVersion:
        m_text[FieldId::MeterVersion] = text;
        if (m_onVersion)
            m_onVersion(text);
        return;
    case FieldId::Revision:
        m_text[FieldId::Revision] = text;
        if (m_onRevision)
            m_onRevision(text);
        return;
    case FieldId::ImageText:
    case FieldId::SecondaryEdit:
    case FieldId::PointWiseEdit:
        m_imageText = text;
        return;
    case FieldId::PrimaryReset:
        m_lists[FieldId::PrimaryList].clear();
        return;
    case FieldId::SecondaryReset:
        m_lists[FieldId::SecondaryList].clear();
        return;
    case FieldId::PointWiseReset:
        m_lists[FieldId::PointWiseList].clear();
        return;
    case FieldId::DesiredRange:
        m_desired = n >= 1 && n <= 4 ? n - 1 : -1;
        return;
    default:
        break;
    }
    const FieldRules &rules = KelvaneRules();
    if (rules.HoldsText(id))
        m_text[rules.FieldOf(id)]
            = rules.Changed(id, text); // Zero Offset's bounds, whoever sets it
    else if (rules.Is(id, FieldRule::Kind::Box))
        m_box[id] = text == QLatin1String("TRUE");
    else if (rules.Is(id, FieldRule::Kind::Coefficients))
        m_lists[id].append(text);
}

QString KelvaneFormFields::GetField(int id)
{
    if (!ZarnFormRules::IsFormId(id))
        return QString();
    switch (id) {
    case FieldId::AlarmFunction0:
    case FieldId::AlarmFunction1:
    case FieldId::AlarmFunction2:
    case FieldId::AlarmFunction3: {
        const int line = m_alarm[size_t(id - FieldId::AlarmFunction0)];
        return line < 0 || line >= m_alarmLines.size() ? QString() : Tail(m_alarmLines.at(line), 4);
    }
    case FieldId::Units:
        return m_units < 0 || m_units >= m_unitsLines.size() ? QString()
                                                             : Tail(m_unitsLines.at(m_units), 4);
    case FieldId::CurveFit:
        return KelvaneFields::CurveFitText(m_curveFit);
    case FieldId::Contrast:
        return m_contrastGiven.isEmpty() ? PrintfText::Format("%d", m_contrast) : m_contrastGiven;
    case FieldId::Refresh:
        return m_refreshGiven.isEmpty() ? PrintfText::Format("%d", m_refresh) : m_refreshGiven;
    case FieldId::ActiveRange:
        return m_collectingForFile ? QString() : m_text.value(FieldId::ActiveRange);
    case FieldId::PrimaryReset:
    case FieldId::SecondaryReset:
    case FieldId::PointWiseReset:
        m_walkPos = 0;
        return QString();
    case FieldId::ImageText:
        return m_imageText;
    case FieldId::DesiredRange:
        return m_desired < 0 ? QString() : QString::number(m_desired + 1);
    default:
        break;
    }
    const FieldRules &rules = KelvaneRules();
    if (rules.HoldsText(id))
        return m_text.value(rules.FieldOf(id));
    if (rules.Is(id, FieldRule::Kind::Box))
        return FieldTransfer::Bool(m_box.value(id));
    if (rules.Is(id, FieldRule::Kind::Coefficients)) {
        const QStringList &list = m_lists[id];
        const int position = m_walkPos++;
        return position < 0 || position >= list.size() ? QString() : list.at(position);
    }
    return m_text.value(id);
}
