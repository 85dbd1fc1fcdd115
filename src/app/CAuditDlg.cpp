#include "app/CAuditDlg.h"

#include "audit/AuditLog.h"
#include "audit/AuditSettings.h"
#include "audit/ChangeReport.h"
#include "base/AppTitle.h"
#include "base/SaveDialog.h"
#include "base/SheetPdf.h"
#include "base/UserMessage.h"

#include <QDate>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
CAuditDlg::SavePrompt &AuditSavePrompt()
{
    static CAuditDlg::SavePrompt prompt; // none: the save dialog
    return prompt;
}

constexpr int kChangesColumn = 9;

// The name of an export, proposed as given; empty when cancelled or refused.
QString AskAuditFile(QWidget *parent, const QString &proposed)
{
    const bool pdf = proposed.endsWith(QLatin1String(".pdf"));
    SaveDialog::Request request;
    request.caption = QStringLiteral("Save As");
    request.proposed = proposed;
    request.filters
        = QStringList { pdf ? QStringLiteral("PDF (*.pdf)") : QStringLiteral("CSV (*.csv)") };
    request.extensions = QStringList { pdf ? QStringLiteral(".pdf") : QStringLiteral(".csv") };
    return SaveDialog::Ask(parent, request, AuditSavePrompt());
}

QDate AuditDateOf(const QLineEdit *edit)
{
    return QDate::fromString(edit->text().trimmed(), QStringLiteral("yyyy-MM-dd"));
}
} // namespace

CAuditDlg::SavePrompt CAuditDlg::SetSavePrompt(SavePrompt prompt)
{
    SavePrompt old = AuditSavePrompt();
    AuditSavePrompt() = std::move(prompt);
    return old;
}

CAuditDlg::CAuditDlg(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Audit Trail"));
    m_serial = new QLineEdit(this);
    m_from = new QLineEdit(this);
    m_to = new QLineEdit(this);
    for (QLineEdit *date : { m_from, m_to })
        date->setPlaceholderText(QStringLiteral("yyyy-mm-dd"));
    auto *filter = new QHBoxLayout;
    filter->addWidget(new QLabel(QStringLiteral("Serial Number"), this));
    filter->addWidget(m_serial);
    filter->addWidget(new QLabel(QStringLiteral("From"), this));
    filter->addWidget(m_from);
    filter->addWidget(new QLabel(QStringLiteral("To"), this));
    filter->addWidget(m_to);
    for (QLineEdit *edit : { m_serial, m_from, m_to })
        connect(edit, &QLineEdit::textChanged, this, &CAuditDlg::ApplyFilter);

    m_table = new QTableWidget(this);
    const QStringList headers { QStringLiteral("Time"), QStringLiteral("Operator"),
        QStringLiteral("Action"), QStringLiteral("Series"), QStringLiteral("Serial Number"),
        QStringLiteral("Firmware"), QStringLiteral("File"), QStringLiteral("As Found"),
        QStringLiteral("Result"), QStringLiteral("Changes"), QStringLiteral("Message") };
    m_table->setColumnCount(int(headers.size()));
    m_table->setHorizontalHeaderLabels(headers);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->verticalHeader()->hide();
    m_details = new QLabel(this);
    m_details->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_details->setWordWrap(true);
    connect(m_table, &QTableWidget::currentCellChanged, this,
        [this](int row, int, int, int) { ShowDetails(row); });
    m_status = new QLabel(this);

    QDialogButtonBox *buttons = RecordButtons(
        this, [this] { Reload(); }, [this] { return ExportCsv(); },
        [this] { return ExportReport(); });

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(filter);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_details);
    layout->addWidget(m_status);
    layout->addWidget(buttons);
    resize(1000, 500);
    Reload();
}

void CAuditDlg::Reload()
{
    const AuditLog trail(AuditSettings::TrailPath());
    AuditLog::Loaded loaded = trail.Load();
    m_all = std::move(loaded.records);
    QString status = loaded.error.isEmpty() ? trail.Path() : loaded.error;
    if (loaded.skipped > 0)
        status += QStringLiteral(" (%1 line(s) that are no whole record passed over)")
                      .arg(loaded.skipped);
    m_status->setText(status);
    ApplyFilter();
}

void CAuditDlg::ApplyFilter()
{
    m_shown = AuditLog::Filter(m_all, m_serial->text(), AuditDateOf(m_from), AuditDateOf(m_to));
    m_table->setRowCount(int(m_shown.size()));
    for (int row = 0; row < int(m_shown.size()); ++row) {
        const AuditRecord &r = m_shown[size_t(row)];
        const QStringList changes = ChangeLines(r);
        const QStringList cells { AuditRecord::TimeText(r.time), r.operatorName, r.action, r.series,
            r.serial, r.firmware, r.file, r.asFound, r.result, changes.join(QStringLiteral("; ")),
            r.message };
        for (int column = 0; column < int(cells.size()); ++column) {
            auto *item = new QTableWidgetItem(cells.at(column));
            if (column == kChangesColumn && !changes.isEmpty())
                item->setToolTip(changes.join(QLatin1Char('\n')));
            m_table->setItem(row, column, item);
        }
    }
    m_table->resizeColumnsToContents();
    // A row that changed many fields does not push the message out of sight: its cell is
    // elided, the whole list is in the tooltip and below the table.
    if (m_table->columnWidth(kChangesColumn) > 360)
        m_table->setColumnWidth(kChangesColumn, 360);
    ShowDetails(m_table->currentRow());
}

QStringList CAuditDlg::ChangeLines(const AuditRecord &record)
{
    QStringList lines;
    for (const AuditRecord::Change &c : record.changes)
        lines << QStringLiteral("%1: %2 \u2192 %3").arg(c.caption, c.before, c.after);
    return lines;
}

void CAuditDlg::ShowDetails(int row)
{
    if (row < 0 || row >= int(m_shown.size())) {
        m_details->clear();
        return;
    }
    const QStringList lines = ChangeLines(m_shown[size_t(row)]);
    m_details->setText(
        lines.isEmpty() ? QStringLiteral("No field changed.") : lines.join(QLatin1Char('\n')));
}

QDialogButtonBox *CAuditDlg::RecordButtons(QDialog *dialog, std::function<void()> refresh,
    std::function<bool()> csv, std::function<bool()> report)
{
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    QPushButton *refreshButton
        = buttons->addButton(QStringLiteral("Refresh"), QDialogButtonBox::ActionRole);
    QPushButton *csvButton
        = buttons->addButton(QStringLiteral("Export CSV..."), QDialogButtonBox::ActionRole);
    QPushButton *reportButton
        = buttons->addButton(QStringLiteral("Change Report..."), QDialogButtonBox::ActionRole);
    connect(refreshButton, &QPushButton::clicked, dialog, std::move(refresh));
    connect(csvButton, &QPushButton::clicked, dialog, std::move(csv));
    connect(reportButton, &QPushButton::clicked, dialog, std::move(report));
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

bool CAuditDlg::AskAndWriteCsv(
    QWidget *parent, const QString &proposed, const std::vector<AuditRecord> &records)
{
    const QString path = AskAuditFile(parent, proposed);
    if (path.isEmpty())
        return false;
    QString error;
    if (!AuditLog::WriteCsv(path, records, &error)) {
        UserMessage::Show(error, QString::fromLatin1(kAppTitle));
        return false;
    }
    return true;
}

bool CAuditDlg::ExportCsv()
{
    return AskAndWriteCsv(this, QStringLiteral("tarvik-audit.csv"), m_shown);
}

bool CAuditDlg::ExportReport()
{
    const QString serial = m_serial->text().trimmed();
    if (ChangeReport::Visits(m_shown, serial).empty())
        return WriteReport(QString(), m_shown, serial);
    const QString path = AskAuditFile(this,
        QStringLiteral("change-report%1.pdf")
            .arg(serial.isEmpty() ? QString() : QLatin1Char('-') + serial));
    return !path.isEmpty() && WriteReport(path, m_shown, serial);
}

QString CAuditDlg::AskSavePath(QWidget *parent, const QString &proposed)
{
    return AskAuditFile(parent, proposed);
}

bool CAuditDlg::WriteReport(
    const QString &path, const std::vector<AuditRecord> &records, const QString &serial)
{
    const std::vector<ChangeReport::Visit> visits = ChangeReport::Visits(records, serial);
    if (visits.empty()) {
        UserMessage::Show(QStringLiteral("The records shown hold no send to a meter: there is "
                                         "nothing to report."),
            QString::fromLatin1(kAppTitle));
        return false;
    }
    const bool written = SheetPdf::WritePages(
        path, int(visits.size()),
        [&visits](int i, const SheetMetrics &metrics) {
            return ChangeReport::Page(visits.at(size_t(i)), metrics);
        },
        SheetPdf::DefaultLayout(), QStringLiteral("Change report %1").arg(serial));
    if (!written)
        UserMessage::Show(QStringLiteral("The change report could not be written to %1.").arg(path),
            QString::fromLatin1(kAppTitle));
    return written;
}
