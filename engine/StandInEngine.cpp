#include "engine/StandInEngine.h"

#include "platform/service/DebugTrace.h"

#include <cstdlib>

namespace {
constexpr DWORD kThreadEndLimitMs = 5000;
}

CStandInEngine::~CStandInEngine() {
    if (HasStarted() && !HasEnded()) {
        PostThreadMessage(WM_QUIT, 0, 0);
        WaitForExit(kThreadEndLimitMs);
    }
}

BOOL CStandInEngine::Initialize() {
    OutputDebugString("CStandInEngine::Initialize()\n");
    OutputDebugString(CreateThread() ? "CreateThread succeeded\n" : "CreateThread failed\n");
    return TRUE;
}

void CStandInEngine::ShutDown(BOOL exitProcess) {
    OutputDebugString("CStandInEngine::ShutDown()\n");
    if (HasStarted() && !HasEnded()) {
        PostThreadMessage(WM_QUIT, 0, 0);
        WaitForExit(kThreadEndLimitMs);
    }
    if (exitProcess)
        std::exit(0);
}
