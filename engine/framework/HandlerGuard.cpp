#include "engine/framework/HandlerGuard.h"

#include "engine/LogFormat.h"
#include "engine/framework/Session.h"
#include "foundation/X1SocketException.h"
#include "platform/framework/Exception.h"

#include <new>

namespace {

SHandlerFailure Failure(SHandlerFailure::EKind kind) {
    SHandlerFailure failure;
    failure.kind = kind;
    return failure;
}

SHandlerFailure SocketFailure(X1SocketException* e) {
    SHandlerFailure failure = Failure(SHandlerFailure::EKind::socket);
    failure.code = e->GetErrorCode();
    failure.text = e->GetErrorText();
    e->Delete();
    return failure;
}

}  // namespace

std::optional<SHandlerFailure> CatchFailure(const std::function<void()>& handler) {
    try {
        handler();
        return std::nullopt;
    } catch (X1SocketException* e) {
        return SocketFailure(e);
    } catch (CException* e) {
        e->Delete();
        return Failure(SHandlerFailure::EKind::library);
    } catch (const std::bad_alloc&) {
        return Failure(SHandlerFailure::EKind::memory);
    } catch (...) {
        return Failure(SHandlerFailure::EKind::unknown);
    }
}

std::optional<SHandlerFailure> CatchSocketFailure(const std::function<void()>& handler) {
    try {
        handler();
        return std::nullopt;
    } catch (X1SocketException* e) {
        return SocketFailure(e);
    }
}

std::optional<SHandlerFailure> RunGuarded(CSession& session, const SHandlerLines& lines,
                                          const std::function<void()>& handler) {
    std::optional<SHandlerFailure> failure = CatchFailure(handler);
    if (!failure)
        return failure;
    if (const char* line = failure->IsSocket() ? lines.socket : lines.other) {
        if (failure->IsSocket())
            session.WriteServiceLog(LogFormat::kLogError, line, failure->text.c_str());
        else
            session.WriteServiceLog(LogFormat::kLogError, "%s", line);
    }
    return failure;
}
