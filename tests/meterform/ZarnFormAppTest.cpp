// The meter form inside the program: opened by the document manager as the Kelvane view, running
// the data/ command lists against the simulated meter on the application's meter link.
#include "meter/ZarnFormView.h"

#include "app/CDocManager.h"
#include "app/CMainFrame.h"
#include "app/CTarvikApp.h"
#include "base/CChildFrame.h"
#include "base/CDocument.h"
#include "base/CPrefs.h"
#include "base/Globals.h"
#include "base/UserMessage.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMdiArea>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

TEST(FormInTheProgram, ReadsTheSimulatedMeterAndSavesUnderItsName)
{
    for (const char *list : { "read20.que", "41A_Template.mtr" }) {
        if (!QFile::exists(QString::fromLatin1(list)))
            GTEST_SKIP() << list << " is not among the data files";
    }
    ResetGlobals();
    TestEnv::ClearPreferences();
    QStringList messages;
    auto oldHandler = UserMessage::SetHandler(
        [&messages](const QString &text, const QString &) { messages.append(text); });
    const auto restore = qScopeGuard([oldHandler] {
        UserMessage::SetHandler(oldHandler);
        TestEnv::ReseedWorkDir();
        ResetGlobals();
    });

    QProcess sim;
    sim.start(TestEnv::MeterSimPath(),
        { QStringLiteral("--serial"), QStringLiteral("271828"), QStringLiteral("--range"),
            QStringLiteral("4"), QStringLiteral("--interval"), QStringLiteral("600000"),
            QStringLiteral("--data-dir"), TestEnv::DataDir() });
    ASSERT_TRUE(sim.waitForStarted(5000));
    const auto stopSim = qScopeGuard([&sim] {
        sim.kill();
        sim.waitForFinished(5000);
    });
    ASSERT_TRUE(sim.waitForReadyRead(5000));
    const QString pty = QString::fromLocal8Bit(sim.readLine()).trimmed();
    {
        auto store = CPrefs::OpenStore();
        store->setValue(QStringLiteral("Port/COM"), pty);
        store->setValue(QStringLiteral("MBPort/MBCOM"), QStringLiteral("OFF"));
        store->setValue(QStringLiteral("Version/SELECTION"), QStringLiteral("4.1A"));
    }
    LinkTiming timing;
    timing.pacingScale = 0.04;
    CTarvikApp app(timing, false);
    ASSERT_TRUE(app.InitInstance());
    messages.clear();
    // Room for the form's own size (smaller screens are the screen tests' business).
    app.MainFrame()->resize(1366, 900);

    CDocManager *manager = app.DocManager();
    app.OnNewMeterForm(); // no meter identified: the 4.1A template
    ASSERT_EQ(manager->Documents().size(), 1);
    CDocument *document = manager->Documents().first();
    EXPECT_EQ(document->Title(), QStringLiteral("41A_Template.mtr"));
    ASSERT_EQ(manager->FramesOf(document).size(), 1);
    CChildFrame *frame = manager->FramesOf(document).first();
    auto *form = qobject_cast<ZarnFormView *>(frame->View());
    ASSERT_NE(form, nullptr);
    QApplication::processEvents();
    EXPECT_EQ(frame->size(), QSize(820, 700));
    EXPECT_LE(form->minimumSizeHint().width(), form->width());
    EXPECT_LE(form->minimumSizeHint().height(), form->height());

    EXPECT_EQ(form->GetField(1067), QStringLiteral(">= 4.1A"));
    qobject_cast<QPushButton *>(form->Control(1040))->click();
    ASSERT_NE(form->Runner(), nullptr); // the list's window shows the run
    TestEnv::WaitUntil([&] { return form->RunningList() != ZarnFormView::kReadTimer; });
    EXPECT_NE(form->RunningList(), ZarnFormView::kReadTimer);
    EXPECT_TRUE(messages.isEmpty()) << qPrintable(messages.join(QLatin1Char('|')));
    EXPECT_EQ(document->Title(), QStringLiteral("271828_4"));
    // The caption, less the desktop's modified marker (the read is not saved yet).
    EXPECT_EQ(frame->windowTitle().remove(QStringLiteral("[*]")), QStringLiteral("271828_4"));
    // The list's window has closed.
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(manager->Documents().size(), 1);

    const QString shot = qEnvironmentVariable("TARVIK_FORM_APP_SHOT");
    if (!shot.isEmpty())
        frame->grab().save(shot);

    // Enter typed into the Primary edit reaches the form through the main frame.
    auto *primary = qobject_cast<QTreeWidget *>(form->Control(1047));
    ASSERT_EQ(primary->topLevelItemCount(), 10);
    Q_EMIT primary->itemClicked(primary->topLevelItem(4), 1);
    auto *edit = qobject_cast<QLineEdit *>(form->Control(1051));
    edit->clear();
    QTest::keyClicks(edit, QStringLiteral("-2.5e-03"));
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(primary->topLevelItem(4)->text(1), QStringLiteral("-2.5e-03"));
    EXPECT_EQ(primary->indexOfTopLevelItem(primary->currentItem()), 5);

    ASSERT_TRUE(form->OnCommand(AppCommand::Save));
    EXPECT_TRUE(QFile::exists(QStringLiteral("271828_4.mtr")));
    EXPECT_EQ(QFileInfo(document->PathName()).fileName(), QStringLiteral("271828_4.mtr"));
    QFile::remove(QStringLiteral("271828_4.mtr"));
}
