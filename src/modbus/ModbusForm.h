#pragma once

#include "modbus/ModbusPanelRules.h"
#include "modbus/SweepRecorder.h"

#include <QString>

#include <array>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

// The Modbus window's widgets: the bar of controls (static and dynamic reads, Update and its
// period, Keep polling, the samples count, Trend and Record, the port's fields) above the eight
// meter panels, built once for the view that owns them. The view connects them and reads them.
class ModbusForm
{
public:
    static constexpr int kPanels = ModbusPanelRules::kPanels;
    using Field = ModbusPanelRules::Field;

    struct Panel
    {
        QGroupBox *box = nullptr;
        std::array<QLineEdit *, ModbusPanelRules::FieldCount> fields {};
        QString remembered;
        QLabel *failure = nullptr;
    };

    // Builds the controls and the panels, parented to owner; the content to scroll.
    QWidget *Build(QWidget *owner);
    // The texts of a window just opened: dashes, panel 1 at address 1, the others left out.
    void Reset();
    void ClearFailures();
    // A panel's data fields back to dashes (its address changed).
    void ClearDataFields(int panel);
    // Null (or empty) for a panel or field that does not exist.
    QLineEdit *FieldEdit(int panel, Field field) const;
    QString FieldText(int panel, Field field) const;
    QGroupBox *PanelBox(int panel) const;
    QString FailureText(int panel) const;
    QString PortFieldText(int which) const; // 0 port, 1 baud, 2 parity
    // The meters a recording covers: the panels with an address, their units as read.
    std::vector<SweepRecorder::Meter> RecordedMeters() const;

    std::array<Panel, kPanels + 1> panels; // index 0 unused
    QLineEdit *period = nullptr;
    QLineEdit *samples = nullptr;
    QLineEdit *portField = nullptr;
    QLineEdit *baudField = nullptr;
    QLineEdit *parityField = nullptr;
    QPushButton *dynamicButton = nullptr;
    QPushButton *staticButton = nullptr;
    QCheckBox *update = nullptr;
    QCheckBox *keepPolling = nullptr;
    QPushButton *trendButton = nullptr;
    QPushButton *recordButton = nullptr;

private:
    QWidget *BuildControls(QWidget *owner);
    QGroupBox *BuildPanel(QWidget *owner, int number);
};
