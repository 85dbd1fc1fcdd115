#pragma once

#include "audit/AuditRecord.h"
#include "lists/ListRun.h"
#include "meter/SendWithChecks.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class CMeterDoc;
class DialogueRunner;
class IFieldAccess;
class MeterSeriesModel;

// A meter form's Send: the one Send (SendWithChecks) with the form's lists and questions. Each
// list of it (the compare read, the send, the read back) runs on the form, shown in its own
// command-list window, started through Host; the form hands back the end of each, and the send goes
// on. The questions, messages and audit lines are the form's own.
class FormSend : private SendWithChecks::Lists, private SendWithChecks::Prompt
{
public:
    // The names of the lists of a send (which list ran on the form).
    static constexpr int kSendList = 1001;
    // The reads around a send: the meter as found before it, and what it stored after.
    static constexpr int kCompareList = 1004;
    static constexpr int kVerifyList = 1005;
    // The changes listed in the question before a send; the rest are counted (the box must fit
    // the screen; the audit trail gets them all).
    static constexpr int kChangesShown = 20;
    static constexpr const char *kSendCancelledText
        = "Sending was cancelled before the meter confirmed that it had stored the "
          "configuration.\nRead the meter to see what it holds.";
    // A send cut inside the image: part of it may be in the meter. The second sentence is also
    // what a port gone at that point adds to its message.
    static constexpr const char *kSendCutText
        = "Sending was cancelled part way through the configuration.\nThe meter may now hold "
          "part of the new configuration.\nRead the meter to see what it holds.";
    static constexpr const char *kPartlySentText
        = "The meter may now hold part of the new configuration.\nRead the meter to see what it "
          "holds.";

    // The lists and paces of a send and of the reads around it.
    struct ListFiles
    {
        QString read;
        int readPeriodMs = 0;
        QString send;
        int sendPeriodMs = 0;
    };

    // What the send needs of its form.
    class Host
    {
    public:
        // Starts fileName as the list listId, its lines periodMs apart, against fields (null:
        // the form itself); its end comes back through ListStopped. Another press of a running
        // list only brings its window forward. False when nothing started (said there).
        virtual bool StartSendList(
            const QString &fileName, int listId, int periodMs, IFieldAccess *fields)
            = 0;
        // Which list runs on the form now; 0 when none.
        virtual int ListInProgress() const = 0;
        // A configuration of the form's series away from the window; null when it has none.
        virtual std::unique_ptr<MeterSeriesModel> MakeSeriesModel() const = 0;
        virtual CMeterDoc *MeterDoc() const = 0;
        virtual QString FileExtension() const = 0;
        // The serial number the form holds.
        virtual QString FormSerial() = 0;
        // Appends the send's line (result, message, changes, as-found copy) to the audit trail.
        virtual void AuditSend(const AuditRecord &line) = 0;

    protected:
        ~Host() = default;
    };

    explicit FormSend(Host &form);
    ~FormSend() override;

    // Starts a send with the checks the settings ask for; prepare collects the form into the
    // document and the send field. A press while the send runs only brings its list forward.
    // False when nothing started.
    bool Start(const ListFiles &lists, std::function<void()> prepare);
    // Whether a send is under way (from its first list to its last word).
    bool Active() const;
    // The send's list that runs or last ran, until the send has said how it ended; 0 when no
    // send is under way.
    int List() const { return Active() ? m_listId : 0; }
    // A list of the send (kCompareList, kSendList, kVerifyList) has stopped as outcome says.
    void ListStopped(const ListRun::Outcome &outcome);
    // The list listId of the send was cut short by its window closing (fieldCut: inside a
    // field's text): the send ends here, the trail gets its line, and what it left in the meter
    // is said once the window has gone.
    void Cut(int listId, bool fieldCut);

private:
    using ListEnd = SendWithChecks::ListEnd;
    Task<ListEnd> Read(MeterSeriesModel &into) override;
    Task<ListEnd> Send(MeterSeriesModel &sent) override;
    Task<ListEnd> RunList(QString fileName, int listId, int periodMs, IFieldAccess *fields);
    bool ConfirmMeter() override;
    bool AcceptMeter(MeterSeriesModel &) override { return true; }
    bool AskToSend(const SendWithChecks::Outcome *changes) override;
    void Progress(SendWithChecks::Step step) override { m_step = step; }
    std::optional<QString> End(const SendWithChecks::Outcome &outcome) override;
    // The image the send list sends, once prepare has collected the form; null when it fits no
    // layout.
    std::unique_ptr<MeterSeriesModel> SentImage() const;
    void Audit(const QString &result, const QString &message);

    Host &m_form;
    ListFiles m_lists;
    std::function<void()> m_prepare;
    std::unique_ptr<SendWithChecks> m_send;
    std::unique_ptr<MeterSeriesModel> m_sent;
    SendWithChecks::Step m_step = SendWithChecks::Step::Meter;
    // The end of the list the send waits for; whether that list could not start (said then).
    std::optional<ListEnd> m_listEnd;
    bool m_notStarted = false;
    int m_listId = 0;
    // What the send changes and the as-found copy, once asked about.
    std::vector<AuditRecord::Change> m_changes;
    QString m_asFound;
    // Last: destroying it destroys a suspended send before what it refers to.
    std::unique_ptr<DialogueRunner> m_runner;
};
