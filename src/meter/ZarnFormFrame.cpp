#include "meter/ZarnFormFrame.h"

#include "base/Globals.h"

namespace {
int s_smallFrames = 0;
} // namespace

ZarnFormFrame::ZarnFormFrame(QWidget *parent)
    : ZarnFormFrame(kSmallGeometry, kFormGeometry, 0, parent)
{
}

ZarnFormFrame::ZarnFormFrame(const QRect &small, const QRect &form, int formKind, QWidget *parent)
    : CChildFrame(parent)
{
    if (g_DocKind == 2) {
        m_geometry = small;
        ++s_smallFrames;
    } else {
        m_geometry = form;
        if (formKind != 0)
            g_DocKind = formKind;
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
