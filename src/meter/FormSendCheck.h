#pragma once

#include "audit/AuditRecord.h"
#include "meter/SendWithChecks.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

class IFieldAccess;
class MeterSeriesModel;
class ZarnFormBase;

// A meter form's Send with the checks the settings ask for. Comparing: the meter is read first
// into a configuration of its own (the form is not touched), its image kept as the as-found copy,
// and the user confirms the fields that will change; reading back: after the meter's
// acknowledgement it is read again and "Meter stored the configuration" is said only when it
// holds what was sent. Owned by the form (ZarnFormBase), whose list runner it starts the reads
// and the send on; the form hands it the end of each of their lists.
class FormSendCheck
{
public:
    // The lists and paces of a send and of the reads around it.
    struct Lists
    {
        QString read;
        int readPeriodMs = 0;
        QString send;
        int sendPeriodMs = 0;
    };

    explicit FormSendCheck(ZarnFormBase &form);
    ~FormSendCheck();

    // Before a send: when the connected meter's serial number is not known, or is not the
    // form's (formSerial), the user is asked (No stays); false to stay. A send that compares
    // first asks after its read instead.
    bool ConfirmMeter(const QString &formSerial);
    // Starts a send: with both checks off, the send list as it stands; else the compare read or
    // the send followed by its read back. prepare collects the form into the document and the
    // send field. A press while the check runs only brings its list forward. False when nothing
    // started.
    bool Start(const Lists &lists, const std::function<void()> &prepare);
    // Whether a send with checks is under way (from its first read to its last).
    bool Active() const { return m_check != nullptr; }
    // The send stopped (failed or cancelled): the check is over.
    void Drop();
    // The fields a check read fills instead of the form's (null outside a check read's start).
    IFieldAccess *ReadFields() const { return m_readFields; }
    // The changes the send makes, for the audit trail (none outside a check).
    std::vector<AuditRecord::Change> Changes() const;
    // The as-found copy this check kept (empty before the compare read kept one).
    QString AsFound() const;

    // A check read's list (ZarnFormBase::kCompareTimer or kVerifyTimer) ended: ended true when
    // it ran to its end, else result ("failed", "cancelled") says how it stopped.
    void ReadEnded(int listId, bool ended, const QString &result);
    // The send list reached its end (the meter acknowledged the image): the read back, if any.
    void SendAcknowledged();
    // A check read cut short by its window closing: the trail gets the send's line, and what
    // the send left is said once the window has gone (nothing for the compare: nothing was sent).
    void ReadCut(int listId);
    // The end of a send that was not read back: the meter took it, what it stored is not known.
    static constexpr const char *kAcknowledgedText = SendWithChecks::kAcknowledgedText;
    // What a send of a configuration the meter already holds says (nothing is sent).
    static constexpr const char *kAlreadyHeldText = SendWithChecks::kAlreadyHeldText;

private:
    struct State;
    bool StartRead(int listId);
    // Puts back the document globals the check's read changed (saved when it started).
    void RestoreDocGlobals();
    // later: said once the dialogue is over (the window has gone), the compare's not at all.
    void ReadStopped(int listId, const QString &result, bool later = false);
    std::unique_ptr<MeterSeriesModel> SentImage();
    void CompareReadEnded();
    void AskToSend(const QString &question);
    void StartCheckedSend();
    void VerifyReadEnded();

    ZarnFormBase &m_form;
    std::unique_ptr<State> m_check;
    IFieldAccess *m_readFields = nullptr;
};
