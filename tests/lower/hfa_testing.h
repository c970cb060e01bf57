// Shared by the tests of the hierarchical files and what is stored in them: SQL run on a file
// behind the library's back, and the path of a file's current entry.
#ifndef TAVIRON_TESTS_LOWER_HFA_TESTING_H
#define TAVIRON_TESTS_LOWER_HFA_TESTING_H

#include <string>

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

// The path of the file's current entry ("(null)" without one).
inline std::string Current(Ehfa_File *f) {
  char *path = ehfa_CurrentEntryPath(f, nullptr);
  std::string text = path ? path : "(null)";
  emsc_HeapFree(path);
  return text;
}

} // namespace taviron::lower::testing

#endif
