#include "base/CPrefs.h"

#include "base/AppTitle.h"

#include <QVariant>

namespace {
struct PrefKey
{
    const char *section;
    const char *entry;
};
constexpr PrefKey kVersion { "Version", "SELECTION" };
constexpr PrefKey kPort { "Port", "COM" };
constexpr PrefKey kBaud { "232Baud", "BAUD" };
constexpr PrefKey kMBPort { "MBPort", "MBCOM" };
constexpr PrefKey kMBBaud { "MBBaud", "MBBAUD" };
constexpr PrefKey kParity { "485Parity", "PARITY" };

QString ReadOr(QSettings &store, const PrefKey &key, const char *fallback)
{
    const QString value
        = CPrefs::ReadText(store, QLatin1String(key.section), QLatin1String(key.entry));
    return value.isEmpty() ? QString::fromLatin1(fallback) : value;
}

void Write(QSettings &store, const PrefKey &key, const QString &value)
{
    store.setValue(QLatin1String(key.section) + QLatin1Char('/') + QLatin1String(key.entry), value);
}
} // namespace

CPrefs::CPrefs()
{
    auto store = OpenStore();
    m_version = ReadOr(*store, kVersion, kDefaultVersion);
    m_port = ReadOr(*store, kPort, kDefaultPort);
    m_baud = ReadOr(*store, kBaud, kDefaultBaud);
    m_mbPort = ReadOr(*store, kMBPort, kDefaultMBPort);
    m_mbBaud = ReadOr(*store, kMBBaud, kDefaultMBBaud);
    m_parity = ReadOr(*store, kParity, kDefaultParity);
}

CPrefs::~CPrefs()
{
    auto store = OpenStore();
    Write(*store, kVersion, m_version);
    Write(*store, kPort, m_port);
    Write(*store, kBaud, m_baud);
    Write(*store, kMBPort, m_mbPort);
    Write(*store, kMBBaud, m_mbBaud);
    Write(*store, kParity, m_parity);
    store->sync();
}

void CPrefs::SetVersion(const QString &version)
{
    m_version = version;
}

std::unique_ptr<QSettings> CPrefs::OpenStore()
{
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
        QStringLiteral("Tarvik"), QString::fromLatin1(kAppTitle));
}

QString CPrefs::ReadText(QSettings &store, const QString &section, const QString &entry)
{
    const QVariant value = store.value(section + QLatin1Char('/') + entry);
    // A hand-edited store may hold a list or other non-text value: that reads as empty.
    if (value.typeId() != QMetaType::QString && value.typeId() != QMetaType::QByteArray)
        return QString();
    return value.toString();
}

QString CPrefs::DeviceName(const QString &portPreference)
{
    // A device path ("/dev/ttyUSB0") is cut at a blank only: cutting it at its first "/" would
    // leave no name at all for the port's lock.
    const bool isPath = portPreference.startsWith(QLatin1Char('/'));
    qsizetype end = portPreference.size();
    for (qsizetype i = 0; i < portPreference.size(); ++i) {
        const QChar c = portPreference.at(i);
        if ((c == QLatin1Char('/') && !isPath) || c == QLatin1Char(' ')) {
            end = i;
            break;
        }
    }
    return portPreference.left(end);
}
