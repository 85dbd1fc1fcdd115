// The main frame's Window menu and status bar as a technician meets them: the menu is there
// whatever window is active (or none), lists the open windows by number with the active one
// checked, and choosing one brings it forward; a command's prompt gives way to "Ready"; a second
// window onto a meter form starts on the same Desired range as the first.
#include "app/CDocManager.h"
#include "app/CMainFrame.h"
#include "app/CTarvikApp.h"
#include "base/CChildFrame.h"
#include "base/CDocument.h"
#include "base/Globals.h"
#include "base/UserMessage.h"
#include "meter/ZarnFormView.h"
#include "support/TestEnv.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>

#include <gtest/gtest.h>

#include <functional>

namespace {

class WindowMenu : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetGlobals();
        TestEnv::ClearPreferences();
        m_oldHandler = UserMessage::SetHandler([](const QString &, const QString &) {});
        m_app = std::make_unique<CTarvikApp>(LinkTiming(), false);
        ASSERT_TRUE(m_app->InitInstance());
        m_app->MainFrame()->resize(1366, 768);
        m_app->MainFrame()->show();
    }

    void TearDown() override
    {
        m_app.reset();
        UserMessage::SetHandler(m_oldHandler);
        ResetGlobals();
    }

    CMainFrame *Frame() const { return m_app->MainFrame(); }
    QMdiArea *Area() const { return Frame()->MdiArea(); }

    // The menu bar's Window menu, opened as the user opens it (its list is filled then).
    QMenu *OpenWindowMenu() const
    {
        for (QAction *action : Frame()->menuBar()->actions()) {
            if (action->text() == QStringLiteral("&Window") && action->menu()) {
                Q_EMIT action->menu()->aboutToShow();
                return action->menu();
            }
        }
        return nullptr;
    }

    // The numbered window entries of the Window menu.
    static QList<QAction *> WindowEntries(QMenu *menu)
    {
        QList<QAction *> entries;
        for (QAction *action : menu->actions())
            if (action->text().startsWith(QLatin1Char('&')) && action->text().at(1).isDigit())
                entries.append(action);
        return entries;
    }

    std::unique_ptr<CTarvikApp> m_app;
    UserMessage::Handler m_oldHandler;
};

} // namespace

// Whatever kind of window is active (and with none), the Window menu lists every open window
// as "&N title" in opening order, checks only the active one, and choosing an entry activates
// that window, switching the menu bar to its type's.
TEST_F(WindowMenu, ListsTheOpenWindowsWhateverIsActive)
{
    QMenu *menu = OpenWindowMenu();
    ASSERT_NE(menu, nullptr) << "no Window menu without a child window";
    EXPECT_TRUE(WindowEntries(menu).isEmpty());
    EXPECT_FALSE(Frame()->Action(QStringLiteral("window_new"))->isEnabled());

    const std::vector<std::pair<const char *, std::function<void()>>> opens = {
        { "Quixal", [this] { m_app->OnNewQuixal(); } },
        { "Kelvane", [this] { m_app->OnNewMeterForm(); } },
        { "Modbus", [this] { m_app->OnNewModbus(); } },
        { "datalog", [this] { m_app->OnNewDatalog(); } },
        { "terminal", [this] { m_app->OnNewTerminal(); } },
    };
    for (const auto &[kind, open] : opens) {
        open();
        const QList<QMdiSubWindow *> windows = Area()->subWindowList(QMdiArea::CreationOrder);
        menu = OpenWindowMenu();
        ASSERT_NE(menu, nullptr) << kind << " active: no Window menu";
        const QList<QAction *> entries = WindowEntries(menu);
        ASSERT_EQ(entries.size(), windows.size()) << kind;
        for (int i = 0; i < entries.size(); ++i) {
            EXPECT_EQ(entries[i]->text(),
                QStringLiteral("&%1 %2").arg(i + 1).arg(windows[i]->windowTitle()))
                << kind;
            EXPECT_EQ(entries[i]->isChecked(), windows[i] == Area()->activeSubWindow())
                << kind << i;
        }
    }

    // Choosing each entry in turn brings its window forward, with its own menu bar, which
    // still has the Window menu checking the chosen entry.
    const QList<QMdiSubWindow *> windows = Area()->subWindowList(QMdiArea::CreationOrder);
    for (int i = 0; i < windows.size(); ++i) {
        QList<QAction *> entries = WindowEntries(OpenWindowMenu());
        ASSERT_EQ(entries.size(), windows.size());
        entries[i]->trigger();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(Area()->activeSubWindow(), windows[i]) << i;
        const auto *frame = qobject_cast<CChildFrame *>(windows[i]);
        ASSERT_NE(frame, nullptr);
        const bool ownMenu = qobject_cast<ZarnFormView *>(frame->View()) != nullptr
            || m_app->DocManager()
                    ->Templates()[size_t(frame->View()->GetDocument()->TypeIndex())]
                    .menu
                != CDocTemplate::Menu::Main;
        EXPECT_EQ(Frame()->CurrentMenu() != CDocTemplate::Menu::Main, ownMenu) << i;
        QMenu *menuNow = OpenWindowMenu();
        ASSERT_NE(menuNow, nullptr) << i;
        entries = WindowEntries(menuNow);
        for (int j = 0; j < entries.size(); ++j)
            EXPECT_EQ(entries[j]->isChecked(), j == i) << i << " " << j;
    }
    // Past nine windows the list stops at nine and offers the rest through a chooser.
    auto *kelvane = qobject_cast<CChildFrame *>(windows.at(1));
    ASSERT_NE(kelvane, nullptr);
    Area()->setActiveSubWindow(kelvane);
    for (int i = 0; i < 5; ++i)
        Frame()->Action(QStringLiteral("window_new"))->trigger();
    ASSERT_EQ(Area()->subWindowList().size(), 10);
    QMenu *crowded = OpenWindowMenu();
    EXPECT_EQ(WindowEntries(crowded).size(), 9);
    EXPECT_EQ(crowded->actions().last()->text(), QStringLiteral("&More Windows..."));
    // The windows onto one document are told apart.
    const QString form = kelvane->windowTitle();
    EXPECT_EQ(WindowEntries(crowded).at(1)->text(), QStringLiteral("&2 %1:1").arg(form));
    EXPECT_EQ(WindowEntries(crowded).at(5)->text(), QStringLiteral("&6 %1:2").arg(form));

    const QString shots = qEnvironmentVariable("TARVIK_TRUST_SHOTS");
    if (!shots.isEmpty()) {
        QMenu *shown = OpenWindowMenu();
        Frame()->UpdateCommandUI();
        shown->popup(Frame()->mapToGlobal(QPoint(200, 30)));
        EXPECT_TRUE(QTest::qWaitForWindowExposed(shown));
        shown->grab().save(shots + QStringLiteral("/window-menu.png"));
        shown->hide();
    }
}

// A command's prompt shows while the pointer is on its menu item or button, and "Ready" comes
// back once the command has been chosen.
TEST_F(WindowMenu, StatusBarReturnsToReadyAfterAPrompt)
{
    m_app->OnNewModbus();
    QStatusBar *status = Frame()->statusBar();
    EXPECT_EQ(status->currentMessage(), QStringLiteral("Ready"));

    // A menu item: hovered, then chosen.
    QMenu *menu = OpenWindowMenu();
    ASSERT_NE(menu, nullptr);
    menu->popup(Frame()->mapToGlobal(QPoint(100, 100)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
    QAction *tile = Frame()->Action(QStringLiteral("window_tile"));
    const QPoint onTile = menu->actionGeometry(tile).center();
    QTest::mouseMove(menu, onTile);
    QTRY_COMPARE(
        status->currentMessage(), QStringLiteral("Arrange windows as non-overlapping tiles"));
    QTest::mouseClick(menu, Qt::LeftButton, {}, onTile);
    QTRY_VERIFY(!menu->isVisible());
    EXPECT_EQ(status->currentMessage(), QStringLiteral("Ready"));

    // A toolbar button whose command opens a window under the pointer.
    QWidget *button
        = Frame()->ToolBar()->widgetForAction(Frame()->Action(QStringLiteral("new_datalog")));
    ASSERT_NE(button, nullptr);
    QTest::mouseMove(button);
    QTRY_COMPARE(status->currentMessage(), QStringLiteral("Open new datalog form window"));
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(status->currentMessage(), QStringLiteral("Ready"));
    EXPECT_EQ(Area()->subWindowList().size(), 2);
}

// Window > New Window on a meter form opens a second view that offers the same Desired range
// as the first, whatever the image says.
TEST_F(WindowMenu, NewWindowShowsTheSameDesiredRange)
{
    m_app->OnNewMeterForm();
    auto *first = qobject_cast<ZarnFormView *>(Frame()->ActiveView());
    ASSERT_NE(first, nullptr);
    auto *desired = qobject_cast<QComboBox *>(first->Control(1115));
    ASSERT_NE(desired, nullptr);
    const int imageRange = desired->currentIndex();
    const int picked = imageRange == 3 ? 1 : 3;
    desired->setCurrentIndex(picked);
    Q_EMIT desired->activated(picked);
    ASSERT_EQ(first->GetField(1115), QString::number(picked + 1));

    Frame()->Action(QStringLiteral("window_new"))->trigger();
    auto *second = qobject_cast<ZarnFormView *>(Frame()->ActiveView());
    ASSERT_NE(second, nullptr);
    ASSERT_NE(second, first);
    EXPECT_EQ(second->GetDocument(), first->GetDocument());
    EXPECT_EQ(second->GetField(1115), QString::number(picked + 1));
    EXPECT_EQ(second->GetField(1020), first->GetField(1020));
    // Both windows are in the list, the new one checked.
    const QList<QAction *> entries = WindowEntries(OpenWindowMenu());
    ASSERT_EQ(entries.size(), 2);
    EXPECT_FALSE(entries[0]->isChecked());
    EXPECT_TRUE(entries[1]->isChecked());
}
