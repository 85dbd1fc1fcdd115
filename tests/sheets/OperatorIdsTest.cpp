// The operator table behind the identification dialog, and the dialog itself.
#include "base/OperatorIds.h"
#include "app/CTechDlg.h"
#include "base/CPrefs.h"
#include "base/UserMessage.h"
#include "support/TestEnv.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTest>

#include <gtest/gtest.h>

namespace {
QString Stored(const QString &id)
{
    return CPrefs::OpenStore()->value(QStringLiteral("Printer/") + id).toString();
}
} // namespace

TEST(OperatorIds, RegistersLooksUpAndRefuses)
{
    TestEnv::ClearPreferences();
    const struct
    {
        const char *typed;
        bool accepted;
        const char *name; // the name given back
        const char *id; // entry that must hold the name afterwards ("" none)
    } cases[] = {
        { "", true, "Anon", "" }, { "Jane Doe|1234", true, "Jane Doe", "1234" },
        { "1234", true, "Jane Doe", "" }, // the ID alone gives its name
        { "9999", true, "Anon", "" }, // never registered
        { "John Roe|1234", true, "John Roe", "1234" }, // an existing ID gets the new name
        { "1234", true, "John Roe", "" },
        { "Ann|0123456789", true, "Ann", "0123456789" }, // ten characters: the most
        { "0123456789", true, "Ann", "" },
        { "Ann|01234567890", false, "", "" }, // eleven: refused, not cut
        { "012345678", true, "Anon", "" }, { "|1234", false, "", "" }, { "Bob|", false, "", "" },
        { "|", false, "", "" }, { "Bob|a/b", false, "", "" }, { "Bob|a\\b", false, "", "" },
        { "a/b", true, "Anon", "" }, { "Pipe|x|y", true, "Pipe", "x|y" }, // the first bar splits
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.typed);
        const OperatorIds::Result result = OperatorIds::Accept(QString::fromLatin1(c.typed));
        EXPECT_EQ(result.accepted, c.accepted);
        if (c.accepted) {
            EXPECT_EQ(result.name, QString::fromLatin1(c.name));
        } else {
            EXPECT_FALSE(result.message.isEmpty());
        }
        if (*c.id) {
            EXPECT_EQ(Stored(QString::fromLatin1(c.id)), QString::fromLatin1(c.name));
        }
    }
    // Refused IDs left nothing behind, not even a group.
    auto store = CPrefs::OpenStore();
    store->beginGroup(QStringLiteral("Printer"));
    EXPECT_EQ(store->allKeys().size(), 3) << store->allKeys().join(QLatin1Char(',')).toStdString();
    store->endGroup();
    // The passcodes are the owner's alone, also after the preferences are written again.
    {
        CPrefs prefs;
    }
    const QFile::Permissions permissions = QFile::permissions(store->fileName());
    EXPECT_TRUE(permissions.testFlags(QFile::ReadOwner | QFile::WriteOwner));
    EXPECT_FALSE(permissions
        & (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther));
    // A store another program left readable to all is closed again when the table is read.
    QFile::setPermissions(store->fileName(), permissions | QFile::ReadGroup | QFile::ReadOther);
    EXPECT_EQ(OperatorIds::Accept(QStringLiteral("1234")).name, QStringLiteral("John Roe"));
    EXPECT_FALSE(QFile::permissions(store->fileName()) & (QFile::ReadGroup | QFile::ReadOther));
}

TEST(OperatorIds, TheDialogStaysOpenOnARefusal)
{
    TestEnv::ClearPreferences();
    QStringList messages;
    const auto old = UserMessage::SetHandler(
        [&messages](const QString &text, const QString &) { messages.append(text); });
    CTechDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Authorization Dialog"));
    EXPECT_EQ(dialog.AcceptButton()->text(), QStringLiteral("Accept"));
    EXPECT_EQ(dialog.Field()->maxLength(), 50);
    EXPECT_EQ(dialog.Field()->echoMode(), QLineEdit::Password);
    dialog.show();
    QTest::keyClicks(dialog.Field(), QStringLiteral("Kim|01234567890"));
    EXPECT_EQ(dialog.Field()->displayText(), QString(15, dialog.Field()->displayText().at(0)));
    const QString shot = qEnvironmentVariable("TARVIK_TECHDLG_SHOT");
    if (!shot.isEmpty())
        dialog.grab().save(shot);
    QTest::mouseClick(dialog.AcceptButton(), Qt::LeftButton);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), int(QDialog::Rejected));
    ASSERT_EQ(messages.size(), 1);
    dialog.Field()->setText(QStringLiteral("Kim|77"));
    QTest::mouseClick(dialog.AcceptButton(), Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), int(QDialog::Accepted));
    EXPECT_EQ(dialog.Name(), QStringLiteral("Kim"));
    EXPECT_EQ(OperatorIds::NameOf(QStringLiteral("77")), QStringLiteral("Kim"));
    EXPECT_EQ(messages.size(), 1);
    UserMessage::SetHandler(old);
}
