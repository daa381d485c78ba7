#include "engine/framework/SessionCeiling.h"

#include "engine/framework/FrameworkFormat.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>

using namespace FrameworkFormat;

namespace {

std::size_t ShareOf(std::size_t ceiling) {
    return ceiling == CSessionCeiling::kUnbounded
               ? ceiling
               : std::max<std::size_t>(1, ceiling / kAddressShareDivisor);
}

// A reached limit counts as left once the count has fallen below three quarters of it.
bool HasLeft(std::size_t count, std::size_t limit) { return count < limit - limit / 4; }

}  // namespace

struct CSessionCeiling::State {
    struct Address {
        std::size_t count = 0;
        bool reached = false;
    };
    mutable std::mutex mutex;  // leaf
    std::size_t ceiling;
    std::size_t count = 0;
    bool reached = false;
    std::unordered_map<DWORD, Address> addresses;

    explicit State(std::size_t limit) : ceiling(limit) {}

    void GiveBack(DWORD address) {
        std::lock_guard<std::mutex> lock(mutex);
        --count;
        if (reached && HasLeft(count, ceiling))
            reached = false;
        auto it = addresses.find(address);
        if (it == addresses.end())
            return;
        Address& entry = it->second;
        if (--entry.count == 0)
            addresses.erase(it);
        else if (entry.reached && HasLeft(entry.count, ShareOf(ceiling)))
            entry.reached = false;
    }
};

struct CSessionCeiling::Lease {
    std::shared_ptr<State> state;
    DWORD address;
    Lease(std::shared_ptr<State> s, DWORD a) : state(std::move(s)), address(a) {}
    ~Lease() { state->GiveBack(address); }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
};

CSessionCeiling::CSessionCeiling(std::size_t ceiling)
    : m_state(std::make_shared<State>(ceiling)) {}

CSessionCeiling::STaken CSessionCeiling::Take(DWORD address) {
    STaken taken;
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        State& s = *m_state;
        if (s.count >= s.ceiling) {
            taken.refusal = ERefusal::ceiling;
            taken.limit = s.ceiling;
            taken.report = !s.reached;
            s.reached = true;
            return taken;
        }
        const std::size_t share = ShareOf(s.ceiling);
        State::Address& entry = s.addresses[address];
        if (entry.count >= share) {
            taken.refusal = ERefusal::share;
            taken.limit = share;
            taken.report = !entry.reached;
            entry.reached = true;
            return taken;
        }
        ++entry.count;
        ++s.count;
    }
    taken.place = std::make_shared<Lease>(m_state, address);
    return taken;
}

void CSessionCeiling::SetCeiling(std::size_t ceiling) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->ceiling = ceiling;
}

std::size_t CSessionCeiling::GetCeiling() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->ceiling;
}

std::size_t CSessionCeiling::GetShare() const { return ShareOf(GetCeiling()); }

std::size_t CSessionCeiling::GetCount() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->count;
}

std::size_t CSessionCeiling::GetCountOf(DWORD address) const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    auto it = m_state->addresses.find(address);
    return it == m_state->addresses.end() ? 0 : it->second.count;
}

std::size_t SessionCeilingForDescriptors(std::size_t descriptors) {
    const std::size_t reserve =
        std::max(kDescriptorReserveMin, descriptors / kDescriptorReserveDivisor);
    if (descriptors <= reserve)
        return 1;
    return std::max<std::size_t>(1, (descriptors - reserve) / kDescriptorsPerSession);
}
