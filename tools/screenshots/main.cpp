// tarvik-shots: starts Tarvik in the current folder (set up by scripts/screenshots: data files,
// preferences pointing at the simulated meter and Modbus network, a simulated Quixal meter on
// "quixal-port"), opens each kind of window as a technician would, talks to the simulators, and
// saves a picture of the main window for each to OUTDIR. With --icons DIR it also writes the
// program icon as tarvik-<size>.png.
//   tarvik-shots OUTDIR [--icons DIR]
#include "app/CAuditDlg.h"
#include "app/CMainFrame.h"
#include "app/CSetup.h"
#include "app/CTarvikApp.h"
#include "app/CTechDlg.h"
#include "app/CommSettings.h"
#include "base/AppIcons.h"
#include "base/CDocument.h"
#include "base/CPrefs.h"
#include "base/CView.h"
#include "base/UserMessage.h"
#include "datalog/CElogGraph.h"
#include "datalog/Datalog.h"
#include "datalog/DatalogCore.h"
#include "link/CSerial.h"
#include "meter/ZarnFormView.h"
#include "meterqx/QXFieldIds.h"
#include "meterqx/ZarnQXFormView.h"
#include "modbus/Modbus.h"
#include "modbus/ModbusTrendView.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {

QString g_outDir;
int g_failures = 0;

// Lets the program run (timers, painting) for ms milliseconds.
void Run(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the program until done() holds, at most limitMs; false when it never did.
bool RunUntil(const std::function<bool()> &done, int limitMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limitMs)
            return false;
        Run(100);
    }
    return true;
}

void Save(QWidget *window, const QString &name)
{
    Run(300);
    const QString path = g_outDir + QLatin1Char('/') + name + QStringLiteral(".png");
    if (window->grab().save(path)) {
        std::printf("%s\n", qPrintable(path));
        std::fflush(stdout);
    } else {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        ++g_failures;
    }
}

template <typename View> View *Newest(CMainFrame *frame)
{
    const QList<View *> views = frame->findChildren<View *>();
    return views.isEmpty() ? nullptr : views.last();
}

// Grows a child window until the form in its view shows whole, without scroll bars.
void ShowWhole(QMdiSubWindow *sub, QWidget *view)
{
    auto *area = view->findChild<QScrollArea *>();
    if (!area || !area->widget())
        return;
    const QSize missing
        = (area->widget()->sizeHint() - area->viewport()->size()).expandedTo(QSize(0, 0));
    if (missing.width() > 0 || missing.height() > 0)
        sub->resize(sub->size() + missing + QSize(4, 4));
}

void CloseAll(CMainFrame *frame)
{
    // The pictures change nothing worth keeping: no "Save changes?" prompt.
    for (CView *view : frame->findChildren<CView *>()) {
        if (view->GetDocument())
            view->GetDocument()->SetModifiedFlag(false);
    }
    frame->MdiArea()->closeAllSubWindows();
    Run(200);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication qapp(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: tarvik-shots OUTDIR [--icons DIR]\n");
        return 2;
    }
    g_outDir = QFileInfo(arguments.at(1)).absoluteFilePath();
    QDir().mkpath(g_outDir);
    const qsizetype iconsAt = arguments.indexOf(QStringLiteral("--icons"));
    if (iconsAt > 0 && iconsAt + 1 < arguments.size()) {
        const QString iconDir = QFileInfo(arguments.at(iconsAt + 1)).absoluteFilePath();
        QDir().mkpath(iconDir);
        const QIcon icon = AppIcons::Program();
        for (const QSize &size : icon.availableSizes())
            icon.pixmap(size).save(
                QStringLiteral("%1/tarvik-%2.png").arg(iconDir).arg(size.width()));
    }

    CTarvikApp app({}, false);
    UserMessage::SetHandler([](const QString &text, const QString &caption) {
        std::fprintf(stderr, "[message %s] %s\n", qPrintable(caption), qPrintable(text));
    });
    if (!app.InitInstance())
        return 1;
    CMainFrame *frame = app.MainFrame();
    frame->showNormal();
    frame->setGeometry(0, 0, 1280, 860);
    Run(500);
    Save(frame, QStringLiteral("main-window"));

    // The Kelvane form, read from the simulated meter.
    app.OnNewMeterForm();
    Run(300);
    if (ZarnFormView *form = Newest<ZarnFormView>(frame)) {
        form->OnReadActive();
        if (!RunUntil([form] { return form->Runner() == nullptr; }, 60000)) {
            std::fprintf(stderr, "the meter read did not finish\n");
            ++g_failures;
        }
        if (QMdiSubWindow *sub = frame->MdiArea()->activeSubWindow())
            sub->move(0, 0);
        Save(frame, QStringLiteral("meter-form"));
    } else {
        std::fprintf(stderr, "no meter form opened\n");
        ++g_failures;
    }
    CloseAll(frame);

    // The terminal: the meter's main screen after the wake-up characters.
    app.OnNewTerminal();
    Run(3000);
    Save(frame, QStringLiteral("terminal"));
    CloseAll(frame);

    // The datalogger: the meter identified by UPDATE, then a few seconds of PC logging, one
    // snapshot a second, into a log file of the working folder.
    app.OnNewDatalog();
    Run(300);
    if (Datalog *logger = Newest<Datalog>(frame)) {
        logger->ButtonOf(Datalog::Update)->click();
        if (!RunUntil([logger] { return !logger->Core().IsBusy(); }, 60000)) {
            std::fprintf(stderr, "the datalogger's UPDATE did not end\n");
            ++g_failures;
        }
        DatalogFields &fields = logger->Core().fields;
        fields.hour = fields.min = QStringLiteral("0");
        fields.sec = QStringLiteral("1");
        fields.fileName = QStringLiteral("screenshot.log");
        logger->FieldsChanged();
        logger->ButtonOf(Datalog::StartPc)->click();
        Run(2000);
        // GRAPH E-LOG while logging: the live graph, which grows with each snapshot.
        logger->OnGraph();
        Run(4500);
        if (CElogGraph *graph = logger->LiveGraph()) {
            Save(graph, QStringLiteral("elog-graph"));
            graph->close();
        } else {
            std::fprintf(stderr, "no live E-LOG graph opened\n");
            ++g_failures;
        }
        logger->ButtonOf(Datalog::StopPc)->click();
        if (!RunUntil([&fields] { return fields.status == QLatin1String("IDLE"); }, 5000)) {
            std::fprintf(stderr, "the datalogger did not return to IDLE\n");
            ++g_failures;
        }
        if (logger->Core().log.snapshotList.size() < 4) {
            std::fprintf(stderr, "the datalogger logged no rows\n");
            ++g_failures;
        }
        Save(frame, QStringLiteral("datalogger"));
    } else {
        std::fprintf(stderr, "no datalogger window opened\n");
        ++g_failures;
    }
    CloseAll(frame);

    // The Modbus network: meters 1 to 3 read once, their fixed data and their readings.
    app.OnNewModbus();
    Run(300);
    if (Modbus *network = Newest<Modbus>(frame)) {
        for (int panel = 1; panel <= 3; ++panel)
            network->FieldEdit(panel, Modbus::Address)->setText(QString::number(panel));
        network->OnStaticButton();
        // Half a minute of polling, a sweep a second, for the trend.
        network->PeriodEdit()->setText(QStringLiteral("1"));
        network->OnPeriodFocusOut();
        network->OnUpdateClicked();
        network->OnDynamicButton();
        Run(30000);
        network->OnDynamicButton(); // STOP
        network->OnUpdateClicked();
        Run(500);
        if (QMdiSubWindow *sub = frame->MdiArea()->activeSubWindow())
            sub->move(0, 0);
        Save(frame, QStringLiteral("modbus"));
        network->OnTrendClicked();
        Run(500);
        if (ModbusTrendView *trend = network->TrendView()) {
            trend->MinutesBox()->setValue(1);
            Save(trend, QStringLiteral("modbus-trend"));
            trend->close();
        } else {
            std::fprintf(stderr, "no Modbus trend opened\n");
            ++g_failures;
        }
    } else {
        std::fprintf(stderr, "no Modbus window opened\n");
        ++g_failures;
    }
    CloseAll(frame);

    // The Quixal form, read from the simulated Quixal meter: the meter port is switched to it as
    // the settings sheet would (and back afterwards), and a terminal identifies the meter first.
    CSerial *link = CTarvikApp::MeterLink();
    const QString kelvanePort = CPrefs().GetPort();
    const QString baud = CPrefs().GetBaud();
    if (link)
        CommSettings::ApplyTerminalPort(
            *link, QDir::current().absoluteFilePath(QStringLiteral("quixal-port")), baud);
    app.OnNewTerminal();
    Run(3000);
    CloseAll(frame);
    app.OnNewQuixal();
    Run(300);
    if (ZarnQXFormView *form = Newest<ZarnQXFormView>(frame)) {
        form->OnRead();
        if (!RunUntil([form] { return form->Runner() == nullptr; }, 60000)) {
            std::fprintf(stderr, "the Quixal meter read did not finish\n");
            ++g_failures;
        }
        if (form->GetField(QXFieldId::SerialNumber).isEmpty()) {
            std::fprintf(stderr, "the Quixal form shows no serial number\n");
            ++g_failures;
        }
        if (QMdiSubWindow *sub = frame->MdiArea()->activeSubWindow()) {
            sub->move(0, 0);
            ShowWhole(sub, form);
        }
        Save(frame, QStringLiteral("quixal-form"));
    } else {
        std::fprintf(stderr, "no Quixal form opened\n");
        ++g_failures;
    }
    CloseAll(frame);
    if (link)
        CommSettings::ApplyTerminalPort(*link, kelvanePort, baud);

    // The settings sheet, on its first page, on "Sending and Audit" and on "Publish".
    const std::pair<int, const char *> pages[]
        = { { 0, "settings" }, { 3, "settings-audit" }, { 4, "settings-publish" } };
    for (const auto &[index, name] : pages) {
        CSetup setup(&app, frame);
        setup.Tabs()->setCurrentIndex(index);
        setup.show();
        Run(500);
        Save(&setup, QLatin1String(name));
        setup.reject();
    }
    // The operator identification a datasheet asks for, and the audit trail of the reads and
    // sends above.
    {
        CTechDlg passcode(frame);
        passcode.show();
        Run(300);
        Save(&passcode, QStringLiteral("authorization"));
        passcode.reject();
        CAuditDlg trail(frame);
        trail.resize(1100, 420);
        trail.show();
        Run(500);
        Save(&trail, QStringLiteral("audit-trail"));
        trail.reject();
    }
    return g_failures == 0 ? 0 : 1;
}
