// Each way to cut a meter form's exchange short: the meter streams again, its image is whole, the
// user is told.
#include "meter/ZarnFormView.h"
#include "meterqx/ZarnQXFormView.h"

#include "app/CDocManager.h"
#include "app/CMainFrame.h"
#include "app/CTarvikApp.h"
#include "app/CommSettings.h"
#include "audit/AuditLog.h"
#include "audit/AuditSettings.h"
#include "base/AppServices.h"
#include "base/CChildFrame.h"
#include "base/CDocument.h"
#include "base/CPrefs.h"
#include "base/Globals.h"
#include "base/MeterSession.h"
#include "base/UserMessage.h"
#include "link/CSerial.h"
#include "lists/CQueView.h"
#include "meter/SendWithChecks.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
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
// ExitAnsweredYes ends the program as main does once its event loop has returned; SettingsElsewhere
// moves the link to the other meter's port; CancelThenSettings applies Settings while the Cancel's
// run-mode command is going out.
enum class Cut {
    CancelButton,
    CloseForm,
    CloseAll,
    ExitAnsweredNo,
    ExitAnsweredYes,
    Settings,
    CancelThenSettings,
    SettingsElsewhere,
    CloseThenSettingsElsewhere,
    // The form holds unsaved edits: the save question comes first, answered Cancel or Discard.
    CloseWithEditsCancelled,
    CloseWithEditsDiscarded
};

// The table runs in two halves (alternate rows), each in a process of its own, so that the
// suite's longest test is half of it.
class CutShort : public ::testing::TestWithParam<int>
{
};

} // namespace

TEST_P(CutShort, EveryFormDialogueLeavesTheMeterStreamingAndTheUserTold)
{
    for (const char *list :
        { "read20.que", "send20.que", "select20.que", "qxsend.que", "41A_Template.mtr" })
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
    int saveAnswer = QMessageBox::Discard;
    auto oldPrompt = CDocManager::SetSavePrompt([&](QWidget *, const QString &) {
        asked.append(QStringLiteral("save?"));
        return saveAnswer;
    });
    std::unique_ptr<CTarvikApp> app;
    const auto restore = qScopeGuard([&] {
        app.reset();
        UserMessage::SetHandler(oldShow);
        UserMessage::SetAskHandler(oldAsk);
        CDocManager::SetSavePrompt(oldPrompt);
        TestEnv::ReseedWorkDir();
        ResetGlobals();
    });

    // A Kelvane and a Quixal meter, each on a pseudo-terminal of its own, its image in a file.
    QProcess sims[2];
    QString ptys[2], images[2];
    for (int i : { 0, 1 }) {
        images[i] = QDir::current().filePath(QStringLiteral("cut-short-%1.img").arg(i));
        QFile::remove(images[i]);
        sims[i].start(TestEnv::MeterSimPath(),
            QStringLiteral("--serial 31415 --range 1 --interval 300 --baud 9600 --series %1")
                    .arg(QLatin1String(i ? "quixal --firmware 1.4A" : "kelvane --firmware 4.1A"))
                    .split(QLatin1Char(' '))
                + QStringList { QStringLiteral("--image"), images[i], QStringLiteral("--data-dir"),
                    TestEnv::DataDir() });
        ASSERT_TRUE(sims[i].waitForStarted(5000) && sims[i].waitForReadyRead(5000));
        ptys[i] = QString::fromLocal8Bit(sims[i].readLine()).trimmed();
    }
    const auto stopSims = qScopeGuard([&sims] {
        for (QProcess &sim : sims) {
            sim.kill();
            sim.waitForFinished(5000);
        }
    });
    const QString pty = ptys[0];
    {
        auto store = CPrefs::OpenStore();
        store->setValue(QStringLiteral("Port/COM"), pty);
        store->setValue(QStringLiteral("MBPort/MBCOM"), QStringLiteral("OFF"));
        store->setValue(QStringLiteral("Version/SELECTION"), QStringLiteral("4.1A"));
    }
    LinkTiming timing;
    timing.pacingScale = 0.1; // an image send takes a few seconds
    // The program (started afresh after an Exit) with a form of series i that has read the meter.
    ZarnFormBase *form = nullptr;
    const auto openAndRead = [&](int i) {
        if (!app) {
            app = std::make_unique<CTarvikApp>(timing, false);
            if (!app->InitInstance())
                return false;
            app->MainFrame()->resize(1366, 900);
        }
        if (CTarvikApp::MeterLink()->PortText() != ptys[i])
            CommSettings::ApplyTerminalPort(*CTarvikApp::MeterLink(), ptys[i], "9600");
        i ? app->OnNewQuixal() : app->OnNewMeterForm();
        form = qobject_cast<ZarnFormBase *>(app->MainFrame()->ActiveView());
        if (!form)
            return false;
        qobject_cast<QPushButton *>(form->Control(1040))->click(); // Read (Active)
        TestEnv::WaitUntil([&] { return !form->Runner(); }, 30000);
        if (!i)
            form->SetField(1012, QStringLiteral("2500"));
        return form->GetField(1048) == QLatin1String("31415");
    };
    // Once the port is free, the meter streams (in command mode it would stay silent).
    // A meter the program no longer holds is listened to on a link of the test's own, which
    // cannot open while the program still holds the port.
    const auto streams = [&](const QString &port) {
        CSerial *link = app ? CTarvikApp::MeterLink() : nullptr;
        std::unique_ptr<CSerial> own;
        if (!link || link->PortText() != port) {
            own = std::make_unique<CSerial>(port);
            own->SetBaudText(QStringLiteral("9600"));
            if (!own->OpenPort())
                return "not reopened: " + own->LastError().toStdString();
            link = own.get();
        }
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
    ASSERT_TRUE(openAndRead(0)) << qPrintable(messages.join('|'));
    ASSERT_EQ(streams(pty), std::string());

    // Every send here is cut inside its image: the meter may hold part of it.
    const QString cancelled = QString::fromLatin1(ZarnFormBase::kSendCutText);
    const QString acknowledged = QString::fromLatin1(SendWithChecks::kAcknowledgedText);
    const QString stop = QString::fromLatin1(ZarnFormBase::kCloseWhileSendingText);
    const struct
    {
        const char *what;
        Dialogue dialogue;
        Cut cut;
        QString message; // the one message said, empty for none
        bool stored; // the meter's image holds the form's value afterwards
        int meter = 0; // 1: the Quixal meter, in a Quixal form
    } rows[] = {
        { "read, Cancel", Dialogue::Read, Cut::CancelButton, QString(), false },
        { "send, Cancel", Dialogue::Send, Cut::CancelButton, cancelled, false },
        { "send, window closed", Dialogue::Send, Cut::CloseForm, cancelled, false },
        { "send, Close All", Dialogue::Send, Cut::CloseAll, cancelled, false },
        { "send, Settings applied", Dialogue::Send, Cut::Settings, cancelled, false },
        { "send, Exit answered No", Dialogue::Send, Cut::ExitAnsweredNo, acknowledged, true },
        { "send, closed with edits, save question cancelled", Dialogue::Send,
            Cut::CloseWithEditsCancelled, acknowledged, true },
        { "send, closed with edits discarded", Dialogue::Send, Cut::CloseWithEditsDiscarded,
            cancelled, false },
        { "range change, Cancel", Dialogue::Change, Cut::CancelButton, QString(), false },
        { "send, Cancel then Settings", Dialogue::Send, Cut::CancelThenSettings, cancelled, false },
        { "send, Exit answered Yes", Dialogue::Send, Cut::ExitAnsweredYes, cancelled, false },
        { "Quixal send, Cancel", Dialogue::Send, Cut::CancelButton, cancelled, false, 1 },
        { "Quixal send, window closed", Dialogue::Send, Cut::CloseForm, cancelled, false, 1 },
        { "Quixal send, Exit answered Yes", Dialogue::Send, Cut::ExitAnsweredYes, cancelled, false,
            1 },
        { "Quixal send, Settings to another port", Dialogue::Send, Cut::SettingsElsewhere,
            cancelled, false, 1 },
        { "Quixal send, window closed, Settings to another port", Dialogue::Send,
            Cut::CloseThenSettingsElsewhere, cancelled, false, 1 },
    };
    for (const auto &row : rows) {
        if ((&row - rows) % 2 != GetParam())
            continue;
        SCOPED_TRACE(row.what);
        if (form && (qobject_cast<ZarnQXFormView *>(form) != nullptr) != (row.meter == 1)) {
            form->GetDocument()->SetModifiedFlag(false);
            EXPECT_TRUE(app->DocManager()->CloseAllDocuments());
            form = nullptr;
        }
        if (!form) {
            ASSERT_TRUE(openAndRead(row.meter));
        }
        const QString &image = images[row.meter];
        const QByteArray imageBefore = FileBytes(image);
        messages.clear();
        asked.clear();
        if (row.dialogue == Dialogue::Change) {
            AppServices::Meter().SetRange(QStringLiteral("1"));
            form->SetField(1115, QStringLiteral("2"));
            qobject_cast<ZarnFormView *>(form)->OnChange();
        } else {
            qobject_cast<QPushButton *>(form->Control(row.dialogue == Dialogue::Send ? 1041 : 1040))
                ->click();
        }
        QPointer<CQueView> runner = form->Runner();
        ASSERT_NE(runner, nullptr);
        // Half way: the meter is sending its image, taking ours (300 bytes, or half a short one),
        // or asking for the range.
        const auto halfWay = [&] {
            if (!runner)
                return false;
            const QString line = runner->Lines().value(runner->LineIndex());
            if (row.dialogue == Dialogue::Send) {
                const QString shown = runner->LineLabel()->toolTip();
                return shown.startsWith(QLatin1String("Sending "))
                    && shown.section(QLatin1Char(' '), 1, 1).toInt()
                    >= qMin(300, shown.section(QLatin1Char(' '), 3, 3).toInt() / 2);
            }
            return runner->IsWaiting()
                && line.contains(row.dialogue == Dialogue::Read ? "\"110\"" : "\"130\"");
        };
        ASSERT_TRUE(TestEnv::WaitUntil(halfWay, 30000));

        QPointer<ZarnFormBase> alive(form);
        CDocManager *manager = app->DocManager();
        CSerial *link = CTarvikApp::MeterLink();
        const bool edits
            = row.cut == Cut::CloseWithEditsCancelled || row.cut == Cut::CloseWithEditsDiscarded;
        form->GetDocument()->SetModifiedFlag(edits); // else no Save question on closing
        const qsizetype trailBefore = AuditLog(AuditSettings::TrailPath()).Load().records.size();
        switch (row.cut) {
        case Cut::CloseWithEditsCancelled:
        case Cut::CloseWithEditsDiscarded:
            saveAnswer = edits && !row.stored ? QMessageBox::Discard : QMessageBox::Cancel;
            manager->FramesOf(form->GetDocument()).value(0)->close();
            break;
        case Cut::CancelButton:
            runner->CancelButton()->click();
            break;
        case Cut::CloseForm:
            manager->FramesOf(form->GetDocument()).value(0)->close();
            break;
        case Cut::CloseThenSettingsElsewhere:
            manager->FramesOf(form->GetDocument()).value(0)->close();
            CommSettings::ApplyTerminalPort(*link, ptys[1 - row.meter], "9600");
            EXPECT_EQ(link->PortText(), ptys[row.meter]) << "the port moved under the wind-up";
            EXPECT_TRUE(TestEnv::WaitUntil(
                [&] { return link->PortText() == ptys[1 - row.meter] && link->IsOpen(); }, 5000));
            break;
        case Cut::CloseAll:
            EXPECT_TRUE(manager->CloseAllDocuments());
            break;
        case Cut::CancelThenSettings:
            runner->CancelButton()->click();
            [[fallthrough]];
        case Cut::Settings:
        case Cut::SettingsElsewhere:
            CommSettings::ApplyTerminalPort(
                *link, ptys[row.cut == Cut::SettingsElsewhere ? 0 : row.meter], "9600");
            break;
        case Cut::ExitAnsweredNo:
        case Cut::ExitAnsweredYes:
            closeAnswer = row.cut == Cut::ExitAnsweredYes;
            app->MainFrame()->close();
            closeAnswer = true;
            break;
        }
        if (row.cut == Cut::ExitAnsweredYes) {
            // The event loop has returned: the program says what the closed form could not and
            // lets the meter link send the meter back to run mode, then ends.
            bool sent = false;
            if (app->CloseForExit([&sent] { sent = true; })) {
                EXPECT_TRUE(TestEnv::WaitUntil([&sent] { return sent; }, 5000));
            }
            app.reset();
            EXPECT_EQ(messages, QStringList(row.message));
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const bool closes = row.cut == Cut::CloseForm || row.cut == Cut::CloseAll
            || row.cut == Cut::ExitAnsweredYes || row.cut == Cut::CloseThenSettingsElsewhere
            || row.cut == Cut::CloseWithEditsDiscarded;
        // The save question before the send is touched; its Cancel leaves the send going.
        QStringList questions = edits ? QStringList { "save?" } : QStringList();
        if (closes || row.cut == Cut::ExitAnsweredNo)
            questions.append(stop);
        EXPECT_EQ(asked, questions);
        EXPECT_EQ(alive.isNull(), closes);
        if (!alive)
            form = nullptr;
        EXPECT_TRUE(TestEnv::WaitUntil(
            [&] { return (!runner || !runner->IsRunning()) && (!form || !form->Runner()); },
            row.stored ? 60000 : 5000));
        EXPECT_EQ(streams(ptys[row.meter]), std::string());
        TestEnv::WaitUntil([&] { return !messages.isEmpty(); }, row.message.isEmpty() ? 300 : 5000);
        EXPECT_EQ(messages, row.message.isEmpty() ? QStringList() : QStringList(row.message));
        EXPECT_EQ(FileBytes(image) != imageBefore, row.stored);
        // Every dialogue begun is one line of the trail, however it was cut.
        const std::vector<AuditRecord> trail = AuditLog(AuditSettings::TrailPath()).Load().records;
        ASSERT_EQ(qsizetype(trail.size()), trailBefore + 1);
        EXPECT_EQ(trail.back().result, row.stored ? "ok" : "cancelled");
        if (form) {
            EXPECT_EQ(form->GetField(1048), QStringLiteral("31415"));
        }
    }
    if (form)
        form->GetDocument()->SetModifiedFlag(false);
    EXPECT_TRUE(!app || app->DocManager()->CloseAllDocuments());
}

INSTANTIATE_TEST_SUITE_P(Halves, CutShort, ::testing::Values(0, 1));
