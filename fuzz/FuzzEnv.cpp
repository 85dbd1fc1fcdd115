#include "FuzzEnv.h"

#include "base/Globals.h"
#include "base/UserMessage.h"
#include "meter/ChoiceList.h"
#include "meter/MeterVars.h"

#include <QDir>
#include <QFile>

#include <cstdlib>

#include <unistd.h>

namespace {

QString g_workDir;

void RemoveWorkDir()
{
    if (!g_workDir.isEmpty())
        QDir(g_workDir).removeRecursively();
}

} // namespace

void FuzzEnv::Init()
{
    if (g_workDir.isEmpty()) {
        // A memory file system keeps the targets that read files fast.
        const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm")
                                                                       : QDir::tempPath();
        g_workDir = QStringLiteral("%1/tarvik-fuzz-%2").arg(base).arg(::getpid());
        QDir().mkpath(g_workDir);
        const QDir data(QStringLiteral(TARVIK_DATA_DIR));
        for (const QString &name : data.entryList(QDir::Files)) {
            QFile::copy(data.filePath(name), g_workDir + QLatin1Char('/') + name);
            // The layouts and lists never change during a run: held in memory, so the targets
            // that build tables and fill lists for every input read no file for them.
            if (!name.endsWith(QLatin1String(".dat")))
                continue;
            QFile file(data.filePath(name));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            if (name.startsWith(QLatin1String("vars")))
                MeterVars::HoldLayoutFile(name, file.readAll());
            else
                ChoiceList::Hold(name, file.readAll());
        }
        QDir::setCurrent(g_workDir);
        std::atexit(RemoveWorkDir);
        UserMessage::SetHandler([](const QString &, const QString &) {});
    }
    ResetGlobals();
}

QString FuzzEnv::WorkDir()
{
    return g_workDir;
}

QByteArray FuzzEnv::Bytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}

QList<QByteArray> FuzzEnv::Split(const QByteArray &input, char separator, int maxPieces)
{
    QList<QByteArray> pieces;
    qsizetype from = 0;
    while (int(pieces.size()) < maxPieces - 1) {
        const qsizetype at = input.indexOf(separator, from);
        if (at < 0)
            break;
        pieces.append(input.mid(from, at - from));
        from = at + 1;
    }
    pieces.append(input.mid(from));
    return pieces;
}

bool FuzzEnv::WriteFile(const QString &name, const QByteArray &bytes)
{
    QFile file(g_workDir + QLatin1Char('/') + name);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(bytes) == bytes.size();
}
