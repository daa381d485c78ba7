#pragma once
// The DNS service's constants in one place: the message layout it reads and writes (RFC 1035,
// every 16-bit field in network byte order), its response codes, its registry value, and the
// texts it writes to logs and consoles.
//
//   offset  field
//   0       ID (2 bytes)
//   2       QR (bit 7), OPCODE (bits 6-3), AA (bit 2), TC (bit 1), RD (bit 0)
//   3       RA (bit 7), Z (bit 6), AD (bit 5), CD (bit 4), RCODE (bits 3-0)
//   4       QDCOUNT    6  ANCOUNT    8  NSCOUNT    10  ARCOUNT
//   12      the question: QNAME (labels, or a compression pointer), QTYPE, QCLASS
//
// An answer record: NAME (labels and a zero byte), TYPE, CLASS, TTL (4 bytes), RDLENGTH,
// RDATA (the 4-byte address).

#include "platform/kernel/Types.h"

#include <cstddef>

namespace DNSFormat {

// --- Layout ---------------------------------------------------------------------------------
inline constexpr std::size_t kMaxMessage = 512;  // queries and replies (classic UDP limit)
inline constexpr std::size_t kHeaderSize = 12;
inline constexpr std::size_t kFlagsOffset = 2;
inline constexpr std::size_t kCodesOffset = 3;
inline constexpr std::size_t kQDCountOffset = 4;
inline constexpr std::size_t kANCountOffset = 6;
inline constexpr std::size_t kNSCountOffset = 8;
inline constexpr std::size_t kARCountOffset = 10;

// First flags byte.
inline constexpr BYTE kFlagQR = 0x80;
inline constexpr BYTE kOpcodeMask = 0x78;
inline constexpr int kOpcodeShift = 3;
inline constexpr BYTE kFlagAA = 0x04;
inline constexpr BYTE kFlagTC = 0x02;
// Second flags byte: RA, then Z, AD and CD (cleared in replies), then RCODE.
inline constexpr BYTE kFlagRA = 0x80;
inline constexpr BYTE kZADCDMask = 0x70;
inline constexpr BYTE kRcodeMask = 0x0F;

// Names.
inline constexpr BYTE kPointerMask = 0xC0;  // both top bits: a compression pointer
inline constexpr std::size_t kMaxLabel = 63;
inline constexpr std::size_t kMaxName = 255;  // octets of a name in label form, its zero included
inline constexpr int kMaxNameSteps = 255;     // labels and pointers followed in one name

// Record fields.
inline constexpr WORD kTypeA = 1;
inline constexpr WORD kClassIN = 1;
inline constexpr DWORD kAnswerTTL = 0;
inline constexpr std::size_t kAnswerFixed = 10;  // TYPE, CLASS, TTL, RDLENGTH
inline constexpr std::size_t kAddressLength = 4;

// --- Codes ----------------------------------------------------------------------------------
inline constexpr int kOpcodeQuery = 0;
inline constexpr int kOpcodeIQuery = 1;
inline constexpr int kOpcodeStatus = 2;

inline constexpr int kRcodeNoError = 0;
inline constexpr int kRcodeFormatError = 1;   // short or malformed query, unsupported type/class
inline constexpr int kRcodeServerFailure = 2;  // lookup not started or failed
inline constexpr int kRcodeNameError = 3;      // numeric name, or no such name
inline constexpr int kRcodeNotImplemented = 4;  // OPCODE other than 0
inline constexpr int kRcodeRefused = 5;         // access refused

// --- Service --------------------------------------------------------------------------------
inline constexpr const char* kServiceName = "DNS server";
inline constexpr UINT kServicePort = 53;
inline constexpr const char* kAllowAutodialValue = "AllowAutodial";
inline constexpr DWORD kDefaultAllowAutodial = 1;

// --- Texts ----------------------------------------------------------------------------------
inline constexpr const char* kDescriptionPrefix = "DNS: Address lookup for ";  // the name follows
inline constexpr const char* kOnReadUnknownException =
    "Caught unknown exception in CDNSService::OnRead() - Ignoring\n";
inline constexpr const char* kLookupSocketException =
    "Caught Socket exception in CDNSService::OnAsyncGetHostByName() %s - Ignoring\n";
inline constexpr const char* kLookupUnknownException =
    "Caught unknown exception in CDNSService::OnAsyncGetHostByName() - Ignoring\n";
inline constexpr const char* kOpcodeIQueryText = "Received unsupported DNS OPCODE - OPCODE_IQUERY";
inline constexpr const char* kOpcodeStatusText = "Received unsupported DNS OPCODE - OPCODE_STATUS";

// The query types that are logged when refused; other types are refused without a line.
struct UnsupportedType {
    WORD type;
    const char* text;  // with %s for the name
};
inline constexpr UnsupportedType kUnsupportedTypes[] = {
    {2, "Received unsupported DNS Query - TYPE_NS for %s"},
    {3, "Received unsupported DNS Query - TYPE_MD for %s"},
    {4, "Received unsupported DNS Query - TYPE_MF for %s"},
    {5, "Received unsupported DNS Query - TYPE_CNAME for %s"},
    {6, "Received unsupported DNS Query - TYPE_SOA for %s"},
    {7, "Received unsupported DNS Query - TYPE_MB for %s"},
    {8, "Received unsupported DNS Query - TYPE_MG for %s"},
    {9, "Received unsupported DNS Query - TYPE_MR for %s"},
    {10, "Received unsupported DNS Query - TYPE_NULL for %s"},
    {11, "Received unsupported DNS Query - TYPE_WKS for %s"},
    {12, "Received unsupported DNS Query - TYPE_PTR for %s"},
    {13, "Received unsupported DNS Query - TYPE_HINFO for %s"},
    {14, "Received unsupported DNS Query - TYPE_MINFO for %s"},
    {15, "Received unsupported DNS Query - TYPE_MX for %s"},
    {16, "Received unsupported DNS Query - TYPE_TXT for %s"},
    {252, "Received unsupported DNS Query - QTYPE_AXFR for %s"},
    {253, "Received unsupported DNS Query - QTYPE_MAILB for %s"},
    {254, "Received unsupported DNS Query - QTYPE_MAILA for %s"},
    {255, "Received unsupported DNS Query - QTYPE_ALL for %s"},
};

}  // namespace DNSFormat
