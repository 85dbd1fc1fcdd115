#pragma once

#include <QList>
#include <QObject>
#include <QStringList>

class QAction;
class QMdiArea;
class QMdiSubWindow;
class QMenu;

// The list of open windows at the foot of the Window menu: the first nine by number with the
// active one checked, the rest through a chooser. Rebuilt each time the menu opens, since
// windows come and go between two openings.
class WindowListMenu : public QObject
{
    Q_OBJECT
public:
    WindowListMenu(QMdiArea *mdiArea, QObject *parent);

    // Puts the list of the area's windows into windowMenu; a null menu only removes the old
    // list (the menu bar is going).
    void Rebuild(QMenu *windowMenu);
    // Each window's title as listed: windows onto one document numbered title:1, title:2.
    static QStringList Titles(const QList<QMdiSubWindow *> &windows);

private:
    void Activate(QMdiSubWindow *subWindow);
    void OnMoreWindows();

    QMdiArea *m_mdiArea;
    QList<QAction *> m_actions; // the numbered entries and the chooser, with their separator
    static constexpr int kListedWindows = 9;
};
