// The one Send over a scripted prompt and a meter played by configurations: what it asks, which
// lists it runs, how it ends and the line it leaves in the audit trail, for every answer and for
// a Cancel at each of its waits.
#include "meter/SendWithChecks.h"

#include "base/DialogueRunner.h"
#include "base/Globals.h"
#include "meter/MeterSeriesModel.h"
#include "meterqx/SeriesModels.h"
#include "support/RunToEnd.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {
// A meter that holds a configuration: a read gives it, a send replaces it (unless it keeps the
// old one: a meter that acknowledges but does not store). The lists it runs, by name, and a
// Cancel at one of them.
class PlayedMeter : public SendWithChecks::Lists
{
public:
    PlayedMeter(DialogueRunner &runner, MeterSeriesModel &holds)
        : m_runner(runner)
        , m_section(holds.Layout())
        , m_version(holds.Firmware())
        , m_image(holds.StoredText())
    {
    }

    Task<SendWithChecks::ListEnd> Read(MeterSeriesModel &into) override
    {
        SendWithChecks::ListEnd end = co_await Ran(QStringLiteral("read"));
        if (end.kind == SendWithChecks::ListEnd::Ended
            && !into.LoadImage(m_section, m_image, m_version, QString())) {
            end.kind = SendWithChecks::ListEnd::Refused;
            end.error = QStringLiteral("no image");
        }
        if (end.kind == SendWithChecks::ListEnd::Ended && refuseAs) {
            end.kind = SendWithChecks::ListEnd::Refused;
            end.result = QLatin1String(refuseAs);
        }
        co_return end;
    }
    Task<SendWithChecks::ListEnd> Send(MeterSeriesModel &sent) override
    {
        const SendWithChecks::ListEnd end = co_await Ran(QStringLiteral("send"));
        if (end.kind == SendWithChecks::ListEnd::Ended && !keepsOld)
            m_image = sent.StoredText();
        co_return end;
    }

    QStringList ran;
    int cancelAt = -1; // the list (0, 1, ...) cancelled
    bool keepsOld = false;
    const char *refuseAs = nullptr; // a read refused with this result of its own

private:
    Task<SendWithChecks::ListEnd> Ran(const QString &list)
    {
        ran << list;
        SendWithChecks::ListEnd end;
        if (ran.size() - 1 == cancelAt) {
            m_runner.Cancel();
            end.kind = SendWithChecks::ListEnd::Cancelled;
            end.error = QStringLiteral("Cancelled.");
        }
        co_await m_runner.Sleep(1);
        co_return end;
    }

    DialogueRunner &m_runner;
    QString m_section, m_version, m_image;
};

// Answers as scripted and notes what it was asked and told.
class ScriptedPrompt : public SendWithChecks::Prompt
{
public:
    bool ConfirmMeter() override
    {
        asked << QStringLiteral("meter");
        return meterOk;
    }
    bool AcceptMeter(MeterSeriesModel &) override
    {
        asked << QStringLiteral("accept");
        return acceptOk;
    }
    bool AskToSend(const SendWithChecks::Outcome *changes) override
    {
        asked << (changes ? QStringLiteral("changes %1").arg(changes->diff.changes.size())
                          : QStringLiteral("send"));
        if (changes)
            keptWhenAsked = QFileInfo::exists(changes->asFound);
        return yes;
    }
    std::optional<QString> End(const SendWithChecks::Outcome &outcome) override
    {
        if (outcome.result.isEmpty())
            return std::nullopt;
        return QStringLiteral("said ") + outcome.result;
    }

    bool meterOk = true, acceptOk = true, yes = true;
    bool keptWhenAsked = false;
    QStringList asked;
};
} // namespace

TEST(SendWithChecks, AsksRunsAndAuditsAsEachAnswerAndEachCancelSays)
{
    ResetGlobals();
    QDir::setCurrent(TestEnv::WorkDir());
    const struct
    {
        const char *what;
        bool compare, verify, force, changed;
        bool yes = true, acceptOk = true, meterOk = true, keepsOld = false;
        int cancelAt = -1;
        SendWithChecks::Step step; // where it ends
        const char *result; // the trail's, "" for no line
        const char *ran; // the lists, in order
        const char *asked;
        const char *refuseAs = nullptr;
    } cases[] = {
        { "compare, No", true, true, false, true, false, true, true, false, -1,
            SendWithChecks::Step::Ask, "cancelled", "read", "accept,changes 1" },
        { "compare, Yes", true, true, false, true, true, true, true, false, -1,
            SendWithChecks::Step::Done, "ok", "read,send,read", "accept,changes 1" },
        { "already held", true, true, false, false, true, true, true, false, -1,
            SendWithChecks::Step::Unchanged, "unchanged", "read", "accept" },
        { "already held, --force", true, true, true, false, true, true, true, false, -1,
            SendWithChecks::Step::Done, "ok", "read,send,read", "accept,changes 0" },
        { "another meter", true, true, false, true, true, false, true, false, -1,
            SendWithChecks::Step::Meter, "refused", "read", "accept" },
        { "verify mismatch", true, true, false, true, true, true, true, true, -1,
            SendWithChecks::Step::Verify, "mismatch", "read,send,read", "accept,changes 1" },
        { "verify off", true, false, false, true, true, true, true, true, -1,
            SendWithChecks::Step::Done, "ok", "read,send", "accept,changes 1" },
        { "compare off", false, true, false, true, true, true, true, false, -1,
            SendWithChecks::Step::Done, "ok", "send,read", "meter,send" },
        { "compare off, meter refused", false, true, false, true, true, true, false, false, -1,
            SendWithChecks::Step::Meter, "", "", "meter" },
        { "compare off, No", false, false, false, true, false, true, true, false, -1,
            SendWithChecks::Step::Ask, "cancelled", "", "meter,send" },
        { "Cancel in the compare", true, true, false, true, true, true, true, false, 0,
            SendWithChecks::Step::Compare, "cancelled", "read", "" },
        { "Cancel in the send", true, true, false, true, true, true, true, false, 1,
            SendWithChecks::Step::Send, "cancelled", "read,send", "accept,changes 1" },
        { "Cancel in the read back", true, true, false, true, true, true, true, false, 2,
            SendWithChecks::Step::Verify, "mismatch", "read,send,read", "accept,changes 1" },
        { "compare refused", true, true, false, true, true, true, true, false, -1,
            SendWithChecks::Step::Compare, "refused", "read", "", "refused" },
        { "read back refused", false, true, false, true, true, true, true, false, -1,
            SendWithChecks::Step::Verify, "mismatch", "send,read", "meter,send", "refused" },
    };
    for (const auto &c : cases) {
        QTemporaryDir asFound;
        const std::unique_ptr<MeterSeriesModel> meter = SeriesModels::Make(MeterSeries::Kelvane);
        const std::unique_ptr<MeterSeriesModel> file = SeriesModels::Make(MeterSeries::Kelvane);
        QString error;
        ASSERT_TRUE(meter->Open(QStringLiteral("41A_Template.mtr"), &error)) << qPrintable(error);
        ASSERT_TRUE(file->Open(QStringLiteral("41A_Template.mtr"), &error)) << qPrintable(error);
        if (c.changed) {
            ASSERT_EQ(file->Set(QStringLiteral("Full Scale"), QStringLiteral("90")), QString());
        }
        DialogueRunner runner;
        PlayedMeter played(runner, *meter);
        played.cancelAt = c.cancelAt;
        played.keepsOld = c.keepsOld;
        played.refuseAs = c.refuseAs;
        ScriptedPrompt prompt;
        prompt.yes = c.yes;
        prompt.acceptOk = c.acceptOk;
        prompt.meterOk = c.meterOk;
        SendWithChecks::Options options;
        options.compare = c.compare;
        options.verify = c.verify;
        options.force = c.force;
        options.asFoundFolder = asFound.path();
        options.extension = file->Extension();
        options.makeModel = [] { return SeriesModels::Make(MeterSeries::Kelvane); };
        options.prepare = [&file](MeterSeriesModel *found) {
            file->PrepareSend(found ? found->ActiveRange() : QString());
            return file.get();
        };
        QList<AuditRecord> trail;
        options.audit = [&trail](const AuditRecord &record) { trail << record; };
        SendWithChecks send(played, prompt, options);
        const SendWithChecks::Outcome outcome
            = RunToEnd(runner, send.Run(AuditRecord::Now(QStringLiteral("send"), QString())));
        EXPECT_EQ(outcome.step, c.step) << c.what;
        EXPECT_EQ(played.ran.join(QLatin1Char(',')), QLatin1String(c.ran)) << c.what;
        EXPECT_EQ(prompt.asked.join(QLatin1Char(',')), QLatin1String(c.asked)) << c.what;
        const bool lined = *c.result != 0;
        ASSERT_EQ(trail.size(), lined ? 1 : 0) << c.what;
        if (!lined)
            continue;
        EXPECT_EQ(trail.at(0).result, QLatin1String(c.result)) << c.what;
        EXPECT_EQ(trail.at(0).message, QStringLiteral("said ") + QLatin1String(c.result)) << c.what;
        // The changes asked about, and the copy of the meter as found once it was kept, go
        // with every line after them; a copy exists before the question.
        const bool asked = prompt.asked.contains(QStringLiteral("changes 1"));
        EXPECT_EQ(trail.at(0).changes.size(), asked ? 1u : 0u) << c.what;
        EXPECT_EQ(!trail.at(0).asFound.isEmpty(), asked || c.force) << c.what;
        EXPECT_EQ(prompt.keptWhenAsked, asked || c.force) << c.what;
        if (outcome.step == SendWithChecks::Step::Done) {
            EXPECT_EQ(outcome.text,
                QLatin1String(
                    c.verify ? SendWithChecks::kStoredText : SendWithChecks::kAcknowledgedText))
                << c.what;
        }
    }
}
