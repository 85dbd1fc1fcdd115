#include "ListRunner.h"

#include "link/CSerial.h"
#include "link/SerialDevice.h"
#include "terminal/CScript.h"

#include <QFile>

QStringList ListRunner::Arguments(const QString &line)
{
    CScript script;
    script.Parse(line);
    QStringList args;
    for (int i = 2; i < script.TokenCount() - 1; ++i)
        args << script.Token(i);
    return args;
}

void ListRunner::SetField(int id, const QString &text)
{
    QString t = text;
    if (id != 1051) {
        t = t.trimmed();
        int cut = int(t.size());
        for (QChar stop : { QLatin1Char(' '), QLatin1Char('='), QLatin1Char('>') }) {
            const int k = t.indexOf(stop);
            if (k >= 0 && k < cut)
                cut = k;
        }
        t = t.left(cut);
    }
    fields[id] = t;
}

int ListRunner::Exchange(
    const QByteArray &text, int intervalMs, int totalMs, const QString &terminator)
{
    m_reply.clear();
    m_link.PurgeInput();
    m_link.SendCommand(text + "\r");
    SerialDevice::SleepMs(30);
    m_link.ReadAll(m_reply, intervalMs, totalMs);
    return terminator.size() == 1 && m_reply.contains(terminator.toLatin1()) ? 1 : 0;
}

int ListRunner::Run(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    QStringList lines = QString::fromLatin1(f.readAll()).split(QLatin1Char('\n'));
    for (QString &l : lines)
        l.remove(QLatin1Char('\r'));
    CScript script;
    int index = -1;
    const auto jump = [&](const QString &label) {
        const int at = CScript::FindLabel(lines, label);
        if (at < 0) {
            m_message = script.ArgumentText();
            return false;
        }
        index = at - 1;
        return true;
    };
    for (int steps = 0; steps < 1000; ++steps) {
        ++index;
        if (index >= lines.size())
            return 0; // ran past the last line without "End"
        const QString line = lines.at(index);
        if (line.startsWith(QLatin1String("//")))
            continue;
        script.Parse(line);
        const QString cmd = script.Token(1);
        if (cmd == QLatin1String("End"))
            return 1;
        if (cmd == QLatin1String("Send")) {
            const QByteArray value
                = (fields.value(script.Token(2).toInt()) + script.Token(5)).toLatin1();
            if (!Exchange(value, script.Token(3).toInt(), script.Token(4).toInt(), script.Token(6))
                && !jump(script.Token(7)))
                return -1;
        } else if (cmd == QLatin1String("Read")) {
            const int pos = int(m_reply.indexOf(script.Token(2).toLatin1()));
            const int start = qMax(0, pos + script.Token(3).toInt());
            SetField(script.Token(5).toInt(),
                QString::fromLatin1(m_reply.mid(start, script.Token(4).toInt())));
        } else if (cmd == QLatin1String("Goto")) {
            if (!jump(script.Token(2)))
                return -1;
        }
    }
    return 0;
}
