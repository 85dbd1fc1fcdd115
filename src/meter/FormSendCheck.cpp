#include "meter/FormSendCheck.h"

#include "audit/AsFoundStore.h"
#include "audit/AuditSettings.h"
#include "base/AppServices.h"
#include "base/Globals.h"
#include "base/MeterSession.h"
#include "base/UserMessage.h"
#include "meter/CMeterDoc.h"
#include "meter/MeterIdentText.h"
#include "meter/MeterSeriesModel.h"
#include "meter/MeterVars.h"
#include "meter/ZarnFormBase.h"

#include <QDateTime>

// A send with its checks, from the first read to the last: the lists, what the meter held, what
// is sent and what changes. The globals a read's answers set for the documents are the form's
// own until the check read that changed them ends.
struct FormSendCheck::State
{
    Lists lists;
    std::function<void()> prepare;
    bool verify = false;
    std::unique_ptr<MeterSeriesModel> found; // the compare read's
    std::unique_ptr<MeterSeriesModel> sent;
    std::unique_ptr<MeterSeriesModel> stored; // the read back's
    std::vector<AuditRecord::Change> changes;
    QString asFound;
    QString docVersion;
    int docKind = 0;
};

FormSendCheck::FormSendCheck(ZarnFormBase &form)
    : m_form(form)
{
}

FormSendCheck::~FormSendCheck() = default;

void FormSendCheck::Drop()
{
    m_check.reset();
}

std::vector<AuditRecord::Change> FormSendCheck::Changes() const
{
    return m_check ? m_check->changes : std::vector<AuditRecord::Change>();
}

QString FormSendCheck::AsFound() const
{
    return m_check ? m_check->asFound : QString();
}

bool FormSendCheck::ConfirmMeter(const QString &formSerial)
{
    const QString form = formSerial.trimmed();
    const QString meter = AppServices::Meter().Serial().trimmed();
    // A send that compares reads the meter first: its question names a meter that is not the
    // form's, so nothing need be asked before it.
    if (AuditSettings::CompareBeforeSend())
        return true;
    // Neither a read nor the datalogger's identification has told which meter is connected:
    // the send would go to whatever meter is on the port.
    if (meter.isEmpty()) {
        return UserMessage::Ask(
            QStringLiteral("Which meter is on the port is not known (%1): read it first to "
                           "see its serial number.\n\nWrite the configuration%2 to it anyway?")
                .arg(MeterIdentText::NotRead(),
                    form.isEmpty() ? QString() : QStringLiteral(" of meter %1").arg(form)),
            QString::fromLatin1(kAppTitle));
    }
    if (form.isEmpty() || form == meter
        || (form.toLongLong() == meter.toLongLong() && form.toLongLong() != 0))
        return true;
    return UserMessage::Ask(
        QStringLiteral("Write the configuration of meter %1 to meter %2?").arg(form, meter),
        QString::fromLatin1(kAppTitle));
}

bool FormSendCheck::Start(const Lists &lists, const std::function<void()> &prepare)
{
    const bool compare = AuditSettings::CompareBeforeSend();
    const bool verify = AuditSettings::ReadBackAfterSend();
    const int running = m_form.RunningList();
    if (m_check) {
        // A press while the send or a read around it runs only brings its list forward; none
        // while its question is about to be asked.
        if (running == ZarnFormBase::kSendTimer)
            m_form.StartList(m_check->lists.send, running, m_check->lists.sendPeriodMs);
        else if (running)
            m_form.StartList(m_check->lists.read, running, m_check->lists.readPeriodMs);
        return false;
    }
    // A press while another list runs is refused, as it always was.
    if ((!compare && !verify) || running)
        return m_form.StartList(lists.send, ZarnFormBase::kSendTimer, lists.sendPeriodMs, prepare);
    if (!m_form.MakeSeriesModel()) {
        UserMessage::Show(QStringLiteral("This form cannot read the meter around a send. Turn off "
                                         "\"Compare with the meter before sending\" and \"Read "
                                         "back after sending\" in the settings to send without "
                                         "them.\nNothing was sent."),
            QString::fromLatin1(kAppTitle));
        return false;
    }
    m_check = std::make_unique<State>();
    m_check->lists = lists;
    m_check->prepare = prepare;
    m_check->verify = verify;
    if (!compare) {
        StartCheckedSend();
        return m_form.RunningList() != 0;
    }
    if (!StartRead(ZarnFormBase::kCompareTimer)) {
        m_check.reset();
        return false;
    }
    return true;
}

bool FormSendCheck::StartRead(int listId)
{
    std::unique_ptr<MeterSeriesModel> &model
        = listId == ZarnFormBase::kCompareTimer ? m_check->found : m_check->stored;
    model = m_form.MakeSeriesModel();
    m_check->docVersion = g_DocVersion;
    m_check->docKind = g_DocKind;
    m_readFields = &model->Fields();
    const bool started = m_form.StartList(m_check->lists.read, listId, m_check->lists.readPeriodMs);
    m_readFields = nullptr;
    return started;
}

void FormSendCheck::ReadEnded(int listId, bool ended, const QString &result)
{
    if (!m_check)
        return;
    if (!ended) {
        ReadStopped(listId, result);
        return;
    }
    RestoreDocGlobals();
    if (listId == ZarnFormBase::kCompareTimer)
        CompareReadEnded();
    else
        VerifyReadEnded();
}

void FormSendCheck::RestoreDocGlobals()
{
    // The check's read set them from the meter's answers; the form's document is what they
    // describe.
    g_DocVersion = m_check->docVersion;
    g_DocKind = m_check->docKind;
}

void FormSendCheck::ReadCut(int listId)
{
    if (m_check)
        ReadStopped(listId, QStringLiteral("cancelled"), true);
}

void FormSendCheck::ReadStopped(int listId, const QString &result, bool later)
{
    RestoreDocGlobals();
    const bool compare = listId == ZarnFormBase::kCompareTimer;
    const QString text = compare
        ? QStringLiteral("The meter could not be read before sending.\nNothing was sent.")
        : QStringLiteral("The meter acknowledged the configuration, but it could not be read "
                         "back, so what it stored is not known.\nRead the meter to see what it "
                         "holds.");
    m_form.Audit(QStringLiteral("send"), compare ? result : QStringLiteral("mismatch"), text);
    m_check.reset();
    if (!later)
        UserMessage::Show(text, QString::fromLatin1(kAppTitle));
    else if (!compare)
        UserMessage::ShowLater(text, QString::fromLatin1(kAppTitle));
}

std::unique_ptr<MeterSeriesModel> FormSendCheck::SentImage()
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

void FormSendCheck::CompareReadEnded()
{
    QString error;
    if (!m_check->found->FinishRead(&error)) {
        // The other series, or no usable image: nothing of it is sent to.
        m_form.Audit(QStringLiteral("send"), QStringLiteral("refused"), error);
        m_check.reset();
        UserMessage::Show(
            error + QStringLiteral("\nNothing was sent."), QString::fromLatin1(kAppTitle));
        return;
    }
    if (m_check->prepare)
        m_check->prepare();
    m_check->sent = SentImage();
    if (!m_check->sent) {
        m_check.reset();
        UserMessage::Show(QStringLiteral("The form's configuration fits no layout of its "
                                         "series.\nNothing was sent."),
            QString::fromLatin1(kAppTitle));
        return;
    }
    const ConfigDiff::Result diff
        = ConfigDiff::Compare(m_check->found->ComparedFields(), m_check->sent->ComparedFields());
    m_check->changes = diff.changes;
    if (diff.changes.empty() && m_check->sent->ImageBytes() == m_check->found->ImageBytes()) {
        // Nothing to write, and no as-found copy of it. With the compare off a send writes
        // whatever the meter holds.
        const QString said = QString::fromLatin1(kAlreadyHeldText);
        m_form.Audit(QStringLiteral("send"), QStringLiteral("unchanged"), said);
        m_check.reset();
        UserMessage::Inform(said
            + QStringLiteral(".\n\nTo write it anyway, turn off \"Compare with the meter before "
                             "sending\" in the settings (\"Sending and Audit\")."));
        return;
    }
    // What the meter held cannot be had back once it is written over: no copy, no send.
    const QString meterSerial = m_check->found->Serial().trimmed();
    m_check->asFound
        = AsFoundStore::Save(AuditSettings::AsFoundFolder(), meterSerial, m_form.FileExtension(),
            m_check->found->StoredText().toLatin1(), QDateTime::currentDateTime(), &error);
    if (m_check->asFound.isEmpty()) {
        m_form.Audit(QStringLiteral("send"), QStringLiteral("failed"), error);
        m_check.reset();
        UserMessage::Show(error
                + QStringLiteral("\nNothing was sent: the meter's configuration as found could "
                                 "not be kept."),
            QString::fromLatin1(kAppTitle));
        return;
    }
    // The serial number the meter holds, not the one a terminal heard last, is checked.
    QString question;
    const QString formSerial = m_check->sent->Serial().trimmed();
    if (formSerial != meterSerial)
        question = QStringLiteral("The form holds the configuration of meter %1, but the meter "
                                  "connected is meter %2.\n\n")
                       .arg(formSerial, meterSerial);
    question += QStringLiteral("Send %1 change(s) to meter %2?\n\n%3\n\nAs found: %4")
                    .arg(diff.changes.size())
                    .arg(meterSerial, ConfigDiff::Text(diff, ZarnFormBase::kChangesShown),
                        m_check->asFound);
    // Asked from the event loop: the read's dialogue is over before the question opens.
    QMetaObject::invokeMethod(
        &m_form, [this, question] { AskToSend(question); }, Qt::QueuedConnection);
}

void FormSendCheck::AskToSend(const QString &question)
{
    if (!m_check)
        return;
    if (!UserMessage::Ask(question, QString::fromLatin1(kAppTitle))) {
        m_form.Audit(QStringLiteral("send"), QStringLiteral("cancelled"),
            QStringLiteral("Nothing was sent."));
        m_check.reset();
        return;
    }
    StartCheckedSend();
}

void FormSendCheck::StartCheckedSend()
{
    if (!m_check)
        return;
    const bool started = m_form.StartList(
        m_check->lists.send, ZarnFormBase::kSendTimer, m_check->lists.sendPeriodMs, [this] {
            if (m_check->prepare)
                m_check->prepare();
            m_check->sent = SentImage();
        });
    if (!started)
        m_check.reset();
}

void FormSendCheck::SendAcknowledged()
{
    if (!m_check)
        return;
    if (m_check->verify && m_check->sent) {
        if (StartRead(ZarnFormBase::kVerifyTimer))
            return;
        // The port was taken in between, or the list could not be opened (said already).
        m_form.Audit(QStringLiteral("send"), QStringLiteral("mismatch"),
            QStringLiteral("The meter acknowledged the configuration; it was not read back."));
        m_check.reset();
        return;
    }
    m_form.Audit(QStringLiteral("send"), QStringLiteral("ok"),
        QString::fromLatin1(FormSendCheck::kAcknowledgedText));
    m_check.reset();
    UserMessage::Inform(QString::fromLatin1(FormSendCheck::kAcknowledgedText));
}

void FormSendCheck::VerifyReadEnded()
{
    QString error;
    QString difference;
    if (!m_check->stored->FinishRead(&error))
        difference = QStringLiteral("The meter acknowledged the configuration, but it could not "
                                    "be read back, so what it stored is not known:\n%1")
                         .arg(error);
    else
        difference = m_check->sent->StoredDifference(*m_check->stored);
    if (difference.isEmpty()) {
        m_form.Audit(QStringLiteral("send"), QStringLiteral("ok"),
            QStringLiteral("Meter stored the configuration"));
        m_check.reset();
        UserMessage::Inform(QStringLiteral("Meter stored the configuration"));
        return;
    }
    m_form.Audit(QStringLiteral("send"), QStringLiteral("mismatch"), difference);
    m_check.reset();
    UserMessage::Show(difference, QString::fromLatin1(kAppTitle));
}
