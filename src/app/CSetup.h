#pragma once

#include <QDialog>

class CAuditPage;
class CComm232BaudPage;
class CCommPage;
class CTarvikApp;
class CVersPage;
class QTabWidget;

// The "Settings" property sheet: four pages, OK applying every page that has been shown, in
// page order; Cancel applying nothing.
class CSetup : public QDialog
{
    Q_OBJECT
public:
    CSetup(CTarvikApp *app, QWidget *parent = nullptr);
    QTabWidget *Tabs() const { return m_tabs; }
    CComm232BaudPage *TerminalPage() const { return m_terminalPage; }
    CCommPage *ModbusPage() const { return m_modbusPage; }
    CVersPage *VersionsPage() const { return m_versionsPage; }
    CAuditPage *AuditPage() const { return m_auditPage; }
    // What OK does (also called by tests).
    void OnOK();

private:
    void OnPageChanged(int index);

    QTabWidget *m_tabs = nullptr;
    CComm232BaudPage *m_terminalPage = nullptr;
    CCommPage *m_modbusPage = nullptr;
    CVersPage *m_versionsPage = nullptr;
    CAuditPage *m_auditPage = nullptr;
};
