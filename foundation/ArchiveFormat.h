#pragma once
// The archive stream's byte format, as a table. Every number is little-endian, with no
// alignment or padding.
//
//   byte, char                      1
//   WORD, short                     2
//   DWORD, int, LONG, BOOL          4        (never the platform's 8-byte long)
//   float / double                  4 / 8    IEEE 754
//   time stamp                      4        unsigned seconds since 1970-01-01 UTC
//   date-time                       4 + 8    status (0 valid), days since 1899-12-30 (double)
//   currency                        4 + 4 + 4  status, high 32 bits (signed), low 32 bits
//   string                          length prefix, then the bytes (no terminator)
//
// String length prefix for n bytes:
//   n <= 254                        BYTE n
//   255 <= n <= 0xFFFD              BYTE 0xFF, WORD n
//   n >= 0xFFFE                     BYTE 0xFF, WORD 0xFFFF, DWORD n
//   (loading only) BYTE 0xFF, WORD 0xFFFE: a wide string: a second prefix by the rules above,
//   then n two-byte characters, converted to bytes
//
// Element count prefix: WORD n when n < 0xFFFF, else WORD 0xFFFF, DWORD n.
//
// Object reference, a WORD tag first:
//   0x0000                          null
//   0x0001 .. 0x7FFE                object already read/written as entry n
//   0xFFFF                          new class record: WORD schema, WORD name length (< 64),
//                                   the name; then a new object of it and its fields
//   0x8000 + c (c 1 .. 0x7FFE)      new object of the class recorded as entry c, its fields
//   0x7FFF                          escape, DWORD follows: n for an object already seen;
//                                   0x80000000 + c for a new object of class entry c
// Class records and objects share one entry counter that starts at 1 in every archive.

#include "platform/framework/RuntimeClass.h"
#include "platform/kernel/Types.h"

#include <cstddef>

namespace ArchiveFormat {

inline constexpr BYTE kStringLongPrefix = 0xFF;  // a WORD length follows
inline constexpr DWORD kMaxByteLength = 0xFE;
inline constexpr WORD kMaxWordLength = 0xFFFD;
inline constexpr WORD kWideStringMarker = 0xFFFE;
inline constexpr WORD kDwordLengthFollows = 0xFFFF;

inline constexpr WORD kCountDwordFollows = 0xFFFF;

inline constexpr WORD kNullTag = 0x0000;
inline constexpr WORD kNewClassTag = 0xFFFF;
inline constexpr WORD kClassTag = 0x8000;       // WORD class references are 0x8000 + entry
inline constexpr WORD kEscapeTag = 0x7FFF;      // a DWORD entry follows
inline constexpr DWORD kEscapedClassTag = 0x80000000;
inline constexpr DWORD kMaxWordEntry = 0x7FFE;  // entries up to here fit in the WORD tag

// The last entry number an archive may hand out.
inline constexpr DWORD kMaxEntry = 0x3FFFFFFD;
// A stored class name must be shorter than this.
inline constexpr WORD kMaxClassNameLength = 64;
// A class whose schema is this never travels in a stream.
inline constexpr WORD kNoSchema = CRuntimeClass::kNoSchema;

// Object references nest at most this deep (an object inside an object ...); deeper streams
// are refused so that hostile input cannot exhaust the stack.
inline constexpr int kMaxNestingDepth = 64;

// Block sizes: a requested size below the minimum is raised to it.
inline constexpr std::size_t kMinBufferSize = 128;
inline constexpr std::size_t kDefaultBufferSize = 4096;

}  // namespace ArchiveFormat
