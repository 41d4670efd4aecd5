#pragma once

#include <unistd.h>
#include <utility>

// A file descriptor a test owns: closed when it goes, moved but never copied.
class OwnedFd {
public:
    explicit OwnedFd(int fd = -1) : m_fd(fd) {}
    OwnedFd(OwnedFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    OwnedFd& operator=(OwnedFd&& other) noexcept {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    ~OwnedFd() { Close(); }

    int Fd() const { return m_fd; }
    bool IsOpen() const { return m_fd >= 0; }
    void Close() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};
