#include "proxies/web/FTPListing.h"

#include "foundation/Format.h"
#include "platform/kernel/File.h"
#include "proxies/web/ErrorPage.h"
#include "proxies/web/UrlText.h"
#include "proxies/web/WWWTexts.h"

#include <algorithm>
#include <vector>

namespace {

constexpr std::string_view kTotalPrefix = "total ";
constexpr std::string_view kDirMark = "<dir>";
constexpr std::string_view kLinkArrow = "->";
constexpr std::size_t kUnixFixedFields = 8;
constexpr std::size_t kDosFixedFields = 3;
constexpr std::size_t kMaxIconExtension = 16;
constexpr std::string_view kUnixTypes = "-bcdlps";
constexpr std::string_view kUnixModes = "-rwxsStTlL";

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlphanumeric(char c) { return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerCopy(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), Lower);
    return lower;
}

// Where each blank-separated field of `line` begins.
std::vector<std::size_t> FieldStarts(std::string_view line) {
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < line.size(); ++i)
        if (line[i] != ' ' && (i == 0 || line[i - 1] == ' '))
            starts.push_back(i);
    return starts;
}

std::string_view Field(std::string_view line, const std::vector<std::size_t>& starts,
                       std::size_t index) {
    const std::size_t start = starts[index];
    return line.substr(start, line.find(' ', start) - start);
}

// "drwxr-xr-x", "-rw-r--r--+", "lrwxrwxrwx@": a type, nine mode letters, and at most one mark.
bool IsUnixMode(std::string_view field) {
    if (field.size() < 10 || field.size() > 11 || kUnixTypes.find(field[0]) == std::string_view::npos)
        return false;
    for (std::size_t i = 1; i < 10; ++i)
        if (kUnixModes.find(field[i]) == std::string_view::npos)
            return false;
    return true;
}

// "01-15-20" or "01-15-2020".
bool IsDosDate(std::string_view field) {
    if (field.size() != 8 && field.size() != 10)
        return false;
    for (std::size_t i = 0; i < field.size(); ++i)
        if ((i == 2 || i == 5) ? field[i] != '-' : !IsDigit(field[i]))
            return false;
    return true;
}

// "10:30AM", "22:30".
bool IsDosTime(std::string_view field) {
    if (field.size() < 5 || !IsDigit(field[0]) || !IsDigit(field[1]) || field[2] != ':' ||
        !IsDigit(field[3]) || !IsDigit(field[4]))
        return false;
    const std::string rest = LowerCopy(field.substr(5));
    return rest.empty() || rest == "am" || rest == "pm";
}

// Where the name begins in a line of one of the two known forms; npos for any other line.
std::size_t FixedFormNameStart(std::string_view line) {
    const std::vector<std::size_t> starts = FieldStarts(line);
    if (starts.size() > kUnixFixedFields && IsUnixMode(Field(line, starts, 0)))
        return starts[kUnixFixedFields];
    if (starts.size() > kDosFixedFields && IsDosDate(Field(line, starts, 0)) &&
        IsDosTime(Field(line, starts, 1)))
        return starts[kDosFixedFields];
    return std::string_view::npos;
}

bool IsReadable(const std::string& folder, const std::string& relative) {
    const int handle = OpenConfinedFile(folder, relative);
    if (handle == INVALID_FILE_HANDLE)
        return false;
    CloseFile(handle);
    return true;
}

// The extension an icon may be chosen by: lower case, or "" when there is none that may.
std::string IconExtension(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return {};
    const std::string_view extension = name.substr(dot + 1);
    if (extension.empty() || extension.size() > kMaxIconExtension ||
        !std::all_of(extension.begin(), extension.end(), IsAlphanumeric))
        return {};
    return LowerCopy(extension);
}

std::string FileIcon(const std::string& extension, const std::string& folder) {
    if (!extension.empty() &&
        IsReadable(folder, FormatText(kExtensionIconFileFormat, extension.c_str())))
        return FormatText(kExtensionIconURLFormat, extension.c_str());
    return IsReadable(folder, kDefaultIconFile) ? kDefaultIconURL : kDefaultIconFallback;
}

std::string DirectoryIcon(const std::string& folder) {
    return IsReadable(folder, kDirectoryIconFile) ? kDirectoryIconURL : kDirectoryIconFallback;
}

}  // namespace

std::optional<SListingEntry> ParseListingLine(std::string_view line) {
    while (!line.empty() && IsSpace(line.back()))
        line.remove_suffix(1);
    const std::string lower = LowerCopy(line);
    if (lower.starts_with(kTotalPrefix))
        return std::nullopt;
    SListingEntry entry;
    entry.isDirectory = lower.find(kDirMark) != std::string::npos || lower.starts_with('d');
    if (lower.starts_with('l')) {
        entry.isDirectory = true;
        const std::size_t arrow = line.find(kLinkArrow);
        if (arrow != std::string_view::npos) {
            line = line.substr(0, arrow == 0 ? 0 : arrow - 1);
            while (!line.empty() && IsSpace(line.back()))
                line.remove_suffix(1);
        }
    }
    std::size_t nameStart = FixedFormNameStart(line);
    if (nameStart == std::string_view::npos) {
        const std::size_t space = line.rfind(' ');
        if (space == std::string_view::npos)
            return std::nullopt;
        nameStart = space + 1;
    }
    std::string_view info = line.substr(0, nameStart);
    while (!info.empty() && info.back() == ' ')
        info.remove_suffix(1);
    entry.name.assign(line.substr(nameStart));
    if (entry.name.empty())
        return std::nullopt;
    entry.info.assign(info);
    std::replace_if(entry.info.begin(), entry.info.end(), [](char c) { return c == '<' || c == '>'; }, '"');
    return entry;
}

std::string ChooseListingIcon(std::string_view name, bool isDirectory, const std::string& folder) {
    return isDirectory ? DirectoryIcon(folder) : FileIcon(IconExtension(name), folder);
}

CFTPListing::CFTPListing(std::string path, std::string folder)
    : m_path(std::move(path)), m_folder(std::move(folder)) {}

std::string CFTPListing::Top(std::string_view banner) {
    const std::string directory = HtmlEscape(m_path.empty() || m_path == "/" ? "/" : m_path);
    std::string bannerText;
    std::string_view trimmed = banner;
    while (!trimmed.empty() && IsSpace(trimmed.back()))
        trimmed.remove_suffix(1);
    if (!trimmed.empty())
        bannerText = FormatText(kListingBannerFormat, HtmlEscape(trimmed).c_str());
    std::string top = FormatText(kListingTopFormat, directory.c_str(), directory.c_str(),
                                 bannerText.c_str());
    if (m_path.empty() || m_path.back() != '/')
        m_path += '/';
    top += FormatText(kListingParentFormat, PercentEncodePath(m_path).c_str(),
                      Icon(SListingEntry{{}, {}, true}).c_str());
    return top;
}

std::string CFTPListing::AddData(std::string_view bytes) {
    std::string markup;
    for (const CLineReader::SLine& line : m_lines.Append(bytes))
        if (!line.overLong)
            if (const auto entry = ParseListingLine(line.text))
                markup += Entry(*entry);
    return markup;
}

std::string CFTPListing::Finish() {
    std::string markup;
    if (const auto line = m_lines.Flush(); line && !line->overLong)
        if (const auto entry = ParseListingLine(line->text))
            markup += Entry(*entry);
    markup += kListingFooter;
    return markup;
}

std::string CFTPListing::Entry(const SListingEntry& entry) {
    const int width = static_cast<int>(std::min<std::size_t>(entry.name.size(), kListingNameWidth));
    const std::string padding(static_cast<std::size_t>(kListingNameWidth - width), ' ');
    const std::string name = PercentEncodePath(entry.name);
    const char* slash = entry.isDirectory ? "/" : "";
    const std::string& icon = Icon(entry);
    const std::string shown = HtmlEscape(entry.name);
    const std::string info = HtmlEscape(entry.info);
    if (!entry.name.empty() && entry.name.front() == '/')
        return FormatText(kListingAbsoluteEntryFormat, name.c_str(), slash, icon.c_str(),
                          shown.c_str(), padding.c_str(), info.c_str());
    return FormatText(kListingEntryFormat, PercentEncodePath(m_path).c_str(), name.c_str(), slash,
                      icon.c_str(), shown.c_str(), padding.c_str(), info.c_str());
}

const std::string& CFTPListing::Icon(const SListingEntry& entry) {
    const std::string key = entry.isDirectory ? "/" : IconExtension(entry.name);
    auto found = m_icons.find(key);
    if (found == m_icons.end())
        found = m_icons.emplace(key, ChooseListingIcon(entry.name, entry.isDirectory, m_folder)).first;
    return found->second;
}
