// A Kelvane meter file as opening it reads it: the layout found for the line (or the unknown
// one), the image decoded, every variable shown in a form and collected back, the image written
// as text again and converted to another layout. The first byte picks the firmware version in
// force and the target layout; the rest is the file's line.
#include "FuzzEnv.h"

#include "lists/IFieldAccess.h"
#include "meter/CMeterDoc.h"
#include "meter/KelvaneFields.h"
#include "meter/MeterVars.h"

#include <QMap>

#include <cstdlib>
#include <memory>

namespace {

// Keeps what it is given, as a form whose fields the user never touches.
class EchoForm : public IFieldAccess
{
public:
    void SetField(int id, const QString &text) override { m_fields[id] = text; }
    QString GetField(int id) override { return m_fields.value(id); }

private:
    QMap<int, QString> m_fields;
};

const char *const kVersions[] = { "", "3.9E", "3.9G", "4.0x", "4.1A", ">= 4.1A", "?.??", "1.4A" };
const char *const kSections[] = { "[3.9E]", "[3.9G]", "[4.0A]", "[4.1A]", "[?.??]", "[9.9Z]" };

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzEnv::Init();
    if (size < 1)
        return 0;
    const unsigned pick = data[0];
    CMeterDoc doc;
    QString &version = doc.Context().version;
    version = QString::fromLatin1(kVersions[pick % 8]);
    const QString line = QString::fromLatin1(FuzzEnv::Bytes(data + 1, size - 1));

    std::unique_ptr<MeterVars> table;
    if (MeterVars::DetectSection(line, &version, &table).isEmpty())
        table = std::make_unique<MeterVars>(QStringLiteral("[?.??]"), &version);
    table->ImageFromText(line);
    (void)table->KeyText(line);
    const QString text = table->ImageToText();
    if (text.size() != 3 * table->ImageBytes())
        std::abort(); // two digits and a separator per byte of the layout

    doc.SetVars(std::move(table));
    EchoForm form;
    doc.VarsToForm(form);
    doc.FormToVars(form);
    doc.UnitsChanged(form, int(pick >> 3) % 40);
    // Collecting a form nobody edited and reading it back must give the same image text.
    const QString collected = doc.ImageToText();
    doc.ImageFromText(collected);
    if (doc.ImageToText() != collected)
        std::abort();
    doc.ConvertTo(QString::fromLatin1(kSections[(pick >> 3) % 6]));
    (void)doc.ImageToSendText();
    return 0;
}
