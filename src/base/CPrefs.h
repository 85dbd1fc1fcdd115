#pragma once

#include <QSettings>
#include <QString>

#include <memory>

// The six preferences as a value object: read with their defaults when created, all written
// back when it ends. Callers keep one on the stack for the length of one action (start-up,
// opening or applying a settings page).
class CPrefs
{
public:
    CPrefs();
    ~CPrefs();
    CPrefs(const CPrefs &) = delete;
    CPrefs &operator=(const CPrefs &) = delete;

    QString GetVersion() const { return m_version; }
    void SetVersion(const QString &version);
    QString GetPort() const { return m_port; }
    void SetPort(const QString &port) { m_port = port; }
    QString GetBaud() const { return m_baud; }
    void SetBaud(const QString &baud) { m_baud = baud; }
    QString GetMBPort() const { return m_mbPort; }
    void SetMBPort(const QString &port) { m_mbPort = port; }
    QString GetMBBaud() const { return m_mbBaud; }
    void SetMBBaud(const QString &baud) { m_mbBaud = baud; }
    QString GetParity() const { return m_parity; }
    void SetParity(const QString &parity) { m_parity = parity; }

    // The per-user store: organisation "Tarvik", application "Tarvik V2.16", INI format.
    static std::unique_ptr<QSettings> OpenStore();
    // A stored text value, empty when missing or not a plain text.
    static QString ReadText(QSettings &store, const QString &section, const QString &entry);
    // The device name a port preference gives a port object: the text up to the first "/" or
    // blank ("COM1/HS" gives "COM1"); a device path is cut at a blank only.
    static QString DeviceName(const QString &portPreference);

    static constexpr const char *kDefaultVersion = "4.0A";
    static constexpr const char *kDefaultPort = "COM1";
    static constexpr const char *kDefaultBaud = "9600";
    static constexpr const char *kDefaultMBPort = "COM1";
    static constexpr const char *kDefaultMBBaud = "9600";
    static constexpr const char *kDefaultParity = "1 8 EVEN 1";

private:
    QString m_version;
    QString m_port;
    QString m_baud;
    QString m_mbPort;
    QString m_mbBaud;
    QString m_parity;
};
