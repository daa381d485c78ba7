#include "proxies/web/MimeTypes.h"

#include "foundation/RegistryStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class MimeTypesTest : public ::testing::Test {
protected:
    TempStateDir state;
    void SetUp() override { SetRegistryRoot("Urvo Software", "Norvane 2"); }
};

TEST_F(MimeTypesTest, BuiltInTable) {
    const std::pair<const char*, const char*> table[] = {
        {"htm", "text/html"}, {"html", "text/html"}, {"txt", "text/plain"},
        {"text", "text/plain"}, {"ief", "image/ief"}, {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"}, {"gif", "image/gif"}, {"tif", "image/tiff"},
        {"tiff", "image/tiff"}, {"png", "image/x-png"}, {"pcd", "image/x-photo-cd"},
        {"bmp", "image/x-MS-bmp"}, {"rle", "image/x-MS-bmp"}, {"rgb", "image/x-rgb"},
        {"xbm", "image/x-xbitmap"}, {"exe", "application/octet-stream"},
        {"bin", "application/octet-stream"}, {"gz", "application/x-gzip"},
        {"Z", "application/x-compress"}, {"zip", "application/x-zip-compressed"},
        {"ps", "application/postscript"}, {"eps", "application/postscript"},
        {"ai", "application/postscript"}, {"hqx", "application/mac-binhex40"},
        {"au", "audio/basic"}, {"snd", "audio/basic"}, {"aif", "audio/x-aiff"},
        {"aiff", "audio/x-aiff"}, {"mp2", "audio/x-mpeg"}, {"mpa", "audio/x-mpeg"},
        {"abs", "audio/x-mpeg"}, {"ra", "audio/x-pn-realaudio"},
        {"ram", "audio/x-pn-realaudio"}, {"wav", "audio/x-wav"}, {"mpg", "video/mpeg"},
        {"mpeg", "video/mpeg"}, {"mpe", "video/mpeg"}, {"qt", "video/quicktime"},
        {"mov", "video/quicktime"}, {"mpv2", "video/x-mpeg2"}, {"mp2v", "video/x-mpeg2"},
        {"avi", "video/x-msvideo"}, {"vdo", "video/vdo"},
    };
    for (const auto& [extension, type] : table) {
        ASSERT_NE(LookupBuiltInMimeType(extension), nullptr) << extension;
        EXPECT_STREQ(LookupBuiltInMimeType(extension), type) << extension;
        EXPECT_EQ(GetMimeType(std::string("/dir/file.") + extension), type) << extension;
    }
    EXPECT_EQ(LookupBuiltInMimeType("css"), nullptr);
    EXPECT_EQ(LookupBuiltInMimeType(""), nullptr);
}

TEST_F(MimeTypesTest, CaseAndExtensionRules) {
    EXPECT_EQ(GetMimeType("/INDEX.HTML"), "text/html");
    EXPECT_EQ(GetMimeType("/a.JpEg"), "image/jpeg");
    EXPECT_EQ(GetMimeType("/a.tar.Z"), "application/x-compress");
    EXPECT_EQ(GetMimeType("/a.tar.z"), "application/unknown");
    EXPECT_EQ(GetMimeType("/"), "text/html");
    EXPECT_EQ(GetMimeType("/README"), "text/plain");
    EXPECT_EQ(GetMimeType(""), "text/plain");
    EXPECT_EQ(GetMimeType("/a/"), "text/plain");
    EXPECT_EQ(GetMimeType("/a.css"), "application/unknown");
    EXPECT_EQ(GetMimeType("/a."), "application/unknown");
    // The extension is taken from the last segment only.
    EXPECT_EQ(GetMimeType("/www.site.d/readme"), "text/plain");
    EXPECT_EQ(GetMimeType("Resources\\Icons.gif\\x"), "text/plain");
    EXPECT_EQ(GetMimeType("Resources\\Default.gif"), "image/gif");
    EXPECT_EQ(GetMimeType("/srv/root.d/a.gif"), "image/gif");
}

TEST_F(MimeTypesTest, ConfiguredTypes) {
    ASSERT_TRUE(RegWriteString("MimeTypes", "gif", "image/fancy-gif"));
    ASSERT_TRUE(RegWriteString("MimeTypes", "css", "text/css"));
    ASSERT_TRUE(RegWriteString("MimeTypes", "htm", ""));  // empty: the built-in type stays
    EXPECT_EQ(GetMimeType("/a.gif"), "image/fancy-gif");
    EXPECT_EQ(GetMimeType("/a.GIF"), "image/fancy-gif");
    EXPECT_EQ(GetMimeType("/a.css"), "text/css");
    EXPECT_EQ(GetMimeType("/a.htm"), "text/html");

    ASSERT_TRUE(RegWriteString("MimeTypes", "NoExtension", "application/x-none"));
    ASSERT_TRUE(RegWriteString("MimeTypes", "DefaultMimeType", "application/octet-stream"));
    EXPECT_EQ(GetMimeType("/README"), "application/x-none");
    EXPECT_EQ(GetMimeType("/a.xyz"), "application/octet-stream");
    EXPECT_EQ(GetMimeType("/"), "text/html");
    // The setting names are not extensions.
    EXPECT_EQ(GetMimeType("/a.NoExtension"), "application/octet-stream");

    // A stored type that would break the header line is passed over.
    ASSERT_TRUE(RegWriteString("MimeTypes", "png", "text/html\r\nSet-Cookie: x=1"));
    EXPECT_EQ(GetMimeType("/a.png"), "image/x-png");
    ASSERT_TRUE(RegWriteString("MimeTypes", "DefaultMimeType", "a\nb"));
    EXPECT_EQ(GetMimeType("/a.xyz"), "application/unknown");
}

}  // namespace
