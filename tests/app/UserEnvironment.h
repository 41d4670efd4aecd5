#pragma once

#include "../platform/TemporaryDirectory.h"

#include <cstdlib>
#include <filesystem>

// A user of its own for one test: home, configuration and runtime folders in a temporary directory, set in
// this process's environment, which started programs inherit.
class UserEnvironment {
public:
    UserEnvironment() {
        std::filesystem::create_directories(RuntimeFolder());
        std::filesystem::permissions(RuntimeFolder(), std::filesystem::perms::owner_all);
        setenv("HOME", Home().c_str(), 1);
        setenv("XDG_CONFIG_HOME", (Home() / ".config").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", RuntimeFolder().c_str(), 1);
        unsetenv("XDG_DOCUMENTS_DIR");
    }

    std::filesystem::path Home() const { return m_directory.Path(); }
    std::filesystem::path RuntimeFolder() const { return Home() / "run"; }
    std::filesystem::path StoreFile() const { return Home() / ".config" / "tolvex" / "registry.db"; }
    std::filesystem::path LogFolder() const { return Home() / "Documents" / "Tolvex"; }

private:
    TemporaryDirectory m_directory;
};
