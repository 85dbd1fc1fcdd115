#pragma once

#include <QByteArray>

// Collects the meter's run-mode stream into reading lines, byte by byte. A carriage return ends
// a line; only the characters from blank to "Z" except "$" are kept (the stream's control
// bytes, lower case and "$" are dropped but counted); kLimit bytes without a carriage return
// mean the meter is not streaming readings.
//
// After the link's input was purged the first line may have lost its beginning, so Restart
// passes over everything up to the next carriage return instead of taking a partial line.
class ReadingReceiver
{
public:
    static constexpr int kLimit = 300;
    enum class Result { None, Line, Overflow };

    // Empties the line being received; the next line counts only from the next carriage return.
    void Restart();
    Result Feed(unsigned char byte);
    // The line the last Result::Line completed.
    const QByteArray &Line() const { return m_line; }
    int Count() const { return m_count; }

private:
    QByteArray m_accumulator;
    QByteArray m_line;
    int m_count = 0;
    bool m_partial = false;
};
