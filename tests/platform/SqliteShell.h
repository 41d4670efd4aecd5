#pragma once

#include <filesystem>
#include <sqlite3.h>
#include <string>
#include <vector>

// A second, independent connection to a store file, as the sqlite3 shell would make: the tests look at
// and change the tables behind the store's back with it.
class SqliteShell {
public:
    explicit SqliteShell(const std::filesystem::path& file) { sqlite3_open(file.c_str(), &m_db); }
    SqliteShell(const SqliteShell&) = delete;
    SqliteShell& operator=(const SqliteShell&) = delete;
    ~SqliteShell() { sqlite3_close(m_db); }

    bool Execute(const std::string& sql) {
        return sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }

    // Every row of the query, its columns joined by '|' (NULL as "NULL").
    std::vector<std::string> Rows(const std::string& sql) {
        std::vector<std::string> rows;
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
            return {"error: " + std::string(sqlite3_errmsg(m_db))};
        while (sqlite3_step(statement) == SQLITE_ROW) {
            std::string row;
            for (int column = 0; column < sqlite3_column_count(statement); ++column) {
                if (column > 0)
                    row += '|';
                const unsigned char* text = sqlite3_column_text(statement, column);
                row += text ? reinterpret_cast<const char*>(text) : "NULL";
            }
            rows.push_back(row);
        }
        sqlite3_finalize(statement);
        return rows;
    }

private:
    sqlite3* m_db = nullptr;
};
