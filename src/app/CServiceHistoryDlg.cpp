#include "app/CServiceHistoryDlg.h"

#include "app/CAuditDlg.h"
#include "app/CTarvikApp.h"
#include "audit/AuditSettings.h"
#include "records/RecordsDelivery.h"
#include "records/RecordsSettings.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
QTableWidget *HistoryTable(QWidget *parent, const QStringList &headers)
{
    auto *table = new QTableWidget(parent);
    table->setColumnCount(int(headers.size()));
    table->setHorizontalHeaderLabels(headers);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->horizontalHeader()->setStretchLastSection(true);
    table->verticalHeader()->hide();
    return table;
}

void HistoryRow(QTableWidget *table, int row, const QStringList &cells)
{
    for (int column = 0; column < int(cells.size()); ++column)
        table->setItem(row, column, new QTableWidgetItem(cells.at(column)));
}
} // namespace

CServiceHistoryDlg::CServiceHistoryDlg(CTarvikApp *app, QWidget *parent)
    : QDialog(parent)
    , m_app(app)
{
    setWindowTitle(QStringLiteral("Service History"));
    m_search = new QLineEdit(this);
    m_search->setPlaceholderText(QStringLiteral("part of a serial number"));
    connect(m_search, &QLineEdit::textChanged, this, &CServiceHistoryDlg::ShowMeters);
    auto *search = new QHBoxLayout;
    search->addWidget(new QLabel(QStringLiteral("Serial Number"), this));
    search->addWidget(m_search, 1);
    m_meters = HistoryTable(this,
        { QStringLiteral("Serial Number"), QStringLiteral("Series"), QStringLiteral("Model"),
            QStringLiteral("Last Visit"), QStringLiteral("Visits"), QStringLiteral("Due") });
    m_visits = HistoryTable(this,
        { QStringLiteral("From"), QStringLiteral("To"), QStringLiteral("Operator"),
            QStringLiteral("Computer"), QStringLiteral("Actions") });
    connect(m_meters, &QTableWidget::currentCellChanged, this,
        [this](int row, int, int, int) { ShowVisits(row); });
    connect(m_visits, &QTableWidget::currentCellChanged, this,
        [this](int row, int, int, int) { ShowDetails(row); });
    m_details = new QLabel(this);
    m_details->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_details->setWordWrap(true);
    m_status = new QLabel(this);
    m_status->setWordWrap(true);

    QDialogButtonBox *buttons = CAuditDlg::RecordButtons(
        this, [this] { Reload(); }, [this] { return ExportCsv(); },
        [this] { return ExportReport(); });

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(search);
    layout->addWidget(m_meters, 2);
    layout->addWidget(m_visits, 1);
    layout->addWidget(m_details);
    layout->addWidget(m_status);
    layout->addWidget(buttons);
    resize(900, 600);
    Reload();
}

void CServiceHistoryDlg::Reload()
{
    m_all.clear();
    RecordsDelivery *delivery = m_app ? m_app->Records() : nullptr;
    const RecordsTarget target
        = delivery ? delivery->Target() : RecordsSettings::Target(AuditSettings::TrailPath());
    // The window never waits for a server the delivery finds out of reach.
    if (delivery && !delivery->Problem().isEmpty()) {
        m_status->setText(delivery->Problem());
    } else {
        RecordsStore store(target);
        const auto meters = store.Open() ? store.Meters(QString()) : std::nullopt;
        if (meters)
            m_all = *meters;
        m_status->setText(meters ? target.Url() : store.Error());
    }
    ShowMeters();
}

void CServiceHistoryDlg::ShowMeters()
{
    const QString part = m_search->text().trimmed();
    m_shown.clear();
    for (const RecordsStore::Meter &m : m_all)
        if (m.serial.contains(part))
            m_shown.push_back(m);
    m_meters->setRowCount(int(m_shown.size()));
    for (int row = 0; row < int(m_shown.size()); ++row) {
        const RecordsStore::Meter &m = m_shown[size_t(row)];
        HistoryRow(m_meters, row,
            { m.serial, m.series, m.model, m.lastVisit, QString::number(m.visits),
                m.due.toString(Qt::ISODate) });
    }
    m_meters->resizeColumnsToContents();
    if (!m_shown.empty())
        m_meters->setCurrentCell(0, 0);
    else
        ShowVisits(-1);
}

void CServiceHistoryDlg::ShowVisits(int meterRow)
{
    m_history.clear();
    if (meterRow >= 0 && meterRow < int(m_shown.size())) {
        const RecordsStore::Meter &meter = m_shown[size_t(meterRow)];
        RecordsStore store(m_app && m_app->Records()
                ? m_app->Records()->Target()
                : RecordsSettings::Target(AuditSettings::TrailPath()));
        const auto visits = store.Open() ? store.History(meter.serial) : std::nullopt;
        if (!visits)
            m_status->setText(store.Error());
        for (const RecordsStore::Visit &v : visits.value_or(std::vector<RecordsStore::Visit> {}))
            if (v.series == meter.series)
                m_history.push_back(v);
    }
    m_visits->setRowCount(int(m_history.size()));
    for (int row = 0; row < int(m_history.size()); ++row) {
        const RecordsStore::Visit &v = m_history[size_t(row)];
        QStringList actions;
        for (const AuditRecord &r : v.actions)
            actions << r.action;
        HistoryRow(m_visits, row,
            { v.first, v.last, v.operatorName, v.computer, actions.join(QStringLiteral(", ")) });
    }
    m_visits->resizeColumnsToContents();
    if (!m_history.empty())
        m_visits->setCurrentCell(int(m_history.size()) - 1, 0);
    else
        ShowDetails(-1);
}

void CServiceHistoryDlg::ShowDetails(int visitRow)
{
    if (visitRow < 0 || visitRow >= int(m_history.size())) {
        m_details->clear();
        return;
    }
    QStringList lines;
    for (const AuditRecord &r : m_history[size_t(visitRow)].actions) {
        lines << QStringLiteral("%1 %2 %3").arg(AuditRecord::TimeText(r.time), r.action, r.result);
        for (const QString &change : CAuditDlg::ChangeLines(r))
            lines << QStringLiteral("    ") + change;
    }
    m_details->setText(lines.join(QLatin1Char('\n')));
}

std::vector<AuditRecord> CServiceHistoryDlg::MeterActions() const
{
    std::vector<AuditRecord> actions;
    for (const RecordsStore::Visit &v : m_history)
        actions.insert(actions.end(), v.actions.begin(), v.actions.end());
    return actions;
}

bool CServiceHistoryDlg::ExportCsv()
{
    const int row = m_meters->currentRow();
    if (row < 0 || row >= int(m_shown.size()))
        return false;
    return CAuditDlg::AskAndWriteCsv(this,
        QStringLiteral("service-history-%1.csv").arg(m_shown[size_t(row)].serial), MeterActions());
}

bool CServiceHistoryDlg::ExportReport()
{
    const int row = m_visits->currentRow();
    if (row < 0 || row >= int(m_history.size()))
        return false;
    const RecordsStore::Visit &visit = m_history[size_t(row)];
    const QString path
        = CAuditDlg::AskSavePath(this, QStringLiteral("change-report-%1.pdf").arg(visit.serial));
    return !path.isEmpty() && CAuditDlg::WriteReport(path, visit.actions, visit.serial);
}
