#include "ProgramFinder.h"

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace {

bool HoldsDevice(const std::filesystem::path& fdDirectory, dev_t device) {
    std::error_code error;
    for (const auto& fd : std::filesystem::directory_iterator(fdDirectory, error)) {
        struct stat target {};
        if (stat(fd.path().c_str(), &target) == 0 && S_ISCHR(target.st_mode) && target.st_rdev == device)
            return true;
    }
    return false;
}

std::string ProgramName(const std::filesystem::path& processDirectory) {
    std::error_code error;
    std::filesystem::path executable = std::filesystem::read_symlink(processDirectory / "exe", error);
    if (!error && !executable.empty())
        return executable.filename().string();
    // Another user's process: its executable is hidden, its short name is not.
    std::ifstream comm(processDirectory / "comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

} // namespace

std::string FindProgramHolding(dev_t device) {
    std::error_code error;
    for (const auto& process : std::filesystem::directory_iterator("/proc", error)) {
        const std::string pid = process.path().filename().string();
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        if (HoldsDevice(process.path() / "fd", device))
            return ProgramName(process.path());
    }
    return {};
}
