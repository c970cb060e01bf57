// The designs' and the record codec's C++ side, for the families of the layer: stored-form
// layouts computed at compile time, the dictionary calls the hierarchical files use to keep a
// dictionary in a file, designs from item lists, and what the units of the family share (its
// design data, its byte sources). Not part of the C interface.
//
// A design is an immutable layout (DesignData) shared by every handle that refers to it: a
// nested item holds the layout of its nested design, not the handle, so deleting a design never
// leaves a dangling reference and nesting can never form a cycle.
#ifndef TAVIRON_LOWER_EMIF_INTERNAL_H
#define TAVIRON_LOWER_EMIF_INTERNAL_H

#include "emif.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "egda.h"
#include "egda_pixel.h"
#include "emsc.h"

namespace taviron::emif {

// Size and alignment of an item, or of a whole record, in the stored form.
struct Layout {
  int32_t size = 0;
  int32_t alignment = 1;
};

constexpr int32_t AlignUp(int32_t value, int32_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

// The stored form of one element of a base type; nested is the layout of the nested design
// (base types 1 and 2). Size 0 for an unknown base type.
constexpr Layout BaseLayout(int32_t base, Layout nested) {
  switch (base) {
  case EMIF_TYPE_OBJECT:
  case EMIF_TYPE_RECORD: return nested;
  case EMIF_TYPE_ENUM: return {4, 4};
  case EMIF_TYPE_BYTE:
  case EMIF_TYPE_U8:
  case EMIF_TYPE_CHAR: return {1, 1};
  case EMIF_TYPE_U16:
  case EMIF_TYPE_S16: return {2, 2};
  case EMIF_TYPE_U32:
  case EMIF_TYPE_S32:
  case EMIF_TYPE_F32: return {4, 4};
  case EMIF_TYPE_F64: return {8, 8};
  case EMIF_TYPE_BASEDATA:
    return {static_cast<int32_t>(sizeof(Egda_BaseData)), static_cast<int32_t>(alignof(Egda_BaseData))};
  default: return {0, 1};
  }
}

// Offset of the element pointer in a counted array {int32 count, T *elements}.
constexpr int32_t kCountedPointerOffset = AlignUp(4, alignof(void *));

// The stored form of an item of this type code (count: fixed-array element count).
constexpr Layout ItemLayout(int32_t type, int32_t count, Layout nested) {
  const int32_t base = type & 0xff;
  switch (type & 0xf00) {
  case 0: return BaseLayout(base, nested);
  case EMIF_FIXED_ARRAY: {
    const Layout element = BaseLayout(base, nested);
    return {element.size * count, element.alignment};
  }
  case EMIF_COUNTED_ARRAY:
    return {AlignUp(kCountedPointerOffset + static_cast<int32_t>(sizeof(void *)), alignof(void *)),
            static_cast<int32_t>(alignof(void *))};
  case EMIF_POINTER:
    return {static_cast<int32_t>(sizeof(void *)), static_cast<int32_t>(alignof(void *))};
  default: return {0, 1};
  }
}

// One item of a compile-time layout: type code, fixed-array count, nested design layout.
struct Item {
  int32_t type;
  int32_t count = 0;
  Layout nested = {};
};

template <std::size_t N> struct RecordLayout {
  int32_t offsets[N] = {};
  int32_t size = 0;
  int32_t alignment = 1;
  // The layout to give an item that nests a record of this design.
  constexpr Layout AsNested() const { return {size, alignment}; }
};

// The stored-form layout of a design with these items, computed at compile time the way the
// designs compute theirs, so that a record type can be checked with static_assert:
//   constexpr auto layout = taviron::emif::RecordLayoutOf<3>({{{12}, {520}, {1041}}});
//   static_assert(layout.size == sizeof(Rec) && layout.offsets[2] == offsetof(Rec, box));
template <std::size_t N> constexpr RecordLayout<N> RecordLayoutOf(const Item (&items)[N]) {
  RecordLayout<N> result;
  int32_t offset = 0;
  for (std::size_t i = 0; i < N; ++i) {
    const Layout item = ItemLayout(items[i].type, items[i].count, items[i].nested);
    offset = AlignUp(offset, item.alignment);
    result.offsets[i] = offset;
    offset += item.size;
    if (item.alignment > result.alignment) result.alignment = item.alignment;
  }
  result.size = AlignUp(offset, result.alignment);
  return result;
}

// ---- Used by the hierarchical files to keep a dictionary in a file ----

// Number of changes made to the dictionary (designs added or removed) since it was created.
uint64_t DictionarySerial(const Emif_Dictionary *dictionary);
// The dictionary's designs in the order they were added.
std::vector<const Emif_Design *> DictionaryDesigns(const Emif_Dictionary *dictionary);
// A self-contained description of the design (its nested designs included).
std::string DesignDefinition(const Emif_Design *design);
// Adds the design described by a definition to the dictionary under the given name; false with a
// report when the definition is corrupt or the name is taken by another layout.
bool DictionaryAddDefinition(Emif_Dictionary *dictionary, const std::string &name,
                             const std::string &definition, Eerr_ErrorReport **err);
// True when the two designs have the same name and layout.
bool DesignsEqual(const Emif_Design *a, const Emif_Design *b);

// ---- Between the units of the family (designs and the codec) ----

inline constexpr int32_t kMaxDepth = 64;                 // nesting levels of designs
inline constexpr int64_t kMaxRecordSize = int64_t{1} << 28; // bytes of one stored record
inline constexpr int32_t kMaxItems = 100000;             // items of one design (runaway argument lists)
inline constexpr int32_t kMaxEnumNames = 100000;

struct DesignData;
using DesignPtr = std::shared_ptr<const DesignData>;

struct ItemData {
  int32_t type = 0;
  std::string name;
  int32_t count = 0; // fixed-array count
  std::vector<std::string> enumNames;
  DesignPtr nested;
  int32_t offset = 0;
  Layout layout;
};

struct DesignData {
  std::string name;
  std::vector<ItemData> items;
  Layout layout;
  int32_t depth = 1;
  uint64_t minExternal = 0; // fewest external bytes a record of this design takes
  // Item index by name.
  const ItemData *Find(const std::string &itemName) const {
    for (const ItemData &item : items)
      if (item.name == itemName) return &item;
    return nullptr;
  }
};

inline int32_t Base(int32_t type) { return type & 0xff; }
inline int32_t Modifier(int32_t type) { return type & 0xf00; }
inline bool IsNestedBase(int32_t base) { return base == EMIF_TYPE_OBJECT || base == EMIF_TYPE_RECORD; }

inline bool ValidType(int32_t type) {
  if (type <= 0 || (type & ~0x7ff) != 0) return false;
  const int32_t modifier = Modifier(type);
  if (modifier != 0 && modifier != EMIF_FIXED_ARRAY && modifier != EMIF_COUNTED_ARRAY &&
      modifier != EMIF_POINTER)
    return false;
  return BaseLayout(Base(type), Layout{1, 1}).size != 0;
}

// External bytes of one scalar element of a base type (0 for nested and matrices).
inline int32_t ScalarExternal(int32_t base) {
  switch (base) {
  case EMIF_TYPE_ENUM: return 4;
  case EMIF_TYPE_BYTE:
  case EMIF_TYPE_U8:
  case EMIF_TYPE_CHAR: return 1;
  case EMIF_TYPE_U16:
  case EMIF_TYPE_S16: return 2;
  case EMIF_TYPE_U32:
  case EMIF_TYPE_S32:
  case EMIF_TYPE_F32: return 4;
  case EMIF_TYPE_F64: return 8;
  default: return 0;
  }
}

inline uint64_t SaturatingMul(uint64_t a, uint64_t b) {
  if (a != 0 && b > std::numeric_limits<uint64_t>::max() / a) return std::numeric_limits<uint64_t>::max();
  return a * b;
}
inline uint64_t SaturatingAdd(uint64_t a, uint64_t b) {
  return b > std::numeric_limits<uint64_t>::max() - a ? std::numeric_limits<uint64_t>::max() : a + b;
}

// Fewest external bytes of one element of the item's base type.
inline uint64_t ElementMinExternal(const ItemData &item) {
  const int32_t base = Base(item.type);
  if (IsNestedBase(base)) return item.nested->minExternal;
  if (base == EMIF_TYPE_BASEDATA) return 16;
  return static_cast<uint64_t>(ScalarExternal(base));
}

inline uint64_t ItemMinExternal(const ItemData &item) {
  switch (Modifier(item.type)) {
  case 0: return ElementMinExternal(item);
  case EMIF_FIXED_ARRAY: return SaturatingMul(ElementMinExternal(item), static_cast<uint64_t>(item.count));
  default: return 4; // a count or a presence flag
  }
}

// An item before its layout is computed.
struct ItemSpec {
  int32_t type = 0;
  std::string name;
  int32_t count = 0;
  std::vector<std::string> enumNames;
  DesignPtr nested;
};

// Items (and enumeration names) one comparison of layouts compares at most: layouts that take
// more are told different, and a record of one is then read into the other item by item, by name.
inline constexpr int64_t kMaxCompareWork = int64_t{1} << 20;

// True when the two layouts have the same items (and names, when compareNames; and the names of
// their enumeration values, when compareValueNames); false too when telling would take more than
// kMaxCompareWork.
bool SameLayout(const DesignData &a, const DesignData &b, bool compareNames = true, bool compareValueNames = true);

// The verdicts of comparisons of layouts, kept from one decode to the next: an open file keeps
// one, so that each stored design is compared with the design a reader gives once, not for every
// record read. The designs held stay alive with it (and every layout they nest), so an address it
// remembers is never taken by another layout.
class LayoutVerdicts {
public:
  void Hold(const DesignPtr &design);
  // SameLayout, remembered.
  bool Same(const DesignData &a, const DesignData &b, bool compareNames = true);
  // True when a record stored by `stored` can be read into a record of `given`: equal layouts
  // (their own names aside), or an item of the same name in both. Remembered (both are held).
  bool Readable(const DesignPtr &stored, const DesignPtr &given);
  // The item of `target` that each item of `stored` is read into (null: read and dropped): the
  // item of the same name, when its type is of the same kind. Remembered.
  const std::vector<const ItemData *> &Map(const DesignData &stored, const DesignData &target);
  // How a record laid out in memory by `given` is written as a record of `stored` (a file's design
  // of its name): by `given` when the layouts are equal (their own names aside); by `stored` when
  // they differ only in the names of enumeration values (a value is stored as its number, and
  // `stored`, by which the record is read back, refuses one it does not name); not at all when
  // the layouts differ otherwise, since `stored` would read the record in memory by another
  // layout. Remembered (both are held).
  enum class Writer { Given, Stored, None };
  Writer WrittenBy(const DesignPtr &stored, const DesignPtr &given);

private:
  std::set<const DesignData *> heldNames_;
  std::vector<DesignPtr> held_;
  // By the pair and what was asked: 0 and 1 Same (with the designs' own names), 2 Readable, 3 the
  // same layout but for the names of enumeration values (WrittenBy).
  std::map<std::tuple<const DesignData *, const DesignData *, int>, bool> verdicts_;
  std::map<std::pair<const DesignData *, const DesignData *>, std::vector<const ItemData *>> maps_;
};

// emif_ObjectDecode (and its reports), with the layouts compared through the verdicts given.
void *ObjectDecode(const Emif_Design *stored, const Emif_Design *design, const uint8_t *bytes, int32_t size,
                   void *record, LayoutVerdicts &verdicts, Eerr_ErrorReport **err);

// Little-endian helpers.
inline void PutUnsigned(std::string &out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}
inline uint64_t GetUnsigned(const uint8_t *in, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= uint64_t{in[i]} << (8 * i);
  return value;
}

// Where the external bytes come from.
class Source {
public:
  virtual ~Source() = default;
  // Copies n bytes out; false when fewer are left.
  virtual bool Read(uint8_t *to, uint64_t n) = 0;
  // Bytes left (an upper bound).
  virtual uint64_t Remaining() const = 0;
};

class MemorySource : public Source {
public:
  MemorySource(const uint8_t *bytes, uint64_t size) : p_(bytes), left_(size) {}
  bool Read(uint8_t *to, uint64_t n) override {
    if (n > left_) return false;
    if (n) std::memcpy(to, p_, n);
    p_ += n;
    left_ -= n;
    return true;
  }
  uint64_t Remaining() const override { return left_; }

private:
  const uint8_t *p_;
  uint64_t left_;
};

// ---- Designs from item lists (the record kit defines its designs through this) ----

// One item of a design being defined; the texts must live until the call returns.
struct ItemDefinition {
  int32_t type = 0;
  const char *name = nullptr;
  int32_t count = 0;             // fixed arrays
  const char *nested = nullptr;  // the nested design's name (types 1, 2)
  const char *const *enumNames = nullptr;
  int32_t enumCount = 0;
};

// Defines a design from its items as emif_DesignCreate does from its keyword list, with the same
// checks and reports (reporter emif_DesignCreate); nested designs are found by name in the
// dictionary (null: among the free-standing designs).
Emif_Design *DefineDesign(Emif_Dictionary *dictionary, const char *name,
                          std::span<const ItemDefinition> items, Eerr_ErrorReport **err);

// ---- Freeing what a record owns ----

// Frees what the record at p owns by its design, and zeroes the freed members (the record itself
// stays). The design is walked through Walk: Walk::Items(design) gives its items, each with
// type, offset and count members; Walk::Nested(item) gives the design nested by an item (null
// for none) and Walk::ElementSize(item) the bytes of one element.
template <class Walk, class D> void FreeOwned(const D &design, uint8_t *p) {
  const auto freeElement = [](const auto &item, uint8_t *q) {
    const int32_t base = item.type & 0xff;
    if (const auto *nested = Walk::Nested(item)) FreeOwned<Walk>(*nested, q);
    else if (base == EMIF_TYPE_BASEDATA) lower::FreeContents(reinterpret_cast<Egda_BaseData *>(q));
  };
  for (const auto &item : Walk::Items(design)) {
    uint8_t *q = p + item.offset;
    const int32_t base = item.type & 0xff;
    const bool owns = Walk::Nested(item) != nullptr || base == EMIF_TYPE_BASEDATA;
    const int32_t elementSize = Walk::ElementSize(item);
    switch (item.type & 0xf00) {
    case 0: freeElement(item, q); break;
    case EMIF_FIXED_ARRAY:
      if (owns)
        for (int32_t i = 0; i < item.count; ++i) freeElement(item, q + std::ptrdiff_t{i} * elementSize);
      break;
    case EMIF_COUNTED_ARRAY: {
      int32_t count;
      std::memcpy(&count, q, 4);
      uint8_t *elements;
      std::memcpy(&elements, q + kCountedPointerOffset, sizeof elements);
      if (elements && owns)
        for (int32_t i = 0; i < count; ++i) freeElement(item, elements + std::ptrdiff_t{i} * elementSize);
      emsc_HeapFree(elements);
      std::memset(q, 0, static_cast<std::size_t>(ItemLayout(item.type, 0, {}).size));
      break;
    }
    case EMIF_POINTER: {
      uint8_t *object;
      std::memcpy(&object, q, sizeof object);
      if (object) {
        if (base == EMIF_TYPE_BASEDATA) {
          egda_BaseDataDelete(reinterpret_cast<Egda_BaseData *>(object), nullptr);
        } else {
          freeElement(item, object);
          emsc_HeapFree(object);
        }
      }
      std::memset(q, 0, sizeof(void *));
      break;
    }
    }
  }
}

} // namespace taviron::emif

// The handle of a design and a dictionary of them.
struct Emif_Dictionary {
  std::vector<Emif_Design *> designs;
  uint64_t serial = 0;
};

struct Emif_Design {
  taviron::emif::DesignPtr data;
  Emif_Dictionary *dictionary = nullptr;
};
#endif
