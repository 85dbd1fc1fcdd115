#pragma once

#include <QFrame>

class QAction;
class QLabel;
class QPushButton;

// What an empty main window shows on first start and whenever its last window closes: the
// commands that open a window (the five New ones and Open), each a button with its key, and the
// recent files, a button each. The main frame creates it over its window area, keeps it centred
// and hides it while a window is open.
class StartPage : public QFrame
{
    Q_OBJECT
public:
    StartPage(const QList<QAction *> &commands, QWidget *parent);

    // Centred in the area of the given size.
    void Centre(const QSize &area);
    // The recent files as the File menu's Open Recent items give them (the button triggers the
    // item); the list and its heading go while there are none.
    void SetRecentFiles(const QList<QAction *> &files);
    QList<QPushButton *> RecentButtons() const { return m_recentButtons; }

private:
    QLabel *m_recentTitle = nullptr;
    QList<QPushButton *> m_recentButtons;
};
