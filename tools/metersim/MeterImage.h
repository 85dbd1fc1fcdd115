#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>

// The simulated meter's configuration memory: one firmware layout read from a layout file
// ("vars20.dat" / "varsQX.dat" syntax) and the 256-byte image it describes. Owned by
// MeterIdentity, which reads and writes variables by name, dumps the image as image text and
// takes written images back; also loads and saves the meter file that lets a test preset a meter.
class MeterImage
{
public:
    struct Entry
    {
        QString name;
        int size = 0;
        int offset = 0;
    };

    // The section a firmware version's layout is read from, the same mapping the program
    // applies when it builds its table for that version (Kelvane from "vars20.dat", Quixal
    // from "varsQX.dat"), so that both ends agree on where every byte lies.
    static QString SectionFor(bool quixal, const QString &version);

    // Reads the section (for example "[4.1A]") from the layout file. 1 when the section was
    // found and holds at least one variable; 0 with LastError set otherwise.
    int LoadLayout(const QString &layoutFile, const QString &section);
    QString LastError() const { return m_lastError; }
    QString Section() const { return m_section; }
    const QList<Entry> &Entries() const { return m_entries; }
    // Bytes the layout covers; the length of an image the meter accepts.
    int ImageSize() const { return m_imageSize; }
    // Bytes that appear in the image text (entries of size 1, 2 or 4).
    int TextByteCount() const;

    bool Has(const QString &name) const { return Find(name) != nullptr; }
    // Unsigned value of a 1-, 2- or 4-byte variable; 0 when the layout lacks it.
    uint32_t GetU(const QString &name) const;
    // Stores the low bits that fit the variable; nothing when the layout lacks it.
    void SetU(const QString &name, uint32_t value);
    int32_t GetI(const QString &name) const;
    float GetF(const QString &name) const;
    void SetF(const QString &name, float value);

    void Clear();
    // Image text: two upper-case hex digits per byte in layout order, most significant byte of
    // each variable first, each followed by the separator (blank in files, CR when sent).
    QByteArray ToText(char separator = ' ') const;
    // Reads bytes at 3 x k of the text, stopping at the end of the text; 0 when any byte that
    // the text reaches is not two hex digits (the image is then unchanged).
    int FromText(const QByteArray &text);
    // Replaces the whole image by bytes in text order (as received from the program); 1 when
    // the count equals TextByteCount, else 0 and the image is unchanged.
    int FromTextBytes(const QByteArray &bytes);

    // The meter file: one line of image text. 1 on success.
    int LoadFile(const QString &path);
    int SaveFile(const QString &path) const;

private:
    const Entry *Find(const QString &name) const;

    QList<Entry> m_entries;
    unsigned char m_image[256] = {};
    int m_imageSize = 0;
    QString m_section;
    QString m_lastError;
};
