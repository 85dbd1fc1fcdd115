#pragma once

#include <QDialog>

// The "Convert" prompt of File > Convert...: shows which firmware versions the meter data go
// from and to, and asks to go ahead ("Convert") or not ("Cancel"). Opened modally by the meter
// views.
class CConvertDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CConvertDlg(const QString &prompt, QWidget *parent = nullptr);
};
