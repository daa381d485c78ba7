#include "proxies/mapping/TCPMappingService.h"

#include "foundation/RegistryStore.h"
#include "support/ArchiveHelpers.h"
#include "support/FrameworkTestKit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>

namespace {

using namespace std::string_literals;

const std::string kKey = "Services\\Map";

// Byte i of a password is XORed with 2i + 2: the first byte of PasswordIn and the last of
// PasswordOut scramble to NUL.
CTCPMappingLink Link() {
    return {1, 1, "in", "\x02p"s, 1, "out", "ab\x06"s};
}

auto Fields(const CTCPMappingLink& l) {
    return std::tie(l.EncryptConnectionsIn, l.SpecifyUserForIncomingConnection, l.UsernameIn,
                    l.PasswordIn, l.EncryptConnectionsOut, l.UsernameOut, l.PasswordOut);
}

class TCPMappingServiceTest : public FrameworkTest {};

// The link settings follow the table in the archive; passwords are scrambled and kept whole
// in the archive and in the store, where a load and a save keep the same bytes.
TEST_F(TCPMappingServiceTest, ArchiveAndStoreKeepTheLinkWithScrambledPasswords) {
    auto service = CRef<CTCPMappingService>::Adopt(new CTCPMappingService);
    service->SetLink(Link());
    const auto bytes = StoreBytes([&](CArchive& ar) { service->Serialize(ar); });
    const Bytes tail = Bytes().Dword(1).Dword(1).Byte(2).Text("in").Byte(2).Hex("00 74")
                           .Dword(1).Byte(3).Text("out").Byte(3).Hex("63 66 00");
    ASSERT_GT(bytes.size(), tail.Size());
    EXPECT_TRUE(std::equal(tail.Get().begin(), tail.Get().end(), bytes.end() - tail.Size()));

    auto back = CRef<CTCPMappingService>::Adopt(new CTCPMappingService);
    EXPECT_TRUE(LoadBytes(bytes, [&](CArchive& ar) { back->Serialize(ar); }));
    const CTCPMappingLink link = Link();
    EXPECT_EQ(Fields(back->GetLink()), Fields(link));

    ASSERT_TRUE(back->SaveToRegistry(kKey));
    auto loaded = CRef<CTCPMappingService>::Adopt(new CTCPMappingService);
    loaded->LoadFromRegistry(kKey);
    EXPECT_EQ(Fields(loaded->GetLink()), Fields(link));
    ASSERT_TRUE(loaded->SaveToRegistry(kKey));
    EXPECT_EQ(RegReadString(kKey, "PasswordIn", "-"), "\x00t"s);
    EXPECT_EQ(RegReadString(kKey, "PasswordOut", "-"), "cf\x00"s);
}

// An upstream web proxy cannot carry a raw stream: a console's ConnectMethod 1 becomes 0 (the
// store's is seen end to end, with the line the service's start writes).
TEST_F(TCPMappingServiceTest, ConnectMethodOneFromAConsoleIsTakenAsDirect) {
    auto sender = CRef<CTCPMappingService>::Adopt(new CTCPMappingService);
    COutboundSettings upstream;
    upstream.ConnectMethod = 1;
    sender->SetUpstream(upstream);
    auto received = CRef<CTCPMappingService>::Adopt(new CTCPMappingService);
    EXPECT_TRUE(LoadBytes(StoreBytes([&](CArchive& ar) { sender->Serialize(ar); }),
                          [&](CArchive& ar) { received->Serialize(ar); }));
    EXPECT_EQ(received->GetUpstream().ConnectMethod, 0u);
}

}  // namespace
