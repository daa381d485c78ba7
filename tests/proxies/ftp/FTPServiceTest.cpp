#include "proxies/ftp/FTPService.h"

#include "engine/framework/FrameworkFormat.h"
#include "foundation/NVDataObject.h"
#include "proxies/ftp/FTPSession.h"
#include "support/ArchiveHelpers.h"

#include <gtest/gtest.h>

namespace {

TEST(FTPServiceTest, DefaultsClassAndSessions) {
    auto service = CRef<CFTPService>::Adopt(new CFTPService);
    EXPECT_EQ(service->GetName(), "FTP Proxy server");
    EXPECT_EQ(service->GetPortNumber(), 21u);
    EXPECT_EQ(service->GetServiceKind(), FrameworkFormat::kKindFTP);
    EXPECT_EQ(service->GetSupportedMethods(), 7u);
    ASSERT_NE(CRuntimeClass::FromName("CFTPService"), nullptr);
    // The archive form is a TCP service's, field for field.
    auto tcp = CRef<CTCPService>::Adopt(new CTCPService(21, "FTP Proxy server", "FTP Proxy server", FALSE));
    EXPECT_EQ(StoreBytes([&](CArchive& ar) { service->Serialize(ar); }),
              StoreBytes([&](CArchive& ar) { tcp->Serialize(ar); }));

    auto session = CRef<CSession>::Adopt(service->CreateSession(-1));
    auto* ftp = dynamic_cast<CFTPSession*>(session.Get());
    ASSERT_NE(ftp, nullptr);
    EXPECT_EQ(ftp->GetDescription(), "FTP:");
    CNVDataObject user(7);
    ftp->GetValue(20, user);
    EXPECT_EQ(user.strData, "");
    EXPECT_EQ(user.DataType, CNVDataObject::TypeString);
}

}  // namespace
