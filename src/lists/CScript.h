#pragma once

#include <QString>
#include <QStringList>

// Splits one command-list line into its tokens and finds the line that carries a label. Knows no
// command names: the command-list executor reads the tokens and gives them meaning. The text is
// single-byte (the lists are read as Latin-1), so a character's order is its byte value.
//
// Tokens of a parsed line: 0 the label (possibly empty), 1 the command name, then one per
// argument, and last the text that follows the argument list (possibly empty).
class CScript
{
public:
    CScript();

    void Parse(const QString &line);
    // The token at index, or an empty text when the line has fewer tokens.
    QString Token(int index) const;
    int TokenCount() const { return int(m_tokens.size()); }
    QString Line() const { return m_line; }
    // The argument list as it is written on the line: the text after the command name and its
    // "(" up to where the argument scan ended (a closing ")" left out). Shown when a jump fails.
    QString ArgumentText() const { return m_argumentText; }

    // Whether the line begins with a label: its first character is "0" or above.
    static bool HasLabel(const QString &line);
    // The line's label (text up to the first ":", the whole line without one), or empty.
    static QString LabelOf(const QString &line);
    // Index of the first line whose label (a line without one: the whole line) equals label,
    // case-sensitively; -1 when label is empty or no line carries it.
    static int FindLabel(const QStringList &lines, const QString &label);

private:
    QString m_line;
    QStringList m_tokens;
    QString m_argumentText;
};
