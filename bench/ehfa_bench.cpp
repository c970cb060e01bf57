// Siblings in hierarchical files: a walk over N siblings (first child, then next sibling after
// next sibling) and N lookups of a sibling by name, for 1e4 and 1e5 siblings; beside SQLite
// doing the same job on the same file with its own statements (one ordered scan, one indexed
// query per name), the floor of what the file's layout allows.
#include <benchmark/benchmark.h>

#include <sqlite3.h>
#include <stdlib.h>

#include <cstdio>
#include <map>
#include <string>

#include "ehfa.h"
#include "emif.h"

namespace {

std::string Directory() {
  static const std::string dir = [] {
    char pattern[] = "/tmp/ehfa_benchXXXXXX";
    return std::string(mkdtemp(pattern) ? pattern : "/tmp");
  }();
  return dir;
}

std::string Name(int64_t i) { return "s" + std::to_string(i); }

// The files made, removed when the program ends.
struct Files {
  std::map<int64_t, std::string> made;
  ~Files() {
    for (const auto &file : made) std::remove(file.second.c_str());
    std::remove(Directory().c_str());
  }
};

// A file whose entry ":P" has `count` children "s0" ... (made once per count).
std::string Siblings(int64_t count) {
  static Files files;
  auto &made = files.made;
  auto it = made.find(count);
  if (it != made.end()) return it->second;
  const std::string file = Directory() + "/siblings" + std::to_string(count) + ".img";
  Ehfa_File *f = ehfa_FileCreate(file.c_str(), nullptr, nullptr);
  const Emif_Design *design = emif_DesignCreate(f->dictionary, "Num", nullptr, EMIF_TYPE_S32, "value", 0);
  int32_t value = 0;
  ehfa_ObjectWrite(f, ":", "P", "Num", EHFA_LAST_CHILD, &value, design, nullptr);
  for (int64_t i = 0; i < count; ++i) {
    value = static_cast<int32_t>(i);
    ehfa_ObjectWrite(f, nullptr, Name(i).c_str(), "Num", i ? EHFA_NEXT : EHFA_LAST_CHILD, &value, design, nullptr);
  }
  ehfa_FileClose(f, nullptr);
  return made[count] = file;
}

void BM_SiblingWalk(benchmark::State &state) {
  const int64_t count = state.range(0);
  Ehfa_File *f = ehfa_FileOpen(Siblings(count).c_str(), "r", nullptr, nullptr);
  for (auto _ : state) {
    int64_t walked = 0;
    ehfa_EntrySeek(f, EHFA_PATH, ":P", nullptr);
    for (Ehfa_Entry *e = ehfa_EntrySeek(f, EHFA_FIRST_CHILD, nullptr, nullptr); e;
         e = ehfa_EntrySeek(f, EHFA_NEXT, nullptr, nullptr))
      ++walked;
    if (walked != count) state.SkipWithError("the walk missed siblings");
  }
  state.SetItemsProcessed(state.iterations() * count);
  ehfa_FileClose(f, nullptr);
}

void BM_SiblingLookups(benchmark::State &state) {
  const int64_t count = state.range(0);
  Ehfa_File *f = ehfa_FileOpen(Siblings(count).c_str(), "r", nullptr, nullptr);
  for (auto _ : state) {
    int64_t found = 0;
    for (int64_t i = 0; i < count; ++i)
      found += ehfa_EntryPeek(f, EHFA_PATH_PEEK, (":P:" + Name(i)).c_str(), nullptr) != nullptr;
    if (found != count) state.SkipWithError("lookups missed siblings");
  }
  state.SetItemsProcessed(state.iterations() * count);
  ehfa_FileClose(f, nullptr);
}

// The same jobs through SQLite's own statements.
void BM_SqliteSiblingWalk(benchmark::State &state) {
  const int64_t count = state.range(0);
  sqlite3 *db = nullptr;
  sqlite3_open_v2(Siblings(count).c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt *walk = nullptr;
  sqlite3_prepare_v2(db, "SELECT e.id, e.name FROM entry e, entry p WHERE p.parent = 1 AND p.name = 'P' "
                         "AND e.parent = p.id ORDER BY e.seq, e.id", -1, &walk, nullptr);
  for (auto _ : state) {
    int64_t walked = 0;
    while (sqlite3_step(walk) == SQLITE_ROW) {
      benchmark::DoNotOptimize(sqlite3_column_text(walk, 1));
      ++walked;
    }
    sqlite3_reset(walk);
    if (walked != count) state.SkipWithError("the walk missed siblings");
  }
  state.SetItemsProcessed(state.iterations() * count);
  sqlite3_finalize(walk);
  sqlite3_close(db);
}

void BM_SqliteSiblingLookups(benchmark::State &state) {
  const int64_t count = state.range(0);
  sqlite3 *db = nullptr;
  sqlite3_open_v2(Siblings(count).c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt *lookup = nullptr;
  sqlite3_prepare_v2(db, "SELECT e.id FROM entry e, entry p WHERE p.parent = 1 AND p.name = 'P' "
                         "AND e.parent = p.id AND e.name = ?1", -1, &lookup, nullptr);
  for (auto _ : state) {
    int64_t found = 0;
    for (int64_t i = 0; i < count; ++i) {
      const std::string name = Name(i);
      sqlite3_bind_text(lookup, 1, name.c_str(), -1, SQLITE_STATIC);
      found += sqlite3_step(lookup) == SQLITE_ROW;
      sqlite3_reset(lookup);
    }
    if (found != count) state.SkipWithError("lookups missed siblings");
  }
  state.SetItemsProcessed(state.iterations() * count);
  sqlite3_finalize(lookup);
  sqlite3_close(db);
}

} // namespace

BENCHMARK(BM_SiblingWalk)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SiblingLookups)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteSiblingWalk)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteSiblingLookups)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
