#pragma once
// CSessionCeiling: the places for live sessions under one ceiling, and each client address's
// share of them, so that one address cannot take them all: a quarter of the ceiling
// (FrameworkFormat::kAddressShareDivisor), at least one place. Each service has one for its
// own sessions, and the engine one for the sessions of all its services (CService::
// TakeSessionPlace takes from both).
//
// A place is taken before a session is made (Take) and held as a lease, which gives it back
// when its last copy goes (a session holds it until the session object is destroyed, so the
// place is not free before the session's thread and descriptors are). Any thread may take and
// give back places.
//
// Reports. A refusal says whether it is the first since the ceiling or the address's share
// was reached (STaken::report), so that the owner writes one line for a ceiling reached, not
// one per refusal. The ceiling counts as left, and is reported again when next reached, once
// its live sessions have fallen below three quarters of it (an address's share likewise), so
// a flood that keeps it full is reported once.

#include "platform/kernel/Types.h"

#include <cstddef>
#include <cstdint>
#include <memory>

class CSessionCeiling {
public:
    static constexpr std::size_t kUnbounded = SIZE_MAX;

    enum class ERefusal { none, ceiling, share };
    struct STaken {
        // The lease, null when refused.
        std::shared_ptr<void> place;
        ERefusal refusal = ERefusal::none;
        // The first refusal since the ceiling (or the address's share) was reached.
        bool report = false;
        // The ceiling or the share that refused.
        std::size_t limit = 0;
    };

    explicit CSessionCeiling(std::size_t ceiling = kUnbounded);
    CSessionCeiling(const CSessionCeiling&) = delete;
    CSessionCeiling& operator=(const CSessionCeiling&) = delete;

    // A place for a session of `address` (IPv4, host order), unless the ceiling is reached or
    // the address holds its share.
    STaken Take(DWORD address);

    // A new ceiling applies to the places taken from then on; places held stay held.
    void SetCeiling(std::size_t ceiling);
    std::size_t GetCeiling() const;
    // The places one address may hold: a quarter of the ceiling, at least one.
    std::size_t GetShare() const;
    std::size_t GetCount() const;
    std::size_t GetCountOf(DWORD address) const;

private:
    struct State;
    struct Lease;
    // Shared with the leases, which may outlive the ceiling's owner.
    std::shared_ptr<State> m_state;
};

// The engine-wide ceiling for a process allowed `descriptors` open descriptors: what is left
// after the engine's own reserve (its files, logs, listeners, the dialer, the UDP services and
// the consoles' sessions: kDescriptorReserveMin, or an eighth of the limit when that is more),
// divided among sessions of kDescriptorsPerSession each; at least one.
std::size_t SessionCeilingForDescriptors(std::size_t descriptors);
