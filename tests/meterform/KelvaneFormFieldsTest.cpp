// The Kelvane form's field rules without a window: KelvaneFormFields answers SetField and
// GetField as the form's controls do, so the command-line program and the form collect the
// same values. Each row goes to both, and every field is read back from both.
#include "meter/KelvaneFormFields.h"

#include "base/CDocument.h"
#include "base/Globals.h"
#include "base/UserMessage.h"
#include "meter/ZarnFormView.h"
#include "support/TestEnv.h"

#include <QDir>

#include <gtest/gtest.h>

#include <memory>

TEST(KelvaneFormFields, AnswersEveryFieldAsTheFormDoes)
{
    ResetGlobals();
    QDir::setCurrent(TestEnv::WorkDir());
    const auto old = UserMessage::SetHandler([](const QString &, const QString &) {});
    CDocument document;
    document.SetTitle(QStringLiteral("41A_Template.mtr"));
    auto form = std::make_unique<ZarnFormView>(&document);
    form->OnInitialUpdate();
    KelvaneFormFields fields;
    fields.LoadAlarms();
    fields.LoadUnits(QStringLiteral("units20.dat"));

    const struct
    {
        int id;
        const char *text;
    } rows[] = {
        { 1004, "SCFH" }, // units by the beginning of a line
        { 1004, "NONE" }, // no line begins so: the selection stays
        { 1005, "2" }, { 1005, "x" }, // no digit: the choice stays
        { 1006, "403" }, // alarms by a line's last three characters
        { 1007, "999" }, // no such code: no selection
        { 1010, " 12.5 =>rest" }, // cut before the first blank, "=" or ">"
        { 1037, "7.5" }, // Zero Offset bounded on every change
        { 1022, "33" }, // the spin's id sets its edit
        { 1024, "44" }, { 1028, "55" }, { 1029, "300" }, // the slider gives back what it was given
        { 1030, "-4" }, { 1032, "TRUE" }, { 1033, "yes" }, // only "TRUE" ticks a box
        { 1056, "TRUE" }, { 1052, "" }, { 1047, "1.00000000e+00" }, { 1047, "2.50000000e-01" },
        { 1063, "" }, { 1057, "3.0" }, { 1115, "3" }, { 1020, "2" }, { 1048, "31415" },
        { 1054, "12/25/27" }, { 1051, "AA BB CC" },
        { 1114, "4" }, // the Active range takes nothing from SetField
        { 1200, "9" }, // no field of the form
    };
    for (const auto &row : rows) {
        form->SetField(row.id, QString::fromLatin1(row.text));
        fields.SetField(row.id, QString::fromLatin1(row.text));
    }
    for (int id = 1004; id <= 1115; ++id) {
        if (id == 1043 || id == 1044 || id == 1049 || id == 1084 || id == 1067 || id == 1054
            || id == 1055 || id == 1114)
            continue; // the clock's own texts (dates, versions, the Active range)
        if (id == 1047 || id == 1057 || id == 1061) {
            // A list is read line by line after its reset.
            const int reset = id == 1047 ? 1052 : id == 1057 ? 1063 : 1064;
            form->GetField(reset);
            fields.GetField(reset);
            for (int line = 0; line < 3; ++line)
                EXPECT_EQ(fields.GetField(id), form->GetField(id)) << id << " line " << line;
            continue;
        }
        if (form->Control(id)
            && qobject_cast<QObject *>(form->Control(id))->inherits("QPushButton"))
            continue; // buttons show their captions
        EXPECT_EQ(fields.GetField(id), form->GetField(id)) << "field " << id;
    }
    EXPECT_EQ(fields.GetField(1054), QStringLiteral("12/25/27"));
    form.reset();
    UserMessage::SetHandler(old);
    ResetGlobals();
}
