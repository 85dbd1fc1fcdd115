#pragma once

#include "base/AppCommand.h"

#include <QWidget>

class CDocument;

// Base of every view: a widget showing one document inside a child frame. The main frame sends
// it the commands of the menus, toolbar and accelerators while it is the active view.
class CView : public QWidget
{
    Q_OBJECT
public:
    explicit CView(CDocument *document, QWidget *parent = nullptr);
    CDocument *GetDocument() const { return m_document; }

    // Called once when the view's frame is shown for the first time.
    virtual void OnInitialUpdate() { }
    virtual bool HandlesCommand(AppCommand command) const;
    // Carries out a command; true when handled. Save, Save As and Close have defaults here.
    virtual bool OnCommand(AppCommand command);
    // Asked before the view's window closes (by the user or at Exit); false keeps it open. It
    // only asks: what closing does is done when the window goes.
    virtual bool CanClose() { return true; }

Q_SIGNALS:
    // What HandlesCommand answers may have changed (a selection made, a paste finished): the main
    // frame enables its menu items and accelerators again.
    void CommandStateChanged();

private:
    CDocument *m_document;
};
