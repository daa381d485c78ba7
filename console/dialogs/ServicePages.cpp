#include "console/dialogs/ServicePages.h"

#include "console/ConsoleIds.h"
#include "console/ConsoleTexts.h"
#include "console/Controls.h"
#include "console/ChildDialog.h"
#include "console/MessageBox.h"
#include "console/dialogs/MappingSheet.h"
#include "console/dialogs/UserDialogKit.h"
#include "engine/framework/ServiceManager.h"
#include "foundation/RegistryStore.h"
#include "foundation/ScopedLock.h"
#include "platform/kernel/Paths.h"
#include "proxies/dns/DNSService.h"
#include "proxies/mapping/Mapping.h"
#include "proxies/mapping/Mappings.h"
#include "proxies/mapping/TCPMappingService.h"
#include "proxies/mapping/UDPMappingService.h"
#include "proxies/pop3/POP3Service.h"
#include "proxies/socks/SOCKSService.h"
#include "proxies/web/WWWService.h"
#include "remote/RemoteControlService.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

using UserDialogKit::MakeListBox;
using UserDialogKit::Numbered;

namespace {

constexpr DWORD kMaxPort = 65535;

QLineEdit* Edit(int id, bool password = false) {
    auto* edit = Numbered(new QLineEdit, id);
    if (password)
        edit->setEchoMode(QLineEdit::Password);
    return edit;
}

QLineEdit* PortEdit(int id) {
    QLineEdit* edit = Edit(id);
    edit->setMaximumWidth(70);
    return edit;
}

// A check box or radio that runs `update` when clicked.
template <class Button>
Button* Clicking(Button* button, int id, QWidget* page, const std::function<void()>& update) {
    Numbered(button, id);
    QObject::connect(button, &QAbstractButton::clicked, page, [update] { update(); });
    return button;
}

// The radios `rows` (id, text) in one exclusive group, each running `update` when clicked.
std::vector<QRadioButton*> Radios(QWidget* page, std::initializer_list<std::pair<int, const char*>> rows,
                                  const std::function<void()>& update) {
    auto* group = new QButtonGroup(page);
    std::vector<QRadioButton*> radios;
    for (const auto& [id, text] : rows) {
        auto* radio = Clicking(new QRadioButton(text), id, page, update);
        group->addButton(radio);
        radios.push_back(radio);
    }
    return radios;
}

QHBoxLayout* Row(std::initializer_list<QWidget*> widgets) {
    auto* row = new QHBoxLayout;
    for (QWidget* widget : widgets)
        row->addWidget(widget);
    row->addStretch();
    return row;
}

void EnableControls(const QWidget* page, std::initializer_list<int> ids, bool enabled) {
    for (int id : ids)
        EnableControl(page, id, enabled);
}

}  // namespace

CRef<CMappings> GetServiceMappings(const CService& service) {
    if (auto* tcp = dynamic_cast<const CTCPMappingService*>(&service))
        return tcp->GetMappings();
    if (auto* udp = dynamic_cast<const CUDPMappingService*>(&service))
        return udp->GetMappings();
    return {};
}

void SetServiceMappings(CService& service, CRef<CMappings> mappings) {
    if (auto* tcp = dynamic_cast<CTCPMappingService*>(&service))
        tcp->SetMappings(std::move(mappings));
    else if (auto* udp = dynamic_cast<CUDPMappingService*>(&service))
        udp->SetMappings(std::move(mappings));
}

bool OffersNonProxyRequests(const CService& service) {
    // The base class answers TRUE for every class that does not say otherwise; the classes
    // without a settings page of their own (Telnet, mappings, DNS) never act on such requests.
    return service.HasNonProxyRequestOption() && service.HasExtraSettingsPage();
}

// --- General --------------------------------------------------------------------------------------

namespace General {
constexpr int kName = 1066, kDescription = 1067, kEnabled = 1071, kPort = 1068, kSpecified = 1073;
constexpr int kInterface = 1072, kCritical = 1091, kDelimiter = 1069, kDelimiterLabel = 1093;
constexpr int kDefaultGroup = 1192, kDefaultMapping = 1191, kDefaultHost = 1074, kDefaultPort = 1070;
constexpr int kServerLabel = 1094, kPortLabel = 1095, kAutodial = 1211;
}  // namespace General

CServiceGeneralPage::CServiceGeneralPage(CServiceManager& manager)
    : CServicePage(ConsoleIds::kServiceGeneralPage), m_manager(manager) {
    using namespace General;
    setWindowTitle("General");
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel("Service Name"), 0, 0);
    grid->addWidget(Edit(kName), 0, 1, 1, 3);
    grid->addWidget(new QLabel("Description"), 1, 0);
    grid->addWidget(Edit(kDescription), 1, 1, 1, 3);
    grid->addWidget(Numbered(new QCheckBox("Accept connections on port"), kEnabled), 2, 0);
    grid->addWidget(PortEdit(kPort), 2, 1);
    grid->addWidget(Numbered(new QCheckBox("Bind to specific interface"), kSpecified), 3, 0);
    grid->addWidget(Edit(kInterface), 3, 1);
    grid->addWidget(Numbered(new QCheckBox("Service must start even if this address is in use"), kCritical), 4, 0, 1, 4);
    grid->addWidget(Numbered(new QLabel("Delimiter character"), kDelimiterLabel), 5, 0);
    QLineEdit* delimiter = Edit(kDelimiter);
    delimiter->setMaximumWidth(30);
    grid->addWidget(delimiter, 5, 1);
    auto* mapping = Numbered(new QGroupBox("Default mapping"), kDefaultGroup);
    auto* mappingRow = new QHBoxLayout(mapping);
    mappingRow->addWidget(Clicking(new QCheckBox("Enable default mapping to"), kDefaultMapping, this,
                                   [this] { UpdateControls(); }));
    mappingRow->addWidget(Numbered(new QLabel("Server"), kServerLabel));
    mappingRow->addWidget(Edit(kDefaultHost));
    mappingRow->addWidget(Numbered(new QLabel("Port"), kPortLabel));
    mappingRow->addWidget(PortEdit(kDefaultPort));
    grid->addWidget(mapping, 6, 0, 1, 4);
    grid->addWidget(Numbered(new QCheckBox("Allow Request to initiate dialer"), kAutodial), 7, 0, 1, 4);
    grid->setRowStretch(8, 1);
}

BOOL CServiceGeneralPage::OnInitDialog() {
    using namespace General;
    const bool pop3 = dynamic_cast<CPOP3Service*>(m_object) != nullptr;
    const bool dns = dynamic_cast<CDNSService*>(m_object) != nullptr;
    const bool mapping = m_object->HasMappings() != FALSE;
    const bool remoteControl = dynamic_cast<CRemoteControlService*>(m_object) != nullptr;
    {
        CScopedLock lock(m_manager);
        const CService::Settings settings = m_object->GetSettings();
        m_name = settings.name;
        m_description = settings.description;
        m_enabled = settings.enabled;
        m_port = settings.portNumber;
        m_specified = settings.specifiedInterfaceAddress;
        m_interface = settings.interfaceAddress;
        m_critical = settings.criticalService;
        if (pop3)
            m_delimiter = std::string(1, static_cast<CPOP3Service*>(m_object)->GetDelimiter());
        if (dns)
            m_allowAutodial = static_cast<CDNSService*>(m_object)->GetAllowAutodial() != 0;
        if (CRef<CMappings> table = GetServiceMappings(*m_object)) {
            m_defaultMapping = table->GetAllowDefault() != 0;
            const CHostPort target = table->GetDefaultTarget();
            m_defaultHost = target.Host;
            m_defaultPort = target.Port;
        }
    }
    if (!CServicePage::OnInitDialog())
        return FALSE;
    for (int id : {kDelimiter, kDelimiterLabel})
        ShowControl(this, id, pop3);
    ShowControl(this, kAutodial, dns);
    for (int id : {kDefaultGroup, kDefaultMapping, kDefaultHost, kDefaultPort, kServerLabel, kPortLabel})
        ShowControl(this, id, mapping);
    EnableControl(this, kName, !m_existing);
    EnableControls(this, {kEnabled, kCritical}, !remoteControl);
    UpdateControls();
    return TRUE;
}

void CServiceGeneralPage::DoDataExchange(CDataExchange& dx) {
    using namespace General;
    DDX_Text(dx, kName, m_name);
    DDX_Text(dx, kDescription, m_description);
    DDX_Check(dx, kEnabled, m_enabled);
    DDX_UInt(dx, kPort, m_port, 0, kMaxPort);
    DDX_Check(dx, kSpecified, m_specified);
    DDX_Text(dx, kInterface, m_interface);
    DDX_Check(dx, kCritical, m_critical);
    if (dynamic_cast<CPOP3Service*>(m_object) != nullptr) {
        DDX_Text(dx, kDelimiter, m_delimiter);
        DDV_MaxChars(dx, kDelimiter, 1);
        if (dx.IsSaving() && m_delimiter.size() != 1)
            dx.Fail(dx.Control(kDelimiter), ConsoleTexts::kEnterOneCharacter);
    }
    if (m_object->HasMappings()) {
        DDX_Check(dx, kDefaultMapping, m_defaultMapping);
        DDX_Text(dx, kDefaultHost, m_defaultHost);
        DDX_UInt(dx, kDefaultPort, m_defaultPort, 0, kMaxPort);
    }
    if (dynamic_cast<CDNSService*>(m_object) != nullptr)
        DDX_Check(dx, kAutodial, m_allowAutodial);
}

void CServiceGeneralPage::UpdateControls() {
    using namespace General;
    EnableControls(this, {kDefaultHost, kDefaultPort}, IsControlChecked(this, kDefaultMapping));
}

BOOL CServiceGeneralPage::Apply() {
    if (!UpdateData(TRUE))
        return FALSE;
    if (m_existing)
        return TRUE;
    const char* text = nullptr;
    const char* title = nullptr;
    if (!IsSafeName(m_name)) {
        text = ConsoleTexts::kServiceNameUnusable;
        title = ConsoleTexts::kServiceNameInvalid;
    } else {
        // The store folds letter case, so "Web" and "web" would share one key.
        const std::string folded = RegFoldName(m_name);
        CScopedLock lock(m_manager);
        for (const auto& entry : m_manager) {
            if (RegFoldName(entry.first) == folded) {
                text = ConsoleTexts::kServiceNameTaken;
                title = ConsoleTexts::kServiceNameDuplicate;
                break;
            }
        }
    }
    if (text == nullptr)
        return TRUE;
    ConsoleMessageBox(this, text, title, MB::kIconStop);
    if (QWidget* name = FindControl(this, General::kName))
        name->setFocus(Qt::OtherFocusReason);
    return FALSE;
}

void CServiceGeneralPage::Store() {
    CService::Settings settings = m_object->GetSettings();
    const bool restart = settings.enabled != m_enabled || settings.portNumber != m_port ||
                         settings.specifiedInterfaceAddress != m_specified ||
                         (m_specified && settings.interfaceAddress != m_interface);
    if (!m_existing)
        settings.name = m_name;
    settings.description = m_description;
    settings.enabled = m_enabled;
    settings.portNumber = m_port;
    settings.specifiedInterfaceAddress = m_specified;
    settings.interfaceAddress = m_interface;
    settings.criticalService = m_critical;
    settings.restartRequested = restart;
    m_object->SetSettings(settings);
    if (auto* pop3 = dynamic_cast<CPOP3Service*>(m_object); pop3 && m_delimiter.size() == 1)
        pop3->SetDelimiter(m_delimiter[0]);
    if (auto* dns = dynamic_cast<CDNSService*>(m_object))
        dns->SetAllowAutodial(m_allowAutodial ? 1 : 0);
    if (CRef<CMappings> table = GetServiceMappings(*m_object)) {
        table->SetAllowDefault(m_defaultMapping ? 1 : 0);
        table->SetDefaultTarget(CHostPort(m_defaultHost, m_defaultPort));
    }
}

// --- Sessions ---------------------------------------------------------------------------------------

namespace Sessions {
constexpr int kTimeOut = 1069, kTimeout = 1070, kLimit = 1071, kLimitCount = 1072;
}

CServiceSessionsPage::CServiceSessionsPage(CServiceManager& manager)
    : CServicePage(ConsoleIds::kServiceSessionsPage), m_manager(manager) {
    using namespace Sessions;
    setWindowTitle("Sessions");
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(Row({Numbered(new QCheckBox("Sessions time out after"), kTimeOut), PortEdit(kTimeout),
                           new QLabel("seconds")}));
    layout->addLayout(Row({Numbered(new QCheckBox("Limit number of concurrent sessions to"), kLimit),
                           PortEdit(kLimitCount)}));
    layout->addStretch();
}

BOOL CServiceSessionsPage::OnInitDialog() {
    {
        CScopedLock lock(m_manager);
        const CService::Settings settings = m_object->GetSettings();
        m_timeOutSessions = settings.timeOutSessions;
        m_sessionTimeout = settings.sessionTimeout;
        m_limitSessions = settings.limitSessions;
        m_sessionLimit = settings.sessionLimit;
    }
    return CServicePage::OnInitDialog();
}

void CServiceSessionsPage::DoDataExchange(CDataExchange& dx) {
    using namespace Sessions;
    DDX_Check(dx, kTimeOut, m_timeOutSessions);
    DDX_UInt(dx, kTimeout, m_sessionTimeout);
    DDX_Check(dx, kLimit, m_limitSessions);
    DDX_UInt(dx, kLimitCount, m_sessionLimit);
}

void CServiceSessionsPage::Store() {
    CService::Settings settings = m_object->GetSettings();
    settings.timeOutSessions = m_timeOutSessions;
    settings.sessionTimeout = m_sessionTimeout;
    settings.limitSessions = m_limitSessions;
    settings.sessionLimit = m_sessionLimit;
    m_object->SetSettings(settings);
}

// --- Logging ----------------------------------------------------------------------------------------

namespace Logging {
constexpr int kDoNotLog = 1165, kLogEvents = 1166;
}

const CBitBox CServiceLoggingPage::kBoxes[9] = {
    {1171, 0x1, "Configuration changes"}, {1172, 0x2, "Authorisation failures"},
    {1167, 0x4, "Session creation"},      {1168, 0x8, "Request details"},
    {1169, 0x10, "Session traffic"},      {1170, 0x20, "Session termination"},
    {1173, 0x40, "Service start / stop"}, {1174, 0x80, "Errors"},
    {1176, 0x200, "Debug"},
};

CServiceLoggingPage::CServiceLoggingPage(CServiceManager& manager)
    : CServicePage(ConsoleIds::kServiceLoggingPage), m_manager(manager) {
    using namespace Logging;
    setWindowTitle("Logging");
    auto* layout = new QVBoxLayout(this);
    for (QRadioButton* radio : Radios(this, {{kDoNotLog, "Do not log events for this service"}, {kLogEvents, "Log these events"}},
                                      [this] { UpdateControls(); }))
        layout->addWidget(radio);
    auto* events = new QGroupBox;
    auto* boxes = new QGridLayout(events);
    int at = 0;
    for (const CBitBox& box : kBoxes) {
        boxes->addWidget(Numbered(new QCheckBox(box.text), box.id), at % 5, at / 5);
        ++at;
    }
    layout->addWidget(events);
    layout->addStretch();
}

BOOL CServiceLoggingPage::OnInitDialog() {
    {
        CScopedLock lock(m_manager);
        const CService::Settings settings = m_object->GetSettings();
        m_loggingEnabled = settings.loggingEnabled ? 1 : 0;
        m_logOptions = settings.logOptions;
    }
    if (!CServicePage::OnInitDialog())
        return FALSE;
    UpdateControls();
    return TRUE;
}

void CServiceLoggingPage::DoDataExchange(CDataExchange& dx) {
    DDX_Radio(dx, {Logging::kDoNotLog, Logging::kLogEvents}, m_loggingEnabled);
    DDX_BitBoxes(dx, kBoxes, m_logOptions);
}

void CServiceLoggingPage::UpdateControls() {
    const bool enabled = !IsControlChecked(this, Logging::kDoNotLog);
    for (const CBitBox& box : kBoxes)
        EnableControl(this, box.id, enabled);
}

void CServiceLoggingPage::Store() { m_object->SetLogging(m_loggingEnabled ? TRUE : FALSE, m_logOptions); }

// --- Connection -------------------------------------------------------------------------------------

namespace Connection {
constexpr int kDirect = 1221, kCascaded = 1222, kSOCKS4 = 1223, kTunnel = 1224;
constexpr int kServer = 1026, kPort = 1226, kPassword = 1225;
// ConnectMethod by radio index.
constexpr DWORD kMethods[] = {0, 1, 2, 4};
}  // namespace Connection

CServiceConnectionPage::CServiceConnectionPage(CServiceManager& manager)
    : CServicePage(ConsoleIds::kServiceConnectionPage), m_manager(manager) {
    using namespace Connection;
    setWindowTitle("Connection");
    auto* layout = new QVBoxLayout(this);
    for (QRadioButton* radio : Radios(this,
                                      {{kDirect, "Directly"},
                                       {kCascaded, "Through cascaded proxy server"},
                                       {kSOCKS4, "Through SOCKS4 server"},
                                       {kTunnel, "Through HTTP proxy with SSL tunneling support"}},
                                      [this] { UpdateControls(); }))
        layout->addWidget(radio);
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel("Server"), 0, 0);
    grid->addWidget(Edit(kServer), 0, 1);
    grid->addWidget(new QLabel("Port"), 1, 0);
    grid->addWidget(PortEdit(kPort), 1, 1, Qt::AlignLeft);
    grid->addWidget(new QLabel("SOCKS4 password"), 2, 0);
    grid->addWidget(Edit(kPassword, true), 2, 1);
    layout->addLayout(grid);
    layout->addStretch();
}

int CServiceConnectionPage::IndexOfMethod(DWORD method) {
    for (int index = 0; index < 4; ++index)
        if (Connection::kMethods[index] == method)
            return index;
    return 0;
}

DWORD CServiceConnectionPage::MethodOfIndex(int index) {
    return index >= 0 && index < 4 ? Connection::kMethods[index] : 0;
}

BOOL CServiceConnectionPage::OnInitDialog() {
    using namespace Connection;
    auto* tcp = dynamic_cast<CTCPService*>(m_object);
    if (tcp != nullptr) {
        CScopedLock lock(m_manager);
        const COutboundSettings upstream = tcp->GetUpstream();
        m_method = IndexOfMethod(upstream.ConnectMethod);
        m_server = upstream.ProxyServer;
        m_port = upstream.ProxyPort;
        m_password = upstream.SOCKS4Password;
        m_supported = tcp->GetSupportedMethods();
    }
    if (!CServicePage::OnInitDialog())
        return FALSE;
    EnableControl(this, kCascaded, (m_supported & 0x1) != 0);
    EnableControl(this, kSOCKS4, (m_supported & 0x2) != 0);
    EnableControl(this, kTunnel, (m_supported & 0x4) != 0);
    UpdateControls();
    return TRUE;
}

void CServiceConnectionPage::DoDataExchange(CDataExchange& dx) {
    using namespace Connection;
    DDX_Radio(dx, {kDirect, kCascaded, kSOCKS4, kTunnel}, m_method);
    DDX_Text(dx, kServer, m_server);
    DDX_UInt(dx, kPort, m_port, 0, kMaxPort);
    DDX_Text(dx, kPassword, m_password);
}

void CServiceConnectionPage::UpdateControls() {
    using namespace Connection;
    EnableControls(this, {kServer, kPort}, !IsControlChecked(this, kDirect));
    EnableControl(this, kPassword, IsControlChecked(this, kSOCKS4));
}

void CServiceConnectionPage::Store() {
    auto* tcp = dynamic_cast<CTCPService*>(m_object);
    if (tcp == nullptr)
        return;
    COutboundSettings upstream = tcp->GetUpstream();
    upstream.ConnectMethod = MethodOfIndex(m_method);
    upstream.ProxyServer = m_server;
    upstream.ProxyPort = m_port;
    upstream.SOCKS4Password = m_password;
    tcp->SetUpstream(upstream);
}

// --- Non-proxy Requests -------------------------------------------------------------------------------

namespace NonProxy {
constexpr int kReject = 1071, kPipe = 1072, kRedirect = 1075, kServe = 1079;
constexpr int kHost = 1073, kPort = 1074, kURL = 1076, kURLLabel = 1077, kCache = 1078;
constexpr int kRootLabel = 1080, kRoot = 1081, kPrepend = 1082, kPrependInfo = 1083;
}  // namespace NonProxy

CServiceNonProxyPage::CServiceNonProxyPage(CServiceManager& manager)
    : CServicePage(ConsoleIds::kServiceNonProxyPage), m_manager(manager) {
    using namespace NonProxy;
    setWindowTitle("Non-proxy Requests");
    const std::vector<QRadioButton*> radios =
        Radios(this,
               {{kReject, "Reject request"},
                {kPipe, "Pipe request through to predetermined server"},
                {kRedirect, "Redirect client to predetermined location"},
                {kServe, "Serve from local disk"}},
               [this] { UpdateControls(); });
    auto* grid = new QGridLayout(this);
    grid->addWidget(radios[0], 0, 0, 1, 4);
    grid->addWidget(radios[1], 1, 0, 1, 4);
    grid->addWidget(new QLabel("Server"), 2, 0);
    grid->addWidget(Edit(kHost), 2, 1);
    grid->addWidget(new QLabel("Port"), 2, 2);
    grid->addWidget(PortEdit(kPort), 2, 3);
    grid->addWidget(Numbered(new QCheckBox("Cache non-proxy requests"), kCache), 3, 1, 1, 3);
    grid->addWidget(Numbered(new QCheckBox("Prepend resource with:"), kPrepend), 4, 1);
    grid->addWidget(Edit(kPrependInfo), 4, 2, 1, 2);
    grid->addWidget(radios[2], 5, 0, 1, 4);
    grid->addWidget(Numbered(new QLabel("URL"), kURLLabel), 6, 0);
    grid->addWidget(Edit(kURL), 6, 1, 1, 3);
    grid->addWidget(radios[3], 7, 0, 1, 4);
    grid->addWidget(Numbered(new QLabel("Root"), kRootLabel), 8, 0);
    grid->addWidget(Edit(kRoot), 8, 1, 1, 3);
    grid->setRowStretch(9, 1);
}

BOOL CServiceNonProxyPage::OnInitDialog() {
    using namespace NonProxy;
    auto* web = dynamic_cast<CWWWService*>(m_object);
    m_web = web != nullptr;
    {
        CScopedLock lock(m_manager);
        const CService::Settings settings = m_object->GetSettings();
        // An action no radio names keeps its value through the page.
        m_action = static_cast<int>(settings.nonProxyRequestAction);
        m_host = settings.nonProxyRequestHost;
        m_port = settings.nonProxyRequestPort;
        if (web != nullptr) {
            const CWWWService::WebSettings own = web->GetWebSettings();
            m_cacheNonProxy = own.cacheNonProxyRequests != 0;
            m_prependResource = own.prependResource != 0;
            m_prependInfo = own.prependInfo;
            m_redirectURL = own.redirectURL;
            m_serverRoot = own.serverRoot;
        }
    }
    if (!CServicePage::OnInitDialog())
        return FALSE;
    for (int id : {kRedirect, kURL, kURLLabel, kCache, kServe, kRootLabel, kRoot, kPrepend, kPrependInfo})
        ShowControl(this, id, m_web);
    UpdateControls();
    return TRUE;
}

void CServiceNonProxyPage::DoDataExchange(CDataExchange& dx) {
    using namespace NonProxy;
    DDX_Radio(dx, {kReject, kPipe, kRedirect, kServe}, m_action);
    DDX_Text(dx, kHost, m_host);
    DDX_UInt(dx, kPort, m_port, 0, kMaxPort);
    if (!m_web)
        return;
    DDX_Check(dx, kCache, m_cacheNonProxy);
    DDX_Check(dx, kPrepend, m_prependResource);
    DDX_Text(dx, kPrependInfo, m_prependInfo);
    DDX_Text(dx, kURL, m_redirectURL);
    DDX_Text(dx, kRoot, m_serverRoot);
}

void CServiceNonProxyPage::UpdateControls() {
    using namespace NonProxy;
    const bool pipe = IsControlChecked(this, kPipe);
    EnableControls(this, {kPrepend, kPrependInfo, kHost, kPort, kCache}, pipe);
    EnableControl(this, kURL, IsControlChecked(this, kRedirect));
    EnableControl(this, kRoot, IsControlChecked(this, kServe));
}

void CServiceNonProxyPage::Store() {
    m_object->SetNonProxyRequest(static_cast<DWORD>(m_action), m_host, m_port);
    auto* web = dynamic_cast<CWWWService*>(m_object);
    if (web == nullptr)
        return;
    CWWWService::WebSettings own = web->GetWebSettings();
    own.cacheNonProxyRequests = m_cacheNonProxy ? 1 : 0;
    own.prependResource = m_prependResource ? 1 : 0;
    own.prependInfo = m_prependInfo;
    own.redirectURL = m_redirectURL;
    own.serverRoot = m_serverRoot;
    web->SetWebSettings(own);
}

// --- SOCKS Advanced -----------------------------------------------------------------------------------

namespace SOCKS {
constexpr int kRefer = 1182, kCacheReferred = 1183, kOwnPolicy = 1184, kFollowing = 1185;
constexpr int kPolicy = 1188, kReverse = 1186, kRFC1929 = 1187;
}  // namespace SOCKS

CSOCKSAdvancedPage::CSOCKSAdvancedPage(CServiceManager& manager)
    : CServicePage(ConsoleIds::kSOCKSAdvancedPage), m_manager(manager) {
    using namespace SOCKS;
    setWindowTitle("SOCKS Advanced");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Clicking(new QCheckBox("Refer HTTP requests to caching HTTP Server"), kRefer, this,
                               [this] { UpdateControls(); }));
    auto* referred = new QVBoxLayout;
    referred->setContentsMargins(20, 0, 0, 0);
    referred->addWidget(Numbered(new QCheckBox("Allow caching of referred HTTP requests"), kCacheReferred));
    const std::vector<QRadioButton*> radios = Radios(
        this, {{kOwnPolicy, "Use this server's access policy"}, {kFollowing, "Use following policy"}},
        [this] { UpdateControls(); });
    referred->addWidget(radios[0]);
    auto* policy = Numbered(new QComboBox, kPolicy);
    policy->setEditable(true);
    referred->addLayout(Row({radios[1], policy}));
    layout->addLayout(referred);
    layout->addWidget(Numbered(new QCheckBox("Perform reverse name lookup for IP requests"), kReverse));
    layout->addWidget(Numbered(new QCheckBox("Use RFC1929 (Cleartext) authentication for SOCKS5"), kRFC1929));
    layout->addStretch();
}

BOOL CSOCKSAdvancedPage::OnInitDialog() {
    using namespace SOCKS;
    auto* combo = qobject_cast<QComboBox*>(FindControl(this, kPolicy));
    {
        CScopedLock lock(m_manager);
        if (auto* socks = dynamic_cast<CSOCKSService*>(m_object)) {
            const CSOCKSService::SOCKSSettings settings = socks->GetSOCKSSettings();
            m_refer = settings.referHTTPRequests != 0;
            m_cacheReferred = settings.cacheReferredHTTPRequests != 0;
            m_useSpecifiedPolicy = settings.useSpecifiedPolicy ? 1 : 0;
            m_policy = settings.httpPolicy;
            m_reverseLookups = settings.doReverseLookups != 0;
            m_rfc1929 = settings.useRFC1929 != 0;
        }
        for (const auto& [name, object] : m_manager) {
            if (dynamic_cast<CWWWService*>(object) != nullptr && combo != nullptr)
                combo->addItem(ToDisplay(name));
        }
    }
    if (!CServicePage::OnInitDialog())
        return FALSE;
    UpdateControls();
    return TRUE;
}

void CSOCKSAdvancedPage::DoDataExchange(CDataExchange& dx) {
    using namespace SOCKS;
    DDX_Check(dx, kRefer, m_refer);
    DDX_Check(dx, kCacheReferred, m_cacheReferred);
    DDX_Radio(dx, {kOwnPolicy, kFollowing}, m_useSpecifiedPolicy);
    DDX_CBString(dx, kPolicy, m_policy);
    DDX_Check(dx, kReverse, m_reverseLookups);
    DDX_Check(dx, kRFC1929, m_rfc1929);
}

void CSOCKSAdvancedPage::UpdateControls() {
    using namespace SOCKS;
    const bool refer = IsControlChecked(this, kRefer);
    EnableControls(this, {kCacheReferred, kOwnPolicy, kFollowing}, refer);
    EnableControl(this, kPolicy, refer && IsControlChecked(this, kFollowing));
}

void CSOCKSAdvancedPage::Store() {
    auto* socks = dynamic_cast<CSOCKSService*>(m_object);
    if (socks == nullptr)
        return;
    CSOCKSService::SOCKSSettings settings = socks->GetSOCKSSettings();
    settings.referHTTPRequests = m_refer ? 1 : 0;
    settings.cacheReferredHTTPRequests = m_cacheReferred ? 1 : 0;
    settings.useSpecifiedPolicy = m_useSpecifiedPolicy ? 1 : 0;
    settings.httpPolicy = m_policy;
    settings.doReverseLookups = m_reverseLookups ? 1 : 0;
    settings.useRFC1929 = m_rfc1929 ? 1 : 0;
    socks->SetSOCKSSettings(settings);
}

// --- Encryption -------------------------------------------------------------------------------------

namespace Encryption {
constexpr int kEncryptIn = 1230, kAnyUser = 1106, kSpecifiedUser = 1235, kUsernameIn = 1209;
constexpr int kPasswordIn = 1210, kEncryptOut = 1231, kUsernameOut = 1233, kPasswordOut = 1234;
}  // namespace Encryption

CServiceEncryptionPage::CServiceEncryptionPage(CServiceManager& manager)
    : CServicePage(ConsoleIds::kServiceEncryptionPage), m_manager(manager) {
    using namespace Encryption;
    setWindowTitle("Encryption");
    auto update = [this] { UpdateControls(); };
    auto* grid = new QGridLayout(this);
    grid->addWidget(Clicking(new QCheckBox("Connections to this service must be encrypted"), kEncryptIn, this, update),
                    0, 0, 1, 3);
    const std::vector<QRadioButton*> radios = Radios(
        this, {{kAnyUser, "Use any user account in user database"}, {kSpecifiedUser, "Use specified username and password"}},
        update);
    grid->addWidget(radios[0], 1, 1, 1, 2);
    grid->addWidget(radios[1], 2, 1, 1, 2);
    grid->addWidget(new QLabel("Username"), 3, 1);
    grid->addWidget(Edit(kUsernameIn), 3, 2);
    grid->addWidget(new QLabel("Password"), 4, 1);
    grid->addWidget(Edit(kPasswordIn, true), 4, 2);
    grid->addWidget(Clicking(new QCheckBox("Encrypt connections made by this service"), kEncryptOut, this, update),
                    5, 0, 1, 3);
    grid->addWidget(new QLabel("Username"), 6, 1);
    grid->addWidget(Edit(kUsernameOut), 6, 2);
    grid->addWidget(new QLabel("Password"), 7, 1);
    grid->addWidget(Edit(kPasswordOut, true), 7, 2);
    grid->setColumnMinimumWidth(0, 20);
    grid->setRowStretch(8, 1);
}

BOOL CServiceEncryptionPage::OnInitDialog() {
    if (auto* mapping = dynamic_cast<CTCPMappingService*>(m_object)) {
        CScopedLock lock(m_manager);
        const CTCPMappingLink link = mapping->GetLink();
        m_encryptIn = link.EncryptConnectionsIn != 0;
        m_specifyUser = link.SpecifyUserForIncomingConnection ? 1 : 0;
        m_usernameIn = link.UsernameIn;
        m_passwordIn = link.PasswordIn;
        m_encryptOut = link.EncryptConnectionsOut != 0;
        m_usernameOut = link.UsernameOut;
        m_passwordOut = link.PasswordOut;
    }
    if (!CServicePage::OnInitDialog())
        return FALSE;
    UpdateControls();
    return TRUE;
}

void CServiceEncryptionPage::DoDataExchange(CDataExchange& dx) {
    using namespace Encryption;
    DDX_Check(dx, kEncryptIn, m_encryptIn);
    DDX_Radio(dx, {kAnyUser, kSpecifiedUser}, m_specifyUser);
    DDX_Text(dx, kUsernameIn, m_usernameIn);
    DDX_Text(dx, kPasswordIn, m_passwordIn);
    DDX_Check(dx, kEncryptOut, m_encryptOut);
    DDX_Text(dx, kUsernameOut, m_usernameOut);
    DDX_Text(dx, kPasswordOut, m_passwordOut);
}

void CServiceEncryptionPage::UpdateControls() {
    using namespace Encryption;
    const bool in = IsControlChecked(this, kEncryptIn);
    EnableControls(this, {kAnyUser, kSpecifiedUser}, in);
    EnableControls(this, {kUsernameIn, kPasswordIn}, in && IsControlChecked(this, kSpecifiedUser));
    EnableControls(this, {kUsernameOut, kPasswordOut}, IsControlChecked(this, kEncryptOut));
}

void CServiceEncryptionPage::Store() {
    auto* mapping = dynamic_cast<CTCPMappingService*>(m_object);
    if (mapping == nullptr)
        return;
    CTCPMappingLink link;
    link.EncryptConnectionsIn = m_encryptIn ? 1 : 0;
    link.SpecifyUserForIncomingConnection = m_specifyUser ? 1 : 0;
    link.UsernameIn = m_usernameIn;
    link.PasswordIn = m_passwordIn;
    link.EncryptConnectionsOut = m_encryptOut ? 1 : 0;
    link.UsernameOut = m_usernameOut;
    link.PasswordOut = m_passwordOut;
    mapping->SetLink(link);
}

// --- Mappings ---------------------------------------------------------------------------------------

namespace Mappings {
constexpr int kList = 1189, kAdd = 1190, kRemove = 1191;

// The page owns every mapping it shows, a new one included (it joins the copy only after OK),
// so the mapping sheet edits each in place and never frees one.
bool EditInMappingSheet(QWidget* parent, CMapping& mapping, bool) {
    CMappingSheet sheet(&mapping, TRUE, nullptr, parent);
    return ExecChildDialog(sheet) == QDialog::Accepted;
}

CServiceMappingsPage::MappingEditor& Editor() {
    static CServiceMappingsPage::MappingEditor editor = EditInMappingSheet;
    return editor;
}

CMapping* MappingOf(const QListWidgetItem* item) {
    return item ? reinterpret_cast<CMapping*>(item->data(Qt::UserRole).value<quintptr>()) : nullptr;
}
}  // namespace Mappings

void CServiceMappingsPage::SetMappingEditor(MappingEditor editor) {
    Mappings::Editor() = editor ? std::move(editor) : Mappings::EditInMappingSheet;
}

CServiceMappingsPage::CServiceMappingsPage(CServiceManager& manager)
    : CServicePage(ConsoleIds::kServiceMappingsPage),
      m_manager(manager),
      m_list(MakeListBox(Mappings::kList)),
      m_copy(CRef<CMappings>::Adopt(new CMappings)) {
    using namespace Mappings;
    setWindowTitle("Mappings");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    auto* add = Numbered(new QPushButton("Add"), kAdd);
    auto* remove = Numbered(new QPushButton("Remove"), kRemove);
    layout->addLayout(Row({add, remove}));
    connect(add, &QPushButton::clicked, this, [this] { AddMapping(); });
    connect(remove, &QPushButton::clicked, this, [this] { RemoveSelected(); });
    connect(m_list, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) { EditMapping(item); });
}

CServiceMappingsPage::~CServiceMappingsPage() = default;

BOOL CServiceMappingsPage::OnInitDialog() {
    {
        CScopedLock lock(m_manager);
        if (CRef<CMappings> table = GetServiceMappings(*m_object))
            m_copy->Copy(*table);
    }
    CScopedLock lock(*m_copy);
    for (CObject* element : *m_copy) {
        auto* mapping = dynamic_cast<CMapping*>(element);
        if (mapping == nullptr)
            continue;
        auto* item = new QListWidgetItem(ToDisplay(mapping->GetDescription()), m_list);
        item->setData(Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(mapping)));
    }
    return TRUE;
}

void CServiceMappingsPage::AddMapping() {
    CRef<CMapping> mapping = CRef<CMapping>::Adopt(new CMapping);
    if (!Mappings::Editor()(this, *mapping, false))
        return;
    CMapping* added = mapping.Detach();
    std::string text;
    {
        CScopedLock lock(*m_copy);
        text = added->GetDescription();
    }
    m_copy->AddMapping(added);
    auto* item = new QListWidgetItem(ToDisplay(text), m_list);
    item->setData(Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(added)));
}

void CServiceMappingsPage::RemoveSelected() {
    QListWidgetItem* item = m_list->currentItem();
    if (item == nullptr || !item->isSelected())
        return;
    CMapping* mapping = Mappings::MappingOf(item);
    delete item;
    m_copy->RemoveMapping(mapping);
}

void CServiceMappingsPage::EditMapping(QListWidgetItem* item) {
    CMapping* mapping = Mappings::MappingOf(item);
    if (mapping == nullptr || !Mappings::Editor()(this, *mapping, true))
        return;
    CScopedLock lock(*m_copy);
    item->setText(ToDisplay(mapping->GetDescription()));
}

void CServiceMappingsPage::Store() {
    CRef<CMappings> table = CRef<CMappings>::Adopt(new CMappings);
    table->Copy(*m_copy);
    SetServiceMappings(*m_object, std::move(table));
}
