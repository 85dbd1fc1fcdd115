// Each way to cut a meter form's exchange short: the meter streams again, its image is whole, the
// user is told.
#include "meter/ZarnFormView.h"
#include "meterqx/ZarnQXFormView.h"

#include "app/CDocManager.h"
#include "app/CMainFrame.h"
#include "app/CTarvikApp.h"
#include "app/CommSettings.h"
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

enum class Series { Kelvane, Quixal };
enum class Dialogue { Read, Send, Change };
enum class Cut {
    CancelButton,
    CloseForm,
    CloseAll,
    ExitAnsweredNo,
    ExitAnsweredYes, // the program ends at once, as when its event loop has returned
    Settings,
    CancelThenSettings, // Settings applied while the run-mode command is still going out
    SettingsElsewhere, // Settings move the link to the other meter's port
};

// tarvik-metersim of a series on a pseudo-terminal of its own, its image kept in a file.
struct SimMeter
{
    QProcess process;
    QString pty;
    QString image;

    bool Start(const QString &series, const QString &firmware, const QString &imageName)
    {
        image = QDir::current().filePath(imageName);
        QFile::remove(image);
        process.start(TestEnv::MeterSimPath(),
            { QStringLiteral("--series"), series, QStringLiteral("--firmware"), firmware,
                QStringLiteral("--serial"), QStringLiteral("31415"), QStringLiteral("--range"),
                QStringLiteral("1"), QStringLiteral("--interval"), QStringLiteral("300"),
                QStringLiteral("--baud"), QStringLiteral("9600"), QStringLiteral("--image"), image,
                QStringLiteral("--data-dir"), TestEnv::DataDir() });
        if (!process.waitForStarted(5000) || !process.waitForReadyRead(5000))
            return false;
        pty = QString::fromLocal8Bit(process.readLine()).trimmed();
        return !pty.isEmpty();
    }
    ~SimMeter()
    {
        process.kill();
        process.waitForFinished(5000);
    }
};

} // namespace

TEST(CutShort, EveryFormDialogueLeavesTheMeterStreamingAndTheUserTold)
{
    for (const char *list : { "read20.que", "send20.que", "select20.que", "qxread.que",
             "qxsend.que", "41A_Template.mtr" })
        if (!QFile::exists(QString::fromLatin1(list)))
            GTEST_SKIP() << list << " is not among the data files";
    ResetGlobals();
    TestEnv::ClearPreferences();
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
    std::unique_ptr<CTarvikApp> app;
    const auto restore = qScopeGuard([&] {
        app.reset();
        UserMessage::SetHandler(oldShow);
        UserMessage::SetAskHandler(oldAsk);
        TestEnv::ReseedWorkDir();
        ResetGlobals();
    });

    SimMeter kelvane, quixal;
    ASSERT_TRUE(kelvane.Start(
        QStringLiteral("kelvane"), QStringLiteral("4.1A"), QStringLiteral("cut-short-meter.mtr")));
    ASSERT_TRUE(quixal.Start(
        QStringLiteral("quixal"), QStringLiteral("1.4A"), QStringLiteral("cut-short-qx.img")));
    const auto meterOf
        = [&](Series series) -> SimMeter & { return series == Series::Quixal ? quixal : kelvane; };
    {
        auto store = CPrefs::OpenStore();
        store->setValue(QStringLiteral("Port/COM"), kelvane.pty);
        store->setValue(QStringLiteral("MBPort/MBCOM"), QStringLiteral("OFF"));
        store->setValue(QStringLiteral("Version/SELECTION"), QStringLiteral("4.1A"));
    }
    LinkTiming timing;
    timing.pacingScale = 0.1; // an image send takes a few seconds
    // The program, started afresh after an Exit, its link on the meter of series.
    const auto program = [&](Series series) {
        if (!app) {
            app = std::make_unique<CTarvikApp>(timing, false);
            if (!app->InitInstance())
                return false;
            app->MainFrame()->resize(1366, 900);
        }
        CSerial *link = CTarvikApp::MeterLink();
        if (link->PortText() != meterOf(series).pty || !link->IsOpen())
            CommSettings::ApplyTerminalPort(*link, meterOf(series).pty, QStringLiteral("9600"));
        return link->IsOpen();
    };

    ZarnFormBase *form = nullptr;
    const auto openAndRead = [&](Series series) {
        if (!program(series))
            return false;
        if (series == Series::Quixal) {
            app->OnNewQuixal();
            auto *qx = qobject_cast<ZarnQXFormView *>(app->MainFrame()->ActiveView());
            form = qx;
            if (qx)
                qx->OnRead();
        } else {
            app->OnNewMeterForm();
            auto *kv = qobject_cast<ZarnFormView *>(app->MainFrame()->ActiveView());
            form = kv;
            if (kv)
                kv->OnReadActive();
        }
        if (!form)
            return false;
        TestEnv::WaitUntil([&] { return !form->Runner(); }, 30000);
        if (series == Series::Kelvane)
            form->SetField(1012, QStringLiteral("2500"));
        return form->GetField(1048) == QLatin1String("31415");
    };
    // Once the port is free, the meter streams (in command mode it would stay silent). A meter
    // the program no longer holds is listened to on a link of the test's own, whose open fails
    // while the program still holds the port.
    const auto streams = [&](const SimMeter &meter) {
        CSerial *link = app ? CTarvikApp::MeterLink() : nullptr;
        std::unique_ptr<CSerial> own;
        if (!link || link->PortText() != meter.pty || !link->IsOpen()) {
            own = std::make_unique<CSerial>(meter.pty);
            own->SetPortText(meter.pty);
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
    ASSERT_TRUE(openAndRead(Series::Kelvane)) << qPrintable(messages.join('|'));
    ASSERT_EQ(streams(kelvane), std::string());

    const QString cancelled = QString::fromLatin1(ZarnFormBase::kSendCancelledText);
    const struct
    {
        const char *what;
        Series series;
        Dialogue dialogue;
        Cut cut;
        QString message; // the one message said, empty for none
        bool stored; // the meter's image holds the form's value afterwards
    } rows[] = {
        { "read, Cancel", Series::Kelvane, Dialogue::Read, Cut::CancelButton, QString(), false },
        { "send, Cancel", Series::Kelvane, Dialogue::Send, Cut::CancelButton, cancelled, false },
        { "send, window closed", Series::Kelvane, Dialogue::Send, Cut::CloseForm, cancelled,
            false },
        { "send, Close All", Series::Kelvane, Dialogue::Send, Cut::CloseAll, cancelled, false },
        { "send, Settings applied", Series::Kelvane, Dialogue::Send, Cut::Settings, cancelled,
            false },
        { "send, Cancel then Settings at once", Series::Kelvane, Dialogue::Send,
            Cut::CancelThenSettings, cancelled, false },
        { "send, Exit answered No", Series::Kelvane, Dialogue::Send, Cut::ExitAnsweredNo,
            QStringLiteral("Meter stored the configuration"), true },
        { "range change, Cancel", Series::Kelvane, Dialogue::Change, Cut::CancelButton, QString(),
            false },
        { "send, Exit answered Yes", Series::Kelvane, Dialogue::Send, Cut::ExitAnsweredYes,
            cancelled, false },
        { "Quixal send, Cancel", Series::Quixal, Dialogue::Send, Cut::CancelButton, cancelled,
            false },
        { "Quixal send, window closed", Series::Quixal, Dialogue::Send, Cut::CloseForm, cancelled,
            false },
        { "Quixal send, Exit answered Yes", Series::Quixal, Dialogue::Send, Cut::ExitAnsweredYes,
            cancelled, false },
        { "Quixal send, Settings to another port", Series::Quixal, Dialogue::Send,
            Cut::SettingsElsewhere, cancelled, false },
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        SimMeter &meter = meterOf(row.series);
        const bool quixalForm = qobject_cast<ZarnQXFormView *>(form) != nullptr;
        if (form && (row.series == Series::Quixal) != quixalForm) {
            form->GetDocument()->SetModifiedFlag(false);
            EXPECT_TRUE(app->DocManager()->CloseAllDocuments());
            form = nullptr;
        }
        if (!form) {
            ASSERT_TRUE(openAndRead(row.series)) << qPrintable(messages.join('|'));
        }
        const QByteArray imageBefore = FileBytes(meter.image);
        messages.clear();
        asked.clear();
        if (row.dialogue == Dialogue::Change) {
            g_MeterNumber = QStringLiteral("1");
            form->SetField(1115, QStringLiteral("2"));
            qobject_cast<ZarnFormView *>(form)->OnChange();
        } else if (row.dialogue == Dialogue::Send) {
            if (auto *qx = qobject_cast<ZarnQXFormView *>(form))
                qx->OnSend();
            else
                qobject_cast<ZarnFormView *>(form)->OnSendActive();
        } else {
            qobject_cast<ZarnFormView *>(form)->OnReadActive();
        }
        QPointer<CQueView> runner = form->Runner();
        ASSERT_NE(runner, nullptr);
        // Half way: the meter is taking the image (at least half of it, 300 bytes at most), or
        // sending its image, or asking for the range.
        const auto halfWay = [&] {
            if (!runner)
                return false;
            const QString line = runner->Executor().Lines().value(runner->LineIndex());
            if (row.dialogue == Dialogue::Send) {
                const QString shown = runner->LineLabel()->toolTip();
                const int total = shown.section(QLatin1Char(' '), 3, 3).toInt();
                return shown.startsWith(QLatin1String("Sending "))
                    && shown.section(QLatin1Char(' '), 1, 1).toInt() >= qMin(300, total / 2);
            }
            return runner->IsWaiting()
                && line.contains(row.dialogue == Dialogue::Read ? "\"110\"" : "\"130\"");
        };
        ASSERT_TRUE(TestEnv::WaitUntil(halfWay, 30000));

        QPointer<ZarnFormBase> alive(form);
        CSerial *link = CTarvikApp::MeterLink();
        CDocManager *manager = app->DocManager();
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
            CommSettings::ApplyTerminalPort(*link, meter.pty, QStringLiteral("9600"));
            break;
        case Cut::CancelThenSettings:
            runner->CancelButton()->click();
            CommSettings::ApplyTerminalPort(*link, meter.pty, QStringLiteral("9600"));
            break;
        case Cut::SettingsElsewhere:
            CommSettings::ApplyTerminalPort(*link, kelvane.pty, QStringLiteral("9600"));
            break;
        case Cut::ExitAnsweredNo:
        case Cut::ExitAnsweredYes:
            closeAnswer = row.cut == Cut::ExitAnsweredYes;
            app->MainFrame()->close();
            closeAnswer = true;
            break;
        }
        if (row.cut == Cut::ExitAnsweredYes) {
            // The event loop has returned: the program ends without coming back to it, and says
            // what the closed form could not before it does.
            app.reset();
            EXPECT_TRUE(alive.isNull());
            EXPECT_EQ(messages, QStringList(row.message));
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const bool closes = row.cut == Cut::CloseForm || row.cut == Cut::CloseAll
            || row.cut == Cut::ExitAnsweredYes;
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
        EXPECT_EQ(streams(meter), std::string());
        TestEnv::WaitUntil([&] { return !messages.isEmpty(); }, row.message.isEmpty() ? 300 : 5000);
        EXPECT_EQ(messages, row.message.isEmpty() ? QStringList() : QStringList(row.message));
        EXPECT_EQ(FileBytes(meter.image) != imageBefore, row.stored);
        if (form) {
            EXPECT_EQ(form->GetField(1048), QStringLiteral("31415"));
        }
    }
    if (form)
        form->GetDocument()->SetModifiedFlag(false);
    if (app) {
        EXPECT_TRUE(app->DocManager()->CloseAllDocuments());
    }
}
