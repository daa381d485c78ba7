#include "proxies/web/CacheDownload.h"

#include "foundation/RegistryStore.h"
#include "platform/kernel/File.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

namespace {

using EEnd = CCacheDownload::EEnd;

constexpr std::int64_t kNow = 1700000000;

class CacheDownloadTest : public ::testing::Test {
protected:
    TempStateDir state;
    TempDir folder;
    std::string path;

    void SetUp() override {
        SetRegistryRoot("Urvo Software", "Norvane 2");
        path = folder.Path() + "/0000000A.nvc";
    }

    static CWWWResponse Response(const char* contentLength, const char* type = nullptr,
                                 const char* lastModified = nullptr) {
        CWWWResponse response;
        response.version = "HTTP/1.1";
        response.code = 200;
        if (contentLength)
            response.headers.Add("Content-Length", contentLength);
        if (type)
            response.headers.Add("Content-Type", type);
        if (lastModified)
            response.headers.Add("Last-Modified", lastModified);
        return response;
    }
    std::string Contents() const {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static bool Write(CCacheDownload& download, const std::string& text) {
        return download.Write(text.data(), text.size());
    }
};

TEST_F(CacheDownloadTest, ABodyOfExactlyItsLengthIsKeptWhoeverClosed) {
    for (EEnd end : {EEnd::serverClosed, EEnd::clientClosed}) {
        CCacheDownload download;
        ASSERT_TRUE(download.Open(path, Response("10", "text/plain",
                                                 "Sun, 06 Nov 1994 08:49:37 GMT")));
        EXPECT_TRUE(Write(download, "01234"));
        EXPECT_TRUE(Write(download, ""));
        EXPECT_TRUE(Write(download, "56789"));
        EXPECT_EQ(download.GetWritten(), 10u);
        const auto done = download.Finish(end, "/a.html", kNow);
        ASSERT_TRUE(done);
        EXPECT_EQ(done->size, 10u);
        EXPECT_EQ(done->contentType, "text/plain");
        EXPECT_EQ(done->lastModified, 784111777);
        EXPECT_FALSE(download.IsOpen());
        EXPECT_EQ(Contents(), "0123456789");
        // Finished once: nothing more to finish, and the file stays.
        EXPECT_FALSE(download.Finish(EEnd::abandoned, "/a.html", kNow));
        EXPECT_TRUE(FileExists(path));
    }
}

TEST_F(CacheDownloadTest, WithoutALengthOnlyTheServersCloseCompletesIt) {
    {
        CCacheDownload download;
        ASSERT_TRUE(download.Open(path, Response(nullptr)));
        EXPECT_TRUE(Write(download, "abc"));
        const auto done = download.Finish(EEnd::serverClosed, "/dir/pic.GIF", kNow);
        ASSERT_TRUE(done);
        EXPECT_EQ(done->size, 3u);
        // No Content-Type: the request path's; no readable Last-Modified: the end's time.
        EXPECT_EQ(done->contentType, "image/gif");
        EXPECT_EQ(done->lastModified, kNow);
        EXPECT_EQ(Contents(), "abc");
    }
    for (EEnd end : {EEnd::clientClosed, EEnd::abandoned}) {
        CCacheDownload download;
        ASSERT_TRUE(download.Open(path, Response(nullptr, "text/html", "garbage")));
        EXPECT_TRUE(Write(download, "abc"));
        EXPECT_FALSE(download.Finish(end, "/", kNow));
        EXPECT_FALSE(FileExists(path));
    }
}

TEST_F(CacheDownloadTest, ABodyCutShortIsDiscarded) {
    for (EEnd end : {EEnd::serverClosed, EEnd::clientClosed, EEnd::abandoned}) {
        CCacheDownload download;
        ASSERT_TRUE(download.Open(path, Response("10")));
        EXPECT_TRUE(Write(download, "012345678"));
        EXPECT_FALSE(download.Finish(end, "/a", kNow));
        EXPECT_FALSE(FileExists(path));
    }
}

TEST_F(CacheDownloadTest, ABodyLongerThanItsLengthIsDiscardedAtOnce) {
    CCacheDownload download;
    ASSERT_TRUE(download.Open(path, Response("4")));
    EXPECT_TRUE(Write(download, "012"));
    EXPECT_FALSE(Write(download, "34"));
    EXPECT_FALSE(download.IsOpen());
    EXPECT_FALSE(FileExists(path));
    EXPECT_FALSE(Write(download, "3"));
    EXPECT_FALSE(download.Finish(EEnd::serverClosed, "/a", kNow));
    // Not a write error: the reason, so the error line never reads "Error ()".
    EXPECT_EQ(download.GetErrorText(), "the body outgrew its Content-Length");

    // An empty body of length 0 is complete.
    CCacheDownload empty;
    ASSERT_TRUE(empty.Open(path, Response("0")));
    const auto done = empty.Finish(EEnd::clientClosed, "/a", kNow);
    ASSERT_TRUE(done);
    EXPECT_EQ(done->size, 0u);
    EXPECT_EQ(Contents(), "");
}

TEST_F(CacheDownloadTest, BytesARelayWroteCountAndAWriteItSaysFailedHalfWayDiscardsAll) {
    CCacheDownload download;
    ASSERT_TRUE(download.Open(path, Response("10")));
    EXPECT_TRUE(Write(download, "0123"));
    WriteFileAt(download.GetHandle(), "456", 3, download.GetWritten());
    EXPECT_TRUE(download.Wrote(3, 0));
    EXPECT_EQ(download.GetWritten(), 7u);
    EXPECT_FALSE(download.Wrote(3, ENOSPC));
    EXPECT_FALSE(download.IsOpen());
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(download.GetErrorText(), std::error_code(ENOSPC, std::system_category()).message());
    EXPECT_FALSE(download.Finish(EEnd::serverClosed, "/a", kNow));
}

TEST_F(CacheDownloadTest, ALengthThatCannotBeTrustedIsNeverKept) {
    CCacheDownload download;
    CWWWResponse response = Response("3");
    response.headers.Add("Content-Length", "4");
    ASSERT_TRUE(download.Open(path, response));
    EXPECT_FALSE(Write(download, "abc"));
    EXPECT_FALSE(download.Finish(EEnd::serverClosed, "/a", kNow));
    EXPECT_FALSE(FileExists(path));
}

TEST_F(CacheDownloadTest, OpeningReplacesAnOldFileAndTheDestructorDiscards) {
    std::ofstream(path, std::ios::binary) << "old contents that are longer";
    {
        CCacheDownload download;
        ASSERT_TRUE(download.Open(path, Response("3")));
        EXPECT_TRUE(Write(download, "new"));
        ASSERT_TRUE(download.Finish(EEnd::serverClosed, "/a", kNow));
    }
    EXPECT_EQ(Contents(), "new");  // written over, and cut to the body
    {
        CCacheDownload download;
        ASSERT_TRUE(download.Open(path, Response("3")));
        EXPECT_TRUE(Write(download, "new"));
    }
    EXPECT_FALSE(FileExists(path));
}

TEST_F(CacheDownloadTest, AFileHandedOverOpenIsWrittenThroughAndCutOnlyWhenShorter) {
    for (const std::string body : {"abc", "a body longer than ten"}) {
        std::ofstream(path, std::ios::binary) << "0123456789";
        SContentFile held{CUniqueFd(OpenFileForWriting(path, OPEN_EXISTING)), 10};
        CCacheDownload download;
        ASSERT_TRUE(download.Open(path, Response(nullptr), std::move(held)));
        EXPECT_TRUE(Write(download, body));
        auto done = download.Finish(EEnd::serverClosed, "/a", kNow);
        ASSERT_TRUE(done);
        EXPECT_TRUE(done->file.handle.IsValid());  // handed back open, with its length
        EXPECT_EQ(done->file.length, body.size());
        EXPECT_EQ(Contents(), body);
    }
}

TEST_F(CacheDownloadTest, AFileThatCannotBeCreatedIsNoDownload) {
    CCacheDownload download;
    EXPECT_FALSE(download.Open(folder.Path() + "/missing/0000000B.nvc", Response("1")));
    EXPECT_FALSE(download.IsOpen());
    EXPECT_NE(download.GetErrorText(), "");
    EXPECT_FALSE(Write(download, "x"));
    EXPECT_FALSE(download.Finish(EEnd::serverClosed, "/a", kNow));
}

}  // namespace
