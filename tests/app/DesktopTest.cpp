// The desktop conventions of the main window: the Edit menu on the focused field or list, the
// modified marker in titles, failed files out of the recent list, Ctrl+Q, the user guide text.
#include "app/CDocManager.h"
#include "app/CGuideDlg.h"
#include "app/CMainFrame.h"
#include "app/CTarvikApp.h"
#include "app/StartPage.h"
#include "app/UserGuide.h"
#include "base/CChildFrame.h"
#include "base/CDocument.h"
#include "base/CView.h"
#include "base/Globals.h"
#include "base/UserMessage.h"
#include "meter/ZarnFormBase.h"
#include "support/TestEnv.h"
#include "support/TestFiles.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>

namespace {

class Desktop : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetGlobals();
        TestEnv::ClearPreferences();
        QDir::setCurrent(TestEnv::WorkDir());
        m_oldHandler = UserMessage::SetHandler(
            [this](const QString &text, const QString &) { m_messages << text; });
        m_app = std::make_unique<CTarvikApp>(LinkTiming(), false);
        ASSERT_TRUE(m_app->InitInstance());
        Frame()->resize(1366, 768);
        Frame()->show();
        QApplication::setActiveWindow(Frame());
    }
    void TearDown() override
    {
        m_app.reset();
        UserMessage::SetHandler(m_oldHandler);
        ResetGlobals();
    }
    CMainFrame *Frame() const { return m_app->MainFrame(); }
    // The four Edit items' enabled states, as the user sees them when the menu opens.
    QString EditState() const
    {
        Frame()->UpdateCommandUI();
        QString state;
        for (const char *name : { "edit_undo", "edit_cut", "edit_copy", "edit_paste" })
            state += Frame()->Action(QLatin1String(name))->isEnabled() ? QLatin1Char('1')
                                                                       : QLatin1Char('0');
        return state; // undo, cut, copy, paste
    }
    void Trigger(const char *name) { Frame()->Action(QLatin1String(name))->trigger(); }

    std::unique_ptr<CTarvikApp> m_app;
    UserMessage::Handler m_oldHandler;
    QStringList m_messages;
};

TEST_F(Desktop, EditMenuActsOnTheFocusedFieldAndList)
{
    QApplication::clipboard()->clear();
    EXPECT_EQ(EditState(), QStringLiteral("0000")) << "no window: nothing to act on";
    m_app->OnNewMeterForm();
    CChildFrame *frame = qobject_cast<CChildFrame *>(Frame()->MdiArea()->activeSubWindow());
    ASSERT_NE(frame, nullptr);
    CDocument *doc = frame->View()->GetDocument();
    const QString title = doc->Title();
    QLineEdit *field = nullptr;
    for (QLineEdit *edit : frame->View()->findChildren<QLineEdit *>()) {
        if (edit->isEnabled() && !edit->isReadOnly() && edit->isVisible()
            && !edit->parentWidget()->inherits("QComboBox")
            && !edit->parentWidget()->inherits("QAbstractSpinBox")) {
            field = edit;
            break;
        }
    }
    ASSERT_NE(field, nullptr);
    field->setFocus();
    field->setText(QString());
    EXPECT_EQ(EditState(), QStringLiteral("0000"));
    QTest::keyClicks(field, QStringLiteral("42"));
    EXPECT_EQ(EditState(), QStringLiteral("1000")) << "typed: Undo";
    field->selectAll();
    EXPECT_EQ(EditState(), QStringLiteral("1110"));
    Trigger("edit_cut");
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("42"));
    EXPECT_EQ(EditState(), QStringLiteral("1001")) << "clipboard holds text: Paste";
    Trigger("edit_paste");
    Trigger("edit_paste");
    EXPECT_EQ(field->text(), QStringLiteral("4242"));
    Trigger("edit_undo");
    EXPECT_EQ(field->text(), QStringLiteral("42"));

    // Typing marked the document: the window shows the marker, the title itself is unchanged.
    EXPECT_TRUE(doc->IsModified());
    EXPECT_TRUE(frame->isWindowModified());
    EXPECT_EQ(doc->Title(), title);
    EXPECT_TRUE(Frame()->isWindowModified());
    QMenu *window = Frame()->WindowMenu();
    Q_EMIT window->aboutToShow();
    bool listed = false;
    for (QAction *action : window->actions())
        listed = listed || action->text() == QStringLiteral("&1 ") + title;
    EXPECT_TRUE(listed) << "the Window menu lists the title without the marker";

    // A list: Copy takes its selected row, the rest stay off.
    auto *list = frame->View()->findChild<QTreeWidget *>();
    ASSERT_NE(list, nullptr);
    list->setFocus();
    list->clearSelection();
    QApplication::clipboard()->clear();
    EXPECT_EQ(EditState(), QStringLiteral("0000"));
    list->setCurrentItem(list->topLevelItem(1));
    EXPECT_EQ(EditState(), QStringLiteral("0010"));
    Trigger("edit_copy");
    const QTreeWidgetItem *row = list->topLevelItem(1);
    QStringList cells;
    for (int c = 0; c < row->columnCount(); ++c)
        cells << row->text(c);
    EXPECT_EQ(QApplication::clipboard()->text(), cells.join(QLatin1Char('\t')));
}

TEST_F(Desktop, FailedFilesLeaveTheRecentListAndCtrlQQuits)
{
    CDocManager *docs = m_app->DocManager();
    const QString gone = QDir(TestEnv::WorkDir()).filePath(QStringLiteral("gone.mtr"));
    const QString kept = QDir(TestEnv::WorkDir()).filePath(QStringLiteral("Terminal.trm"));
    docs->AddToRecentFiles(kept);
    docs->AddToRecentFiles(gone);
    ASSERT_TRUE(docs->RecentFiles().contains(gone));
    m_messages.clear();
    EXPECT_EQ(docs->OpenDocumentFile(gone), nullptr);
    EXPECT_EQ(m_messages, QStringList { QStringLiteral("Failed to open document.") });
    EXPECT_EQ(docs->RecentFiles(), QStringList { kept });
    docs->LoadRecentFiles(); // and from the preferences too
    EXPECT_EQ(docs->RecentFiles(), QStringList { kept });
    // A meter file refused for what it holds says why in one message, not two.
    WriteFile(QStringLiteral("half.mtr"), ReadFile(QStringLiteral("41A_Template.mtr")).left(300));
    m_messages.clear();
    EXPECT_EQ(docs->OpenDocumentFile(QStringLiteral("half.mtr")), nullptr);
    EXPECT_EQ(m_messages.size(), 1) << qPrintable(m_messages.join(QLatin1Char('|')));

    QAction *exit = Frame()->Action(QStringLiteral("app_exit"));
    EXPECT_EQ(exit->text(), QStringLiteral("E&xit"));
    EXPECT_TRUE(exit->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_Q)));
    exit->trigger();
    EXPECT_FALSE(Frame()->isVisible());
}

// Desktop keys and texts; the recent files in File > Open Recent and on the start page.
TEST_F(Desktop, MenuKeysAndRecentFiles)
{
    EXPECT_EQ(Frame()->Action(QStringLiteral("file_save_as"))->shortcut(),
        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    EXPECT_EQ(
        Frame()->Action(QStringLiteral("view_settings"))->text(), QStringLiteral("Settings…"));
    ASSERT_TRUE(QTest::qWaitForWindowActive(Frame()));
    QTest::keyClick(Frame(), Qt::Key_F1);
    EXPECT_NE(Frame()->GuideWindow(), nullptr) << "F1 shows the guide";
    for (const char *name : { "Modbus.txt", "Terminal.trm" })
        m_app->DocManager()->AddToRecentFiles(
            QDir(TestEnv::WorkDir()).filePath(QLatin1String(name)));
    auto *recent = Frame()->menuBar()->actions().constFirst()->menu()->findChild<QMenu *>(
        QStringLiteral("file_recent"));
    ASSERT_TRUE(recent && recent->actions().size() == 2);
    ASSERT_EQ(Frame()->Start()->RecentButtons().size(), 2);
    Frame()->Start()->RecentButtons().at(0)->click();
    recent->actions().at(1)->trigger();
    EXPECT_EQ(Frame()->MdiArea()->subWindowList().size(), 2) << "both opened their files";
}

// The modified marker follows the typed text: Undo back to the saved text takes it away, Redo
// brings it back, a save moves the saved text on, and a changed choice keeps it.
TEST_F(Desktop, ModifiedMarkerFollowsUndoAndRedo)
{
    m_app->OnNewMeterForm();
    auto *frame = qobject_cast<CChildFrame *>(Frame()->MdiArea()->activeSubWindow());
    auto *form = frame ? qobject_cast<ZarnFormBase *>(frame->View()) : nullptr;
    ASSERT_NE(form, nullptr);
    auto *a = qobject_cast<QLineEdit *>(form->Control(1010)); // two relay set points
    auto *b = qobject_cast<QLineEdit *>(form->Control(1011));
    auto *choice = qobject_cast<QComboBox *>(form->Control(1006));
    ASSERT_TRUE(a && b && choice);
    const QString path = QDir(TestEnv::WorkDir()).filePath(QStringLiteral("undo-test.mtr"));
    const auto oldPrompt
        = ZarnFormBase::SetSaveAsPrompt([&](QWidget *, const QString &) { return path; });
    const struct
    {
        const char *what;
        std::function<void()> act;
        bool modified;
    } steps[] = {
        { "typed", [&] { QTest::keyClicks(a, QStringLiteral("9")); }, true },
        { "Undo", [&] { a->undo(); }, false },
        { "Redo, another field typed", [&] { a->redo(), QTest::keyClicks(b, QStringLiteral("7")); },
            true },
        { "one of two undone", [&] { a->undo(); }, true },
        { "both undone", [&] { b->undo(); }, false },
        { "typed and saved",
            [&] { QTest::keyClicks(b, QStringLiteral("5")), Trigger("file_save"); }, false },
        { "undone past the save", [&] { b->undo(); }, true },
        { "a choice, then typing undone",
            [&] {
                Q_EMIT choice->activated(1), QTest::keyClicks(b, QStringLiteral("3")), b->undo();
            },
            true },
    };
    for (const auto &step : steps) {
        step.act();
        EXPECT_EQ(form->GetDocument()->IsModified(), step.modified) << step.what;
    }
    ZarnFormBase::SetSaveAsPrompt(oldPrompt);
    EXPECT_TRUE(QFile::remove(path)) << "saved where the prompt said";
}

TEST(UserGuideText, TheReadmeSectionWithoutDeveloperNotes)
{
    const QString readme = QStringLiteral(
        "# Tarvik\n\nIntro.\n\n## User guide\n\nThe pictures come from `scripts/shots`.\n\n"
        "**Main window.** Toolbar.\n\n![Main](docs/screenshots/main-window.png)\n\n## "
        "Other\n\nNo.\n");
    EXPECT_EQ(UserGuide::FromReadme(readme),
        QStringLiteral("# User Guide\n\n**Main window.** Toolbar.\n\n"
                       "![Main](docs/screenshots/main-window.png)\n"));
    EXPECT_TRUE(UserGuide::FromReadme(QStringLiteral("# Tarvik\n\n## Other\n\nx\n")).isEmpty());
}

} // namespace
