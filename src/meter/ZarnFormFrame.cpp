#include "meter/ZarnFormFrame.h"

#include "base/Globals.h"

namespace {
int s_smallFrames = 0;
} // namespace

ZarnFormFrame::ZarnFormFrame(QWidget *parent)
    : CChildFrame(parent)
{
    if (g_DocKind == 2) {
        m_geometry = kSmallGeometry;
        ++s_smallFrames;
    } else {
        m_geometry = kFormGeometry;
    }
    if (s_smallFrames > 2) {
        g_DocKind = 1;
        s_smallFrames = 0;
    }
}

int ZarnFormFrame::SmallFrameCount()
{
    return s_smallFrames;
}

void ZarnFormFrame::ResetSmallFrameCount()
{
    s_smallFrames = 0;
}
