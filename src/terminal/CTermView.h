#pragma once

#include "base/CView.h"
#include "base/Task.h"
#include "link/SerialPort.h"
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
// The window subscribes to the link (SerialPort::Subscribe): the port's reader queues every
// byte that arrives between dialogues for each subscriber, and the window takes its queue onto
// the screen in steps from the event loop. Created by the terminal document type with the
// application's meter link; every open terminal, and the PC logger, gets every byte. While a
// dialogue holds the link (SerialPort::Claim: a form's list, the datalogger, the greeting) its
// bytes are the dialogue's, and keys typed meanwhile go out once it is free again, as they did
// when a dialogue held the whole program. The mouse marks text for Copy; Paste sends the clipboard
// as typed characters, one a tick. The bar at the bottom holds the display toggles, capture and the
// status line.
class CTermView : public CView
{
    Q_OBJECT
public:
    static constexpr int kReceiveTimerId = 1100;
    static constexpr int kReceivePeriodMs = 40;
    // Bytes put on the screen in one receive step at most, so that a link delivering faster
    // than the window draws still returns to the event loop. What is left stays queued for the
    // next step, posted at once.
    static constexpr int kMaxBytesPerTick = 8192;
    // Keys typed while a dialogue holds the link wait for it, up to this many.
    static constexpr int kMaxHeldKeys = 4096;

    CTermView(CTermDoc *document, CSerial *link, QWidget *parent = nullptr);
    ~CTermView() override;

    void OnInitialUpdate() override;
    bool HandlesCommand(AppCommand command) const override;
    bool OnCommand(AppCommand command) override;

    // One tick of timer 1100: a pasted or held key goes out, the cursor blinks, the status
    // follows the link.
    void Tick();
    // The receive step: has the link deliver what is pending now (unless a dialogue holds it)
    // and takes the window's queue onto the document, at most kMaxBytesPerTick. Returns the
    // number of bytes taken. Posted whenever the link queues bytes for the window.
    int TakeInput();
    // Whether the window is subscribed to its link.
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
    void PostReceiveStep();
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
    SerialPort::Subscription m_subscription; // what the link received for this window
    bool m_stepPosted = false; // a receive step is posted
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
