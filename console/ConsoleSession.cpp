#include "console/ConsoleSession.h"

#include "console/WardenhallApp.h"
#include "foundation/Archive.h"
#include "foundation/MemFile.h"

#include <atomic>

namespace {

std::atomic<IConsoleSession*> installed{nullptr};

// The longest message image the engine's remote-control link accepts in one frame.
constexpr std::uint64_t kMaxImageLength = 16384;

}  // namespace

IConsoleSession& ConsoleSession() {
    IConsoleSession* session = installed.load();
    return session ? *session : theApp;
}

void SetConsoleSession(IConsoleSession* session) { installed.store(session); }

bool FitsInOneFrame(WORD op, const std::string& arg1, const std::string& arg2, const std::string& arg3) {
    // A request travels as the image of its message: the code, then the three archive strings.
    if (arg1.size() + arg2.size() + arg3.size() > kMaxImageLength)
        return false;
    CMemFile image;
    CArchive ar(&image, CArchive::store);
    ar << op << arg1 << arg2 << arg3;
    ar.Close();
    return image.GetLength() <= kMaxImageLength;
}
