#include "console/session/DialerCopy.h"

#include "remote/RCPFraming.h"

void CDialerImageCopy::Load(const std::vector<BYTE>& image) {
    std::lock_guard lock(m_mutex);
    m_image = image;
}

std::vector<BYTE> CDialerImageCopy::Frame() {
    std::lock_guard lock(m_mutex);
    return RCPFraming::FrameImage(m_image.data(), m_image.size());
}

CRef<CObject> CDialerImageCopy::SetStatusText(const std::string&, const std::string&) { return {}; }

IDialerCopy& TheDialerCopy() {
    static CDialerImageCopy* const copy = new CDialerImageCopy;
    return *copy;
}
