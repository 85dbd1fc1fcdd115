#include "app/CDocManager.h"
#include "app/DocTypes.h"
#include "base/CPrefs.h"
#include "base/Globals.h"
#include "meter/CConvertDlg.h"
#include "meter/CMeterDoc.h"
#include "meter/MeterVars.h"
#include "meter/ZarnFormFrame.h"
#include "meter/ZarnFormView.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMdiArea>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// Pictures of the windows for a person to look at, when TARVIK_SCREENSHOTS names a folder.
void SaveShot(QWidget &widget, const char *name)
{
    const QString folder = qEnvironmentVariable("TARVIK_SCREENSHOTS");
    if (!folder.isEmpty())
        widget.grab().save(folder + "/" + name);
}

class MeterWidgetsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetGlobals();
        ZarnFormFrame::ResetSmallFrameCount();
        TestEnv::ClearPreferences();
    }
    void TearDown() override
    {
        ResetGlobals();
        TestEnv::ReseedWorkDir();
    }
};

TEST_F(MeterWidgetsTest, FrameSizeFollowsTheKindOfWindow)
{
    const struct
    {
        int kindBefore;
        QRect geometry;
        int kindAfter;
    } rows[] = {
        { 1, QRect(300, 0, 685, 700), 1 },
        { 2, QRect(0, 0, 560, 470), 2 },
        { 2, QRect(0, 0, 560, 470), 2 },
        { 2, QRect(0, 0, 560, 470), 1 }, // third small frame
        { 1, QRect(300, 0, 685, 700), 1 },
        { 2, QRect(0, 0, 560, 470), 2 },
    };
    for (const auto &row : rows) {
        int kind = row.kindBefore;
        ZarnFormFrame frame(kind);
        EXPECT_EQ(frame.FrameGeometry(), row.geometry);
        EXPECT_EQ(kind, row.kindAfter);
    }
}

TEST_F(MeterWidgetsTest, ConvertDialogAsksWithItsButtons)
{
    CConvertDlg dialog("About to convert meter data from 3.9G to >= 4.1A  !");
    EXPECT_EQ(dialog.windowTitle(), "Convert");
    auto *prompt = dialog.findChild<QLineEdit *>("prompt");
    ASSERT_TRUE(prompt);
    EXPECT_TRUE(prompt->isReadOnly());
    EXPECT_EQ(prompt->text(), "About to convert meter data from 3.9G to >= 4.1A  !");
    QStringList labels;
    for (QPushButton *button : dialog.findChildren<QPushButton *>())
        labels.append(button->text());
    labels.sort();
    EXPECT_EQ(labels, (QStringList { "Cancel", "Convert" }));
    dialog.show();
    // The whole prompt is visible.
    EXPECT_GE(prompt->width(), prompt->fontMetrics().horizontalAdvance(prompt->text()));
    SaveShot(dialog, "convert.png");
}

// Accepts or rejects the next modal dialog once it is up.
void AnswerNextDialog(bool accept)
{
    QTimer::singleShot(0, [accept] {
        if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
            accept ? dialog->accept() : dialog->reject();
    });
}

TEST_F(MeterWidgetsTest, KelvaneTypeOpensTemplateInItsFrameAndConverts)
{
    QMdiArea area;
    area.resize(1200, 800);
    area.show();
    CDocManager manager;
    manager.SetMdiArea(&area);
    DocTypes::RegisterAll(manager);
    ASSERT_GE(manager.Templates().size(), 1u);
    EXPECT_EQ(manager.Templates().front().resourceId, 134);
    EXPECT_EQ(manager.TemplateFor("x.mtr"), 0);

    g_DocVersion = "3.9G";
    auto *doc = qobject_cast<CMeterDoc *>(manager.OpenDocumentFile("39G_Template.mtr"));
    ASSERT_TRUE(doc);
    EXPECT_EQ(manager.OpenDocumentFile("39G_Template.mtr"), doc); // brought forward, not twice
    const QList<CChildFrame *> frames = manager.FramesOf(doc);
    ASSERT_EQ(frames.size(), 1);
    auto *frame = qobject_cast<ZarnFormFrame *>(frames.front());
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->geometry(), QRect(300, 0, 762, 700));
    auto *view = qobject_cast<ZarnFormView *>(frame->View());
    ASSERT_TRUE(view);
    EXPECT_EQ(view->GetField(1039), "0.545400"); // X-Sect as the form shows it
    SaveShot(*frame, "meterview.png");

    {
        CPrefs prefs;
        prefs.SetVersion(">= 4.1A");
        g_DocVersion = prefs.GetVersion(); // as Settings puts it in force
    }
    EXPECT_TRUE(view->HandlesCommand(AppCommand::Convert));
    AnswerNextDialog(false);
    EXPECT_TRUE(view->OnCommand(AppCommand::Convert));
    EXPECT_EQ(doc->Vars()->SectionName(), "[3.9G]");
    EXPECT_FALSE(doc->IsModified());

    doc->Context().version = "3.9G"; // a read may have left another working version
    AnswerNextDialog(true);
    EXPECT_TRUE(view->OnCommand(AppCommand::Convert));
    EXPECT_EQ(doc->Vars()->SectionName(), "[4.1A]");
    EXPECT_EQ(doc->Context().version, ">= 4.1A");
    EXPECT_TRUE(doc->IsModified());
    doc->SetModifiedFlag(false);
}

} // namespace
