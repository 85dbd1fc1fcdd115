// Numbers a meter's reply or a command list puts into the form's numeric fields: whatever their
// size, the field holds a value read without wrapping round (no signed overflow).
#include "meter/ZarnFormView.h"

#include "base/CDocument.h"
#include "base/Globals.h"
#include "support/TestEnv.h"

#include <QDir>

#include <gtest/gtest.h>

#include <memory>

namespace {

struct FieldCase
{
    int id;
    const char *reply;
    const char *expected; // GetField afterwards
};

// 1020 holds the desired range less one; 1115 picks that range in the list (1 to 4, else none).
const FieldCase kCases[] = {
    { 1020, "3", "2" },
    { 1020, "V=2", "-1" }, // no number in front: 0 - 1
    { 1020, "-99999999999", "-2147483649" }, // saturated at INT_MIN, then one less
    { 1020, "-2147483648", "-2147483649" },
    { 1020, "99999999999", "2147483646" },
    { 1020, "2147483647", "2147483646" },
    { 1115, "-99999999999", "" },
    { 1115, "99999999999", "" },
    { 1115, "4", "4" },
};

TEST(FormNumberFields, HugeRepliesSaturateInsteadOfWrapping)
{
    ResetGlobals();
    QDir::setCurrent(TestEnv::WorkDir());
    CDocument document;
    document.SetTitle(QStringLiteral("41A_Template.mtr"));
    ZarnFormView form(&document);
    form.OnInitialUpdate();
    for (const FieldCase &row : kCases) {
        form.SetField(row.id, QLatin1String(row.reply));
        EXPECT_EQ(form.GetField(row.id), QLatin1String(row.expected))
            << row.id << " <- \"" << row.reply << '"';
    }
    ResetGlobals();
}

} // namespace
