#pragma once

#include "audit/AuditRecord.h"

#include <QDialog>

#include <functional>
#include <vector>

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QTableWidget;

// Window > Audit Trail: the trail's records in a table, filtered by serial number and by date
// (from, to; yyyy-MM-dd, either empty for open), exported as CSV, and the change report of the
// serial number shown written as PDF. A row names the fields its action changed ("Caption:
// before → after"); the selected row's changes stand one a line below the table. Reads the trail
// each time it is opened or refreshed; it never writes to it.
class CAuditDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CAuditDlg(QWidget *parent = nullptr);
    // Asks for the path of an export ("csv" or "pdf") proposing a name; empty when cancelled.
    // The default shows the Save As prompt; tests install their own.
    using SavePrompt = std::function<QString(QWidget *parent, const QString &proposed)>;
    static SavePrompt SetSavePrompt(SavePrompt prompt);
    // The prompt above for a CSV or PDF export (proposed ends with its extension).
    static QString AskSavePath(QWidget *parent, const QString &proposed);
    // Asks for a CSV file proposing a name and writes records to it; false when cancelled or
    // not written (said).
    static bool AskAndWriteCsv(
        QWidget *parent, const QString &proposed, const std::vector<AuditRecord> &records);
    // The buttons of a window of records: Close, "Refresh", "Export CSV..." and "Change
    // Report...", each calling its handler.
    static QDialogButtonBox *RecordButtons(QDialog *dialog, std::function<void()> refresh,
        std::function<bool()> csv, std::function<bool()> report);
    // The change report of serial's visits among records written as PDF at path; false (and
    // said) when they hold no send or the file cannot be written.
    static bool WriteReport(
        const QString &path, const std::vector<AuditRecord> &records, const QString &serial);

    void Reload();
    void ApplyFilter();
    bool ExportCsv();
    bool ExportReport();
    QLineEdit *SerialFilter() const { return m_serial; }
    QLineEdit *FromFilter() const { return m_from; }
    QLineEdit *ToFilter() const { return m_to; }
    QTableWidget *Table() const { return m_table; }
    const std::vector<AuditRecord> &Shown() const { return m_shown; }
    QLabel *Details() const { return m_details; }
    // The changes of a record as the window shows them, one "Caption: before → after" each.
    static QStringList ChangeLines(const AuditRecord &record);

private:
    QLineEdit *m_serial = nullptr;
    QLineEdit *m_from = nullptr;
    QLineEdit *m_to = nullptr;
    QTableWidget *m_table = nullptr;
    QLabel *m_details = nullptr;
    QLabel *m_status = nullptr;
    void ShowDetails(int row);
    std::vector<AuditRecord> m_all;
    std::vector<AuditRecord> m_shown;
};
