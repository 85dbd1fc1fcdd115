#include "meter/FormLists.h"

#include "base/AppServices.h"
#include "base/AppTitle.h"
#include "base/DialogueRunner.h"
#include "base/UserMessage.h"
#include "lists/CQueView.h"
#include "meter/CMeterDoc.h"
#include "meter/FormSend.h"
#include "meter/MeterSeriesModel.h"
#include "meter/MeterVars.h"

namespace {
CQueView *OpenListDocument(const QString &fileName)
{
    return CQueView::OpenList(AppServices::Instance(), fileName);
}

FormLists::ListOpener &Opener()
{
    static FormLists::ListOpener opener = OpenListDocument;
    return opener;
}

IMeterLink *&LinkOverride()
{
    static IMeterLink *link = nullptr;
    return link;
}

QString ListsTitle()
{
    return QString::fromLatin1(kAppTitle);
}
} // namespace

FormLists::ListOpener FormLists::SetListOpener(ListOpener opener)
{
    ListOpener old = Opener();
    Opener() = std::move(opener);
    return old;
}

void FormLists::SetMeterLink(IMeterLink *link)
{
    LinkOverride() = link;
}

FormLists::FormLists(Host &form, FormSend &send, QObject *owner)
    : m_form(form)
    , m_send(send)
    , m_owner(owner)
{
}

FormLists::~FormLists() = default;

IMeterLink *FormLists::Link()
{
    if (LinkOverride())
        return LinkOverride();
    AppServices *services = AppServices::Instance();
    m_link.SetSerial(services ? services->MeterLink() : nullptr);
    return &m_link;
}

void FormLists::SendWhenFree(const QByteArray &command)
{
    IMeterLink *link = Link();
    if (!link || (link->Port() && !link->Port()->FreeFor(m_owner)))
        return;
    if (!m_sender)
        m_sender = new DialogueRunner(m_owner);
    // A lambda without captures: its parameters live in the coroutine's frame.
    m_sender->Start([](QObject *owner, DialogueRunner *sender, IMeterLink *meter,
                        QByteArray text) -> Task<void> {
        const SerialPort::Claim claim(meter->Port(), owner);
        co_await meter->SendCommandAsync(*sender, text, {});
    }(m_owner, m_sender, link, command));
}

bool FormLists::RefuseWhileRuns()
{
    if (!m_listId)
        return false;
    UserMessage::Show(QStringLiteral("A command list is exchanging data with the meter on this "
                                     "form.\nWait until it has finished, then try again."),
        ListsTitle());
    return true;
}

int FormLists::Running() const
{
    return m_listId;
}

CQueView *FormLists::Window() const
{
    return m_window.data();
}

bool FormLists::Sending() const
{
    return m_run.IsRunning() && m_listId == FormSend::kSendList;
}

bool FormLists::Start(const QString &fileName, int listId, int periodMs,
    const std::function<void()> &prepare, IFieldAccess *fields)
{
    // Another list of this form is running: the same press again only brings its window
    // forward (below); another list waits its turn, and the user is told.
    if (m_listId && listId != m_listId) {
        RefuseWhileRuns();
        return false;
    }
    // A port that is not open, or that another window's dialogue holds, is said at once, before
    // any list window opens (a list would only run into its time-outs).
    IMeterLink *link = Link();
    if (!m_listId && link && !link->Reachable()) {
        UserMessage::Show(link->Unreachable(), ListsTitle());
        return false;
    }
    if (!m_listId && link && link->Port() && link->Port()->IsClaimed()) {
        UserMessage::Show(QStringLiteral("The meter port is in use by another window's exchange "
                                         "with the meter.\nWait until it has finished, then "
                                         "try again."),
            ListsTitle());
        return false;
    }
    // Opening an open list only brings its window forward, so a second press reaches the list
    // already running and starts nothing.
    CQueView *window = Opener() ? Opener()(fileName) : nullptr;
    if (!window || m_listId)
        return false;
    if (prepare)
        prepare();
    if (window->FollowsOther(&m_run))
        return false; // another form runs this list
    const QPointer<QObject> owner(m_owner);
    const auto stopped = [this, owner, listId](const ListRun::Outcome &outcome) {
        if (owner)
            Stopped(listId, outcome);
    };
    if (!m_run.Start(window->Lines(), fields ? fields : &m_form.ListFields(), link, periodMs,
            stopped,
            listId == FormSend::kSendList ? QString::fromLatin1(FormSend::kPartlySentText)
                                          : QString()))
        return false;
    window->Follow(&m_run);
    m_tableBeforeRead.reset();
    const CMeterDoc *doc = m_form.MeterDoc();
    if (listId == kReadList && doc && doc->Vars()) {
        m_tableBeforeRead = std::make_unique<MeterVars>(*doc->Vars());
        m_versionBeforeRead = doc->Context().version;
        m_identityBeforeRead = { doc->MeterVersion(), doc->MeterRevision() };
    }
    if (listId == kReadList)
        m_identityAtRead = m_form.IdentityShown();
    m_window = window;
    m_listId = listId;
    return true;
}

void FormLists::Stopped(int listId, const ListRun::Outcome &outcome)
{
    if (listId != m_listId)
        return; // a run this form no longer follows
    if (m_send.Active()) {
        // A list of the send: it goes on (or ends) from the event loop.
        Stop();
        m_send.ListStopped(outcome);
        return;
    }
    const QString action = ActionOf(listId);
    if (outcome.end != ListRun::End::Ended) {
        // Cancelled (or its window closed), or the list has said what went wrong (its jump
        // target is the message).
        Stop();
        m_form.ListFailed(listId);
        m_form.Audit(action,
            outcome.end == ListRun::End::Cancelled ? QStringLiteral("cancelled")
                                                   : QStringLiteral("failed"),
            QString());
        return;
    }
    m_form.ListEnded(listId);
    Stop();
    // The lists reach their end only on the meter's answer; every failure jumps to a message.
    m_form.Audit(action, QStringLiteral("ok"), QString());
}

QString FormLists::ActionOf(int listId)
{
    return listId == kReadList ? QStringLiteral("read") : QStringLiteral("range change");
}

void FormLists::EndForClosing()
{
    if (!m_listId || !m_run.IsRunning())
        return;
    const int listId = m_listId;
    const bool fieldCut = m_run.Executor().FieldCut();
    m_run.Abandon();
    Stop();
    if (m_send.Active())
        m_send.Cut(listId, fieldCut);
    else
        m_form.Audit(ActionOf(listId), QStringLiteral("cancelled"), QString());
}

void FormLists::Abandon()
{
    // A list still running would run into a form that no longer exists: it ends where it
    // waits, and the meter is wound up.
    m_run.Abandon();
    // A send cut short by closing without a close of this window (its list's window may have
    // closed first): the form is gone, so the application says it, once the window has closed.
    if (m_listId == FormSend::kSendList)
        UserMessage::ShowLater(QString::fromLatin1(FormSend::kSendCancelledText));
}

void FormLists::Stop()
{
    m_listId = 0;
    m_window = nullptr;
    // A read that stopped without an image: the version answer may have rebuilt the table.
    if (m_tableBeforeRead) {
        if (CMeterDoc *doc = m_form.MeterDoc()) {
            doc->SetVars(std::move(m_tableBeforeRead));
            doc->SetMeterIdentity(m_identityBeforeRead.first, m_identityBeforeRead.second);
            doc->Context().version = m_versionBeforeRead;
            doc->TellVersion();
        }
        m_tableBeforeRead.reset();
    }
    m_form.ShowMeterIdentity();
}

QString FormLists::TakeReadImage(const QString &collected)
{
    QString text = collected;
    while (!text.isEmpty() && text.back().isSpace())
        text.chop(1);
    // The check tarvik-cli makes on a read: the same words, and the form's own ending.
    const CMeterDoc *doc = m_form.MeterDoc();
    const QString fault = doc ? MeterSeriesModel::ReadImageFault(*doc, text)
        : text.isEmpty()      ? QStringLiteral("The meter sent no configuration image.")
                              : QString();
    if (!fault.isEmpty()) {
        // Nothing of the answer is used: the form and the document stay as they were.
        UserMessage::Show(fault
                + (text.isEmpty() ? QStringLiteral("\nThe form is left as it was.")
                                  : QStringLiteral("\nThe form is left as it was; read the meter "
                                                   "again.")),
            ListsTitle());
        return QString();
    }
    m_tableBeforeRead.reset(); // the read brought an image: the table is the meter's now
    return text;
}

bool FormLists::AcceptReadMeter(
    const QString &version, MeterSeries::Series own, const QString &noLayout)
{
    const MeterSeries::Series other
        = own == MeterSeries::Kelvane ? MeterSeries::Quixal : MeterSeries::Kelvane;
    const bool otherSeries = MeterSeries::OfVersion(version) == other;
    if (!otherSeries && noLayout.isEmpty())
        return true;
    // The document's meter identity goes back when the list stops.
    if (m_identityAtRead)
        m_form.ShowIdentity(*m_identityAtRead);
    UserMessage::Show(
        otherSeries ? MeterSeries::WrongMeterText(version, MeterSeries::Name(own)) : noLayout,
        ListsTitle());
    return false;
}
