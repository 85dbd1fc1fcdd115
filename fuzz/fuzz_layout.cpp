// A layout file ("vars20.dat" and kin), held in memory as the bytes the file would give: every
// section read as a table, each variable written and read back through the image, the image as
// text and back, and the layout detection over it.
#include "FuzzEnv.h"

#include "meter/MeterVars.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzEnv::Init();
    const QString file = QStringLiteral("fuzz-layout.dat");
    MeterVars::HoldLayoutFile(file, FuzzEnv::Bytes(data, size));
    const QStringList sections = MeterVars::SectionsOf(file);
    for (int s = 0; s < sections.size() && s < 8; ++s) {
        MeterVars vars(sections.at(s), file);
        if (vars.Count() < 0 || vars.Count() >= MeterVars::kMaxEntries
            || vars.ImageBytes() > MeterVars::kImageSize)
            std::abort();
        for (int i = 0; i < vars.Count(); ++i) {
            const QString name = vars.Name(i);
            if (vars.Offset(i) + vars.Size(i) > vars.ImageBytes())
                std::abort(); // every variable lies inside the image
            vars.SetValue(name, 4, 0xA5C3E10Fu);
            (void)vars.Value(name, 4);
            vars.SetFloat(name, -1.5e38f);
            (void)vars.Float(name);
        }
        const QString text = vars.ImageToText();
        vars.ImageFromText(text);
        if (vars.ImageToText() != text)
            std::abort();
        (void)vars.ImageToSendText();
        (void)MeterVars::DetectLayout(text, file);
    }
    return 0;
}
