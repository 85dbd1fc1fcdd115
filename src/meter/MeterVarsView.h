#pragma once

#include "app/CView.h"
#include "meter/IFieldAccess.h"

#include <QMap>
#include <QStringList>

class CMeterDoc;
class QLabel;
class QTableWidget;

// Stand-in view of a Kelvane meter document until the meter form exists: lists the layout in
// force and every variable with its offset, size, bytes and the text the form shows for it, and
// serves File > Convert.... Takes the form's texts through the field interface.
class MeterVarsView : public CView, public IFieldAccess
{
    Q_OBJECT
public:
    explicit MeterVarsView(CMeterDoc *document, QWidget *parent = nullptr);

    void OnInitialUpdate() override { Refresh(); }
    bool HandlesCommand(AppCommand command) const override;
    bool OnCommand(AppCommand command) override;
    void Refresh();
    void SetField(int id, const QString &text) override;
    QString GetField(int id) override { return m_fields.value(id); }
    // The target of a conversion: the firmware version chosen in the settings.
    static QString ConvertTarget();

private:
    CMeterDoc *Document() const;
    QString ShownText(const QString &name) const;
    void Convert();

    QLabel *m_layout = nullptr;
    QTableWidget *m_table = nullptr;
    QMap<int, QString> m_fields;
    QMap<int, QStringList> m_lists;
    QStringList m_units;
    QStringList m_alarms;
};
