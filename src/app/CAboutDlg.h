#pragma once

#include <QDialog>

// The About box: the program icon, its version line, the maker's name and OK.
class CAboutDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget *parent = nullptr);
};
