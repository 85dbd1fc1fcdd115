// Command-list lines: the line parser's tokens, labels and label search over a whole list.
#include "FuzzEnv.h"

#include "lists/CScript.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzEnv::Init();
    const QStringList lines
        = QString::fromLatin1(FuzzEnv::Bytes(data, size)).split(QLatin1Char('\n'));
    CScript script;
    for (const QString &line : lines) {
        script.Parse(line);
        const int count = script.TokenCount();
        for (int i = -1; i <= count; ++i)
            (void)script.Token(i);
        // Every token past the label comes out of the line itself.
        if (count > 2 && script.Token(1).size() > line.size())
            std::abort();
        (void)script.ArgumentText();
        if (CScript::HasLabel(line)) {
            const QString label = CScript::LabelOf(line);
            const int at = CScript::FindLabel(lines, label);
            if (!label.isEmpty() && (at < 0 || at >= lines.size()))
                std::abort(); // the line carrying the label is in the list
        }
    }
    return 0;
}
