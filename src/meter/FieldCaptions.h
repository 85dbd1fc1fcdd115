#pragma once

#include <QString>

#include <initializer_list>
#include <vector>

// A meter form's caption table: every field the form shows a value in, with its caption, in the
// form's reading order, looked up by caption (case-insensitive) or by the id's text. Both forms
// put the flow parameters in the same place under the same captions, so their tables share them.
// KelvaneFormFields and QXFormFields hold one each; the forms caption their controls and
// tarvik-cli names fields by them.
class FieldCaptions
{
public:
    struct Caption
    {
        int id;
        const char *caption;
    };

    // before, then the flow parameters (Engineering Units, Full Scale, C Factor, X-Sect,
    // Max Range, Zero Cutoff %, Zero Offset), then after.
    FieldCaptions(std::initializer_list<Caption> before, std::initializer_list<Caption> after);

    const std::vector<Caption> &All() const { return m_captions; }
    // The id whose caption or id text is text; 0 when none.
    int IdOf(const QString &text) const;
    // The caption of id; empty when the form shows no such field.
    QString CaptionOf(int id) const;

private:
    std::vector<Caption> m_captions;
};
