// The service property sheet over the console's copy of the services: the pages and controls
// each class gets, the enabling rules, the order and refusals of OK, the restart flag, the
// stored values, and what OK queues on-line and off-line.

#include "console/ChildDialog.h"
#include "console/ConsoleTexts.h"
#include "console/WardenhallView.h"
#include "console/dialogs/ServiceSheet.h"
#include "console/session/ConsoleConfiguration.h"
#include "engine/NorvaneEngine.h"
#include "engine/framework/ServiceManager.h"
#include "foundation/ScopedLock.h"
#include "platform/framework/RuntimeClass.h"
#include "proxies/mapping/Mapping.h"
#include "proxies/mapping/Mappings.h"
#include "proxies/mapping/TCPMappingService.h"
#include "proxies/pop3/POP3Service.h"
#include "proxies/web/WWWService.h"
#include "tests/console/ConsoleTestKit.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QListWidget>
#include <QTabBar>

#include <gtest/gtest.h>

#include <set>
#include <tuple>

namespace {

using Request = CRecordingSession::Request;

CRef<CService> Make(const char* className) {
    return CRef<CService>::Adopt(dynamic_cast<CService*>(CRuntimeClass::CreateObject(className)));
}

std::vector<std::string> Tabs(CEditServiceSheet& sheet) {
    std::vector<std::string> tabs;
    for (int i = 0; i < sheet.TabSheet().GetPageCount(); ++i)
        tabs.push_back(FromDisplay(sheet.TabSheet().TabBar()->tabText(i)));
    return tabs;
}

bool Shown(QWidget* page, int id) { return !FindControl(page, id)->isHidden(); }
bool Enabled(QWidget* page, int id) { return FindControl(page, id)->isEnabled(); }

class ServiceSheet : public testing::Test {
protected:
    void TearDown() override {
        CServiceMappingsPage::SetMappingEditor({});
        EmptyConfiguration(theConfiguration);
    }
    // A service of the copy.
    CService* Add(const char* className, const char* name) {
        CRef<CService> service = Make(className);
        service->SetName(name);
        CScopedLock lock(services);
        EXPECT_TRUE(services.AddService(service.Get()));
        return service.Detach();
    }
    std::unique_ptr<CEditServiceSheet> Open(CService* service) {
        auto sheet = std::make_unique<CEditServiceSheet>(CRef<CService>(service), true);
        sheet->show();
        return sheet;
    }

    CServiceManager& services = theConfiguration.GetServiceManager();
    CRecordingSession session;
    CBoxRecorder boxes;
};

TEST_F(ServiceSheet, PagesAndGeneralControlsFollowTheClass) {
    const std::vector<std::string> plain = {"General", "Sessions", "Policies", "Logging"};
    const std::vector<std::string> proxy = {"General", "Sessions", "Policies", "Non-proxy Requests", "Connection", "Logging"};
    const std::vector<std::string> streaming = {"General", "Sessions", "Policies", "Non-proxy Requests", "Logging"};
    struct Case {
        const char* className;
        std::vector<std::string> tabs;
        int special;  // the General control only this class shows (0: none)
        int connectionRadios;  // 1222-1224 enabled, as bits 0x1-0x4
    } cases[] = {
        {"CRemoteControlService", plain, 0, 0},
        {"CDNSService", plain, 1211, 0},
        {"CSOCKSService", {"General", "SOCKS Advanced", "Sessions", "Policies", "Logging"}, 0, 0},
        {"CVDOLiveService", streaming, 0, 0},
        {"CRealAudioService", streaming, 0, 0},
        {"CFTPService", proxy, 0, 7},
        {"CPOP3Service", proxy, 1069, 7},
        {"CWWWService", proxy, 0, 7},
        {"CUDPMappingService", {"General", "Mappings", "Sessions", "Policies", "Logging"}, 1191, 0},
        {"CTCPMappingService", {"General", "Mappings", "Sessions", "Policies", "Encryption", "Connection", "Logging"}, 1191, 6},
        {"CTelnetService", {"General", "Sessions", "Policies", "Connection", "Logging"}, 0, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.className);
        CEditServiceSheet sheet(Make(c.className), false);
        sheet.show();
        EXPECT_EQ(Tabs(sheet), c.tabs);
        EXPECT_EQ(sheet.TabSheet().GetActivePage(), &sheet.m_generalPage);
        EXPECT_EQ(FromDisplay(sheet.windowTitle()), sheet.GetObject()->GetName() + " Properties");
        QWidget* general = &sheet.m_generalPage;
        EXPECT_TRUE(Enabled(general, 1066));  // a new service is named here
        for (auto [id, owner] : {std::pair{1069, 1069}, {1093, 1069}, {1211, 1211}, {1191, 1191}, {1074, 1191},
                                 {1070, 1191}, {1192, 1191}, {1094, 1191}, {1095, 1191}})
            EXPECT_EQ(Shown(general, id), c.special == owner) << id;
        const std::string name = c.className;
        for (int id : {1071, 1091})
            EXPECT_EQ(Enabled(general, id), name != "CRemoteControlService") << id;
        for (int bit = 0; c.connectionRadios != 0 && bit < 3; ++bit)
            EXPECT_EQ(Enabled(&sheet.m_connectionPage, 1222 + bit), (c.connectionRadios >> bit & 1) != 0);
        const bool nonProxy = sheet.TabSheet().GetPageIndex(&sheet.m_nonProxyPage) >= 0;
        for (int id : {1075, 1076, 1077, 1078, 1079, 1080, 1081, 1082, 1083})
            EXPECT_TRUE(!nonProxy || Shown(&sheet.m_nonProxyPage, id) == (name == "CWWWService")) << id;
        sheet.reject();
    }
    // An existing service keeps its name.
    auto sheet = Open(Add("CWWWService", "Web"));
    EXPECT_FALSE(Enabled(&sheet->m_generalPage, 1066));
}

TEST_F(ServiceSheet, EnablingFollowsEachClickedBoxAndRadio) {
    // Each step clicks a control (0: the page as it opens); of `ids`, exactly `on` are enabled.
    struct Step {
        int click;
        std::set<int> on;
    };
    auto walk = [](QWidget* page, std::initializer_list<int> ids, const std::vector<Step>& steps) {
        for (const Step& step : steps) {
            if (step.click != 0)
                ClickControl(page, step.click);  // a box toggles, a radio is chosen
            for (int id : ids)
                EXPECT_EQ(Enabled(page, id), step.on.count(id) == 1) << "after " << step.click << ": " << id;
        }
    };
    auto web = Open(Add("CWWWService", "Web"));
    walk(&web->m_nonProxyPage, {1073, 1074, 1076, 1078, 1081, 1082, 1083},
         {{0, {}}, {1072, {1073, 1074, 1078, 1082, 1083}}, {1075, {1076}}, {1079, {1081}}, {1071, {}}});
    walk(&web->m_connectionPage, {1026, 1226, 1225},
         {{0, {}}, {1222, {1026, 1226}}, {1223, {1026, 1226, 1225}}, {1224, {1026, 1226}}, {1221, {}}});
    walk(&web->m_loggingPage, {1171, 1167, 1176}, {{0, {1171, 1167, 1176}}, {1165, {}}, {1166, {1171, 1167, 1176}}});
    auto socks = Open(Add("CSOCKSService", "Socks"));  // refers HTTP by default
    walk(&socks->m_socksPage, {1183, 1184, 1185, 1188, 1186},
         {{0, {1183, 1184, 1185, 1186}}, {1185, {1183, 1184, 1185, 1188, 1186}}, {1182, {1186}}});
    auto mapping = Open(Add("CTCPMappingService", "Map"));
    walk(&mapping->m_encryptionPage, {1106, 1235, 1209, 1210, 1233, 1234},
         {{0, {}}, {1230, {1106, 1235}}, {1235, {1106, 1235, 1209, 1210}},
          {1231, {1106, 1235, 1209, 1210, 1233, 1234}}, {1230, {1233, 1234}}});
    walk(&mapping->m_generalPage, {1074, 1070}, {{0, {}}, {1191, {1074, 1070}}, {1191, {}}});
}

TEST_F(ServiceSheet, OkStoresMappingsBeforeTheDefaultAndAnyRefusalStoresNothing) {
    CService* map = Add("CTCPMappingService", "Map");
    {
        auto table = CRef<CMappings>::Adopt(new CMappings);
        for (const char* host : {"a.example", "b.example"}) {
            auto* mapping = new CMapping;
            mapping->SetTarget(host, 25);
            table->AddMapping(mapping);
        }
        static_cast<CTCPMappingService*>(map)->SetMappings(table);
    }
    auto sheet = Open(map);
    CServiceMappingsPage& page = sheet->m_mappingsPage;
    ASSERT_EQ(page.List()->count(), 2);
    EXPECT_EQ(FromDisplay(page.List()->item(1)->text()), "Link to b.example:25 no dependencies");
    EXPECT_TRUE(Enabled(&page, 1190));

    // An editor in place of the mapping sheet: Add appends, a double-click changes the entry in
    // place.
    CServiceMappingsPage::SetMappingEditor([](QWidget*, CMapping& mapping, bool existing) {
        mapping.SetTarget(existing ? "edited.example" : "new.example", 110);
        return true;
    });
    page.AddMapping();
    page.EditMapping(page.List()->item(0));
    ASSERT_EQ(page.List()->count(), 3);
    EXPECT_EQ(FromDisplay(page.List()->item(0)->text()), "Link to edited.example:110 no dependencies");
    EXPECT_EQ(FromDisplay(page.List()->item(2)->text()), "Link to new.example:110 no dependencies");
    for (int i = 0; i < 3; ++i) {
        page.List()->setCurrentRow(0);
        page.RemoveSelected();
    }
    EXPECT_EQ(page.WorkingCopy()->GetMappingCount(), 0u);
    EXPECT_EQ(static_cast<CTCPMappingService*>(map)->GetMappings()->GetMappingCount(), 2u);

    QWidget* general = &sheet->m_generalPage;
    ClickControl(general, 1191);
    SetControlText(general, 1074, "mail.example");
    SetControlText(general, 1070, "2525");
    SetControlText(&sheet->m_connectionPage, 1226, "65536");  // a refused port stores nothing
    sheet->accept();
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->TabSheet().GetActivePage(), &sheet->m_connectionPage);
    EXPECT_EQ(static_cast<CTCPMappingService*>(map)->GetMappings()->GetMappingCount(), 2u);
    SetControlText(&sheet->m_connectionPage, 1226, "8080");
    sheet->accept();
    EXPECT_FALSE(sheet->isVisible());
    CRef<CMappings> stored = static_cast<CTCPMappingService*>(map)->GetMappings();
    EXPECT_EQ(stored->GetMappingCount(), 0u);
    EXPECT_EQ(stored->GetAllowDefault(), 1u);
    EXPECT_EQ(stored->GetDefaultTarget(), CHostPort("mail.example", 2525));
    EXPECT_EQ(session.requests, (std::vector<Request>{{34, "Map", "", "", false}}));

    // Non-proxy Requests is honoured like every page; POP3's delimiter is one character: only
    // the last of these OKs passes.
    session.requests.clear();
    CService* pop3 = Add("CPOP3Service", "Mail");
    auto mail = Open(pop3);
    SetControlText(&mail->m_generalPage, 1067, "changed");
    for (auto [delimiter, port] : {std::pair{"", "110"}, {"%", "-1"}, {"%+", "110"}}) {
        SetControlText(&mail->m_generalPage, 1069, delimiter);  // holds one character
        SetControlText(&mail->m_nonProxyPage, 1074, port);
        mail->accept();
    }
    EXPECT_EQ(pop3->GetDescription(), "changed");
    EXPECT_EQ(static_cast<CPOP3Service*>(pop3)->GetDelimiter(), '%');
    EXPECT_EQ(session.requests, (std::vector<Request>{{34, "Mail", "", "", false}}));
}

TEST_F(ServiceSheet, RestartFlagFollowsTheListeningSettingsOnly) {
    CService* web = Add("CWWWService", "Web");
    const struct {
        int id;
        const char* text;  // null: the box is clicked
        bool specified, restart;
    } cases[] = {{1067, "another description", false, false}, {1068, "8081", false, true},
                 {1071, nullptr, false, true}, {1073, nullptr, false, true}, {1091, nullptr, false, false},
                 {1072, "10.0.0.1", true, true}, {1072, "10.0.0.2", false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        web->SetRestartRequested(!c.restart);
        web->SetInterfaceAddress(c.specified, "0.0.0.0");
        auto sheet = Open(web);
        c.text ? SetControlText(&sheet->m_generalPage, c.id, c.text) : ClickControl(&sheet->m_generalPage, c.id);
        sheet->accept();
        EXPECT_EQ(web->GetRestartRequested() != FALSE, c.restart);
    }
    EXPECT_EQ(web->GetSettings().interfaceAddress, "10.0.0.2");
}

TEST_F(ServiceSheet, LogOptionsAndConnectMethodRoundTrip) {
    CService* web = Add("CWWWService", "Web");
    auto* tcp = static_cast<CTCPService*>(web);
    web->SetLogging(TRUE, 0x3FF);
    Open(web)->accept();
    EXPECT_EQ(web->GetSettings().logOptions, 0x2FFu);  // 0x100 has no box
    auto sheet = Open(web);
    for (int id : {1176, 1171, 1165})  // the boxes keep their bits while greyed
        ClickControl(&sheet->m_loggingPage, id);
    ClickControl(&sheet->m_connectionPage, 1224);
    SetControlText(&sheet->m_connectionPage, 1026, "proxy.example");
    SetControlText(&sheet->m_connectionPage, 1226, "3128");
    sheet->accept();
    EXPECT_EQ(web->GetSettings().loggingEnabled, FALSE);
    EXPECT_EQ(web->GetSettings().logOptions, 0xFEu);
    EXPECT_EQ(tcp->GetUpstream().ConnectMethod, 4u);
    EXPECT_EQ(tcp->GetUpstream().ProxyServer, "proxy.example");
    EXPECT_EQ(tcp->GetUpstream().ProxyPort, 3128u);
    // Stored method: the radio shown, and what OK stores back.
    for (auto [stored, radio, back] : {std::tuple{0u, 1221, 0u}, {1u, 1222, 1u}, {2u, 1223, 2u}, {3u, 1221, 0u}, {9u, 1221, 0u}}) {
        SCOPED_TRACE(stored);
        COutboundSettings upstream;
        upstream.ConnectMethod = stored;
        tcp->SetUpstream(upstream);
        auto again = Open(web);
        EXPECT_TRUE(IsControlChecked(&again->m_connectionPage, radio));
        again->accept();
        EXPECT_EQ(tcp->GetUpstream().ConnectMethod, back);
    }
}

TEST_F(ServiceSheet, NewServicesNameChecksRequestsAndOffline) {
    Add("CWWWService", "Web Proxy");
    Add("CWWWService", "Intranet");
    Add("CFTPService", "Files");
    for (const char* name : {"", ".", "..", "a/b", "a\\b", "a\tb", "WEB proxy"}) {
        SCOPED_TRACE(name);
        boxes.calls.clear();
        CEditServiceSheet sheet(Make("CSOCKSService"), false);
        sheet.show();
        SetControlText(&sheet.m_generalPage, 1066, name);
        sheet.accept();
        EXPECT_TRUE(sheet.isVisible());
        const bool taken = std::string(name) == "WEB proxy";
        ASSERT_EQ(boxes.calls.size(), 1u);
        EXPECT_EQ(boxes.calls[0].title, taken ? ConsoleTexts::kServiceNameDuplicate : ConsoleTexts::kServiceNameInvalid);
        EXPECT_EQ(boxes.calls[0].text, taken ? ConsoleTexts::kServiceNameTaken : ConsoleTexts::kServiceNameUnusable);
        EXPECT_EQ(boxes.calls[0].flags, MB::kIconStop);
    }
    EXPECT_TRUE(session.requests.empty());

    // On-line a new service goes as 32 with the object; the copy waits for the echo. The
    // SOCKS policy combo lists the web services.
    CEditServiceSheet sheet(Make("CSOCKSService"), false);
    sheet.show();
    auto* policies = qobject_cast<QComboBox*>(FindControl(&sheet.m_socksPage, 1188));
    ASSERT_EQ(policies->count(), 2);
    EXPECT_EQ(policies->itemText(0), "Intranet");
    ClickControl(&sheet.m_socksPage, 1185);
    policies->setEditText("Intranet");
    SetControlText(&sheet.m_generalPage, 1066, "Socks");
    sheet.accept();
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_EQ(session.requests, (std::vector<Request>{{32, "Socks", "", "", true}}));
    EXPECT_EQ(services.FindService("Socks"), nullptr);

    // Off-line: nothing is queued and the new service goes with the sheet.
    session.requests.clear();
    session.online = false;
    CRef<CService> offline = Make("CTelnetService");
    CService* watched = offline.Get();
    watched->AddRef();
    {
        CEditServiceSheet telnet(std::move(offline), false);
        telnet.show();
        telnet.accept();
        EXPECT_FALSE(telnet.isVisible());
    }
    EXPECT_TRUE(session.requests.empty());
    EXPECT_EQ(services.GetCount(), 3u);
    EXPECT_EQ(watched->Release(), 0);  // only this test held it

    // The tree's commands open the sheet: a New command's service and a Properties.
    std::vector<std::string> opened;
    SetChildDialogAnswerer([&](QDialog& dialog) {
        dialog.show();
        opened.push_back(FromDisplay(dialog.windowTitle()));
        return 0;
    });
    CConfigurationDialogs dialogs;
    AddServiceDialogs(dialogs);
    dialogs.serviceSheet(nullptr, Make("CDNSService"), true);
    dialogs.serviceSheet(nullptr, CRef<CService>(services.FindService("Files")), false);
    SetChildDialogAnswerer({});
    EXPECT_EQ(opened, (std::vector<std::string>{"DNS server Properties", "Files Properties"}));
}

}  // namespace
