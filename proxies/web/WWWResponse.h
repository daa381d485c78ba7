#pragma once
// A server's response head, parsed.
//
// ParseResponse is the pure half of the web session's ParseResponse: it reads the head that
// CResponseCollector gathered into a CWWWResponse; the session logs kLogParsingResponse first.
// The status line is "VERSION CODE REASON"; a line end ends it wherever it stands (a status
// line without a code or reason leaves them empty). Header lines are "name: value" (blanks
// before the value dropped, CR anywhere dropped); a line without ":" or with an empty name is
// dropped, so it can neither join the next line's name nor add a line to what the client gets.

#include "platform/kernel/Types.h"
#include "proxies/web/HeaderList.h"

#include <string>
#include <string_view>

struct CWWWResponse {
    std::string version;
    std::string codeText;  // as written
    DWORD code = 0;        // decimal value of codeText; 0 unless it is 1 to 9 digits
    std::string reason;
    CHeaderList headers;   // in order, without "Connection"
};

// Parses `head` into `response`, which is reset first. Never fails: what a head lacks stays
// empty (code 0, which no rule treats as a success).
void ParseResponse(std::string_view head, CWWWResponse& response);
