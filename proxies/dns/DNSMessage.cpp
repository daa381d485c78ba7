#include "proxies/dns/DNSMessage.h"

#include <algorithm>
#include <cstring>

using namespace DNSFormat;

void CDNSMessage::Assign(const void* bytes, std::size_t length) {
    const std::size_t kept = std::min(length, m_bytes.size());
    if (kept > 0)
        std::memcpy(m_bytes.data(), bytes, kept);
    SetLength(kept);
}

void CDNSMessage::SetLength(std::size_t length) {
    m_length = static_cast<std::uint16_t>(std::min(length, m_bytes.size()));
    m_questionEnd = 0;
}

bool CDNSMessage::IsResponse() const {
    return m_length > kFlagsOffset && (m_bytes[kFlagsOffset] & kFlagQR) != 0;
}

int CDNSMessage::Opcode() const {
    if (m_length <= kFlagsOffset)
        return -1;
    return (m_bytes[kFlagsOffset] & kOpcodeMask) >> kOpcodeShift;
}

WORD CDNSMessage::Read16(std::size_t offset) const {
    return static_cast<WORD>((m_bytes[offset] << 8) | m_bytes[offset + 1]);
}

void CDNSMessage::Write16(std::size_t offset, WORD value) {
    m_bytes[offset] = static_cast<BYTE>(value >> 8);
    m_bytes[offset + 1] = static_cast<BYTE>(value);
}

bool CDNSMessage::ParseQuestion(std::string* name, WORD* type, WORD* qclass) {
    m_questionEnd = 0;
    name->clear();
    if (m_length < kHeaderSize || Read16(kQDCountOffset) == 0)
        return false;
    std::size_t p = kHeaderSize;
    std::size_t after = 0;  // where the fixed part follows, once a pointer was taken
    // Bytes at and past `limit` are not the name's. Once a pointer was taken, the name must lie
    // before it: a reply keeps the question and nothing after it.
    std::size_t limit = m_length;
    std::size_t octets = 0;
    for (int step = 0;; ++step) {
        if (step >= kMaxNameSteps || p >= limit)
            return false;
        const BYTE b = m_bytes[p];
        if ((b & kPointerMask) == kPointerMask) {
            if (p + 1 >= limit)
                return false;
            const std::size_t target =
                (static_cast<std::size_t>(b & ~kPointerMask) << 8) | m_bytes[p + 1];
            if (target < kHeaderSize || target >= p)
                return false;
            if (after == 0) {
                after = p + 2;
                limit = p;
            }
            p = target;
            continue;
        }
        if ((b & kPointerMask) != 0)
            return false;  // the reserved label types
        if (b == 0) {
            if (after == 0)
                after = p + 1;
            break;
        }
        const std::size_t length = b;
        // The label, its length byte, and the zero byte the name still needs.
        octets += 1 + length;
        if (octets + 1 > kMaxName || p + 1 + length >= limit)
            return false;
        if (!name->empty())
            name->push_back('.');
        name->append(reinterpret_cast<const char*>(&m_bytes[p + 1]), length);
        p += 1 + length;
    }
    if (after + 4 > m_length)
        return false;
    *type = Read16(after);
    *qclass = Read16(after + 2);
    m_questionEnd = static_cast<std::uint16_t>(after + 4);
    return true;
}

void CDNSMessage::SetReplyHeader(int code, WORD questions, WORD answers) {
    m_bytes[kFlagsOffset] =
        static_cast<BYTE>((m_bytes[kFlagsOffset] | kFlagQR | kFlagAA) & ~kFlagTC);
    m_bytes[kCodesOffset] = static_cast<BYTE>(
        ((m_bytes[kCodesOffset] | kFlagRA) & ~(kZADCDMask | kRcodeMask)) | (code & kRcodeMask));
    Write16(kQDCountOffset, questions);
    Write16(kANCountOffset, answers);
    Write16(kNSCountOffset, 0);
    Write16(kARCountOffset, 0);
}

void CDNSMessage::BuildRefusal(int code) {
    if (m_length < kHeaderSize) {
        m_length = 0;  // a reply needs a header: nothing is sent
        return;
    }
    if (m_questionEnd != 0) {
        SetReplyHeader(code, 1, 0);
        m_length = m_questionEnd;
    } else {
        SetReplyHeader(code, 0, 0);
        m_length = static_cast<std::uint16_t>(kHeaderSize);
    }
}

bool CDNSMessage::BuildAnswer(const std::string& name, DWORD address) {
    std::string owner;
    if (m_questionEnd == 0 || !EncodeName(name, &owner))
        return false;
    SetReplyHeader(kRcodeNoError, 1, 1);
    const std::size_t end = m_questionEnd;
    const std::size_t total = end + owner.size() + kAnswerFixed + kAddressLength;
    m_questionEnd = 0;  // the question is now part of a reply
    if (total > m_bytes.size()) {
        m_length = 0;
        return true;
    }
    std::size_t p = end;
    std::memcpy(&m_bytes[p], owner.data(), owner.size());
    p += owner.size();
    Write16(p, kTypeA);
    Write16(p + 2, kClassIN);
    Write16(p + 4, static_cast<WORD>(kAnswerTTL >> 16));
    Write16(p + 6, static_cast<WORD>(kAnswerTTL));
    Write16(p + 8, static_cast<WORD>(kAddressLength));
    Write16(p + 10, static_cast<WORD>(address >> 16));
    Write16(p + 12, static_cast<WORD>(address));
    m_length = static_cast<std::uint16_t>(total);
    return true;
}

bool EncodeName(std::string_view text, std::string* encoded) {
    encoded->clear();
    if (!text.empty() && text.back() == '.')
        text.remove_suffix(1);
    if (text.empty())
        return false;
    for (;;) {
        const std::size_t dot = text.find('.');
        const std::string_view label = text.substr(0, dot);
        if (label.empty() || label.size() > kMaxLabel)
            return false;
        encoded->push_back(static_cast<char>(label.size()));
        encoded->append(label);
        if (encoded->size() + 1 > kMaxName)
            return false;
        if (dot == std::string_view::npos)
            break;
        text.remove_prefix(dot + 1);
    }
    encoded->push_back('\0');
    return true;
}
