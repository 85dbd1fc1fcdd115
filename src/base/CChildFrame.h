#pragma once

#include <QMdiSubWindow>

#include <functional>

class CView;
class QScrollArea;

// Base of the child frames: a sub-window of the main frame's MDI area holding one view. Each
// frame class sets its own size and position when it is created (FrameGeometry).
class CChildFrame : public QMdiSubWindow
{
    Q_OBJECT
public:
    explicit CChildFrame(QWidget *parent = nullptr);
    void SetView(CView *view);
    CView *View() const { return m_view; }
    // Size and place of a new frame in the MDI area's coordinates.
    virtual QRect FrameGeometry() const { return QRect(0, 0, 600, 400); }
    // Sizes and places a new frame inside the MDI area's visible part: its own geometry, wider
    // or taller where its view's content needs it, then kept inside the area; a view that cannot
    // shrink to the space left gets a scroll area around it.
    void PlaceIn(const QRect &area);
    // The view's scroll area when it scrolls inside (its own or one PlaceIn added), else null.
    QScrollArea *ViewScrollArea() const;
    // Asked before the frame closes; returning false keeps it open (a modified document whose
    // user cancelled the save question). The document manager installs it.
    void SetCloseGuard(std::function<bool()> guard) { m_closeGuard = std::move(guard); }

Q_SIGNALS:
    // The frame's close was accepted: it is out of the MDI area and goes when the event loop
    // next deletes, but shows its document no more.
    void Closed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    CView *m_view = nullptr;
    std::function<bool()> m_closeGuard;
};
