#include "datalog/TransferNotice.h"

#include "base/UserMessage.h"
#include "datalog/LogFileWriter.h"

#include <QFile>
#include <QFileInfo>

#include <utility>

TransferNotice::TransferNotice(QString path, QString partial, bool inPlace, LogFileWriter &file,
    const int &received, int count)
    : m_path(std::move(path))
    , m_partial(std::move(partial))
    , m_inPlace(inPlace)
    , m_file(file)
    , m_received(received)
    , m_count(count)
    , m_pathExisted(QFileInfo::exists(m_path))
{
}

TransferNotice::~TransferNotice()
{
    if (m_done)
        return;
    const QString title = QString::fromLatin1(LogFileWriter::kDatalogErrorTitle);
    if (!m_failure.isEmpty()) {
        UserMessage::ShowLater(m_failure, title);
        return;
    }
    QString text = m_failed ? QStringLiteral("The transfer of the meter's log was cut short.")
                            : QStringLiteral("The transfer of the meter's log was cancelled.");
    if (m_inPlace) {
        // Written straight to a FIFO or terminal: what arrived went there as it came.
        text += QStringLiteral("\n%1 got what arrived (%2 of %3 bytes).")
                    .arg(m_path)
                    .arg(m_received)
                    .arg(m_count);
    } else {
        text += QLatin1Char('\n') + FileLeft();
        if (m_received > 0) {
            text += QStringLiteral("; what arrived (%1 of %2 bytes) is kept in %3.")
                        .arg(m_received)
                        .arg(m_count)
                        .arg(m_partial);
        } else {
            // Only the file's own header: nothing of the log to keep.
            m_file.Close();
            QFile::remove(m_partial);
            text += QStringLiteral("; nothing of the log had arrived.");
        }
    }
    if (m_failed)
        UserMessage::ShowLater(text, title);
    else
        UserMessage::InformLater(text);
}

QString TransferNotice::FileLeft() const
{
    return (m_pathExisted ? QStringLiteral("%1 is left as it was")
                          : QStringLiteral("Nothing was written to %1"))
        .arg(m_path);
}
