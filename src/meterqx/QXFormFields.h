#pragma once

#include "base/IShownFields.h"
#include "lists/IFieldAccess.h"
#include "meter/FieldCaptions.h"
#include "meterqx/QXFieldIds.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class QDateTime;

// The Quixal form's values as its members hold them, with the rules of SetField and GetField by
// field id: the lists (units, output, polarity, two relay functions) as lines and a selection,
// the boxes, the primary coefficient list with its walk, the image text, the edit texts and the
// labels. ZarnQXFormView moves its controls into these members before it answers GetField and
// shows them again after SetField; the variable transfers, command lists and tests use it
// without any window; the datasheet reads them as it reads the form's controls (IShownFields).
class QXFormFields : public IFieldAccess, public IShownFields
{
public:
    // The choice lists, the boxes ("TRUE"/"FALSE") and the edits and labels whose text SetField
    // sets and GetField gives as it stands, by the kinds of their rules (QXFieldRules).
    static const std::vector<int> &ListIds();
    static const std::vector<int> &BoxIds();
    static const std::vector<int> &TextIds();
    // Every field the form shows a value in, with its caption, in the form's reading order.
    using Caption = FieldCaptions::Caption;
    static const std::vector<Caption> &Captions();
    // Caption and id lookups (FieldCaptions::IdOf, CaptionOf).
    static const FieldCaptions &Table();
    static bool IsList(int id);
    static bool IsBox(int id);
    static bool IsText(int id);

    QXFormFields();

    // The "Template" label the clock shows for the version in force: "3.9G", "4.0x", "?.??" and
    // "1.4A" as they are; ">= 4.1A" shows "1.4A" and docVersion becomes "1.4A". Empty (the label
    // stays as it is) for any other version.
    static QString TemplateLabel(QString &docVersion);

    // The firmware version label until a meter of this series is identified: "?" for none
    // (empty or "?.??"), else what a read or file put there.
    static QString VersionLabelShown(const QString &label);

    // Fills the lists from the list files in the current directory, first line selected; a
    // missing file leaves its list empty. Relay lists only when `relays` (a read reloads the
    // units, output and polarity lists).
    void LoadLists(bool relays = true);

    void SetField(int id, const QString &text) override;
    QString GetField(int id) override;

    // Runs when SetField gives a new firmware version (MeterVersion): the document rebuilds its
    // table for it.
    void SetVersionHandler(std::function<void(const QString &)> handler)
    {
        m_onVersion = std::move(handler);
    }

    // What the form's clock shows with no Quixal meter identified: the date and time of now
    // (month first, 12 hours, as a form opens) and the version and revision labels.
    void ShowClock(const QDateTime &now);
    QString ShownText(int id) override { return IsList(id) ? SelectedLine(id) : m_text.value(id); }
    bool ShownTicked(int id) override { return Box(id); }
    int ShownPosition(int) override { return 0; }
    // The primary coefficients: the form has no other list.
    QStringList ShownItems(int id) override
    {
        return id == QXFieldId::PrimaryList ? m_coefficients : QStringList();
    }

    // Members, as the form's controls show them.
    QStringList &Lines(int listId) { return m_lines[listId]; }
    int Selected(int listId) const { return m_selected.value(listId, -1); }
    void Select(int listId, int index);
    QString Text(int id) const { return m_text.value(id); }
    // The selected line of a list as the form shows it (empty for none).
    QString ShownLine(int listId) const { return SelectedLine(listId); }
    void SetText(int id, const QString &text) { m_text[id] = text; }
    bool Box(int id) const { return m_box.value(id, false); }
    void SetBox(int id, bool on) { m_box[id] = on; }
    QStringList &Coefficients() { return m_coefficients; }
    const QString &ImageText() const { return m_imageText; }
    void SetImageText(const QString &text) { m_imageText = text; }
    QString OutputCode() const { return m_outputCode; }
    QString PolarityCode() const { return m_polarityCode; }
    int Cursor() const { return m_cursor; }

private:
    // The first line of a list that begins with text, case-insensitive; an empty text names
    // no line.
    int FindPrefix(int listId, const QString &text) const;
    int FindRelay(int listId, const QString &code) const;
    QString SelectedLine(int listId) const;

    QHash<int, QStringList> m_lines;
    QHash<int, int> m_selected;
    QHash<int, QString> m_text;
    QHash<int, bool> m_box;
    QStringList m_coefficients;
    int m_cursor = 0;
    QString m_imageText;
    QString m_outputCode;
    QString m_polarityCode;
    std::function<void(const QString &)> m_onVersion;
};
