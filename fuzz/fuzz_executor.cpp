// A command list run by the executor against a scripted meter: the input is the list, then the
// meter's replies, cut at zero bytes (an empty list piece runs the program's own "read20.que").
// The form is a plain field store, so every Read and Send goes through field texts.
#include "FuzzEnv.h"

#include "base/DialogueRunner.h"
#include "lists/CQueExecutor.h"
#include "lists/IFieldAccess.h"
#include "support/ImmediateMeterLink.h"

#include <QFile>
#include <QMap>

#include <cstdlib>

namespace {

class ScriptedMeter : public ImmediateMeterLink
{
public:
    explicit ScriptedMeter(QList<QByteArray> replies)
        : m_replies(std::move(replies))
    {
    }
    int Send(const QByteArray &text) override { return text.isEmpty() ? 0 : 1; }
    void Read(QByteArray &reply, int intervalMs, int totalConstantMs) override
    {
        // The executor bounds what it asks the link to wait for.
        if (intervalMs > CQueExecutor::kMaxTimeoutMs
            || totalConstantMs > CQueExecutor::kMaxTimeoutMs)
            std::abort();
        reply = m_next < m_replies.size() ? m_replies.at(m_next++) : QByteArray();
    }

private:
    QList<QByteArray> m_replies;
    qsizetype m_next = 0;
};

class FieldStore : public IFieldAccess
{
public:
    void SetField(int id, const QString &text) override { m_fields[id] = text; }
    QString GetField(int id) override { return m_fields.value(id); }

private:
    QMap<int, QString> m_fields;
};

QStringList ReadList()
{
    QFile file(QStringLiteral("read20.que"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzEnv::Init();
    static const QStringList readList = ReadList();
    QList<QByteArray> pieces = FuzzEnv::Split(FuzzEnv::Bytes(data, size), '\0', 64);
    const QByteArray listText = pieces.takeFirst();
    const QStringList lines
        = listText.isEmpty() ? readList : QString::fromLatin1(listText).split(QLatin1Char('\n'));

    ScriptedMeter meter(pieces);
    FieldStore form;
    CQueExecutor executor;
    executor.SetLink(&meter);
    executor.SetPauseMs(0);
    executor.SetLines(lines);
    // The scripted meter answers at once and the pause is 0, so a step never waits on the
    // runner: it ends within its first Resume.
    DialogueRunner runner;
    // Goto makes endless lists possible; a bounded number of steps covers them.
    for (int step = 0; step < 4000 && !executor.Stopped(); ++step) {
        Task<int> running = executor.StepAsync(&form, runner);
        running.Resume();
        if (!running.Done())
            std::abort();
        const int result = running.Result();
        if (executor.LineIndex() < -1 || executor.LineIndex() >= int(lines.size()))
            std::abort();
        if (result == CQueExecutor::kEnded && !executor.Stopped())
            break; // ran off the end
    }
    return 0;
}
