// The spatial cache: the quadtree of feature boxes, the memory records and their overflow into
// the record store, box queries, and the flat evec_SpatialCache* functions.
//
// Stored records (32-bit words; offsets count bytes from the record's first word, so that a
// record means the same wherever its view is mapped):
//   record   0 kind (1 point, 2 arc or polygon), 1 box offset (20), 2 part count,
//            3 coordinates offset (52; 0 for a record that keeps only its box), 4 paged flag (1)
//   box      5-12 minimum x, minimum y, maximum x, maximum y (doubles)
//   point    13-23 matrix header: rows, columns, pixel type, object type, data offset, origin
//            offset, pitch, 0, count, element size, 0; then the data (compact, whole words)
//   block    13-17 block header: kind, 0, count, offset of the part offsets (72), 0; one word
//            per part (its header's offset, 0 for a missing part); then each part's matrix
//            header and data as for a point
//   box only 13 a zero word (a record that would not fit in one chunk of the store)
// The memory accounted for a record held in memory is 4 bytes per word of this layout.
#include "SpatialCache.h"

#include <algorithm>
#include <cmath>
#include <atomic>
#include <cstring>
#include <limits>
#include <new>

#include "EthrMutex.h"
#include "emsc.h"
#include "epmg.h"
#include "esmg.h"
#include "evec_internal.h"
#include "guard.h"

namespace geo = taviron::geometry;

namespace {

constexpr int32_t kLeafCapacity = 256;
constexpr int32_t kMaxQueryDepth = 1023;
constexpr std::size_t kReclaimEntries = 16384;
constexpr uint32_t kFirstRoom = 16; // numbers in the first block of a node // retired block entries that make an addition free them
constexpr int32_t kRecordWords = 5;
constexpr int32_t kBoxWords = 8;
constexpr int32_t kMatrixHeaderWords = 11;
constexpr int32_t kBlockHeaderWords = 5;
constexpr int32_t kBoxOffset = kRecordWords * 4;                     // 20
constexpr int32_t kCoordinatesOffset = (kRecordWords + kBoxWords) * 4; // 52
constexpr int32_t kPartsOffset = kCoordinatesOffset + kBlockHeaderWords * 4; // 72
constexpr int32_t kBoxOnlyWords = kRecordWords + kBoxWords + 1;      // 14
constexpr double kMegabyte = 1048576.0;

int64_t WordsOf(int64_t bytes) { return (bytes + 3) / 4; }

int64_t MatrixBytes(const Egda_BaseData &m) {
  return int64_t{m.rows} * m.columns * m.elementSize;
}

bool IsColumnMajor(const Egda_BaseData &m) {
  return m.objectType == EGDA_TABLE || m.objectType == EGDA_MATRIX;
}

// A matrix whose bytes can go to the store as they lie: laid out without gaps, no strings.
bool Storable(const Egda_BaseData *m) {
  return m && m->rows >= 0 && m->columns >= 0 && m->elementSize > 0 &&
         m->pixelType != EGDA_TYPE_STRING && (MatrixBytes(*m) == 0 || m->data);
}

bool FiniteBox(const BBox &b) {
  return std::isfinite(b.min.x) && std::isfinite(b.min.y) && std::isfinite(b.max.x) &&
         std::isfinite(b.max.y);
}

// ---- Writing and reading stored records ---------------------------------------------------------

// The record, box and (for records with coordinates) nothing more: 13 words.
void RecordHead(int32_t *w, int32_t kind, int32_t partCount, bool coordinates, const double *box) {
  w[0] = kind;
  w[1] = kBoxOffset;
  w[2] = partCount;
  w[3] = coordinates ? kCoordinatesOffset : 0;
  w[4] = 1;
  std::memcpy(w + kRecordWords, box, 4 * sizeof(double));
}

// The words of one matrix in the store: its header and its data.
int64_t MatrixWords(const Egda_BaseData *m) {
  return kMatrixHeaderWords + (m ? WordsOf(MatrixBytes(*m)) : 0);
}

// Writes the header (at byte offset `at` of the record) and the data of a matrix; a missing
// matrix writes an empty header.
void AppendMatrix(CachedRecordStore &store, const Egda_BaseData *m, int32_t at) {
  int32_t header[kMatrixHeaderWords] = {};
  if (!m) {
    store.append(header, kMatrixHeaderWords);
    return;
  }
  // Data that does not lie compact is compacted first, as a matrix copy lays it out.
  const Egda_BaseData *source = m;
  Egda_BaseData *compact = nullptr;
  const int32_t compactPitch = (IsColumnMajor(*m) ? m->rows : m->columns) * m->elementSize;
  if (m->pitch != compactPitch && MatrixBytes(*m) > 0) {
    compact = egda_BaseDataCopy(m, nullptr, nullptr);
    if (!compact) throw std::bad_alloc();
    source = compact;
  }
  const int32_t dataAt = at + kMatrixHeaderWords * 4;
  header[0] = source->rows;
  header[1] = source->columns;
  header[2] = source->pixelType;
  header[3] = source->objectType;
  header[4] = dataAt;
  header[5] = dataAt + static_cast<int32_t>(source->origin - source->data);
  header[6] = source->pitch;
  header[8] = source->count;
  header[9] = source->elementSize;
  store.append(header, kMatrixHeaderWords);
  const int64_t bytes = MatrixBytes(*source);
  const int64_t whole = bytes / 4;
  if (whole > 0) store.append(reinterpret_cast<const int32_t *>(source->data), static_cast<int32_t>(whole));
  if (bytes % 4) {
    int32_t tail = 0;
    std::memcpy(&tail, source->data + whole * 4, static_cast<std::size_t>(bytes % 4));
    store.append(&tail, 1);
  }
  egda_BaseDataDelete(compact, nullptr);
}

// A matrix header over the stored matrix at byte offset `at` of the record (borrowing the data).
Egda_BaseData StoredMatrix(const int32_t *record, int32_t at) {
  const auto *base = reinterpret_cast<const uint8_t *>(record);
  int32_t w[kMatrixHeaderWords];
  std::memcpy(w, base + at, sizeof w);
  Egda_BaseData m{};
  m.rows = w[0];
  m.columns = w[1];
  m.pixelType = w[2];
  m.objectType = w[3];
  m.data = const_cast<uint8_t *>(base + w[4]);
  m.origin = const_cast<uint8_t *>(base + w[5]);
  m.pitch = w[6];
  m.ownsData = 0;
  m.count = w[8];
  m.elementSize = w[9];
  return m;
}

// ---- The two kinds of feature -------------------------------------------------------------------

std::atomic<int64_t> pointLimit{-1}, lineLimit{-1};

template <class T> struct Feature;

template <> struct Feature<Egda_BaseData> {
  static constexpr SpatialCacheBase::Kind kKind = SpatialCacheBase::kPoints;
  static std::atomic<int64_t> &Limit() { return pointLimit; }

  static Egda_BaseData *Copy(const Egda_BaseData *m, Egda_BaseData *into) {
    return egda_BaseDataCopy(m, into, nullptr);
  }
  static void Free(Egda_BaseData *m) { egda_BaseDataDelete(m, nullptr); }
  static bool StorableData(const Egda_BaseData *m) { return Storable(m); }
  static int64_t Words(const Egda_BaseData *m) {
    return kRecordWords + kBoxWords + MatrixWords(m);
  }
  static void AppendData(CachedRecordStore &store, const Egda_BaseData *m) {
    AppendMatrix(store, m, kCoordinatesOffset);
  }
  static Egda_BaseData *CopyStored(const int32_t *record, Egda_BaseData *into) {
    const Egda_BaseData m = StoredMatrix(record, kCoordinatesOffset);
    return Copy(&m, into);
  }
};

template <> struct Feature<Efga_CoordinateBlock> {
  static constexpr SpatialCacheBase::Kind kKind = SpatialCacheBase::kLines;
  static std::atomic<int64_t> &Limit() { return lineLimit; }

  static Efga_CoordinateBlock *Copy(const Efga_CoordinateBlock *b, Efga_CoordinateBlock *into) {
    return efga_CoordBlockCopy(b, into, nullptr);
  }
  static void Free(Efga_CoordinateBlock *b) { efga_CoordBlockDelete(b, nullptr); }
  static bool StorableData(const Efga_CoordinateBlock *b) {
    if (!b || b->count < 0 || (b->count > 0 && !b->parts)) return false;
    for (int32_t i = 0; i < b->count; ++i)
      if (b->parts[i] && !Storable(b->parts[i])) return false;
    return true;
  }
  static int64_t Words(const Efga_CoordinateBlock *b) {
    int64_t words = kRecordWords + kBoxWords + kBlockHeaderWords + b->count;
    for (int32_t i = 0; i < b->count; ++i) words += MatrixWords(b->parts[i]);
    return words;
  }
  static void AppendData(CachedRecordStore &store, const Efga_CoordinateBlock *b) {
    const int32_t header[kBlockHeaderWords] = {b->kind ? b->kind : 2, 0, b->count, kPartsOffset, 0};
    store.append(header, kBlockHeaderWords);
    int64_t at = kPartsOffset + int64_t{b->count} * 4;
    for (int32_t i = 0; i < b->count; ++i) {
      const int32_t offset = b->parts[i] ? static_cast<int32_t>(at) : 0;
      store.append(&offset, 1);
      at += MatrixWords(b->parts[i]) * 4;
    }
    at = kPartsOffset + int64_t{b->count} * 4;
    for (int32_t i = 0; i < b->count; ++i) {
      AppendMatrix(store, b->parts[i], static_cast<int32_t>(at));
      at += MatrixWords(b->parts[i]) * 4;
    }
  }
  static Efga_CoordinateBlock *CopyStored(const int32_t *record, Efga_CoordinateBlock *into) {
    const auto *base = reinterpret_cast<const uint8_t *>(record);
    int32_t header[kBlockHeaderWords];
    std::memcpy(header, base + kCoordinatesOffset, sizeof header);
    const int32_t count = header[2];
    std::vector<Egda_BaseData> matrices(static_cast<std::size_t>(count));
    std::vector<Egda_BaseData *> parts(static_cast<std::size_t>(count), nullptr);
    for (int32_t i = 0; i < count; ++i) {
      int32_t at;
      std::memcpy(&at, base + header[3] + 4 * i, sizeof at);
      if (!at) continue;
      matrices[i] = StoredMatrix(record, at);
      parts[i] = &matrices[i];
    }
    Efga_CoordinateBlock block{header[0], 0, count, parts.data()};
    return Copy(&block, into);
  }
};

// The memory limit of the kind in bytes, read from the preferences on first use.
template <class T> int64_t MemoryLimit() {
  std::atomic<int64_t> &limit = Feature<T>::Limit();
  const int64_t known = limit.load();
  if (known >= 0) return known;
  Eerr_ErrorReport *inner = nullptr;
  double megabytes = epmg_GetNumberPreference("vector", "memcache_limit", 1024, &inner);
  if (inner) {
    eerr_DeleteErrorReportEx(&inner);
    esmg_LogMessage(0, &inner, "failed to get memcache limit, using 1024(MB)");
    eerr_DeleteErrorReportEx(&inner);
    megabytes = 1024;
  }
  if (!(megabytes == megabytes)) megabytes = 1024;
  // Whole megabytes, counted in 64 bits; a negative limit keeps nothing in memory.
  megabytes = std::clamp(std::trunc(megabytes), 0.0, 8e12);
  const auto bytes = static_cast<int64_t>(megabytes * kMegabyte);
  limit.store(bytes);
  return bytes;
}

// The quarter box i (Quad00, Quad01, Quad10, Quad11) of a box.
BBox Quarter(BBox &box, int i) {
  std::unique_ptr<BBox> q(i == 0 ? box.Quad00() : i == 1 ? box.Quad01() : i == 2 ? box.Quad10() : box.Quad11());
  return *q;
}

// A box that halving can still make smaller in some direction.
bool Divisible(const BBox &b) {
  const double mx = b.min.x + (b.max.x - b.min.x) * 0.5, my = b.min.y + (b.max.y - b.min.y) * 0.5;
  return (mx > b.min.x && mx < b.max.x) || (my > b.min.y && my < b.max.y);
}

// The node's box contains the feature box (minimum x, minimum y, maximum x, maximum y), edges
// included, as BBox::Contains.
bool Contains(const BBox &node, const double *b) {
  return b[0] >= node.min.x && b[1] >= node.min.y && b[2] <= node.max.x && b[3] <= node.max.y;
}

// BBox::Size of a feature box: the larger of its width and height.
double SizeOf(const double *b) { return std::max(b[2] - b[0], b[3] - b[1]); }

// Appends the subtree's nodes, children before parents.
void PostOrder(SpatialCacheNode *node, std::vector<SpatialCacheQuery::Listed> &out) {
  const bool split = node->split.load(std::memory_order_acquire);
  if (split)
    for (auto &child : node->children) PostOrder(child.get(), out);
  out.push_back({node, split});
}

// Moves the position to the first listed node from `from` on that has numbers or has split since
// it was listed, entering it with its current block (which the query's second held block keeps
// from being freed); false when there is none (the tree phase is over).
bool Advance(SpatialCacheQuery &query, SpatialCacheQuery::Position &at, std::size_t from) {
  for (std::size_t i = from; i < query.nodes.size(); ++i) {
    const SpatialCacheQuery::Listed &listed = query.nodes[i];
    std::atomic<const SpatialCacheNumbers::Block *> &current = listed.node->numbers.Current();
    if (listed.node->numbers.Count() > 0 ||
        (!listed.splitWhenListed && listed.node->split.load(std::memory_order_acquire))) {
      // Held, then read again: a block the cache gave up meanwhile is not taken.
      const SpatialCacheNumbers::Block *block = current.load(std::memory_order_acquire);
      for (;;) {
        query.hold->held[1].store(block, std::memory_order_seq_cst);
        const SpatialCacheNumbers::Block *again = current.load(std::memory_order_seq_cst);
        if (again == block) break;
        block = again;
      }
      at.cursor = i;
      at.block = block;
      at.countAtEntry = block ? block->count.load(std::memory_order_acquire) : 0;
      at.numberCursor = 0;
      return true;
    }
  }
  return false;
}

// The box of the number a query handed out last on this thread, for the box lookup that follows.
struct LastHanded {
  uint64_t cache; // the cache's serial; 0 for none
  int32_t number;
  double box[4];
};
thread_local LastHanded lastHanded{0, 0, {}};

std::atomic<uint64_t> cacheSerials{0};

// Hands out a number of the tree phase of a query of the cache `serial`: noted against the
// sequential phase, its box kept for the box lookup that follows.
int32_t HandOut(SpatialCacheQuery &q, uint64_t serial, int32_t number, const double *box,
                int32_t firstUnheld) {
  if (number > firstUnheld)
    q.returned.push_back(number);
  else if (number >= q.nextSequential)
    q.nextSequential = number + 1;
  LastHanded &last = lastHanded;
  last.cache = serial;
  last.number = number;
  std::memcpy(last.box, box, sizeof last.box);
  return number;
}

// The box of the number this thread's last query handed out last, when that is the number asked.
bool LastHandedBox(uint64_t serial, int32_t number, double *values) {
  const LastHanded &last = lastHanded;
  if (last.cache != serial || last.number != number) return false;
  std::memcpy(values, last.box, sizeof last.box);
  return true;
}

} // namespace

// ---- The numbers of a node ----------------------------------------------------------------------

std::unique_ptr<SpatialCacheNumbers::Block> SpatialCacheNumbers::Block::Make(uint32_t room) {
  const std::size_t numbers = (std::size_t{room} * sizeof(int32_t) + 7) & ~std::size_t{7};
  void *raw = ::operator new(sizeof(Block) + numbers + 4 * std::size_t{room} * sizeof(double));
  std::unique_ptr<Block> block(new (raw) Block);
  block->capacity = room;
  block->values = reinterpret_cast<int32_t *>(reinterpret_cast<uint8_t *>(raw) + sizeof(Block));
  block->boxes = reinterpret_cast<double *>(reinterpret_cast<uint8_t *>(raw) + sizeof(Block) + numbers);
  return block;
}

void SpatialCacheNumbers::Append(int32_t number, const double *box, Retired &retired) {
  Block *block = owned_.get();
  const uint32_t count = block ? block->count.load(std::memory_order_relaxed) : 0;
  if (!block || count == block->capacity) {
    if (block && block->capacity > UINT32_MAX / 2) throw std::bad_alloc();
    retired.reserve(retired.size() + 1);
    std::unique_ptr<Block> grown = Block::Make(block ? 2 * block->capacity : kFirstRoom);
    if (count) {
      std::memcpy(grown->values, block->values, count * sizeof(int32_t));
      std::memcpy(grown->boxes, block->boxes, 4 * count * sizeof(double));
    }
    grown->count.store(count, std::memory_order_relaxed);
    block = grown.get();
    current_.store(block, std::memory_order_seq_cst);
    if (owned_) retired.push_back(std::move(owned_));
    owned_ = std::move(grown);
  }
  block->values[count] = number;
  std::memcpy(block->boxes + 4 * std::size_t{count}, box, 4 * sizeof(double));
  block->count.store(count + 1, std::memory_order_release);
  count_.store(count + 1, std::memory_order_release);
}

std::vector<int32_t> SpatialCacheNumbers::TakeAll(Retired &retired) {
  std::vector<int32_t> taken(begin(), end());
  if (owned_) {
    retired.reserve(retired.size() + 1);
    count_.store(0, std::memory_order_release);
    current_.store(nullptr, std::memory_order_seq_cst);
    retired.push_back(std::move(owned_));
  }
  return taken;
}

// ---- SpatialCacheBase ---------------------------------------------------------------------------

std::atomic<int64_t> SpatialCacheBase::memoryInUse_{0};

SpatialCacheBase::SpatialCacheBase(Kind kind) : serial_(++cacheSerials), kind_(kind) {}

// Queries still alive (which may no longer be used) forget the cache, so that deleting them later
// touches nothing of it.
SpatialCacheBase::~SpatialCacheBase() {
  for (SpatialCacheHold *h = holds_.load(std::memory_order_acquire); h;) {
    if (h->taken.load(std::memory_order_acquire) && h->query) h->query->hold = nullptr;
    SpatialCacheHold *next = h->next;
    delete h;
    h = next;
  }
}

void SpatialCacheBase::TakeHold(SpatialCacheQuery *query) {
  SpatialCacheHold *hold = nullptr;
  for (SpatialCacheHold *h = holds_.load(std::memory_order_acquire); h && !hold; h = h->next) {
    bool taken = false;
    if (!h->taken.load(std::memory_order_relaxed) &&
        h->taken.compare_exchange_strong(taken, true, std::memory_order_acq_rel))
      hold = h;
  }
  if (!hold) {
    hold = new SpatialCacheHold;
    hold->taken.store(true, std::memory_order_relaxed);
    hold->next = holds_.load(std::memory_order_relaxed);
    while (!holds_.compare_exchange_weak(hold->next, hold, std::memory_order_release,
                                         std::memory_order_relaxed)) {
    }
  }
  hold->query = query;
  query->hold = hold;
}

void SpatialCacheBase::HeldBlocks(std::vector<const SpatialCacheNumbers::Block *> &out) const {
  for (const SpatialCacheHold *h = holds_.load(std::memory_order_acquire); h; h = h->next)
    for (const auto &held : h->held)
      if (const SpatialCacheNumbers::Block *block = held.load(std::memory_order_seq_cst))
        out.push_back(block);
}

int64_t SpatialCacheBase::MemoryInUse() { return memoryInUse_.load(); }

void SpatialCacheBase::ForgetMemoryLimits() {
  pointLimit.store(-1);
  lineLimit.store(-1);
}

// ---- SpatialCache<T> ----------------------------------------------------------------------------

template <class T> struct SpatialCache<T>::Record {
  int32_t partCount;
  T *data;
  int64_t bytes;

  Record(int32_t parts, T *coordinates, int64_t size) : partCount(parts), data(coordinates), bytes(size) {}
  ~Record() { Feature<T>::Free(data); }
  Record(const Record &) = delete;
  Record &operator=(const Record &) = delete;
};

// A held feature: its memory record, or its stored record (valid until the next store access).
template <class T> struct SpatialCache<T>::Held {
  Record *memory = nullptr;
  const int32_t *stored = nullptr;
  explicit operator bool() const { return memory || stored; }
};

// The boxes of the held features by number, in memory whatever holds the records: chunks of
// kChunk boxes (four doubles each, NaN while the number is not held) found through a directory.
// Chunks never move and a directory that is outgrown stays behind its successor, so readers need
// no lock. A box is written once, before its number enters the tree, and read with atomic loads
// of its values: a reader sees a box whole or sees a NaN in it (not held).
template <class T> struct SpatialCache<T>::Boxes {
  static constexpr int kShift = 10;
  static constexpr std::size_t kChunk = std::size_t{1} << kShift;
  struct Chunk {
    double values[kChunk][4];
  };
  struct Directory {
    std::size_t size;
    std::unique_ptr<std::atomic<Chunk *>[]> chunks;
    std::unique_ptr<Directory> previous;
    explicit Directory(std::size_t n) : size(n), chunks(new std::atomic<Chunk *>[n]) {
      for (std::size_t i = 0; i < n; ++i) chunks[i].store(nullptr, std::memory_order_relaxed);
    }
  };

  std::atomic<Directory *> directory{nullptr};
  std::unique_ptr<Directory> ownedDirectory;
  std::vector<std::unique_ptr<Chunk>> ownedChunks;

  // The four values of the number's box, or null when its chunk does not exist.
  double *Slot(int32_t number) const {
    const Directory *d = directory.load(std::memory_order_acquire);
    const std::size_t c = static_cast<uint32_t>(number) >> kShift;
    if (number < 1 || !d || c >= d->size) return nullptr;
    Chunk *chunk = d->chunks[c].load(std::memory_order_acquire);
    return chunk ? chunk->values[static_cast<uint32_t>(number) & (kChunk - 1)] : nullptr;
  }

  bool Get(int32_t number, double out[4]) const {
    double *v = Slot(number);
    if (!v) return false;
    for (int i = 0; i < 4; ++i) out[i] = std::atomic_ref<double>(v[i]).load(std::memory_order_relaxed);
    return out[0] == out[0] && out[1] == out[1] && out[2] == out[2] && out[3] == out[3];
  }

  // Under the cache's lock.
  void Set(int32_t number, const double *box) {
    const std::size_t c = static_cast<uint32_t>(number) >> kShift;
    Directory *d = ownedDirectory.get();
    if (!d || c >= d->size) {
      auto grown = std::make_unique<Directory>(std::max(c + 1, d ? 2 * d->size : std::size_t{16}));
      for (std::size_t i = 0; d && i < d->size; ++i)
        grown->chunks[i].store(d->chunks[i].load(std::memory_order_relaxed), std::memory_order_relaxed);
      grown->previous = std::move(ownedDirectory);
      ownedDirectory = std::move(grown);
      d = ownedDirectory.get();
      directory.store(d, std::memory_order_release);
    }
    if (!d->chunks[c].load(std::memory_order_relaxed)) {
      ownedChunks.reserve(ownedChunks.size() + 1);
      auto chunk = std::make_unique<Chunk>();
      std::fill_n(&chunk->values[0][0], kChunk * 4, std::numeric_limits<double>::quiet_NaN());
      d->chunks[c].store(chunk.get(), std::memory_order_release);
      ownedChunks.push_back(std::move(chunk));
    }
    double *v = Slot(number);
    for (int i = 0; i < 4; ++i) std::atomic_ref<double>(v[i]).store(box[i], std::memory_order_relaxed);
  }

  // Under the cache's lock: the number is no longer held.
  void Clear(int32_t number) {
    if (double *v = Slot(number))
      for (int i = 0; i < 4; ++i)
        std::atomic_ref<double>(v[i]).store(std::numeric_limits<double>::quiet_NaN(),
                                            std::memory_order_relaxed);
  }

  // Under the cache's lock (no other writer): the box of a held number.
  const double *At(int32_t number) const { return Slot(number); }
};

template <class T>
SpatialCache<T>::SpatialCache(const BBox &root)
    : SpatialCacheBase(Feature<T>::kKind), root_(new SpatialCacheNode(root)), boxes_(new Boxes) {
  memory_.resize(1); // entry 0 stays empty: numbers start at 1
}

template <class T>
SpatialCache<T> *SpatialCache<T>::Create(const MVS *layer, const _exfr_XForm *xform) {
  if (!layer || !geo::IsCoordMatrix(layer->bBox, 2, 2)) return nullptr;
  const geo::Steps box(*layer->bBox);
  const double x0 = box.X(0), y0 = box.Y(0), x1 = box.X(1), y1 = box.Y(1);
  double corners[8] = {x0, y0, x1, y1, x0, y1, x1, y0};
  Egda_BaseData *matrix = egda_BaseDataCreate(2, 4, EGDA_TYPE_F64, EGDA_MATRIX, corners, nullptr);
  if (!matrix) return nullptr;
  Eerr_ErrorReport *inner = nullptr;
  Evec_Bbox *bounds = nullptr;
  if (exfr_TransformN(xform, matrix, matrix, 4, &inner))
    bounds = evec_GetBboxFromMatrixN(nullptr, matrix, 4, &inner);
  egda_BaseDataDelete(matrix, nullptr);
  if (inner || !bounds) {
    eerr_DeleteErrorReportEx(&inner);
    evec_BboxDelete(bounds, nullptr);
    return nullptr;
  }
  const geo::Steps b(*bounds);
  const BBox root(b.X(0), b.Y(0), b.X(1), b.Y(1));
  evec_BboxDelete(bounds, nullptr);
  if (!FiniteBox(root)) return nullptr;

  std::unique_ptr<SpatialCache> cache(new SpatialCache(root));
  cache->mutex_ = ethr_MutexCreate();
  if (!cache->mutex_) return nullptr;
  return cache.release();
}

template <class T> SpatialCache<T>::~SpatialCache() {
  ethr_MutexDestroy(mutex_);
  delete root_.load();
  memory_.clear();
  memoryInUse_ -= total_;
  store_.reset();
}

// The version is changed and checked by read-modify-write operations (no fences, which the thread
// checker does not follow): a reader's check that comes before an addition's start in their order
// happens before the addition's changes, and one that comes after sees the version moved.
template <class T> void SpatialCache<T>::BeginChange() { version_.fetch_add(1, std::memory_order_acq_rel); }

template <class T> void SpatialCache<T>::EndChange() { version_.fetch_add(1, std::memory_order_release); }

template <class T> bool SpatialCache<T>::Unchanged(uint64_t version) const {
  return version_.fetch_add(0, std::memory_order_acq_rel) == version;
}

template <class T> typename SpatialCache<T>::Held SpatialCache<T>::Find(int32_t number) {
  Held held;
  if (number < 1) return held;
  if (static_cast<std::size_t>(number) < memory_.size() && memory_[number]) {
    held.memory = memory_[number].get();
    return held;
  }
  // A record written to the store by a spill that did not finish has an empty memory entry.
  if (store_) held.stored = store_->record(number);
  return held;
}

template <class T> bool SpatialCache<T>::BoxValues(int32_t number, double values[4]) const {
  return LastHandedBox(serial_, number, values) || boxes_->Get(number, values);
}

template <class T> bool SpatialCache<T>::GetBox(int32_t number, BBox &box) {
  double v[4];
  if (!BoxValues(number, v)) return false;
  box = BBox(DPoint(v[0], v[1]), DPoint(v[2], v[3]));
  return true;
}

template <class T> int32_t SpatialCache<T>::GetPartCount(int32_t number) {
  EthrMutex guard(mutex_);
  const Held held = Find(number);
  return held.memory ? held.memory->partCount : held.stored ? held.stored[2] : 0;
}

template <class T> bool SpatialCache<T>::Has(int32_t number) {
  EthrMutex guard(mutex_);
  const Held held = Find(number);
  return held.memory ? held.memory->data != nullptr : held.stored && held.stored[3] != 0;
}

template <class T> T *SpatialCache<T>::Get(int32_t number, T *destination) {
  EthrMutex guard(mutex_);
  const Held held = Find(number);
  if (held.memory) return held.memory->data ? Feature<T>::Copy(held.memory->data, destination) : nullptr;
  if (held.stored && held.stored[3] != 0) return Feature<T>::CopyStored(held.stored, destination);
  return nullptr;
}

// ---- The quadtree -------------------------------------------------------------------------------
// Changed under the lock, between BeginChange and EndChange.

template <class T>
bool SpatialCache<T>::InsertIntoChildren(SpatialCacheNode *node, int32_t number, const double *box) {
  for (auto &child : node->children)
    if (InsertNode(child.get(), number, box)) return true;
  return false;
}

template <class T>
bool SpatialCache<T>::AllSamePoint(const SpatialCacheNode *node, const double *first) {
  auto same = [&](int32_t number) {
    const double *b = boxes_->At(number);
    return b && SizeOf(b) <= 0 && b[2] == first[2] && b[3] == first[3];
  };
  if (node->numbers.size() == kLeafCapacity)
    return std::all_of(node->numbers.begin(), node->numbers.end(), same);
  return same(node->numbers.back());
}

template <class T> void SpatialCache<T>::Split(SpatialCacheNode *node) {
  std::unique_ptr<SpatialCacheNode> children[4];
  for (int i = 0; i < 4; ++i) children[i] = std::make_unique<SpatialCacheNode>(Quarter(node->box, i));
  std::vector<int32_t> taken(node->numbers.begin(), node->numbers.end());
  for (int i = 0; i < 4; ++i) node->children[i] = std::move(children[i]);
  node->split.store(true, std::memory_order_release);
  node->numbers.TakeAll(retired_);
  for (const int32_t number : taken) {
    const double *box = boxes_->At(number);
    if (box && !InsertIntoChildren(node, number, box)) node->numbers.Append(number, box, retired_);
  }
}

template <class T>
bool SpatialCache<T>::InsertNode(SpatialCacheNode *node, int32_t number, const double *box) {
  if (!Contains(node->box, box)) return false;
  if (node->split.load(std::memory_order_relaxed)) {
    if (!InsertIntoChildren(node, number, box)) node->numbers.Append(number, box, retired_);
    return true;
  }
  if (node->numbers.size() < kLeafCapacity) {
    node->numbers.Append(number, box, retired_);
    return true;
  }
  // Coincident points never split a leaf; nor does a box at the limit of precision, which no
  // split could make smaller.
  const double *first = boxes_->At(node->numbers.front());
  if ((first && SizeOf(first) == 0 && AllSamePoint(node, first)) || !Divisible(node->box)) {
    node->numbers.Append(number, box, retired_);
    return true;
  }
  Split(node);
  if (!InsertIntoChildren(node, number, box)) node->numbers.Append(number, box, retired_);
  return true;
}

template <class T> void SpatialCache<T>::GrowRoot(const double *box) {
  SpatialCacheNode *oldRoot = root_.load(std::memory_order_relaxed);
  BBox old = oldRoot->box;
  const bool right = box[2] > old.max.x, up = box[3] > old.max.y;
  double w = old.Width(), h = old.Height();
  // A root without width or height cannot grow by doubling: it grows to the distance the
  // feature lies away from it instead.
  if (!(w > 0) || !(h > 0)) {
    const double dx = right ? box[2] - old.max.x : old.min.x - box[0];
    const double dy = up ? box[3] - old.max.y : old.min.y - box[1];
    const double reach = std::max({dx, dy, w, h});
    if (!(w > 0)) w = reach;
    if (!(h > 0)) h = reach;
  }
  BBox grown(right ? old.min.x : old.max.x - 2 * w, up ? old.min.y : old.max.y - 2 * h,
             right ? old.min.x + 2 * w : old.max.x, up ? old.min.y + 2 * h : old.max.y);
  auto root = std::make_unique<SpatialCacheNode>(grown);
  const int keep = right ? (up ? 0 : 2) : (up ? 1 : 3);
  for (int i = 0; i < 4; ++i)
    if (i != keep) root->children[i] = std::make_unique<SpatialCacheNode>(Quarter(grown, i));
  root->children[keep].reset(oldRoot);
  root->split.store(true, std::memory_order_relaxed);
  root_.store(root.release(), std::memory_order_release);
}

template <class T> void SpatialCache<T>::Insert(int32_t number, const double *box) {
  while (!InsertNode(root_.load(std::memory_order_relaxed), number, box)) GrowRoot(box);
}

// Frees the blocks the nodes gave up that no live query holds. A query marks a block held, then
// reads it again from its node; a node gives a block up before this reads the marks (all
// sequentially consistent): a block a query may still read is among them.
template <class T> void SpatialCache<T>::FreeRetired() {
  std::vector<const SpatialCacheNumbers::Block *> held;
  HeldBlocks(held);
  std::sort(held.begin(), held.end());
  std::size_t kept = 0;
  retiredEntries_ = 0;
  for (auto &block : retired_) {
    if (!std::binary_search(held.begin(), held.end(), block.get())) continue;
    retiredEntries_ += block->capacity;
    retired_[kept++] = std::move(block);
  }
  retired_.resize(kept);
}

// ---- Memory records and the store ---------------------------------------------------------------

template <class T>
void SpatialCache<T>::WriteStored(int32_t number, int32_t partCount, const double *box,
                                  const T *coordinates) {
  const bool storable = Feature<T>::StorableData(coordinates);
  const int64_t words = storable ? Feature<T>::Words(coordinates) : 0;
  const bool whole = storable && words < store_->chunkElements();
  int32_t head[kRecordWords + kBoxWords + 1] = {};
  RecordHead(head, Feature<T>::kKind, partCount, whole, box);
  try {
    store_->beginRecordAt(whole ? static_cast<int32_t>(words) : kBoxOnlyWords, number);
    if (whole) {
      store_->append(head, kRecordWords + kBoxWords);
      Feature<T>::AppendData(*store_, coordinates);
    } else {
      store_->append(head, kBoxOnlyWords);
    }
  } catch (...) {
    store_->removeRecord(number);
    throw;
  }
}

template <class T> void SpatialCache<T>::Spill() {
  if (!store_) {
    auto store = std::make_unique<CachedRecordStore>();
    store->beginRecordAt(0, 0); // record 0 has no words: numbering starts at 1
    store_ = std::move(store);
  }
  for (std::size_t number = 1; number < memory_.size(); ++number) {
    Record *record = memory_[number].get();
    if (!record) continue;
    WriteStored(static_cast<int32_t>(number), record->partCount, boxes_->At(static_cast<int32_t>(number)),
                record->data);
    const int64_t bytes = record->bytes;
    memory_[number].reset();
    total_ -= bytes;
    memoryInUse_ -= bytes;
  }
  memory_.clear();
  memory_.shrink_to_fit();
  spilled_ = true;
}

template <class T> void SpatialCache<T>::SpillToFile() {
  EthrMutex guard(mutex_);
  Spill();
}

template <class T>
T *SpatialCache<T>::Index(int32_t number, int32_t partCount, const BBox &box, T *coordinates) {
  if (number < 1 || number == INT32_MAX || !coordinates || !FiniteBox(box)) return coordinates;
  double held4[4];
  if (boxes_->Get(number, held4)) return coordinates; // held already (tested again under the lock)
  const double values[4] = {box.min.x, box.min.y, box.max.x, box.max.y};
  const int64_t limit = MemoryLimit<T>();
  EthrMutex guard(mutex_);
  if (Find(number)) return coordinates;
  if (!spilled_ && memoryInUse_.load() > limit) {
    try {
      Spill();
    } catch (const std::exception &) {
      // The store could not take the records: they stay in memory, and the next addition tries
      // again.
    }
  }

  // The record first, then the box, then the number in the tree: a reader that finds the number
  // finds its box and record.
  T *held = coordinates;
  int64_t bytes = 0;
  if (spilled_) {
    WriteStored(number, partCount, values, coordinates);
  } else {
    T *copy = Feature<T>::Copy(coordinates, nullptr);
    if (!copy) return coordinates;
    bytes = 4 * (Feature<T>::StorableData(coordinates) ? Feature<T>::Words(coordinates) : kBoxOnlyWords);
    std::unique_ptr<Record> record;
    try {
      record = std::make_unique<Record>(partCount, copy, bytes);
    } catch (...) {
      Feature<T>::Free(copy);
      throw;
    }
    if (memory_.size() <= static_cast<std::size_t>(number)) memory_.resize(std::size_t(number) + 1);
    memory_[number] = std::move(record);
    total_ += bytes;
    memoryInUse_ += bytes;
    held = copy;
  }
  BeginChange();
  try {
    boxes_->Set(number, values);
    Insert(number, values);
  } catch (...) {
    boxes_->Clear(number);
    EndChange();
    if (spilled_) {
      store_->removeRecord(number);
    } else {
      memory_[number].reset();
      total_ -= bytes;
      memoryInUse_ -= bytes;
    }
    throw;
  }
  if (number == firstUnheld_.load(std::memory_order_relaxed)) {
    int32_t next = number;
    while (next < INT32_MAX && Find(next)) ++next;
    firstUnheld_.store(next, std::memory_order_relaxed);
  }
  EndChange();
  if (retired_.size() > retiredCounted_) {
    for (std::size_t i = retiredCounted_; i < retired_.size(); ++i) retiredEntries_ += retired_[i]->capacity;
    retiredCounted_ = retired_.size();
    if (retiredEntries_ >= kReclaimEntries) {
      FreeRetired();
      retiredCounted_ = retired_.size();
    }
  }
  return held;
}

// ---- Queries ------------------------------------------------------------------------------------
// A query reads the tree without the lock when the version is even and the same after the read;
// otherwise it reads again under the lock. Numbers are read from the block a node had when the
// query entered it, which no addition changes.

// Lists the nodes from `node` down that meet the box, children before parents (the box tests of
// BBox::Intersects and BBox::Size, written out on the node's values).
template <class T>
void SpatialCache<T>::Collect(SpatialCacheQuery &query, SpatialCacheNode *node, const BBox &box,
                              double minSize, int32_t depth) {
  const BBox &n = node->box;
  if (box.min.x > n.max.x || box.min.y > n.max.y || n.min.x > box.max.x || n.min.y > box.max.y) return;
  if (depth > 0 && std::max(n.max.x - n.min.x, n.max.y - n.min.y) < minSize) return;
  if (depth > kMaxQueryDepth) return;
  const bool split = node->split.load(std::memory_order_acquire);
  if (split)
    for (auto &child : node->children) Collect(query, child.get(), box, minSize, depth + 1);
  query.nodes.push_back({node, split});
}

template <class T> SpatialCacheQuery *SpatialCache<T>::Begin(const BBox &box, double minSize) {
  auto query = std::make_unique<SpatialCacheQuery>();
  query->cache = this;
  query->nodes.reserve(64);
  TakeHold(query.get());
  const uint64_t version = version_.load(std::memory_order_acquire);
  bool settled = false;
  if (!(version & 1)) {
    Collect(*query, root_.load(std::memory_order_acquire), box, minSize, 0);
    query->treeDone = !Advance(*query, query->at, 0);
    settled = Unchanged(version);
  }
  if (!settled) {
    query->nodes.clear();
    query->at = {};
    EthrMutex guard(mutex_);
    Collect(*query, root_.load(std::memory_order_relaxed), box, minSize, 0);
    query->treeDone = !Advance(*query, query->at, 0);
  }
  query->hold->held[0].store(query->at.block, std::memory_order_seq_cst);
  return query.release();
}

// One step of the tree phase from the position `at` (the query's own, or a copy of it): 1 with a
// number and its box (and the position moved on past it, `done` set when that was the tree's
// last), 0 when the tree phase is over, -1 when the node at the position has split since it was
// listed.
template <class T>
int SpatialCache<T>::TreeStep(SpatialCacheQuery &query, SpatialCacheQuery::Position &at, int32_t &number,
                              double *box, bool &done) const {
  for (;;) {
    const SpatialCacheQuery::Listed &listed = query.nodes[at.cursor];
    if (!listed.splitWhenListed && listed.node->split.load(std::memory_order_acquire)) return -1;
    if (at.numberCursor >= at.countAtEntry) {
      if (!Advance(query, at, at.cursor + 1)) return 0;
      continue;
    }
    const std::size_t k = at.numberCursor++;
    number = at.block->values[k];
    std::memcpy(box, at.block->Box(k), 4 * sizeof(double));
    done = at.numberCursor >= at.countAtEntry && !Advance(query, at, at.cursor + 1);
    return 1;
  }
}

// The node at the query's position has split since it was listed: its numbers may have moved to
// the new nodes below it. Those nodes are listed, then the node again; the numbers the node had
// handed out already will not be handed out again.
template <class T> void SpatialCache<T>::SplitUnderWalk(SpatialCacheQuery &q) {
  SpatialCacheQuery::Position &at = q.at;
  SpatialCacheNode *node = q.nodes[at.cursor].node;
  q.nodes[at.cursor].splitWhenListed = true;
  if (at.numberCursor > 0) {
    q.handedTwice.insert(q.handedTwice.end(), at.block->values, at.block->values + at.numberCursor);
    std::sort(q.handedTwice.begin(), q.handedTwice.end());
  }
  for (auto &child : node->children) PostOrder(child.get(), q.nodes);
  q.nodes.push_back({node, true});
  q.treeDone = !Advance(q, at, at.cursor + 1);
  q.hold->held[0].store(at.block, std::memory_order_seq_cst);
}

// The sequential phase: the next number above every number handed out so far that the tree
// phase has not handed out; 0 once the numbers are exhausted.
template <class T> int32_t SpatialCache<T>::Sequential(SpatialCacheQuery &q) {
  if (!q.returnedSorted) {
    std::sort(q.returned.begin(), q.returned.end());
    q.returned.erase(std::unique(q.returned.begin(), q.returned.end()), q.returned.end());
    q.returnedSorted = true;
  }
  int32_t number = q.nextSequential;
  if (number < 1) return 0;
  const std::vector<int32_t> &r = q.returned;
  std::size_t &i = q.returnedCursor;
  while (i < r.size() && r[i] < number) ++i;
  while (i < r.size() && r[i] == number) {
    if (number == INT32_MAX) {
      q.nextSequential = 0;
      return 0;
    }
    ++number;
    while (i < r.size() && r[i] < number) ++i;
  }
  q.nextSequential = number == INT32_MAX ? 0 : number + 1;
  return number;
}

template <class T> int32_t SpatialCache<T>::GetNext(SpatialCacheQuery *query) {
  SpatialCacheQuery &q = *query;
  // Most steps take a number of the node entered that is not its last, from the block it had
  // then, which no addition changes: they need the version only when the node has split since.
  if (!q.treeDone && q.handedTwice.empty()) {
    SpatialCacheQuery::Position &at = q.at;
    const SpatialCacheQuery::Listed &listed = q.nodes[at.cursor];
    if (at.numberCursor + 1 < at.countAtEntry &&
        (listed.splitWhenListed || !listed.node->split.load(std::memory_order_acquire))) {
      const std::size_t k = at.numberCursor++;
      return HandOut(q, serial_, at.block->values[k], at.block->Box(k),
                     firstUnheld_.load(std::memory_order_relaxed));
    }
  }
  while (!q.treeDone) {
    SpatialCacheQuery::Position at = q.at;
    int32_t number = 0, firstUnheld = 0;
    double box[4];
    bool done = false;
    int step = 0;
    const uint64_t version = version_.load(std::memory_order_acquire);
    bool settled = false;
    if (!(version & 1)) {
      step = TreeStep(q, at, number, box, done);
      firstUnheld = firstUnheld_.load(std::memory_order_relaxed);
      settled = Unchanged(version);
    }
    if (!settled || step < 0) {
      EthrMutex guard(mutex_);
      at = q.at;
      done = false;
      step = TreeStep(q, at, number, box, done);
      if (at.block != q.at.block) q.hold->held[0].store(at.block, std::memory_order_seq_cst);
      q.at = at;
      if (step < 0) {
        SplitUnderWalk(q);
        continue;
      }
      firstUnheld = firstUnheld_.load(std::memory_order_relaxed);
    }
    if (at.block != q.at.block) q.hold->held[0].store(at.block, std::memory_order_seq_cst);
    q.at = at;
    if (step == 0 || done) q.treeDone = true;
    if (step == 0) break;
    if (!q.handedTwice.empty() && std::binary_search(q.handedTwice.begin(), q.handedTwice.end(), number))
      continue;
    return HandOut(q, serial_, number, box, firstUnheld);
  }
  return Sequential(q);
}

template class SpatialCache<Egda_BaseData>;
template class SpatialCache<Efga_CoordinateBlock>;

// ---- The flat functions -------------------------------------------------------------------------
// No function reports: a missing or mismatched cache, and any failure inside (the store's
// included), give the answer for a feature that is not held.

namespace {

using PointCache = SpatialCache<Egda_BaseData>;
using LineCache = SpatialCache<Efga_CoordinateBlock>;

// The cache behind a handle, when it holds features of T.
template <class T> SpatialCache<T> *As(Evec_SpatialCache *handle) {
  auto *base = reinterpret_cast<SpatialCacheBase *>(handle);
  return base && base->kind() == Feature<T>::kKind ? static_cast<SpatialCache<T> *>(base) : nullptr;
}

Evec_SpatialCache *Handle(SpatialCacheBase *cache) { return reinterpret_cast<Evec_SpatialCache *>(cache); }

// Runs body on the cache of T; `fallback` when there is none or the body throws.
template <class T, class R, class Body> R With(Evec_SpatialCache *handle, R fallback, Body &&body) {
  SpatialCache<T> *cache = As<T>(handle);
  if (!cache) return fallback;
  try {
    return body(*cache);
  } catch (...) {
    return fallback;
  }
}

template <class T> Evec_SpatialCache *Create(MVS *layer, _exfr_XForm *xform) {
  try {
    return Handle(SpatialCache<T>::Create(layer, xform));
  } catch (...) {
    return nullptr;
  }
}

void Delete(Evec_SpatialCache *handle) { delete reinterpret_cast<SpatialCacheBase *>(handle); }

// The box of an Evec_Bbox, corners put in order; false for a box that is not a 2 x 2 f64 matrix.
bool BoxFrom(const Evec_Bbox *bbox, BBox &box) {
  if (!geo::IsCoordMatrix(bbox, 2, 2)) return false;
  const geo::Steps v(*bbox);
  box = BBox(v.X(0), v.Y(0), v.X(1), v.Y(1));
  return true;
}

template <class T> Evec_Bbox *GetBbox(Evec_Bbox *bbox, Evec_SpatialCache *handle, int32_t number) {
  if (bbox && !geo::IsCoordMatrix(bbox, 2, 2)) return nullptr;
  const SpatialCache<T> *cache = As<T>(handle);
  double box[4];
  if (!cache || !(LastHandedBox(cache->Serial(), number, box) || cache->BoxValues(number, box)))
    return nullptr;
  Evec_Bbox *out = bbox ? bbox : evec_BboxCreate(nullptr);
  if (!out) return nullptr;
  const geo::Steps v(*out);
  v.Set(0, box[0], box[1]);
  v.Set(1, box[2], box[3]);
  return out;
}

template <class T>
Evec_SpatialCacheQuery *Begin(Evec_SpatialCache *handle, const Evec_Bbox *bbox, double minSize) {
  BBox box;
  if (!BoxFrom(bbox, box)) return nullptr;
  return With<T>(handle, static_cast<Evec_SpatialCacheQuery *>(nullptr), [&](SpatialCache<T> &c) {
    return reinterpret_cast<Evec_SpatialCacheQuery *>(c.Begin(box, minSize));
  });
}

template <class T> int32_t GetNext(Evec_SpatialCache *handle, Evec_SpatialCacheQuery *handleQuery) {
  auto *query = reinterpret_cast<SpatialCacheQuery *>(handleQuery);
  return With<T>(handle, 0, [&](SpatialCache<T> &c) {
    return query && query->cache == &c ? c.GetNext(query) : 0;
  });
}

template <class T> Efga_CoordinateBlock *IndexLine(Evec_SpatialCache *handle, int32_t number,
                                                   int32_t partCount, const Evec_Bbox *bbox,
                                                   Efga_CoordinateBlock *block) {
  if (!As<T>(handle)) return nullptr;
  BBox box;
  if (!block || !BoxFrom(bbox, box)) return block;
  return With<T>(handle, block, [&](SpatialCache<T> &c) { return c.Index(number, partCount, box, block); });
}

} // namespace

extern "C" {

Evec_SpatialCache *evec_SpatialCacheCreatePoint(MVS *mvs, _exfr_XForm *xform) try {
  return Create<Egda_BaseData>(mvs, xform);
} TAVIRON_GUARD_QUIET(nullptr)
Evec_SpatialCache *evec_SpatialCacheCreateArc(MVS *mvs, _exfr_XForm *xform) try {
  return Create<Efga_CoordinateBlock>(mvs, xform);
} TAVIRON_GUARD_QUIET(nullptr)
Evec_SpatialCache *evec_SpatialCacheCreatePoly(MVS *mvs, _exfr_XForm *xform) try {
  return Create<Efga_CoordinateBlock>(mvs, xform);
} TAVIRON_GUARD_QUIET(nullptr)

void evec_SpatialCacheDeletePoint(Evec_SpatialCache *cache) try { Delete(cache); } TAVIRON_GUARD_QUIET_VOID
void evec_SpatialCacheDeleteArc(Evec_SpatialCache *cache) try { Delete(cache); } TAVIRON_GUARD_QUIET_VOID
void evec_SpatialCacheDeletePoly(Evec_SpatialCache *cache) try { Delete(cache); } TAVIRON_GUARD_QUIET_VOID

Egda_BaseData *evec_SpatialCacheIndexPoint(Evec_SpatialCache *cache, int32_t number,
                                           int32_t partCount, Egda_BaseData *coordinates) try {
  if (!As<Egda_BaseData>(cache)) return nullptr;
  // The point's box is its first point.
  if (!geo::IsCoordMatrix(coordinates, 2, 1)) return coordinates;
  const geo::Steps v(*coordinates);
  const BBox box{DPoint(v.X(0), v.Y(0))};
  return With<Egda_BaseData>(cache, coordinates, [&](PointCache &c) {
    return c.Index(number, partCount, box, coordinates);
  });
} TAVIRON_GUARD_QUIET(nullptr)
Efga_CoordinateBlock *evec_SpatialCacheIndexArc(Evec_SpatialCache *cache, int32_t number,
                                                int32_t partCount, Evec_Bbox *bbox,
                                                Efga_CoordinateBlock *block) try {
  return IndexLine<Efga_CoordinateBlock>(cache, number, partCount, bbox, block);
} TAVIRON_GUARD_QUIET(nullptr)
Efga_CoordinateBlock *evec_SpatialCacheIndexPoly(Evec_SpatialCache *cache, int32_t number,
                                                 int32_t partCount, Evec_Bbox *bbox,
                                                 Efga_CoordinateBlock *block) try {
  return IndexLine<Efga_CoordinateBlock>(cache, number, partCount, bbox, block);
} TAVIRON_GUARD_QUIET(nullptr)

int32_t evec_SpatialCacheHasPoint(Evec_SpatialCache *cache, int32_t number) try {
  return With<Egda_BaseData>(cache, 0, [&](PointCache &c) { return c.Has(number) ? 1 : 0; });
} TAVIRON_GUARD_QUIET(0)
int32_t evec_SpatialCacheHasArc(Evec_SpatialCache *cache, int32_t number) try {
  return With<Efga_CoordinateBlock>(cache, 0, [&](LineCache &c) { return c.Has(number) ? 1 : 0; });
} TAVIRON_GUARD_QUIET(0)
int32_t evec_SpatialCacheHasPoly(Evec_SpatialCache *cache, int32_t number) try {
  return evec_SpatialCacheHasArc(cache, number);
} TAVIRON_GUARD_QUIET(0)

Egda_BaseData *evec_SpatialCacheGetPoint(Evec_SpatialCache *cache, int32_t number,
                                         Egda_BaseData *matrix) try {
  return With<Egda_BaseData>(cache, static_cast<Egda_BaseData *>(nullptr),
                             [&](PointCache &c) { return c.Get(number, matrix); });
} TAVIRON_GUARD_QUIET(nullptr)
Efga_CoordinateBlock *evec_SpatialCacheGetArc(Evec_SpatialCache *cache, int32_t number,
                                              Efga_CoordinateBlock *block) try {
  return With<Efga_CoordinateBlock>(cache, static_cast<Efga_CoordinateBlock *>(nullptr),
                                    [&](LineCache &c) { return c.Get(number, block); });
} TAVIRON_GUARD_QUIET(nullptr)
Efga_CoordinateBlock *evec_SpatialCacheGetPoly(Evec_SpatialCache *cache, int32_t number,
                                               Efga_CoordinateBlock *block) try {
  return evec_SpatialCacheGetArc(cache, number, block);
} TAVIRON_GUARD_QUIET(nullptr)

Evec_Bbox *evec_SpatialCacheGetPointBbox(Evec_Bbox *bbox, Evec_SpatialCache *cache, int32_t number) try {
  return GetBbox<Egda_BaseData>(bbox, cache, number);
} TAVIRON_GUARD_QUIET(nullptr)
Evec_Bbox *evec_SpatialCacheGetArcBbox(Evec_Bbox *bbox, Evec_SpatialCache *cache, int32_t number) try {
  return GetBbox<Efga_CoordinateBlock>(bbox, cache, number);
} TAVIRON_GUARD_QUIET(nullptr)
Evec_Bbox *evec_SpatialCacheGetPolyBbox(Evec_Bbox *bbox, Evec_SpatialCache *cache, int32_t number) try {
  return GetBbox<Efga_CoordinateBlock>(bbox, cache, number);
} TAVIRON_GUARD_QUIET(nullptr)

int32_t evec_SpatialCacheGetPointCount(Evec_SpatialCache *cache, int32_t number) try {
  return With<Egda_BaseData>(cache, 0, [&](PointCache &c) { return c.GetPartCount(number); });
} TAVIRON_GUARD_QUIET(0)
int32_t evec_SpatialCacheGetArcCount(Evec_SpatialCache *cache, int32_t number) try {
  return With<Efga_CoordinateBlock>(cache, 0, [&](LineCache &c) { return c.GetPartCount(number); });
} TAVIRON_GUARD_QUIET(0)
int32_t evec_SpatialCacheGetPolyCount(Evec_SpatialCache *cache, int32_t number) try {
  return evec_SpatialCacheGetArcCount(cache, number);
} TAVIRON_GUARD_QUIET(0)

Evec_SpatialCacheQuery *evec_SpatialCacheBeginPoint(Evec_SpatialCache *cache, Evec_Bbox *bbox) try {
  return Begin<Egda_BaseData>(cache, bbox, 0.0);
} TAVIRON_GUARD_QUIET(nullptr)
Evec_SpatialCacheQuery *evec_SpatialCacheBeginArc(Evec_SpatialCache *cache, Evec_Bbox *bbox,
                                                  double minSize) try {
  return Begin<Efga_CoordinateBlock>(cache, bbox, minSize);
} TAVIRON_GUARD_QUIET(nullptr)
Evec_SpatialCacheQuery *evec_SpatialCacheBeginPoly(Evec_SpatialCache *cache, Evec_Bbox *bbox,
                                                   double minSize) try {
  return Begin<Efga_CoordinateBlock>(cache, bbox, minSize);
} TAVIRON_GUARD_QUIET(nullptr)

int32_t evec_SpatialCacheGetNextPointIndex(Evec_SpatialCache *cache, Evec_SpatialCacheQuery *query) try {
  return GetNext<Egda_BaseData>(cache, query);
} TAVIRON_GUARD_QUIET(0)
int32_t evec_SpatialCacheGetNextArcIndex(Evec_SpatialCache *cache, Evec_SpatialCacheQuery *query) try {
  return GetNext<Efga_CoordinateBlock>(cache, query);
} TAVIRON_GUARD_QUIET(0)
int32_t evec_SpatialCacheGetNextPolyIndex(Evec_SpatialCache *cache, Evec_SpatialCacheQuery *query) try {
  return GetNext<Efga_CoordinateBlock>(cache, query);
} TAVIRON_GUARD_QUIET(0)

void evec_SpatialCacheQueryDeletePoint(Evec_SpatialCacheQuery *query) try {
  delete reinterpret_cast<SpatialCacheQuery *>(query);
} TAVIRON_GUARD_QUIET_VOID
void evec_SpatialCacheQueryDeletePoly(Evec_SpatialCacheQuery *query) try {
  delete reinterpret_cast<SpatialCacheQuery *>(query);
} TAVIRON_GUARD_QUIET_VOID

} // extern "C"
