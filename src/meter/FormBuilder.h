#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <initializer_list>

class FormFieldBinder;
class QGridLayout;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QTreeWidget;
class QWidget;

// Builds the controls and groups of a meter form's page, so both forms look alike: edits
// registered by field id, edits with arrows, titled groups with their grids, captions, the
// "Version" group, the maker's name, the page of two columns and the coefficient lists.
class FormBuilder
{
public:
    // Controls go onto page and into binder; stepped runs after an edit's arrows changed its
    // number (with the arrows' id), as leaving the edit would.
    FormBuilder(QWidget *page, FormFieldBinder &binder, std::function<void(int id)> stepped);

    QLineEdit *MakeEdit(int id, int width = 0);
    // A list box registered under id, as wide as its longest entry whatever the entries are
    // (they come from the data files and change with the meter's version).
    QComboBox *MakeChoice(int id, QWidget *parent = nullptr);
    // An edit with arrows that step its number within low..high.
    QWidget *MakeSpinEdit(int editId, int spinId, int low, int high);
    QGroupBox *Group(const QString &title, QWidget *parent = nullptr);
    static QGridLayout *GridIn(QGroupBox *box);
    static QLabel *Caption(const QString &text, QWidget *parent);
    // The form's page: a top row of two widgets (the second stretching) over a left column,
    // and a right column; the columns share the width leftStretch : rightStretch.
    void LayOutColumns(QWidget *topLeft, QWidget *topRight, std::initializer_list<QWidget *> left,
        std::initializer_list<QWidget *> right, int leftStretch, int rightStretch);
    // The "Version" group: from row firstRow, the meter's version label (MeterVersion, wide
    // enough for widest) after meterCaption with "r" and the revision label (Revision), then the
    // "Template" label (TemplateVersion). The grid is the group's layout, for rows of the form's
    // own.
    QGroupBox *MakeVersionGroup(const QString &meterCaption, const QString &widest, int firstRow,
        QLabel *&meter, QLabel *&revision, QLabel *&templateLabel);
    // The maker's name as the forms show it.
    static QLabel *MakeLogo(QWidget *parent, const QString &color);
    // A coefficient list of two columns (label, value).
    QTreeWidget *MakeCoefficientList(QWidget *parent, int listId, const QStringList &headers);

private:
    QWidget *m_page;
    FormFieldBinder &m_binder;
    std::function<void(int)> m_stepped;
};
