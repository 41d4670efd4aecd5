#include "CRegistryDatabase.h"

#include <sqlite3.h>

namespace {

constexpr int BUSY_TIMEOUT_MS = 5000;
constexpr int64_t DWORD_MAX = 4294967295;

const char* const SCHEMA = R"sql(
CREATE TABLE IF NOT EXISTS reg_key (id INTEGER PRIMARY KEY,
    parent INTEGER REFERENCES reg_key(id) ON DELETE CASCADE,
    name TEXT NOT NULL COLLATE NOCASE, UNIQUE (parent, name));
CREATE TABLE IF NOT EXISTS reg_value (key INTEGER NOT NULL REFERENCES reg_key(id) ON DELETE CASCADE,
    name TEXT NOT NULL COLLATE NOCASE, type INTEGER NOT NULL, data BLOB,
    seq INTEGER NOT NULL, PRIMARY KEY (key, name));
)sql";

// One use of a prepared statement: reset and unbound again when it goes out of scope.
class CStatement {
public:
    explicit CStatement(sqlite3_stmt* statement) : m_statement(statement) {}
    CStatement(const CStatement&) = delete;
    CStatement& operator=(const CStatement&) = delete;
    ~CStatement() {
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
    }

    sqlite3_stmt* Get() const { return m_statement; }

    void BindKey(int index, std::optional<int64_t> key) {
        if (key)
            sqlite3_bind_int64(m_statement, index, *key);
        else
            sqlite3_bind_null(m_statement, index);
    }
    void BindInt(int index, int64_t value) { sqlite3_bind_int64(m_statement, index, value); }
    void BindText(int index, const std::string& text) {
        sqlite3_bind_text(m_statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int Step() { return m_statement ? sqlite3_step(m_statement) : SQLITE_ERROR; }

    int64_t ColumnInt(int column) const { return sqlite3_column_int64(m_statement, column); }
    std::string ColumnText(int column) const {
        const unsigned char* text = sqlite3_column_text(m_statement, column);
        return text ? std::string(reinterpret_cast<const char*>(text),
                                  sqlite3_column_bytes(m_statement, column))
                    : std::string();
    }
    std::vector<unsigned char> ColumnBytes(int column) const {
        const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(m_statement, column));
        return bytes ? std::vector<unsigned char>(bytes, bytes + sqlite3_column_bytes(m_statement, column))
                     : std::vector<unsigned char>();
    }

private:
    sqlite3_stmt* m_statement = nullptr;
};

std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string::npos)
            end = path.size();
        if (end > start)
            parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::vector<unsigned char> DwordBytes(uint32_t value) {
    return {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
            static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
}

uint32_t DwordFromBytes(const std::vector<unsigned char>& bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// Row columns: name, type, data.
CRegistryValue ValueFromRow(const CStatement& row) {
    CRegistryValue value;
    value.name = row.ColumnText(0);
    value.type = static_cast<uint32_t>(row.ColumnInt(1));
    sqlite3_stmt* statement = row.Get();
    if (value.type == REG_TYPE_DWORD && sqlite3_column_type(statement, 2) == SQLITE_INTEGER) {
        int64_t number = row.ColumnInt(2);
        if (number >= 0 && number <= DWORD_MAX) {
            value.data = DwordBytes(static_cast<uint32_t>(number));
            return value;
        }
    }
    value.data = row.ColumnBytes(2);
    return value;
}

// Commits on Commit(), rolls back otherwise.
class CTransaction {
public:
    explicit CTransaction(sqlite3* db) : m_db(db) {
        m_active = sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    CTransaction(const CTransaction&) = delete;
    CTransaction& operator=(const CTransaction&) = delete;
    ~CTransaction() {
        if (m_active)
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    bool IsActive() const { return m_active; }
    bool Commit() {
        if (!m_active)
            return false;
        m_active = false;
        if (sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK)
            return true;
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }

private:
    sqlite3* m_db;
    bool m_active = false;
};

} // namespace

CRegistryValue CRegistryValue::Dword(std::string name, uint32_t value) {
    return CRegistryValue{std::move(name), REG_TYPE_DWORD, DwordBytes(value)};
}

CRegistryValue CRegistryValue::String(std::string name, const std::string& text) {
    return CRegistryValue{std::move(name), REG_TYPE_STRING,
                          std::vector<unsigned char>(text.begin(), text.end())};
}

std::optional<uint32_t> CRegistryValue::AsDword() const {
    if (type != REG_TYPE_DWORD || data.size() != 4)
        return std::nullopt;
    return DwordFromBytes(data);
}

std::optional<std::string> CRegistryValue::AsString() const {
    if (type != REG_TYPE_STRING)
        return std::nullopt;
    return std::string(data.begin(), data.end());
}

CRegistryDatabase::CRegistryDatabase(const std::filesystem::path& file) {
    Open(file);
}

CRegistryDatabase::~CRegistryDatabase() {
    for (const auto& [sql, statement] : m_statements)
        sqlite3_finalize(statement);
    sqlite3_close(m_db);
}

sqlite3_stmt* CRegistryDatabase::Prepared(const std::string& sql) {
    sqlite3_stmt*& statement = m_statements[sql];
    if (!statement)
        sqlite3_prepare_v3(m_db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
    return statement;
}

void CRegistryDatabase::Open(const std::filesystem::path& file) {
    sqlite3* db = nullptr;
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    int result = sqlite3_open_v2(file.c_str(), &db, flags, nullptr);
    if (result == SQLITE_OK) {
        sqlite3_busy_timeout(db, BUSY_TIMEOUT_MS);
        // Reading the catalogue first proves the file is a database before anything is written to it.
        result = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    }
    // In WAL mode NORMAL keeps every transaction atomic and skips a disk flush per commit, which a
    // restore of many ports would otherwise pay once per port.
    if (result == SQLITE_OK)
        result =
            sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON",
                         nullptr, nullptr, nullptr);
    if (result == SQLITE_OK)
        result = sqlite3_exec(db, SCHEMA, nullptr, nullptr, nullptr);
    if (result == SQLITE_OK) {
        auto compiles = [db](const char* sql) {
            sqlite3_stmt* statement = nullptr;
            bool valid = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK;
            sqlite3_finalize(statement);
            return valid;
        };
        if (!compiles("SELECT id, parent, name FROM reg_key LIMIT 0") ||
            !compiles("SELECT key, name, type, data, seq FROM reg_value LIMIT 0"))
            result = SQLITE_SCHEMA;
    }
    if (result != SQLITE_OK) {
        std::string reason =
            db && sqlite3_errcode(db) != SQLITE_OK ? sqlite3_errmsg(db) : sqlite3_errstr(result);
        m_openError = "The store file \"" + file.string() + "\" cannot be used (" + reason +
                      "); it is left unchanged and no stored settings are loaded.";
        sqlite3_close(db);
        return;
    }
    m_db = db;
}

std::optional<int64_t> CRegistryDatabase::FindSubkey(std::optional<int64_t> parent, const std::string& name) {
    CStatement find(Prepared("SELECT id FROM reg_key WHERE parent IS ?1 AND name = ?2"));
    find.BindKey(1, parent);
    find.BindText(2, name);
    if (find.Step() != SQLITE_ROW)
        return std::nullopt;
    return find.ColumnInt(0);
}

std::optional<int64_t> CRegistryDatabase::FindKey(const std::string& path) {
    std::vector<std::string> parts = SplitPath(path);
    if (!m_db || parts.empty())
        return std::nullopt;
    std::optional<int64_t> key;
    for (const std::string& part : parts) {
        key = FindSubkey(key, part);
        if (!key)
            return std::nullopt;
    }
    return key;
}

std::optional<int64_t> CRegistryDatabase::FindOrCreateKey(const std::string& path) {
    std::vector<std::string> parts = SplitPath(path);
    if (!m_db || parts.empty())
        return std::nullopt;
    std::optional<int64_t> key;
    for (const std::string& part : parts) {
        std::optional<int64_t> subkey = FindSubkey(key, part);
        if (!subkey) {
            CStatement insert(Prepared("INSERT INTO reg_key (parent, name) VALUES (?1, ?2)"));
            insert.BindKey(1, key);
            insert.BindText(2, part);
            if (insert.Step() != SQLITE_DONE)
                return std::nullopt;
            subkey = sqlite3_last_insert_rowid(m_db);
        }
        key = subkey;
    }
    return key;
}

bool CRegistryDatabase::StoreValue(int64_t key, const CRegistryValue& value) {
    // An overwritten value keeps its place in the enumeration order and the spelling of its name.
    CStatement upsert(
        Prepared("INSERT INTO reg_value (key, name, type, data, seq) VALUES (?1, ?2, ?3, ?4, "
                 "(SELECT coalesce(max(seq), 0) + 1 FROM reg_value WHERE key = ?1)) "
                 "ON CONFLICT (key, name) DO UPDATE SET type = excluded.type, data = excluded.data"));
    upsert.BindInt(1, key);
    upsert.BindText(2, value.name);
    upsert.BindInt(3, value.type);
    if (std::optional<uint32_t> number = value.AsDword())
        upsert.BindInt(4, *number);
    else if (std::optional<std::string> text = value.AsString())
        upsert.BindText(4, *text);
    else if (value.data.empty())
        sqlite3_bind_zeroblob(upsert.Get(), 4, 0);
    else
        sqlite3_bind_blob(upsert.Get(), 4, value.data.data(), static_cast<int>(value.data.size()),
                          SQLITE_TRANSIENT);
    return upsert.Step() == SQLITE_DONE;
}

bool CRegistryDatabase::KeyExists(const std::string& path) {
    std::lock_guard guard(m_lock);
    return FindKey(path).has_value();
}

bool CRegistryDatabase::InWriteTransaction(const std::function<bool()>& step) {
    std::lock_guard guard(m_lock);
    if (!m_db)
        return false;
    CTransaction transaction(m_db);
    return transaction.IsActive() && step() && transaction.Commit();
}

bool CRegistryDatabase::CreateKey(const std::string& path) {
    return InWriteTransaction([&] { return FindOrCreateKey(path).has_value(); });
}

std::optional<std::string> CRegistryDatabase::EnumerateSubkey(const std::string& path, int index) {
    std::lock_guard guard(m_lock);
    std::optional<int64_t> key = FindKey(path);
    if (!key || index < 0)
        return std::nullopt;
    CStatement list(Prepared("SELECT name FROM reg_key WHERE parent = ?1 ORDER BY name LIMIT 1 OFFSET ?2"));
    list.BindInt(1, *key);
    list.BindInt(2, index);
    if (list.Step() != SQLITE_ROW)
        return std::nullopt;
    return list.ColumnText(0);
}

int CRegistryDatabase::ValueCount(const std::string& path) {
    std::lock_guard guard(m_lock);
    std::optional<int64_t> key = FindKey(path);
    if (!key)
        return 0;
    CStatement count(Prepared("SELECT count(*) FROM reg_value WHERE key = ?1"));
    count.BindInt(1, *key);
    return count.Step() == SQLITE_ROW ? static_cast<int>(count.ColumnInt(0)) : 0;
}

std::optional<CRegistryValue> CRegistryDatabase::EnumerateValue(const std::string& path, int index) {
    std::lock_guard guard(m_lock);
    std::optional<int64_t> key = FindKey(path);
    if (!key || index < 0)
        return std::nullopt;
    CStatement list(
        Prepared("SELECT name, type, data FROM reg_value WHERE key = ?1 ORDER BY seq LIMIT 1 OFFSET ?2"));
    list.BindInt(1, *key);
    list.BindInt(2, index);
    if (list.Step() != SQLITE_ROW)
        return std::nullopt;
    return ValueFromRow(list);
}

std::optional<CRegistryValue> CRegistryDatabase::ReadValue(const std::string& path, const std::string& name) {
    std::lock_guard guard(m_lock);
    std::optional<int64_t> key = FindKey(path);
    if (!key)
        return std::nullopt;
    CStatement read(Prepared("SELECT name, type, data FROM reg_value WHERE key = ?1 AND name = ?2"));
    read.BindInt(1, *key);
    read.BindText(2, name);
    if (read.Step() != SQLITE_ROW)
        return std::nullopt;
    return ValueFromRow(read);
}

uint32_t CRegistryDatabase::ReadDword(const std::string& path, const std::string& name,
                                      uint32_t defaultValue) {
    std::optional<CRegistryValue> value = ReadValue(path, name);
    std::optional<uint32_t> number = value ? value->AsDword() : std::nullopt;
    return number.value_or(defaultValue);
}

std::string CRegistryDatabase::ReadString(const std::string& path, const std::string& name,
                                          const std::string& defaultValue) {
    std::optional<CRegistryValue> value = ReadValue(path, name);
    std::optional<std::string> text = value ? value->AsString() : std::nullopt;
    return text.value_or(defaultValue);
}

bool CRegistryDatabase::WriteDword(const std::string& path, const std::string& name, uint32_t value) {
    return WriteValues(path, {CRegistryValue::Dword(name, value)});
}

bool CRegistryDatabase::WriteString(const std::string& path, const std::string& name,
                                    const std::string& text) {
    return WriteValues(path, {CRegistryValue::String(name, text)});
}

bool CRegistryDatabase::WriteValues(const std::string& path, const std::vector<CRegistryValue>& values) {
    return InWriteTransaction([&] {
        std::optional<int64_t> key = FindOrCreateKey(path);
        if (!key)
            return false;
        for (const CRegistryValue& value : values) {
            if (!StoreValue(*key, value))
                return false;
        }
        return true;
    });
}

bool CRegistryDatabase::DeleteKey(const std::string& path) {
    return InWriteTransaction([&] {
        std::optional<int64_t> key = FindKey(path);
        if (!key)
            return true;
        CStatement children(Prepared("SELECT 1 FROM reg_key WHERE parent = ?1 LIMIT 1"));
        children.BindInt(1, *key);
        if (children.Step() != SQLITE_DONE)
            return false;
        CStatement remove(Prepared("DELETE FROM reg_key WHERE id = ?1"));
        remove.BindInt(1, *key);
        return remove.Step() == SQLITE_DONE;
    });
}
