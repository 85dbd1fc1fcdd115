#include "modbus/ModbusFrame.h"

ModbusFrame::ModbusFrame(QWidget *parent)
    : CChildFrame(parent)
{
    setWindowTitle(QStringLiteral("Modbus RTU Network"));
}
