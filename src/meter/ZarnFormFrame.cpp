#include "meter/ZarnFormFrame.h"

namespace {
int s_smallFrames = 0;
} // namespace

ZarnFormFrame::ZarnFormFrame(int &docKind, QWidget *parent)
    : ZarnFormFrame(docKind, kSmallGeometry, kFormGeometry, 0, parent)
{
}

ZarnFormFrame::ZarnFormFrame(
    int &docKind, const QRect &small, const QRect &form, int formKind, QWidget *parent)
    : CChildFrame(parent)
{
    if (docKind == 2) {
        m_geometry = small;
        ++s_smallFrames;
    } else {
        m_geometry = form;
        if (formKind != 0)
            docKind = formKind;
    }
    if (s_smallFrames > 2) {
        docKind = 1;
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
