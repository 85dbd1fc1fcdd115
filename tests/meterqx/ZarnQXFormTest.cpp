// The Quixal form as a user and a command list meet it: its own window on a Quixal document,
// driven through SetField/GetField, typed keys, focus changes and the clock handler.
#include "meterqx/ZarnQXFormView.h"

#include "audit/AuditSettings.h"
#include "base/AppServices.h"
#include "base/Globals.h"
#include "base/MeterSession.h"
#include "base/UserMessage.h"
#include "meter/MeterVars.h"
#include "meterqx/QXFieldIds.h"
#include "meterqx/QXMeterDoc.h"
#include "meterqx/ZarnQXFormFrame.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

using namespace QXFieldId;

class QXFormTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetGlobals();
        // The sends here are the list alone, without the reads around it.
        AuditSettings::SetCompareBeforeSend(false);
        AuditSettings::SetReadBackAfterSend(false);
        QDir::setCurrent(TestEnv::WorkDir());
        m_oldHandler = UserMessage::SetHandler(
            [this](const QString &text, const QString &) { m_messages.append(text); });
        m_doc = std::make_unique<QXMeterDoc>(QStringLiteral("1.4A"));
        ASSERT_TRUE(m_doc->OnOpenDocument(QStringLiteral("Quixal.qxm")));
        m_doc->SetTitle(QStringLiteral("Quixal.qxm"));
        m_form = std::make_unique<ZarnQXFormView>(m_doc.get());
        m_form->resize(ZarnQXFormFrame::kFormGeometry.size() - QSize(10, 30));
        m_form->show();
        m_form->OnInitialUpdate();
    }
    void TearDown() override
    {
        m_form.reset();
        m_doc.reset();
        UserMessage::SetHandler(m_oldHandler);
        TestEnv::ReseedWorkDir();
        ResetGlobals();
    }

    QLineEdit *Edit(int id) const { return qobject_cast<QLineEdit *>(m_form->Control(id)); }
    QTreeWidget *Coefficients() const
    {
        return qobject_cast<QTreeWidget *>(m_form->Control(PrimaryList));
    }
    int Current() const
    {
        return Coefficients()->indexOfTopLevelItem(Coefficients()->currentItem());
    }
    void Focus(int id, QEvent::Type type)
    {
        QFocusEvent event(type, Qt::TabFocusReason);
        QApplication::sendEvent(m_form->Control(id), &event);
    }
    void Key(QWidget *target, Qt::Key key) { QTest::keyClick(target, key); }

    std::unique_ptr<QXMeterDoc> m_doc;
    std::unique_ptr<ZarnQXFormView> m_form;
    QStringList m_messages;
    UserMessage::Handler m_oldHandler;
};

TEST_F(QXFormTest, OpensShowingTheDocumentInEveryGroup)
{
    // The template's values, through the real controls.
    const struct
    {
        int id;
        const char *text;
    } shown[] = {
        { Units, " 101" },
        { Output, "0" },
        { Polarity, "0" },
        { PulseWidth, "100" },
        { AdcFilter, "10" },
        { DacFilter, "10" },
        { DacRefresh, "10" },
        { DisplayRefresh, "8" },
        { ModbusAddr, "1" },
        { CalibrationDue, "01/01/27" },
        { CFactor, "1.000000" },
        { ZeroCutoff, "1.00" },
        { SerialNumber, "0" },
        { UpPcba, "1" },
        { Watchdog, "1" },
        { RelayOffFunction, " 402" },
        { RelayOffDelay, "5" },
        { HoldFlow, "FALSE" },
    };
    for (const auto &row : shown)
        EXPECT_EQ(m_form->GetField(row.id), QLatin1String(row.text)) << row.id;
    EXPECT_EQ(Coefficients()->topLevelItemCount(), 10);
    EXPECT_EQ(Coefficients()->topLevelItem(9)->text(0), QStringLiteral("J="));
    EXPECT_TRUE(Edit(SerialNumber)->isReadOnly());
    EXPECT_TRUE(Edit(UpPcba)->isReadOnly());
    EXPECT_FALSE(m_form->Control(NoDisplay)->isEnabled());
    EXPECT_TRUE(m_form->IsTimerActive(ZarnFormBase::kClockTimer));
    EXPECT_EQ(m_form->CoefficientLabel()->text(), QStringLiteral(" ="));
    // Every control fits the form at the frame's size.
    EXPECT_LE(m_form->minimumSizeHint().width(), m_form->width());
    EXPECT_LE(m_form->minimumSizeHint().height(), m_form->height());
    const QString shot = qEnvironmentVariable("TARVIK_QX_FORM_SHOT");
    if (!shot.isEmpty())
        m_form->grab().save(shot);

    // Unedited, the form collects exactly what it showed.
    const QString image = m_doc->ImageToText();
    m_form->OnCommand(AppCommand::Enter);
    m_doc->FormToVars(*m_form);
    EXPECT_EQ(m_doc->ImageToText(), image);
}

TEST_F(QXFormTest, FieldRulesThroughTheWindow)
{
    m_form->SetField(Password, QStringLiteral("4321 =>\x1b[A"));
    EXPECT_EQ(Edit(Password)->text(), QStringLiteral("4321"));
    m_form->SetField(ImageText, QStringLiteral("4321 =>\x1b[A"));
    EXPECT_EQ(m_form->GetField(ImageText), QStringLiteral("4321 =>\x1b[A"));

    m_form->GetField(PrimaryReset);
    for (int i = 0; i < 10; ++i)
        EXPECT_FALSE(m_form->GetField(PrimaryList).isEmpty()) << i;
    EXPECT_EQ(m_form->GetField(PrimaryList), QString()) << "the eleventh is past the end";

    m_form->SetField(Output, QStringLiteral("Temp/Temp"));
    EXPECT_EQ(qobject_cast<QComboBox *>(m_form->Control(Output))->currentIndex(), 3);
    m_form->SetField(HoldFlow, QStringLiteral("TRUE"));
    EXPECT_TRUE(qobject_cast<QCheckBox *>(m_form->Control(HoldFlow))->isChecked());
    m_form->SetField(RelayOnFunction, QStringLiteral("406"));
    EXPECT_EQ(qobject_cast<QComboBox *>(m_form->Control(RelayOnFunction))->currentIndex(), 4);

    // The version answer of a read rebuilds the table; the next tick names the template.
    m_form->SetField(MeterVersion, QStringLiteral("1.2B"));
    EXPECT_EQ(m_doc->Vars()->SectionName(), QStringLiteral("[4.1A]"));
    EXPECT_EQ(m_doc->Context().version, QStringLiteral(">= 4.1A"));
    EXPECT_EQ(m_form->GetField(MeterVersion), QStringLiteral("1.2B"));
    m_form->TimerTick(ZarnFormBase::kClockTimer);
    EXPECT_EQ(
        qobject_cast<QLabel *>(m_form->Control(TemplateVersion))->text(), QStringLiteral("1.4A"));
    EXPECT_EQ(m_doc->Context().version, QStringLiteral("1.4A"));
    EXPECT_EQ(
        qobject_cast<QLabel *>(m_form->Control(MeterVersion))->text(), QStringLiteral("1.2B"));
    // The terminal's word of a Quixal meter reaches the label as it is told, without the clock;
    // a Kelvane meter's does not.
    for (const char *told : { "4.1A", "1.3A" }) {
        AppServices::Meter().SetVersion(QLatin1String(told));
        EXPECT_EQ(qobject_cast<QLabel *>(m_form->Control(MeterVersion))->text(),
            QLatin1String(*told == '4' ? "1.2B" : "1.3A"));
    }
    AppServices::Meter().SetVersion(QString());

    // Over-long texts in the fields the user cannot change are what the meter sent: every
    // collection takes them as they are, without a message the user could do nothing about
    // (a read says it once).
    m_form->SetField(SerialNumber, QStringLiteral("123456789"));
    m_messages.clear();
    m_form->GetField(Password);
    EXPECT_EQ(m_messages.size(), 0);
    EXPECT_EQ(m_form->GetField(SerialNumber), QStringLiteral("123456789"));
    m_form->SetField(SerialNumber, QStringLiteral("12345678"));
    m_form->SetField(MeterVersion, QStringLiteral("1.4A-LONGER"));
    m_messages.clear();
    m_form->GetField(Password);
    EXPECT_EQ(m_messages.size(), 0);
    EXPECT_EQ(m_form->GetField(MeterVersion), QStringLiteral("1.4A-LONGER"));

    // A text the user typed past its limit: a list's line collecting the form (through
    // IFieldAccess, during its dialogue) leaves it out without a message and takes the rest;
    // Save, started by the user, says it and saves nothing.
    Edit(SerialNumber)->setReadOnly(false);
    Edit(SerialNumber)->setText(QStringLiteral("123456789"));
    Edit(ZeroCutoff)->setText(QStringLiteral("2.50"));
    m_messages.clear();
    IFieldAccess &list = *m_form;
    EXPECT_EQ(list.GetField(SerialNumber), QStringLiteral("12345678"));
    EXPECT_EQ(list.GetField(ZeroCutoff), QStringLiteral("2.50"));
    EXPECT_TRUE(m_messages.isEmpty()) << m_messages.join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(m_form->Save());
    EXPECT_EQ(m_messages, QStringList { QStringLiteral("Enter no more than 8 characters.") });
}

TEST_F(QXFormTest, TypingLeavingAndTheKeys)
{
    // Zero Offset is limited as the user types, not when the program sets it.
    Edit(ZeroOffset)->clear();
    QTest::keyClicks(Edit(ZeroOffset), QStringLiteral("7"));
    EXPECT_EQ(Edit(ZeroOffset)->text(), QStringLiteral("5.00000"));
    EXPECT_EQ(m_form->EditField(), 4);
    m_form->SetField(ZeroOffset, QStringLiteral("-9"));
    EXPECT_EQ(Edit(ZeroOffset)->text(), QStringLiteral("-9"));

    const struct
    {
        int id;
        const char *typed;
        const char *left;
    } limits[] = { { DisplayRefresh, "300", "200" }, { DisplayRefresh, "3", "8" },
        { DisplayRefresh, "150", "150" }, { DacRefresh, "64", "63" }, { DacFilter, "128", "127" },
        { DacFilter, "abc", "abc" } };
    for (const auto &row : limits) {
        Edit(row.id)->setText(QLatin1String(row.typed));
        Focus(row.id, QEvent::FocusOut);
        EXPECT_EQ(Edit(row.id)->text(), QLatin1String(row.left)) << row.id << row.typed;
    }

    // The coefficient list: a line opens in the edit box; Down on the last line goes to A.
    Q_EMIT Coefficients()->itemClicked(Coefficients()->topLevelItem(9), 1);
    EXPECT_EQ(m_form->EditField(), 1);
    EXPECT_EQ(m_form->CoefficientLabel()->text(), QStringLiteral("J="));
    Key(m_form->CoefficientEdit(), Qt::Key_Down);
    EXPECT_EQ(Current(), 0);
    EXPECT_EQ(m_form->CoefficientLabel()->text(), QStringLiteral("A="));
    Key(m_form->CoefficientEdit(), Qt::Key_Up);
    EXPECT_EQ(Current(), 0) << "Up on the first line stays";
    // Enter stores the edit box in the line and opens the next one.
    m_form->CoefficientEdit()->setText(QStringLiteral("1.5e+00"));
    Key(m_form->CoefficientEdit(), Qt::Key_Return);
    EXPECT_EQ(Coefficients()->topLevelItem(0)->text(1), QStringLiteral("1.5e+00"));
    EXPECT_EQ(Current(), 1);
    EXPECT_EQ(m_form->CoefficientLabel()->text(), QStringLiteral("B="));
    m_doc->FormToVars(*m_form);
    EXPECT_FLOAT_EQ(m_doc->Vars()->Float(QStringLiteral("coeff[0]")), 1.5f);

    // The column of number fields: Full Scale down to C Factor, Zero Cutoff up to Max Range.
    Focus(FullScale, QEvent::FocusIn);
    EXPECT_EQ(m_form->EditField(), 5);
    m_form->OnCommand(AppCommand::Down);
    EXPECT_EQ(m_form->EditField(), 6);
    Focus(ZeroCutoff, QEvent::FocusIn);
    m_form->OnCommand(AppCommand::Up);
    EXPECT_EQ(m_form->EditField(), 8);
    m_form->OnCommand(AppCommand::Enter);
    EXPECT_EQ(m_form->EditField(), 9);
}

// A typed number field keeps only a text that is all one usable number; Save and Send check a
// field still being typed into, and then store and send nothing.
TEST_F(QXFormTest, TypedNumbersAreCheckedWhenLeftAndBeforeSaveAndSend)
{
    const auto typeInto = [this](int id, const char *text) {
        Focus(id, QEvent::FocusIn);
        const QString before = Edit(id)->text();
        Edit(id)->setText(QLatin1String(text));
        Q_EMIT Edit(id)->textEdited(Edit(id)->text());
        return before;
    };
    const struct
    {
        int id;
        const char *typed;
        const char *said; // empty: the text stands
    } rows[] = {
        { XSect, "abc", "X-Sect accepts a decimal number" },
        { CFactor, "1,5", "Use a point as the decimal separator" },
        { FullScale, "inf", "Full Scale accepts" },
        { FullScale, "1e39", "Full Scale accepts" }, // beyond a float: would be stored as inf
        { CFactor, "-3.5e38", "C Factor accepts" },
        { ModbusAddr, "128", "Modbus Addr accepts a whole number from 0 to 127" },
        { AdcFilter, "300", "ADC Filter accepts a whole number from 0 to 255" },
        { ModbusAddr, "3.5", "Modbus Addr accepts a whole number" },
        { DacFilter, "12", "" },
        { FullScale, "120.5", "" },
    };
    for (const auto &row : rows) {
        const QString before = typeInto(row.id, row.typed);
        m_messages.clear();
        Focus(row.id, QEvent::FocusOut);
        const bool refused = std::strlen(row.said) > 0;
        EXPECT_EQ(Edit(row.id)->text(), refused ? before : QLatin1String(row.typed)) << row.typed;
        EXPECT_EQ(m_messages.size(), refused ? 1 : 0) << row.typed;
        if (refused) {
            EXPECT_TRUE(m_messages.value(0).contains(QLatin1String(row.said))) << row.typed;
        }
    }

    const float fullScale = m_doc->Vars()->Float(QStringLiteral("meter_s"));
    const QString target = QDir::current().filePath(QStringLiteral("qx-typed.qxm"));
    const auto oldPrompt
        = ZarnQXFormView::SetSaveAsPrompt([&](QWidget *, const QString &) { return target; });
    typeInto(FullScale, "abc");
    m_messages.clear();
    EXPECT_FALSE(m_form->Save());
    EXPECT_FALSE(QFile::exists(target));
    typeInto(FullScale, "abc");
    m_form->OnSend();
    ZarnQXFormView::SetSaveAsPrompt(oldPrompt);
    ASSERT_EQ(m_messages.size(), 2);
    EXPECT_TRUE(m_messages.value(1).startsWith(QLatin1String("Full Scale:")));
    EXPECT_EQ(m_doc->Vars()->Float(QStringLiteral("meter_s")), fullScale);
}

TEST_F(QXFormTest, UnitsPickedReexpressTheRanges)
{
    auto *units = qobject_cast<QComboBox *>(m_form->Control(Units));
    const QString before = Edit(MaxRange)->text();
    units->setCurrentIndex(1);
    Q_EMIT units->activated(1); // SCFH: 60 times SCFM
    EXPECT_EQ(m_doc->Context().units, 1);
    EXPECT_NEAR(Edit(MaxRange)->text().toDouble(), before.toDouble() * 60, 0.01);
    m_doc->FormToVars(*m_form);
    EXPECT_FLOAT_EQ(m_doc->Vars()->Float(QStringLiteral("meter_k")), 6000.0f);
    EXPECT_EQ(m_doc->Vars()->Value(QStringLiteral("flow_func"), 1), 1u);
}

TEST_F(QXFormTest, FrameSizeFollowsTheWindowKind)
{
    ZarnFormFrame::ResetSmallFrameCount();
    int kind = 1;
    ZarnQXFormFrame normal(kind);
    EXPECT_EQ(normal.FrameGeometry(), QRect(300, 0, 590, 540));
    EXPECT_EQ(kind, 5);
    kind = 2;
    ZarnQXFormFrame small1(kind), small2(kind);
    EXPECT_EQ(small1.FrameGeometry(), QRect(0, 0, 545, 425));
    EXPECT_EQ(kind, 2);
    ZarnQXFormFrame small3(kind);
    EXPECT_EQ(small3.FrameGeometry(), QRect(0, 0, 545, 425));
    EXPECT_EQ(kind, 1);
}

} // namespace
