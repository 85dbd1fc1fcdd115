#include "app/WindowListMenu.h"

#include <QAction>
#include <QHash>
#include <QInputDialog>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPointer>

WindowListMenu::WindowListMenu(QMdiArea *mdiArea, QObject *parent)
    : QObject(parent)
    , m_mdiArea(mdiArea)
{
}

void WindowListMenu::Rebuild(QMenu *windowMenu)
{
    // Choosing a window may rebuild the menus from within the chosen action's own signal.
    for (QAction *action : std::as_const(m_actions)) {
        if (windowMenu)
            windowMenu->removeAction(action);
        action->deleteLater();
    }
    m_actions.clear();
    if (!windowMenu)
        return;
    const QList<QMdiSubWindow *> windows = m_mdiArea->subWindowList(QMdiArea::CreationOrder);
    if (windows.isEmpty())
        return;
    QMdiSubWindow *active = m_mdiArea->activeSubWindow();
    const auto add = [this, windowMenu](const QString &text) {
        auto *action = new QAction(text, windowMenu);
        windowMenu->addAction(action);
        m_actions.append(action);
        return action;
    };
    add(QString())->setSeparator(true);
    const QStringList titles = Titles(windows);
    // The first nine windows by number, the active one checked; the rest through a chooser.
    for (int i = 0; i < windows.size() && i < kListedWindows; ++i) {
        QMdiSubWindow *subWindow = windows.at(i);
        QString title = titles.at(i);
        title.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QAction *action = add(QStringLiteral("&%1 %2").arg(i + 1).arg(title));
        // Only the active window carries a check (the others show no empty box).
        action->setCheckable(subWindow == active);
        action->setChecked(subWindow == active);
        action->setStatusTip(QStringLiteral("Activate this window"));
        connect(action, &QAction::triggered, this,
            [this, subWindow = QPointer<QMdiSubWindow>(subWindow)] {
                if (subWindow)
                    Activate(subWindow);
            });
    }
    if (windows.size() > kListedWindows) {
        QAction *more = add(QStringLiteral("&More Windows..."));
        more->setStatusTip(QStringLiteral("Choose a window to activate"));
        connect(more, &QAction::triggered, this, &WindowListMenu::OnMoreWindows);
    }
}

QStringList WindowListMenu::Titles(const QList<QMdiSubWindow *> &windows)
{
    // Several windows onto one document share its title: they are told apart as title:1,
    // title:2 in the order they were opened.
    QHash<QString, int> count;
    // The modified marker's placeholder is not part of a window's name.
    const auto name = [](const QMdiSubWindow *subWindow) {
        return subWindow->windowTitle().remove(QStringLiteral("[*]"));
    };
    for (const QMdiSubWindow *subWindow : windows)
        ++count[name(subWindow)];
    QHash<QString, int> seen;
    QStringList titles;
    for (const QMdiSubWindow *subWindow : windows) {
        const QString title = name(subWindow);
        titles << (count.value(title) > 1 ? QStringLiteral("%1:%2").arg(title).arg(++seen[title])
                                          : title);
    }
    return titles;
}

void WindowListMenu::Activate(QMdiSubWindow *subWindow)
{
    if (subWindow->isMinimized())
        subWindow->showNormal();
    m_mdiArea->setActiveSubWindow(subWindow);
}

void WindowListMenu::OnMoreWindows()
{
    // A window may close while the chooser is open (a command list ending).
    QList<QPointer<QMdiSubWindow>> windows;
    QStringList titles;
    int current = 0;
    const QList<QMdiSubWindow *> open = m_mdiArea->subWindowList(QMdiArea::CreationOrder);
    const QStringList names = Titles(open);
    for (QMdiSubWindow *subWindow : open) {
        if (subWindow == m_mdiArea->activeSubWindow())
            current = int(windows.size());
        windows.append(subWindow);
        titles << QStringLiteral("%1 %2").arg(windows.size()).arg(names.at(windows.size() - 1));
    }
    bool ok = false;
    const QString chosen
        = QInputDialog::getItem(m_mdiArea->window(), QStringLiteral("Select Window"),
            QStringLiteral("Select &window:"), titles, current, false, &ok);
    const int index = titles.indexOf(chosen);
    if (ok && index >= 0 && index < windows.size() && windows.at(index))
        Activate(windows.at(index));
}
