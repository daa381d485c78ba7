#pragma once
// The guard around a protocol session's socket-notice handlers: no exception leaves a handler,
// each is written to the service log as the session's own error line, and the session ends.

#include <functional>
#include <string>

class CSession;

// Runs `handler`. An X1SocketException (deleted here) writes the service error line
// `socketLine` (a format with one "%s" for the exception's text), then calls
// `onSocketFailure` with the text when one is given; any other exception writes
// `unknownLine`. Either way the session is then terminated with code 1.
void RunGuardedNotice(CSession& session, const char* socketLine, const char* unknownLine,
                      const std::function<void()>& handler,
                      const std::function<void(const std::string&)>& onSocketFailure = {});
