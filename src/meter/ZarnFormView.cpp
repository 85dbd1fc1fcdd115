#include "meter/ZarnFormView.h"

#include "base/AppServices.h"
#include "base/CChildFrame.h"
#include "base/CDocument.h"
#include "base/CPrefs.h"
#include "base/ControlText.h"
#include "base/FieldWidth.h"
#include "base/Globals.h"
#include "base/PrintfText.h"
#include "base/SheetPrinter.h"
#include "base/UserMessage.h"
#include "graphs/CPolyCurve.h"
#include "graphs/CPolyLine.h"
#include "lists/CQueView.h"
#include "meter/CConvertDlg.h"
#include "meter/CMeterDoc.h"
#include "meter/FieldIds.h"
#include "meter/KelvaneSeriesModel.h"
#include "meter/KelvaneSheet.h"
#include "meter/KelvaneSheetReader.h"
#include "meter/MeterSeries.h"
#include "meter/MeterVars.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMdiSubWindow>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTimerEvent>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

using CoeffList = ZarnFormRules::CoeffList;
using Rules = KelvaneFormFields;

namespace {
constexpr const char *kListFiles[] = { KelvaneSeriesModel::kSendList, KelvaneSeriesModel::kReadList,
    KelvaneSeriesModel::kSelectList };

const char *const kNotSupportedCaption = "               Field Not Supported";
const char *const kNotSupportedText = "This Field Is Not Supported For Selected Version ";

// The form whose range-change list has ended and whose next clock tick finishes the change.
QPointer<ZarnFormView> &ChangingForm()
{
    static QPointer<ZarnFormView> form;
    return form;
}
} // namespace

ZarnFormView::ZarnFormView(CDocument *document, QWidget *parent)
    : ZarnFormBase(document, parent)
{
    BuildControls();
    SetNumberFields(NumberFieldRules::Kelvane());
    WatchAll();
    // A read's version and revision answers: shown at once, and the document keeps them.
    m_fields.SetVersionHandler([this](const QString &version) {
        m_flowMeterVersion->setText(version);
        SetReadIdentity(&version, nullptr);
        DocSetVersion(version);
    });
    m_fields.SetRevisionHandler([this](const QString &revision) {
        m_revision->setText(revision);
        SetReadIdentity(nullptr, &revision);
    });
    SetSheet(std::make_unique<SheetPrinter>(
        this,
        [this](const SheetMetrics &metrics) { return KelvaneSheet::Build(SheetFields(), metrics); },
        [this] { return GetDocument() ? GetDocument()->Title() : QString(); },
        [this] {
            const QString path = GetDocument() ? GetDocument()->PathName() : QString();
            return path.isEmpty() ? QString() : QFileInfo(path).absolutePath();
        }));
}
// ---------------------------------------------------------------------------------------------
// Building the controls

void ZarnFormView::BuildControls()
{
    // Build order decides the order of the groups' controls in the focus chain.
    QWidget *version = BuildVersionGroup();
    QWidget *range = BuildRangeGroup();
    QWidget *alarms = BuildAlarmGroup();
    QWidget *parameters = BuildParameterGroup();
    QWidget *adcDac = BuildAdcDacGroups();
    QWidget *lcd = BuildLcdGroup();
    QWidget *curveFit = BuildCurveFitGroup();
    QWidget *options = BuildOptionsGroup();
    QWidget *misc = BuildMiscGroup();
    LayOutColumns(
        version, range, { alarms, parameters, adcDac, lcd }, { curveFit, options, misc }, 1, 1);

    m_hiddenDesired = new QLineEdit(this);
    m_hiddenDesired->hide();
    Register(1020, m_hiddenDesired);
}

QWidget *ZarnFormView::BuildVersionGroup()
{
    QGroupBox *box = MakeVersionGroup(QStringLiteral("Flow Meter"), QStringLiteral("4.1A "), 0,
        m_flowMeterVersion, m_revision, m_templateVersion);
    static_cast<QGridLayout *>(box->layout())
        ->addWidget(MakeLogo(box, QStringLiteral("#1d4f91")), 2, 0, 1, 4);
    return box;
}

QWidget *ZarnFormView::BuildRangeGroup()
{
    auto *box = Group(QStringLiteral("Range"), this);
    auto *grid = GridIn(box);
    m_active = MakeEdit(1114, 26);
    FieldWidth::SetReadOnly(m_active, true);
    m_desired = new QComboBox(box);
    for (int i = 1; i <= 4; ++i)
        m_desired->addItem(QString::number(i));
    m_desired->setCurrentIndex(-1);
    Register(1115, m_desired);
    connect(m_desired, &QComboBox::activated, this, &ZarnFormView::OnDesiredPicked);
    m_readButton = new QPushButton(QStringLiteral("Read Active"), box);
    m_sendButton = new QPushButton(QStringLiteral("Send Active"), box);
    m_changeButton = new QPushButton(QStringLiteral("Change"), box);
    // Alt and a letter reach the range buttons, which stand some fifty Tabs into the form; the
    // captions stay as the form's fields and datasheets read them.
    m_readButton->setShortcut(QKeySequence(Qt::ALT | Qt::Key_R));
    m_sendButton->setShortcut(QKeySequence(Qt::ALT | Qt::Key_S));
    m_changeButton->setShortcut(QKeySequence(Qt::ALT | Qt::Key_C));
    for (QPushButton *b : { m_readButton, m_sendButton, m_changeButton })
        b->setToolTip(b->shortcut().toString(QKeySequence::NativeText));
    Register(1040, m_readButton);
    Register(1041, m_sendButton);
    Register(1046, m_changeButton);
    connect(m_readButton, &QPushButton::clicked, this, &ZarnFormView::OnReadActive);
    connect(m_sendButton, &QPushButton::clicked, this, &ZarnFormView::OnSendActive);
    connect(m_changeButton, &QPushButton::clicked, this, &ZarnFormView::OnChange);
    grid->addWidget(Caption(QStringLiteral("Active"), box), 0, 0);
    grid->addWidget(m_active, 0, 1);
    grid->addWidget(Caption(Rules::CaptionOf(1115), box), 0, 2);
    grid->addWidget(m_desired, 0, 3);
    grid->addWidget(m_readButton, 1, 0, 1, 2);
    grid->addWidget(m_sendButton, 1, 2, 1, 2);
    grid->addWidget(m_changeButton, 2, 0, 1, 2);
    grid->addWidget(Caption(QStringLiteral("Active to Desired"), box), 2, 2, 1, 2);
    return box;
}

QWidget *ZarnFormView::BuildAdcDacGroups()
{
    auto *holder = new QWidget(this);
    auto *row = new QHBoxLayout(holder);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);

    auto *adc = Group(QStringLiteral("Input ADC"), holder);
    auto *adcGrid = GridIn(adc);
    adcGrid->addWidget(Caption(QStringLiteral("Filter"), adc), 0, 0);
    adcGrid->addWidget(MakeSpinEdit(1027, 1028, 1, 200), 0, 1);

    auto *dac = Group(QStringLiteral("Output DAC"), holder);
    auto *dacGrid = GridIn(dac);
    dacGrid->addWidget(Caption(QStringLiteral("Filter"), dac), 0, 0);
    dacGrid->addWidget(MakeSpinEdit(1021, 1022, 1, 200), 0, 1);
    dacGrid->addWidget(Caption(QStringLiteral("Time"), dac), 0, 2);
    dacGrid->addWidget(MakeSpinEdit(1023, 1024, 1, 200), 0, 3);

    row->addWidget(adc);
    row->addWidget(dac, 1);
    return holder;
}

QWidget *ZarnFormView::BuildAlarmGroup()
{
    auto *box = Group(QStringLiteral("Alarm/Relay Settings"), this);
    auto *grid = GridIn(box);
    grid->addWidget(Caption(QStringLiteral("Function"), box), 0, 1);
    grid->addWidget(Caption(QStringLiteral("Value"), box), 0, 2);
    grid->addWidget(Caption(QStringLiteral("Trip Delay"), box), 0, 3);
    const char *const rows[] = { "Relay #1 OFF", "Relay #1 ON", "Relay #2 OFF", "Relay #2 ON" };
    for (int i = 0; i < 4; ++i) {
        grid->addWidget(Caption(QString::fromLatin1(rows[i]), box), i + 1, 0);
        auto *function = new QComboBox(box);
        function->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        function->setMinimumContentsLength(10);
        function->view()->setMinimumWidth(240);
        Register(1006 + i, function);
        connect(function, &QComboBox::activated, this, &ZarnFormView::MarkEdited);
        m_alarmFunction[i] = function;
        grid->addWidget(function, i + 1, 1);
        grid->addWidget(MakeEdit(1010 + i, 64), i + 1, 2);
        grid->addWidget(MakeEdit(1014 + i, 34), i + 1, 3);
    }
    m_holdFlow1 = new QCheckBox(Rules::CaptionOf(1033), box);
    m_holdFlow2 = new QCheckBox(Rules::CaptionOf(1034), box);
    Register(1033, m_holdFlow1);
    Register(1034, m_holdFlow2);
    for (QCheckBox *hold : { m_holdFlow1, m_holdFlow2 })
        connect(hold, &QCheckBox::clicked, this, &ZarnFormView::MarkEdited);
    auto *holdRow = new QHBoxLayout;
    holdRow->addWidget(m_holdFlow1);
    holdRow->addWidget(m_holdFlow2);
    holdRow->addStretch();
    grid->addLayout(holdRow, 5, 0, 1, 4);
    grid->setColumnStretch(1, 1);
    LoadAlarmLists();
    return box;
}

QWidget *ZarnFormView::BuildParameterGroup()
{
    auto *box = Group(QStringLiteral("Parameters"), this);
    auto *grid = GridIn(box);
    m_units = new QComboBox(box);
    m_units->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_units->setMinimumContentsLength(12);
    m_units->view()->setMinimumWidth(330);
    Register(1004, m_units);
    connect(m_units, &QComboBox::activated, this, &ZarnFormView::OnUnitsPicked);
    grid->addWidget(Caption(Rules::CaptionOf(1004), box), 0, 0);
    grid->addWidget(m_units, 0, 1, 1, 3);
    const int fields[] = { 1018, 1036, 1039, 1038, 1053, 1037, 1069, 1070 };
    for (int i = 0; i < 8; ++i) {
        const int row = 1 + i / 2;
        const int column = (i % 2) * 2;
        grid->addWidget(Caption(Rules::CaptionOf(fields[i]), box), row, column);
        grid->addWidget(MakeEdit(fields[i], 68), row, column + 1);
    }
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    LoadUnitsList(RulesInForce().family);
    return box;
}

QWidget *ZarnFormView::BuildCurveFitGroup()
{
    auto *box = Group(Rules::CaptionOf(1005), this);
    auto *outer = new QVBoxLayout(box);
    outer->setContentsMargins(5, 2, 5, 4);
    outer->setSpacing(3);
    m_curveFit = new QComboBox(box);
    for (int choice = 0; choice < 4; ++choice)
        m_curveFit->addItem(KelvaneFields::CurveFitText(choice));
    m_curveFit->setCurrentIndex(-1);
    Register(1005, m_curveFit);
    connect(m_curveFit, &QComboBox::activated, this, &ZarnFormView::OnCurveFitPicked);
    outer->addWidget(m_curveFit);

    auto makeList = [this](QWidget *parent, int listId, int editId, int labelId,
                        const QStringList &headers, QTreeWidget *&list, QLineEdit *&edit,
                        QLabel *&label, CoeffList kind) {
        list = MakeCoefficientList(parent, listId, headers);
        connect(list, &QTreeWidget::itemClicked, this, [this, list, kind](QTreeWidgetItem *item) {
            SelectItem(kind, list->indexOfTopLevelItem(item));
        });
        edit = MakeEdit(editId);
        label = new QLabel(QStringLiteral("="), parent);
        label->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("@100%=")) + 2);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        Register(labelId, label);
    };

    auto *coefficients = Group(QStringLiteral("Coefficients"), box);
    auto *coeffGrid = GridIn(coefficients);
    makeList(coefficients, 1047, 1051, 1052, { QString(), QStringLiteral("Primary") }, m_primary,
        m_primaryEdit, m_primaryLabel, CoeffList::Primary);
    makeList(coefficients, 1057, 1060, 1063, { QString(), QStringLiteral("Secondary") },
        m_secondary, m_secondaryEdit, m_secondaryLabel, CoeffList::Secondary);
    const int rowHeight = fontMetrics().height() + 2;
    for (QTreeWidget *list : { m_primary, m_secondary })
        list->setFixedHeight(rowHeight * 10 + list->header()->sizeHint().height() + 6);
    coeffGrid->addWidget(m_primary, 0, 0, 1, 2);
    coeffGrid->addWidget(m_secondary, 0, 2, 1, 2);
    coeffGrid->addWidget(m_primaryLabel, 1, 0);
    coeffGrid->addWidget(m_primaryEdit, 1, 1);
    coeffGrid->addWidget(m_secondaryLabel, 1, 2);
    coeffGrid->addWidget(m_secondaryEdit, 1, 3);
    outer->addWidget(coefficients);

    auto *lower = new QHBoxLayout;
    lower->setSpacing(4);
    auto *pointWise = Group(QStringLiteral("Point-Wise"), box);
    auto *pointGrid = GridIn(pointWise);
    makeList(pointWise, 1061, 1062, 1064,
        { QStringLiteral("% of Flow"), QStringLiteral("+ - % Correction") }, m_pointWise,
        m_pointWiseEdit, m_pointWiseLabel, CoeffList::PointWise);
    m_pointWise->setFixedHeight(rowHeight * 9 + m_pointWise->header()->sizeHint().height() + 6);
    pointGrid->addWidget(m_pointWise, 0, 0, 1, 2);
    pointGrid->addWidget(m_pointWiseLabel, 1, 0);
    pointGrid->addWidget(m_pointWiseEdit, 1, 1);
    lower->addWidget(pointWise, 1);

    auto *buttons = new QVBoxLayout;
    auto *curve = new QPushButton(QStringLiteral("Display Curve"), box);
    auto *linear = new QPushButton(QStringLiteral("Display Linear"), box);
    Register(1042, curve);
    Register(1050, linear);
    connect(curve, &QPushButton::clicked, this, &ZarnFormView::OnDisplayCurve);
    connect(linear, &QPushButton::clicked, this, &ZarnFormView::OnDisplayLinear);
    buttons->addStretch();
    buttons->addWidget(curve);
    buttons->addWidget(linear);
    buttons->addStretch();
    lower->addLayout(buttons);
    outer->addLayout(lower);
    return box;
}

QWidget *ZarnFormView::BuildLcdGroup()
{
    auto *box = Group(QStringLiteral("LCD Display"), this);
    auto *grid = GridIn(box);
    m_contrast = new QSlider(Qt::Horizontal, box);
    m_contrast->setRange(0, 255);
    m_contrast->setTickInterval(16);
    m_contrast->setTickPosition(QSlider::TicksBelow);
    m_contrast->setValue(128);
    m_refresh = new QSlider(Qt::Horizontal, box);
    m_refresh->setRange(1, 100);
    m_refresh->setTickInterval(10);
    m_refresh->setTickPosition(QSlider::TicksBelow);
    m_refresh->setValue(8);
    Register(1029, m_contrast);
    Register(1030, m_refresh);
    connect(m_contrast, &QAbstractSlider::actionTriggered, this, [this] {
        m_contrastMoved = true;
        MarkEdited();
    });
    connect(m_refresh, &QAbstractSlider::actionTriggered, this, [this] {
        m_refreshMoved = true;
        MarkEdited();
    });
    grid->addWidget(Caption(Rules::CaptionOf(1029), box), 0, 0);
    grid->addWidget(Caption(QStringLiteral("Light"), box), 0, 1);
    grid->addWidget(m_contrast, 0, 2);
    grid->addWidget(Caption(QStringLiteral("Dark"), box), 0, 3);
    grid->addWidget(Caption(Rules::CaptionOf(1030), box), 1, 0);
    grid->addWidget(Caption(QStringLiteral("Fast"), box), 1, 1);
    grid->addWidget(m_refresh, 1, 2);
    grid->addWidget(Caption(QStringLiteral("Slow"), box), 1, 3);
    grid->setColumnStretch(2, 1);
    return box;
}

QWidget *ZarnFormView::BuildOptionsGroup()
{
    auto *box = Group(QStringLiteral("Options"), this);
    auto *grid = GridIn(box);
    m_tracking = new QCheckBox(Rules::CaptionOf(1032), box);
    m_protocol = new QCheckBox(Rules::CaptionOf(1065), box);
    Register(1032, m_tracking);
    Register(1065, m_protocol);
    for (QCheckBox *check : { m_tracking, m_protocol })
        connect(check, &QCheckBox::clicked, this, &ZarnFormView::MarkEdited);
    grid->addWidget(m_tracking, 0, 0);
    grid->addWidget(m_protocol, 0, 1);
    grid->addWidget(Caption(Rules::CaptionOf(1035), box), 0, 2);
    grid->addWidget(MakeEdit(1035, 40), 0, 3);
    grid->setColumnStretch(4, 1);
    return box;
}

QWidget *ZarnFormView::BuildMiscGroup()
{
    auto *box = Group(QStringLiteral("Misc"), this);
    auto *grid = GridIn(box);
    m_calBox = new QCheckBox(box);
    Register(1055, m_calBox);
    connect(m_calBox, &QCheckBox::toggled, this, &ZarnFormView::SetCalibrationFollows);
    auto *dateButton = new QPushButton(QStringLiteral("Date"), box);
    auto *timeButton = new QPushButton(QStringLiteral("Time"), box);
    Register(1058, dateButton);
    Register(1059, timeButton);
    for (QPushButton *button : { dateButton, timeButton })
        button->setFixedHeight(20);
    connect(dateButton, &QPushButton::clicked, this, &ZarnFormView::ToggleDayFirst);
    connect(timeButton, &QPushButton::clicked, this, &ZarnFormView::ToggleHours24);

    grid->addWidget(Caption(Rules::CaptionOf(1054), box), 0, 0);
    grid->addWidget(MakeEdit(1054, 68), 0, 1);
    grid->addWidget(m_calBox, 0, 2);
    grid->addWidget(Caption(Rules::CaptionOf(1048), box), 0, 3);
    grid->addWidget(MakeEdit(1048, 50), 0, 4);

    grid->addWidget(dateButton, 1, 0);
    QLineEdit *date = MakeEdit(1043, 68);
    FieldWidth::SetReadOnly(date, true);
    grid->addWidget(date, 1, 1);
    grid->addWidget(Caption(Rules::CaptionOf(1045), box), 1, 3);
    grid->addWidget(MakeEdit(1045, 50), 1, 4);

    grid->addWidget(timeButton, 2, 0);
    QLineEdit *time = MakeEdit(1044, 68);
    FieldWidth::SetReadOnly(time, true);
    grid->addWidget(time, 2, 1);
    grid->addWidget(Caption(Rules::CaptionOf(1068), box), 2, 3);
    grid->addWidget(MakeEdit(1068, 50), 2, 4);

    grid->addWidget(Caption(Rules::CaptionOf(1066), box), 3, 3);
    grid->addWidget(MakeEdit(1066, 50), 3, 4);
    grid->setColumnStretch(2, 1);
    return box;
}

void ZarnFormView::WatchAll()
{
    ZarnFormBase::WatchAll([this](int id) { OnFieldEdited(id); });
    if (auto *zeroOffset = EditOf(1037)) {
        // Bounded on every change, whether typed or put there by a command list.
        connect(zeroOffset, &QLineEdit::textChanged, this, [zeroOffset](const QString &text) {
            const QString limited = ZarnFormRules::LimitZeroOffset(text);
            if (limited != text)
                zeroOffset->setText(limited);
        });
    }
}

// ---------------------------------------------------------------------------------------------
// List files

void ZarnFormView::LoadUnitsList(const QString &family)
{
    m_fields.LoadUnits(KelvaneFields::UnitsFile(family));
    m_units->clear();
    m_units->addItems(m_fields.UnitsLines());
    m_units->setCurrentIndex(m_fields.UnitsSelected());
}

void ZarnFormView::LoadAlarmLists()
{
    m_fields.LoadAlarms();
    for (int row = 0; row < 4; ++row) {
        QComboBox *box = m_alarmFunction[size_t(row)];
        box->clear();
        box->addItems(m_fields.AlarmLines());
        box->setCurrentIndex(m_fields.AlarmSelected(row));
    }
}

// ---------------------------------------------------------------------------------------------
// Opening

void ZarnFormView::OnInitialUpdate()
{
    LoadAlarmLists();
    LoadUnitsList(RulesInForce().family);
    m_contrast->setValue(128);
    m_refresh->setValue(8);
    m_fields.SetSlider(1029, 128, true);
    m_fields.SetSlider(1030, 8, true);
    if (Runner() && Runner()->IsRunning())
        Runner()->Cancel();
    DocVarsToForm();
    // A further window onto the document (Window > New Window) shows the range the first
    // window has chosen to change to, not the image's.
    AppServices *services = AppServices::Instance();
    auto *first
        = services ? qobject_cast<ZarnFormView *>(services->FirstViewOf(GetDocument())) : nullptr;
    if (first && first != this) {
        m_desired->setCurrentIndex(first->m_desired->currentIndex());
        m_hiddenDesired->setText(first->m_hiddenDesired->text());
    }
    StartClock();
}

// ---------------------------------------------------------------------------------------------
// Field access

void ZarnFormView::Sync(int fieldId, bool in)
{
    // The control a field lives in: a spin's edit for its arrows, a list for its reset.
    const int id = fieldId == 1052 ? 1047
        : fieldId == 1063          ? 1057
        : fieldId == 1064          ? 1061
                                   : Rules::EditIdOf(fieldId);
    const auto select = [in](QComboBox *box, int shown, const std::function<void(int)> &take) {
        if (in)
            take(box->currentIndex());
        else if (box->currentIndex() != shown)
            box->setCurrentIndex(shown);
    };
    switch (id) {
    case 1004:
        select(m_units, m_fields.UnitsSelected(), [this](int i) { m_fields.SelectUnits(i); });
        return;
    case 1005:
        select(
            m_curveFit, m_fields.CurveFitSelected(), [this](int i) { m_fields.SelectCurveFit(i); });
        return;
    case 1006:
    case 1007:
    case 1008:
    case 1009:
        select(m_alarmFunction[size_t(id - 1006)], m_fields.AlarmSelected(id - 1006),
            [this, id](int i) { m_fields.SelectAlarm(id - 1006, i); });
        return;
    case 1115:
        select(m_desired, m_fields.DesiredSelected(), [this](int i) { m_fields.SelectDesired(i); });
        return;
    case 1029:
    case 1030: {
        QSlider *slider = id == 1029 ? m_contrast : m_refresh;
        if (in)
            m_fields.SetSlider(id, slider->value(), id == 1029 ? m_contrastMoved : m_refreshMoved);
        else
            slider->setValue(m_fields.ShownPosition(id));
        return;
    }
    case 1047:
    case 1057:
    case 1061: {
        const CoeffList list = id == 1047 ? CoeffList::Primary
            : id == 1057                  ? CoeffList::Secondary
                                          : CoeffList::PointWise;
        QTreeWidget *tree = ListOf(list);
        if (in) {
            m_fields.SetCoefficients(id, ControlText::Items(tree));
            return;
        }
        // The items both hold stay (with the list's current item); the rest follow the model.
        const QStringList &values = m_fields.Coefficients(id);
        int same = 0;
        while (same < values.size() && same < tree->topLevelItemCount()
            && tree->topLevelItem(same)->text(1) == values.at(same))
            ++same;
        while (tree->topLevelItemCount() > same)
            delete tree->takeTopLevelItem(tree->topLevelItemCount() - 1);
        for (int i = same; i < values.size(); ++i)
            AppendItem(list, values.at(i));
        return;
    }
    default:
        break;
    }
    QWidget *widget = Control(id);
    auto *box = qobject_cast<QCheckBox *>(widget);
    if (box && Rules::IsBoxId(id)) {
        if (in)
            m_fields.SetBox(id, box->isChecked());
        else
            box->setChecked(m_fields.ShownTicked(id));
        return;
    }
    const QString text = m_fields.Text(id);
    if (auto *edit = qobject_cast<QLineEdit *>(widget)) {
        if (in)
            m_fields.SetShown(id, edit->text());
        else if (edit->text() != text)
            edit->setText(text);
    } else if (auto *label = qobject_cast<QLabel *>(widget)) {
        if (in)
            m_fields.SetShown(id, label->text());
        else if (label->text() != text)
            label->setText(text);
    } else if (in && box) {
        m_fields.SetShown(id, box->isChecked() ? QStringLiteral("TRUE") : QStringLiteral("FALSE"));
    } else if (auto *button = qobject_cast<QPushButton *>(widget); in && button) {
        m_fields.SetShown(id, button->text());
    }
}

void ZarnFormView::SetField(int id, const QString &text)
{
    if (!ZarnFormRules::IsFormId(id))
        return;
    Sync(id, true);
    m_fields.SetField(id, text);
    if (id == 1029)
        m_contrastMoved = false;
    else if (id == 1030)
        m_refreshMoved = false;
    else if (id == 1054)
        m_calDateGiven = m_fields.Text(1054);
    Sync(id, false);
}

QString ZarnFormView::GetField(int id)
{
    if (!ZarnFormRules::IsFormId(id))
        return QString();
    Sync(id, true);
    return m_fields.GetField(id);
}

// ---------------------------------------------------------------------------------------------
// Editing

void ZarnFormView::OnFieldEdited(int id)
{
    MarkEdited();
    if (id == 1051 || id == 1060 || id == 1062)
        return; // a coefficient edit keeps its code while it holds an item
    editField = 4;
    if (id == 1066 && !ZarnFormRules::HasExtendedFields(Family())) {
        m_secondaryEdit->clear();
        m_pointWiseEdit->clear();
        ShowNotSupported();
    }
}

void ZarnFormView::OnFieldLeft(int id)
{
    if (id == 1054 && !CheckCalibrationDate())
        return;
    if (QLineEdit *edit = EditOf(id)) {
        const QString limited = ZarnFormRules::LimitOnLeave(id, edit->text());
        if (limited != edit->text())
            edit->setText(limited);
    }
    editField = 0;
    switch (id) {
    case 1018:
    case 1036:
    case 1039:
    case 1038:
    case 1053:
    case 1037:
    case 1005:
        if (!ListRuns()) // a running list owns the document until it ends
            DocFormToVars();
        break;
    default:
        break;
    }
}

bool ZarnFormView::CheckCalibrationDate()
{
    QLineEdit *edit = EditOf(1054);
    const QString text = edit->text().trimmed();
    if (text == m_calDateGiven.trimmed())
        return true;
    int month = 0, day = 0, year = 0;
    if (KelvaneFields::ParseDate(text, &month, &day, &year) && month >= 0 && month <= 12 && day >= 0
        && day <= 31 && year >= 0 && year <= 99) {
        m_calDateGiven = text;
        return true;
    }
    edit->setText(m_calDateGiven);
    UserMessage::Show(QStringLiteral("\"%1\" is not a calibration date.\nType it as mm/dd/yy "
                                     "(12/25/27) or dd.mm.yy (25.12.27).\nThe date stored before "
                                     "is kept.")
                          .arg(text),
        QString::fromLatin1(kAppTitle));
    return false;
}

void ZarnFormView::OnCurveFitPicked(int index)
{
    MarkEdited();
    const int choice = ZarnFormRules::CurveFitAfterPick(index, Family());
    if (choice != index)
        m_curveFit->setCurrentIndex(choice);
    g_CurveFit = choice;
}

void ZarnFormView::OnUnitsPicked(int index)
{
    CMeterDoc *doc = MeterDoc();
    if (!doc || index < 0)
        return;
    MarkEdited();
    // The line's code (101 + units) in its last four characters.
    const int code = ZarnFormRules::LeadingInt(Rules::Tail(m_units->itemText(index), 4));
    const int units = ((code - 5) % 32 + 32) % 32;
    // The old values are in the units this form shows, whatever another form showed last.
    g_FlowUnits = (unsigned char)m_shownUnits;
    doc->UnitsChanged(*this, units, m_shownRules);
    m_shownUnits = g_FlowUnits;
}

void ZarnFormView::OnDesiredPicked(int index)
{
    MarkEdited();
    m_hiddenDesired->setText(QString::number(index));
}

// ---------------------------------------------------------------------------------------------
// Coefficient lists

QTreeWidget *ZarnFormView::ListOf(CoeffList list) const
{
    return list == CoeffList::Primary  ? m_primary
        : list == CoeffList::Secondary ? m_secondary
                                       : m_pointWise;
}

QLineEdit *ZarnFormView::ListEditOf(CoeffList list) const
{
    return list == CoeffList::Primary  ? m_primaryEdit
        : list == CoeffList::Secondary ? m_secondaryEdit
                                       : m_pointWiseEdit;
}

QLabel *ZarnFormView::ListLabelOf(CoeffList list) const
{
    return list == CoeffList::Primary  ? m_primaryLabel
        : list == CoeffList::Secondary ? m_secondaryLabel
                                       : m_pointWiseLabel;
}

void ZarnFormView::AppendItem(CoeffList list, const QString &text)
{
    QTreeWidget *tree = ListOf(list);
    auto *item = new QTreeWidgetItem(tree);
    item->setText(0, ZarnFormRules::ItemLabel(list, tree->topLevelItemCount() - 1));
    item->setText(1, text);
}

void ZarnFormView::SelectItem(CoeffList list, int index, bool load)
{
    QTreeWidget *tree = ListOf(list);
    index = qMax(index, ZarnFormRules::FirstEditable(list));
    if (index >= tree->topLevelItemCount())
        return;
    if (!load) {
        tree->setCurrentItem(tree->topLevelItem(index));
        return;
    }
    OpenCoefficient(tree, ListEditOf(list), ListLabelOf(list), index,
        ZarnFormRules::ItemLabel(list, index), static_cast<int>(list));
}

void ZarnFormView::ClearListEdit(CoeffList list)
{
    ClearCoefficientEdit(ListEditOf(list), ListLabelOf(list));
}

void ZarnFormView::ShowNotSupported()
{
    UserMessage::Show(
        QString::fromLatin1(kNotSupportedText), QString::fromLatin1(kNotSupportedCaption));
}

void ZarnFormView::EnterCoefficient(int code)
{
    const auto list = static_cast<CoeffList>(code);
    QLineEdit *edit = ListEditOf(list);
    if (edit->text().isEmpty())
        return;
    if (list != CoeffList::Primary && ZarnFormRules::IsEarlyVersion(Family())) {
        edit->clear();
        ShowNotSupported();
        return;
    }
    if (!ZarnFormBase::EnterCoefficient(
            ListOf(list), edit, ListLabelOf(list), ZarnFormRules::FirstEditable(list)))
        return;
    MarkEdited();
    editField = code;
    WalkList(code, +1);
}

void ZarnFormView::WalkList(int code, int step)
{
    const auto list = static_cast<CoeffList>(code);
    QTreeWidget *tree = ListOf(list);
    const int index = tree->indexOfTopLevelItem(tree->currentItem());
    const int next = step > 0 ? ZarnFormRules::WalkDown(list, index, tree->topLevelItemCount())
                              : ZarnFormRules::WalkUp(list, index);
    if (next < 0 || (step < 0 && next == index))
        return;
    SelectItem(list, next);
}

// ---------------------------------------------------------------------------------------------
// Keys

QLineEdit *ZarnFormView::RingField(int code) const
{
    static const int ids[] = { 1018, 1036, 1039, 1038, 1053, 1037 };
    return ZarnFormRules::IsRingCode(code) ? EditOf(ids[code - 5]) : nullptr;
}

void ZarnFormView::EnterElsewhere(int code)
{
    if (code != 0)
        return;
    m_secondaryEdit->clear();
    m_pointWiseEdit->clear();
    ShowNotSupported();
}

// ---------------------------------------------------------------------------------------------
// Timers

void ZarnFormView::ClockTick()
{
    // Only the form whose list changed the range finishes it: another form's tick must not take
    // the flag and show its own Desired range as the meter's.
    if (g_SelectDone && (!ChangingForm() || ChangingForm() == this)) {
        const QString range = m_desired->currentText();
        m_rangeBeforeChange = m_active->text();
        m_changedRange = range;
        m_active->setText(range);
        g_MeterNumber = range;
        g_SelectDone = 0;
        ChangingForm() = nullptr;
        // Nine "r" bring the meter back to its run mode on the new range.
        SendWhenFree(QByteArrayLiteral("rrrrrrrrr"));
    }
    ShowClock(EditOf(1044), EditOf(1043), EditOf(1054));
    if (!m_fixedCalibration)
        m_calDateGiven = EditOf(1054)->text();

    // The label rule also settles an unnamed version in force as ">= 4.1A"; the form itself
    // shows and collects by its own document's layout, so that cannot change its values.
    const QString versionLabel = ZarnFormRules::TemplateLabel(DocSection(), g_DocVersion);
    if (!g_MeterVersion.isEmpty()
        && MeterSeries::OfVersion(g_MeterVersion) != MeterSeries::Quixal) {
        g_DocMeterVersion = g_MeterVersion;
        g_DocRevision = g_MeterRevision;
    }
    FollowRules();
    const KelvaneFields::Rules rules = RulesInForce();
    const QString family = m_shown ? m_shownRules.family : rules.family;
    m_templateVersion->setText(ZarnFormRules::TemplateShown(family, versionLabel));
    // The meter whose rules are in force: the one the terminal identified, or the one this
    // form was read from.
    m_flowMeterVersion->setText(ZarnFormRules::IdentityLabel(rules.meterVersion));
    m_revision->setText(ZarnFormRules::IdentityLabel(rules.revision));
    // The terminal rescans the identification still on its screen, which names the range from
    // before the change: that old number does not undo the change the meter confirmed.
    if (!m_changedRange.isEmpty() && g_MeterNumber != m_changedRange
        && g_MeterNumber != m_rangeBeforeChange)
        m_changedRange.clear(); // the meter has told of another range since
    if (!m_failedRange.isEmpty() && g_MeterNumber != m_rangeAtFailure) {
        m_failedRange.clear();
        m_active->setToolTip(QString());
    }
    if (!m_failedRange.isEmpty())
        m_active->setText(QStringLiteral("?"));
    else if (!m_changedRange.isEmpty())
        m_active->setText(m_changedRange);
    else if (!g_MeterNumber.isEmpty())
        m_active->setText(g_MeterNumber);
    else if (ZarnFormRules::LeadingInt(m_active->text()) < 1)
        m_active->setText(QStringLiteral("?"));

    ApplyVersionRule();
}

void ZarnFormView::ApplyVersionRule()
{
    const bool extended = ZarnFormRules::HasExtendedFields(Family());
    FieldWidth::SetReadOnly(EditOf(1066), true);
    FieldWidth::SetReadOnly(EditOf(1069), true);
    FieldWidth::SetReadOnly(EditOf(1070), true);
    FieldWidth::SetReadOnly(EditOf(1068), !extended);
    FieldWidth::SetReadOnly(m_secondaryEdit, !extended);
    FieldWidth::SetReadOnly(m_pointWiseEdit, !extended);
    m_holdFlow1->setVisible(extended);
    m_holdFlow2->setVisible(extended);
}

// ---------------------------------------------------------------------------------------------
// Command lists

void ZarnFormView::OnReadActive()
{
    StartList(ListKind::Read);
}

void ZarnFormView::OnSendActive()
{
    if (!CheckTypedNumbers())
        return;
    StartList(ListKind::Send);
}

void ZarnFormView::OnChange()
{
    if (!ZarnFormRules::CanChangeRange(m_active->text(), m_desired->currentText())) {
        // A button that cannot act says why.
        const int active = ZarnFormRules::LeadingInt(m_active->text());
        UserMessage::Show(active < 1 || active > 4
                ? QStringLiteral("The meter's active range is not known.\nRead the meter (Read "
                                 "Active) or identify it in the terminal, then change the range.")
                : QStringLiteral("Choose a Desired range from 1 to 4 other than the active range "
                                 "%1.")
                      .arg(active),
            QString::fromLatin1(kAppTitle));
        return;
    }
    StartList(ListKind::Select);
}

void ZarnFormView::StartList(ListKind kind)
{
    if (kind == ListKind::Read && !ConfirmReadOverEdits())
        return;
    if (kind == ListKind::Send && !Runner() && !ConfirmSendToMeter(GetField(FieldId::SerialNumber)))
        return;
    const int timerId = kind == ListKind::Send ? kSendTimer
        : kind == ListKind::Read               ? kReadTimer
                                               : kSelectTimer;
    const auto prepare = [this, kind] {
        if (kind == ListKind::Send) {
            DocFormToVars(true);
            m_fields.SetImageText(DocImageToSendText());
        }
    };
    // A send reads the meter before and after it at the read list's pace, as the settings ask.
    const bool started = kind == ListKind::Send
        ? StartSend({ QString::fromLatin1(kListFiles[int(ListKind::Read)]), kListPeriodMs,
                        QString::fromLatin1(kListFiles[int(kind)]), kListPeriodMs },
            prepare)
        : ZarnFormBase::StartList(
            QString::fromLatin1(kListFiles[int(kind)]), timerId, kListPeriodMs, prepare);
    if (!started)
        return;
    if (kind == ListKind::Send)
        ClearListEdit(CoeffList::Primary);
    if (kind == ListKind::Read)
        m_identityShown
            = { m_fields.Text(1049), m_fields.Text(1084), g_DocMeterVersion, g_DocRevision };
    m_listKind = kind;
}

void ZarnFormView::ListEnded(int timerId)
{
    if (timerId == kReadTimer)
        FinishRead();
    else if (timerId == kSelectTimer) {
        g_SelectDone = 1;
        ChangingForm() = this;
    }
}

void ZarnFormView::ListFailed(int timerId)
{
    if (timerId != kSelectTimer)
        return;
    // The change may have been taken half way: the meter's range is not known until it says.
    m_failedRange = m_desired->currentText();
    m_rangeAtFailure = g_MeterNumber;
    m_changedRange.clear();
    m_active->setText(QStringLiteral("?"));
    m_active->setToolTip(QStringLiteral("The meter did not confirm the change to range %1: its "
                                        "active range is not known.\nRead the meter or identify "
                                        "it in the terminal.")
                             .arg(m_failedRange));
}

int ZarnFormView::ConvertDocument(CMeterDoc &doc, const QString &target)
{
    return doc.ConvertToVersion(target);
}

std::unique_ptr<MeterSeriesModel> ZarnFormView::MakeSeriesModel() const
{
    return std::make_unique<KelvaneSeriesModel>();
}

QString ZarnFormView::SaveAsTitle()
{
    return KelvaneSeriesModel::TitleOf(GetField(FieldId::SerialNumber), QString());
}

void ZarnFormView::FieldFocused(int id)
{
    if (id == 1039)
        editField = 7;
    else if (id == 1037)
        editField = 10;
}

void ZarnFormView::FieldLeft(int id)
{
    if (qobject_cast<QLineEdit *>(Control(id)) || id == 1005)
        OnFieldLeft(id);
}

void ZarnFormView::FinishRead()
{
    // A Quixal meter's image would fill the Kelvane fields with the wrong variables: nothing of
    // the read is taken (the table and the meter's identity go back when the list stops).
    if (MeterSeries::OfVersion(m_readVersion) == MeterSeries::Quixal) {
        // Its identity, shown as the answers came, goes back as well.
        m_fields.SetShown(1049, m_identityShown.at(0));
        m_fields.SetShown(1084, m_identityShown.at(1));
        g_DocMeterVersion = m_identityShown.at(2);
        g_DocRevision = m_identityShown.at(3);
        m_flowMeterVersion->setText(m_identityShown.at(0));
        m_revision->setText(m_identityShown.at(1));
        UserMessage::Show(MeterSeries::WrongMeterText(m_readVersion, QStringLiteral("Kelvane")),
            QString::fromLatin1(kAppTitle));
        return;
    }
    const QString text = TakeReadImage(m_fields.ImageText());
    if (text.isEmpty())
        return;
    LoadUnitsList(RulesInForce().family);
    DocImageFromText(text);
    DocVarsToForm();
    MarkEdited(); // the meter's values are not in the file yet
    // The image just read holds the meter's active range. Until the terminal has heard the
    // meter say it, that range is the one shown as active (and the one the title carries).
    const int range = ZarnFormRules::LeadingInt(m_desired->currentText());
    const bool rangeRead = range >= 1 && range <= 4;
    if (g_MeterNumber.isEmpty() && rangeRead)
        m_active->setText(QString::number(range));
    if (!m_failedRange.isEmpty() && rangeRead) {
        // The read tells the range a change left the meter on.
        m_failedRange.clear();
        m_active->setToolTip(QString());
        m_changedRange = QString::number(range);
        m_rangeBeforeChange = g_MeterNumber;
    }
    if (!m_changedRange.isEmpty() && rangeRead) // newer than the terminal's old line too
        m_changedRange = QString::number(range);
    // The connected meter's serial number is the one its image holds: a Send compares with it.
    g_MeterSerial = GetField(FieldId::SerialNumber).trimmed();
    Retitle(KelvaneSeriesModel::TitleOf(
        GetField(FieldId::SerialNumber), GetField(FieldId::ActiveRange)));
    ClearListEdit(CoeffList::Primary);
}

// ---------------------------------------------------------------------------------------------
// Saving and converting

// ---------------------------------------------------------------------------------------------
// Document side

QString ZarnFormView::Family() const
{
    return m_shown ? m_shownRules.family : RulesInForce().family;
}

KelvaneSheet::Fields ZarnFormView::SheetFields() const
{
    ControlText shown([this](int id) { return Control(id); });
    const CMeterDoc *doc = MeterDoc();
    return KelvaneSheetReader::Read(shown, doc ? doc->PathName() : QString(),
        doc && doc->Vars() ? doc->Vars()->SectionName() : QString());
}

CurveSource ZarnFormView::GraphSource() const
{
    CurveSource source;
    source.fullScale = EditOf(FieldId::FullScale)->text();
    source.cFactor = EditOf(FieldId::CFactor)->text();
    source.zeroOffset = EditOf(FieldId::ZeroOffset)->text();
    source.zeroCutoff = EditOf(FieldId::ZeroCutoff)->text();
    const auto lines = [](const QTreeWidget *tree) {
        QStringList texts;
        for (int i = 0; i < tree->topLevelItemCount(); ++i)
            texts << tree->topLevelItem(i)->text(1);
        return texts;
    };
    source.primary = lines(m_primary);
    source.secondary = lines(m_secondary);
    source.pointWise = lines(m_pointWise);
    // This form's own choice: g_CurveFit follows whichever form set it last.
    source.curveFit = std::max(0, m_curveFit->currentIndex());
    return source;
}

void ZarnFormView::OnDisplayCurve()
{
    DocFormToVars();
    CPolyCurve dialog(GraphSource(), this);
    dialog.exec();
}

void ZarnFormView::OnDisplayLinear()
{
    DocFormToVars();
    CPolyLine dialog(GraphSource(), this);
    dialog.exec();
}

KelvaneFields::Rules ZarnFormView::RulesInForce() const
{
    if (const CMeterDoc *doc = MeterDoc())
        return doc->RulesInForce();
    KelvaneFields::Rules rules;
    rules.family = g_DocVersion;
    const bool identified = !g_MeterVersion.isEmpty();
    rules.meterVersion = identified ? g_MeterVersion : m_readVersion;
    rules.revision = identified ? g_MeterRevision : m_readRevision;
    return rules;
}

void ZarnFormView::SetReadIdentity(const QString *version, const QString *revision)
{
    if (version)
        m_readVersion = *version;
    if (revision)
        m_readRevision = *revision;
    if (CMeterDoc *doc = MeterDoc()) {
        if (version)
            doc->SetMeterVersion(*version);
        if (revision)
            doc->SetMeterRevision(*revision);
    }
}

void ZarnFormView::FollowRules()
{
    if (!m_shown || Runner())
        return;
    if (RulesInForce() == m_shownRules)
        return;
    DocFormToVars(); // what the user typed, read as it was shown
    DocVarsToForm();
}

void ZarnFormView::DocVarsToForm()
{
    CMeterDoc *doc = MeterDoc();
    if (!doc)
        return;
    const KelvaneFields::Rules rules = doc->RulesInForce();
    if (KelvaneFields::UnitsFile(rules.family) != m_fields.UnitsFile())
        LoadUnitsList(rules.family);
    doc->VarsToForm(*this, rules);
    m_shownUnits = g_FlowUnits; // the transfer has just set it to this form's units
    m_shownRules = rules;
    m_shown = true;
}

void ZarnFormView::DocFormToVars(bool forMeter)
{
    CMeterDoc *doc = MeterDoc();
    if (!doc)
        return;
    // Never shown: nothing to collect under, the fields hold no values of this document.
    if (!m_shown)
        return;
    m_fields.SetCollectingForFile(!forMeter);
    doc->FormToVars(*this, m_shownRules);
    m_shownUnits = g_FlowUnits;
    m_fields.SetCollectingForFile(false);
}

void ZarnFormView::DocSetVersion(const QString &version)
{
    if (CMeterDoc *doc = MeterDoc())
        doc->SetVersion(version);
}

bool ZarnFormView::DocImageFromText(const QString &text)
{
    CMeterDoc *doc = MeterDoc();
    if (!doc)
        return false;
    doc->ImageFromText(text);
    return true;
}

QString ZarnFormView::DocImageToSendText()
{
    const CMeterDoc *doc = MeterDoc();
    return doc ? doc->ImageToSendText() : QString();
}
