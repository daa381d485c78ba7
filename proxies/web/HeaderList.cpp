#include "proxies/web/HeaderList.h"

#include <algorithm>

namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

void CHeaderList::Add(std::string name, std::string value) {
    m_entries.emplace_back(std::move(name), std::move(value));
}

std::string CHeaderList::Get(std::string_view name) const {
    for (const Entry& entry : m_entries)
        if (EqualsNoCase(entry.first, name))
            return entry.second;
    return {};
}

bool CHeaderList::Contains(std::string_view name) const { return Count(name) > 0; }

std::size_t CHeaderList::Count(std::string_view name) const {
    return static_cast<std::size_t>(std::count_if(
        m_entries.begin(), m_entries.end(),
        [name](const Entry& entry) { return EqualsNoCase(entry.first, name); }));
}

bool CHeaderList::Remove(std::string_view name) {
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (EqualsNoCase(it->first, name)) {
            m_entries.erase(it);
            return true;
        }
    }
    return false;
}

std::size_t CHeaderList::RemoveAll(std::string_view name) {
    return std::erase_if(m_entries,
                         [name](const Entry& entry) { return EqualsNoCase(entry.first, name); });
}

void CHeaderList::Set(std::string_view name, std::string value) {
    for (Entry& entry : m_entries) {
        if (EqualsNoCase(entry.first, name)) {
            entry.second = std::move(value);
            return;
        }
    }
    m_entries.emplace_back(std::string(name), std::move(value));
}

void CHeaderList::SetUnique(std::string_view name, std::string value) {
    auto first = std::find_if(m_entries.begin(), m_entries.end(),
                              [name](const Entry& entry) { return EqualsNoCase(entry.first, name); });
    if (first == m_entries.end()) {
        m_entries.emplace_back(std::string(name), std::move(value));
        return;
    }
    first->second = std::move(value);
    m_entries.erase(std::remove_if(std::next(first), m_entries.end(),
                                   [name](const Entry& entry) { return EqualsNoCase(entry.first, name); }),
                    m_entries.end());
}

std::string CHeaderList::Format() const {
    std::string text;
    for (const Entry& entry : m_entries) {
        text += entry.first;
        text += ": ";
        text += entry.second;
        text += "\r\n";
    }
    return text;
}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// More digits than this are beyond any body either side can send; it keeps the value exact.
constexpr std::size_t kMaxLengthDigits = 18;

}  // namespace

EContentLength GetContentLength(const CHeaderList& headers, std::uint64_t& length) {
    bool found = false;
    std::uint64_t value = 0;
    for (const CHeaderList::Entry& entry : headers.Entries()) {
        if (!EqualsNoCase(entry.first, "Content-Length"))
            continue;
        std::string_view text = entry.second;
        while (!text.empty() && IsBlank(text.back()))
            text.remove_suffix(1);
        if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos)
            return EContentLength::invalid;
        while (text.size() > 1 && text.front() == '0')
            text.remove_prefix(1);
        if (text.size() > kMaxLengthDigits)
            return EContentLength::invalid;
        std::uint64_t number = 0;
        for (char c : text)
            number = number * 10 + static_cast<std::uint64_t>(c - '0');
        if (found && number != value)
            return EContentLength::invalid;
        found = true;
        value = number;
    }
    if (!found)
        return EContentLength::absent;
    length = value;
    return EContentLength::valid;
}

std::vector<std::string_view> HeaderElements(const CHeaderList& headers, std::string_view name) {
    std::vector<std::string_view> elements;
    for (const CHeaderList::Entry& entry : headers.Entries()) {
        if (!EqualsNoCase(entry.first, name))
            continue;
        std::string_view rest = entry.second;
        while (!rest.empty()) {
            const std::size_t comma = rest.find(',');
            const std::string_view element = TrimBlanks(rest.substr(0, comma));
            if (!element.empty())
                elements.push_back(element);
            if (comma == std::string_view::npos)
                break;
            rest.remove_prefix(comma + 1);
        }
    }
    return elements;
}

bool HasDirective(const CHeaderList& headers, std::string_view name,
                  std::initializer_list<std::string_view> directives) {
    for (std::string_view element : HeaderElements(headers, name)) {
        const std::string_view directive = TrimBlanks(element.substr(0, element.find('=')));
        for (std::string_view wanted : directives)
            if (EqualsNoCase(directive, wanted))
                return true;
    }
    return false;
}

std::optional<std::int64_t> CacheControlSeconds(const CHeaderList& headers,
                                                std::string_view directive) {
    // Longer lifetimes are taken as this one, as HTTP caching asks.
    constexpr std::int64_t kMaxDeltaSeconds = std::int64_t{1} << 31;
    for (std::string_view element : HeaderElements(headers, "Cache-Control")) {
        const std::size_t equals = element.find('=');
        if (!EqualsNoCase(TrimBlanks(element.substr(0, equals)), directive))
            continue;
        std::string_view value = equals == std::string_view::npos
                                     ? std::string_view()
                                     : TrimBlanks(element.substr(equals + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.empty() || value.find_first_not_of("0123456789") != std::string_view::npos)
            return 0;
        std::int64_t seconds = 0;
        for (char c : value) {
            seconds = seconds * 10 + (c - '0');
            if (seconds >= kMaxDeltaSeconds)
                return kMaxDeltaSeconds;
        }
        return seconds;
    }
    return std::nullopt;
}
