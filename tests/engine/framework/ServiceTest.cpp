#include "engine/framework/Service.h"

#include "engine/framework/TCPService.h"
#include "engine/framework/UDPService.h"
#include "foundation/RegistryStore.h"
#include "support/ArchiveHelpers.h"
#include "support/FrameworkTestKit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

// A string as the archive writes a short one: its length byte, then its bytes.
Bytes& Str(Bytes& bytes, const std::string& text) {
    return bytes.Byte(static_cast<std::uint8_t>(text.size())).Text(text);
}

// The archive form of a right, as the rights' own code writes it.
std::vector<std::uint8_t> RightBytes(CRight& right) {
    return StoreBytes([&](CArchive& ar) { right.Serialize(ar); });
}

CTCPService* MakeConfiguredService() {
    auto* service = new CTCPService(8080, "Web", "Web proxy", FALSE);
    CService::Settings s = service->GetSettings();
    s.specifiedInterfaceAddress = TRUE;
    s.interfaceAddress = "192.168.0.1";
    s.enabled = FALSE;
    s.criticalService = TRUE;
    s.timeOutSessions = FALSE;
    s.sessionTimeout = 300;
    s.limitSessions = TRUE;
    s.sessionLimit = 9;
    s.nonProxyRequestAction = 1;
    s.nonProxyRequestHost = "intranet";
    s.nonProxyRequestPort = 81;
    s.loggingEnabled = FALSE;
    s.logOptions = 0x1FF;
    s.restartRequested = TRUE;
    service->SetSettings(s);
    COutboundSettings upstream;
    upstream.ConnectMethod = 4;
    upstream.ProxyServer = "proxy.example";
    upstream.ProxyPort = 3128;
    upstream.SOCKS4Password = "pw";
    service->SetUpstream(upstream);
    return service;
}

void ExpectSameSettings(const CService::Settings& a, const CService::Settings& b) {
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.description, b.description);
    EXPECT_EQ(a.portNumber, b.portNumber);
    EXPECT_EQ(a.specifiedInterfaceAddress, b.specifiedInterfaceAddress);
    EXPECT_EQ(a.interfaceAddress, b.interfaceAddress);
    EXPECT_EQ(a.enabled, b.enabled);
    EXPECT_EQ(a.criticalService, b.criticalService);
    EXPECT_EQ(a.timeOutSessions, b.timeOutSessions);
    EXPECT_EQ(a.sessionTimeout, b.sessionTimeout);
    EXPECT_EQ(a.limitSessions, b.limitSessions);
    EXPECT_EQ(a.sessionLimit, b.sessionLimit);
    EXPECT_EQ(a.nonProxyRequestAction, b.nonProxyRequestAction);
    EXPECT_EQ(a.nonProxyRequestHost, b.nonProxyRequestHost);
    EXPECT_EQ(a.nonProxyRequestPort, b.nonProxyRequestPort);
    EXPECT_EQ(a.loggingEnabled, b.loggingEnabled);
    EXPECT_EQ(a.logOptions, b.logOptions);
}

class ServiceTest : public FrameworkTest {};

TEST_F(ServiceTest, ANewServiceHasTheConstructorsDefaultsAndItsThreeRights) {
    auto service = CRef<CService>::Adopt(new CService(8080, "Web", "Web proxy", FALSE));
    const CService::Settings s = service->GetSettings();
    EXPECT_EQ(s.portNumber, 8080u);
    EXPECT_EQ(s.nonProxyRequestPort, 8080u);
    EXPECT_EQ(s.interfaceAddress, "0.0.0.0");
    EXPECT_FALSE(s.specifiedInterfaceAddress);
    EXPECT_TRUE(s.enabled);
    EXPECT_TRUE(s.timeOutSessions);
    EXPECT_EQ(s.sessionTimeout, 60u);
    EXPECT_FALSE(s.limitSessions);
    EXPECT_EQ(s.sessionLimit, 5u);
    EXPECT_TRUE(s.loggingEnabled);
    EXPECT_EQ(s.logOptions, 219u);
    EXPECT_FALSE(s.restartRequested);
    EXPECT_EQ(service->GetRunState(), CService::kStopped);
    EXPECT_EQ(service->GetAccessRights().GetRightType(), 0u);
    EXPECT_EQ(service->GetAccessRights().GetDescription(), "Users can access this service");
    EXPECT_EQ(service->GetStartStopRights().GetRightType(), 1u);
    EXPECT_EQ(service->GetStartStopRights().GetDescription(), "Users can start/stop this service");
    EXPECT_EQ(service->GetEditRights().GetRightType(), 2u);
    EXPECT_EQ(service->GetEditRights().GetDescription(), "Users can modify this service");
    EXPECT_TRUE(service->HasExtraSettingsPage());
    EXPECT_FALSE(service->HasMappings());
}

TEST_F(ServiceTest, TheRegistryFormHoldsEveryValueAndLoadsBack) {
    auto service = CRef<CTCPService>::Adopt(MakeConfiguredService());
    ASSERT_TRUE(service->SaveToRegistry("Services\\Web"));
    const std::string key = "Services\\Web";
    EXPECT_EQ(RegReadString(key, "ServiceType", ""), "CTCPService");
    EXPECT_EQ(RegReadString(key, "Name", ""), "Web");
    EXPECT_EQ(RegReadString(key, "Description", ""), "Web proxy");
    EXPECT_EQ(RegReadDWORD(key, "PortNumber", 0), 8080u);
    EXPECT_EQ(RegReadDWORD(key, "SpecifiedInterfaceAddress", 0), 1u);
    EXPECT_EQ(RegReadString(key, "InterfaceAddress", ""), "192.168.0.1");
    EXPECT_EQ(RegReadDWORD(key, "Enabled", 7), 0u);
    EXPECT_EQ(RegReadDWORD(key, "CriticalService", 0), 1u);
    EXPECT_EQ(RegReadDWORD(key, "TimeOutSessions", 7), 0u);
    EXPECT_EQ(RegReadDWORD(key, "SessionTimeout", 0), 300u);
    EXPECT_EQ(RegReadDWORD(key, "NonProxyRequestAction", 0), 1u);
    EXPECT_EQ(RegReadString(key, "NonProxyRequestHost", ""), "intranet");
    EXPECT_EQ(RegReadDWORD(key, "NonProxyRequestPort", 0), 81u);
    EXPECT_EQ(RegReadDWORD(key, "LoggingEnabled", 7), 0u);
    EXPECT_EQ(RegReadDWORD(key, "LogOptions", 0), 0x1FFu);
    EXPECT_EQ(RegReadDWORD(key, "LimitSessions", 0), 1u);
    EXPECT_EQ(RegReadDWORD(key, "SessionLimit", 0), 9u);
    EXPECT_EQ(RegReadDWORD(key, "ConnectMethod", 0), 4u);
    EXPECT_EQ(RegReadString(key, "ProxyServer", ""), "proxy.example");
    EXPECT_EQ(RegReadDWORD(key, "ProxyPort", 0), 3128u);
    EXPECT_EQ(RegReadString(key, "SOCKS4Password", ""), "pw");
    EXPECT_EQ(RegReadDWORD(key + "\\AccessRights", "RightType", 9), 0u);
    EXPECT_EQ(RegReadDWORD(key + "\\StartStopRights", "RightType", 9), 1u);
    EXPECT_EQ(RegReadDWORD(key + "\\EditRights", "RightType", 9), 2u);

    auto loaded = CRef<CTCPService>::Adopt(new CTCPService);
    loaded->LoadFromRegistry(key);
    CService::Settings expected = service->GetSettings();
    ExpectSameSettings(loaded->GetSettings(), expected);
    EXPECT_FALSE(loaded->GetRestartRequested());  // exchanged in archives only
    EXPECT_EQ(loaded->GetUpstream().ConnectMethod, 4u);
    EXPECT_EQ(loaded->GetUpstream().ProxyServer, "proxy.example");
    EXPECT_EQ(loaded->GetUpstream().ProxyPort, 3128u);
    EXPECT_EQ(loaded->GetUpstream().SOCKS4Password, "pw");
}

TEST_F(ServiceTest, AStoredServiceLoadsItsOwnDefaultsAndRightsGetTheirFixedIdentity) {
    const std::string key = "Services\\Bare";
    ASSERT_TRUE(RegWriteDWORD(key, "PortNumber", 2121));
    ASSERT_TRUE(RegWriteDWORD(key + "\\EditRights", "RightType", 7));
    ASSERT_TRUE(RegWriteString(key + "\\EditRights", "Description", "whatever"));
    auto service = CRef<CTCPService>::Adopt(new CTCPService);
    service->LoadFromRegistry(key);
    const CService::Settings s = service->GetSettings();
    EXPECT_EQ(s.portNumber, 2121u);
    EXPECT_EQ(s.nonProxyRequestPort, 2121u);
    EXPECT_EQ(s.sessionTimeout, 180u);  // a new one has 60
    EXPECT_EQ(s.sessionLimit, 0u);      // a new one has 5
    EXPECT_EQ(s.interfaceAddress, "0.0.0.0");
    EXPECT_TRUE(s.enabled);
    EXPECT_TRUE(s.timeOutSessions);
    EXPECT_TRUE(s.loggingEnabled);
    EXPECT_EQ(s.logOptions, 219u);
    EXPECT_EQ(service->GetEditRights().GetRightType(), 2u);
    EXPECT_EQ(service->GetEditRights().GetDescription(), "Users can modify this service");
    EXPECT_EQ(service->GetUpstream().ConnectMethod, 0u);
}

TEST_F(ServiceTest, TheArchiveFormIsTheBaseFieldsTheRightsThenTheUpstreamFields) {
    auto service = CRef<CTCPService>::Adopt(MakeConfiguredService());
    Bytes expected;
    Str(expected, "Web");
    Str(expected, "Web proxy");
    expected.Dword(8080).Dword(1);
    Str(expected, "192.168.0.1");
    expected.Dword(0).Dword(1).Dword(0).Dword(300).Dword(1);
    Str(expected, "intranet");
    expected.Dword(81).Dword(0).Dword(0x1FF).Dword(1).Dword(1).Dword(9);
    for (CRight* right : service->GetRights()) {
        for (std::uint8_t byte : RightBytes(*right))
            expected.Byte(byte);
    }
    expected.Dword(4);
    Str(expected, "proxy.example");
    expected.Dword(3128);
    Str(expected, "pw");

    const std::vector<std::uint8_t> bytes = StoreBytes([&](CArchive& ar) { service->Serialize(ar); });
    EXPECT_EQ(bytes, expected.Get()) << HexDump(bytes, 200);

    auto loaded = CRef<CTCPService>::Adopt(new CTCPService);
    EXPECT_TRUE(LoadBytes(expected, [&](CArchive& ar) { loaded->Serialize(ar); }));
    ExpectSameSettings(loaded->GetSettings(), service->GetSettings());
    EXPECT_TRUE(loaded->GetRestartRequested());
    EXPECT_EQ(loaded->GetUpstream().ProxyServer, "proxy.example");

    // A record cut short changes nothing.
    auto untouched = CRef<CTCPService>::Adopt(new CTCPService(21, "FTP", "ftp", FALSE));
    std::vector<std::uint8_t> cut(expected.Get().begin(), expected.Get().end() - 3);
    Bytes truncated;
    for (std::uint8_t byte : cut)
        truncated.Byte(byte);
    EXPECT_EQ(LoadFailure(truncated, [&](CArchive& ar) { untouched->Serialize(ar); }),
              CArchiveException::endOfFile);
    EXPECT_EQ(untouched->GetName(), "FTP");
    EXPECT_EQ(untouched->GetPortNumber(), 21u);
    EXPECT_EQ(untouched->GetUpstream().ProxyServer, "");
}

TEST_F(ServiceTest, AUDPServiceAddsNothingToTheArchiveForm) {
    auto tcp = CRef<CTCPService>::Adopt(new CTCPService(53, "DNS", "d", FALSE));
    auto udp = CRef<CUDPService>::Adopt(new CUDPService(53, "DNS", "d", FALSE));
    const auto tcpBytes = StoreBytes([&](CArchive& ar) { tcp->Serialize(ar); });
    const auto udpBytes = StoreBytes([&](CArchive& ar) { udp->Serialize(ar); });
    // The TCP form is the UDP form and the four upstream fields (4 + 1 + 4 + 1 bytes here).
    ASSERT_EQ(tcpBytes.size(), udpBytes.size() + 10);
    EXPECT_TRUE(std::equal(udpBytes.begin(), udpBytes.end(), tcpBytes.begin()));
}

TEST_F(ServiceTest, TheServiceLogTakesOnlyItsBitsAndALogThatCannotOpenTurnsLoggingOff) {
    auto service = CRef<CService>::Adopt(new CService(1, "Svc", "", FALSE));
    service->SetLogging(TRUE, 1 | 4 | 64 | 128);
    service->OpenLogFile();
    ASSERT_TRUE(service->GetLogFile());
    service->WriteLog(1, "%s", "rights changed");
    service->WriteLog(4, "%s", "a session line");  // no service line for bit 4
    service->WriteLog(2, "%s", "not in the options");
    service->WriteLog(64, "Service %s", "started");
    service->WriteLog(128, "%s", "broken");
    const Strings lines = LogLines("Svc");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find("\tConfiguration changed\trights changed"), std::string::npos);
    EXPECT_NE(lines[1].find("\tService started"), std::string::npos);
    EXPECT_NE(lines[2].find("\tError:\tbroken"), std::string::npos);

    auto unnamed = CRef<CService>::Adopt(new CService(1, "a/b", "", FALSE));
    unnamed->OpenLogFile();
    EXPECT_FALSE(unnamed->GetLogFile());
    EXPECT_FALSE(unnamed->GetSettings().loggingEnabled);
}

TEST_F(ServiceTest, RestartStopsStartsAndClearsTheRequest) {
    auto service = CRef<CTCPService>::Adopt(new CTCPService(FreeTcpPort(), "Re", "", FALSE));
    service->SetLogging(TRUE, 0xFF);
    service->OpenLogFile();
    service->SetRestartRequested(TRUE);
    service->Restart();
    EXPECT_FALSE(service->GetRestartRequested());
    EXPECT_EQ(service->GetRunState(), CService::kRunning);
    service->Stop();
    const Strings lines = LogLines("Re");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[0].find("\tService stopped"), std::string::npos);
    EXPECT_NE(lines[1].find("\tService started"), std::string::npos);
    EXPECT_NE(lines[2].find("\tService restarted"), std::string::npos);
    EXPECT_NE(lines[3].find("\tService stopped"), std::string::npos);
}

}  // namespace
