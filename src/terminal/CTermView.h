#pragma once

#include "base/CView.h"
#include "base/Task.h"
#include "terminal/CTermDoc.h"
#include "terminal/TermPaste.h"
#include "terminal/TermSelection.h"

#include <QBasicTimer>
#include <QFont>
#include <QList>
#include <QPointer>
#include <QRawFont>
#include <QRect>

#include <cstdint>

class CSerial;
class DialogueRunner;
class CTermBar;
class QLabel;
class QScrollBar;

// The terminal window's view: draws its document's 77 x 26 character screen black on white in a
// 9-point fixed font, sends every typed character to the meter at once (no local echo), puts
// what the meter sends on the screen as it arrives, and every 40 ms blinks the underline cursor.
// Reception is a wait for readable input on a runner of the window's own: a byte is taken when
// the event loop learns it is there, not at the next tick. Created by the terminal document type
// with the application's meter link; every open terminal waits on that same link, so a received
// byte shows in whichever window reads it first. While a dialogue holds the link
// (SerialPort::Claim: a form's list, the datalogger, the greeting) the terminal takes nothing
// from it, and keys typed meanwhile go out once it is free again, as they did when a dialogue
// held the whole program. The mouse marks text for Copy; Paste sends the clipboard as typed
// characters, one a tick. The bar at the bottom holds the display toggles, capture and the
// status line.
class CTermView : public CView
{
    Q_OBJECT
public:
    static constexpr int kReceiveTimerId = 1100;
    static constexpr int kReceivePeriodMs = 40;
    // Bytes taken from the link in one receive step at most. The bound only matters for a link
    // that delivers faster than the window can draw, where draining "until nothing is pending"
    // would never return to the event loop. What is left is taken at the next step.
    static constexpr int kMaxBytesPerTick = 8192;
    // The longest single wait for input; the wait is simply begun again after it. A dialogue
    // that takes the link meanwhile is seen when the wait ends, before anything is read.
    static constexpr int kReceiveWaitMs = 1000;
    // Keys typed while a dialogue holds the link wait for it, up to this many.
    static constexpr int kMaxHeldKeys = 4096;

    CTermView(CTermDoc *document, CSerial *link, QWidget *parent = nullptr);
    ~CTermView() override;

    void OnInitialUpdate() override;
    bool HandlesCommand(AppCommand command) const override;
    bool OnCommand(AppCommand command) override;

    // One tick of timer 1100: a pasted or held key goes out, the cursor blinks, the status
    // follows the link, and the reception is started again if it ended (it ends when the
    // link's device changes under a wait).
    void Tick();
    // The receive step: takes what the link has pending now (at most kMaxBytesPerTick) onto
    // the document, unless a dialogue holds the link. Returns the number of bytes taken. The
    // reception calls it when input is readable.
    int TakeInput();
    bool ReceptionRunning() const;
    // Sends text to wake the meter's terminal screens (the New terminal command), purging the
    // input before and after, as a dialogue of this window that waits for the link to be free
    // and holds it meanwhile. A link that is not open is said at once (its name and the
    // system's reason) and nothing is sent.
    void StartGreeting(const QByteArray &text);
    bool GreetingRunning() const;
    // Keys typed while the link was held, not yet sent.
    QByteArray HeldKeys() const { return m_heldKeys; }
    bool IsTimerRunning() const { return m_timer.isActive(); }

    CTermDoc *Document() const { return m_termDoc.data(); }
    CSerial *Link() const { return m_link; }
    int CharWidth() const { return m_charWidth; }
    int LineHeight() const { return m_lineHeight; }
    const QFont &TermFont() const { return m_font; }
    bool CursorShown() const { return m_cursorShown; }
    // True when the font's own glyphs are placed cell by cell in one call per row; otherwise
    // (no usable raw font) each cell is drawn with its own text call.
    bool DrawsRowsAtOnce() const { return m_rawFont.isValid(); }
    // Bytes this view has taken from the link since it was created.
    qint64 BytesReceived() const { return m_bytesReceived; }
    // Pixel rectangle of a range of cells (x = column, y = row, in cells).
    QRect CellsToPixels(const QRect &cells) const;

    // Scrollback: rows scrolled back from the live screen (0 = the live screen at the bottom);
    // the wheel and Shift+PageUp/PageDown move it, any key typed for the meter ends it. While
    // scrolled back the view stays on the rows it shows as new ones arrive.
    int ScrollBack() const { return m_scrollBack; }
    void ScrollBy(int rows);
    // The bytes of a shown row, 0..25, from the scrollback or the screen.
    QByteArray ShownRow(int row) const;
    // Beside the screen: the scroll bar over the scrollback and the screen (at its bottom while
    // the live screen shows), and the "scrolled back" mark, shown while it is not.
    QScrollBar *ScrollBar() const { return m_scrollBar; }
    QLabel *BackMark() const { return m_backMark; }

    // The blink counter shared by all terminal windows: bit 3 set shows the cursor; every
    // received byte sets it back to 0, every tick adds one.
    static int BlinkCounter();
    static void SetBlinkCounter(int value);

    QSize sizeHint() const override;

    // Capture of what the document receives, started and stopped here so that a file that
    // cannot be written is told to the user; false when it did not start.
    bool StartCapture(const QString &path, TermCapture::Mode mode);
    void StopCapture();
    // Sends text as typed, one byte a tick; refused with a message above TermPaste::kMaxBytes.
    bool PasteText(const QString &text);
    void CancelPaste();
    bool PasteActive() const { return m_paste.Active(); }
    const TermPaste &Paste() const { return m_paste; }
    const TermSelection &Selection() const { return m_selection; }
    QString SelectedText() const;
    CTermBar *Bar() const { return m_bar; }
    QString StatusText() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    bool focusNextPrevChild(bool next) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void OnScreenChanged(const QList<QRect> &cells);
    void CursorStep();
    QRect CursorPixels() const;
    void SendByte(int byte);
    bool LinkHeld() const;
    Task<void> Greeting(QByteArray text);
    // Waits for readable input and takes it, for the window's life (until cancelled).
    Task<void> Reception();
    void StartReception();
    QPoint CellAt(const QPoint &pixel) const;
    void RefreshBar();
    void FollowHistory();
    // Brings the scroll bar and the mark in line with the scrollback.
    void SyncScrollBar();

    QPointer<CTermDoc> m_termDoc; // the document manager may delete it first
    CSerial *m_link = nullptr;
    QFont m_font;
    int m_charWidth = 8;
    int m_lineHeight = 16;
    int m_ascent = 12;
    // The font's glyphs, for placing a row's characters at their cells in one call (the real
    // advance is fractional, so drawing a row as text would drift off the cell grid), and each
    // byte's glyph, 0 where the font has none and the byte is drawn as text (font fallback).
    QRawFont m_rawFont;
    quint32 m_glyph[256] = {};
    QBasicTimer m_timer;
    DialogueRunner *m_dialogue = nullptr; // the greeting
    DialogueRunner *m_reception = nullptr; // of Reception
    std::intptr_t m_receptionHandle = -1; // what the reception's wait watches, -1 none
    QByteArray m_heldKeys;
    bool m_cursorShown = false;
    int m_cursorRow = 0;
    int m_cursorColumn = 0;
    qint64 m_bytesReceived = 0;
    int m_scrollBack = 0;
    // The shown screen's scrollback as last seen: which screen and how many rows it had taken.
    const TermScreen *m_historyOf = nullptr;
    qint64 m_historyPushed = 0;
    int m_wheelRemainder = 0;
    TermPaste m_paste;
    TermSelection m_selection;
    CTermBar *m_bar = nullptr;
    QScrollBar *m_scrollBar = nullptr;
    QLabel *m_backMark = nullptr;
    bool m_syncing = false; // the scroll bar is being set, not moved by the user
};
