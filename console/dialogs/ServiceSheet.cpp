#include "console/dialogs/ServiceSheet.h"

#include "console/ChildDialog.h"
#include "console/ConsoleIds.h"
#include "console/ConsoleImages.h"
#include "console/ConsoleSession.h"
#include "console/ConsoleTexts.h"
#include "console/MessageBox.h"
#include "console/WardenhallView.h"
#include "console/session/ConsoleConfiguration.h"
#include "engine/NorvaneEngine.h"
#include "engine/framework/ServiceManager.h"
#include "engine/framework/TCPService.h"
#include "foundation/Format.h"
#include "foundation/ScopedLock.h"
#include "proxies/mapping/TCPMappingService.h"
#include "proxies/socks/SOCKSService.h"
#include "remote/RCPOperations.h"

CEditServiceSheet::CEditServiceSheet(CRef<CService> service, bool existing, QWidget* parent)
    : CEditServiceSheet(std::move(service), existing, theConfiguration.GetServiceManager(), parent) {}

CEditServiceSheet::CEditServiceSheet(CRef<CService> service, bool existing, CServiceManager& manager,
                                     QWidget* parent)
    : CObjectSheetDlg(ConsoleIds::kEditServiceSheet, parent),
      m_generalPage(manager),
      m_socksPage(manager),
      m_mappingsPage(manager),
      m_sessionsPage(manager),
      m_nonProxyPage(manager),
      m_encryptionPage(manager),
      m_connectionPage(manager),
      m_loggingPage(manager),
      m_manager(manager) {
    if (existing) {
        m_service = service;
        SetObject(service.Get(), TRUE);
    } else {
        SetObject(service.Detach(), FALSE);
    }
}

CEditServiceSheet::~CEditServiceSheet() = default;

void CEditServiceSheet::OnInitDialog() {
    setWindowIcon(ConsoleImages::Image(ConsoleIds::kServiceImage));
    CService* service = GetObject();
    if (service == nullptr)
        return;
    auto* tcp = dynamic_cast<CTCPService*>(service);
    const std::pair<CServicePage*, bool> pages[] = {
        {&m_generalPage, true},
        {&m_socksPage, dynamic_cast<CSOCKSService*>(service) != nullptr},
        {&m_mappingsPage, service->HasMappings() != FALSE},
        {&m_sessionsPage, true},
        {&m_policiesPage, true},
        {&m_nonProxyPage, OffersNonProxyRequests(*service)},
        {&m_encryptionPage, dynamic_cast<CTCPMappingService*>(service) != nullptr},
        {&m_connectionPage, tcp != nullptr && tcp->GetSupportedMethods() != 0},
        {&m_loggingPage, true},
    };
    for (const auto& [page, applies] : pages) {
        if (!applies)
            continue;
        page->SetObject(service, IsExisting());
        TabSheet().AddPage(page);
    }
    CScopedLock lock(m_manager);
    setWindowTitle(ToDisplay(FormatText(ConsoleTexts::kServiceSheetCaption, service->GetName().c_str())));
}

std::vector<CTabPage*> CEditServiceSheet::ApplyOrder() const {
    using namespace ConsoleIds;
    static constexpr int kOrder[] = {kServiceMappingsPage, kServiceGeneralPage,    kServiceSessionsPage,
                                     kPoliciesPage, kServiceLoggingPage,    kSOCKSAdvancedPage,
                                     kServiceConnectionPage, kServiceNonProxyPage, kServiceEncryptionPage};
    std::vector<CTabPage*> order;
    for (int templateId : kOrder) {
        for (int index = 0; index < TabSheet().GetPageCount(); ++index) {
            CTabPage* page = TabSheet().GetPage(index);
            if (page != nullptr && page->GetTemplateId() == templateId)
                order.push_back(page);
        }
    }
    return order;
}

void CEditServiceSheet::StoreUnderLock(const std::function<void()>& storeAll) {
    CScopedLock lock(m_manager);
    storeAll();
}

void CEditServiceSheet::OnApplied() {
    // A new service stays the sheet's too until the sheet goes (its pages still point at it);
    // off-line nothing else holds it, so it goes with the sheet.
    IConsoleSession& session = ConsoleSession();
    if (!session.IsOnline())
        return;
    CService* service = GetObject();
    std::string name;
    {
        CScopedLock lock(m_manager);
        name = service->GetName();
    }
    if (IsExisting())
        session.QueueMessage(RCPOperations::kModifyService, name, {}, {});
    else
        session.QueueRequest(RCPOperations::kAddService, name, CRef<CObject>(service));
}

int EditServiceProperties(QWidget* parent, CRef<CService> service) {
    CEditServiceSheet sheet(std::move(service), true, parent);
    return ExecChildDialog(sheet);
}

int NewService(QWidget* parent, CRef<CService> service) {
    CEditServiceSheet sheet(std::move(service), false, parent);
    return ExecChildDialog(sheet);
}

void AddServiceDialogs(CConfigurationDialogs& dialogs) {
    dialogs.serviceSheet = [](QWidget* parent, CRef<CService> service, bool isNew) {
        if (!service)
            return;
        if (isNew)
            NewService(parent, std::move(service));
        else
            EditServiceProperties(parent, std::move(service));
    };
}
