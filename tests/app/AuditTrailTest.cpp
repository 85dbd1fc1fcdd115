// Window > Audit Trail, and the Settings sheet's "Sending and Audit" page.
#include "app/CAuditDlg.h"
#include "app/CAuditPage.h"
#include "app/CServiceHistoryDlg.h"
#include "app/CSetup.h"
#include "audit/AuditLog.h"
#include "audit/AuditSettings.h"
#include "base/UserMessage.h"
#include "records/RecordsDelivery.h"
#include "support/TestEnv.h"
#include "support/TestFiles.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(AuditTrailWindow, ListsFiltersAndExports)
{
    TestEnv::ClearPreferences();
    QDir::setCurrent(TestEnv::WorkDir());
    const QString path = AuditSettings::TrailPath();
    QFile::remove(path);
    QString error;
    const char *const lines[][3] = { { "31415", "2026-12-08T09:00:00+01:00", "send" },
        { "27182", "2026-12-09T09:00:00+01:00", "send" },
        { "31415", "2026-12-09T10:00:00+01:00", "read" } };
    for (const auto &[serial, when, action] : lines) {
        AuditRecord r = AuditRecord::Now(QString::fromLatin1(action), QStringLiteral("Ann"));
        r.time = QDateTime::fromString(QString::fromLatin1(when), Qt::ISODate);
        r.serial = QString::fromLatin1(serial);
        r.result = QStringLiteral("ok");
        r.changes = { { QStringLiteral("Modbus Addr"), 1035, QStringLiteral("1"),
            QStringLiteral("17") } };
        if (QLatin1String(action) == QLatin1String("send"))
            r.changes.push_back(
                { QStringLiteral("Full Scale"), 1018, QStringLiteral("80"), QStringLiteral("90") });
        ASSERT_TRUE(AuditLog(path).Append(r, &error)) << qPrintable(error);
    }

    QStringList said;
    const auto old = UserMessage::SetHandler([&](const QString &t, const QString &) { said << t; });
    QString answer = QDir::current().filePath(QStringLiteral("trail.csv"));
    const auto oldPrompt
        = CAuditDlg::SetSavePrompt([&](QWidget *, const QString &) { return answer; });
    {
        CAuditDlg dialog;
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Audit Trail"));
        EXPECT_EQ(dialog.Table()->rowCount(), 3);
        dialog.SerialFilter()->setText(QStringLiteral("31415"));
        EXPECT_EQ(dialog.Table()->rowCount(), 2);
        EXPECT_EQ(dialog.Table()->item(1, 2)->text(), QStringLiteral("read"));
        // Each row names the fields it changed, and the selected row's stand below the table.
        const QString addr = QStringLiteral("Modbus Addr: 1 \u2192 17"),
                      scale = QStringLiteral("Full Scale: 80 \u2192 90");
        EXPECT_EQ(dialog.Table()->item(1, 9)->text(), addr);
        EXPECT_EQ(dialog.Table()->item(0, 9)->text(), addr + QStringLiteral("; ") + scale);
        dialog.Table()->setCurrentCell(0, 0);
        EXPECT_EQ(dialog.Details()->text(), addr + QLatin1Char('\n') + scale);
        dialog.FromFilter()->setText(QStringLiteral("2026-12-09"));
        EXPECT_EQ(dialog.Table()->rowCount(), 1);
        ASSERT_TRUE(dialog.ExportCsv());
        EXPECT_EQ(ReadFile(answer), AuditLog::Csv(dialog.Shown()).toUtf8());
        // The day shown holds no send of 31415: nothing to report, and said so.
        EXPECT_FALSE(dialog.ExportReport());
        EXPECT_EQ(said.size(), 1);
        dialog.FromFilter()->clear();
        answer = QDir::current().filePath(QStringLiteral("visit"));
        ASSERT_TRUE(dialog.ExportReport());
        EXPECT_TRUE(ReadFile(answer + QStringLiteral(".pdf")).startsWith("%PDF"));
    }
    CAuditDlg::SetSavePrompt(oldPrompt);
    UserMessage::SetHandler(old);
    QFile::remove(path);
}

TEST(AuditTrailWindow, SettingsPageKeepsTheChecksAndFolders)
{
    TestEnv::ClearPreferences();
    EXPECT_TRUE(AuditSettings::CompareBeforeSend() && AuditSettings::ReadBackAfterSend())
        << "on by default";
    {
        CSetup sheet(nullptr);
        sheet.Tabs()->setCurrentIndex(3);
        CAuditPage *page = sheet.AuditPage();
        EXPECT_TRUE(page->CompareBox()->isChecked());
        EXPECT_EQ(
            page->CompareBox()->text(), QStringLiteral("Compare with the meter before sending"));
        EXPECT_EQ(page->ReadBackBox()->text(), QStringLiteral("Read back after sending"));
        page->CompareBox()->setChecked(false);
        page->TrailFolder()->setText(QStringLiteral(" /srv/lab "));
        page->OperatorEdit()->setText(QStringLiteral(" Kim "));
        page->Apply();
    }
    EXPECT_EQ(AuditSettings::Operator(), QStringLiteral("Kim"));
    EXPECT_FALSE(AuditSettings::CompareBeforeSend());
    EXPECT_TRUE(AuditSettings::ReadBackAfterSend());
    EXPECT_EQ(AuditSettings::Folder(), QStringLiteral("/srv/lab"));
    EXPECT_EQ(AuditSettings::TrailPath(), QStringLiteral("/srv/lab/tarvik-audit.jsonl"));
    TestEnv::ClearPreferences();
}

// Window > Service History: meters by serial (searched), the selected meter's visits, the
// selected visit's actions with their changes, its change report and the meter's CSV.
TEST(AuditTrailWindow, ServiceHistoryListsMetersVisitsAndExports)
{
    TestEnv::ClearPreferences();
    QTemporaryDir folder;
    AuditSettings::SetFolder(folder.path());
    const char *const lines[][4] = { { "00042", "2026-12-08T09:00:00+01:00", "read", "Ann" },
        { "00042", "2026-12-08T09:10:00+01:00", "send", "Ann" },
        { "00042", "2026-12-09T09:00:00+01:00", "send", "Bob" },
        { "777", "2026-12-09T10:00:00+01:00", "read", "Ann" } };
    QString error;
    for (const auto &[serial, when, action, who] : lines) {
        AuditRecord r = AuditRecord::Now(QString::fromLatin1(action), QString::fromLatin1(who));
        r.time = QDateTime::fromString(QString::fromLatin1(when), Qt::ISODate);
        r.series = QStringLiteral("Kelvane");
        r.serial = QString::fromLatin1(serial);
        r.result = QStringLiteral("ok");
        r.changes = { { QStringLiteral("Modbus Addr"), 1035, QStringLiteral("1"),
            QStringLiteral("17") } };
        ASSERT_TRUE(AuditLog(AuditSettings::TrailPath()).Append(r, &error)) << qPrintable(error);
    }
    {
        RecordsStore store(RecordsTarget::BesideTrail(AuditSettings::TrailPath()));
        RecordsDelivery::Progress progress;
        ASSERT_TRUE(store.Open()
            && RecordsDelivery::DeliverAll(store, AuditSettings::TrailPath(), &progress));
    }
    QString answer = QDir(folder.path()).filePath(QStringLiteral("history.csv"));
    const auto oldPrompt
        = CAuditDlg::SetSavePrompt([&](QWidget *, const QString &) { return answer; });
    {
        CServiceHistoryDlg dialog(nullptr);
        EXPECT_EQ(dialog.Meters()->rowCount(), 2);
        dialog.Search()->setText(QStringLiteral("004"));
        ASSERT_EQ(dialog.Meters()->rowCount(), 1);
        EXPECT_EQ(dialog.Meters()->item(0, 0)->text(), QStringLiteral("00042"));
        EXPECT_EQ(dialog.Meters()->item(0, 4)->text(), QStringLiteral("2"));
        EXPECT_EQ(dialog.Meters()->item(0, 5)->text(), QStringLiteral("2027-12-09"));
        ASSERT_EQ(dialog.Visits()->rowCount(), 2);
        EXPECT_EQ(dialog.Visits()->item(0, 4)->text(), QStringLiteral("read, send"));
        EXPECT_EQ(dialog.Visits()->item(1, 2)->text(), QStringLiteral("Bob"));
        EXPECT_TRUE(dialog.Details()->text().endsWith(
            QStringLiteral("send ok\n    Modbus Addr: 1 \u2192 17")))
            << qPrintable(dialog.Details()->text());
        ASSERT_TRUE(dialog.ExportCsv());
        EXPECT_EQ(ReadFile(answer).count('\n'), 4) << "a header and the meter's three actions";
        answer = QDir(folder.path()).filePath(QStringLiteral("visit.pdf"));
        ASSERT_TRUE(dialog.ExportReport());
        EXPECT_TRUE(ReadFile(answer).startsWith("%PDF"));
    }
    CAuditDlg::SetSavePrompt(oldPrompt);
    AuditSettings::SetFolder(QString());
    TestEnv::ClearPreferences();
}
