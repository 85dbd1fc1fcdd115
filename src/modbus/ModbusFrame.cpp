#include "modbus/ModbusFrame.h"

#include <QEvent>

namespace {
const QString kCaption = QStringLiteral("Modbus RTU Network");
}

ModbusFrame::ModbusFrame(QWidget *parent)
    : CChildFrame(parent)
{
    setWindowTitle(kCaption);
}

void ModbusFrame::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::WindowTitleChange && windowTitle() != kCaption)
        setWindowTitle(kCaption);
    CChildFrame::changeEvent(event);
}
