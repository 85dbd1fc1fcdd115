#include "base/SheetPage.h"

int SheetMetrics::Pitch(SheetFont font) const
{
    switch (font) {
    case SheetFont::Title:
        return title;
    case SheetFont::Heading:
        return heading;
    case SheetFont::Body:
        break;
    }
    return body;
}

SheetPage::SheetPage(const SheetMetrics &metrics)
    : m_metrics(metrics)
{
}

void SheetPage::Text(const QString &text)
{
    m_lines.append(SheetLine { m_font, kLeft, m_y, text });
}

void SheetPage::Heading(const QString &text)
{
    SetFont(SheetFont::Heading);
    Text(text);
    SetFont(SheetFont::Body);
    DownOneAndHalf();
}

QStringList SheetPage::Texts() const
{
    QStringList texts;
    for (const SheetLine &line : m_lines)
        texts.append(line.text);
    return texts;
}

QString SheetPage::Face(SheetFont font)
{
    return font == SheetFont::Body ? QStringLiteral("Courier New") : QStringLiteral("Arial Black");
}

int SheetPage::Height(SheetFont font)
{
    switch (font) {
    case SheetFont::Title:
        return 350;
    case SheetFont::Heading:
        return 200;
    case SheetFont::Body:
        break;
    }
    return 190;
}

QString SheetPage::Right(const QString &text, int width)
{
    return text.size() >= width ? text : QString(width - text.size(), QLatin1Char(' ')) + text;
}
