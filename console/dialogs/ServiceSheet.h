#pragma once
// The service property sheet CEditServiceSheet (dialog 146): one sheet for every service class,
// whose pages follow the service's class (ServicePages.h). It edits a service of the console's
// copy in place, or a new service that a New service command made, and sends the change.
//
// Pages, in tab order, each only where it applies: General; SOCKS Advanced (a SOCKS service);
// Mappings (a mapping service); Sessions; Policies (the service's rights); Non-proxy Requests
// (web, FTP, POP3, RealAudio, VDOLive); Encryption (a TCP mapping service); Connection (a TCP
// service whose class offers an upstream method); Logging.
//
// OK takes and checks every page in this order: Mappings, General, Sessions, Policies, Logging,
// SOCKS Advanced, Connection, Non-proxy Requests, Encryption; the first refusal keeps the sheet open
// and stores nothing. Then every page stores in that order under the service manager's lock
// (Mappings before General, whose default mapping goes into the table the Mappings page put
// in place). On-line, an existing service is sent as request 34 with its name, a new one as
// request 32 with its name and the object, which the request then owns; the engine's echo
// brings it into the copy. Off-line a new service queues nothing and is freed with the sheet.
//
// Cancel stores nothing and frees a new service. GUI thread only.

#include "console/TabSheetDlg.h"
#include "console/dialogs/PoliciesPage.h"
#include "console/dialogs/ServicePages.h"
#include "engine/framework/Service.h"

struct CConfigurationDialogs;

class CEditServiceSheet : public CObjectSheetDlg<CService> {
    Q_OBJECT
public:
    // Properties of `service` (a service of `manager`) when `existing`, else a new service
    // that the sheet owns until OK.
    CEditServiceSheet(CRef<CService> service, bool existing, QWidget* parent = nullptr);
    CEditServiceSheet(CRef<CService> service, bool existing, CServiceManager& manager, QWidget* parent = nullptr);
    ~CEditServiceSheet() override;

    CServiceGeneralPage m_generalPage;
    CSOCKSAdvancedPage m_socksPage;
    CServiceMappingsPage m_mappingsPage;
    CServiceSessionsPage m_sessionsPage;
    CPoliciesPage m_policiesPage;
    CServiceNonProxyPage m_nonProxyPage;
    CServiceEncryptionPage m_encryptionPage;
    CServiceConnectionPage m_connectionPage;
    CServiceLoggingPage m_loggingPage;

protected:
    void OnInitDialog() override;
    std::vector<CTabPage*> ApplyOrder() const override;
    void StoreUnderLock(const std::function<void()>& storeAll) override;
    void OnApplied() override;

private:
    CServiceManager& m_manager;
    CRef<CService> m_service;  // an existing service, held while the sheet is open
};

// The configuration tree's entry points: Properties of `service` (of the console's copy) and
// a New service command's `service`. Each answers QDialog::Accepted or Rejected.
int EditServiceProperties(QWidget* parent, CRef<CService> service);
int NewService(QWidget* parent, CRef<CService> service);

// Installs the service sheet as the configuration tree's opener.
void AddServiceDialogs(CConfigurationDialogs& dialogs);
