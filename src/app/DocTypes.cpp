#include "app/DocTypes.h"

#include "app/CDocManager.h"
#include "graphs/CQueDoc.h"
#include "graphs/CQueFrame.h"
#include "graphs/CQueView.h"
#include "modbus/Modbus.h"
#include "modbus/ModbusDoc.h"
#include "modbus/ModbusFrame.h"

void DocTypes::RegisterAll(CDocManager &manager)
{
    (void)manager;
    // 1. Kelvane meter form (134)
    // 2. Quixal meter form (141)
    // 3. Terminal (129)
    // 4. Datalog (132)
    // 5. Command list (135)
    {
        CDocTemplate queType;
        queType.resourceId = 135;
        queType.typeString = QStringLiteral(
            "\nZarnQue\nZarnQue\n*.que\n.que\nZarnQuery.Document\nZarnQuery Document");
        queType.createDocument = [] { return new CQueDoc; };
        queType.createFrame = [] { return new CQueFrame; };
        queType.createView = [](CDocument *document) { return new CQueView(document); };
        queType.menu = CDocTemplate::Menu::Main;
        manager.AddDocTemplate(queType);
    }
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
