#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

// The save dialog of every file the program writes for the user. The typed name is completed
// (SaveFileName) before the question about an existing file, so a name without its extension
// is asked about as well; a name that cannot be written is refused with a message, and the
// dialog comes back for another. A test prompt (the call site's, or the one set here) stands in
// for the dialog: what it gives is completed, checked and asked about the same way, and a
// refusal or a No then ends the command.
class SaveDialog
{
public:
    // Gives the typed name, proposing one; empty when cancelled.
    using Prompt = std::function<QString(QWidget *parent, const QString &proposed)>;

    struct Request
    {
        QString caption; // the dialog's title, and its messages'
        QString proposed;
        QStringList filters; // the dialog's name filters
        QStringList extensions; // with dots; a name without one gets the chosen filter's
        // The question before an existing file is taken, %1 its path; empty: replace it?
        QString replaceQuestion;
        // Why a completed path is refused besides SaveFileName's checks, or empty.
        std::function<QString(const QString &path)> refuse;
        // Shows a refusal; empty: UserMessage::Show under the caption.
        std::function<void(const QString &text)> tell;
        // When set, given the filter chosen (the first one when a prompt answers).
        QString *chosenFilter = nullptr;
    };

    // The path to write, or empty when cancelled or refused. prompt replaces the dialog when
    // set; else the one SetPrompt installed does.
    static QString Ask(QWidget *parent, const Request &request, const Prompt &prompt = {});
    // The prompt of the call sites without one of their own; gives the one it replaces.
    static Prompt SetPrompt(Prompt prompt);
};
