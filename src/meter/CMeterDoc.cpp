#include "meter/CMeterDoc.h"

#include "base/AppServices.h"
#include "base/AppTitle.h"
#include "base/CPrefs.h"
#include "base/MeterSession.h"
#include "base/UserMessage.h"
#include "meter/KelvaneFields.h"
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

CMeterDoc::CMeterDoc(QObject *parent)
    : CDocument(parent)
{
}

CMeterDoc::CMeterDoc(const QString &version, QObject *parent)
    : CDocument(parent)
{
    m_context.version = version;
}

CMeterDoc::~CMeterDoc() = default;

bool CMeterDoc::ChooseLayoutFromMeter()
{
    const QString m = AppServices::Meter().Version();
    if (m == QLatin1String("3.9G")) {
        m_context.version = QStringLiteral("3.9G");
    } else if (m == QLatin1String("4.0A") || m == QLatin1String("4.0B")) {
        m_context.version = QStringLiteral("4.0x");
    } else if (m_windowKind == 5
        && QStringList({ "1.4A", "1.3A", "1.2B", "1.2A", "1.1A", "1.0A" }).contains(m)) {
        // a Quixal form opening for a Quixal meter keeps its version
        return false;
    } else if (!m.isEmpty()) {
        m_context.version = QStringLiteral(">= 4.1A");
    } else {
        // No meter identified: the version chosen in the settings stays in force.
        return false;
    }
    return true;
}

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

bool CMeterDoc::CheckWholeImage(const QString &path, const QString &line)
{
    if (!m_vars || m_vars->Count() == 0)
        return true;
    const QString fault = ImageFault(line, m_vars->ImageBytes(), m_vars->SectionName());
    if (fault.isEmpty())
        return true;
    m_openError = fault;
    UserMessage::Show(
        QStringLiteral("%1 was not opened. %2").arg(QFileInfo(path).fileName(), fault),
        QString::fromLatin1(kAppTitle));
    return false;
}

bool CMeterDoc::OnOpenDocument(const QString &path)
{
    m_openError.clear();
    QString line;
    if (!ReadMeterLine(path, &line))
        return false;
    const bool meterChose = ChooseLayoutFromMeter();
    const QString versionInForce = m_context.version;
    if (MeterSeries::OfVersion(AppServices::Meter().Version()) != MeterSeries::Quixal) {
        m_context.meterVersion = AppServices::Meter().Version();
        m_context.revision = AppServices::Meter().Revision();
    }

    std::unique_ptr<MeterVars> table;
    const bool fits = !MeterVars::DetectSection(line, &m_context.version, &table).isEmpty();
    if (!fits)
        table = std::make_unique<MeterVars>(QStringLiteral("[?.??]"), &m_context.version);
    m_vars = std::move(table);
    // A file of a known layout must hold all of it: half an image would be shown and sent with
    // zeros for its missing bytes. One of no layout is shown with a warning and kept from being
    // saved over (below).
    if (fits && !CheckWholeImage(path, line))
        return false;
    m_vars->ImageFromText(line);

    // A Quixal file (renamed ".mtr") fits a Quixal section of vars20.dat: shown, never rewritten
    // by this form's vocabulary.
    if (WarnOtherSeries(QFileInfo(path).fileName(), m_vars->SectionName(), MeterSeries::Kelvane)) {
        m_layoutMismatch = true;
        return true;
    }
    m_layoutMismatch
        = m_vars->Has(QStringLiteral("key")) && m_vars->Value(QStringLiteral("key"), 1) != 0xAA;
    if (m_layoutMismatch)
        WarnLayoutMismatch(path, line, meterChose, versionInForce);
    return true;
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

void CMeterDoc::WarnLayoutMismatch(
    const QString &path, const QString &line, bool meterChose, const QString &versionInForce)
{
    const QString name = QFileInfo(path).fileName();
    const QString found = MeterVars::DetectLayout(line, QStringLiteral("vars20.dat"));
    QString text = QStringLiteral("%1 does not fit the meter layout in force (%2): its data are "
                                  "shown in the wrong places.\n\n")
                       .arg(name, m_vars->SectionName());
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
    const QString section = QStringLiteral("[%1]").arg(version);
    m_context.version = section;
    m_vars = std::make_unique<MeterVars>(section, &m_context.version);
}

int CMeterDoc::ConvertTo(const QString &section)
{
    return ConvertInto(std::make_unique<MeterVars>(section, &m_context.version));
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
    m_context.version = target;
    return ConvertTo(QStringLiteral("[%1]").arg(target));
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
    KelvaneFields::VarsToForm(*m_vars, form, rules);
    m_context.units = int(m_vars->Value(QStringLiteral("flow_func"), 1));
}

void CMeterDoc::FormToVars(IFieldAccess &form, const KelvaneFields::Rules &rules)
{
    if (!m_vars)
        return;
    KelvaneFields::FormToVars(*m_vars, form, rules);
    m_context.units = int(m_vars->Value(QStringLiteral("flow_func"), 1));
}

void CMeterDoc::UnitsChanged(IFieldAccess &form, int newUnits, const KelvaneFields::Rules &rules)
{
    if (!m_vars)
        return;
    KelvaneFields::UnitsChanged(*m_vars, form, m_context.units, newUnits, rules);
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
    return header;
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
