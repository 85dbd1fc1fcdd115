#pragma once

class QScrollArea;
class QWidget;

// Keeps dialogs and child frames usable on small screens (1366 x 768, 150 % scaling, even
// below 1024 x 600): a window whose content cannot shrink to the space it has gets that content
// in a scroll area, and is sized and placed inside the space (ScreenFit). The main frame calls
// FitToScreen for every dialog it sees shown; the document manager calls FitFrame for every new
// child frame.
class WindowFit
{
public:
    // A top-level window (a dialog) inside its screen's available area.
    static void FitToScreen(QWidget *window);
    // Moves a window's layout into a scroll area that becomes the window's only content; null
    // when the window has no layout or was wrapped before.
    static QScrollArea *WrapLayout(QWidget *window);
};
