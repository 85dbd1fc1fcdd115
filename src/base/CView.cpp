#include "base/CView.h"

#include "base/CDocument.h"

CView::CView(CDocument *document, QWidget *parent)
    : QWidget(parent)
    , m_document(document)
{
}

bool CView::HandlesCommand(AppCommand command) const
{
    return command == AppCommand::Close;
}

bool CView::OnCommand(AppCommand command)
{
    if (command == AppCommand::Close) {
        if (m_document)
            Q_EMIT m_document->CloseRequested();
        return true;
    }
    return false;
}
