#pragma once
// The guard around a session's handlers: its socket notices (CTCPSession runs each one under
// the session's own error lines), its start, and the steps whose failures it contains. No
// exception leaves a guarded handler: what it throws is caught, freed and described
// (SHandlerFailure), the handler's error line for that kind is written to the service log, and
// the caller decides what follows.

#include <functional>
#include <optional>
#include <string>

class CSession;

// What a guarded handler threw, once caught and freed.
struct SHandlerFailure {
    enum class EKind {
        socket,   // X1SocketException: `code` and `text` are its own
        memory,   // std::bad_alloc
        library,  // any other library exception (CException: a file or archive failure, ...)
        unknown,  // anything else
    };
    EKind kind = EKind::unknown;
    int code = 0;
    std::string text;

    bool IsSocket() const { return kind == EKind::socket; }
};

// A handler's service-log error lines; a null line writes nothing. `socket` is written for a
// socket exception, as a format with one "%s" for the exception's text; `other` for every
// other kind, as it stands.
struct SHandlerLines {
    const char* socket;
    const char* other;
};

// Runs `handler`; whatever it throws is caught, freed and returned (nothing when it returned).
std::optional<SHandlerFailure> CatchFailure(const std::function<void()>& handler);
// The same for socket exceptions only: anything else passes on to the caller's guard.
std::optional<SHandlerFailure> CatchSocketFailure(const std::function<void()>& handler);

// CatchFailure, and the failure's line of `lines` (event 0x80, "Error:") in the session's
// service log.
std::optional<SHandlerFailure> RunGuarded(CSession& session, const SHandlerLines& lines,
                                          const std::function<void()>& handler);
