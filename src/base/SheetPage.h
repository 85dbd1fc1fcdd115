#pragma once

#include <QList>
#include <QString>

// Font roles of a datasheet page.
enum class SheetFont { Title, Heading, Body };

// One text line of a page: its font, the top-left corner of its text in twips (1/1440 inch from
// the printable area's top-left corner, y growing upward, so lines lie at negative y) and its text.
struct SheetLine
{
    SheetFont font = SheetFont::Body;
    int x = 0;
    int y = 0;
    QString text;
};

// The line pitch of each font in twips (character height plus external leading), as the output
// device measures it.
struct SheetMetrics
{
    int title = 0;
    int heading = 0;
    int body = 0;
    int Pitch(SheetFont font) const;
};

// A painter-free datasheet page: the lines of a one-page sheet with their fonts and positions.
// The meter sheets build it with a pen that writes at its position and moves down the page by
// the current font's pitch; the widget side renders it on a printer and the tests read it as
// data. Fractions of a line are integer arithmetic on the pitch: half a line is the pitch
// divided by 2, truncated; one and a half lines is computed in floating point and truncated.
class SheetPage
{
public:
    static constexpr int kLeft = 620;
    static constexpr int kTop = -300;

    explicit SheetPage(const SheetMetrics &metrics);

    void SetFont(SheetFont font) { m_font = font; }
    SheetFont Font() const { return m_font; }
    int Y() const { return m_y; }
    // The current font's pitch.
    int Pitch() const { return m_metrics.Pitch(m_font); }

    // Writes text at the pen in the current font.
    void Text(const QString &text);
    void DownLines(int lines) { m_y -= lines * Pitch(); }
    void DownHalf() { m_y -= Pitch() / 2; }
    void DownOneAndHalf() { m_y -= int(1.5 * Pitch()); }
    // A section heading: written in the heading font, then the body font and 1.5 of its lines.
    void Heading(const QString &text);

    const QList<SheetLine> &Lines() const { return m_lines; }
    QStringList Texts() const;

    // The face, character height in twips and heaviness of each font role.
    static QString Face(SheetFont font);
    static int Height(SheetFont font);
    static bool Heavy(SheetFont font) { return font != SheetFont::Body; }

    // A text right-aligned in width characters, as printf's "%<width>s" pads it (a longer text
    // stands as it is).
    static QString Right(const QString &text, int width);
    // The first or last n characters of a text; a shorter text is all of it.
    static QString First(const QString &text, int n) { return text.left(n); }
    static QString Last(const QString &text, int n)
    {
        return text.size() <= n ? text : text.right(n);
    }

private:
    SheetMetrics m_metrics;
    SheetFont m_font = SheetFont::Title;
    int m_y = kTop;
    QList<SheetLine> m_lines;
};
