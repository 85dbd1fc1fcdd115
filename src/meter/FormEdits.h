#pragma once

#include "meter/NumberFieldRules.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <functional>
#include <vector>

class CDocument;
class FormFieldBinder;
class MeterVars;

// What a meter form's typing does to its document: the number fields typed into are checked
// when they are left (a refused text gives way to the one the field held before the typing),
// the texts' length limits before Save and Send, and the modified marker follows the typed
// fields' texts, so that Undo back to the saved text takes it away again. Anything other than
// typing (a list, a choice, a conversion) marks the document for good until it is saved.
class FormEdits
{
public:
    // document gives the form's document (null for none).
    FormEdits(FormFieldBinder &binder, std::function<CDocument *()> document);

    void SetNumberFields(const std::vector<NumberFieldRules::Field> &fields)
    {
        m_numberFields = &fields;
    }
    // The user changed something: the document has unsaved edits.
    void MarkEdited();
    // The document's modified marker changed: saved (or put back to its saved text), the
    // fields' texts are the saved ones.
    void DocumentModified(bool modified);
    // The fields' texts, while the document has no unsaved edits, are the saved ones.
    void NoteSavedText();
    // The user typed into the edit field id; react is the form's own reaction.
    void Typed(int id, const std::function<void()> &react);
    // The field id got the focus.
    void Focused(int id);
    // The field id was left: a number typed into it is checked against the rules of vars; false
    // when it was refused (said, and the previous text back).
    bool CheckNumberField(int id, const MeterVars *vars);
    // Checks every number field typed into and not yet left, and the texts' length limits;
    // false when one was refused.
    bool CheckTypedNumbers(const MeterVars *vars);

private:
    bool CheckTextLengths();
    void FollowSavedText();
    void FollowTyping(const std::function<void()> &react);

    FormFieldBinder &m_binder;
    std::function<CDocument *()> m_document;
    const std::vector<NumberFieldRules::Field> *m_numberFields = nullptr;
    // The field with the focus and its text when it got it; the number fields typed into, with
    // the text each held before the typing.
    int m_focusId = 0;
    QString m_focusText;
    QHash<int, QString> m_textBeforeTyping;
    // The fields' texts when the document was last saved, the fields typed into since, and
    // whether anything other than typing changed it since.
    QHash<int, QString> m_savedText;
    QSet<int> m_typedSince;
    bool m_savedTextKnown = false;
    bool m_editedBeyondText = false;
    bool m_typing = false;
};
