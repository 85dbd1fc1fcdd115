#pragma once

#include <QWidget>

class CTermDoc;
class CTermView;
class QCheckBox;
class QLabel;
class QPushButton;

// The terminal window's bottom line: the Timestamp and Hex toggles, Capture (start and stop),
// Stop Paste while a paste is being sent, and the status: port and speed, the capture file,
// the paste's progress. Its buttons take the keyboard only through their Alt keys, never by a
// click, so typing still goes to the meter.
// Owned by the terminal view, which tells it when to refresh.
class CTermBar : public QWidget
{
    Q_OBJECT
public:
    explicit CTermBar(CTermView *view);

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

    CTermView *m_view;
    QCheckBox *m_timestamps = nullptr;
    QCheckBox *m_hex = nullptr;
    QPushButton *m_capture = nullptr;
    QPushButton *m_stopPaste = nullptr;
    QLabel *m_status = nullptr;
    QString m_statusText;
};
