#include "app/CAppServices.h"

#include "app/CDocManager.h"
#include "base/CChildFrame.h"

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

CDocument *CAppServices::OpenDocumentAt(const QString &path)
{
    return m_manager ? m_manager->FindOpenDocument(path) : nullptr;
}
