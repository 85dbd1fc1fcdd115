#pragma once

#include <QObject>
#include <QPointer>

class MqttPublisher;
class QLabel;
class QMainWindow;
class QStatusBar;
class RecordsDelivery;

// What the main window's status bar shows beside the prompts: "Ready" whenever no prompt is
// up, the MQTT field (the broker's state and the queue's length) and the CAP, NUM and SCRL
// indicators, lit while their lock is on, and the service records still waiting in the trail.
class StatusIndicators : public QObject
{
    Q_OBJECT
public:
    // publisher and records (either may be null) are the application's, followed while they last.
    StatusIndicators(QMainWindow *frame, MqttPublisher *publisher, RecordsDelivery *records);

    // Hidden while publishing is off and nothing is queued.
    QLabel *PublishLabel() const { return m_publishLabel; }
    // Hidden while every line of the audit trail is in the service records.
    QLabel *RecordsLabel() const { return m_recordsLabel; }
    // Follows a lock key pressed in the program: true when key was one of the three.
    bool OnLockKey(int key);

private:
    void ShowPublishing();
    void ShowRecords();
    void UpdateLockIndicators();

    QPointer<MqttPublisher> m_publisher;
    QPointer<RecordsDelivery> m_records;
    QStatusBar *m_statusBar;
    QLabel *m_publishLabel = nullptr;
    QLabel *m_recordsLabel = nullptr;
    QLabel *m_capsLabel = nullptr;
    QLabel *m_numLabel = nullptr;
    QLabel *m_scrollLabel = nullptr;
    bool m_capsOn = false;
    bool m_numOn = false;
    bool m_scrollOn = false;
};
