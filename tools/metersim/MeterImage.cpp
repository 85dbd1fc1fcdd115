#include "MeterImage.h"

#include <QFile>
#include <QSaveFile>

#include <cstring>

QString MeterImage::SectionFor(bool quixal, const QString &version)
{
    const QString v = version.trimmed();
    if (v == QLatin1String("3.9G"))
        return QStringLiteral("[3.9G]");
    if (v == QLatin1String("1.4A"))
        return QStringLiteral("[1.4A]");
    if (v == QLatin1String("4.0A") || v == QLatin1String("4.0B"))
        return QStringLiteral("[4.0A]");
    if (quixal) {
        // The Quixal table folds only 1.3A onto the 1.0A layout; every other version reads
        // the "[4.1A]" section of varsQX.dat.
        if (v == QLatin1String("1.3A"))
            return QStringLiteral("[1.0A]");
        return QStringLiteral("[4.1A]");
    }
    static const char *const oneZero[] = { "1.0A", "1.1A", "1.2A", "1.2B", "1.2C", "1.3A" };
    for (const char *s : oneZero) {
        if (v == QLatin1String(s))
            return QStringLiteral("[1.0A]");
    }
    return QStringLiteral("[4.1A]");
}

int MeterImage::LoadLayout(const QString &layoutFile, const QString &section)
{
    m_entries.clear();
    m_imageSize = 0;
    m_section = section;
    m_lastError.clear();
    Clear();
    QFile file(layoutFile);
    if (!file.open(QIODevice::ReadOnly)) {
        m_lastError = QStringLiteral("cannot read layout file %1").arg(layoutFile);
        return 0;
    }
    bool inSection = false;
    while (!file.atEnd()) {
        QByteArray line = file.readLine();
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (!inSection) {
            if (line == section.toLatin1())
                inSection = true;
            continue;
        }
        if (line.isEmpty() || line.startsWith('.') || line.size() < 3)
            break;
        const int size = line.at(0) - '0';
        if (size < 1 || size > 9)
            break;
        if (m_imageSize + size > 256 || m_entries.size() >= 255)
            break;
        m_entries.append({ QString::fromLatin1(line.mid(2)), size, m_imageSize });
        m_imageSize += size;
    }
    if (!inSection) {
        m_lastError = QStringLiteral("section %1 not found in %2").arg(section, layoutFile);
        return 0;
    }
    if (m_entries.isEmpty()) {
        m_lastError
            = QStringLiteral("section %1 of %2 holds no variables").arg(section, layoutFile);
        return 0;
    }
    return 1;
}

int MeterImage::TextByteCount() const
{
    int n = 0;
    for (const Entry &e : m_entries) {
        if (e.size == 1 || e.size == 2 || e.size == 4)
            n += e.size;
    }
    return n;
}

const MeterImage::Entry *MeterImage::Find(const QString &name) const
{
    for (const Entry &e : m_entries) {
        if (e.name == name)
            return &e;
    }
    return nullptr;
}

uint32_t MeterImage::GetU(const QString &name) const
{
    const Entry *e = Find(name);
    if (!e || e->size > 4)
        return 0;
    uint32_t v = 0;
    for (int i = e->size - 1; i >= 0; --i)
        v = (v << 8) | m_image[e->offset + i];
    return v;
}

void MeterImage::SetU(const QString &name, uint32_t value)
{
    const Entry *e = Find(name);
    if (!e || e->size > 4)
        return;
    for (int i = 0; i < e->size; ++i) {
        m_image[e->offset + i] = (unsigned char)(value & 0xFF);
        value >>= 8;
    }
}

int32_t MeterImage::GetI(const QString &name) const
{
    const Entry *e = Find(name);
    if (!e)
        return 0;
    const uint32_t u = GetU(name);
    if (e->size == 1)
        return int8_t(u);
    if (e->size == 2)
        return int16_t(u);
    return int32_t(u);
}

float MeterImage::GetF(const QString &name) const
{
    const uint32_t u = GetU(name);
    float f;
    std::memcpy(&f, &u, sizeof f);
    return f;
}

void MeterImage::SetF(const QString &name, float value)
{
    uint32_t u;
    std::memcpy(&u, &value, sizeof u);
    SetU(name, u);
}

void MeterImage::Clear()
{
    std::memset(m_image, 0, sizeof m_image);
}

QByteArray MeterImage::ToText(char separator) const
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(TextByteCount() * 3);
    for (const Entry &e : m_entries) {
        if (e.size != 1 && e.size != 2 && e.size != 4)
            continue;
        for (int i = e.size - 1; i >= 0; --i) {
            const unsigned char b = m_image[e.offset + i];
            out.append(hex[b >> 4]);
            out.append(hex[b & 15]);
            out.append(separator);
        }
    }
    return out;
}

namespace {
int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}
} // namespace

int MeterImage::FromText(const QByteArray &text)
{
    QByteArray bytes;
    for (int k = 0; 3 * k + 1 < text.size() && bytes.size() < TextByteCount(); ++k) {
        const int hi = HexDigit(text.at(3 * k));
        const int lo = HexDigit(text.at(3 * k + 1));
        if (hi < 0 || lo < 0)
            return 0;
        bytes.append(char(hi * 16 + lo));
    }
    // A short text fills the leading bytes and leaves the rest as they were.
    int k = 0;
    for (const Entry &e : m_entries) {
        if (e.size != 1 && e.size != 2 && e.size != 4)
            continue;
        for (int i = e.size - 1; i >= 0; --i) {
            if (k >= bytes.size())
                return 1;
            m_image[e.offset + i] = (unsigned char)bytes.at(k++);
        }
    }
    return 1;
}

int MeterImage::FromTextBytes(const QByteArray &bytes)
{
    if (bytes.size() != TextByteCount())
        return 0;
    int k = 0;
    for (const Entry &e : m_entries) {
        if (e.size != 1 && e.size != 2 && e.size != 4)
            continue;
        for (int i = e.size - 1; i >= 0; --i)
            m_image[e.offset + i] = (unsigned char)bytes.at(k++);
    }
    return 1;
}

int MeterImage::LoadFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    QByteArray line = file.readLine(4096);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return FromText(line);
}

int MeterImage::SaveFile(const QString &path) const
{
    // Written to a temporary file and renamed, so a reader never sees half an image.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return 0;
    file.write(ToText(' '));
    return file.commit() ? 1 : 0;
}
