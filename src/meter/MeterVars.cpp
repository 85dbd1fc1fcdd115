#include "meter/MeterVars.h"

#include <QFile>

#include <cstring>

namespace {

// Layout files held in memory (HoldLayoutFile), by the name they are asked for.
QHash<QString, QStringList> &HeldLayouts()
{
    static QHash<QString, QStringList> held;
    return held;
}

// Every line of a layout file without its line end; a missing file has none.
QStringList ReadLines(const QString &fileName)
{
    const auto held = HeldLayouts().constFind(fileName);
    if (held != HeldLayouts().constEnd())
        return *held;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return MeterVars::LayoutLines(file.readAll());
}

int HexDigit(QChar c)
{
    const char ch = c.toLatin1();
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    return -1;
}

// One image byte at text position pos, read the way "%2X" scans: leading blanks skipped, then
// up to two hex digits. -1 when no digit is there.
int ScanHexByte(const QString &text, int pos)
{
    int end = pos + 2;
    while (pos < end && pos < text.size() && text.at(pos).isSpace())
        ++pos;
    int value = -1;
    for (; pos < end && pos < text.size(); ++pos) {
        const int d = HexDigit(text.at(pos));
        if (d < 0)
            break;
        value = (value < 0 ? 0 : value * 16) + d;
    }
    return value;
}

} // namespace

MeterVars::MeterVars(const QString &requested, QString *version)
{
    const QString section = ChooseSection(requested, version);
    ReadLayout(ReadLines(QString::fromLatin1(kLayoutFile)), section);
}

MeterVars::MeterVars(const QString &section, const QString &layoutFile)
{
    ReadLayout(ReadLines(layoutFile), section);
}

MeterVars::MeterVars(const QStringList &layoutLines, const QString &section)
{
    ReadLayout(layoutLines, section);
}

QStringList MeterVars::LayoutLines(const QByteArray &bytes)
{
    QStringList lines;
    for (QByteArray line : bytes.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        lines.append(QString::fromLatin1(line));
    }
    if (bytes.endsWith('\n'))
        lines.removeLast(); // the terminator of the last line opens no new one
    return lines;
}

void MeterVars::HoldLayoutFile(const QString &layoutFile, const QByteArray &bytes)
{
    HeldLayouts().insert(layoutFile, LayoutLines(bytes));
}

QString MeterVars::ChooseSection(QString requested, QString *version)
{
    return ChooseSectionBy(std::move(requested), version,
        {
            { { "[3.9G]", "3.9G" }, "3.9G", nullptr },
            { { "[1.4A]", "1.4A" }, "1.4A", nullptr },
            { { "[4.0A]", "[4.0B]", "4.0x" }, "4.0x", "[4.0A]" },
            { { "[?.??]" }, "?.??", "[?.??]" },
            { { "[1.0A]", "1.0A", "1.1A", "[1.1A]", "[1.2A]", "1.2A", "[1.2B]", "1.2B", "[1.2C]",
                  "1.2C", "[1.3A]", "1.3A" },
                "1.0A", "[1.0A]" },
            { {}, ">= 4.1A", "[4.1A]" },
        });
}

QString MeterVars::ChooseSectionBy(
    QString requested, QString *version, std::initializer_list<VersionRule> rules)
{
    const QString v = version ? *version : QString();
    if (v.isEmpty())
        return requested;
    for (const VersionRule &rule : rules) {
        bool match = rule.entry.size() == 0;
        for (const char *text : rule.entry)
            match = match || v == QLatin1String(text);
        if (!match)
            continue;
        *version = QString::fromLatin1(rule.after);
        return rule.section ? QString::fromLatin1(rule.section) : requested;
    }
    return requested;
}

void MeterVars::ReadLayout(const QStringList &lines, const QString &section)
{
    m_section = section;
    m_image.fill(0);
    m_sizes.fill(-1);
    m_offsets.fill(0);
    m_names.clear();
    m_index.clear();
    m_lookups = 0;
    m_count = 0;
    m_bytes = 0;

    const qsizetype header = lines.indexOf(section);
    if (header < 0)
        return;
    // A section ends at its "." line, an empty line, a size line without a name or with a size
    // other than 1, 2 or 4, at the end of the file, or where the next variable would not fit.
    for (qsizetype i = header + 1; i < lines.size(); ++i) {
        const QString &line = lines.at(i);
        if (line.isEmpty() || line.startsWith(QLatin1Char('.')) || line.size() < 3)
            break;
        const QChar digit = line.at(0);
        const int size = digit == QLatin1Char('1') ? 1
            : digit == QLatin1Char('2')            ? 2
            : digit == QLatin1Char('4')            ? 4
                                                   : 0;
        if (size == 0 || m_count >= kMaxEntries - 1 || m_bytes + size > kImageSize)
            break;
        m_offsets[m_count] = m_bytes;
        m_sizes[m_count] = qint8(size);
        m_names.append(line.mid(2));
        m_bytes += size;
        ++m_count;
    }
    m_offsets[m_count] = m_bytes;
}

QStringList MeterVars::SectionsOf(const QString &layoutFile)
{
    QStringList sections;
    for (const QString &line : ReadLines(layoutFile))
        if (line.startsWith(QLatin1Char('[')))
            sections.append(line);
    return sections;
}

QString MeterVars::DetectSection(
    const QString &text, QString *version, std::unique_ptr<MeterVars> *table)
{
    // The file is read once; each candidate is built from its lines as MeterVars(header) builds
    // it (the version in force choosing the section).
    const QStringList lines = ReadLines(QString::fromLatin1(kLayoutFile));
    for (const QString &header : lines) {
        if (!header.startsWith(QLatin1Char('[')))
            continue;
        const QString section = ChooseSection(header, version);
        std::unique_ptr<MeterVars> candidate(new MeterVars(lines, section));
        if (candidate->KeyText(text) == QLatin1String("AA")) {
            if (table)
                *table = std::move(candidate);
            return header;
        }
    }
    return {};
}

QString MeterVars::DetectLayout(const QString &text, const QString &layoutFile)
{
    const QStringList lines = ReadLines(layoutFile); // read once for every candidate
    for (const QString &header : lines) {
        if (!header.startsWith(QLatin1Char('[')))
            continue;
        const MeterVars candidate(lines, header);
        if (candidate.KeyText(text) == QLatin1String("AA"))
            return header;
    }
    return {};
}

int MeterVars::EntryOf(const QString &name) const
{
    if (m_lookups < kIndexAfter) {
        if (++m_lookups == kIndexAfter) {
            m_index.reserve(m_names.size());
            for (int i = int(m_names.size()) - 1; i >= 0; --i)
                m_index.insert(m_names.at(i), i); // the first of repeated names stays
        } else {
            return int(m_names.indexOf(name));
        }
    }
    return m_index.value(name, -1);
}

int MeterVars::IndexOf(const QString &name) const
{
    const int entry = EntryOf(name);
    return entry < 0 ? 0 : m_offsets[entry];
}

int MeterVars::SizeOf(const QString &name) const
{
    const int entry = EntryOf(name);
    return entry < 0 ? 0 : m_sizes[entry];
}

qint8 MeterVars::Size(int entry) const
{
    return entry >= 0 && entry < m_count ? m_sizes[entry] : qint8(-1);
}

QString MeterVars::Name(int entry) const
{
    return entry >= 0 && entry < m_count ? m_names.at(entry) : QString();
}

int MeterVars::Offset(int entry) const
{
    return entry >= 0 && entry <= m_count ? m_offsets[entry] : 0;
}

quint32 MeterVars::Value(const QString &name, int width) const
{
    const int offset = IndexOf(name);
    quint32 v = 0;
    for (int b = qMin(width, 4) - 1; b >= 0; --b) {
        v <<= 8;
        if (offset + b < kImageSize)
            v |= m_image[offset + b];
    }
    return v;
}

float MeterVars::Float(const QString &name) const
{
    const quint32 bits = Value(name, 4);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

int MeterVars::SetValue(const QString &name, int width, quint32 v)
{
    const int entry = EntryOf(name);
    if (entry < 0)
        return 0;
    const int bytes = qMin(qMin(width, 4), int(m_sizes[entry]));
    for (int b = 0; b < bytes; ++b)
        m_image[m_offsets[entry] + b] = (unsigned char)(v >> (8 * b));
    return 1;
}

int MeterVars::SetFloat(const QString &name, float f)
{
    if (SizeOf(name) != 4)
        return 0;
    quint32 bits;
    std::memcpy(&bits, &f, sizeof bits);
    return SetValue(name, 4, bits);
}

QString MeterVars::ImageText(QChar separator) const
{
    static const char digits[] = "0123456789ABCDEF";
    QString text;
    text.reserve(m_bytes * 3);
    for (int i = 0; i < m_count; ++i)
        for (int b = m_sizes[i] - 1; b >= 0; --b) {
            const unsigned char byte = m_image[m_offsets[i] + b];
            text.append(QLatin1Char(digits[byte >> 4]));
            text.append(QLatin1Char(digits[byte & 0x0F]));
            text.append(separator);
        }
    return text;
}

QString MeterVars::ImageToText() const
{
    return ImageText(QLatin1Char(' '));
}

QString MeterVars::ImageToSendText() const
{
    return ImageText(QLatin1Char('\r'));
}

void MeterVars::ImageFromText(const QString &text)
{
    int k = 0;
    for (int i = 0; i < m_count; ++i)
        for (int b = m_sizes[i] - 1; b >= 0; --b, ++k) {
            if (3 * k + 2 > text.size())
                return;
            const int byte = ScanHexByte(text, 3 * k);
            if (byte >= 0)
                m_image[m_offsets[i] + b] = (unsigned char)byte;
        }
}

QString MeterVars::KeyText(const QString &text) const
{
    if (!Has(QStringLiteral("key")))
        return {};
    return text.mid(3 * IndexOf(QStringLiteral("key")), 2);
}
