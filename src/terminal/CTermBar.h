#pragma once

#include <QWidget>

class ITermBarHost;
class QCheckBox;
class QLabel;
class QPushButton;

// The terminal window's bottom line: the Timestamp and Hex toggles, Capture (start and stop),
// Stop Paste while a paste is being sent, and the status: port and speed, the capture file,
// the paste's progress. Its buttons take the keyboard only through their Alt keys, never by a
// click, so typing still goes to the meter.
// A child of the terminal view (its parent widget, to which Escape gives the keyboard back),
// which tells it when to refresh.
class CTermBar : public QWidget
{
    Q_OBJECT
public:
    CTermBar(ITermBarHost *host, QWidget *screen);

    void Refresh();
    QCheckBox *TimestampBox() const { return m_timestamps; }
    QCheckBox *HexBox() const { return m_hex; }
    QPushButton *CaptureButton() const { return m_capture; }
    QPushButton *StopPasteButton() const { return m_stopPaste; }
    QLabel *StatusLabel() const { return m_status; }

    // The whole status text (the label shows it shortened to its width).
    QString StatusText() const { return m_statusText; }

protected:
    void resizeEvent(QResizeEvent *event) override;
    // Tab moves among the bar's buttons and the screen; Escape gives the keyboard back to the
    // screen.
    bool focusNextPrevChild(bool next) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void OnCapture();
    void ShowStatus();

    ITermBarHost *m_host;
    QWidget *m_screen;
    QCheckBox *m_timestamps = nullptr;
    QCheckBox *m_hex = nullptr;
    QPushButton *m_capture = nullptr;
    QPushButton *m_stopPaste = nullptr;
    QLabel *m_status = nullptr;
    QString m_statusText;
};
