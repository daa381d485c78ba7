#pragma once
// The MIME type of a file or URL path, by the extension of its last segment.

#include <string>
#include <string_view>

// The built-in type of an extension ("gif" -> "image/gif"), or nullptr. Extensions are
// compared without regard to case, except "Z" (application/x-compress), which must be
// upper case.
const char* LookupBuiltInMimeType(std::string_view extension);

// The type of `path`: "text/html" for exactly "/"; the configured NoExtension type (default
// "text/plain") when the last segment (after the last "/" or "\") holds no "."; otherwise, for
// the text after its last ".", a non-empty value of that name under the MimeTypes key, then the
// built-in table, then the configured DefaultMimeType (default "application/unknown").
// Configured types holding control characters are passed over, so none can break the
// Content-Type header they go into.
std::string GetMimeType(std::string_view path);
