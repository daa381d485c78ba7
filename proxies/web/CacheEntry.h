#pragma once
// One resource in the web cache: its key, the name of its content file, its times, type, size
// and hit count (the record layout is in proxies/web/CacheFormat.h).
//
// Ownership: entries are shared. The cache's map holds one reference to each mapped entry,
// and a session that looked one up or allocated one holds its own (CCacheEntryRef), so a
// purge, a removal or a replacement never frees an entry a session is still using.
//
// Threads: the URL, file name, last-modified time, content type and size are set by the one
// session that allocated the entry, before it is registered (CWWWCache::AddEntry), and never
// change afterwards. The hit count and the last-checked time change on a mapped entry; the
// cache changes them under its lock (CWWWCache::MarkChecked, CountHit), and they are atomic so
// that readers outside the lock see whole values.
//
// GetValue answers the cache-entry values of engine/access/RequestVariables.h for cache-purge
// criteria and the console: the relative efficiency (6) uses the totals of the cache the entry
// belongs to (SetTotals); an entry of no cache answers 100.0, as a cache with nothing served
// does. Ages (7, 8) are whole hours up to now, 0 when the clock moved back.

#include "engine/access/RequestValueSource.h"
#include "platform/framework/Object.h"
#include "platform/kernel/Types.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// The running totals of a cache, which its entries read for their efficiency value. The
// cache changes them under its lock; the values are atomic so an entry reads whole ones.
struct SCacheTotals {
    std::atomic<double> size{0.0};    // bytes of every mapped entry
    std::atomic<double> served{0.0};  // sum of hits * size
};

class CCacheEntry : public CObject, public CCacheEntryValueSource {
    DECLARE_SERIAL(CCacheEntry)
public:
    CCacheEntry() = default;
    explicit CCacheEntry(std::string url) : m_url(std::move(url)) {}
    CCacheEntry(const CCacheEntry&) = delete;
    CCacheEntry& operator=(const CCacheEntry&) = delete;

    const std::string& GetURL() const { return m_url; }
    void SetURL(std::string url) { m_url = std::move(url); }
    const std::string& GetFileName() const { return m_fileName; }
    void SetFileName(std::string name) { m_fileName = std::move(name); }
    bool HasFileName() const { return IsValidFileName(m_fileName); }
    std::int64_t GetLastChecked() const { return m_lastChecked.load(std::memory_order_relaxed); }
    void SetLastChecked(std::int64_t time) { m_lastChecked.store(time, std::memory_order_relaxed); }
    std::int64_t GetLastModified() const { return m_lastModified; }
    void SetLastModified(std::int64_t time) { m_lastModified = time; }
    const std::string& GetContentType() const { return m_contentType; }
    void SetContentType(std::string type) { m_contentType = std::move(type); }
    DWORD GetSize() const { return m_size; }
    void SetSize(DWORD size) { m_size = size; }
    DWORD GetHits() const { return m_hits.load(std::memory_order_relaxed); }
    void SetHits(DWORD hits) { m_hits.store(hits, std::memory_order_relaxed); }

    // The cache whose totals value 6 uses (null: none).
    void SetTotals(std::shared_ptr<const SCacheTotals> totals) { m_totals = std::move(totals); }

    // hits * size, without 32-bit overflow.
    double GetHitsTimesSize() const { return static_cast<double>(GetHits()) * GetSize(); }

    // Eight characters, each one of CacheFormat::kFileNameDigits: the only names the cache
    // makes, and the only ones it will ever delete.
    static bool IsValidFileName(std::string_view name);

    // The index record. Times are written clamped to 0..0xFFFFFFFF and read as unsigned.
    // Loading throws CArchiveException (generic) for a URL or content type longer than
    // CacheFormat::kMaxRecordText; the file name is taken as read (the loader checks it).
    void Serialize(CArchive& ar) override;

    void GetValue(DWORD index, CNVDataObject& data) const override;

private:
    std::string m_url;
    std::string m_fileName;
    std::atomic<std::int64_t> m_lastChecked{0};
    std::int64_t m_lastModified = 0;
    std::string m_contentType;
    DWORD m_size = 0;
    std::atomic<DWORD> m_hits{0};
    std::shared_ptr<const SCacheTotals> m_totals;
};

// A counted reference to an entry (see the top of this file).
using CCacheEntryRef = CRef<CCacheEntry>;
