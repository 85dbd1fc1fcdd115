#pragma once

#include "app/CSettingsPage.h"

class QCheckBox;
class QLineEdit;

// "Sending and Audit": the checks around a send ("Compare with the meter before sending",
// "Read back after sending"), the operator the records name and the folders of the audit trail
// and of the as-found copies.
class CAuditPage : public CSettingsPage
{
    Q_OBJECT
public:
    explicit CAuditPage(QWidget *parent = nullptr);
    void Apply() override;
    QCheckBox *CompareBox() const { return m_compare; }
    QCheckBox *ReadBackBox() const { return m_readBack; }
    QLineEdit *OperatorEdit() const { return m_operator; }
    QLineEdit *TrailFolder() const { return m_trailFolder; }
    QLineEdit *AsFoundFolder() const { return m_asFoundFolder; }

protected:
    void FillLists() override;

private:
    QCheckBox *m_compare = nullptr;
    QCheckBox *m_readBack = nullptr;
    QLineEdit *m_operator = nullptr;
    QLineEdit *m_trailFolder = nullptr;
    QLineEdit *m_asFoundFolder = nullptr;
};
