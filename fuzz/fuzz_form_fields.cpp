// The Kelvane form's fields filled as a command list fills them from meter replies: each input
// line is one SetField, its first byte picking the field id, the rest its text. Then every field
// is read back. An input ending in a line end is also collected into a meter image and shown
// again, as saving or sending collects a form after a list filled it; the others stop at the
// fields, so most inputs exercise the field logic at a thousand and more a second. One form
// serves the whole run; its coefficient lists are emptied before each input.
#include "FuzzEnv.h"

#include "base/CDocument.h"
#include "meter/KelvaneFields.h"
#include "meter/MeterVars.h"
#include "meter/ZarnFormRules.h"
#include "meter/ZarnFormView.h"

#include <QApplication>

#include <memory>

namespace {

struct Form
{
    std::unique_ptr<QApplication> app;
    std::unique_ptr<CDocument> document;
    std::unique_ptr<ZarnFormView> view;
};

Form *MakeForm()
{
    static int argc = 1;
    static char name[] = "fuzz_form_fields";
    static char *argv[] = { name, nullptr };
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    auto *form = new Form;
    form->app = std::make_unique<QApplication>(argc, argv);
    form->document = std::make_unique<CDocument>();
    form->document->SetTitle(QStringLiteral("41A_Template.mtr"));
    form->view = std::make_unique<ZarnFormView>(form->document.get());
    form->view->OnInitialUpdate();
    return form;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzEnv::Init();
    static Form *form = MakeForm();
    ZarnFormView &view = *form->view;
    // The coefficient lists start empty for every input, so they do not grow over the run.
    for (const int clear : { 1052, 1063, 1064 })
        view.SetField(clear, QString());
    const int span = ZarnFormRules::kLastId - ZarnFormRules::kFirstId + 1;
    const QList<QByteArray> lines = FuzzEnv::Split(FuzzEnv::Bytes(data, size), '\n', 256);
    for (const QByteArray &line : lines) {
        if (line.isEmpty())
            continue;
        const int id = ZarnFormRules::kFirstId + static_cast<unsigned char>(line.at(0)) % span;
        view.SetField(id, QString::fromLatin1(line.mid(1)));
    }
    for (int id = ZarnFormRules::kFirstId; id <= ZarnFormRules::kLastId; ++id)
        (void)view.GetField(id);
    if (size == 0 || data[size - 1] != '\n')
        return 0;
    MeterVars vars(QStringLiteral("[4.1A]"), QStringLiteral("vars20.dat"));
    const KelvaneFields::Rules rules { QStringLiteral(">= 4.1A"), QString(), QString() };
    KelvaneFields::FormToVars(vars, view, rules);
    KelvaneFields::VarsToForm(vars, view, rules);
    return 0;
}
