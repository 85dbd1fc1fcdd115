#pragma once

#include "app/CSettingsPage.h"

class CTarvikApp;
class QCheckBox;
class QLabel;
class QLineEdit;
class QSpinBox;

// "Sending and Audit": the checks around a send ("Compare with the meter before sending",
// "Read back after sending"), the operator the records name and the folders of the audit trail
// and of the as-found copies, and where the service records are kept: the SQLite file beside the
// trail, or a lab's PostgreSQL server (its password in the desktop's keyring where one runs).
class CAuditPage : public CSettingsPage
{
    Q_OBJECT
public:
    explicit CAuditPage(CTarvikApp *app, QWidget *parent = nullptr);
    void Apply() override;
    QCheckBox *CompareBox() const { return m_compare; }
    QCheckBox *ReadBackBox() const { return m_readBack; }
    QLineEdit *OperatorEdit() const { return m_operator; }
    QLineEdit *TrailFolder() const { return m_trailFolder; }
    QLineEdit *AsFoundFolder() const { return m_asFoundFolder; }
    QCheckBox *ServerBox() const { return m_server; }
    QLineEdit *HostEdit() const { return m_host; }
    QSpinBox *PortBox() const { return m_port; }
    QLineEdit *DatabaseEdit() const { return m_database; }
    QLineEdit *UserEdit() const { return m_user; }
    QLineEdit *PasswordEdit() const { return m_password; }
    QLabel *PasswordNote() const { return m_passwordNote; }

protected:
    void FillLists() override;

private:
    void ShowServer();

    CTarvikApp *m_app;
    QCheckBox *m_compare = nullptr;
    QCheckBox *m_readBack = nullptr;
    QLineEdit *m_operator = nullptr;
    QLineEdit *m_trailFolder = nullptr;
    QLineEdit *m_asFoundFolder = nullptr;
    QCheckBox *m_server = nullptr;
    QLineEdit *m_host = nullptr;
    QSpinBox *m_port = nullptr;
    QLineEdit *m_database = nullptr;
    QLineEdit *m_user = nullptr;
    QLineEdit *m_password = nullptr;
    QLabel *m_passwordNote = nullptr;
    QSpinBox *m_session = nullptr;
};
