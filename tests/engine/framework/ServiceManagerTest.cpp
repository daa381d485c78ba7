#include "engine/framework/ServiceManager.h"

#include "engine/framework/TCPService.h"
#include "engine/framework/UDPService.h"
#include "foundation/RegistryStore.h"
#include "remote/RemoteControlService.h"
#include "support/ArchiveHelpers.h"
#include "support/FrameworkTestKit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

Strings Names(CServiceManager& manager) {
    Strings names;
    CScopedLock lock(manager);
    for (const auto& entry : manager)
        names.push_back(entry.first);
    return names;
}

class ServiceManagerTest : public FrameworkTest {
protected:
    void StoreService(const std::string& subKey, const std::string& type, const std::string& name,
                      DWORD port) {
        const std::string key = "Services\\" + subKey;
        ASSERT_TRUE(RegWriteString(key, "ServiceType", type));
        ASSERT_TRUE(RegWriteString(key, "Name", name));
        ASSERT_TRUE(RegWriteDWORD(key, "PortNumber", port));
    }
};

TEST_F(ServiceManagerTest, ServicesLoadByTheirClassNameAndOnlyServiceClassesAreMade) {
    StoreService("Web", "CTCPService", "Web", 8080);
    StoreService("Remote", "CRemoteControlService", "Remote Control Service", 9808);
    StoreService("Names", "CUDPService", "Names", 5353);
    StoreService("Unknown", "CNoSuchService", "Unknown", 1);
    StoreService("Empty", "", "Empty", 2);
    StoreService("NotAService", "CLocation", "NotAService", 3);
    StoreService("Slashed", "CTCPService", "a\\b", 4);
    StoreService("Zweb", "CTCPService", "Web", 5);  // a second "Web" after the first

    CServiceManager manager;
    manager.LoadFromRegistry("Services");
    EXPECT_EQ(Names(manager), (Strings{"Names", "Remote Control Service", "Web"}));
    EXPECT_EQ(manager.FindService("Web")->GetRuntimeClass(), RUNTIME_CLASS(CTCPService));
    EXPECT_EQ(manager.FindService("Web")->GetPortNumber(), 8080u);
    EXPECT_EQ(manager.FindService("Names")->GetRuntimeClass(), RUNTIME_CLASS(CUDPService));
    CService* remote = manager.FindService("Remote Control Service");
    EXPECT_EQ(remote->GetRuntimeClass(), RUNTIME_CLASS(CRemoteControlService));
    EXPECT_TRUE(remote->GetCriticalService());  // always, whatever was stored

    // A save keeps the keys of what was not loaded, moves a service to the key of its name,
    // and deletes the key of a service it held and no longer holds.
    ASSERT_TRUE(manager.StopAndDeleteService("Names"));
    ASSERT_TRUE(manager.SaveToRegistry("Services"));
    EXPECT_EQ(RegEnumSubKeys("Services"), (Strings{"Empty", "NotAService", "Remote Control Service",
                                                   "Slashed", "Unknown", "Web", "Zweb"}));
    EXPECT_EQ(RegReadString("Services\\Remote Control Service", "ServiceType", ""),
              "CRemoteControlService");
}

TEST_F(ServiceManagerTest, TheRemoteControlServiceIsEnsuredAndBoundToLoopbackWithoutAPassword) {
    CServiceManager manager;
    manager.EnsureRemoteControlService();  // no Administrator at all
    CService* remote = manager.FindService("Remote Control Service");
    ASSERT_NE(remote, nullptr);
    EXPECT_EQ(remote->GetRuntimeClass(), RUNTIME_CLASS(CRemoteControlService));
    CService::Settings s = remote->GetSettings();
    EXPECT_EQ(s.portNumber, 808u);
    EXPECT_EQ(s.description, "Remote Control Service");
    EXPECT_TRUE(s.specifiedInterfaceAddress);
    EXPECT_EQ(s.interfaceAddress, "127.0.0.1");
    EXPECT_TRUE(s.enabled);
    EXPECT_TRUE(s.criticalService);
    EXPECT_EQ(remote->GetServiceKind(), 0);
    EXPECT_TRUE(remote->GetAccessRights().GetIncludeDefaultRights());
    EXPECT_TRUE(remote->GetStartStopRights().GetIncludeDefaultRights());
    EXPECT_TRUE(remote->GetEditRights().GetIncludeDefaultRights());

    // With a password the stored binding stays as it is; the service is enabled again.
    remote->SetInterfaceAddress(FALSE, "0.0.0.0");
    remote->SetEnabled(FALSE);
    AddUser("Administrator", "s3cret");
    manager.EnsureRemoteControlService();
    EXPECT_EQ(manager.FindService("Remote Control Service"), remote);
    s = remote->GetSettings();
    EXPECT_FALSE(s.specifiedInterfaceAddress);
    EXPECT_TRUE(s.enabled);

    dynamic_cast<CUser*>(m_engine->FindUser("Administrator", FALSE))->SetPassword("");
    manager.EnsureRemoteControlService();
    EXPECT_EQ(remote->GetSettings().interfaceAddress, "127.0.0.1");
    EXPECT_TRUE(remote->GetSettings().specifiedInterfaceAddress);
}

TEST_F(ServiceManagerTest, AddAndFindKeepOneServicePerSafeName) {
    CServiceManager manager;
    auto* first = new CTCPService(1, "Web", "", FALSE);
    EXPECT_TRUE(manager.AddService(first));
    auto* bad = new CTCPService(1, "..", "", FALSE);
    EXPECT_FALSE(manager.AddService(bad));
    bad->Release();
    CRef<CService> held = manager.FindServiceRef("Web");
    auto* second = new CTCPService(2, "Web", "", FALSE);
    EXPECT_TRUE(manager.AddService(second));  // the first is stopped and given up
    EXPECT_EQ(manager.FindService("Web"), second);
    EXPECT_EQ(held->GetReferenceCount(), 1);  // only ours is left
    EXPECT_TRUE(manager.StopAndDeleteService("Web"));
    EXPECT_EQ(manager.FindService("Web"), nullptr);
    EXPECT_FALSE(manager.StopAndDeleteService("Web"));
}

TEST_F(ServiceManagerTest, AnInertManagerExchangesItsServicesInTheMapForm) {
    CServiceManager source;
    source.AddService(new CTCPService(8080, "Web", "Web proxy", FALSE));
    source.AddService(new CUDPService(53, "DNS", "Names", FALSE));
    const auto bytes = StoreBytes([&](CArchive& ar) { source.Serialize(ar); });

    CServiceManager copy;
    EXPECT_TRUE(LoadBytes(bytes, [&](CArchive& ar) { copy.Serialize(ar); }));
    EXPECT_EQ(Names(copy), (Strings{"DNS", "Web"}));
    EXPECT_EQ(copy.FindService("DNS")->GetRuntimeClass(), RUNTIME_CLASS(CUDPService));
    EXPECT_EQ(copy.FindService("Web")->GetDescription(), "Web proxy");
    EXPECT_FALSE(copy.FindService("Web")->HasStarted());
    EXPECT_EQ(copy.FindService("Web")->GetRunState(), CService::kStopped);

    // A list whose key is not its service's name is refused whole.
    CServiceManager renamed;
    renamed.AddService(new CTCPService(8080, "Web", "", FALSE));
    renamed.FindService("Web")->SetName("Other");
    const auto mismatched = StoreBytes([&](CArchive& ar) { renamed.Serialize(ar); });
    Bytes refused;
    for (auto byte : mismatched)
        refused.Byte(byte);
    EXPECT_EQ(LoadFailure(refused, [&](CArchive& ar) { copy.Serialize(ar); }), CArchiveException::generic);
    EXPECT_EQ(Names(copy), (Strings{"DNS", "Web"}));
}

// The engine receives a new service list from a console: the running services stop, the new
// ones get their log files and start (a UDP service on its thread), the remote-control
// service is ensured, and a service a live session still uses is not freed.
TEST_F(ServiceManagerTest, ALiveManagerReplacesItsRunningServicesWithAReceivedList) {
    CServiceManager& live = m_engine->GetServiceManager();
    const std::uint16_t webPort = FreeTcpPort();
    const std::uint16_t remotePort = FreeTcpPort();
    live.AddService(new CTCPService(webPort, "Web", "", FALSE));
    live.AddService(new CRemoteControlService(remotePort, "Remote Control Service", "Remote Control Service"));
    live.StartServices();
    CRef<CService> oldWeb = live.FindServiceRef("Web");
    ASSERT_EQ(oldWeb->GetRunState(), CService::kRunning);

    CServiceManager console;
    auto* newWeb = new CTCPService(webPort, "Web", "new", FALSE);
    console.AddService(newWeb);
    console.AddService(new CUDPService(FreeTcpPort(), "Names", "", FALSE));
    const std::uint16_t newRemotePort = FreeTcpPort();
    console.AddService(new CRemoteControlService(newRemotePort, "Remote Control Service", "Remote Control Service"));
    const auto bytes = StoreBytes([&](CArchive& ar) { console.Serialize(ar); });

    // A corrupt list changes nothing.
    Bytes cut;
    for (std::size_t i = 0; i + 5 < bytes.size(); ++i)
        cut.Byte(bytes[i]);
    EXPECT_NE(LoadFailure(cut, [&](CArchive& ar) { live.Serialize(ar); }), CArchiveException::none);
    EXPECT_EQ(live.FindService("Web"), oldWeb.Get());
    EXPECT_EQ(oldWeb->GetRunState(), CService::kRunning);

    EXPECT_TRUE(LoadBytes(bytes, [&](CArchive& ar) { live.Serialize(ar); }));
    EXPECT_EQ(Names(live), (Strings{"Names", "Remote Control Service", "Web"}));
    EXPECT_EQ(oldWeb->GetRunState(), CService::kStopped);
    EXPECT_EQ(oldWeb->GetReferenceCount(), 1);  // ours: it stays usable
    CService* web = live.FindService("Web");
    EXPECT_NE(web, oldWeb.Get());
    EXPECT_EQ(web->GetRunState(), CService::kRunning);  // it took the port back
    EXPECT_TRUE(web->GetLogFile());
    CService* names = live.FindService("Names");
    EXPECT_TRUE(WaitFor([&] { return names->GetRunState() == CService::kRunning; }));
    CService* remote = live.FindService("Remote Control Service");
    EXPECT_EQ(remote->GetPortNumber(), newRemotePort);
    EXPECT_EQ(remote->GetRunState(), CService::kRunning);
    EXPECT_EQ(remote->GetSettings().interfaceAddress, "127.0.0.1");  // no Administrator here
    RawPeer client = RawPeer::Connect(webPort);
    live.StopAndDeleteAll();
    EXPECT_TRUE(Names(live).empty());
}

TEST_F(ServiceManagerTest, ShutDownStopsEveryServiceThreadEvenAfterAFailedStart) {
    CServiceManager& live = m_engine->GetServiceManager();
    RawUdp taken;
    auto* names = new CUDPService(taken.Port(), "Names", "", FALSE);
    live.AddService(names);
    live.StartServices();
    ASSERT_TRUE(WaitFor([&] { return names->GetRunState() == CService::kStartFailed; }));
    auto ended = names->EndedEvent();
    EXPECT_FALSE(ended->IsSignalled());
    live.StopAndDeleteAll();
    EXPECT_EQ(ended->Wait(5000), WAIT_OBJECT_0);
}

}  // namespace
