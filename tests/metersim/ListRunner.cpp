#include "ListRunner.h"

#include <QFile>

#include <chrono>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {
qint64 NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
} // namespace

ParsedLine Parse(const QString &line)
{
    ParsedLine p;
    QString rest = line;
    if (!line.isEmpty() && line.at(0) >= QLatin1Char('0')) {
        const int colon = line.indexOf(QLatin1Char(':'));
        p.label = colon < 0 ? line : line.left(colon);
        rest = colon < 0 ? QString() : line.mid(colon + 1);
    } else {
        rest = line.mid(1);
    }
    rest = rest.trimmed();
    int i = 0;
    while (i < rest.size() && rest.at(i) != QLatin1Char('(') && rest.at(i) != QLatin1Char(' '))
        ++i;
    p.command = rest.left(i);
    rest = rest.mid(i + 1).trimmed();
    QString arg;
    bool closed = false;
    for (int k = 0; k < rest.size() && !closed; ++k) {
        const QChar c = rest.at(k);
        if (c == QLatin1Char('"')) {
            const int end = rest.indexOf(QLatin1Char('"'), k + 1);
            arg += rest.mid(k + 1, end < 0 ? -1 : end - k - 1);
            k = end < 0 ? int(rest.size()) : end;
        } else if (c == QLatin1Char(',') || c == QLatin1Char(')')) {
            p.args << arg;
            arg.clear();
            closed = c == QLatin1Char(')');
        } else if (c != QLatin1Char(' ')) {
            arg += c;
        }
    }
    return p;
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
    ::tcflush(m_fd, TCIFLUSH);
    m_sent << QString::fromLatin1(text);
    for (char c : text + "\r") {
        while (::write(m_fd, &c, 1) != 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(m_pacingMs));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    // The timed read: ends when the gap after a byte exceeds the interval, or at the total.
    const qint64 end = NowMs() + totalMs;
    qint64 last = -1;
    while (NowMs() < end) {
        int wait = int(end - NowMs());
        if (last >= 0)
            wait = qMin<qint64>(wait, last + intervalMs - NowMs());
        if (wait <= 0)
            break;
        pollfd p { m_fd, POLLIN, 0 };
        if (::poll(&p, 1, wait) <= 0)
            continue;
        char buf[4096];
        const ssize_t n = ::read(m_fd, buf, sizeof buf);
        if (n > 0) {
            m_reply.append(buf, int(n));
            last = NowMs();
        }
    }
    if (!m_reply.isEmpty())
        ::tcflush(m_fd, TCIFLUSH);
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
    const auto jump = [&lines, this](const QString &label, int &index) {
        for (int i = 0; i < lines.size(); ++i) {
            if (!label.isEmpty() && Parse(lines.at(i)).label == label) {
                index = i - 1;
                return true;
            }
        }
        m_message = label;
        return false;
    };
    int index = -1;
    for (int steps = 0; steps < 1000; ++steps) {
        ++index;
        if (index >= lines.size())
            return 0; // ran past the last line without "End"
        const QString line = lines.at(index);
        if (line.startsWith(QLatin1String("//")) || line.trimmed().isEmpty())
            continue;
        const ParsedLine p = Parse(line);
        if (p.command == QLatin1String("End"))
            return 1;
        if (p.command == QLatin1String("Send") && p.args.size() >= 6) {
            const QByteArray value = (fields.value(p.args.at(0).toInt()) + p.args.at(3)).toLatin1();
            if (!Exchange(value, p.args.at(1).toInt(), p.args.at(2).toInt(), p.args.at(4))
                && !jump(p.args.at(5), index))
                return -1;
        } else if (p.command == QLatin1String("Read") && p.args.size() >= 4) {
            const int pos = int(m_reply.indexOf(p.args.at(0).toLatin1()));
            const int start = qMax(0, pos + p.args.at(1).toInt());
            SetField(p.args.at(3).toInt(),
                QString::fromLatin1(m_reply.mid(start, p.args.at(2).toInt())));
        } else if (p.command == QLatin1String("Goto") && p.args.size() >= 1) {
            if (!jump(p.args.at(0), index))
                return -1;
        }
    }
    return 0;
}
