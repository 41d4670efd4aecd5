#pragma once

#include <filesystem>

// Only one instance of the program runs per user: it holds an exclusive lock on a file in the runtime
// directory, which the kernel releases when the process ends in any way.
class CInstanceLock {
public:
    enum class Result { Acquired, HeldElsewhere, Failed };

    CInstanceLock() = default;
    CInstanceLock(const CInstanceLock&) = delete;
    CInstanceLock& operator=(const CInstanceLock&) = delete;
    ~CInstanceLock();

    Result Acquire(const std::filesystem::path& file);
    // The errno of a failed Acquire.
    int Error() const { return m_error; }

private:
    int m_descriptor = -1;
    int m_error = 0;
};
