#include "lists/CQueDoc.h"
#include "lists/CQueFrame.h"
#include "lists/CQueView.h"

#include "base/UserMessage.h"
#include "lists/QueFakes.h"
#include "support/TestEnv.h"

#include <QFile>
#include <QLabel>
#include <QMdiArea>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {
// Opens a list the way the document manager does: document, frame, view in an MDI area; the
// document's close request closes the frame, and the document goes with its frame.
class QueWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_previous = UserMessage::SetHandler([this](const QString &text, const QString &caption) {
            messages.append(caption + "|" + text);
        });
        area.resize(900, 600);
        area.show();
    }
    void TearDown() override { UserMessage::SetHandler(m_previous); }

    CQueView *Open(const QString &name, const QByteArray &content)
    {
        const QString path = TestEnv::WorkDir() + QLatin1Char('/') + name;
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(content);
        file.close();
        auto *doc = new CQueDoc;
        EXPECT_TRUE(doc->OnOpenDocument(path));
        doc->SetPathName(path);
        frame = new CQueFrame;
        auto *view = new CQueView(doc);
        view->Executor().SetPauseMs(0);
        frame->SetView(view);
        area.addSubWindow(frame);
        frame->setGeometry(frame->FrameGeometry());
        QObject::connect(doc, &CDocument::CloseRequested, frame, &QWidget::close);
        QObject::connect(frame, &QObject::destroyed, doc, &QObject::deleteLater);
        frame->show();
        view->OnInitialUpdate();
        return view;
    }

    QMdiArea area;
    QPointer<CQueFrame> frame;
    FakeMeterLink link;
    MapForm form;
    QStringList messages;

private:
    UserMessage::Handler m_previous;
};

const QByteArray kFiveLines
    = "// five lines\r\n Find(\"x\",0,1)\r\n Test(9,Skip)\r\nSkip: Find(\"y\",0,1)\r\n End\r\n";
} // namespace

TEST_F(QueWindowTest, FrameGeometryAndCaption)
{
    Open("read20.que", kFiveLines);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->geometry(), QRect(80, 60, 410, 155));
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Processing-> read20.que"));
    EXPECT_EQ(frame->minimumSize(), frame->maximumSize()); // no resizing
    EXPECT_FALSE(frame->windowFlags() & Qt::WindowSystemMenuHint);
    EXPECT_FALSE(frame->windowFlags() & Qt::WindowMaximizeButtonHint);
    qobject_cast<CQueView *>(frame->widget())->GetDocument()->SetTitle(QStringLiteral("renamed"));
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Processing-> renamed"));
}

TEST_F(QueWindowTest, ProgressFollowsTheLinesAndEndClosesTheWindow)
{
    CQueView *view = Open("read20.que", kFiveLines);
    QPointer<CQueView> runner(view);
    QSignalSpy stopped(view, &CQueView::RunStopped);
    EXPECT_EQ(view->ProgressBar()->minimum(), 0);
    EXPECT_EQ(view->ProgressBar()->maximum(), 4);
    EXPECT_EQ(view->LineIndex(), -1);
    ASSERT_EQ(view->Start(&form, &link), 1);

    QList<int> results;
    QList<int> bar;
    for (int i = 0; i < 4; ++i) {
        results.append(view->Step());
        bar.append(view->ProgressBar()->value());
    }
    EXPECT_EQ(results, (QList<int> { 0, 0, 0, 0 }));
    EXPECT_EQ(bar, (QList<int> { 1, 2, 3, 4 }));
    EXPECT_EQ(view->LineLabel()->toolTip(), QStringLiteral("Skip: Find(\"y\",0,1)"));

    EXPECT_EQ(view->Step(), 1); // " End"
    EXPECT_EQ(stopped.count(), 1);
    EXPECT_FALSE(view->IsRunning());
    EXPECT_EQ(view->Step(), 0);
    EXPECT_EQ(view->LineIndex(), 4);
    // The window closes when control returns to the event loop.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !frame && !runner; }));
}

TEST_F(QueWindowTest, CancelStopsTheRunAndClosesTheWindow)
{
    CQueView *view = Open("send20.que", kFiveLines);
    QPointer<CQueView> runner(view);
    QSignalSpy stopped(view, &CQueView::RunStopped);
    view->Start(&form, &link);
    view->Step();
    QTest::mouseClick(view->CancelButton(), Qt::LeftButton);
    EXPECT_EQ(stopped.count(), 1);
    EXPECT_FALSE(view->IsRunning());
    EXPECT_EQ(view->Step(), 0);
    EXPECT_EQ(view->LineIndex(), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !runner && !frame; }));
}

TEST_F(QueWindowTest, ClosingTheWindowStopsTheRun)
{
    CQueView *view = Open("select20.que", kFiveLines);
    QPointer<CQueView> runner(view);
    bool stopped = false;
    QObject::connect(view, &CQueView::RunStopped, [&stopped] { stopped = true; });
    view->Start(&form, &link);
    view->Step();
    frame->close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !runner; }));
    EXPECT_TRUE(stopped);
}

TEST_F(QueWindowTest, FormClosingEndsItsRun)
{
    class WidgetForm : public QObject, public MapForm
    {
    };
    CQueView *view = Open("read20.que", kFiveLines);
    QPointer<CQueView> runner(view);
    auto *widgetForm = new WidgetForm;
    ASSERT_EQ(view->Start(widgetForm, &link), 1);
    view->Step();
    delete widgetForm;
    EXPECT_FALSE(view->IsRunning());
    EXPECT_EQ(view->Step(), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !runner; }));
}

TEST_F(QueWindowTest, OneFormRunsAListAtATime)
{
    CQueView *view = Open("read20.que", kFiveLines);
    MapForm other;
    EXPECT_EQ(view->Start(nullptr, &link), 0);
    EXPECT_EQ(view->Start(&form, &link), 1);
    view->Step();
    view->Step();
    EXPECT_EQ(view->Start(&other, &link), 0);
    EXPECT_EQ(view->LineIndex(), 1);
    // The owner may start again: back to the first line.
    EXPECT_EQ(view->Start(&form, &link), 1);
    EXPECT_EQ(view->LineIndex(), -1);
    EXPECT_EQ(view->ProgressBar()->value(), 0);
}

TEST_F(QueWindowTest, BadLabelOnTheFirstLineClosesTheWindow)
{
    CQueView *view = Open("bad.que", " Goto(Nowhere)\r\n End\r\n");
    // The message comes once the line's dialogue is over, never from inside it.
    QList<bool> waitingWhenShown;
    UserMessage::SetHandler([&](const QString &text, const QString &caption) {
        messages.append(caption + "|" + text);
        waitingWhenShown.append(view->IsWaiting());
    });
    view->Start(&form, &link);
    EXPECT_EQ(view->Step(), -1);
    EXPECT_EQ(messages, QStringList { "Bad jump lable on line 0|Nowhere" });
    EXPECT_EQ(waitingWhenShown, QList<bool> { false });
    EXPECT_FALSE(view->IsRunning());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !frame; }));
}

TEST_F(QueWindowTest, EmptyListEndsOnTheFirstStep)
{
    CQueView *view = Open("empty.que", "");
    view->Start(&form, &link);
    EXPECT_EQ(view->Step(), 1);
    EXPECT_EQ(view->Step(), 1);
    EXPECT_TRUE(view->IsRunning()); // no "End": the owner decides when to let go
}

TEST_F(QueWindowTest, RunsAReadListAgainstTheMeter)
{
    form.fields[1] = QStringLiteral("rv");
    link.replies = { QByteArray("v4.1A #12345 >") };
    CQueView *view = Open("read20.que",
        " Send(1,100,500,\"\",\">\",Fail)\r\n"
        " Read(\"v\",1,4,1049)\r\n End\r\nFail: End\r\n");
    view->Start(&form, &link);
    EXPECT_EQ(view->Step(), 0);
    EXPECT_EQ(view->Step(), 0);
    EXPECT_EQ(view->Step(), 1);
    EXPECT_EQ(form.fields[1049], QStringLiteral("4.1A"));
    EXPECT_EQ(link.calls, (QStringList { "purge", "send:rv\r", "read:100,500" }));
}

TEST_F(QueWindowTest, LongLineIsElidedToTheWindow)
{
    CQueView *view = Open("read20.que",
        "// a long comment line that is much wider than the progress window, so it "
        "has to be cut short in the window\r\n Find(\"x\",0,1)\r\n End\r\n");
    view->Start(&form, &link);
    view->Step();
    EXPECT_TRUE(QTest::qWaitFor([&] { return view->LineLabel()->text().endsWith(QChar(0x2026)); }));
    EXPECT_LE(view->LineLabel()->sizeHint().width(), view->LineLabel()->width());
    EXPECT_EQ(frame->size(), QSize(410, 155));
    // Set TARVIK_SHOT_DIR to keep a picture of the window.
    if (qEnvironmentVariableIsSet("TARVIK_SHOT_DIR"))
        area.grab().save(qEnvironmentVariable("TARVIK_SHOT_DIR") + "/que-window.png");
}
