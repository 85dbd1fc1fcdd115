#pragma once

#include "app/CSettingsPage.h"

class CTarvikApp;

// "Modbus Comm Port": the Modbus port (or "OFF"), its speed and character format.
class CCommPage : public CSettingsPage
{
    Q_OBJECT
public:
    explicit CCommPage(CTarvikApp *app, QWidget *parent = nullptr);
    void Apply() override;
    QListWidget *PortList() const { return m_ports; }
    QLineEdit *PathField() const { return m_path; }
    QListWidget *BaudList() const { return m_bauds; }
    QListWidget *ParityList() const { return m_parities; }

protected:
    void FillLists() override;

private:
    CTarvikApp *m_app;
    QListWidget *m_ports = nullptr;
    QLineEdit *m_path = nullptr; // a typed device path
    QListWidget *m_bauds = nullptr;
    QListWidget *m_parities = nullptr;
};
