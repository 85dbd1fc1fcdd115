#include "app/DocTypes.h"

#include "app/CDocManager.h"
#include "graphs/CQueDoc.h"
#include "graphs/CQueFrame.h"
#include "graphs/CQueView.h"

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
}
