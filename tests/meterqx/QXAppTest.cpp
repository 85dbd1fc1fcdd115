// The Quixal window among the program's other windows: its menu, and the version other
// windows put in force never changing what an unedited Quixal file saves.
#include "meterqx/ZarnQXFormView.h"

#include "app/CDocManager.h"
#include "app/CMainFrame.h"
#include "app/CTarvikApp.h"
#include "base/CChildFrame.h"
#include "base/CDocument.h"
#include "base/CPrefs.h"
#include "base/Globals.h"
#include "base/UserMessage.h"
#include "meter/ZarnFormView.h"
#include "meterqx/QXMeterDoc.h"
#include "support/TestEnv.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScopeGuard>

#include <gtest/gtest.h>

namespace {

QByteArray Read(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(QXInTheProgram, OtherWindowsNeverChangeWhatAnUneditedQuixalFileSaves)
{
    ResetGlobals();
    TestEnv::ClearPreferences();
    QDir::setCurrent(TestEnv::WorkDir());
    QStringList messages;
    auto oldHandler = UserMessage::SetHandler(
        [&messages](const QString &text, const QString &) { messages.append(text); });
    const auto restore = qScopeGuard([oldHandler] {
        UserMessage::SetHandler(oldHandler);
        TestEnv::ReseedWorkDir();
        ResetGlobals();
    });
    {
        auto store = CPrefs::OpenStore();
        store->setValue(QStringLiteral("Port/COM"), QStringLiteral("/nonexistent/tty"));
        store->setValue(QStringLiteral("MBPort/MBCOM"), QStringLiteral("OFF"));
        store->setValue(QStringLiteral("Version/SELECTION"), QStringLiteral("4.0x"));
    }
    const QByteArray original = Read(QStringLiteral("Quixal.qxm"));
    ASSERT_FALSE(original.isEmpty());
    QFile::copy(QStringLiteral("Quixal.qxm"), QStringLiteral("mine.qxm"));

    CTarvikApp app({}, false);
    ASSERT_TRUE(app.InitInstance());
    messages.clear(); // the port that does not exist
    CDocManager *manager = app.DocManager();

    // Windows opened in every order, each ticking its clock, then Save of the unedited file.
    const QStringList orders[] = {
        { "quixal", "kelvane", "file" },
        { "kelvane", "file", "quixal" },
        { "file", "quixal", "kelvane" },
    };
    for (const QStringList &order : orders) {
        g_DocVersion = QStringLiteral("4.0x");
        for (const QString &kind : order) {
            if (kind == QLatin1String("quixal"))
                app.OnNewQuixal();
            else if (kind == QLatin1String("kelvane"))
                app.OnNewMeterForm();
            else
                manager->OpenDocumentFile(QStringLiteral("mine.qxm"));
            for (CDocument *doc : manager->Documents())
                for (CChildFrame *frame : manager->FramesOf(doc))
                    if (auto *form = qobject_cast<ZarnFormBase *>(frame->View()))
                        form->TimerTick(ZarnFormBase::kClockTimer);
        }
        CDocument *mine = nullptr;
        for (CDocument *doc : manager->Documents())
            if (doc->PathName().endsWith(QLatin1String("mine.qxm")))
                mine = doc;
        ASSERT_NE(mine, nullptr);
        auto *form = qobject_cast<ZarnQXFormView *>(manager->FramesOf(mine).first()->View());
        ASSERT_NE(form, nullptr);
        // File > Convert... is on the menu while the Quixal window is active.
        app.MainFrame()->MdiArea()->setActiveSubWindow(manager->FramesOf(mine).first());
        QApplication::processEvents();
        QAction *convert = app.MainFrame()->Action(QStringLiteral("file_convert"));
        ASSERT_NE(convert, nullptr);
        EXPECT_TRUE(
            app.MainFrame()->menuBar()->actions().first()->menu()->actions().contains(convert));
        EXPECT_TRUE(form->HandlesCommand(AppCommand::Convert));

        ASSERT_TRUE(form->Save());
        EXPECT_EQ(Read(QStringLiteral("mine.qxm")), original)
            << qPrintable(order.join(QLatin1Char(',')));
        EXPECT_TRUE(messages.isEmpty()) << qPrintable(messages.join(QLatin1Char('|')));
        for (CDocument *doc : manager->Documents()) {
            doc->SetModifiedFlag(false);
            Q_EMIT doc->CloseRequested();
        }
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ASSERT_TRUE(manager->Documents().isEmpty());
    }
}

} // namespace
