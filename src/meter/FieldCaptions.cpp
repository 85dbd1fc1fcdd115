#include "meter/FieldCaptions.h"

FieldCaptions::FieldCaptions(
    std::initializer_list<Caption> before, std::initializer_list<Caption> after)
    : m_captions(before)
{
    static const Caption flow[] = {
        { 1004, "Engineering Units" },
        { 1018, "Full Scale" },
        { 1036, "C Factor" },
        { 1039, "X-Sect" },
        { 1038, "Max Range" },
        { 1053, "Zero Cutoff %" },
        { 1037, "Zero Offset" },
    };
    m_captions.insert(m_captions.end(), std::begin(flow), std::end(flow));
    m_captions.insert(m_captions.end(), after);
}

int FieldCaptions::IdOf(const QString &text) const
{
    const QString wanted = text.trimmed();
    for (const Caption &c : m_captions) {
        if (wanted.compare(QLatin1String(c.caption), Qt::CaseInsensitive) == 0
            || wanted == QString::number(c.id))
            return c.id;
    }
    return 0;
}

QString FieldCaptions::CaptionOf(int id) const
{
    for (const Caption &c : m_captions)
        if (c.id == id)
            return QLatin1String(c.caption);
    return QString();
}
