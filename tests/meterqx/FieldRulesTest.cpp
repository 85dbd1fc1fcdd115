// Each series' field rules: a rule for every field its form shows, number checks on variables
// its layout holds, and tarvik-cli's set taking a value through the rule of its field once (its
// limits, the id it is stored under, the fields firmware before 4.1A lacks).
#include "base/Globals.h"
#include "base/IShownFields.h"
#include "lists/IFieldAccess.h"
#include "meter/CMeterDoc.h"
#include "meter/KelvaneFieldRules.h"
#include "meter/KelvaneFormFields.h"
#include "meter/MeterVars.h"
#include "meterqx/QXFieldIds.h"
#include "meterqx/QXFieldRules.h"
#include "meterqx/QXFormFields.h"
#include "meterqx/SeriesModels.h"
#include "support/TestEnv.h"

#include <QDir>

#include <gtest/gtest.h>

namespace {
QString RuleRow(MeterSeriesModel &model, const QString &caption)
{
    for (const MeterSeriesModel::Row &row : model.Rows())
        if (row.caption == caption)
            return row.text;
    return QStringLiteral("<none>");
}
} // namespace

TEST(FieldRules, EveryFieldTakesItsValueThroughItsOneRule)
{
    ResetGlobals();
    QDir::setCurrent(TestEnv::WorkDir());
    KelvaneFormFields kelvane;
    QXFormFields quixal;
    const struct
    {
        MeterSeries::Series series;
        const char *file;
        const FieldRules &rules;
        const std::vector<FieldCaptions::Caption> &captions;
        IFieldAccess &fields; // the series' field model
        IShownFields &shown;
    } series[] = {
        { MeterSeries::Kelvane, "41A_Template.mtr", KelvaneFieldRules::Table(),
            KelvaneFormFields::Captions(), kelvane, kelvane },
        { MeterSeries::Quixal, "Quixal.qxm", QXFieldRules::Table(), QXFormFields::Captions(),
            quixal, quixal },
    };
    for (const auto &s : series) {
        // The field model keeps each field as its rule's kind says: a box its tick, a
        // coefficient list its lines, an edit or a label its text, under the id it is stored
        // under (the edit's own id then takes nothing).
        for (const FieldRule &rule : s.rules.All()) {
            const int id = rule.storedAs ? rule.storedAs : rule.id;
            if (rule.kind == FieldRule::Kind::Box) {
                for (const char *tick : { "TRUE", "FALSE" }) {
                    s.fields.SetField(id, QLatin1String(tick));
                    EXPECT_EQ(s.fields.GetField(id), QLatin1String(tick)) << id;
                    EXPECT_EQ(s.shown.ShownTicked(id), *tick == 'T') << id;
                }
            } else if (rule.kind == FieldRule::Kind::Coefficients) {
                s.fields.SetField(id, QStringLiteral("1.5"));
                EXPECT_EQ(s.shown.ShownItems(id).value(0), QStringLiteral("1.5")) << id;
            } else if (s.rules.HoldsText(id) && rule.kind != FieldRule::Kind::Own) {
                s.fields.SetField(id, QStringLiteral("3"));
                EXPECT_EQ(s.fields.GetField(id), QStringLiteral("3")) << id;
                EXPECT_EQ(s.fields.GetField(rule.id), QStringLiteral("3")) << id;
                if (rule.storedAs) {
                    s.fields.SetField(rule.id, QStringLiteral("4"));
                    EXPECT_EQ(s.fields.GetField(rule.id), QStringLiteral("3")) << id;
                }
            }
        }

        std::unique_ptr<MeterSeriesModel> model = SeriesModels::Make(s.series);
        QString error;
        ASSERT_TRUE(model->Open(QLatin1String(s.file), &error)) << qPrintable(error);
        for (const FieldCaptions::Caption &c : s.captions)
            EXPECT_TRUE(s.rules.Find(c.id)) << c.caption << " has no rule";
        for (const NumberFieldRules::Field &n : s.rules.Numbers()) {
            const QString variable = QLatin1String(n.variable ? n.variable : "");
            EXPECT_TRUE(!n.variable || model->Document().Vars()->SizeOf(variable) > 0)
                << s.file << ": " << n.variable;
        }
    }

    const struct
    {
        MeterSeries::Series series;
        const char *name;
        const char *value;
        const char *shown; // the row afterwards, or part of the refusal
    } sets[] = {
        { MeterSeries::Kelvane, "Output DAC Filter", "200", "127" }, // kept under the arrows' id
        { MeterSeries::Kelvane, "Input ADC Filter", "250", "200" },
        { MeterSeries::Kelvane, "Zero Offset", "-6", "-5.00000" },
        { MeterSeries::Quixal, "Zero Offset", "7", "5.00000" }, // as the form bounds it
        { MeterSeries::Quixal, "Display Refresh", "3", "8" },
        { MeterSeries::Quixal, "Display Refresh", "900", "200" },
        { MeterSeries::Quixal, "DAC Refresh", "64", "63" },
        { MeterSeries::Quixal, "DAC Filter", "128", "127" },
        { MeterSeries::Quixal, "No Display", "on", "TRUE" },
        { MeterSeries::Quixal, "Polarity", "nothing", "no choice of Polarity" },
    };
    for (const auto &row : sets) {
        std::unique_ptr<MeterSeriesModel> model = SeriesModels::Make(row.series);
        QString error;
        ASSERT_TRUE(model->Open(
            QLatin1String(row.series == MeterSeries::Kelvane ? "41A_Template.mtr" : "Quixal.qxm"),
            &error));
        const QString refusal = model->Set(QLatin1String(row.name), QLatin1String(row.value));
        const QString shown
            = refusal.isEmpty() ? RuleRow(*model, QLatin1String(row.name)) : refusal;
        EXPECT_TRUE(
            shown.startsWith(QLatin1String(row.shown)) || shown.contains(QLatin1String(row.shown)))
            << row.name << "=" << row.value << ": " << qPrintable(shown);
    }

    // Leaving a Quixal field reads its number as "%d" does: a text without one stays.
    const FieldRules &qx = QXFieldRules::Table();
    EXPECT_EQ(qx.Leave(QXFieldId::DisplayRefresh, QStringLiteral("abc")), QStringLiteral("abc"));
    EXPECT_EQ(
        qx.Leave(QXFieldId::DisplayRefresh, QStringLiteral("200.5")), QStringLiteral("200.5"));
    EXPECT_EQ(qx.Leave(QXFieldId::DacRefresh, QStringLiteral("0x40")), QStringLiteral("0x40"));

    // Before 4.1A: the fields the firmware lacks are refused, and the hidden ones not shown.
    std::unique_ptr<MeterSeriesModel> early = SeriesModels::Make(MeterSeries::Kelvane);
    QString error;
    ASSERT_TRUE(early->Open(QStringLiteral("41A_Template.mtr"), &error));
    ASSERT_TRUE(early->Convert(QStringLiteral("3.9G"), &error)) << qPrintable(error);
    for (const char *lacking : { "Watchdog Timer", "Hold Flow (Relay #1)", "Secondary[0]" })
        EXPECT_TRUE(early->Set(QLatin1String(lacking), QStringLiteral("1"))
                        .contains(QLatin1String("Not Supported")))
            << lacking;
    EXPECT_NE(RuleRow(*early, QStringLiteral("Watchdog Timer")), QStringLiteral("<none>"));
    EXPECT_EQ(RuleRow(*early, QStringLiteral("Hold Flow (Relay #2)")), QStringLiteral("<none>"));
    EXPECT_EQ(RuleRow(*early, QStringLiteral("Point-Wise[1]")), QStringLiteral("<none>"));
    ResetGlobals();
}
