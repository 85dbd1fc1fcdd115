#include "meter/KelvaneFormFields.h"

#include "base/PrintfText.h"
#include "meter/ChoiceList.h"
#include "meter/FieldCaptions.h"
#include "meter/KelvaneFields.h"
#include "meter/ZarnFormRules.h"

#include <QDateTime>

namespace {
QString BoxText(bool on)
{
    return on ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
}
} // namespace

const FieldCaptions &KelvaneFormFields::Table()
{
    static const FieldCaptions table(
        {
            { 1048, "Serial Number" },
            { 1049, "Flow Meter" },
            { 1084, "Revision" },
            { 1115, "Desired" },
            { 1006, "Relay #1 OFF Function" },
            { 1010, "Relay #1 OFF Value" },
            { 1014, "Relay #1 OFF Trip Delay" },
            { 1007, "Relay #1 ON Function" },
            { 1011, "Relay #1 ON Value" },
            { 1015, "Relay #1 ON Trip Delay" },
            { 1008, "Relay #2 OFF Function" },
            { 1012, "Relay #2 OFF Value" },
            { 1016, "Relay #2 OFF Trip Delay" },
            { 1009, "Relay #2 ON Function" },
            { 1013, "Relay #2 ON Value" },
            { 1017, "Relay #2 ON Trip Delay" },
            { 1033, "Hold Flow (Relay #1)" },
            { 1034, "Hold Flow (Relay #2)" },
        },
        {
            { 1069, "ADC Gain" },
            { 1070, "ADC Offset" },
            { 1027, "Input ADC Filter" },
            { 1021, "Output DAC Filter" },
            { 1023, "Output DAC Time" },
            { 1029, "Contrast" },
            { 1030, "Refresh" },
            { 1056, "LCD Blank" },
            { 1005, "Curve Fit" },
            { 1047, "Primary" },
            { 1057, "Secondary" },
            { 1061, "Point-Wise" },
            { 1032, "Tracking ON" },
            { 1065, "Protocol On" },
            { 1035, "Modbus Addr" },
            { 1054, "Calibration Due" },
            { 1045, "Password" },
            { 1068, "Watchdog Timer" },
            { 1066, "uP PCBA Number" },
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

bool KelvaneFormFields::IsPlainTextId(int id)
{
    return (id >= 1010 && id <= 1018) || id == 1022 || id == 1024 || id == 1028
        || (id >= 1035 && id <= 1039) || (id >= 1043 && id <= 1045) || id == 1048 || id == 1053
        || id == 1054 || id == 1066 || (id >= 1068 && id <= 1070);
}

int KelvaneFormFields::EditIdOf(int id)
{
    return id == 1022 ? 1021 : id == 1024 ? 1023 : id == 1028 ? 1027 : id;
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

bool KelvaneFormFields::IsListId(int id)
{
    return id == 1047 || id == 1057 || id == 1061;
}

bool KelvaneFormFields::IsBoxId(int id)
{
    return id == 1032 || id == 1033 || id == 1034 || id == 1065;
}

KelvaneFormFields::KelvaneFormFields()
{
    for (int id : { 1032, 1033, 1034, 1065 })
        m_box[id] = false;
    for (int id : { 1047, 1057, 1061 })
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
    if (id == 1004)
        return m_units < 0 || m_units >= m_unitsLines.size() ? QString() : m_unitsLines.at(m_units);
    if (id >= 1006 && id <= 1009) {
        const int line = m_alarm[size_t(id - 1006)];
        return line < 0 || line >= m_alarmLines.size() ? QString() : m_alarmLines.at(line);
    }
    if (IsListId(id))
        return m_lists.value(id).join(QLatin1Char(' '));
    return GetField(id);
}

bool KelvaneFormFields::ShownTicked(int id)
{
    return id == 1056 ? m_lcdBlank : m_box.value(id, false);
}

int KelvaneFormFields::ShownPosition(int id)
{
    return id == 1029 ? m_contrast : id == 1030 ? m_refresh : 0;
}

void KelvaneFormFields::SetSlider(int id, int position, bool moved)
{
    int &value = id == 1029 ? m_contrast : m_refresh;
    QString &given = id == 1029 ? m_contrastGiven : m_refreshGiven;
    value = position;
    if (moved)
        given.clear();
}

void KelvaneFormFields::ShowClock(
    const KelvaneFields::Rules &rules, const QString &templateLabel, const QDateTime &now)
{
    m_text[1044] = ZarnFormRules::TimeText(now.time(), false);
    m_text[1043] = ZarnFormRules::DateText(now.date(), false);
    m_labels[1049] = ZarnFormRules::IdentityLabel(rules.meterVersion);
    m_labels[1084] = ZarnFormRules::IdentityLabel(rules.revision);
    m_labels[1067] = ZarnFormRules::TemplateShown(rules.family, templateLabel);
    m_labels[1114] = QStringLiteral("?");
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

    if (IsPlainTextId(id)) {
        // Zero Offset is bounded on every change, whoever makes it.
        m_text[EditIdOf(id)] = id == 1037 ? ZarnFormRules::LimitZeroOffset(text) : text;
        return;
    }
    if (id >= 1006 && id <= 1009) {
        m_alarm[size_t(id - 1006)] = AlarmLine(m_alarmLines, text);
        return;
    }
    if (IsBoxId(id)) {
        m_box[id] = text == QLatin1String("TRUE");
        return;
    }
    if (IsListId(id)) {
        m_lists[id].append(text);
        return;
    }
    switch (id) {
    case 1004:
        if (const int line = UnitsLine(m_unitsLines, text); line >= 0)
            m_units = line;
        return;
    case 1005:
        if (!text.isEmpty() && text.at(0).isDigit() && n >= 0 && n <= 3) {
            m_curveFit = n;
        }
        return;
    case 1020:
        m_text[1020] = QString::number(qint64(n) - 1); // n may be INT_MIN
        return;
    case 1029:
        m_contrast = qBound(0, n, 255); // the slider's range
        m_contrastGiven = QString::number(n);
        return;
    case 1030:
        m_refresh = qBound(1, n, 100);
        m_refreshGiven = QString::number(n);
        return;
    case 1056:
        m_lcdBlank = text == QLatin1String("TRUE");
        return;
    case 1049:
        m_text[1049] = text;
        if (m_onVersion)
            m_onVersion(text);
        return;
    case 1084:
        m_text[1084] = text;
        if (m_onRevision)
            m_onRevision(text);
        return;
    case 1051:
    case 1060:
    case 1062:
        m_imageText = text;
        return;
    case 1052:
        m_lists[1047].clear();
        return;
    case 1063:
        m_lists[1057].clear();
        return;
    case 1064:
        m_lists[1061].clear();
        return;
    case 1115:
        m_desired = n >= 1 && n <= 4 ? n - 1 : -1;
        return;
    default:
        return;
    }
}

QString KelvaneFormFields::GetField(int id)
{
    if (!ZarnFormRules::IsFormId(id))
        return QString();
    if (IsPlainTextId(id))
        return m_text.value(EditIdOf(id));
    if (id >= 1006 && id <= 1009) {
        const int line = m_alarm[size_t(id - 1006)];
        return line < 0 || line >= m_alarmLines.size() ? QString() : Tail(m_alarmLines.at(line), 4);
    }
    if (IsBoxId(id))
        return BoxText(m_box.value(id));
    if (IsListId(id)) {
        const QStringList &list = m_lists[id];
        const int position = m_walkPos++;
        return position < 0 || position >= list.size() ? QString() : list.at(position);
    }
    switch (id) {
    case 1004:
        return m_units < 0 || m_units >= m_unitsLines.size() ? QString()
                                                             : Tail(m_unitsLines.at(m_units), 4);
    case 1005:
        return KelvaneFields::CurveFitText(m_curveFit);
    case 1029:
        return m_contrastGiven.isEmpty() ? PrintfText::Format("%d", m_contrast) : m_contrastGiven;
    case 1030:
        return m_refreshGiven.isEmpty() ? PrintfText::Format("%d", m_refresh) : m_refreshGiven;
    case 1056:
        return BoxText(m_lcdBlank);
    case 1114:
        return m_collectingForFile ? QString() : m_text.value(1114);
    case 1052:
    case 1063:
    case 1064:
        m_walkPos = 0;
        return QString();
    case 1051:
        return m_imageText;
    case 1115:
        return m_desired < 0 ? QString() : QString::number(m_desired + 1);
    default:
        return m_text.value(id);
    }
}
