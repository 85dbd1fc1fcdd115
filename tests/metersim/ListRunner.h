#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

class CSerial;

// Runs a command list against the meter link the way the meter forms step it: one line at a
// time, split by CScript; Send exchanges with the meter (purge, SendCommand of the text and a
// CR, a short pause, ReadAll with the line's time-outs, terminator test); Read cuts a piece of
// the reply into a field; Goto to a label no line carries shows its argument text and stops.
// Fields are a plain map set with the forms' trimming rule. Lets the tests check that the
// lists in data/ and the simulated meter fit together.
class ListRunner
{
public:
    explicit ListRunner(CSerial &link)
        : m_link(link)
    {
    }
    // 1 after "End", -1 after a jump to a missing label (Message() then holds its text),
    // 0 when the list could not be read or ran past its end.
    int Run(const QString &path);
    QMap<int, QString> fields;
    QString Message() const { return m_message; }

    // The arguments of a parsed line: tokens 2 up to the trailing text.
    static QStringList Arguments(const QString &line);

private:
    int Exchange(const QByteArray &text, int intervalMs, int totalMs, const QString &terminator);
    void SetField(int id, const QString &text);

    CSerial &m_link;
    QByteArray m_reply;
    QString m_message;
};
