#pragma once
// Replies of an FTP server's control connection, read for the web session's ftp:// requests
// and for the FTP gateway.
//
// A reply is one line "ddd text", or a multi-line reply: a first line "ddd-text", any lines,
// and a last line "ddd text" with the same code. The text of a multi-line reply (its first
// line from the fifth character, and the lines after it but the last) is collected: it is the
// server's message that a directory listing shows as its banner. It stays until the next
// multi-line reply begins.
//
// The web session's ReceiveFTPReply is: log kLogReceivingFTPReply; Append the bytes received
// on the control connection (ignoring everything once CFTPControl has taken a 226); each reply
// that comes back is logged (kLogFTPReply) and handed to CFTPControl::OnReply, in order. The
// gateway relays replies line by line (AppendLines), each line with the code of its reply.

#include "platform/kernel/Types.h"
#include "proxies/common/LineReader.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct SFTPReply {
    DWORD code = 0;         // 100-599; 0 for a line that does not begin with such a code
    std::string line;       // the reply's last line, without its line end
    std::string collected;  // the collected multi-line text at that moment
};

// One line of a reply, for a reader that passes replies on as they come.
struct SFTPReplyLine {
    std::string text;  // without its line end
    DWORD code = 0;    // its reply's code (0: a line without a code outside a multi-line reply)
    bool last = false;  // the line ends its reply
};

class CFTPReplyReader {
public:
    // Longest line kept (the rest of a longer line is dropped), and most collected text.
    static constexpr std::size_t kMaxLineLength = 4096;
    static constexpr std::size_t kMaxCollected = 16384;

    // The replies that `bytes` completes, in order.
    std::vector<SFTPReply> Append(std::string_view bytes);
    // The lines that `bytes` completes, in order, with their replies' codes; blank lines
    // outside a multi-line reply are passed over.
    std::vector<SFTPReplyLine> AppendLines(std::string_view bytes);
    // What is left without a line end, as the last line of its reply (the connection ended).
    std::optional<SFTPReplyLine> Flush();
    // Takes one line without its line end; true, with `reply` set, when it completes a reply.
    // Blank lines outside a multi-line reply are passed over.
    bool AddLine(std::string_view line, SFTPReply& reply);

    // The code of the multi-line reply being read (0: none).
    DWORD GetPendingCode() const { return m_pending; }
    const std::string& GetCollected() const { return m_collected; }
    // Bytes of a line that has begun and not ended (at most kMaxLineLength).
    std::size_t GetPendingBytes() const { return m_lines.GetPending(); }

private:
    void Collect(std::string_view text);
    // AddLine, and the line as AppendLines gives it (none for a blank line passed over).
    std::optional<SFTPReplyLine> TakeLine(std::string_view line);

    CLineReader m_lines{kMaxLineLength};
    DWORD m_pending = 0;
    std::string m_collected;
};

// The code a reply line begins with: three digits 100-599, else 0.
DWORD FTPReplyCode(std::string_view line);

// An address and port as FTP writes them: "h1,h2,h3,h4,p1,p2", the address h1.h2.h3.h4 and
// the port p1 * 256 + p2.
struct SFTPHostPort {
    DWORD address = 0;  // host byte order
    WORD port = 0;
};

// The six numbers at the start of `text`: each 0-255 in at most four digits, with blanks
// allowed before it, separated by ","; the port may not be 0. `end` (optional) gets the offset
// just after the sixth number.
std::optional<SFTPHostPort> ParseHostPort(std::string_view text, std::size_t* end = nullptr);

// The address and port of a passive-mode reply ("227 Entering Passive Mode
// (h1,h2,h3,h4,p1,p2)"): with a "(" (after some text), the six numbers right after it and a
// ")" right after them; without one, the six numbers that begin at the first digit after the
// reply code. None for anything else.
std::optional<SFTPHostPort> ParsePassiveReply(std::string_view line);

// The data port of ParsePassiveReply. The address in the reply is never used: the data
// connection goes to the server of the control connection.
std::optional<WORD> ParsePassivePort(std::string_view line);

// The file size of a SIZE reply's line ("213 12345"): its text from the fifth character
// without trailing white space, when that is all digits (at most 18); none otherwise, and then
// the download goes out without a Content-Length.
std::optional<std::uint64_t> ParseSizeReply(std::string_view line);
