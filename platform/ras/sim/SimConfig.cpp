#include "platform/ras/sim/SimConfig.h"

#include "platform/ras/sim/SimErrors.h"

#include <arpa/inet.h>
#include <array>
#include <charconv>
#include <strings.h>

namespace rassim {

namespace {

constexpr std::uint32_t kDefaultDelayMs = 100;
constexpr std::uint32_t kDefaultConnectDeviceDelayMs = 1000;  // dialling and the modems' handshake

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if ((x >= 'A' && x <= 'Z' ? x + 32 : x) != (y >= 'A' && y <= 'Z' ? y + 32 : y))
            return false;
    }
    return true;
}

bool HasControlCharacter(std::string_view text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F)
            return true;
    return false;
}

// A decimal number no greater than `max`, nothing else.
bool ParseNumber(std::string_view text, std::uint32_t max, std::uint32_t& out) {
    if (text.empty() || text.size() > 10)
        return false;
    std::uint64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value > max)
        return false;
    out = static_cast<std::uint32_t>(value);
    return true;
}

// A text of 0..max bytes without control characters (`allowEmpty` false: 1..max).
bool CheckText(std::string_view value, std::size_t max, bool allowEmpty, std::string& error) {
    if (value.size() > max || (!allowEmpty && value.empty())) {
        error = "must be " + std::string(allowEmpty ? "0" : "1") + " to " + std::to_string(max) +
                " characters";
        return false;
    }
    if (HasControlCharacter(value)) {
        error = "contains a control character";
        return false;
    }
    return true;
}

bool ParseAddress(std::string_view value, std::string& out, std::string& error) {
    in_addr address;
    std::string text(value);
    if (value.size() > RAS_MAX_IP_ADDRESS || inet_pton(AF_INET, text.c_str(), &address) != 1) {
        error = "is not a dotted IPv4 address";
        return false;
    }
    char canonical[INET_ADDRSTRLEN];
    out = inet_ntop(AF_INET, &address, canonical, sizeof canonical);
    return true;
}

bool ParseOutcome(std::string_view item, Outcome& out, std::string& error) {
    std::array<std::string_view, 4> words;
    std::size_t count = 0;
    while (!(item = Trim(item)).empty()) {
        std::size_t end = item.find_first_of(" \t");
        if (count == words.size()) {
            error = "an outcome of too many words";
            return false;
        }
        words[count++] = item.substr(0, end);
        item.remove_prefix(end == std::string_view::npos ? item.size() : end);
    }
    if (count == 1 && words[0] == "connect") {
        out = Outcome{};
        return true;
    }
    if (count == 1 && words[0] == "noanswer") {
        out = Outcome{Outcome::kNoAnswer, 0, 0};
        return true;
    }
    if (count == 3 && words[0] == "fail") {
        std::uint32_t state, code;
        if (!ParseNumber(words[1], RASCS_Authenticated, state) || DialStep(state) == kDialSteps) {
            error = "'" + std::string(words[1]) + "', not a state a dial can fail at";
            return false;
        }
        if (!ParseNumber(words[2], 0xFFFFFFFFu, code) || !IsDialError(code)) {
            error = "'" + std::string(words[2]) + "', not a dial error code";
            return false;
        }
        out = Outcome{Outcome::kFail, state, code};
        return true;
    }
    error = "an outcome other than 'connect', 'noanswer' or 'fail STATE CODE'";
    return false;
}

// Values of one section as they are read; the delays are settled when the section ends.
struct EntryDraft {
    SimEntry entry;
    std::optional<std::uint32_t> delayAll;
    std::array<std::optional<std::uint32_t>, kDialSteps> delayAt;
    std::vector<std::string> keys;  // seen so far, to refuse a repeated key

    void Finish(Phonebook& book) {
        for (std::size_t i = 0; i < kDialSteps; ++i)
            entry.delayMs[i] = delayAt[i] ? *delayAt[i] : delayAll ? *delayAll : entry.delayMs[i];
        book.entries.push_back(std::move(entry));
    }
};

bool ParseKey(EntryDraft& draft, std::string_view key, std::string_view value, std::string& error) {
    SimEntry& entry = draft.entry;
    auto fail = [&](const std::string& why) {
        error = "'" + std::string(key) + "' " + why;
        return false;
    };
    for (const std::string& seen : draft.keys)
        if (EqualNoCase(seen, key))
            return fail("is repeated");
    draft.keys.emplace_back(key);
    std::string why;
    if (EqualNoCase(key, "device_type")) {
        if (!CheckText(value, RAS_MAX_DEVICE_TYPE, false, why))
            return fail(why);
        entry.deviceType = value;
    } else if (EqualNoCase(key, "device_name")) {
        if (!CheckText(value, RAS_MAX_DEVICE_NAME, false, why))
            return fail(why);
        entry.deviceName = value;
    } else if (EqualNoCase(key, "ip_address")) {
        if (!ParseAddress(value, entry.ipAddress, why))
            return fail(why);
    } else if (EqualNoCase(key, "server_ip_address")) {
        if (!ParseAddress(value, entry.serverIpAddress, why))
            return fail(why);
    } else if (EqualNoCase(key, "user_name") || EqualNoCase(key, "password") ||
               EqualNoCase(key, "domain")) {
        bool isDomain = EqualNoCase(key, "domain");
        std::size_t max = isDomain ? RAS_MAX_DOMAIN : RAS_MAX_USER_NAME;
        if (!CheckText(value, max, true, why))
            return fail(why);
        (isDomain ? entry.domain : EqualNoCase(key, "password") ? entry.password : entry.userName) =
            std::string(value);
    } else if (EqualNoCase(key, "linger")) {
        if (!ParseNumber(value, kMaxDelayMs, entry.lingerMs))
            return fail("must be a number of milliseconds up to " + std::to_string(kMaxDelayMs));
    } else if (EqualNoCase(key, "delay") || EqualNoCase(key.substr(0, 6), "delay.")) {
        std::uint32_t ms = 0, state = 0;
        if (!ParseNumber(value, kMaxDelayMs, ms))
            return fail("must be a number of milliseconds up to " + std::to_string(kMaxDelayMs));
        if (key.size() == 5) {
            draft.delayAll = ms;
        } else {
            if (!ParseNumber(key.substr(6), RASCS_Connected, state) || DialStep(state) == kDialSteps)
                return fail("names no state a dial passes through");
            if (draft.delayAt[DialStep(state)])
                return fail("names a state twice");
            draft.delayAt[DialStep(state)] = ms;
        }
    } else if (EqualNoCase(key, "outcomes")) {
        if (!ParseOutcomes(value, entry.outcomes, why))
            return fail("has " + why);
    } else {
        return fail("is not a phonebook setting");
    }
    return true;
}

}  // namespace

std::size_t DialStep(std::uint32_t state) {
    for (std::size_t i = 0; i < kDialSteps; ++i)
        if (kDialPath[i] == state)
            return i;
    return kDialSteps;
}

SimEntry::SimEntry() {
    for (std::size_t i = 0; i < kDialSteps; ++i)
        delayMs[i] = kDefaultDelayMs;
    delayMs[DialStep(RASCS_ConnectDevice)] = kDefaultConnectDeviceDelayMs;
}

bool SimEntry::Accepts(std::string_view user, std::string_view pass, std::string_view dom) const {
    if (userName && !EqualNoCase(*userName, user))
        return false;
    if (password && *password != pass)
        return false;
    return !domain || dom == "*" || EqualNoCase(*domain, dom);
}

const SimEntry* Phonebook::Find(std::string_view name) const {
    for (const SimEntry& entry : entries)
        if (entry.name == name)
            return &entry;
    return nullptr;
}

Phonebook DefaultPhonebook() {
    Phonebook book;
    book.entries.emplace_back();
    book.entries.back().name = "Norvane Simulated Line";
    return book;
}

bool ParseOutcomes(std::string_view text, std::vector<Outcome>& out, std::string& error) {
    std::vector<Outcome> outcomes;
    for (;;) {
        std::size_t comma = text.find(',');
        if (outcomes.size() == kMaxOutcomes) {
            error = "more than " + std::to_string(kMaxOutcomes) + " outcomes";
            return false;
        }
        outcomes.emplace_back();
        if (!ParseOutcome(text.substr(0, comma), outcomes.back(), error))
            return false;
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    out = std::move(outcomes);
    return true;
}

bool ParseConfig(std::string_view text, Phonebook& out, std::string& error) {
    Phonebook book;
    std::optional<EntryDraft> draft;
    std::size_t lineNumber = 0;
    auto fail = [&](const std::string& why) {
        error = "line " + std::to_string(lineNumber) + ": " + why;
        return false;
    };
    if (text.size() > kMaxConfigBytes) {
        error = "the file is larger than " + std::to_string(kMaxConfigBytes) + " bytes";
        return false;
    }
    while (!text.empty()) {
        ++lineNumber;
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        line = Trim(line);
        if (line.empty() || line.front() == '#' || line.front() == ';')
            continue;
        if (line.front() == '[') {
            if (line.back() != ']')
                return fail("a section line must end with ']'");
            std::string_view name = Trim(line.substr(1, line.size() - 2));
            std::string why;
            if (!CheckText(name, RAS_MAX_ENTRY_NAME, false, why))
                return fail("the entry name " + why);
            if (draft)
                draft->Finish(book);
            if (book.Find(name))
                return fail("the entry '" + std::string(name) + "' is named twice");
            if (book.entries.size() == kMaxEntries)
                return fail("more than " + std::to_string(kMaxEntries) + " entries");
            draft.emplace();
            draft->entry.name = name;
            continue;
        }
        std::size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            return fail("expected '[entry name]' or 'key = value'");
        if (!draft)
            return fail("a setting before the first '[entry name]'");
        std::string why;
        if (!ParseKey(*draft, Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)), why))
            return fail(why);
    }
    if (draft)
        draft->Finish(book);
    out = std::move(book);
    return true;
}

}  // namespace rassim
