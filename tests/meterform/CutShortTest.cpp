// Each way to cut a meter form's exchange short: the meter streams again, its image is whole, the
// user is told.
#include "meter/ZarnFormView.h"

#include "app/CDocManager.h"
#include "app/CMainFrame.h"
#include "app/CTarvikApp.h"
#include "app/CommSettings.h"
#include "audit/AuditSettings.h"
#include "base/CChildFrame.h"
#include "base/CDocument.h"
#include "base/CPrefs.h"
#include "base/Globals.h"
#include "base/UserMessage.h"
#include "link/CSerial.h"
#include "lists/CQueView.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>

#include <gtest/gtest.h>

namespace {

QByteArray FileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

enum class Dialogue { Read, Send, Change };
enum class Cut { CancelButton, CloseForm, CloseAll, ExitAnsweredNo, Settings };

} // namespace

TEST(CutShort, EveryFormDialogueLeavesTheMeterStreamingAndTheUserTold)
{
    for (const char *list : { "read20.que", "send20.que", "select20.que", "41A_Template.mtr" })
        if (!QFile::exists(QString::fromLatin1(list)))
            GTEST_SKIP() << list << " is not among the data files";
    ResetGlobals();
    TestEnv::ClearPreferences();
    // The sends here are the list alone, without the reads around it.
    AuditSettings::SetCompareBeforeSend(false);
    AuditSettings::SetReadBackAfterSend(false);
    QStringList messages, asked;
    bool closeAnswer = true;
    auto oldShow = UserMessage::SetHandler(
        [&messages](const QString &text, const QString &) { messages.append(text); });
    auto oldAsk = UserMessage::SetAskHandler([&](const QString &text, const QString &) {
        if (text != QLatin1String(ZarnFormBase::kCloseWhileSendingText))
            return true; // reading over the form's edits
        asked.append(text);
        return closeAnswer;
    });
    const auto restore = qScopeGuard([&] {
        UserMessage::SetHandler(oldShow);
        UserMessage::SetAskHandler(oldAsk);
        TestEnv::ReseedWorkDir();
        ResetGlobals();
    });

    const QString image = QDir::current().filePath(QStringLiteral("cut-short-meter.mtr"));
    QFile::remove(image);
    QProcess sim;
    sim.start(TestEnv::MeterSimPath(),
        QStringLiteral("--firmware 4.1A --serial 31415 --range 1 --interval 300 --baud 9600")
                .split(QLatin1Char(' '))
            + QStringList { QStringLiteral("--image"), image, QStringLiteral("--data-dir"),
                TestEnv::DataDir() });
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
    timing.pacingScale = 0.1; // an image send takes a few seconds
    CTarvikApp app(timing, false);
    ASSERT_TRUE(app.InitInstance());
    app.MainFrame()->resize(1366, 900);
    CDocManager *manager = app.DocManager();
    CSerial *link = CTarvikApp::MeterLink();

    ZarnFormView *form = nullptr;
    const auto openAndRead = [&] {
        app.OnNewMeterForm();
        form = qobject_cast<ZarnFormView *>(app.MainFrame()->ActiveView());
        if (!form)
            return false;
        form->OnReadActive();
        TestEnv::WaitUntil([&] { return !form->Runner(); }, 30000);
        form->SetField(1012, QStringLiteral("2500"));
        return form->GetField(1048) == QLatin1String("31415");
    };
    // Once the port is free, the meter streams (in command mode it would stay silent).
    const auto streams = [&] {
        if (!TestEnv::WaitUntil([&] { return !link->IsClaimed(); }, 10000))
            return std::string("the port stayed held");
        link->PurgeInput();
        QByteArray stream;
        TestEnv::WaitUntil(
            [&] {
                unsigned char b = 0;
                while (link->ReadByte(&b) == 1)
                    stream.append(char(b));
                return stream.count("SCFM") >= 2;
            },
            8000);
        return stream.count("SCFM") >= 2 ? std::string() : "silent: " + stream.toStdString();
    };
    ASSERT_TRUE(openAndRead()) << qPrintable(messages.join('|'));
    ASSERT_EQ(streams(), std::string());

    const QString cancelled = QString::fromLatin1(ZarnFormBase::kSendCancelledText);
    const struct
    {
        const char *what;
        Dialogue dialogue;
        Cut cut;
        QString message; // the one message said, empty for none
        bool stored; // the meter's image holds the form's value afterwards
    } rows[] = {
        { "read, Cancel", Dialogue::Read, Cut::CancelButton, QString(), false },
        { "send, Cancel", Dialogue::Send, Cut::CancelButton, cancelled, false },
        { "send, window closed", Dialogue::Send, Cut::CloseForm, cancelled, false },
        { "send, Close All", Dialogue::Send, Cut::CloseAll, cancelled, false },
        { "send, Settings applied", Dialogue::Send, Cut::Settings, cancelled, false },
        { "send, Exit answered No", Dialogue::Send, Cut::ExitAnsweredNo,
            QStringLiteral("Meter stored the configuration"), true },
        { "range change, Cancel", Dialogue::Change, Cut::CancelButton, QString(), false },
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        if (!form) {
            ASSERT_TRUE(openAndRead());
        }
        const QByteArray imageBefore = FileBytes(image);
        messages.clear();
        asked.clear();
        if (row.dialogue == Dialogue::Change) {
            g_MeterNumber = QStringLiteral("1");
            form->SetField(1115, QStringLiteral("2"));
            form->OnChange();
        } else if (row.dialogue == Dialogue::Send) {
            form->OnSendActive();
        } else {
            form->OnReadActive();
        }
        QPointer<CQueView> runner = form->Runner();
        ASSERT_NE(runner, nullptr);
        // Half way: the meter is sending its image, taking ours, or asking for the range.
        const auto halfWay = [&] {
            if (!runner)
                return false;
            const QString line = runner->Executor().Lines().value(runner->LineIndex());
            if (row.dialogue == Dialogue::Send) {
                const QString shown = runner->LineLabel()->toolTip();
                return shown.startsWith(QLatin1String("Sending "))
                    && shown.section(QLatin1Char(' '), 1, 1).toInt() >= 300;
            }
            return runner->IsWaiting()
                && line.contains(row.dialogue == Dialogue::Read ? "\"110\"" : "\"130\"");
        };
        ASSERT_TRUE(TestEnv::WaitUntil(halfWay, 30000));

        QPointer<ZarnFormView> alive(form);
        form->GetDocument()->SetModifiedFlag(false); // no Save question on closing
        switch (row.cut) {
        case Cut::CancelButton:
            runner->CancelButton()->click();
            break;
        case Cut::CloseForm:
            manager->FramesOf(form->GetDocument()).value(0)->close();
            break;
        case Cut::CloseAll:
            EXPECT_TRUE(manager->CloseAllDocuments());
            break;
        case Cut::Settings:
            CommSettings::ApplyTerminalPort(*link, pty, QStringLiteral("9600"));
            break;
        case Cut::ExitAnsweredNo:
            closeAnswer = false;
            app.MainFrame()->close();
            closeAnswer = true;
            break;
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const bool closes = row.cut == Cut::CloseForm || row.cut == Cut::CloseAll;
        EXPECT_EQ(asked,
            closes || row.cut == Cut::ExitAnsweredNo
                ? QStringList(ZarnFormBase::kCloseWhileSendingText)
                : QStringList());
        EXPECT_EQ(alive.isNull(), closes);
        if (!alive)
            form = nullptr;
        EXPECT_TRUE(TestEnv::WaitUntil(
            [&] { return (!runner || !runner->IsRunning()) && (!form || !form->Runner()); },
            row.stored ? 60000 : 5000));
        EXPECT_EQ(streams(), std::string());
        TestEnv::WaitUntil([&] { return !messages.isEmpty(); }, row.message.isEmpty() ? 300 : 5000);
        EXPECT_EQ(messages, row.message.isEmpty() ? QStringList() : QStringList(row.message));
        EXPECT_EQ(FileBytes(image) != imageBefore, row.stored);
        if (form) {
            EXPECT_EQ(form->GetField(1048), QStringLiteral("31415"));
        }
    }
    if (form)
        form->GetDocument()->SetModifiedFlag(false);
    EXPECT_TRUE(manager->CloseAllDocuments());
}
