#include "publish/PublishQueue.h"

PublishQueue::PublishQueue(qsizetype maxMessages, qint64 maxBytes)
    : m_maxMessages(qMax<qsizetype>(1, maxMessages))
    , m_maxBytes(qMax<qint64>(1, maxBytes))
{
}

qint64 PublishQueue::Cost(const Item &item)
{
    // The heap block (payload, Qt's header, the allocator's rounding) and the deque slot.
    return ((item.data.size() + 24 + 15) / 16) * 16 + qint64(sizeof(Item));
}

void PublishQueue::PopFront()
{
    m_bytes -= Cost(m_items.front());
    m_items.pop_front();
    if (m_inFlight > 0)
        --m_inFlight;
}

void PublishQueue::Append(const QByteArray &topic, const QByteArray &payload, bool retain)
{
    Item item;
    item.retain = retain;
    item.data.reserve(topic.size() + payload.size());
    item.data.append(topic);
    item.data.append(payload);
    item.topicLength = int(topic.size());
    const qint64 cost = Cost(item);
    while (!m_items.empty()
        && (qsizetype(m_items.size()) >= m_maxMessages || m_bytes + cost > m_maxBytes)) {
        PopFront();
        ++m_dropped;
    }
    m_bytes += cost;
    m_items.push_back(std::move(item));
}

QByteArray PublishQueue::WaitingTopic() const
{
    if (!HasWaiting())
        return {};
    const Item &item = m_items[m_inFlight];
    return item.data.left(item.topicLength);
}

QByteArray PublishQueue::WaitingPayload() const
{
    if (!HasWaiting())
        return {};
    const Item &item = m_items[m_inFlight];
    return item.data.mid(item.topicLength);
}

bool PublishQueue::WaitingRetained() const
{
    return HasWaiting() && m_items[m_inFlight].retain;
}

void PublishQueue::MarkSent(int messageId)
{
    if (!HasWaiting())
        return;
    m_items[m_inFlight].messageId = messageId;
    ++m_inFlight;
}

void PublishQueue::DropWaiting()
{
    if (!HasWaiting())
        return;
    m_bytes -= Cost(m_items[m_inFlight]);
    m_items.erase(m_items.begin() + qsizetype(m_inFlight));
    ++m_dropped;
}

bool PublishQueue::Acknowledge(int messageId)
{
    bool found = false;
    for (size_t i = 0; i < m_inFlight; ++i) {
        if (m_items[i].messageId == messageId && !m_items[i].acknowledged) {
            m_items[i].acknowledged = true;
            found = true;
            break;
        }
    }
    while (m_inFlight > 0 && m_items.front().acknowledged)
        PopFront();
    return found;
}

void PublishQueue::Resend()
{
    // Messages the broker acknowledged out of order are not sent twice.
    for (size_t i = m_inFlight; i-- > 0;) {
        if (m_items[i].acknowledged) {
            m_bytes -= Cost(m_items[i]);
            m_items.erase(m_items.begin() + qsizetype(i));
        } else {
            m_items[i].messageId = 0;
        }
    }
    m_inFlight = 0;
}
