#include "meterqx/ZarnQXFormFrame.h"

ZarnQXFormFrame::ZarnQXFormFrame(int &docKind, QWidget *parent)
    : ZarnFormFrame(docKind, kSmallGeometry, kFormGeometry, kDocKind, parent)
{
}
