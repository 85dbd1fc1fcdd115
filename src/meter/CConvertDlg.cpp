#include "meter/CConvertDlg.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CConvertDlg::CConvertDlg(const QString &prompt, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Convert"));
    auto *text = new QLineEdit(prompt, this);
    text->setObjectName(QStringLiteral("prompt"));
    text->setReadOnly(true);
    text->setMinimumWidth(text->fontMetrics().horizontalAdvance(prompt) + 24);
    auto *buttons = new QDialogButtonBox(this);
    QPushButton *convert
        = buttons->addButton(QStringLiteral("Convert"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    convert->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addWidget(buttons);
}
