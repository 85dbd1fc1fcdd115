#pragma once

class FormBuilder;
class FormFieldBinder;
class QXFormFields;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QString;
class QTreeWidget;
class QWidget;

// The Quixal form's page: builds its groups and controls in the order of the focus chain, lays
// them out in two columns and registers each control by field id. The form connects them.
class QuixalFormLayout
{
public:
    // The controls the form reaches by name.
    struct Controls
    {
        QLabel *m_meterVersion = nullptr;
        QLabel *m_revision = nullptr;
        QLabel *m_template = nullptr;
        QTreeWidget *m_coefficients = nullptr;
        QLineEdit *m_coeffEdit = nullptr;
        QLabel *m_coeffLabel = nullptr;
        QCheckBox *m_calBox = nullptr;
        QPushButton *m_curve = nullptr;
        QPushButton *m_linear = nullptr;
        QPushButton *m_readButton = nullptr;
        QPushButton *m_sendButton = nullptr;
        QPushButton *m_date = nullptr;
        QPushButton *m_time = nullptr;
    };

    QuixalFormLayout(
        QWidget *form, FormBuilder &builder, FormFieldBinder &binder, Controls &controls);
    void Build();
    // Binds the controls' fields to the form's members (the field model): GetField moves the
    // field's control into it first, SetField shows it again.
    static void Bind(FormFieldBinder &binder, QXFormFields &fields);
    // The length limit of a field that has one (Serial Number 8, the version label 10), else 0.
    static int LengthLimit(int id);

private:
    QWidget *BuildTopLeft();
    QWidget *BuildVersionGroup();
    QWidget *BuildFrequencyGroup();
    QWidget *BuildOptionsGroup();
    QWidget *BuildResponseGroup();
    QWidget *BuildFlowGroup();
    QWidget *BuildMiscGroup();
    QWidget *BuildRelayGroup();
    QComboBox *MakeList(int id);
    QCheckBox *MakeBox(int id, const QString &caption);

    QWidget *m_form;
    FormBuilder &m_build;
    FormFieldBinder &m_binder;
    Controls &m_c;
};
