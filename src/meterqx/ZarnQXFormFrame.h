#pragma once

#include "meter/ZarnFormFrame.h"

// Child frame of the Quixal meter form: 590 x 540 at 300 from the left, and the kind of window
// about to be created (docKind) becomes 5; right after the New terminal command (kind 2) the
// small 545 x 425 frame at the top-left corner instead, counted with the other small frames.
class ZarnQXFormFrame : public ZarnFormFrame
{
    Q_OBJECT
public:
    static constexpr QRect kSmallGeometry { 0, 0, 545, 425 };
    static constexpr QRect kFormGeometry { 300, 0, 590, 540 };
    static constexpr int kDocKind = 5;

    explicit ZarnQXFormFrame(int &docKind, QWidget *parent = nullptr);
};
