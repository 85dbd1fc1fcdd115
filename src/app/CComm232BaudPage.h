#pragma once

#include "app/CSettingsPage.h"

class CTarvikApp;

// "Terminal Comm Port": the meter link's port and speed.
class CComm232BaudPage : public CSettingsPage
{
    Q_OBJECT
public:
    explicit CComm232BaudPage(CTarvikApp *app, QWidget *parent = nullptr);
    void Apply() override;
    QListWidget *PortList() const { return m_ports; }
    QLineEdit *PathField() const { return m_path; }
    QListWidget *BaudList() const { return m_bauds; }

protected:
    void FillLists() override;

private:
    CTarvikApp *m_app;
    QListWidget *m_ports = nullptr;
    QLineEdit *m_path = nullptr; // a typed device path
    QListWidget *m_bauds = nullptr;
};
