#include "proxies/web/CacheEntry.h"

#include "engine/access/RequestVariables.h"
#include "foundation/Archive.h"
#include "foundation/NVDataObject.h"
#include "proxies/web/CacheFormat.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <limits>

IMPLEMENT_SERIAL(CCacheEntry, CObject, 1)

namespace {

constexpr std::int64_t kMaxStoredTime = std::numeric_limits<DWORD>::max();

std::time_t ClampTime(std::int64_t time) {
    return static_cast<std::time_t>(std::clamp<std::int64_t>(time, 0, kMaxStoredTime));
}

std::string ReadRecordText(CArchive& ar) {
    std::string text = ar.ReadString();
    if (text.size() > CacheFormat::kMaxRecordText)
        throw new CArchiveException(CArchiveException::generic);
    return text;
}

// Whole hours from `since` to now; 0 when `since` lies ahead (the clock moved back).
DWORD HoursSince(std::int64_t since) {
    const std::int64_t seconds = static_cast<std::int64_t>(std::time(nullptr)) - since;
    if (seconds <= 0)
        return 0;
    return static_cast<DWORD>(std::min<std::int64_t>(seconds / CacheFormat::kSecondsPerHour,
                                                     std::numeric_limits<DWORD>::max()));
}

}  // namespace

bool CCacheEntry::IsValidFileName(std::string_view name) {
    return name.size() == CacheFormat::kFileNameLength &&
           std::all_of(name.begin(), name.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z');
           });
}

void CCacheEntry::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar << m_url << m_fileName;
        ar.WriteTime(ClampTime(GetLastChecked()));
        ar.WriteTime(ClampTime(m_lastModified));
        ar << m_contentType << m_size << GetHits();
        return;
    }
    std::string url = ReadRecordText(ar);
    std::string fileName = ReadRecordText(ar);
    const std::int64_t lastChecked = ar.ReadTime();
    const std::int64_t lastModified = ar.ReadTime();
    std::string contentType = ReadRecordText(ar);
    DWORD size = 0, hits = 0;
    ar >> size >> hits;
    m_url = std::move(url);
    m_fileName = std::move(fileName);
    SetLastChecked(lastChecked);
    m_lastModified = lastModified;
    m_contentType = std::move(contentType);
    m_size = size;
    SetHits(hits);
}

void CCacheEntry::GetValue(DWORD index, CNVDataObject& data) const {
    switch (index) {
    case CacheEntryURL: data.SetString(m_url); break;
    case CacheEntryFileName: data.SetString(m_fileName); break;
    case CacheEntrySize: data.SetDWORD(m_size); break;
    case CacheEntryContentType: data.SetString(m_contentType); break;
    case CacheEntryHits: data.SetDWORD(GetHits()); break;
    case CacheEntryHitsTimesSize: data.SetDouble(GetHitsTimesSize()); break;
    case CacheEntryEfficiency: {
        const double served = m_totals ? m_totals->served.load() : 0.0;
        const double total = m_totals ? m_totals->size.load() : 0.0;
        data.SetDouble(served == 0.0 ? 100.0 : GetHits() * total * 100.0 / served);
        break;
    }
    case CacheEntryHoursSinceChecked: data.SetDWORD(HoursSince(GetLastChecked())); break;
    case CacheEntryHoursSinceModified: data.SetDWORD(HoursSince(m_lastModified)); break;
    default: break;
    }
}
