#include "platform/service/ControlProtocol.h"

namespace ControlProtocol {

namespace {

void Put(BYTE* out, DWORD value) {
    out[0] = static_cast<BYTE>(value);
    out[1] = static_cast<BYTE>(value >> 8);
    out[2] = static_cast<BYTE>(value >> 16);
    out[3] = static_cast<BYTE>(value >> 24);
}

DWORD Get(const BYTE* in) {
    return static_cast<DWORD>(in[0]) | static_cast<DWORD>(in[1]) << 8 |
           static_cast<DWORD>(in[2]) << 16 | static_cast<DWORD>(in[3]) << 24;
}

template <std::size_t N>
std::array<BYTE, N> Words(std::initializer_list<DWORD> words) {
    std::array<BYTE, N> out{};
    std::size_t at = 0;
    for (DWORD word : words) {
        Put(out.data() + at, word);
        at += 4;
    }
    return out;
}

bool Valid(const BYTE* data, std::size_t size, std::size_t expected) {
    return data && size == expected && Get(data) == kMagic;
}

}  // namespace

std::array<BYTE, kRequestSize> EncodeRequest(const Request& request) {
    return Words<kRequestSize>({kMagic, request.op, request.argument});
}

std::array<BYTE, kReplySize> EncodeReply(const Reply& reply) {
    const SERVICE_STATUS& s = reply.status;
    return Words<kReplySize>({kMagic, reply.error, s.dwServiceType, s.dwCurrentState,
                              s.dwControlsAccepted, s.dwWin32ExitCode,
                              s.dwServiceSpecificExitCode, s.dwCheckPoint, s.dwWaitHint});
}

std::array<BYTE, kStartMessageSize> EncodeStartMessage(const StartMessage& message) {
    return Words<kStartMessageSize>({kMagic, message.kind, message.value});
}

std::optional<Request> DecodeRequest(const BYTE* data, std::size_t size) {
    if (!Valid(data, size, kRequestSize))
        return std::nullopt;
    return Request{Get(data + 4), Get(data + 8)};
}

std::optional<Reply> DecodeReply(const BYTE* data, std::size_t size) {
    if (!Valid(data, size, kReplySize))
        return std::nullopt;
    Reply reply;
    reply.error = Get(data + 4);
    SERVICE_STATUS& s = reply.status;
    DWORD* fields[] = {&s.dwServiceType,      &s.dwCurrentState,
                       &s.dwControlsAccepted, &s.dwWin32ExitCode,
                       &s.dwServiceSpecificExitCode, &s.dwCheckPoint,
                       &s.dwWaitHint};
    for (std::size_t i = 0; i < 7; ++i)
        *fields[i] = Get(data + 8 + 4 * i);
    return reply;
}

std::optional<StartMessage> DecodeStartMessage(const BYTE* data, std::size_t size) {
    if (!Valid(data, size, kStartMessageSize))
        return std::nullopt;
    return StartMessage{Get(data + 4), Get(data + 8)};
}

}  // namespace ControlProtocol
