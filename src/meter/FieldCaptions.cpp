#include "meter/FieldCaptions.h"

#include "meter/FieldIds.h"

FieldCaptions::FieldCaptions(
    std::initializer_list<Caption> before, std::initializer_list<Caption> after)
    : m_captions(before)
{
    static const Caption flow[] = {
        { FieldId::Units, "Engineering Units" },
        { FieldId::FullScale, "Full Scale" },
        { FieldId::CFactor, "C Factor" },
        { FieldId::XSect, "X-Sect" },
        { FieldId::MaxRange, "Max Range" },
        { FieldId::ZeroCutoff, "Zero Cutoff %" },
        { FieldId::ZeroOffset, "Zero Offset" },
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
