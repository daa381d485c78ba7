#include "foundation/LinkLogOnThrottle.h"

#include "foundation/LinkFormat.h"
#include "platform/kernel/Clock.h"

#include <algorithm>
#include <utility>

using namespace LinkFormat;

CLinkLogOnThrottle::CLinkLogOnThrottle(Reporter reporter) : m_reporter(std::move(reporter)) {}

std::optional<CLinkRefusal> CLinkLogOnThrottle::CheckAnswer(const std::string& address,
                                                            CLinkHandshake& link,
                                                            std::string_view body,
                                                            const CLinkUserLookup& lookup) {
    const Turn turn = TakeTurn(address, GetTickCount64());
    std::optional<CLinkRefusal> refusal;
    try {
        refusal = link.CheckAnswer(body, lookup, turn.checked);
    } catch (...) {
        Settle(turn, Outcome::Other, {}, GetTickCount64());
        throw;
    }
    const std::uint64_t now = GetTickCount64();
    Settle(turn, OutcomeOf(refusal), link.GetAnsweredUserName(), now);
    if (turn.answerAtMs > now)
        Sleep(static_cast<DWORD>(turn.answerAtMs - now));
    return refusal;
}

CLinkLogOnThrottle::Turn CLinkLogOnThrottle::TakeTurn(const std::string& address,
                                                      std::uint64_t nowMs) {
    Turn turn{address, nowMs + kMaxHoldMs, false};
    std::vector<Burst> ended;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_table.find(address);
        if (it != m_table.end() && IsForgotten(it->second, nowMs)) {
            Forget(it, ended);
            it = m_table.end();
        }
        if (it == m_table.end() && (m_table.size() < kMaxAddresses || MakeRoom(ended)))
            it = m_table.emplace(address, Address{}).first;
        if (it != m_table.end()) {
            Address& entry = it->second;
            entry.lastSeenMs = nowMs;
            const std::uint64_t at =
                std::max(nowMs, entry.lastTurnMs + GapAfter(entry.failures + entry.undecided));
            if (at - nowMs <= kMaxHoldMs) {
                entry.lastTurnMs = at;
                ++entry.undecided;
                turn.answerAtMs = at;
                turn.checked = true;
            }
        }
    }
    Report(ended);
    return turn;
}

void CLinkLogOnThrottle::Settle(const Turn& turn, Outcome outcome, const std::string& account,
                                std::uint64_t nowMs) {
    std::vector<Burst> bursts;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_table.find(turn.address);
        if (it == m_table.end())
            return;
        Address& entry = it->second;
        entry.lastSeenMs = std::max(entry.lastSeenMs, nowMs);
        if (!turn.checked)
            return;  // an answer refused unchecked tells nothing and counts as nothing
        if (entry.undecided > 0)
            --entry.undecided;
        switch (outcome) {
        case Outcome::Passed:
            if (entry.undecided == 0) {
                Forget(it, bursts);
            } else {
                if (entry.reported)
                    bursts.push_back({false, turn.address, {}, entry.failures});
                entry = Address{0, entry.undecided, 0, nowMs, false};
            }
            break;
        case Outcome::Failed:
            ++entry.failures;
            if (entry.failures >= kFreeFailures && !entry.reported) {
                entry.reported = true;
                bursts.push_back({true, turn.address, account, entry.failures});
            }
            break;
        case Outcome::Other:
            if (entry.failures == 0 && entry.undecided == 0)
                m_table.erase(it);  // nothing to remember
            break;
        }
    }
    Report(bursts);
}

void CLinkLogOnThrottle::Sweep(std::uint64_t nowMs) {
    std::vector<Burst> ended;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_table.begin(); it != m_table.end();) {
            auto next = std::next(it);
            if (IsForgotten(it->second, nowMs))
                Forget(it, ended);
            it = next;
        }
    }
    Report(ended);
}

std::uint64_t CLinkLogOnThrottle::GapAfter(unsigned failures) {
    if (failures < kFreeFailures)
        return 0;
    const unsigned doublings = failures - kFreeFailures;
    std::uint64_t gap = kFirstGapMs;
    for (unsigned n = 0; n < doublings && gap < kMaxGapMs; ++n)
        gap *= 2;
    return std::min(gap, kMaxGapMs);
}

CLinkLogOnThrottle::Outcome CLinkLogOnThrottle::OutcomeOf(
    const std::optional<CLinkRefusal>& refusal) {
    if (!refusal)
        return Outcome::Passed;
    switch (refusal->code) {
    case kCodeWrongUser:
    case kCodeNoSuchUser:
    case kCodeBadPassword: return Outcome::Failed;
    default: return Outcome::Other;
    }
}

std::size_t CLinkLogOnThrottle::AddressCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_table.size();
}

bool CLinkLogOnThrottle::IsForgotten(const Address& entry, std::uint64_t nowMs) const {
    return entry.undecided == 0 && nowMs >= entry.lastSeenMs + kForgetMs;
}

void CLinkLogOnThrottle::Forget(Table::iterator it, std::vector<Burst>& ended) {
    if (it->second.reported)
        ended.push_back({false, it->first, {}, it->second.failures});
    m_table.erase(it);
}

bool CLinkLogOnThrottle::MakeRoom(std::vector<Burst>& ended) {
    auto quietest = m_table.end();
    for (auto it = m_table.begin(); it != m_table.end(); ++it) {
        if (it->second.undecided == 0 &&
            (quietest == m_table.end() || it->second.lastSeenMs < quietest->second.lastSeenMs))
            quietest = it;
    }
    if (quietest == m_table.end())
        return false;
    Forget(quietest, ended);
    return true;
}

void CLinkLogOnThrottle::Report(const std::vector<Burst>& bursts) const {
    if (!m_reporter)
        return;
    for (const Burst& burst : bursts)
        m_reporter(burst);
}
