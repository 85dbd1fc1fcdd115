#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstddef>
#include <cstdint>

// What every fuzz target shares: a private working folder seeded with the program's data files
// (the parsers open their files by bare name; the layout and list files are also held in memory,
// so building a table or filling a list reads no file), messages to the user swallowed, and ways to
// cut one fuzz input into the pieces a target feeds to its parser.
class FuzzEnv
{
public:
    // Sets the environment up once per process; later calls do nothing. The process-wide
    // meter state is put back to its start each time, so inputs do not depend on each other.
    static void Init();
    // The working folder (a fresh copy of data/).
    static QString WorkDir();
    // The input as bytes.
    static QByteArray Bytes(const uint8_t *data, size_t size);
    // The input cut at every byte `separator` (empty pieces kept), at most maxPieces pieces;
    // the last piece keeps the rest.
    static QList<QByteArray> Split(const QByteArray &input, char separator, int maxPieces);
    // Writes bytes to a file of the working folder (on a memory file system when there is one).
    static bool WriteFile(const QString &name, const QByteArray &bytes);
};
