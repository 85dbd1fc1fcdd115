#pragma once

#include "base/CChildFrame.h"

// The Modbus window's child frame: 1237 x 477 at (200, 0), captioned "Modbus RTU Network".
// Created by the document manager for the Modbus document type.
class ModbusFrame : public CChildFrame
{
    Q_OBJECT
public:
    explicit ModbusFrame(QWidget *parent = nullptr);
    QRect FrameGeometry() const override { return QRect(200, 0, 1237, 477); }

protected:
    // The document manager titles frames with their document's name; this one keeps its own.
    void changeEvent(QEvent *event) override;
};
