#include "lists/CQueExecutor.h"

#include "base/PrintfText.h"
#include "base/UserMessage.h"
#include "lists/IFieldAccess.h"
#include "lists/IMeterLink.h"

#include <QThread>

#include <climits>

namespace {
int ClampTimeout(int ms)
{
    return qBound(0, ms, CQueExecutor::kMaxTimeoutMs);
}

// Sleeps without spinning (the exchange's idle pause).
void Pause(int ms)
{
    if (ms > 0)
        QThread::msleep(unsigned(ms));
}
} // namespace

void CQueExecutor::SetLines(const QStringList &lines)
{
    m_lines = lines;
    Reset();
}

void CQueExecutor::Reset()
{
    m_index = -1;
    m_stopped = false;
    m_result = kContinue;
    m_reply.clear();
    m_value.clear();
}

int CQueExecutor::Step(IFieldAccess *form)
{
    if (m_stopped)
        return kContinue;
    ++m_index;
    if (m_index >= m_lines.size()) {
        // Ran off the end without "End": stay on the last line and keep reporting the end.
        m_index = int(m_lines.size()) - 1;
        return kEnded;
    }
    const QString &line = m_lines.at(m_index);
    if (m_lineHook)
        m_lineHook(m_index, line);
    m_result = kContinue;
    if (!line.startsWith(QLatin1String("//")))
        Execute(form);
    return m_result;
}

void CQueExecutor::Execute(IFieldAccess *form)
{
    m_script.Parse(m_lines.at(m_index));
    const QString command = m_script.Token(1);
    auto arg = [this](int n) { return m_script.Token(2 + n); };

    if (command == QLatin1String("End")) {
        m_stopped = true;
        m_result = kEnded;
    } else if (command == QLatin1String("Find")) {
        Find(arg(0), ToInt(arg(1)), ToInt(arg(2)));
    } else if (command == QLatin1String("Read")) {
        Find(arg(0), ToInt(arg(1)), ToInt(arg(2)));
        if (form)
            form->SetField(ToInt(arg(3)), m_value);
    } else if (command == QLatin1String("Send")) {
        m_value = (form ? form->GetField(ToInt(arg(0))) : QString()) + arg(3);
        ExchangeOrJump(m_value, 3, 6);
    } else if (command == QLatin1String("SendCmd")) {
        ExchangeOrJump(m_value, 2, 4);
    } else if (command == QLatin1String("Goto")) {
        GoTo(arg(0));
    } else if (command == QLatin1String("Test")) {
        if (!form || form->GetField(ToInt(arg(0))).isEmpty())
            GoTo(arg(1));
    }
}

void CQueExecutor::Find(const QString &text, int offset, int length)
{
    const qint64 found = m_reply.indexOf(text.toLatin1());
    const qint64 start = qMax<qint64>(0, found + offset);
    if (length <= 0 || start >= m_reply.size()) {
        m_value.clear();
        return;
    }
    m_value = QString::fromLatin1(m_reply.mid(start, length));
}

void CQueExecutor::ExchangeOrJump(const QString &command, int intervalToken, int terminatorToken)
{
    const int interval = ToInt(m_script.Token(intervalToken));
    const int total = ToInt(m_script.Token(intervalToken + 1));
    const QString terminator = m_script.Token(terminatorToken);
    const QString label = m_script.Token(terminatorToken + 1);
    if (!MeterExchange(
            m_link, command, m_reply, terminator, interval, total, m_pauseMs, m_sendHook))
        GoTo(label);
}

bool CQueExecutor::GoTo(const QString &label)
{
    const int target = CScript::FindLabel(m_lines, label);
    if (target >= 0) {
        m_index = target - 1; // the next step runs the labelled line
        return true;
    }
    UserMessage::Show(
        m_script.ArgumentText(), PrintfText::Format("Bad jump lable on line %d", m_index));
    m_stopped = true;
    m_result = kBadLabel;
    return false;
}

int CQueExecutor::MeterExchange(IMeterLink *link, const QString &command, QByteArray &reply,
    const QString &expected, int intervalMs, int totalMs, int pauseMs, const SendHook &sending)
{
    reply.clear();
    if (!link)
        return 0;
    link->PurgeInput();
    const QByteArray text = command.toLatin1() + '\r';
    if (sending) {
        const int total = int(text.size());
        sending(0, total);
        link->SendCommandReporting(text, [&sending, total](int sent) { sending(sent, total); });
    } else {
        link->SendCommand(text);
    }
    Pause(pauseMs);
    if (expected.size() == 1 && expected.at(0).unicode() < 256)
        link->ReadReply(
            reply, ClampTimeout(intervalMs), ClampTimeout(totalMs), char(expected.at(0).unicode()));
    else
        link->ReadAll(reply, ClampTimeout(intervalMs), ClampTimeout(totalMs));
    if (expected.size() != 1)
        return 0;
    return reply.contains(expected.toLatin1().at(0)) ? 1 : 0;
}

int CQueExecutor::ToInt(const QString &text)
{
    int pos = 0;
    while (pos < text.size()
        && (text.at(pos) == QLatin1Char(' ') || text.at(pos) == QLatin1Char('\t')))
        ++pos;
    bool negative = false;
    if (pos < text.size()
        && (text.at(pos) == QLatin1Char('-') || text.at(pos) == QLatin1Char('+'))) {
        negative = text.at(pos) == QLatin1Char('-');
        ++pos;
    }
    qint64 value = 0;
    while (pos < text.size() && text.at(pos).unicode() >= '0' && text.at(pos).unicode() <= '9') {
        value = value * 10 + (text.at(pos).unicode() - '0');
        if (value > qint64(INT_MAX) + 1)
            value = qint64(INT_MAX) + 1;
        ++pos;
    }
    if (negative)
        value = -value;
    return int(qBound(qint64(INT_MIN), value, qint64(INT_MAX)));
}
