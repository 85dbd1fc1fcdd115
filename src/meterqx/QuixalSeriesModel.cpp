#include "meterqx/QuixalSeriesModel.h"

#include "meter/FieldTransfer.h"
#include "meter/ZarnFormRules.h"
#include "meterqx/QXFieldRules.h"
#include "meterqx/QXFields.h"
#include "meterqx/QXMeterDoc.h"
#include "meterqx/QXMeterVars.h"
#include "meterqx/QuixalDocSeries.h"
#include "meterqx/QuixalSheet.h"
#include "meterqx/QuixalSheetReader.h"

QString QuixalSeriesModel::TitleOf(const QString &serial)
{
    return serial + QStringLiteral("_1");
}

QuixalSeriesModel::QuixalSeriesModel()
    : MeterSeriesModel(std::make_unique<QXMeterDoc>())
{
    QXMeterDoc *raw = &Doc();
    m_fields.LoadLists();
    m_fields.SetVersionHandler([raw](const QString &version) { raw->SetVersion(version); });
}

QXMeterDoc &QuixalSeriesModel::Doc() const
{
    return static_cast<QXMeterDoc &>(*m_doc);
}

QString QuixalSeriesModel::LayoutFile() const
{
    return QString::fromLatin1(QXMeterVars::kLayoutFile);
}

void QuixalSeriesModel::Show()
{
    Doc().VarsToForm(m_fields);
}

void QuixalSeriesModel::Collect(bool)
{
    Doc().FormToVars(m_fields);
}

QString QuixalSeriesModel::TakeImage(const QString &text)
{
    m_fields.LoadLists(false);
    m_doc->ImageFromText(text);
    Show();
    return QStringLiteral("1");
}

void QuixalSeriesModel::PrepareSend(const QString &)
{
    Collect(false);
    m_fields.SetImageText(m_doc->ImageToSendText());
}

bool QuixalSeriesModel::Convert(const QString &target, QString *error)
{
    const QString section = QuixalDocSeries::SectionForTarget(target);
    if (section.isEmpty() || QXMeterVars(section, true).Count() == 0) {
        *error = QStringLiteral("%1 holds no Quixal layout for firmware %2.")
                     .arg(LayoutFile(), target);
        return false;
    }
    Collect(true);
    if (!Doc().ConvertToVersion(target)) {
        *error = QStringLiteral("The data could not be converted to %1.").arg(target);
        return false;
    }
    Show();
    return true;
}

SheetPage QuixalSeriesModel::Sheet(const SheetMetrics &metrics, const QDateTime &now)
{
    m_fields.ShowClock(now);
    return QuixalSheet::Build(QuixalSheetReader::Read(m_fields, m_doc->PathName()), metrics);
}

std::vector<MeterSeriesModel::Row> QuixalSeriesModel::Rows()
{
    std::vector<Row> rows;
    for (const QXFormFields::Caption &c : QXFormFields::Captions()) {
        const QString caption = QLatin1String(c.caption);
        const FieldRule *rule = Rules().Find(c.id);
        const FieldRule::Kind kind = rule ? rule->kind : FieldRule::Kind::Text;
        if (kind == FieldRule::Kind::Coefficients) {
            const QStringList &list = m_fields.Coefficients();
            for (int i = 0; i < list.size(); ++i)
                rows.push_back({ QStringLiteral("%1[%2]").arg(caption).arg(i), c.id, list.at(i) });
        } else if (kind == FieldRule::Kind::Choice) {
            rows.push_back({ caption, c.id, m_fields.ShownLine(c.id) });
        } else if (kind == FieldRule::Kind::Box) {
            rows.push_back({ caption, c.id, FieldTransfer::Bool(m_fields.Box(c.id)) });
        } else {
            rows.push_back({ caption, c.id, m_fields.Text(c.id) });
        }
    }
    return rows;
}

int QuixalSeriesModel::IdOf(const QString &field) const
{
    return QXFormFields::Table().IdOf(field);
}

QString QuixalSeriesModel::CaptionOf(int id) const
{
    return QXFormFields::Table().CaptionOf(id);
}

const FieldRules &QuixalSeriesModel::Rules() const
{
    return QXFieldRules::Table();
}

void QuixalSeriesModel::StoreText(int id, const QString &text)
{
    m_fields.SetText(id, Rules().Changed(id, text));
}

QString QuixalSeriesModel::StoreCoefficient(
    int, int index, const QString &text, const QString &caption)
{
    QStringList &lines = m_fields.Coefficients();
    if (index >= lines.size())
        return QStringLiteral("%1 has no line %2.").arg(caption).arg(index);
    lines[index] = text;
    return QString();
}

QString QuixalSeriesModel::Take(const FieldRule &rule, const QString &value, const QString &caption)
{
    // A line of one of the lists, by its whole wording or its beginning.
    const int id = rule.id;
    const QStringList &lines = m_fields.Lines(id);
    int line = -1;
    for (int i = 0; i < lines.size() && line < 0; ++i)
        if (lines.at(i).trimmed().compare(value.trimmed(), Qt::CaseInsensitive) == 0
            || lines.at(i).startsWith(value.trimmed(), Qt::CaseInsensitive))
            line = i;
    if (line < 0 || value.trimmed().isEmpty())
        return QStringLiteral("\"%1\" is no choice of %2.").arg(value, caption);
    m_fields.Select(id, line);
    if (id == QXFieldId::Units) {
        m_doc->Context().units = int(m_doc->Vars()->Value(QStringLiteral("flow_func"), 1));
        Doc().UnitsChanged(m_fields, ZarnFormRules::UnitsOfLine(lines.at(line)));
    }
    return QString();
}

std::unique_ptr<MeterVars> QuixalSeriesModel::MakeTable(const QString &section) const
{
    return std::make_unique<QXMeterVars>(section, &m_doc->Context().version);
}
