#include "PortLink.h"

#include "PseudoTerminal.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool OpensAsSerialDevice(const std::filesystem::path& link) {
    int fd = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool serial = IsSerialDevice(fd);
    close(fd);
    return serial;
}

} // namespace

PortLinkState InspectPortLink(const std::filesystem::path& link) {
    struct stat entry {};
    if (lstat(link.c_str(), &entry) != 0)
        return errno == ENOENT ? PortLinkState::Free : PortLinkState::Foreign;
    if (!S_ISLNK(entry.st_mode))
        return PortLinkState::Foreign;
    struct stat target {};
    if (stat(link.c_str(), &target) != 0)
        return errno == ENOENT ? PortLinkState::Stale : PortLinkState::Foreign;
    if (!S_ISCHR(target.st_mode))
        return PortLinkState::Foreign;
    if (IsPseudoTerminalSlave(target.st_rdev))
        return PortLinkState::LivePort;
    return OpensAsSerialDevice(link) ? PortLinkState::SerialDevice : PortLinkState::Foreign;
}

bool PublishPortLink(const std::filesystem::path& link, const std::string& target) {
    std::filesystem::path temporary = link;
    temporary += ".new-" + std::to_string(getpid());
    unlink(temporary.c_str());
    if (symlink(target.c_str(), temporary.c_str()) != 0)
        return false;
    if (rename(temporary.c_str(), link.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return true;
}
