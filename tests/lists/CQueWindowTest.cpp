#include "lists/CQueDoc.h"
#include "lists/CQueFrame.h"
#include "lists/CQueView.h"
#include "lists/ListRun.h"

#include "base/DialogueRunner.h"
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
    QList<int> bar;
    QObject::connect(
        view->ProgressBar(), &QProgressBar::valueChanged, [&bar](int value) { bar.append(value); });
    QList<ListRun::End> ends;
    QString lastLine;
    bool shownAtEnd = true; // the window, while the owner says how the list ended
    ASSERT_EQ(view->Start(&form, &link, 0,
                  [&](const ListRun::Outcome &outcome) {
                      ends.append(outcome.end);
                      lastLine = view->LineLabel()->toolTip();
                      shownAtEnd = frame && frame->isVisible();
                  }),
        1);
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

// Cancel, closing the window and the form going away all end the run, each at once and once,
// whether it runs on the window's runner or on its owner's.
TEST_F(QueWindowTest, EveryWayOfStoppingEndsTheRunAndClosesTheWindow)
{
    class WidgetForm : public QObject, public MapForm
    {
    };
    const struct
    {
        const char *what;
        bool widgetForm;
        std::function<void(CQueView *, QObject *)> stop;
        int ends; // how often the owner hears the end
    } cases[] = {
        { "cancel", false,
            [](CQueView *view, QObject *) {
                QTest::mouseClick(view->CancelButton(), Qt::LeftButton);
            },
            1 },
        { "window closed", false, [this](CQueView *, QObject *) { frame->close(); }, 1 },
        { "form gone", true, [](CQueView *, QObject *owner) { delete owner; }, 0 },
        { "abandoned", false, [](CQueView *view, QObject *) { view->Abandon(); }, 0 },
    };
    for (const auto &c : cases)
        for (const bool ownersRunner : { false, true }) {
            DialogueRunner owners;
            CQueView *view = Open("send20.que", kFiveLines);
            QPointer<CQueView> runner(view);
            int stopped = 0;
            QObject::connect(view, &CQueView::RunStopped, [&stopped] { ++stopped; });
            QList<ListRun::End> ends;
            auto *widgetForm = c.widgetForm ? new WidgetForm : nullptr;
            IFieldAccess *owner = widgetForm ? static_cast<IFieldAccess *>(widgetForm) : &form;
            // A beat long enough that the run is still on its first line when it is stopped.
            ASSERT_EQ(view->Start(
                          owner, &link, 10000,
                          [&ends](const ListRun::Outcome &outcome) { ends.append(outcome.end); },
                          QString(), ownersRunner ? &owners : nullptr),
                1)
                << c.what;
            EXPECT_EQ(owners.IsRunning(), ownersRunner) << c.what;
            EXPECT_TRUE(view->IsWaiting()) << c.what;
            c.stop(view, widgetForm);
            EXPECT_TRUE(QTest::qWaitFor([&] { return !runner && !frame; })) << c.what;
            EXPECT_TRUE(QTest::qWaitFor([&] { return ends.size() == c.ends; })) << c.what;
            for (ListRun::End end : ends)
                EXPECT_EQ(end, ListRun::End::Cancelled) << c.what;
            EXPECT_LE(stopped, 1) << c.what;
            EXPECT_TRUE(link.calls.isEmpty()) << c.what; // stopped before any line ran
            EXPECT_FALSE(owners.IsRunning()) << c.what;
        }
}

TEST_F(QueWindowTest, OneFormRunsAListAtATime)
{
    CQueView *view = Open("read20.que", kFiveLines);
    MapForm other;
    EXPECT_EQ(view->Start(nullptr, &link), 0);
    EXPECT_EQ(view->Start(&form, &link, 10000), 1);
    EXPECT_EQ(view->Start(&other, &link), 0);
    // The owner may start again: back to the first line.
    EXPECT_EQ(view->Start(&form, &link, 10000), 1);
    // Nor does a list start on an owner's runner that is in another dialogue.
    DialogueRunner busy;
    busy.Start([](DialogueRunner &r) -> Task<void> { co_await r.Sleep(60000); }(busy));
    EXPECT_EQ(view->Start(&form, &link, 10000, {}, QString(), &busy), 0);
    busy.Abort();
    EXPECT_EQ(view->LineIndex(), -1);
    EXPECT_EQ(view->ProgressBar()->value(), 0);
}

TEST_F(QueWindowTest, BadLabelOnTheFirstLineClosesTheWindow)
{
    CQueView *view = Open("bad.que", " Goto(Nowhere)\r\n End\r\n");
    // The message comes once the run's dialogue is over, never from inside it, and before the
    // owner hears the end.
    QList<bool> waitingWhenShown;
    UserMessage::SetHandler([&](const QString &text, const QString &caption) {
        messages.append(caption + "|" + text);
        waitingWhenShown.append(view->IsWaiting());
    });
    QList<ListRun::End> ends;
    view->Start(&form, &link, 0, [&](const ListRun::Outcome &outcome) {
        ends.append(outcome.end);
        messages.append(QStringLiteral("ended"));
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ends.isEmpty(); }));
    EXPECT_EQ(ends, QList<ListRun::End> { ListRun::End::Failed });
    EXPECT_EQ(messages, (QStringList { "Bad jump lable on line 0|Nowhere", "ended" }));
    EXPECT_EQ(waitingWhenShown, QList<bool> { false });
    EXPECT_TRUE(QTest::qWaitFor([&] { return !frame; }));
}

TEST_F(QueWindowTest, EmptyListEnds)
{
    CQueView *view = Open("empty.que", "");
    QList<ListRun::End> ends;
    view->Start(
        &form, &link, 0, [&](const ListRun::Outcome &outcome) { ends.append(outcome.end); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ends.isEmpty(); }));
    EXPECT_EQ(ends, QList<ListRun::End> { ListRun::End::Ended });
}

TEST_F(QueWindowTest, RunsAReadListAgainstTheMeter)
{
    form.fields[1] = QStringLiteral("rv");
    link.replies = { QByteArray("v4.1A #12345 >") };
    CQueView *view = Open("read20.que",
        " Send(1,100,500,\"\",\">\",Fail)\r\n"
        " Read(\"v\",1,4,1049)\r\n End\r\nFail: End\r\n");
    QPointer<CQueView> runner(view);
    view->Start(&form, &link);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !runner || !runner->IsRunning(); }));
    EXPECT_EQ(form.fields[1049], QStringLiteral("4.1A"));
    EXPECT_EQ(link.calls, (QStringList { "purge", "send:rv\r", "read:100,500" }));
}

TEST_F(QueWindowTest, LongLineIsElidedToTheWindow)
{
    CQueView *view = Open("read20.que",
        "// a long comment line that is much wider than the progress window, so it "
        "has to be cut short in the window\r\n Find(\"x\",0,1)\r\n End\r\n");
    view->Start(&form, &link, 1000); // the comment line shows for a beat
    EXPECT_TRUE(QTest::qWaitFor([&] { return view->LineLabel()->text().endsWith(QChar(0x2026)); }));
    EXPECT_LE(view->LineLabel()->sizeHint().width(), view->LineLabel()->width());
    EXPECT_EQ(frame->size(), QSize(410, 155));
    // Set TARVIK_SHOT_DIR to keep a picture of the window.
    if (qEnvironmentVariableIsSet("TARVIK_SHOT_DIR"))
        area.grab().save(qEnvironmentVariable("TARVIK_SHOT_DIR") + "/que-window.png");
}
