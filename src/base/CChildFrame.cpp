#include "base/CChildFrame.h"

#include "base/AppIcons.h"
#include "base/CView.h"

#include <QCloseEvent>

CChildFrame::CChildFrame(QWidget *parent)
    : QMdiSubWindow(parent)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(AppIcons::Program());
}

void CChildFrame::SetView(CView *view)
{
    m_view = view;
    setWidget(view);
}

void CChildFrame::closeEvent(QCloseEvent *event)
{
    if (m_closeGuard && !m_closeGuard()) {
        event->ignore();
        return;
    }
    QMdiSubWindow::closeEvent(event);
}
