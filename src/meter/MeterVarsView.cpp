#include "meter/MeterVarsView.h"

#include "app/CPrefs.h"
#include "meter/CConvertDlg.h"
#include "meter/CMeterDoc.h"
#include "meter/ChoiceList.h"
#include "meter/FieldIds.h"
#include "meter/KelvaneFields.h"
#include "meter/MeterVars.h"

#include <QHeaderView>
#include <QLabel>
#include <QRegularExpression>
#include <QTableWidget>
#include <QVBoxLayout>

MeterVarsView::MeterVarsView(CMeterDoc *document, QWidget *parent)
    : CView(document, parent)
{
    m_layout = new QLabel(this);
    m_table = new QTableWidget(0, 5, this);
    m_table->setHorizontalHeaderLabels({ QStringLiteral("Variable"), QStringLiteral("Offset"),
        QStringLiteral("Size"), QStringLiteral("Bytes"), QStringLiteral("Shown") });
    m_table->verticalHeader()->hide();
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->horizontalHeader()->setStretchLastSection(true);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_layout);
    layout->addWidget(m_table);
    Refresh();
}

CMeterDoc *MeterVarsView::Document() const
{
    return static_cast<CMeterDoc *>(GetDocument());
}

void MeterVarsView::Refresh()
{
    MeterVars *vars = Document() ? Document()->Vars() : nullptr;
    if (!vars) {
        m_layout->setText(QStringLiteral("No meter data"));
        m_table->setRowCount(0);
        return;
    }
    m_layout->setText(QStringLiteral("Layout %1, %2 variables, %3 bytes")
                          .arg(vars->SectionName())
                          .arg(vars->Count())
                          .arg(vars->ImageBytes()));
    m_units = ChoiceList::Read(KelvaneFields::UnitsFile());
    m_alarms = ChoiceList::Read(QStringLiteral("alarms20.dat"));
    m_fields.clear();
    m_lists.clear();
    Document()->VarsToForm(*this);
    m_table->setRowCount(vars->Count());
    const QString text = vars->ImageToText();
    for (int i = 0, k = 0; i < vars->Count(); ++i) {
        const int size = vars->Size(i);
        m_table->setItem(i, 0, new QTableWidgetItem(vars->Name(i)));
        m_table->setItem(i, 1, new QTableWidgetItem(QString::number(vars->Offset(i))));
        m_table->setItem(i, 2, new QTableWidgetItem(QString::number(size)));
        m_table->setItem(i, 3, new QTableWidgetItem(text.mid(3 * k, 3 * size).trimmed()));
        m_table->setItem(i, 4, new QTableWidgetItem(ShownText(vars->Name(i))));
        k += size;
    }
    m_table->resizeColumnsToContents();
}

void MeterVarsView::SetField(int id, const QString &text)
{
    using namespace FieldId;
    switch (id) {
    case PrimaryList:
    case SecondaryList:
    case PointWiseList:
        m_lists[id].append(text);
        break;
    case PrimaryReset:
    case SecondaryReset:
    case PointWiseReset:
        m_lists.remove(id == PrimaryReset ? PrimaryList
                : id == SecondaryReset    ? SecondaryList
                                          : PointWiseList);
        break;
    case DacFilterSpin:
    case DacTimeSpin:
    case AdcFilterSpin:
        m_fields[id - 1] = text;
        break;
    case Units: {
        const int line = ChoiceList::FindBeginningWith(m_units, text);
        m_fields[id]
            = line >= 0 ? m_units.at(line).left(m_units.at(line).size() - 3).trimmed() : QString();
        break;
    }
    case CurveFit:
        m_fields[id] = KelvaneFields::CurveFitText(text.toInt());
        break;
    default:
        if (id >= AlarmFunction0 && id < AlarmFunction0 + 4) {
            const int line = ChoiceList::FindEndingIn(m_alarms, text);
            m_fields[id] = line >= 0
                ? m_alarms.at(line).left(m_alarms.at(line).size() - 3).trimmed()
                : QString();
        } else {
            m_fields[id] = text;
        }
    }
}

// The form's text for a variable: its field, or its item of a coefficient list.
QString MeterVarsView::ShownText(const QString &name) const
{
    using namespace FieldId;
    static const struct
    {
        const char *name;
        int id;
    } fields[] = { { "lcd_blind", LcdBlank }, { "flow_func", Units }, { "mode", DesiredRange },
        { "meter_num", DesiredRange }, { "updating_max", DacTimeEdit },
        { "reporting_max", FieldId::Refresh }, { "adc_val", AdcFilterEdit },
        { "dac_val", DacFilterEdit }, { "meter_x", XSect }, { "meter_k", MaxRange },
        { "meter_s", FullScale }, { "coeff[10]", CFactor }, { "coeff[11]", ZeroOffset },
        { "cutoff", ZeroCutoff }, { "lockout", Password }, { "pad_1", ModbusAddr },
        { "cal_date", CalibrationDue }, { "serial_num", SerialNumber }, { "uP_assy_rev", UpPcba },
        { "wdt", Watchdog }, { "curve_fit", CurveFit }, { "adc_gain", AdcGain },
        { "adc_offset", AdcOffset } };
    for (const auto &field : fields)
        if (name == QLatin1String(field.name))
            return m_fields.value(field.id);
    const QRegularExpressionMatch m
        = QRegularExpression(QStringLiteral("^(\\w+)\\[(\\d+)\\]$")).match(name);
    if (!m.hasMatch())
        return {};
    const QString base = m.captured(1);
    const int i = m.captured(2).toInt();
    if (base == QLatin1String("event"))
        return m_fields.value(AlarmFunction0 + i);
    if (base == QLatin1String("evalue"))
        return m_fields.value(AlarmValue0 + i);
    if (base == QLatin1String("edelay"))
        return m_fields.value(AlarmDelay0 + i);
    const int list = base == QLatin1String("coeff") ? PrimaryList
        : base == QLatin1String("coeff1")           ? SecondaryList
        : base == QLatin1String("segment")          ? PointWiseList
                                                    : 0;
    return m_lists.value(list).value(i);
}

QString MeterVarsView::ConvertTarget()
{
    const CPrefs prefs;
    return prefs.GetVersion();
}

bool MeterVarsView::HandlesCommand(AppCommand command) const
{
    return command == AppCommand::Convert || CView::HandlesCommand(command);
}

bool MeterVarsView::OnCommand(AppCommand command)
{
    if (command != AppCommand::Convert)
        return CView::OnCommand(command);
    Convert();
    return true;
}

void MeterVarsView::Convert()
{
    CMeterDoc *doc = Document();
    if (!doc)
        return;
    const QString target = ConvertTarget();
    CConvertDlg dialog(doc->ConvertPrompt(target), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (doc->ConvertToVersion(target))
        doc->SetModifiedFlag();
    Refresh();
}
