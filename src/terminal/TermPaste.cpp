#include "terminal/TermPaste.h"

bool TermPaste::Start(const QString &text)
{
    const QByteArray bytes = Bytes(text);
    if (bytes.isEmpty() || bytes.size() > kMaxBytes)
        return false;
    m_bytes = bytes;
    m_next = 0;
    return true;
}

void TermPaste::Cancel()
{
    m_bytes.clear();
    m_next = 0;
}

int TermPaste::Next()
{
    if (!Active())
        return -1;
    const auto byte = static_cast<unsigned char>(m_bytes.at(m_next++));
    if (!Active())
        Cancel(); // done: the text is not kept
    return byte;
}

QByteArray TermPaste::Bytes(const QString &text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text.at(i);
        if (ch == QLatin1Char('\r')) {
            bytes += '\r';
            if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
        } else if (ch == QLatin1Char('\n')) {
            bytes += '\r';
        } else {
            bytes += char(ch.unicode() & 0xFF);
        }
    }
    return bytes;
}
