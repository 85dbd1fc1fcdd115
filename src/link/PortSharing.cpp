#include "link/PortSharing.h"

#include "base/DialogueRunner.h"

#include <QObject>

#include <algorithm>

struct PortSharing::Subscription::Entry
{
    QByteArray queued;
    std::function<void()> ready;
    std::function<void()> gone;
    qint64 dropped = 0;
    bool active = true;
};

PortSharing::PortSharing()
{
    m_shared->port = this;
}

PortSharing::~PortSharing()
{
    Detach();
}

void PortSharing::Detach()
{
    if (!m_shared->port)
        return;
    m_shared->port = nullptr;
    for (QueuedTurn *turn : m_shared->queue)
        turn->runner->Nudge();
}

PortSharing::Claim::Claim(PortSharing *port, const void *owner, std::function<void()> cancel)
{
    if (!port || !owner || port->IsClaimed() || !port->m_shared->port)
        return;
    port->OnClaimed();
    port->m_shared->owner = owner;
    port->m_shared->cancel = std::move(cancel);
    m_shared = port->m_shared;
    m_owner = owner;
    port->PortChanged(); // the reader stops reading for the subscribers
}

PortSharing::Claim::Claim(Claim &&other) noexcept
    : m_shared(std::move(other.m_shared))
    , m_owner(std::exchange(other.m_owner, nullptr))
{
}

PortSharing::Claim &PortSharing::Claim::operator=(Claim &&other) noexcept
{
    if (this != &other) {
        Release();
        m_shared = std::move(other.m_shared);
        m_owner = std::exchange(other.m_owner, nullptr);
    }
    return *this;
}

void PortSharing::Claim::Release()
{
    if (const auto shared = m_shared.lock(); shared && m_owner && shared->owner == m_owner) {
        shared->owner = nullptr;
        shared->cancel = nullptr;
        const bool locked = std::exchange(shared->ownerLocked, false);
        if (PortSharing *port = shared->port) {
            if (locked)
                port->ReleaseLock();
            port->PortChanged(); // the next dialogue's turn, or the subscribers'
        }
    }
    m_shared.reset();
    m_owner = nullptr;
}

void PortSharing::MarkLocked(const Claim &claim)
{
    if (claim.Held() && m_shared->owner == claim.m_owner)
        m_shared->ownerLocked = true;
}

void PortSharing::DropHolderLock()
{
    if (std::exchange(m_shared->ownerLocked, false))
        ReleaseLock();
}

void PortSharing::CancelDialogue()
{
    // The holder may release the claim while it is told to stop.
    if (const std::function<void()> cancel = m_shared->cancel)
        cancel();
}

void PortSharing::PortChanged()
{
    if (!m_shared->queue.empty() && !m_shared->owner)
        m_shared->queue.front()->runner->Nudge();
    OnPortChanged();
}

Task<bool> PortSharing::WaitForTurn(DialogueRunner &runner, std::function<bool()> usable)
{
    const std::weak_ptr<Shared> weak = m_shared;
    QueuedTurn turn { &runner };
    // Leaves the queue however the wait ends, the frame destroyed with its runner included.
    struct Leave
    {
        std::weak_ptr<Shared> weak;
        QueuedTurn *turn;
        void Now()
        {
            if (const auto shared = weak.lock(); shared && turn) {
                std::erase(shared->queue, turn);
                if (shared->port)
                    shared->port->PortChanged();
            }
            turn = nullptr;
        }
        ~Leave() { Now(); }
    } leave { weak, &turn };
    m_shared->queue.push_back(&turn);
    for (;;) {
        const auto shared = weak.lock();
        if (!shared || !shared->port || runner.Cancelled() || !usable())
            co_return false;
        if (!shared->owner && shared->queue.front() == &turn)
            break;
        co_await runner.Sleep(kTurnWaitMs); // nudged when the holder lets go
    }
    std::erase(m_shared->queue, &turn);
    leave.turn = nullptr;
    co_return true;
}

void PortSharing::Deliver(const QByteArray &bytes)
{
    // Every subscriber's queue first, then their calls, which may subscribe or unsubscribe.
    const auto subscribers = m_shared->subscribers;
    for (const auto &entry : subscribers) {
        const qint64 room = std::max<qint64>(kSubscriberQueueMax - entry->queued.size(), 0);
        entry->queued.append(bytes.constData(), std::min<qint64>(room, bytes.size()));
        entry->dropped += std::max<qint64>(bytes.size() - room, 0);
    }
    for (const auto &entry : subscribers) {
        if (entry->active && entry->ready)
            entry->ready();
    }
}

void PortSharing::TellGone(QObject *context)
{
    for (QueuedTurn *turn : m_shared->queue)
        turn->runner->Nudge();
    if (!context || m_shared->subscribers.empty())
        return;
    QMetaObject::invokeMethod(
        context,
        [weak = std::weak_ptr<Shared>(m_shared)] {
            const auto shared = weak.lock();
            if (!shared)
                return;
            const auto subscribers = shared->subscribers;
            for (const auto &entry : subscribers) {
                if (entry->active && entry->gone)
                    entry->gone();
            }
        },
        Qt::QueuedConnection);
}

PortSharing::Subscription PortSharing::Subscribe(
    std::function<void()> ready, std::function<void()> gone)
{
    Subscription subscription;
    subscription.m_entry = std::make_shared<Subscription::Entry>();
    subscription.m_entry->ready = std::move(ready);
    subscription.m_entry->gone = std::move(gone);
    subscription.m_shared = m_shared;
    m_shared->subscribers.push_back(subscription.m_entry);
    PortChanged();
    return subscription;
}

PortSharing::Subscription &PortSharing::Subscription::operator=(Subscription &&other) noexcept
{
    if (this != &other) {
        Cancel();
        m_entry = std::move(other.m_entry);
        m_shared = std::move(other.m_shared);
    }
    return *this;
}

bool PortSharing::Subscription::Active() const
{
    return m_entry && m_entry->active && !m_shared.expired();
}

QByteArray PortSharing::Subscription::Take(int max)
{
    if (!m_entry || max <= 0)
        return QByteArray();
    QByteArray bytes = m_entry->queued.left(max);
    m_entry->queued.remove(0, bytes.size());
    return bytes;
}

int PortSharing::Subscription::Queued() const
{
    return m_entry ? int(m_entry->queued.size()) : 0;
}

qint64 PortSharing::Subscription::Dropped() const
{
    return m_entry ? m_entry->dropped : 0;
}

void PortSharing::Subscription::Cancel()
{
    if (!m_entry)
        return;
    m_entry->active = false;
    if (const auto shared = m_shared.lock()) {
        std::erase(shared->subscribers, m_entry);
        if (shared->port)
            shared->port->PortChanged();
    }
    m_entry.reset();
    m_shared.reset();
}
