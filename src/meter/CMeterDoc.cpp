#include "meter/CMeterDoc.h"

#include "base/AppServices.h"
#include "base/AppTitle.h"
#include "base/MeterSession.h"
#include "base/UserMessage.h"
#include "meter/MeterDocSeries.h"
#include "meter/MeterVars.h"
#include "meter/ZarnFormRules.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

// A meter file's line is 768 characters at most; anything far beyond is not a meter file and
// is not read whole.
constexpr qint64 kMaxLine = 64 * 1024;

// The first line without its line end, at most kMaxLine - 1 characters. A UTF-8 byte-order
// mark that an editor put before it is no part of the image.
QString FirstLine(QIODevice &device)
{
    QByteArray raw = device.readLine(kMaxLine);
    if (raw.startsWith("\xEF\xBB\xBF"))
        raw.remove(0, 3);
    while (raw.endsWith('\n') || raw.endsWith('\r'))
        raw.chop(1);
    return QString::fromLatin1(raw);
}

} // namespace

CMeterDoc::CMeterDoc(QObject *parent)
    : CMeterDoc(MeterDocSeries::Kelvane(), QString(), parent)
{
}

CMeterDoc::CMeterDoc(const QString &version, QObject *parent)
    : CMeterDoc(MeterDocSeries::Kelvane(), version, parent)
{
}

CMeterDoc::CMeterDoc(const MeterDocSeries &series, const QString &version, QObject *parent)
    : CDocument(parent)
    , m_series(&series)
{
    m_context.version = version;
}

CMeterDoc::~CMeterDoc() = default;

bool CMeterDoc::ReadMeterLine(const QString &path, QString *line)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *line = FirstLine(file);
    return true;
}

QString CMeterDoc::MeterLine(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return FirstLine(buffer);
}

QString CMeterDoc::ImageFault(const QString &text, int byteCount, const QString &section)
{
    QString image = text;
    while (!image.isEmpty() && image.back().isSpace())
        image.chop(1);
    if (image.isEmpty())
        return QStringLiteral("It is empty: it holds none of the %1 bytes of the %2 layout.")
            .arg(byteCount)
            .arg(section);
    const int whole = ZarnFormRules::ImageBytes(image, byteCount);
    if (whole < byteCount)
        return QStringLiteral("It is incomplete: %1 of the %2 bytes of the %3 layout are in it "
                              "as hexadecimal text.")
            .arg(whole)
            .arg(byteCount)
            .arg(section);
    // Each byte is two digits and a blank; the last blank is dropped above.
    const qsizetype beyond = image.size() - (3 * qsizetype(byteCount) - 1);
    if (beyond > 0) {
        const QString rest = image.mid(3 * qsizetype(byteCount));
        const int more = ZarnFormRules::ImageBytes(rest, int(rest.size() / 3) + 1);
        const QString extra = more > 0
            ? QStringLiteral("%1 byte%2").arg(more).arg(more == 1 ? "" : "s")
            : QStringLiteral("%1 character%2").arg(beyond).arg(beyond == 1 ? "" : "s");
        return QStringLiteral("It holds %1 more than the %2 bytes of the %3 layout: it is not a "
                              "meter file of that layout as the program writes it.")
            .arg(extra)
            .arg(byteCount)
            .arg(section);
    }
    return QString();
}

bool CMeterDoc::CheckWholeImage(const QString &fileName, const QString &line)
{
    if (!m_vars || m_vars->Count() == 0)
        return true;
    const QString fault = ImageFault(line, m_vars->ImageBytes(), m_vars->SectionName());
    if (fault.isEmpty())
        return true;
    m_openError = fault;
    UserMessage::Show(QStringLiteral("%1 was not opened. %2").arg(fileName, fault),
        QString::fromLatin1(kAppTitle));
    return false;
}

bool CMeterDoc::OnOpenDocument(const QString &path)
{
    m_openError.clear();
    QString line;
    if (!ReadMeterLine(path, &line))
        return false;
    return OpenMeterLine(line, QFileInfo(path).fileName());
}

bool CMeterDoc::OpenMeterLine(const QString &line, const QString &fileName)
{
    m_openError.clear();
    const bool opened = m_series->Open(*this, line, fileName);
    TellVersion();
    return opened;
}

bool CMeterDoc::WarnOtherSeries(
    const QString &fileName, const QString &section, MeterSeries::Series formSeries)
{
    const MeterSeries::Series fileSeries = MeterSeries::OfVersion(section);
    if (fileSeries == MeterSeries::Unknown || fileSeries == formSeries)
        return false;
    UserMessage::Show(QStringLiteral("%1 holds the data of a %2 meter (layout %3), not of a %4 "
                                     "meter: its values are shown in the wrong places.\nOpen it "
                                     "in %5 instead. Do not save it over the original.")
                          .arg(fileName, MeterSeries::Name(fileSeries), section,
                              MeterSeries::Name(formSeries), MeterSeries::FormOf(fileSeries)),
        QString::fromLatin1(kAppTitle));
    return true;
}

bool CMeterDoc::OnSaveDocument(const QString &path)
{
    m_saveError.clear();
    if (!m_vars)
        return true; // nothing to store
    QSaveFile file(path);
    // Unbuffered: a short write (disk full, file size limit) shows in write()'s count. Buffered,
    // the flush at commit takes a short write for success and the old file would be replaced.
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        const QByteArray text = m_vars->ImageToText().toLatin1();
        if (file.write(text) == text.size() && file.commit())
            return true;
    }
    m_saveError = file.errorString();
    file.cancelWriting();
    UserMessage::Show(
        QStringLiteral("Could not save %1:\n%2\n\nThe file on disk was left as it was.")
            .arg(QDir::toNativeSeparators(path), m_saveError),
        QString::fromLatin1(kAppTitle));
    return false;
}

void CMeterDoc::SetVersion(const QString &version)
{
    if (!m_series->BuildsFor(version))
        return;
    const QString section = QStringLiteral("[%1]").arg(version);
    m_context.version = section;
    m_vars = m_series->Table(section, &m_context.version);
    TellVersion();
}

int CMeterDoc::ConvertTo(const QString &section)
{
    const int converted = ConvertInto(m_series->Table(section, &m_context.version));
    TellVersion();
    return converted;
}

int CMeterDoc::ConvertInto(std::unique_ptr<MeterVars> fresh)
{
    if (!fresh || fresh->Count() == 0)
        return 0;
    if (m_vars) {
        for (int i = 0; i < m_vars->Count(); ++i) {
            const QString name = m_vars->Name(i);
            const int target = fresh->EntryOf(name);
            if (target < 0)
                continue; // the new layout lacks it: dropped
            // A variable that shrank takes its low bytes; one that grew keeps zeros above them.
            const int bytes = qMin<int>(m_vars->Size(i), fresh->Size(target));
            std::copy_n(m_vars->ImageStart() + m_vars->Offset(i), bytes,
                fresh->ImageStart() + fresh->Offset(target));
        }
    }
    m_vars = std::move(fresh);
    return 1;
}

int CMeterDoc::ConvertToVersion(const QString &target)
{
    const int converted = m_series->ConvertToVersion(*this, target);
    TellVersion();
    return converted;
}

KelvaneFields::Rules CMeterDoc::RulesInForce() const
{
    KelvaneFields::Rules rules;
    rules.family = KelvaneFields::FamilyOfSection(m_vars ? m_vars->SectionName() : QString());
    if (rules.family.isEmpty())
        rules.family = m_context.version;
    // A Quixal meter in the terminal is not this form's meter: it names none rather than that one.
    const bool identified = !AppServices::Meter().Version().isEmpty()
        && MeterSeries::OfVersion(AppServices::Meter().Version()) != MeterSeries::Quixal;
    rules.meterVersion = identified ? AppServices::Meter().Version() : m_context.meterVersion;
    rules.revision = identified ? AppServices::Meter().Revision() : m_context.revision;
    return rules;
}

void CMeterDoc::SetMeterIdentity(const QString &version, const QString &revision)
{
    m_context.meterVersion = version;
    m_context.revision = revision;
}

void CMeterDoc::VarsToForm(IFieldAccess &form, const KelvaneFields::Rules &rules)
{
    if (!m_vars)
        return;
    m_series->VarsToForm(*m_vars, form, rules);
    m_context.units = int(m_vars->Value(QStringLiteral("flow_func"), 1));
}

void CMeterDoc::FormToVars(IFieldAccess &form, const KelvaneFields::Rules &rules)
{
    if (!m_vars)
        return;
    m_series->FormToVars(*m_vars, form, rules);
    m_context.units = int(m_vars->Value(QStringLiteral("flow_func"), 1));
}

void CMeterDoc::UnitsChanged(IFieldAccess &form, int newUnits, const KelvaneFields::Rules &rules)
{
    if (!m_vars)
        return;
    m_series->UnitsChanged(*m_vars, form, m_context.units, newUnits, rules);
    m_context.units = newUnits;
}

KelvaneFields::Rules CMeterDoc::ContextRules() const
{
    return { m_context.version, m_context.revision, m_context.meterVersion };
}

void CMeterDoc::VarsToForm(IFieldAccess &form)
{
    VarsToForm(form, ContextRules());
}

void CMeterDoc::FormToVars(IFieldAccess &form)
{
    FormToVars(form, ContextRules());
}

void CMeterDoc::UnitsChanged(IFieldAccess &form, int newUnits)
{
    UnitsChanged(form, newUnits, ContextRules());
}

QString CMeterDoc::ImageToText() const
{
    return m_vars ? m_vars->ImageToText() : QString();
}

QString CMeterDoc::ImageToSendText() const
{
    return m_vars ? m_vars->ImageToSendText() : QString();
}

void CMeterDoc::ImageFromText(const QString &text)
{
    if (m_vars)
        m_vars->ImageFromText(text);
}

QString CMeterDoc::DetectSection(const QString &text)
{
    std::unique_ptr<MeterVars> table;
    const QString header = MeterVars::DetectSection(text, &m_context.version, &table);
    if (table)
        m_vars = std::move(table);
    TellVersion();
    return header;
}

void CMeterDoc::TellVersion()
{
    if (!m_context.version.isEmpty())
        Q_EMIT VersionSettled(m_context.version);
}

void CMeterDoc::SetVars(std::unique_ptr<MeterVars> vars)
{
    m_vars = std::move(vars);
}

QString CMeterDoc::LayoutVersion() const
{
    return m_vars ? m_vars->SectionName().mid(1, 4) : QString();
}

QString CMeterDoc::ConvertPrompt(const QString &target) const
{
    return QStringLiteral("About to convert meter data from %1 to %2  !")
        .arg(LayoutVersion(), target);
}

QString CMeterDoc::RebuildSavePath(
    const QString &path, const QString &remembered, const QString &current)
{
    // The title is the file name, so the last occurrence is the one to replace; an empty
    // remembered title would otherwise turn any path into a bare name in the working folder.
    const qsizetype at = remembered.isEmpty() ? -1 : path.lastIndexOf(remembered);
    if (at < 0 || current.isEmpty())
        return path;
    QString rebuilt = path.left(at) + current;
    if (!rebuilt.endsWith(QLatin1String(".mtr"), Qt::CaseInsensitive)) // not a folder's ".mtr"
        rebuilt += QLatin1String(".mtr");
    return rebuilt;
}
