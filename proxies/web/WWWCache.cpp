#include "proxies/web/WWWCache.h"

#include "engine/access/AccessStore.h"
#include "engine/access/RequestVariables.h"
#include "foundation/Archive.h"
#include "foundation/MemFile.h"
#include "foundation/NVDataObject.h"
#include "foundation/RegistryStore.h"
#include "foundation/ScopedLock.h"
#include "platform/framework/Exception.h"
#include "platform/kernel/File.h"
#include "platform/kernel/Paths.h"
#include "proxies/web/CacheFormat.h"
#include "proxies/web/HeaderList.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <limits>
#include <unordered_map>
#include <utility>
#include <vector>

using namespace CacheFormat;

IMPLEMENT_SERIAL(CWWWCache, CLockableMap, 1)

namespace {

// How many names an allocation tries before it gives up: a name is skipped while a file of
// that name exists (the counter can only meet one after it went round, or was set by a
// damaged index).
constexpr int kNameAttempts = 64;

// The index is rewritten once the records appended since its last rewrite pass both this and
// the size it had then.
constexpr std::uint64_t kMinIndexGrowth = 256 * 1024;

// How many replaced copies wait to hand their content files to later stores (CWWWCache::m_spares).
constexpr std::size_t kMaxSpareFiles = 64;

// How many content files of recent downloads stay open for a later store (CWWWCache::m_openFiles).
constexpr std::size_t kMaxOpenFiles = 64;

// The counter's next text, as a base-36 number over kFileNameDigits; "ZZZZZZZZ" is never
// given out, the count going round to "00000000" instead.
void AdvanceCounter(std::string& counter) {
    const std::string_view digits = kFileNameDigits;
    for (std::size_t i = counter.size(); i-- > 0;) {
        const std::size_t value = digits.find(counter[i]);
        if (value != std::string_view::npos && value + 1 < digits.size()) {
            counter[i] = digits[value + 1];
            break;
        }
        counter[i] = '0';
    }
    if (counter == std::string(kFileNameLength, 'Z'))
        counter = kFirstCounter;
}

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

// The folder as the file system takes it: '/' for the stored '\', "." for an empty one.
// Empty (unusable) when it holds a NUL, which would cut the path short.
std::string FolderPath(std::string folder) {
    if (folder.find('\0') != std::string::npos)
        return {};
    std::replace(folder.begin(), folder.end(), '\\', '/');
    return folder.empty() ? std::string(".") : folder;
}

}  // namespace

CWWWCache::CWWWCache()
    : m_directory(kDefaultCacheDirectory),
      m_options(kDefaultCacheOptions),
      m_specifyWhatToCache(kDefaultSpecifyWhatToCache),
      m_limitCacheSize(kDefaultLimitCacheSize),
      m_maxSize(kDefaultMaxSize),
      m_autoPurge(kDefaultAutoPurge),
      m_daysVolatile(kDefaultDaysVolatile),
      m_daysNonVolatile(kDefaultDaysNonVolatile),
      m_totals(std::make_shared<SCacheTotals>()),
      m_counter(kFirstCounter) {}

CWWWCache::~CWWWCache() {
    DeleteElements();
    std::lock_guard<std::recursive_mutex> index(m_indexMutex);
    m_index.reset();
}

// --- Settings ------------------------------------------------------------------------------

std::string CWWWCache::GetCacheDirectory() const {
    CScopedLock lock(*this);
    return m_directory;
}

void CWWWCache::SetCacheDirectory(std::string directory) {
    CScopedLock lock(*this);
    m_directory = std::move(directory);
}

void CWWWCache::SetCacheOptions(DWORD options) {
    CScopedLock lock(*this);
    m_options = options;
    m_suspendedForSize = false;  // the administrator's choice stands
}

std::string CWWWCache::GetNameCounter() const {
    CScopedLock lock(*this);
    return m_counter;
}

void CWWWCache::SetSettingsNotifier(std::function<void()> notifier) {
    CScopedLock lock(*this);
    m_notifier = std::move(notifier);
}

void CWWWCache::NotifySettingsChanged() {
    std::function<void()> notifier;
    {
        CScopedLock lock(*this);
        notifier = m_notifier;
    }
    if (notifier)
        notifier();
}

void CWWWCache::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        CScopedLock lock(*this);
        ar << m_directory << m_options.load() << m_limitCacheSize.load()
           << m_specifyWhatToCache.load() << m_maxSize.load() << m_autoPurge.load()
           << m_daysVolatile.load() << m_daysNonVolatile.load() << GetTotalSize()
           << GetTotalServed();
        m_cacheFilter.Serialize(ar);
        m_purgeFilter.Serialize(ar);
        return;
    }
    std::string directory;
    DWORD options = 0, limit = 0, specify = 0, maxSize = 0, autoPurge = 0, daysVolatile = 0,
          daysNonVolatile = 0;
    double totalSize = 0.0, totalServed = 0.0;
    ar >> directory >> options >> limit >> specify >> maxSize >> autoPurge >> daysVolatile >>
        daysNonVolatile >> totalSize >> totalServed;
    CRequestFilterCollection cacheFilter, purgeFilter;
    cacheFilter.Serialize(ar);
    purgeFilter.Serialize(ar);

    CScopedLock lock(*this);
    ApplySettings(std::move(directory),
                  {options, limit, specify, maxSize, autoPurge, daysVolatile, daysNonVolatile},
                  cacheFilter, purgeFilter);
    if (!m_live) {
        m_totals->size = totalSize;
        m_totals->served = totalServed;
    }
}

void CWWWCache::CopySettings(const CWWWCache& other) {
    if (&other == this)
        return;
    ApplySettings(other.GetCacheDirectory(),
                  {other.m_options, other.m_limitCacheSize, other.m_specifyWhatToCache,
                   other.m_maxSize, other.m_autoPurge, other.m_daysVolatile, other.m_daysNonVolatile},
                  other.m_cacheFilter, other.m_purgeFilter);
}

void CWWWCache::ApplySettings(std::string directory, const SettingWords& words,
                              const CRequestFilterCollection& cacheFilter,
                              const CRequestFilterCollection& purgeFilter) {
    CScopedLock lock(*this);
    m_directory = std::move(directory);
    m_options = words.options;
    m_limitCacheSize = words.limitCacheSize;
    m_specifyWhatToCache = words.specifyWhatToCache;
    m_maxSize = words.maxSize;
    m_autoPurge = words.autoPurge;
    m_daysVolatile = words.daysVolatile;
    m_daysNonVolatile = words.daysNonVolatile;
    m_suspendedForSize = false;
    m_cacheFilter.Copy(cacheFilter);
    m_purgeFilter.Copy(purgeFilter);
}

BOOL CWWWCache::SaveToRegistry(const std::string& keyPath) const {
    BOOL ok = RegWriteString(keyPath, kCacheDirectoryValue, GetCacheDirectory());
    ok &= RegWriteDWORD(keyPath, kCacheOptionsValue, m_options);
    ok &= RegWriteDWORD(keyPath, kSpecifyWhatToCacheValue, m_specifyWhatToCache);
    ok &= RegWriteDWORD(keyPath, kLimitCacheSizeValue, m_limitCacheSize);
    ok &= RegWriteDWORD(keyPath, kMaxSizeValue, m_maxSize);
    ok &= RegWriteDWORD(keyPath, kAutoPurgeValue, m_autoPurge);
    ok &= RegWriteDWORD(keyPath, kDaysVolatileValue, m_daysVolatile);
    ok &= RegWriteDWORD(keyPath, kDaysNonVolatileValue, m_daysNonVolatile);
    ok &= m_cacheFilter.SaveToRegistry(SubKeyPath(keyPath, kCacheFilterKey));
    ok &= m_purgeFilter.SaveToRegistry(SubKeyPath(keyPath, kPurgeFilterKey));
    return ok;
}

void CWWWCache::LoadFromRegistry(const std::string& keyPath) {
    SetCacheDirectory(RegReadString(keyPath, kCacheDirectoryValue, kDefaultCacheDirectory));
    SetCacheOptions(RegReadDWORD(keyPath, kCacheOptionsValue, kDefaultCacheOptions));
    m_specifyWhatToCache =
        RegReadDWORD(keyPath, kSpecifyWhatToCacheValue, kDefaultSpecifyWhatToCache);
    m_limitCacheSize = RegReadDWORD(keyPath, kLimitCacheSizeValue, kDefaultLimitCacheSize);
    m_maxSize = RegReadDWORD(keyPath, kMaxSizeValue, kDefaultMaxSize);
    m_autoPurge = RegReadDWORD(keyPath, kAutoPurgeValue, kDefaultAutoPurge);
    m_daysVolatile = RegReadDWORD(keyPath, kDaysVolatileValue, kDefaultDaysVolatile);
    m_daysNonVolatile = RegReadDWORD(keyPath, kDaysNonVolatileValue, kDefaultDaysNonVolatile);
    m_cacheFilter.LoadFromRegistry(SubKeyPath(keyPath, kCacheFilterKey));
    m_purgeFilter.LoadFromRegistry(SubKeyPath(keyPath, kPurgeFilterKey));
}

// --- Sessions ------------------------------------------------------------------------------

bool CWWWCache::IsLookupEnabled() const {
    return (m_options & kOptionLookup) != 0 && !m_busy && !m_closed;
}

bool CWWWCache::IsStoringEnabled() const {
    return (m_options & kOptionStore) != 0 && !m_busy && !m_closed;
}

BOOL CWWWCache::IsCacheable(CRequestValueSource& session) const {
    try {
        CNVDataObject protocol, method;
        session.GetValue(RequestHTTPProtocol, protocol);
        session.GetValue(RequestHTTPMethod, method);
        if (protocol.DataType != CNVDataObject::TypeString ||
            method.DataType != CNVDataObject::TypeString ||
            !EqualsNoCase(protocol.strData, "HTTP") || !EqualsNoCase(method.strData, "GET"))
            return FALSE;
        if (m_specifyWhatToCache != 0)
            return m_cacheFilter.MatchRequest(session);
        return TRUE;
    } catch (...) {
        DropCurrentException();
        return FALSE;
    }
}

CCacheEntry* CWWWCache::FindLocked(std::string_view key) const {
    return static_cast<CCacheEntry*>(CObjectMap::Lookup(key));
}

CCacheEntryRef CWWWCache::Lookup(std::string_view key) const {
    CScopedLock lock(*this);
    return CCacheEntryRef(FindLocked(key));
}

bool CWWWCache::Contains(std::string_view key) const {
    CScopedLock lock(*this);
    return FindLocked(key) != nullptr;
}

std::int64_t CWWWCache::GetRecheckPeriod(std::string_view contentType) const {
    const DWORD days = EqualsNoCase(contentType, kVolatileContentType) ? m_daysVolatile.load()
                                                                       : m_daysNonVolatile.load();
    return static_cast<std::int64_t>(days) * kSecondsPerDay;
}

bool CWWWCache::IsFresh(const CCacheEntry& entry, std::int64_t now) const {
    return entry.GetLastChecked() > now - GetRecheckPeriod(entry.GetContentType());
}

void CWWWCache::MarkChecked(CCacheEntry& entry, std::int64_t now) {
    CScopedLock lock(*this);
    entry.SetLastChecked(now);
}

void CWWWCache::CountHit(CCacheEntry& entry, std::int64_t now) {
    CScopedLock lock(*this);
    if (entry.GetHits() < std::numeric_limits<DWORD>::max()) {
        entry.SetHits(entry.GetHits() + 1);
        if (FindLocked(entry.GetURL()) == &entry)
            AddToTotals(0.0, entry.GetSize());
    }
    entry.SetLastChecked(now);
}

std::string CWWWCache::ContentPathLocked(const std::string& fileName) const {
    return m_activeDirectory + "/" + fileName + kContentSuffix;
}

std::string CWWWCache::GetContentPath(const CCacheEntry& entry) const {
    if (!entry.HasFileName())
        return {};
    CScopedLock lock(*this);
    return m_activeDirectory.empty() ? std::string() : ContentPathLocked(entry.GetFileName());
}

std::string CWWWCache::ReserveNewName(std::vector<std::string>& removeLater,
                                      SContentFile& file) {
    std::string spare;  // the path of a spare to rename to the name found
    {
        // The spares wait for their record to die (the next store of their key), unless they
        // piled up to their bound: then one is renamed rather than a file created.
        CScopedLock lock(*this);
        if (m_spares.size() >= kMaxSpareFiles) {
            const std::string name = TakeSpareLocked(file, false);
            if (!name.empty())
                spare = ContentPathLocked(name);
        }
    }
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string name, path;
        {
            CScopedLock lock(*this);
            if (m_closed || m_activeDirectory.empty())
                break;
            AdvanceCounter(m_counter);
            if (m_pending.count(m_counter) != 0)
                continue;
            name = m_counter;
            path = ContentPathLocked(name);
            m_pending.insert(name);
        }
        // Outside the map lock: a file system call under it would hold up every lookup. The
        // rename and the creation each refuse a name that is taken (a counter gone round, or
        // set by a damaged index), so no look comes first.
        if (!spare.empty()) {
            if (MoveFileNoReplace(spare, path))
                return name;
            if (errno != EEXIST) {
                removeLater.push_back(std::move(spare));
                spare.clear();
                file = {};
            }
        }
        int error = EEXIST;
        if (spare.empty()) {
            CUniqueFd created(OpenFileForWriting(path, CREATE_NEW));
            if (created.IsValid()) {
                file = {std::move(created), 0};
                return name;
            }
            error = errno;
        }
        CScopedLock lock(*this);
        m_pending.erase(name);
        if (error != EEXIST)
            break;
    }
    if (!spare.empty())
        removeLater.push_back(std::move(spare));
    file = {};
    return {};
}

void CWWWCache::GiveNameLocked(CCacheEntry& entry, const std::string& name,
                               SContentFile& taken, SContentFile* file, SContentFile& evicted) {
    const std::int64_t now = Now();
    entry.SetFileName(name);
    entry.SetLastChecked(now);
    entry.SetLastModified(now);
    if (file != nullptr)
        *file = std::move(taken);
    else
        evicted = KeepFileLocked(name, std::move(taken));
}

CCacheEntryRef CWWWCache::AllocateEntry(const std::string& key,
                                        std::vector<std::string>* callerRemoves,
                                        SContentFile* file) {
    auto entry = CCacheEntryRef::Adopt(new CCacheEntry(key));
    entry->SetTotals(m_totals);
    if (key.size() > kMaxRecordText)
        return entry;
    std::vector<std::string> removeLater;  // deleted once the map lock is released
    SContentFile taken, evicted;           // evicted: closed once the map lock is released
    bool named = false;
    {
        CScopedLock lock(*this);
        if (m_closed || m_activeDirectory.empty())
            return entry;
        if (const CCacheEntry* old = FindLocked(key)) {
            entry->SetHits(old->GetHits());
            RemoveLocked(key, false, &removeLater);  // its file becomes a spare
        }
        // A spare whose index record is dead is written over under its own name: no step in
        // the folder at all, and no second look at the map.
        const std::string name = TakeSpareLocked(taken, true);
        if (!name.empty()) {
            m_pending.insert(name);
            GiveNameLocked(*entry, name, taken, file, evicted);
            named = true;
        }
    }
    const std::string name = named ? std::string() : ReserveNewName(removeLater, taken);
    if (!name.empty()) {
        CScopedLock lock(*this);
        if (m_closed || m_activeDirectory.empty()) {
            m_pending.erase(name);
            if (!m_activeDirectory.empty())
                removeLater.push_back(ContentPathLocked(name));
        } else {
            GiveNameLocked(*entry, name, taken, file, evicted);
        }
    }
    if (callerRemoves != nullptr) {
        callerRemoves->insert(callerRemoves->end(), removeLater.begin(), removeLater.end());
        return entry;
    }
    for (const std::string& path : removeLater)
        RemoveFile(path);
    return entry;
}

BOOL CWWWCache::AddEntry(const CCacheEntryRef& entry, SCompletedDownload download) {
    if (!entry)
        return FALSE;
    entry->SetLastModified(download.lastModified);
    entry->SetContentType(download.contentType);
    entry->SetSize(download.size);
    return AddEntry(entry, &download.file);
}

BOOL CWWWCache::AddEntry(const CCacheEntryRef& entry) { return AddEntry(entry, nullptr); }

BOOL CWWWCache::AddEntry(const CCacheEntryRef& entry, SContentFile* file) {
    if (!entry)
        return FALSE;
    if (entry->GetContentType().size() > kMaxRecordText) {
        DiscardEntry(entry);
        return FALSE;
    }
    // The record is made before the map lock is taken, queued in the same step that maps the
    // entry (so the queue's order is the map's), and written after the lock is released.
    const std::string record = MakeIndexRecord(*entry);

    bool suspended = false, purge = false;
    std::vector<std::string> removeLater;  // deleted once the map lock is released
    SContentFile evicted;                  // closed once the map lock is released
    {
        CScopedLock lock(*this);
        // Not allocated here, registered already, or discarded meanwhile.
        if (m_pending.erase(entry->GetFileName()) == 0)
            return FALSE;
        if (m_closed) {
            RemoveFile(ContentPathLocked(entry->GetFileName()));
            return FALSE;
        }
        const std::string key = entry->GetURL();
        if (const CCacheEntry* old = FindLocked(key))
            RemoveLocked(key, old->GetFileName() == entry->GetFileName(), &removeLater);
        {
            std::lock_guard<std::mutex> queue(m_indexQueueMutex);
            m_indexQueue += record;
            MarkSupersededLocked(key, ++m_recordsQueued);
        }
        MapLocked(entry);
        if (OverLimitLocked()) {
            RemoveLocked(key);
            if (m_autoPurge != 0)
                purge = true;
            else
                suspended = SuspendStoringLocked();
        } else if (file != nullptr && file->handle.IsValid()) {
            evicted = KeepFileLocked(entry->GetFileName(), std::move(*file));
        } else {
            // Written some other way: a descriptor kept from the allocation no longer knows
            // the file's length.
            evicted = TakeFileLocked(entry->GetFileName());
        }
    }
    WriteIndexQueue();
    for (const std::string& path : removeLater)
        RemoveFile(path);
    if (purge)
        Purge();
    if (suspended)
        NotifySettingsChanged();
    return TRUE;
}

void CWWWCache::DiscardEntry(const CCacheEntryRef& entry) {
    if (!entry)
        return;
    const std::string& name = entry->GetFileName();
    std::string path;
    {
        CScopedLock lock(*this);
        if (m_pending.count(name) == 0)
            return;
        TakeFileLocked(name);
        if (m_activeDirectory.empty()) {
            m_pending.erase(name);
            return;
        }
        path = ContentPathLocked(name);
    }
    // Deleted outside the map lock; the name stays allocated until the file is gone.
    RemoveFile(path);
    CScopedLock lock(*this);
    m_pending.erase(name);
}

// --- Administration ------------------------------------------------------------------------

void CWWWCache::AddToTotals(double size, double served) {
    // Kept at 0 or above even if an entry changed after it was counted.
    m_totals->size = std::max(0.0, m_totals->size.load() + size);
    m_totals->served = std::max(0.0, m_totals->served.load() + served);
}

void CWWWCache::MapLocked(CCacheEntryRef entry) {
    AddToTotals(entry->GetSize(), entry->GetHitsTimesSize());
    const std::string key = entry->GetURL();
    SetAt(key, entry.Detach());
}

void CWWWCache::RemoveLocked(std::string_view key, bool keepFile,
                             std::vector<std::string>* removeLater) {
    CCacheEntry* entry = FindLocked(key);
    if (entry == nullptr)
        return;
    RemoveKey(key);
    if (!keepFile && entry->HasFileName() && !m_activeDirectory.empty()) {
        // The copy a store replaces becomes a spare. It keeps its name until it is taken:
        // the index's record of it still finds the content it was written with.
        if (removeLater != nullptr && m_spares.size() < kMaxSpareFiles) {
            m_spares.push_back({CCacheEntryRef(entry)});
        } else {
            TakeFileLocked(entry->GetFileName());
            std::string path = ContentPathLocked(entry->GetFileName());
            if (removeLater != nullptr)
                removeLater->push_back(std::move(path));
            else
                RemoveFile(path);
        }
    }
    AddToTotals(-static_cast<double>(entry->GetSize()), -entry->GetHitsTimesSize());
    entry->Release();
}

bool CWWWCache::OverLimitLocked() const {
    return m_limitCacheSize != 0 && m_maxSize < GetTotalSize() / kBytesPerMegabyte;
}

bool CWWWCache::SuspendStoringLocked() {
    m_suspendedForSize = true;
    return (m_options.fetch_and(~kOptionStore) & kOptionStore) != 0;
}

void CWWWCache::RemoveEntry(std::string_view key, BOOL reenable) {
    bool resumed = false;
    {
        CScopedLock lock(*this);
        if (FindLocked(key) == nullptr)
            return;
        RemoveLocked(key);
        if (reenable && m_suspendedForSize && !OverLimitLocked()) {
            m_suspendedForSize = false;
            resumed = (m_options.fetch_or(kOptionStore) & kOptionStore) == 0;
        }
    }
    if (resumed)
        NotifySettingsChanged();
}

void CWWWCache::RemoveEntryByURL(std::string_view text) {
    const std::string_view scheme = kHttpScheme;
    if (text.size() >= scheme.size() && EqualsNoCase(text.substr(0, scheme.size()), scheme))
        text.remove_prefix(scheme.size());
    RemoveEntry(text, TRUE);
}

template <class Remove>
void CWWWCache::RunExclusive(Remove removeWhich, bool reconcileFolder) {
    bool expected = false;
    if (!m_busy.compare_exchange_strong(expected, true))
        return;
    struct Idle {
        std::atomic<bool>& busy;
        ~Idle() { busy = false; }
    } idle{m_busy};

    {
        CScopedLock lock(*this);
        std::lock_guard<std::recursive_mutex> index(m_indexMutex);
        std::vector<std::string> doomed;
        for (const auto& [key, object] : static_cast<CObjectMap&>(*this)) {
            if (removeWhich(*static_cast<const CCacheEntry*>(object)))
                doomed.push_back(key);
        }
        for (const std::string& key : doomed)
            RemoveLocked(key);
        if (reconcileFolder)
            ReconcileFolderLocked();
        WriteIndex();
        if (OverLimitLocked())
            SuspendStoringLocked();
    }
    // The totals the consoles show changed (and CacheOptions, when storing was suspended).
    NotifySettingsChanged();
}

void CWWWCache::Purge() {
    RunExclusive([this](const CCacheEntry& entry) {
        return m_purgeFilter.MatchCacheEntry(entry) != FALSE;
    }, false);
}

void CWWWCache::RebuildIndex() {
    RunExclusive([this](const CCacheEntry& entry) {
        return m_activeDirectory.empty() || !entry.HasFileName();
    }, true);
}

bool CWWWCache::IsRecordDeadLocked(const SSpare& spare) const {
    return !spare.inIndex || (!m_appendFailed && spare.supersededBy != 0 &&
                              spare.supersededBy <= m_recordsWritten.load());
}

std::string CWWWCache::TakeSpareLocked(SContentFile& file, bool deadRecordOnly) {
    // Only a spare that no session holds any more: none reads its file, and none can find it
    // since it was unmapped.
    for (auto it = m_spares.rbegin(); it != m_spares.rend(); ++it) {
        if (it->entry->GetReferenceCount() != 1 || (deadRecordOnly && !IsRecordDeadLocked(*it)))
            continue;
        std::string name = it->entry->GetFileName();
        file = TakeFileLocked(name);
        m_spares.erase(std::next(it).base());
        return name;
    }
    return {};
}

void CWWWCache::MarkSupersededLocked(std::string_view key, std::uint64_t record) {
    for (SSpare& spare : m_spares)
        if (spare.supersededBy == 0 && spare.entry->GetURL() == key)
            spare.supersededBy = record;
}

void CWWWCache::RemoveSparesLocked() {
    if (!m_activeDirectory.empty())
        for (const SSpare& spare : m_spares)
            RemoveFile(ContentPathLocked(spare.entry->GetFileName()));
    m_spares.clear();
}

SContentFile CWWWCache::KeepFileLocked(const std::string& name, SContentFile file) {
    if (!file.handle.IsValid())
        return {};
    m_openFiles.emplace_back(name, std::move(file));
    if (m_openFiles.size() <= kMaxOpenFiles)
        return {};
    SContentFile oldest = std::move(m_openFiles.front().second);
    m_openFiles.erase(m_openFiles.begin());
    return oldest;
}

SContentFile CWWWCache::TakeFileLocked(std::string_view name) {
    for (auto it = m_openFiles.begin(); it != m_openFiles.end(); ++it) {
        if (it->first != name)
            continue;
        SContentFile file = std::move(it->second);
        m_openFiles.erase(it);
        return file;
    }
    return {};
}

void CWWWCache::ReconcileFolderLocked() {
    if (m_activeDirectory.empty())
        return;
    std::set<std::string, std::less<>> present;  // content files of the folder, by name
    const std::string_view suffix = kContentSuffix;
    std::error_code error;
    for (auto it = std::filesystem::directory_iterator(m_activeDirectory, error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        const std::string file = it->path().filename().string();
        if (file.size() != kFileNameLength + suffix.size() || !file.ends_with(suffix))
            continue;
        std::string name = file.substr(0, kFileNameLength);
        // Only plain files: a link is never ours, and a file gone meanwhile is none.
        std::error_code typeError;
        if (CCacheEntry::IsValidFileName(name) &&
            it->symlink_status(typeError).type() == std::filesystem::file_type::regular)
            present.insert(std::move(name));
    }
    if (error)
        return;  // a folder read part-way would make files present look gone

    std::set<std::string, std::less<>> used = m_pending;
    for (const SSpare& spare : m_spares)
        used.insert(spare.entry->GetFileName());
    std::vector<std::string> gone;
    for (const auto& [key, object] : static_cast<CObjectMap&>(*this)) {
        const std::string& name = static_cast<const CCacheEntry*>(object)->GetFileName();
        if (present.count(name) == 0)
            gone.push_back(key);
        used.insert(name);
    }
    for (const std::string& key : gone) {
        // Nothing to delete: whatever holds the name now is not the entry's file.
        TakeFileLocked(FindLocked(key)->GetFileName());
        RemoveLocked(key, true);
    }
    for (const std::string& name : present)
        if (used.count(name) == 0)
            RemoveFile(ContentPathLocked(name));
}

void CWWWCache::LoadIndex() {
    CScopedLock lock(*this);
    std::lock_guard<std::recursive_mutex> index(m_indexMutex);
    RemoveSparesLocked();
    m_openFiles.clear();
    DeleteElements();
    m_totals->size = 0.0;
    m_totals->served = 0.0;
    m_closed = false;
    m_index.reset();
    m_activeDirectory = FolderPath(m_directory);
    if (m_activeDirectory.empty())
        return;
    MakeDirectories(m_activeDirectory);
    auto file = std::make_unique<CFile>();
    if (!file->Open(m_activeDirectory + "/" + kIndexFileName,
                    CFile::modeReadWrite | CFile::modeCreate | CFile::modeNoTruncate))
        return;
    m_index = std::move(file);

    // A file belongs to the entry mapped to it: a store may write over a replaced copy's file
    // once the record that replaced it is in the index, and the last record naming the file
    // is then another key's.
    std::unordered_map<std::string, std::string> owners;  // file name -> key
    try {
        CArchive ar(m_index.get(), CArchive::load, kLoadBufferSize);
        while (!ar.IsAtEnd()) {
            auto entry = CCacheEntryRef::Adopt(new CCacheEntry);
            entry->Serialize(ar);
            const std::string& name = entry->GetFileName();
            if (!entry->HasFileName())
                continue;
            auto owner = owners.find(name);
            if (owner != owners.end() && owner->second != entry->GetURL())
                continue;  // the file is another entry's
            if (const CCacheEntry* old = FindLocked(entry->GetURL())) {
                if (old->GetFileName() != name)
                    owners.erase(old->GetFileName());
                RemoveLocked(entry->GetURL(), true);
            }
            if (name > m_counter)
                m_counter = name;
            owners[name] = entry->GetURL();
            entry->SetTotals(m_totals);
            MapLocked(std::move(entry));
        }
    } catch (...) {
        DropCurrentException();  // a damaged index is read up to its first bad record
    }
    // The files of replaced records, of downloads a crash cut short, and of copies written over
    // whose records were lost go, and so do the entries whose files went: the totals are then
    // what the folder holds.
    ReconcileFolderLocked();
    WriteIndex();
}

BOOL CWWWCache::WriteIndex() {
    CScopedLock lock(*this);
    std::lock_guard<std::recursive_mutex> index(m_indexMutex);
    double size = 0.0, served = 0.0;
    for (const auto& [key, object] : static_cast<CObjectMap&>(*this)) {
        const auto* entry = static_cast<const CCacheEntry*>(object);
        size += entry->GetSize();
        served += entry->GetHitsTimesSize();
    }
    m_totals->size = size;
    m_totals->served = served;
    // The file holds the mapped entries only, once rewritten: the records queued so far (no
    // more come while the map lock is held) are in it, and no record of a spare is left.
    const auto rewritten = [&] {
        {
            std::lock_guard<std::mutex> queue(m_indexQueueMutex);
            m_indexQueue.clear();
            m_recordsWritten = m_recordsQueued;
        }
        m_appendFailed = false;
        for (SSpare& spare : m_spares)
            spare.inIndex = false;
    };
    if (!m_index) {
        rewritten();
        return TRUE;
    }
    if (!RewriteIndexFileLocked()) {
        // The old index stays whole: what is queued goes on at its end, and the next rewrite
        // waits for as many appends again.
        m_rewrittenSize += m_appendedSize;
        m_appendedSize = 0;
        AppendIndexQueue();
        return FALSE;
    }
    m_indexUnsynced = false;
    rewritten();
    // The new index is in place for this process whatever follows; only the durability of its
    // name waits for the folder.
    const bool synced = SyncFolder(m_activeDirectory);
    ReachedRewriteStep(ERewriteStep::FolderSynced);
    return synced ? TRUE : FALSE;
}

bool CWWWCache::RewriteIndexFileLocked() {
    const std::string path = m_activeDirectory + "/" + kIndexFileName;
    const std::string newPath = m_activeDirectory + "/" + kIndexRewriteFileName;
    auto fresh = std::make_unique<CFile>();
    // A new file left by a crash is emptied and used again.
    if (!fresh->Open(newPath, CFile::modeReadWrite | CFile::modeCreate))
        return false;
    std::uint64_t size = 0;
    try {
        ReachedRewriteStep(ERewriteStep::Created);
        fresh->SetMode(m_index->GetMode());  // the index keeps the mode it has
        CArchive ar(fresh.get(), CArchive::store, kWriteBufferSize);
        for (const auto& [key, object] : static_cast<CObjectMap&>(*this))
            object->Serialize(ar);
        ar.Close();  // written and synced
        size = fresh->GetPosition();
        ReachedRewriteStep(ERewriteStep::Written);
        fresh->Rename(path);
    } catch (...) {
        DropCurrentException();
        fresh.reset();
        RemoveFile(newPath);
        return false;
    }
    // Appends go on at the new file's end, where the archive left its position.
    m_index = std::move(fresh);
    m_rewrittenSize = size;
    m_appendedSize = 0;
    ReachedRewriteStep(ERewriteStep::Renamed);
    return true;
}

void CWWWCache::SetRewriteObserver(std::function<void(ERewriteStep)> observer) {
    std::lock_guard<std::recursive_mutex> index(m_indexMutex);
    m_rewriteObserver = std::move(observer);
}

void CWWWCache::ReachedRewriteStep(ERewriteStep step) const {
    if (m_rewriteObserver)
        m_rewriteObserver(step);
}

std::string CWWWCache::MakeIndexRecord(const CCacheEntry& entry) {
    CMemFile record(kAppendBufferSize);
    CArchive ar(&record, CArchive::store, kAppendBufferSize);
    const_cast<CCacheEntry&>(entry).Serialize(ar);
    ar.Close();
    return {reinterpret_cast<const char*>(record.GetData()),
            static_cast<std::size_t>(record.GetLength())};
}

void CWWWCache::WriteIndexQueue() {
    if (!AppendIndexQueue())
        return;
    // Every store of a key adds a record and only a rewrite drops the ones replaced since:
    // the index is rewritten once the appends outgrow what it held after the last one (once,
    // however many stores found it so).
    CScopedLock lock(*this);
    std::lock_guard<std::recursive_mutex> index(m_indexMutex);
    if (IndexOutgrownLocked())
        WriteIndex();
}

bool CWWWCache::IndexOutgrownLocked() const {
    return m_appendedSize > std::max<std::uint64_t>(kMinIndexGrowth, m_rewrittenSize);
}

bool CWWWCache::AppendIndexQueue() {
    // Whoever holds the index mutex writes what is queued by then, its own record or others':
    // storing sessions that come together share one write.
    std::lock_guard<std::recursive_mutex> index(m_indexMutex);
    std::string records;
    std::uint64_t last = 0;  // the last record taken
    {
        std::lock_guard<std::mutex> queue(m_indexQueueMutex);
        records.swap(m_indexQueue);
        last = m_recordsQueued;
    }
    if (records.empty())
        return false;
    if (!m_index) {
        m_recordsWritten = last;
        return false;
    }
    // The file's position is its end: every write of the index leaves it there.
    const std::uint64_t start = m_rewrittenSize + m_appendedSize;
    try {
        m_index->Write(records.data(), records.size());
        m_indexUnsynced = true;
        m_appendedSize += records.size();
        m_recordsWritten = last;
    } catch (...) {
        DropCurrentException();
        // Records lost: a spare they replaced may still be the last of its key in the file,
        // so none is written over in place until the next rewrite.
        m_appendFailed = true;
        // A record cut short would end the next reading there: take them back.
        try {
            m_index->SetLength(start);
            m_index->Seek(static_cast<std::int64_t>(start), CFile::begin);
        } catch (...) {
            DropCurrentException();
            // Not taken back: the next append goes on at the file's end, and so does the
            // count of what was appended, or a later failure would cut good records.
            try {
                const std::uint64_t end = m_index->Seek(0, CFile::end);
                m_appendedSize = end > m_rewrittenSize ? end - m_rewrittenSize : 0;
            } catch (...) {
                DropCurrentException();
            }
        }
    }
    return IndexOutgrownLocked();
}

void CWWWCache::SyncIndex() {
    std::lock_guard<std::recursive_mutex> index(m_indexMutex);
    if (!m_index || !m_indexUnsynced)
        return;
    try {
        m_index->Flush();
        m_indexUnsynced = false;
    } catch (...) {
        DropCurrentException();  // tried again at the next call
    }
}

void CWWWCache::Close() {
    WriteIndex();
    CScopedLock lock(*this);
    std::lock_guard<std::recursive_mutex> index(m_indexMutex);
    RemoveSparesLocked();
    m_openFiles.clear();
    m_closed = true;
    DeleteElements();
    m_index.reset();
}
