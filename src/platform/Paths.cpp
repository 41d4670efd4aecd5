#include "Paths.h"

#include <QStandardPaths>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvex_paths {

namespace {

std::filesystem::path HomeDirectory() {
    const char* home = std::getenv("HOME");
    return home && *home ? std::filesystem::path(home) : std::filesystem::path("/");
}

std::filesystem::path FromEnvironment(const char* variable, const std::filesystem::path& fallback) {
    const char* value = std::getenv(variable);
    return value && *value ? std::filesystem::path(value) : fallback;
}

} // namespace

std::filesystem::path RuntimeDirectory() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::filesystem::path directory =
        runtime && *runtime ? std::filesystem::path(runtime) / "tolvex"
                            : std::filesystem::path("/tmp") / ("tolvex-" + std::to_string(getuid()));
    ::mkdir(directory.c_str(), 0700);
    return directory;
}

std::filesystem::path ConfigDirectory() {
    std::filesystem::path directory =
        FromEnvironment("XDG_CONFIG_HOME", HomeDirectory() / ".config") / "tolvex";
    std::error_code ignored;
    std::filesystem::create_directories(directory, ignored);
    return directory;
}

std::filesystem::path StoreDatabasePath() {
    return ConfigDirectory() / "registry.db";
}

std::filesystem::path LogDirectory() {
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    std::filesystem::path base =
        documents.isEmpty() ? HomeDirectory() / "Documents" : std::filesystem::path(documents.toStdString());
    return base / "Tolvex";
}

} // namespace tolvex_paths
