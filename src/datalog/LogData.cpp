#include "datalog/LogData.h"

void LogData::ClearLists()
{
    headerList.clear();
    snapshotList.clear();
    stopList.clear();
}

QStringList &LogData::ListOf(List list)
{
    return list == Header ? headerList : list == Snapshot ? snapshotList : stopList;
}

const QStringList &LogData::ListOf(List list) const
{
    return list == Header ? headerList : list == Snapshot ? snapshotList : stopList;
}

QString LogData::SerialNumber() const
{
    static const QLatin1String kSerial("Serial#");
    for (const QString &line : headerList) {
        const qsizetype at = line.indexOf(kSerial);
        if (at < 0)
            continue;
        // "Serial#  12345678   Start Date: ...": the word after the mark, unless the next field
        // follows at once (a meter that told no serial number).
        const QString rest = line.mid(at + kSerial.size()).trimmed();
        const QString word = rest.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty);
        return rest.startsWith(QLatin1String("Start Date")) ? QString() : word;
    }
    return QString();
}
