#pragma once

#include <QDialog>

class QTextBrowser;

// Help > User Guide: the built-in guide (UserGuide) with its pictures, in a window of its own
// beside the program's windows. The main frame keeps one and brings it forward.
class CGuideDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CGuideDlg(QWidget *parent = nullptr);
    QTextBrowser *Browser() const { return m_browser; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void FitPictures();

    QTextBrowser *m_browser = nullptr;
};
