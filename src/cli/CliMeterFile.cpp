#include "cli/CliMeterFile.h"

#include "base/Globals.h"
#include "base/UserMessage.h"
#include "meter/CMeterDoc.h"
#include "meter/KelvaneSheet.h"
#include "meter/KelvaneSheetReader.h"
#include "meter/MeterSeries.h"
#include "meter/MeterVars.h"
#include "meter/NumberFieldRules.h"
#include "meter/ZarnFormRules.h"
#include "meterqx/QXFields.h"
#include "meterqx/QXMeterDoc.h"
#include "meterqx/QXMeterVars.h"
#include "meterqx/QuixalSheet.h"
#include "meterqx/QuixalSheetReader.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace {
const char *const kNotSupported = "This Field Is Not Supported For Selected Version";

// What the document says to the user while fn runs, instead of showing it.
template <typename Fn> QString Captured(Fn fn)
{
    QStringList said;
    const UserMessage::Handler old
        = UserMessage::SetHandler([&said](const QString &text, const QString &) { said << text; });
    fn();
    UserMessage::SetHandler(old);
    return said.join(QLatin1Char('\n'));
}

std::optional<bool> BoxValue(const QString &text)
{
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("true") || t == QLatin1String("on") || t == QLatin1String("yes")
        || t == QLatin1String("1"))
        return true;
    if (t == QLatin1String("false") || t == QLatin1String("off") || t == QLatin1String("no")
        || t == QLatin1String("0"))
        return false;
    return std::nullopt;
}

QString BoxText(bool on)
{
    return on ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
}

// The fields whose leaving collects the form into the document (the conversions and the
// curve-fit choice depend on them).
bool CollectsOnLeave(int id)
{
    return id == 1018 || id == 1036 || id == 1039 || id == 1038 || id == 1053 || id == 1037
        || id == 1005;
}
} // namespace

CliMeterFile::CliMeterFile(Series series)
    : m_series(series)
{
    if (series == Series::Quixal) {
        auto doc = std::make_unique<QXMeterDoc>();
        QXMeterDoc *raw = doc.get();
        m_quixal.LoadLists();
        m_quixal.SetVersionHandler([raw](const QString &version) { raw->SetVersionQX(version); });
        m_doc = std::move(doc);
        return;
    }
    m_doc = std::make_unique<CMeterDoc>();
    CMeterDoc *raw = m_doc.get();
    m_kelvane.LoadAlarms();
    m_kelvane.LoadUnits(KelvaneFields::UnitsFile(raw->RulesInForce().family));
    m_kelvane.SetVersionHandler([raw](const QString &version) {
        raw->SetMeterVersion(version);
        raw->SetVersion(version);
    });
    m_kelvane.SetRevisionHandler(
        [raw](const QString &revision) { raw->SetMeterRevision(revision); });
}

CliMeterFile::~CliMeterFile() = default;

CliMeterFile::Series CliMeterFile::SeriesOfPath(const QString &path)
{
    return path.endsWith(QLatin1String(".qxm"), Qt::CaseInsensitive) ? Series::Quixal
                                                                     : Series::Kelvane;
}

QString CliMeterFile::Extension(Series series)
{
    return series == Series::Quixal ? QStringLiteral(".qxm") : QStringLiteral(".mtr");
}

QString CliMeterFile::SeriesName(Series series)
{
    return series == Series::Quixal ? QStringLiteral("Quixal") : QStringLiteral("Kelvane");
}

IFieldAccess &CliMeterFile::Fields()
{
    if (m_series == Series::Quixal)
        return m_quixal;
    return m_kelvane;
}

bool CliMeterFile::Open(const QString &path, QString *error)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        *error = QStringLiteral("%1: no such file.").arg(path);
        return false;
    }
    if (!info.isFile() || !info.isReadable()) {
        *error = QStringLiteral("%1: cannot be read.").arg(path);
        return false;
    }
    bool opened = false;
    const QString said = Captured([&] { opened = m_doc->OnOpenDocument(path); });
    if (!opened) {
        *error = QStringLiteral("%1: cannot be read.").arg(path);
        return false;
    }
    // A file the form would open only to keep it from being saved over: of the other series,
    // or of no layout at all.
    if (m_doc->LayoutMismatch() || !m_doc->Vars() || m_doc->Vars()->Count() == 0) {
        // Without its layout file no file of the series can be read: say that, not that the
        // file is of another kind.
        const QString layout = QString::fromLatin1(
            m_series == Series::Quixal ? QXMeterVars::kLayoutFile : MeterVars::kLayoutFile);
        if (!QFileInfo::exists(layout))
            *error
                = QStringLiteral("%1: cannot be read without the layout file %2, which is not in "
                                 "the working folder %3.")
                      .arg(path, layout, QDir::currentPath());
        else if (!said.isEmpty())
            *error = said;
        else
            *error = QStringLiteral("%1 is no %2 meter file.").arg(path, SeriesName(m_series));
        return false;
    }
    // The full path, as the document manager names a document it opens.
    m_doc->SetPathName(info.absoluteFilePath());
    Show();
    return true;
}

SheetPage CliMeterFile::Sheet(const SheetMetrics &metrics, const QDateTime &now)
{
    const QString path = m_doc->PathName();
    if (m_series == Series::Quixal) {
        m_quixal.ShowClock(now);
        return QuixalSheet::Build(QuixalSheetReader::Read(m_quixal, path), metrics);
    }
    const QString section = m_doc->Vars() ? m_doc->Vars()->SectionName() : QString();
    QString version = g_DocVersion; // the label rule may settle it; the process's stays
    m_kelvane.ShowClock(m_rules, ZarnFormRules::TemplateLabel(section, version), now);
    return KelvaneSheet::Build(KelvaneSheetReader::Read(m_kelvane, path, section), metrics);
}

void CliMeterFile::Show()
{
    if (m_series == Series::Quixal) {
        static_cast<QXMeterDoc *>(m_doc.get())->VarsToFormQX(m_quixal);
        return;
    }
    m_rules = m_doc->RulesInForce();
    if (KelvaneFields::UnitsFile(m_rules.family) != m_kelvane.UnitsFile())
        m_kelvane.LoadUnits(KelvaneFields::UnitsFile(m_rules.family));
    m_doc->VarsToForm(m_kelvane, m_rules);
}

void CliMeterFile::Collect(bool forFile)
{
    if (m_series == Series::Quixal) {
        static_cast<QXMeterDoc *>(m_doc.get())->FormToVarsQX(m_quixal);
        return;
    }
    m_kelvane.SetCollectingForFile(forFile);
    m_doc->FormToVars(m_kelvane, m_rules);
    m_kelvane.SetCollectingForFile(false);
}

bool CliMeterFile::FinishRead(QString *error)
{
    const QString version
        = m_series == Series::Quixal ? m_quixal.Text(1049).trimmed() : m_doc->MeterVersion();
    const MeterSeries::Series other
        = m_series == Series::Quixal ? MeterSeries::Kelvane : MeterSeries::Quixal;
    if (MeterSeries::OfVersion(version) == other) {
        *error = MeterSeries::WrongMeterText(version, SeriesName(m_series));
        return false;
    }
    const MeterVars *table = m_doc->Vars();
    if (!table || table->Count() == 0) {
        *error = QStringLiteral("The meter reported firmware %1, for which the layout file "
                                "holds no layout.")
                     .arg(version.isEmpty() ? QStringLiteral("(none)") : version);
        return false;
    }
    QString text = m_series == Series::Quixal ? m_quixal.ImageText() : m_kelvane.ImageText();
    while (!text.isEmpty() && text.back().isSpace())
        text.chop(1);
    const int expected = int(m_doc->ImageToText().size() / 3);
    const int arrived = ZarnFormRules::ImageBytes(text, expected);
    if (text.isEmpty()) {
        *error = QStringLiteral("The meter sent no configuration image.");
        return false;
    }
    if (arrived < expected) {
        *error = QStringLiteral("The meter's configuration image is incomplete: %1 of the %2 "
                                "bytes of the %3 layout arrived as hexadecimal text.")
                     .arg(arrived)
                     .arg(expected)
                     .arg(table->SectionName());
        return false;
    }
    if (m_series == Series::Quixal) {
        m_quixal.LoadLists(false);
        m_doc->ImageFromText(text);
        Show();
        m_activeRange = QStringLiteral("1");
        return true;
    }
    m_kelvane.LoadUnits(KelvaneFields::UnitsFile(m_doc->RulesInForce().family));
    m_doc->ImageFromText(text);
    Show();
    // The image holds the meter's active range: the form titles the document with it.
    const int range = ZarnFormRules::LeadingInt(m_kelvane.GetField(1115));
    m_activeRange = range >= 1 && range <= 4 ? QString::number(range) : QString();
    return true;
}

bool CliMeterFile::Convert(const QString &target, QString *error)
{
    if (m_series == Series::Quixal) {
        auto *doc = static_cast<QXMeterDoc *>(m_doc.get());
        const QString section = QXMeterDoc::SectionForTarget(target);
        if (section.isEmpty() || QXMeterVars(section, true).Count() == 0) {
            *error
                = QStringLiteral("varsQX.dat holds no Quixal layout for firmware %1.").arg(target);
            return false;
        }
        Collect(true);
        if (!doc->ConvertToVersionQX(target)) {
            *error = QStringLiteral("The data could not be converted to %1.").arg(target);
            return false;
        }
        Show();
        return true;
    }
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
        *error = QStringLiteral("vars20.dat holds no layout for firmware %1.").arg(version);
        return false;
    }
    Show();
    return true;
}

QString CliMeterFile::Serial()
{
    return m_series == Series::Quixal ? m_quixal.Text(1048) : m_kelvane.GetField(1048);
}

QString CliMeterFile::ProposedName() const
{
    CliMeterFile *self = const_cast<CliMeterFile *>(this);
    QString name = self->Serial() + QLatin1Char('_')
        + (m_series == Series::Quixal ? QStringLiteral("1") : m_activeRange);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    name.replace(QLatin1Char('\\'), QLatin1Char('_'));
    return name + Extension(m_series);
}

bool CliMeterFile::Save(const QString &path, QString *error)
{
    Collect(true);
    if (!m_doc->OnSaveDocument(path)) {
        *error = QStringLiteral("Could not write %1: %2. The file on disk was left as it was.")
                     .arg(path, m_doc->SaveError());
        return false;
    }
    return true;
}

void CliMeterFile::PrepareSend(const QString &activeRange)
{
    if (m_series == Series::Quixal) {
        Collect(false);
        m_quixal.SetImageText(m_doc->ImageToSendText());
        return;
    }
    m_kelvane.SetActive(activeRange);
    Collect(false);
    m_kelvane.SetField(1051, m_doc->ImageToSendText());
}

std::vector<CliMeterFile::Row> CliMeterFile::Rows()
{
    std::vector<Row> rows;
    const auto coefficients = [&rows](const QString &caption, int id, const QStringList &list) {
        for (int i = 0; i < list.size(); ++i)
            rows.push_back({ QStringLiteral("%1[%2]").arg(caption).arg(i), id, list.at(i) });
    };
    if (m_series == Series::Quixal) {
        for (const QXFormFields::Caption &c : QXFormFields::Captions()) {
            const QString caption = QLatin1String(c.caption);
            if (c.id == 1047)
                coefficients(caption, c.id, m_quixal.Coefficients());
            else if (QXFormFields::IsList(c.id))
                rows.push_back({ caption, c.id, m_quixal.ShownLine(c.id) });
            else if (QXFormFields::IsBox(c.id))
                rows.push_back({ caption, c.id, BoxText(m_quixal.Box(c.id)) });
            else
                rows.push_back({ caption, c.id, m_quixal.Text(c.id) });
        }
        return rows;
    }
    const bool extended = ZarnFormRules::HasExtendedFields(m_rules.family);
    for (const KelvaneFormFields::Caption &c : KelvaneFormFields::Captions()) {
        const QString caption = QLatin1String(c.caption);
        if (c.id == 1049 || c.id == 1084) {
            const QString known = c.id == 1049 ? m_rules.meterVersion : m_rules.revision;
            rows.push_back({ caption, c.id, ZarnFormRules::IdentityLabel(known) });
        } else if (c.id == 1047 || c.id == 1057 || c.id == 1061) {
            if (c.id == 1047 || extended)
                coefficients(caption, c.id, m_kelvane.Coefficients(c.id));
        } else if (!extended && (c.id == 1033 || c.id == 1034)) {
            continue; // hidden on the form before 4.1A
        } else {
            rows.push_back({ caption, c.id, m_kelvane.ShownText(c.id) });
        }
    }
    return rows;
}

QString CliMeterFile::Set(const QString &name, const QString &value)
{
    // NAME[i]: one line of a coefficient list.
    static const QRegularExpression indexed(QStringLiteral("^(.*)\\[(\\d+)\\]$"));
    QString field = name.trimmed();
    int index = -1;
    if (const auto match = indexed.match(field); match.hasMatch()) {
        field = match.captured(1).trimmed();
        index = match.captured(2).toInt();
    }
    int id = 0;
    if (m_series == Series::Quixal) {
        id = QXFormFields::Table().IdOf(field);
    } else {
        id = KelvaneFormFields::IdOf(field);
    }
    if (id == 0)
        return QStringLiteral("\"%1\" is no field of the %2 form (\"tarvik-cli show FILE\" lists "
                              "them).")
            .arg(name, SeriesName(m_series));
    const bool list = id == 1047 || id == 1057 || id == 1061;
    if (list != (index >= 0))
        return list ? QStringLiteral("%1 is a list: name one line, as %1[0].").arg(field)
                    : QStringLiteral("%1 is no list.").arg(field);
    return m_series == Series::Quixal ? SetQuixal(id, index, value) : SetKelvane(id, index, value);
}

QString CliMeterFile::SetKelvane(int id, int index, const QString &value)
{
    const QString caption = KelvaneFormFields::CaptionOf(id);
    const QString family = m_rules.family;
    const bool extended = ZarnFormRules::HasExtendedFields(family);
    if (id == 1049 || id == 1084 || id == 1066 || id == 1069 || id == 1070)
        return QStringLiteral("%1 is read-only on the form.").arg(caption);
    if (!extended && (id == 1068 || id == 1057 || id == 1061 || id == 1033 || id == 1034))
        return QString::fromLatin1(kNotSupported);
    if (const NumberFieldRules::Field *number
        = NumberFieldRules::Find(NumberFieldRules::Kelvane(), id)) {
        const QString refusal = NumberFieldRules::Refusal(*number, value);
        if (!refusal.isEmpty())
            return refusal;
    }
    switch (id) {
    case 1004: {
        const int line = m_kelvane.FindUnits(value);
        if (line < 0)
            return QStringLiteral("\"%1\" is no choice of Engineering Units.").arg(value);
        const int code = ZarnFormRules::LeadingInt(
            KelvaneFormFields::Tail(m_kelvane.UnitsLines().at(line), 4));
        const int units = ((code - 5) % 32 + 32) % 32;
        m_kelvane.SelectUnits(line);
        g_FlowUnits = (unsigned char)m_doc->Vars()->Value(QStringLiteral("flow_func"), 1);
        m_doc->UnitsChanged(m_kelvane, units, m_rules);
        return QString();
    }
    case 1005: {
        int choice = KelvaneFields::CurveFitIndex(value.trimmed());
        const QString t = value.trimmed();
        if (t.size() == 1 && t.at(0) >= QLatin1Char('0') && t.at(0) <= QLatin1Char('3'))
            choice = t.toInt();
        else if (choice == 0 && t.compare(KelvaneFields::CurveFitText(0), Qt::CaseInsensitive))
            return QStringLiteral("\"%1\" is no Curve Fit choice.").arg(value);
        choice = ZarnFormRules::CurveFitAfterPick(choice, family);
        m_kelvane.SetField(1005, QString::number(choice));
        Collect(true);
        return QString();
    }
    case 1006:
    case 1007:
    case 1008:
    case 1009: {
        const int line = m_kelvane.FindAlarm(value);
        if (line < 0)
            return QStringLiteral("\"%1\" is no choice of %2.").arg(value, caption);
        m_kelvane.SetField(id, KelvaneFormFields::Tail(m_kelvane.AlarmLines().at(line), 3));
        return QString();
    }
    case 1115: {
        const int n = ZarnFormRules::LeadingInt(value);
        if (n < 1 || n > 4 || value.trimmed() != QString::number(n))
            return QStringLiteral("Desired is a range from 1 to 4.");
        m_kelvane.SetField(1115, QString::number(n));
        m_kelvane.SetField(1020, QString::number(n));
        return QString();
    }
    case 1032:
    case 1033:
    case 1034:
    case 1065:
    case 1056: {
        const auto on = BoxValue(value);
        if (!on)
            return QStringLiteral("%1 is TRUE or FALSE.").arg(caption);
        m_kelvane.SetField(id, BoxText(*on));
        return QString();
    }
    case 1047:
    case 1057:
    case 1061: {
        const NumberFieldRules::Field coefficient { id, "Coefficient",
            NumberFieldRules::Kind::Decimal };
        const QString refusal = NumberFieldRules::Refusal(coefficient, value);
        if (!refusal.isEmpty())
            return refusal;
        if (id == 1061 && index < ZarnFormRules::FirstEditable(ZarnFormRules::CoeffList::PointWise))
            return QStringLiteral("The 0 % point of Point-Wise is fixed.");
        if (!m_kelvane.SetCoefficient(id, index, value.trimmed()))
            return QStringLiteral("%1 has no line %2.").arg(caption).arg(index);
        return QString();
    }
    case 1054: {
        int month = 0, day = 0, year = 0;
        if (!KelvaneFields::ParseDate(value, &month, &day, &year) || month < 0 || month > 12
            || day < 0 || day > 31 || year < 0 || year > 99)
            return QStringLiteral("\"%1\" is not a calibration date.\nType it as mm/dd/yy "
                                  "(12/25/27) or dd.mm.yy (25.12.27).")
                .arg(value);
        m_kelvane.SetField(id, value.trimmed());
        return QString();
    }
    default:
        break;
    }
    // An edit: the limits its leaving applies, then the collection its leaving makes.
    const int setId = id == 1021 ? 1022 : id == 1023 ? 1024 : id == 1027 ? 1028 : id;
    m_kelvane.SetField(setId, ZarnFormRules::LimitOnLeave(id, value.trimmed()));
    if (CollectsOnLeave(id))
        Collect(true);
    return QString();
}

QString CliMeterFile::SetQuixal(int id, int index, const QString &value)
{
    const QString caption = QXFormFields::Table().CaptionOf(id);
    if (id == 1049 || id == 1084 || id == 1048 || id == 1066)
        return QStringLiteral("%1 is read-only on the form.").arg(caption);
    if (const NumberFieldRules::Field *number
        = NumberFieldRules::Find(NumberFieldRules::Quixal(), id)) {
        const QString refusal = NumberFieldRules::Refusal(*number, value);
        if (!refusal.isEmpty())
            return refusal;
    }
    if (QXFormFields::IsBox(id)) {
        const auto on = BoxValue(value);
        if (!on)
            return QStringLiteral("%1 is TRUE or FALSE.").arg(caption);
        m_quixal.SetBox(id, *on);
        return QString();
    }
    if (QXFormFields::IsList(id)) {
        const QStringList &lines = m_quixal.Lines(id);
        int line = -1;
        for (int i = 0; i < lines.size() && line < 0; ++i)
            if (lines.at(i).trimmed().compare(value.trimmed(), Qt::CaseInsensitive) == 0
                || lines.at(i).startsWith(value.trimmed(), Qt::CaseInsensitive))
                line = i;
        if (line < 0 || value.trimmed().isEmpty())
            return QStringLiteral("\"%1\" is no choice of %2.").arg(value, caption);
        m_quixal.Select(id, line);
        if (id == 1004) {
            const int code = ZarnFormRules::LeadingInt(lines.at(line).right(4));
            g_FlowUnits = (unsigned char)m_doc->Vars()->Value(QStringLiteral("flow_func"), 1);
            static_cast<QXMeterDoc *>(m_doc.get())
                ->UnitsChangedQX(m_quixal, QXFields::UnitsCode(code));
        }
        return QString();
    }
    if (id == 1047) {
        const NumberFieldRules::Field coefficient { id, "Coefficient",
            NumberFieldRules::Kind::Decimal };
        const QString refusal = NumberFieldRules::Refusal(coefficient, value);
        if (!refusal.isEmpty())
            return refusal;
        QStringList &lines = m_quixal.Coefficients();
        if (index >= lines.size())
            return QStringLiteral("%1 has no line %2.").arg(caption).arg(index);
        lines[index] = value.trimmed();
        return QString();
    }
    m_quixal.SetText(id, QXFormFields::LimitOnLeave(id, value.trimmed()));
    return QString();
}

QString CliMeterFile::StoredText() const
{
    return m_doc->ImageToText();
}

QByteArray CliMeterFile::ImageBytes() const
{
    // The hexadecimal text skips its blanks: the bytes the layout covers, in image order.
    return QByteArray::fromHex(m_doc->ImageToText().toLatin1());
}

QString CliMeterFile::VariableAt(int offset) const
{
    const MeterVars *table = m_doc->Vars();
    for (int i = 0; table && i < table->Count(); ++i)
        if (offset >= table->Offset(i) && offset < table->Offset(i) + table->Size(i))
            return table->Name(i);
    return QString();
}

QString CliMeterFile::Firmware()
{
    return m_series == Series::Quixal ? m_quixal.Text(1049).trimmed() : m_doc->MeterVersion();
}

QString CliMeterFile::Layout() const
{
    return m_doc->Vars() ? m_doc->Vars()->SectionName() : QString();
}
