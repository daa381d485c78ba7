#pragma once
// A file descriptor with one owner: closed when the owner goes, moved but never copied.

#include <utility>

class CUniqueFd {
public:
    CUniqueFd() = default;
    explicit CUniqueFd(int fd) : m_fd(fd) {}
    ~CUniqueFd() { Reset(); }
    CUniqueFd(CUniqueFd&& other) noexcept : m_fd(other.Release()) {}
    CUniqueFd& operator=(CUniqueFd&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    CUniqueFd(const CUniqueFd&) = delete;
    CUniqueFd& operator=(const CUniqueFd&) = delete;

    int Get() const { return m_fd; }
    bool IsValid() const { return m_fd >= 0; }
    // Gives up ownership without closing.
    int Release() { return std::exchange(m_fd, -1); }
    // Closes the descriptor held (if any) and takes `fd`.
    void Reset(int fd = -1);

private:
    int m_fd = -1;
};
