// Command lists opened through the program's document manager, as the meter forms open them.
#include "lists/CQueDoc.h"
#include "lists/CQueView.h"
#include "lists/ListDialogue.h"

#include "app/CAppServices.h"
#include "app/CDocManager.h"
#include "app/DocTypes.h"
#include "base/CChildFrame.h"
#include "base/UserMessage.h"
#include "lists/QueFakes.h"
#include "support/TestEnv.h"

#include <QFile>
#include <QMdiArea>
#include <QPointer>
#include <QTest>

#include <gtest/gtest.h>

namespace {
class QueDocTypeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_previous = UserMessage::SetHandler(
            [this](const QString &text, const QString &) { messages.append(text); });
        DocTypes::RegisterAll(manager);
        manager.SetMdiArea(&area);
        area.resize(800, 600);
        area.show();
        QFile file(TestEnv::WorkDir() + "/list.que");
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(kList);
    }
    void TearDown() override
    {
        area.closeAllSubWindows();
        QTest::qWait(10);
        UserMessage::SetHandler(m_previous);
    }

    static constexpr const char *kList = " Find(\"x\",0,1)\r\n Find(\"y\",0,1)\r\n End\r\n";
    QMdiArea area;
    CDocManager manager;
    CAppServices services { &manager };
    MapForm form;
    FakeMeterLink link;
    QStringList messages;
    ListDialogue run;

private:
    UserMessage::Handler m_previous;
};
} // namespace

TEST_F(QueDocTypeTest, IsRegisteredForQueFiles)
{
    const int index = manager.TemplateFor(QStringLiteral("read20.que"));
    ASSERT_GE(index, 0);
    const CDocTemplate &type = manager.Templates()[size_t(index)];
    EXPECT_EQ(type.resourceId, 135);
    EXPECT_EQ(type.DocName(), QStringLiteral("ZarnQue"));
    EXPECT_EQ(type.FilterName(), QStringLiteral("*.que"));
    EXPECT_EQ(type.Field(5), QStringLiteral("ZarnQuery.Document"));
    EXPECT_EQ(type.Field(6), QStringLiteral("ZarnQuery Document"));
    EXPECT_EQ(type.menu, CDocTemplate::Menu::Main);
}

TEST_F(QueDocTypeTest, OpenListTwiceBringsTheSameRunnerForward)
{
    CQueView *first = CQueView::OpenList(&services, QStringLiteral("list.que"));
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(StartShown(run, first, &form, &link, 10), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return first->LineIndex() >= 0; }));
    CQueView *second = CQueView::OpenList(&services, QStringLiteral("list.que"));
    EXPECT_EQ(second, first);
    EXPECT_EQ(manager.Documents().size(), 1);
    EXPECT_GE(first->LineIndex(), 0); // the running list was not read again
    CChildFrame *frame = manager.FramesOf(first->GetDocument()).first();
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Processing-> list.que"));
    first->GetDocument()->SetTitle(QStringLiteral("renamed"));
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Processing-> renamed"));
}

TEST_F(QueDocTypeTest, EndClosesTheDocumentAndTheNextOpenRunsFromTheTop)
{
    QPointer<CQueView> runner = CQueView::OpenList(&services, QStringLiteral("list.que"));
    ASSERT_TRUE(runner);
    QList<ListRun::End> ends;
    StartShown(run, runner, &form, &link, 0,
        [&](const ListRun::Outcome &outcome) { ends.append(outcome.end); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ends.isEmpty(); }));
    EXPECT_EQ(ends, QList<ListRun::End> { ListRun::End::Ended });
    EXPECT_TRUE(QTest::qWaitFor([&] { return !runner && manager.Documents().isEmpty(); }));

    QPointer<CQueView> again = CQueView::OpenList(&services, QStringLiteral("list.que"));
    ASSERT_TRUE(again);
    EXPECT_EQ(StartShown(run, again, &form, &link), 1);
    EXPECT_EQ(again->LineIndex(), -1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !again || again->LineIndex() >= 0; }));
}

TEST_F(QueDocTypeTest, CancelClosesTheDocument)
{
    QPointer<CQueView> runner = CQueView::OpenList(&services, QStringLiteral("list.que"));
    ASSERT_TRUE(runner);
    StartShown(run, runner, &form, &link);
    runner->Cancel();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !runner && manager.Documents().isEmpty(); }));
}

TEST_F(QueDocTypeTest, SaveLeavesTheListFileAsItWas)
{
    CQueView *runner = CQueView::OpenList(&services, QStringLiteral("list.que"));
    ASSERT_NE(runner, nullptr);
    EXPECT_TRUE(manager.SaveDocument(runner->GetDocument(), false, nullptr));
    QFile file(TestEnv::WorkDir() + "/list.que");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray(kList));
}

TEST_F(QueDocTypeTest, MissingListGivesNoRunner)
{
    EXPECT_EQ(CQueView::OpenList(&services, QStringLiteral("no-such.que")), nullptr);
    EXPECT_EQ(messages, QStringList { "Failed to open document." });
    EXPECT_EQ(CQueView::OpenList(nullptr, QStringLiteral("list.que")), nullptr);
}
