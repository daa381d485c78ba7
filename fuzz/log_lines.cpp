// Builds every log line from arbitrary field texts, as sessions build them from what clients
// send, and checks the line's shape: within the limit, one CR LF at its very end, no other
// control character; a session's posted entry composes the same line.

#include "engine/LogWriters.h"

#include "engine/LogEntry.h"
#include "engine/LogFormat.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

namespace {

void Check(const std::string& line) {
    if (line.empty())
        return;
    if (line.size() > 2047 || line.size() < 2 || line.compare(line.size() - 2, 2, "\r\n") != 0)
        std::abort();
    for (std::size_t i = 0; i + 2 < line.size(); ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        if ((c < 0x20 && c != '\t') || c == 0x7F)
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4)
        return 0;
    const DWORD bit = 1u << (data[0] % 11);
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    // Three fields cut from the input at positions it chooses itself.
    const std::size_t a = data[1] % (rest.size() + 1);
    const std::size_t b = a + data[2] % (rest.size() - a + 1);
    SessionLogFields session;
    session.clientAddress = rest.substr(0, a);
    session.userName = rest.substr(a, b - a);
    session.description = rest.substr(b);
    session.sessionId = static_cast<DWORD>(size * 2654435761u);
    session.traffic = {static_cast<DWORD>(size), 0xFFFFFFFFu, 7, 0, static_cast<DWORD>(a)};
    const std::string timeStamp = "01/02/03 04:05:06";
    Check(BuildServiceLogLine(bit, timeStamp, rest));
    Check(BuildSessionLogLine(bit, timeStamp, session, rest));
    Check(BuildAuditLogLine(bit, timeStamp, session, rest));
    Check(BuildDialerLogLine(bit, timeStamp, rest));
    // A session's posted entry carries its texts in its own block and composes the same line
    // (the time stamps may differ by a second: the part after the first tab is compared).
    for (const bool audit : {false, true}) {
        const LogFormat::LogLineForm* form = audit ? FindAuditLineForm(bit) : FindSessionLineForm(bit);
        if (form == nullptr)
            continue;
        const std::unique_ptr<CLogEntry> entry = audit ? MakeAuditLogEntry(nullptr, *form, session, rest)
                                                       : MakeSessionLogEntry(nullptr, *form, session, rest);
        const std::string built = audit ? BuildAuditLogLine(bit, timeStamp, session, rest)
                                        : BuildSessionLogLine(bit, timeStamp, session, rest);
        std::string composed;
        entry->AppendTextTo(composed);
        Check(composed);
        if (composed.substr(composed.find('\t')) != built.substr(built.find('\t')) || entry->GetText() != composed)
            std::abort();
    }
    return 0;
}
