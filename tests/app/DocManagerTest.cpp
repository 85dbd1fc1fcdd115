#include "app/CAuditDlg.h"
#include "app/CDocManager.h"
#include "app/CMainFrame.h"
#include "app/CTarvikApp.h"
#include "base/CChildFrame.h"
#include "base/CDocument.h"
#include "base/CPrefs.h"
#include "base/CView.h"
#include "base/Globals.h"
#include "base/SaveDialog.h"
#include "base/SaveFileName.h"
#include "base/SheetPrinter.h"
#include "base/UserMessage.h"
#include "datalog/Datalog.h"
#include "datalog/LogLoader.h"
#include "graphs/GraphExporter.h"
#include "meter/ZarnFormBase.h"
#include "modbus/Modbus.h"
#include "support/TestEnv.h"
#include "support/TestFiles.h"
#include "terminal/CTermDoc.h"
#include "terminal/CTermView.h"

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QMdiArea>
#include <QMenuBar>
#include <QMimeData>
#include <QPointer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace {
// A document type for the tests: opens any file whose first line is not "bad".
class TestDoc : public CDocument
{
public:
    bool OnOpenDocument(const QString &path) override
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) && !file.readLine().startsWith("bad");
    }
};

class TestView : public CView
{
public:
    using CView::CView;
    bool HandlesCommand(AppCommand command) const override
    {
        return command == AppCommand::Enter || CView::HandlesCommand(command);
    }
    bool OnCommand(AppCommand command) override
    {
        m_commands << int(command);
        return command == AppCommand::Enter || CView::OnCommand(command);
    }
    QList<int> m_commands;
};

class TestFrame : public CChildFrame
{
public:
    QRect FrameGeometry() const override { return QRect(10, 20, 300, 200); }
};

CDocTemplate TestTemplate(const QString &ext, CDocTemplate::Menu menu = CDocTemplate::Menu::Main)
{
    CDocTemplate t;
    t.resourceId = 999;
    t.typeString = QStringLiteral("\nTest\nTest\n*%1\n%1\nTest.Document\nTest Document").arg(ext);
    t.createDocument = [] { return new TestDoc; };
    t.createFrame = [] { return new TestFrame; };
    t.createView = [](CDocument *doc) { return new TestView(doc); };
    t.menu = menu;
    return t;
}

class DocManager : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TestEnv::ClearPreferences();
        m_old = UserMessage::SetHandler(
            [this](const QString &text, const QString &) { m_messages << text; });
        m_manager.AddDocTemplate(TestTemplate(QStringLiteral(".tst")));
        m_manager.AddDocTemplate(TestTemplate(QStringLiteral(".two")));
        m_manager.SetMdiArea(&m_area);
        m_area.resize(800, 600);
        m_area.show();
    }
    void TearDown() override { UserMessage::SetHandler(m_old); }

    QString MakeFile(const QString &name, const QByteArray &content = "ok\n")
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(content);
        return path;
    }

    QTemporaryDir m_dir;
    QMdiArea m_area;
    CDocManager m_manager;
    QStringList m_messages;
    UserMessage::Handler m_old;
};
} // namespace

TEST_F(DocManager, OpensByExtensionAndBringsAnOpenFileForward)
{
    const QString path = MakeFile(QStringLiteral("a.tst"));
    CDocument *doc = m_manager.OpenDocumentFile(path);
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(doc->TypeIndex(), 0);
    EXPECT_EQ(doc->Title(), QStringLiteral("a.tst"));
    ASSERT_EQ(m_area.subWindowList().size(), 1);
    EXPECT_EQ(m_area.subWindowList().first()->geometry(), QRect(10, 20, 300, 200));

    MakeFile(QStringLiteral("b.two"));
    ASSERT_NE(m_manager.OpenDocumentFile(m_dir.filePath(QStringLiteral("b.two"))), nullptr);
    EXPECT_EQ(m_area.subWindowList().size(), 2);

    // The same file by another spelling of its path: the first window comes forward.
    const QString other = m_dir.path() + QStringLiteral("/./a.tst");
    EXPECT_EQ(m_manager.OpenDocumentFile(other), doc);
    EXPECT_EQ(m_area.subWindowList().size(), 2);
    EXPECT_EQ(m_area.activeSubWindow(), m_manager.FramesOf(doc).first());
    EXPECT_TRUE(m_messages.isEmpty());
}

TEST_F(DocManager, FilesThatCannotBeOpenedGiveTheMessageAndNoWindow)
{
    const QString cases[] = {
        m_dir.filePath(QStringLiteral("missing.tst")),
        MakeFile(QStringLiteral("unknown.xyz")),
        MakeFile(QStringLiteral("refused.tst"), "bad\n"),
        m_dir.path(),
    };
    for (const QString &path : cases) {
        m_messages.clear();
        EXPECT_EQ(m_manager.OpenDocumentFile(path), nullptr) << path.toStdString();
        EXPECT_EQ(m_messages, QStringList { QStringLiteral("Failed to open document.") });
    }
    EXPECT_TRUE(m_area.subWindowList().isEmpty());
    EXPECT_TRUE(m_manager.Documents().isEmpty());
}

TEST_F(DocManager, RecentListKeepsEightNewestFirstAcrossRuns)
{
    for (int i = 0; i < 10; ++i)
        m_manager.OpenDocumentFile(MakeFile(QStringLiteral("f%1.tst").arg(i)));
    const QStringList recent = m_manager.RecentFiles();
    ASSERT_EQ(recent.size(), CDocManager::kRecentFileCount);
    EXPECT_TRUE(recent.first().endsWith(QStringLiteral("f9.tst")));
    EXPECT_TRUE(recent.last().endsWith(QStringLiteral("f2.tst")));
    EXPECT_FALSE(recent.join(QLatin1Char(' ')).contains(QStringLiteral("f0.tst")));

    CDocManager later;
    later.LoadRecentFiles();
    EXPECT_EQ(later.RecentFiles(), recent);
}

TEST_F(DocManager, FiltersFollowRegistrationOrder)
{
    EXPECT_EQ(m_manager.OpenFilters(),
        (QStringList { QStringLiteral("*.tst (*.tst)"), QStringLiteral("*.two (*.two)"),
            QStringLiteral("All Files (*)") }));
}

TEST_F(DocManager, DocumentGoesWithItsLastWindow)
{
    CDocument *doc = m_manager.OpenDocumentFile(MakeFile(QStringLiteral("w.tst")));
    ASSERT_NE(doc, nullptr);
    QPointer<CDocument> watch(doc);
    CChildFrame *second = m_manager.NewWindow(doc);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(m_manager.FramesOf(doc).size(), 2);
    second->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(m_manager.Documents().size(), 1);
    m_manager.FramesOf(doc).first()->close();
    // The frame goes first, then the document it leaves behind.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(m_manager.Documents().isEmpty());
    EXPECT_TRUE(watch.isNull());

    // Opened again while its closed window waits to be deleted: a new document in a new window,
    // not the window on its way out.
    const QString path = MakeFile(QStringLiteral("again.tst"));
    CDocument *closing = m_manager.OpenDocumentFile(path);
    ASSERT_NE(closing, nullptr);
    m_manager.FramesOf(closing).first()->close();
    EXPECT_TRUE(m_manager.FramesOf(closing).isEmpty());
    CDocument *reopened = m_manager.OpenDocumentFile(path);
    ASSERT_NE(reopened, nullptr);
    EXPECT_NE(reopened, closing);
    ASSERT_EQ(m_manager.FramesOf(reopened).size(), 1);
    EXPECT_EQ(
        m_area.subWindowList(), QList<QMdiSubWindow *> { m_manager.FramesOf(reopened).first() });
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(m_manager.Documents(), QList<CDocument *> { reopened });
}

TEST(MainFrameCommands, MenuBarFollowsTheActiveTypeAndKeysReachTheView)
{
    TestEnv::ClearPreferences();
    CPrefs::OpenStore()->setValue(QStringLiteral("MBPort/MBCOM"), QStringLiteral("OFF"));
    auto old = UserMessage::SetHandler([](const QString &, const QString &) {});
    {
        CTarvikApp app({}, false);
        ASSERT_TRUE(app.InitInstance());
        CDocManager *manager = app.DocManager();
        manager->AddDocTemplate(
            TestTemplate(QStringLiteral(".trmx"), CDocTemplate::Menu::Terminal));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("t.trmx"));
        QFile(path).open(QIODevice::WriteOnly);

        CMainFrame *frame = app.MainFrame();
        const auto menuTitles = [frame] {
            QStringList titles;
            for (QAction *a : frame->menuBar()->actions())
                titles << a->text();
            return titles.join(QLatin1Char(' '));
        };
        // The Window menu is there with no window open as well.
        EXPECT_EQ(menuTitles(), QStringLiteral("&File &Edit &View &Window &Help"));
        CDocument *doc = manager->OpenDocumentFile(path);
        ASSERT_NE(doc, nullptr);
        EXPECT_EQ(frame->CurrentMenu(), CDocTemplate::Menu::Terminal);
        EXPECT_EQ(menuTitles(), QStringLiteral("&File &Edit &View &Window &Help"));
        EXPECT_EQ(frame->windowTitle(), QStringLiteral("Tarvik V2.16 - t.trmx"));

        auto *view = static_cast<TestView *>(frame->ActiveView());
        ASSERT_NE(view, nullptr);
        view->setFocus();
        QTest::keyClick(view, Qt::Key_Return);
        EXPECT_EQ(view->m_commands, QList<int> { int(AppCommand::Enter) });

        // Ctrl+N brings up the Open prompt, not a list of types.
        QString shown;
        QTimer::singleShot(0, [&shown] {
            QWidget *modal = QApplication::activeModalWidget();
            shown = modal ? QString::fromLatin1(modal->metaObject()->className())
                          : QStringLiteral("none");
            if (modal)
                modal->close();
        });
        frame->Action(QStringLiteral("file_new"))->trigger();
        EXPECT_EQ(shown, QStringLiteral("QFileDialog"));

        // A file dropped on the main window opens as a document of its type.
        const QString dropped = dir.filePath(QStringLiteral("dropped.trmx"));
        QFile(dropped).open(QIODevice::WriteOnly);
        QMimeData mime;
        mime.setUrls({ QUrl::fromLocalFile(dropped) });
        // A drop reaches only the window the drag entered.
        QDragEnterEvent enter(
            QPoint(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(frame, &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(frame, &drop);
        ASSERT_EQ(manager->Documents().size(), 2);
        EXPECT_EQ(manager->Documents().last()->Title(), QStringLiteral("dropped.trmx"));
    }
    UserMessage::SetHandler(old);
}

// Every save dialog completes the typed name (extension, trailing dot and blank) before it asks
// about a file there: a name without the extension is asked about the file it would replace,
// another extension gets the type's after it, a folder's name is refused. So is Save As to a
// file another window has open.
TEST(SaveDialogs, NamesAreCompletedBeforeTheReplaceQuestion)
{
    ResetGlobals();
    TestEnv::ClearPreferences();
    QDir::setCurrent(TestEnv::WorkDir());
    QTemporaryDir dir;
    const auto in = [&dir](const QString &name) { return dir.filePath(name); };
    CPrefs::OpenStore()->setValue(QStringLiteral("Port/COM"), in(QStringLiteral("no-port")));
    CPrefs::OpenStore()->setValue(QStringLiteral("MBPort/MBCOM"), QStringLiteral("OFF"));
    QStringList said; // questions (answered No) and messages
    const auto oldAsk = UserMessage::SetAskHandler(
        [&said](const QString &text, const QString &) { return said << text, false; });
    const auto oldTell
        = UserMessage::SetHandler([&said](const QString &text, const QString &) { said << text; });
    const auto oldSink = GraphExporter::SetMessageSink([&said](const QString &t) { said << t; });
    QString typed;
    const auto oldPrompt
        = SaveDialog::SetPrompt([&typed](QWidget *, const QString &) { return typed; });
    const auto oldOperator = SheetPrinter::SetOperatorPrompt(
        [](QWidget *) { return std::optional<QString>(QStringLiteral("Tech")); });
    {
        CTarvikApp app({}, false);
        ASSERT_TRUE(app.InitInstance());
        const auto open = [&app](void (CTarvikApp::*command)()) {
            (app.*command)();
            return static_cast<CChildFrame *>(app.MainFrame()->MdiArea()->activeSubWindow());
        };
        auto *form = qobject_cast<ZarnFormBase *>(open(&CTarvikApp::OnNewMeterForm)->View());
        auto *log = qobject_cast<Datalog *>(open(&CTarvikApp::OnNewDatalog)->View());
        CChildFrame *terminalFrame = open(&CTarvikApp::OnNewTerminal);
        auto *terminal = qobject_cast<CTermView *>(terminalFrame->View());
        auto *modbus = qobject_cast<Modbus *>(open(&CTarvikApp::OnNewModbus)->View());
        ASSERT_TRUE(form && log && terminal && modbus);
        ASSERT_EQ(LogLoader::LoadBytes("\"\r\n\"\r\n\"\r\n;Line ; Date ; Time ; Flow\r\n; 1; "
                                       "12/31/2026 ; 11:59:55 PM ; 12.5\r\n\r\n",
                      log->Core().log),
            LogLoader::Outcome::Rows);
        QPushButton *capture = nullptr;
        for (QPushButton *button : terminalFrame->findChildren<QPushButton *>())
            capture = button->text().startsWith(QLatin1String("Ca&pture")) ? button : capture;
        ASSERT_NE(capture, nullptr);
        CAuditDlg audit(app.MainFrame());
        QString &field = log->Core().fields.fileName;
        const struct
        {
            const char *what;
            const char *extension;
            std::function<void()> save;
            bool named; // in the datalogger's file field (typed there first), not written
        } paths[] = {
            { "Kelvane Save As", ".mtr", [form] { form->SaveAs(); }, false },
            { "document Save As", ".trm",
                [&] { app.DocManager()->SaveDocument(terminal->Document(), true, terminal); },
                false },
            { "datalog Browse", ".log", [log] { log->ButtonOf(Datalog::Browse)->click(); }, true },
            { "datalog transfer", ".log", [log] { log->ButtonOf(Datalog::TransferLog)->click(); },
                true },
            { "datalog CSV", ".csv", [log] { log->ButtonOf(Datalog::ExportCsv)->click(); }, false },
            { "terminal capture", ".bin", [&] { capture->click(), terminal->StopCapture(); },
                false },
            { "graph", ".png", [form] { GraphExporter::Run(QStringLiteral("png"), form, {}); },
                false },
            { "datasheet", ".pdf", [form] { form->Sheet()->ExportPdf(); }, false },
            { "Modbus recording", ".csv",
                [modbus] { modbus->OnRecordClicked(), modbus->StopRecording(); }, false },
            { "audit CSV", ".csv", [&audit] { audit.ExportCsv(); }, false },
        };
        const struct
        {
            const char *typed;
            const char *taken; // %1 the extension
            const char *said; // asked about victim%1, or the refusal
        } cases[] = {
            { "victim", "", "victim%1 already exists" },
            { "fresh. ", "fresh%1", "" },
            { "x.dat", "x.dat%1", "" },
            { "folder", "", "folder is a folder" },
        };
        ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder")));
        for (const auto &path : paths) {
            const QString extension = QLatin1String(path.extension);
            const QStringList kept { QStringLiteral("victim") + extension,
                QStringLiteral("x.dat") };
            for (const auto &c : cases) {
                SCOPED_TRACE(std::string(path.what) + " given \"" + c.typed + '"');
                for (const QString &name : kept)
                    WriteFile(in(name), "kept\n");
                said.clear();
                typed = in(QLatin1String(c.typed));
                if (path.named)
                    field = typed;
                const QStringList there = QDir(dir.path()).entryList(QDir::Files);
                path.save();
                QStringList written = QDir(dir.path()).entryList(QDir::Files);
                for (const QString &name : there)
                    written.removeOne(name);
                const QString taken = QString::fromLatin1(c.taken).replace("%1", extension);
                if (path.named)
                    EXPECT_EQ(field, taken.isEmpty() ? typed : in(taken));
                else
                    EXPECT_EQ(written.join(QLatin1Char(' ')), taken);
                const QStringList asked
                    = said.filter(QRegularExpression(QStringLiteral("already exists|a folder")));
                EXPECT_EQ(asked.size(), *c.said ? 1 : 0) << qPrintable(said.join('\n'));
                EXPECT_TRUE(asked.join('\n').contains(
                    QString::fromLatin1(c.said).replace("%1", extension)));
                for (const QString &name : kept)
                    EXPECT_EQ(ReadFile(in(name)), "kept\n") << qPrintable(name);
                for (const QString &name : written)
                    QFile::remove(in(name));
            }
        }
        const QString other = in(QStringLiteral("other.mtr"));
        ASSERT_TRUE(QFile::copy(QStringLiteral("41A_Template.mtr"), other));
        ASSERT_NE(app.DocManager()->OpenDocumentFile(other), nullptr);
        said.clear();
        typed = in(QStringLiteral("other"));
        EXPECT_FALSE(form->SaveAs());
        EXPECT_EQ(said, QStringList(SaveFileName::OpenElsewhereText(other)));
        EXPECT_EQ(ReadFile(other), ReadFile(QStringLiteral("41A_Template.mtr")));
    }
    SaveDialog::SetPrompt(oldPrompt);
    SheetPrinter::SetOperatorPrompt(oldOperator);
    GraphExporter::SetMessageSink(oldSink);
    UserMessage::SetAskHandler(oldAsk);
    UserMessage::SetHandler(oldTell);
    ResetGlobals();
}
