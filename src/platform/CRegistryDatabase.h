#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// Value type codes, as a registry numbers them.
constexpr uint32_t REG_TYPE_STRING = 1;
constexpr uint32_t REG_TYPE_DWORD = 4;

// One value of a key. `data` holds a string as UTF-8 bytes, a DWORD as its four bytes in little-endian
// order, and any other type as the stored bytes. A DWORD whose stored form is not an integer in
// 0..4294967295 comes back with that form's bytes, so it never reads as a DWORD.
struct CRegistryValue {
    std::string name;
    uint32_t type = 0;
    std::vector<unsigned char> data;

    static CRegistryValue Dword(std::string name, uint32_t value);
    static CRegistryValue String(std::string name, const std::string& text);

    std::optional<uint32_t> AsDword() const;
    std::optional<std::string> AsString() const;
};

// A per-user hierarchical key/value store with registry semantics, kept in one SQLite file.
// Key paths are backslash-separated ("software\\Maker\\Program\\COM3"); key and value names compare
// without regard to ASCII case; subkeys enumerate in case-insensitive name order, values in creation
// order. Safe to share between threads; other processes may use the same file at once.
//
// A file that cannot be opened or is not a store leaves the object unusable: it reads as empty,
// refuses every write and never touches the file. OpenError() then says why.
class CRegistryDatabase {
public:
    explicit CRegistryDatabase(const std::filesystem::path& file);
    CRegistryDatabase(const CRegistryDatabase&) = delete;
    CRegistryDatabase& operator=(const CRegistryDatabase&) = delete;
    ~CRegistryDatabase();

    bool IsUsable() const { return m_db != nullptr; }
    // Empty when usable; otherwise a message naming the file.
    const std::string& OpenError() const { return m_openError; }

    bool KeyExists(const std::string& path);
    // Creates the key and its missing parents.
    bool CreateKey(const std::string& path);
    // The index-th subkey name in enumeration order; nullopt past the end or when the key is missing.
    std::optional<std::string> EnumerateSubkey(const std::string& path, int index);
    int ValueCount(const std::string& path);
    // The index-th value in creation order; nullopt past the end or when the key is missing.
    std::optional<CRegistryValue> EnumerateValue(const std::string& path, int index);
    std::optional<CRegistryValue> ReadValue(const std::string& path, const std::string& name);

    // The default when the value is missing or is not a DWORD in 0..4294967295.
    uint32_t ReadDword(const std::string& path, const std::string& name, uint32_t defaultValue);
    // The default when the value is missing or is not a string.
    std::string ReadString(const std::string& path, const std::string& name, const std::string& defaultValue);

    // Each write creates the key and its missing parents. WriteValues writes all of its values in one
    // transaction: either all of them are stored or none.
    bool WriteDword(const std::string& path, const std::string& name, uint32_t value);
    bool WriteString(const std::string& path, const std::string& name, const std::string& text);
    bool WriteValues(const std::string& path, const std::vector<CRegistryValue>& values);

    // Deletes the key and its values; refused (false) when the key has subkeys. A missing key is not an
    // error.
    bool DeleteKey(const std::string& path);

private:
    void Open(const std::filesystem::path& file);
    std::optional<int64_t> FindSubkey(std::optional<int64_t> parent, const std::string& name);
    std::optional<int64_t> FindKey(const std::string& path);
    std::optional<int64_t> FindOrCreateKey(const std::string& path);
    bool StoreValue(int64_t key, const CRegistryValue& value);
    // Runs the step in one write transaction under the lock; committed only when the step succeeds.
    bool InWriteTransaction(const std::function<bool()>& step);

    // Prepared once and kept for the life of the connection.
    sqlite3_stmt* Prepared(const std::string& sql);

    sqlite3* m_db = nullptr;
    std::map<std::string, sqlite3_stmt*> m_statements;
    std::string m_openError;
    std::recursive_mutex m_lock;
};
