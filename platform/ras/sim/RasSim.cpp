// The simulated dial-up library: every entry of its phonebook is one line that dials through
// the connection states with the entry's delays, fails or never answers as the entry says,
// stays up until it is hung up or dropped, and takes a while to be released. What each entry
// point answers is told in platform/ras/RasApi.h.
//
// One mutex guards the lines; the phonebook has its own, taken first when both are. Each
// asynchronous dial runs on a thread of its own and calls the notifier with the mutex
// released.

#include "platform/ras/RasApi.h"
#include "platform/ras/sim/RasSimControl.h"
#include "platform/ras/sim/SimConfig.h"
#include "platform/ras/sim/SimErrors.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <set>
#include <thread>
#include <unistd.h>

namespace rassim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxConnections = 1024;
// Answers to asynchronous dials of a connected entry whose events are still on their way.
constexpr unsigned kMaxPendingAnswers = 64;


struct Notifier {
    RASDIALNOTIFYFUNC function;
    void* context;
};

enum class Phase {
    kDialling,
    kConnected,
    kEnded,      // failed at a state or dropped; listed until hung up
    kLingering,  // hung up; the handle answers until goneAt
};

struct Connection {
    HRASCONN handle = 0;
    SimEntry entry;  // as the phonebook had it when the dial started
    Phase phase = Phase::kDialling;
    std::uint32_t state = RASCS_OpenPort;
    std::uint32_t error = 0;
    bool stop = false;  // a hang-up asked the dial to end
    Clock::time_point goneAt;
    unsigned pendingAnswers = 0;  // asynchronous answers whose events are not all delivered
};

// The states one dial will reach, each after its delay; a step with an error ends the dial.
struct Plan {
    struct Step {
        std::uint32_t state, delayMs, error;
    };
    std::vector<Step> steps;
    bool hangs = false;  // after the last step, nothing until a hang-up
};

Plan MakePlan(const SimEntry& entry, const Outcome& outcome, bool accepted) {
    Plan plan;
    for (std::size_t i = 0; i < kDialSteps; ++i) {
        std::uint32_t state = kDialPath[i], error = 0;
        if (outcome.kind == Outcome::kFail && state == outcome.state)
            error = outcome.error;
        else if (!accepted && state == RASCS_AuthNotify)
            error = ERROR_AUTHENTICATION_FAILURE;
        plan.steps.push_back({state, entry.delayMs[i], error});
        if (error)
            break;
        if (outcome.kind == Outcome::kNoAnswer && state == RASCS_ConnectDevice) {
            plan.hangs = true;
            break;
        }
    }
    return plan;
}

// What the library keeps per entry name.
struct EntryRecord {
    // Reset whenever the phonebook file changes.
    std::size_t attempts = 0;
    std::optional<std::vector<Outcome>> outcomes;  // replaces the entry's own list
    RASSIMSTATS stats{};
    std::optional<RASDIALPARAMSA> lastDial;
    // Kept for the life of the process.
    std::optional<RASDIALPARAMSA> saved;
    bool savedPassword = false;

    void Reset() {
        attempts = 0;
        outcomes.reset();
        stats = RASSIMSTATS{};
        lastDial.reset();
    }
};

struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{}, changed{};
    bool operator==(const FileIdentity& other) const {
        return device == other.device && inode == other.inode && size == other.size &&
               modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec &&
               changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
    }
};

FileIdentity IdentityOf(const struct stat& st) {
    return FileIdentity{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

template <std::size_t N>
bool Terminated(const char (&text)[N]) {
    return std::memchr(text, '\0', N) != nullptr;
}

template <std::size_t N>
void Put(char (&field)[N], const std::string& text) {
    std::size_t n = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, N - n);
}

bool TextsTerminated(const RASDIALPARAMSA& p) {
    return Terminated(p.szEntryName) && Terminated(p.szPhoneNumber) &&
           Terminated(p.szCallbackNumber) && Terminated(p.szUserName) &&
           Terminated(p.szPassword) && Terminated(p.szDomain);
}

bool IsOwnPhonebook(const char* phonebook) { return !phonebook || !*phonebook; }

// The two-call protocol of both enumerations: `n` records of type Record, each filled by
// fill(record, index), into an array of *bytes bytes whose first record's size was set.
template <typename Record, typename Fill>
std::uint32_t Enumerate(Record* records, std::uint32_t* bytes, std::uint32_t* count,
                        std::size_t n, Fill fill) {
    if (!bytes || !count)
        return ERROR_INVALID_PARAMETER;
    if (records && *bytes >= sizeof(Record) && records->dwSize != sizeof(Record))
        return ERROR_INVALID_SIZE;
    std::uint32_t needed = static_cast<std::uint32_t>(n * sizeof(Record));
    *count = static_cast<std::uint32_t>(n);
    if (n && (!records || *bytes < needed)) {
        *bytes = needed;
        return ERROR_BUFFER_TOO_SMALL;
    }
    for (std::size_t i = 0; i < n; ++i) {
        Record record{};
        record.dwSize = sizeof(Record);
        fill(record, i);
        records[i] = record;
    }
    *bytes = needed;
    return RAS_SUCCESS;
}

class Simulator {
public:
    // Never destroyed: dial threads may still run while the process exits.
    static Simulator& Instance() {
        static Simulator* simulator = new Simulator;
        return *simulator;
    }

    std::uint32_t Dial(const RASDIALEXTENSIONS* extensions, const char* phonebook,
                       const RASDIALPARAMSA* params, std::uint32_t notifierType,
                       void* notifierArg, HRASCONN* out);
    std::uint32_t EnumConnections(RASCONNA* records, std::uint32_t* bytes, std::uint32_t* count);
    std::uint32_t EnumEntries(const char* reserved, const char* phonebook, RASENTRYNAMEA* records,
                              std::uint32_t* bytes, std::uint32_t* count);
    std::uint32_t ConnectStatus(HRASCONN handle, RASCONNSTATUSA* status);
    std::uint32_t HangUp(HRASCONN handle);
    std::uint32_t Projection(HRASCONN handle, std::uint32_t type, void* buffer,
                             std::uint32_t* bytes);
    std::uint32_t CheckEntry(const char* phonebook, const char* entryName);
    std::uint32_t SetDialParams(const char* phonebook, const RASDIALPARAMSA* params,
                                bool removePassword);
    std::uint32_t GetDialParams(const char* phonebook, RASDIALPARAMSA* params,
                                std::int32_t* passwordRetrieved);

    std::uint32_t Stats(const char* entryName, RASSIMSTATS* stats);
    std::uint32_t DropLine(const char* entryName, std::uint32_t error);
    std::uint32_t LastDialParams(const char* entryName, RASDIALPARAMSA* params);
    std::uint32_t SetOutcomes(const char* entryName, const char* outcomes);

private:
    Simulator() = default;

    // The phonebook as its file now reads, or the code that says why there is none.
    std::uint32_t LoadPhonebook(std::shared_ptr<const Phonebook>& out);
    void InstallPhonebook(std::shared_ptr<const Phonebook> book, std::uint32_t status,
                          const std::string& path, const FileIdentity& identity,
                          const std::string& problem);
    // The entry of `name` in the current phonebook, into `entry`; or why there is none.
    std::uint32_t FindEntry(const char* phonebook, const char* name, SimEntry* entry);

    // The rest holds m_mutex.
    void Purge();
    std::shared_ptr<Connection> LineOf(const std::string& name);
    std::shared_ptr<Connection> Find(HRASCONN handle);
    EntryRecord& Record(const Connection& line) { return m_records[line.entry.name]; }
    std::uint32_t Run(std::unique_lock<std::mutex>& lock, const std::shared_ptr<Connection>& line,
                      const Plan& plan, const Notifier* notifier);
    void Deliver(std::unique_lock<std::mutex>& lock, const std::shared_ptr<Connection>& line,
                 const Notifier& notifier, std::uint32_t state, std::uint32_t error);
    void Finish(const std::shared_ptr<Connection>& line, const Notifier* notifier);

    std::mutex m_bookMutex;
    bool m_bookLoaded = false;
    std::string m_bookPath;  // empty: the default phonebook
    FileIdentity m_bookIdentity;
    std::uint32_t m_bookStatus = RAS_SUCCESS;
    std::shared_ptr<const Phonebook> m_book;
    std::string m_reported;  // the last problem written to standard error

    std::mutex m_mutex;
    std::condition_variable m_wake;       // a dial thread's wait ends early: a hang-up
    std::condition_variable m_delivered;  // an answer's events have all been delivered
    // Threads inside a notifier call: a hang-up from there cannot wait for its own events.
    // (Not a thread_local: static TLS in a library loaded at run time upsets LeakSanitizer.)
    std::multiset<std::thread::id> m_notifying;
    std::map<HRASCONN, std::shared_ptr<Connection>> m_connections;  // in dial order
    std::map<std::string, EntryRecord> m_records;
    HRASCONN m_nextHandle = 1;  // 0 once every number was handed out
};

// --- Phonebook ---------------------------------------------------------------------------------

std::uint32_t Simulator::LoadPhonebook(std::shared_ptr<const Phonebook>& out) {
    const char* named = std::getenv("NORVANE_RASSIM_CONFIG");
    std::string path = named ? named : "";
    std::lock_guard<std::mutex> lock(m_bookMutex);
    if (path.empty()) {
        if (!m_bookLoaded || !m_bookPath.empty())
            InstallPhonebook(std::make_shared<Phonebook>(DefaultPhonebook()), RAS_SUCCESS, path,
                             FileIdentity{}, {});
    } else {
        struct stat st;
        bool same = stat(path.c_str(), &st) == 0 && m_bookLoaded && m_bookPath == path &&
                    m_bookIdentity == IdentityOf(st);
        if (!same) {
            // Opened without blocking and read only when it is a regular file: the name is
            // the user's, and may as well be a pipe or a device.
            std::string text, problem;
            int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0 || fstat(fd, &st) != 0)
                problem = std::strerror(errno);
            else if (!S_ISREG(st.st_mode))
                problem = "not a regular file";
            char chunk[8192];
            while (problem.empty() && text.size() <= kMaxConfigBytes) {
                ssize_t n = read(fd, chunk, sizeof chunk);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0)
                    problem = std::strerror(errno);
                if (n <= 0)
                    break;
                text.append(chunk, static_cast<std::size_t>(n));
            }
            if (fd >= 0)
                close(fd);
            if (!problem.empty()) {
                InstallPhonebook(nullptr, ERROR_CANNOT_LOAD_PHONEBOOK, path, FileIdentity{},
                                 "cannot be read: " + problem);
            } else {
                auto book = std::make_shared<Phonebook>();
                bool parsed = ParseConfig(text, *book, problem);
                InstallPhonebook(parsed ? std::move(book) : nullptr,
                                 parsed ? RAS_SUCCESS : ERROR_CORRUPT_PHONEBOOK, path,
                                 IdentityOf(st), problem);
            }
        }
    }
    out = m_book;
    return m_bookStatus;
}

void Simulator::InstallPhonebook(std::shared_ptr<const Phonebook> book, std::uint32_t status,
                                 const std::string& path, const FileIdentity& identity,
                                 const std::string& problem) {
    bool changed = !m_bookLoaded || m_bookPath != path || !(m_bookIdentity == identity) ||
                   m_bookStatus != status;
    m_bookLoaded = true;
    m_bookPath = path;
    m_bookIdentity = identity;
    m_bookStatus = status;
    m_book = std::move(book);
    std::string report = problem.empty() ? std::string() : path + ": " + problem;
    if (!report.empty() && report != m_reported)
        std::fprintf(stderr, "norvane-ras-sim: %s\n", report.c_str());
    m_reported = report;
    if (changed) {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& [name, record] : m_records)
            record.Reset();
    }
}

std::uint32_t Simulator::FindEntry(const char* phonebook, const char* name, SimEntry* entry) {
    if (!IsOwnPhonebook(phonebook))
        return ERROR_CANNOT_OPEN_PHONEBOOK;
    std::shared_ptr<const Phonebook> book;
    if (std::uint32_t status = LoadPhonebook(book))
        return status;
    if (!name)
        return RAS_SUCCESS;
    const SimEntry* found = book->Find(name);
    if (!found)
        return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    if (entry)
        *entry = *found;
    return RAS_SUCCESS;
}

// --- Lines -------------------------------------------------------------------------------------

void Simulator::Purge() {
    Clock::time_point now = Clock::now();
    std::erase_if(m_connections, [&](const auto& item) {
        return item.second->phase == Phase::kLingering && now >= item.second->goneAt;
    });
}

std::shared_ptr<Connection> Simulator::LineOf(const std::string& name) {
    for (auto& [handle, line] : m_connections)
        if (line->entry.name == name)
            return line;
    return nullptr;
}

std::shared_ptr<Connection> Simulator::Find(HRASCONN handle) {
    Purge();
    auto found = m_connections.find(handle);
    return found == m_connections.end() ? nullptr : found->second;
}

std::uint32_t Simulator::Dial(const RASDIALEXTENSIONS* extensions, const char* phonebook,
                              const RASDIALPARAMSA* params, std::uint32_t notifierType,
                              void* notifierArg, HRASCONN* out) {
    if (!params || !out)
        return ERROR_INVALID_PARAMETER;
    *out = 0;
    if ((extensions && extensions->dwSize != sizeof(RASDIALEXTENSIONS)) ||
        params->dwSize != sizeof(RASDIALPARAMSA))
        return ERROR_INVALID_SIZE;
    if (!TextsTerminated(*params))
        return ERROR_INVALID_PARAMETER;
    std::optional<Notifier> notifier;
    if (notifierArg) {
        const auto* given = static_cast<const RASDIALNOTIFIER*>(notifierArg);
        if (notifierType != RAS_NOTIFIER_FUNCTION || !given->function)
            return ERROR_INVALID_PARAMETER;
        notifier = Notifier{given->function, given->context};
    }
    SimEntry entry;
    if (std::uint32_t status = FindEntry(phonebook, params->szEntryName, &entry))
        return status;

    std::unique_lock<std::mutex> lock(m_mutex);
    Purge();
    if (std::shared_ptr<Connection> line = LineOf(entry.name)) {
        if (line->phase != Phase::kConnected)
            return ERROR_PORT_ALREADY_OPEN;
        *out = line->handle;
        if (!notifier)
            return RAS_SUCCESS;
        if (line->pendingAnswers >= kMaxPendingAnswers) {
            *out = 0;
            return ERROR_OUT_OF_BUFFERS;
        }
        // The caller waits for a terminal event as after any asynchronous dial.
        ++line->pendingAnswers;
        try {
            std::thread([this, line, n = *notifier] {
                std::unique_lock<std::mutex> lock(m_mutex);
                Deliver(lock, line, n, RASCS_Connected, RAS_SUCCESS);
                Finish(line, &n);
            }).detach();
        } catch (...) {
            --line->pendingAnswers;
            *out = 0;
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        return RAS_SUCCESS;
    }
    if (m_connections.size() >= kMaxConnections || m_nextHandle == 0)
        return ERROR_OUT_OF_BUFFERS;

    EntryRecord& record = m_records[entry.name];
    const std::vector<Outcome>& outcomes = record.outcomes ? *record.outcomes : entry.outcomes;
    Plan plan = MakePlan(entry, outcomes[std::min(record.attempts, outcomes.size() - 1)],
                         entry.Accepts(params->szUserName, params->szPassword, params->szDomain));
    auto line = std::make_shared<Connection>();
    line->handle = m_nextHandle;
    line->entry = std::move(entry);
    line->pendingAnswers = notifier ? 1 : 0;
    m_connections.emplace(line->handle, line);
    *out = line->handle;
    if (notifier) {
        try {
            std::thread([this, line, plan, n = *notifier] {
                std::unique_lock<std::mutex> lock(m_mutex);
                Run(lock, line, plan, &n);
            }).detach();
        } catch (...) {
            m_connections.erase(line->handle);
            *out = 0;
            return ERROR_NOT_ENOUGH_MEMORY;
        }
    }
    ++m_nextHandle;
    ++record.attempts;
    ++record.stats.dials;
    record.lastDial = *params;
    return notifier ? RAS_SUCCESS : Run(lock, line, plan, nullptr);
}

std::uint32_t Simulator::Run(std::unique_lock<std::mutex>& lock,
                             const std::shared_ptr<Connection>& line, const Plan& plan,
                             const Notifier* notifier) {
    for (const Plan::Step& step : plan.steps) {
        Clock::time_point due = Clock::now() + std::chrono::milliseconds(step.delayMs);
        m_wake.wait_until(lock, due, [&] { return line->stop; });
        if (line->stop)
            break;
        line->state = step.state;
        line->error = step.error;
        bool connected = step.state == RASCS_Connected && !step.error;
        if (step.error) {
            line->phase = Phase::kEnded;
            ++Record(*line).stats.failures;
        } else if (connected) {
            line->phase = Phase::kConnected;
            ++Record(*line).stats.connects;
        }
        if (notifier)
            Deliver(lock, line, *notifier, step.state, step.error);
        if (step.error || connected) {
            Finish(line, notifier);
            return step.error;
        }
    }
    if (plan.hangs)
        m_wake.wait(lock, [&] { return line->stop; });
    if (notifier)
        Deliver(lock, line, *notifier, RASCS_Disconnected, ERROR_USER_DISCONNECTION);
    Finish(line, notifier);
    return ERROR_USER_DISCONNECTION;
}

void Simulator::Deliver(std::unique_lock<std::mutex>& lock, const std::shared_ptr<Connection>& line,
                        const Notifier& notifier, std::uint32_t state, std::uint32_t error) {
    ++Record(*line).stats.events;
    const auto self = m_notifying.insert(std::this_thread::get_id());
    lock.unlock();
    try {
        notifier.function(notifier.context, line->handle, state, error);
    } catch (...) {
        // A notifier written in C++ that throws loses its event, not the library's thread.
    }
    lock.lock();
    m_notifying.erase(self);
}

void Simulator::Finish(const std::shared_ptr<Connection>& line, const Notifier* notifier) {
    if (!notifier)
        return;
    --line->pendingAnswers;
    m_delivered.notify_all();
}

std::uint32_t Simulator::HangUp(HRASCONN handle) {
    std::unique_lock<std::mutex> lock(m_mutex);
    std::shared_ptr<Connection> line = Find(handle);
    if (!line)
        return ERROR_INVALID_HANDLE;
    if (line->phase != Phase::kLingering) {
        bool dialling = line->phase == Phase::kDialling;
        if (dialling) {
            line->stop = true;
            m_wake.notify_all();
        }
        line->phase = Phase::kLingering;
        line->state = RASCS_Disconnected;
        line->error = dialling ? ERROR_USER_DISCONNECTION : RAS_SUCCESS;
        line->goneAt = Clock::now() + std::chrono::milliseconds(line->entry.lingerMs);
        ++Record(*line).stats.hangUps;
    }
    if (m_notifying.count(std::this_thread::get_id()) == 0)
        m_delivered.wait(lock, [&] { return line->pendingAnswers == 0; });
    return RAS_SUCCESS;
}

std::uint32_t Simulator::EnumConnections(RASCONNA* records, std::uint32_t* bytes,
                                         std::uint32_t* count) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Purge();
    std::vector<const Connection*> lines;
    for (const auto& [handle, line] : m_connections)
        lines.push_back(line.get());
    return Enumerate(records, bytes, count, lines.size(), [&](RASCONNA& record, std::size_t i) {
        record.hrasconn = lines[i]->handle;
        Put(record.szEntryName, lines[i]->entry.name);
        Put(record.szDeviceType, lines[i]->entry.deviceType);
        Put(record.szDeviceName, lines[i]->entry.deviceName);
    });
}

std::uint32_t Simulator::EnumEntries(const char* reserved, const char* phonebook,
                                     RASENTRYNAMEA* records, std::uint32_t* bytes,
                                     std::uint32_t* count) {
    if (reserved)
        return ERROR_INVALID_PARAMETER;
    if (!IsOwnPhonebook(phonebook))
        return ERROR_CANNOT_OPEN_PHONEBOOK;
    std::shared_ptr<const Phonebook> book;
    if (std::uint32_t status = LoadPhonebook(book))
        return status;
    return Enumerate(records, bytes, count, book->entries.size(),
                     [&](RASENTRYNAMEA& record, std::size_t i) {
                         Put(record.szEntryName, book->entries[i].name);
                     });
}

std::uint32_t Simulator::ConnectStatus(HRASCONN handle, RASCONNSTATUSA* status) {
    if (!status)
        return ERROR_INVALID_PARAMETER;
    if (status->dwSize != sizeof(RASCONNSTATUSA))
        return ERROR_INVALID_SIZE;
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<Connection> line = Find(handle);
    if (!line)
        return ERROR_INVALID_HANDLE;
    status->rasconnstate = line->state;
    status->dwError = line->error;
    Put(status->szDeviceType, line->entry.deviceType);
    Put(status->szDeviceName, line->entry.deviceName);
    return RAS_SUCCESS;
}

std::uint32_t Simulator::Projection(HRASCONN handle, std::uint32_t type, void* buffer,
                                    std::uint32_t* bytes) {
    if (!bytes)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<Connection> line = Find(handle);
    if (!line)
        return ERROR_INVALID_HANDLE;
    if (type != RASP_PppIp)
        return ERROR_PROTOCOL_NOT_CONFIGURED;
    if (!buffer || *bytes < sizeof(RASPPPIPA)) {
        *bytes = sizeof(RASPPPIPA);
        return ERROR_BUFFER_TOO_SMALL;
    }
    auto* ip = static_cast<RASPPPIPA*>(buffer);
    if (ip->dwSize != sizeof(RASPPPIPA))
        return ERROR_INVALID_SIZE;
    if (line->phase != Phase::kConnected)
        return ERROR_PROJECTION_NOT_COMPLETE;
    ip->dwError = RAS_SUCCESS;
    Put(ip->szIpAddress, line->entry.ipAddress);
    Put(ip->szServerIpAddress, line->entry.serverIpAddress);
    *bytes = sizeof(RASPPPIPA);
    return RAS_SUCCESS;
}

std::uint32_t Simulator::CheckEntry(const char* phonebook, const char* entryName) {
    return FindEntry(phonebook, entryName, nullptr);
}

std::uint32_t Simulator::SetDialParams(const char* phonebook, const RASDIALPARAMSA* params,
                                       bool removePassword) {
    if (!params)
        return ERROR_INVALID_PARAMETER;
    if (params->dwSize != sizeof(RASDIALPARAMSA))
        return ERROR_INVALID_SIZE;
    if (!TextsTerminated(*params))
        return ERROR_INVALID_PARAMETER;
    if (std::uint32_t status = FindEntry(phonebook, params->szEntryName, nullptr))
        return status;
    std::lock_guard<std::mutex> lock(m_mutex);
    EntryRecord& record = m_records[params->szEntryName];
    record.saved = *params;
    if (removePassword)
        std::memset(record.saved->szPassword, 0, sizeof record.saved->szPassword);
    record.savedPassword = !removePassword;
    return RAS_SUCCESS;
}

std::uint32_t Simulator::GetDialParams(const char* phonebook, RASDIALPARAMSA* params,
                                       std::int32_t* passwordRetrieved) {
    if (!params || !passwordRetrieved)
        return ERROR_INVALID_PARAMETER;
    if (params->dwSize != sizeof(RASDIALPARAMSA))
        return ERROR_INVALID_SIZE;
    if (!Terminated(params->szEntryName))
        return ERROR_INVALID_PARAMETER;
    if (std::uint32_t status = FindEntry(phonebook, params->szEntryName, nullptr))
        return status;
    std::lock_guard<std::mutex> lock(m_mutex);
    EntryRecord& record = m_records[params->szEntryName];
    RASDIALPARAMSA answer = record.saved.value_or(RASDIALPARAMSA{});
    answer.dwSize = sizeof(RASDIALPARAMSA);
    std::memcpy(answer.szEntryName, params->szEntryName, sizeof answer.szEntryName);
    *params = answer;
    *passwordRetrieved = record.savedPassword ? 1 : 0;
    return RAS_SUCCESS;
}

// --- Test controls -----------------------------------------------------------------------------

std::uint32_t Simulator::Stats(const char* entryName, RASSIMSTATS* stats) {
    if (!stats)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(m_mutex);
    RASSIMSTATS sum{};
    for (const auto& [name, record] : m_records) {
        if (entryName && name != entryName)
            continue;
        sum.dials += record.stats.dials;
        sum.connects += record.stats.connects;
        sum.failures += record.stats.failures;
        sum.hangUps += record.stats.hangUps;
        sum.drops += record.stats.drops;
        sum.events += record.stats.events;
    }
    *stats = sum;
    return RAS_SUCCESS;
}

std::uint32_t Simulator::DropLine(const char* entryName, std::uint32_t error) {
    if (!entryName)
        return ERROR_INVALID_PARAMETER;
    if (error == 0)
        error = ERROR_DISCONNECTION;
    if (!IsDialError(error))
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(m_mutex);
    Purge();
    std::shared_ptr<Connection> line = LineOf(entryName);
    if (!line || line->phase != Phase::kConnected)
        return ERROR_INVALID_HANDLE;
    line->phase = Phase::kEnded;
    line->state = RASCS_Disconnected;
    line->error = error;
    ++Record(*line).stats.drops;
    return RAS_SUCCESS;
}

std::uint32_t Simulator::LastDialParams(const char* entryName, RASDIALPARAMSA* params) {
    if (!entryName || !params)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(m_mutex);
    auto found = m_records.find(entryName);
    if (found == m_records.end() || !found->second.lastDial)
        return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    *params = *found->second.lastDial;
    return RAS_SUCCESS;
}

std::uint32_t Simulator::SetOutcomes(const char* entryName, const char* outcomes) {
    if (!entryName || !outcomes)
        return ERROR_INVALID_PARAMETER;
    if (std::uint32_t status = FindEntry(nullptr, entryName, nullptr))
        return status;
    std::vector<Outcome> list;
    std::string error;
    if (!ParseOutcomes(outcomes, list, error))
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(m_mutex);
    EntryRecord& record = m_records[entryName];
    record.outcomes = std::move(list);
    record.attempts = 0;
    return RAS_SUCCESS;
}

// Runs one call of the C interface. Nothing may throw across it; the only failures that throw
// here are allocations and thread starts.
template <typename Call>
std::uint32_t Guard(Call call) {
    try {
        return call(Simulator::Instance());
    } catch (...) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

}  // namespace

}  // namespace rassim

using rassim::Guard;
using rassim::Simulator;

extern "C" {

uint32_t RasDialA(const RASDIALEXTENSIONS* extensions, const char* phonebook,
                  const RASDIALPARAMSA* params, uint32_t notifierType, void* notifier,
                  HRASCONN* connection) {
    return Guard([&](Simulator& sim) {
        return sim.Dial(extensions, phonebook, params, notifierType, notifier, connection);
    });
}

uint32_t RasEnumConnectionsA(RASCONNA* connections, uint32_t* bytes, uint32_t* count) {
    return Guard([&](Simulator& sim) { return sim.EnumConnections(connections, bytes, count); });
}

uint32_t RasEnumEntriesA(const char* reserved, const char* phonebook, RASENTRYNAMEA* entries,
                         uint32_t* bytes, uint32_t* count) {
    return Guard([&](Simulator& sim) {
        return sim.EnumEntries(reserved, phonebook, entries, bytes, count);
    });
}

uint32_t RasGetConnectStatusA(HRASCONN connection, RASCONNSTATUSA* status) {
    return Guard([&](Simulator& sim) { return sim.ConnectStatus(connection, status); });
}

uint32_t RasGetErrorStringA(uint32_t error, char* buffer, uint32_t size) {
    const char* text = rassim::ErrorText(error);
    if (!buffer || size == 0 || !text)
        return ERROR_INVALID_PARAMETER;
    std::size_t length = std::strlen(text);
    if (length >= size)
        return ERROR_BUFFER_TOO_SMALL;
    std::memcpy(buffer, text, length + 1);
    return RAS_SUCCESS;
}

uint32_t RasHangUpA(HRASCONN connection) {
    return Guard([&](Simulator& sim) { return sim.HangUp(connection); });
}

uint32_t RasGetProjectionInfoA(HRASCONN connection, uint32_t projection, void* buffer,
                               uint32_t* bytes) {
    return Guard([&](Simulator& sim) {
        return sim.Projection(connection, projection, buffer, bytes);
    });
}

uint32_t RasCreatePhonebookEntryA(uint32_t, const char* phonebook) {
    return Guard([&](Simulator& sim) {
        std::uint32_t status = sim.CheckEntry(phonebook, nullptr);
        return status ? status : ERROR_INTERACTIVE_MODE;
    });
}

uint32_t RasEditPhonebookEntryA(uint32_t, const char* phonebook, const char* entry) {
    if (!entry)
        return ERROR_INVALID_PARAMETER;
    return Guard([&](Simulator& sim) {
        std::uint32_t status = sim.CheckEntry(phonebook, entry);
        return status ? status : ERROR_INTERACTIVE_MODE;
    });
}

uint32_t RasSetEntryDialParamsA(const char* phonebook, const RASDIALPARAMSA* params,
                                int32_t removePassword) {
    return Guard([&](Simulator& sim) {
        return sim.SetDialParams(phonebook, params, removePassword != 0);
    });
}

uint32_t RasGetEntryDialParamsA(const char* phonebook, RASDIALPARAMSA* params,
                                int32_t* passwordRetrieved) {
    return Guard([&](Simulator& sim) {
        return sim.GetDialParams(phonebook, params, passwordRetrieved);
    });
}

uint32_t RasSimGetStats(const char* entry, RASSIMSTATS* stats) {
    return Guard([&](Simulator& sim) { return sim.Stats(entry, stats); });
}

uint32_t RasSimDropLine(const char* entry, uint32_t error) {
    return Guard([&](Simulator& sim) { return sim.DropLine(entry, error); });
}

uint32_t RasSimGetLastDialParams(const char* entry, RASDIALPARAMSA* params) {
    return Guard([&](Simulator& sim) { return sim.LastDialParams(entry, params); });
}

uint32_t RasSimSetOutcomes(const char* entry, const char* outcomes) {
    return Guard([&](Simulator& sim) { return sim.SetOutcomes(entry, outcomes); });
}

}  // extern "C"
