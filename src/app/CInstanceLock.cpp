#include "CInstanceLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

CInstanceLock::~CInstanceLock() {
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

CInstanceLock::Result CInstanceLock::Acquire(const std::filesystem::path& file) {
    int descriptor = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        m_error = errno;
        return Result::Failed;
    }
    int result;
    do {
        result = ::flock(descriptor, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        m_error = errno;
        ::close(descriptor);
        return m_error == EWOULDBLOCK ? Result::HeldElsewhere : Result::Failed;
    }
    m_descriptor = descriptor;
    return Result::Acquired;
}
