#include "app/DocTypes.h"

#include "app/CDocManager.h"
#include "base/Globals.h"
#include "datalog/Datalog.h"
#include "datalog/DatalogDoc.h"
#include "datalog/DatalogFrame.h"
#include "lists/CQueDoc.h"
#include "lists/CQueFrame.h"
#include "lists/CQueView.h"
#include "meter/CMeterDoc.h"
#include "meter/ZarnFormFrame.h"
#include "meter/ZarnFormView.h"
#include "meterqx/QXMeterDoc.h"
#include "meterqx/ZarnQXFormFrame.h"
#include "meterqx/ZarnQXFormView.h"
#include "modbus/Modbus.h"
#include "modbus/ModbusDoc.h"
#include "modbus/ModbusFrame.h"
#include "terminal/CTermDoc.h"
#include "terminal/CTermView.h"

namespace {
CDocTemplate Type(int resourceId, const char *typeString, CDocTemplate::Menu menu)
{
    CDocTemplate type;
    type.resourceId = resourceId;
    type.typeString = QString::fromLatin1(typeString);
    type.menu = menu;
    return type;
}

// The version the last meter window opened or read settled is the one a new window starts with.
void FollowVersion(CMeterDoc *document)
{
    QObject::connect(document, &CMeterDoc::VersionSettled,
        [](const QString &version) { g_DocVersion = version; });
}
} // namespace

void DocTypes::RegisterAll(CDocManager &manager, CSerial *(*meterLink)())
{
    // 1. Kelvane meter form (134)
    CDocTemplate kelvane
        = Type(134, "\n4.1A_Template\nKelvane\n*.mtr\n.mtr\nZarnMeter.Document\nZarnMeter Document",
            CDocTemplate::Menu::Kelvane);
    kelvane.createDocument = [] {
        auto *document = new CMeterDoc(g_DocVersion);
        document->SetWindowKind(g_DocKind);
        FollowVersion(document);
        return document;
    };
    kelvane.createFrame = [] { return new ZarnFormFrame(g_DocKind); };
    kelvane.createView = [](CDocument *document) { return new ZarnFormView(document); };
    manager.AddDocTemplate(kelvane);

    // 2. Quixal meter form (141). It has no menu of its own in the original layout; it takes
    // the meter form's menu so that File > Convert... reaches it.
    CDocTemplate quixal
        = Type(141, "\nQuixal\nQuixal\n*.qxm\n.qxm\nZarnQXMeter.Document\nZarn Quixal-500 Document",
            CDocTemplate::Menu::Kelvane);
    quixal.createDocument = [] {
        auto *document = new QXMeterDoc(g_DocVersion);
        FollowVersion(document);
        return document;
    };
    quixal.createFrame = [] { return new ZarnQXFormFrame(g_DocKind); };
    quixal.createView = [](CDocument *document) { return new ZarnQXFormView(document); };
    manager.AddDocTemplate(quixal);

    // 3. Terminal (129), in the Kelvane form's frame
    CDocTemplate terminal
        = Type(129, "\nUntitled\nTerminal\n*.trm\n.trm\nZarnTerm.Document\nZarnTerminal Document",
            CDocTemplate::Menu::Terminal);
    terminal.createDocument = [] { return new CTermDoc; };
    terminal.createFrame = [] { return new ZarnFormFrame(g_DocKind); };
    terminal.createView = [meterLink](CDocument *document) {
        return new CTermView(static_cast<CTermDoc *>(document), meterLink ? meterLink() : nullptr);
    };
    manager.AddDocTemplate(terminal);

    // 4. Datalog (132)
    CDocTemplate datalog
        = Type(132, "\nDatalog\nDatalog\n*.log\n.log\nZarnDatalog.Document\nZarnDatalog Document",
            CDocTemplate::Menu::Main);
    datalog.createDocument = [] { return new DatalogDoc; };
    datalog.createFrame = [] { return new DatalogFrame; };
    datalog.createView = [meterLink](CDocument *document) {
        return new Datalog(document, meterLink ? meterLink() : nullptr);
    };
    manager.AddDocTemplate(datalog);

    // 5. Command list (135)
    CDocTemplate que
        = Type(135, "\nZarnQue\nZarnQue\n*.que\n.que\nZarnQuery.Document\nZarnQuery Document",
            CDocTemplate::Menu::Main);
    que.createDocument = [] { return new CQueDoc; };
    que.createFrame = [] { return new CQueFrame; };
    que.createView = [](CDocument *document) { return new CQueView(document); };
    manager.AddDocTemplate(que);

    // 6. Modbus network (133)
    CDocTemplate modbus
        = Type(133, "\nModbus\nModbus\n*.txt\n.txt\nZarnModbus.Document\nZarnModbus Document",
            CDocTemplate::Menu::Main);
    modbus.createDocument = [] { return new ModbusDoc; };
    modbus.createFrame = [] { return new ModbusFrame; };
    modbus.createView = [](CDocument *document) {
        auto *view = new Modbus(document);
        view->SetPortSwitch([] { return g_ModbusEnabled == 1; });
        return view;
    };
    manager.AddDocTemplate(modbus);
}
