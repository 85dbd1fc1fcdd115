// A choice-list file ("units20.dat", "alarms20.dat", ...) read as the forms read it, and the
// code and prefix searches over it with codes taken from its own lines.
#include "FuzzEnv.h"

#include "meter/ChoiceList.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzEnv::Init();
    const QString file = QStringLiteral("fuzz-list.dat");
    if (!FuzzEnv::WriteFile(file, FuzzEnv::Bytes(data, size)))
        std::abort();
    const QStringList lines = ChoiceList::Read(file);
    for (const QString &line : lines) {
        for (int width = 0; width <= 4; ++width) {
            const int at = ChoiceList::FindEndingIn(lines, line.right(width));
            if (at < -1 || at >= lines.size())
                std::abort();
            const int begins
                = ChoiceList::FindBeginningWith(lines, line.left(width), Qt::CaseInsensitive);
            if (begins < -1 || begins >= lines.size())
                std::abort();
        }
    }
    return 0;
}
