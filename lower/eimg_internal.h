// Raster layers: what the units of the family share (the open files, the layer's private part,
// options, opening and closing layers, moving windows). Not part of the C interface.
#ifndef TAVIRON_LOWER_EIMG_INTERNAL_H
#define TAVIRON_LOWER_EIMG_INTERNAL_H

#include <complex>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "eimg.h"
#include "emet.h"

namespace taviron::eimg {

inline constexpr const char *kLayerDesignName = "Eimg_Layer";
inline constexpr int32_t kMaxBlockSide = 4096;
inline constexpr int64_t kMaxBlockBytes = int64_t{16} << 20;
// The block cache of a layer keeps at least 64 blocks and twice the blocks of the last window,
// within 64 MiB (fewer blocks when blocks are large, one at least).
inline constexpr std::size_t kMinCachedBlocks = 64;
inline constexpr std::size_t kCacheBytes = std::size_t{64} << 20;
// Largest source window one resampled segment reads at once (pixels).
inline constexpr int64_t kMaxResampleWindow = int64_t{1} << 20;

inline bool ValidLayerType(int32_t type) { return type >= EIMG_THEMATIC && type <= EIMG_FFT_OF_REAL_DATA; }
inline bool ValidPixelType(int32_t type) { return type >= EGDA_TYPE_U1 && type <= EGDA_TYPE_C128; }
inline int64_t CeilDiv(int64_t a, int64_t b) { return (a + b - 1) / b; }
inline bool IsComplexType(int32_t type) { return type == EGDA_TYPE_C64 || type == EGDA_TYPE_C128; }

// ---- Image files shared by the layers open on them ----

struct SharedFile {
  std::string key;
  Ehfa_File *file = nullptr;
  int32_t users = 0;
  std::mutex mutex; // one call into the file at a time
};

// The open file of that name, opened (or, with create, created) when no layer holds it yet.
SharedFile *Acquire(const std::string &name, bool create, Eint_InitToolkitData *init, const char *reporter,
                    Eerr_ErrorReport **err);
// Gives the file back; the last user closes it (committing). False with a report when the
// commit failed.
bool Release(SharedFile *shared, const char *reporter, Eerr_ErrorReport **err);

// Releases on scope exit unless kept.
struct FileHold {
  SharedFile *shared = nullptr;
  ~FileHold() { Release(shared, "", nullptr); }
  SharedFile *Keep() { return std::exchange(shared, nullptr); }
};

// Ends a change to the shared file (the caller holds its mutex): commits it when ok, else drops
// it, so that no change waits in the file for another layer's commit. False with a report when
// the commit failed.
bool EndChange(SharedFile *shared, bool ok, const char *reporter, int32_t code, Eerr_ErrorReport **err);

// ---- Names ----

struct LayerName {
  std::string file;
  std::string node; // node path with its leading ":"; empty when the name has none
};

bool ParseName(const char *name, LayerName &out, const char *reporter, int32_t code, Eerr_ErrorReport **err);
// The parent path and the last node name of a node path.
void SplitNode(const std::string &node, std::string &parent, std::string &last);

// ---- The open layer's private part ----

struct CachedBlock {
  std::unique_ptr<uint8_t[]> data;
  bool dirty = false;
  std::list<int64_t>::iterator position;
};

// The changed blocks a layer's cache had to let go of before the layer's flush: they reach the
// image file only with the flush, so they wait in a file of their own, without a name (the
// system removes it when it is closed, or when the process ends), in the image file's directory
// when it can hold one (else in the temporary directory). Blocks are all the same size; freed
// places are used again. The calls return false with errno set.
class SpillFile {
public:
  SpillFile(std::string directory, std::size_t blockBytes)
      : directory_(std::move(directory)), blockBytes_(blockBytes) {}
  ~SpillFile();
  SpillFile(const SpillFile &) = delete;
  SpillFile &operator=(const SpillFile &) = delete;

  bool Holds(int64_t key) const { return places_.count(key) != 0; }
  bool Empty() const { return places_.empty(); }
  // The keys of the blocks kept, in increasing order.
  std::vector<int64_t> Keys() const;
  // Keeps (or replaces) the block's bytes.
  bool Put(int64_t key, const uint8_t *data);
  // Copies the block's bytes out (it stays kept).
  bool Get(int64_t key, uint8_t *data) const;
  // Forgets one block, or all.
  void Drop(int64_t key);
  void Clear();

private:
  bool Open();

  std::string directory_;
  std::size_t blockBytes_;
  int fd_ = -1;
  std::unordered_map<int64_t, int64_t> places_; // block key -> place in the file
  std::vector<int64_t> free_;
  int64_t used_ = 0; // places handed out
};

enum class Method { Nearest, Bilinear, Cubic };

struct LayerState {
  SharedFile *shared = nullptr;
  int64_t entry = 0; // 0 while the layer replaces another (no stored block is its own yet)
  // Made over an existing layer of its node: the file holds the old layer, whole, until the
  // first change this layer commits (its flush or close, a record written below it) replaces it
  // in the same transaction (ReplaceStoredLayer).
  bool replacing = false;
  std::string node;                     // the layer's node path in its file
  std::string directory;                // the directory of its file
  Eint_InitToolkitData *init = nullptr; // the toolkit record it was opened with
  int32_t elementSize = 0;
  std::size_t blockBytes = 0;
  std::complex<double> boundary{0, 0};
  _exfr_XForm *transform = nullptr;
  Method method = Method::Nearest;
  Emet_MeterInfo *meter = nullptr;
  Egda_BaseData *excluded = nullptr;
  int32_t outputOption = 0;
  std::unordered_map<int64_t, CachedBlock> cache;
  std::list<int64_t> recency; // most recent first
  std::size_t capacity = kMinCachedBlocks;
  std::unique_ptr<SpillFile> spill; // changed blocks out of the cache, until the flush
};

inline LayerState &StateOf(const Eimg_Layer *layer) { return *static_cast<LayerState *>(layer->internal); }

// A layer with its private part (code 1 otherwise).
bool Usable(const Eimg_Layer *layer, const char *reporter, Eerr_ErrorReport **err);
// Writes the layer's changed blocks to the file and commits them, as one unit (on the meter when
// asked); on failure nothing of them reaches the file and they stay changed.
bool FlushBlocks(Eimg_Layer *layer, bool meter, const char *reporter, Eerr_ErrorReport **err);

// ---- Options ----

struct Option {
  int32_t code = 0;
  int32_t a = 0, b = 0;
  void *p = nullptr, *q = nullptr;
  const char *s = nullptr;
};

// Reads the option list; false with a report at an unknown keyword.
bool ParseOptions(va_list ap, std::vector<Option> &options, const char *reporter, int32_t code,
                  Eerr_ErrorReport **err);
bool ApplyOptions(Eimg_Layer *layer, const std::vector<Option> &options, const char *reporter, int32_t code,
                  Eerr_ErrorReport **err);
void FreeRenderContext(Eimg_Layer *layer);

// ---- Layers ----

void FreeLayer(Eimg_Layer *layer);
Eimg_Layer *OpenLayer(const char *name, Eint_InitToolkitData *init, const std::vector<Option> &options,
                      const char *reporter, Eerr_ErrorReport **err);
Eimg_Layer *CreateLayer(const char *name, int32_t layerType, int32_t pixelType, int32_t width, int32_t height,
                        Eint_InitToolkitData *init, const std::vector<Option> &options, const char *reporter,
                        Eerr_ErrorReport **err);
// For a layer that replaces another: writes its record over the old layer's in the file's open
// transaction (the caller holds the file's mutex), the old layer's blocks and nodes gone, and
// gives the layer its entry; the caller's change follows in the same transaction, and after
// EndChange the caller calls EndReplacing. True without a change for any other layer; false
// with a report.
bool ReplaceStoredLayer(Eimg_Layer *layer, const char *reporter, int32_t code, Eerr_ErrorReport **err);
// A replacement committed is done; one that was not is still to be made.
void EndReplacing(Eimg_Layer *layer, bool committed);
// Writes back, gives the file back and frees the layer; false with a report.
bool CloseLayer(Eimg_Layer *layer, const char *reporter, Eerr_ErrorReport **err);
// Moves a window between the layer and a pixel rectangle: 0, or -1 with a report. `direct`
// reads past the read transform.
int32_t ReadWindow(Eimg_Layer *layer, int32_t column, int32_t row, int32_t width, int32_t height, Egda_BaseData *rect,
                   bool direct, const char *reporter, Eerr_ErrorReport **err);
int32_t WriteWindow(Eimg_Layer *layer, int32_t column, int32_t row, int32_t width, int32_t height,
                    const Egda_BaseData *rect, const char *reporter, Eerr_ErrorReport **err);

} // namespace taviron::eimg

#endif
