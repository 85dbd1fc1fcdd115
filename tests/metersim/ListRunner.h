#pragma once

#include "lists/IFieldAccess.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

class CSerial;

// Runs a command list of data/ with the program's own executor (CQueExecutor) over the meter
// link, against a form reduced to a map of field texts (set with the forms' trimming rule), so
// the tests see whether the lists and the simulated meter fit together without a window.
class ListRunner : public IFieldAccess
{
public:
    explicit ListRunner(CSerial &link)
        : m_link(link)
    {
    }
    // Steps the list to its end: 1 after "End", -1 after a jump to a label no line carries
    // (Message() then holds the text shown), 0 when the list could not be read or never ended.
    int Run(const QString &path);
    QMap<int, QString> fields;
    QString Message() const { return m_message; }

    void SetField(int id, const QString &text) override;
    QString GetField(int id) override { return fields.value(id); }

    // The arguments of a parsed line: tokens 2 up to the trailing text.
    static QStringList Arguments(const QString &line);

private:
    CSerial &m_link;
    QString m_message;
};
