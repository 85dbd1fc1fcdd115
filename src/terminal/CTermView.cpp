#include "terminal/CTermView.h"

#include "base/AppTitle.h"
#include "base/DialogueRunner.h"
#include "base/UserMessage.h"
#include "link/CSerial.h"
#include "terminal/CTermBar.h"
#include "terminal/CTermDoc.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTime>
#include <QTimerEvent>
#include <QWheelEvent>

#include <algorithm>
#include <utility>

namespace {
int s_blinkCounter = 0;

constexpr int kColumns = TermScreen::kColumns;
constexpr int kRows = TermScreen::kRows;

QChar DisplayChar(unsigned char byte)
{
    return TermScreen::DisplayChar(byte);
}

// Keys of the program-wide accelerator table: the main frame turns them into commands, so they
// never reach the meter as characters, even when no main frame is there to take them.
bool IsAccelerator(const QKeyEvent *event)
{
    const Qt::KeyboardModifiers mods = event->modifiers()
        & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier);
    const int key = event->key();
    if (mods & (Qt::AltModifier | Qt::MetaModifier))
        return true; // menu keys (Alt+Backspace is Undo); they produce no character
    if (mods == Qt::ControlModifier) {
        switch (key) {
        case Qt::Key_N:
        case Qt::Key_O:
        case Qt::Key_S:
        case Qt::Key_P:
        case Qt::Key_C:
        case Qt::Key_V:
        case Qt::Key_X:
        case Qt::Key_Z:
        case Qt::Key_Q:
        case Qt::Key_Insert:
            return true;
        default:
            break;
        }
    }
    // Close (Ctrl+W, Ctrl+F4), Save As (Ctrl+Shift+S) and the new-window keys (Ctrl+Shift+T,
    // K, D, Q, M).
    if (mods == Qt::ControlModifier && (key == Qt::Key_W || key == Qt::Key_F4))
        return true;
    if (mods == (Qt::ControlModifier | Qt::ShiftModifier)
        && (key == Qt::Key_T || key == Qt::Key_K || key == Qt::Key_D || key == Qt::Key_Q
            || key == Qt::Key_M || key == Qt::Key_S))
        return true;
    if (mods == Qt::ShiftModifier && (key == Qt::Key_Insert || key == Qt::Key_Delete))
        return true;
    return key == Qt::Key_F6 || key == Qt::Key_Up || key == Qt::Key_Down;
}
} // namespace

CTermView::CTermView(CTermDoc *document, CSerial *link, QWidget *parent)
    : CView(document, parent)
    , m_termDoc(document)
    , m_link(link)
    , m_dialogue(new DialogueRunner(this))
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);

    // "Courier New" at 9 points of this screen; fontconfig puts its metric twin in its place.
    m_font = QFont(QStringLiteral("Courier New"));
    m_font.setStyleHint(QFont::TypeWriter, QFont::PreferDefault);
    m_font.setFixedPitch(true);
    m_font.setPixelSize(std::max(1, logicalDpiY() * 9 / 72));
    m_font.setWeight(QFont::Normal);
    m_font.setKerning(false);
    const QFontMetrics metrics(m_font);
    m_charWidth = std::max(1, metrics.averageCharWidth());
    m_lineHeight = std::max(1, metrics.height() + std::max(0, metrics.leading()));
    m_ascent = metrics.ascent();
    m_rawFont = QRawFont::fromFont(m_font);
    if (m_rawFont.isValid()) {
        for (int b = 0; b < 256; ++b) {
            const QList<quint32> glyph = m_rawFont.glyphIndexesForString(
                QString(DisplayChar(static_cast<unsigned char>(b))));
            m_glyph[b] = glyph.size() == 1 ? glyph.first() : 0;
        }
    }

    m_bar = new CTermBar(this);
    // The scroll bar moves through the scrollback; the keyboard stays with the meter.
    m_scrollBar = new QScrollBar(Qt::Vertical, this);
    m_scrollBar->setFocusPolicy(Qt::NoFocus);
    m_scrollBar->setPageStep(kRows - 1);
    m_scrollBar->setRange(0, 0);
    connect(m_scrollBar, &QScrollBar::valueChanged, this, [this](int value) {
        if (!m_syncing)
            ScrollBy(m_scrollBar->maximum() - value - m_scrollBack);
    });
    m_backMark = new QLabel(QStringLiteral("scrolled back"), this);
    m_backMark->setStyleSheet(QStringLiteral(
        "background: #fff3b0; color: black; border: 1px solid #b09000; padding: 1px 4px;"));
    m_backMark->adjustSize();
    m_backMark->hide();
    if (m_termDoc) {
        connect(m_termDoc, &CTermDoc::ScreenChanged, this, &CTermView::OnScreenChanged);
        connect(m_termDoc, &CTermDoc::TerminalStateChanged, this, &CTermView::RefreshBar);
    }
    connect(QApplication::clipboard(), &QClipboard::dataChanged, this, &CView::CommandStateChanged);
    if (m_link && m_termDoc)
        m_subscription = m_link->Subscribe([this] { PostReceiveStep(); }, [this] { RefreshBar(); });
}

CTermView::~CTermView()
{
    // A greeting waiting between its bytes goes first, while the link and the document are
    // still known.
    delete m_dialogue;
    m_dialogue = nullptr;
    m_subscription.Cancel();
}

void CTermView::OnInitialUpdate()
{
    if (!m_timer.isActive())
        m_timer.start(kReceivePeriodMs, this);
}

bool CTermView::ReceptionRunning() const
{
    return m_subscription.Active();
}

void CTermView::PostReceiveStep()
{
    // Called inside the port reader's step: the screen is drawn from a step of the window's own.
    if (m_stepPosted)
        return;
    m_stepPosted = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_stepPosted = false;
            TakeInput();
        },
        Qt::QueuedConnection);
}

bool CTermView::HandlesCommand(AppCommand command) const
{
    switch (command) {
    case AppCommand::Enter:
        return true;
    case AppCommand::Copy:
        return !m_selection.IsEmpty();
    case AppCommand::Paste: {
        const QMimeData *clip = QApplication::clipboard()->mimeData();
        return !m_paste.Active() && clip && clip->hasText();
    }
    default:
        return CView::HandlesCommand(command);
    }
}

bool CTermView::OnCommand(AppCommand command)
{
    switch (command) {
    case AppCommand::Enter:
        SendByte(13);
        return true;
    case AppCommand::Copy:
        if (!m_selection.IsEmpty())
            QApplication::clipboard()->setText(SelectedText());
        return true;
    case AppCommand::Paste:
        PasteText(QApplication::clipboard()->text());
        return true;
    default:
        return CView::OnCommand(command);
    }
}

QString CTermView::SelectedText() const
{
    return m_termDoc ? m_selection.Text([this](int row) { return ShownRow(row); }) : QString();
}

QByteArray CTermView::ShownRow(int row) const
{
    if (!m_termDoc || row < 0 || row >= kRows)
        return QByteArray();
    const TermScreen &screen = m_termDoc->ShownScreen();
    const TermScrollback &history = screen.History();
    const int back = std::min(m_scrollBack, history.Size());
    const int index = history.Size() - back + row;
    return index < history.Size() ? history.Row(index) : screen.RowText(index - history.Size());
}

void CTermView::FollowHistory()
{
    if (!m_termDoc)
        return;
    const TermScreen &screen = m_termDoc->ShownScreen();
    const qint64 pushed = screen.History().Pushed();
    if (&screen != m_historyOf || pushed < m_historyPushed) {
        // Another screen (a toggle changed): back to its live bottom.
        m_scrollBack = 0;
    } else if (m_scrollBack > 0 && pushed > m_historyPushed) {
        // Rows arrived while scrolled back: stay on the rows shown.
        m_scrollBack = int(
            std::min<qint64>(m_scrollBack + (pushed - m_historyPushed), screen.History().Size()));
        update();
    }
    m_historyOf = &screen;
    m_historyPushed = pushed;
    SyncScrollBar();
}

void CTermView::SyncScrollBar()
{
    if (!m_scrollBar)
        return;
    const int size = m_termDoc ? m_termDoc->ShownScreen().History().Size() : 0;
    m_syncing = true;
    m_scrollBar->setRange(0, size);
    m_scrollBar->setValue(size - std::min(m_scrollBack, size));
    m_syncing = false;
    const bool back = m_scrollBack > 0;
    if (back) {
        m_backMark->setToolTip(QStringLiteral("%1 rows back; type, or press Shift+End, for the "
                                              "live screen")
                                   .arg(m_scrollBack));
        m_backMark->move(kColumns * m_charWidth - m_backMark->width() - 2, 2);
        m_backMark->raise();
    }
    m_backMark->setVisible(back);
}

void CTermView::ScrollBy(int rows)
{
    FollowHistory();
    const int size = m_termDoc ? m_termDoc->ShownScreen().History().Size() : 0;
    const int back = std::clamp(m_scrollBack + rows, 0, size);
    if (back == m_scrollBack)
        return;
    m_scrollBack = back;
    m_selection.Clear();
    SyncScrollBar();
    update();
    Q_EMIT CommandStateChanged();
}

void CTermView::wheelEvent(QWheelEvent *event)
{
    // Three rows a notch; a fine-grained wheel's parts add up to notches.
    m_wheelRemainder += event->angleDelta().y();
    const int notches = m_wheelRemainder / 120;
    m_wheelRemainder -= notches * 120;
    if (notches != 0)
        ScrollBy(3 * notches);
    event->accept();
}

bool CTermView::StartCapture(const QString &path, TermCapture::Mode mode)
{
    if (!m_termDoc)
        return false;
    QString error;
    const bool started = m_termDoc->Capture().Start(path, mode, &error);
    RefreshBar();
    if (!started)
        UserMessage::Show(error);
    return started;
}

void CTermView::StopCapture()
{
    if (m_termDoc)
        m_termDoc->Capture().Stop();
    RefreshBar();
}

bool CTermView::PasteText(const QString &text)
{
    if (m_paste.Active())
        return false;
    if (!m_paste.Start(text)) {
        if (!text.isEmpty()) {
            UserMessage::Show(QStringLiteral("The clipboard holds %1 characters; the terminal "
                                             "pastes at most %2, sent as typed.")
                                  .arg(TermPaste::Bytes(text).size())
                                  .arg(TermPaste::kMaxBytes));
        }
        return false;
    }
    RefreshBar();
    Q_EMIT CommandStateChanged();
    return true;
}

void CTermView::CancelPaste()
{
    m_paste.Cancel();
    RefreshBar();
    Q_EMIT CommandStateChanged();
}

QString CTermView::StatusText() const
{
    if (!m_termDoc)
        return QString();
    // A device that went away is named: the terminal's reads bring it back once it returns.
    const QString notOpen = m_link && m_link->IsOpen() ? QString()
        : m_link && m_link->IsGone()                   ? m_link->GoneText()
                                                       : QStringLiteral("not open");
    return m_termDoc->StatusText(m_link ? m_link->PortText() : QString(),
        m_link ? m_link->BaudText() : QString(), notOpen, m_paste.Sent(),
        m_paste.Active() ? m_paste.Total() : 0);
}

void CTermView::RefreshBar()
{
    if (m_bar)
        m_bar->Refresh();
}

bool CTermView::LinkHeld() const
{
    return m_link && m_link->IsClaimed();
}

void CTermView::StartGreeting(const QByteArray &text)
{
    if (!m_link || m_dialogue->IsRunning())
        return;
    if (!m_link->IsEnabled() || !m_link->IsOpen()) {
        UserMessage::Show(m_link->NotOpenText(), QString::fromLatin1(kAppTitle));
        return;
    }
    m_dialogue->Start(Greeting(text));
}

bool CTermView::GreetingRunning() const
{
    return m_dialogue && m_dialogue->IsRunning();
}

Task<void> CTermView::Greeting(QByteArray text)
{
    // Another window's dialogue goes first: the purges and the text would spoil its exchange.
    const SerialPort::Claim claim = co_await m_link->TakeTurn(*m_dialogue, this);
    if (!claim.Held())
        co_return;
    m_link->PurgeInput();
    co_await m_link->SendStringAsync(*m_dialogue, text);
    m_link->PurgeInput();
}

void CTermView::Tick()
{
    // A paste goes out one character a tick, as typed characters do; it waits while a meter
    // dialogue holds the port.
    if (m_paste.Active() && !(m_link && m_link->IsClaimed())) {
        SendByte(m_paste.Next());
        RefreshBar();
        if (!m_paste.Active())
            Q_EMIT CommandStateChanged();
    }
    if (m_link && !m_heldKeys.isEmpty() && !LinkHeld()) {
        const QByteArray keys = std::exchange(m_heldKeys, QByteArray());
        for (const char key : keys)
            m_link->WriteByte(static_cast<unsigned char>(key));
    }
    // An escape hides what follows it until a line feed or the next tick.
    if (m_termDoc)
        m_termDoc->StartTick();
    CursorStep();
    // The status follows the link as it is now: View > Settings may have reopened it on another
    // port or speed, or closed it.
    if (m_bar && m_bar->StatusText() != StatusText())
        RefreshBar();
}

int CTermView::TakeInput()
{
    if (!m_termDoc || !m_link || !m_link->IsEnabled())
        return 0;
    if (m_subscription.Queued() < kMaxBytesPerTick)
        m_link->DeliverPending(kMaxBytesPerTick - m_subscription.Queued());
    const QByteArray bytes = m_subscription.Take(kMaxBytesPerTick);
    const int taken = int(bytes.size());
    if (m_subscription.Queued() > 0)
        PostReceiveStep(); // the rest after the event loop's turn
    if (taken == 0)
        return 0;
    s_blinkCounter = 0;
    m_bytesReceived += taken;
    QString error;
    if (!m_termDoc->Receive(bytes, QTime::currentTime(), &error)) {
        // Told from the event loop, not from inside the reception's step.
        QMetaObject::invokeMethod(
            this, [error] { UserMessage::Show(error); }, Qt::QueuedConnection);
    }
    return taken;
}

QRect CTermView::CellsToPixels(const QRect &cells) const
{
    return QRect(cells.x() * m_charWidth, cells.y() * m_lineHeight, cells.width() * m_charWidth,
        cells.height() * m_lineHeight);
}

int CTermView::BlinkCounter()
{
    return s_blinkCounter;
}

void CTermView::SetBlinkCounter(int value)
{
    s_blinkCounter = value;
}

QSize CTermView::sizeHint() const
{
    // One pixel row below the last text row carries the cursor underline of row 25; the bar
    // sits below that.
    const QSize bar = m_bar ? m_bar->sizeHint() : QSize();
    const int scroll = m_scrollBar ? m_scrollBar->sizeHint().width() : 0;
    return QSize(std::max(kColumns * m_charWidth + 1 + scroll, bar.width()),
        kRows * m_lineHeight + 2 + bar.height());
}

void CTermView::resizeEvent(QResizeEvent *event)
{
    CView::resizeEvent(event);
    if (m_bar) {
        const int height = m_bar->sizeHint().height();
        m_bar->setGeometry(0, this->height() - height, width(), height);
    }
    if (m_scrollBar) {
        const int screen = kColumns * m_charWidth + 1;
        m_scrollBar->setGeometry(
            screen, 0, m_scrollBar->sizeHint().width(), kRows * m_lineHeight + 2);
    }
}

QPoint CTermView::CellAt(const QPoint &pixel) const
{
    return QPoint(std::clamp(pixel.x() / m_charWidth, 0, kColumns - 1),
        std::clamp(pixel.y() / m_lineHeight, 0, kRows - 1));
}

void CTermView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        CView::mousePressEvent(event);
        return;
    }
    m_selection.Begin(CellAt(event->position().toPoint()));
    update();
    Q_EMIT CommandStateChanged();
}

void CTermView::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;
    m_selection.Extend(CellAt(event->position().toPoint()));
    update();
    Q_EMIT CommandStateChanged();
}

void CTermView::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    for (const QRect &rect : event->region())
        painter.fillRect(rect, Qt::white);
    if (m_termDoc) {
        painter.setFont(m_font);
        painter.setPen(Qt::black);
        const QRect area = event->rect();
        const int firstRow = std::max(0, area.top() / m_lineHeight);
        const int lastRow = std::min(kRows - 1, area.bottom() / m_lineHeight);
        const int firstColumn = std::max(0, area.left() / m_charWidth);
        const int lastColumn = std::min(kColumns - 1, area.right() / m_charWidth);
        QList<quint32> glyphs;
        QList<QPointF> positions;
        for (int row = firstRow; row <= lastRow; ++row) {
            const QByteArray bytes = ShownRow(row);
            const int baseline = row * m_lineHeight + m_ascent;
            const int end = std::min<int>(lastColumn, int(bytes.size()) - 1);
            glyphs.clear();
            positions.clear();
            for (int column = firstColumn; column <= end; ++column) {
                const auto byte = static_cast<unsigned char>(bytes[column]);
                if (DisplayChar(byte) == QLatin1Char(' '))
                    continue;
                if (m_rawFont.isValid() && m_glyph[byte] != 0) {
                    glyphs.append(m_glyph[byte]);
                    positions.append(QPointF(column * m_charWidth, baseline));
                } else {
                    painter.drawText(
                        QPoint(column * m_charWidth, baseline), QString(DisplayChar(byte)));
                }
            }
            if (!glyphs.isEmpty()) {
                QGlyphRun run;
                run.setRawFont(m_rawFont);
                run.setGlyphIndexes(glyphs);
                run.setPositions(positions);
                painter.drawGlyphRun(QPointF(0, 0), run);
            }
        }
    }
    if (!m_selection.IsEmpty()) {
        // Marked cells are shown inverted.
        painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        for (int row = 0; row < kRows; ++row) {
            for (int column = 0; column < kColumns; ++column) {
                if (m_selection.Contains(row, column))
                    painter.fillRect(CellsToPixels(QRect(column, row, 1, 1)), Qt::white);
            }
        }
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
    if (m_cursorShown) {
        const QRect cursor = CursorPixels();
        painter.fillRect(cursor, Qt::black);
    }
}

void CTermView::keyPressEvent(QKeyEvent *event)
{
    // Shift with Page Up, Page Down, Home and End moves through the scrollback.
    if (event->modifiers() == Qt::ShiftModifier) {
        const int page = kRows - 1;
        switch (event->key()) {
        case Qt::Key_PageUp:
            ScrollBy(page);
            return;
        case Qt::Key_PageDown:
            ScrollBy(-page);
            return;
        case Qt::Key_Home:
            ScrollBy(TermScrollback::kDefaultCapacity * 2);
            return;
        case Qt::Key_End:
            ScrollBy(-m_scrollBack);
            return;
        default:
            break;
        }
    }
    if (IsAccelerator(event)) {
        event->ignore();
        return;
    }
    const int key = event->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        SendByte(13);
        return;
    }
    if (key == Qt::Key_Delete) {
        event->ignore(); // the Delete key types no character
        return;
    }
    if ((event->modifiers() & Qt::ControlModifier) && key >= Qt::Key_A && key <= Qt::Key_Z) {
        SendByte(key - Qt::Key_A + 1); // control codes 1..26, whatever the platform's text
        return;
    }
    const QString text = event->text();
    if (text.isEmpty()) {
        CView::keyPressEvent(event);
        return;
    }
    for (const QChar ch : text)
        SendByte(ch.unicode() & 0xFF);
}

void CTermView::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_timer.timerId()) {
        Tick();
        return;
    }
    CView::timerEvent(event);
}

bool CTermView::focusNextPrevChild(bool)
{
    return false; // Tab is a character for the meter, not a focus move
}

void CTermView::OnScreenChanged(const QList<QRect> &cells)
{
    FollowHistory();
    // Scrolled back, the rows shown are the scrollback's: the live screen's changes are not.
    if (m_scrollBack > 0)
        return;
    for (const QRect &range : cells)
        update(CellsToPixels(range));
}

void CTermView::CursorStep()
{
    // The underline sits under the cell the next character goes to, on the top pixel row of the
    // row below (one past the screen for row 25).
    // Scrolled back, the cursor's row is not on view.
    const bool show = (s_blinkCounter & 8) != 0 && m_scrollBack == 0;
    int row = 0;
    int column = 0;
    if (m_termDoc) {
        row = m_termDoc->ShownScreen().Row();
        column = m_termDoc->ShownScreen().Column();
    }
    if (show != m_cursorShown || row != m_cursorRow || column != m_cursorColumn) {
        if (m_cursorShown)
            update(CursorPixels());
        m_cursorShown = show;
        m_cursorRow = row;
        m_cursorColumn = column;
        if (m_cursorShown)
            update(CursorPixels());
    }
    ++s_blinkCounter;
}

QRect CTermView::CursorPixels() const
{
    const int next = m_cursorColumn < kColumns - 1 ? m_cursorColumn + 1 : 0;
    return QRect(next * m_charWidth, (m_cursorRow + 1) * m_lineHeight, m_charWidth, 1);
}

void CTermView::SendByte(int byte)
{
    // Typing for the meter shows the live screen again.
    if (m_scrollBack > 0)
        ScrollBy(-m_scrollBack);
    if (!m_link)
        return;
    // A key typed into a dialogue's exchange would spoil it: it goes out after the dialogue.
    if (LinkHeld() || !m_heldKeys.isEmpty()) {
        if (m_heldKeys.size() < kMaxHeldKeys)
            m_heldKeys.append(char(byte & 0xFF));
        return;
    }
    m_link->WriteByte(byte & 0xFF);
}

#include "moc_CTermView.cpp"
