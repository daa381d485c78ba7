#include "proxies/web/LocalFile.h"

#include "foundation/RegistryStore.h"
#include "platform/kernel/File.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class LocalFileTest : public ::testing::Test {
protected:
    TempStateDir state;
    TempDir tree;
    std::string root;     // the folder served
    std::string outside;  // a file beside it

    void SetUp() override {
        SetRegistryRoot("Urvo Software", "Norvane 2");
        root = tree.Path() + "/root";
        outside = tree.Path() + "/secret.txt";
        ASSERT_EQ(mkdir(root.c_str(), 0700), 0);
        ASSERT_EQ(mkdir((root + "/Resources").c_str(), 0700), 0);
        Write(root + "/index.html", "hello");
        Write(root + "/Resources/Default.gif", "GIF89a");
        Write(outside, "top secret");
    }
    static void Write(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    static std::string ReadAll(const CLocalFile& file) {
        std::string text(file.GetSize(), '\0');
        EXPECT_EQ(ReadFileAt(file.GetHandle(), text.data(), text.size(), 0),
                  static_cast<std::int64_t>(text.size()));
        return text;
    }
};

TEST_F(LocalFileTest, ServablePaths) {
    for (const char* path : {"a", "index.html", "Resources/Default.gif", "a b/c%2e%2e", "...",
                             "a..b/.c"})
        EXPECT_TRUE(IsServablePath(path)) << path;
    using namespace std::string_literals;
    for (const std::string& path :
         {""s, "/"s, "/a"s, "a/"s, "a//b"s, ".."s, "../a"s, "a/../b"s, "a/.."s, "."s, "./a"s, "a/./b"s,
          "a\\b"s, "..\\a"s, "c:x"s, "a/b:c"s, "a\0b"s, "a\nb"s, "a\rb"s, "a\x7f"s})
        EXPECT_FALSE(IsServablePath(path)) << path;
}

TEST_F(LocalFileTest, ServesARegularFileWithItsHead) {
    CLocalFile file;
    ASSERT_TRUE(file.Open(root, "index.html"));
    EXPECT_TRUE(file.IsOpen());
    EXPECT_EQ(file.GetSize(), 5u);
    EXPECT_EQ(file.GetPath(), root + "/index.html");
    EXPECT_EQ(ReadAll(file), "hello");
    EXPECT_EQ(file.BuildHead(784111777),
              "HTTP/1.0 200 Document Follows\r\n"
              "Date: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
              "Server: Norvane Engine\r\n"
              "Content-Type: text/html\r\n"
              "Content-Length: 5\r\n"
              "\r\n");
    ASSERT_TRUE(file.Open(root + "/", "Resources/Default.gif"));
    EXPECT_EQ(file.GetPath(), root + "/Resources/Default.gif");
    EXPECT_EQ(ReadAll(file), "GIF89a");
    EXPECT_NE(file.BuildHead(0).find("\r\nContent-Type: image/gif\r\nContent-Length: 6\r\n"),
              std::string::npos);
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.GetHandle(), -1);
}

TEST_F(LocalFileTest, RefusesWhatLiesOutsideOrIsNoFile) {
    CLocalFile file;
    EXPECT_FALSE(file.Open(root, "../secret.txt"));
    EXPECT_FALSE(file.Open(root, "missing.html"));
    EXPECT_FALSE(file.Open(root, "Resources"));
    EXPECT_FALSE(file.Open("", "index.html"));  // an empty ServerRoot serves nothing
    EXPECT_FALSE(file.Open(root + "/missing", "index.html"));

    // A link inside the folder that leads out is refused; one that stays inside is served.
    ASSERT_EQ(symlink(outside.c_str(), (root + "/leak.txt").c_str()), 0);
    ASSERT_EQ(symlink(tree.Path().c_str(), (root + "/up").c_str()), 0);
    ASSERT_EQ(symlink((root + "/index.html").c_str(), (root + "/alias.html").c_str()), 0);
    EXPECT_FALSE(file.Open(root, "leak.txt"));
    EXPECT_FALSE(file.Open(root, "up/secret.txt"));
    EXPECT_TRUE(file.Open(root, "alias.html"));
    EXPECT_EQ(ReadAll(file), "hello");

    // A pipe in the folder is refused at once instead of blocking the session.
    ASSERT_EQ(mkfifo((root + "/pipe").c_str(), 0600), 0);
    EXPECT_FALSE(file.Open(root, "pipe"));
    EXPECT_FALSE(file.IsOpen());
}

TEST_F(LocalFileTest, FolderMayBeReachedThroughALinkOrRelatively) {
    const std::string link = tree.Path() + "/served";
    ASSERT_EQ(symlink(root.c_str(), link.c_str()), 0);
    CLocalFile file;
    EXPECT_TRUE(file.Open(link, "index.html"));

    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(tree.Path().c_str()), 0);
    EXPECT_TRUE(file.Open("root", "Resources/Default.gif"));
    EXPECT_TRUE(file.Open(".", "secret.txt"));
    EXPECT_FALSE(file.Open("root", "../secret.txt"));
    ASSERT_EQ(chdir(cwd), 0);
}

TEST_F(LocalFileTest, ConfinedOpenChecksTheResolvedPlace) {
    // The kernel-level open refuses escapes even without the segment check above it.
    errno = 0;
    EXPECT_EQ(OpenConfinedFile(root, "../secret.txt"), INVALID_FILE_HANDLE);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(OpenConfinedFile(root, "Resources/../../secret.txt"), INVALID_FILE_HANDLE);
    EXPECT_EQ(OpenConfinedFile(root, "."), INVALID_FILE_HANDLE);
    EXPECT_EQ(OpenConfinedFile(root, ""), INVALID_FILE_HANDLE);
    EXPECT_EQ(OpenConfinedFile(root + "/index.html", "x"), INVALID_FILE_HANDLE);
    const int handle = OpenConfinedFile(root, "Resources/../index.html");
    ASSERT_NE(handle, INVALID_FILE_HANDLE);
    EXPECT_EQ(FileSizeOf(handle), 5);
    // A share-less opener of this layer is held off while the file is being served.
    EXPECT_EQ(OpenFile(root + "/index.html", GENERIC_WRITE, 0, OPEN_EXISTING), INVALID_FILE_HANDLE);
    EXPECT_TRUE(CloseFile(handle));
}

}  // namespace
