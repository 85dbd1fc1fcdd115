#include "meterqx/ZarnQXFormFrame.h"

ZarnQXFormFrame::ZarnQXFormFrame(QWidget *parent)
    : ZarnFormFrame(kSmallGeometry, kFormGeometry, kDocKind, parent)
{
}
