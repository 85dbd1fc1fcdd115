#include "meter/ChoiceList.h"

#include <QFile>

QStringList ChoiceList::Read(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines;
    while (!file.atEnd()) {
        QByteArray line = file.readLine(4096);
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        lines.append(QString::fromLatin1(line));
    }
    return lines;
}

int ChoiceList::FindEndingIn(const QStringList &lines, const QString &code)
{
    if (code.isEmpty())
        return -1;
    for (int i = 0; i < lines.size(); ++i)
        if (lines.at(i).endsWith(code))
            return i;
    return -1;
}

int ChoiceList::FindBeginningWith(
    const QStringList &lines, const QString &prefix, Qt::CaseSensitivity cs)
{
    for (int i = 0; i < lines.size(); ++i)
        if (lines.at(i).startsWith(prefix, cs))
            return i;
    return -1;
}
