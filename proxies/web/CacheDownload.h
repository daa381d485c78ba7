#pragma once
// The content file of one response on its way into the web cache: created when the response
// may be stored, written as the body is relayed, and either kept for registration, when the
// body arrived whole, or deleted.
//
// The session's OpenCacheFile is CWWWCache::AllocateEntry(cache key, ..., &file) and, when the
// entry got a file name, Open(CWWWCache::GetContentPath(entry), response, file); a failed Open
// discards the entry (CWWWCache::DiscardEntry). RelayResponseData calls Write before it sends
// the bytes to the client; a failed Write writes kErrorLineCacheWrite with GetErrorText() and
// discards the entry, and the body still reaches the client. CloseCacheFile is Finish: with a
// result, set the entry's last-modified time, content type and size from it and register it
// with its file still open (CWWWCache::AddEntry); without, CWWWCache::DiscardEntry. OnEnd and
// every other end of the session call Finish(EEnd::abandoned) (the destructor does it too).
//
// A download is complete, and kept, only when it can be served as the server sent it: with a
// Content-Length, exactly that many bytes, whoever closed; without one, everything until the
// server closed. A body cut short, grown past its Content-Length, or beyond the 32-bit size
// the index records is discarded.

#include "platform/kernel/Types.h"
#include "platform/service/UniqueFd.h"
#include "proxies/web/WWWResponse.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A content file's descriptor, open for writing, with the length of what the file holds. The
// cache keeps those of recent downloads, so that a later store that takes the file over
// writes into it without opening it again (and cuts it only when its new body is shorter).
struct SContentFile {
    CUniqueFd handle;
    std::uint64_t length = 0;
};

// What the cache entry of a complete download records, and its content file still open.
struct SCompletedDownload {
    std::int64_t lastModified = 0;  // the response's Last-Modified, or the time it ended
    std::string contentType;        // its Content-Type, or the type of the request path
    DWORD size = 0;                 // bytes in the content file
    SContentFile file{};            // the file as written (none: closed)
};

class CCacheDownload {
public:
    enum class EEnd {
        serverClosed,  // the server closed the connection after the body
        clientClosed,  // the client went away first
        abandoned,     // the session ended any other way
    };

    CCacheDownload() = default;
    ~CCacheDownload();
    CCacheDownload(const CCacheDownload&) = delete;
    CCacheDownload& operator=(const CCacheDownload&) = delete;

    // Creates the content file at `path` for writing, replacing a file of that name (written
    // over, and cut to the body's length when it is complete), for the body of `response`.
    // With `file`, the file at `path` is already open: it is written through that descriptor.
    // False when it cannot be created (nothing is left behind). A download in progress is
    // abandoned first. The file is opened without a share lock: the cache hands a file to one
    // download at a time, and never one that a session may be reading.
    bool Open(const std::string& path, const CWWWResponse& response, SContentFile file = {});
    bool IsOpen() const { return m_file.IsValid(); }

    // Appends body bytes. False when the download is not open, or has just failed: a write
    // error (GetErrorText says which) or a body that outgrew what it may be; the file is
    // then deleted and later writes are refused.
    bool Write(const void* bytes, std::size_t count);
    std::uint64_t GetWritten() const { return m_written; }
    // For body bytes that a relay writes into the file as they pass (the session's move from
    // the server to the client): the file, written at GetWritten(), and then Wrote.
    int GetHandle() const { return m_file.Get(); }
    // `count` more body bytes were written at GetWritten() through GetHandle(), or `error`
    // (an errno, 0 for none) says the write failed: the same checks and result as Write.
    bool Wrote(std::size_t count, int error);
    // Why the last Write failed: the system's text for a failed write, or the reason a body
    // was refused ("" when none failed).
    std::string GetErrorText() const;

    // Ends the download. Complete: the file is kept, and the result says what its entry
    // records and holds the file's descriptor (`requestPath` gives the type when the response had no Content-Type; `now`
    // the last-modified time when it had no readable Last-Modified). Otherwise the file is
    // deleted and there is no result. Nothing to finish gives no result either.
    std::optional<SCompletedDownload> Finish(EEnd end, std::string_view requestPath,
                                             std::int64_t now);

private:
    // Whether the download is open and `count` more bytes may be kept; when they may not,
    // says why and discards the download.
    bool MayTake(std::size_t count);
    // `count` bytes were written (error 0), or the write failed with `error`: the download is
    // discarded.
    bool Took(std::size_t count, int error);
    void Discard();

    CUniqueFd m_file;
    // What the file held before: cut to the body's length when that is shorter (unknown for a
    // file found by name: always cut).
    std::uint64_t m_heldLength = 0;
    std::string m_path;
    std::uint64_t m_written = 0;
    std::optional<std::uint64_t> m_expected;  // the Content-Length, when there is one
    bool m_lengthTrusted = true;               // false: a Content-Length not to be trusted
    std::string m_lastModified;                // the response's headers, as sent
    std::string m_contentType;
    bool m_hasContentType = false;
    int m_error = 0;
    std::string m_errorText;  // why the body was refused, when no system call failed
};
