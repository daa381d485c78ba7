#include "proxies/web/FTPControl.h"

#include "foundation/RegistryStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <sys/stat.h>

namespace {

constexpr std::int64_t kNow = 784111777;
constexpr const char* kDate = "Date: Sun, 06 Nov 1994 08:49:37 GMT\r\n";

class FTPControlTest : public ::testing::Test {
protected:
    TempStateDir state;
    TempDir engine;
    CWWWRequest request;
    std::unique_ptr<CFTPControl> control;

    void SetUp() override {
        SetRegistryRoot("Urvo Software", "Norvane 2");
        ASSERT_EQ(mkdir((engine.Path() + "/Resources").c_str(), 0700), 0);
        std::ofstream(engine.Path() + "/Resources/Directory.gif") << "GIF89a";
    }
    void Start(const std::string& head, std::size_t bodyWithHead = 0) {
        ASSERT_EQ(ParseRequest(head, {}, {}, request), EParseResult::proceed) << head;
        ASSERT_EQ(request.protocolCode, PROTOCOL_FTP);
        control = std::make_unique<CFTPControl>(request, engine.Path(), bodyWithHead);
    }
    SFTPStep Reply(const std::string& line, const std::string& collected = {}) {
        SFTPReply reply;
        reply.code = FTPReplyCode(line);
        reply.line = line;
        reply.collected = collected;
        return control->OnReply(reply, kNow);
    }
    // A reply that is answered with exactly one command and nothing else.
    void ExpectCommand(const std::string& line, DWORD code, const std::string& command) {
        const SFTPStep step = Reply(line);
        EXPECT_EQ(step.commandCode, code) << line;
        EXPECT_EQ(step.command, command) << line;
        EXPECT_EQ(step.toClient, "") << line;
        EXPECT_FALSE(step.dataPort) << line;
        EXPECT_FALSE(step.endSession) << line;
        EXPECT_FALSE(step.relayUpload) << line;
    }
    static std::string Page(const std::string& status, const std::string& title,
                            const std::string& description) {
        return "HTTP/1.0 " + status + "\r\nPragma: no-cache\r\n\r\n<HTML><HEAD><TITLE>" + title +
               "</TITLE></HEAD>\r\n<BODY><H1>" + title + "</H1><P><P>" + description +
               "\r\n</BODY></HTML>\r\n";
    }
    void ExpectPage(const SFTPStep& step, const std::string& page) {
        EXPECT_EQ(step.toClient, page);
        EXPECT_TRUE(step.endSession);
        EXPECT_TRUE(step.closeData);
        EXPECT_EQ(step.command, "");
    }
};

TEST_F(FTPControlTest, ADirectoryIsListedAsAPage) {
    Start("GET ftp://h/pub HTTP/1.0\r\n\r\n");
    ExpectCommand("220 Ready", FTP_USER, "USER anonymous\r\n");
    ExpectCommand("331 Password please", FTP_PASS, "PASS Pelwick@\r\n");
    ExpectCommand("230 Logged in", FTP_SYST, "SYST\r\n");
    ExpectCommand("215 UNIX Type: L8", FTP_CWD, "CWD /pub\r\n");
    ExpectCommand("250 Okay", FTP_PASV, "PASV\r\n");
    EXPECT_EQ(control->GetTransferState(), kFTPListing);
    SFTPStep step = Reply("227 Entering Passive Mode (10,0,0,99,4,1)");
    EXPECT_EQ(step.dataPort, 1025);
    EXPECT_EQ(step.command, "LIST\r\n");
    EXPECT_FALSE(control->IsHeadSent());
    // Data held back until now would give no markup.
    EXPECT_EQ(control->OnListingData("drwxr-xr-x 2 u g 1 Jan 01 12:00 early\r\n"), "");

    step = Reply("150 Here it comes", "Welcome\r\n");
    EXPECT_TRUE(control->IsHeadSent());
    EXPECT_EQ(step.toClient,
              std::string("HTTP/1.0 200 Document Follows\r\n") + kDate +
                  "Server: Norvane Engine\r\nContent-Type: text/html\r\n\r\n"
                  "<HTML><HEAD><TITLE>Directory of /pub</TITLE></HEAD><BODY>\r\n"
                  "<H2>Directory of /pub</H2><PRE><HR><FONT SIZE=3>Welcome</FONT><HR>\r\n"
                  "<A HREF=\"/pub/../\"><IMG BORDER=0 ALIGN=absbottom "
                  "SRC=\"http://norvane-internal/Resources/Directory.gif\"><B>Parent "
                  "directory</B></A>\r\n");
    EXPECT_EQ(control->OnListingData("drwxr-xr-x 2 u g 1 Jan 01 12:00 sub\r\n"),
              "<A HREF=\"/pub/sub/\"><IMG BORDER=0 ALIGN=absbottom "
              "SRC=\"http://norvane-internal/Resources/Directory.gif\"><B>sub</B></A>"
              "                 \tdrwxr-xr-x 2 u g 1 Jan 01 12:00\r\n");
    EXPECT_EQ(Reply("226 Done").command, "");
    EXPECT_TRUE(control->IsDone());
    step = control->OnDataClosed();
    EXPECT_NE(step.toClient.find("</BODY></HTML>\r\n"), std::string::npos);
    EXPECT_EQ(step.command, "QUIT\r\n");
    EXPECT_TRUE(step.closeData);
    // After the 226 nothing the server says changes anything, an error included.
    EXPECT_EQ(Reply("500 What?").toClient, "");
    step = control->OnControlClosed();
    EXPECT_TRUE(step.endSession);
    EXPECT_EQ(step.toClient, "");
}

TEST_F(FTPControlTest, AFileIsDownloadedWithItsSizeWhenTheServerGivesDigits) {
    Start("GET ftp://h/dir/a%20b.txt HTTP/1.0\r\n\r\n");
    ExpectCommand("220 Ready", FTP_USER, "USER anonymous\r\n");
    // Logged in straight after USER: on as after PASS.
    ExpectCommand("230 Welcome", FTP_SYST, "SYST\r\n");
    ExpectCommand("502 SYST not implemented", FTP_CWD, "CWD /dir/a b.txt\r\n");
    ExpectCommand("550 Not a directory", FTP_PASV, "PASV\r\n");
    EXPECT_EQ(control->GetTransferState(), kFTPDownload);
    const SFTPStep step = Reply("227 Entering Passive Mode (1,2,3,4,0,21).");
    EXPECT_EQ(step.dataPort, 21);
    EXPECT_EQ(step.command, "TYPE I\r\n");
    ExpectCommand("200 Type set to I", FTP_SIZE, "SIZE /dir/a b.txt\r\n");
    ExpectCommand("213 12345", FTP_RETR, "RETR /dir/a b.txt\r\n");
    EXPECT_EQ(Reply("150 Opening BINARY mode data connection").toClient,
              std::string("HTTP/1.0 200 Document Follows\r\n") + kDate +
                  "Server: Norvane Engine\r\nContent-Type: text/plain\r\n"
                  "Content-Length: 12345\r\n\r\n");
    EXPECT_TRUE(control->IsHeadSent());
    EXPECT_EQ(control->OnListingData("not a listing"), "");
    const SFTPStep closed = control->OnDataClosed();
    EXPECT_EQ(closed.toClient, "");
    EXPECT_EQ(closed.command, "QUIT\r\n");
    // After QUIT the server's answers change nothing.
    EXPECT_EQ(Reply("221 Goodbye").command, "");
}

TEST_F(FTPControlTest, ASecondPreliminaryReplyNeverSendsASecondHead) {
    Start("GET ftp://h/f HTTP/1.0\r\n\r\n");
    for (const char* line : {"220 R", "230 In", "215 U", "550 No", "227 (1,2,3,4,0,21)", "200 I",
                             "213 7"})
        Reply(line);
    EXPECT_NE(Reply("150 Go").toClient, "");
    EXPECT_EQ(Reply("125 Go again").toClient, "");
    // A failure after the head can only end the session, and nothing after it sends more.
    const SFTPStep late = Reply("426 Transfer aborted");
    EXPECT_EQ(late.toClient, "");
    EXPECT_TRUE(late.endSession);
    EXPECT_TRUE(control->IsEnded());
    EXPECT_EQ(Reply("150 Again").toClient, "");
    EXPECT_EQ(control->OnControlClosed().toClient, "");
}

TEST_F(FTPControlTest, NoLengthUnlessTheSizeReplyIsAllDigits) {
    for (const char* sizeReply : {"213 Unknown", "550 Could not get file size", "213 12 bytes"}) {
        Start("GET ftp://h/f.gif HTTP/1.0\r\n\r\n");
        Reply("220 Ready");
        Reply("230 In");
        Reply("215 UNIX");
        Reply("550 No such directory");
        Reply("227 Entering Passive Mode (1,2,3,4,0,21)");
        Reply("200 Type set");
        ExpectCommand(sizeReply, FTP_RETR, "RETR /f.gif\r\n");
        EXPECT_EQ(Reply("125 Data connection already open").toClient,
                  std::string("HTTP/1.0 200 Document Follows\r\n") + kDate +
                      "Server: Norvane Engine\r\nContent-Type: image/gif\r\n\r\n")
            << sizeReply;
    }
}

TEST_F(FTPControlTest, RefusalsGiveTheirPages) {
    Start("GET ftp://h/x HTTP/1.0\r\n\r\n");
    Reply("220 Ready");
    Reply("331 Password");
    ExpectPage(Reply("530 Login incorrect"), Page("403 Forbidden", "Access Denied", "Anonymous Access Denied"));
    // One page only: what follows changes nothing.
    EXPECT_EQ(Reply("421 Bye").toClient, "");
    EXPECT_EQ(control->OnControlClosed().toClient, "");

    Start("GET ftp://h/x HTTP/1.0\r\n\r\n");
    Reply("220 Ready");
    Reply("230 In");
    Reply("215 UNIX");
    Reply("550 No");
    Reply("227 (1,2,3,4,0,21)");
    Reply("200 Type");
    Reply("213 3");
    ExpectPage(Reply("550 No such file"), Page("404 Not Found", "Access Denied", "File not found or access denied"));
}

TEST_F(FTPControlTest, AnyOtherFailureEndsWithThePageNotAStall) {
    const std::pair<std::vector<const char*>, const char*> cases[] = {
        {{"421 Too many users"}, "The FTP server refused the request: 421 Too many users"},
        {{"220 Ready", "500 USER not understood"},
         "The FTP server refused the request: 500 USER not understood"},
        {{"220 Ready", "230 In", "215 UNIX", "530 Not logged in"},
         "The FTP server refused the request: 530 Not logged in"},
        {{"220 Ready", "230 In", "215 UNIX", "250 CWD ok", "425 No passive mode"},
         "The FTP server refused the request: 425 No passive mode"},
        {{"220 Ready", "230 In", "215 UNIX", "250 CWD ok", "227 Passive (1,2,3,4,0,0)"},
         "The FTP server sent a reply that cannot be used: 227 Passive (1,2,3,4,0,0)"},
        {{"220 Ready", "230 In", "215 UNIX", "250 CWD ok", "227 (1,2,3,4,0,1)", "450 No list"},
         "The FTP server refused the request: 450 No list"},
        {{"hello <b>"}, "The FTP server sent a reply that cannot be used: hello &lt;b&gt;"},
    };
    for (const auto& [replies, description] : cases) {
        Start("GET ftp://h/x HTTP/1.0\r\n\r\n");
        SFTPStep step;
        for (const char* line : replies)
            step = Reply(line);
        ExpectPage(step, Page("502 Bad Gateway", "FTP Error", description));
    }
    // Preliminary and unexpected positive replies wait for the next one.
    Start("GET ftp://h/x HTTP/1.0\r\n\r\n");
    EXPECT_EQ(Reply("120 Ready in 1 minute").command, "");
    EXPECT_FALSE(Reply("120 Ready in 1 minute").endSession);
    ExpectCommand("220 Ready", FTP_USER, "USER anonymous\r\n");
}

TEST_F(FTPControlTest, AServerThatClosesOrStallsBeforeAnsweringGetsAPage) {
    Start("GET ftp://h/x HTTP/1.0\r\n\r\n");
    Reply("220 Ready");
    ExpectPage(control->OnControlClosed(),
               Page("502 Bad Gateway", "FTP Error", "The FTP server closed the connection before it answered"));
    Start("GET ftp://h/x HTTP/1.0\r\n\r\n");
    ExpectPage(control->OnReplyTimeout(), Page("504 Gateway Timeout", "FTP Error", "FTP Session has timed out"));
    EXPECT_EQ(control->OnControlClosed().toClient, "");
}

TEST_F(FTPControlTest, UploadsRelayTheBodyAndAnswerOnlyAfterTheServersDone) {
    Start("PUT ftp://u:p%40ss@h/in/up.txt HTTP/1.1\r\nContent-Length: 5\r\n"
          "Expect: 100-continue\r\n\r\n");
    EXPECT_EQ(CFTPControl::CheckRequest(request), "");
    ExpectCommand("220 Ready", FTP_USER, "USER u\r\n");
    ExpectCommand("331 Password", FTP_PASS, "PASS p@ss\r\n");
    ExpectCommand("230 In", FTP_PASV, "PASV\r\n");
    EXPECT_EQ(control->GetTransferState(), kFTPUpload);
    EXPECT_EQ(Reply("227 (1,2,3,4,0,22)").command, "TYPE I\r\n");
    ExpectCommand("200 Type", FTP_STOR, "STOR /in/up.txt\r\n");
    SFTPStep step = Reply("150 Ok to send data");
    EXPECT_TRUE(step.relayUpload);
    EXPECT_EQ(step.toClient, "HTTP/1.1 100 Continue\r\n\r\n");
    EXPECT_FALSE(step.closeData);
    EXPECT_FALSE(control->IsHeadSent());

    CFTPControl::SUpload upload = control->OnUploadData(3);
    EXPECT_EQ(upload.send, 3u);
    EXPECT_FALSE(upload.complete);
    upload = control->OnUploadData(4);  // one byte too many is dropped
    EXPECT_EQ(upload.send, 2u);
    EXPECT_TRUE(upload.complete);
    step = Reply("226 Transfer complete");
    EXPECT_EQ(step.toClient, "HTTP/1.0 200 OK\r\n\r\n");
    EXPECT_EQ(step.command, "QUIT\r\n");
    EXPECT_TRUE(step.closeData);
    EXPECT_TRUE(control->IsHeadSent());
}

TEST_F(FTPControlTest, UploadEdges) {
    // A body that came with the head needs no "100 Continue".
    Start("PUT ftp://h/a HTTP/1.1\r\nContent-Length: 2\r\nExpect: 100-continue\r\n\r\n", 2);
    for (const char* line : {"220 R", "230 In", "227 (1,2,3,4,0,22)", "200 T"})
        Reply(line);
    SFTPStep step = Reply("125 Go");
    EXPECT_TRUE(step.relayUpload);
    EXPECT_EQ(step.toClient, "");

    // An empty upload is complete at once.
    Start("PUT ftp://h/a HTTP/1.0\r\nContent-Length: 0\r\n\r\n");
    for (const char* line : {"220 R", "230 In", "227 (1,2,3,4,0,22)", "200 T"})
        Reply(line);
    step = Reply("150 Go");
    EXPECT_TRUE(step.relayUpload);
    EXPECT_TRUE(step.closeData);

    // The server refuses the file or fails: a page, never "200 OK".
    for (const auto& [line, page] :
         {std::pair<const char*, std::string>{"550 Permission denied",
                                              Page("404 Not Found", "Access Denied", "File not found or access denied")},
          {"552 Quota exceeded",
           Page("502 Bad Gateway", "FTP Error", "The FTP server refused the request: 552 Quota exceeded")}}) {
        Start("PUT ftp://h/a HTTP/1.0\r\nContent-Length: 1\r\n\r\n");
        for (const char* l : {"220 R", "230 In", "227 (1,2,3,4,0,22)", "200 T", "150 Go"})
            Reply(l);
        ExpectPage(Reply(line), page);
    }
}

TEST_F(FTPControlTest, RequestsThisCannotServe) {
    CWWWRequest r;
    ParseRequest("POST ftp://h/a HTTP/1.0\r\nContent-Length: 1\r\n\r\n", "x", {}, r);
    EXPECT_EQ(CFTPControl::CheckRequest(r),
              Page("501 Not Implemented", "FTP Error", "Only GET and PUT requests are supported for ftp:// URLs"));
    ParseRequest("PUT ftp://h/a HTTP/1.0\r\n\r\n", {}, {}, r);
    EXPECT_EQ(CFTPControl::CheckRequest(r),
              Page("400 Bad Request", "FTP Error", "An upload to an FTP server needs a Content-Length"));
    ParseRequest("PUT ftp://h/a HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", {}, {}, r);
    EXPECT_NE(CFTPControl::CheckRequest(r), "");
    ParseRequest("get ftp://h/a HTTP/1.0\r\n\r\n", {}, {}, r);
    EXPECT_EQ(CFTPControl::CheckRequest(r), "");
}

}  // namespace
