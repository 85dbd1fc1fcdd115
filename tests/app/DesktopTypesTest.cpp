// The desktop's document types: the shared-mime-info package, compiled by the desktop's own
// tool into a private database, must give each kind of Tarvik file its type (so a double-click
// opens it in Tarvik), leave other "*.log" files alone, and name only types the launcher opens.
#include <QDir>
#include <QFile>
#include <QMimeDatabase>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString kDesktopDir = QStringLiteral(TARVIK_SOURCE_DIR "/desktop");

bool Write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

TEST(DesktopTypes, EachTarvikFileGetsItsTypeAndOtherLogsKeepTheirs)
{
    const QString freedesktop = QStringLiteral("/usr/share/mime/packages/freedesktop.org.xml");
    if (!QFile::exists(freedesktop))
        GTEST_SKIP() << "shared-mime-info is not installed";
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString packages = root.filePath(QStringLiteral("share/mime/packages"));
    ASSERT_TRUE(QDir().mkpath(packages));
    ASSERT_TRUE(QFile::copy(freedesktop, packages + QStringLiteral("/freedesktop.org.xml")));
    ASSERT_TRUE(QFile::copy(kDesktopDir + QStringLiteral("/tarvik-mime.xml"),
        packages + QStringLiteral("/tarvik.xml")));
    QProcess update;
    update.start(
        QStringLiteral("update-mime-database"), { root.filePath(QStringLiteral("share/mime")) });
    ASSERT_TRUE(update.waitForFinished(60000)) << "update-mime-database did not finish";
    ASSERT_EQ(update.exitCode(), 0) << update.readAllStandardError().constData();

    // The database is chosen at its first use in this process, which is here.
    qputenv("XDG_DATA_HOME", root.filePath(QStringLiteral("none")).toLocal8Bit());
    qputenv("XDG_DATA_DIRS", root.filePath(QStringLiteral("share")).toLocal8Bit());
    const struct
    {
        const char *name;
        QByteArray bytes;
        const char *type;
    } files[] = {
        { "meter.mtr", "[4.1A]\r\n", "application/x-tarvik-kelvane" },
        { "meter.qxm", "[1.4A]\r\n", "application/x-tarvik-quixal" },
        { "meter.trm", "", "application/x-tarvik-terminal" },
        { "read20.que", "LABEL1:\r\n", "application/x-tarvik-command-list" },
        { "pc.log", "\"Halvren - PC Datalog Filename pc.log\r\n", "application/x-tarvik-datalog" },
        { "meter.log", "\"Halvren - Flow Meter Datalog Filename meter.log\r\n",
            "application/x-tarvik-datalog" },
        { "system.log", "Dec  8 10:00:00 host kernel: started\n", "text/x-log" },
        { "quoted.log", "\"Another program's log\"\n", "text/x-log" },
    };
    const QDir dir(root.path());
    QMimeDatabase db;
    QStringList tarvikTypes;
    for (const auto &f : files) {
        ASSERT_TRUE(Write(dir.filePath(QLatin1String(f.name)), f.bytes));
        EXPECT_EQ(
            db.mimeTypeForFile(dir.filePath(QLatin1String(f.name))).name().toStdString(), f.type)
            << f.name;
        if (QByteArray(f.type).startsWith("application/x-tarvik-"))
            tarvikTypes << QLatin1String(f.type);
    }

    // The launcher opens exactly the package's types.
    QFile desktop(kDesktopDir + QStringLiteral("/tarvik.desktop"));
    ASSERT_TRUE(desktop.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(desktop.readAll());
    const auto line
        = QRegularExpression(QStringLiteral("^MimeType=(.*)$"), QRegularExpression::MultilineOption)
              .match(text);
    ASSERT_TRUE(line.hasMatch());
    QStringList launcherTypes = line.captured(1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    launcherTypes.sort();
    tarvikTypes.removeDuplicates();
    tarvikTypes.sort();
    EXPECT_EQ(launcherTypes.join(QLatin1Char(';')).toStdString(),
        tarvikTypes.join(QLatin1Char(';')).toStdString());
}
