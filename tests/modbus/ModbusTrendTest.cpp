// The Modbus window's live trend and sweep recording against tarvik-metersim --modbus: a few
// sweeps of three meters, one of them silent, recorded to CSV (a row per sweep, empty cells for
// the silent meter, never a shifted row) and drawn as one trace per answering address.
#include "SimProcess.h"

#include "base/CPrefs.h"
#include "base/Globals.h"
#include "base/UserMessage.h"
#include "graphs/GraphArea.h"
#include "link/mbCSerial.h"
#include "modbus/Modbus.h"
#include "modbus/ModbusDoc.h"
#include "modbus/ModbusTrendView.h"

#include <QCheckBox>
#include <QDateTime>
#include <QFile>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

using F = Modbus::Field;

QList<QStringList> CsvRows(const QString &path)
{
    QFile f(path);
    QList<QStringList> rows;
    if (!f.open(QIODevice::ReadOnly))
        return rows;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (!line.isEmpty())
            rows << QString::fromUtf8(line.trimmed()).split(QLatin1Char(','));
    }
    return rows;
}

} // namespace

TEST(ModbusTrend, RecordsEverySweepAndTracesEachAddress)
{
    ResetGlobals();
    g_ModbusEnabled = 1;
    Modbus::SetSweepIndex(1);
    CPrefs::OpenStore()->remove(QStringLiteral("MBPoll/KEEPPOLLING"));
    QStringList messages;
    const auto oldHandler = UserMessage::SetHandler(
        [&messages](const QString &text, const QString &) { messages << text; });
    SimProcess sim({ QStringLiteral("--addr"), QStringLiteral("1,2,3"), QStringLiteral("--silent"),
        QStringLiteral("2") });
    ASSERT_TRUE(sim.Ok());
    auto port = std::make_unique<mbCSerial>(sim.Path());
    port->SetPortText(sim.Path());
    port->SetBaudText(QStringLiteral("9600"));
    port->SetParityText(QStringLiteral("1 8 EVEN 1"));
    ASSERT_EQ(port->OpenPort(), 1);
    const auto oldProvider = Modbus::SetPortProvider([&port] { return port.get(); });

    ModbusDoc doc;
    {
        Modbus view(&doc);
        view.resize(1225, 440);
        view.show();
        // Short of the program's 500 ms, to keep the silent address's three attempts brief, yet
        // long enough for a simulator kept waiting by a busy machine.
        view.Master().SetTiming({ 400, 300 });
        const QStringList addresses { "1", "2", "3" };
        for (int n = 1; n <= 3; ++n) {
            view.OnAddressFocusIn(n);
            view.FieldEdit(n, F::Address)->setText(addresses[n - 1]);
            view.OnAddressFocusOut(n);
        }
        view.KeepPollingBox()->click();
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("sweeps.csv"));
        EXPECT_EQ(view.StartRecording(path), QString());
        view.OnTrendClicked();
        ASSERT_NE(view.TrendView(), nullptr);

        view.OnUpdateClicked();
        view.PeriodEdit()->setText(QStringLiteral("0.5"));
        view.OnDynamicButton();
        ASSERT_TRUE(QTest::qWaitFor([&] { return view.Recorder().Rows() >= 3; }, 30000));
        view.OnDynamicButton(); // STOP: the sweep under way ends
        ASSERT_TRUE(QTest::qWaitFor([&] { return !view.Busy(); }, 10000));
        const qint64 rowsWritten = view.Recorder().Rows();

        // The meter at address 3 drops off the network mid-recording: its panel now names
        // another address, and the file keeps its columns.
        view.OnAddressFocusIn(3);
        view.FieldEdit(3, F::Address)->setText(QStringLiteral("9"));
        view.OnAddressFocusOut(3);
        view.OnDynamicButton();
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return view.Recorder().Rows() >= rowsWritten + 1; }, 30000));
        view.OnDynamicButton();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !view.Busy(); }, 10000));
        view.StopRecording();

        const QList<QStringList> rows = CsvRows(path);
        ASSERT_EQ(rows.size(), 1 + view.Recorder().Rows());
        EXPECT_EQ(rows[0],
            QStringList({ "Time", "UTC offset", "Meter 1 (address 1) Flow",
                "Meter 1 (address 1) Total", "Meter 1 (address 1) Temperature",
                "Meter 2 (address 2) Flow", "Meter 2 (address 2) Total",
                "Meter 2 (address 2) Temperature", "Meter 3 (address 3) Flow",
                "Meter 3 (address 3) Total", "Meter 3 (address 3) Temperature" }));
        QDateTime previous;
        for (int r = 1; r < rows.size(); ++r) {
            const QStringList &row = rows[r];
            ASSERT_EQ(row.size(), 11) << r;
            // Local date-time to the millisecond and its offset, two cells that make one moment.
            const QDateTime at = QDateTime::fromString(row[0] + row[1].mid(3), Qt::ISODate);
            EXPECT_TRUE(at.isValid()) << qPrintable(row[0] + row[1]);
            EXPECT_TRUE(QRegularExpression(
                QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}$"))
                            .match(row[0])
                            .hasMatch())
                << qPrintable(row[0]);
            EXPECT_TRUE(QRegularExpression(QStringLiteral("^UTC[+-]\\d\\d:\\d\\d$"))
                            .match(row[1])
                            .hasMatch())
                << qPrintable(row[1]);
            if (previous.isValid()) {
                EXPECT_LE(previous, at);
            }
            previous = at;
            // Address 1 answers every sweep (flow 25 within 15 %); address 2 never.
            EXPECT_NEAR(row[2].toDouble(), 25, 25 * 0.16) << r;
            EXPECT_FALSE(row[3].isEmpty());
            EXPECT_FALSE(row[4].isEmpty());
            EXPECT_EQ(row.mid(5, 3), QStringList({ "", "", "" })) << r;
            if (r <= rowsWritten) // address 3 answered before it was taken away
                EXPECT_NEAR(row[8].toDouble(), 75, 75 * 0.16) << r;
            else
                EXPECT_EQ(row.mid(8, 3), QStringList({ "", "", "" })) << r;
        }

        // The trend: a trace per answering address; the silent one holds only gaps.
        const ModbusTrend &trend = view.Trend();
        EXPECT_GE(trend.Series(1).Size(), int(view.Recorder().Rows()));
        for (int i = 0; i < trend.Series(2).Size(); ++i)
            EXPECT_TRUE(std::isnan(trend.Series(2).At(i).value));
        EXPECT_EQ(trend.Address(3), QStringLiteral("9"));
        const GraphPicture &picture = view.TrendView()->Area()->Picture();
        EXPECT_EQ(picture.FindTexts(QStringLiteral("Address 1")).size(), 1u);
        EXPECT_EQ(picture.FindTexts(QStringLiteral("Address 2")).size(), 1u);
        int traced = 0;
        for (const GraphPicture::Polyline &l : picture.lines)
            traced += l.color == ModbusTrend::ColorOf(QStringLiteral("1")) && l.width < 6;
        EXPECT_GE(traced, 1);
        EXPECT_TRUE(messages.isEmpty()) << qPrintable(messages.join('|'));
        if (qEnvironmentVariableIsSet("TARVIK_SHOTS")) {
            view.grab().save(qEnvironmentVariable("TARVIK_SHOTS") + "/modbus.png");
            view.TrendView()->grab().save(qEnvironmentVariable("TARVIK_SHOTS") + "/trend.png");
        }

        // A folder that cannot be written: a message, no recording.
        messages.clear();
        EXPECT_FALSE(view.StartRecording(dir.filePath(QStringLiteral("none/x.csv"))).isEmpty());
        EXPECT_EQ(messages.size(), 1);
        EXPECT_FALSE(view.Recorder().Recording());
    }
    Modbus::SetPortProvider(oldProvider);
    UserMessage::SetHandler(oldHandler);
    CPrefs::OpenStore()->remove(QStringLiteral("MBPoll/KEEPPOLLING"));
    ResetGlobals();
}
