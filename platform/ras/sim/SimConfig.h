#pragma once
// The simulated dial-up library's phonebook: its entries and how each one behaves, read from
// the text file named by NORVANE_RASSIM_CONFIG (format: README.md beside this file). The
// parser is a pure function over bytes, so that a file a user wrote can do no harm.

#include "platform/ras/RasApi.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rassim {

inline constexpr std::size_t kMaxConfigBytes = 1u << 20;
inline constexpr std::size_t kMaxEntries = 256;
inline constexpr std::size_t kMaxOutcomes = 64;
inline constexpr std::uint32_t kMaxDelayMs = 600000;

// The states a dial passes through, in order; a dial is connected at the last one.
inline constexpr std::uint32_t kDialPath[] = {
    RASCS_OpenPort,   RASCS_PortOpened,      RASCS_ConnectDevice, RASCS_DeviceConnected,
    RASCS_AllDevicesConnected, RASCS_Authenticate, RASCS_AuthNotify, RASCS_AuthProject,
    RASCS_AuthLinkSpeed, RASCS_AuthAck,      RASCS_Authenticated, RASCS_Connected};
inline constexpr std::size_t kDialSteps = sizeof(kDialPath) / sizeof(kDialPath[0]);

// The position of `state` in kDialPath, or kDialSteps when a dial never passes it.
std::size_t DialStep(std::uint32_t state);

// What one dial attempt of an entry does.
struct Outcome {
    enum Kind { kConnect, kFail, kNoAnswer };
    Kind kind = kConnect;
    std::uint32_t state = 0;  // kFail: the state at which the dial ends
    std::uint32_t error = 0;  // kFail: the result code it ends with
    bool operator==(const Outcome&) const = default;
};

struct SimEntry {
    std::string name;
    std::string deviceType = "modem";
    std::string deviceName = "Norvane Simulated Modem";
    std::string ipAddress = "127.0.0.1";
    std::string serverIpAddress = "127.0.0.1";
    // Milliseconds from the previous state (or the start of the dial) to each state of
    // kDialPath.
    std::uint32_t delayMs[kDialSteps];
    // How long a hung-up connection's handle stays valid while the line is released.
    std::uint32_t lingerMs = 500;
    // The credentials the entry accepts; an absent one accepts anything.
    std::optional<std::string> userName, password, domain;
    // Attempt n (counted from 0) takes outcome n; the last one repeats.
    std::vector<Outcome> outcomes{Outcome{}};

    SimEntry();
    // True when a dial with these credentials passes authentication: user name and domain
    // compare without regard to case, the password exactly, and domain "*" is the entry's own.
    bool Accepts(std::string_view user, std::string_view pass, std::string_view dom) const;
};

struct Phonebook {
    std::vector<SimEntry> entries;  // in file order; names unique (compared exactly)
    const SimEntry* Find(std::string_view name) const;
};

// The phonebook when no file is named: one entry, "Norvane Simulated Line", that connects
// every time with the defaults of SimEntry.
Phonebook DefaultPhonebook();

// Parses a phonebook file. On failure returns false with "line N: reason" in `error`.
bool ParseConfig(std::string_view text, Phonebook& out, std::string& error);

// Parses an outcome list ("connect", "noanswer", "fail STATE CODE", separated by commas).
bool ParseOutcomes(std::string_view text, std::vector<Outcome>& out, std::string& error);

}  // namespace rassim
