// Block I/O of raster layers: a 4096 x 4096 layer (u8 and f32) written and read by 512 x 512
// windows, beside writing and reading the same bytes to a plain file (the floor: write with
// fsync, as the layer's commit syncs, and read back). The layers are measured with blocks of 64
// and 128 pixels a side, in files of 4 KiB, 16 KiB and 64 KiB pages.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

// Arguments: pixel type (3 u8, 9 f32), block side, page size.
void BM_LayerWrite(benchmark::State &state) {
  const int32_t type = static_cast<int32_t>(state.range(0));
  const int32_t side = static_cast<int32_t>(state.range(1));
  const int32_t page = static_cast<int32_t>(state.range(2));
  Egda_BaseData *rect = Window(type);
  const std::string file = Directory() + "/write.img";
  for (auto _ : state) {
    state.PauseTiming();
    if (!NewFile(file, page)) state.SkipWithError("the file could not be made");
    state.ResumeTiming();
    WriteLayer(file, type, side, rect, state);
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kSize} * kSize * rect->elementSize);
  eimg_PixelRectDelete(rect, nullptr);
  std::remove(file.c_str());
}

void BM_LayerRead(benchmark::State &state) {
  const int32_t type = static_cast<int32_t>(state.range(0));
  const int32_t side = static_cast<int32_t>(state.range(1));
  const int32_t page = static_cast<int32_t>(state.range(2));
  Egda_BaseData *rect = Window(type);
  const std::string file = Directory() + "/read.img";
  if (!NewFile(file, page)) state.SkipWithError("the file could not be made");
  WriteLayer(file, type, side, rect, state);
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

// The floor: the layer's bytes written to a plain file in 512-pixel rows of windows and synced,
// then read back the same way.
void BM_PlainFileWrite(benchmark::State &state) {
  const int64_t bytes = int64_t{kSize} * kSize * state.range(0);
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

void BM_PlainFileRead(benchmark::State &state) {
  const int64_t bytes = int64_t{kSize} * kSize * state.range(0);
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

// Layers: pixel type (3 u8, 9 f32) x block side x page size; plain files: bytes per pixel.
BENCHMARK(BM_LayerWrite)
    ->ArgsProduct({{EGDA_TYPE_U8, EGDA_TYPE_F32}, {64, 128}, {4096, 16384, 65536}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainFileWrite)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LayerRead)
    ->ArgsProduct({{EGDA_TYPE_U8, EGDA_TYPE_F32}, {64, 128}, {4096, 16384, 65536}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainFileRead)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);
