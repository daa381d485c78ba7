#pragma once
// Percent-escapes in URL parts (RFC 3986 "%XX").

#include <string>
#include <string_view>

// Replaces every "%XX" (two hex digits) by its byte; a "%" not followed by two hex digits
// stays as it is.
std::string PercentDecode(std::string_view text);

// Escapes every byte of `text` that may not stand as it is in the user or password of a URL's
// user information (everything but letters, digits and "-._~!$&'()*+,;="), so that ":", "@"
// and "/" inside a name cannot change where the parts of the URL end.
std::string PercentEncodeUserInfo(std::string_view text);

// Escapes every byte of `text` but letters, digits, "-._~" and "/", for a path or a name that
// goes into an HREF: nothing in it can end the attribute, start a query or a fragment, or be
// read as an escape it was not.
std::string PercentEncodePath(std::string_view text);

// True when `text` holds a CR, LF or NUL byte: text that must not reach a protocol line.
bool HasLineBreakOrNul(std::string_view text);
