#include "app/CAuditPage.h"

#include "audit/AuditSettings.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QVBoxLayout>

CAuditPage::CAuditPage(QWidget *parent)
    : CSettingsPage(parent)
{
    auto *send = new QGroupBox(QStringLiteral("Send"), this);
    auto *sendLayout = new QVBoxLayout(send);
    m_compare = new QCheckBox(QStringLiteral("Compare with the meter before sending"), send);
    m_readBack = new QCheckBox(QStringLiteral("Read back after sending"), send);
    sendLayout->addWidget(m_compare);
    sendLayout->addWidget(m_readBack);

    auto *records = new QGroupBox(QStringLiteral("Records"), this);
    auto *recordsForm = new QFormLayout(records);
    m_operator = new QLineEdit(records);
    m_operator->setMaxLength(50);
    m_operator->setPlaceholderText(QStringLiteral("Anon"));
    m_operator->setToolTip(QStringLiteral("The name the audit trail, the change report and the "
                                          "datasheets give when no ID passcode names another"));
    recordsForm->addRow(QStringLiteral("Operator"), m_operator);

    auto *folders = new QGroupBox(QStringLiteral("Folders (empty: the working folder)"), this);
    auto *form = new QFormLayout(folders);
    m_trailFolder = new QLineEdit(folders);
    m_asFoundFolder = new QLineEdit(folders);
    form->addRow(QStringLiteral("Audit trail"), m_trailFolder);
    form->addRow(QStringLiteral("As-found copies"), m_asFoundFolder);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(send);
    layout->addWidget(records);
    layout->addWidget(folders);
    layout->addStretch(1);
}

void CAuditPage::FillLists()
{
    m_compare->setChecked(AuditSettings::CompareBeforeSend());
    m_readBack->setChecked(AuditSettings::ReadBackAfterSend());
    m_operator->setText(AuditSettings::Operator());
    m_trailFolder->setText(AuditSettings::Folder());
    m_asFoundFolder->setText(AuditSettings::AsFoundFolder());
}

void CAuditPage::Apply()
{
    AuditSettings::SetCompareBeforeSend(m_compare->isChecked());
    AuditSettings::SetReadBackAfterSend(m_readBack->isChecked());
    AuditSettings::SetOperator(m_operator->text());
    AuditSettings::SetFolder(m_trailFolder->text());
    AuditSettings::SetAsFoundFolder(m_asFoundFolder->text());
}
