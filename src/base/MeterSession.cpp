#include "base/MeterSession.h"

MeterSession::MeterSession(QObject *parent)
    : QObject(parent)
{
}

bool MeterSession::Assign(QString &member, const QString &value)
{
    if (member == value)
        return false;
    member = value;
    return true;
}

void MeterSession::SetModel(const QString &model)
{
    if (Assign(m_model, model))
        Q_EMIT Changed();
}

void MeterSession::SetVersion(const QString &version)
{
    if (Assign(m_version, version))
        Q_EMIT Changed();
}

void MeterSession::SetRevision(const QString &revision)
{
    if (Assign(m_revision, revision))
        Q_EMIT Changed();
}

void MeterSession::SetRange(const QString &range)
{
    if (Assign(m_range, range))
        Q_EMIT Changed();
}

void MeterSession::SetSerial(const QString &serial)
{
    if (Assign(m_serial, serial))
        Q_EMIT Changed();
}

void MeterSession::SetIdentity(
    const QString &model, const QString &version, const QString &revision, const QString &range)
{
    // Every member is assigned, not only up to the first that changed.
    bool changed = Assign(m_model, model);
    changed = Assign(m_version, version) || changed;
    changed = Assign(m_revision, revision) || changed;
    changed = Assign(m_range, range) || changed;
    if (changed)
        Q_EMIT Changed();
}

void MeterSession::Clear()
{
    SetIdentity(QString(), QString(), QString(), QString());
    SetSerial(QString());
}
