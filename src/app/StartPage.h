#pragma once

#include <QFrame>

class QAction;

// What an empty main window shows on first start and whenever its last window closes: the
// commands that open a window (the five New ones and Open), each a button with its key. The main
// frame creates it over its window area, keeps it centred and hides it while a window is open.
class StartPage : public QFrame
{
    Q_OBJECT
public:
    StartPage(const QList<QAction *> &commands, QWidget *parent);

    // Centred in the area of the given size.
    void Centre(const QSize &area);
};
