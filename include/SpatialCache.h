// The spatial cache of vector features: features numbered by the caller from 1, their boxes
// indexed in a quadtree that grows outward when a feature falls outside it, and their
// coordinates held in memory until the memory used by all caches of the process passes the
// preference "vector"/"memcache_limit" (whole megabytes, default 1024); from then on the cache's
// records go to its overflow store on disk (CachedVector.h). One cache holds one kind of
// feature: points (SpatialCache<Egda_BaseData>) or arcs and polygons
// (SpatialCache<Efga_CoordinateBlock>). The flat functions evec_SpatialCache* of evec.h reach it.
//
// Additions take the cache's lock, so several threads may add features to one cache and query it
// at once. Queries and box lookups read without it: the cache counts a version that is odd while
// an addition changes the tree, and a query step that saw it odd or changed is made again under
// the lock. The other lookups and copies take the lock. Coordinates handed back by Index in
// memory mode belong to the cache and stay valid until the cache spills or is deleted.
#ifndef TAVIRON_SPATIALCACHE_H
#define TAVIRON_SPATIALCACHE_H

#include "taviron_export.h"

#ifdef __cplusplus

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "BBox.h"
#include "CachedVector.h"
#include "efga.h"
#include "egda.h"
#include "ethr.h"
#include "evec.h"
#include "exfr.h"

// The feature numbers of a quadtree node, each beside its box, in the order a query walks them.
// The cache appends under its lock while queries read without it: the numbers live in a block
// whose entries below its published count never change; a block that is outgrown, or emptied when
// the node splits, is handed to the cache, which frees it once no query holds it.
class SpatialCacheNumbers {
public:
  struct Block {
    std::atomic<uint32_t> count{0};
    uint32_t capacity;
    int32_t *values;
    double *boxes; // four a number: minimum x, minimum y, maximum x, maximum y

    // One allocation: the record, then its numbers, then their boxes.
    static std::unique_ptr<Block> Make(uint32_t room);
    static void operator delete(void *block) { ::operator delete(block); }
    const double *Box(std::size_t i) const { return boxes + 4 * i; }

  private:
    Block() = default;
  };
  using Retired = std::vector<std::unique_ptr<Block>>;

  // The current block (null while the node has held nothing), for readers that keep it from
  // being freed, and the count of numbers, for anyone.
  std::atomic<const Block *> &Current() { return current_; }
  std::size_t Count() const { return count_.load(std::memory_order_acquire); }

  // For inspection, while nothing is added.
  std::size_t size() const { return Count(); }
  bool empty() const { return size() == 0; }
  const int32_t *begin() const {
    const Block *block = current_.load(std::memory_order_acquire);
    return block ? block->values : nullptr;
  }
  const int32_t *end() const { return begin() + size(); }
  int32_t operator[](std::size_t i) const { return begin()[i]; }
  int32_t front() const { return *begin(); }
  int32_t back() const { return end()[-1]; }
  operator std::vector<int32_t>() const { return std::vector<int32_t>(begin(), end()); }

  // Under the cache's lock: appends a number with its box; takes all the numbers out. A block
  // given up goes to `retired`.
  void Append(int32_t number, const double *box, Retired &retired);
  std::vector<int32_t> TakeAll(Retired &retired);

private:
  std::unique_ptr<Block> owned_;
  std::atomic<const Block *> current_{nullptr};
  std::atomic<uint32_t> count_{0};
};

// A node of the quadtree: a feature is held by the deepest node whose box contains the
// feature's box. Children, present once the node is split, come in the order Quad00, Quad01,
// Quad10, Quad11; they are made before the split flag is set.
struct SpatialCacheNode {
  std::atomic<bool> split{false};
  std::unique_ptr<SpatialCacheNode> children[4];
  SpatialCacheNumbers numbers;
  BBox box;

  explicit SpatialCacheNode(const BBox &b) : box(b) {}
};

struct SpatialCacheQuery;

// The blocks one live query reads, which the cache does not free: that of the query's position,
// and one it is entering. The cache keeps a list of these records until it goes; a query takes a
// free one when it begins and gives it back when it is deleted, without a lock.
struct SpatialCacheHold {
  std::atomic<bool> taken{false};
  std::atomic<const SpatialCacheNumbers::Block *> held[2] = {nullptr, nullptr};
  SpatialCacheQuery *query = nullptr; // the query that took it
  SpatialCacheHold *next = nullptr;
};

// One box search: the numbers found in the tree first, then every further number in order, each
// number once.
struct SpatialCacheQuery {
  struct Listed {
    SpatialCacheNode *node;
    bool splitWhenListed;
  };
  // Where the tree phase stands: the current listed node, the block of numbers it had when it
  // was entered, that block's count then, and the cursor into it.
  struct Position {
    std::size_t cursor = 0;
    const SpatialCacheNumbers::Block *block = nullptr;
    std::size_t countAtEntry = 0;
    std::size_t numberCursor = 0;
  };
  const void *cache = nullptr;
  SpatialCacheHold *hold = nullptr; // null once given back (or when the cache went first)
  bool treeDone = false;
  std::vector<Listed> nodes;
  Position at;
  int32_t nextSequential = 1;
  std::vector<int32_t> returned;    // numbers above the first unheld one already returned
  bool returnedSorted = false;      // (once the sequential phase begins)
  std::size_t returnedCursor = 0;   // the first of them the sequential phase has not passed
  std::vector<int32_t> handedTwice; // numbers a node that split under the walk hands out again

  ~SpatialCacheQuery() {
    if (!hold) return;
    for (auto &held : hold->held) held.store(nullptr, std::memory_order_release);
    hold->query = nullptr;
    hold->taken.store(false, std::memory_order_release);
  }
};

class TAVIRON_API SpatialCacheBase {
public:
  enum Kind { kPoints = 1, kLines = 2 };

  virtual ~SpatialCacheBase();
  // The feature's box; false when it is not held.
  virtual bool GetBox(int32_t number, BBox &box) = 0;
  // The part count given when the feature was added (0 when it is not held).
  virtual int32_t GetPartCount(int32_t number) = 0;
  // Moves every record held in memory to the overflow store.
  virtual void SpillToFile() = 0;

  Kind kind() const { return kind_; }
  // The cache's number, which no other cache of the process has had.
  uint64_t Serial() const { return serial_; }

  // Bytes of the memory records of all caches of the process.
  static int64_t MemoryInUse();
  // Makes the next addition read the memory limit preference again (it is read once per kind).
  static void ForgetMemoryLimits();

protected:
  explicit SpatialCacheBase(Kind kind);
  static std::atomic<int64_t> memoryInUse_;

  // A hold record for a query that begins; the blocks the live queries hold.
  void TakeHold(SpatialCacheQuery *query);
  void HeldBlocks(std::vector<const SpatialCacheNumbers::Block *> &out) const;
  uint64_t serial_;

private:
  Kind kind_;
  std::atomic<SpatialCacheHold *> holds_{nullptr};
};

template <class T> class TAVIRON_API SpatialCache final : public SpatialCacheBase {
public:
  // A cache whose root box is the layer's box through the transform (null: as it is); null when
  // the layer state, its box or the transform fail, or out of memory.
  static SpatialCache *Create(const MVS *layer, const _exfr_XForm *xform);
  ~SpatialCache() override;
  SpatialCache(const SpatialCache &) = delete;
  SpatialCache &operator=(const SpatialCache &) = delete;

  // Adds a feature with its box (number from 1). Returns the coordinates now held by the cache
  // in memory mode, else the caller's own (in store mode, when the feature was already held, or
  // when it could not be added).
  T *Index(int32_t number, int32_t partCount, const BBox &box, T *coordinates);
  // The feature is held with coordinates.
  bool Has(int32_t number);
  // A copy of the held coordinates into destination (null: a new one); null when the feature is
  // not held with coordinates or the copy fails.
  T *Get(int32_t number, T *destination);
  bool GetBox(int32_t number, BBox &box) override;
  int32_t GetPartCount(int32_t number) override;
  void SpillToFile() override;

  // A new query for the box; below the root, nodes whose box Size is less than minSize are
  // skipped.
  SpatialCacheQuery *Begin(const BBox &box, double minSize);
  // The next feature number of the query (it must belong to this cache).
  int32_t GetNext(SpatialCacheQuery *query);

  // The feature's box as minimum x, minimum y, maximum x, maximum y; false when it is not held.
  // Reads without the lock.
  bool BoxValues(int32_t number, double values[4]) const;

  // For inspection (not locked).
  const SpatialCacheNode *Root() const { return root_.load(std::memory_order_acquire); }
  bool Spilled() const { return spilled_; }
  int32_t FirstUnheld() const { return firstUnheld_.load(std::memory_order_relaxed); }
  int64_t MemoryBytes() const { return total_; }
  CachedRecordStore *Store() const { return store_.get(); }

private:
  struct Record;
  struct Held;
  struct Boxes;

  explicit SpatialCache(const BBox &root);
  Held Find(int32_t number);
  bool InsertNode(SpatialCacheNode *node, int32_t number, const double *box);
  bool InsertIntoChildren(SpatialCacheNode *node, int32_t number, const double *box);
  bool AllSamePoint(const SpatialCacheNode *node, const double *first);
  void Split(SpatialCacheNode *node);
  void GrowRoot(const double *box);
  void Insert(int32_t number, const double *box);
  void FreeRetired();
  void WriteStored(int32_t number, int32_t partCount, const double *box, const T *coordinates);
  void Spill();
  void Collect(SpatialCacheQuery &query, SpatialCacheNode *node, const BBox &box, double minSize,
               int32_t depth);
  int TreeStep(SpatialCacheQuery &query, SpatialCacheQuery::Position &at, int32_t &number, double *box,
               bool &done) const;
  void SplitUnderWalk(SpatialCacheQuery &query);
  int32_t Sequential(SpatialCacheQuery &query);
  // The version before an addition changes the tree, and after it.
  void BeginChange();
  void EndChange();
  // The version is still `version` (no addition began or ended since it was read).
  bool Unchanged(uint64_t version) const;

  Ethr_Mutex *mutex_ = nullptr;
  std::atomic<SpatialCacheNode *> root_; // owned
  mutable std::atomic<uint64_t> version_{0}; // odd while an addition changes the tree
  std::unique_ptr<Boxes> boxes_;
  SpatialCacheNumbers::Retired retired_; // blocks the nodes gave up, freed once no query holds them
  std::size_t retiredCounted_ = 0;  // of them, those counted in retiredEntries_
  std::size_t retiredEntries_ = 0;  // their room, in numbers
  std::unique_ptr<CachedRecordStore> store_; // made at the first spill
  std::vector<std::unique_ptr<Record>> memory_;
  bool spilled_ = false;
  std::atomic<int32_t> firstUnheld_{1};
  int64_t total_ = 0;
};

#endif

#endif
