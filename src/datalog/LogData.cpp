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
