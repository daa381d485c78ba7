// Feeds arbitrary bytes to the console's handling of the engine's messages, as its session
// reads them from the connection: a run of frames (length word, then the image), each taken as
// a protocol message and applied to a console's copy of the configuration, the frames after it
// being the objects it brings. A malformed object may fail its message, never the copy: after
// every input the copy is still whole (each container's records findable under their names) and
// the notices the windows got can still be read.

#include "console/session/ConsoleConfiguration.h"
#include "console/session/ConsoleNotifications.h"
#include "console/session/WHTreeItem.h"
#include "engine/NorvaneEngine.h"
#include "engine/access/User.h"
#include "engine/framework/Machine.h"
#include "engine/framework/Service.h"
#include "foundation/ScopedLock.h"
#include "foundation/X1SocketException.h"
#include "platform/framework/Exception.h"
#include "remote/NVRCPMessage.h"
#include "remote/RCPFraming.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

// The frames of one input, read in order; the end of the input is a failed receive.
class CBufferFrames : public IFrameSource {
public:
    CBufferFrames(const BYTE* data, std::size_t size) : m_data(data), m_size(size) {}
    std::vector<BYTE> ReceiveImage() override {
        if (m_size - m_at < RCPFormat::kLengthBytes)
            throw new X1SocketException(0, "Communications Failure");
        const DWORD length = RCPFraming::ImageLength(m_data + m_at);
        if (length > RCPFormat::kMaxImageLength || length > m_size - m_at - RCPFormat::kLengthBytes)
            throw new X1SocketException(0, "Communications Failure - out of sync");
        m_at += RCPFormat::kLengthBytes;
        std::vector<BYTE> image(m_data + m_at, m_data + m_at + length);
        m_at += length;
        return image;
    }
    bool AtEnd() const { return m_at == m_size; }

private:
    const BYTE* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

// A host that keeps the notices and forgets everything else.
class CKeepingHost : public IWardenhallHost, public IViewDispatcher {
public:
    CConsoleSettings LogonSettings() const override { return {}; }
    void SetOnline(bool) override {}
    void SetLastLogonSucceeded(bool) override {}
    void SetConfigurationChanged(bool) override {}
    bool ForgetSession(IWardenhallSession*) override { return false; }
    void Alert(int, unsigned, const std::string&, const std::string&, const std::string&,
               std::function<void()>) override {}
    void ChangePassword() override {}
    IViewDispatcher& Views() override { return *this; }
    void Post(CViewNotice notice) override { notices.push_back(std::move(notice)); }

    std::vector<CViewNotice> notices;
};

void CheckCopy(CNorvaneEngine& copy) {
    CGroupMemberDatabase& users = copy.GetUserDatabase();
    {
        CScopedLock lock(users);
        for (const auto& [name, object] : users) {
            auto* entry = dynamic_cast<CFilterComponent*>(object);
            if (entry == nullptr ||
                users.FindUser(entry->GetName(), dynamic_cast<CUser*>(entry) ? FALSE : TRUE) !=
                    entry)
                std::abort();
        }
    }
    CServiceManager& services = copy.GetServiceManager();
    {
        CScopedLock lock(services);
        for (const auto& [name, object] : services) {
            auto* service = dynamic_cast<CService*>(object);
            if (service == nullptr || services.FindService(service->GetName()) != service)
                std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static CNorvaneEngine* const copy = new CNorvaneEngine(CNorvaneEngine::InertCopy{});
    CKeepingHost host;
    CBufferFrames frames(data, size);
    std::size_t queued = 0;
    CConsoleNotifications notifications(*copy, host, frames, [&queued](WORD) { ++queued; });
    try {
        while (!frames.AtEnd()) {
            CNVRCPMessage message;
            const std::vector<BYTE> image = frames.ReceiveImage();
            try {
                RCPFraming::DecodeInto(image.data(), image.size(), message);
                notifications.Process(message);
            } catch (...) {
                DropCurrentException();  // a malformed message or object: the next frame follows
            }
        }
    } catch (...) {
        DropCurrentException();  // the stream broke: the session would end here
    }
    CheckCopy(*copy);
    // Every notice is readable, whatever left the copy since.
    for (const CViewNotice& notice : host.notices)
        if (auto* item = dynamic_cast<CWHTreeItem*>(notice.object.Get()))
            if (item->object && CWHTreeItem(item->object, "").kind != item->kind)
                std::abort();
    if (queued % 8 != 0)
        std::abort();  // the log-on's lists come as a whole
    EmptyConfiguration(*copy);
    return 0;
}
