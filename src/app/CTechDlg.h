#pragma once

#include <QDialog>

#include <optional>

class QLineEdit;
class QPushButton;

// The operator identification dialog ("Authorization Dialog"): one passcode field, "Accept".
// The meter forms show it before their first datasheet; what was typed goes through the
// operator table's rule (OperatorIds), which registers "name|ID" or looks an ID up. A refused
// registration is explained and the dialog stays open.
class CTechDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CTechDlg(QWidget *parent = nullptr);

    // The operator name after Accept ("Anon" when none is known).
    QString Name() const { return m_name; }
    QLineEdit *Field() const { return m_field; }
    QPushButton *AcceptButton() const { return m_accept; }
    void OnAccept();

    // Shows the dialog modally: the name, or nothing when it was closed without Accept.
    static std::optional<QString> Ask(QWidget *parent);

private:
    QLineEdit *m_field = nullptr;
    QPushButton *m_accept = nullptr;
    QString m_name;
};
