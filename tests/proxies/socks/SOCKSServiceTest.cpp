#include "proxies/socks/SOCKSService.h"

#include "engine/framework/FrameworkFormat.h"
#include "foundation/RegistryStore.h"
#include "proxies/socks/SOCKSSession.h"
#include "support/ArchiveHelpers.h"
#include "support/FrameworkTestKit.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

class SOCKSServiceTest : public FrameworkTest {};

CSOCKSService::SOCKSSettings SomeSettings() {
    return {.useRFC1929 = 1,
            .doReverseLookups = 1,
            .referHTTPRequests = 0,
            .cacheReferredHTTPRequests = 0,
            .useSpecifiedPolicy = 1,
            .httpPolicy = "Intranet web"};
}

void ExpectSettings(const CSOCKSService& service, const CSOCKSService::SOCKSSettings& expected) {
    const CSOCKSService::SOCKSSettings got = service.GetSOCKSSettings();
    EXPECT_EQ(got.useRFC1929, expected.useRFC1929);
    EXPECT_EQ(got.doReverseLookups, expected.doReverseLookups);
    EXPECT_EQ(got.referHTTPRequests, expected.referHTTPRequests);
    EXPECT_EQ(got.cacheReferredHTTPRequests, expected.cacheReferredHTTPRequests);
    EXPECT_EQ(got.useSpecifiedPolicy, expected.useSpecifiedPolicy);
    EXPECT_EQ(got.httpPolicy, expected.httpPolicy);
}

TEST_F(SOCKSServiceTest, DefaultsRegistryAndArchiveForms) {
    auto service = CRef<CSOCKSService>::Adopt(new CSOCKSService);
    EXPECT_EQ(service->GetName(), "SOCKS Proxy server");
    EXPECT_EQ(service->GetDescription(), "SOCKS Proxy server");
    EXPECT_EQ(service->GetPortNumber(), 1080u);
    EXPECT_EQ(service->GetServiceKind(), FrameworkFormat::kKindSOCKS);
    EXPECT_FALSE(service->HasNonProxyRequestOption());
    const CSOCKSService::SOCKSSettings defaults;
    EXPECT_EQ(defaults.referHTTPRequests, 1u);
    EXPECT_EQ(defaults.cacheReferredHTTPRequests, 1u);
    ExpectSettings(*service, defaults);
    const CRuntimeClass* cls = CRuntimeClass::FromName("CSOCKSService");
    ASSERT_NE(cls, nullptr);
    EXPECT_TRUE(cls->IsDerivedFrom(RUNTIME_CLASS(CTCPService)));

    // Registry: the six values after the TCP service's, read back with their defaults.
    service->SetSOCKSSettings(SomeSettings());
    ASSERT_TRUE(service->SaveToRegistry("Services\\SOCKS"));
    EXPECT_EQ(RegReadString("Services\\SOCKS", "HTTPPolicy", "?"), "Intranet web");
    EXPECT_EQ(RegReadDWORD("Services\\SOCKS", "ReferHTTPRequests", 9), 0u);
    auto loaded = CRef<CSOCKSService>::Adopt(new CSOCKSService);
    loaded->LoadFromRegistry("Services\\SOCKS");
    ExpectSettings(*loaded, SomeSettings());
    auto bare = CRef<CSOCKSService>::Adopt(new CSOCKSService);
    bare->LoadFromRegistry("Services\\Missing");
    ExpectSettings(*bare, defaults);

    // Archive: the TCP service's record, then the six fields.
    const auto bytes = StoreBytes([&](CArchive& ar) { service->Serialize(ar); });
    const auto tail = StoreBytes([](CArchive& ar) {
        ar << DWORD{1} << DWORD{1} << DWORD{0} << DWORD{0} << DWORD{1}
           << std::string("Intranet web");
    });
    ASSERT_GT(bytes.size(), tail.size());
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), bytes.end() - tail.size()));
    auto copy = CRef<CSOCKSService>::Adopt(new CSOCKSService);
    EXPECT_TRUE(LoadBytes(bytes, [&](CArchive& ar) { copy->Serialize(ar); }));
    ExpectSettings(*copy, SomeSettings());
}

}  // namespace
