#include "meterqx/QXFormFields.h"

#include "base/ScanText.h"
#include "meter/ChoiceList.h"
#include "meter/FieldTransfer.h"
#include "meter/ZarnFormRules.h"
#include "meterqx/QXFieldIds.h"
#include "meterqx/QXFieldRules.h"
#include "meterqx/QXFields.h"

#include <QDateTime>

namespace {
std::vector<int> QuixalTextIds()
{
    std::vector<int> ids;
    for (const FieldRule &rule : QXFieldRules::Table().All())
        if (QXFieldRules::Table().HoldsText(rule.id))
            ids.push_back(rule.id);
    return ids;
}
} // namespace

const FieldCaptions &QXFormFields::Table()
{
    static const FieldCaptions table(
        {
            { QXFieldId::SerialNumber, "Serial Number" },
            { QXFieldId::MeterVersion, "Meter" },
            { QXFieldId::Revision, "Revision" },
        },
        {
            { QXFieldId::PrimaryList, "Primary Coefficients" },
            { QXFieldId::RelayOffFunction, "Relay #2 OFF Function" },
            { QXFieldId::RelayOffValue, "Relay #2 OFF Value" },
            { QXFieldId::RelayOffDelay, "Relay #2 OFF Trip Delay" },
            { QXFieldId::RelayOnFunction, "Relay #2 ON Function" },
            { QXFieldId::RelayOnValue, "Relay #2 ON Value" },
            { QXFieldId::RelayOnDelay, "Relay #2 ON Trip Delay" },
            { QXFieldId::HoldFlow, "Hold Flow" },
            { QXFieldId::Polarity, "Polarity" },
            { QXFieldId::PulseWidth, "Pulse Width" },
            { QXFieldId::Output, "I-Out / V-Out" },
            { QXFieldId::VOut, "V-Out 0-10V" },
            { QXFieldId::Protocol, "Protocol On" },
            { QXFieldId::NoDisplay, "No Display" },
            { QXFieldId::ModbusAddr, "Modbus Addr" },
            { QXFieldId::AdcFilter, "ADC Filter" },
            { QXFieldId::DacFilter, "DAC Filter" },
            { QXFieldId::DacRefresh, "DAC Refresh" },
            { QXFieldId::DisplayRefresh, "Display Refresh" },
            { QXFieldId::CalibrationDue, "Calibration Due" },
            { QXFieldId::Password, "Password" },
            { QXFieldId::Watchdog, "Watchdog Timer" },
            { QXFieldId::UpPcba, "uP PCBA Number" },
        });
    return table;
}

const std::vector<QXFormFields::Caption> &QXFormFields::Captions()
{
    return Table().All();
}

const std::vector<int> &QXFormFields::ListIds()
{
    static const std::vector<int> ids = QXFieldRules::Table().IdsOf(FieldRule::Kind::Choice);
    return ids;
}

const std::vector<int> &QXFormFields::BoxIds()
{
    static const std::vector<int> ids = QXFieldRules::Table().IdsOf(FieldRule::Kind::Box);
    return ids;
}

const std::vector<int> &QXFormFields::TextIds()
{
    static const std::vector<int> ids = QuixalTextIds();
    return ids;
}

bool QXFormFields::IsList(int id)
{
    return QXFieldRules::Table().Is(id, FieldRule::Kind::Choice);
}

bool QXFormFields::IsBox(int id)
{
    return QXFieldRules::Table().Is(id, FieldRule::Kind::Box);
}

bool QXFormFields::IsText(int id)
{
    return QXFieldRules::Table().HoldsText(id);
}

QXFormFields::QXFormFields()
{
    for (int id : ListIds())
        m_lines[id];
    for (int id : BoxIds())
        m_box[id] = false;
    m_text[QXFieldId::MeterVersion] = QStringLiteral("?.??");
    m_text[QXFieldId::Revision] = QStringLiteral("?");
}

QString QXFormFields::TemplateLabel(QString &docVersion)
{
    for (const char *shown : { "3.9G", "4.0x", "?.??", "1.4A" })
        if (docVersion == QLatin1String(shown))
            return docVersion;
    if (docVersion == QLatin1String(">= 4.1A")) {
        docVersion = QStringLiteral("1.4A");
        return docVersion;
    }
    return QString();
}

QString QXFormFields::VersionLabelShown(const QString &label)
{
    return label.isEmpty() || label == QLatin1String("?.??") ? QStringLiteral("?") : label;
}

void QXFormFields::ShowClock(const QDateTime &now)
{
    m_text[QXFieldId::TimeField] = ZarnFormRules::TimeText(now.time(), false);
    m_text[QXFieldId::DateField] = ZarnFormRules::DateText(now.date(), false);
    m_text[QXFieldId::MeterVersion] = VersionLabelShown(m_text.value(QXFieldId::MeterVersion));
    m_text[QXFieldId::Revision] = ZarnFormRules::IdentityLabel(m_text.value(QXFieldId::Revision));
}

void QXFormFields::LoadLists(bool relays)
{
    const auto load = [this](int id, const char *file) {
        m_lines[id] = ChoiceList::Read(QString::fromLatin1(file));
        m_selected[id] = m_lines[id].isEmpty() ? -1 : 0;
    };
    load(QXFieldId::Units, QXFields::kUnitsFile);
    load(QXFieldId::Output, QXFields::kOutputFile);
    load(QXFieldId::Polarity, QXFields::kPolarityFile);
    if (relays) {
        load(QXFieldId::RelayOffFunction, QXFields::kRelayFile);
        load(QXFieldId::RelayOnFunction, QXFields::kRelayFile);
    }
}

void QXFormFields::Select(int listId, int index)
{
    m_selected[listId] = index >= 0 && index < m_lines.value(listId).size() ? index : -1;
}

int QXFormFields::FindPrefix(int listId, const QString &text) const
{
    if (text.isEmpty())
        return -1;
    return ChoiceList::FindBeginningWith(m_lines.value(listId), text, Qt::CaseInsensitive);
}

int QXFormFields::FindRelay(int listId, const QString &code) const
{
    return ChoiceList::FindTail(m_lines.value(listId), code, 3);
}

QString QXFormFields::SelectedLine(int listId) const
{
    const int index = Selected(listId);
    const QStringList lines = m_lines.value(listId);
    return index >= 0 && index < lines.size() ? lines.at(index) : QString();
}

void QXFormFields::SetField(int id, const QString &raw)
{
    using namespace QXFieldId;
    const QString text = ZarnFormRules::TrimForField(id, raw);
    switch (id) {
    case Units:
        Select(id, FindPrefix(id, text));
        return;
    case Output: {
        Select(id, FindPrefix(id, text));
        static const char *const outputs[] = { "Flow/Flow", "Flow/Temp", "Temp/Flow", "Temp/Temp" };
        for (int code = 0; code < 4; ++code)
            if (text == QLatin1String(outputs[code]))
                m_outputCode = QString::number(code);
        return;
    }
    case Polarity:
        Select(id, FindPrefix(id, text));
        if (text == QLatin1String("L"))
            m_polarityCode = QStringLiteral("0");
        else if (text == QLatin1String("H"))
            m_polarityCode = QStringLiteral("1");
        return;
    case RelayOffFunction:
    case RelayOnFunction:
        Select(id, FindRelay(id, text));
        return;
    case PrimaryList:
        m_coefficients.append(text);
        return;
    case PrimaryReset:
        m_coefficients.clear();
        return;
    case QXFieldId::ImageText:
        m_imageText = text;
        return;
    case MeterVersion:
        m_text[id] = text;
        if (m_onVersion)
            m_onVersion(text);
        return;
    case Revision:
        m_text[id] = text;
        return;
    default:
        break;
    }
    if (IsBox(id))
        m_box[id] = text == QLatin1String("TRUE");
    else if (IsText(id))
        m_text[id] = text;
}

QString QXFormFields::GetField(int id)
{
    using namespace QXFieldId;
    switch (id) {
    case Units:
    case RelayOffFunction:
    case RelayOnFunction:
        return Selected(id) < 0 ? QString() : ChoiceList::Tail(SelectedLine(id), 4);
    case Output:
        if (Selected(id) >= 0)
            m_outputCode = ChoiceList::Tail(SelectedLine(id), 1);
        return Selected(id) < 0 ? QString() : m_outputCode;
    case Polarity:
        if (Selected(id) >= 0)
            m_polarityCode = ChoiceList::Tail(SelectedLine(id), 1);
        return Selected(id) < 0 ? QString() : m_polarityCode;
    case PrimaryList: {
        const int at = m_cursor++;
        return at >= 0 && at < m_coefficients.size() ? m_coefficients.at(at) : QString();
    }
    case PrimaryReset:
        m_cursor = 0;
        return QString();
    case QXFieldId::ImageText:
        return m_imageText;
    default:
        break;
    }
    if (IsBox(id))
        return FieldTransfer::Bool(Box(id));
    if (IsText(id))
        return m_text.value(id);
    return QString();
}
