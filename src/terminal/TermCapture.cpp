#include "terminal/TermCapture.h"

bool TermCapture::Start(const QString &path, Mode mode, QString *error)
{
    Stop();
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        if (error)
            *error = QStringLiteral("Cannot capture to %1:\n%2").arg(path, m_file.errorString());
        m_file.setFileName(QString());
        return false;
    }
    m_mode = mode;
    m_written = 0;
    return true;
}

void TermCapture::Stop()
{
    if (m_file.isOpen())
        m_file.close();
}

bool TermCapture::Write(const QByteArray &received, const QByteArray &shown, QString *error)
{
    if (!IsOn())
        return true;
    const QByteArray bytes = m_mode == Mode::Raw ? received : ShownText(shown);
    if (bytes.isEmpty())
        return true;
    const qint64 done = m_file.write(bytes);
    if (done != bytes.size()) {
        if (error) {
            *error = QStringLiteral("Capture to %1 stopped:\n%2")
                         .arg(m_file.fileName(), m_file.errorString());
        }
        if (done > 0)
            m_written += done;
        Stop();
        return false;
    }
    m_written += done;
    return true;
}

QByteArray TermCapture::ShownText(const QByteArray &shown)
{
    QByteArray text;
    text.reserve(shown.size());
    for (const char c : shown) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\n' || (byte >= 0x20 && byte != 0x7F))
            text += c;
    }
    return text;
}
