// The web cache's stored and received forms. With the first byte even, the rest is written as
// the cache's index file "cache.idx" and loaded: every entry kept has a valid file name of its
// own, the totals are the sums of the entries, and the index rewritten at the load reads back
// to the same entries. With the first byte odd, the rest is a console's settings form: a load either
// fails and changes nothing, or stores and reloads unchanged.

#include "ArchiveFuzz.h"
#include "proxies/web/WWWCache.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

// One folder for the whole run, removed at exit (the name is never freed, so the exit handler
// can still read it after static destruction).
const std::string& Folder() {
    static const std::string* const folder = [] {
        auto* pattern = new std::string(
            (std::filesystem::temp_directory_path() / "norvane-fuzz-cache-XXXXXX").string());
        Check(mkdtemp(pattern->data()) != nullptr);
        std::atexit([] { std::filesystem::remove_all(Folder()); });
        return pattern;
    }();
    return *folder;
}

void LoadIndex(const std::uint8_t* data, std::size_t size) {
    std::ofstream(Folder() + "/cache.idx", std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    CWWWCache cache;
    cache.SetCacheDirectory(Folder());
    cache.LoadIndex();
    double total = 0.0;
    std::set<std::string> files;  // no two entries share a content file
    for (const auto& [key, object] : static_cast<CObjectMap&>(cache)) {
        const auto* entry = static_cast<const CCacheEntry*>(object);
        Check(entry->HasFileName() && entry->GetURL() == key);
        Check(files.insert(entry->GetFileName()).second);
        total += entry->GetSize();
    }
    Check(cache.GetTotalSize() == total);

    CWWWCache again;
    again.SetCacheDirectory(Folder());
    again.LoadIndex();
    Check(again.GetCount() == cache.GetCount());
    for (const auto& [key, object] : static_cast<CObjectMap&>(cache)) {
        CCacheEntryRef other = again.Lookup(key);
        Check(other && other->GetFileName() == static_cast<const CCacheEntry*>(object)->GetFileName());
    }
}

void LoadSettings(const std::uint8_t* data, std::size_t size) {
    CWWWCache cache;
    const std::vector<std::uint8_t> before = Store(cache);
    CMemFile file(data, size);
    try {
        CArchive ar(&file, CArchive::load, 128);
        cache.Serialize(ar);
    } catch (CException* e) {
        e->Delete();
        Check(Store(cache) == before);
        return;
    }
    const std::vector<std::uint8_t> stored = Store(cache);
    CWWWCache copy;
    CMemFile again(stored.data(), stored.size());
    CArchive ar(&again, CArchive::load, 128);
    copy.Serialize(ar);
    Check(Store(copy) == stored);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    if (data[0] % 2 == 0)
        LoadIndex(data + 1, size - 1);
    else
        LoadSettings(data + 1, size - 1);
    return 0;
}
