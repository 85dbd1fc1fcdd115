#pragma once

#include "graphs/GraphPicture.h"

#include <QFont>
#include <QWidget>

// The owner-drawn graph area of the graph dialogs: draws a GraphPicture, mapping its logical
// space onto the widget isotropically (the aspect kept, y upwards) with the bounds grown so that
// every line and label of the picture is inside the widget. The background colour fills the
// whole area.
class GraphArea : public QWidget
{
    Q_OBJECT
public:
    explicit GraphArea(QWidget *parent = nullptr);

    void SetPicture(GraphPicture picture);
    const GraphPicture &Picture() const { return m_picture; }

    // The logical rectangle the widget shows: the picture's background, lines and texts.
    QRectF LogicalBounds() const;
    // The pixel rectangle a text of the picture takes in the widget as it is now.
    QRectF TextRect(const GraphPicture::Text &text) const;
    // Maps the picture onto the widget's present size (done on every resize).
    void UpdateMapping();
    // A logical point in widget pixels.
    QPointF Map(QPointF logical) const;
    // The font a text is drawn with at a scale of pixels per logical unit.
    static QFont FontFor(const GraphPicture::Text &text, double scale);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    static QRectF LogicalTextRect(const GraphPicture::Text &text);
    void MapDecimated(const std::vector<QPointF> &logical, std::vector<QPointF> &out) const;

    GraphPicture m_picture;
    QRectF m_bounds;
    double m_scale = 1; // pixels per logical unit
    QPointF m_origin; // pixel position of the bounds' top-left corner
};
