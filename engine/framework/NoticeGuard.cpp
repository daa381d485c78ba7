#include "engine/framework/NoticeGuard.h"

#include "engine/LogFormat.h"
#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/Session.h"
#include "foundation/X1SocketException.h"
#include "platform/framework/Exception.h"

void RunGuardedNotice(CSession& session, const char* socketLine, const char* unknownLine,
                      const std::function<void()>& handler,
                      const std::function<void(const std::string&)>& onSocketFailure) {
    try {
        handler();
        return;
    } catch (X1SocketException* e) {
        const std::string text = e->GetErrorText();
        e->Delete();
        session.WriteServiceLog(LogFormat::kLogError, socketLine, text.c_str());
        if (onSocketFailure) {
            try {
                onSocketFailure(text);
            } catch (...) {
                DropCurrentException();
            }
        }
    } catch (...) {
        DropCurrentException();
        session.WriteServiceLog(LogFormat::kLogError, "%s", unknownLine);
    }
    session.Terminate(FrameworkFormat::kExitError);
}
