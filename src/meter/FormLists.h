#pragma once

#include "lists/CSerialMeterLink.h"
#include "lists/ListDialogue.h"
#include "lists/ListRun.h"
#include "meter/MeterSeries.h"

#include <QByteArray>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class CMeterDoc;
class CQueView;
class DialogueRunner;
class FormSend;
class IFieldAccess;
class IMeterLink;
class MeterVars;
class QObject;

// The command lists of a meter form, one at a time, each run by the form's own ListDialogue and
// shown in the list's window (CQueView): starting one (the port said at once when it cannot be
// had), what a read keeps to give back when it brings no image, the end of each (the form's, or
// the send's it belongs to), and a list cut short by the form closing. Owned by the form
// (ZarnFormBase); the run lives as long as the form, whatever becomes of its window.
class FormLists
{
public:
    // The names of the lists (which list ran on the form).
    static constexpr int kReadList = 1002;

    // The meter identity the form shows (version, revision and template labels): taken when a
    // read starts, and put back when the meter that answered cannot be taken.
    struct ShownIdentity
    {
        QString version;
        QString revision;
        QString templateLabel;
    };

    // What the lists need of their form.
    class Host
    {
    public:
        virtual IFieldAccess &ListFields() = 0; // what a list reads and writes
        virtual CMeterDoc *MeterDoc() const = 0;
        // The list listId has run to its end, or stopped before it (its failure message, or
        // cancelled).
        virtual void ListEnded(int listId) = 0;
        virtual void ListFailed(int listId) = 0;
        virtual ShownIdentity IdentityShown() const = 0;
        virtual void ShowIdentity(const ShownIdentity &identity) = 0;
        // A list has stopped: the meter identity shown is settled again (a failed read's
        // identity has gone back to the document).
        virtual void ShowMeterIdentity() = 0;
        virtual void Audit(const QString &action, const QString &result, const QString &message)
            = 0;

    protected:
        ~Host() = default;
    };

    // Opens a command list by file name as a document and gives its window, or null when it
    // could not be opened. The default opens it through the application's services.
    using ListOpener = std::function<CQueView *(const QString &fileName)>;
    static ListOpener SetListOpener(ListOpener opener);
    // The meter link the forms use instead of the application's (tests); null restores it.
    static void SetMeterLink(IMeterLink *link);

    // owner: the form's window, which holds the port for SendWhenFree and parents its runner.
    FormLists(Host &form, FormSend &send, QObject *owner);
    ~FormLists();

    // Opens the list fileName and, unless a list already runs (the open only brought its window
    // forward), runs prepare and starts it as the list listId against fields (null: the form),
    // its lines periodMs apart. A read keeps the document's table, so a read that brings no
    // image can give it back. False when nothing started.
    bool Start(const QString &fileName, int listId, int periodMs,
        const std::function<void()> &prepare, IFieldAccess *fields);
    // Which list runs (0 when none), and its window.
    int Running() const;
    CQueView *Window() const;
    // Whether the running list is the send's own, still under way (closing then asks).
    bool Sending() const;
    // A meter-changing or file-writing command while a list runs: says so; true when refused.
    bool RefuseWhileRuns();
    // The image text a read collected, without trailing white space, when it holds the bytes of
    // the table in force; else empty, and the user is told what arrived. A usable image makes
    // the table the read built the document's.
    QString TakeReadImage(const QString &collected);
    // Whether the meter a read list heard can fill a form of series own (see ZarnFormBase).
    bool AcceptReadMeter(const QString &version, MeterSeries::Series own, const QString &noLayout);
    // Ends the running list as the window goes: the meter is wound up, the trail gets the line
    // of the action cut short, and what a send left in the meter is said once the window is gone.
    void EndForClosing();
    // The form goes: a list still running ends where it waits.
    void Abandon();
    IMeterLink *Link();
    // Sends a short command after a list has ended, without holding the event loop; nothing when
    // another dialogue holds the port.
    void SendWhenFree(const QByteArray &command);

private:
    void Stopped(int listId, const ListRun::Outcome &outcome);
    void Stop();
    static QString ActionOf(int listId);

    Host &m_form;
    FormSend &m_send;
    QObject *m_owner;
    int m_listId = 0; // which list runs
    QPointer<CQueView> m_window; // the window showing the list that runs
    DialogueRunner *m_sender = nullptr; // of SendWhenFree
    // The document's table as it was when a read started: a read that brings a version answer
    // but no image gives it back, so the failed read changes neither form nor document.
    std::unique_ptr<MeterVars> m_tableBeforeRead;
    QString m_versionBeforeRead;
    std::pair<QString, QString> m_identityBeforeRead;
    // What the form showed of the meter when the last read started.
    std::optional<ShownIdentity> m_identityAtRead;
    CSerialMeterLink m_link;
    // After the link: a run still going when the form goes is destroyed before the link it uses.
    ListDialogue m_run;
};
