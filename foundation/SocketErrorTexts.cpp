#include "foundation/SocketErrorTexts.h"

#include "foundation/Format.h"
#include "foundation/RegistryStore.h"

namespace {

struct BuiltInText {
    int code;
    const char* text;
};

constexpr BuiltInText kBuiltInTexts[] = {
    {0, "You should never get this error"},
    {10022, "Could not connect to remote host"},
    {10050, "Remote Network Down"},
    {10051, "Remote Network Unreachable"},
    {10053, "Timed Out"},
    {10054, "Connection Reset by Remote Host"},
    {10055, "Out of buffers"},
    {10060, "Connection to Remote Host timed out"},
    {10061, "Connection refused by Remote Host"},
    {10065, "Host unreachable"},
};

std::string StoredOrDefault(const char* valueName, const char* builtIn) {
    std::string stored = ReadStoredSocketText(valueName);
    return stored.empty() ? builtIn : stored;
}

}  // namespace

std::string BuiltInSocketErrorText(int code) {
    for (const BuiltInText& t : kBuiltInTexts)
        if (t.code == code)
            return t.text;
    return FormatText(kUnknownSocketErrorText, code);
}

std::string SocketErrorText(int code) {
    std::string stored = ReadStoredSocketText(FormatText("%u", static_cast<unsigned>(code)).c_str());
    return stored.empty() ? BuiltInSocketErrorText(code) : stored;
}

std::string HostnameLookupFailedText(const std::string& host) {
    std::string format = StoredOrDefault(kHostnameLookupFailedName, kHostnameLookupFailedText);
    if (!FormatHasConversions(format, "s"))
        format = kHostnameLookupFailedText;
    return FormatText(format.c_str(), host.c_str());
}

std::string RecvLineTimeoutText() {
    return StoredOrDefault(kRecvLineTimeoutName, kRecvLineTimeoutText);
}

std::string RecvFixedTimeoutText() {
    return StoredOrDefault(kRecvFixedTimeoutName, kRecvFixedTimeoutText);
}

std::string ReadStoredSocketText(const char* valueName) {
    return RegReadString(kSocketErrorsKey, valueName, "");
}
