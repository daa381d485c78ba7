// Feeds arbitrary bytes to the web proxy's FTP client as a hostile FTP server would send them
// on the control connection: split into replies in pieces, and each reply handed to the
// conversation of an ftp:// download, listing or upload. Besides crashes it checks that lines
// and collected text stay within their caps, that every command sent is one line, and that
// the client gets at most one head or error page.

#include "WebHeadChecks.h"
#include "foundation/RegistryStore.h"
#include "proxies/web/FTPControl.h"
#include "proxies/ftp/FTPReply.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace {

const char* const kRequests[] = {
    "GET ftp://h/pub/ HTTP/1.0\r\n\r\n",
    "GET ftp://u:p@h/a%20b.txt HTTP/1.0\r\n\r\n",
    "PUT ftp://h/up HTTP/1.1\r\nContent-Length: 3\r\nExpect: 100-continue\r\n\r\n",
};

void CheckStep(const SFTPStep& step, int& answers) {
    if (!step.command.empty()) {
        Require(step.command.size() >= 2 &&
                step.command.compare(step.command.size() - 2, 2, "\r\n") == 0);
        Require(step.command.find_first_of("\r\n") == step.command.size() - 2);
    }
    if (step.toClient.starts_with("HTTP/1.0 200"))
        ++answers;
    Require(answers <= 1);
}

// Error pages and MIME types read the configuration store: a private one, removed at exit.
char g_stateFolder[] = "/tmp/fuzz_ftp_reply.XXXXXX";

void RemoveStateFolder() { std::filesystem::remove_all(g_stateFolder); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char* folder = mkdtemp(g_stateFolder);
    if (!folder)
        std::abort();
    std::atexit(RemoveStateFolder);
    setenv("NORVANE_STATE_DIR", folder, 1);
    setenv("XDG_CONFIG_HOME", folder, 1);
    SetRegistryRoot("Urvo Software", "Norvane 2");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::size_t piece = 1 + data[0] % 61;
    const char* head = kRequests[data[0] % std::size(kRequests)];
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);

    CWWWRequest request;
    Require(ParseRequest(head, {}, {}, request) == EParseResult::proceed);
    CFTPControl control(request, "/nonexistent", 0);
    CFTPReplyReader reader;
    int answers = 0;
    for (std::size_t at = 0; at < input.size(); at += piece) {
        for (const SFTPReply& reply : reader.Append(input.substr(at, piece))) {
            Require(reply.code == 0 || (reply.code >= 100 && reply.code <= 599));
            Require(reply.line.size() <= CFTPReplyReader::kMaxLineLength);
            Require(reply.collected.size() <= CFTPReplyReader::kMaxCollected);
            const SFTPStep step = control.OnReply(reply, 0);
            CheckStep(step, answers);
            if (step.relayUpload)
                Require(control.OnUploadData(5).send <= 3);
            if (control.IsHeadSent())
                control.OnListingData(reply.line);
        }
    }
    CheckStep(control.OnDataClosed(), answers);
    CheckStep(control.OnControlClosed(), answers);
    return 0;
}
