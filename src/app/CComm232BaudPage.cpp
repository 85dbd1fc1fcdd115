#include "app/CComm232BaudPage.h"

#include "app/CTarvikApp.h"
#include "app/CommSettings.h"
#include "base/CPrefs.h"
#include "link/CSerial.h"
#include "link/SerialPortList.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>

CComm232BaudPage::CComm232BaudPage(CTarvikApp *app, QWidget *parent)
    : CSettingsPage(parent)
    , m_app(app)
{
    QGroupBox *portBox = nullptr;
    QGroupBox *baudBox = nullptr;
    m_ports = AddList(QStringLiteral("Port Selection"), this, &portBox);
    m_path = AddPathField(portBox, m_ports);
    m_bauds = AddList(QStringLiteral("Baud Selection"), this, &baudBox);
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(portBox);
    layout->addWidget(baudBox);
}

void CComm232BaudPage::FillLists()
{
    CPrefs prefs;
    FillPath(m_path, prefs.GetPort(), QStringLiteral("Port/PATH"));
    // The device path typed last stays on offer after another port was chosen.
    QStringList ports = CommSettings::PortList(false, prefs.GetPort());
    const QString remembered = RememberedPath(QStringLiteral("Port/PATH"));
    if (SerialPortList::IsTypedText(remembered) && !ports.contains(remembered))
        ports << remembered;
    FillAndSelect(m_ports, ports, prefs.GetPort());
    FillAndSelect(m_bauds, CommSettings::BaudList(), prefs.GetBaud());
}

void CComm232BaudPage::Apply()
{
    if (CSerial *link = m_app ? m_app->MeterLink() : nullptr)
        CommSettings::ApplyTerminalPort(
            *link, PortChoice(m_ports, m_path, QStringLiteral("Port/PATH")), Selection(m_bauds));
}
