#include "engine/framework/UpstreamSocks4.h"

#include "engine/framework/OutboundFormat.h"

#include <algorithm>

using namespace OutboundFormat;

std::string CUpstreamSocks4::BuildRequest(DWORD address, UINT port, std::string_view password) {
    const std::string_view userId =
        password.substr(0, std::min({password.find('\0'), password.size(), kSocks4MaxUserId}));
    std::string request;
    request.reserve(kSocks4RequestFixedSize + userId.size() + 1);
    request += static_cast<char>(kSocks4Version);
    request += static_cast<char>(kSocks4CommandConnect);
    request += static_cast<char>((port >> 8) & 0xFF);
    request += static_cast<char>(port & 0xFF);
    for (int shift = 24; shift >= 0; shift -= 8)
        request += static_cast<char>((address >> shift) & 0xFF);
    request += userId;
    request += '\0';
    return request;
}

bool CUpstreamSocks4::IsGranted(const unsigned char* reply) {
    return reply[kSocks4ReplyCodeAt] == kSocks4Granted;
}
