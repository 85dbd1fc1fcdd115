#include "app/DocTypes.h"

#include "app/CDocManager.h"
#include "meter/CMeterDoc.h"
#include "meter/MeterVarsView.h"
#include "meter/ZarnFormFrame.h"
#include "modbus/Modbus.h"
#include "modbus/ModbusDoc.h"
#include "modbus/ModbusFrame.h"

void DocTypes::RegisterAll(CDocManager &manager)
{
    // 1. Kelvane meter form (134)
    CDocTemplate kelvane;
    kelvane.resourceId = 134;
    kelvane.typeString = QStringLiteral(
        "\n4.1A_Template\nKelvane\n*.mtr\n.mtr\nZarnMeter.Document\nZarnMeter Document");
    kelvane.createDocument = [] { return new CMeterDoc; };
    kelvane.createFrame = [] { return new ZarnFormFrame; };
    kelvane.createView
        = [](CDocument *doc) { return new MeterVarsView(static_cast<CMeterDoc *>(doc)); };
    kelvane.menu = CDocTemplate::Menu::Kelvane;
    manager.AddDocTemplate(kelvane);
    // 2. Quixal meter form (141)
    // 3. Terminal (129)
    // 4. Datalog (132)
    // 5. Command list (135)
    // 6. Modbus network (133)
    {
        CDocTemplate modbus;
        modbus.resourceId = 133;
        modbus.typeString = QStringLiteral(
            "\nModbus\nModbus\n*.txt\n.txt\nZarnModbus.Document\nZarnModbus Document");
        modbus.createDocument = [] { return new ModbusDoc; };
        modbus.createFrame = [] { return new ModbusFrame; };
        modbus.createView = [](CDocument *document) { return new Modbus(document); };
        modbus.menu = CDocTemplate::Menu::Main;
        manager.AddDocTemplate(modbus);
    }
}
