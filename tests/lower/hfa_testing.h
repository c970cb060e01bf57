// Shared by the tests of the hierarchical files and what is stored in them: SQL run on a file
// behind the library's back, and the path of a file's current entry.
#ifndef TAVIRON_TESTS_LOWER_HFA_TESTING_H
#define TAVIRON_TESTS_LOWER_HFA_TESTING_H

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "ehfa.h"
#include "emsc.h"

namespace taviron::lower::testing {

// Runs SQL on a file behind the library's back.
inline void Sql(const std::string &path, const char *sql) {
  sqlite3 *db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &db));
  char *message = nullptr;
  EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, sql, nullptr, nullptr, &message)) << (message ? message : "");
  sqlite3_free(message);
  sqlite3_close(db);
}

// Runs SQL on the entry table of a file with the table's indexes left as they were, so that they
// disagree with it as those of a damaged file may: the indexes are taken out of the schema for the
// change and put back unchanged.
inline void SqlBehindTheIndexes(const std::string &path, const char *sql) {
  struct Index {
    std::string name, table, sql;
    int64_t root;
  };
  std::vector<Index> indexes;
  sqlite3 *db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &db));
  sqlite3_stmt *stmt = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(db, "SELECT name, tbl_name, sql, rootpage FROM sqlite_master "
                                              "WHERE type = 'index' AND tbl_name = 'entry'", -1, &stmt, nullptr));
  while (sqlite3_step(stmt) == SQLITE_ROW)
    indexes.push_back({reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)),
                       reinterpret_cast<const char *>(sqlite3_column_text(stmt, 1)),
                       reinterpret_cast<const char *>(sqlite3_column_text(stmt, 2)), sqlite3_column_int64(stmt, 3)});
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  ASSERT_FALSE(indexes.empty());
  Sql(path, "PRAGMA writable_schema = ON; DELETE FROM sqlite_master WHERE type = 'index' AND tbl_name = 'entry';");
  Sql(path, sql);
  ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &db));
  sqlite3_exec(db, "PRAGMA writable_schema = ON", nullptr, nullptr, nullptr);
  for (const Index &index : indexes) {
    ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(db, "INSERT INTO sqlite_master(type, name, tbl_name, rootpage, sql) "
                                                "VALUES('index', ?1, ?2, ?3, ?4)", -1, &stmt, nullptr));
    sqlite3_bind_text(stmt, 1, index.name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt, 2, index.table.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(stmt, 3, index.root);
    sqlite3_bind_text(stmt, 4, index.sql.c_str(), -1, SQLITE_TRANSIENT);
    EXPECT_EQ(SQLITE_DONE, sqlite3_step(stmt));
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
}

// The path of the file's current entry ("(null)" without one).
inline std::string Current(Ehfa_File *f) {
  char *path = ehfa_CurrentEntryPath(f, nullptr);
  std::string text = path ? path : "(null)";
  emsc_HeapFree(path);
  return text;
}

} // namespace taviron::lower::testing

#endif
