#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>

// One firmware layout of a meter (variable names, sizes and offsets read from a layout file)
// together with one 256-byte meter image. The meter document owns one; the variable transfers,
// the command lists and the datasheet reach variables by name through it.
class MeterVars
{
public:
    static constexpr int kImageSize = 256;
    static constexpr int kMaxEntries = 256; // 255 variables and the end marker
    // The Kelvane layouts, in the working folder.
    static constexpr const char *kLayoutFile = "vars20.dat";

    // Chooses the section for `requested` by the working firmware version *version (which it
    // normalises; null or empty: the requested section stands) and reads it from "vars20.dat".
    MeterVars(const QString &requested, QString *version);
    // Reads `section` exactly as named from `layoutFile`.
    MeterVars(const QString &section, const QString &layoutFile);
    virtual ~MeterVars() = default;

    // The section the working version *version leads to for a requested one; rewrites *version
    // to its normal form. Takes `requested` by value: callers may pass *version itself.
    static QString ChooseSection(QString requested, QString *version);
    // One row of a firmware-version table: when the working version is one of `entry`, it
    // becomes `after` and the section read is `section` (null: the requested one). The last row,
    // with an empty `entry`, serves every other non-empty version; an empty version changes
    // nothing.
    struct VersionRule
    {
        std::initializer_list<const char *> entry;
        const char *after;
        const char *section;
    };
    static QString ChooseSectionBy(
        QString requested, QString *version, std::initializer_list<VersionRule> rules);
    // The section names ("[...]" lines) of a layout file, in file order.
    static QStringList SectionsOf(const QString &layoutFile);
    // A layout file's bytes as its lines, without line ends (a "\r" before a "\n" goes too).
    // Every read of a layout file goes through it.
    static QStringList LayoutLines(const QByteArray &bytes);
    // Holds a layout file's bytes in memory: from then on every table, section list and layout
    // search naming layoutFile reads them instead of the file. For runs that build many tables
    // from a file that never changes (the fuzz targets); the program itself holds nothing.
    static void HoldLayoutFile(const QString &layoutFile, const QByteArray &bytes);
    // Finds the layout an image text was written with: the first section of "vars20.dat" whose
    // table (built as the constructor builds it, so the working version *version applies and is
    // normalised) reads "AA" at "key". Returns that header and hands over its table; empty and
    // no table when none qualifies.
    static QString DetectSection(
        const QString &text, QString *version, std::unique_ptr<MeterVars> *table);
    // The same search with every section read exactly as named, no working version applied:
    // which layout really fits a file.
    static QString DetectLayout(const QString &text, const QString &layoutFile);

    int IndexOf(const QString &name) const; // offset of the variable, 0 when absent
    unsigned char *VarAddress(const QString &name) { return m_image.data() + IndexOf(name); }
    bool Has(const QString &name) const { return EntryOf(name) >= 0; }
    int EntryOf(const QString &name) const; // entry index, -1 when absent
    int SizeOf(const QString &name) const; // declared size, 0 when absent
    qint8 Size(int entry) const; // size of entry i, negative past the end
    QString Name(int entry) const; // empty past the last variable
    int Offset(int entry) const;
    unsigned char *ImageStart() { return m_image.data(); }
    const unsigned char *ImageStart() const { return m_image.data(); }
    int Count() const { return m_count; }
    int ImageBytes() const { return m_bytes; }
    QString SectionName() const { return m_section; }

    // Reads `width` bytes (1, 2 or 4) little-endian at the variable's offset (offset 0 when
    // absent); bytes past the image read as 0.
    quint32 Value(const QString &name, int width) const;
    float Float(const QString &name) const;
    // Writes the low bytes of v into the variable: as many as both `width` and its declared size
    // allow, so a narrower variable keeps its neighbours intact. Nothing happens, and 0 comes
    // back, when the layout lacks the name.
    int SetValue(const QString &name, int width, quint32 v);
    // Floats only go into 4-byte variables.
    int SetFloat(const QString &name, float f);

    QString ImageToText() const; // "%02X " per byte, most significant byte of each variable first
    QString ImageToSendText() const; // "%02X\r" per byte
    // Reads two hex digits at character 3k for image byte k; an empty text changes nothing and a
    // short text fills only the bytes it holds.
    void ImageFromText(const QString &text);
    // The two characters of a text at the "key" byte, "" when the layout has no key.
    QString KeyText(const QString &text) const;

private:
    // Reads `section` from the lines of a layout file already read.
    MeterVars(const QStringList &layoutLines, const QString &section);
    void ReadLayout(const QStringList &layoutLines, const QString &section);
    QString ImageText(QChar separator) const;

    std::array<unsigned char, kImageSize> m_image {};
    std::array<int, kMaxEntries> m_offsets {};
    std::array<qint8, kMaxEntries> m_sizes {};
    QStringList m_names;
    // Entry of each name (the first, when a name repeats), built at the kIndexAfter-th lookup:
    // the forms and conversions look every variable up by name, while a table built only to
    // read its key is not worth indexing.
    static constexpr int kIndexAfter = 8;
    mutable QHash<QString, int> m_index;
    mutable int m_lookups = 0;
    QString m_section;
    int m_count = 0;
    int m_bytes = 0;
};
