#pragma once
// The console's copy of the engine's dialer settings, as the session exchanges them: the
// retrieval (request 60) and the changes the engine announces (notification 62) are loaded
// into it, the uploads (requests 61 and 62) send it, and the state changes of a line
// (notification 63) set a profile's status text.
//
// The engine's dialer class is not part of this program yet: CDialerImageCopy keeps the
// dialer's archive image as it came and sends it back unchanged, and knows no profiles.

#include "platform/framework/Object.h"
#include "platform/kernel/Types.h"

#include <mutex>
#include <string>
#include <vector>

class IDialerCopy {
public:
    virtual ~IDialerCopy() = default;
    // Takes the dialer's archive image. Throws the archive's exception for an image it cannot
    // read, with nothing changed.
    virtual void Load(const std::vector<BYTE>& image) = 0;
    // The whole frame (remote/RCPFraming.h) that sends the copy.
    virtual std::vector<BYTE> Frame() = 0;
    // Sets the status text of the profile `name`; the profile, or nothing when the copy holds
    // no such profile.
    virtual CRef<CObject> SetStatusText(const std::string& name, const std::string& text) = 0;
};

class CDialerImageCopy : public IDialerCopy {
public:
    void Load(const std::vector<BYTE>& image) override;
    std::vector<BYTE> Frame() override;
    CRef<CObject> SetStatusText(const std::string& name, const std::string& text) override;

private:
    std::mutex m_mutex;
    std::vector<BYTE> m_image;
};

// The copy that belongs with theConfiguration.
IDialerCopy& TheDialerCopy();
