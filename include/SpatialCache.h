// The spatial cache of vector features: features numbered by the caller from 1, their boxes
// indexed in a quadtree that grows outward when a feature falls outside it, and their
// coordinates held in memory until the memory used by all caches of the process passes the
// preference "vector"/"memcache_limit" (whole megabytes, default 1024); from then on the cache's
// records go to its overflow store on disk (CachedVector.h). One cache holds one kind of
// feature: points (SpatialCache<Egda_BaseData>) or arcs and polygons
// (SpatialCache<Efga_CoordinateBlock>). The flat functions evec_SpatialCache* of evec.h reach it.
//
// Every operation takes the cache's lock, so several threads may add features to one cache and
// query it at once. Coordinates handed back by Index in memory mode belong to the cache and stay
// valid until the cache spills or is deleted.
#ifndef TAVIRON_SPATIALCACHE_H
#define TAVIRON_SPATIALCACHE_H

#include "taviron_export.h"

#ifdef __cplusplus

#include <atomic>
#include <cstdint>
#include <memory>
#include <unordered_set>
#include <vector>

#include "BBox.h"
#include "CachedVector.h"
#include "efga.h"
#include "egda.h"
#include "ethr.h"
#include "evec.h"
#include "exfr.h"

// A node of the quadtree: a feature is held by the deepest node whose box contains the
// feature's box. Children, present once the node is split, come in the order Quad00, Quad01,
// Quad10, Quad11.
struct SpatialCacheNode {
  bool split = false;
  std::unique_ptr<SpatialCacheNode> children[4];
  std::vector<int32_t> numbers;
  BBox box;

  explicit SpatialCacheNode(const BBox &b) : box(b) {}
};

// One box search: the numbers found in the tree first, then every further number in order.
struct SpatialCacheQuery {
  struct Listed {
    SpatialCacheNode *node;
    bool splitWhenListed;
  };
  const void *cache = nullptr;
  bool treeDone = false;
  std::vector<Listed> nodes;
  std::size_t cursor = 0;       // the current listed node
  std::size_t numberCursor = 0; // into its numbers
  std::size_t countAtEntry = 0; // its count when it was entered
  int32_t nextSequential = 1;
  std::unordered_set<int32_t> returned; // numbers above the first unheld one already returned
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

  // Bytes of the memory records of all caches of the process.
  static int64_t MemoryInUse();
  // Makes the next addition read the memory limit preference again (it is read once per kind).
  static void ForgetMemoryLimits();

protected:
  explicit SpatialCacheBase(Kind kind) : kind_(kind) {}
  static std::atomic<int64_t> memoryInUse_;

private:
  Kind kind_;
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

  // For inspection (not locked).
  const SpatialCacheNode *Root() const { return root_.get(); }
  bool Spilled() const { return spilled_; }
  int32_t FirstUnheld() const { return firstUnheld_; }
  int64_t MemoryBytes() const { return total_; }
  CachedRecordStore *Store() const { return store_.get(); }

private:
  struct Record;
  struct Held;

  explicit SpatialCache(const BBox &root);
  Held Find(int32_t number);
  bool BoxOf(int32_t number, BBox &box);
  bool InsertNode(SpatialCacheNode *node, int32_t number, const BBox &box);
  bool InsertIntoChildren(SpatialCacheNode *node, int32_t number, const BBox &box);
  bool AllSamePoint(const SpatialCacheNode *node, const BBox &first);
  void Split(SpatialCacheNode *node);
  void GrowRoot(const BBox &box);
  void Insert(int32_t number, const BBox &box);
  void WriteStored(int32_t number, int32_t partCount, const BBox &box, const T *coordinates);
  void Spill();
  void Collect(SpatialCacheQuery &query, SpatialCacheNode *node, const BBox &box, double minSize,
               int32_t depth);
  void Advance(SpatialCacheQuery &query, std::size_t from);

  Ethr_Mutex *mutex_ = nullptr;
  std::unique_ptr<SpatialCacheNode> root_;
  std::unique_ptr<CachedRecordStore> store_; // made at the first spill
  std::vector<std::unique_ptr<Record>> memory_;
  bool spilled_ = false;
  int32_t firstUnheld_ = 1;
  int64_t total_ = 0;
};

#endif

#endif
