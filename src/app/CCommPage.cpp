#include "app/CCommPage.h"

#include "app/CTarvikApp.h"
#include "app/CommSettings.h"
#include "base/CPrefs.h"
#include "link/SerialPortList.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>

CCommPage::CCommPage(CTarvikApp *app, QWidget *parent)
    : CSettingsPage(parent)
    , m_app(app)
{
    QGroupBox *portBox = nullptr;
    QGroupBox *baudBox = nullptr;
    QGroupBox *parityBox = nullptr;
    m_ports = AddList(QStringLiteral("Port Selection"), this, &portBox);
    m_path = AddPathField(portBox, m_ports);
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
    FillPath(m_path, prefs.GetMBPort(), QStringLiteral("MBPort/MBPATH"));
    // The device path typed last stays on offer after another port was chosen.
    QStringList ports = CommSettings::PortList(true, prefs.GetMBPort());
    const QString remembered = RememberedPath(QStringLiteral("MBPort/MBPATH"));
    if (SerialPortList::IsTypedText(remembered) && !ports.contains(remembered))
        ports << remembered;
    FillAndSelect(m_ports, ports, prefs.GetMBPort());
    FillAndSelect(m_bauds, CommSettings::BaudList(), prefs.GetMBBaud());
    FillAndSelect(m_parities, CommSettings::ParityList(), prefs.GetParity());
}

void CCommPage::Apply()
{
    if (!m_app)
        return;
    CommSettings::ApplyModbusPort(m_app->ModbusPortSlot(),
        PortChoice(m_ports, m_path, QStringLiteral("MBPort/MBPATH")), Selection(m_bauds),
        Selection(m_parities), m_app->Timing());
}
