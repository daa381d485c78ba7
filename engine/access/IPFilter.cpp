#include "engine/access/IPFilter.h"

#include "engine/access/AccessFormat.h"
#include "foundation/Archive.h"
#include "foundation/RegistryStore.h"

#include <utility>

IMPLEMENT_SERIAL(CIPFilter, CObject, 1)

namespace {

constexpr std::size_t kPartWidth = 3;

// Calls `onPart` for each part of `text` between dots, as the text with one more "." at
// its end divides: "1.2" gives "1" and "2", "" gives "", "1." gives "1" and "".
template <class OnPart>
void ForEachPart(std::string_view text, OnPart onPart) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = text.find('.', start);
        if (dot == std::string_view::npos) {
            onPart(text.substr(start));
            return;
        }
        onPart(text.substr(start, dot - start));
        start = dot + 1;
    }
}

// A part without wildcards, padded with leading zeros to three characters; parts of any
// other length add nothing.
void AppendPadded(std::string& out, std::string_view part) {
    if (part.empty() || part.size() > kPartWidth)
        return;
    out.append(kPartWidth - part.size(), '0');
    out.append(part);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

CIPFilter::CIPFilter(std::string filterText) { SetFilter(std::move(filterText)); }

void CIPFilter::SetFilter(std::string filterText) {
    m_filter = std::move(filterText);
    BuildInternalFilter();
}

void CIPFilter::BuildInternalFilter() { m_internalFilter = Normalize(m_filter); }

std::string CIPFilter::Normalize(std::string_view pattern) {
    std::string out;
    ForEachPart(pattern, [&out](std::string_view part) {
        if (part.find('*') == std::string_view::npos) {
            AppendPadded(out, part);
        } else if (part == "*") {
            out.append(kPartWidth, '?');
        } else if (part.size() == 2) {
            if (part[0] == '*' && IsDigit(part[1])) {
                out.append("??");
                out.push_back(part[1]);
            } else {
                out.push_back(part[0]);
                out.append("??");
            }
        } else if (part.size() == kPartWidth) {
            for (char c : part)
                out.push_back(c == '*' ? '?' : c);
        }
    });
    return out;
}

std::string CIPFilter::PadAddress(std::string_view addressText) {
    std::string out;
    ForEachPart(addressText, [&out](std::string_view part) { AppendPadded(out, part); });
    return out;
}

bool CIPFilter::MatchNormalized(std::string_view internalFilter, std::string_view paddedAddress) {
    if (internalFilter.size() > paddedAddress.size())
        return false;
    for (std::size_t i = 0; i < internalFilter.size(); ++i) {
        if (internalFilter[i] != '?' && internalFilter[i] != paddedAddress[i])
            return false;
    }
    return true;
}

bool CIPFilter::MatchPattern(std::string_view pattern, std::string_view addressText) {
    return MatchNormalized(Normalize(pattern), PadAddress(addressText));
}

BOOL CIPFilter::Match(std::string_view addressText) const {
    return MatchNormalized(m_internalFilter, PadAddress(addressText)) ? TRUE : FALSE;
}

BOOL CIPFilter::SaveToRegistry(const std::string& keyPath) const {
    return RegWriteString(keyPath, AccessFormat::kInternalFilter, m_internalFilter) &&
                   RegWriteString(keyPath, AccessFormat::kFilter, m_filter)
               ? TRUE
               : FALSE;
}

void CIPFilter::LoadFromRegistry(const std::string& keyPath) {
    m_internalFilter = RegReadString(keyPath, AccessFormat::kInternalFilter, "");
    m_filter = RegReadString(keyPath, AccessFormat::kFilter, "");
}

void CIPFilter::Serialize(CArchive& ar) {
    CObject::Serialize(ar);
    if (ar.IsStoring()) {
        ar << m_internalFilter << m_filter;
        return;
    }
    std::string internalFilter, filter;
    ar >> internalFilter >> filter;
    m_internalFilter = std::move(internalFilter);
    m_filter = std::move(filter);
}
