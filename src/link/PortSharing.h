#pragma once

#include "base/Task.h"

#include <QByteArray>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

class DialogueRunner;
class QObject;

// Who uses a port's bytes: the dialogue that holds the port (a Claim), the dialogues queued for
// their turn, and between dialogues the subscribers, each with a queue of its own. It knows
// nothing of the device: the port that derives from it reads, hands the bytes to Deliver, and
// learns through the hooks when a dialogue takes or lets go of the port.
class PortSharing
{
private:
    struct Shared;

public:
    PortSharing(const PortSharing &) = delete;
    PortSharing &operator=(const PortSharing &) = delete;

    // While a dialogue holds the port it alone reads it: the port's reader gives subscribers
    // nothing and no second dialogue starts. A Claim is held by the dialogue for its whole length
    // (usually as a member of its runner's owner or a local of its coroutine, so that a destroyed
    // dialogue releases it); it is safe to outlive the port.
    class Claim
    {
    public:
        Claim() = default;
        // Takes the port for owner; Held() is false when another owner holds it (or no port).
        // cancel, when given, is how CancelDialogue asks the holder to stop.
        Claim(PortSharing *port, const void *owner, std::function<void()> cancel = {});
        Claim(Claim &&other) noexcept;
        Claim &operator=(Claim &&other) noexcept;
        Claim(const Claim &) = delete;
        Claim &operator=(const Claim &) = delete;
        ~Claim() { Release(); }
        bool Held() const { return m_owner != nullptr; }
        void Release();

    private:
        friend class PortSharing;
        std::weak_ptr<Shared> m_shared;
        const void *m_owner = nullptr;
    };
    bool IsClaimed() const { return m_shared->owner != nullptr; }
    // The dialogue holding the port (its owner), null when none does.
    const void *Holder() const { return m_shared->owner; }
    // Whether owner may use the port now: nobody holds it, or owner does.
    bool FreeFor(const void *owner) const { return !m_shared->owner || m_shared->owner == owner; }
    // Asks the dialogue holding the port to stop (it winds up from the event loop); used before
    // the port is closed or set up anew.
    void CancelDialogue();
    // Dialogues waiting for their turn.
    int QueuedDialogues() const { return int(m_shared->queue.size()); }

    // Between dialogues, every subscriber gets every byte that arrives, in order. Each has a
    // queue of its own, so a slow one (a terminal drawing) holds up neither the reader nor the
    // others: ready is called when bytes were queued for it, and it takes them with Take when it
    // likes. gone is called from the event loop when the device went away. A subscriber's queue
    // keeps at most kSubscriberQueueMax bytes; what would overflow it is counted in Dropped().
    // Unsubscribes when destroyed; safe to outlive the port.
    class Subscription
    {
    public:
        Subscription() = default;
        Subscription(Subscription &&other) noexcept = default;
        Subscription &operator=(Subscription &&other) noexcept;
        Subscription(const Subscription &) = delete;
        Subscription &operator=(const Subscription &) = delete;
        ~Subscription() { Cancel(); }
        bool Active() const;
        // Up to max bytes of what was queued for this subscriber, oldest first.
        QByteArray Take(int max);
        int Queued() const;
        qint64 Dropped() const;
        void Cancel();
        struct Entry; // the subscriber's queue and callbacks, as the port keeps them

    private:
        friend class PortSharing;
        std::shared_ptr<Entry> m_entry;
        std::weak_ptr<Shared> m_shared;
    };
    Subscription Subscribe(std::function<void()> ready, std::function<void()> gone = {});
    int Subscribers() const { return int(m_shared->subscribers.size()); }

    static constexpr int kSubscriberQueueMax = 1 << 20;
    // The longest a queued dialogue waits before it looks at the port again unnudged.
    static constexpr int kTurnWaitMs = 1000;

protected:
    PortSharing();
    virtual ~PortSharing();
    // Ends the sharing before the derived port's members go: queued dialogues learn that the
    // port is gone, and claims and subscriptions that outlive it find nothing. Called by the
    // derived destructor first; again by this one.
    void Detach();

    // A claim was taken (before the holder is recorded).
    virtual void OnClaimed() { }
    // The holder's hold of the cross-process lock (MarkLocked) ends: it let go, or the device
    // closed under it (DropHolderLock).
    virtual void ReleaseLock() { }
    // Something the reader waits on changed: the holder, the queue, the subscribers, or (the
    // derived port calls PortChanged) the device and its enabled flag.
    virtual void OnPortChanged() { }
    void PortChanged();

    // Waits on runner behind the holder and those queued earlier. true when it is this
    // dialogue's turn (it has left the queue, and nobody holds the port); false when the runner
    // is cancelled (which takes the dialogue out of the queue, so the ones behind it move up),
    // usable says the port can no longer be used, or the port is destroyed meanwhile.
    Task<bool> WaitForTurn(DialogueRunner &runner, std::function<bool()> usable);
    // Whether the port still exists, for a derived coroutine that waited: a weak handle.
    std::weak_ptr<const void> Lifetime() const { return m_shared; }
    // The claim holds the cross-process lock too, until it lets go or DropHolderLock.
    void MarkLocked(const Claim &claim);
    // The device closed or went under the holder: its hold of the lock ends now, so that a
    // device given the same name meanwhile (a pseudo-terminal's number) is not kept locked.
    void DropHolderLock();

    bool HasSubscribers() const { return !m_shared->subscribers.empty(); }
    // Queues bytes for every subscriber, then calls their ready.
    void Deliver(const QByteArray &bytes);
    // The device went away: queued dialogues are nudged at once, subscribers told from the event
    // loop (the device may have gone inside a subscriber's own step), context being the object
    // the call is posted to.
    void TellGone(QObject *context);

private:
    struct QueuedTurn
    {
        DialogueRunner *runner;
    };
    // What Claims and Subscriptions reach through weak pointers, so that they may outlive the
    // port.
    struct Shared
    {
        PortSharing *port = nullptr;
        const void *owner = nullptr; // the dialogue holding the port
        bool ownerLocked = false; // and it holds the cross-process lock too
        std::function<void()> cancel;
        std::deque<QueuedTurn *> queue; // waiting in WaitForTurn, first in front
        std::vector<std::shared_ptr<Subscription::Entry>> subscribers;
    };
    std::shared_ptr<Shared> m_shared = std::make_shared<Shared>();
};
