#include "terminal/CTermView.h"

#include "app/CommSettings.h"
#include "base/AppServices.h"
#include "base/Globals.h"
#include "base/MeterSession.h"
#include "base/UserMessage.h"
#include "link/CSerial.h"
#include "meter/ZarnFormFrame.h"
#include "support/PtyPair.h"
#include "support/RunToEnd.h"
#include "support/TestEnv.h"
#include "terminal/CTermBar.h"
#include "terminal/CTermDoc.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMdiArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include <unistd.h>

namespace {

// "row 1" ... "row N", a line each.
QByteArray RowLines(int count)
{
    QByteArray bytes;
    for (int i = 1; i <= count; ++i)
        bytes += "row " + QByteArray::number(i) + "\r\n";
    return bytes;
}

QString TerminalFile()
{
    return TestEnv::WorkDir() + QStringLiteral("/Terminal.trm");
}

// A terminal document and view on a meter link whose far end the test plays.
class TermViewTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetGlobals();
        CTermView::SetBlinkCounter(0);
        ASSERT_TRUE(m_pty.IsValid());
        m_link = std::make_unique<CSerial>(m_pty.SlavePath());
        m_link->SetPortText(m_pty.SlavePath());
        m_link->SetBaudText(QStringLiteral("115200"));
        ASSERT_EQ(m_link->OpenPort(), 1) << qPrintable(m_link->LastError());
        ASSERT_TRUE(m_doc.OnOpenDocument(TerminalFile()));
        m_view = std::make_unique<CTermView>(&m_doc, m_link.get());
    }
    void TearDown() override { ResetGlobals(); }

    // Runs the event loop until the view has taken count more bytes from what its link's reader
    // delivered, or two seconds passed. Returns the bytes taken.
    static int TakeUntil(CTermView &view, int count)
    {
        const qint64 from = view.BytesReceived();
        TestEnv::WaitUntil([&] { return view.BytesReceived() - from >= count; }, 2000);
        return int(view.BytesReceived() - from);
    }
    // Runs the event loop until the window's timer has ticked `ticks` more times.
    static bool WaitForTicks(int ticks)
    {
        const int until = CTermView::BlinkCounter() + ticks;
        return TestEnv::WaitUntil([until] { return CTermView::BlinkCounter() >= until; }, 5000);
    }

    void SendKey(int key, Qt::KeyboardModifiers modifiers, const QString &text)
    {
        QKeyEvent event(QEvent::KeyPress, key, modifiers, text);
        QApplication::sendEvent(m_view.get(), &event);
    }

    PtyPair m_pty;
    std::unique_ptr<CSerial> m_link;
    CTermDoc m_doc;
    std::unique_ptr<CTermView> m_view;
};

struct KeyCase
{
    const char *name;
    int key;
    Qt::KeyboardModifiers modifiers;
    QString text;
    QByteArray sent;
};

void PrintTo(const KeyCase &c, std::ostream *os)
{
    *os << c.name;
}

class TermViewKeys : public TermViewTest, public ::testing::WithParamInterface<KeyCase>
{
};

TEST_P(TermViewKeys, GoToTheMeterWithoutEcho)
{
    const KeyCase &c = GetParam();
    SendKey(c.key, c.modifiers, c.text);
    const int wait = c.sent.isEmpty() ? 100 : 2000;
    EXPECT_EQ(m_pty.ReceiveCount(qMax<int>(1, int(c.sent.size())), wait), c.sent);
    EXPECT_TRUE(m_pty.ReceiveCount(1, 30).isEmpty()) << "sent more than one key's worth";
    m_view->Tick();
    EXPECT_EQ(m_doc.Screen().Text(), QByteArray(2002, ' ')) << "typed keys are not echoed";
}

const KeyCase kKeyCases[] = {
    { "Letter", Qt::Key_A, Qt::NoModifier, "a", "a" },
    { "ShiftedLetter", Qt::Key_A, Qt::ShiftModifier, "A", "A" },
    { "Digit", Qt::Key_7, Qt::NoModifier, "7", "7" },
    { "Return", Qt::Key_Return, Qt::NoModifier, "\r", "\r" },
    { "KeypadEnter", Qt::Key_Enter, Qt::KeypadModifier, "\r", "\r" },
    { "Backspace", Qt::Key_Backspace, Qt::NoModifier, "\b", "\b" },
    { "Tab", Qt::Key_Tab, Qt::NoModifier, "\t", "\t" },
    { "Escape", Qt::Key_Escape, Qt::NoModifier, "\x1b", "\x1b" },
    { "LeftBracket", Qt::Key_BracketLeft, Qt::NoModifier, "[", "[" },
    { "ControlLetterWithoutText", Qt::Key_A, Qt::ControlModifier, "", "\x01" },
    { "ControlLetterWithText", Qt::Key_R, Qt::ControlModifier, "\x12", "\x12" },
    { "Latin1Letter", Qt::Key_Eacute, Qt::NoModifier, QString(QChar(0xE9)), "\xe9" },
    // Accelerators become commands; they never reach the meter.
    { "SaveAccelerator", Qt::Key_S, Qt::ControlModifier, "\x13", "" },
    { "CopyAccelerator", Qt::Key_C, Qt::ControlModifier, "\x03", "" },
    { "AltLetter", Qt::Key_X, Qt::AltModifier, "x", "" },
    { "UndoAccelerator", Qt::Key_Backspace, Qt::AltModifier, "\b", "" },
    { "ArrowUp", Qt::Key_Up, Qt::NoModifier, "", "" },
    { "F6", Qt::Key_F6, Qt::NoModifier, "", "" },
    { "Delete", Qt::Key_Delete, Qt::NoModifier, "\x7f", "" },
    { "ShiftAlone", Qt::Key_Shift, Qt::ShiftModifier, "", "" },
};

INSTANTIATE_TEST_SUITE_P(CTermView, TermViewKeys, ::testing::ValuesIn(kKeyCases),
    [](const auto &param) { return std::string(param.param.name); });

TEST_F(TermViewTest, EnterCommandSendsCarriageReturn)
{
    EXPECT_TRUE(m_view->HandlesCommand(AppCommand::Enter));
    EXPECT_FALSE(m_view->HandlesCommand(AppCommand::Print));
    EXPECT_FALSE(m_view->HandlesCommand(AppCommand::PrintPreview));
    EXPECT_TRUE(m_view->OnCommand(AppCommand::Enter));
    EXPECT_EQ(m_pty.ReceiveCount(1, 2000), QByteArray("\r"));
}

TEST_F(TermViewTest, ReceivedScreenAndIdentification)
{
    const QByteArray meter = "\x1b\nHalvren Flow Meter\r\n500 v4.1A Rev.C Range#2\r\n>";
    ASSERT_TRUE(m_pty.Send(meter));
    EXPECT_EQ(TakeUntil(*m_view, int(meter.size())), meter.size());
    EXPECT_EQ(m_view->BytesReceived(), meter.size());
    EXPECT_EQ(m_doc.Screen().RowText(0).trimmed(), QByteArray("Halvren Flow Meter"));
    EXPECT_EQ(m_doc.Screen().RowText(1).trimmed(), QByteArray("500 v4.1A Rev.C Range#2"));
    EXPECT_EQ(m_doc.Screen().Row(), 2);
    EXPECT_EQ(m_doc.Screen().Column(), 1);
    EXPECT_EQ(AppServices::Meter().Model(), "500");
    EXPECT_EQ(AppServices::Meter().Version(), "4.1A");
    EXPECT_EQ(AppServices::Meter().Revision(), "C");
    EXPECT_EQ(AppServices::Meter().Range(), "2");
}

// Two terminals on one link each show every byte, whichever window's step read it.
TEST_F(TermViewTest, TwoTerminalsEachShowEveryByte)
{
    CTermDoc otherDoc;
    ASSERT_TRUE(otherDoc.OnOpenDocument(TerminalFile()));
    CTermView other(&otherDoc, m_link.get());

    ASSERT_TRUE(m_pty.Send("ABC"));
    // Without the event loop turning, so that this window's own step reads them: the device is
    // polled for the condition, with a bound as long as WaitUntil's for a busy machine.
    const QDeadlineTimer until(60000);
    while (m_link->PendingCount(1) < 3 && !until.hasExpired())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(m_view->TakeInput(), 3); // read by this window's step, queued for both
    EXPECT_EQ(other.TakeInput(), 3);
    ASSERT_TRUE(m_pty.Send("XYZ"));
    EXPECT_TRUE(TestEnv::WaitUntil(
        [&] { return m_view->BytesReceived() == 6 && other.BytesReceived() == 6; }, 2000));

    EXPECT_EQ(m_doc.Screen().RowText(0).trimmed(), QByteArray("ABCXYZ"));
    EXPECT_EQ(otherDoc.Screen().RowText(0).trimmed(), QByteArray("ABCXYZ"));
    EXPECT_EQ(m_view->BytesReceived(), 6);
    EXPECT_EQ(other.BytesReceived(), 6);
}

TEST_F(TermViewTest, DisabledLinkLeavesScreenAndSendsNothing)
{
    m_link->SetEnabled(0);
    ASSERT_TRUE(m_pty.Send("\x1b\nmeter text"));
    // The event loop turns meanwhile: the link's reader leaves a disabled port alone.
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return m_link->PendingCount(1) == 12; }, 2000));
    EXPECT_EQ(m_view->TakeInput(), 0);
    EXPECT_EQ(m_doc.Screen().Text(), QByteArray(2002, ' '));
    SendKey(Qt::Key_Q, Qt::NoModifier, "q");
    EXPECT_TRUE(m_view->OnCommand(AppCommand::Enter));
    EXPECT_TRUE(m_pty.ReceiveCount(1, 100).isEmpty());

    // Nothing was taken while disabled: the bytes wait for the link to come back.
    m_link->SetEnabled(1);
    EXPECT_EQ(TakeUntil(*m_view, 12), 12);
    EXPECT_EQ(m_doc.Screen().RowText(0).trimmed(), QByteArray("meter text"));
}

TEST_F(TermViewTest, NoLinkAtAllIsQuiet)
{
    CTermView orphan(&m_doc, nullptr);
    orphan.OnInitialUpdate();
    EXPECT_FALSE(orphan.ReceptionRunning());
    EXPECT_EQ(orphan.TakeInput(), 0);
    orphan.Tick();
    SendKey(Qt::Key_A, Qt::NoModifier, "a");
    EXPECT_TRUE(orphan.OnCommand(AppCommand::Enter));
    EXPECT_EQ(m_doc.Screen().Text(), QByteArray(2002, ' '));
}

// Cursor: hidden for 8 ticks, shown for 8; every received byte hides it for 8 ticks again.
TEST_F(TermViewTest, CursorBlinksAndHidesAfterEachByte)
{
    QString seen;
    for (int tick = 0; tick < 20; ++tick) {
        m_view->Tick();
        seen += m_view->CursorShown() ? QLatin1Char('#') : QLatin1Char('.');
    }
    EXPECT_EQ(seen, QStringLiteral("........########...."));

    ASSERT_TRUE(m_pty.Send("x"));
    seen.clear();
    EXPECT_EQ(TakeUntil(*m_view, 1), 1);
    m_view->Tick();
    seen += m_view->CursorShown() ? QLatin1Char('#') : QLatin1Char('.');
    for (int tick = 0; tick < 9; ++tick) {
        m_view->Tick();
        seen += m_view->CursorShown() ? QLatin1Char('#') : QLatin1Char('.');
    }
    EXPECT_EQ(seen, QStringLiteral("........##"));
}

// The window's reception takes bytes as they arrive, from the event loop.
TEST_F(TermViewTest, ReceptionTakesWhatArrives)
{
    m_view->OnInitialUpdate();
    EXPECT_TRUE(m_view->IsTimerRunning());
    EXPECT_TRUE(m_view->ReceptionRunning());
    ASSERT_TRUE(m_pty.Send("timer"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_view->BytesReceived() == 5; }, 3000));
    EXPECT_EQ(m_doc.Screen().RowText(0).trimmed(), QByteArray("timer"));
}

TEST_F(TermViewTest, FontAndCellsFitTheSmallFrame)
{
    EXPECT_EQ(m_view->TermFont().weight(), QFont::Normal);
    EXPECT_TRUE(QFontInfo(m_view->TermFont()).fixedPitch());
    EXPECT_GE(m_view->CharWidth(), 5);
    EXPECT_GE(m_view->LineHeight(), 10);
    QMdiArea area;
    area.resize(1000, 800);
    auto *frame = new ZarnFormFrame(g_DocKind);
    auto *view = new CTermView(&m_doc, m_link.get());
    frame->SetView(view);
    area.addSubWindow(frame);
    frame->setGeometry(ZarnFormFrame::kSmallGeometry);
    area.show();
    frame->show();
    QCoreApplication::processEvents();
    EXPECT_GE(view->width(), 77 * view->CharWidth()) << "columns clipped";
    EXPECT_GE(view->height(), 26 * view->LineHeight() + 1) << "rows clipped";
    const QByteArray meter = "\x1b\n" + QByteArray(76, 'W') + "\r\n" + RowLines(24) + "last row";
    ASSERT_TRUE(m_pty.Send(meter));
    EXPECT_EQ(TakeUntil(*view, int(meter.size())), meter.size());
    EXPECT_EQ(m_doc.Screen().RowText(25).trimmed(), QByteArray("last row"));
    const QString png = qEnvironmentVariable("TARVIK_TERMINAL_FRAME_PNG");
    if (!png.isEmpty())
        area.grab().save(png);
}

// Dark pixels in a cell, read from a grab of the view.
int DarkPixels(const QImage &image, const QRect &area)
{
    int dark = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (qGray(image.pixel(x, y)) < 128)
                ++dark;
        }
    }
    return dark;
}

TEST_F(TermViewTest, PaintsCharactersAndCursorAtFixedCells)
{
    const QByteArray meter = "\x1b\n"
                             "Halvren Instruments     Thermal Mass Flow Meter\r\n"
                             "500 v4.1A Rev.C Range#2     S/N 41A-0731\r\n"
                             "\r\n"
                             " 1) Display   2) Ranges   3) Outputs   4) Alarms\r\n"
                             " 5) Calibrate 6) Logger   7) Totalizer 8) Run mode\r\n"
                             "\r\n"
                             "Select:";
    m_view->resize(m_view->sizeHint());
    ASSERT_TRUE(m_pty.Send(meter));
    ASSERT_EQ(TakeUntil(*m_view, int(meter.size())), meter.size());
    CTermView::SetBlinkCounter(8);
    m_view->Tick(); // cursor shown
    ASSERT_TRUE(m_view->CursorShown());

    const QImage image = m_view->grab().toImage();
    const QString png = qEnvironmentVariable("TARVIK_TERMINAL_PNG");
    if (!png.isEmpty())
        image.save(png);
    const int w = m_view->CharWidth();
    const int h = m_view->LineHeight();
    auto cell = [&](int column, int row) { return QRect(column * w, row * h + 1, w, h - 1); };
    EXPECT_GT(DarkPixels(image, cell(1, 0)), 0) << "'H' of row 0";
    EXPECT_GT(DarkPixels(image, cell(1, 1)), 0) << "'5' of row 1";
    EXPECT_EQ(DarkPixels(image, cell(0, 0)), 0) << "column 0 is never written here";
    EXPECT_EQ(DarkPixels(image, cell(60, 10)), 0) << "blank cell";
    EXPECT_EQ(DarkPixels(image, cell(4, 1)), 0) << "blank between words";
    EXPECT_GT(DarkPixels(image, cell(6, 1)), 0) << "'4' of 4.1A at its fixed cell";
    // "Select:" ends at column 7 of row 6: the underline sits under column 8, on the top
    // pixel row of row 7.
    EXPECT_EQ(m_doc.Screen().Row(), 6);
    EXPECT_EQ(m_doc.Screen().Column(), 7);
    EXPECT_EQ(DarkPixels(image, QRect(8 * w, 7 * h, w, 1)), w);
    EXPECT_EQ(DarkPixels(image, QRect(9 * w, 7 * h, w, 1)), 0);

    CTermView::SetBlinkCounter(0);
    m_view->Tick(); // cursor hidden again
    const QImage hidden = m_view->grab().toImage();
    EXPECT_EQ(DarkPixels(hidden, QRect(8 * w, 7 * h, w, 1)), 0);
}

} // namespace

namespace {

// While a dialogue holds the link (a form's list, the datalogger) the terminal takes none of
// what arrives and sends none of the keys typed; once the link is free its tick takes the bytes
// and the held keys go out in the order typed.
TEST_F(TermViewTest, LeavesAHeldLinkAloneAndSendsTheHeldKeysAfter)
{
    const QByteArray reply("SELECT: reply for the dialogue");
    m_view->OnInitialUpdate(); // the window's reception and ticks run throughout
    {
        const int dialogue = 0;
        SerialPort::Claim claim(m_link.get(), &dialogue);
        ASSERT_TRUE(claim.Held());
        ASSERT_TRUE(m_pty.Send(reply));
        SendKey(Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
        SendKey(Qt::Key_B, Qt::NoModifier, QStringLiteral("b"));
        m_view->OnCommand(AppCommand::Enter);
        ASSERT_TRUE(
            TestEnv::WaitUntil([&] { return m_link->PendingCount(1) == int(reply.size()); }, 2000));
        ASSERT_TRUE(WaitForTicks(5));
        EXPECT_EQ(m_view->TakeInput(), 0);
        EXPECT_TRUE(m_pty.Receive(150).isEmpty());
        EXPECT_EQ(m_view->HeldKeys(), QByteArray("ab\r"));
        EXPECT_EQ(m_view->BytesReceived(), 0);
        EXPECT_EQ(m_link->PendingCount(1), int(reply.size())); // all still there for its reader
    }
    EXPECT_TRUE(TestEnv::WaitUntil([&] { return m_view->BytesReceived() == reply.size(); }, 3000));
    EXPECT_EQ(m_pty.Receive(300), QByteArray("ab\r"));
    EXPECT_TRUE(m_view->HeldKeys().isEmpty());
    EXPECT_TRUE(m_doc.Screen().Text().contains(reply));
}

// The New terminal greeting is a dialogue of the window: it waits for another window's dialogue
// to let the link go, holds the link while it sends (the terminal's tick takes nothing then),
// and on a link that is not open says so at once, naming the port, and sends nothing.
TEST_F(TermViewTest, GreetingWaitsForTheLinkAndSaysWhenThePortIsNotOpen)
{
    m_view->OnInitialUpdate(); // the window's own 40 ms ticks run throughout
    auto dialogue = std::make_unique<SerialPort::Claim>(m_link.get(), this);
    m_view->StartGreeting(QByteArrayLiteral("[[[[[[["));
    EXPECT_TRUE(m_view->GreetingRunning());
    ASSERT_TRUE(WaitForTicks(4));
    EXPECT_TRUE(m_pty.Receive(50).isEmpty()); // the other dialogue still holds the link
    dialogue.reset();
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_link->IsClaimed(); }, 2000));
    ASSERT_TRUE(m_pty.Send("early"));
    ASSERT_TRUE(QTest::qWaitFor([this] { return !m_view->GreetingRunning(); }, 3000));
    EXPECT_EQ(m_view->BytesReceived(), 0);
    EXPECT_FALSE(m_link->IsClaimed());
    EXPECT_EQ(m_pty.Receive(300), QByteArray("[[[[[[["));

    QStringList messages;
    const auto old = UserMessage::SetHandler(
        [&messages](const QString &text, const QString &) { messages.append(text); });
    m_link->ClosePort();
    m_view->StartGreeting(QByteArrayLiteral("[[[[[[["));
    UserMessage::SetHandler(old);
    EXPECT_FALSE(m_view->GreetingRunning());
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(m_pty.SlavePath())) << qPrintable(messages[0]);
    EXPECT_TRUE(m_pty.Receive(200).isEmpty());
}

} // namespace

// Rows off the screen come back by wheel and Shift+PageUp, stay put as more arrive, and a typed key
// brings the live screen back; the toggled views show the same history.
TEST_F(TermViewTest, ScrollbackThroughWheelAndShiftPageUp)
{
    m_view->resize(m_view->sizeHint());
    m_view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_view.get()));
    QString error;
    ASSERT_TRUE(m_doc.Receive("\x1b\n" + RowLines(60), QTime(12, 0), &error));
    // 60 rows on a 26-row screen whose last row is the cursor's: "row 1" .. "row 35" have left.
    const TermScrollback &history = m_doc.Screen().History();
    ASSERT_EQ(history.Size(), 35);
    EXPECT_EQ(history.Row(34).trimmed(), QByteArray("row 35"));
    EXPECT_EQ(m_view->ShownRow(0).trimmed(), QByteArray("row 36"));

    // The scroll bar stands at the bottom of the history; the mark shows only while back.
    QScrollBar *bar = m_view->ScrollBar();
    EXPECT_TRUE(bar->isVisible() && bar->value() == 35 && bar->maximum() == 35);
    QWheelEvent up(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, 120), Qt::NoButton,
        Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(m_view.get(), &up);
    EXPECT_EQ(m_view->ScrollBack(), 3);
    EXPECT_TRUE(bar->value() == 32 && m_view->BackMark()->isVisible());
    bar->setValue(25); // dragged by the user
    EXPECT_EQ(m_view->ScrollBack(), 10);
    bar->setValue(35);
    EXPECT_FALSE(m_view->BackMark()->isVisible());
    QApplication::sendEvent(m_view.get(), &up);
    EXPECT_EQ(m_view->ShownRow(0).trimmed(), QByteArray("row 33"));
    SendKey(Qt::Key_PageUp, Qt::ShiftModifier, QString());
    EXPECT_EQ(m_view->ScrollBack(), 28);
    SendKey(Qt::Key_PageUp, Qt::ShiftModifier, QString());
    EXPECT_EQ(m_view->ScrollBack(), 35) << "no further back than the history";
    EXPECT_EQ(m_view->ShownRow(0).trimmed(), QByteArray("row 1"));
    EXPECT_FALSE(m_view->CursorShown());
    QTest::mousePress(m_view.get(), Qt::LeftButton, {}, QPoint(1, m_view->LineHeight() / 2));
    QTest::mouseMove(m_view.get(), QPoint(76 * m_view->CharWidth(), m_view->LineHeight() * 3 / 2));
    EXPECT_EQ(m_view->SelectedText(), QStringLiteral("row 1\nrow 2"));

    ASSERT_TRUE(m_doc.Receive("more\r\nand more\r\n", QTime(12, 1), &error));
    EXPECT_EQ(m_view->ShownRow(0).trimmed(), QByteArray("row 1"));
    SendKey(Qt::Key_PageDown, Qt::ShiftModifier, QString());
    EXPECT_EQ(m_view->ScrollBack(), 37 - 25);

    EXPECT_EQ(bar->value(), 37 - 12) << "two more rows in the history";
    SendKey(Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    EXPECT_EQ(m_view->ScrollBack(), 0);
    EXPECT_EQ(m_pty.ReceiveCount(1, 2000), QByteArray("a"));
    EXPECT_EQ(m_view->ShownRow(TermScreen::kRows - 2).trimmed(), QByteArray("and more"));

    m_doc.SetHex(true);
    EXPECT_EQ(m_view->ScrollBack(), 0);
    const TermScreen &shown = m_doc.ShownScreen();
    ASSERT_NE(&shown, &m_doc.Screen());
    EXPECT_GT(shown.History().Size(), 30) << "the hex view starts with the history";
    const QByteArray last = m_view->ShownRow(TermScreen::kRows - 2);
    EXPECT_TRUE(last.startsWith(" 61 6E 64 20 6D 6F 72 65 0D 0A")) << last.constData();
    EXPECT_TRUE(last.trimmed().endsWith("and more..")) << last.constData();
    m_doc.SetHex(false);
    m_doc.SetTimestamps(true);
    EXPECT_EQ(
        m_view->ShownRow(TermScreen::kRows - 2).trimmed(), QByteArray("12:01:00.000 and more"));
    EXPECT_EQ(m_doc.ShownScreen().History().Row(0).trimmed(), QByteArray("12:00:00.000"));
}

// The status line follows the link through View > Settings' reopen without a click on the bar.
TEST_F(TermViewTest, StatusFollowsThePortReopenedElsewhere)
{
    EXPECT_TRUE(m_view->Bar()->StatusText().contains(m_pty.SlavePath()));
    PtyPair other;
    ASSERT_TRUE(other.IsValid());
    CommSettings::ApplyTerminalPort(*m_link, other.SlavePath(), QStringLiteral("9600"));
    ASSERT_TRUE(m_link->IsOpen());
    m_view->Tick();
    const QString status = m_view->Bar()->StatusText();
    EXPECT_TRUE(status.contains(other.SlavePath())) << qPrintable(status);
    EXPECT_TRUE(status.contains(QStringLiteral("9600"))) << qPrintable(status);
    m_link->ClosePort();
    m_view->Tick();
    EXPECT_TRUE(m_view->Bar()->StatusText().contains(QStringLiteral("not open")));

    // The device behind a by-id style name goes away: the status names it; back under the same
    // name, the terminal's own reads open it again.
    QTemporaryDir names;
    const QString name = names.filePath(QStringLiteral("adapter"));
    auto far = std::make_unique<PtyPair>();
    ASSERT_TRUE(QFile::link(far->SlavePath(), name));
    CommSettings::ApplyTerminalPort(*m_link, name, QStringLiteral("9600"));
    ASSERT_TRUE(m_link->IsOpen());
    m_view->OnInitialUpdate(); // the window's own reception notices, and its tick shows it
    // As on an unplug, the name goes with the device: the terminal's attempts to open it again
    // never reach the freed pseudo-terminal's number, which the next test process to ask for
    // a pseudo-terminal gets.
    ASSERT_TRUE(QFile::remove(name));
    far.reset();
    const QString gone
        = name + QStringLiteral(" is gone: the adapter was unplugged or the device closed");
    EXPECT_TRUE(TestEnv::WaitUntil([&] { return m_view->Bar()->StatusText().contains(gone); }))
        << qPrintable(m_view->Bar()->StatusText());
    EXPECT_TRUE(m_link->IsGone());
    PtyPair back;
    ASSERT_TRUE(QFile::link(back.SlavePath(), name));
    const QString open = name + QStringLiteral("  9600 baud");
    EXPECT_TRUE(TestEnv::WaitUntil([&] { return m_view->Bar()->StatusText() == open; }))
        << qPrintable(m_view->Bar()->StatusText());
    EXPECT_TRUE(m_link->IsOpen());
    // Bytes from the device under its returned name reach the window.
    ASSERT_TRUE(back.Send("back"));
    EXPECT_TRUE(TestEnv::WaitUntil([&] { return m_view->BytesReceived() == 4; }, 3000));
    // Narrow, the label elides the middle: the port and the capture file stay readable.
    QTemporaryDir dir;
    ASSERT_TRUE(
        m_view->StartCapture(dir.filePath(QStringLiteral("a-capture-file-with-a-long-name.bin")),
            TermCapture::Mode::Raw));
    m_view->resize(480, m_view->sizeHint().height());
    m_view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_view.get()));
    const QString full = m_view->Bar()->StatusText();
    const QString shown = m_view->Bar()->StatusLabel()->text();
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << qPrintable(shown);
    EXPECT_TRUE(shown.startsWith(full.left(8))) << qPrintable(shown);
    EXPECT_TRUE(shown.endsWith(QStringLiteral("name.bin"))) << qPrintable(shown);
    m_view->StopCapture();
}

// 600 kB streamed into a capturing terminal: every byte reaches the window and the file, and the
// scrollback stays at its bound.
TEST_F(TermViewTest, FloodKeepsEveryByteAndABoundedScrollback)
{
    QByteArray sent;
    for (int i = 0; sent.size() < 600 * 1000; ++i)
        sent += "reading " + QByteArray::number(i).rightJustified(7, '0') + " 12.345 SCFM\r\n";
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("flood.bin"));
    ASSERT_TRUE(m_view->StartCapture(path, TermCapture::Mode::Raw));
    m_view->OnInitialUpdate();
    std::thread writer([&] {
        for (qsizetype at = 0; at < sent.size();) {
            const ssize_t n = ::write(m_pty.MasterFd(), sent.constData() + at,
                size_t(std::min<qsizetype>(4096, sent.size() - at)));
            if (n > 0)
                at += n;
            else
                QThread::msleep(1);
        }
    });
    EXPECT_TRUE(TestEnv::WaitUntil([&] { return m_view->BytesReceived() >= sent.size(); }, 120000));
    writer.join();
    EXPECT_EQ(m_view->BytesReceived(), sent.size());
    m_view->StopCapture();
    QFile captured(path);
    EXPECT_TRUE(captured.open(QIODevice::ReadOnly) && captured.readAll() == sent);
    const TermScrollback &history = m_doc.Screen().History();
    EXPECT_EQ(history.Size(), TermScrollback::kDefaultCapacity);
    EXPECT_GT(history.Pushed(), qint64(history.Size()));
    const QByteArray above = history.Row(history.Size() - 1).trimmed();
    const QByteArray top = m_doc.Screen().RowText(0).trimmed();
    EXPECT_TRUE(above.startsWith("reading ") && top.startsWith("reading ")) << above.constData();
    EXPECT_EQ(top.mid(8, 7).toInt(), above.mid(8, 7).toInt() + 1);
}
