#pragma once

#include <QObject>
#include <QString>

// What the connected meter said about itself: model, firmware version, revision, active range
// and serial number. One object per application (CTarvikApp owns it, AppServices lends it); the
// terminal's identification scan, the datalogger's and the forms' reads write it, and the forms
// follow Changed instead of looking at it on a clock.
class MeterSession : public QObject
{
    Q_OBJECT
public:
    explicit MeterSession(QObject *parent = nullptr);

    QString Model() const { return m_model; }
    QString Version() const { return m_version; }
    QString Revision() const { return m_revision; }
    QString Range() const { return m_range; }
    QString Serial() const { return m_serial; }

    void SetModel(const QString &model);
    void SetVersion(const QString &version);
    void SetRevision(const QString &revision);
    void SetRange(const QString &range);
    void SetSerial(const QString &serial);
    // Model, version, revision and range at once, with one Changed when any of them differs.
    void SetIdentity(const QString &model, const QString &version, const QString &revision,
        const QString &range);
    // Nothing known (no meter heard yet).
    void Clear();

Q_SIGNALS:
    void Changed();

private:
    bool Assign(QString &member, const QString &value);

    QString m_model;
    QString m_version;
    QString m_revision;
    QString m_range;
    QString m_serial;
};
