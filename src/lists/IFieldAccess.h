#pragma once

#include <QString>

// Field access by control id: the one channel between command lists, variable transfers and
// the meter forms. Check boxes read and write "TRUE"/"FALSE".
class IFieldAccess
{
public:
    virtual ~IFieldAccess() = default;
    virtual void SetField(int id, const QString &text) = 0;
    virtual QString GetField(int id) = 0;
};
