#pragma once
// The ordered (name, value) header list of one request or response head. Names are compared
// without regard to case (ASCII); order and duplicates are kept as received, because the list
// is sent on in the order it holds.

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class CHeaderList {
public:
    using Entry = std::pair<std::string, std::string>;

    // Appends, even when the name is there already.
    void Add(std::string name, std::string value);
    // Value of the first entry named `name`, or "" when there is none.
    std::string Get(std::string_view name) const;
    // True when an entry named `name` exists (its value may be empty).
    bool Contains(std::string_view name) const;
    // Removes the first entry named `name`; false when there was none.
    bool Remove(std::string_view name);
    // Removes every entry named `name`; the number removed.
    std::size_t RemoveAll(std::string_view name);
    // Replaces the value of the first entry named `name`, or appends one.
    void Set(std::string_view name, std::string value);
    // Like Set, and removes every later entry of that name.
    void SetUnique(std::string_view name, std::string value);
    // Number of entries named `name`.
    std::size_t Count(std::string_view name) const;

    void Clear() { m_entries.clear(); }
    bool Empty() const { return m_entries.empty(); }
    std::size_t Size() const { return m_entries.size(); }
    const std::vector<Entry>& Entries() const { return m_entries; }

    // Each entry as "name: value\r\n", in list order.
    std::string Format() const;

private:
    std::vector<Entry> m_entries;
};

// ASCII case-insensitive equality, as header names, schemes and methods are compared.
bool EqualsNoCase(std::string_view a, std::string_view b);

// What the Content-Length headers of a head say.
enum class EContentLength {
    absent,   // there is none
    valid,    // every one is decimal digits (trailing blanks allowed) of one value
    invalid,  // one is not, they disagree, or the value has more than 18 digits: the proxy
              // and the other side could count the body differently, so it is not trusted
};
// `length` is set for valid.
EContentLength GetContentLength(const CHeaderList& headers, std::uint64_t& length);

// The comma-separated elements of every header named `name`, in order, each without the
// blanks around it; empty elements are left out ("no-cache, private" gives two).
std::vector<std::string_view> HeaderElements(const CHeaderList& headers, std::string_view name);

// Whether an element of the headers named `name` has one of `directives` as its directive
// (the part before any "=", so "private" also stands as private="field-names"), without
// regard to case.
bool HasDirective(const CHeaderList& headers, std::string_view name,
                  std::initializer_list<std::string_view> directives);

// The value of the first Cache-Control directive named `directive` ("max-age=60" gives 60),
// in seconds, at most 2^31: none when no Cache-Control header has it; 0 when its value is no
// number of seconds (quotes around it are allowed), which a cache takes as "stale already".
std::optional<std::int64_t> CacheControlSeconds(const CHeaderList& headers,
                                                std::string_view directive);
