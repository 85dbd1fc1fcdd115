// The set command's rules without a meter: a Kelvane file changed field by field through the
// form's rules, each row a value given and what the form shows after it (or the form's refusal,
// after which nothing of that row is taken). The argument rules of the help table, and the port
// list `ports` prints over a device folder of its own.
#include "cli/CliArgs.h"
#include "cli/CliReadingWatch.h"

#include "base/Globals.h"
#include "base/UserMessage.h"
#include "link/SerialPortList.h"
#include "meter/CMeterDoc.h"
#include "meterqx/QXMeterDoc.h"
#include "meterqx/SeriesModels.h"
#include "support/TestEnv.h"
#include "support/TestFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace {
QString Shown(MeterSeriesModel &file, const QString &caption)
{
    for (const auto &row : file.Rows())
        if (row.caption == caption)
            return row.text;
    return QStringLiteral("<none>");
}
} // namespace

TEST(CliFileRules, SetTakesWhatTheFormTakesAndRefusesWhatItRefuses)
{
    ResetGlobals();
    QDir::setCurrent(TestEnv::WorkDir());
    const std::unique_ptr<MeterSeriesModel> model = SeriesModels::Make(MeterSeries::Kelvane);
    MeterSeriesModel &file = *model;
    QString error;
    ASSERT_TRUE(file.Open(QStringLiteral("41A_Template.mtr"), &error)) << qPrintable(error);
    const struct
    {
        const char *name;
        const char *value;
        const char *refusal; // part of the message, "" when taken
        const char *shown; // the field's text afterwards (the name's caption)
        const char *caption;
    } rows[] = {
        { "Full Scale", "90", "", "90", "Full Scale" },
        { "full scale", "1e400", "Full Scale", "90", "Full Scale" }, // no finite number
        { "1010", "2500", "", "2500", "Relay #1 OFF Value" }, // by id
        { "Relay #1 OFF Trip Delay", "999", "", "255", "Relay #1 OFF Trip Delay" }, // limit
        { "Zero Offset", "7.5", "", "5.00000", "Zero Offset" }, // bounded on every change
        { "Engineering Units", "SCFH", "", "SCFH  Standard cubic feet per hour", "" },
        { "Engineering Units", "furlongs", "no choice of Engineering Units", "", "" },
        { "Relay #2 ON Function", "low flow", "", "Low Flow   alarm              404",
            "Relay #2 ON Function" },
        { "Curve Fit", "3", "", "Primary Coefficients and Point-Wise Segments", "Curve Fit" },
        { "Tracking ON", "yes", "", "TRUE", "Tracking ON" },
        { "Tracking ON", "maybe", "TRUE or FALSE", "TRUE", "Tracking ON" },
        { "Desired", "0", "from 1 to 4", "", "" },
        { "Primary[2]", "1.5e-3", "", "1.5e-3", "Primary[2]" },
        { "Primary[10]", "1", "has no line 10", "", "" },
        { "Primary", "1", "is a list", "", "" },
        { "Point-Wise[0]", "1", "fixed", "", "" },
        { "Calibration Due", "13/45/27", "not a calibration date", "", "" },
        { "Calibration Due", "25.12.27", "", "25.12.27", "Calibration Due" },
        { "ADC Gain", "2", "read-only", "", "" },
        { "Modbus Addr", "12x", "Modbus Addr", "", "" },
        { "Modbus Addr", "12", "", "12", "Modbus Addr" },
        { "Modbus Addr", "200", "Modbus Addr accepts a whole number from 0 to 127", "12",
            "Modbus Addr" }, // the image would hold 0
        { "Modbus Addr", "-1", "from 0 to 127", "12", "Modbus Addr" },
        { "Bogus", "1", "no field of the Kelvane form", "", "" },
    };
    for (const auto &row : rows) {
        const QString refusal = file.Set(QLatin1String(row.name), QLatin1String(row.value));
        if (*row.refusal) {
            EXPECT_TRUE(refusal.contains(QLatin1String(row.refusal)))
                << row.name << "=" << row.value << ": " << qPrintable(refusal);
        } else {
            EXPECT_TRUE(refusal.isEmpty()) << row.name << ": " << qPrintable(refusal);
        }
        if (*row.caption) {
            EXPECT_TRUE(
                Shown(file, QLatin1String(row.caption)).startsWith(QLatin1String(row.shown)))
                << row.name << " shows " << qPrintable(Shown(file, QLatin1String(row.caption)));
        }
    }
    // The units change converted the ranges shown: 90 SCFM is 5400 SCFH.
    EXPECT_NEAR(Shown(file, QStringLiteral("Full Scale")).toDouble(), 5400.0, 0.001);
    // Saved, the fields show what the file holds: below the smallest float is 0.
    EXPECT_EQ(file.Set(QStringLiteral("C Factor"), QStringLiteral("1e-46")), QString());
    QTemporaryDir out;
    ASSERT_TRUE(file.Save(out.filePath(QStringLiteral("saved.mtr")), &error)) << qPrintable(error);
    EXPECT_EQ(Shown(file, QStringLiteral("C Factor")), QStringLiteral("0.000000"));
    ResetGlobals();
}

TEST(CliArgs, OptionsAreCheckedAgainstTheHelpTable)
{
    const CliHelp::Command *read = CliHelp::Find(QStringLiteral("read"));
    ASSERT_NE(read, nullptr);
    CliArgs args;
    EXPECT_TRUE(args.Parse(*read, { "--port=/dev/x", "--out", "a.mtr", "--quiet" }));
    EXPECT_EQ(args.Value(QStringLiteral("--port")), QStringLiteral("/dev/x"));
    EXPECT_EQ(args.Value(QStringLiteral("--out")), QStringLiteral("a.mtr"));
    EXPECT_TRUE(args.Has(QStringLiteral("--quiet")));
    EXPECT_FALSE(args.Parse(*read, { "--csv" })); // another command's option
    EXPECT_TRUE(args.Error().contains(QStringLiteral("--csv")));
    // -h is --help; other short options are refused, and after "--" a name is a file's.
    EXPECT_TRUE(args.Parse(*read, { "-h" }));
    EXPECT_TRUE(args.Has(QStringLiteral("--help")));
    EXPECT_FALSE(args.Parse(*read, { "-x" }));
    EXPECT_TRUE(args.Parse(*read, { "--", "-x.mtr", "--out" }));
    EXPECT_EQ(args.Plain(), QStringList({ "-x.mtr", "--out" }));
    EXPECT_FALSE(args.Parse(*read, { "--quiet=1" }));
    EXPECT_FALSE(args.Parse(*read, { "--out" }));
    EXPECT_TRUE(args.Error().contains(QStringLiteral("needs a value")));
    // Every command's help names it and every option it takes, and only those: the link's
    // options belong to the commands on a port, --pace to those that send at its pace.
    for (const CliHelp::Command &command : CliHelp::Commands()) {
        const QString help = CliHelp::HelpText(command);
        for (const CliHelp::Option &option : command.options)
            EXPECT_TRUE(help.contains(QLatin1String(option.name))) << command.name;
        EXPECT_TRUE(CliHelp::Overview().contains(QLatin1String(command.name)));
    }
    const struct
    {
        const char *command;
        bool baud;
        bool pace;
    } lineOptions[] = {
        { "show", false, false },
        { "sheet", false, false },
        { "read", true, true },
        { "log", true, true },
        { "watch", true, false },
        { "modbus", true, false },
    };
    for (const auto &row : lineOptions) {
        const CliHelp::Command *command = CliHelp::Find(QLatin1String(row.command));
        ASSERT_NE(command, nullptr) << row.command;
        const QString help = CliHelp::HelpText(*command);
        EXPECT_EQ(help.contains(QStringLiteral("--baud")), row.baud) << row.command;
        EXPECT_EQ(help.contains(QStringLiteral("--pace")), row.pace) << row.command;
        EXPECT_EQ(args.Parse(*command, { "--baud", "9600" }), row.baud) << row.command;
        EXPECT_EQ(args.Parse(*command, { "--pace", "0.5" }), row.pace) << row.command;
        EXPECT_TRUE(args.Parse(*command, { "--quiet" })) << row.command;
    }
}

// watch's output: the PC logger's line reader and parser, one line per reading; the first line
// (perhaps cut by the port's opening), garbage and over-long runs are passed over and counted.
TEST(CliReadingWatch, ReadingsArePrintedAndWhatIsNoReadingCounted)
{
    const QDateTime at(QDate(2026, 12, 10), QTime(8, 30, 0, 125), QTimeZone(3600));
    const QByteArray reading = "12.50 SCFM  1234.5678 SCF  30.00  10.00  RL1* RL2.\x06\r\n";
    const QByteArray text = "08:30:00.125 flow 12.50 SCFM, total 1234.5678 SCF, high 30.00, low "
                            "10.00, relay1 on, relay2 off\n";
    const QByteArray json = "{\"flow\":{\"unit\":\"SCFM\",\"value\":12.5},\"high\":30,\"low\":10,"
                            "\"relay1\":true,\"relay2\":false,\"time\":"
                            "\"2026-12-10T08:30:00.125+01:00\",\"total\":{\"unit\":\"SCF\","
                            "\"value\":1234.5678}}\n";
    const struct
    {
        CliReadingWatch::Format format;
        QByteArray in;
        QByteArray out;
        int readings;
        int skipped;
    } cases[] = {
        { CliReadingWatch::Format::Text, "\r" + reading, text, 1, 0 },
        // The first line counts only from a carriage return: it may have lost its start.
        { CliReadingWatch::Format::Text, reading + reading, text, 1, 0 },
        { CliReadingWatch::Format::Json, "\r" + reading, json, 1, 0 },
        { CliReadingWatch::Format::Text, "\rT12.50 SCFM  1234.5678 SCF  30.00  10.00  RL1* RL2.\r",
            text, 1, 0 },
        // A command-mode prompt and line noise are skipped and counted.
        { CliReadingWatch::Format::Text, "\rENTER COMMAND>\r#%&/ Q\r\r\n" + reading, text, 1, 2 },
        { CliReadingWatch::Format::Text, "\r" + QByteArray(400, '7') + "\r" + reading, text, 1, 1 },
        { CliReadingWatch::Format::Text, "\r12.5 SCFM\r", "", 0, 1 },
        // Raw: the bytes as they came, readings counted all the same.
        { CliReadingWatch::Format::Raw, "\r" + reading + "\x01X\r", "\r" + reading + "\x01X\r", 1,
            1 },
    };
    for (const auto &c : cases) {
        CliReadingWatch watch(c.format);
        // Fed in two pieces, as reads cut the stream anywhere.
        QByteArray out = watch.Feed(c.in.left(7), at);
        out += watch.Feed(c.in.mid(7), at);
        EXPECT_EQ(out.toStdString(), c.out.toStdString()) << c.in.toStdString();
        EXPECT_EQ(watch.Readings(), c.readings) << c.in.toStdString();
        EXPECT_EQ(watch.Skipped(), c.skipped) << c.in.toStdString();
    }
}

TEST(SerialPortList, ComPortsThenTheDevicesPresentWithWhatEachIs)
{
    QTemporaryDir dev;
    ASSERT_TRUE(dev.isValid());
    QDir root(dev.path());
    ASSERT_TRUE(root.mkpath(QStringLiteral("serial/by-id")));
    for (const char *name : { "ttyUSB10", "ttyUSB3", "ttyACM0", "ttyS0", "null" }) {
        QFile file(root.filePath(QLatin1String(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const QString byId = root.filePath(QStringLiteral("serial/by-id/usb-Halvren_Cable_A1-if00"));
    ASSERT_TRUE(QFile::link(QStringLiteral("../../ttyUSB3"), byId));

    const QList<SerialPortList::Entry> entries = SerialPortList::Entries(dev.path());
    ASSERT_EQ(entries.size(), 49 + 4);
    EXPECT_EQ(entries.at(0).port, QStringLiteral("COM1"));
    EXPECT_EQ(entries.at(0).device, QStringLiteral("/dev/ttyS0"));
    EXPECT_TRUE(entries.at(48).what.startsWith(QStringLiteral("serial port")));
    const struct
    {
        QString port;
        QString what;
    } devices[] = {
        { byId,
            QStringLiteral("USB adapter -> ")
                + QFileInfo(root.filePath(QStringLiteral("ttyUSB3"))).canonicalFilePath() },
        { root.filePath(QStringLiteral("ttyUSB3")), QStringLiteral("USB serial adapter") },
        { root.filePath(QStringLiteral("ttyUSB10")), QStringLiteral("USB serial adapter") },
        { root.filePath(QStringLiteral("ttyACM0")), QStringLiteral("USB modem-class device") },
    };
    for (int i = 0; i < 4; ++i) {
        const SerialPortList::Entry &e = entries.at(49 + i);
        EXPECT_EQ(e.port, devices[i].port) << i;
        EXPECT_EQ(e.device, devices[i].port) << i; // a device path opens as it stands
        EXPECT_EQ(e.what, devices[i].what) << i;
    }
    // The Settings sheet's lists: "OFF" first on the Modbus page, a path in force kept last.
    const QStringList names = SerialPortList::Names(true, QStringLiteral("/dev/pts/7"), dev.path());
    EXPECT_EQ(names.first(), QStringLiteral("OFF"));
    EXPECT_EQ(names.last(), QStringLiteral("/dev/pts/7"));
    EXPECT_EQ(SerialPortList::Names(false, QStringLiteral("COM3"), dev.path()).size(), 49 + 4);
}

// An image with bytes missing or added is refused with how many there are; the blanks, line end
// and byte-order mark an editor adds are no bytes.
TEST(MeterFileOpening, OnlyAWholeImageOpensInEitherSeries)
{
    ResetGlobals();
    QDir::setCurrent(TestEnv::WorkDir());
    const QByteArray kelvane = ReadFile(QStringLiteral("41A_Template.mtr"));
    const QByteArray quixal = ReadFile(QStringLiteral("Quixal.qxm"));
    ASSERT_FALSE(kelvane.isEmpty() || quixal.isEmpty());
    const struct
    {
        bool quixal;
        QByteArray content;
        const char *refusal; // part of the reason; "" when the file opens
    } rows[] = {
        { false, kelvane, "" },
        { false, "\xEF\xBB\xBF" + kelvane + "   \n", "" },
        { false, kelvane.left(600), "It is incomplete: 200 of the" },
        { false, kelvane.left(kelvane.size() - 1) + "\r\n", "" }, // last blank dropped
        { false, kelvane.left(kelvane.size() - 3), "of the" },
        { false, kelvane + "AB CD EF ", "It holds 3 bytes more than the" },
        { false, kelvane + "\nAB CD EF ", "" }, // a second line is no part of the image
        { false, "", "" }, // no layout: shown with a warning, never saved over
        { true, quixal, "" },
        { true, quixal + "00 ", "It holds 1 byte more than the" },
        { false, kelvane + "x", "It holds 2 characters more" },
    };
    QStringList said;
    const UserMessage::Handler old
        = UserMessage::SetHandler([&said](const QString &text, const QString &) { said << text; });
    for (const auto &row : rows) {
        const QString name = row.quixal ? QStringLiteral("case.qxm") : QStringLiteral("case.mtr");
        WriteFile(name, row.content);
        said.clear();
        std::unique_ptr<CMeterDoc> doc
            = row.quixal ? std::make_unique<QXMeterDoc>() : std::make_unique<CMeterDoc>();
        const bool opened = doc->OnOpenDocument(name);
        const QString what = QString::fromLatin1(row.content.right(12).toHex(' '));
        if (!*row.refusal) {
            EXPECT_TRUE(opened) << qPrintable(what) << qPrintable(doc->OpenError());
            EXPECT_TRUE(doc->OpenError().isEmpty());
            continue;
        }
        EXPECT_FALSE(opened) << qPrintable(what);
        EXPECT_TRUE(doc->OpenError().contains(QLatin1String(row.refusal)))
            << qPrintable(what) << ": " << qPrintable(doc->OpenError());
        // The user is told once, naming the file.
        ASSERT_EQ(said.size(), 1) << qPrintable(said.join(QLatin1Char('|')));
        EXPECT_TRUE(said.first().startsWith(name + QStringLiteral(" was not opened.")));
    }
    UserMessage::SetHandler(old);
    QFile::remove(QStringLiteral("case.mtr"));
    QFile::remove(QStringLiteral("case.qxm"));
    ResetGlobals();
}
