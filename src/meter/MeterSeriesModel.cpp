#include "meter/MeterSeriesModel.h"

#include "base/UserMessage.h"
#include "lists/IFieldAccess.h"
#include "meter/CMeterDoc.h"
#include "meter/FieldIds.h"
#include "meter/FieldRules.h"
#include "meter/FieldTransfer.h"
#include "meter/MeterVars.h"
#include "meter/ZarnFormRules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

#include <cstring>

namespace {
// What the document says to the user while fn runs, instead of showing it: the model reports
// its reasons in its own words.
template <typename Fn> void Silenced(Fn fn)
{
    const UserMessage::Handler old
        = UserMessage::SetHandler([](const QString &, const QString &) {});
    fn();
    UserMessage::SetHandler(old);
}
} // namespace

MeterSeriesModel::MeterSeriesModel(std::unique_ptr<CMeterDoc> doc)
    : m_doc(std::move(doc))
{
}

MeterSeriesModel::~MeterSeriesModel() = default;

QString MeterSeriesModel::FileName(const QString &serial, const QString &range) const
{
    QString name = Title(serial, range);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    name.replace(QLatin1Char('\\'), QLatin1Char('_'));
    return name + Extension();
}

bool MeterSeriesModel::Open(const QString &path, QString *error)
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
    {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)
            && CMeterDoc::MeterLine(file.read(4096)).trimmed().isEmpty()) {
            *error = QStringLiteral("%1 is empty: it holds no meter image; nothing was done.")
                         .arg(path);
            return false;
        }
    }
    bool opened = false;
    Silenced([&] { opened = m_doc->OnOpenDocument(path); });
    if (!opened) {
        *error = m_doc->OpenError().isEmpty()
            ? QStringLiteral("%1: cannot be read.").arg(path)
            : QStringLiteral("%1: %2 Nothing was done.").arg(path, m_doc->OpenError());
        return false;
    }
    // A file the form would open only to keep it from being saved over: of the other series,
    // or of no layout at all.
    if (m_doc->LayoutMismatch() || !m_doc->Vars() || m_doc->Vars()->Count() == 0) {
        const QString layout = LayoutFile();
        const QString section = Layout();
        const MeterSeries::Series fileSeries = MeterSeries::OfVersion(section);
        // Without its layout file no file of the series can be read: say that, not that the
        // file is of another kind.
        if (!QFileInfo::exists(layout))
            *error = QStringLiteral("%1: cannot be read without the layout file %2, which is not "
                                    "in the data folder %3.")
                         .arg(path, layout, QDir::currentPath());
        else if (fileSeries != MeterSeries::Unknown && fileSeries != Series())
            *error = QStringLiteral("%1 holds the data of a %2 meter (layout %3), not of a %4 "
                                    "meter; nothing was done. Copy it to a name ending in %5 to "
                                    "use it.")
                         .arg(path, MeterSeries::Name(fileSeries), section, Name(),
                             MeterSeries::Extension(fileSeries));
        else
            *error = QStringLiteral("%1 fits no %2 layout of %3 (its key byte is not AA): it is "
                                    "no %4 meter file; nothing was done.")
                         .arg(path, Name(), layout, Name());
        return false;
    }
    // The full path, as the document manager names a document it opens.
    m_doc->SetPathName(info.absoluteFilePath());
    Show();
    return true;
}

QString MeterSeriesModel::ReadImageFault(const CMeterDoc &doc, QString text)
{
    while (!text.isEmpty() && text.back().isSpace())
        text.chop(1);
    if (text.isEmpty())
        return QStringLiteral("The meter sent no configuration image.");
    // The table in force (rebuilt by the version answer) says how many bytes the image holds.
    const int expected = int(doc.ImageToText().size() / 3);
    const int arrived = ZarnFormRules::ImageBytes(text, expected);
    if (arrived < expected)
        return QStringLiteral("The meter's configuration image is incomplete: %1 of the %2 bytes "
                              "of the %3 layout arrived as hexadecimal text.")
            .arg(arrived)
            .arg(expected)
            .arg(doc.Vars() ? doc.Vars()->SectionName() : QString());
    return QString();
}

bool MeterSeriesModel::FinishRead(QString *error)
{
    const QString version = Firmware();
    const MeterSeries::Series answered = MeterSeries::OfVersion(version);
    if (answered != MeterSeries::Unknown && answered != Series()) {
        *error = MeterSeries::WrongMeterText(version, Name());
        return false;
    }
    const MeterVars *table = m_doc->Vars();
    if (!table || table->Count() == 0) {
        *error = QStringLiteral("The meter reported firmware %1, for which the layout file "
                                "holds no layout.")
                     .arg(version.isEmpty() ? QStringLiteral("(none)") : version);
        return false;
    }
    QString text = ReadImageText();
    *error = ReadImageFault(*m_doc, text);
    if (!error->isEmpty())
        return false;
    while (text.back().isSpace())
        text.chop(1);
    m_activeRange = TakeImage(text);
    return true;
}

bool MeterSeriesModel::Save(const QString &path, QString *error)
{
    Collect(true);
    bool saved = false;
    Silenced([&] { saved = m_doc->OnSaveDocument(path); });
    if (!saved) {
        *error = QStringLiteral("Could not write %1: %2. The file on disk was left as it was.")
                     .arg(path, m_doc->SaveError());
        return false;
    }
    // The fields show what the file now holds, as it reopens: a record of the save names the
    // stored values, not the texts they were typed as.
    Show();
    return true;
}

QString MeterSeriesModel::Set(const QString &name, const QString &value)
{
    // NAME[i]: one line of a coefficient list.
    static const QRegularExpression indexed(QStringLiteral("^(.*)\\[(\\d+)\\]$"));
    QString field = name.trimmed();
    int index = -1;
    if (const auto match = indexed.match(field); match.hasMatch()) {
        field = match.captured(1).trimmed();
        index = match.captured(2).toInt();
    }
    const int id = IdOf(field);
    if (id == 0)
        return QStringLiteral("\"%1\" is no field of the %2 form (\"tarvik-cli show FILE\" lists "
                              "them).")
            .arg(name, Name());
    // A field the table does not list is a plain edit.
    const FieldRule *listed = Rules().Find(id);
    const FieldRule plain = FieldRule::Of(id);
    const FieldRule &rule = listed ? *listed : plain;
    const bool list = rule.kind == FieldRule::Kind::Coefficients;
    if (list != (index >= 0))
        return list ? QStringLiteral("%1 is a list: name one line, as %1[0].").arg(field)
                    : QStringLiteral("%1 is no list.").arg(field);
    return SetField(rule, index, value);
}

QString MeterSeriesModel::SetField(const FieldRule &rule, int index, const QString &value)
{
    const QString caption = CaptionOf(rule.id);
    QString refusal = FieldRules::Refusal(rule, caption, value, Extended(), m_doc->Vars());
    if (!refusal.isEmpty())
        return refusal;
    const QString text = value.trimmed();
    switch (rule.kind) {
    case FieldRule::Kind::Box: {
        bool on = false;
        FieldRules::BoxValue(value, &on);
        Fields().SetField(rule.id, FieldTransfer::Bool(on));
        break;
    }
    case FieldRule::Kind::Coefficients:
        refusal = StoreCoefficient(rule.id, index, text, caption);
        break;
    case FieldRule::Kind::Choice:
    case FieldRule::Kind::Own:
        refusal = Take(rule, value, caption);
        break;
    default:
        // The limits of leaving the field; those of every change are the store's own.
        StoreText(rule.storedAs ? rule.storedAs : rule.id,
            rule.limit && !rule.limit->everyChange ? FieldRules::Limited(*rule.limit, text) : text);
        break;
    }
    if (refusal.isEmpty() && rule.collectsOnLeave)
        Collect(true);
    return refusal;
}

QString MeterSeriesModel::StoredText() const
{
    return m_doc->ImageToText();
}

QByteArray MeterSeriesModel::ImageBytes() const
{
    // The hexadecimal text skips its blanks: the bytes the layout covers, in image order.
    return QByteArray::fromHex(m_doc->ImageToText().toLatin1());
}

QString MeterSeriesModel::VariableAt(int offset) const
{
    const MeterVars *table = m_doc->Vars();
    for (int i = 0; table && i < table->Count(); ++i)
        if (offset >= table->Offset(i) && offset < table->Offset(i) + table->Size(i))
            return table->Name(i);
    return QString();
}

QString MeterSeriesModel::CaptionAt(int offset)
{
    // The field showing the variable is the one whose text changes when the variable's bytes
    // are inverted for a moment; a variable no field shows is named by itself.
    MeterVars *table = m_doc->Vars();
    int entry = -1;
    for (int i = 0; table && i < table->Count(); ++i)
        if (offset >= table->Offset(i) && offset < table->Offset(i) + table->Size(i))
            entry = i;
    if (entry < 0)
        return QString();
    unsigned char *bytes = table->ImageStart() + table->Offset(entry);
    const QByteArray kept(reinterpret_cast<const char *>(bytes), table->Size(entry));
    const std::vector<ConfigDiff::Field> shown = ComparedFields();
    for (int i = 0; i < kept.size(); ++i)
        bytes[i] = static_cast<unsigned char>(~kept.at(i));
    Show();
    const std::vector<ConfigDiff::Field> changed = ComparedFields();
    std::memcpy(bytes, kept.constData(), size_t(kept.size()));
    Show();
    for (size_t i = 0; i < shown.size() && i < changed.size(); ++i)
        if (shown[i].text != changed[i].text)
            return shown[i].caption;
    return table->Name(entry);
}

QString MeterSeriesModel::Layout() const
{
    return m_doc->Vars() ? m_doc->Vars()->SectionName() : QString();
}

bool MeterSeriesModel::LoadImage(const QString &section, const QString &imageText,
    const QString &meterVersion, const QString &revision)
{
    std::unique_ptr<MeterVars> table = MakeTable(section);
    if (!table || table->Count() == 0)
        return false;
    m_doc->SetVars(std::move(table));
    m_doc->SetMeterIdentity(meterVersion, revision);
    m_activeRange = TakeImage(imageText);
    return true;
}

std::vector<ConfigDiff::Field> MeterSeriesModel::ComparedFields()
{
    std::vector<ConfigDiff::Field> fields;
    for (const Row &row : Rows())
        if (row.id != FieldId::MeterVersion && row.id != FieldId::Revision)
            fields.push_back({ row.caption, row.id, row.text });
    return fields;
}

QString MeterSeriesModel::StoredDifference(MeterSeriesModel &stored)
{
    const std::vector<int> bytes = ConfigDiff::DifferingBytes(ImageBytes(), stored.ImageBytes());
    if (bytes.empty())
        return QString();
    const ConfigDiff::Result fields
        = ConfigDiff::Compare(ComparedFields(), stored.ComparedFields());
    QStringList lines;
    for (const AuditRecord::Change &c : fields.changes)
        lines
            << QStringLiteral("%1: sent %2, the meter holds %3").arg(c.caption, c.before, c.after);
    if (lines.isEmpty())
        lines = ConfigDiff::ByteNames(bytes, [this](int offset) { return CaptionAt(offset); });
    return QStringLiteral("The meter did not store the configuration as sent:\n%1")
        .arg(lines.join(QLatin1Char('\n')));
}
