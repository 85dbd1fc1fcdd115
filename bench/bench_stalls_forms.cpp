// The longest time the window cannot respond while a meter form runs a command list against the
// simulated meter at a real line speed, and how long the whole operation takes.
//
//   QT_QPA_PLATFORM=offscreen build/bench/bench_stalls_forms [--runs N] [--baud N] [--part N]
//
// The program runs as it does for a user: CTarvikApp on the simulator's pty at the real pacing,
// the New Kelvane / New Quixal commands, then the form's handlers. A 10 ms timer ticks in the
// program's event loop meanwhile (bench/StallMeter.h); its longest gap is the stall. Operations:
// Kelvane Read Active, Send Active (send20.que, the whole image) with both checks around it (the
// comparing read straight after the Read Active, the question answered Yes, the send and the
// read back: a send and two reads) and without them, range Change, a Send cancelled half way
// with Settings applied at once (the run-mode command finished before the port is set up anew);
// Quixal Read and Send; and Read Active on a port that cannot be opened (the message comes at
// once).
// --part 1 runs the Kelvane sends, --part 2 the rest (each after the Read Active), so that the
// short mode's two halves can run side by side.
#include "BenchRig.h"
#include "StallMeter.h"

#include "app/CMainFrame.h"
#include "app/CTarvikApp.h"
#include "app/CommSettings.h"
#include "audit/AuditSettings.h"
#include "base/CDocument.h"
#include "base/CPrefs.h"
#include "base/UserMessage.h"
#include "link/CSerial.h"
#include "lists/CQueView.h"
#include "meter/FieldIds.h"
#include "meter/SendWithChecks.h"
#include "meter/ZarnFormView.h"
#include "meterqx/ZarnQXFormView.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <vector>

using bench::Median;
using bench::RunUntil;

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const int runs = std::max(1, bench::Option(argc, argv, "--runs", 3));
    const int baud = bench::Option(argc, argv, "--baud", 9600);
    const int part = bench::Option(argc, argv, "--part", 0);
    bench::BenchHome home;
    QApplication qapp(argc, argv);

    bench::Simulator kelvane;
    bench::Simulator quixal;
    const QStringList common
        = QStringList { QStringLiteral("--interval"), QStringLiteral("600000") }
        + bench::MeterOptions(baud);
    if (!kelvane.Start(QStringList { QStringLiteral("--serial"), QStringLiteral("20461"),
                           QStringLiteral("--range"), QStringLiteral("2"),
                           QStringLiteral("--image"), home.FilePath(QStringLiteral("sim.mtr")) }
            + common)
        || !quixal.Start(QStringList { QStringLiteral("--series"), QStringLiteral("quixal"),
                             QStringLiteral("--image"), home.FilePath(QStringLiteral("sim.qxm")) }
            + common)) {
        std::fprintf(stderr, "the simulators did not start\n");
        return 1;
    }
    const QString kelvanePty = kelvane.Path();
    const QString quixalPty = quixal.Path();
    bench::UseMeterPort(kelvanePty, baud);
    QStringList messages;
    UserMessage::SetHandler(
        [&messages](const QString &text, const QString &) { messages << text; });
    CTarvikApp app({}, false);
    app.InitInstance();
    AuditSettings::SetCompareBeforeSend(false);
    AuditSettings::SetReadBackAfterSend(false);
    UserMessage::SetAskHandler([](const QString &, const QString &) { return true; });
    CSerial *link = CTarvikApp::MeterLink();
    const auto usePort = [link](const QString &pty) {
        link->ClosePort();
        link->SetPortText(pty);
        link->SetEnabled(1);
        link->OpenPort();
    };

    struct Operation
    {
        const char *name;
        int part; // the --part it belongs to; 0: every part
        std::function<bool()> run; // starts it, runs the loop until it ends; false on failure
    };
    const auto chosen
        = [part](const Operation &op) { return !part || !op.part || op.part == part; };
    ZarnFormView *form = nullptr;
    int checkedSends = 0;
    ZarnQXFormView *qxForm = nullptr;
    const auto kelvaneList = [&](int timerId, const std::function<void()> &press) {
        messages.clear();
        press();
        return RunUntil([&] { return form->RunningList() != timerId; });
    };
    const auto quixalList = [&](int timerId, const std::function<void()> &press) {
        messages.clear();
        press();
        return RunUntil([&] { return qxForm->RunningList() != timerId; });
    };
    const std::vector<Operation> operations = {
        { "Kelvane Read Active", 0,
            [&] {
                return kelvaneList(ZarnFormView::kReadTimer, [&] { form->OnReadActive(); })
                    && messages.isEmpty();
            } },
        { "Kelvane Send Active, both checks", 1,
            [&] {
                AuditSettings::SetCompareBeforeSend(true);
                AuditSettings::SetReadBackAfterSend(true);
                // An edit, so that the compare finds a change to send.
                qobject_cast<QLineEdit *>(form->Control(FieldId::Password))
                    ->setText(QString::number(++checkedSends));
                messages.clear();
                form->OnSendActive();
                const bool ended = RunUntil([&] {
                    return !messages.isEmpty() && form->RunningList() != ZarnFormView::kCompareTimer
                        && form->RunningList() != ZarnFormView::kSendTimer
                        && form->RunningList() != ZarnFormView::kVerifyTimer;
                });
                AuditSettings::SetCompareBeforeSend(false);
                AuditSettings::SetReadBackAfterSend(false);
                return ended
                    && messages == QStringList { QStringLiteral("Meter stored the configuration") };
            } },
        { "Kelvane Send Active", 1,
            [&] {
                return kelvaneList(ZarnFormView::kSendTimer, [&] { form->OnSendActive(); })
                    && messages
                    == QStringList { QString::fromLatin1(SendWithChecks::kAcknowledgedText) };
            } },
        { "Kelvane range Change", 2,
            [&] {
                // A range other than the active one, picked as the user picks it.
                auto *desired = qobject_cast<QComboBox *>(form->Control(1115));
                if (!desired)
                    return false;
                const int index = form->GetField(1114) == QLatin1String("1") ? 1 : 0;
                desired->setCurrentIndex(index);
                Q_EMIT desired->activated(index);
                // The change ends with the nine "r" its list leaves to go out: done when the
                // port is free again.
                return kelvaneList(ZarnFormView::kSelectTimer, [&] { form->OnChange(); })
                    && RunUntil([&] { return !link->IsClaimed(); });
            } },
        { "Kelvane Send, Cancel, Settings", 2,
            [&] {
                // Cancel half way through the image and Settings applied at once: the run-mode
                // command the Cancel sent on its way goes out, paced, before the port is set up
                // anew, while the event loop runs.
                messages.clear();
                form->OnSendActive();
                if (!RunUntil([&] {
                        const CQueView *runner = form->Runner();
                        return runner
                            && runner->LineLabel()
                                   ->toolTip()
                                   .section(QLatin1Char(' '), 1, 1)
                                   .toInt()
                            >= 200;
                    }))
                    return false;
                form->Runner()->Cancel();
                CommSettings::ApplyTerminalPort(*link, kelvanePty, QString::number(baud));
                return RunUntil([&] {
                    return form->RunningList() != ZarnFormView::kSendTimer && link->IsOpen()
                        && !link->IsClaimed();
                });
            } },
        { "Quixal Read", 2,
            [&] {
                return quixalList(ZarnQXFormView::kReadTimer, [&] { qxForm->OnRead(); })
                    && messages.isEmpty();
            } },
        { "Quixal Send", 2,
            [&] { return quixalList(ZarnQXFormView::kSendTimer, [&] { qxForm->OnSend(); }); } },
        { "Read on a port that is not open", 2,
            [&] {
                link->ClosePort();
                messages.clear();
                form->OnReadActive();
                const bool said = messages.size() == 1;
                usePort(kelvanePty);
                return said;
            } },
    };

    std::map<std::string, std::vector<double>> stalls;
    std::map<std::string, std::vector<double>> wholes;
    for (int run = 0; run < runs; ++run) {
        usePort(kelvanePty);
        app.OnNewMeterForm();
        form = qobject_cast<ZarnFormView *>(app.MainFrame()->ActiveView());
        usePort(quixalPty);
        app.OnNewQuixal();
        qxForm = qobject_cast<ZarnQXFormView *>(app.MainFrame()->ActiveView());
        if (!form || !qxForm) {
            std::fprintf(stderr, "the forms did not open\n");
            return 1;
        }
        for (const Operation &op : operations) {
            if (!chosen(op))
                continue;
            usePort(QString::fromLatin1(op.name).startsWith(QLatin1String("Quixal")) ? quixalPty
                                                                                     : kelvanePty);
            StallMeter meter;
            meter.Start();
            const bool ok = op.run();
            meter.Stop();
            if (!ok) {
                std::fprintf(stderr, "%s failed: %s\n", op.name,
                    qPrintable(messages.join(QLatin1Char('|'))));
                // Ends without asking to save the forms: nobody would answer.
                for (CDocument *doc : { form->GetDocument(), qxForm->GetDocument() })
                    doc->SetModifiedFlag(false);
                return 1;
            }
            stalls[op.name].push_back(double(meter.MaxGapMs()));
            wholes[op.name].push_back(double(meter.ElapsedMs()));
        }
        for (CDocument *doc : { form->GetDocument(), qxForm->GetDocument() }) {
            doc->SetModifiedFlag(false);
            Q_EMIT doc->CloseRequested();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    std::printf("median of %d runs at %d baud (longest stall of the event loop / whole "
                "operation):\n",
        runs, baud);
    for (const Operation &op : operations) {
        if (!chosen(op))
            continue;
        std::printf("  %-34s %6.0f ms / %7.0f ms\n", op.name, Median(stalls[op.name]),
            Median(wholes[op.name]));
    }
    return 0;
}
