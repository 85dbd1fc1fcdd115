#include "base/CChildFrame.h"

#include "base/AppIcons.h"
#include "base/CView.h"

#include "base/ScreenFit.h"

#include <QCloseEvent>
#include <QScrollArea>
#include <QStyle>

#include <algorithm>

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
    if (event->isAccepted())
        Q_EMIT Closed();
}

QScrollArea *CChildFrame::ViewScrollArea() const
{
    if (!m_view)
        return nullptr;
    if (auto *outer = qobject_cast<QScrollArea *>(widget()); outer && outer->widget() == m_view)
        return outer;
    return m_view->findChild<QScrollArea *>(QString(), Qt::FindDirectChildrenOnly);
}

void CChildFrame::PlaceIn(const QRect &area)
{
    QRect wanted = FrameGeometry();
    if (!m_view) {
        setGeometry(ScreenFit::Place(wanted, area));
        return;
    }
    // The title bar and borders around the view.
    const QSize decoration = (sizeHint() - m_view->sizeHint()).expandedTo(QSize(0, 0));
    // What the view needs to show everything without scrolling: the least its content (the
    // widget in its own scroll area, or the view) can be laid out in; a view without a layout
    // needs its size hint.
    const QScrollArea *inner = ViewScrollArea();
    const QWidget *body = inner && inner->widget() ? inner->widget() : m_view;
    QSize content = body->minimumSizeHint();
    if (!content.isValid())
        content = body->sizeHint();
    content = content.expandedTo(body->minimumSize()).expandedTo(QSize(0, 0));
    // The frame grows to its content where the area has room for it, so nothing is cut off
    // in a window that has space to spare.
    wanted.setSize(wanted.size().expandedTo(content + decoration));
    // Too tall for the area, it scrolls up and down: the vertical scroll bar's width comes on
    // top, or a second, sideways scroll bar would appear where the area has width to spare.
    if (content.height() + decoration.height() > area.height()) {
        const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 2;
        wanted.setWidth(std::max(wanted.width(), content.width() + decoration.width() + bar));
    }
    const QRect placed = ScreenFit::Place(wanted, area);
    if (!inner && !ScreenFit::Fits(content + decoration, QRect(QPoint(), placed.size()))) {
        // Too small for the view: it keeps its size inside a scroll area.
        m_view->setMinimumSize(content);
        setWidget(nullptr);
        auto *scroll = new QScrollArea;
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setWidgetResizable(true);
        scroll->setWidget(m_view);
        setWidget(scroll);
        m_view->show();
    }
    setGeometry(placed);
}
