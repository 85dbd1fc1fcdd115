// Every window and dialog of the program on the screen this binary is started on: CTest starts
// it on a 1366 x 768 screen, on a 1920 x 1080 screen at 150 % scaling, and on an 800 x 480
// screen (smaller than any the program is meant for). Each child frame lies inside the main
// window's work area and each dialog inside the screen's available area, with no caption cut
// short; a window too small for its content scrolls it. TARVIK_SHOT_DIR saves each as a PNG.
#include "app/CAuditDlg.h"
#include "app/CGuideDlg.h"
#include "app/CMainFrame.h"
#include "app/CSetup.h"
#include "app/CTarvikApp.h"
#include "app/CTechDlg.h"
#include "app/StartPage.h"
#include "base/CChildFrame.h"
#include "base/Globals.h"
#include "base/UserMessage.h"
#include "datalog/CElogGraph.h"
#include "datalog/Datalog.h"
#include "datalog/PcLogger.h"
#include "meter/ZarnFormView.h"
#include "meterqx/ZarnQXFormView.h"
#include "support/TestEnv.h"
#include "support/WidgetChecks.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

QString ShotName(const QString &name)
{
    const QString dir = qEnvironmentVariable("TARVIK_SHOT_DIR");
    if (dir.isEmpty())
        return QString();
    const QSize screen = QGuiApplication::primaryScreen()->size();
    return QDir(dir).filePath(
        QStringLiteral("%1x%2-%3.png").arg(screen.width()).arg(screen.height()).arg(name));
}

void ExpectInside(const QRect &outer, const QRect &inner, const QString &what)
{
    EXPECT_TRUE(outer.contains(inner))
        << qPrintable(what) << " at " << inner.x() << "," << inner.y() << " " << inner.width()
        << "x" << inner.height() << " outside " << outer.width() << "x" << outer.height();
}

// A changed text relays its window out a layout level at a time, each level through an event.
void SettleLayouts()
{
    for (int level = 0; level < 10; ++level)
        QApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
}

// The datalogger waiting after a Cancel, its header list holding a log's three lines.
void ShowTransferWait(Datalog *logger)
{
    DatalogModel &model = logger->Core().Model();
    model.SetStatus(QStringLiteral("Waiting for the meter to finish sending its log"));
    std::array<bool, 8> every {};
    every.fill(true);
    for (const QByteArray &line : { QByteArray("Serial#  12345678   Start Date: 12/31/26"),
             QByteArray("Snapshot Interval = 86399 secs"), PcLogger::ColumnHeaderLine(every) })
        model.Append(LogData::Header, QString::fromLatin1(line));
    SettleLayouts();
}

// Runs open (which shows a modal dialog) and checks the dialog it shows, then closes it.
void CheckModal(const QString &name, const std::function<void()> &open)
{
    SCOPED_TRACE(qPrintable(name));
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        seen = true;
        const QRect available = dialog->screen()->availableGeometry();
        ExpectInside(available, dialog->frameGeometry(), name);
        ExpectNothingClipped(dialog);
        if (const QString shot = ShotName(name); !shot.isEmpty())
            dialog->grab().save(shot);
        dialog->reject();
    });
    open();
    EXPECT_TRUE(seen) << "no dialog shown";
}

class Screens : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetGlobals();
        TestEnv::ClearPreferences();
        TestEnv::ReseedWorkDir();
        QDir::setCurrent(TestEnv::WorkDir());
        m_oldHandler = UserMessage::SetHandler([](const QString &, const QString &) {});
        m_app = std::make_unique<CTarvikApp>(LinkTiming(), false);
        ASSERT_TRUE(m_app->InitInstance());
        Frame()->showMaximized();
        QApplication::processEvents();
    }
    void TearDown() override
    {
        m_app.reset();
        UserMessage::SetHandler(m_oldHandler);
        ResetGlobals();
    }
    CMainFrame *Frame() const { return m_app->MainFrame(); }

    std::unique_ptr<CTarvikApp> m_app;
    UserMessage::Handler m_oldHandler;
};

TEST_F(Screens, EveryWindowFitsAndShowsItsCaptions)
{
    const QRect available = Frame()->screen()->availableGeometry();
    ExpectInside(available, Frame()->frameGeometry(), QStringLiteral("main window"));
    const struct
    {
        const char *name;
        void (CTarvikApp::*open)();
    } windows[] = {
        { "terminal", &CTarvikApp::OnNewTerminal },
        { "kelvane", &CTarvikApp::OnNewMeterForm },
        { "datalog", &CTarvikApp::OnNewDatalog },
        { "quixal", &CTarvikApp::OnNewQuixal },
        { "modbus", &CTarvikApp::OnNewModbus },
    };
    QMdiArea *area = Frame()->MdiArea();
    for (const auto &w : windows) {
        SCOPED_TRACE(w.name);
        (m_app.get()->*w.open)();
        QApplication::processEvents();
        auto *frame = qobject_cast<CChildFrame *>(area->activeSubWindow());
        ASSERT_NE(frame, nullptr);
        if (auto *logger = qobject_cast<Datalog *>(frame->View()))
            ShowTransferWait(logger);
        SettleLayouts();
        const QRect work = area->viewport()->rect();
        ExpectInside(work, frame->geometry(), QString::fromLatin1(w.name));
        // Where the frame is smaller than its view needs, the view scrolls instead of being cut.
        QWidget *view = frame->View();
        const QSize room = frame->widget()->size();
        const QSize needs = view->minimumSizeHint().expandedTo(view->minimumSize());
        if (needs.width() > room.width() || needs.height() > room.height()) {
            EXPECT_NE(frame->ViewScrollArea(), nullptr) << "cut off without scrolling";
        }
        // A window that scrolls up and down where the area has width to spare has no sideways
        // scroll bar as well.
        if (QScrollArea *scroll = frame->ViewScrollArea();
            scroll && scroll->verticalScrollBar()->isVisible() && frame->width() < work.width()) {
            EXPECT_FALSE(scroll->horizontalScrollBar()->isVisible()) << "both scroll bars";
        }
        ExpectNothingClipped(view);
        if (const QString shot = ShotName(QString::fromLatin1(w.name)); !shot.isEmpty()) {
            Frame()->grab().save(shot);
            frame->grab().save(ShotName(QStringLiteral("%1-frame").arg(QLatin1String(w.name))));
        }
        frame->close();
        QApplication::processEvents();
    }

    for (int page = 0; page < 5; ++page) // each page of the settings sheet
        CheckModal(QStringLiteral("settings-%1").arg(page), [this, page] {
            CSetup sheet(m_app.get(), Frame());
            sheet.Tabs()->setCurrentIndex(page);
            sheet.exec();
        });
    CheckModal(QStringLiteral("audit-trail"), [this] { CAuditDlg(Frame()).exec(); });
    CheckModal(QStringLiteral("about"), [this] { m_app->OnAppAbout(); });
    m_app->OnNewMeterForm();
    QApplication::processEvents();
    auto *form = qobject_cast<ZarnFormView *>(Frame()->ActiveView());
    ASSERT_NE(form, nullptr);
    CheckModal(QStringLiteral("kelvane-curve"), [form] { form->OnDisplayCurve(); });
    CheckModal(QStringLiteral("kelvane-linear"), [form] { form->OnDisplayLinear(); });
    CheckModal(QStringLiteral("convert"), [form] { form->OnCommand(AppCommand::Convert); });
    CheckModal(
        QStringLiteral("print-preview"), [form] { form->OnCommand(AppCommand::PrintPreview); });
    CheckModal(QStringLiteral("authorization"), [this] {
        CTechDlg dialog(Frame());
        dialog.exec();
    });
    CheckModal(QStringLiteral("elog-graph"), [this, available] {
        CElogGraph graph(ElogPlot::Inputs {}, Frame());
        // Where the screen has the room of 1366 x 768 (or 1920 x 1080 at 150 %), every control
        // is on view without scrolling: none lies below the fold of a scroll area.
        if (available.height() >= 700) {
            QTimer::singleShot(0, &graph, [&graph] {
                const QList<QWidget *> controls = graph.findChildren<QWidget *>();
                int checked = 0;
                for (QWidget *w : controls) {
                    if (!qobject_cast<QAbstractButton *>(w) && !qobject_cast<QComboBox *>(w))
                        continue;
                    if (!w->isVisibleTo(&graph))
                        continue;
                    ++checked;
                    const QRect inDialog(w->mapTo(&graph, QPoint(0, 0)), w->size());
                    EXPECT_TRUE(graph.rect().contains(inDialog))
                        << qPrintable(w->objectName() + w->property("text").toString());
                }
                EXPECT_GE(checked, 15); // scale buttons, combos, Export, Exit
                EXPECT_EQ(graph.findChild<QScrollArea *>(), nullptr) << "scrolls";
            });
        }
        graph.exec();
    });
    m_app->OnNewQuixal();
    QApplication::processEvents();
    auto *quixal = qobject_cast<ZarnQXFormView *>(Frame()->ActiveView());
    ASSERT_NE(quixal, nullptr);
    CheckModal(QStringLiteral("quixal-curve"), [quixal] { quixal->OnCurve(); });
    CheckModal(QStringLiteral("quixal-linear"), [quixal] { quixal->OnLinear(); });

    // The guide is a window beside the others, with its pictures built in.
    Frame()->OnUserGuide();
    CGuideDlg *guide = Frame()->GuideWindow();
    ASSERT_NE(guide, nullptr);
    QApplication::processEvents();
    ExpectInside(available, guide->frameGeometry(), QStringLiteral("user guide"));
    const QTextDocument *text = guide->Browser()->document();
    EXPECT_TRUE(text->toPlainText().contains(QStringLiteral("Kelvane meter form")));
    const QVariant picture = text->resource(
        QTextDocument::ImageResource, QUrl(QStringLiteral("docs/screenshots/terminal.png")));
    EXPECT_FALSE(picture.value<QImage>().isNull()) << "picture not built in";
    if (const QString shot = ShotName(QStringLiteral("guide")); !shot.isEmpty())
        guide->grab().save(shot);
}

TEST_F(Screens, EveryNewWindowCommandIsInTheFileMenuWithItsKeys)
{
    // All actions the menu bar reaches, submenus included.
    std::function<void(QMenu *, QList<QAction *> &)> collect
        = [&](QMenu *menu, QList<QAction *> &into) {
              for (QAction *action : menu->actions()) {
                  if (action->menu())
                      collect(action->menu(), into);
                  else
                      into << action;
              }
          };
    QList<QAction *> reachable;
    for (QAction *top : Frame()->menuBar()->actions()) {
        if (top->menu())
            collect(top->menu(), reachable);
    }
    QSet<QString> keys;
    for (QAction *action : std::as_const(reachable)) {
        for (const QKeySequence &key : action->shortcuts()) {
            EXPECT_FALSE(keys.contains(key.toString()))
                << "two commands on " << qPrintable(key.toString());
            keys.insert(key.toString());
        }
    }
    // First start: the empty window area says what to do, the five New commands and Open,
    // inside the area; it goes with the first window.
    QMdiArea *area = Frame()->MdiArea();
    StartPage *start = Frame()->Start();
    ASSERT_NE(start, nullptr);
    EXPECT_TRUE(start->isVisible());
    EXPECT_EQ(start->findChildren<QPushButton *>().size(), 6);
    ExpectInside(area->rect(), start->geometry(), QStringLiteral("start page"));
    ExpectNothingClipped(start);
    if (const QString shot = ShotName(QStringLiteral("start")); !shot.isEmpty())
        Frame()->grab().save(shot);

    Frame()->activateWindow();
    QApplication::setActiveWindow(Frame());
    ASSERT_TRUE(QTest::qWaitForWindowActive(Frame()));
    for (const char *name :
        { "new_terminal", "new_meter_form", "new_datalog", "new_quixal", "new_modbus" }) {
        SCOPED_TRACE(name);
        QAction *action = Frame()->Action(QLatin1String(name));
        ASSERT_NE(action, nullptr);
        EXPECT_TRUE(reachable.contains(action)) << "not in a menu";
        ASSERT_FALSE(action->shortcut().isEmpty());
        // The key opens the window, with whatever window is active taking the keyboard.
        const qsizetype before = area->subWindowList().size();
        QWidget *focus = QApplication::focusWidget() ? QApplication::focusWidget() : Frame();
        QTest::keySequence(focus, action->shortcut());
        QApplication::processEvents();
        EXPECT_EQ(area->subWindowList().size(), before + 1);
        EXPECT_FALSE(start->isVisible());
    }
    // Close on Ctrl+W and Ctrl+F4, from whichever window has the keyboard (the terminal sends
    // every other Ctrl key to the meter).
    QAction *close = Frame()->Action(QStringLiteral("file_close"));
    ASSERT_NE(close, nullptr);
    EXPECT_TRUE(close->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_W)));
    EXPECT_TRUE(close->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_F4)));
    for (const QKeySequence &key :
        { QKeySequence(Qt::CTRL | Qt::Key_W), QKeySequence(Qt::CTRL | Qt::Key_F4) }) {
        const qsizetype before = area->subWindowList().size();
        ASSERT_GT(before, 0);
        QWidget *focus = QApplication::focusWidget() ? QApplication::focusWidget() : Frame();
        QTest::keySequence(focus, key);
        QApplication::processEvents();
        EXPECT_EQ(area->subWindowList().size(), before - 1) << qPrintable(key.toString());
    }
}

} // namespace
