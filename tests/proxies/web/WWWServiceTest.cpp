#include "proxies/web/WWWService.h"

#include "engine/framework/FrameworkFormat.h"
#include "foundation/RegistryStore.h"
#include "proxies/web/WWWSession.h"
#include "support/ArchiveHelpers.h"
#include "support/FrameworkTestKit.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

class WWWServiceTest : public FrameworkTest {};

CWWWService::WebSettings SomeSettings() {
    return {.cacheNonProxyRequests = 1,
            .prependResource = 1,
            .prependInfo = "intra",
            .redirectURL = "http://elsewhere.example/",
            .serverRoot = "/srv/www"};
}

void ExpectSettings(const CWWWService& service, const CWWWService::WebSettings& expected) {
    const CWWWService::WebSettings got = service.GetWebSettings();
    EXPECT_EQ(got.cacheNonProxyRequests, expected.cacheNonProxyRequests);
    EXPECT_EQ(got.prependResource, expected.prependResource);
    EXPECT_EQ(got.prependInfo, expected.prependInfo);
    EXPECT_EQ(got.redirectURL, expected.redirectURL);
    EXPECT_EQ(got.serverRoot, expected.serverRoot);
}

TEST_F(WWWServiceTest, DefaultsRegistryAndArchiveForms) {
    auto service = CRef<CWWWService>::Adopt(new CWWWService);
    EXPECT_EQ(service->GetName(), "WWW Proxy server");
    EXPECT_EQ(service->GetDescription(), "WWW Proxy server");
    EXPECT_EQ(service->GetPortNumber(), 80u);
    EXPECT_EQ(service->GetServiceKind(), FrameworkFormat::kKindWeb);
    EXPECT_EQ(service->GetSupportedMethods(), 7u);
    EXPECT_TRUE(service->HasNonProxyRequestOption());
    ExpectSettings(*service, {});
    // Created by its class name, as the service manager makes it from the store.
    const CRuntimeClass* cls = CRuntimeClass::FromName("CWWWService");
    ASSERT_NE(cls, nullptr);
    EXPECT_TRUE(cls->IsDerivedFrom(RUNTIME_CLASS(CTCPService)));

    service->SetWebSettings(SomeSettings());
    COutboundSettings upstream;
    upstream.ConnectMethod = 1;
    upstream.ProxyServer = "up.example";
    upstream.ProxyPort = 3128;
    service->SetUpstream(upstream);

    // Registry: the five values after the TCP service's, read back with their defaults.
    ASSERT_TRUE(service->SaveToRegistry("Services\\Web"));
    EXPECT_EQ(RegReadString("Services\\Web", "PrependInfo", "?"), "intra");
    EXPECT_EQ(RegReadDWORD("Services\\Web", "CacheNonProxyRequests", 9), 1u);
    auto loaded = CRef<CWWWService>::Adopt(new CWWWService);
    loaded->LoadFromRegistry("Services\\Web");
    ExpectSettings(*loaded, SomeSettings());
    EXPECT_EQ(loaded->GetUpstream().ProxyServer, "up.example");
    auto bare = CRef<CWWWService>::Adopt(new CWWWService);
    bare->LoadFromRegistry("Services\\Missing");
    ExpectSettings(*bare, {});

    // Archive: the TCP service's record, then the five fields; the tail is exactly them.
    const auto tcpBytes = StoreBytes([&](CArchive& ar) { service->Serialize(ar); });
    const auto tail = StoreBytes([](CArchive& ar) {
        ar << DWORD{1} << DWORD{1} << std::string("intra") << std::string("http://elsewhere.example/")
           << std::string("/srv/www");
    });
    ASSERT_GT(tcpBytes.size(), tail.size());
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), tcpBytes.end() - tail.size()));
    auto copy = CRef<CWWWService>::Adopt(new CWWWService);
    EXPECT_TRUE(LoadBytes(tcpBytes, [&](CArchive& ar) { copy->Serialize(ar); }));
    ExpectSettings(*copy, SomeSettings());
    EXPECT_EQ(copy->GetUpstream().ProxyPort, 3128u);

    // A record cut short anywhere changes nothing.
    for (std::size_t cut : {tcpBytes.size() - 1, tcpBytes.size() - tail.size() + 3}) {
        auto target = CRef<CWWWService>::Adopt(new CWWWService);
        const std::vector<std::uint8_t> shorter(tcpBytes.begin(), tcpBytes.begin() + cut);
        bool failed = false;
        try {
            LoadBytes(shorter, [&](CArchive& ar) { target->Serialize(ar); });
        } catch (CArchiveException* e) {
            e->Delete();
            failed = true;
        }
        EXPECT_TRUE(failed) << cut;
        ExpectSettings(*target, {});
        EXPECT_EQ(target->GetUpstream().ProxyServer, "");
    }
}

}  // namespace
