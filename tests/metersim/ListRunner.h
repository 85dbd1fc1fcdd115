#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

// One command-list line split by the list rules: a label up to ":" when the line starts with
// "0" or above, the command up to "(" or a blank, arguments separated by commas with blanks
// dropped outside double quotes.
struct ParsedLine
{
    QString label;
    QString command;
    QStringList args;
};
ParsedLine Parse(const QString &line);

// Runs a command list against a port the way the meter forms run it (one line per step,
// Send exchanges with purge, paced send plus CR, pause and a timed read; Read cuts a piece of
// the reply into a field; Goto to a missing label shows its text and stops). Fields are a
// plain map, set with the forms' trimming rule. Lets the tests check that the lists in data/
// and the simulated meter fit together before the program's own executor drives them.
class ListRunner
{
public:
    ListRunner(int fd, int pacingMs)
        : m_fd(fd)
        , m_pacingMs(pacingMs)
    {
    }
    // 1 after "End", -1 after a jump to a missing label (Message() then holds its text),
    // 0 when the list could not be read or ran away.
    int Run(const QString &path);
    QMap<int, QString> fields;
    QString Message() const { return m_message; }
    QStringList Sent() const { return m_sent; }

private:
    int Exchange(const QByteArray &text, int intervalMs, int totalMs, const QString &terminator);
    void SetField(int id, const QString &text);

    int m_fd;
    int m_pacingMs;
    QByteArray m_reply;
    QString m_message;
    QStringList m_sent;
};
