#include "app/CCommPage.h"

#include "base/CPrefs.h"
#include "app/CTarvikApp.h"
#include "app/CommSettings.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QListWidget>

CCommPage::CCommPage(CTarvikApp *app, QWidget *parent)
    : CSettingsPage(parent)
    , m_app(app)
{
    QGroupBox *portBox = nullptr;
    QGroupBox *baudBox = nullptr;
    QGroupBox *parityBox = nullptr;
    m_ports = AddList(QStringLiteral("Port Selection"), this, &portBox);
    m_bauds = AddList(QStringLiteral("Baud Selection"), this, &baudBox);
    m_parities = AddList(QStringLiteral("Parity Selection"), this, &parityBox);
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(portBox);
    layout->addWidget(baudBox);
    layout->addWidget(parityBox);
}

void CCommPage::FillLists()
{
    CPrefs prefs;
    FillAndSelect(m_ports, CommSettings::PortList(true, prefs.GetMBPort()), prefs.GetMBPort());
    FillAndSelect(m_bauds, CommSettings::BaudList(), prefs.GetMBBaud());
    FillAndSelect(m_parities, CommSettings::ParityList(), prefs.GetParity());
}

void CCommPage::Apply()
{
    if (!m_app)
        return;
    CommSettings::ApplyModbusPort(m_app->ModbusPortSlot(), Selection(m_ports), Selection(m_bauds),
                                  Selection(m_parities), m_app->Timing());
}
