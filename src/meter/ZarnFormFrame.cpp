#include "meter/ZarnFormFrame.h"

#include "app/Globals.h"

int ZarnFormFrame::s_smallFrames = 0;

ZarnFormFrame::ZarnFormFrame(QWidget *parent)
    : CChildFrame(parent)
    , m_geometry(NextGeometry())
{
}

QRect ZarnFormFrame::NextGeometry()
{
    QRect geometry;
    if (g_DocKind == 2) {
        geometry = QRect(0, 0, 560, 470);
        ++s_smallFrames;
    } else {
        geometry = QRect(300, 0, 685, 700);
    }
    if (s_smallFrames > 2) {
        g_DocKind = 1;
        s_smallFrames = 0;
    }
    return geometry;
}
