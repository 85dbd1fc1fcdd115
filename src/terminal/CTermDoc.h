#pragma once

#include "base/CDocument.h"
#include "terminal/TermCapture.h"
#include "terminal/TermDisplay.h"
#include "terminal/TermScreen.h"

#include <QList>
#include <QRect>
#include <QTime>

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
    // The screen the views draw: the meter's own, or the timestamp/hex display while one of its
    // toggles is on.
    const TermScreen &ShownScreen() const;
    TermDisplay &Display() { return m_display; }
    const TermDisplay &Display() const { return m_display; }
    TermCapture &Capture() { return m_capture; }
    const TermCapture &Capture() const { return m_capture; }
    // Turns a display toggle on or off; the views repaint the screen they now show.
    void SetTimestamps(bool on);
    void SetHex(bool on);

    // Received bytes, in the order the link gave them: onto the screen (which scans for the
    // identification line), onto the display while a toggle is on, and into the capture file.
    // False when the capture failed and stopped; error then says why.
    bool Receive(const QByteArray &bytes, const QTime &now, QString *error);
    // A view's timer tick: ends the suppression an escape began (on both screens), so what an
    // escape hides lasts until a line feed or the next tick, however the bytes arrived.
    void StartTick();

    // The window's status line: the link's port and speed (with notOpen, why it is not open:
    // "not open" when it is closed, the link's gone text when its device went away), the
    // capture file while capturing, a paste's progress while one is sent.
    QString StatusText(const QString &port, const QString &baud, const QString &notOpen,
        qsizetype pasteSent, qsizetype pasteTotal) const;
    // Hands the screen's pending repaint list to every view of this document.
    void UpdateViews();

Q_SIGNALS:
    // Cells to repaint, in cell units (x = column, y = row); see TermScreen::TakeRepaint.
    void ScreenChanged(const QList<QRect> &cells);
    // A display toggle or the capture changed (the window's status line follows).
    void TerminalStateChanged();

private:
    TermScreen m_screen;
    TermDisplay m_display;
    TermCapture m_capture;
};
