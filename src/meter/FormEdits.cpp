#include "meter/FormEdits.h"

#include "base/AppTitle.h"
#include "base/CDocument.h"
#include "base/UserMessage.h"
#include "meter/FormFieldBinder.h"

#include <QLineEdit>

FormEdits::FormEdits(FormFieldBinder &binder, std::function<CDocument *()> document)
    : m_binder(binder)
    , m_document(std::move(document))
{
}

void FormEdits::MarkEdited()
{
    if (!m_typing)
        m_editedBeyondText = true;
    if (CDocument *doc = m_document())
        doc->SetModifiedFlag(true);
}

void FormEdits::DocumentModified(bool modified)
{
    if (!modified)
        NoteSavedText();
    else if (!m_typing)
        m_editedBeyondText = true; // Undo no longer brings the saved state back
}

void FormEdits::NoteSavedText()
{
    const CDocument *doc = m_document();
    m_savedText.clear();
    m_typedSince.clear();
    m_editedBeyondText = false;
    m_savedTextKnown = doc && !doc->IsModified();
    if (!m_savedTextKnown)
        return;
    const auto &controls = m_binder.Controls();
    for (auto it = controls.cbegin(); it != controls.cend(); ++it) {
        if (const auto *edit = qobject_cast<const QLineEdit *>(it.value()))
            m_savedText.insert(it.key(), edit->text());
    }
}

void FormEdits::FollowSavedText()
{
    CDocument *doc = m_document();
    if (!doc || !m_savedTextKnown || m_editedBeyondText)
        return;
    // Only the fields typed into count: the clock's fields change every second on their own.
    bool saved = true;
    for (const int id : std::as_const(m_typedSince)) {
        const QLineEdit *edit = m_binder.EditOf(id);
        if (edit && edit->text() != m_savedText.value(id))
            saved = false;
    }
    doc->SetModifiedFlag(!saved);
}

void FormEdits::FollowTyping(const std::function<void()> &react)
{
    // Typing (Undo and Redo included) marks the document only while the typed fields differ
    // from their saved text.
    m_typing = true;
    react();
    FollowSavedText();
    m_typing = false;
}

void FormEdits::Typed(int id, const std::function<void()> &react)
{
    if (!m_textBeforeTyping.contains(id))
        m_textBeforeTyping.insert(id, id == m_focusId ? m_focusText : QString());
    m_typedSince.insert(id);
    FollowTyping(react);
}

void FormEdits::Focused(int id)
{
    m_focusId = id;
    if (const QLineEdit *edit = m_binder.EditOf(id))
        m_focusText = edit->text();
}

bool FormEdits::CheckNumberField(int id, const MeterVars *vars)
{
    const auto typed = m_textBeforeTyping.constFind(id);
    if (typed == m_textBeforeTyping.cend())
        return true;
    const QString before = typed.value();
    m_textBeforeTyping.remove(id);
    const NumberFieldRules::Field *field
        = m_numberFields ? NumberFieldRules::Find(*m_numberFields, id) : nullptr;
    QLineEdit *edit = m_binder.EditOf(id);
    if (!field || !edit)
        return true;
    const QString refusal = NumberFieldRules::Refusal(*field, edit->text(), vars);
    if (refusal.isEmpty())
        return true;
    // The text goes back before the message, so nothing (a list's tick, a repaint) sees it.
    edit->setText(before);
    if (id == m_focusId)
        m_focusText = before;
    FollowTyping([] {});
    UserMessage::Show(refusal, QString::fromLatin1(kAppTitle));
    return false;
}

bool FormEdits::CheckTypedNumbers(const MeterVars *vars)
{
    bool accepted = true;
    const QList<int> typed = m_textBeforeTyping.keys();
    for (int id : typed)
        accepted = CheckNumberField(id, vars) && accepted;
    return accepted && CheckTextLengths();
}

bool FormEdits::CheckTextLengths()
{
    // Collecting leaves such a text out without a word (a list may be collecting): the
    // commands the user starts say it.
    const int id = m_binder.OverLimit();
    if (id == 0)
        return true;
    UserMessage::Show(
        QStringLiteral("Enter no more than %1 characters.").arg(m_binder.MaxLength(id)),
        QString::fromLatin1(kAppTitle));
    if (QLineEdit *edit = m_binder.EditOf(id)) {
        edit->setFocus();
        edit->selectAll();
    }
    return false;
}
