#pragma once

#include <QByteArray>

#include <deque>

// The readings waiting for the broker, oldest first: each message (topic and payload in one
// allocation) stays until the broker has it (QoS 1: its PUBACK came; QoS 0: it was handed to
// the connection). The first messages may be in flight, each with its message id; when the
// connection drops they go back to waiting and are sent again, in order. Bounded by a count and
// by bytes: a message that would pass either bound pushes out the oldest, which are counted as
// dropped. The publisher owns one.
class PublishQueue
{
public:
    // 24 hours of 8 meters read every 2 s.
    static constexpr qsizetype kDefaultMessages = 24 * 3600 / 2 * 8;
    // A reading's message is about 200 bytes of topic and payload, so the count is the bound
    // that normally holds; this one caps a queue of unusually long messages.
    static constexpr qint64 kDefaultBytes = 128ll * 1024 * 1024;

    explicit PublishQueue(
        qsizetype maxMessages = kDefaultMessages, qint64 maxBytes = kDefaultBytes);

    // retain: the broker keeps the message for later subscribers (discovery's configs).
    void Append(const QByteArray &topic, const QByteArray &payload, bool retain = false);
    qsizetype Size() const { return qsizetype(m_items.size()); }
    bool Empty() const { return m_items.empty(); }
    // Messages dropped for room since the queue was made.
    qint64 Dropped() const { return m_dropped; }
    // The bytes the queued messages take, their bookkeeping included.
    qint64 Bytes() const { return m_bytes; }

    // The oldest message not yet in flight (null when all are), and marking it in flight.
    bool HasWaiting() const { return m_inFlight < m_items.size(); }
    QByteArray WaitingTopic() const;
    QByteArray WaitingPayload() const;
    bool WaitingRetained() const;
    void MarkSent(int messageId);
    // The waiting message will never be accepted (too large for the broker): drop it.
    void DropWaiting();
    qsizetype InFlight() const { return qsizetype(m_inFlight); }
    // The broker has the message with this id: it leaves the queue (with any acknowledged
    // before it), false when no message in flight has that id.
    bool Acknowledge(int messageId);
    // The connection dropped: every message in flight waits again, to be sent anew.
    void Resend();

private:
    struct Item
    {
        QByteArray data; // topic, then payload
        int topicLength = 0;
        int messageId = 0;
        bool acknowledged = false;
        bool retain = false;
    };
    static qint64 Cost(const Item &item);
    void PopFront();

    std::deque<Item> m_items;
    size_t m_inFlight = 0;
    qsizetype m_maxMessages;
    qint64 m_maxBytes;
    qint64 m_bytes = 0;
    qint64 m_dropped = 0;
};
