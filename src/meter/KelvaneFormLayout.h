#pragma once

#include <QStringList>

#include <array>

class FormBuilder;
class FormFieldBinder;
class KelvaneFormFields;
class QCheckBox;
class QComboBox;
class QGridLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QTreeWidget;
class QWidget;

// The Kelvane form's page: builds its groups and controls in the order of the focus chain, lays
// them out in two columns and registers each control by field id. The form connects them.
class KelvaneFormLayout
{
public:
    // The controls the form reaches by name.
    struct Controls
    {
        QLabel *m_flowMeterVersion = nullptr;
        QLabel *m_templateVersion = nullptr;
        QLabel *m_revision = nullptr;
        QLineEdit *m_active = nullptr;
        QComboBox *m_desired = nullptr;
        QLineEdit *m_hiddenDesired = nullptr;
        QPushButton *m_readButton = nullptr;
        QPushButton *m_sendButton = nullptr;
        QPushButton *m_changeButton = nullptr;
        std::array<QComboBox *, 4> m_alarmFunction {};
        QCheckBox *m_holdFlow1 = nullptr;
        QCheckBox *m_holdFlow2 = nullptr;
        QComboBox *m_units = nullptr;
        QComboBox *m_curveFit = nullptr;
        // The coefficient lists, their edit boxes and labels: Primary, Secondary, Point-Wise.
        std::array<QTreeWidget *, 3> m_lists {};
        std::array<QLineEdit *, 3> m_listEdits {};
        std::array<QLabel *, 3> m_listLabels {};
        QPushButton *m_curveButton = nullptr;
        QPushButton *m_linearButton = nullptr;
        QSlider *m_contrast = nullptr;
        QSlider *m_refresh = nullptr;
        QCheckBox *m_tracking = nullptr;
        QCheckBox *m_protocol = nullptr;
        QCheckBox *m_calBox = nullptr;
        QPushButton *m_dateButton = nullptr;
        QPushButton *m_timeButton = nullptr;
    };

    KelvaneFormLayout(
        QWidget *form, FormBuilder &builder, FormFieldBinder &binder, Controls &controls);
    void Build();
    // Binds the controls' fields to the field model: GetField moves the field's control into it
    // first, SetField shows the field again after its rule has run. The sliders' moved flags
    // are the form's.
    static void Bind(FormFieldBinder &binder, KelvaneFormFields &fields, bool &contrastMoved,
        bool &refreshMoved);
    // Fills the units list from the units file of a version family, and the four alarm
    // function lists, from the field model (which reads the files), its selection shown.
    static void FillUnits(Controls &controls, KelvaneFormFields &fields, const QString &family);
    static void FillAlarms(Controls &controls, KelvaneFormFields &fields);

private:
    static QString CaptionOf(int id);
    static QLabel *Caption(const QString &text, QWidget *parent);
    static QGridLayout *GridIn(QGroupBox *box);
    QWidget *BuildVersionGroup();
    QWidget *BuildRangeGroup();
    QWidget *BuildAdcDacGroups();
    QWidget *BuildAlarmGroup();
    QWidget *BuildParameterGroup();
    QWidget *BuildCurveFitGroup();
    QWidget *BuildLcdGroup();
    QWidget *BuildOptionsGroup();
    QWidget *BuildMiscGroup();
    // A coefficient list (its list, edit and label field ids) at index of the lists.
    void MakeList(QWidget *parent, int index, int listId, int editId, int labelId,
        const QStringList &headers);

    QWidget *m_form;
    FormBuilder &m_build;
    FormFieldBinder &m_binder;
    Controls &m_c;
};
