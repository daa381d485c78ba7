#pragma once
// The web proxy's disk cache: a map from cache key (host, optional ":" and port, path) to
// CCacheEntry, one content file per entry and the index file "cache.idx" in the cache folder
// (layouts in proxies/web/CacheFormat.h), with the settings the console edits.
//
// The engine owns the one live cache (MarkLive): it loads the settings, then LoadIndex at
// start-up, and Close at shut-down. Web sessions use it so:
//   CheckCache     IsLookupEnabled, IsCacheable, Lookup, IsFresh, MarkChecked;
//   responses      GetRecheckPeriod (ResponseDecision.h), RemoveEntry of a copy out of date;
//   serving        GetContentPath, CountHit;
//   storing        IsStoringEnabled; AllocateEntry (an entry with a file name, or without one
//                  when nothing may be stored); GetContentPath; then AddEntry(entry, result)
//                  for a complete download, or DiscardEntry.
// Consoles read and replace the settings (Serialize), and run Purge, RemoveEntryByURL and
// RebuildIndex.
//
// Folder. LoadIndex takes the folder CacheDirectory names then; the index and the content files
// stay there until the next LoadIndex (the next start), whatever CacheDirectory becomes.
//
// Index. LoadIndex reads the records, maps those with a valid file name (a later record for a
// key replaces the earlier one), stops at the first damaged record, drops the entries whose
// content file is gone, deletes the content files no entry names (a download cut short, a
// replaced copy), and rewrites the index. Every registered download appends its record
// without a sync (SyncIndex makes the appends durable, on the engine's timer): a crash tears
// at most the last record, and the reading stops there. WriteIndex rewrites the file whole
// (after purge and rebuild, at Close, and when the records appended since the last rewrite
// pass both 256 KiB and the size it left, so that storing one key again and again cannot grow
// the file without bound): into a new file beside it, synced, renamed over the index, and the
// folder synced, so that a crash or a power cut at any moment leaves the old index or the new
// one, whole. Without an index file the cache works in memory.
//
// Spares. The content file of a copy a store replaces is not deleted but kept (at most 64,
// under its own name) for a later store to write over once no session holds that copy: on a
// busy folder every creation, deletion or rename takes the folder's lock and searches its
// entries, and they cost a store far more than the write itself. Once the copy's index record
// is dead (a later record of its key is written, or the index rewritten), a store writes over
// the file under its own name, with no step in the folder at all: no load of the index can
// map the old key to it any more, and LoadIndex gives a file to the last record naming it.
// Before, a spare is only renamed to a new name, when the spares reached their bound. A new
// name's file is created by the allocation. The descriptors of recent downloads' files stay
// open (at most 64), so a store that takes one over writes without opening it. Close and
// LoadIndex delete the spares; RebuildIndex keeps them.
//
// Storing is off while CacheOptions bit value 1 is clear, while a purge or rebuild runs (the
// busy flag; CacheOptions itself is left alone), and once the cache is closed. A download that
// takes the total over MaxSize (with LimitCacheSize set) is removed at once; then the cache is
// purged when AutoPurge is set, else storing is suspended by clearing bit value 1. A purge
// that leaves the cache over its limit suspends storing too. Storing suspended so is resumed
// by the first removal that brings the total under the limit; settings that a console or the
// store gives override it.
//
// Locks: the map's own mutex guards the map, the totals, the name counter, the folder, the
// spares and the open files; the index mutex guards the index file. Order: map, then index. A
// registration queues its record under the map lock and writes the queue after releasing it,
// under the index mutex only, so lookups never wait for the disk and stores that come together
// share one write. Both are re-entrant. The settings DWORDs are atomic; the filter collections
// guard themselves. Filters are never tested against a request under the map lock.

#include "engine/access/RequestFilterCollection.h"
#include "engine/access/RequestValueSource.h"
#include "foundation/LockableMap.h"
#include "platform/framework/File.h"
#include "platform/kernel/Types.h"
#include "proxies/web/CacheDownload.h"
#include "proxies/web/CacheEntry.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

class CWWWCache : public CLockableMap {
    DECLARE_SERIAL(CWWWCache)
public:
    // The defaults of proxies/web/CacheFormat.h, LimitCacheSize included; no folder yet.
    CWWWCache();
    // Gives up every entry and closes the index file (without writing it).
    ~CWWWCache() override;
    CWWWCache(const CWWWCache&) = delete;
    CWWWCache& operator=(const CWWWCache&) = delete;

    // --- Settings ---------------------------------------------------------------------------
    std::string GetCacheDirectory() const;
    void SetCacheDirectory(std::string directory);
    DWORD GetCacheOptions() const { return m_options.load(); }
    void SetCacheOptions(DWORD options);
    DWORD GetSpecifyWhatToCache() const { return m_specifyWhatToCache.load(); }
    void SetSpecifyWhatToCache(DWORD value) { m_specifyWhatToCache = value; }
    DWORD GetLimitCacheSize() const { return m_limitCacheSize.load(); }
    void SetLimitCacheSize(DWORD value) { m_limitCacheSize = value; }
    DWORD GetMaxSize() const { return m_maxSize.load(); }
    void SetMaxSize(DWORD megabytes) { m_maxSize = megabytes; }
    DWORD GetAutoPurge() const { return m_autoPurge.load(); }
    void SetAutoPurge(DWORD value) { m_autoPurge = value; }
    DWORD GetDaysBeforeCheckVolatile() const { return m_daysVolatile.load(); }
    void SetDaysBeforeCheckVolatile(DWORD days) { m_daysVolatile = days; }
    DWORD GetDaysBeforeCheckNonVolatile() const { return m_daysNonVolatile.load(); }
    void SetDaysBeforeCheckNonVolatile(DWORD days) { m_daysNonVolatile = days; }
    CRequestFilterCollection& GetCacheFilter() { return m_cacheFilter; }
    CRequestFilterCollection& GetPurgeFilter() { return m_purgeFilter; }

    // The running totals, kept true as entries come, go and count hits: bytes of the mapped
    // entries, and the sum of their hits * size.
    double GetTotalSize() const { return m_totals->size.load(); }
    double GetTotalServed() const { return m_totals->served.load(); }
    // The name the last allocation took ("00000000" before any).
    std::string GetNameCounter() const;
    bool IsBusy() const { return m_busy.load(); }

    // The engine's cache is live: settings a console sends leave its totals alone. Any other
    // cache (the console's copy) takes the totals it is sent.
    void MarkLive() { m_live = true; }
    // Called, outside the cache's locks, whenever the cache itself turned storing off or on
    // again, and after every purge and rebuild that ran (the engine tells the consoles that
    // the settings, and with them the totals, changed).
    void SetSettingsNotifier(std::function<void()> notifier);

    // Archive form of proxies/web/CacheFormat.h. Loading reads everything aside and changes
    // the settings only when the whole form was read.
    void Serialize(CArchive& ar) override;
    // Takes the settings of `other` (a cache loaded aside) as a console's settings are taken:
    // the totals, entries, index and folder in use stay this cache's.
    void CopySettings(const CWWWCache& other);
    // The eight values in table order, then "<key>\CacheFilter" and "<key>\PurgeFilter". TRUE
    // when everything was written.
    virtual BOOL SaveToRegistry(const std::string& keyPath) const;
    // The same, with the table's defaults for missing values.
    virtual void LoadFromRegistry(const std::string& keyPath);

    // --- Sessions ---------------------------------------------------------------------------
    // CacheOptions bit value 2 (bit value 1), no purge or rebuild running, not closed.
    bool IsLookupEnabled() const;
    bool IsStoringEnabled() const;
    // The request's protocol (request value 12) is "HTTP" and its method (13) "GET", both
    // without regard to case, and, with SpecifyWhatToCache set, the cache filter matches it.
    // Any failure answers FALSE.
    BOOL IsCacheable(CRequestValueSource& session) const;
    // The entry mapped under `key`, or none.
    CCacheEntryRef Lookup(std::string_view key) const;
    bool Contains(std::string_view key) const;
    // The age limit of a copy of the type, in seconds: DaysBeforeCheckVolatile days for
    // "text/html" (any case), DaysBeforeCheckNonVolatile for every other type.
    std::int64_t GetRecheckPeriod(std::string_view contentType) const;
    // Checked within its age limit: last checked later than now minus that.
    bool IsFresh(const CCacheEntry& entry, std::int64_t now) const;
    // The entry's last-checked time becomes `now` / it counts one more hit and becomes
    // checked `now`; under the map lock.
    void MarkChecked(CCacheEntry& entry, std::int64_t now);
    void CountHit(CCacheEntry& entry, std::int64_t now);

    // A new entry for `key`, with a free file name (a spare's, or the next from the name
    // counter, its file created empty) and both times now. An entry mapped under the key is removed first (its content file deleted,
    // its size off the totals); the new entry keeps its hit count. The entry is not mapped
    // until AddEntry. It has no file name (and nothing was removed) when the cache is closed,
    // has no folder, or the key is too long for an index record. With `removeLater`, the
    // removed entry's content file is not deleted here: its path is added there, for the
    // caller to delete off the client's path (its name is never handed out again); a removed
    // entry's file that became a spare is not listed.
    // With `file`, the new name's file, when the allocation opened it or took over an open
    // one, is handed over there, open for writing (with the length it holds); without, the
    // cache keeps it until the entry is registered or discarded.
    CCacheEntryRef AllocateEntry(const std::string& key,
                                 std::vector<std::string>* removeLater = nullptr,
                                 SContentFile* file = nullptr);
    // "<folder>/<file name>.nvc"; "" for an entry without a valid file name.
    std::string GetContentPath(const CCacheEntry& entry) const;
    // Registers a finished download of an entry from AllocateEntry: appends its record to
    // the index, maps it (removing an entry mapped under its key meanwhile, file and size),
    // adds its size to the total, and enforces the size limit. An entry that was not
    // allocated here, or is registered already, changes nothing (FALSE). After Close the
    // download is discarded (FALSE). The second form first sets the entry's last-modified
    // time, content type and size from the download, and keeps its content file open for a
    // store that takes the file over later (a bounded number are kept, the oldest closed).
    BOOL AddEntry(const CCacheEntryRef& entry);
    BOOL AddEntry(const CCacheEntryRef& entry, SCompletedDownload download);
    // Drops an allocated entry that will not be registered, deleting its content file. An
    // entry not allocated here, or registered already, is left alone.
    void DiscardEntry(const CCacheEntryRef& entry);

    // --- Administration ---------------------------------------------------------------------
    // Unmaps the key's entry, deletes its content file and takes it off the totals. With
    // `reenable`, storing suspended because the cache was full is resumed once the total is
    // under the limit again.
    void RemoveEntry(std::string_view key, BOOL reenable);
    // RemoveEntry(text, TRUE), without a leading "http://" (any case).
    void RemoveEntryByURL(std::string_view text);
    // Removes every entry the purge filter matches and rewrites the index; a cache still over
    // its limit then suspends storing. Does nothing while a purge or rebuild runs.
    void Purge();
    // Like Purge, but removes the entries whose content file is missing, and deletes the
    // content files of the folder that no entry uses (nor a download in progress).
    void RebuildIndex();
    // Takes CacheDirectory as the cache's folder (created when missing), opens or creates its
    // index, reads it, drops the entries whose content file is gone, deletes the content files
    // no entry names, and rewrites the index. Entries mapped before are given up.
    void LoadIndex();
    // Recomputes both totals and, with an index file, rewrites it whole. FALSE when the new
    // index could not be written (the old one stays, and appends go on there) or its folder
    // not synced.
    BOOL WriteIndex();
    // The steps of an index rewrite, in order, each reported to the rewrite observer once
    // done: a test stops the process at each to see that the index loads whole whatever the
    // moment of a crash.
    enum class ERewriteStep { Created, Written, Renamed, FolderSynced };
    void SetRewriteObserver(std::function<void(ERewriteStep)> observer);
    // WriteIndex, then gives up every entry and closes the index file. Later allocations get
    // no file name and later downloads are discarded.
    void Close();
    // Makes the records appended since the last call durable (one sync of the index file);
    // nothing when none was. Appends do not sync one by one: a record torn by a crash ends
    // the reading of the index at load, so at most the stores since the last sync are lost.
    // The engine calls it on its timer; WriteIndex and Close sync as they write.
    void SyncIndex();

private:
    // The settings' words in the order of the archive form.
    struct SettingWords {
        DWORD options, limitCacheSize, specifyWhatToCache, maxSize, autoPurge, daysVolatile,
            daysNonVolatile;
    };
    // Takes a whole set of settings under the map lock; storing suspended for size resumes.
    void ApplySettings(std::string directory, const SettingWords& words,
                       const CRequestFilterCollection& cacheFilter,
                       const CRequestFilterCollection& purgeFilter);
    CCacheEntry* FindLocked(std::string_view key) const;
    // Unmaps `key`, deletes the entry's file unless `keepFile` (or, with `removeLater`, adds
    // its path there for the caller to delete once the map lock is released: a file system
    // call under the lock would hold up every lookup), and takes it off the totals.
    void RemoveLocked(std::string_view key, bool keepFile = false,
                      std::vector<std::string>* removeLater = nullptr);
    void MapLocked(CCacheEntryRef entry);
    bool OverLimitLocked() const;
    // Suspends storing (bit value 1 cleared); TRUE when it was on.
    bool SuspendStoringLocked();
    std::string ContentPathLocked(const std::string& fileName) const;
    // The next free name of the name counter, reserved among the pending names, with its
    // file open in `file` ("" when the cache is closed, has no folder, or no free name was
    // found): a spare renamed to it when the spares reached their bound, else a new file. A
    // spare that could not be used is added to `removeLater`.
    std::string ReserveNewName(std::vector<std::string>& removeLater, SContentFile& file);
    // Gives a new entry its file name and times; the file `taken` goes to `file` when the
    // caller wants it, else it is kept (and one kept before may be `evicted`).
    void GiveNameLocked(CCacheEntry& entry, const std::string& name, SContentFile& taken,
                        SContentFile* file, SContentFile& evicted);
    BOOL AddEntry(const CCacheEntryRef& entry, SContentFile* file);
    // The entry's index record, as the index holds it.
    static std::string MakeIndexRecord(const CCacheEntry& entry);
    // Appends the queued records to the index file in one write (nothing when none waits),
    // and rewrites the index when the appends have outgrown it. Takes the index mutex; the
    // map lock must not be held.
    void WriteIndexQueue();
    // The append of WriteIndexQueue; true when the index is due for a rewrite.
    bool AppendIndexQueue();
    // The records appended since the last rewrite outgrew it. Index mutex held.
    bool IndexOutgrownLocked() const;
    // The body of a purge and a rebuild: unless one runs already, removes the entries for
    // which `removeWhich` holds (under both locks, with the busy flag set), optionally the
    // content files no entry uses, rewrites the index and checks the size limit.
    template <class Remove>
    void RunExclusive(Remove removeWhich, bool reconcileFolder);
    // Removes the entries whose content file is missing and deletes the content files no
    // entry, spare or download in progress uses; nothing unless the whole folder was read.
    void ReconcileFolderLocked();
    // The index rewrite of WriteIndex; false when the index stayed as it was. Both locks held.
    bool RewriteIndexFileLocked();
    void ReachedRewriteStep(ERewriteStep step) const;
    // A replaced copy kept for a later store. Its index record (the last of its key, when it
    // was replaced) is dead once a later record of the key is written, or the index rewritten:
    // from then on the file may be written over under its own name, since no load of the
    // index can map its key to it any more. Before, it is renamed first.
    struct SSpare {
        CCacheEntryRef entry;
        bool inIndex = true;             // its record may still be in the index file
        std::uint64_t supersededBy = 0;  // the number of the record replacing it (0: none yet)
    };
    bool IsRecordDeadLocked(const SSpare& spare) const;
    // The file name of a spare that no session holds (with `deadRecordOnly`, one whose record
    // is dead), taken off the spares ("" for none), and its open file when one is kept.
    std::string TakeSpareLocked(SContentFile& file, bool deadRecordOnly);
    // The spares of `key` whose record is not yet replaced are replaced by record `record`.
    void MarkSupersededLocked(std::string_view key, std::uint64_t record);
    // Keeps a content file open under its name; the oldest one kept is handed back (to be
    // closed outside the lock) once more than the bound are. Nothing for no file.
    SContentFile KeepFileLocked(const std::string& name, SContentFile file);
    // The open file kept for the name, taken out (none: an invalid one).
    SContentFile TakeFileLocked(std::string_view name);
    // Deletes the spare files and forgets them.
    void RemoveSparesLocked();
    void NotifySettingsChanged();
    void AddToTotals(double size, double served);

    std::string m_directory;        // the CacheDirectory setting
    std::string m_activeDirectory;  // the folder LoadIndex opened ("" before it)
    std::atomic<DWORD> m_options;
    std::atomic<DWORD> m_specifyWhatToCache;
    std::atomic<DWORD> m_limitCacheSize;
    std::atomic<DWORD> m_maxSize;
    std::atomic<DWORD> m_autoPurge;
    std::atomic<DWORD> m_daysVolatile;
    std::atomic<DWORD> m_daysNonVolatile;
    CRequestFilterCollection m_cacheFilter;
    CRequestFilterCollection m_purgeFilter;

    std::shared_ptr<SCacheTotals> m_totals;
    std::string m_counter;
    std::set<std::string, std::less<>> m_pending;  // file names allocated, not yet registered
    // Replaced copies whose content files later allocations rename instead of a deletion now
    // and a creation then (RemoveLocked, TakeSpareLocked); deleted at Close and LoadIndex.
    std::vector<SSpare> m_spares;
    // Content files of recent downloads held open under their names (mapped entries, spares,
    // names just allocated), oldest first: a store that takes one over writes through it.
    // Every path that deletes or renames a file takes its descriptor out first.
    std::vector<std::pair<std::string, SContentFile>> m_openFiles;
    bool m_suspendedForSize = false;
    std::atomic<bool> m_busy{false};
    std::atomic<bool> m_closed{false};
    std::atomic<bool> m_live{false};
    std::function<void()> m_notifier;

    mutable std::recursive_mutex m_indexMutex;
    std::unique_ptr<CFile> m_index;
    std::function<void(ERewriteStep)> m_rewriteObserver;  // under the index mutex
    bool m_indexUnsynced = false;     // records appended since the last sync
    std::uint64_t m_rewrittenSize = 0;  // the index's size after its last rewrite
    std::uint64_t m_appendedSize = 0;   // bytes appended since
    // Records of registered entries not yet written, in the order they were mapped. Taken
    // under the map lock (AddEntry) and the index mutex (WriteIndexQueue, WriteIndex); a
    // leaf lock.
    std::mutex m_indexQueueMutex;
    std::string m_indexQueue;
    // Records queued since the start (numbered from 1; under the queue mutex), and the number
    // of the last one written to the index file (written under the index mutex).
    std::uint64_t m_recordsQueued = 0;
    std::atomic<std::uint64_t> m_recordsWritten{0};
    std::atomic<bool> m_appendFailed{false};  // records were lost since the last rewrite
};
