#pragma once
// The pages of the service property sheet (ServiceSheet.h), each a CServicePage on one service
// of the console's copy (or a new one) with the sheet's existing flag. Every page loads its
// fields from the service under the service manager's lock when it is added, takes and checks
// its controls' values in Apply (FALSE keeps the sheet open and stores nothing), and writes its
// fields into the service in Store, which the sheet runs under the manager's lock (a change
// echoed by the engine may be loading into the same object on the session's thread).
//
// Controls that do not apply to the service's class are hidden; enabling follows the page's
// check boxes and radios as they are clicked. Ports are whole numbers from 0 to 65535.
// GUI thread only.

#include "console/PageBases.h"
#include "platform/framework/Object.h"

#include <functional>
#include <string>

class CMapping;
class CMappings;
class CServiceManager;
class QListWidget;
class QListWidgetItem;

// The mapping table of a TCP or UDP mapping service; null for any other class.
CRef<CMappings> GetServiceMappings(const CService& service);
// Gives a mapping service `mappings` in place of its table; nothing for any other class.
void SetServiceMappings(CService& service, CRef<CMappings> mappings);
// Whether the service offers the Non-proxy Requests page: the classes whose sessions act on
// requests meant for a server (web, FTP, POP3, RealAudio, VDOLive).
bool OffersNonProxyRequests(const CService& service);

// General (147): name, description, port and interface, and the class's own few settings.
class CServiceGeneralPage : public CServicePage {
    Q_OBJECT
public:
    explicit CServiceGeneralPage(CServiceManager& manager);

    // The saving exchange, then for a new service the name checks: a name that cannot become
    // a key path or a file name ("Invalid Service name"), or one an existing service holds in
    // any letter case ("Duplicate Service name").
    BOOL Apply() override;
    // Also sets the restart-needed flag exactly when a listening setting changed: Enabled,
    // PortNumber, SpecifiedInterfaceAddress, or InterfaceAddress while one is specified.
    void Store() override;
    // 1074 and 1070 are enabled only while 1191 is checked.
    void UpdateControls();

    std::string m_name, m_description, m_interface, m_delimiter, m_defaultHost;
    BOOL m_enabled = TRUE, m_specified = FALSE, m_critical = FALSE, m_defaultMapping = FALSE;
    BOOL m_allowAutodial = FALSE;
    DWORD m_port = 0, m_defaultPort = 0;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    CServiceManager& m_manager;
};

// Sessions (151): the idle time-out and the session limit.
class CServiceSessionsPage : public CServicePage {
    Q_OBJECT
public:
    explicit CServiceSessionsPage(CServiceManager& manager);
    BOOL Apply() override { return UpdateData(TRUE); }
    void Store() override;

    BOOL m_timeOutSessions = FALSE, m_limitSessions = FALSE;
    DWORD m_sessionTimeout = 0, m_sessionLimit = 0;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    CServiceManager& m_manager;
};

// Logging (160): LoggingEnabled and the LogOptions bits the page shows. Storing rebuilds
// LogOptions from the boxes alone, so bits without a box are dropped.
class CServiceLoggingPage : public CServicePage {
    Q_OBJECT
public:
    static const CBitBox kBoxes[9];

    explicit CServiceLoggingPage(CServiceManager& manager);
    BOOL Apply() override { return UpdateData(TRUE); }
    void Store() override;
    // The boxes are enabled only while "Do not log events" is not chosen.
    void UpdateControls();

    int m_loggingEnabled = 0;
    DWORD m_logOptions = 0;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    CServiceManager& m_manager;
};

// Connection (178): how the service's sessions connect outwards. The four radios give
// ConnectMethod 0, 1, 2 and 4; any other stored value shows as "Directly". A radio whose bit
// the class's supported-methods word lacks (0x1, 0x2, 0x4 for the last three) is disabled.
class CServiceConnectionPage : public CServicePage {
    Q_OBJECT
public:
    explicit CServiceConnectionPage(CServiceManager& manager);
    BOOL Apply() override { return UpdateData(TRUE); }
    void Store() override;
    // Server and port unless "Directly" is chosen; the SOCKS4 password only with SOCKS4.
    void UpdateControls();

    // The radio index of a ConnectMethod, and the ConnectMethod of a radio index.
    static int IndexOfMethod(DWORD method);
    static DWORD MethodOfIndex(int index);

    int m_method = 0;
    std::string m_server, m_password;
    DWORD m_port = 0;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    CServiceManager& m_manager;
    DWORD m_supported = 0;
};

// Non-proxy Requests (149): what the service does with a request meant for a server. The
// redirect, local-disk, cache and prepend controls are the web proxy's only.
class CServiceNonProxyPage : public CServicePage {
    Q_OBJECT
public:
    explicit CServiceNonProxyPage(CServiceManager& manager);
    BOOL Apply() override { return UpdateData(TRUE); }
    void Store() override;
    // Enabling by the chosen radio: Reject nothing; Pipe 1082, 1083, 1073, 1074 and 1078;
    // Redirect 1076; Serve from local disk 1081.
    void UpdateControls();

    int m_action = 0;
    std::string m_host, m_prependInfo, m_redirectURL, m_serverRoot;
    DWORD m_port = 0;
    BOOL m_cacheNonProxy = FALSE, m_prependResource = FALSE;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    CServiceManager& m_manager;
    bool m_web = false;
};

// SOCKS Advanced (164): the SOCKS service's own settings. The policy combo lists the web
// proxy services of the console's copy.
class CSOCKSAdvancedPage : public CServicePage {
    Q_OBJECT
public:
    explicit CSOCKSAdvancedPage(CServiceManager& manager);
    BOOL Apply() override { return UpdateData(TRUE); }
    void Store() override;
    // Without 1182 checked 1183, 1184, 1185 and 1188 are disabled; with it 1188 only while
    // "Use following policy" is chosen.
    void UpdateControls();

    BOOL m_refer = FALSE, m_cacheReferred = FALSE, m_reverseLookups = FALSE, m_rfc1929 = FALSE;
    int m_useSpecifiedPolicy = 0;
    std::string m_policy;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    CServiceManager& m_manager;
};

// Encryption (182): the link settings of a TCP mapping service (passwords in plain text; the
// engine scrambles them as it saves). For any other class the page loads and stores nothing.
class CServiceEncryptionPage : public CServicePage {
    Q_OBJECT
public:
    explicit CServiceEncryptionPage(CServiceManager& manager);
    BOOL Apply() override { return UpdateData(TRUE); }
    void Store() override;
    // 1106 and 1235 only while 1230 is checked; 1209 and 1210 only while 1230 is checked and
    // 1235 chosen; 1233 and 1234 only while 1231 is checked.
    void UpdateControls();

    BOOL m_encryptIn = FALSE, m_encryptOut = FALSE;
    int m_specifyUser = 0;
    std::string m_usernameIn, m_passwordIn, m_usernameOut, m_passwordOut;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    CServiceManager& m_manager;
};

// Mappings (165): list 1189 over a working copy of the service's mapping table, with Add
// (1190), Remove (1191) and a double-click that edits a mapping. Store puts a copy of the
// working table in place of the service's (its default mapping included, which the General
// page stores afterwards).
class CServiceMappingsPage : public CServicePage {
    Q_OBJECT
public:
    // Edits `mapping` in the mapping sheet, as a new mapping or an existing one; true on OK.
    // The page keeps the mapping either way.
    using MappingEditor = std::function<bool(QWidget* parent, CMapping& mapping, bool existing)>;
    // Replaces the editor every Mappings page opens for Add and double-clicks (the mapping
    // sheet); empty puts the mapping sheet back.
    static void SetMappingEditor(MappingEditor editor);

    explicit CServiceMappingsPage(CServiceManager& manager);
    ~CServiceMappingsPage() override;
    void Store() override;

    // Add: a new mapping edited; on OK it joins the end of the list and of the copy.
    void AddMapping();
    // Remove: the selected mapping leaves the list and the copy.
    void RemoveSelected();
    // A double-click on `item`: the mapping edited; on OK its text is replaced in place.
    void EditMapping(QListWidgetItem* item);

    QListWidget* List() const { return m_list; }
    const CRef<CMappings>& WorkingCopy() const { return m_copy; }

protected:
    BOOL OnInitDialog() override;

private:
    CServiceManager& m_manager;
    QListWidget* m_list;
    CRef<CMappings> m_copy;
};
