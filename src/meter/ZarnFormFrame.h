#pragma once

#include "base/CChildFrame.h"

#include <QRect>

// Child frame of the Kelvane meter form and of the terminal. Its size is chosen once, when it is
// created, from the kind of window about to be created (docKind, the application's): right
// after the New terminal command (kind 2) a small frame at the top-left corner, otherwise the
// meter-form size. A counter of small frames sends the kind back to 1 after the third, so a
// terminal command shrinks at most three frames.
class ZarnFormFrame : public CChildFrame
{
    Q_OBJECT
public:
    static constexpr QRect kSmallGeometry { 0, 0, 560, 470 };
    static constexpr QRect kFormGeometry { 300, 0, 685, 700 };

    explicit ZarnFormFrame(int &docKind, QWidget *parent = nullptr);
    QRect FrameGeometry() const override { return m_geometry; }

    // Small frames made since the kind last returned to 1 (process-wide).
    static int SmallFrameCount();
    static void ResetSmallFrameCount();

protected:
    // A frame of another meter form: `small` right after the New terminal command, else
    // `form`, and docKind then becomes formKind (0 leaves it). Shares the small-frame count.
    ZarnFormFrame(
        int &docKind, const QRect &small, const QRect &form, int formKind, QWidget *parent);

private:
    QRect m_geometry;
};
