#include "console/ConsoleSession.h"

#include "console/WardenhallApp.h"
#include "platform/framework/Exception.h"
#include "remote/NVRCPMessage.h"
#include "remote/RCPFraming.h"

#include <atomic>

namespace {

std::atomic<IConsoleSession*> installed{nullptr};

}  // namespace

IConsoleSession& ConsoleSession() {
    IConsoleSession* session = installed.load();
    return session ? *session : theApp;
}

void SetConsoleSession(IConsoleSession* session) { installed.store(session); }

bool FitsInOneFrame(WORD op, const std::string& arg1, const std::string& arg2, const std::string& arg3) {
    if (arg1.size() + arg2.size() + arg3.size() > RCPFormat::kMaxImageLength)
        return false;
    CNVRCPMessage message(op, arg1, arg2, arg3);
    try {
        // The framing refuses an image over the limit.
        RCPFraming::Encode(message, false);
        return true;
    } catch (CException* e) {
        e->Delete();
        return false;
    }
}
