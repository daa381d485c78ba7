#include "proxies/web/FTPListing.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <sys/stat.h>

namespace {

struct SLineCase {
    const char* line;
    bool entry;
    const char* name;
    const char* info;
    bool isDirectory;
};

TEST(FTPListingTest, ListingLines) {
    const SLineCase cases[] = {
        {"drwxr-xr-x   2 ftp      ftp          4096 Jan 01 12:00 pub\r", true, "pub",
         "drwxr-xr-x   2 ftp      ftp          4096 Jan 01 12:00", true},
        {"-rw-r--r--   1 ftp ftp 5 Jan 01  2020 my file.txt", true, "my file.txt",
         "-rw-r--r--   1 ftp ftp 5 Jan 01  2020", false},
        {"-rw-r--r--+  1 ftp ftp 5 Jan 01  2020  two  blanks ", true, "two  blanks",
         "-rw-r--r--+  1 ftp ftp 5 Jan 01  2020", false},
        {"lrwxrwxrwx   1 ftp ftp 7 Jan 01 12:00 latest -> pub/v2", true, "latest",
         "lrwxrwxrwx   1 ftp ftp 7 Jan 01 12:00", true},
        {"lrwxrwxrwx 1 u g 7 Jan 01 12:00 a b -> c d", true, "a b",
         "lrwxrwxrwx 1 u g 7 Jan 01 12:00", true},
        {"01-15-20  10:30AM       <DIR>          My Docs", true, "My Docs",
         "01-15-20  10:30AM       \"DIR\"", true},
        {"01-15-2020  22:30                 1234 read me.txt", true, "read me.txt",
         "01-15-2020  22:30                 1234", false},
        // Any other form: the name is the last word.
        {"weird listing name", true, "name", "weird listing", false},
        {"d a", true, "a", "d", true},
        {"-> x", true, "x", "-\"", false},
        {"some <dir> entry", true, "entry", "some \"dir\"", true},
        {"-rw-r--r-- 1 u g 1 Jan 1 2020 total.txt", true, "total.txt",
         "-rw-r--r-- 1 u g 1 Jan 1 2020", false},
        {"-rw-r--r-- 1 u g 1 Jan 1 2020 <b>&amp;.txt", true, "<b>&amp;.txt",
         "-rw-r--r-- 1 u g 1 Jan 1 2020", false},
        // Not entries.
        {"total 12", false, "", "", false},
        {"TOTAL 0", false, "", "", false},
        {"justonename", false, "", "", false},
        {"", false, "", "", false},
        {"   \r", false, "", "", false},
        {"l->x", false, "", "", false},
    };
    for (const SLineCase& c : cases) {
        const auto entry = ParseListingLine(c.line);
        ASSERT_EQ(entry.has_value(), c.entry) << c.line;
        if (!entry)
            continue;
        EXPECT_EQ(entry->name, c.name) << c.line;
        EXPECT_EQ(entry->info, c.info) << c.line;
        EXPECT_EQ(entry->isDirectory, c.isDirectory) << c.line;
    }
}

class FTPListingPageTest : public ::testing::Test {
protected:
    TempDir engine;  // the engine's folder with its icons

    void SetUp() override {
        ASSERT_EQ(mkdir((engine.Path() + "/Resources").c_str(), 0700), 0);
        for (const char* icon : {"Directory", "Default", "txt"})
            std::ofstream(engine.Path() + "/Resources/" + icon + ".gif") << "GIF89a";
    }
};

constexpr const char* kDirectoryIcon = "http://norvane-internal/Resources/Directory.gif";
constexpr const char* kTextIcon = "http://norvane-internal/Resources/txt.gif";
constexpr const char* kDefaultIcon = "http://norvane-internal/Resources/Default.gif";

TEST_F(FTPListingPageTest, IconsByWhatTheEngineFolderHolds) {
    const std::string folder = engine.Path();
    EXPECT_EQ(ChooseListingIcon("pub", true, folder), kDirectoryIcon);
    EXPECT_EQ(ChooseListingIcon("a.txt", false, folder), kTextIcon);
    EXPECT_EQ(ChooseListingIcon("README.TXT", false, folder), kTextIcon);
    EXPECT_EQ(ChooseListingIcon("a.zip", false, folder), kDefaultIcon);
    EXPECT_EQ(ChooseListingIcon("noextension", false, folder), kDefaultIcon);
    EXPECT_EQ(ChooseListingIcon("dot.", false, folder), kDefaultIcon);
    // Only letters and digits choose a file: nothing else reaches a path or the page.
    std::ofstream(folder + "/Resources/t-t.gif") << "x";
    EXPECT_EQ(ChooseListingIcon("a.t-t", false, folder), kDefaultIcon);
    EXPECT_EQ(ChooseListingIcon("a./../txt", false, folder), kDefaultIcon);
    EXPECT_EQ(ChooseListingIcon("a.\"><x", false, folder), kDefaultIcon);

    TempDir bare;
    EXPECT_EQ(ChooseListingIcon("pub", true, bare.Path()), "internal-gopher-menu");
    EXPECT_EQ(ChooseListingIcon("a.txt", false, bare.Path()), "internal-gopher-unknown");
}

TEST_F(FTPListingPageTest, PageTopWithBannerAndParentLink) {
    CFTPListing listing("/pub", engine.Path());
    EXPECT_EQ(listing.Top("Welcome <friends> & \"others\"\r\n \r\n"),
              "<HTML><HEAD><TITLE>Directory of /pub</TITLE></HEAD><BODY>\r\n"
              "<H2>Directory of /pub</H2><PRE><HR><FONT SIZE=3>Welcome &lt;friends&gt; &amp; "
              "&quot;others&quot;</FONT><HR>\r\n"
              "<A HREF=\"/pub/../\"><IMG BORDER=0 ALIGN=absbottom "
              "SRC=\"http://norvane-internal/Resources/Directory.gif\"><B>Parent "
              "directory</B></A>\r\n");

    CFTPListing root("/", engine.Path());
    EXPECT_EQ(root.Top(""),
              "<HTML><HEAD><TITLE>Directory of /</TITLE></HEAD><BODY>\r\n"
              "<H2>Directory of /</H2><PRE>\r\n"
              "<A HREF=\"/../\"><IMG BORDER=0 ALIGN=absbottom "
              "SRC=\"http://norvane-internal/Resources/Directory.gif\"><B>Parent "
              "directory</B></A>\r\n");
    CFTPListing empty("", engine.Path());
    EXPECT_NE(empty.Top("").find("Directory of /</TITLE>"), std::string::npos);

    // A path with markup and blanks: escaped where it shows, encoded where it links.
    CFTPListing odd("/a <b>/c d\"", engine.Path());
    const std::string top = odd.Top("");
    EXPECT_NE(top.find("<TITLE>Directory of /a &lt;b&gt;/c d&quot;</TITLE>"), std::string::npos);
    EXPECT_NE(top.find("<A HREF=\"/a%20%3Cb%3E/c%20d%22/../\">"), std::string::npos);
}

TEST_F(FTPListingPageTest, EntriesArePaddedEscapedAndEncoded) {
    CFTPListing listing("/pub/", engine.Path());
    listing.Top("");
    EXPECT_EQ(listing.Entry({"read me.txt", "-rw-r--r-- 1 u g 11", false}),
              "<A HREF=\"/pub/read%20me.txt\"><IMG BORDER=0 ALIGN=absbottom "
              "SRC=\"http://norvane-internal/Resources/txt.gif\"><B>read me.txt</B></A>"
              "         \t-rw-r--r-- 1 u g 11\r\n");
    // Five characters get fifteen spaces; twenty-five get none.
    EXPECT_EQ(listing.Entry({"tools", "d", true}),
              "<A HREF=\"/pub/tools/\"><IMG BORDER=0 ALIGN=absbottom "
              "SRC=\"http://norvane-internal/Resources/Directory.gif\"><B>tools</B></A>"
              "               \td\r\n");
    EXPECT_EQ(listing.Entry({"abcdefghijklmnopqrstuvwxy", "i", false}),
              "<A HREF=\"/pub/abcdefghijklmnopqrstuvwxy\"><IMG BORDER=0 ALIGN=absbottom "
              "SRC=\"http://norvane-internal/Resources/Default.gif\"><B>abcdefghijklmnopqrstuvwxy"
              "</B></A>\ti\r\n");
    // A name that begins with "/" links as it stands.
    EXPECT_EQ(listing.Entry({"/etc/motd", "x", false}),
              "<A HREF=\"/etc/motd\"><IMG BORDER=0 ALIGN=absbottom "
              "SRC=\"http://norvane-internal/Resources/Default.gif\"><B>/etc/motd</B></A>"
              "           \tx\r\n");
    // An empty name (never a parsed entry) still makes a line.
    EXPECT_EQ(listing.Entry({"", "i", false}),
              "<A HREF=\"/pub/\"><IMG BORDER=0 ALIGN=absbottom "
              "SRC=\"http://norvane-internal/Resources/Default.gif\"><B></B></A>"
              "                    \ti\r\n");
    EXPECT_EQ(listing.Entry({"<script>\"x\"&#.txt", "<i>", false}),
              "<A HREF=\"/pub/%3Cscript%3E%22x%22%26%23.txt\"><IMG BORDER=0 ALIGN=absbottom "
              "SRC=\"http://norvane-internal/Resources/txt.gif\">"
              "<B>&lt;script&gt;&quot;x&quot;&amp;#.txt</B></A>   \t&lt;i&gt;\r\n");
}

TEST_F(FTPListingPageTest, DataInPiecesALastLineWithoutLineEndAndTheFoot) {
    CFTPListing listing("/d", engine.Path());
    listing.Top("");
    std::string page = listing.AddData("total 2\r\ndrwxr-xr-x 2 u g 4096 Jan 01 12:00 su");
    EXPECT_EQ(page, "");
    page += listing.AddData("b\r\n" + std::string(10000, 'x') + " long\r\nnospace\r\n");
    page += listing.AddData("-rw-r--r-- 1 u g 3 Jan 01 12:00 last.txt");
    EXPECT_EQ(page,
              "<A HREF=\"/d/sub/\"><IMG BORDER=0 ALIGN=absbottom "
              "SRC=\"http://norvane-internal/Resources/Directory.gif\"><B>sub</B></A>"
              "                 \tdrwxr-xr-x 2 u g 4096 Jan 01 12:00\r\n");
    EXPECT_EQ(listing.Finish(),
              "<A HREF=\"/d/last.txt\"><IMG BORDER=0 ALIGN=absbottom "
              "SRC=\"http://norvane-internal/Resources/txt.gif\"><B>last.txt</B></A>"
              "            \t-rw-r--r-- 1 u g 3 Jan 01 12:00\r\n"
              "</PRE><HR><FONT COLOR=BLUE SIZE=2><I><B>Norvane 2 proxy server from "
              "<A HREF=\"http://www.urvo-software.example/\">Urvo Software</A>"
              "</B></I></FONT></BODY></HTML>\r\n");
}

TEST(FTPListingIconsTest, TheEngineFolderHoldsTheIconsListingsName) {
    const std::string folder = std::string(NORVANE_BINARY_DIR) + "/engine";
    EXPECT_EQ(ChooseListingIcon("pub", true, folder), "http://norvane-internal/Resources/Directory.gif");
    EXPECT_EQ(ChooseListingIcon("x.unknownext", false, folder),
              "http://norvane-internal/Resources/Default.gif");
    for (const char* extension : {"txt", "html", "gif", "jpg", "png", "zip", "gz", "tar", "exe"}) {
        EXPECT_EQ(ChooseListingIcon(std::string("a.") + extension, false, folder),
                  std::string("http://norvane-internal/Resources/") + extension + ".gif");
        // Each is a GIF the browser can show.
        std::ifstream icon(folder + "/Resources/" + extension + ".gif", std::ios::binary);
        char head[10] = {};
        icon.read(head, sizeof head);
        EXPECT_EQ(std::string(head, 6), "GIF89a") << extension;
        EXPECT_EQ(head[6], 16);
        EXPECT_EQ(head[8], 16);
    }
}

}  // namespace
