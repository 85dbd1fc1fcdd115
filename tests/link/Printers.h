#pragma once

#include <QByteArray>
#include <QString>

#include <ostream>

// Readable GoogleTest output for Qt texts (failure messages and parameterised test names).
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QByteArray &bytes, std::ostream *out)
{
    *out << '"' << bytes.toStdString() << '"';
}
