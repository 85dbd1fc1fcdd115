// What both meter forms promise through their shared base, checked once per series: the
// coefficient list's edit and walk, and a datasheet that prints what the fields show, typed
// text not yet left included.
#include "base/CDocument.h"
#include "base/Globals.h"
#include "base/UserMessage.h"
#include "meter/FieldIds.h"
#include "meter/ZarnFormView.h"
#include "meterqx/QXFieldIds.h"
#include "meterqx/QXMeterDoc.h"
#include "meterqx/ZarnQXFormView.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <memory>

namespace {

enum class Series { Kelvane, Quixal };

class FormContract : public ::testing::TestWithParam<Series>
{
protected:
    void SetUp() override
    {
        ResetGlobals();
        QDir::setCurrent(TestEnv::WorkDir());
        m_oldHandler = UserMessage::SetHandler(
            [this](const QString &text, const QString &) { m_messages.append(text); });
        if (GetParam() == Series::Kelvane) {
            m_doc = std::make_unique<CDocument>();
            m_doc->SetTitle(QStringLiteral("41A_Template.mtr"));
            auto form = std::make_unique<ZarnFormView>(m_doc.get());
            form->Context().version = QStringLiteral(">= 4.1A");
            m_kelvane = form.get();
            m_form = std::move(form);
        } else {
            auto doc = std::make_unique<QXMeterDoc>(QStringLiteral("1.4A"));
            ASSERT_TRUE(doc->OnOpenDocument(QStringLiteral("Quixal.qxm")));
            m_doc = std::move(doc);
            auto form = std::make_unique<ZarnQXFormView>(m_doc.get());
            m_quixal = form.get();
            m_form = std::move(form);
        }
        m_form->OnInitialUpdate();
        if (m_kelvane) { // ten primary coefficients; a Quixal document always holds its ten
            m_form->SetField(FieldId::PrimaryReset, QString());
            for (int i = 0; i < 10; ++i)
                m_form->SetField(FieldId::PrimaryList, QStringLiteral("%1.0e+00").arg(i));
        }
    }
    void TearDown() override
    {
        m_form.reset();
        m_doc.reset();
        UserMessage::SetHandler(m_oldHandler);
        TestEnv::ReseedWorkDir();
        ResetGlobals();
    }

    QTreeWidget *Primary() const
    {
        return qobject_cast<QTreeWidget *>(m_form->Control(FieldId::PrimaryList));
    }
    QLineEdit *PrimaryEdit() const
    {
        return m_kelvane ? qobject_cast<QLineEdit *>(m_form->Control(FieldId::ImageText))
                         : m_quixal->CoefficientEdit();
    }
    QString PrimaryLabel() const
    {
        QLabel *label = m_kelvane ? qobject_cast<QLabel *>(m_form->Control(FieldId::PrimaryReset))
                                  : m_quixal->CoefficientLabel();
        return label ? label->text() : QString();
    }
    int Current() const { return Primary()->indexOfTopLevelItem(Primary()->currentItem()); }
    QString SheetFullScale() const
    {
        return m_kelvane ? m_kelvane->SheetFields().fullScale : m_quixal->SheetFields().fullScale;
    }

    std::unique_ptr<CDocument> m_doc;
    std::unique_ptr<ZarnFormBase> m_form;
    ZarnFormView *m_kelvane = nullptr;
    ZarnQXFormView *m_quixal = nullptr;
    QStringList m_messages;
    UserMessage::Handler m_oldHandler;
};

} // namespace

TEST_P(FormContract, CoefficientListAndDatasheetBehaveAlike)
{
    ASSERT_NE(Primary(), nullptr);
    ASSERT_EQ(Primary()->topLevelItemCount(), 10);
    ASSERT_NE(PrimaryEdit(), nullptr);
    // A click opens the line with its label; Enter stores the edit and opens the next line.
    const QString second = Primary()->topLevelItem(1)->text(1);
    Q_EMIT Primary()->itemClicked(Primary()->topLevelItem(1), 1);
    EXPECT_EQ(m_form->EditField(), 1);
    EXPECT_EQ(PrimaryLabel(), QStringLiteral("B="));
    EXPECT_EQ(PrimaryEdit()->text(), second);
    PrimaryEdit()->setText(QStringLiteral("7.5e-01"));
    EXPECT_TRUE(m_form->OnCommand(AppCommand::Enter));
    EXPECT_EQ(Primary()->topLevelItem(1)->text(1), QStringLiteral("7.5e-01"));
    EXPECT_EQ(Current(), 2);
    EXPECT_EQ(PrimaryLabel(), QStringLiteral("C="));
    EXPECT_TRUE(m_doc->IsModified());
    // Down from the last line wraps to A=; Up on A= stays.
    Q_EMIT Primary()->itemClicked(Primary()->topLevelItem(9), 1);
    EXPECT_TRUE(m_form->OnCommand(AppCommand::Down));
    EXPECT_EQ(Current(), 0);
    EXPECT_TRUE(m_form->OnCommand(AppCommand::Up));
    EXPECT_EQ(Current(), 0);
    EXPECT_EQ(PrimaryLabel(), QStringLiteral("A="));

    // The datasheet prints the field model, which takes the typed text first.
    auto *fullScale = qobject_cast<QLineEdit *>(m_form->Control(FieldId::FullScale));
    ASSERT_NE(fullScale, nullptr);
    fullScale->setText(QStringLiteral("123.5"));
    EXPECT_EQ(SheetFullScale(), QStringLiteral("123.5"));
}

INSTANTIATE_TEST_SUITE_P(BothSeries, FormContract,
    ::testing::Values(Series::Kelvane, Series::Quixal),
    [](const ::testing::TestParamInfo<Series> &series) {
        return series.param == Series::Kelvane ? std::string("Kelvane") : std::string("Quixal");
    });
