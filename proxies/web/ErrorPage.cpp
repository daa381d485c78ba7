#include "proxies/web/ErrorPage.h"

#include "foundation/Format.h"
#include "foundation/RegistryStore.h"
#include "proxies/web/WWWProtocol.h"

std::string HtmlEscape(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': result += "&amp;"; break;
        case '<': result += "&lt;"; break;
        case '>': result += "&gt;"; break;
        case '"': result += "&quot;"; break;
        case '\'': result += "&#39;"; break;
        case '\0': break;
        default: result += c; break;
        }
    }
    return result;
}

std::string ReadErrorText(const SErrorText& text) {
    std::string value = RegReadString(kErrorStringsKey, text.valueName, text.defaultText);
    if (value.size() > kMaxErrorTextLength)
        value.resize(kMaxErrorTextLength);
    return value;
}

std::string BuildErrorPage(std::string_view title, std::string_view description) {
    return BuildErrorPageWithStatus(kErrorPageStatus, title, description);
}

std::string BuildErrorPageWithStatus(std::string_view statusLine, std::string_view title,
                                     std::string_view description) {
    const std::string safeTitle = HtmlEscape(title);
    return FormatText(kErrorPageFormat, std::string(statusLine).c_str(), safeTitle.c_str(),
                      safeTitle.c_str(), HtmlEscape(description).c_str());
}

const char* ErrorPageStatus(DWORD protocolCode, ETunnelFailure failure) {
    if (protocolCode != PROTOCOL_SSL)
        return kErrorPageStatus;
    return failure == ETunnelFailure::refused ? kTunnelRefusedStatus : kTunnelFailedStatus;
}

std::string BuildErrorPage(const SErrorText& title, const SErrorText& description) {
    return BuildErrorPage(ReadErrorText(title), ReadErrorText(description));
}
