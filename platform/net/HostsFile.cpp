#include "platform/net/HostsFile.h"

#include "platform/net/Resolver.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <utility>

namespace {

// The hosts file is small; a larger one is read no further than this.
constexpr std::size_t kMaxFileSize = 4 * 1024 * 1024;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

std::size_t CHostsFile::NameHash::operator()(std::string_view name) const {
    std::size_t hash = 14695981039346656037ull;  // FNV-1a over the lower-case bytes
    for (char c : name) {
        hash ^= static_cast<unsigned char>(Lower(c));
        hash *= 1099511628211ull;
    }
    return hash;
}

bool CHostsFile::NameEqual::operator()(std::string_view a, std::string_view b) const {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    }
    return true;
}

CHostsFile::Names CHostsFile::ParseNames(std::string_view text) {
    Names names;
    while (!text.empty()) {
        std::string_view line = text.substr(0, text.find('\n'));
        text.remove_prefix(std::min(text.size(), line.size() + 1));
        line = line.substr(0, line.find('#'));
        bool first = true;
        bool ipv4 = false;
        while (!line.empty()) {
            std::size_t start = 0;
            while (start < line.size() && IsBlank(line[start]))
                ++start;
            std::size_t end = start;
            while (end < line.size() && !IsBlank(line[end]))
                ++end;
            const std::string_view field = line.substr(start, end - start);
            line.remove_prefix(end);
            if (field.empty())
                break;
            if (first) {
                DWORD address = 0;
                ipv4 = ParseDottedAddress(std::string(field), &address);
                first = false;
                if (!ipv4)
                    break;
                continue;
            }
            if (field.size() <= kMaxHostNameLength)
                names.emplace(field);
        }
    }
    return names;
}

CHostsFile::CHostsFile(std::string path, std::chrono::milliseconds recheck)
    : m_path(std::move(path)), m_recheck(recheck) {}

CHostsFile& CHostsFile::System() {
    static CHostsFile* const hosts = new CHostsFile("/etc/hosts");
    return *hosts;
}

bool CHostsFile::Lists(std::string_view name) {
    const std::int64_t due = m_nextCheckMs.load(std::memory_order_acquire);  // after the snapshot
    if (due == 0) {
        std::lock_guard<std::mutex> lock(m_refreshMutex);  // the first asker waits for the read
        if (m_nextCheckMs.load() == 0)
            Refresh();
    } else if (NowMs() >= due) {
        std::unique_lock<std::mutex> lock(m_refreshMutex, std::try_to_lock);
        if (lock.owns_lock())
            Refresh();
    }
    const std::shared_ptr<const Snapshot> snapshot = m_snapshot.load();
    return snapshot && snapshot->names.find(name) != snapshot->names.end();
}

void CHostsFile::Refresh() {
    auto fresh = std::make_shared<Snapshot>();
    struct stat st {};
    if (::stat(m_path.c_str(), &st) == 0) {
        fresh->modifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        fresh->size = static_cast<std::int64_t>(st.st_size);
        fresh->device = static_cast<std::uint64_t>(st.st_dev);
        fresh->inode = static_cast<std::uint64_t>(st.st_ino);
    }
    const std::shared_ptr<const Snapshot> current = m_snapshot.load();
    if (!current || current->modifiedNs != fresh->modifiedNs || current->size != fresh->size ||
        current->device != fresh->device || current->inode != fresh->inode) {
        if (fresh->size >= 0) {
            std::ifstream file(m_path, std::ios::binary);
            std::string text;
            text.resize(std::min<std::size_t>(static_cast<std::size_t>(fresh->size), kMaxFileSize));
            file.read(text.data(), static_cast<std::streamsize>(text.size()));
            text.resize(static_cast<std::size_t>(std::max<std::streamsize>(file.gcount(), 0)));
            fresh->names = ParseNames(text);
        }
        m_snapshot.store(std::move(fresh));
    }
    // Due again only now: whoever finds the time set finds the snapshot too.
    m_nextCheckMs.store(std::max<std::int64_t>(NowMs() + m_recheck.count(), 1),
                        std::memory_order_release);
}
