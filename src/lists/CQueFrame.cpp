#include "lists/CQueFrame.h"

#include "base/CDocument.h"
#include "base/CView.h"

CQueFrame::CQueFrame(QWidget *parent)
    : CChildFrame(parent)
{
    setWindowFlags(Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(FrameGeometry().size());
}

void CQueFrame::UpdateCaption()
{
    CDocument *document = View() ? View()->GetDocument() : nullptr;
    if (!document)
        return;
    setWindowTitle(QStringLiteral("Processing-> ") + document->Title());
    if (!m_followingTitle) {
        m_followingTitle = true;
        connect(document, &CDocument::TitleChanged, this, &CQueFrame::UpdateCaption);
    }
}

void CQueFrame::showEvent(QShowEvent *event)
{
    UpdateCaption();
    CChildFrame::showEvent(event);
}
