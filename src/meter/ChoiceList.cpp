#include "meter/ChoiceList.h"

#include <QBuffer>
#include <QFile>
#include <QHash>

namespace {

// List files held in memory (Hold), by the name they are asked for.
QHash<QString, QStringList> &HeldLists()
{
    static QHash<QString, QStringList> held;
    return held;
}

QStringList ReadLines(QIODevice &device)
{
    QStringList lines;
    while (!device.atEnd()) {
        QByteArray line = device.readLine(4096);
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        lines.append(QString::fromLatin1(line));
    }
    return lines;
}

} // namespace

QStringList ChoiceList::Read(const QString &fileName)
{
    const auto held = HeldLists().constFind(fileName);
    if (held != HeldLists().constEnd())
        return *held;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return ReadLines(file);
}

QStringList ChoiceList::Lines(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return ReadLines(buffer);
}

void ChoiceList::Hold(const QString &fileName, const QByteArray &bytes)
{
    HeldLists().insert(fileName, Lines(bytes));
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

QString ChoiceList::Tail(const QString &line, int n)
{
    return line.size() <= n ? line : line.right(n);
}

int ChoiceList::FindTail(const QStringList &lines, const QString &code, int n)
{
    if (code.isEmpty())
        return -1;
    for (int i = 0; i < lines.size(); ++i)
        if (Tail(lines.at(i), n) == code)
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
