// The contract every meter series model keeps, one row per series: its names, opening only a
// whole file of its own series, changing fields through the form's rules, saving what reopens
// the same, taking a read only when it is whole and of its own series, sending and converting.
// (The datasheet is checked through tarvik-cli sheet, which prints it from this model.)
#include "meterqx/SeriesModels.h"

#include "base/Globals.h"
#include "lists/IFieldAccess.h"
#include "meter/CMeterDoc.h"
#include "meter/MeterVars.h"
#include "support/TestEnv.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {
QString RowText(MeterSeriesModel &model, const QString &caption)
{
    for (const MeterSeriesModel::Row &row : model.Rows())
        if (row.caption == caption)
            return row.text;
    return QStringLiteral("<none>");
}

// What a read list leaves in the fields: the firmware answer, then the image text.
bool ReadInto(MeterSeriesModel &model, const QString &version, const QString &image, QString *error)
{
    model.Fields().SetField(1049, version);
    model.Fields().SetField(1051, image);
    return model.FinishRead(error);
}
} // namespace

TEST(SeriesModels, EachSeriesKeepsTheModelsContract)
{
    ResetGlobals();
    QDir::setCurrent(TestEnv::WorkDir());
    const struct
    {
        MeterSeries::Series series;
        const char *extension;
        const char *layoutFile;
        const char *readList;
        const char *sendList;
        const char *fileName; // FileName("A/B", "2")
        const char *file; // a file of the series
        const char *otherFile; // a file of the other series
        const char *otherVersion; // a firmware of the other series
        const char *readOnly; // a field the form shows but never takes
        const char *range; // the active range a read of `file`'s image gives
        const char *convertTo; // a firmware of the series' other layouts
        const char *converted; // its layout section
    } rows[] = {
        { MeterSeries::Kelvane, ".mtr", "vars20.dat", "read20.que", "send20.que", "A_B_2.mtr",
            "41A_Template.mtr", "Quixal.qxm", "1.4A", "Flow Meter", nullptr, "3.9G", "[3.9G]" },
        { MeterSeries::Quixal, ".qxm", "varsQX.dat", "qxread.que", "qxsend.que", "A_B_1.qxm",
            "Quixal.qxm", "41A_Template.mtr", "4.1A", "Meter", "1", "1.0A", "[1.0A]" },
    };
    for (const auto &row : rows) {
        const QString name = MeterSeries::Name(row.series);
        SCOPED_TRACE(qPrintable(name));
        const QString ext = QLatin1String(row.extension);
        // Names: the series a path says, the files and lists of the data folder.
        std::unique_ptr<MeterSeriesModel> model
            = SeriesModels::OfPath(QStringLiteral("/x/y") + ext.toUpper());
        ASSERT_EQ(model->Series(), row.series);
        EXPECT_EQ(model->Extension(), ext);
        EXPECT_EQ(model->LayoutFile(), QLatin1String(row.layoutFile));
        EXPECT_EQ(model->ReadList(), QLatin1String(row.readList));
        EXPECT_EQ(model->SendList(), QLatin1String(row.sendList));
        for (const QString &data : { model->LayoutFile(), model->ReadList(), model->SendList() })
            EXPECT_TRUE(QFileInfo::exists(data)) << qPrintable(data);
        EXPECT_EQ(model->FileName(QStringLiteral("A/B"), QStringLiteral("2")),
            QLatin1String(row.fileName));

        // Opening: the file of the series, whole.
        QString error;
        ASSERT_TRUE(model->Open(QLatin1String(row.file), &error)) << qPrintable(error);
        EXPECT_EQ(MeterSeries::OfVersion(model->Layout()), row.series);
        EXPECT_EQ(RowText(*model, QStringLiteral("Serial Number")), model->Serial());
        const QString stored = model->StoredText();
        EXPECT_EQ(model->ImageBytes().size(), stored.size() / 3);

        // Fields through the form's rules.
        EXPECT_EQ(model->Set(QStringLiteral("full scale"), QStringLiteral("90")), QString());
        EXPECT_EQ(RowText(*model, QStringLiteral("Full Scale")).toDouble(), 90.0);
        EXPECT_FALSE(model->Set(QStringLiteral("Full Scale"), QStringLiteral("abc")).isEmpty());
        EXPECT_EQ(RowText(*model, QStringLiteral("Full Scale")).toDouble(), 90.0);
        EXPECT_TRUE(model->Set(QLatin1String(row.readOnly), QStringLiteral("9.9Z"))
                        .contains(QLatin1String("read-only")));
        EXPECT_TRUE(model->Set(QStringLiteral("Nothing"), QStringLiteral("1"))
                        .contains(QStringLiteral("no field of the %1 form").arg(name)));
        EXPECT_TRUE(model->Set(QStringLiteral("Serial Number[0]"), QStringLiteral("1"))
                        .contains(QLatin1String("is no list")));

        // Saving writes what reopens the same in a fresh model.
        const QString saved = QStringLiteral("contract") + ext;
        ASSERT_TRUE(model->Save(saved, &error)) << qPrintable(error);
        std::unique_ptr<MeterSeriesModel> reopened = SeriesModels::OfPath(saved);
        ASSERT_TRUE(reopened->Open(saved, &error)) << qPrintable(error);
        EXPECT_EQ(reopened->StoredText(), model->StoredText());
        EXPECT_EQ(RowText(*reopened, QStringLiteral("Full Scale")).toDouble(), 90.0);

        // Refused files: not whole, empty, of the other series, missing.
        const struct
        {
            QByteArray content;
            const char *reason;
        } bad[] = {
            { ReadFile(QLatin1String(row.file)) + "00 ", "byte more than the" },
            { "\r\n", "is empty" },
            { ReadFile(QLatin1String(row.otherFile)), "holds the data of a" },
        };
        for (const auto &b : bad) {
            WriteFile(saved, b.content);
            std::unique_ptr<MeterSeriesModel> refused = SeriesModels::Make(row.series);
            EXPECT_FALSE(refused->Open(saved, &error)) << b.reason;
            EXPECT_TRUE(error.contains(QLatin1String(b.reason))) << qPrintable(error);
        }
        EXPECT_TRUE(error.contains(MeterSeries::Extension(MeterSeries::OfPath(
            QLatin1String(row.otherFile))))); // where the other series' file belongs
        EXPECT_FALSE(model->Open(QStringLiteral("missing") + ext, &error));
        EXPECT_TRUE(error.contains(QLatin1String("no such file")));
        QFile::remove(saved);

        // Reads: taken only whole and from a meter of the series; nothing else changes.
        const QString version = model->Layout().mid(1, 4);
        const struct
        {
            QString version;
            QString image;
            const char *reason; // "" when the read is taken
        } reads[] = {
            { QLatin1String(row.otherVersion), stored, "not a" },
            { version, QString(), "sent no configuration image" },
            { version, stored.left(stored.size() / 2), "incomplete" },
            { version, stored + QStringLiteral("  "), "" },
        };
        for (const auto &r : reads) {
            std::unique_ptr<MeterSeriesModel> meter = SeriesModels::Make(row.series);
            const bool taken = ReadInto(*meter, r.version, r.image, &error);
            EXPECT_EQ(taken, !*r.reason) << qPrintable(r.version) << qPrintable(error);
            if (!taken) {
                EXPECT_TRUE(error.contains(QLatin1String(r.reason))) << qPrintable(error);
                EXPECT_TRUE(meter->ActiveRange().isEmpty());
                continue;
            }
            EXPECT_EQ(meter->StoredText(), stored);
            EXPECT_EQ(meter->Serial(), reopened->Serial());
            if (row.range) {
                EXPECT_EQ(meter->ActiveRange(), QLatin1String(row.range));
            }
            EXPECT_EQ(meter->FileName(meter->Serial(), meter->ActiveRange()),
                meter->Title(meter->Serial(), meter->ActiveRange()) + ext);
        }

        // A byte stored wrong that no field's text shows is named by the field showing it.
        std::unique_ptr<MeterSeriesModel> sent = SeriesModels::Make(row.series);
        std::unique_ptr<MeterSeriesModel> back = SeriesModels::Make(row.series);
        ASSERT_TRUE(ReadInto(*sent, version, stored, &error)) << qPrintable(error);
        const int low = sent->Document().Vars()->IndexOf(QStringLiteral("coeff[11]")) + 3;
        QByteArray wrong = sent->ImageBytes();
        wrong[low] = char(wrong.at(low) ^ 1);
        ASSERT_TRUE(
            ReadInto(*back, version, QString::fromLatin1(wrong.toHex(' ').toUpper()), &error));
        EXPECT_TRUE(sent->StoredDifference(*back).endsWith(
            QStringLiteral(":\nbyte %1 (Zero Offset)").arg(low)));

        // A send puts the collected image in the field the send list sends.
        reopened->PrepareSend(QStringLiteral("1"));
        EXPECT_FALSE(reopened->Fields().GetField(1051).trimmed().isEmpty());
        EXPECT_EQ(reopened->Fields().GetField(1051), reopened->Document().ImageToSendText());

        // Converting moves the values into another layout of the series, or refuses.
        EXPECT_FALSE(reopened->Convert(QStringLiteral("9.9Z"), &error));
        EXPECT_FALSE(error.isEmpty());
        EXPECT_EQ(reopened->Layout(), model->Layout());
        ASSERT_TRUE(reopened->Convert(QLatin1String(row.convertTo), &error)) << qPrintable(error);
        EXPECT_EQ(reopened->Layout(), QLatin1String(row.converted));
        EXPECT_EQ(RowText(*reopened, QStringLiteral("Full Scale")).toDouble(), 90.0);
        ResetGlobals();
    }
    ResetGlobals();
}
