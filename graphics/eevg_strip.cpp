// The strip file of device type 1. While a drawing draws, every run, dot and anti-aliased pixel is
// recorded with its colour in a temporary file, cut into horizontal strips of the image; when the
// drawing ends the file is burnt into the target strip by strip through getBlock and putBlock.
//
// File layout (little-endian, packed): a 152-byte header, a directory of 12 bytes per strip,
// then record blocks as strip buffers are flushed and, at release, one block list per strip.
#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>
#include <vector>

#include "eevg.h"
#include "eevg_htf.h"
#include "eevg_internal.h"
#include "efio.h"
#include "emsc.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace {

constexpr int32_t kHeaderSize = 152;
constexpr int32_t kDirectoryEntrySize = 12;
constexpr int32_t kListEntrySize = 8;
constexpr int32_t kTextSize = 128;
constexpr int32_t kColourRecord = 4;
constexpr int32_t kLargestFixedRecord = 7;
constexpr int32_t kCreateMode = 770;

// One block written for a strip: where it lies in the file and its length.
struct HtfBlock {
  uint32_t offset;
  uint16_t length;
};

struct HtfStrip {
  uint8_t *buffer;
  int32_t fill;
  int32_t colour[3]; // the colour in force at the end of the buffer, while it is not empty
  HtfBlock *blocks;
  int32_t blockCount;
  int32_t blockCapacity;
};

void Put16(uint8_t *at, int32_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}
void Put32(uint8_t *at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}
int32_t Get16(const uint8_t *at) { return at[0] | (at[1] << 8); }
uint32_t Get32(const uint8_t *at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
         static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

// The open files of the wrappers, by handle.
std::mutex fileMutex;
std::vector<FILE *> files;

FILE *FileOf(int32_t handle) {
  std::lock_guard<std::mutex> lock(fileMutex);
  if (handle < 0 || static_cast<std::size_t>(handle) >= files.size()) return nullptr;
  return files[handle];
}

} // namespace

// The writer's control record.
struct Eevg_HtfControl {
  uint8_t header[kHeaderSize];
  uint8_t *directory;
  int32_t handle;
  int32_t directorySize;
  HtfStrip *strips;
  int32_t stripCount;
  int32_t current;
  int32_t previous;
  int32_t colour[3];
  int32_t stripRows;
  int32_t bufferSize;
  int32_t threshold;
  int32_t width;
  int32_t height;
  int32_t bandCount;
};

extern "C" {

int32_t eevg_Open(const char *name, int32_t mode) try {
  if (!name) return -1;
  FILE *file = efio_Open(name, mode == kCreateMode ? "w+b" : "rb", nullptr);
  if (!file) return -1;
  std::lock_guard<std::mutex> lock(fileMutex);
  auto slot = std::find(files.begin(), files.end(), nullptr);
  if (slot != files.end()) {
    *slot = file;
    return static_cast<int32_t>(slot - files.begin());
  }
  if (files.size() >= static_cast<std::size_t>(INT32_MAX)) {
    efio_Close(file, nullptr);
    return -1;
  }
  files.push_back(file);
  return static_cast<int32_t>(files.size() - 1);
} TAVIRON_GUARD_QUIET(-1)

int32_t eevg_Close(int32_t handle) try {
  FILE *file = nullptr;
  {
    std::lock_guard<std::mutex> lock(fileMutex);
    if (handle < 0 || static_cast<std::size_t>(handle) >= files.size() || !files[handle]) return -1;
    file = files[handle];
    files[handle] = nullptr;
  }
  return efio_Close(file, nullptr) == 0 ? 0 : -1;
} TAVIRON_GUARD_QUIET(-1)

int32_t eevg_Read(int32_t handle, void *buffer, int32_t count) try {
  FILE *file = FileOf(handle);
  if (!file || !buffer || count < 0) return -1;
  return efio_ReadSeq(file, buffer, count, nullptr);
} TAVIRON_GUARD_QUIET(-1)

int32_t eevg_Write(int32_t handle, const void *buffer, int32_t count) try {
  FILE *file = FileOf(handle);
  if (!file || !buffer || count < 0) return -1;
  // Written through at once, so that a failure is seen by the write that caused it.
  const int32_t written = efio_WriteSeq(file, buffer, count, nullptr);
  if (written < 0 || efio_Flush(file, nullptr) != 0) return -1;
  return written;
} TAVIRON_GUARD_QUIET(-1)

int32_t eevg_Lseek(int32_t handle, int32_t offset, int32_t whence) try {
  FILE *file = FileOf(handle);
  if (!file || (whence != 0 && whence != 1 && whence != 2)) return -1;
  const int64_t position = efio_Seek(file, offset, whence, nullptr);
  return position < 0 || position > INT32_MAX ? -1 : static_cast<int32_t>(position);
} TAVIRON_GUARD_QUIET(-1)

} // extern "C"

namespace {

void FreeControlParts(Eevg_HtfControl *control) {
  if (control->handle >= 0) eevg_Close(control->handle);
  control->handle = -1;
  if (control->strips) {
    for (int32_t i = 0; i < control->stripCount; ++i) {
      emsc_HeapFree(control->strips[i].buffer);
      emsc_HeapFree(control->strips[i].blocks);
    }
  }
  emsc_HeapFree(control->strips);
  control->strips = nullptr;
  emsc_HeapFree(control->directory);
  control->directory = nullptr;
}

// Writes count bytes at the end of the file; the offset where they start, or -1. The file is
// kept below 2 GiB so that every offset fits the directory's fields.
int64_t Append(Eevg_HtfControl *control, const void *bytes, int32_t count) {
  const int32_t end = eevg_Lseek(control->handle, 0, 2);
  if (end < 0 || end > INT32_MAX - count) return -1;
  if (count > 0 && eevg_Write(control->handle, bytes, count) != count) return -1;
  return end;
}

// Appends one record to the strip of `row`, flushing the strip first when it is full.
int32_t AppendRecord(Eevg_HtfControl *control, const char *reporter, const char *failure,
                     uint8_t type, int32_t x, int32_t row, int32_t count, const uint8_t *coverage,
                     int32_t stride, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!control || !control->strips) {
    lower::Report(err, reporter, 1, "Invalid grid structure");
    return -1;
  }
  // The pixel writers clip to the image; what still lies outside is not recorded.
  if (row < 0 || row >= control->height || count <= 0) return 0;
  if (x < 0) {
    const int64_t skipped = -static_cast<int64_t>(x);
    if (skipped >= count) return 0;
    count -= static_cast<int32_t>(skipped);
    if (coverage) coverage += skipped * stride;
    x = 0;
  }
  if (x >= control->width) return 0;
  count = static_cast<int32_t>(std::min<int64_t>(count, control->width - x));

  const int32_t strip = row / control->stripRows;
  control->previous = control->current;
  control->current = strip;
  HtfStrip &entry = control->strips[strip];
  const int32_t limit = type == 4 ? control->threshold - count : control->threshold;
  if (entry.fill > 0 && entry.fill >= limit) {
    if (taviron::graphics::eevg_WriteStripBuffer(control, strip, nullptr) != 0) {
      lower::Report(err, reporter, 2, "%s", failure);
      return -1;
    }
  }
  if (strip != control->previous || entry.fill == 0 ||
      !std::equal(entry.colour, entry.colour + 3, control->colour))
    taviron::graphics::eevg_StoreColor(control, control->colour);

  uint8_t *at = entry.buffer + entry.fill;
  at[0] = type;
  Put16(at + 1, x);
  Put16(at + 3, row);
  int32_t length = 5;
  if (type == 2 || type == 4) {
    Put16(at + 5, count);
    length = 7;
  }
  if (type == 5) at[length++] = coverage[0];
  if (type == 4)
    for (int32_t k = 0; k < count; ++k) at[length++] = coverage[static_cast<int64_t>(k) * stride];
  entry.fill += length;
  return 0;
}

// The burn-in's view of the file.
struct BurnIn {
  int32_t handle = -1;
  uint8_t header[kHeaderSize];
  uint8_t *directory = nullptr;
  uint8_t *list = nullptr;
  uint8_t *block = nullptr;
  uint8_t *strip = nullptr;
};

void DeleteRect(Eevg_RGBPixelRect *&rect) {
  if (!rect) return;
  eimg_PixelRectDelete(rect->red, nullptr);
  eimg_PixelRectDelete(rect->green, nullptr);
  eimg_PixelRectDelete(rect->blue, nullptr);
  eevg_RGBPixelRectFree(&rect);
}

// The planes of a block rectangle, or false when one is missing or too small.
bool Planes(Eevg_RGBPixelRect *rect, int32_t planeCount, int32_t columns, int32_t rows,
            Egda_BaseData *planes[3]) {
  if (!rect) return false;
  planes[0] = rect->red;
  planes[1] = rect->green;
  planes[2] = rect->blue;
  for (int32_t p = 0; p < planeCount; ++p) {
    const Egda_BaseData *plane = planes[p];
    if (!plane || !plane->origin || plane->elementSize != 1 || plane->objectType != EGDA_RASTER ||
        plane->columns < columns || plane->rows < rows || plane->pitch < columns)
      return false;
  }
  return true;
}

// Reads the block list of the strip into burn->list; the number of blocks, or -1 with a report.
int32_t InitHTFStrips(BurnIn *burn, int32_t strip, int32_t fileSize, Eerr_ErrorReport **err) {
  static const char *reporter = "InitHTFStrips";
  const uint8_t *entry = burn->directory + static_cast<std::size_t>(strip) * kDirectoryEntrySize;
  const int32_t blockCount = Get16(entry + 8);
  if (blockCount == 0) return 0;
  emsc_HeapFree(burn->list);
  burn->list = static_cast<uint8_t *>(emsc_HeapMalloc(static_cast<std::size_t>(blockCount) * kListEntrySize));
  if (!burn->list) {
    lower::Report(err, reporter, 1, "Out of memory for LDir structure");
    return -1;
  }
  const uint32_t listOffset = Get32(entry);
  const int32_t bytes = blockCount * kListEntrySize;
  if (listOffset > static_cast<uint32_t>(fileSize) || eevg_Lseek(burn->handle, static_cast<int32_t>(listOffset), 0) < 0 ||
      eevg_Read(burn->handle, burn->list, bytes) != bytes) {
    lower::Report(err, reporter, 2, "Error reading HTF file");
    return -1;
  }
  if (!burn->block) {
    burn->block = static_cast<uint8_t *>(emsc_HeapMalloc(static_cast<std::size_t>(Get16(burn->header + 22)) + 1));
    if (!burn->block) {
      lower::Report(err, reporter, 3, "Out of memory for HTF strip buffer");
      return -1;
    }
  }
  return blockCount;
}

// Applies one block's records to the image strip (rows firstRow to firstRow + rows - 1, bands
// of width bytes side by side in each row of stride bytes). Records are clipped to the strip's
// rows and the image's columns; false when a record runs past the end of the block.
bool ApplyBlock(const uint8_t *data, int32_t length, int32_t firstRow, int32_t rows, int32_t width,
                int32_t bands, int32_t stride, uint8_t *strip, uint8_t colour[3]) {
  static const int32_t fixedLength[6] = {1, 4, 7, 5, 7, 6};
  int32_t at = 0;
  while (at < length) {
    const uint8_t type = data[at];
    if (type < 1 || type > 5) {
      ++at;
      continue;
    }
    if (length - at < fixedLength[type]) return false;
    const uint8_t *record = data + at;
    if (type == 1) {
      colour[0] = record[1];
      colour[1] = record[2];
      colour[2] = record[3];
      at += 4;
      continue;
    }
    int32_t count = type == 2 || type == 4 ? Get16(record + 5) : 1;
    const uint8_t *coverage = type == 4 ? record + 7 : type == 5 ? record + 5 : nullptr;
    const int32_t recordLength = type == 4 ? 7 + count : fixedLength[type];
    if (length - at < recordLength) return false;
    at += recordLength;
    const int32_t x = Get16(record + 1);
    const int32_t row = Get16(record + 3) - firstRow;
    if (row < 0 || row >= rows || x >= width) continue;
    count = std::min(count, width - x);
    uint8_t *pixels = strip + static_cast<std::size_t>(row) * stride + x;
    for (int32_t k = 0; k < count; ++k) {
      const int32_t a = coverage ? coverage[type == 4 ? k : 0] : 255;
      for (int32_t b = 0; b < bands; ++b) {
        uint8_t &pixel = pixels[static_cast<std::size_t>(b) * width + k];
        pixel = a == 255 ? colour[b] : static_cast<uint8_t>((pixel * (255 - a) + colour[b] * a) / 255);
      }
    }
  }
  return true;
}

} // namespace

namespace taviron::graphics {

Eevg_HtfControl *eevg_HtfInit(const char *text, const char *fileName, int32_t width,
                              int32_t height, int32_t bandCount, const int32_t *stripRows,
                              const int32_t *bufferSize, const int32_t *antiAlias,
                              Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_HtfInit";
  lower::Clear(err);
  // Every field is 16-bit, and a run across the whole image must fit an empty buffer with its
  // colour record.
  if (!fileName || !stripRows || !bufferSize || width < 1 || width > 65535 || height < 1 ||
      height > 65535 || (bandCount != 1 && bandCount != 3) || *stripRows < 1 ||
      height + *stripRows - 1 > 65535 || *bufferSize > 65535 ||
      *bufferSize < width + kColourRecord + kLargestFixedRecord) {
    lower::Report(err, reporter, 1, "Invalid strip file description");
    return nullptr;
  }
  auto *control = static_cast<Eevg_HtfControl *>(emsc_HeapMalloc(sizeof(Eevg_HtfControl)));
  if (!control) {
    lower::Report(err, reporter, 2, "Unable to allocate grid structure");
    return nullptr;
  }
  control->handle = -1;
  control->current = control->previous = -1;
  control->colour[0] = control->colour[1] = control->colour[2] = -1;
  control->stripRows = *stripRows;
  control->bufferSize = *bufferSize;
  control->threshold = *bufferSize - (kColourRecord + kLargestFixedRecord);
  control->width = width;
  control->height = height;
  control->bandCount = bandCount;
  control->stripCount = (height + *stripRows - 1) / *stripRows;

  uint8_t *h = control->header;
  Put16(h + 0, width);
  Put16(h + 2, height);
  Put16(h + 4, control->stripCount);
  Put16(h + 6, *stripRows);
  Put16(h + 8, bandCount);
  Put16(h + 20, antiAlias ? *antiAlias : 0);
  Put16(h + 22, *bufferSize);
  if (text) {
    const std::size_t length = strnlen(text, kTextSize);
    std::memcpy(h + 24, text, length);
  }

  control->directorySize = control->stripCount * kDirectoryEntrySize;
  control->directory = static_cast<uint8_t *>(emsc_HeapMalloc(control->directorySize));
  if (!control->directory) {
    emsc_HeapFree(control);
    lower::Report(err, reporter, 3, "Unable to allocate grid directory structure");
    return nullptr;
  }
  control->strips = static_cast<HtfStrip *>(emsc_HeapMalloc(sizeof(HtfStrip) * control->stripCount));
  if (!control->strips) {
    FreeControlParts(control);
    emsc_HeapFree(control);
    lower::Report(err, reporter, 4, "Unable to allocate grid MDIR structure");
    return nullptr;
  }
  for (int32_t i = 0; i < control->stripCount; ++i) {
    uint8_t *entry = control->directory + static_cast<std::size_t>(i) * kDirectoryEntrySize;
    const int32_t firstRow = i * *stripRows;
    Put16(entry + 4, firstRow);
    Put16(entry + 6, std::min(*stripRows, height - firstRow));
    control->strips[i].buffer = static_cast<uint8_t *>(emsc_HeapMalloc(*bufferSize));
    if (!control->strips[i].buffer) {
      FreeControlParts(control);
      emsc_HeapFree(control);
      lower::Report(err, reporter, 5, "Unable to allocate grid strips structure");
      return nullptr;
    }
  }

  control->handle = eevg_Open(fileName, kCreateMode);
  if (control->handle < 0) {
    FreeControlParts(control);
    emsc_HeapFree(control);
    lower::Report(err, reporter, 6, "Unable to create %s", fileName);
    return nullptr;
  }
  int32_t code = 0;
  const char *message = nullptr;
  if (eevg_Write(control->handle, control->header, kHeaderSize) != kHeaderSize) {
    code = 7;
    message = "Error writing HTF file header";
  } else if (eevg_Write(control->handle, control->directory, control->directorySize) !=
             control->directorySize) {
    code = 8;
    message = "Error writing HTF file directory";
  }
  if (code) {
    FreeControlParts(control);
    emsc_HeapFree(control);
    efio_FileUnlink(fileName, nullptr);
    lower::Report(err, reporter, code, "%s", message);
    return nullptr;
  }
  return control;
}

void eevg_HtfColor(Eevg_HtfControl *control, const Eevg_DeviceColor &colour) {
  if (!control) return;
  // The colour record is written with the next record of a strip whose buffer holds another
  // colour, so a buffer never holds a colour record that nothing uses.
  if (control->bandCount == 3) {
    control->colour[0] = colour.red;
    control->colour[1] = colour.green;
    control->colour[2] = colour.blue;
  } else {
    control->colour[0] = colour.index;
  }
}

void eevg_StoreColor(Eevg_HtfControl *control, const int32_t *colour) {
  if (!control || !control->strips || !colour || control->current < 0) return;
  HtfStrip &entry = control->strips[control->current];
  if (entry.fill + kColourRecord > control->bufferSize) return;
  uint8_t *at = entry.buffer + entry.fill;
  at[0] = 1;
  for (int i = 0; i < 3; ++i) {
    at[1 + i] = static_cast<uint8_t>(colour[i]);
    entry.colour[i] = colour[i];
  }
  entry.fill += kColourRecord;
}

int32_t eevg_WriteStripBuffer(Eevg_HtfControl *control, int32_t strip, Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_WriteStripBuffer";
  lower::Clear(err);
  if (!control || !control->strips || strip < 0 || strip >= control->stripCount) {
    lower::Report(err, reporter, 1, "Invalid grid structure");
    return -1;
  }
  HtfStrip &entry = control->strips[strip];
  if (entry.fill == 0) return 0;
  // The records of a buffer that cannot be written or listed are lost; the buffer starts again.
  const int32_t length = entry.fill;
  entry.fill = 0;
  if (entry.blockCount >= 65535) {
    lower::Report(err, reporter, 2, "Too many blocks in HTF strip");
    return -1;
  }
  if (entry.blockCount == entry.blockCapacity) {
    const int32_t capacity = std::min(65535, std::max(16, entry.blockCapacity * 2));
    void *grown = emsc_HeapRealloc(entry.blocks, sizeof(HtfBlock) * capacity);
    if (!grown) {
      lower::Report(err, reporter, 3, "Out of memory for MListDir structure");
      return -1;
    }
    entry.blocks = static_cast<HtfBlock *>(grown);
    entry.blockCapacity = capacity;
  }
  const int64_t offset = Append(control, entry.buffer, length);
  if (offset < 0) {
    lower::Report(err, reporter, 4, "Error writing HTF file strip");
    return -1;
  }
  entry.blocks[entry.blockCount++] = {static_cast<uint32_t>(offset), static_cast<uint16_t>(length)};
  Put16(control->directory + static_cast<std::size_t>(strip) * kDirectoryEntrySize + 8, entry.blockCount);
  return 0;
}

int32_t eevg_HtfRelease(Eevg_HtfControl *control, Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_HtfRelease";
  lower::Clear(err);
  if (!control || !control->strips || control->handle < 0) {
    lower::Report(err, reporter, 1, "Invalid grid structure");
    return -1;
  }
  int32_t result = 0;
  for (int32_t i = 0; i < control->stripCount && result == 0; ++i) {
    Eerr_ErrorReport *inner = nullptr;
    if (eevg_WriteStripBuffer(control, i, &inner) != 0) {
      lower::ReportChained(err, inner, reporter, 2, "Unable to write strip buffers");
      result = -1;
    }
    emsc_HeapFree(control->strips[i].buffer);
    control->strips[i].buffer = nullptr;
  }
  for (int32_t i = 0; i < control->stripCount && result == 0; ++i) {
    const HtfStrip &entry = control->strips[i];
    auto *list = static_cast<uint8_t *>(emsc_HeapMalloc(static_cast<std::size_t>(entry.blockCount) * kListEntrySize + 1));
    if (!list) {
      lower::Report(err, reporter, 3, "Unable to allocate LDIR structure");
      result = -1;
      break;
    }
    for (int32_t k = 0; k < entry.blockCount; ++k) {
      Put32(list + k * kListEntrySize, entry.blocks[k].offset);
      Put16(list + k * kListEntrySize + 4, entry.blocks[k].length);
    }
    const int64_t offset = Append(control, list, entry.blockCount * kListEntrySize);
    emsc_HeapFree(list);
    if (offset < 0) {
      lower::Report(err, reporter, 4, "Error writing Htf file LDIR structure");
      result = -1;
      break;
    }
    Put32(control->directory + static_cast<std::size_t>(i) * kDirectoryEntrySize, static_cast<uint32_t>(offset));
  }
  if (result == 0 && (eevg_Lseek(control->handle, kHeaderSize, 0) != kHeaderSize ||
                      eevg_Write(control->handle, control->directory, control->directorySize) !=
                          control->directorySize)) {
    lower::Report(err, reporter, 5, "Error writing Htf file DIR structure");
    result = -1;
  }
  const int32_t handle = control->handle;
  control->handle = -1;
  if (eevg_Close(handle) != 0 && result == 0) {
    lower::Report(err, reporter, 6, "Error closing HTF file");
    result = -1;
  }
  FreeControlParts(control);
  control->current = control->previous = -1;
  return result;
}

int32_t eevg_HtfPoint(Eevg_HtfControl *control, const int32_t *x, const int32_t *row,
                      Eerr_ErrorReport **err) {
  if (!x || !row) {
    lower::Clear(err);
    lower::Report(err, "eevg_HtfPoint", 3, "Invalid input coordinate");
    return -1;
  }
  return AppendRecord(control, "eevg_HtfPoint", "Unable to write HTF point", 3, *x, *row, 1, nullptr, 0, err);
}

int32_t eevg_HtfHseg(Eevg_HtfControl *control, const int32_t *x, const int32_t *row,
                     const int32_t *count, Eerr_ErrorReport **err) {
  if (!x || !row || !count) {
    lower::Clear(err);
    lower::Report(err, "eevg_HtfHseg", 3, "Invalid input coordinate");
    return -1;
  }
  return AppendRecord(control, "eevg_HtfHseg", "Unable to write HTF hseg", 2, *x, *row, *count, nullptr, 0, err);
}

int32_t eevg_HtfAntPoint(Eevg_HtfControl *control, const int32_t *x, const int32_t *row,
                         const uint8_t *coverage, Eerr_ErrorReport **err) {
  if (!x || !row || !coverage) {
    lower::Clear(err);
    lower::Report(err, "eevg_HtfAntPoint", 3, "Invalid input coordinate");
    return -1;
  }
  return AppendRecord(control, "eevg_HtfAntPoint", "Unable to write HTF AntPoint", 5, *x, *row, 1, coverage, 0, err);
}

int32_t eevg_HtfAntHseg(Eevg_HtfControl *control, const int32_t *x, const int32_t *row,
                        const int32_t *count, const uint8_t *coverage, Eerr_ErrorReport **err) {
  if (!x || !row || !count || !coverage) {
    lower::Clear(err);
    lower::Report(err, "eevg_HtfAntHseg", 3, "Invalid input coordinate");
    return -1;
  }
  return AppendRecord(control, "eevg_HtfAntHseg", "Unable to write HTF AntHseg", 4, *x, *row, *count, coverage, 1, err);
}

int32_t eevg_HtfAntHsegLo(Eevg_HtfControl *control, const int32_t *x, const int32_t *row,
                          const int32_t *count, const uint8_t *source, Eerr_ErrorReport **err) {
  if (!x || !row || !count || !source) {
    lower::Clear(err);
    lower::Report(err, "eevg_HtfAntHsegLo", 3, "Invalid input coordinate");
    return -1;
  }
  return AppendRecord(control, "eevg_HtfAntHsegLo", "Unable to write HTF AntHsegLo", 4, *x, *row, *count, source, 4, err);
}

int32_t eevg_Burnin(const char *, const char *fileName, int32_t height, int32_t width,
                    int32_t bandCount, int32_t stripRows, int32_t blockWidth,
                    Eevg_Drawing *drawing, Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_Burnin";
  lower::Clear(err);
  if (!fileName || !drawing || width < 1 || width > 65535 || height < 1 || height > 65535 ||
      (bandCount != 1 && bandCount != 3) || stripRows < 1 || blockWidth < 1) {
    lower::Report(err, reporter, 1, "Invalid burn-in description");
    return 0;
  }
  auto *burn = static_cast<BurnIn *>(emsc_HeapMalloc(sizeof(BurnIn)));
  if (!burn) {
    lower::Report(err, reporter, 2, "Unable to allocate Htf control structure");
    return 0;
  }
  burn->handle = -1;
  int32_t code = 0;
  const char *message = nullptr;
  Eerr_ErrorReport *inner = nullptr;
  auto fail = [&](int32_t c, const char *m) {
    code = c;
    message = m;
  };

  int32_t fileSize = -1;
  burn->handle = eevg_Open(fileName, 0);
  if (burn->handle < 0) {
    fail(3, "Unable to open HTF file");
  } else if ((fileSize = eevg_Lseek(burn->handle, 0, 2)) < 0 || eevg_Lseek(burn->handle, 0, 0) != 0 ||
             eevg_Read(burn->handle, burn->header, kHeaderSize) != kHeaderSize) {
    fail(4, "Error reading HTF file header");
  }
  const int32_t stripCount = (height + stripRows - 1) / stripRows;
  const int32_t bufferSize = Get16(burn->header + 22);
  if (!code && (Get16(burn->header) != width || Get16(burn->header + 2) != height ||
                Get16(burn->header + 4) != stripCount || Get16(burn->header + 6) != stripRows ||
                Get16(burn->header + 8) != bandCount || bufferSize < 1))
    fail(5, "Invalid HTF file header");
  if (!code) {
    burn->directory = static_cast<uint8_t *>(emsc_HeapMalloc(static_cast<std::size_t>(stripCount) * kDirectoryEntrySize));
    if (!burn->directory) fail(6, "Unable to allocate Htf control structure");
    else if (eevg_Read(burn->handle, burn->directory, stripCount * kDirectoryEntrySize) !=
             stripCount * kDirectoryEntrySize)
      fail(7, "Error reading HTF file directory");
  }
  const int32_t stride = width * bandCount;
  if (!code) {
    burn->strip = static_cast<uint8_t *>(emsc_HeapMalloc(static_cast<std::size_t>(stride) * stripRows));
    if (!burn->strip) fail(8, "Unable to allocate image strip");
  }
  for (int32_t first = 0; !code && first < height; first += stripRows) {
    const int32_t rows = std::min(stripRows, height - first);
    const int32_t strip = first / stripRows;
    const int32_t blockCount = InitHTFStrips(burn, strip, fileSize, &inner);
    if (blockCount < 0) {
      fail(9, "Unable to initialize image strips");
      break;
    }
    if (blockCount == 0) continue;
    if (!_eevg_GetStrip(drawing, first, rows, width, bandCount, burn->strip, stripRows, blockWidth, stride, &inner)) {
      fail(10, "Unable to read image strip");
      break;
    }
    uint8_t colour[3] = {0, 0, 0};
    for (int32_t k = 0; k < blockCount && !code; ++k) {
      const uint8_t *entry = burn->list + k * kListEntrySize;
      const uint32_t offset = Get32(entry);
      const int32_t length = Get16(entry + 4);
      if (length > bufferSize || offset > static_cast<uint32_t>(fileSize) ||
          eevg_Lseek(burn->handle, static_cast<int32_t>(offset), 0) < 0 ||
          eevg_Read(burn->handle, burn->block, length) != length)
        fail(11, "Error reading HTF file");
      else if (!ApplyBlock(burn->block, length, first, rows, width, bandCount, stride, burn->strip, colour))
        fail(12, "Corrupt HTF file block");
    }
    if (code) break;
    if (!_eevg_PutStrip(drawing, first, rows, width, bandCount, burn->strip, stripRows, blockWidth, stride, &inner))
      fail(13, "Unable to write image strip");
  }

  if (burn->handle >= 0) eevg_Close(burn->handle);
  emsc_HeapFree(burn->directory);
  emsc_HeapFree(burn->list);
  emsc_HeapFree(burn->block);
  emsc_HeapFree(burn->strip);
  emsc_HeapFree(burn);
  if (code) {
    if (code == 3) {
      eerr_DeleteErrorReportEx(&inner);
      lower::Report(err, reporter, code, "Unable to open HTF file %s", fileName);
    } else {
      lower::ReportChained(err, inner, reporter, code, "%s", message);
    }
    return 0;
  }
  return 1;
}

int32_t StripFileOpen(Eevg_Drawing *drawing, int32_t bands, Eerr_ErrorReport **err) {
  lower::Clear(err);
  const Eevg_DeviceInfo &device = drawing->deviceCopy;
  const int32_t bufferSize = std::max(device.width + 128, 1024);
  Eevg_HtfControl *control = eevg_HtfInit(device.stripText, drawing->stripFileName, device.width,
                                          device.height, bands, &device.stripRows, &bufferSize,
                                          &drawing->antiAlias, err);
  if (!control) return -1;
  drawing->stripFile = control;
  return 0;
}

int32_t StripFileRelease(Eevg_Drawing *drawing, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!drawing || !drawing->stripFile) return 0;
  auto *control = static_cast<Eevg_HtfControl *>(drawing->stripFile);
  const int32_t result = eevg_HtfRelease(control, err);
  emsc_HeapFree(control);
  drawing->stripFile = nullptr;
  return result;
}

int32_t StripFileBurnIn(Eevg_Drawing *drawing, int32_t bands, Eerr_ErrorReport **err) {
  const Eevg_DeviceInfo &device = drawing->deviceCopy;
  const int32_t done = eevg_Burnin(device.stripText, drawing->stripFileName, device.height,
                                   device.width, bands, device.stripRows, device.burnInValue,
                                   drawing, err);
  // The file has served its purpose either way.
  efio_FileUnlink(drawing->stripFileName, nullptr);
  return done ? 0 : -1;
}

} // namespace taviron::graphics

extern "C" {

int32_t _eevg_GetStrip(Eevg_Drawing *drawing, int32_t firstRow, int32_t rows, int32_t width,
                       int32_t, uint8_t *strip, int32_t, int32_t blockWidth, int32_t rowStride,
                       Eerr_ErrorReport **err) try {
  static const char *reporter = "_eevg_GetStrip";
  lower::Clear(err);
  const int32_t planeCount = drawing && drawing->pseudoColour ? 1 : 3;
  if (!drawing || !drawing->grIOInfo || !drawing->grIOInfo->getBlock || !strip || rows < 1 ||
      width < 1 || blockWidth < 1 || rowStride < static_cast<int64_t>(width) * planeCount) {
    lower::Report(err, reporter, 1, "Invalid input strip");
    return 0;
  }
  Eevg_RGBPixelRect *rect = nullptr;
  for (int64_t x0 = 0; x0 < width; x0 += blockWidth) {
    const int32_t used = static_cast<int32_t>(std::min<int64_t>(blockWidth, width - x0));
    const double upperLeft[2] = {static_cast<double>(x0), static_cast<double>(firstRow)};
    const double lowerRight[2] = {static_cast<double>(x0 + blockWidth - 1),
                                  static_cast<double>(firstRow + rows - 1)};
    Eerr_ErrorReport *inner = nullptr;
    Eevg_RGBPixelRect *got =
        drawing->grIOInfo->getBlock(drawing->grIOInfo->userData, rect, upperLeft, lowerRight, &inner);
    if (got != rect) DeleteRect(rect);
    rect = got;
    if (!got || inner) {
      DeleteRect(rect);
      lower::ReportChained(err, inner, reporter, 2, "Error returned from getBlock");
      return 0;
    }
    Egda_BaseData *planes[3];
    if (!Planes(rect, planeCount, used, rows, planes)) {
      DeleteRect(rect);
      lower::Report(err, reporter, 3, "Invalid block returned by getBlock");
      return 0;
    }
    for (int32_t r = 0; r < rows; ++r)
      for (int32_t p = 0; p < planeCount; ++p)
        std::memcpy(strip + static_cast<std::size_t>(r) * rowStride + static_cast<std::size_t>(p) * width + x0,
                    planes[p]->origin + static_cast<std::size_t>(r) * planes[p]->pitch, used);
  }
  DeleteRect(rect);
  return 1;
} TAVIRON_GUARD(err, 0)

int32_t _eevg_PutStrip(Eevg_Drawing *drawing, int32_t firstRow, int32_t rows, int32_t width,
                       int32_t, uint8_t *strip, int32_t, int32_t blockWidth, int32_t rowStride,
                       Eerr_ErrorReport **err) try {
  static const char *reporter = "_eevg_PutStrip";
  lower::Clear(err);
  const int32_t planeCount = drawing && drawing->pseudoColour ? 1 : 3;
  if (!drawing || !drawing->grIOInfo || !drawing->grIOInfo->putBlock || !strip || rows < 1 ||
      width < 1 || blockWidth < 1 || rowStride < static_cast<int64_t>(width) * planeCount) {
    lower::Report(err, reporter, 1, "Invalid input strip");
    return 0;
  }
  Eerr_ErrorReport *inner = nullptr;
  Eevg_RGBPixelRect *rect = eevg_RGBPixelRectCreateWithData(
      nullptr, blockWidth, rows, planeCount == 3 ? EEVG_TRUECOLOR : EEVG_PSEUDOCOLOR, &inner);
  Egda_BaseData *planes[3];
  if (!rect || inner || !Planes(rect, planeCount, blockWidth, rows, planes)) {
    DeleteRect(rect);
    lower::ReportChained(err, inner, reporter, 2, "Error returned from eevg_RGBPixelRectCreateWithData");
    return 0;
  }
  for (int64_t x0 = 0; x0 < width; x0 += blockWidth) {
    const int32_t used = static_cast<int32_t>(std::min<int64_t>(blockWidth, width - x0));
    for (int32_t r = 0; r < rows; ++r)
      for (int32_t p = 0; p < planeCount; ++p)
        std::memcpy(planes[p]->origin + static_cast<std::size_t>(r) * planes[p]->pitch,
                    strip + static_cast<std::size_t>(r) * rowStride + static_cast<std::size_t>(p) * width + x0, used);
    const double upperLeft[2] = {static_cast<double>(x0), static_cast<double>(firstRow)};
    const double lowerRight[2] = {static_cast<double>(x0 + blockWidth - 1),
                                  static_cast<double>(firstRow + rows - 1)};
    const int32_t result =
        drawing->grIOInfo->putBlock(drawing->grIOInfo->userData, rect, upperLeft, lowerRight, &inner);
    if (result != 0 || inner) {
      DeleteRect(rect);
      lower::ReportChained(err, inner, reporter, 3, "Error returned from putBlock");
      return 0;
    }
  }
  DeleteRect(rect);
  return 1;
} TAVIRON_GUARD(err, 0)

} // extern "C"
