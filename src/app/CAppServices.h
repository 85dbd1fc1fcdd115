#pragma once

#include "base/AppServices.h"
#include "base/MeterSession.h"

#include <functional>

class CDocManager;

// The application's services over its document manager, its two ports and the session of the
// connected meter. CTarvikApp installs one at start-up; tests that run a document manager of
// their own install one around it.
class CAppServices : public AppServices
{
public:
    using LinkGetter = std::function<CSerial *()>;
    using ModbusGetter = std::function<mbCSerial *()>;

    CAppServices(CDocManager *manager, LinkGetter link = {}, ModbusGetter modbus = {});

    CSerial *MeterLink() override;
    mbCSerial *ModbusPort() override;
    CDocument *OpenDocument(const QString &path, bool addToRecent = true) override;
    CView *FirstViewOf(CDocument *document) override;
    void AddToRecentFiles(const QString &path) override;
    CDocument *OpenDocumentAt(const QString &path) override;
    MeterSession *Session() override { return &m_session; }

private:
    CDocManager *m_manager = nullptr;
    LinkGetter m_link;
    ModbusGetter m_modbus;
    // What the connected meter said about itself, for every window of the application.
    MeterSession m_session;
};
