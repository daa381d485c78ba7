#pragma once
// The names of the hosts file (/etc/hosts) that have an IPv4 address there: the names the
// system resolver answers from this host alone, at once, whatever the network does (the host
// looks at its files first, as Debian and most systems are set up). The asynchronous resolver
// lets lookups of these names go ahead of lookups that may wait on the network.
//
// The file is read when first asked about, and read again when its modification time, size or
// identity has changed, looked at no more than once per recheck interval. A file that cannot
// be read lists no name.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>

class CHostsFile {
public:
    static constexpr std::chrono::milliseconds kRecheckInterval{1000};

    explicit CHostsFile(std::string path, std::chrono::milliseconds recheck = kRecheckInterval);
    CHostsFile(const CHostsFile&) = delete;
    CHostsFile& operator=(const CHostsFile&) = delete;

    // The system's hosts file. Never destroyed (resolvers that outlive static destruction
    // use it).
    static CHostsFile& System();

    // Whether `name` is listed with an IPv4 address, without regard to case, as the resolver
    // matches it (a name with a trailing dot is another name). Any thread.
    bool Lists(std::string_view name);

    // The names a hosts file's text gives IPv4 addresses: every name after a dotted IPv4
    // address on a line, up to a '#'. Lines of other addresses (IPv6) and malformed lines
    // give none.
    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const;
    };
    struct NameEqual {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const;
    };
    using Names = std::unordered_set<std::string, NameHash, NameEqual>;
    static Names ParseNames(std::string_view text);

private:
    struct Snapshot {
        Names names;
        // What the file was when read: a change of any of these reads it again.
        std::int64_t modifiedNs = -1;
        std::int64_t size = -1;
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
    };
    // Reads the file again when it has changed. m_refreshMutex held.
    void Refresh();

    const std::string m_path;
    const std::chrono::milliseconds m_recheck;
    std::mutex m_refreshMutex;  // one refresh at a time; askers never wait for it
    std::atomic<std::shared_ptr<const Snapshot>> m_snapshot;
    std::atomic<std::int64_t> m_nextCheckMs{0};  // steady clock; 0: never read
};
