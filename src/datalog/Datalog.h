#pragma once

#include "base/CView.h"
#include "datalog/DatalogCore.h"
#include "datalog/IDatalogSink.h"

#include <QPointer>

#include <array>
#include <functional>

class CElogGraph;
class CSerial;
class LogListModel;
class QCheckBox;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QRadioButton;

// The datalogger form ("Z-OZUVED PC and Flow Meter DataLogger"): PC logging, the meter's own
// logger, log transfer and LOAD. A thin binding of widgets to a DatalogCore, which holds the
// logic: every edit writes its field into the core, every button calls the core,
// and the core's sink calls refresh the widgets. The meter link is the application's.
class Datalog : public CView, public IDatalogSink
{
    Q_OBJECT
public:
    explicit Datalog(CDocument *document, CSerial *link = nullptr, QWidget *parent = nullptr);
    ~Datalog() override;

    void OnInitialUpdate() override;

    DatalogCore &Core() { return m_core; }
    // While PC logging or a log transfer runs the user is asked first (default No); logging
    // stops when the window goes, a transfer ends where it is.
    bool CanClose() override;
    static constexpr const char *kCloseWhileTransferringText
        = "The meter's log is being transferred. Closing now stops the transfer before the log "
          "is whole.\n\nClose anyway?";
    // GRAPH E-LOG: the graph of the snapshot list, when it holds more than two entries. While PC
    // logging runs it opens the live graph instead, which grows with each snapshot.
    void OnGraph();
    CElogGraph *LiveGraph() const;
    // What an exported graph names as its log.
    QString GraphLogName() const;
    // EXPORT CSV: the log shown (PC log, transferred or loaded) written as CSV to a file the user
    // names (through the file prompt in force).
    void OnExportCsv();
    // Browse beside E-LOG FILENAME: a Save dialog names the log to write, which becomes the
    // file name (".log" added); an existing file only after the user agreed (kTakeExistingText,
    // %1 the file).
    void OnBrowse();
    // LOAD: with no log named, the file prompt (an Open dialog) chooses one that exists first.
    void OnLoad();
    static constexpr const char *kTakeExistingText
        = "%1 already exists.\nSTART (PC) empties it and a log read from the meter replaces it; "
          "LOAD reads it.\nUse this file?";
    // Asks for a log file's name (an existing one to load or a new one to log into), starting
    // from current; empty when cancelled. The default shows the file dialog; tests install
    // their own. Gives back the prompt it replaces.
    using FilePrompt = std::function<QString(QWidget *parent, const QString &current)>;
    static FilePrompt SetFilePrompt(FilePrompt prompt);

    // Controls, for tests and the benchmark.
    enum Button {
        StartPc,
        StopPc,
        TransferLog,
        SendConfig,
        ReadConfig,
        StartMeter,
        StopMeter,
        Load,
        Update,
        Clear,
        Graph,
        Cancel,
        Browse,
        ExportCsv,
        ButtonCount
    };
    QPushButton *ButtonOf(Button b) const { return m_buttons[b]; }
    QCheckBox *OptionBox(int option) const { return m_options[option]; }
    QCheckBox *TimerBox() const { return m_timerEnabled; }
    QLabel *StatusLabel() const { return m_status; }
    QLabel *ModeLabel() const { return m_mode; }
    QLabel *ProgressLabel() const { return m_progress; }
    QLabel *CapacityLabel() const { return m_capacity; }
    QLineEdit *FileNameEdit() const { return m_fileName; }
    QListView *ListViewOf(LogData::List list) const { return m_listViews[list]; }
    QRadioButton *RelayIndicator(int relay) const { return relay == 1 ? m_relay1 : m_relay2; }

    // IDatalogSink
    void StatusChanged(const QString &status, const QString &mode) override;
    void FieldsChanged() override;
    void ListsReset() override;
    void ListAppended(LogData::List list) override;
    void FocusStopButton() override;
    void ProgressChanged(const QString &progress) override;
    void DialogueRunning(bool running) override;

private:
    // The file prompt of Browse: true when a file was taken.
    bool ChooseFile();
    // A name typed in E-LOG FILENAME without ".log" gets it, asked about as Browse asks; true
    // when the (completed) name is taken.
    bool CompleteTypedName();
    QLineEdit *AddEdit(QString *field, bool readOnly);
    void BuildForm();

    DatalogCore m_core;
    bool m_shown = false;

    std::array<QPushButton *, ButtonCount> m_buttons {};
    std::array<QCheckBox *, 8> m_options {};
    QCheckBox *m_timerEnabled = nullptr;
    QLabel *m_status = nullptr;
    QLabel *m_mode = nullptr;
    QLabel *m_progress = nullptr;
    QLabel *m_capacity = nullptr;
    QLineEdit *m_fileName = nullptr;
    QRadioButton *m_relay1 = nullptr;
    QRadioButton *m_relay2 = nullptr;
    // Each edit and the field it shows.
    std::vector<std::pair<QLineEdit *, QString *>> m_edits;
    std::array<QListView *, 3> m_listViews {};
    std::array<LogListModel *, 3> m_models {};
    // The live graph of the running PC log, and how many snapshot entries it has been given.
    QPointer<CElogGraph> m_liveGraph;
    qsizetype m_liveFed = 0;
};
