#pragma once
// Text that came from the network (a request line, a host name, a user name a client typed)
// on its way into a session description or a console notification: control characters are
// written as "\xHH", so a client can neither break a log line nor forge a line or a field in
// a console's view, and the text is cut to FrameworkFormat::kMaxDisplayText bytes (never
// inside a "\xHH").

#include <string>
#include <string_view>

std::string SanitizeDisplayText(std::string_view text);
// True when SanitizeDisplayText would give the text back unchanged.
bool IsCleanDisplayText(std::string_view text);
