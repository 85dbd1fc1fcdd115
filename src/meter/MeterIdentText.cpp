#include "meter/MeterIdentText.h"

namespace {
// The bytes from `at` up to the next blank (or the end), blanks before them never collected.
QByteArray WordAt(const QByteArray &text, qsizetype at)
{
    QByteArray word;
    for (; at < text.size() && text.at(at) != ' '; ++at) {
        // A line end also ends a word: the next reading or prompt is no part of it.
        if (text.at(at) == '\r' || text.at(at) == '\n')
            break;
        word.append(text.at(at));
    }
    return word;
}

// Past the next "#" and any blanks and "#" after it; -1 when no "#" follows.
qsizetype AfterMark(const QByteArray &text, qsizetype from)
{
    qsizetype at = text.indexOf('#', from);
    if (at < 0)
        return -1;
    while (at < text.size() && (text.at(at) == '#' || text.at(at) == ' '))
        ++at;
    return at;
}
} // namespace

MeterIdentText::Fields MeterIdentText::Parse(const QByteArray &text)
{
    Fields fields;
    const qsizetype v = text.indexOf('v');
    if (v < 0)
        return fields;
    const QByteArray firmware = WordAt(text, v);
    fields.firmware = QString::fromLatin1(firmware);
    qsizetype at = v + firmware.size();
    // The serial number and the range belong to the identification's own line.
    qsizetype lineEnd = text.indexOf('\n', at);
    if (lineEnd < 0)
        lineEnd = text.size();
    const QByteArray line = text.left(lineEnd);
    at = AfterMark(line, at);
    if (at < 0 || at >= line.size())
        return fields;
    const QByteArray word = WordAt(line, at);
    const qsizetype rangeAt = AfterMark(line, at + word.size());
    if (rangeAt < 0) {
        // Only one mark: a text without its serial number ("v4.1A #2 ,..."), whose one word
        // is the range. An empty serial here is "not read", never a number to compare.
        if (!word.isEmpty())
            fields.range = QString(QLatin1Char(word.at(0)));
        return fields;
    }
    fields.serial = QString::fromLatin1(word);
    if (rangeAt < line.size() && line.at(rangeAt) != '\r' && line.at(rangeAt) != ',')
        fields.range = QString(QLatin1Char(line.at(rangeAt)));
    return fields;
}
