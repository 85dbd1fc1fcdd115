#include "lists/CQueDoc.h"
#include "lists/CQueFrame.h"
#include "lists/CQueView.h"
#include "lists/ListDialogue.h"

#include "base/CChildFrame.h"
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

#include <functional>

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
        run.Executor().SetPauseMs(0);
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
        frame->SetView(view);
        area.addSubWindow(frame);
        frame->setGeometry(frame->FrameGeometry());
        QObject::connect(doc, &CDocument::CloseRequested, frame, &QWidget::close);
        QObject::connect(frame, &QObject::destroyed, doc, &QObject::deleteLater);
        frame->show();
        view->OnInitialUpdate();
        return view;
    }

    FakeMeterLink link;
    MapForm form;
    QStringList messages;
    ListDialogue run; // the owner's: it outlives the windows
    QMdiArea area;
    QPointer<CQueFrame> frame;

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
    EXPECT_EQ(view->Lines().size(), 5);
    QList<int> bar;
    QObject::connect(
        view->ProgressBar(), &QProgressBar::valueChanged, [&bar](int value) { bar.append(value); });
    QList<ListRun::End> ends;
    QString lastLine;
    bool shownAtEnd = true; // the window, while the owner says how the list ended
    ASSERT_EQ(StartShown(run, view, &form, &link, 0,
                  [&](const ListRun::Outcome &outcome) {
                      ends.append(outcome.end);
                      lastLine = view->LineLabel()->toolTip();
                      shownAtEnd = frame && frame->isVisible();
                  }),
        1);
    EXPECT_TRUE(view->IsRunning());
    EXPECT_EQ(view->LineIndex(), -1); // the first line runs on the first beat
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ends.isEmpty(); }));
    EXPECT_EQ(ends, QList<ListRun::End> { ListRun::End::Ended });
    EXPECT_EQ(bar, (QList<int> { 1, 2, 3, 4 }));
    EXPECT_EQ(lastLine, QStringLiteral(" End"));
    EXPECT_FALSE(shownAtEnd) << "no live Cancel behind the list's result";
    EXPECT_EQ(stopped.count(), 1);
    EXPECT_FALSE(runner && runner->IsRunning());
    // The window closes when control returns to the event loop.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !frame && !runner; }));
}

// Cancel and closing the window stop the run at once and once (the owner hears a cancel), and
// the owner stopping its run closes the window without a word to the owner.
TEST_F(QueWindowTest, EveryWayOfStoppingEndsTheRunAndClosesTheWindow)
{
    const struct
    {
        const char *what;
        std::function<void(CQueView *)> stop;
        int ends; // how often the owner hears the end
    } cases[] = {
        { "cancel", [](CQueView *view) { QTest::mouseClick(view->CancelButton(), Qt::LeftButton); },
            1 },
        { "window closed", [this](CQueView *) { frame->close(); }, 1 },
        { "owner abandons the run", [this](CQueView *) { run.Abandon(); }, 0 },
    };
    for (const auto &c : cases) {
        CQueView *view = Open("send20.que", kFiveLines);
        QPointer<CQueView> window(view);
        int stopped = 0;
        QObject::connect(view, &CQueView::RunStopped, [&stopped] { ++stopped; });
        QList<ListRun::End> ends;
        // A beat long enough that the run is still on its first line when it is stopped.
        ASSERT_EQ(StartShown(run, view, &form, &link, 10000,
                      [&ends](const ListRun::Outcome &outcome) { ends.append(outcome.end); }),
            1)
            << c.what;
        EXPECT_TRUE(view->IsWaiting()) << c.what;
        c.stop(view);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !window && !frame; })) << c.what;
        EXPECT_TRUE(QTest::qWaitFor([&] { return ends.size() == c.ends; })) << c.what;
        for (ListRun::End end : ends)
            EXPECT_EQ(end, ListRun::End::Cancelled) << c.what;
        EXPECT_LE(stopped, 1) << c.what;
        EXPECT_FALSE(run.IsRunning()) << c.what;
        EXPECT_TRUE(link.calls.isEmpty()) << c.what; // stopped before any line ran
    }
}

// The run is its owner's: a window that closed at a run's end and is deleted only later takes
// nothing with it, not even the next run its owner showed in it meanwhile.
TEST_F(QueWindowTest, AWindowDeletedAfterItClosedLeavesTheNextRunGoing)
{
    CQueView *view = Open("read20.que", kFiveLines);
    QPointer<CQueView> window(view);
    QList<ListRun::End> ends;
    const ListDialogue::Finished heard
        = [&ends](const ListRun::Outcome &outcome) { ends.append(outcome.end); };
    // The next list, shown in the window once it has closed and before it is deleted.
    bool again = false;
    QObject::connect(frame, &CChildFrame::Closed, [&] {
        if (!again)
            again = StartShown(run, view, &form, &link, 50, heard) == 1;
    });
    ASSERT_EQ(StartShown(run, view, &form, &link, 0, heard), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window; }));
    EXPECT_TRUE(again);
    EXPECT_TRUE(QTest::qWaitFor([&] { return ends.size() == 2; }));
    EXPECT_EQ(ends, (QList<ListRun::End> { ListRun::End::Ended, ListRun::End::Ended }));
}

TEST_F(QueWindowTest, CancelShowsTheWindUp)
{
    link.replies = { QByteArray(">"), QByteArray(">") };
    CQueView *view = Open("read20.que",
        " Send(0,100,400,\"rv\",\">\",Fail)\r\n Send(0,100,400,\"rrrr\",\">\",Fail)\r\n"
        " End\r\nFail: End\r\n");
    QString shownAtEnd;
    QList<ListRun::End> ends;
    // The second line two seconds after the first: Cancel comes between them.
    ASSERT_EQ(StartShown(run, view, &form, &link, 2000,
                  [&](const ListRun::Outcome &outcome) {
                      ends.append(outcome.end);
                      shownAtEnd = view->LineLabel()->toolTip();
                  }),
        1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return link.calls.size() >= 3; }, 10000));
    EXPECT_EQ(view->LineLabel()->toolTip(), QStringLiteral(" Send(0,100,400,\"rv\",\">\",Fail)"));
    QTest::mouseClick(view->CancelButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ends.isEmpty(); }));
    EXPECT_EQ(ends, QList<ListRun::End> { ListRun::End::Cancelled });
    EXPECT_EQ(shownAtEnd, QStringLiteral("Returning the meter to run mode"));
    EXPECT_EQ(link.calls.mid(3), (QStringList { "purge", "send:rrrr\r", "read:100,400" }));
}

TEST_F(QueWindowTest, OneRunAtATime)
{
    CQueView *view = Open("read20.que", kFiveLines);
    ListDialogue other;
    ASSERT_EQ(StartShown(run, view, &form, &link, 10000), 1);
    EXPECT_FALSE(view->FollowsOther(&run));
    EXPECT_TRUE(view->FollowsOther(&other));
    EXPECT_FALSE(view->Follow(&other));
    EXPECT_EQ(view->Run(), &run);
    // Its owner may start again: the window shows the first line again.
    ASSERT_EQ(StartShown(run, view, &form, &link, 10000), 1);
    EXPECT_EQ(view->LineIndex(), -1);
    EXPECT_EQ(view->ProgressBar()->value(), 0);
}

TEST_F(QueWindowTest, LongLineIsElidedToTheWindow)
{
    CQueView *view = Open("read20.que",
        "// a long comment line that is much wider than the progress window, so it "
        "has to be cut short in the window\r\n Find(\"x\",0,1)\r\n End\r\n");
    StartShown(run, view, &form, &link, 1000); // the comment line shows for a beat
    EXPECT_TRUE(QTest::qWaitFor([&] { return view->LineLabel()->text().endsWith(QChar(0x2026)); }));
    EXPECT_LE(view->LineLabel()->sizeHint().width(), view->LineLabel()->width());
    EXPECT_EQ(frame->size(), QSize(410, 155));
    // Set TARVIK_SHOT_DIR to keep a picture of the window.
    if (qEnvironmentVariableIsSet("TARVIK_SHOT_DIR"))
        area.grab().save(qEnvironmentVariable("TARVIK_SHOT_DIR") + "/que-window.png");
}
