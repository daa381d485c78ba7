#pragma once
// CLinkLogOnThrottle: slows password guessing through the server half of the link handshake,
// per client address. One object serves every door of a process that checks link passwords,
// so an address's failures count the same whichever door it knocks on.
//
// Each answer frame of an address takes a turn. The first kFreeFailures turns after a success
// (or after the address was forgotten) are immediate; after that each turn waits for the one
// before it by a gap that doubles from kFirstGapMs up to kMaxGapMs. Turns are handed out in
// order of arrival, also to answers that arrive together, counting those still undecided as
// failures, so parallel connections guess no faster than one. A success resets the address.
//
// The wait happens on the thread that runs the server half (a session's own), and is never
// longer than kMaxHoldMs, which is below the client's wait for the status frame: an answer
// whose turn lies further away is not checked at all. It is held kMaxHoldMs and refused with
// the code a wrong password would get, so a client learns nothing new from the refusal, and a
// guess made before the turn is lost. At the steady gap an address gets about one password
// checked a minute; in the first minute of a burst, eight.
//
// Bursts are reported through the reporter: once when an address's failures reach
// kFreeFailures (naming the account of that failure), and once when the burst ends: at a
// success, or when the address has been quiet for kForgetMs and is forgotten (Sweep, or its
// next answer). The table holds at most kMaxAddresses addresses; when it is full, the one
// quiet longest is forgotten for a new one (its burst ends), and when every one is taking a
// turn the new answer is held and refused unchecked.
//
// Thread safety: every operation may be called from any thread. The reporter is called on the
// calling thread, outside the throttle's lock.

#include "foundation/LinkHandshake.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class CLinkLogOnThrottle {
public:
    static constexpr unsigned kFreeFailures = 3;
    static constexpr std::uint64_t kFirstGapMs = 1000;
    static constexpr std::uint64_t kMaxGapMs = 60000;
    // Below the 5000 ms that a client waits for the status frame.
    static constexpr std::uint64_t kMaxHoldMs = 3000;
    static constexpr std::uint64_t kForgetMs = 300000;
    static constexpr std::size_t kMaxAddresses = 4096;

    // A burst began (`started`, with the account of the failure that made it one) or ended
    // (with the failures it counted).
    struct Burst {
        bool started = false;
        std::string address;
        std::string account;
        unsigned failures = 0;
    };
    using Reporter = std::function<void(const Burst&)>;

    // What a handshake's answer came to, for the throttle.
    enum class Outcome {
        Passed,  // the password was right
        Failed,  // a wrong password, an unknown user, or a user other than the fixed one
        Other    // neither: a malformed or misdirected answer
    };

    // One answer's turn: when its status frame may go out, and whether its password is
    // checked at all.
    struct Turn {
        std::string address;
        std::uint64_t answerAtMs = 0;
        bool checked = false;
    };

    explicit CLinkLogOnThrottle(Reporter reporter = {});
    CLinkLogOnThrottle(const CLinkLogOnThrottle&) = delete;
    CLinkLogOnThrottle& operator=(const CLinkLogOnThrottle&) = delete;

    // The server half's check of an answer frame from `address`: takes its turn, runs
    // link.CheckAnswer (with the password allowed to pass only on a checked turn), notes the
    // outcome, then waits on the calling thread until the turn's time. Returns CheckAnswer's
    // refusal.
    std::optional<CLinkRefusal> CheckAnswer(const std::string& address, CLinkHandshake& link,
                                            std::string_view body, const CLinkUserLookup& lookup);

    // The steps of CheckAnswer, on the monotonic millisecond clock `nowMs`. Every Turn taken
    // must be settled once.
    Turn TakeTurn(const std::string& address, std::uint64_t nowMs);
    void Settle(const Turn& turn, Outcome outcome, const std::string& account,
                std::uint64_t nowMs);
    // Forgets the addresses quiet for kForgetMs, ending their bursts.
    void Sweep(std::uint64_t nowMs);

    // The wait between the turn after `failures` failures and the one before it.
    static std::uint64_t GapAfter(unsigned failures);
    // The outcome that a refusal (or none) stands for.
    static Outcome OutcomeOf(const std::optional<CLinkRefusal>& refusal);

    std::size_t AddressCount() const;

private:
    struct Address {
        unsigned failures = 0;
        unsigned undecided = 0;  // checked turns taken and not settled yet
        std::uint64_t lastTurnMs = 0;
        std::uint64_t lastSeenMs = 0;
        bool reported = false;  // the burst's start went to the reporter
    };
    using Table = std::unordered_map<std::string, Address>;

    bool IsForgotten(const Address& entry, std::uint64_t nowMs) const;
    // Removes the entry, noting the end of its burst.
    void Forget(Table::iterator it, std::vector<Burst>& ended);
    // Makes room for one more address: false when every entry is taking a turn.
    bool MakeRoom(std::vector<Burst>& ended);
    void Report(const std::vector<Burst>& bursts) const;

    const Reporter m_reporter;
    mutable std::mutex m_mutex;
    Table m_table;
};
