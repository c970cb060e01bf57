// Block I/O of raster layers: a 4096 x 4096 layer (u8 and f32) written and read by 512 x 512
// windows, beside writing and reading the same bytes to a plain file (the floor: write with
// fsync, as the layer's commit syncs, and read back), and beside SQLite alone reading the same
// blocks of the same file (the floor a file of the database can reach: the blocks of each
// window found with one query under one read lock, each read with the database's blob reads
// into a block of memory and copied into the window, as a layer keeps blocks in its cache). The
// layers are measured with blocks of 64 and 128 pixels a side, in files of 4 KiB, 16 KiB and
// 64 KiB pages (the library makes files of 64 KiB pages; blocks of 128 pixels are its default).
// Each read opens the layer (or the database) anew, as a program reading an image does. The
// output ends with the ratios ours / the plain file and ours / SQLite alone of the median CPU
// times over --benchmark_repetitions (run with --benchmark_enable_random_interleaving=true to
// interleave them).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "eevg_bench_report.h"
#include "egda.h"
#include "ehfa.h"
#include "eimg.h"

namespace {

constexpr int32_t kSize = 4096;
constexpr int32_t kWindow = 512;

std::string Directory() {
  static const std::string dir = [] {
    char pattern[] = "/tmp/eimg_benchXXXXXX";
    return std::string(mkdtemp(pattern) ? pattern : "/tmp");
  }();
  return dir;
}

Egda_BaseData *Window(int32_t type) {
  Egda_BaseData *rect = eimg_PixelRectCreate(kWindow, kWindow, type, nullptr);
  for (int32_t i = 0; i < kWindow * kWindow * rect->elementSize; ++i) rect->data[i] = uint8_t(i * 31 + 7);
  return rect;
}

// An empty image file of that page size.
bool NewFile(const std::string &file, int32_t pageSize) {
  std::remove(file.c_str());
  Ehfa_File *f = ehfa_FileCreate(file.c_str(), nullptr, nullptr);
  if (!f) return false;
  ehfa_FileClose(f, nullptr);
  sqlite3 *db = nullptr;
  bool ok = sqlite3_open(file.c_str(), &db) == SQLITE_OK &&
            sqlite3_exec(db, ("PRAGMA page_size = " + std::to_string(pageSize) + "; VACUUM").c_str(), nullptr, nullptr,
                         nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

// The layer "Layer_1" of the file, written whole by windows.
void WriteLayer(const std::string &file, int32_t type, int32_t side, Egda_BaseData *rect, benchmark::State &state) {
  Eerr_ErrorReport *err = nullptr;
  const std::string name = file + "(:Layer_1)";
  Eimg_Layer *layer = eimg_LayerCreate(name.c_str(), 1, type, kSize, kSize, nullptr, &err, 2, side, side, 0);
  for (int32_t y = 0; y < kSize && layer; y += kWindow)
    for (int32_t x = 0; x < kSize; x += kWindow) eimg_LayerWrite(layer, x, y, kWindow, kWindow, rect, &err);
  eimg_LayerClose(layer, &err);
  if (!layer || err) state.SkipWithError("the layer could not be written");
  eerr_DeleteErrorReportEx(&err);
}

struct Layout {
  int32_t type; // EGDA_TYPE_U8 or EGDA_TYPE_F32
  int32_t side; // block side
  int32_t page; // page size of the file
};

void LayerWrite(benchmark::State &state, Layout layout) {
  Egda_BaseData *rect = Window(layout.type);
  const std::string file = Directory() + "/write.img";
  for (auto _ : state) {
    state.PauseTiming();
    if (!NewFile(file, layout.page)) state.SkipWithError("the file could not be made");
    state.ResumeTiming();
    WriteLayer(file, layout.type, layout.side, rect, state);
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kSize} * kSize * rect->elementSize);
  eimg_PixelRectDelete(rect, nullptr);
  std::remove(file.c_str());
}

void LayerRead(benchmark::State &state, Layout layout) {
  Egda_BaseData *rect = Window(layout.type);
  const std::string file = Directory() + "/read.img";
  if (!NewFile(file, layout.page)) state.SkipWithError("the file could not be made");
  WriteLayer(file, layout.type, layout.side, rect, state);
  const std::string name = file + "(:Layer_1)";
  for (auto _ : state) {
    Eerr_ErrorReport *err = nullptr;
    Eimg_Layer *layer = eimg_LayerOpen(name.c_str(), nullptr, &err, 0);
    for (int32_t y = 0; y < kSize && layer; y += kWindow)
      for (int32_t x = 0; x < kSize; x += kWindow) eimg_LayerRead(layer, x, y, kWindow, kWindow, rect, &err);
    benchmark::DoNotOptimize(rect->data[0]);
    eimg_LayerClose(layer, &err);
    if (!layer || err) state.SkipWithError("the layer could not be read");
    eerr_DeleteErrorReportEx(&err);
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kSize} * kSize * rect->elementSize);
  eimg_PixelRectDelete(rect, nullptr);
  std::remove(file.c_str());
}

// The same file's blocks read with SQLite's own calls: per window one query for its blocks (one
// read lock of the file), each block read by the blob handle into a block of memory and copied
// row by row into the window.
bool ReadWithSqlite(const std::string &file, int32_t side, int32_t elementSize, Egda_BaseData *rect,
                    std::vector<std::unique_ptr<uint8_t[]>> &blocks) {
  sqlite3 *db = nullptr;
  sqlite3_stmt *query = nullptr;
  sqlite3_blob *blob = nullptr;
  bool ok = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
            sqlite3_prepare_v2(db,
                               "SELECT row, col, rowid FROM block WHERE entry = (SELECT id FROM entry WHERE "
                               "name = 'Layer_1') AND row BETWEEN ?1 AND ?2 AND col BETWEEN ?3 AND ?4 "
                               "ORDER BY row, col",
                               -1, &query, nullptr) == SQLITE_OK;
  const int32_t per = kWindow / side;
  const std::size_t run = static_cast<std::size_t>(side) * static_cast<std::size_t>(elementSize);
  const int32_t bytes = side * side * elementSize;
  int32_t read = 0;
  for (int32_t wy = 0; wy < kSize / side && ok; wy += per)
    for (int32_t wx = 0; wx < kSize / side && ok; wx += per) {
      sqlite3_bind_int(query, 1, wy);
      sqlite3_bind_int(query, 2, wy + per - 1);
      sqlite3_bind_int(query, 3, wx);
      sqlite3_bind_int(query, 4, wx + per - 1);
      for (std::size_t i = 0; ok && sqlite3_step(query) == SQLITE_ROW; ++i, ++read) {
        ok = i < blocks.size();
        const sqlite3_int64 rowid = sqlite3_column_int64(query, 2);
        ok = ok && (blob ? sqlite3_blob_reopen(blob, rowid)
                   : sqlite3_blob_open(db, "main", "block", "data", rowid, 0, &blob)) == SQLITE_OK &&
             sqlite3_blob_bytes(blob) == bytes && sqlite3_blob_read(blob, blocks[i].get(), bytes, 0) == SQLITE_OK;
        const int32_t r = sqlite3_column_int(query, 0) - wy, c = sqlite3_column_int(query, 1) - wx;
        for (int32_t y = 0; y < side && ok; ++y)
          std::memcpy(rect->data + (static_cast<std::size_t>(r * side + y) * kWindow + static_cast<std::size_t>(c) * side) *
                                       static_cast<std::size_t>(elementSize),
                      blocks[i].get() + static_cast<std::size_t>(y) * run, run);
      }
      sqlite3_reset(query);
      sqlite3_blob_close(blob); // its read lock of the file with it, as a layer's window does
      blob = nullptr;
    }
  sqlite3_finalize(query);
  sqlite3_close(db);
  return ok && read == (kSize / side) * (kSize / side);
}

void SqliteRead(benchmark::State &state, Layout layout) {
  Egda_BaseData *rect = Window(layout.type);
  const std::string file = Directory() + "/sqlite.img";
  if (!NewFile(file, layout.page)) state.SkipWithError("the file could not be made");
  WriteLayer(file, layout.type, layout.side, rect, state);
  const int32_t per = kWindow / layout.side;
  std::vector<std::unique_ptr<uint8_t[]>> blocks(static_cast<std::size_t>(per * per));
  for (auto &block : blocks)
    block = std::make_unique<uint8_t[]>(static_cast<std::size_t>(layout.side * layout.side * rect->elementSize));
  for (auto _ : state) {
    if (!ReadWithSqlite(file, layout.side, rect->elementSize, rect, blocks)) state.SkipWithError("SQLite failed");
    benchmark::DoNotOptimize(rect->data[0]);
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kSize} * kSize * rect->elementSize);
  eimg_PixelRectDelete(rect, nullptr);
  std::remove(file.c_str());
}

// The floor: the layer's bytes written to a plain file in 512-pixel rows of windows and synced,
// then read back the same way.
void PlainFileWrite(benchmark::State &state, int32_t elementSize) {
  const int64_t bytes = int64_t{kSize} * kSize * elementSize;
  std::vector<uint8_t> chunk(static_cast<std::size_t>(bytes / (kSize / kWindow) / (kSize / kWindow)), 7);
  const std::string file = Directory() + "/plain.bin";
  for (auto _ : state) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (int i = 0; i < (kSize / kWindow) * (kSize / kWindow); ++i)
      if (::write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size())) state.SkipWithError("write");
    ::fsync(fd);
    ::close(fd);
  }
  state.SetBytesProcessed(state.iterations() * bytes);
  std::remove(file.c_str());
}

void PlainFileRead(benchmark::State &state, int32_t elementSize) {
  const int64_t bytes = int64_t{kSize} * kSize * elementSize;
  std::vector<uint8_t> chunk(static_cast<std::size_t>(bytes / (kSize / kWindow) / (kSize / kWindow)), 7);
  const std::string file = Directory() + "/plain.bin";
  {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (int i = 0; i < (kSize / kWindow) * (kSize / kWindow); ++i)
      if (::write(fd, chunk.data(), chunk.size()) < 0) state.SkipWithError("write");
    ::close(fd);
  }
  for (auto _ : state) {
    const int fd = ::open(file.c_str(), O_RDONLY);
    for (int i = 0; i < (kSize / kWindow) * (kSize / kWindow); ++i)
      if (::read(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size())) state.SkipWithError("read");
    benchmark::DoNotOptimize(chunk[0]);
    ::close(fd);
  }
  state.SetBytesProcessed(state.iterations() * bytes);
  std::remove(file.c_str());
}

} // namespace

// Names: Write|Read / pixel type / block side / page size / Layer|SQLite, and Write|Read / pixel
// type / Plain.
int main(int argc, char **argv) {
  using taviron::bench::RatioRow;
  struct Type {
    int32_t code;
    const char *name;
    int32_t size;
  };
  const Type types[] = {{EGDA_TYPE_U8, "u8", 1}, {EGDA_TYPE_F32, "f32", 4}};
  std::vector<RatioRow> rows;
  for (const Type &type : types)
    for (int32_t side : {64, 128})
      for (int32_t page : {4096, 16384, 65536}) {
        const std::string stem = std::string(type.name) + "/" + std::to_string(side) + "/" + std::to_string(page);
        const Layout layout{type.code, side, page};
        benchmark::RegisterBenchmark(("Write/" + stem + "/Layer").c_str(), LayerWrite, layout)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Read/" + stem + "/Layer").c_str(), LayerRead, layout)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Read/" + stem + "/SQLite").c_str(), SqliteRead, layout)
            ->Unit(benchmark::kMillisecond);
        const std::string label = std::string(type.name) + ", " + std::to_string(side) + " px blocks, " +
                                  std::to_string(page / 1024) + " KiB pages";
        rows.push_back({"write " + label, "Write/" + stem + "/Layer", {"Write/" + std::string(type.name) + "/Plain"}});
        rows.push_back({"read " + label, "Read/" + stem + "/Layer",
                        {"Read/" + std::string(type.name) + "/Plain", "Read/" + stem + "/SQLite"}});
      }
  for (const Type &type : types) {
    benchmark::RegisterBenchmark(("Write/" + std::string(type.name) + "/Plain").c_str(), PlainFileWrite, type.size)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("Read/" + std::string(type.name) + "/Plain").c_str(), PlainFileRead, type.size)
        ->Unit(benchmark::kMillisecond);
  }
  const int status = taviron::bench::RunWithRatios(argc, argv, {"plain file", "SQLite alone"}, rows,
                                                   {.peer = "the plain file and SQLite alone", .cpuTime = true});
  ::rmdir(Directory().c_str()); // each benchmark removed its files
  return status;
}
