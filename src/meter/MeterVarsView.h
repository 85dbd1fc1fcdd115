#pragma once

#include "app/CView.h"

class CMeterDoc;
class QLabel;
class QTableWidget;

// Stand-in view of a Kelvane meter document until the meter form exists: lists the layout in
// force and every variable with its offset, size and bytes, and serves File > Convert....
class MeterVarsView : public CView
{
    Q_OBJECT
public:
    explicit MeterVarsView(CMeterDoc *document, QWidget *parent = nullptr);

    void OnInitialUpdate() override { Refresh(); }
    bool HandlesCommand(AppCommand command) const override;
    bool OnCommand(AppCommand command) override;
    void Refresh();
    // The target of a conversion: the firmware version chosen in the settings.
    static QString ConvertTarget();

private:
    CMeterDoc *Document() const;
    void Convert();

    QLabel *m_layout = nullptr;
    QTableWidget *m_table = nullptr;
};
