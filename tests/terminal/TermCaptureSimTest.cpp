// The terminal's capture, timestamps and hex view, and its Edit menu, in the program against
// the simulated meter. The test sits on the line between them, so it knows every byte the
// simulator sent: the raw capture must hold exactly those.
#include "app/CMainFrame.h"
#include "app/CTarvikApp.h"
#include "base/AppServices.h"
#include "base/CPrefs.h"
#include "base/Globals.h"
#include "base/MeterSession.h"
#include "base/UserMessage.h"
#include "meter/ZarnFormFrame.h"
#include "support/PtyPair.h"
#include "support/TestEnv.h"
#include "support/TestFiles.h"
#include "terminal/CTermBar.h"
#include "terminal/CTermView.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Passes bytes both ways between the program's port (a pty pair whose master we hold) and the
// simulator's pty, keeping a copy of what the simulator sent.
class LineTap
{
public:
    LineTap(int programSide, const QString &simPath)
        : m_program(programSide)
    {
        m_sim = ::open(simPath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_sim >= 0) {
            termios tio {};
            ::tcgetattr(m_sim, &tio);
            ::cfmakeraw(&tio);
            ::tcsetattr(m_sim, TCSANOW, &tio);
        }
        ::fcntl(m_program, F_SETFL, ::fcntl(m_program, F_GETFL) | O_NONBLOCK);
    }
    ~LineTap()
    {
        if (m_sim >= 0)
            ::close(m_sim);
    }
    bool IsValid() const { return m_sim >= 0; }
    void Pump()
    {
        char buffer[4096];
        for (ssize_t n; (n = ::read(m_sim, buffer, sizeof buffer)) > 0;) {
            m_fromSim.append(buffer, n);
            WriteAll(m_program, buffer, n);
        }
        for (ssize_t n; (n = ::read(m_program, buffer, sizeof buffer)) > 0;)
            WriteAll(m_sim, buffer, n);
    }
    const QByteArray &FromSim() const { return m_fromSim; }

private:
    static void WriteAll(int fd, const char *data, ssize_t size)
    {
        while (size > 0) {
            const ssize_t done = ::write(fd, data, size_t(size));
            if (done <= 0) {
                QTest::qWait(1);
                continue;
            }
            data += done;
            size -= done;
        }
    }
    int m_program;
    int m_sim = -1;
    QByteArray m_fromSim;
};

TEST(TerminalCaptureOnMeterSim, RawCaptureHoldsWhatTheMeterSentWithToggles)
{
    TestEnv::ClearPreferences();
    ResetGlobals();
    ZarnFormFrame::ResetSmallFrameCount();
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(TestEnv::MeterSimPath(),
        { QStringLiteral("--model"), QStringLiteral("500"), QStringLiteral("--interval"),
            QStringLiteral("200") });
    ASSERT_TRUE(sim.waitForStarted(5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return sim.canReadLine(); }, 5000));
    const QString simPath = QString::fromLocal8Bit(sim.readLine()).trimmed();
    PtyPair port;
    ASSERT_TRUE(port.IsValid());
    LineTap tap(port.MasterFd(), simPath);
    ASSERT_TRUE(tap.IsValid());
    {
        auto store = CPrefs::OpenStore();
        store->setValue(QStringLiteral("Port/COM"), port.SlavePath());
        store->setValue(QStringLiteral("232Baud/BAUD"), QStringLiteral("19200"));
        store->setValue(QStringLiteral("MBPort/MBCOM"), QStringLiteral("OFF"));
    }
    QStringList messages;
    const auto oldHandler
        = UserMessage::SetHandler([&](const QString &text, const QString &) { messages << text; });
    {
        CTarvikApp app({}, false);
        ASSERT_TRUE(app.InitInstance());
        app.MainFrame()->show();
        app.OnNewTerminal();
        auto *view = qobject_cast<CTermView *>(app.MainFrame()->ActiveView());
        ASSERT_NE(view, nullptr);
        CTermDoc *doc = view->Document();
        // The status names the port and its speed.
        const QString status = view->Bar()->StatusText();
        EXPECT_TRUE(status.contains(port.SlavePath())) << qPrintable(status);
        EXPECT_TRUE(status.contains(QStringLiteral("19200"))) << qPrintable(status);

        // Both toggles on and a raw capture, before the meter's first byte.
        view->Bar()->TimestampBox()->click();
        view->Bar()->HexBox()->click();
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("meter.bin"));
        ASSERT_TRUE(view->StartCapture(path, TermCapture::Mode::Raw));
        EXPECT_TRUE(view->Bar()->StatusText().contains(QStringLiteral("meter.bin")));
        // The identification screen the New terminal command asked for.
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                tap.Pump();
                return doc->Screen().Text().contains("SELECT: ");
            },
            5000));
        // Pass on what the meter has sent so far and no more, then wait until the window has taken
        // every byte of it: the raw capture, written as the window takes bytes, ends where the
        // line does. The greeting purges the port's input, so readings the meter streamed before
        // its screen may never reach the window: the capture starts where the window's input does.
        tap.Pump();
        const QByteArray &sent = tap.FromSim();
        const bool tookAll = QTest::qWaitFor(
            [&] {
                const QByteArray sofar = ReadFile(path);
                return !sofar.isEmpty() && sent.endsWith(sofar);
            },
            20000);
        view->StopCapture();
        const QByteArray captured = ReadFile(path);
        EXPECT_TRUE(tookAll) << captured.size() << " bytes captured of the " << sent.size()
                             << " the meter sent";
        ASSERT_FALSE(captured.isEmpty());
        // Every byte from where the window's input starts to the last one sent, in order. The
        // meter draws the same screen for each "[" of the greeting, so the capture is placed from
        // the line's end: searched for by its first bytes it would match an earlier screen.
        EXPECT_TRUE(sent.endsWith(captured)) << "capture differs from the line's last bytes";
        EXPECT_TRUE(captured.contains("SELECT: ")) << "capture misses the meter's screen";
        // The meter's own screen and its identification are as without the toggles.
        EXPECT_EQ(AppServices::Meter().Model(), QStringLiteral("500"));
        EXPECT_EQ(AppServices::Meter().Version(), QStringLiteral("4.1A"));
        // The window shows stamped hex rows, eight bytes each.
        const QRegularExpression row(
            QStringLiteral("^ \\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d( [0-9A-F]{2})+"));
        int rows = 0;
        for (int r = 0; r < TermScreen::kRows; ++r)
            rows += row.match(QString::fromLatin1(doc->ShownScreen().RowText(r))).hasMatch();
        EXPECT_GE(rows, 5);

        // Edit menu: Copy is enabled once text is marked and takes it; Paste sends the text
        // as typed, one character a tick.
        QAction *copy = app.MainFrame()->Action(QStringLiteral("edit_copy"));
        QAction *paste = app.MainFrame()->Action(QStringLiteral("edit_paste"));
        view->Bar()->HexBox()->click();
        view->Bar()->TimestampBox()->click();
        EXPECT_FALSE(copy->isEnabled());
        const int line = view->LineHeight();
        const int width = view->CharWidth();
        QTest::mousePress(view, Qt::LeftButton, {}, QPoint(width / 2, line + line / 2));
        QTest::mouseMove(view, QPoint(76 * width + width / 2, 3 * line + line / 2));
        QTest::mouseRelease(
            view, Qt::LeftButton, {}, QPoint(76 * width + width / 2, 3 * line + line / 2));
        EXPECT_TRUE(copy->isEnabled());
        copy->trigger();
        EXPECT_EQ(QApplication::clipboard()->text(), view->SelectedText());
        EXPECT_FALSE(view->SelectedText().isEmpty());

        port.Receive(100); // nothing of the test's own bytes is wanted below
        QApplication::clipboard()->setText(QStringLiteral("2\n"));
        ASSERT_TRUE(paste->isEnabled());
        tap.Pump();
        paste->trigger();
        EXPECT_TRUE(view->PasteActive());
        EXPECT_FALSE(paste->isEnabled()); // one paste at a time
        view->Tick();
        EXPECT_EQ(view->Paste().Sent(), 1);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !view->PasteActive(); }, 2000));
        // A clipboard far beyond what may be typed in is refused with a message.
        messages.clear();
        QApplication::clipboard()->setText(QString(1 << 20, QLatin1Char('x')));
        paste->trigger();
        EXPECT_FALSE(view->PasteActive());
        ASSERT_EQ(messages.size(), 1);
        EXPECT_TRUE(messages.first().contains(QString::number(TermPaste::kMaxBytes)));
        // An unwritable capture file is told, and nothing is captured.
        messages.clear();
        EXPECT_FALSE(
            view->StartCapture(dir.filePath(QStringLiteral("none/x.bin")), TermCapture::Mode::Raw));
        EXPECT_EQ(messages.size(), 1);
        EXPECT_FALSE(doc->Capture().IsOn());
    }
    UserMessage::SetHandler(oldHandler);
    sim.terminate();
    sim.waitForFinished(3000);
    ResetGlobals();
    ZarnFormFrame::ResetSmallFrameCount();
}

} // namespace
