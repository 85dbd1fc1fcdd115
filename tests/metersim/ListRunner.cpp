#include "ListRunner.h"

#include "base/UserMessage.h"
#include "lists/CQueExecutor.h"
#include "lists/CScript.h"
#include "lists/CSerialMeterLink.h"
#include "support/RunToEnd.h"

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

int ListRunner::Run(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    QStringList lines;
    while (!f.atEnd()) {
        QByteArray line = f.readLine();
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        lines << QString::fromLatin1(line);
    }
    CSerialMeterLink link(&m_link);
    CQueExecutor executor;
    executor.SetLines(lines);
    executor.SetLink(&link);
    m_message.clear();
    const UserMessage::Handler previous = UserMessage::SetHandler(
        [this](const QString &text, const QString &) { m_message = text; });
    int result = 0;
    DialogueRunner runner;
    for (int steps = 0; steps < 1000; ++steps) {
        const int r = RunToEnd(runner, executor.StepAsync(this, runner));
        executor.ShowMessages();
        if (r != CQueExecutor::kContinue || executor.Stopped()) {
            result = r == CQueExecutor::kBadLabel ? -1 : r == CQueExecutor::kEnded ? 1 : 0;
            break;
        }
    }
    UserMessage::SetHandler(previous);
    return result;
}
