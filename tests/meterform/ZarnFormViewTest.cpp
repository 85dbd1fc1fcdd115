#include "meter/ZarnFormView.h"

#include "base/AppServices.h"
#include "base/CDocument.h"
#include "base/Globals.h"
#include "base/MeterSession.h"
#include "base/UserMessage.h"
#include "support/TestEnv.h"
#include "support/TestFiles.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <memory>

namespace {
struct Message
{
    QString text;
    QString caption;
};

class FormTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetGlobals();
        QDir::setCurrent(TestEnv::WorkDir());
        WriteFile(QStringLiteral("units20.dat"),
            "SCFM  Standard cubic feet per minute   101\r\n"
            "SCFH  Standard cubic feet per hour     102\r\n"
            "LB/M  Pounds per minute                103\r\n");
        WriteFile(QStringLiteral("alarms20.dat"),
            "Relay disabled     402\r\n"
            "High flow alarm    403\r\n"
            "Low flow alarm     404\r\n");
        m_oldHandler = UserMessage::SetHandler([this](const QString &text, const QString &caption) {
            m_messages.push_back({ text, caption });
        });
        m_document = std::make_unique<CDocument>();
        m_document->SetTitle(QStringLiteral("41A_Template.mtr"));
        m_form = std::make_unique<ZarnFormView>(m_document.get());
        m_form->OnInitialUpdate();
    }

    void TearDown() override
    {
        m_form.reset();
        m_document.reset();
        UserMessage::SetHandler(m_oldHandler);
        TestEnv::ReseedWorkDir();
        ResetGlobals();
    }

    QLineEdit *Edit(int id) const { return qobject_cast<QLineEdit *>(m_form->Control(id)); }
    QComboBox *Combo(int id) const { return qobject_cast<QComboBox *>(m_form->Control(id)); }
    QTreeWidget *List(int id) const { return qobject_cast<QTreeWidget *>(m_form->Control(id)); }

    // The user leaves a field: the focus goes elsewhere.
    void Leave(int id)
    {
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(m_form->Control(id), &out);
    }
    void Enter(int id)
    {
        QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
        QApplication::sendEvent(m_form->Control(id), &in);
    }
    void Type(int id, const QString &text)
    {
        Edit(id)->clear();
        QTest::keyClicks(Edit(id), text);
    }
    void FillList(int clearId, int listId, int count)
    {
        m_form->SetField(clearId, QString());
        for (int i = 0; i < count; ++i)
            m_form->SetField(listId, QStringLiteral("%1.0e+00").arg(i));
    }
    // The user clicks item index of a coefficient list.
    void Click(int listId, int index)
    {
        QTreeWidget *list = List(listId);
        Q_EMIT list->itemClicked(list->topLevelItem(index), 1);
    }
    int Current(int listId) const
    {
        QTreeWidget *list = List(listId);
        return list->indexOfTopLevelItem(list->currentItem());
    }

    std::unique_ptr<CDocument> m_document;
    std::unique_ptr<ZarnFormView> m_form;
    std::vector<Message> m_messages;
    UserMessage::Handler m_oldHandler;
};
} // namespace

TEST_F(FormTest, SetFieldTrimsAnswerText)
{
    m_form->SetField(1010, QStringLiteral("  1234 =>more text"));
    EXPECT_EQ(m_form->GetField(1010), QStringLiteral("1234"));
    m_form->SetField(1048, QStringLiteral("\r\n12345\r\n"));
    EXPECT_EQ(m_form->GetField(1048), QStringLiteral("12345"));
    // The image text is kept whole: blanks separate its bytes.
    m_form->SetField(1051, QStringLiteral("AA 02 1F "));
    EXPECT_EQ(m_form->GetField(1051), QStringLiteral("AA 02 1F "));
}

TEST_F(FormTest, IdsOutsideTheFormGiveNothing)
{
    for (int id : { -1, 0, 1003, 1116, 2000 }) {
        m_form->SetField(id, QStringLiteral("7"));
        EXPECT_TRUE(m_form->GetField(id).isEmpty()) << id;
    }
    EXPECT_EQ(m_form->GetField(1040), QStringLiteral("Read Active"));
}

TEST_F(FormTest, CoefficientListsAreWalkedByGetField)
{
    FillList(1052, 1047, 10);
    EXPECT_TRUE(m_form->GetField(1052).isEmpty());
    EXPECT_EQ(m_form->GetField(1047), QStringLiteral("0.0e+00"));
    EXPECT_EQ(m_form->GetField(1047), QStringLiteral("1.0e+00"));
    EXPECT_EQ(m_form->GetField(1047), QStringLiteral("2.0e+00"));
    // One position serves all three lists; resetting through any label starts over.
    FillList(1064, 1061, 21);
    EXPECT_TRUE(m_form->GetField(1064).isEmpty());
    EXPECT_EQ(m_form->GetField(1061), QStringLiteral("0.0e+00"));
    EXPECT_EQ(m_form->GetField(1047), QStringLiteral("1.0e+00"));
    // Past the end of a list the walk gives empty texts.
    m_form->GetField(1052);
    for (int i = 0; i < 10; ++i)
        m_form->GetField(1047);
    EXPECT_TRUE(m_form->GetField(1047).isEmpty());
    EXPECT_EQ(List(1061)->topLevelItem(20)->text(0), QStringLiteral("@100%="));
}

TEST_F(FormTest, ChoiceListsBySelectionCode)
{
    m_form->SetField(1004, QStringLiteral("SCFH"));
    EXPECT_EQ(m_form->GetField(1004), QStringLiteral(" 102"));
    m_form->SetField(1007, QStringLiteral("404"));
    EXPECT_EQ(m_form->GetField(1007), QStringLiteral(" 404"));
    m_form->SetField(1007, QStringLiteral("499"));
    EXPECT_EQ(Combo(1007)->currentIndex(), -1);
    EXPECT_TRUE(m_form->GetField(1007).isEmpty());

    m_form->SetField(1005, QStringLiteral("2"));
    EXPECT_EQ(Combo(1005)->currentIndex(), 2);
    EXPECT_EQ(m_form->GetField(1005), QStringLiteral("Primary and Secondary Coefficients"));
    m_form->SetField(1005, QStringLiteral("9"));
    EXPECT_EQ(Combo(1005)->currentIndex(), 2);

    m_form->SetField(1115, QStringLiteral("3"));
    EXPECT_EQ(m_form->GetField(1115), QStringLiteral("3"));
    m_form->SetField(1115, QStringLiteral("N"));
    EXPECT_TRUE(m_form->GetField(1115).isEmpty());
    m_form->SetField(1020, QStringLiteral("3"));
    EXPECT_EQ(m_form->GetField(1020), QStringLiteral("2"));
}

TEST_F(FormTest, BooleansAndSliders)
{
    const int boxes[] = { 1032, 1033, 1034, 1056, 1065 };
    for (int id : boxes) {
        m_form->SetField(id, QStringLiteral("TRUE"));
        EXPECT_EQ(m_form->GetField(id), QStringLiteral("TRUE")) << id;
        m_form->SetField(id, QStringLiteral("true"));
        EXPECT_EQ(m_form->GetField(id), QStringLiteral("FALSE")) << id;
    }
    EXPECT_EQ(m_form->GetField(1029), QStringLiteral("128"));
    EXPECT_EQ(m_form->GetField(1030), QStringLiteral("8"));
    m_form->SetField(1029, QStringLiteral("200 ="));
    m_form->SetField(1030, QStringLiteral("500"));
    EXPECT_EQ(m_form->GetField(1029), QStringLiteral("200"));
    // A slider gives back the value it was given, even beyond its range, until the user moves
    // it; then its position counts.
    EXPECT_EQ(m_form->GetField(1030), QStringLiteral("500"));
    auto *refresh = qobject_cast<QAbstractSlider *>(m_form->Control(1030));
    ASSERT_NE(refresh, nullptr);
    EXPECT_EQ(refresh->value(), 100);
    m_form->SetField(1030, QStringLiteral("0"));
    EXPECT_EQ(m_form->GetField(1030), QStringLiteral("0"));
    refresh->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(m_form->GetField(1030), QStringLiteral("2"));
    // The spins are reached through their edits.
    m_form->SetField(1022, QStringLiteral("12"));
    EXPECT_EQ(Edit(1021)->text(), QStringLiteral("12"));
    EXPECT_EQ(m_form->GetField(1022), QStringLiteral("12"));
}

TEST_F(FormTest, VersionAndRevisionFromTheMeter)
{
    m_form->SetField(1049, QStringLiteral("4.0B =>"));
    m_form->SetField(1084, QStringLiteral("E"));
    EXPECT_EQ(m_form->GetField(1049), QStringLiteral("4.0B"));
    EXPECT_EQ(m_form->GetField(1084), QStringLiteral("E"));
    // The clock keeps them while the terminal has not heard the meter.
    m_form->TimerTick(ZarnFormView::kClockTimer);
    EXPECT_EQ(m_form->GetField(1049), QStringLiteral("4.0B"));
    EXPECT_EQ(m_form->GetField(1084), QStringLiteral("E"));
    AppServices::Meter().SetVersion(QStringLiteral("4.1A"));
    AppServices::Meter().SetRevision(QStringLiteral("B"));
    // The labels follow the meter as it is told, without waiting for the clock.
    EXPECT_EQ(qobject_cast<QLabel *>(m_form->Control(1049))->text(), QStringLiteral("4.1A"));
    EXPECT_EQ(qobject_cast<QLabel *>(m_form->Control(1084))->text(), QStringLiteral("B"));
    m_form->TimerTick(ZarnFormView::kClockTimer);
    EXPECT_EQ(m_form->GetField(1049), QStringLiteral("4.1A"));
    EXPECT_EQ(m_form->GetField(1084), QStringLiteral("B"));
}

TEST_F(FormTest, LimitsWhenFieldsAreLeft)
{
    const struct
    {
        int id;
        const char *typed;
        const char *shown;
    } cases[] = {
        { 1014, "300", "255" },
        { 1016, "12", "12" },
        { 1012, "500000000", "400000000" },
        { 1027, "250", "200" },
        { 1023, "64", "63" },
        { 1021, "130", "127" },
    };
    for (const auto &c : cases) {
        Type(c.id, QString::fromLatin1(c.typed));
        EXPECT_EQ(m_form->EditField(), 4) << c.id;
        Leave(c.id);
        EXPECT_EQ(Edit(c.id)->text(), QString::fromLatin1(c.shown)) << c.id;
        EXPECT_EQ(m_form->EditField(), 0) << c.id;
    }
}

TEST_F(FormTest, ZeroOffsetBoundedOnEveryChange)
{
    m_form->SetField(1037, QStringLiteral("7.5"));
    EXPECT_EQ(m_form->GetField(1037), QStringLiteral("5.00000"));
    Type(1037, QStringLiteral("-6"));
    EXPECT_EQ(Edit(1037)->text(), QStringLiteral("-5.00000"));
    Type(1037, QStringLiteral("3.25"));
    EXPECT_EQ(Edit(1037)->text(), QStringLiteral("3.25"));
}

TEST_F(FormTest, CurveFitSnapsBackOnEarlyVersions)
{
    m_form->Context().version = QStringLiteral("4.0x");
    QComboBox *choice = Combo(1005);
    choice->setCurrentIndex(2);
    Q_EMIT choice->activated(2);
    EXPECT_EQ(choice->currentText(), QStringLiteral("Primary Coefficients Only"));
    EXPECT_EQ(choice->currentIndex(), 1);

    m_form->Context().version = QStringLiteral(">= 4.1A");
    choice->setCurrentIndex(3);
    Q_EMIT choice->activated(3);
    EXPECT_EQ(choice->currentIndex(), 3);
    EXPECT_EQ(choice->currentIndex(), 3);
    choice->setCurrentIndex(0);
    Q_EMIT choice->activated(0);
    EXPECT_EQ(choice->currentIndex(), 0);
}

// Each form keeps its own edit code: leaving a field on another form does not end the
// coefficient editing on this one.
TEST_F(FormTest, EditCodeBelongsToItsForm)
{
    m_form->Context().version = QStringLiteral(">= 4.1A");
    FillList(1052, 1047, 10);
    Click(1047, 2);
    ASSERT_EQ(m_form->EditField(), 1);
    CDocument otherDocument;
    ZarnFormView other(&otherDocument);
    other.OnInitialUpdate();
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(other.Control(1012), &out);
    EXPECT_EQ(other.EditField(), 0);
    EXPECT_EQ(m_form->EditField(), 1);
    EXPECT_TRUE(m_form->OnCommand(AppCommand::Down)); // still walks its list
}

TEST_F(FormTest, CoefficientEditedInPlace)
{
    m_form->Context().version = QStringLiteral(">= 4.1A");
    FillList(1052, 1047, 10);
    Click(1047, 2);
    EXPECT_EQ(m_form->EditField(), 1);
    EXPECT_EQ(m_form->GetField(1052 - 1 + 1), QString()); // the label id resets the walk only
    EXPECT_EQ(qobject_cast<QLabel *>(m_form->Control(1052))->text(), QStringLiteral("C="));
    EXPECT_EQ(Edit(1051)->text(), QStringLiteral("2.0e+00"));
    Edit(1051)->setText(QStringLiteral("4.5e-01"));
    EXPECT_TRUE(m_form->OnCommand(AppCommand::Enter));
    EXPECT_EQ(List(1047)->topLevelItem(2)->text(1), QStringLiteral("4.5e-01"));
    // The walk moved on to D= with its value loaded.
    EXPECT_EQ(Current(1047), 3);
    EXPECT_EQ(qobject_cast<QLabel *>(m_form->Control(1052))->text(), QStringLiteral("D="));
    EXPECT_EQ(Edit(1051)->text(), QStringLiteral("3.0e+00"));
    // The image text is another thing than the edit.
    m_form->SetField(1051, QStringLiteral("AA "));
    EXPECT_EQ(m_form->GetField(1051), QStringLiteral("AA "));
    m_form->GetField(1052);
    m_form->GetField(1047);
    m_form->GetField(1047);
    EXPECT_EQ(m_form->GetField(1047), QStringLiteral("4.5e-01"));
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(FormTest, PointWiseWalk)
{
    m_form->Context().version = QStringLiteral(">= 4.1A");
    FillList(1064, 1061, 21);
    // The 0 % point is never edited.
    Click(1061, 0);
    EXPECT_EQ(Current(1061), 1);
    EXPECT_EQ(m_form->EditField(), 3);
    Click(1061, 20);
    EXPECT_EQ(qobject_cast<QLabel *>(m_form->Control(1064))->text(), QStringLiteral("@100%="));
    EXPECT_TRUE(m_form->OnCommand(AppCommand::Down));
    EXPECT_EQ(Current(1061), 1);
    EXPECT_EQ(qobject_cast<QLabel *>(m_form->Control(1064))->text(), QStringLiteral("@5%="));
    EXPECT_EQ(Edit(1062)->text(), QStringLiteral("1.0e+00"));
    // Up stops at 5 %.
    EXPECT_TRUE(m_form->OnCommand(AppCommand::Up));
    EXPECT_EQ(Current(1061), 1);
    m_form->OnCommand(AppCommand::Down);
    m_form->OnCommand(AppCommand::Down);
    EXPECT_EQ(Current(1061), 3);
    // Moving back onto 5 % loads its own value, so Enter cannot copy 10 % onto it.
    m_form->OnCommand(AppCommand::Up);
    m_form->OnCommand(AppCommand::Up);
    EXPECT_EQ(Current(1061), 1);
    EXPECT_EQ(Edit(1062)->text(), QStringLiteral("1.0e+00"));
    EXPECT_EQ(qobject_cast<QLabel *>(m_form->Control(1064))->text(), QStringLiteral("@5%="));
}

TEST_F(FormTest, SecondaryListRefusedOnEarlyVersions)
{
    m_form->Context().version = QStringLiteral("3.9G");
    FillList(1063, 1057, 10);
    Click(1057, 4);
    EXPECT_EQ(m_form->EditField(), 2);
    Edit(1060)->setText(QStringLiteral("9.9"));
    m_form->OnCommand(AppCommand::Enter);
    EXPECT_EQ(List(1057)->topLevelItem(4)->text(1), QStringLiteral("4.0e+00"));
    EXPECT_TRUE(Edit(1060)->text().isEmpty());
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].caption, QStringLiteral("               Field Not Supported"));
    EXPECT_EQ(
        m_messages[0].text, QStringLiteral("This Field Is Not Supported For Selected Version "));
}

TEST_F(FormTest, ParameterRingFollowsEnterAndArrows)
{
    Enter(1039); // X-Sect
    EXPECT_EQ(m_form->EditField(), 7);
    m_form->OnCommand(AppCommand::Enter);
    EXPECT_EQ(m_form->EditField(), 8);
    m_form->OnCommand(AppCommand::Down);
    m_form->OnCommand(AppCommand::Down);
    EXPECT_EQ(m_form->EditField(), 10);
    m_form->OnCommand(AppCommand::Enter);
    EXPECT_EQ(m_form->EditField(), 5); // after Zero Offset comes Full Scale
    m_form->OnCommand(AppCommand::Up);
    EXPECT_EQ(m_form->EditField(), 10);
    Enter(1037);
    EXPECT_EQ(m_form->EditField(), 10);
    // Up and Down are not taken when no list or ring field is being edited.
    m_form->SetEditField(4);
    EXPECT_FALSE(m_form->OnCommand(AppCommand::Down));
}

TEST_F(FormTest, VersionRuleForReadOnlyFields)
{
    const int alwaysReadOnly[] = { 1066, 1069, 1070 };
    const struct
    {
        const char *version;
        bool extended;
    } cases[] = { { "3.9G", false }, { "4.0x", false }, { ">= 4.1A", true }, { "4.1A", true } };
    for (const auto &c : cases) {
        m_form->Context().version = QString::fromLatin1(c.version);
        m_form->TimerTick(ZarnFormView::kClockTimer);
        for (int id : alwaysReadOnly)
            EXPECT_TRUE(Edit(id)->isReadOnly()) << c.version << " " << id;
        for (int id : { 1068, 1060, 1062 })
            EXPECT_EQ(Edit(id)->isReadOnly(), !c.extended) << c.version << " " << id;
        for (int id : { 1033, 1034 })
            EXPECT_EQ(m_form->Control(id)->isHidden(), !c.extended) << c.version << " " << id;
    }
    EXPECT_EQ(qobject_cast<QLabel *>(m_form->Control(1067))->text(), QStringLiteral(">= 4.1A"));
    EXPECT_EQ(m_form->Context().version, QStringLiteral(">= 4.1A"));
}

TEST_F(FormTest, ClockShowsTimeDateAndCalibration)
{
    m_form->TimerTick(ZarnFormView::kClockTimer);
    const QString time = m_form->GetField(1044);
    EXPECT_TRUE(time.endsWith(QLatin1String("AM")) || time.endsWith(QLatin1String("PM")))
        << qPrintable(time);
    EXPECT_EQ(m_form->GetField(1043).size(), 8);
    // The calibration date stays fixed until its box is ticked.
    m_form->SetField(1054, QStringLiteral("10/12/99"));
    m_form->TimerTick(ZarnFormView::kClockTimer);
    EXPECT_EQ(m_form->GetField(1054), QStringLiteral("10/12/99"));
    qobject_cast<QCheckBox *>(m_form->Control(1055))->click();
    EXPECT_EQ(
        m_form->GetField(1054), ZarnFormRules::DateText(QDate::currentDate().addDays(365), false));
    qobject_cast<QAbstractButton *>(m_form->Control(1059))->click();
    EXPECT_EQ(m_form->GetField(1044).size(), 8);
    qobject_cast<QAbstractButton *>(m_form->Control(1058))->click();
    EXPECT_EQ(m_form->GetField(1043).at(2), QLatin1Char('.'));
}

// Only a change's own end takes the Desired range: the clock shows the range the meter told.
TEST_F(FormTest, ClockLeavesTheRangeToTheChange)
{
    m_form->SetField(1115, QStringLiteral("3"));
    AppServices::Meter().SetRange(QStringLiteral("1"));
    m_form->TimerTick(ZarnFormView::kClockTimer);
    EXPECT_EQ(AppServices::Meter().Range(), QStringLiteral("1"));
    EXPECT_EQ(m_form->GetField(1114), QStringLiteral("1"));
}

TEST_F(FormTest, ActiveRangeComesFromTheMeter)
{
    m_form->TimerTick(ZarnFormView::kClockTimer);
    EXPECT_EQ(m_form->GetField(1114), QStringLiteral("?"));
    // A file's range is no news of the meter's.
    m_form->SetField(1115, QStringLiteral("2"));
    m_form->TimerTick(ZarnFormView::kClockTimer);
    EXPECT_EQ(m_form->GetField(1114), QStringLiteral("?"));
    // The meter's word reaches the form as it is told, without waiting for the clock.
    AppServices::Meter().SetRange(QStringLiteral("4"));
    EXPECT_EQ(m_form->GetField(1114), QStringLiteral("4"));
}

// The form must fit the meter-form frame on a 1366 x 768 screen without clipped captions.
TEST_F(FormTest, FitsItsFrameWithoutClipping)
{
    QMdiArea area;
    area.resize(1366, 700);
    auto document = std::make_unique<CDocument>();
    auto *form = new ZarnFormView(document.get());
    QMdiSubWindow *frame = area.addSubWindow(form);
    frame->setGeometry(300, 0, 820, 700);
    area.show();
    form->OnInitialUpdate();
    // A full form, as after a read.
    for (int i = 0; i < 10; ++i) {
        form->SetField(1047, QStringLiteral("-1.23456789e+00"));
        form->SetField(1057, QStringLiteral("9.87654321e-01"));
    }
    for (int i = 0; i < 21; ++i)
        form->SetField(1061, QStringLiteral("-1.50000000e+01"));
    form->SetField(1048, QStringLiteral("1234567"));
    form->SetField(1054, QStringLiteral("10/12/99"));
    form->SetField(1010, QStringLiteral("400000000"));
    form->SetField(1018, QStringLiteral("123456.123456"));
    form->SetField(1049, QStringLiteral("4.1A"));
    form->SetField(1084, QStringLiteral("A"));
    form->Context().version = QStringLiteral("4.1A");
    AppServices::Meter().SetRange(QStringLiteral("2"));
    form->TimerTick(ZarnFormView::kClockTimer);
    QApplication::processEvents();
    EXPECT_LE(form->minimumSizeHint().width(), form->width());
    EXPECT_LE(form->minimumSizeHint().height(), form->height());
    for (QWidget *child : form->findChildren<QWidget *>()) {
        if (!child->isVisible())
            continue;
        const QString name = child->objectName();
        if (auto *label = qobject_cast<QLabel *>(child)) {
            EXPECT_GE(label->width(), label->sizeHint().width()) << qPrintable(label->text());
        }
        auto *button = qobject_cast<QAbstractButton *>(child);
        if (button && !button->text().isEmpty()) {
            EXPECT_GE(button->width(), button->sizeHint().width()) << qPrintable(button->text());
        }
        if (auto *group = qobject_cast<QGroupBox *>(child)) {
            EXPECT_GE(group->width(), group->minimumSizeHint().width())
                << qPrintable(group->title());
        }
        // Nothing sticks out of the form.
        const QRect inForm(child->mapTo(form, QPoint(0, 0)), child->size());
        EXPECT_TRUE(form->rect().contains(inForm)) << qPrintable(name);
    }
    const QString shot = qEnvironmentVariable("TARVIK_FORM_SHOT");
    if (!shot.isEmpty())
        frame->grab().save(shot);
}
