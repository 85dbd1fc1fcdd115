#include "app/CAppServices.h"

#include "app/CDocManager.h"
#include "base/CChildFrame.h"
#include "terminal/CTermView.h"

CAppServices::CAppServices(CDocManager *manager, LinkGetter link, ModbusGetter modbus)
    : m_manager(manager)
    , m_link(std::move(link))
    , m_modbus(std::move(modbus))
{
}

CSerial *CAppServices::MeterLink()
{
    return m_link ? m_link() : nullptr;
}

mbCSerial *CAppServices::ModbusPort()
{
    return m_modbus ? m_modbus() : nullptr;
}

CDocument *CAppServices::OpenDocument(const QString &path, bool addToRecent)
{
    return m_manager ? m_manager->OpenDocumentFile(path, addToRecent) : nullptr;
}

CView *CAppServices::FirstViewOf(CDocument *document)
{
    if (!m_manager || !document)
        return nullptr;
    const QList<CChildFrame *> frames = m_manager->FramesOf(document);
    return frames.isEmpty() ? nullptr : frames.first()->View();
}

void CAppServices::AddToRecentFiles(const QString &path)
{
    if (m_manager)
        m_manager->AddToRecentFiles(path);
}

bool CAppServices::TerminalOpenOn(const CSerial *link)
{
    if (!m_manager || !link)
        return false;
    for (CDocument *document : m_manager->Documents()) {
        for (CChildFrame *frame : m_manager->FramesOf(document)) {
            const auto *terminal = qobject_cast<const CTermView *>(frame->View());
            if (terminal && terminal->Link() == link)
                return true;
        }
    }
    return false;
}

CDocument *CAppServices::OpenDocumentAt(const QString &path)
{
    return m_manager ? m_manager->FindOpenDocument(path) : nullptr;
}
