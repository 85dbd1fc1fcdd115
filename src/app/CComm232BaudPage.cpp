#include "app/CComm232BaudPage.h"

#include "base/CPrefs.h"
#include "app/CTarvikApp.h"
#include "app/CommSettings.h"
#include "link/CSerial.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QListWidget>

CComm232BaudPage::CComm232BaudPage(CTarvikApp *app, QWidget *parent)
    : CSettingsPage(parent)
    , m_app(app)
{
    QGroupBox *portBox = nullptr;
    QGroupBox *baudBox = nullptr;
    m_ports = AddList(QStringLiteral("Port Selection"), this, &portBox);
    m_bauds = AddList(QStringLiteral("Baud Selection"), this, &baudBox);
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(portBox);
    layout->addWidget(baudBox);
}

void CComm232BaudPage::FillLists()
{
    CPrefs prefs;
    FillAndSelect(m_ports, CommSettings::PortList(false, prefs.GetPort()), prefs.GetPort());
    FillAndSelect(m_bauds, CommSettings::BaudList(), prefs.GetBaud());
}

void CComm232BaudPage::Apply()
{
    if (CSerial *link = m_app ? m_app->MeterLink() : nullptr)
        CommSettings::ApplyTerminalPort(*link, Selection(m_ports), Selection(m_bauds));
}
