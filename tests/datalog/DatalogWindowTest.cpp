// The datalogger window as a technician uses it: opened by the New datalog form command on the
// application's meter link to tarvik-metersim, logging from the simulator's stream on its own
// timers, in PC Manual Mode and in PC Timer Mode.
#include "../metersim/SimHarness.h"
#include "DialogueWait.h"
#include "app/CDocManager.h"
#include "app/CMainFrame.h"
#include "app/CTarvikApp.h"
#include "base/CPrefs.h"
#include "base/Globals.h"
#include "base/UserMessage.h"
#include "datalog/CElogGraph.h"
#include "datalog/Datalog.h"
#include "datalog/DatalogDoc.h"
#include "datalog/DatalogFrame.h"
#include "datalog/PcLogger.h"
#include "support/TestEnv.h"
#include "terminal/CTermDoc.h"
#include "terminal/CTermView.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

QLineEdit *EditShowing(Datalog *view, const QString &text)
{
    for (QLineEdit *edit : view->findChildren<QLineEdit *>()) {
        if (edit->text() == text)
            return edit;
    }
    return nullptr;
}

// Types text into an edit and leaves it, as the user does.
void Type(QLineEdit *edit, const QString &text)
{
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
    Q_EMIT edit->editingFinished();
}

} // namespace

TEST(DatalogWindow, FrameAndDocument)
{
    DatalogFrame frame;
    EXPECT_EQ(frame.FrameGeometry(), QRect(200, 0, 825, 690));
    EXPECT_EQ(
        frame.windowTitle(), QStringLiteral("PC   and   FLOW METER   E-LOG   CONTROL   CENTER"));
    frame.setWindowTitle(QStringLiteral("Datalog.log"));
    EXPECT_EQ(frame.windowTitle(), DatalogFrame::kCaption);

    const QString path = TestEnv::WorkDir() + QStringLiteral("/kept.log");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("; 1; 2 \r\n");
    file.close();
    DatalogDoc doc;
    EXPECT_TRUE(doc.OnOpenDocument(path));
    EXPECT_FALSE(doc.OnOpenDocument(TestEnv::WorkDir() + QStringLiteral("/none.log")));
    EXPECT_TRUE(doc.OnSaveDocument(path));
    EXPECT_EQ(QFileInfo(path).size(), 9);
    EXPECT_FALSE(doc.StoresContent());
}

// A datalogger log opened as a document shows its rows; Browse puts the file the user
// chose into E-LOG FILENAME, and LOAD with no name asks which log to load.
TEST(DatalogWindow, ALogOpenedAsADocumentShowsItsRows)
{
    const QString path = TestEnv::WorkDir() + QStringLiteral("/opened.log");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("\"Halvren - PC Datalog Filename opened.log\r\n\"Full Scale Flow Rate = 80\r\n"
               "\"Serial#  7   Start Date: 01/31/2007   Time: 09:00:00 AM\r\n"
               ";Line ; Flow \r\n; 1; 5 \r\n; 2; 6 \r\n\r\n\"Stop\r\n");
    file.close();
    DatalogDoc doc;
    ASSERT_TRUE(doc.OnOpenDocument(path));
    doc.SetPathName(path);
    Datalog view(&doc);
    view.OnInitialUpdate();
    // The log is read in slices on the window's dialogue runner.
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return !view.Core().IsBusy(); }));
    EXPECT_EQ(view.Core().log.snapshotList.size(), 2);
    EXPECT_EQ(view.ListViewOf(LogData::Snapshot)->model()->rowCount(), 2);
    EXPECT_EQ(view.FileNameEdit()->text(), path);
    // An exported graph's title names the meter by the serial number the log's header holds.
    EXPECT_EQ(view.GraphLogName(), QStringLiteral("S/N 7"));

    QString chosen = TestEnv::WorkDir() + QStringLiteral("/chosen.log");
    const auto old = Datalog::SetFilePrompt([&](QWidget *, const QString &) { return chosen; });
    view.ButtonOf(Datalog::Browse)->click();
    EXPECT_EQ(view.FileNameEdit()->text(), chosen);
    EXPECT_EQ(view.Core().fields.fileName, chosen);
    // LOAD with no log named asks for one first, and loads it.
    chosen = path;
    view.Core().fields.fileName = QString::fromLatin1(DatalogCore::kPlaceholderFileName);
    view.ButtonOf(Datalog::Load)->click();
    Datalog::SetFilePrompt(old);
    EXPECT_EQ(view.Core().fields.fileName, path);
    EXPECT_TRUE(TestEnv::WaitUntil([&] { return !view.Core().IsBusy(); }));
    QFile::remove(path);
}

// START (PC) and a log transfer ask for the log's name while E-LOG FILENAME holds the
// placeholder: nothing runs when the question is cancelled, and the name given is kept.
TEST(DatalogWindow, LogsAreNamedBeforeTheyAreWritten)
{
    const auto old = UserMessage::SetHandler([](const QString &, const QString &) {});
    for (const Datalog::Button b : { Datalog::StartPc, Datalog::TransferLog }) {
        Datalog view(nullptr);
        view.OnInitialUpdate();
        const QStringList chosen = { QString(), TestEnv::WorkDir() + QStringLiteral("/named.log") };
        int asked = 0;
        const auto oldPrompt = Datalog::SetFilePrompt(
            [&](QWidget *, const QString &) { return chosen.value(asked++); });
        for (const char *name : { DatalogCore::kPlaceholderFileName, "/named.log", "/named.log" }) {
            view.ButtonOf(b)->click();
            ASSERT_TRUE(WaitForDialogue(view.Core()));
            EXPECT_TRUE(view.Core().fields.fileName.endsWith(QLatin1String(name))) << b;
        }
        EXPECT_EQ(asked, 2) << b; // once named, not asked again
        Datalog::SetFilePrompt(oldPrompt);
    }
    EXPECT_FALSE(QFile::exists(QLatin1String(DatalogCore::kPlaceholderFileName)));
    UserMessage::SetHandler(old);
}

TEST(DatalogWindow, NewDatalogFormLogsTheSimulatorsReadings)
{
    SimHarness sim;
    ASSERT_EQ(sim.Start({ "--interval", "200" }), 1);
    sim.ClosePort();
    TestEnv::ClearPreferences();
    ResetGlobals();
    CPrefs::OpenStore()->setValue(QStringLiteral("Port/COM"), sim.SlavePath());
    CPrefs::OpenStore()->setValue(QStringLiteral("MBPort/MBCOM"), QStringLiteral("OFF"));
    QStringList messages;
    const auto old
        = UserMessage::SetHandler([&messages](const QString &text, const QString &caption) {
              messages << caption + '|' + text;
          });
    QTemporaryDir dir;
    {
        LinkTiming timing;
        timing.pacingScale = 0.1;
        CTarvikApp app(timing, false);
        ASSERT_TRUE(app.InitInstance());
        ASSERT_TRUE(messages.isEmpty()) << qPrintable(messages.join('\n'));
        app.OnNewDatalog();
        auto *view = qobject_cast<Datalog *>(app.MainFrame()->ActiveView());
        ASSERT_NE(view, nullptr);
        auto *frame = qobject_cast<DatalogFrame *>(
            app.DocManager()->FramesOf(view->GetDocument()).value(0));
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->geometry(), QRect(200, 0, 856, 690));
        EXPECT_EQ(frame->windowTitle(), DatalogFrame::kCaption);
        // Everything fits the frame's first size, and no caption or text is cut.
        EXPECT_GE(view->width(), view->minimumSizeHint().width());
        EXPECT_GE(view->height(), view->minimumSizeHint().height());
        const auto uncut = [view] {
            for (QLabel *label : view->findChildren<QLabel *>()) {
                const int need = label->fontMetrics().horizontalAdvance(label->text());
                if (label->contentsRect().width() < need)
                    return label->text();
            }
            return QString();
        };
        EXPECT_EQ(uncut(), QString());
        view->Core().state.memoryFigure = 0;
        view->Core().ShowSnapshotCapacity();
        EXPECT_EQ(uncut(), QString());

        // The form's defaults.
        EXPECT_EQ(view->StatusLabel()->text(), QStringLiteral("IDLE"));
        EXPECT_EQ(view->StatusLabel()->font().family(), QStringLiteral("Arial Black"));
        EXPECT_EQ(view->StatusLabel()->font().pointSize(), 10);
        EXPECT_EQ(view->ModeLabel()->text(), QString());
        EXPECT_EQ(view->FileNameEdit()->text(), QStringLiteral("enterafilename.log"));
        EXPECT_EQ(view->CapacityLabel()->text(), QStringLiteral("Press UPDATE Button"));
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(view->OptionBox(i)->isChecked(), i == 2) << i;
        for (const char *placeholder : { "12345678", "v4.1A", "1/31/07", "0.000000e+00", "1 ft^2",
                 "80.000000", "0.00    SCFM", "1234.5678  SCF", "59.1234", "0.00" })
            EXPECT_NE(EditShowing(view, QString::fromLatin1(placeholder)), nullptr) << placeholder;
        EXPECT_TRUE(view->Core().Pc().ClockRunning());
        EXPECT_TRUE(view->ButtonOf(Datalog::Graph)->isEnabled());
        EXPECT_TRUE(TestEnv::WaitUntil([&] { return !view->Core().fields.clockTime.isEmpty(); }));
        if (const QString shot = qEnvironmentVariable("TARVIK_DATALOG_SCREENSHOT"); !shot.isEmpty())
            frame->grab().save(shot + QStringLiteral(".idle.png"));

        // PC Manual Mode, one snapshot a second, for a few seconds.
        Type(EditShowing(view, QStringLiteral("5")), QStringLiteral("1"));
        view->OptionBox(3)->click();
        view->OptionBox(6)->click();
        Type(view->FileNameEdit(), dir.filePath(QStringLiteral("manual.log")));
        // START (PC) first identifies the meter, waiting in the event loop.
        view->ButtonOf(Datalog::StartPc)->click();
        ASSERT_TRUE(WaitForDialogue(view->Core()));
        EXPECT_TRUE(messages.isEmpty()) << qPrintable(messages.join('\n'));
        EXPECT_EQ(view->Core().fields.serialNumber, QStringLiteral("12345678"));
        EXPECT_EQ(view->StatusLabel()->text(), QStringLiteral("Datalogger Running"));
        EXPECT_EQ(view->ModeLabel()->text(), QStringLiteral("PC Manual Mode"));
        EXPECT_EQ(view->Core().Pc().SnapshotPeriodMs(), 1000);
        EXPECT_TRUE(view->Core().Pc().LineReaderRunning());
        // Options cannot change while logging.
        view->OptionBox(0)->click();
        EXPECT_FALSE(view->OptionBox(0)->isChecked());
        EXPECT_TRUE(TestEnv::WaitUntil([&] { return view->Core().log.snapshotList.size() >= 3; }));
        EXPECT_EQ(view->Core().fields.mode, QStringLiteral("PC Manual Mode"));
        view->ButtonOf(Datalog::StopPc)->click();
        EXPECT_EQ(view->StatusLabel()->text(), QStringLiteral("STOPPED"));
        if (const QString shot = qEnvironmentVariable("TARVIK_DATALOG_SCREENSHOT"); !shot.isEmpty())
            frame->grab().save(shot + QStringLiteral(".logged.png"));
        const LogData &log = view->Core().log;
        ASSERT_GE(log.snapshotList.size(), 4); // three rows or more and the stop's empty entry
        EXPECT_EQ(
            view->ListViewOf(LogData::Snapshot)->model()->rowCount(), log.snapshotList.size());
        for (int i = 0; i + 1 < log.snapshotList.size(); ++i) {
            const QStringList fields = log.snapshotList.at(i).split(QLatin1Char(';'));
            bool flowOk = false, totalOk = false;
            fields.value(log.columns.Of(ColumnNumbers::Flow)).trimmed().toDouble(&flowOk);
            fields.value(log.columns.Of(ColumnNumbers::Total)).trimmed().toDouble(&totalOk);
            EXPECT_TRUE(flowOk && totalOk) << qPrintable(log.snapshotList.at(i));
            EXPECT_TRUE(fields.value(log.columns.Of(ColumnNumbers::Relay1))
                            .trimmed()
                            .startsWith(QLatin1String("RL1")));
        }
        EXPECT_TRUE(view->Core().fields.flowRate.endsWith(QLatin1String("SCFM")));
        EXPECT_TRUE(TestEnv::WaitUntil(
            [&] { return view->StatusLabel()->text() == QLatin1String("IDLE"); }));
        // The file reads back with the rows the form showed.
        view->ButtonOf(Datalog::Clear)->click();
        EXPECT_EQ(view->ListViewOf(LogData::Snapshot)->model()->rowCount(), 0);
        view->ButtonOf(Datalog::Load)->click();
        ASSERT_TRUE(TestEnv::WaitUntil([&] { return !view->Core().IsBusy(); }));
        EXPECT_EQ(log.headerList.size(), 4);
        EXPECT_GE(log.snapshotList.size(), 3);
        EXPECT_EQ(log.stopList.size(), 1);

        // GRAPH E-LOG graphs the loaded log: its rows, interval, units and start time.
        bool graphed = false;
        QTimer::singleShot(0, [&] {
            auto *graph = qobject_cast<CElogGraph *>(QApplication::activeModalWidget());
            if (!graph)
                return;
            graphed = true;
            EXPECT_EQ(graph->RowCount(), log.snapshotList.size()); // every row loaded
            EXPECT_EQ(graph->Plot().Input().interval, log.intervalSeconds);
            EXPECT_EQ(graph->Plot().Input().startTime, log.logStartTime);
            EXPECT_TRUE(graph->TimeLabel(0)->text().endsWith(log.logStartTime.right(2)));
            EXPECT_EQ(graph->UnitsLabel()->text(), log.logFlowUnits);
            EXPECT_GT(graph->Plot().Input().columns[ElogPlot::FlowColumn], 0);
            if (const QString shot = qEnvironmentVariable("TARVIK_DATALOG_SCREENSHOT");
                !shot.isEmpty())
                graph->grab().save(shot + QStringLiteral(".graph.png"));
            graph->accept();
        });
        view->ButtonOf(Datalog::Graph)->click();
        EXPECT_TRUE(graphed);

        // PC Timer Mode started after its start time: snapshots at once, stop at the stop time.
        const QDateTime now = QDateTime::currentDateTime();
        const QDateTime start = now.addSecs(-3600);
        // The stop time is kept to whole seconds, so it comes 4 to 5 s from now: room for three
        // snapshots a second apart even when each reading takes a while on a loaded machine.
        const QDateTime stop = now.addSecs(5);
        Type(view->FileNameEdit(), dir.filePath(QStringLiteral("timer.log")));
        DatalogFields &f = view->Core().fields;
        f.startDate = start.toString(QStringLiteral("MM/dd/yy"));
        f.startTime = start.toString(QStringLiteral("HH:mm:ss"));
        f.stopDate = stop.toString(QStringLiteral("MM/dd/yy"));
        f.stopTime = stop.toString(QStringLiteral("HH:mm:ss"));
        view->FieldsChanged();
        view->TimerBox()->click();
        view->ButtonOf(Datalog::StartPc)->click();
        EXPECT_EQ(view->ModeLabel()->text(), QStringLiteral("PC Timer Mode"));
        EXPECT_TRUE(TestEnv::WaitUntil([&] { return view->Core().state.timerWindowEntered; }));
        EXPECT_EQ(view->Core().Pc().SnapshotPeriodMs(), 1000);
        EXPECT_TRUE(TestEnv::WaitUntil([&] { return !view->Core().state.loggingActive; }, 15000));
        EXPECT_GE(log.snapshotList.size(), 3);
        EXPECT_EQ(view->Core().Pc().SnapshotPeriodMs(), 0);
        EXPECT_FALSE(view->Core().Pc().LineReaderRunning());
        EXPECT_TRUE(messages.isEmpty()) << qPrintable(messages.join('\n'));

        // With a terminal window on the logger's port both get every reading: START says
        // nothing, and no row repeats the reading of the row before (the meter's total grows
        // with every reading, five a second here). The terminal's greeting opens the meter's
        // screens; "r" typed in it sends the meter back to streaming.
        app.OnNewTerminal();
        auto *terminal = qobject_cast<CTermView *>(app.MainFrame()->ActiveView());
        ASSERT_NE(terminal, nullptr);
        ASSERT_TRUE(TestEnv::WaitUntil([&] { return !terminal->GreetingRunning(); }, 5000));
        QKeyEvent key(QEvent::KeyPress, Qt::Key_R, Qt::NoModifier, QStringLiteral("r"));
        QApplication::sendEvent(terminal, &key);
        ASSERT_TRUE(TestEnv::WaitUntil(
            [&] { return terminal->Document()->Screen().Text().contains("SCFM"); }, 5000));
        view->TimerBox()->click();
        ASSERT_TRUE(TestEnv::WaitUntil(
            [&] { return view->StatusLabel()->text() == QLatin1String("IDLE"); }, 10000));
        Type(view->FileNameEdit(), dir.filePath(QStringLiteral("terminal.log")));
        view->ButtonOf(Datalog::StartPc)->click();
        ASSERT_TRUE(WaitForDialogue(view->Core()));
        EXPECT_TRUE(view->Core().state.loggingActive);
        EXPECT_TRUE(TestEnv::WaitUntil([&] { return log.snapshotList.size() >= 5; }, 15000));
        view->ButtonOf(Datalog::StopPc)->click();
        EXPECT_TRUE(messages.isEmpty()) << qPrintable(messages.join('\n'));
        QStringList readings; // each row without its number
        for (const QString &row : log.snapshotList)
            readings << row.section(QLatin1Char(';'), 2);
        readings.removeAll(QString());
        ASSERT_GE(readings.size(), 5);
        for (qsizetype i = 1; i < readings.size(); ++i)
            EXPECT_NE(readings[i], readings[i - 1]) << "row " << i + 1 << " repeats a reading";

        EXPECT_TRUE(app.DocManager()->CloseAllDocuments());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    UserMessage::SetHandler(old);
    ResetGlobals();
}
