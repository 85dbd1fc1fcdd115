#include "lists/CQueExecutor.h"

#include "base/AppTitle.h"
#include "base/DialogueRunner.h"
#include "base/PrintfText.h"
#include "base/UserMessage.h"
#include "lists/IFieldAccess.h"
#include "lists/IMeterLink.h"

#include <climits>
#include <utility>

namespace {
int ClampTimeout(int ms)
{
    return qBound(0, ms, CQueExecutor::kMaxTimeoutMs);
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
    m_meterWoken = false;
    m_lineOpen = false;
    m_fieldSending = false;
    m_sentBytes = 0;
    m_sendTotal = 0;
    m_result = kContinue;
    m_reply.clear();
    m_value.clear();
    m_messages.clear();
}

void CQueExecutor::ShowMessages()
{
    // Taken first: a message box's event loop may start the next step, which begins afresh.
    const QList<Message> messages = std::exchange(m_messages, {});
    for (const Message &message : messages)
        UserMessage::Show(message.text, message.caption);
}

bool CQueExecutor::PortWentAway()
{
    // The list's own failure labels would blame the meter ("Meter did not answer"); the port
    // itself has gone, and the list ends here saying so.
    if (!m_link || !m_link->PortGone())
        return false;
    m_messages.append({ m_link->Unreachable(), QString::fromLatin1(kAppTitle) });
    m_stopped = true;
    m_result = kBadLabel;
    return true;
}

Task<int> CQueExecutor::StepAsync(IFieldAccess *form, DialogueRunner &runner)
{
    Exchange exchange;
    if (BeginStep(form, &exchange)) {
        // Which bytes went out is followed as they go, so a cut knows where it left the meter.
        const QByteArray text = exchange.command.toLatin1() + '\r';
        m_fieldSending = exchange.field;
        m_sentBytes = 0;
        m_sendTotal = int(text.size());
        const SendHook sending = [this, text](int sent, int total) {
            if (sent > 0 && sent <= text.size())
                m_lineOpen = text.at(sent - 1) != '\r';
            m_sentBytes = sent;
            if (m_sendHook)
                m_sendHook(sent, total);
        };
        const int answered = co_await MeterExchangeAsync(m_link, runner, exchange.command, m_reply,
            exchange.terminator, exchange.intervalMs, exchange.totalMs, m_pauseMs, sending);
        if (runner.Cancelled()) {
            m_stopped = true;
            co_return kContinue;
        }
        if (PortWentAway())
            co_return m_result;
        EndExchange(exchange, answered);
    }
    co_return m_result;
}

bool CQueExecutor::BeginStep(IFieldAccess *form, Exchange *exchange)
{
    m_result = kContinue;
    m_messages.clear();
    if (m_stopped)
        return false;
    ++m_index;
    if (m_index >= m_lines.size()) {
        // Ran off the end without "End": stay on the last line and keep reporting the end.
        m_index = int(m_lines.size()) - 1;
        m_result = kEnded;
        return false;
    }
    const QString &line = m_lines.at(m_index);
    if (m_lineHook)
        m_lineHook(m_index, line);
    *exchange = Exchange();
    if (!line.startsWith(QLatin1String("//")))
        Execute(form, exchange);
    // Counted as soon as the command may have begun to go out: a run cut short in the middle of
    // it still winds up.
    if (exchange->wanted && !IsRunModeCommand(exchange->command))
        m_meterWoken = true;
    return exchange->wanted;
}

void CQueExecutor::Execute(IFieldAccess *form, Exchange *exchange)
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
        *exchange = ExchangeOf(m_value, 3, 6);
        exchange->field = ToInt(arg(0)) != 0;
    } else if (command == QLatin1String("SendCmd")) {
        *exchange = ExchangeOf(m_value, 2, 4);
    } else if (command == QLatin1String("Goto")) {
        GoTo(arg(0));
    } else if (command == QLatin1String("Test")) {
        if (!form || form->GetField(ToInt(arg(0))).isEmpty())
            GoTo(arg(1));
    }
}

CQueExecutor::Exchange CQueExecutor::ExchangeOf(
    const QString &command, int intervalToken, int terminatorToken) const
{
    Exchange exchange;
    exchange.wanted = true;
    exchange.command = command;
    exchange.intervalMs = ToInt(m_script.Token(intervalToken));
    exchange.totalMs = ToInt(m_script.Token(intervalToken + 1));
    exchange.terminator = m_script.Token(terminatorToken);
    exchange.label = m_script.Token(terminatorToken + 1);
    return exchange;
}

void CQueExecutor::EndExchange(const Exchange &exchange, int answered)
{
    if (IsRunModeCommand(exchange.command))
        m_meterWoken = false;
    if (answered)
        return;
    // Framing or parity errors during the exchange mostly mean a wrong speed: say so before the
    // list's own message, which can only blame the meter.
    if (m_link) {
        if (const QString errors = m_link->LineErrors(); !errors.isEmpty())
            m_messages.append({ errors, QString::fromLatin1(kAppTitle) });
    }
    GoTo(exchange.label);
}

bool CQueExecutor::IsRunModeCommand(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c != QLatin1Char('r'))
            return false;
    }
    return true;
}

CQueExecutor::WindUp CQueExecutor::WindUpExchange() const
{
    WindUp windUp;
    if (!m_meterWoken)
        return windUp;
    CScript script;
    for (qsizetype i = m_lines.size() - 1; i >= 0; --i) {
        if (m_lines.at(i).startsWith(QLatin1String("//")))
            continue;
        script.Parse(m_lines.at(i));
        // Send(field, interval, total, text, terminator, label): only a text of its own, no field.
        if (script.Token(1) != QLatin1String("Send") || ToInt(script.Token(2)) != 0
            || !IsRunModeCommand(script.Token(5)))
            continue;
        // A carriage return first ends a line the cut left half sent (an image byte), so the
        // meter takes the "r"s at the start of a line, where they lead to run mode. After a
        // whole line it is left out: an empty line would end a half image as if it were whole.
        windUp.command = (m_lineOpen ? QStringLiteral("\r") : QString()) + script.Token(5);
        windUp.intervalMs = ToInt(script.Token(3));
        windUp.totalMs = ToInt(script.Token(4));
        windUp.terminator = script.Token(6);
        break;
    }
    return windUp;
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

bool CQueExecutor::GoTo(const QString &label)
{
    const int target = CScript::FindLabel(m_lines, label);
    if (target >= 0) {
        m_index = target - 1; // the next step runs the labelled line
        return true;
    }
    m_messages.append(
        { m_script.ArgumentText(), PrintfText::Format("Bad jump lable on line %d", m_index) });
    m_stopped = true;
    m_result = kBadLabel;
    return false;
}

Task<int> CQueExecutor::MeterExchangeAsync(IMeterLink *link, DialogueRunner &runner,
    QString command, QByteArray &reply, QString expected, int intervalMs, int totalMs, int pauseMs,
    SendHook sending)
{
    // Which byte answers the exchange, decided before the first wait: one character, looked for
    // as Latin-1 in the reply (read up to it when it is Latin-1); any other text never matches.
    // GCC 12 loaded the character of a null text after a wait, before testing its length.
    const QByteArray wanted = expected.size() == 1 ? expected.toLatin1() : QByteArray();
    const char terminator
        = !wanted.isEmpty() && expected.front().unicode() < 256 ? wanted.front() : '\0';
    reply.clear();
    if (!link)
        co_return 0;
    link->PurgeInput();
    const QByteArray text = command.toLatin1() + '\r';
    const int total = int(text.size());
    if (sending)
        sending(0, total);
    co_await link->SendCommandAsync(runner, text, [&sending, total](int sent) {
        if (sending)
            sending(sent, total);
    });
    co_await link->PauseAsync(runner, pauseMs);
    if (runner.Cancelled())
        co_return 0;
    co_await link->ReadReplyAsync(
        runner, reply, ClampTimeout(intervalMs), ClampTimeout(totalMs), terminator);
    co_return !wanted.isEmpty() && reply.contains(wanted) ? 1 : 0;
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
