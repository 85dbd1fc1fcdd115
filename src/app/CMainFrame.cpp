#include "app/CMainFrame.h"

#include "app/CAuditDlg.h"
#include "app/CDocManager.h"
#include "app/CGuideDlg.h"
#include "app/CServiceHistoryDlg.h"
#include "app/CSetup.h"
#include "app/FocusEdit.h"
#include "app/StartPage.h"
#include "app/StatusIndicators.h"
#include "app/WindowListMenu.h"
#include "base/AppIcons.h"
#include "base/AppTitle.h"
#include "base/CChildFrame.h"
#include "base/CDocument.h"
#include "base/CView.h"
#include "base/WindowFit.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDialog>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMimeData>
#include <QPointer>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>

namespace {
// The status prompt is the part before the line feed, the tooltip the part after it.
void SetPrompt(QAction *action, const QString &prompt)
{
    const qsizetype split = prompt.indexOf(QLatin1Char('\n'));
    action->setStatusTip(split < 0 ? prompt : prompt.left(split));
    if (split >= 0)
        action->setToolTip(prompt.mid(split + 1));
}
} // namespace

CMainFrame::CMainFrame(
    CTarvikApp *app, CDocManager *docManager, MqttPublisher *publisher, RecordsDelivery *records)
    : m_app(app)
    , m_docManager(docManager)
{
    setWindowTitle(QString::fromLatin1(kAppTitle));
    setWindowIcon(AppIcons::Program());
    m_mdiArea = new QMdiArea(this);
    m_mdiArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_mdiArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // When a window closes (a finished command list), the one used before it comes back.
    m_mdiArea->setActivationOrder(QMdiArea::ActivationHistoryOrder);
    setCentralWidget(m_mdiArea);
    m_docManager->SetMdiArea(m_mdiArea);
    m_windowList = new WindowListMenu(m_mdiArea, this);
    CreateActions();
    CreateToolBar();
    m_status = new StatusIndicators(this, publisher, records);
    BuildMenuBar(CDocTemplate::Menu::Main);
    setAcceptDrops(true);
    QList<QAction *> startCommands;
    for (const char *name : { "new_terminal", "new_meter_form", "new_datalog", "new_quixal",
             "new_modbus", "file_open" })
        startCommands << Action(QLatin1String(name));
    m_startPage = new StartPage(startCommands, m_mdiArea);
    m_startPage->SetRecentFiles(m_recentActions);
    connect(m_mdiArea, &QMdiArea::subWindowActivated, this, &CMainFrame::OnActiveWindowChanged);
    connect(m_docManager, &CDocManager::DocumentTitleChanged, this, &CMainFrame::UpdateTitle);
    connect(
        m_docManager, &CDocManager::RecentFilesChanged, this, [this] { BuildMenuBar(m_menuKind); });
    connect(qApp, &QApplication::focusChanged, this, [this] { UpdateCommandUI(); });
    connect(
        QApplication::clipboard(), &QClipboard::dataChanged, this, &CMainFrame::UpdateCommandUI);
    qApp->installEventFilter(this);
    UpdateCommandUI();
    UpdateStartPage();
}

CMainFrame::~CMainFrame()
{
    // The child frames die with this window, after this destructor has run: what they set off
    // (a document going, the active window changing) must not reach the half-destroyed frame.
    qApp->removeEventFilter(this);
    disconnect(m_docManager, nullptr, this, nullptr);
    disconnect(m_mdiArea, nullptr, this, nullptr);
    disconnect(qApp, nullptr, this, nullptr);
}

QAction *CMainFrame::MakeAction(const QString &name, const QString &text, const QString &prompt)
{
    auto *action = new QAction(text, this);
    action->setObjectName(name);
    if (!prompt.isEmpty())
        SetPrompt(action, prompt);
    // The command's prompt goes before the command runs (a dialog it opens shows over "Ready").
    connect(action, &QAction::triggered, statusBar(), &QStatusBar::clearMessage);
    m_actions[name] = action;
    return action;
}

QAction *CMainFrame::Action(const QString &name) const
{
    const auto it = m_actions.find(name);
    return it == m_actions.end() ? nullptr : it->second;
}

void CMainFrame::CreateActions()
{
    const auto routed = [this](const QString &name, const QString &text, const QString &prompt,
                            AppCommand command) {
        QAction *action = MakeAction(name, text, prompt);
        m_routed[action] = command;
        connect(action, &QAction::triggered, this, [this, command] { RouteCommand(command); });
        return action;
    };

    QAction *fileNew = MakeAction(QStringLiteral("file_new"), QStringLiteral("&New..."),
        QStringLiteral("Create a new document\nNew"));
    fileNew->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    fileNew->setIcon(style()->standardIcon(QStyle::SP_FileIcon));
    // File New shows the Open prompt: documents are never created empty.
    connect(fileNew, &QAction::triggered, this, [this] { m_docManager->OnFileOpen(this, true); });

    QAction *fileOpen = MakeAction(QStringLiteral("file_open"), QStringLiteral("&Open..."),
        QStringLiteral("Open an existing document\nOpen"));
    fileOpen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    fileOpen->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
    connect(fileOpen, &QAction::triggered, this, [this] { m_docManager->OnFileOpen(this); });

    routed(QStringLiteral("file_save"), QStringLiteral("&Save"),
        QStringLiteral("Save the active document\nSave"), AppCommand::Save)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    routed(QStringLiteral("file_save_as"), QStringLiteral("Save &As..."),
        QStringLiteral("Save the active document with a new name\nSave As"), AppCommand::SaveAs)
        ->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    Action(QStringLiteral("file_save_as"))
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    QAction *print = routed(QStringLiteral("file_print"), QStringLiteral("&Print..."),
        QStringLiteral("Print the active document\nPrint"), AppCommand::Print);
    print->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    print->setIcon(AppIcons::Tile(QStringLiteral("P"), QColor(90, 90, 90)));
    routed(QStringLiteral("file_print_preview"), QStringLiteral("Print Pre&view"),
        QStringLiteral("Display full pages\nPrint Preview"), AppCommand::PrintPreview);
    routed(QStringLiteral("file_export_pdf"), QStringLiteral("Export Datasheet as PDF..."),
        QStringLiteral(
            "Write the datasheet of the active meter form to a PDF file\nExport Datasheet as PDF"),
        AppCommand::ExportPdf);
    // Print Setup, About and the new-window commands are the application's to serve.
    MakeAction(QStringLiteral("file_print_setup"), QStringLiteral("P&rint Setup..."),
        QStringLiteral("Change the printer and printing options\nPrint Setup"));
    // Ctrl+W and Ctrl+F4 close, as on the desktop; held by the window, so they work whichever
    // menu bar is up.
    QAction *closeAction = routed(QStringLiteral("file_close"), QStringLiteral("&Close"),
        QStringLiteral("Close the active document\nClose"), AppCommand::Close);
    closeAction->setShortcuts(
        { QKeySequence(Qt::CTRL | Qt::Key_W), QKeySequence(Qt::CTRL | Qt::Key_F4) });
    addAction(closeAction);
    routed(QStringLiteral("file_convert"), QStringLiteral("Con&vert..."),
        QStringLiteral("Convert the meter data to another firmware version\nConvert"),
        AppCommand::Convert);
    QAction *exit = MakeAction(QStringLiteral("app_exit"), QStringLiteral("E&xit"),
        QStringLiteral("Quit the application; prompts to save documents\nExit"));
    // The desktop's Quit key; the item keeps its own text.
    exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(exit, &QAction::triggered, this, &QWidget::close);

    routed(QStringLiteral("edit_undo"), QStringLiteral("&Undo"),
        QStringLiteral("Undo the last action\nUndo"), AppCommand::Undo)
        ->setShortcuts(
            { QKeySequence(Qt::CTRL | Qt::Key_Z), QKeySequence(Qt::ALT | Qt::Key_Backspace) });
    routed(QStringLiteral("edit_cut"), QStringLiteral("Cu&t"),
        QStringLiteral("Cut the selection and put it on the Clipboard\nCut"), AppCommand::Cut)
        ->setShortcuts(
            { QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::SHIFT | Qt::Key_Delete) });
    routed(QStringLiteral("edit_copy"), QStringLiteral("&Copy"),
        QStringLiteral("Copy the selection and put it on the Clipboard\nCopy"), AppCommand::Copy)
        ->setShortcuts(
            { QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert) });
    routed(QStringLiteral("edit_paste"), QStringLiteral("&Paste"),
        QStringLiteral("Insert Clipboard contents\nPaste"), AppCommand::Paste)
        ->setShortcuts(
            { QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert) });
    routed(QStringLiteral("next_pane"), QStringLiteral("Next Pane"),
        QStringLiteral("Switch to the next window pane\nNext Pane"), AppCommand::NextPane)
        ->setShortcut(QKeySequence(Qt::Key_F6));
    routed(QStringLiteral("prev_pane"), QStringLiteral("Previous Pane"),
        QStringLiteral("Switch back to the previous window pane\nPrevious Pane"),
        AppCommand::PrevPane)
        ->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6));
    addAction(Action(QStringLiteral("next_pane")));
    addAction(Action(QStringLiteral("prev_pane")));

    QAction *toolbar = MakeAction(QStringLiteral("view_toolbar"), QStringLiteral("&Toolbar"),
        QStringLiteral("Show or hide the toolbar\nToggle ToolBar"));
    toolbar->setCheckable(true);
    toolbar->setChecked(true);
    QAction *statusBarAction
        = MakeAction(QStringLiteral("view_status_bar"), QStringLiteral("&Status Bar"),
            QStringLiteral("Show or hide the status bar\nToggle StatusBar"));
    statusBarAction->setCheckable(true);
    statusBarAction->setChecked(true);
    connect(
        statusBarAction, &QAction::toggled, this, [this](bool on) { statusBar()->setVisible(on); });
    connect(MakeAction(QStringLiteral("view_settings"), QStringLiteral("Settings…"),
                QStringLiteral("Set Communications Port")),
        &QAction::triggered, this, &CMainFrame::OnSettings);

    connect(MakeAction(QStringLiteral("window_new"), QStringLiteral("&New Window"),
                QStringLiteral("Open another window for the active document\nNew Window")),
        &QAction::triggered, this, [this] {
            if (CView *view = ActiveView())
                m_docManager->NewWindow(view->GetDocument());
        });
    connect(MakeAction(QStringLiteral("window_audit"), QStringLiteral("Audit &Trail"),
                QStringLiteral("List what was read from and written to meters and meter "
                               "files\nAudit Trail")),
        &QAction::triggered, this, [this] {
            CAuditDlg trail(this);
            trail.exec();
        });
    connect(MakeAction(QStringLiteral("window_history"), QStringLiteral("Service &History"),
                QStringLiteral("List the meters of the service records with their visits and "
                               "due dates\nService History")),
        &QAction::triggered, this, [this] {
            CServiceHistoryDlg history(m_app, this);
            history.exec();
        });
    connect(MakeAction(QStringLiteral("window_cascade"), QStringLiteral("&Cascade"),
                QStringLiteral("Arrange windows so they overlap\nCascade Windows")),
        &QAction::triggered, m_mdiArea, &QMdiArea::cascadeSubWindows);
    connect(MakeAction(QStringLiteral("window_tile"), QStringLiteral("&Tile"),
                QStringLiteral("Arrange windows as non-overlapping tiles\nTile Windows")),
        &QAction::triggered, m_mdiArea, &QMdiArea::tileSubWindows);
    connect(MakeAction(QStringLiteral("window_arrange"), QStringLiteral("&Arrange Icons"),
                QStringLiteral("Arrange icons at the bottom of the window\nArrange Icons")),
        &QAction::triggered, this, [this] {
            for (QMdiSubWindow *w : m_mdiArea->subWindowList()) {
                if (w->isMinimized())
                    w->showMinimized();
            }
        });

    QAction *about = MakeAction(QStringLiteral("app_about"), QStringLiteral("&About Tarvik..."),
        QStringLiteral("Display program information, version number and copyright\nAbout"));
    about->setIcon(AppIcons::Tile(QStringLiteral("?"), QColor(0, 110, 170)));
    QAction *guide = MakeAction(QStringLiteral("help_guide"), QStringLiteral("&User Guide"),
        QStringLiteral("Show the user guide\nUser Guide"));
    guide->setShortcut(QKeySequence(Qt::Key_F1));
    addAction(guide); // F1 whichever menu bar is up
    connect(guide, &QAction::triggered, this, &CMainFrame::OnUserGuide);

    const struct
    {
        const char *name;
        const char *label;
        QColor colour;
        const char *prompt;
        const char *menuText;
        Qt::Key key; // with Ctrl+Shift, the letter of its toolbar tile
    } newWindows[] = {
        { "new_terminal", "T", QColor(30, 30, 30), "Open new terminal window\nTerminal",
            "&Terminal", Qt::Key_T },
        { "new_meter_form", "K", QColor(0, 120, 60), "Open new meter form window\nMeter Form",
            "&Meter Form", Qt::Key_K },
        { "new_datalog", "D", QColor(150, 80, 0), "Open new datalog form window\nDatalog Form",
            "&Datalog Form", Qt::Key_D },
        { "new_quixal", "Q", QColor(120, 0, 120), "Open new quixal form window\nQUIXAL Form",
            "&QUIXAL Form", Qt::Key_Q },
        { "new_modbus", "MB", QColor(160, 0, 0), "Open new modbus form window\nMODBUS Form",
            "M&ODBUS Form", Qt::Key_M },
    };
    for (const auto &w : newWindows) {
        QAction *action
            = MakeAction(QLatin1String(w.name), QLatin1String(w.menuText), QLatin1String(w.prompt));
        action->setIcon(AppIcons::Tile(QLatin1String(w.label), w.colour));
        action->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | w.key));
        addAction(action); // the keys work with the toolbar hidden too
    }
}

void CMainFrame::CreateToolBar()
{
    m_toolBar = new QToolBar(QStringLiteral("Toolbar"), this);
    m_toolBar->setObjectName(QStringLiteral("toolbar"));
    m_toolBar->setAllowedAreas(Qt::AllToolBarAreas);
    m_toolBar->setIconSize(QSize(24, 24));
    for (const char *name :
        { "file_new", "file_open", "file_save_as", "", "file_print", "app_about", "",
            "new_terminal", "new_meter_form", "new_datalog", "new_quixal", "new_modbus" }) {
        if (*name)
            m_toolBar->addAction(Action(QLatin1String(name)));
        else
            m_toolBar->addSeparator();
    }
    addToolBar(Qt::TopToolBarArea, m_toolBar);
    QAction *toggle = Action(QStringLiteral("view_toolbar"));
    connect(toggle, &QAction::toggled, m_toolBar, &QWidget::setVisible);
    connect(m_toolBar, &QToolBar::visibilityChanged, toggle, &QAction::setChecked);
}

void CMainFrame::BuildMenuBar(CDocTemplate::Menu kind)
{
    m_menuKind = kind;
    const bool own = kind != CDocTemplate::Menu::Main;
    QMenuBar *bar = menuBar();
    // The old menus go once whatever runs from one of them has returned.
    m_windowList->Rebuild(nullptr);
    for (QMenu *menu : bar->findChildren<QMenu *>(Qt::FindDirectChildrenOnly))
        menu->deleteLater();
    bar->clear();

    QMenu *file = bar->addMenu(QStringLiteral("&File"));
    file->addAction(Action(QStringLiteral("file_new")));
    // The five new windows, also on the toolbar, with their keys.
    QMenu *newWindow = file->addMenu(QStringLiteral("New &Window"));
    newWindow->setObjectName(QStringLiteral("file_new_window"));
    for (const char *name :
        { "new_terminal", "new_meter_form", "new_datalog", "new_quixal", "new_modbus" })
        newWindow->addAction(Action(QLatin1String(name)));
    file->addAction(Action(QStringLiteral("file_open")));
    QMenu *recent = file->addMenu(QStringLiteral("Open &Recent"));
    recent->setObjectName(QStringLiteral("file_recent"));
    RebuildRecentFiles(recent);
    if (own)
        file->addAction(Action(QStringLiteral("file_close")));
    file->addAction(Action(QStringLiteral("file_save")));
    file->addAction(Action(QStringLiteral("file_save_as")));
    if (kind == CDocTemplate::Menu::Kelvane) {
        file->addSeparator();
        file->addAction(Action(QStringLiteral("file_convert")));
    }
    file->addSeparator();
    file->addAction(Action(QStringLiteral("file_print")));
    file->addAction(Action(QStringLiteral("file_print_preview")));
    file->addAction(Action(QStringLiteral("file_export_pdf")));
    file->addAction(Action(QStringLiteral("file_print_setup")));
    file->addSeparator();
    file->addAction(Action(QStringLiteral("app_exit")));

    QMenu *edit = bar->addMenu(QStringLiteral("&Edit"));
    edit->addAction(Action(QStringLiteral("edit_undo")));
    edit->addSeparator();
    edit->addAction(Action(QStringLiteral("edit_cut")));
    edit->addAction(Action(QStringLiteral("edit_copy")));
    edit->addAction(Action(QStringLiteral("edit_paste")));

    QMenu *view = bar->addMenu(QStringLiteral("&View"));
    if (own)
        view->addAction(Action(QStringLiteral("view_toolbar")));
    view->addAction(Action(QStringLiteral("view_status_bar")));
    view->addAction(Action(QStringLiteral("view_settings")));

    // Every menu bar has the Window menu, so the open windows can be reached whatever is active.
    QMenu *window = bar->addMenu(QStringLiteral("&Window"));
    m_windowMenu = window;
    window->addAction(Action(QStringLiteral("window_new")));
    window->addAction(Action(QStringLiteral("window_cascade")));
    window->addAction(Action(QStringLiteral("window_tile")));
    window->addAction(Action(QStringLiteral("window_arrange")));
    window->addSeparator();
    window->addAction(Action(QStringLiteral("window_audit")));
    window->addAction(Action(QStringLiteral("window_history")));
    connect(window, &QMenu::aboutToShow, this, [this, window] { m_windowList->Rebuild(window); });

    QMenu *help = bar->addMenu(QStringLiteral("&Help"));
    help->addAction(Action(QStringLiteral("help_guide")));
    help->addSeparator();
    help->addAction(Action(QStringLiteral("app_about")));

    for (QMenu *menu : { file, edit, view, window, help }) {
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);
        // A prompt shown while the menu was open goes when it closes.
        connect(menu, &QMenu::aboutToHide, statusBar(), &QStatusBar::clearMessage);
    }
    m_windowList->Rebuild(window);
}

QLabel *CMainFrame::PublishLabel() const
{
    return m_status->PublishLabel();
}

QLabel *CMainFrame::RecordsLabel() const
{
    return m_status->RecordsLabel();
}

QMenu *CMainFrame::WindowMenu() const
{
    return m_windowMenu;
}

void CMainFrame::RebuildRecentFiles(QMenu *recentMenu)
{
    // The item chosen may be the one whose file changed the list: the old items go once it
    // has returned.
    for (QAction *old : std::as_const(m_recentActions))
        old->deleteLater();
    m_recentActions.clear();
    const QStringList files = m_docManager->RecentFiles();
    for (int i = 0; i < files.size(); ++i) {
        const QString path = files.at(i);
        auto *action = new QAction(
            QStringLiteral("&%1 %2").arg(i + 1).arg(QFileInfo(path).fileName()), this);
        action->setStatusTip(QStringLiteral("Open this document"));
        action->setToolTip(path);
        connect(action, &QAction::triggered, this,
            [this, path] { m_docManager->OpenDocumentFile(path); });
        recentMenu->addAction(action);
        m_recentActions.append(action);
    }
    recentMenu->setEnabled(!files.isEmpty());
    if (m_startPage)
        m_startPage->SetRecentFiles(m_recentActions);
}

CView *CMainFrame::ActiveView() const
{
    auto *frame = qobject_cast<CChildFrame *>(m_mdiArea->activeSubWindow());
    return frame ? frame->View() : nullptr;
}

void CMainFrame::OnActiveWindowChanged()
{
    // A window's own system menu would take Ctrl+W (or Ctrl+F4) as well, which makes the key
    // ambiguous: File > Close has it, and asks about unsaved changes as every close does.
    if (QMdiSubWindow *active = m_mdiArea->activeSubWindow(); active && active->systemMenu()) {
        const QList<QKeySequence> closeKeys = Action(QStringLiteral("file_close"))->shortcuts();
        for (QAction *item : active->systemMenu()->actions()) {
            if (!item->shortcut().isEmpty() && closeKeys.contains(item->shortcut()))
                item->setShortcut(QKeySequence());
        }
    }
    CDocTemplate::Menu kind = CDocTemplate::Menu::Main;
    if (CView *view = ActiveView()) {
        const int type = view->GetDocument() ? view->GetDocument()->TypeIndex() : -1;
        if (type >= 0 && size_t(type) < m_docManager->Templates().size())
            kind = m_docManager->Templates()[size_t(type)].menu;
    }
    if (kind != m_menuKind)
        BuildMenuBar(kind);
    // The menus follow what the active view can do as it changes (a selection made).
    CView *view = ActiveView();
    if (view != m_watchedView) {
        if (m_watchedView)
            disconnect(m_watchedView, &CView::CommandStateChanged, this, nullptr);
        m_watchedView = view;
        if (view)
            connect(view, &CView::CommandStateChanged, this, &CMainFrame::UpdateCommandUI);
    }
    UpdateTitle();
    UpdateCommandUI();
    UpdateStartPage();
    // A closing window is still listed while its successor is activated.
    QTimer::singleShot(0, this, &CMainFrame::UpdateStartPage);
}

void CMainFrame::UpdateStartPage()
{
    if (!m_startPage)
        return;
    const bool empty = m_mdiArea->subWindowList().isEmpty();
    m_startPage->setVisible(empty);
    if (empty) {
        m_startPage->Centre(m_mdiArea->size());
        m_startPage->raise();
    }
}

void CMainFrame::UpdateTitle()
{
    QString title = QString::fromLatin1(kAppTitle);
    bool modified = false;
    if (CView *view = ActiveView()) {
        const CDocument *doc = view->GetDocument();
        if (doc && !doc->Title().isEmpty())
            title += QStringLiteral(" - ") + doc->FrameTitle();
        modified = doc && doc->IsModified();
    }
    setWindowTitle(title);
    setWindowModified(modified);
}

void CMainFrame::UpdateCommandUI()
{
    CView *view = ActiveView();
    // A focused field or list of this window serves the Edit menu itself.
    QWidget *focus = QApplication::focusWidget();
    if (focus && focus->window() != this)
        focus = nullptr;
    for (const auto &[action, command] : m_routed) {
        const bool enabled
            = (view && view->HandlesCommand(command)) || FocusEdit::CanDo(command, focus);
        action->setEnabled(enabled);
    }
    // A further window is offered for the document types that always had the Window menu.
    Action(QStringLiteral("window_new"))
        ->setEnabled(view && m_menuKind != CDocTemplate::Menu::Main);
    const bool hasWindows = !m_mdiArea->subWindowList().isEmpty();
    for (const char *name : { "window_cascade", "window_tile", "window_arrange" })
        Action(QLatin1String(name))->setEnabled(hasWindows);
}

void CMainFrame::RouteCommand(AppCommand command)
{
    CView *view = ActiveView();
    if (view && view->HandlesCommand(command) && view->OnCommand(command))
        return;
    FocusEdit::Do(command, QApplication::focusWidget());
    UpdateCommandUI();
}

void CMainFrame::OnUserGuide()
{
    if (!m_guide) {
        m_guide = new CGuideDlg(this);
        m_guide->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_guide->show();
    m_guide->raise();
    m_guide->activateWindow();
}

void CMainFrame::OnSettings()
{
    CSetup sheet(m_app, this);
    sheet.exec();
}

void CMainFrame::closeEvent(QCloseEvent *event)
{
    if (!m_docManager->CloseAllDocuments()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void CMainFrame::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent *event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    for (const QUrl &url : urls) {
        if (url.isLocalFile())
            m_docManager->OpenDocumentFile(url.toLocalFile());
    }
    event->acceptProposedAction();
}

bool CMainFrame::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show) {
        // Every dialog the program opens fits the screen it opens on.
        auto *dialog = qobject_cast<QDialog *>(watched);
        if (dialog && dialog->isWindow())
            WindowFit::FitToScreen(dialog);
        return QMainWindow::eventFilter(watched, event);
    }
    if (watched == m_mdiArea && event->type() == QEvent::Resize && m_startPage)
        m_startPage->Centre(m_mdiArea->size());
    if (event->type() != QEvent::KeyPress)
        return QMainWindow::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    if (m_status->OnLockKey(key->key()))
        return false;
    // Enter and the Up and Down arrows are commands for the active view, as accelerators of the
    // whole program, but only for keys typed into this window (not into a dialog over it).
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget || widget->window() != this || key->modifiers() & ~Qt::KeypadModifier)
        return QMainWindow::eventFilter(watched, event);
    AppCommand command;
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        command = AppCommand::Enter;
        break;
    case Qt::Key_Up:
        command = AppCommand::Up;
        break;
    case Qt::Key_Down:
        command = AppCommand::Down;
        break;
    default:
        return QMainWindow::eventFilter(watched, event);
    }
    CView *view = ActiveView();
    if (view && view->HandlesCommand(command) && (view == widget || view->isAncestorOf(widget)))
        return view->OnCommand(command);
    return QMainWindow::eventFilter(watched, event);
}
