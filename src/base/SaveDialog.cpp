#include "base/SaveDialog.h"

#include "base/SaveFileName.h"
#include "base/UserMessage.h"

#include <QFileDialog>

namespace {
SaveDialog::Prompt &SaveDialogPrompt()
{
    static SaveDialog::Prompt prompt;
    return prompt;
}

// The extensions with the one the filter names first.
QStringList ExtensionsFirstFor(const QString &filter, QStringList extensions)
{
    for (qsizetype i = 0; i < extensions.size(); ++i) {
        if (filter.contains(QLatin1Char('*') + extensions.at(i))) {
            extensions.move(i, 0);
            break;
        }
    }
    return extensions;
}

QString DefaultSuffixOf(const QStringList &extensions)
{
    return extensions.isEmpty() ? QString() : extensions.constFirst().mid(1);
}
} // namespace

SaveDialog::Prompt SaveDialog::SetPrompt(Prompt prompt)
{
    Prompt old = SaveDialogPrompt();
    SaveDialogPrompt() = std::move(prompt);
    return old;
}

QString SaveDialog::Ask(QWidget *parent, const Request &request, const Prompt &prompt)
{
    const Prompt &hook = prompt ? prompt : SaveDialogPrompt();
    QString proposed = request.proposed;
    for (;;) {
        QString typed;
        QStringList extensions = request.extensions;
        if (hook) {
            typed = hook(parent, proposed);
            if (request.chosenFilter)
                *request.chosenFilter = request.filters.value(0);
        } else {
            QFileDialog dialog(parent, request.caption, proposed);
            dialog.setAcceptMode(QFileDialog::AcceptSave);
            // The question comes below, once the name is complete.
            dialog.setOption(QFileDialog::DontConfirmOverwrite);
            dialog.setNameFilters(request.filters);
            dialog.setDefaultSuffix(DefaultSuffixOf(extensions));
            QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                [&dialog, &request](const QString &filter) {
                    dialog.setDefaultSuffix(
                        DefaultSuffixOf(ExtensionsFirstFor(filter, request.extensions)));
                });
            if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
                return QString();
            typed = dialog.selectedFiles().constFirst();
            extensions = ExtensionsFirstFor(dialog.selectedNameFilter(), extensions);
            if (request.chosenFilter)
                *request.chosenFilter = dialog.selectedNameFilter();
        }
        if (typed.isEmpty())
            return QString();
        const SaveFileName name(typed, extensions);
        const SaveFileName::State state = name.Check();
        QString refusal = name.RefusalText(state);
        if (refusal.isEmpty() && request.refuse)
            refusal = request.refuse(name.Path());
        bool taken = refusal.isEmpty();
        if (!taken) {
            if (request.tell)
                request.tell(refusal);
            else
                UserMessage::Show(refusal, request.caption);
        } else if (state == SaveFileName::State::Exists) {
            taken = UserMessage::Ask(request.replaceQuestion.isEmpty()
                    ? name.ReplaceText()
                    : request.replaceQuestion.arg(name.Path()),
                request.caption);
        }
        if (taken)
            return name.Path();
        // A prompt would give the same name again: the command ends. The dialog comes back.
        if (hook)
            return QString();
        if (!name.Path().isEmpty())
            proposed = name.Path();
    }
}
