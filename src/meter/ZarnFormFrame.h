#pragma once

#include "app/CChildFrame.h"

// The child frame of the Kelvane meter form and of the terminal. Its size follows g_DocKind
// when it is created: a terminal (2) gets a small frame at the top left, everything else the
// meter-form size. After three small frames in a row the kind falls back to the meter form.
class ZarnFormFrame : public CChildFrame
{
    Q_OBJECT
public:
    explicit ZarnFormFrame(QWidget *parent = nullptr);
    QRect FrameGeometry() const override { return m_geometry; }

    // The size rule on its own, counting small frames as creating a frame does.
    static QRect NextGeometry();
    static void ResetSmallFrameCount() { s_smallFrames = 0; }

private:
    static int s_smallFrames;
    QRect m_geometry;
};
