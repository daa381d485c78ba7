#include "proxies/web/MimeTypes.h"

#include "foundation/RegistryStore.h"
#include "proxies/web/HeaderList.h"
#include "proxies/web/WWWTexts.h"

namespace {

struct SMimeEntry {
    const char* extension;
    const char* type;
};

constexpr SMimeEntry kBuiltInTypes[] = {
    {"htm", "text/html"},
    {"html", "text/html"},
    {"txt", "text/plain"},
    {"text", "text/plain"},
    {"ief", "image/ief"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"gif", "image/gif"},
    {"tif", "image/tiff"},
    {"tiff", "image/tiff"},
    {"png", "image/x-png"},
    {"pcd", "image/x-photo-cd"},
    {"bmp", "image/x-MS-bmp"},
    {"rle", "image/x-MS-bmp"},
    {"rgb", "image/x-rgb"},
    {"xbm", "image/x-xbitmap"},
    {"exe", "application/octet-stream"},
    {"bin", "application/octet-stream"},
    {"gz", "application/x-gzip"},
    {"Z", "application/x-compress"},
    {"zip", "application/x-zip-compressed"},
    {"ps", "application/postscript"},
    {"eps", "application/postscript"},
    {"ai", "application/postscript"},
    {"hqx", "application/mac-binhex40"},
    {"au", "audio/basic"},
    {"snd", "audio/basic"},
    {"aif", "audio/x-aiff"},
    {"aiff", "audio/x-aiff"},
    {"mp2", "audio/x-mpeg"},
    {"mpa", "audio/x-mpeg"},
    {"abs", "audio/x-mpeg"},
    {"ra", "audio/x-pn-realaudio"},
    {"ram", "audio/x-pn-realaudio"},
    {"wav", "audio/x-wav"},
    {"mpg", "video/mpeg"},
    {"mpeg", "video/mpeg"},
    {"mpe", "video/mpeg"},
    {"qt", "video/quicktime"},
    {"mov", "video/quicktime"},
    {"mpv2", "video/x-mpeg2"},
    {"mp2v", "video/x-mpeg2"},
    {"avi", "video/x-msvideo"},
    {"vdo", "video/vdo"},
};

// The one extension whose case counts.
constexpr std::string_view kExactCaseExtension = "Z";

// Extensions longer than this are never looked up in the configuration.
constexpr std::size_t kMaxExtensionLength = 64;

bool HasControl(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return true;
    return false;
}

// A configured type, or "" when it is absent, empty or unusable.
std::string ConfiguredType(std::string_view valueName) {
    std::string type = RegReadString(kMimeTypesKey, valueName, "");
    return HasControl(type) ? std::string() : type;
}

std::string ConfiguredType(std::string_view valueName, const char* fallback) {
    std::string type = RegReadString(kMimeTypesKey, valueName, fallback);
    return HasControl(type) || type.empty() ? std::string(fallback) : type;
}

}  // namespace

const char* LookupBuiltInMimeType(std::string_view extension) {
    for (const SMimeEntry& entry : kBuiltInTypes) {
        const bool match = entry.extension == kExactCaseExtension
                               ? extension == kExactCaseExtension
                               : EqualsNoCase(extension, entry.extension);
        if (match)
            return entry.type;
    }
    return nullptr;
}

std::string GetMimeType(std::string_view path) {
    if (path == "/")
        return "text/html";
    const std::size_t slash = path.find_last_of("/\\");
    const std::string_view segment = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = segment.rfind('.');
    if (dot == std::string_view::npos)
        return ConfiguredType(kNoExtensionValue, kNoExtensionDefault);
    const std::string_view extension = segment.substr(dot + 1);
    // The two setting names are not extensions, and odd text never becomes a value name.
    if (!extension.empty() && extension.size() <= kMaxExtensionLength && !HasControl(extension) &&
        !EqualsNoCase(extension, kNoExtensionValue) &&
        !EqualsNoCase(extension, kDefaultMimeTypeValue)) {
        std::string type = ConfiguredType(extension);
        if (!type.empty())
            return type;
    }
    if (const char* type = LookupBuiltInMimeType(extension))
        return type;
    return ConfiguredType(kDefaultMimeTypeValue, kDefaultMimeTypeDefault);
}
