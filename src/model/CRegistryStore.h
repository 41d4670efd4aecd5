#pragma once

#include "CRegistryDatabase.h"
#include "CVSPDataBasic.h"

#include <cstdint>
#include <string>
#include <vector>

// The program's configuration in the store: one key per port under the root, named after the port, and
// the key CONF with the program options.
class CRegistryStore {
public:
    static constexpr const char* ROOT_KEY = "software\\BrannickSystems\\Tolvex3";
    static constexpr const char* OLDER_ROOT_KEY = "software\\BrannickSystems\\Tolvex";
    static constexpr const char* OPTIONS_KEY = "CONF";

    explicit CRegistryStore(CRegistryDatabase& database);

    // Ask these before anything reads or writes the store: reading an option creates the root.
    bool RootExists();
    bool OlderStoreExists();

    // Port keys are the subkeys whose names begin with "COM", compared case-sensitively.
    int CountPortKeys();
    std::vector<std::string> PortKeyNames();

    // Fills the stored configuration of the record from the key, with the load defaults for what is
    // missing; the id and the runtime values stay.
    void ReadPort(const std::string& keyName, CVSPDataBasic& record);
    // Writes every stored value of the record under its PortName in one transaction.
    void SavePort(const CVSPDataBasic& record);
    void DeletePortKey(const std::string& name);

    // Reading an option creates the root and CONF when they are missing.
    uint32_t ReadOption(const std::string& name, uint32_t defaultValue);
    void WriteOption(const std::string& name, uint32_t value);

    // Copies the string and DWORD values of the older store's port keys into the root; the older store
    // is only read.
    void MigrateOlderStore();

private:
    std::vector<std::string> PortKeysOf(const std::string& path);
    // Path of a subkey of the root.
    static std::string SubkeyPath(const std::string& name);
    static std::string OptionsPath();

    CRegistryDatabase& m_database;
};
