#pragma once

#include "base/CDocument.h"
#include "terminal/TermScreen.h"

#include <QList>
#include <QRect>

// The terminal document: the character screen its views draw. Its file holds nothing: opening
// checks that the file can be read and clears the screen, saving leaves an empty file. It is
// never marked modified, so closing a terminal never asks to save. The document manager creates
// it for ".trm" files; its views feed the screen from the meter link.
class CTermDoc : public CDocument
{
    Q_OBJECT
public:
    explicit CTermDoc(QObject *parent = nullptr);

    bool OnOpenDocument(const QString &path) override;
    bool OnSaveDocument(const QString &path) override;

    TermScreen &Screen() { return m_screen; }
    const TermScreen &Screen() const { return m_screen; }
    // Hands the screen's pending repaint list to every view of this document.
    void UpdateViews();

Q_SIGNALS:
    // Cells to repaint, in cell units (x = column, y = row); see TermScreen::TakeRepaint.
    void ScreenChanged(const QList<QRect> &cells);

private:
    TermScreen m_screen;
};
