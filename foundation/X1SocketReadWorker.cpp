#include "foundation/X1SocketReadWorker.h"

#include "foundation/X1Socket.h"
#include "foundation/X1SocketNotifyWindow.h"

#include <algorithm>
#include <cstring>

namespace {

// Found by the request itself, not by its socket's handle, which another thread may have
// changed by closing the socket meanwhile.
template <typename Request>
bool Withdraw(CMutex& mutex, std::map<int, Request*>& map, Request* request) {
    CMutexLock lock(mutex);
    auto it = std::find_if(map.begin(), map.end(),
                           [request](const auto& entry) { return entry.second == request; });
    if (it == map.end())
        return false;
    map.erase(it);
    return true;
}

}  // namespace

template <typename Request>
void X1SocketReadWorker::Complete(std::map<int, Request*>& map,
                                  typename std::map<int, Request*>::iterator it) {
    Request* request = it->second;
    map.erase(it);
    request->completed = true;
    request->event->Set();
}

void X1SocketReadWorker::AddLineRequest(X1SocketLineRequest* request) {
    CMutexLock lock(m_lineMutex);
    m_lines[request->socket->GetHandle()] = request;
    ++m_filed;
}

void X1SocketReadWorker::AddFixedRequest(X1SocketFixedRequest* request) {
    {
        CMutexLock lock(m_fixedMutex);
        m_fixed[request->socket->GetHandle()] = request;
    }
    CMutexLock lock(m_lineMutex);
    ++m_filed;
}

bool X1SocketReadWorker::WithdrawLineRequest(X1SocketLineRequest* request) {
    return Withdraw(m_lineMutex, m_lines, request);
}

bool X1SocketReadWorker::WithdrawFixedRequest(X1SocketFixedRequest* request) {
    return Withdraw(m_fixedMutex, m_fixed, request);
}

std::size_t X1SocketReadWorker::RequestsFiled() const {
    CMutexLock lock(m_lineMutex);
    return m_filed;
}

bool X1SocketReadWorker::ReadLineStep(X1Socket& socket, std::string& line) {
    if (line.size() >= kMaxLineLength)
        return true;
    char peeked[kLinePeekSize];
    const std::size_t room = std::min(kLinePeekSize, kMaxLineLength - line.size());
    int n = socket.Peek(peeked, static_cast<int>(room));
    if (n <= 0)
        return false;
    const void* lf = std::memchr(peeked, '\n', static_cast<std::size_t>(n));
    const int take = lf ? static_cast<int>(static_cast<const char*>(lf) - peeked) + 1 : n;
    char taken[kLinePeekSize];
    int got = socket.Receive(taken, take);
    if (got > 0)
        line.append(taken, static_cast<std::size_t>(got));
    return (lf && got == take) || line.size() >= kMaxLineLength;
}

void X1SocketReadWorker::OnSocketRead(int handle) {
    {
        CMutexLock lock(m_lineMutex);
        auto it = m_lines.find(handle);
        if (it != m_lines.end()) {
            bool complete = true;  // a failing receive: the reader returns what arrived
            try {
                complete = ReadLineStep(*it->second->socket, *it->second->line);
            } catch (CException* e) {
                e->Delete();
            } catch (...) {
            }
            if (complete)
                Complete(m_lines, it);
            return;
        }
    }
    CMutexLock lock(m_fixedMutex);
    auto it = m_fixed.find(handle);
    if (it == m_fixed.end())
        return;
    X1SocketFixedRequest* request = it->second;
    bool complete = true;
    try {
        int got = request->socket->Receive(request->position, static_cast<int>(std::min<std::size_t>(
                                                                   request->missing, 0x7FFFFFFF)));
        if (got > 0) {
            request->position += got;
            request->missing -= static_cast<std::size_t>(got);
        }
        complete = request->missing == 0;
    } catch (CException* e) {
        e->Delete();
    } catch (...) {
    }
    if (complete)
        Complete(m_fixed, it);
}

void X1SocketReadWorker::OnSocketClose(int handle, std::intptr_t lParam) {
    const auto passOn = [&](DWORD readingThread) {
        PostThreadMessageOnce(readingThread, X1SocketNotifyWindow::kSocketClose,
                              static_cast<std::uintptr_t>(handle), lParam);
    };
    {
        CMutexLock lock(m_lineMutex);
        auto it = m_lines.find(handle);
        if (it != m_lines.end()) {
            passOn(it->second->readingThread);
            Complete(m_lines, it);
            return;
        }
    }
    CMutexLock lock(m_fixedMutex);
    auto it = m_fixed.find(handle);
    if (it != m_fixed.end()) {
        passOn(it->second->readingThread);
        Complete(m_fixed, it);
    }
}

void X1SocketReadWorker::OnThreadMessage(const ThreadMessage& msg) {
    const int handle = static_cast<int>(msg.wParam);
    if (msg.message == X1SocketNotifyWindow::kSocketRead)
        OnSocketRead(handle);
    else if (msg.message == X1SocketNotifyWindow::kSocketClose)
        OnSocketClose(handle, msg.lParam);
}
