// The response half of CWWWSession: the cache's decision before the request goes out, the
// server's response head collected, parsed and judged, the body relayed (and kept in the cache
// as it passes), and the end of the server's connection.

#include "engine/NorvaneEngine.h"
#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/QuietClose.h"
#include "platform/kernel/File.h"
#include "proxies/web/ResponseDecision.h"
#include "proxies/web/ResponseHead.h"
#include "proxies/web/WWWCache.h"
#include "proxies/web/WWWSession.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <optional>

using FrameworkFormat::kExitError;
using FrameworkFormat::kExitNormal;

namespace {

CWWWCache& Cache() { return CNorvaneEngine::Instance().GetCache(); }

// An interim answer, which a real head follows (101 switches protocols: it is the answer).
bool IsInterimCode(DWORD code) { return code >= 100 && code < 200 && code != 101; }

constexpr DWORD kCodeNotModified = 304;

}  // namespace

void CWWWSession::CheckCache() {
    m_cacheState = kCacheFetch;
    m_cacheConsidered = false;
    m_cacheCheck = {};
    m_cacheEntry.Reset();
    CWWWCache& cache = Cache();
    if (!MayUseCache(m_request, m_cacheNonProxyRequests != 0, cache.IsLookupEnabled(),
                     cache.IsCacheable(*this) != FALSE))
        return;
    const std::int64_t now = std::time(nullptr);
    CCacheEntryRef entry = cache.Lookup(m_request.cacheKey);
    std::optional<SCachedCopy> copy;
    if (entry)
        copy = SCachedCopy{.lastModified = entry->GetLastModified(),
                           .fresh = cache.IsFresh(*entry, now)};
    m_cacheCheck = ::CheckCache(m_request, copy ? &*copy : nullptr);
    m_cacheState = m_cacheCheck.state;
    m_cacheConsidered = m_cacheCheck.considered;
    if (entry && m_cacheCheck.markChecked) {
        cache.MarkChecked(*entry, now);
        m_cacheEntry = entry;
    }
}

void CWWWSession::OpenCacheFile() {
    CloseCacheFile(CCacheDownload::EEnd::abandoned);
    CWWWCache& cache = Cache();
    SContentFile file;  // the file, when the cache has it open already
    CCacheEntryRef entry = cache.AllocateEntry(m_request.cacheKey, &m_staleCacheFiles, &file);
    if (!entry)
        return;
    const std::string path = cache.GetContentPath(*entry);
    if (path.empty() || !m_cacheDownload.Open(path, m_response, std::move(file))) {
        cache.DiscardEntry(entry);
        return;
    }
    m_downloadEntry = entry;
}

void CWWWSession::CloseCacheFile(CCacheDownload::EEnd end) {
    // The copy this download replaced goes now, off the client's path.
    for (const std::string& path : m_staleCacheFiles)
        RemoveFile(path);
    m_staleCacheFiles.clear();
    if (!m_downloadEntry)
        return;
    const CCacheEntryRef entry = std::move(m_downloadEntry);
    m_downloadEntry.Reset();
    std::optional<SCompletedDownload> download =
        m_cacheDownload.Finish(end, m_request.path, std::time(nullptr));
    if (download)
        Cache().AddEntry(entry, std::move(*download));
    else
        Cache().DiscardEntry(entry);
}

bool CWWWSession::SendCachedResource() {
    if (!m_cacheEntry)
        return false;
    CWWWCache& cache = Cache();
    // The content file's name is the cache's own: opened as it is, no confinement to check.
    const std::string path = cache.GetContentPath(*m_cacheEntry);
    const int file = path.empty() ? INVALID_FILE_HANDLE
                                  : OpenFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    if (file == INVALID_FILE_HANDLE)
        return false;
    const std::int64_t size = std::max<std::int64_t>(FileSizeOf(file), 0);
    DebugLine(kLogSendingCachedResource, ThreadId());
    ReportStatus(kStatusCached);
    const std::int64_t now = std::time(nullptr);
    cache.CountHit(*m_cacheEntry, now);
    if (CatchSocketFailure([&] {
            SendHeadAndFile(BuildCachedResourceHead(now, m_cacheEntry->GetContentType(),
                                                    m_cacheEntry->GetLastModified(),
                                                    static_cast<std::uint64_t>(size)),
                            file, static_cast<std::uint64_t>(size));
        }))
        DebugLine("%s", kLogSendCachedException);
    CloseFile(file);
    CloseClient();
    return true;
}

void CWWWSession::ServeCachedCopy(const char* goneLine) {
    if (SendCachedResource()) {
        DebugLine(kLogSentCachedResource, m_request.cacheKey.c_str(), ThreadId());
        Finish(kExitNormal);
        return;
    }
    ErrorLine("%s", goneLine);
    m_cacheCheck = RestoreClientRequest(m_request, m_cacheCheck);
    m_cacheState = m_cacheCheck.state;
    m_cacheConsidered = m_cacheCheck.considered;
    ResetResponse();
    CloseQuietly(m_remoteSocket);
    SendRequest();
}

SStoreConditions CWWWSession::GetStoreConditions() const {
    if (!m_cacheConsidered)
        return {};  // the cache takes no part in this response
    const CWWWCache& cache = Cache();
    const std::string type = m_response.code == kCodeNotModified && m_cacheEntry
                                 ? m_cacheEntry->GetContentType()
                                 : StoredContentType(m_response.headers, m_request.path);
    return {cache.IsStoringEnabled(), cache.GetRecheckPeriod(type), std::time(nullptr)};
}

void CWWWSession::OnRemoteRead() {
    for (int round = 0; round < kReadRoundsPerNotice; ++round) {
        if (m_state == EWebState::relaying) {
            MoveResponseData();
            return;
        }
        if (!ReceiveFromServer())
            return;
    }
}

void CWWWSession::MoveResponseData() {
    std::size_t moved = 0;
    while (moved < kMoveBurstBytes && !IsFinished()) {
        const int got = MoveResponseChunk();
        if (got <= 0)
            return;
        moved += static_cast<std::size_t>(got);
    }
}

int CWWWSession::MoveResponseChunk() {
    const int chunk = static_cast<int>(kMoveChunkBytes);
    if (!m_cacheDownload.IsOpen())
        return m_remoteSocket.MoveTo(m_clientSocket, chunk);
    const std::uint64_t at = m_cacheDownload.GetWritten();
    NetMoveCopy copy{.file = m_cacheDownload.GetHandle(), .offset = at};
    const int got = m_remoteSocket.MoveTo(m_clientSocket, chunk, &copy);
    if (got > 0) {
        const auto count = static_cast<std::size_t>(got);
        const int error = copy.error != 0 ? copy.error : copy.offset != at + count ? EIO : 0;
        if (!m_cacheDownload.Wrote(count, error))
            EndStoreOnFailure();
    }
    return got;
}

bool CWWWSession::ReceiveFromServer() {
    const int connection = m_remoteConnection;
    char buffer[kReceiveBufferSize];
    const int received = m_remoteSocket.Receive(buffer, static_cast<int>(sizeof buffer));
    if (received <= 0)
        return false;
    TakeResponseBytes({buffer, static_cast<std::size_t>(received)});
    return static_cast<std::size_t>(received) == sizeof buffer && !IsFinished() &&
           m_remoteConnection == connection;
}

void CWWWSession::TakeResponseBytes(std::string_view bytes) {
    if (m_state == EWebState::relaying) {
        RelayResponseData(bytes);
        return;
    }
    switch (m_responseCollector.Append(bytes.data(), bytes.size())) {
    case CResponseCollector::incomplete: DebugLine("%s", kLogMoreResponse); return;
    case CResponseCollector::tooLarge:
        SendSocketErrorPage(kResponseHeadTooLargeText);
        Finish(kExitError);
        return;
    case CResponseCollector::complete: break;
    }
    m_responseBody = m_responseCollector.TakeBody();
    if (!m_responseBody.empty())
        DebugLine(kLogResponseResourceData, static_cast<unsigned>(m_responseBody.size()));
    ParseResponse();
    ProcessResponse();
}

void CWWWSession::ParseResponse() {
    DebugLine(kLogParsingResponse, ThreadId());
    ::ParseResponse(m_responseCollector.GetHead(), m_response);
}

void CWWWSession::ResetResponse() {
    m_responseCollector.Reset();
    m_response = CWWWResponse{};
    m_responseBody.clear();
    m_state = EWebState::forwarding;
}

void CWWWSession::ProcessResponse() {
    DebugLine(kLogProcessingResponse, ThreadId(), m_response.code);
    if (IsInterimCode(m_response.code)) {
        // "100 Continue" and its kind: passed on as they came, and the real head follows.
        SendInterimToClient(m_responseCollector.GetHead());
        const std::string rest = std::move(m_responseBody);
        ResetResponse();
        if (!rest.empty())
            TakeResponseBytes(rest);
        return;
    }
    const SResponseDecision decision = DecideResponse(m_cacheState, m_cacheConsidered, m_request,
                                                      m_response, GetStoreConditions());
    if (decision.unhandledCode)
        DebugLine(kLogUnhandledResponseCode, m_response.code);
    m_cacheState = decision.state;
    m_cacheConsidered = decision.considered;
    switch (decision.action) {
    case EResponseAction::notModified:
        SendToClient(kUseCachedCopyResponse);
        CloseClient();
        Finish(kExitNormal);
        return;
    case EResponseAction::serveCached: {
        const std::string key = m_request.cacheKey;
        ServeCachedCopy(kErrorLineCacheGone);
        if (decision.dropCopy)
            Cache().RemoveEntry(key, TRUE);
        return;
    }
    case EResponseAction::relay: break;
    }
    m_state = EWebState::relaying;
    // The head and the body bytes that came with it go in one send; the cache download
    // starts after it, so the client never waits for the file system.
    std::string answer = decision.head;
    const std::string body = std::move(m_responseBody);
    m_responseBody.clear();
    answer += body;
    SendToClient(answer);
    if (decision.store) {
        OpenCacheFile();
        if (!body.empty())
            StoreResponseData(body);
    }
    if (decision.dropCopy)
        Cache().RemoveEntry(m_request.cacheKey, TRUE);
}

void CWWWSession::RelayResponseData(std::string_view bytes) {
    SendToClient(bytes);
    StoreResponseData(bytes);
}

void CWWWSession::StoreResponseData(std::string_view bytes) {
    if (m_cacheDownload.IsOpen() && !m_cacheDownload.Write(bytes.data(), bytes.size()))
        EndStoreOnFailure();
}

void CWWWSession::EndStoreOnFailure() {
    ErrorLine(kErrorLineCacheWrite, m_cacheDownload.GetErrorText().c_str());
    CloseCacheFile(CCacheDownload::EEnd::abandoned);
}

void CWWWSession::OnRemoteClose() {
    // What the server sent before it closed is still to be read (the close is announced once
    // everything was read, so this is rarely anything).
    const int connection = m_remoteConnection;
    char buffer[kReceiveBufferSize];
    for (;;) {
        if (IsFinished() || m_remoteConnection != connection)
            return;  // ended, or the request went out again on a new connection
        const int received = m_remoteSocket.Receive(buffer, static_cast<int>(sizeof buffer));
        if (received <= 0)
            break;
        TakeResponseBytes({buffer, static_cast<std::size_t>(received)});
    }
    if (m_state != EWebState::relaying) {
        // The head never ended: the bytes go to the client as they came, or, with none, the
        // socket-error page.
        const std::string received = m_responseCollector.TakeReceived();
        if (!received.empty())
            SendToClient(received);
        else
            SendSocketErrorPage(kNoResponseText);
    }
    // The client has its answer and its connection is shut before the cache's bookkeeping.
    CloseQuietly(m_remoteSocket);
    CloseClient();
    CloseCacheFile(CCacheDownload::EEnd::serverClosed);
    DebugLine(kLogServerClosed, ThreadId());
    Finish(kExitNormal);
}
