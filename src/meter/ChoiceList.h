#pragma once

#include <QString>
#include <QStringList>

// The choice-list files ("units20.dat", "alarms20.dat", "out.dat", ...): one choice per line,
// the choice's code in the line's last characters. Read by the meter forms to fill their lists
// and by the variable transfers to find the line of a code.
class ChoiceList
{
public:
    // The file's lines without line ends; a missing file gives none.
    static QStringList Read(const QString &fileName);
    // A list file's bytes as Read reads them: lines without their ends, a line longer than 4095
    // characters continued as the next.
    static QStringList Lines(const QByteArray &bytes);
    // Holds a list file's bytes in memory: from then on Read(fileName) gives their lines without
    // reading the file. For runs that read one unchanging file very often (the fuzz targets);
    // the program itself holds nothing.
    static void Hold(const QString &fileName, const QByteArray &bytes);
    // Index of the first line whose last characters are `code`, -1 when none.
    static int FindEndingIn(const QStringList &lines, const QString &code);
    // The last n characters of a line (the code part); a shorter line is all of it.
    static QString Tail(const QString &line, int n);
    // Index of the first line whose last n characters are code; -1 when none or code is empty.
    static int FindTail(const QStringList &lines, const QString &code, int n);
    // Index of the first line beginning with `prefix`, -1 when none.
    static int FindBeginningWith(const QStringList &lines, const QString &prefix,
        Qt::CaseSensitivity cs = Qt::CaseSensitive);
};
