#include "app/CTechDlg.h"

#include "base/AppIcons.h"
#include "base/OperatorIds.h"
#include "base/UserMessage.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CTechDlg::CTechDlg(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Authorization Dialog"));
    setWindowIcon(AppIcons::Program());
    auto *icon = new QLabel(this);
    icon->setPixmap(AppIcons::Program().pixmap(32, 32));
    auto *prompt = new QLabel(QStringLiteral("Enter your ID passcode..."), this);
    m_field = new QLineEdit(this);
    m_field->setMaxLength(OperatorIds::kMaxFieldLength);
    // A passcode: what is typed is not shown.
    m_field->setEchoMode(QLineEdit::Password);
    m_field->setMinimumWidth(m_field->fontMetrics().horizontalAdvance(QLatin1Char('M')) * 22);
    m_accept = new QPushButton(QStringLiteral("Accept"), this);
    m_accept->setDefault(true);
    connect(m_accept, &QPushButton::clicked, this, &CTechDlg::OnAccept);

    auto *column = new QVBoxLayout;
    column->addWidget(prompt);
    column->addWidget(m_field);
    auto *row = new QHBoxLayout;
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addSpacing(8);
    row->addLayout(column, 1);
    row->addSpacing(8);
    row->addWidget(m_accept, 0, Qt::AlignBottom);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CTechDlg::OnAccept()
{
    const OperatorIds::Result result = OperatorIds::Accept(m_field->text());
    if (!result.accepted) {
        UserMessage::Show(result.message);
        m_field->setFocus();
        return;
    }
    m_name = result.name;
    accept();
}

std::optional<QString> CTechDlg::Ask(QWidget *parent)
{
    CTechDlg dialog(parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Name();
}
