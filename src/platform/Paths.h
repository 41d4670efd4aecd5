#pragma once

#include <filesystem>

namespace tolvex_paths {

// $XDG_RUNTIME_DIR/tolvex, else /tmp/tolvex-<uid>; created with mode 0700 when missing. Holds the port
// links, the instance lock and the control socket.
std::filesystem::path RuntimeDirectory();
// $XDG_CONFIG_HOME/tolvex, else ~/.config/tolvex; created when missing.
std::filesystem::path ConfigDirectory();
// The store database: ConfigDirectory()/registry.db.
std::filesystem::path StoreDatabasePath();
// The user's documents folder (XDG documents dir, else ~/Documents) plus "Tolvex"; not created here.
std::filesystem::path LogDirectory();

} // namespace tolvex_paths
