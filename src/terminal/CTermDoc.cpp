#include "terminal/CTermDoc.h"

#include <QFile>
#include <QFileInfo>
#include <QTime>

CTermDoc::CTermDoc(QObject *parent)
    : CDocument(parent)
{
}

bool CTermDoc::OnOpenDocument(const QString &path)
{
    if (!CDocument::OnOpenDocument(path))
        return false;
    m_screen.Reset();
    m_display.Screen().Reset();
    UpdateViews();
    return true;
}

bool CTermDoc::OnSaveDocument(const QString &path)
{
    // The terminal stores nothing, so Save leaves an empty file behind. An existing file is
    // opened for appending, not truncated: "Save As" onto another document's file must not
    // wipe it for a document that has nothing to write.
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    file.close();
    return true;
}

const TermScreen &CTermDoc::ShownScreen() const
{
    return m_display.Active() ? m_display.Screen() : m_screen;
}

void CTermDoc::SetTimestamps(bool on)
{
    m_display.SetTimestamps(on);
    m_screen.TakeRepaint();
    Q_EMIT ScreenChanged({ QRect(0, 0, TermScreen::kColumns, TermScreen::kRows) });
    Q_EMIT TerminalStateChanged();
}

void CTermDoc::SetHex(bool on)
{
    m_display.SetHex(on);
    m_screen.TakeRepaint();
    Q_EMIT ScreenChanged({ QRect(0, 0, TermScreen::kColumns, TermScreen::kRows) });
    Q_EMIT TerminalStateChanged();
}

void CTermDoc::StartTick()
{
    m_screen.StartTick();
    m_display.StartTick();
}

bool CTermDoc::Receive(const QByteArray &bytes, const QTime &now, QString *error)
{
    m_display.Record(bytes, now);
    QByteArray shown;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        m_screen.Put(byte);
        if (m_display.Active())
            shown += m_display.Put(byte, now);
    }
    UpdateViews();
    if (!m_capture.IsOn())
        return true;
    const bool written = m_capture.Write(bytes, m_display.Active() ? shown : bytes, error);
    if (!written)
        Q_EMIT TerminalStateChanged();
    return written;
}

void CTermDoc::UpdateViews()
{
    // Both screens collect their changes; only the one shown is repainted.
    TermScreen &shown = m_display.Active() ? m_display.Screen() : m_screen;
    TermScreen &hidden = m_display.Active() ? m_screen : m_display.Screen();
    hidden.TakeRepaint();
    if (!shown.HasRepaint())
        return;
    Q_EMIT ScreenChanged(shown.TakeRepaint());
}

QString CTermDoc::StatusText(const QString &port, const QString &baud, const QString &notOpen,
    qsizetype pasteSent, qsizetype pasteTotal) const
{
    QString text = QStringLiteral("%1  %2 baud").arg(port, baud);
    if (!notOpen.isEmpty())
        text += QStringLiteral(" (%1)").arg(notOpen);
    if (m_capture.IsOn())
        text += QStringLiteral("  |  Capturing to %1").arg(QFileInfo(m_capture.Path()).fileName());
    if (pasteTotal > 0)
        text += QStringLiteral("  |  Pasting %1 of %2").arg(pasteSent).arg(pasteTotal);
    return text;
}
