#include "proxies/mapping/TCPMappingService.h"

#include "engine/framework/FrameworkFormat.h"
#include "foundation/RegistryStore.h"
#include "support/ArchiveHelpers.h"
#include "support/FrameworkTestKit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

const std::string kKey = "Services\\Map";

// Each password has a byte that scrambles to NUL (byte i is XORed with 2i + 2): the first,
// and the last.
CTCPMappingLink Link() {
    CTCPMappingLink link;
    link.EncryptConnectionsIn = 1;
    link.SpecifyUserForIncomingConnection = 1;
    link.UsernameIn = "in";
    link.PasswordIn = "\x02p"s;
    link.EncryptConnectionsOut = 1;
    link.UsernameOut = "out";
    link.PasswordOut = "ab\x06"s;
    return link;
}

void ExpectLink(const CTCPMappingLink& link) {
    const CTCPMappingLink want = Link();
    EXPECT_EQ(link.EncryptConnectionsIn, want.EncryptConnectionsIn);
    EXPECT_EQ(link.SpecifyUserForIncomingConnection, want.SpecifyUserForIncomingConnection);
    EXPECT_EQ(link.UsernameIn, want.UsernameIn);
    EXPECT_EQ(link.PasswordIn, want.PasswordIn);
    EXPECT_EQ(link.EncryptConnectionsOut, want.EncryptConnectionsOut);
    EXPECT_EQ(link.UsernameOut, want.UsernameOut);
    EXPECT_EQ(link.PasswordOut, want.PasswordOut);
}

CRef<CTCPMappingService> NewService() {
    auto service = CRef<CTCPMappingService>::Adopt(new CTCPMappingService);
    service->SetName("Map");
    service->SetLink(Link());
    auto table = CRef<CMappings>::Adopt(new CMappings);
    table->SetDefaultTarget(CHostPort("origin", 80));
    service->SetMappings(table);
    return service;
}

class TCPMappingServiceTest : public FrameworkTest {};

TEST_F(TCPMappingServiceTest, DefaultsOfANewService) {
    CTCPMappingService service;
    EXPECT_EQ(service.GetName(), "TCP Mapping service");
    EXPECT_EQ(service.GetDescription(), "TCP Mapping service");
    EXPECT_EQ(service.GetPortNumber(), 0u);
    EXPECT_EQ(service.GetServiceKind(), FrameworkFormat::kKindMapping);
    EXPECT_EQ(service.GetSupportedMethods(), 6u);
    EXPECT_TRUE(service.HasMappings());
    EXPECT_FALSE(service.HasExtraSettingsPage());
    EXPECT_EQ(service.GetMappings()->GetAllowDefault(), 0u);
    EXPECT_EQ(service.GetLink().EncryptConnectionsIn, 0u);
    EXPECT_EQ(service.GetLink().EncryptConnectionsOut, 0u);
}

// The link settings follow the table in the archive, passwords scrambled and whole.
TEST_F(TCPMappingServiceTest, ArchiveCarriesTheLinkAfterTheTable) {
    CRef<CTCPMappingService> service = NewService();
    const auto bytes = StoreBytes([&](CArchive& ar) { service->Serialize(ar); });
    const Bytes tail = Bytes()
                           .Dword(1).Dword(1)                        // SpecifyUser..., EncryptIn
                           .Byte(2).Text("in").Byte(2).Hex("00 74")  // "\x02p" scrambled
                           .Dword(1).Byte(3).Text("out")
                           .Byte(3).Hex("63 66 00");                 // "ab\x06" scrambled
    ASSERT_GT(bytes.size(), tail.Size());
    EXPECT_TRUE(std::equal(tail.Get().begin(), tail.Get().end(), bytes.end() - tail.Size()));

    auto back = CRef<CTCPMappingService>::Adopt(new CTCPMappingService);
    EXPECT_TRUE(LoadBytes(bytes, [&](CArchive& ar) { back->Serialize(ar); }));
    ExpectLink(back->GetLink());
    EXPECT_EQ(back->GetMappings()->GetDefaultTarget(), CHostPort("origin", 80));

    // A record cut in the link settings changes nothing.
    Bytes cut;
    std::for_each(bytes.begin(), bytes.end() - 2, [&](std::uint8_t b) { cut.Byte(b); });
    auto untouched = CRef<CTCPMappingService>::Adopt(new CTCPMappingService);
    EXPECT_EQ(LoadFailure(cut, [&](CArchive& ar) { untouched->Serialize(ar); }),
              CArchiveException::endOfFile);
    EXPECT_EQ(untouched->GetName(), "TCP Mapping service");
    EXPECT_EQ(untouched->GetLink().UsernameOut, "");
}

// Stored scrambled, NUL bytes kept; loading and saving again stores the same bytes.
TEST_F(TCPMappingServiceTest, RegistryKeepsScrambledPasswordsWhole) {
    ASSERT_TRUE(NewService()->SaveToRegistry(kKey));
    EXPECT_EQ(RegReadString(kKey, "PasswordIn", "-"), "\x00t"s);
    EXPECT_EQ(RegReadString(kKey, "PasswordOut", "-"), "cf\x00"s);
    EXPECT_EQ(RegReadDWORD(kKey, "SpecifyUserForIncomingConnection", 9), 1u);
    EXPECT_EQ(RegReadString(kKey + "\\Mappings", "Host", "-"), "origin");

    auto loaded = CRef<CTCPMappingService>::Adopt(new CTCPMappingService);
    loaded->LoadFromRegistry(kKey);
    ExpectLink(loaded->GetLink());
    ASSERT_TRUE(loaded->SaveToRegistry(kKey));
    EXPECT_EQ(RegReadString(kKey, "PasswordIn", "-"), "\x00t"s);
    EXPECT_EQ(RegReadString(kKey, "PasswordOut", "-"), "cf\x00"s);
}

// An upstream web proxy cannot carry a raw stream: ConnectMethod 1 from the store or from a
// console becomes 0, and the next start says so once.
TEST_F(TCPMappingServiceTest, ConnectMethodOneIsTakenAsDirect) {
    ASSERT_TRUE(RegWriteString(kKey, "Name", "Map"));
    ASSERT_TRUE(RegWriteDWORD(kKey, "ConnectMethod", 1));
    auto service = CRef<CTCPMappingService>::Adopt(new CTCPMappingService);
    service->LoadFromRegistry(kKey);
    EXPECT_EQ(service->GetUpstream().ConnectMethod, 0u);

    COutboundSettings upstream;
    upstream.ConnectMethod = 1;
    auto sender = CRef<CTCPMappingService>::Adopt(new CTCPMappingService);
    sender->SetUpstream(upstream);
    const auto bytes = StoreBytes([&](CArchive& ar) { sender->Serialize(ar); });
    auto received = CRef<CTCPMappingService>::Adopt(new CTCPMappingService);
    EXPECT_TRUE(LoadBytes(bytes, [&](CArchive& ar) { received->Serialize(ar); }));
    EXPECT_EQ(received->GetUpstream().ConnectMethod, 0u);

    service->SetPortNumber(FreeTcpPort());
    service->SetInterfaceAddress(TRUE, "127.0.0.1");
    service->OpenLogFile();
    service->Start();
    service->Stop();
    service->Start();
    service->Stop();
    const std::vector<std::string> lines = WithoutTimes(LogLines("Map"));
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "Error:\tConnectMethod 1 (upstream web proxy) cannot carry a TCP mapping - "
                         "connecting directly"),
              1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Service started"), 2);
}

}  // namespace
