#include "datalog/DatalogFrame.h"

#include <QEvent>

const QString DatalogFrame::kCaption
    = QStringLiteral("PC   and   FLOW METER   E-LOG   CONTROL   CENTER");

DatalogFrame::DatalogFrame(QWidget *parent)
    : CChildFrame(parent)
{
    setWindowTitle(kCaption);
}

void DatalogFrame::changeEvent(QEvent *event)
{
    // The document manager titles frames with their document's name; this one keeps its own.
    if (event->type() == QEvent::WindowTitleChange && windowTitle() != kCaption)
        setWindowTitle(kCaption);
    CChildFrame::changeEvent(event);
}
