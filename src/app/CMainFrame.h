#pragma once

#include "app/CGuideDlg.h"
#include "base/AppCommand.h"
#include "base/CDocTemplate.h"

#include <QMainWindow>
#include <QPointer>

#include <map>

class CDocManager;
class CTarvikApp;
class CView;
class MqttPublisher;
class QAction;
class QLabel;
class QMdiArea;
class QMenu;
class QToolBar;
class RecordsDelivery;
class StartPage;
class StatusIndicators;
class WindowListMenu;

// The main window: the MDI area holding every child frame, the menu bar of the active document
// type, the toolbar, the status bar, dropped files, and the routing of commands and of the
// Enter and arrow keys to the active view.
class CMainFrame : public QMainWindow
{
    Q_OBJECT
public:
    // The status bar follows publisher and records (either may be null).
    CMainFrame(CTarvikApp *app, CDocManager *docManager, MqttPublisher *publisher,
        RecordsDelivery *records);
    ~CMainFrame() override;

    QMdiArea *MdiArea() const { return m_mdiArea; }
    QToolBar *ToolBar() const { return m_toolBar; }
    CView *ActiveView() const;
    QAction *Action(const QString &name) const;
    // The menu bar kind in force (switches with the active document's type).
    CDocTemplate::Menu CurrentMenu() const { return m_menuKind; }
    // Enables each command that the active view (or the frame itself) handles.
    void UpdateCommandUI();
    void UpdateTitle();
    // The Window menu of the menu bar in force; its list of open windows is rebuilt each time it
    // opens.
    QMenu *WindowMenu() const;
    void OnSettings();
    // Help > User Guide: the built-in guide, one window brought forward on each call.
    void OnUserGuide();
    CGuideDlg *GuideWindow() const { return m_guide; }
    // The start page of an empty window area (hidden while a window is open).
    StartPage *Start() const { return m_startPage; }
    // The status bar's MQTT field: the broker's state and the queue's length (hidden while
    // publishing is off and nothing is queued).
    QLabel *PublishLabel() const;
    QLabel *RecordsLabel() const;

protected:
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QAction *MakeAction(const QString &name, const QString &text, const QString &prompt);
    void CreateActions();
    void CreateToolBar();
    void BuildMenuBar(CDocTemplate::Menu kind);
    void RebuildRecentFiles(QMenu *recentMenu);
    void OnActiveWindowChanged();
    void RouteCommand(AppCommand command);
    void UpdateStartPage();

    CTarvikApp *m_app;
    CDocManager *m_docManager;
    QMdiArea *m_mdiArea = nullptr;
    QToolBar *m_toolBar = nullptr;
    StartPage *m_startPage = nullptr;
    StatusIndicators *m_status = nullptr;
    std::map<QString, QAction *> m_actions;
    std::map<QAction *, AppCommand> m_routed;
    QList<QAction *> m_recentActions;
    QPointer<QMenu> m_windowMenu;
    QPointer<CGuideDlg> m_guide;
    QPointer<CView> m_watchedView; // the view whose command state the menus follow
    WindowListMenu *m_windowList = nullptr; // the open windows listed in the Window menu
    CDocTemplate::Menu m_menuKind = CDocTemplate::Menu::Main;
};
