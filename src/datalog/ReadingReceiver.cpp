#include "datalog/ReadingReceiver.h"

void ReadingReceiver::Restart()
{
    m_accumulator.clear();
    m_count = 0;
    m_partial = true;
}

ReadingReceiver::Result ReadingReceiver::Feed(unsigned char byte)
{
    if (byte == 13) {
        m_count = 0;
        if (m_partial) {
            m_partial = false;
            m_accumulator.clear();
            return Result::None;
        }
        m_line = m_accumulator;
        m_accumulator.clear();
        return Result::Line;
    }
    if (byte >= 32 && byte <= 90 && byte != '$')
        m_accumulator.append(char(byte));
    if (++m_count >= kLimit) {
        m_count = 0;
        m_accumulator.clear();
        return Result::Overflow;
    }
    return Result::None;
}
