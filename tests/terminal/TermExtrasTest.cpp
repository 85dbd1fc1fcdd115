// The terminal's additions, GUI-free: the timestamp and hex display beside the meter's own
// screen, capture to a file, paste as typed characters, and the marked text Copy takes.
#include "base/AppServices.h"
#include "base/Globals.h"
#include "base/MeterSession.h"
#include "support/TestEnv.h"
#include "support/TestFiles.h"
#include "terminal/CTermDoc.h"
#include "terminal/TermPaste.h"
#include "terminal/TermSelection.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QTime kNoon(12, 34, 56, 789);

// One row per display setting: what a received stretch puts on the shown screen's rows.
TEST(TermDisplay, TimestampsAndHexRows)
{
    const struct
    {
        bool stamp;
        bool hex;
        QByteArray received;
        QList<QByteArray> rows; // shown rows from row 0, trailing blanks cut
    } cases[] = {
        { true, false, "\nab\r\ncd\r\n",
            { "", " 12:34:56.789", " 12:34:56.789 ab", " 12:34:56.789 cd", "" } },
        // Hex rows end with their ASCII column, control bytes as dots.
        { false, true, "A\r\n", { "", " 41 0D 0A" + QByteArray(41, ' ') + "A.." } },
        { false, true, "0123456789abcdefX",
            { "", " 30 31 32 33 34 35 36 37 38 39 61 62 63 64 65 66  0123456789abcdef", " 58" } },
        { true, true,
            "\x1b"
            "A\n",
            { "", " 12:34:56.789 1B 41 0A" + QByteArray(17, ' ') + ".A.", "" } },
        { true, true, "123456789",
            { "", " 12:34:56.789 31 32 33 34 35 36 37 38  12345678", " 12:34:56.789 39" } },
        // An escape on the meter's screen also clears the stamped screen.
        { true, false,
            "xy\x1b"
            "zz\nq",
            { " 12:34:56.789 q" } },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.received.toStdString());
        TermDisplay display;
        display.SetTimestamps(c.stamp);
        display.SetHex(c.hex);
        ASSERT_TRUE(display.Active());
        display.StartTick();
        // The first line feed drops row 0 (the screen's own rule); start with one so the rows
        // below are what the case wrote.
        display.Screen().Put('\n');
        for (const char b : c.received)
            display.Put(static_cast<unsigned char>(b), kNoon);
        for (int r = 0; r < c.rows.size(); ++r) {
            QByteArray row = display.Screen().RowText(r);
            while (row.endsWith(' '))
                row.chop(1);
            EXPECT_EQ(row, c.rows.at(r)) << "row " << r;
        }
    }
}

// With the toggles off the document's screen and scan are the meter's alone; with them on the
// meter's screen and the identification are the same, and only the shown screen differs.
TEST(TermDisplay, MeterScreenAndScanUnchangedByToggles)
{
    const QByteArray id = "\x1b\n\r\nSELECT:\r\n 500 v4.1A Rev.C Range#2\r\nmore\r\n";
    QByteArray plainText;
    for (const bool on : { false, true }) {
        ResetGlobals();
        CTermDoc doc;
        doc.SetTimestamps(on);
        doc.SetHex(on);
        QString error;
        ASSERT_TRUE(doc.Receive(id, kNoon, &error));
        EXPECT_EQ(AppServices::Meter().Model(), QStringLiteral("500"));
        EXPECT_EQ(AppServices::Meter().Version(), QStringLiteral("4.1A"));
        EXPECT_EQ(AppServices::Meter().Range(), QStringLiteral("2"));
        if (!on)
            plainText = doc.Screen().Text();
        EXPECT_EQ(doc.Screen().Text(), plainText);
        EXPECT_EQ(&doc.ShownScreen() == &doc.Screen(), !on);
    }
    ResetGlobals();
}

TEST(TermCapture, RawShownAndFailures)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    CTermDoc doc;
    QString error;
    // Raw: exactly the bytes received, every tick appended, whatever the display shows.
    const QString raw = dir.filePath(QStringLiteral("raw.bin"));
    doc.SetTimestamps(true);
    ASSERT_TRUE(doc.Capture().Start(raw, TermCapture::Mode::Raw, &error));
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all += char(b);
    ASSERT_TRUE(doc.Receive(all.left(100), kNoon, &error));
    ASSERT_TRUE(doc.Receive(all.mid(100), kNoon, &error));
    doc.Capture().Stop();
    EXPECT_EQ(ReadFile(raw), all);
    // Shown: the stamped text, control codes other than line feeds left out.
    const QString shown = dir.filePath(QStringLiteral("shown.txt"));
    CTermDoc stamped;
    stamped.SetTimestamps(true);
    ASSERT_TRUE(stamped.Capture().Start(shown, TermCapture::Mode::Shown, &error));
    ASSERT_TRUE(stamped.Receive(QByteArray("ab\r\n\x1b") + "c\x08\r\n", kNoon, &error));
    stamped.Capture().Stop();
    EXPECT_EQ(ReadFile(shown), QByteArray("12:34:56.789 ab\n12:34:56.789 c\n"));

    // A file that cannot be created: a message naming it, no capture.
    const QString missing = dir.filePath(QStringLiteral("no/such/folder/c.bin"));
    EXPECT_FALSE(doc.Capture().Start(missing, TermCapture::Mode::Raw, &error));
    EXPECT_TRUE(error.contains(missing)) << qPrintable(error);
    EXPECT_FALSE(doc.Capture().IsOn());
    // A disk that fills up mid-capture: the capture stops with a message, reception goes on.
    if (QFile::exists(QStringLiteral("/dev/full"))) {
        ASSERT_TRUE(
            doc.Capture().Start(QStringLiteral("/dev/full"), TermCapture::Mode::Raw, &error));
        error.clear();
        EXPECT_FALSE(doc.Receive("\r\nxyz\r\n", kNoon, &error));
        EXPECT_TRUE(error.contains(QStringLiteral("stopped"))) << qPrintable(error);
        EXPECT_FALSE(doc.Capture().IsOn());
        EXPECT_TRUE(doc.Screen().Text().contains("xyz"));
    }
}

// Hours of capture: 64 MiB through the capture leave the file that long and the program's
// memory where it was (nothing is held back between ticks).
TEST(TermCapture, LongCaptureGrowsTheFileNotMemory)
{
    QTemporaryDir dir;
    CTermDoc doc;
    QString error;
    const QString path = dir.filePath(QStringLiteral("long.bin"));
    ASSERT_TRUE(doc.Capture().Start(path, TermCapture::Mode::Raw, &error));
    const QByteArray tick(8192, 'x'); // a tick's most at 115200 baud and more
    const auto residentKb = [] {
        QFile status(QStringLiteral("/proc/self/status"));
        if (!status.open(QIODevice::ReadOnly))
            return qint64(0);
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed().split(' ').first().toLongLong();
        }
        return qint64(0);
    };
    ASSERT_TRUE(doc.Receive(tick, kNoon, &error));
    const qint64 before = residentKb();
    for (int i = 1; i < 8192; ++i)
        ASSERT_TRUE(doc.Receive(tick, kNoon, &error));
    const qint64 after = residentKb();
    doc.Capture().Stop();
    EXPECT_EQ(QFileInfo(path).size(), qint64(8192) * 8192);
    EXPECT_EQ(doc.Capture().BytesWritten(), qint64(8192) * 8192);
    EXPECT_LT(after - before, 8 * 1024) << "resident memory grew with the capture";
}

TEST(TermPaste, LineEndsLimitAndCancel)
{
    const struct
    {
        QString text;
        QByteArray bytes;
    } rows[] = {
        { QStringLiteral("ab\r\ncd"), "ab\rcd" }, { QStringLiteral("a\nb\rc"), "a\rb\rc" },
        { QStringLiteral("\u00e9\u20ac"), "\xe9\xac" }, // low eight bits, as typed
    };
    for (const auto &r : rows)
        EXPECT_EQ(TermPaste::Bytes(r.text), r.bytes) << qPrintable(r.text);

    TermPaste paste;
    EXPECT_FALSE(paste.Start(QString(TermPaste::kMaxBytes + 1, QLatin1Char('x'))));
    EXPECT_FALSE(paste.Active());
    ASSERT_TRUE(paste.Start(QStringLiteral("go\n")));
    EXPECT_EQ(paste.Next(), 'g');
    EXPECT_EQ(paste.Sent(), 1);
    EXPECT_EQ(paste.Total(), 3);
    paste.Cancel();
    EXPECT_EQ(paste.Next(), -1);
    ASSERT_TRUE(paste.Start(QString(TermPaste::kMaxBytes, QLatin1Char('y'))));
    int sent = 0;
    while (paste.Next() >= 0)
        ++sent;
    EXPECT_EQ(sent, TermPaste::kMaxBytes);
}

TEST(TermSelection, TextInReadingOrder)
{
    TermScreen screen;
    screen.StartTick();
    for (const char c : QByteArray("\nfirst line\r\nsecond\r\nthird one"))
        screen.Put(static_cast<unsigned char>(c));
    TermSelection selection;
    EXPECT_TRUE(selection.Text(screen).isEmpty());
    // Rows 1 to 3 hold the lines from column 1 (a blank in column 0 is not copied); marked
    // backwards, from "third" up to "line".
    selection.Begin(QPoint(3, 3));
    selection.Extend(QPoint(7, 1));
    EXPECT_EQ(selection.Text(screen), QStringLiteral("line\nsecond\nthi"));
    EXPECT_TRUE(selection.Contains(2, 0));
    EXPECT_FALSE(selection.Contains(3, 4));
    selection.Begin(QPoint(5, 5)); // a click marks nothing
    EXPECT_TRUE(selection.IsEmpty());
}

} // namespace
