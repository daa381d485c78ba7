#pragma once
// An address filter: a pattern of IPv4 client addresses as the administrator typed it
// (`Filter`, such as "192.168.1.*") and its normalised form (`InternalFilter`) that matching
// uses. Locations embed one; recipients of rights and mapping targets build one from each of
// their pattern texts and ask MatchPattern.
//
// Normalising (BuildInternalFilter) turns each dot-separated part into exactly three
// characters, a digit or '?' ('?' stands for any one character):
//   part without '*'       1 char "7" -> "007", 2 chars "17" -> "017", 3 chars as they are,
//                          any other length (empty, 4 or more) -> dropped
//   "*"                    -> "???"
//   2 chars with '*'       "*d" with d a digit -> "??d"; otherwise first char + "??"
//                          ("1*" -> "1??", "**" -> "*??", which then never matches)
//   3 chars with '*'       each '*' -> '?' ("1*5" -> "1?5")
//   longer with '*'        -> dropped
// so "192.168.1.*" -> "192168001???", "10.*" -> "010???", "*.*.*.5" -> "?????????005".
// Malformed parts are dropped, not refused: the rest of the pattern still counts.
//
// Matching pads the address the same way (parts of 1-3 characters to three, others dropped)
// and compares it with InternalFilter position by position over InternalFilter's length:
// '?' matches any character, every other character must be equal, and positions beyond the
// padded address never match. So a pattern of fewer than four parts matches by prefix
// ("192.168" matches 192.168.7.9), the empty pattern matches every address, "1*" covers
// 100-199 only (not 10-19) and "*5" covers the values whose last digit is 5.
//
// InternalFilter is kept as stored (registry) or received (archive), never rebuilt on load:
// what matches is what the administrator's console computed.
//
// Registry form: strings "InternalFilter" and "Filter" (both default ""). Archive form:
// InternalFilter (string), then Filter (string). A load that fails leaves the filter as it
// was. Not locked: an owner that shares a filter guards it.

#include "platform/framework/Object.h"
#include "platform/kernel/Types.h"

#include <string>
#include <string_view>

class CIPFilter : public CObject {
    DECLARE_SERIAL(CIPFilter)
public:
    CIPFilter() = default;
    // A filter of `filterText`, normalised.
    explicit CIPFilter(std::string filterText);

    const std::string& GetFilter() const { return m_filter; }
    const std::string& GetInternalFilter() const { return m_internalFilter; }
    // Sets Filter and rebuilds InternalFilter from it.
    void SetFilter(std::string filterText);
    // Recomputes InternalFilter from Filter.
    void BuildInternalFilter();

    // Whether `addressText` (dotted decimal, "192.168.1.20") matches InternalFilter.
    BOOL Match(std::string_view addressText) const;

    // The normalised form of a pattern, and the padded form of an address (see above).
    static std::string Normalize(std::string_view pattern);
    static std::string PadAddress(std::string_view addressText);
    // Whether a normalised filter matches a padded address.
    static bool MatchNormalized(std::string_view internalFilter, std::string_view paddedAddress);
    // Whether `addressText` matches the pattern text `pattern` (normalised on the way).
    static bool MatchPattern(std::string_view pattern, std::string_view addressText);

    // TRUE when both values were stored.
    virtual BOOL SaveToRegistry(const std::string& keyPath) const;
    virtual void LoadFromRegistry(const std::string& keyPath);

    void Serialize(CArchive& ar) override;

private:
    std::string m_filter;
    std::string m_internalFilter;
};
