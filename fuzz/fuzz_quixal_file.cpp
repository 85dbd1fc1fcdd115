// A Quixal meter file (".qxm") opened as the Quixal document opens it (its meter line taken from
// the bytes as from the file), every variable shown in a form and collected back, the units
// changed, the image written as text and read again, and the data converted to another Quixal
// layout. The first byte picks the version in force and the target layout; the rest is the file.
#include "FuzzEnv.h"

#include "lists/IFieldAccess.h"
#include "meterqx/QXMeterDoc.h"

#include <QMap>

#include <cstdlib>

namespace {

class EchoForm : public IFieldAccess
{
public:
    void SetField(int id, const QString &text) override { m_fields[id] = text; }
    QString GetField(int id) override { return m_fields.value(id); }

private:
    QMap<int, QString> m_fields;
};

const char *const kVersions[] = { "", "1.0A", "1.2B", "1.3A", "1.4A", "[1.4A]", "?.??", "4.1A" };
const char *const kSections[]
    = { "[1.0A]", "[1.1A]", "[1.2A]", "[1.2B]", "[1.2C]", "[1.3A]", "[1.4A]", "[9.9Z]" };

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzEnv::Init();
    if (size < 1)
        return 0;
    const unsigned pick = data[0];
    QXMeterDoc doc;
    doc.Context().version = QString::fromLatin1(kVersions[pick % 8]);
    doc.OpenMeterLine(
        CMeterDoc::MeterLine(FuzzEnv::Bytes(data + 1, size - 1)), QStringLiteral("fuzz.qxm"));
    EchoForm form;
    doc.VarsToForm(form);
    doc.FormToVars(form);
    doc.UnitsChanged(form, int(pick >> 3) % 40);
    const QString collected = doc.ImageToText();
    doc.ImageFromText(collected);
    if (doc.ImageToText() != collected)
        std::abort(); // image text read back gives the same image
    doc.ConvertTo(QString::fromLatin1(kSections[(pick >> 3) % 8]));
    (void)doc.ImageToSendText();
    return 0;
}
