#include "proxies/web/ErrorPage.h"

#include "foundation/Format.h"
#include "foundation/RegistryStore.h"

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
    const std::string safeTitle = HtmlEscape(title);
    return FormatText(kErrorPageFormat, safeTitle.c_str(), safeTitle.c_str(),
                      HtmlEscape(description).c_str());
}

std::string BuildErrorPage(const SErrorText& title, const SErrorText& description) {
    return BuildErrorPage(ReadErrorText(title), ReadErrorText(description));
}
