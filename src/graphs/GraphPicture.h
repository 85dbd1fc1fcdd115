#pragma once

#include <QPointF>
#include <QRectF>
#include <QString>

#include <vector>

// A graph as data, free of any painter: the background, the polylines with their pens and the
// texts with their fonts, all in the graph's logical units (x to the right, y upwards). The
// graph builders fill it; the widget part (GraphArea) maps it onto its pixels and draws it, and
// the tests inspect it.
class GraphPicture
{
public:
    struct Color
    {
        int r = 0;
        int g = 0;
        int b = 0;
        friend bool operator==(const Color &, const Color &) = default;
    };
    struct Polyline
    {
        Color color;
        double width = 1; // logical units
        std::vector<QPointF> points;
        // Drawn with smoothed edges; a line of only horizontal and vertical steps does without.
        bool smooth = true;
    };
    // A text drawn with its top-left corner at pos (the top of the character cell) and a
    // transparent background.
    struct Text
    {
        QPointF pos;
        QString text;
        QString family;
        double points = 10; // font size in points, converted by UnitsPerPoint
        Color color;
    };

    // Logical units per font point: the labels scale with the graph, so the layout keeps its
    // proportions at every size of the graph area.
    static constexpr double kUnitsPerPoint = 1.2;

    // The area filled with the background colour before anything is drawn; it is also the least
    // the widget shows.
    QRectF background;
    Color backgroundColor;
    std::vector<Polyline> lines;
    std::vector<Text> texts;

    // Adds a straight line from a to b.
    void Line(Color color, double width, QPointF a, QPointF b);
    // Adds a polyline; one of fewer than two points draws nothing and is left out.
    void Add(Polyline line);
    // Adds a text at pos.
    void Label(QPointF pos, const QString &text, const QString &family, double points, Color color);
    // Adds each character of text as its own label, the i-th at origin + i × step.
    void Spread(QPointF origin, QPointF step, const QString &text, const QString &family,
        double points, Color color);

    // The texts whose text equals the one given (tests and callers look labels up by text).
    std::vector<const Text *> FindTexts(const QString &text) const;
};
