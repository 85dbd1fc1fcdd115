// The curve graphs inside the program: a Kelvane form read from the simulated meter opens its
// sensor curve and linear output graphs with the values it read.
#include "graphs/CurveGraphDialog.h"
#include "graphs/GraphArea.h"
#include "meter/ZarnFormView.h"

#include "app/CDocManager.h"
#include "app/CMainFrame.h"
#include "app/CTarvikApp.h"
#include "base/CChildFrame.h"
#include "base/CDocument.h"
#include "base/CPrefs.h"
#include "base/Globals.h"
#include "base/PrintfText.h"
#include "base/UserMessage.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

TEST(GraphsInTheProgram, FormReadFromTheSimulatedMeterOpensBothGraphs)
{
    if (!QFile::exists(QStringLiteral("read20.que"))
        || !QFile::exists(QStringLiteral("41A_Template.mtr")))
        GTEST_SKIP() << "the data files are missing";
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
        { QStringLiteral("--serial"), QStringLiteral("314159"), QStringLiteral("--interval"),
            QStringLiteral("600000"), QStringLiteral("--data-dir"), TestEnv::DataDir() });
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
    app.MainFrame()->resize(1366, 768);
    app.OnNewMeterForm();
    ASSERT_EQ(app.DocManager()->Documents().size(), 1);
    CDocument *document = app.DocManager()->Documents().first();
    CChildFrame *frame = app.DocManager()->FramesOf(document).first();
    auto *form = qobject_cast<ZarnFormView *>(frame->View());
    ASSERT_NE(form, nullptr);
    QApplication::processEvents();
    qobject_cast<QPushButton *>(form->Control(1040))->click(); // Read Active
    TestEnv::WaitUntil([&] { return form->RunningList() != ZarnFormView::kReadTimer; });
    ASSERT_NE(form->RunningList(), ZarnFormView::kReadTimer);
    ASSERT_TRUE(messages.isEmpty()) << qPrintable(messages.join(QLatin1Char('|')));
    auto *primary = qobject_cast<QTreeWidget *>(form->Control(1047));
    ASSERT_EQ(primary->topLevelItemCount(), 10);

    const QString shots = qEnvironmentVariable("TARVIK_SHOTS");
    const QString fullScale = qobject_cast<QLineEdit *>(form->Control(1018))->text();
    for (int button : { 1042, 1050 }) {
        bool seen = false;
        QTimer::singleShot(0, [&] {
            auto *dialog = qobject_cast<CurveGraphDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            seen = true;
            // The dialog shows the coefficients the form read.
            const QStringList lines = dialog->ListLines(1053);
            ASSERT_EQ(lines.size(), 13);
            for (int i = 0; i < 10; ++i)
                EXPECT_EQ(lines.at(i), primary->topLevelItem(i)->text(1));
            const GraphPicture &picture = dialog->Area()->Picture();
            bool trace = false;
            for (const GraphPicture::Polyline &l : picture.lines)
                trace = trace || (l.width == CurveGraph::kTracePen && l.points.size() > 100);
            EXPECT_TRUE(trace);
            for (const GraphPicture::Text &t : picture.texts)
                EXPECT_TRUE(QRectF(dialog->Area()->rect()).contains(dialog->Area()->TextRect(t)));
            if (button == 1050) { // the flow scale's top label is the form's full scale
                EXPECT_FALSE(
                    picture.FindTexts(PrintfText::Format("%4.1f", fullScale.toDouble())).empty());
            }
            if (!shots.isEmpty()) {
                dialog->grab().save(
                    QDir(shots).filePath(button == 1042 ? QStringLiteral("form-curve.png")
                                                        : QStringLiteral("form-linear.png")));
            }
            dialog->accept();
        });
        qobject_cast<QPushButton *>(form->Control(button))->click();
        EXPECT_TRUE(seen) << button;
    }
}
