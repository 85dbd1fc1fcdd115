#include "terminal/CTermView.h"

#include "base/DialogueRunner.h"
#include "base/Globals.h"
#include "base/UserMessage.h"
#include "link/CSerial.h"
#include "terminal/CTermDoc.h"

#include <QFontMetrics>
#include <QGlyphRun>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QTimerEvent>

#include <algorithm>
#include <utility>

namespace {
int s_blinkCounter = 0;

constexpr int kColumns = TermScreen::kColumns;
constexpr int kRows = TermScreen::kRows;

// How a received byte looks on the screen: the Windows-1252 character it stands for (what
// meters were drawn with), a blank for control codes and unassigned values. The screen text
// itself keeps the byte.
QChar DisplayChar(unsigned char byte)
{
    // clang-format off
    static const char16_t kHigh[32] = {
        0x20AC, 0x0020, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x0020, 0x017D, 0x0020,
        0x0020, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x0020, 0x017E, 0x0178,
    };
    // clang-format on
    if (byte < 0x20 || byte == 0x7F)
        return QLatin1Char(' ');
    if (byte >= 0x80 && byte < 0xA0)
        return QChar(kHigh[byte - 0x80]);
    return QLatin1Char(char(byte));
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
        case Qt::Key_Insert:
            return true;
        default:
            break;
        }
    }
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

    if (m_termDoc)
        connect(m_termDoc, &CTermDoc::ScreenChanged, this, &CTermView::OnScreenChanged);
}

CTermView::~CTermView()
{
    // A greeting waiting between its bytes goes first, while the link is still known.
    delete m_dialogue;
    m_dialogue = nullptr;
}

void CTermView::OnInitialUpdate()
{
    if (!m_timer.isActive())
        m_timer.start(kReceivePeriodMs, this);
}

bool CTermView::HandlesCommand(AppCommand command) const
{
    return command == AppCommand::Enter || CView::HandlesCommand(command);
}

bool CTermView::OnCommand(AppCommand command)
{
    if (command == AppCommand::Enter) {
        SendByte(13);
        return true;
    }
    return CView::OnCommand(command);
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
    while (LinkHeld()) {
        co_await m_dialogue->Sleep(kReceivePeriodMs);
        if (m_dialogue->Cancelled())
            co_return;
    }
    SerialPort::Claim claim(m_link, this);
    m_link->PurgeInput();
    co_await m_link->SendStringAsync(*m_dialogue, text);
    m_link->PurgeInput();
}

int CTermView::Tick()
{
    int taken = 0;
    if (!m_heldKeys.isEmpty() && !LinkHeld()) {
        const QByteArray keys = std::exchange(m_heldKeys, QByteArray());
        for (const char key : keys)
            m_link->WriteByte(static_cast<unsigned char>(key));
    }
    // A dialogue holding the link takes its replies itself.
    if (m_termDoc && !LinkHeld()) {
        TermScreen &screen = m_termDoc->Screen();
        screen.StartTick();
        unsigned char byte = 0;
        while (m_link && taken < kMaxBytesPerTick && m_link->ReadByte(&byte) == 1) {
            s_blinkCounter = 0;
            screen.Put(byte);
            ++taken;
        }
        m_bytesReceived += taken;
        m_termDoc->UpdateViews();
    }
    CursorStep();
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
    // One pixel row below the last text row carries the cursor underline of row 25.
    return QSize(kColumns * m_charWidth + 1, kRows * m_lineHeight + 2);
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
        const TermScreen &screen = m_termDoc->Screen();
        QList<quint32> glyphs;
        QList<QPointF> positions;
        for (int row = firstRow; row <= lastRow; ++row) {
            const QByteArray bytes = screen.RowText(row);
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
    if (m_cursorShown) {
        const QRect cursor = CursorPixels();
        painter.fillRect(cursor, Qt::black);
    }
}

void CTermView::keyPressEvent(QKeyEvent *event)
{
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
    for (const QRect &range : cells)
        update(CellsToPixels(range));
}

void CTermView::CursorStep()
{
    // The underline sits under the cell the next character goes to, on the top pixel row of the
    // row below (one past the screen for row 25).
    const bool show = (s_blinkCounter & 8) != 0;
    int row = 0;
    int column = 0;
    if (m_termDoc) {
        row = m_termDoc->Screen().Row();
        column = m_termDoc->Screen().Column();
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
