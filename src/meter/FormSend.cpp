#include "meter/FormSend.h"

#include "audit/AuditSettings.h"
#include "base/AppServices.h"
#include "base/AppTitle.h"
#include "base/DialogueRunner.h"
#include "base/MeterSession.h"
#include "base/UserMessage.h"
#include "meter/CMeterDoc.h"
#include "meter/MeterIdentText.h"
#include "meter/MeterSeriesModel.h"
#include "meter/MeterVars.h"

namespace {
const char *const kCompareFailedText
    = "The meter could not be read before sending.\nNothing was sent.";
const char *const kVerifyFailedText
    = "The meter acknowledged the configuration, but it could not be read back, so what it "
      "stored is not known.\nRead the meter to see what it holds.";
// A list's end waits at most this long between two looks (its end wakes the send at once).
constexpr int kListWaitMs = 60000;

QString SendTitle()
{
    return QString::fromLatin1(kAppTitle);
}
} // namespace

FormSend::FormSend(Host &form)
    : m_form(form)
    , m_runner(std::make_unique<DialogueRunner>())
{
}

FormSend::~FormSend()
{
    // A suspended send goes first, while everything it refers to is still here.
    m_runner.reset();
}

bool FormSend::Active() const
{
    return m_runner->IsRunning();
}

bool FormSend::Start(const ListFiles &lists, std::function<void()> prepare)
{
    const int running = m_form.ListInProgress();
    if (Active()) {
        // A press while the send or a read around it runs only brings its list forward; none
        // while its question is about to be asked.
        if (running == kSendList)
            m_form.StartSendList(m_lists.send, running, m_lists.sendPeriodMs, nullptr);
        else if (running)
            m_form.StartSendList(m_lists.read, running, m_lists.readPeriodMs, nullptr);
        return false;
    }
    // A press while another list runs is refused, as it always was.
    if (running)
        return m_form.StartSendList(lists.send, kSendList, lists.sendPeriodMs, nullptr);
    SendWithChecks::Options options;
    options.compare = AuditSettings::CompareBeforeSend();
    options.verify = AuditSettings::ReadBackAfterSend();
    if ((options.compare || options.verify) && !m_form.MakeSeriesModel()) {
        UserMessage::Show(QStringLiteral("This form cannot read the meter around a send. Turn off "
                                         "\"Compare with the meter before sending\" and \"Read "
                                         "back after sending\" in the settings to send without "
                                         "them.\nNothing was sent."),
            SendTitle());
        return false;
    }
    options.asFoundFolder = AuditSettings::AsFoundFolder();
    options.extension = m_form.FileExtension();
    options.makeModel = [this] { return m_form.MakeSeriesModel(); };
    options.prepare = [this](MeterSeriesModel *) {
        if (m_prepare)
            m_prepare();
        m_sent = SentImage();
        return m_sent.get();
    };
    // The form writes the line itself, with its own meter and file.
    options.audit = [this](const AuditRecord &line) { m_form.AuditSend(line); };
    m_lists = lists;
    m_prepare = std::move(prepare);
    m_step = SendWithChecks::Step::Meter;
    m_changes.clear();
    m_asFound.clear();
    m_send = std::make_unique<SendWithChecks>(static_cast<SendWithChecks::Lists &>(*this),
        static_cast<SendWithChecks::Prompt &>(*this), std::move(options));
    m_runner->Start([](SendWithChecks *send) -> Task<void> { co_await send->Run(AuditRecord()); }(
                                                 m_send.get()));
    return Active();
}

Task<FormSend::ListEnd> FormSend::Read(MeterSeriesModel &into)
{
    const int listId = m_step == SendWithChecks::Step::Verify ? kVerifyList : kCompareList;
    ListEnd end = co_await RunList(m_lists.read, listId, m_lists.readPeriodMs, &into.Fields());
    if (end.kind == ListEnd::Ended && !into.FinishRead(&end.error)) {
        // The other series, or no usable image: nothing of it is sent to.
        end.kind = ListEnd::Refused;
        end.result = QStringLiteral("refused");
    }
    co_return end;
}

Task<FormSend::ListEnd> FormSend::Send(MeterSeriesModel &)
{
    // The send list sends what prepare put into the form's send field.
    co_return co_await RunList(m_lists.send, kSendList, m_lists.sendPeriodMs, nullptr);
}

Task<FormSend::ListEnd> FormSend::RunList(
    QString fileName, int listId, int periodMs, IFieldAccess *fields)
{
    m_listEnd.reset();
    m_notStarted = false;
    m_listId = listId;
    if (!m_form.StartSendList(fileName, listId, periodMs, fields)) {
        m_notStarted = true;
        ListEnd end;
        end.kind = ListEnd::Failed;
        co_return end;
    }
    while (!m_listEnd)
        co_await m_runner->Sleep(kListWaitMs);
    co_return *m_listEnd;
}

void FormSend::ListStopped(const ListRun::Outcome &outcome)
{
    ListEnd end;
    end.kind = outcome.end == ListRun::End::Ended ? ListEnd::Ended
        : outcome.end == ListRun::End::Cancelled  ? ListEnd::Cancelled
                                                  : ListEnd::Failed;
    end.partly = outcome.fieldCut;
    m_listEnd = end;
    m_runner->Nudge();
}

void FormSend::Cut(int listId, bool fieldCut)
{
    if (!Active())
        return;
    m_runner->Abort();
    if (listId == kCompareList) {
        Audit(QStringLiteral("cancelled"), QString::fromLatin1(kCompareFailedText));
        return; // nothing was sent: nothing to say
    }
    const QString said = listId == kVerifyList
        ? QString::fromLatin1(kVerifyFailedText)
        : QString::fromLatin1(fieldCut ? kSendCutText : kSendCancelledText);
    Audit(listId == kVerifyList ? QStringLiteral("mismatch") : QStringLiteral("cancelled"), said);
    if (listId == kVerifyList)
        UserMessage::ShowLater(said, SendTitle());
    else
        UserMessage::ShowLater(said);
}

void FormSend::Audit(const QString &result, const QString &message)
{
    AuditRecord line;
    line.result = result;
    line.message = message;
    line.changes = m_changes;
    line.asFound = m_asFound;
    m_form.AuditSend(line);
}

bool FormSend::ConfirmMeter()
{
    const QString form = m_form.FormSerial().trimmed();
    const QString meter = AppServices::Meter().Serial().trimmed();
    // Neither a read nor the datalogger's identification has told which meter is connected:
    // the send would go to whatever meter is on the port.
    if (meter.isEmpty()) {
        return UserMessage::Ask(
            QStringLiteral("Which meter is on the port is not known (%1): read it first to "
                           "see its serial number.\n\nWrite the configuration%2 to it anyway?")
                .arg(MeterIdentText::NotRead(),
                    form.isEmpty() ? QString() : QStringLiteral(" of meter %1").arg(form)),
            SendTitle());
    }
    if (form.isEmpty() || form == meter
        || (form.toLongLong() == meter.toLongLong() && form.toLongLong() != 0))
        return true;
    return UserMessage::Ask(
        QStringLiteral("Write the configuration of meter %1 to meter %2?").arg(form, meter),
        SendTitle());
}

bool FormSend::AskToSend(const SendWithChecks::Outcome *changes)
{
    if (!changes)
        return true; // the form's Send button is the confirmation
    m_changes = changes->diff.changes;
    m_asFound = changes->asFound;
    // The serial number the meter holds, not the one a terminal heard last, is checked.
    const QString meterSerial = changes->found->Serial().trimmed();
    const QString formSerial = m_sent ? m_sent->Serial().trimmed() : QString();
    QString question;
    if (formSerial != meterSerial)
        question = QStringLiteral("The form holds the configuration of meter %1, but the meter "
                                  "connected is meter %2.\n\n")
                       .arg(formSerial, meterSerial);
    question
        += QStringLiteral("Send %1 change(s) to meter %2?\n\n%3\n\nAs found: %4")
               .arg(changes->diff.changes.size())
               .arg(meterSerial, ConfigDiff::Text(changes->diff, kChangesShown), changes->asFound);
    return UserMessage::Ask(question, SendTitle());
}

std::unique_ptr<MeterSeriesModel> FormSend::SentImage() const
{
    // The document holds what the send list sends once prepare has collected the form.
    const CMeterDoc *doc = m_form.MeterDoc();
    std::unique_ptr<MeterSeriesModel> sent = m_form.MakeSeriesModel();
    if (!sent || !doc || !doc->Vars()
        || !sent->LoadImage(doc->Vars()->SectionName(), doc->ImageToText(), doc->MeterVersion(),
            doc->MeterRevision()))
        return nullptr;
    return sent;
}

std::optional<QString> FormSend::End(const SendWithChecks::Outcome &outcome)
{
    using Step = SendWithChecks::Step;
    m_sent.reset();
    switch (outcome.step) {
    case Step::Meter:
        return std::nullopt; // the user kept the send back
    case Step::Compare: {
        if (m_notStarted)
            return std::nullopt; // said when the list could not start
        if (outcome.list.kind == ListEnd::Refused) {
            UserMessage::Show(
                outcome.list.error + QStringLiteral("\nNothing was sent."), SendTitle());
            return outcome.list.error;
        }
        const QString said = QString::fromLatin1(kCompareFailedText);
        UserMessage::Show(said, SendTitle());
        return said;
    }
    case Step::Prepare:
        UserMessage::Show(QStringLiteral("The form's configuration fits no layout of its "
                                         "series.\nNothing was sent."),
            SendTitle());
        return std::nullopt;
    case Step::Unchanged: {
        // Nothing to write, and no as-found copy of it. With the compare off a send writes
        // whatever the meter holds.
        const QString said = QString::fromLatin1(SendWithChecks::kAlreadyHeldText);
        UserMessage::Inform(said
            + QStringLiteral(".\n\nTo write it anyway, turn off \"Compare with the meter before "
                             "sending\" in the settings (\"Sending and Audit\")."));
        return said;
    }
    case Step::AsFound:
        UserMessage::Show(outcome.text
                + QStringLiteral("\nNothing was sent: the meter's configuration as found could "
                                 "not be kept."),
            SendTitle());
        return outcome.text;
    case Step::Ask:
        return QStringLiteral("Nothing was sent.");
    case Step::Send: {
        if (m_notStarted)
            return std::nullopt;
        // A failed list has said what went wrong; a cut inside the image may have left part of
        // it in the meter.
        if (outcome.list.kind != ListEnd::Cancelled)
            return outcome.list.partly ? QString::fromLatin1(kPartlySentText) : QString();
        const QString said
            = QString::fromLatin1(outcome.list.partly ? kSendCutText : kSendCancelledText);
        UserMessage::Show(said);
        return said;
    }
    case Step::Verify: {
        if (m_notStarted) // the port was taken in between, or the list could not be opened
            return QStringLiteral(
                "The meter acknowledged the configuration; it was not read back.");
        const bool ran
            = outcome.list.kind == ListEnd::Ended || outcome.list.kind == ListEnd::Refused;
        const QString said = ran ? outcome.text : QString::fromLatin1(kVerifyFailedText);
        UserMessage::Show(said, SendTitle());
        return said;
    }
    case Step::Done:
        break;
    }
    UserMessage::Inform(outcome.text);
    return outcome.text;
}
