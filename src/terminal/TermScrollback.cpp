#include "terminal/TermScrollback.h"

#include <algorithm>

TermScrollback::TermScrollback(int capacity)
    : m_capacity(std::max(1, capacity))
{
}

void TermScrollback::Push(const QByteArray &row)
{
    if (int(m_rows.size()) >= m_capacity)
        m_rows.pop_front();
    m_rows.push_back(row);
    ++m_pushed;
}

void TermScrollback::Clear()
{
    m_rows.clear();
}

QByteArray TermScrollback::Row(int i) const
{
    return i >= 0 && i < Size() ? m_rows[size_t(i)] : QByteArray();
}
