#pragma once
// The web cache's stored forms, as one table: its registry values, its files and the index
// record. Existing caches and consoles rely on every name and layout here.
//
// Registry values below the cache's key ("Cache"), in the order they are saved:
//   CacheDirectory              string  "cache"   folder of the index and the content files
//   CacheOptions                DWORD   3         bit value 1 store new responses,
//                                                 bit value 2 answer requests from the cache
//   SpecifyWhatToCache          DWORD   0         only requests the cache filter admits
//   LimitCacheSize              DWORD   1
//   MaxSize                     DWORD   100       megabytes of 1048576 bytes
//   AutoPurge                   DWORD   1         purge when a download overfills the cache
//   DaysBeforeCheckVolatile     DWORD   2         age limit of "text/html" entries
//   DaysBeforeCheckNonVolatile  DWORD   60        age limit of every other entry
//   <key>\CacheFilter, <key>\PurgeFilter: request filter collections
//
// Archive form of the settings (the console's copy): CacheDirectory, CacheOptions,
// LimitCacheSize, SpecifyWhatToCache, MaxSize, AutoPurge, DaysBeforeCheckVolatile,
// DaysBeforeCheckNonVolatile (DWORDs), total size, total served (8-byte doubles), the cache
// filter, the purge filter (each its own form, no class tag). Note the order differs from
// the registry's.
//
// Files in the cache folder:
//   cache.idx     the index: no header, no count; one record per entry, back to back, the file
//                 ending where the last record ends
//   XXXXXXXX.nvc  one content file per entry: the response body exactly as received; the
//                 name is eight characters of kFileNameDigits
//   cache.idx.new the index being rewritten, until it takes the index's place (never read)
//
// Index record (archive form, no class information):
//   URL            string        the cache key (host, optional ":" and port, path)
//   file name      string        eight characters of kFileNameDigits
//   last checked   4 bytes LE    seconds since 1970, unsigned
//   last modified  4 bytes LE    seconds since 1970, unsigned
//   content type   string
//   size           4 bytes LE    bytes of the body
//   hits           4 bytes LE    times served from the cache

#include "platform/kernel/Types.h"

#include <cstddef>

namespace CacheFormat {

inline constexpr const char* kCacheDirectoryValue = "CacheDirectory";
inline constexpr const char* kCacheOptionsValue = "CacheOptions";
inline constexpr const char* kSpecifyWhatToCacheValue = "SpecifyWhatToCache";
inline constexpr const char* kLimitCacheSizeValue = "LimitCacheSize";
inline constexpr const char* kMaxSizeValue = "MaxSize";
inline constexpr const char* kAutoPurgeValue = "AutoPurge";
inline constexpr const char* kDaysVolatileValue = "DaysBeforeCheckVolatile";
inline constexpr const char* kDaysNonVolatileValue = "DaysBeforeCheckNonVolatile";
inline constexpr const char* kCacheFilterKey = "CacheFilter";
inline constexpr const char* kPurgeFilterKey = "PurgeFilter";

inline constexpr const char* kDefaultCacheDirectory = "cache";
inline constexpr DWORD kDefaultCacheOptions = 3;
inline constexpr DWORD kDefaultSpecifyWhatToCache = 0;
inline constexpr DWORD kDefaultLimitCacheSize = 1;
inline constexpr DWORD kDefaultMaxSize = 100;
inline constexpr DWORD kDefaultAutoPurge = 1;
inline constexpr DWORD kDefaultDaysVolatile = 2;
inline constexpr DWORD kDefaultDaysNonVolatile = 60;

// CacheOptions bits.
inline constexpr DWORD kOptionStore = 1;
inline constexpr DWORD kOptionLookup = 2;

inline constexpr double kBytesPerMegabyte = 1048576.0;
inline constexpr long long kSecondsPerDay = 86400;
inline constexpr long long kSecondsPerHour = 3600;

inline constexpr const char* kIndexFileName = "cache.idx";
inline constexpr const char* kIndexRewriteFileName = "cache.idx.new";
inline constexpr const char* kContentSuffix = ".nvc";
inline constexpr const char* kFileNameDigits = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
inline constexpr std::size_t kFileNameLength = 8;
inline constexpr const char* kFirstCounter = "00000000";

// Archive block sizes: loading the index, writing it whole, appending one record.
inline constexpr std::size_t kLoadBufferSize = 32768;
inline constexpr std::size_t kWriteBufferSize = 8192;
inline constexpr std::size_t kAppendBufferSize = 1024;

// No string of a record is longer than a request head may be (a key, a content type); a
// longer one in an index is damage, and ends its reading.
inline constexpr std::size_t kMaxRecordText = 65536;

// The content type whose entries age by DaysBeforeCheckVolatile (compared without case).
inline constexpr const char* kVolatileContentType = "text/html";

// What RemoveEntryByURL drops from the front of its text (compared without case).
inline constexpr const char* kHttpScheme = "http://";

}  // namespace CacheFormat
