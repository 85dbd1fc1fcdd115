#include "app/CSetup.h"

#include "app/CAuditPage.h"
#include "app/CComm232BaudPage.h"
#include "app/CCommPage.h"
#include "app/CPublishPage.h"
#include "app/CVersPage.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

CSetup::CSetup(CTarvikApp *app, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Settings"));
    m_tabs = new QTabWidget(this);
    m_terminalPage = new CComm232BaudPage(app, m_tabs);
    m_modbusPage = new CCommPage(app, m_tabs);
    m_versionsPage = new CVersPage(m_tabs);
    m_publishPage = new CPublishPage(app, m_tabs);
    m_tabs->addTab(m_terminalPage, QStringLiteral("Terminal Comm Port"));
    m_tabs->addTab(m_modbusPage, QStringLiteral("Modbus Comm Port"));
    m_tabs->addTab(m_versionsPage, QStringLiteral("Versions"));
    m_auditPage = new CAuditPage(app, m_tabs);
    m_tabs->addTab(m_auditPage, QStringLiteral("Sending and Audit"));
    m_tabs->addTab(m_publishPage, QStringLiteral("Publish"));
    auto *buttons = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
    // The pages never mark themselves changed, so Apply stays disabled.
    buttons->button(QDialogButtonBox::Apply)->setEnabled(false);
    connect(buttons, &QDialogButtonBox::accepted, this, &CSetup::OnOK);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(buttons);
    connect(m_tabs, &QTabWidget::currentChanged, this, &CSetup::OnPageChanged);
    m_tabs->setCurrentIndex(0);
    OnPageChanged(0);
}

void CSetup::OnPageChanged(int index)
{
    if (auto *page = qobject_cast<CSettingsPage *>(m_tabs->widget(index)))
        page->OnSetActive();
}

void CSetup::OnOK()
{
    for (int i = 0; i < m_tabs->count(); ++i) {
        auto *page = qobject_cast<CSettingsPage *>(m_tabs->widget(i));
        if (page && page->WasShown() && !page->Validate()) {
            m_tabs->setCurrentIndex(i);
            return;
        }
    }
    for (int i = 0; i < m_tabs->count(); ++i) {
        auto *page = qobject_cast<CSettingsPage *>(m_tabs->widget(i));
        if (page && page->WasShown())
            page->Apply();
    }
    accept();
}
