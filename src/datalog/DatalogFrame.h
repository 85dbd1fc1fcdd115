#pragma once

#include "base/CChildFrame.h"

// The datalogger window's child frame: 825 x 690 at (200, 0), titled "PC   and   FLOW METER
// E-LOG   CONTROL   CENTER" instead of its document's name. Created by the document manager
// for the datalog document type.
class DatalogFrame : public CChildFrame
{
    Q_OBJECT
public:
    static const QString kCaption;

    explicit DatalogFrame(QWidget *parent = nullptr);
    QRect FrameGeometry() const override { return QRect(200, 0, 825, 690); }

protected:
    void changeEvent(QEvent *event) override;
};
