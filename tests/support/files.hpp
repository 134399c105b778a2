// Test helpers for files: a temporary directory removed with its contents, and the rows
// of a query read through a connection of its own (so it sees only committed data).
#pragma once

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace test_support {

class TempDir {
  public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quillon-test-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

// Every row as text; NULL columns are nullopt.
using Rows = std::vector<std::vector<std::optional<std::string>>>;

inline Rows query_rows(const std::string& database, const std::string& sql) {
    SQLite::Database reader(database, SQLite::OPEN_READONLY);
    SQLite::Statement q(reader, sql);
    Rows out;
    while (q.executeStep()) {
        std::vector<std::optional<std::string>> row;
        for (int i = 0; i < q.getColumnCount(); ++i) {
            const SQLite::Column c = q.getColumn(i);
            row.push_back(c.isNull() ? std::nullopt : std::optional(c.getString()));
        }
        out.push_back(row);
    }
    return out;
}

}  // namespace test_support
