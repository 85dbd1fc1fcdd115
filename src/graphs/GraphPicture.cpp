#include "graphs/GraphPicture.h"

void GraphPicture::Line(Color color, double width, QPointF a, QPointF b)
{
    lines.push_back(Polyline { color, width, { a, b }, a.x() != b.x() && a.y() != b.y() });
}

void GraphPicture::Add(Polyline line)
{
    if (line.points.size() >= 2)
        lines.push_back(std::move(line));
}

void GraphPicture::Label(
    QPointF pos, const QString &text, const QString &family, double points, Color color)
{
    texts.push_back(Text { pos, text, family, points, color });
}

void GraphPicture::Spread(QPointF origin, QPointF step, const QString &text, const QString &family,
    double points, Color color)
{
    for (int i = 0; i < text.size(); ++i)
        Label(origin + step * i, text.mid(i, 1), family, points, color);
}

std::vector<const GraphPicture::Text *> GraphPicture::FindTexts(const QString &text) const
{
    std::vector<const Text *> found;
    for (const Text &t : texts) {
        if (t.text == text)
            found.push_back(&t);
    }
    return found;
}
