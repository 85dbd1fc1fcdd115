#pragma once

#include "records/RecordsStore.h"

#include <QDialog>

#include <vector>

class CTarvikApp;
class QLabel;
class QLineEdit;
class QTableWidget;

// Window > Service History: the meters of the service records by serial number (search, series,
// last visit, visits, due date), the selected meter's visits and the selected visit's actions
// with their changes; the visit's change report as PDF and the meter's actions as CSV. Reads the
// store in force each time it is opened or refreshed; a server the delivery cannot reach now is
// not waited for.
class CServiceHistoryDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CServiceHistoryDlg(CTarvikApp *app, QWidget *parent = nullptr);
    void Reload();
    void ShowMeters();
    bool ExportCsv();
    bool ExportReport();
    QLineEdit *Search() const { return m_search; }
    QTableWidget *Meters() const { return m_meters; }
    QTableWidget *Visits() const { return m_visits; }
    QLabel *Details() const { return m_details; }
    QLabel *Status() const { return m_status; }

private:
    void ShowVisits(int meterRow);
    void ShowDetails(int visitRow);
    std::vector<AuditRecord> MeterActions() const;

    CTarvikApp *m_app;
    QLineEdit *m_search = nullptr;
    QTableWidget *m_meters = nullptr;
    QTableWidget *m_visits = nullptr;
    QLabel *m_details = nullptr;
    QLabel *m_status = nullptr;
    std::vector<RecordsStore::Meter> m_all;
    std::vector<RecordsStore::Meter> m_shown;
    std::vector<RecordsStore::Visit> m_history;
};
