#include "proxies/web/ErrorPage.h"

#include "foundation/Format.h"
#include "foundation/RegistryStore.h"
#include "platform/net/SocketErrors.h"

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

const char* StatusLine(EPageStatus status) {
    switch (status) {
    case EPageStatus::badRequest: return kBadRequestStatus;
    case EPageStatus::forbidden: return kForbiddenStatus;
    case EPageStatus::notFound: return kNotFoundStatus;
    case EPageStatus::notImplemented: return kNotImplementedStatus;
    case EPageStatus::badGateway: break;
    case EPageStatus::gatewayTimeout: return kGatewayTimeoutStatus;
    }
    return kBadGatewayStatus;
}

EPageStatus SocketErrorStatus(int code) {
    return code == WSAETIMEDOUT ? EPageStatus::gatewayTimeout : EPageStatus::badGateway;
}

std::string BuildErrorPage(EPageStatus status, std::string_view title,
                           std::string_view description) {
    const std::string safeTitle = HtmlEscape(title);
    return FormatText(kErrorPageFormat, StatusLine(status), safeTitle.c_str(), safeTitle.c_str(),
                      HtmlEscape(description).c_str());
}

std::string BuildErrorPage(EPageStatus status, const SErrorText& title,
                           const SErrorText& description) {
    return BuildErrorPage(status, ReadErrorText(title), ReadErrorText(description));
}
