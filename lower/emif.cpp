// Designs, dictionaries of designs and the record codec.
//
// A design is an immutable layout (DesignData) shared by every handle that refers to it: a
// nested item holds the layout of its nested design, not the handle, so deleting a design never
// leaves a dangling reference and nesting can never form a cycle.
//
// External form of a record, item by item in design order, little-endian, no padding:
//   enumeration, 32-bit integers and floats: 4 bytes; 16-bit: 2; 8-bit: 1; double: 8;
//   nested record (1, 2): its items inline;
//   fixed array: the elements, the count being the design's;
//   counted array (and the counted string 520): int32 count, then the elements (the string's
//     bytes include its terminating zero);
//   pointer: int32 presence flag (0 or 1), then the object when present;
//   matrix (17, and the objects of 529 and 1041): int32 rows, columns, pixel type, object type,
//     then the elements in storage order (row by row for scalars and rasters, column by column
//     for tables and matrices), each as its pixel type (u1, u2, u4 one byte; complex real then
//     imaginary; a string as int32 count and count bytes, its zero included).
#include "emif.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "egda.h"
#include "egda_pixel.h"
#include "emif_internal.h"
#include "emsc.h"
#include "internal.h"
#include "keywords.h"

namespace lower = taviron::lower;
using namespace taviron::emif;
using taviron::lower::Shape;

namespace {

constexpr int32_t kMaxDepth = 64;                 // nesting levels of designs
constexpr int64_t kMaxRecordSize = int64_t{1} << 28; // bytes of one stored record
constexpr int32_t kMaxItems = 100000;             // items of one design (runaway argument lists)
constexpr int32_t kMaxEnumNames = 100000;

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

int32_t Base(int32_t type) { return type & 0xff; }
int32_t Modifier(int32_t type) { return type & 0xf00; }
bool IsNestedBase(int32_t base) { return base == EMIF_TYPE_OBJECT || base == EMIF_TYPE_RECORD; }

bool ValidType(int32_t type) {
  if (type <= 0 || (type & ~0x7ff) != 0) return false;
  const int32_t modifier = Modifier(type);
  if (modifier != 0 && modifier != EMIF_FIXED_ARRAY && modifier != EMIF_COUNTED_ARRAY &&
      modifier != EMIF_POINTER)
    return false;
  return BaseLayout(Base(type), Layout{1, 1}).size != 0;
}

// External bytes of one scalar element of a base type (0 for nested and matrices).
int32_t ScalarExternal(int32_t base) {
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

uint64_t SaturatingMul(uint64_t a, uint64_t b) {
  if (a != 0 && b > std::numeric_limits<uint64_t>::max() / a) return std::numeric_limits<uint64_t>::max();
  return a * b;
}
uint64_t SaturatingAdd(uint64_t a, uint64_t b) {
  return b > std::numeric_limits<uint64_t>::max() - a ? std::numeric_limits<uint64_t>::max() : a + b;
}

// Fewest external bytes of one element of the item's base type.
uint64_t ElementMinExternal(const ItemData &item) {
  const int32_t base = Base(item.type);
  if (IsNestedBase(base)) return item.nested->minExternal;
  if (base == EMIF_TYPE_BASEDATA) return 16;
  return static_cast<uint64_t>(ScalarExternal(base));
}

uint64_t ItemMinExternal(const ItemData &item) {
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

// True when the layout (or a layout it nests) is named `name`. Each shared layout is visited
// once, so a chain of designs nesting the one before twice costs no more than its length.
bool Nests(const DesignData &design, const std::string &name, std::set<const DesignData *> &seen) {
  for (const ItemData &item : design.items) {
    if (!item.nested || !seen.insert(item.nested.get()).second) continue;
    if (item.nested->name == name || Nests(*item.nested, name, seen)) return true;
  }
  return false;
}
bool Nests(const DesignData &design, const std::string &name) {
  std::set<const DesignData *> seen;
  return Nests(design, name, seen);
}

// Builds a layout from its items; an empty result with `problem` set on failure.
DesignPtr BuildDesign(const std::string &name, std::vector<ItemSpec> specs, std::string &problem) {
  if (specs.empty()) {
    problem = "Design " + name + " has no items";
    return nullptr;
  }
  auto design = std::make_shared<DesignData>();
  design->name = name;
  int64_t offset = 0;
  for (ItemSpec &spec : specs) {
    if (!ValidType(spec.type)) {
      problem = lower::Format("Invalid item type %d for item %s of design %s", spec.type,
                              spec.name.c_str(), name.c_str());
      return nullptr;
    }
    if (spec.name.empty()) {
      problem = "Invalid item name in design " + name;
      return nullptr;
    }
    if (design->Find(spec.name)) {
      problem = "Item " + spec.name + " appears twice in design " + name;
      return nullptr;
    }
    const int32_t base = Base(spec.type);
    if (IsNestedBase(base)) {
      if (!spec.nested) {
        problem = "Missing nested design for item " + spec.name + " of design " + name;
        return nullptr;
      }
      if (spec.nested->name == name || Nests(*spec.nested, name)) {
        problem = "Design " + name + " nests itself (item " + spec.name + ")";
        return nullptr;
      }
      design->depth = std::max(design->depth, spec.nested->depth + 1);
      if (design->depth > kMaxDepth) {
        problem = lower::Format("Design %s nests designs more than %d deep", name.c_str(), kMaxDepth);
        return nullptr;
      }
    } else {
      spec.nested.reset();
    }
    if (base != EMIF_TYPE_ENUM) spec.enumNames.clear();
    if (Modifier(spec.type) == EMIF_FIXED_ARRAY) {
      const Layout element = BaseLayout(base, spec.nested ? spec.nested->layout : Layout{});
      if (spec.count <= 0 || int64_t{spec.count} * element.size > kMaxRecordSize) {
        problem = lower::Format("Invalid array count %d for item %s of design %s", spec.count,
                                spec.name.c_str(), name.c_str());
        return nullptr;
      }
    } else {
      spec.count = 0;
    }
    ItemData item;
    item.type = spec.type;
    item.name = std::move(spec.name);
    item.count = spec.count;
    item.enumNames = std::move(spec.enumNames);
    item.nested = std::move(spec.nested);
    item.layout = ItemLayout(item.type, item.count, item.nested ? item.nested->layout : Layout{});
    offset = AlignUp(static_cast<int32_t>(offset), item.layout.alignment);
    item.offset = static_cast<int32_t>(offset);
    offset += item.layout.size;
    if (offset > kMaxRecordSize) {
      problem = "Design " + name + " is too large";
      return nullptr;
    }
    design->layout.alignment = std::max(design->layout.alignment, item.layout.alignment);
    design->minExternal = SaturatingAdd(design->minExternal, ItemMinExternal(item));
    design->items.push_back(std::move(item));
  }
  design->layout.size = AlignUp(static_cast<int32_t>(offset), design->layout.alignment);
  return design;
}

// Pairs already compared are not compared again (layouts are acyclic, so a pair under
// comparison can be taken as equal).
bool SameLayout(const DesignData &a, const DesignData &b, bool compareNames,
                std::set<std::pair<const DesignData *, const DesignData *>> &seen) {
  if (&a == &b) return true;
  if ((compareNames && a.name != b.name) || a.items.size() != b.items.size()) return false;
  for (std::size_t i = 0; i < a.items.size(); ++i) {
    const ItemData &x = a.items[i];
    const ItemData &y = b.items[i];
    if (x.type != y.type || x.name != y.name || x.count != y.count || x.enumNames != y.enumNames)
      return false;
    if ((x.nested == nullptr) != (y.nested == nullptr)) return false;
    if (x.nested && seen.insert({x.nested.get(), y.nested.get()}).second &&
        !SameLayout(*x.nested, *y.nested, true, seen))
      return false;
  }
  return true;
}
bool SameLayout(const DesignData &a, const DesignData &b, bool compareNames = true) {
  std::set<std::pair<const DesignData *, const DesignData *>> seen;
  return SameLayout(a, b, compareNames, seen);
}

} // namespace

struct Emif_Dictionary {
  std::vector<Emif_Design *> designs;
  uint64_t serial = 0;
};

struct Emif_Design {
  DesignPtr data;
  Emif_Dictionary *dictionary = nullptr;
};

namespace {

// Free-standing designs (made without a dictionary), for nested lookups by name.
std::mutex freeMutex;
std::vector<Emif_Design *> &FreeDesigns() {
  static std::vector<Emif_Design *> designs;
  return designs;
}

Emif_Design *NewHandle(DesignPtr data, Emif_Dictionary *dictionary) {
  void *block = emsc_HeapMalloc(sizeof(Emif_Design));
  if (!block) return nullptr;
  auto *design = new (block) Emif_Design;
  design->data = std::move(data);
  design->dictionary = dictionary;
  return design;
}

void FreeHandle(Emif_Design *design) {
  design->~Emif_Design();
  emsc_HeapFree(design);
}

Emif_Design *FindIn(const Emif_Dictionary *dictionary, const std::string &name) {
  if (dictionary) {
    for (Emif_Design *design : dictionary->designs)
      if (design->data->name == name) return design;
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(freeMutex);
  const auto &designs = FreeDesigns();
  for (auto it = designs.rbegin(); it != designs.rend(); ++it)
    if ((*it)->data->name == name) return *it;
  return nullptr;
}

// Registers a layout under a handle: in the dictionary (reusing a design of the same layout,
// refusing one of another layout) or among the free-standing designs.
Emif_Design *Register(Emif_Dictionary *dictionary, DesignPtr data, const char *reporter,
                      Eerr_ErrorReport **err, int32_t codeTaken, int32_t codeMemory) {
  if (dictionary) {
    if (Emif_Design *existing = FindIn(dictionary, data->name)) {
      if (SameLayout(*existing->data, *data)) return existing;
      lower::Report(err, reporter, codeTaken,
                    "Design %s already exists in the dictionary with another layout",
                    data->name.c_str());
      return nullptr;
    }
  }
  Emif_Design *design = NewHandle(std::move(data), dictionary);
  if (!design) {
    lower::Report(err, reporter, codeMemory, "Error allocating design");
    return nullptr;
  }
  if (dictionary) {
    dictionary->designs.push_back(design);
    ++dictionary->serial;
  } else {
    std::lock_guard<std::mutex> lock(freeMutex);
    FreeDesigns().push_back(design);
  }
  return design;
}

// Takes a handle out of its dictionary or of the free-standing list; false when unknown.
bool Unregister(Emif_Design *design) {
  if (design->dictionary) {
    auto &designs = design->dictionary->designs;
    auto it = std::find(designs.begin(), designs.end(), design);
    if (it == designs.end()) return false;
    designs.erase(it);
    ++design->dictionary->serial;
    return true;
  }
  std::lock_guard<std::mutex> lock(freeMutex);
  auto &designs = FreeDesigns();
  auto it = std::find(designs.begin(), designs.end(), design);
  if (it == designs.end()) return false;
  designs.erase(it);
  return true;
}

// ---- Little-endian helpers ----

void PutUnsigned(std::string &out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}
uint64_t GetUnsigned(const uint8_t *in, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= uint64_t{in[i]} << (8 * i);
  return value;
}

// Copies a scalar of `bytes` bytes between memory and its little-endian external form.
void ScalarToExternal(std::string &out, const uint8_t *memory, int bytes) {
  uint64_t value = 0;
  switch (bytes) {
  case 1: value = memory[0]; break;
  case 2: { uint16_t v; std::memcpy(&v, memory, 2); value = v; break; }
  case 4: { uint32_t v; std::memcpy(&v, memory, 4); value = v; break; }
  case 8: { uint64_t v; std::memcpy(&v, memory, 8); value = v; break; }
  }
  PutUnsigned(out, value, bytes);
}
void ScalarFromExternal(uint8_t *memory, const uint8_t *in, int bytes) {
  const uint64_t value = GetUnsigned(in, bytes);
  switch (bytes) {
  case 1: memory[0] = static_cast<uint8_t>(value); break;
  case 2: { const auto v = static_cast<uint16_t>(value); std::memcpy(memory, &v, 2); break; }
  case 4: { const auto v = static_cast<uint32_t>(value); std::memcpy(memory, &v, 4); break; }
  case 8: std::memcpy(memory, &value, 8); break;
  }
}

// Bytes of one matrix element in the external form (strings excluded).
int32_t PixelExternal(int32_t pixelType) {
  return pixelType == EGDA_TYPE_STRING ? 0 : egda_PixelTypeSize(pixelType);
}
// Scalar width of the parts of an element (complex: each half).
int32_t PixelPart(int32_t pixelType) {
  if (pixelType == EGDA_TYPE_C64) return 4;
  if (pixelType == EGDA_TYPE_C128) return 8;
  return egda_PixelTypeSize(pixelType);
}

// ---- Encoder ----

class Encoder {
public:
  explicit Encoder(std::string &out) : out_(out) {}
  std::string problem;

  bool Record(const DesignData &design, const uint8_t *p) {
    for (const ItemData &item : design.items)
      if (!Item(design, item, p + item.offset)) return false;
    return true;
  }

private:
  std::string &out_;

  bool Fail(const std::string &text) {
    problem = text;
    return false;
  }

  bool Item(const DesignData &design, const ItemData &item, const uint8_t *p) {
    const int32_t base = Base(item.type);
    const int32_t elementSize = BaseLayout(base, item.nested ? item.nested->layout : Layout{}).size;
    switch (Modifier(item.type)) {
    case 0: return Element(design, item, p);
    case EMIF_FIXED_ARRAY:
      for (int32_t i = 0; i < item.count; ++i)
        if (!Element(design, item, p + std::ptrdiff_t{i} * elementSize)) return false;
      return true;
    case EMIF_COUNTED_ARRAY: {
      int32_t count;
      std::memcpy(&count, p, 4);
      const uint8_t *elements;
      std::memcpy(&elements, p + kCountedPointerOffset, sizeof elements);
      if (count < 0)
        return Fail(lower::Format("Item %s of design %s has a count of %d", item.name.c_str(),
                                  design.name.c_str(), count));
      if (item.type == EMIF_TYPE_STRING && !elements) count = 0;
      if (count > 0 && !elements)
        return Fail(lower::Format("Item %s of design %s counts %d elements and has none",
                                  item.name.c_str(), design.name.c_str(), count));
      PutUnsigned(out_, static_cast<uint32_t>(count), 4);
      if (item.type == EMIF_TYPE_STRING) {
        if (count > 0) {
          out_.append(reinterpret_cast<const char *>(elements), static_cast<std::size_t>(count - 1));
          out_.push_back('\0');
        }
        return true;
      }
      for (int32_t i = 0; i < count; ++i)
        if (!Element(design, item, elements + std::ptrdiff_t{i} * elementSize)) return false;
      return true;
    }
    case EMIF_POINTER: {
      const uint8_t *object;
      std::memcpy(&object, p, sizeof object);
      PutUnsigned(out_, object ? 1 : 0, 4);
      if (!object) return true;
      return Element(design, item, object);
    }
    }
    return Fail("Invalid item type");
  }

  bool Element(const DesignData &design, const ItemData &item, const uint8_t *p) {
    const int32_t base = Base(item.type);
    if (IsNestedBase(base)) return Record(*item.nested, p);
    if (base == EMIF_TYPE_BASEDATA) return Matrix(design, item, *reinterpret_cast<const Egda_BaseData *>(p));
    if (base == EMIF_TYPE_ENUM) {
      int32_t value;
      std::memcpy(&value, p, 4);
      if (!item.enumNames.empty() &&
          (value < 0 || value >= static_cast<int32_t>(item.enumNames.size())))
        return Fail(lower::Format("Value %d of enumeration %s of design %s is not one of its %d items",
                                  value, item.name.c_str(), design.name.c_str(),
                                  static_cast<int32_t>(item.enumNames.size())));
    }
    ScalarToExternal(out_, p, ScalarExternal(base));
    return true;
  }

  bool Matrix(const DesignData &design, const ItemData &item, const Egda_BaseData &m) {
    const int32_t size = egda_PixelTypeSize(m.pixelType);
    constexpr int32_t kMaxSide = std::numeric_limits<int32_t>::max() / 16;
    if (m.rows < 0 || m.columns < 0 || m.rows > kMaxSide || m.columns > kMaxSide || size == 0 || m.objectType < EGDA_SCALAR ||
        m.objectType > EGDA_RASTER || (int64_t{m.rows} * m.columns > 0 && !m.origin && !m.data))
      return Fail(lower::Format("Matrix %s of design %s is not valid (%d x %d, pixel type %d, "
                                "object type %d)", item.name.c_str(), design.name.c_str(), m.rows,
                                m.columns, m.pixelType, m.objectType));
    PutUnsigned(out_, static_cast<uint32_t>(m.rows), 4);
    PutUnsigned(out_, static_cast<uint32_t>(m.columns), 4);
    PutUnsigned(out_, static_cast<uint32_t>(m.pixelType), 4);
    PutUnsigned(out_, static_cast<uint32_t>(m.objectType), 4);
    Egda_BaseData view = m;
    if (!view.origin) view.origin = view.data;
    if (view.elementSize != size || view.pitch == 0) {
      view.elementSize = size;
      view.pitch = (lower::IsColumnMajor(view) ? view.rows : view.columns) * size;
    }
    const bool columnMajor = lower::IsColumnMajor(view);
    const int32_t majors = columnMajor ? view.columns : view.rows;
    const int32_t minors = columnMajor ? view.rows : view.columns;
    const int32_t part = PixelPart(m.pixelType);
    for (int32_t i = 0; i < majors; ++i)
      for (int32_t j = 0; j < minors; ++j) {
        const uint8_t *e = columnMajor ? lower::ElementAddress(view, j, i) : lower::ElementAddress(view, i, j);
        if (m.pixelType == EGDA_TYPE_STRING) {
          const char *text;
          std::memcpy(&text, e, sizeof text);
          if (!text) {
            PutUnsigned(out_, 0, 4);
          } else {
            const std::size_t n = std::strlen(text) + 1;
            if (n > static_cast<std::size_t>(std::numeric_limits<int32_t>::max()))
              return Fail("Matrix string too long");
            PutUnsigned(out_, n, 4);
            out_.append(text, n);
          }
        } else {
          for (int32_t k = 0; k < size; k += part) ScalarToExternal(out_, e + k, part);
        }
      }
    return true;
  }
};

// ---- Decoder ----

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

class FileSource : public Source {
public:
  explicit FileSource(FILE *file) : file_(file) {
    struct stat st;
    const long position = std::ftell(file);
    if (position >= 0 && fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode))
      left_ = st.st_size > position ? static_cast<uint64_t>(st.st_size - position) : 0;
    else
      left_ = uint64_t{1} << 26; // a stream of unknown length: no count may promise more
  }
  bool Read(uint8_t *to, uint64_t n) override {
    if (n > left_) return false;
    if (n && std::fread(to, 1, n, file_) != n) return false;
    left_ -= n;
    return true;
  }
  uint64_t Remaining() const override { return left_; }

private:
  FILE *file_;
  uint64_t left_ = 0;
};

class Decoder {
public:
  explicit Decoder(Source &source) : in_(source) {}
  ~Decoder() {
    if (!committed_) Undo();
  }
  std::string problem;

  // Decodes a record of `stored` into `target` at p (p may be memory the caller owns; it is
  // saved first so that a failure puts it back).
  bool TopRecord(const DesignData &stored, const DesignData &target, uint8_t *p) {
    Save(p, target.layout.size);
    return Record(stored, &target, p);
  }
  void *NewBlock(std::size_t n) {
    void *block = emsc_HeapMalloc(n ? n : 1);
    if (block) allocations_.push_back({Kind::Block, block, 0, 0});
    return block;
  }
  void Commit() { committed_ = true; }

private:
  enum class Kind { Block, Matrix, InlineBuffer };
  struct Allocation {
    Kind kind;
    void *block;
    int32_t pixelType;
    int32_t count;
  };
  Source &in_;
  bool committed_ = false;
  std::vector<std::pair<uint8_t *, std::string>> saved_;
  std::vector<Allocation> allocations_;
  std::map<std::pair<const DesignData *, const DesignData *>, std::vector<const ItemData *>> maps_;
  std::map<std::pair<const DesignData *, const DesignData *>, bool> same_;

  bool Same(const DesignData &a, const DesignData &b) {
    if (&a == &b) return true;
    auto key = std::make_pair(&a, &b);
    auto it = same_.find(key);
    if (it != same_.end()) return it->second;
    return same_.emplace(key, SameLayout(a, b)).first->second;
  }

  void Save(uint8_t *p, int32_t n) { saved_.emplace_back(p, std::string(reinterpret_cast<char *>(p), static_cast<std::size_t>(n))); }

  void Undo() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
      std::memcpy(it->first, it->second.data(), it->second.size());
    for (auto it = allocations_.rbegin(); it != allocations_.rend(); ++it) {
      switch (it->kind) {
      case Kind::Block: emsc_HeapFree(it->block); break;
      case Kind::Matrix: egda_BaseDataDelete(static_cast<Egda_BaseData *>(it->block), nullptr); break;
      case Kind::InlineBuffer:
        if (it->pixelType == EGDA_TYPE_STRING)
          for (int32_t i = 0; i < it->count; ++i) emsc_HeapFree(static_cast<char **>(it->block)[i]);
        emsc_HeapFree(it->block);
        break;
      }
    }
  }

  bool Fail(const std::string &text) {
    if (problem.empty()) problem = text;
    return false;
  }
  bool Truncated(const DesignData &design, const ItemData &item) {
    return Fail("Record of design " + design.name + " ends inside item " + item.name);
  }
  bool Int32(int32_t &value) {
    uint8_t b[4];
    if (!in_.Read(b, 4)) return false;
    value = static_cast<int32_t>(static_cast<uint32_t>(GetUnsigned(b, 4)));
    return true;
  }

  // Target item of each stored item (null: decode and drop).
  const std::vector<const ItemData *> &Map(const DesignData &stored, const DesignData &target) {
    auto key = std::make_pair(&stored, &target);
    auto it = maps_.find(key);
    if (it != maps_.end()) return it->second;
    std::vector<const ItemData *> map;
    for (const ItemData &item : stored.items) {
      const ItemData *match = target.Find(item.name);
      if (match) {
        const int32_t a = Base(item.type), b = Base(match->type);
        const bool sameBase = a == b || (IsNestedBase(a) && IsNestedBase(b)) ||
                              ((a == EMIF_TYPE_BYTE || a == EMIF_TYPE_U8) && (b == EMIF_TYPE_BYTE || b == EMIF_TYPE_U8));
        if (!sameBase || Modifier(item.type) != Modifier(match->type)) match = nullptr;
      }
      map.push_back(match);
    }
    return maps_.emplace(key, std::move(map)).first->second;
  }

  bool Record(const DesignData &stored, const DesignData *target, uint8_t *p) {
    if (!target || Same(stored, *target)) {
      for (const ItemData &item : stored.items)
        if (!Item(stored, item, target ? &item : nullptr, target ? p + item.offset : nullptr)) return false;
      return true;
    }
    const auto &map = Map(stored, *target);
    for (std::size_t i = 0; i < stored.items.size(); ++i)
      if (!Item(stored, stored.items[i], map[i], map[i] ? p + map[i]->offset : nullptr)) return false;
    return true;
  }

  bool Item(const DesignData &design, const ItemData &item, const ItemData *target, uint8_t *p) {
    const int32_t base = Base(item.type);
    const DesignData *targetNested = target ? target->nested.get() : nullptr;
    const int32_t targetElement =
        target ? BaseLayout(Base(target->type), targetNested ? targetNested->layout : Layout{}).size : 0;
    switch (Modifier(item.type)) {
    case 0: return Element(design, item, target, p);
    case EMIF_FIXED_ARRAY:
      for (int32_t i = 0; i < item.count; ++i) {
        const bool keep = target && i < target->count;
        if (!Element(design, item, keep ? target : nullptr, keep ? p + std::ptrdiff_t{i} * targetElement : nullptr))
          return false;
      }
      return true;
    case EMIF_COUNTED_ARRAY: {
      int32_t count;
      if (!Int32(count)) return Truncated(design, item);
      const uint64_t least = SaturatingMul(static_cast<uint64_t>(count < 0 ? 0 : count), ElementMinExternal(item));
      if (count < 0 || least > in_.Remaining())
        return Fail(lower::Format("Count %d of item %s of design %s exceeds the %llu bytes left",
                                  count, item.name.c_str(), design.name.c_str(),
                                  static_cast<unsigned long long>(in_.Remaining())));
      uint8_t *elements = nullptr;
      if (target && count > 0) {
        // A character array gets a terminating zero after its count bytes.
        const std::size_t extra = base == EMIF_TYPE_CHAR ? 1 : 0;
        elements = static_cast<uint8_t *>(NewBlock(static_cast<std::size_t>(count) * static_cast<std::size_t>(targetElement) + extra));
        if (!elements) return Fail("Error allocating the elements of item " + item.name);
      }
      for (int32_t i = 0; i < count; ++i)
        if (!Element(design, item, target, elements ? elements + std::ptrdiff_t{i} * targetElement : nullptr))
          return false;
      if (item.type == EMIF_TYPE_STRING && count > 0 && elements && elements[count - 1] != 0)
        return Fail("String item " + item.name + " of design " + design.name + " is not terminated");
      if (target) {
        std::memcpy(p, &count, 4);
        std::memcpy(p + kCountedPointerOffset, &elements, sizeof elements);
      }
      return true;
    }
    case EMIF_POINTER: {
      int32_t flag;
      if (!Int32(flag)) return Truncated(design, item);
      if (flag != 0 && flag != 1)
        return Fail(lower::Format("Presence flag %d of item %s of design %s is neither 0 nor 1", flag,
                                  item.name.c_str(), design.name.c_str()));
      if (!flag) return true;
      if (!target) return Element(design, item, nullptr, nullptr);
      uint8_t *object;
      std::memcpy(&object, p, sizeof object);
      if (base == EMIF_TYPE_BASEDATA) {
        Egda_BaseData *matrix = nullptr;
        if (!NewMatrix(design, item, matrix)) return false;
        std::memcpy(p, &matrix, sizeof matrix);
        return true;
      }
      if (object && IsNestedBase(base)) {
        Save(object, targetElement);
      } else {
        object = static_cast<uint8_t *>(NewBlock(static_cast<std::size_t>(targetElement)));
        if (!object) return Fail("Error allocating the object of item " + item.name);
      }
      if (!Element(design, item, target, object)) return false;
      std::memcpy(p, &object, sizeof object);
      return true;
    }
    }
    return Fail("Invalid item type");
  }

  bool Element(const DesignData &design, const ItemData &item, const ItemData *target, uint8_t *p) {
    const int32_t base = Base(item.type);
    if (IsNestedBase(base)) return Record(*item.nested, target ? target->nested.get() : nullptr, p);
    if (base == EMIF_TYPE_BASEDATA) return InlineMatrix(design, item, target ? reinterpret_cast<Egda_BaseData *>(p) : nullptr);
    uint8_t b[8];
    const int32_t n = ScalarExternal(base);
    if (!in_.Read(b, static_cast<uint64_t>(n))) return Truncated(design, item);
    if (base == EMIF_TYPE_ENUM && !item.enumNames.empty()) {
      const auto value = static_cast<int32_t>(static_cast<uint32_t>(GetUnsigned(b, 4)));
      if (value < 0 || value >= static_cast<int32_t>(item.enumNames.size()))
        return Fail(lower::Format("Value %d of enumeration %s of design %s is not one of its %d items",
                                  value, item.name.c_str(), design.name.c_str(),
                                  static_cast<int32_t>(item.enumNames.size())));
    }
    if (p) ScalarFromExternal(p, b, n);
    return true;
  }

  // Reads a matrix header; checks it against the bytes left.
  bool MatrixHeader(const DesignData &design, const ItemData &item, int32_t (&h)[4]) {
    for (int32_t &v : h)
      if (!Int32(v)) return Truncated(design, item);
    const int32_t rows = h[0], columns = h[1], pixelType = h[2], objectType = h[3];
    // A side of a matrix times the widest element must fit the 32-bit pitch.
    constexpr int32_t kMaxSide = std::numeric_limits<int32_t>::max() / 16;
    if (rows < 0 || columns < 0 || rows > kMaxSide || columns > kMaxSide || pixelType < 0 ||
        pixelType > EGDA_TYPE_STRING || objectType < EGDA_SCALAR || objectType > EGDA_RASTER)
      return Fail(lower::Format("Matrix %s of design %s has a bad header (%d x %d, pixel type %d, "
                                "object type %d)", item.name.c_str(), design.name.c_str(), rows,
                                columns, pixelType, objectType));
    const uint64_t each = pixelType == EGDA_TYPE_STRING ? 4 : static_cast<uint64_t>(PixelExternal(pixelType));
    const uint64_t least = SaturatingMul(SaturatingMul(static_cast<uint64_t>(rows), static_cast<uint64_t>(columns)), each);
    if (least > in_.Remaining())
      return Fail(lower::Format("Matrix %s of design %s (%d x %d) exceeds the %llu bytes left",
                                item.name.c_str(), design.name.c_str(), rows, columns,
                                static_cast<unsigned long long>(in_.Remaining())));
    return true;
  }

  // Reads the elements of a compact matrix into buffer (null: skip).
  bool MatrixElements(const DesignData &design, const ItemData &item, const int32_t (&h)[4], uint8_t *buffer) {
    const int32_t pixelType = h[2];
    const int64_t count = int64_t{h[0]} * h[1];
    const int32_t size = egda_PixelTypeSize(pixelType);
    const int32_t part = PixelPart(pixelType);
    uint8_t b[8];
    for (int64_t i = 0; i < count; ++i) {
      uint8_t *e = buffer ? buffer + i * size : nullptr;
      if (pixelType == EGDA_TYPE_STRING) {
        int32_t n;
        if (!Int32(n)) return Truncated(design, item);
        if (n < 0 || static_cast<uint64_t>(n) > in_.Remaining())
          return Fail(lower::Format("String of %d bytes in matrix %s of design %s exceeds the bytes left",
                                    n, item.name.c_str(), design.name.c_str()));
        if (n == 0) continue;
        std::string text(static_cast<std::size_t>(n), '\0');
        if (!in_.Read(reinterpret_cast<uint8_t *>(text.data()), static_cast<uint64_t>(n))) return Truncated(design, item);
        if (text.back() != '\0')
          return Fail("String in matrix " + item.name + " of design " + design.name + " is not terminated");
        if (e) {
          char *copy = lower::HeapCopy(text.data(), static_cast<std::size_t>(n - 1));
          if (!copy) return Fail("Error allocating a matrix string");
          std::memcpy(e, &copy, sizeof copy);
        }
        continue;
      }
      for (int32_t k = 0; k < size; k += part) {
        if (!in_.Read(b, static_cast<uint64_t>(part))) return Truncated(design, item);
        if (e) ScalarFromExternal(e + k, b, part);
      }
    }
    return true;
  }

  bool NewMatrix(const DesignData &design, const ItemData &item, Egda_BaseData *&matrix) {
    int32_t h[4];
    if (!MatrixHeader(design, item, h)) return false;
    Eerr_ErrorReport *inner = nullptr;
    matrix = egda_BaseDataCreate(h[0], h[1], h[2], h[3], nullptr, &inner);
    if (!matrix) {
      eerr_DeleteErrorReportEx(&inner);
      return Fail("Error creating matrix " + item.name);
    }
    allocations_.push_back({Kind::Matrix, matrix, 0, 0});
    return MatrixElements(design, item, h, matrix->data);
  }

  bool InlineMatrix(const DesignData &design, const ItemData &item, Egda_BaseData *m) {
    int32_t h[4];
    if (!MatrixHeader(design, item, h)) return false;
    if (!m) return MatrixElements(design, item, h, nullptr);
    const int32_t size = egda_PixelTypeSize(h[2]);
    const int64_t count = int64_t{h[0]} * h[1];
    if (count * size > std::numeric_limits<int32_t>::max()) return Fail("Matrix " + item.name + " is too large");
    auto *buffer = static_cast<uint8_t *>(emsc_HeapMalloc(static_cast<std::size_t>(count * size) + 1));
    if (!buffer) return Fail("Error allocating matrix " + item.name);
    allocations_.push_back({Kind::InlineBuffer, buffer, h[2], static_cast<int32_t>(count)});
    if (!MatrixElements(design, item, h, buffer)) return false;
    Egda_BaseData fresh{};
    fresh.rows = h[0];
    fresh.columns = h[1];
    fresh.pixelType = h[2];
    fresh.objectType = h[3];
    fresh.data = buffer;
    fresh.origin = buffer;
    fresh.elementSize = size;
    fresh.count = static_cast<int32_t>(count);
    fresh.pitch = (fresh.objectType == EGDA_TABLE || fresh.objectType == EGDA_MATRIX ? fresh.rows : fresh.columns) * size;
    fresh.ownsData = 1;
    std::memcpy(m, &fresh, sizeof fresh);
    return true;
  }
};

// ---- Freeing a record's owned parts ----

struct DataWalk {
  static const std::vector<ItemData> &Items(const DesignData &design) { return design.items; }
  static const DesignData *Nested(const ItemData &item) { return item.nested.get(); }
  static int32_t ElementSize(const ItemData &item) {
    return BaseLayout(Base(item.type), item.nested ? item.nested->layout : Layout{}).size;
  }
};

// ---- Definitions (the self-contained description kept in files) ----
// A definition lists the distinct designs of the nesting tree, nested ones first:
//   int32 design count; per design: string name, int32 item count; per item: int32 type,
//   string name, int32 count, int32 nested index (-1 for none, else an earlier design),
//   int32 enumeration name count, strings. Strings are int32 length + bytes.

void PutString(std::string &out, const std::string &text) {
  PutUnsigned(out, text.size(), 4);
  out += text;
}

void Collect(const DesignPtr &design, std::vector<DesignPtr> &order) {
  for (const DesignPtr &known : order)
    if (known == design) return;
  for (const ItemData &item : design->items)
    if (item.nested) Collect(item.nested, order);
  order.push_back(design);
}

class DefinitionReader {
public:
  DefinitionReader(const std::string &text) : in_(reinterpret_cast<const uint8_t *>(text.data()), text.size()) {}
  bool Int32(int32_t &value) {
    uint8_t b[4];
    if (!in_.Read(b, 4)) return false;
    value = static_cast<int32_t>(static_cast<uint32_t>(GetUnsigned(b, 4)));
    return true;
  }
  bool String(std::string &text) {
    int32_t n;
    if (!Int32(n) || n < 0 || static_cast<uint64_t>(n) > in_.Remaining()) return false;
    text.assign(static_cast<std::size_t>(n), '\0');
    return in_.Read(reinterpret_cast<uint8_t *>(text.data()), static_cast<uint64_t>(n));
  }
  bool AtEnd() const { return in_.Remaining() == 0; }
  uint64_t Remaining() const { return in_.Remaining(); }

private:
  MemorySource in_;
};

DesignPtr ParseDefinition(const std::string &text, std::string &problem) {
  DefinitionReader in(text);
  int32_t designCount;
  if (!in.Int32(designCount) || designCount <= 0 || static_cast<uint64_t>(designCount) > in.Remaining()) {
    problem = "bad design count";
    return nullptr;
  }
  std::vector<DesignPtr> designs;
  for (int32_t d = 0; d < designCount; ++d) {
    std::string name;
    int32_t itemCount;
    if (!in.String(name) || !in.Int32(itemCount) || itemCount <= 0 ||
        static_cast<uint64_t>(itemCount) > in.Remaining()) {
      problem = "bad design header";
      return nullptr;
    }
    std::vector<ItemSpec> specs;
    for (int32_t i = 0; i < itemCount; ++i) {
      ItemSpec spec;
      int32_t nestedIndex, enumCount;
      if (!in.Int32(spec.type) || !in.String(spec.name) || !in.Int32(spec.count) ||
          !in.Int32(nestedIndex) || !in.Int32(enumCount) || nestedIndex < -1 ||
          nestedIndex >= static_cast<int32_t>(designs.size()) || enumCount < 0 ||
          static_cast<uint64_t>(enumCount) > in.Remaining()) {
        problem = "bad item";
        return nullptr;
      }
      if (nestedIndex >= 0) spec.nested = designs[static_cast<std::size_t>(nestedIndex)];
      for (int32_t k = 0; k < enumCount; ++k) {
        std::string item;
        if (!in.String(item)) {
          problem = "bad enumeration";
          return nullptr;
        }
        spec.enumNames.push_back(std::move(item));
      }
      specs.push_back(std::move(spec));
    }
    DesignPtr design = BuildDesign(name, std::move(specs), problem);
    if (!design) return nullptr;
    designs.push_back(std::move(design));
  }
  if (!in.AtEnd()) {
    problem = "bytes after the definition";
    return nullptr;
  }
  return designs.back();
}

} // namespace

namespace {

// The values that follow an item's type code in a design's keyword list: its name; then, by the
// base type, the enumeration's names (ended by a null) or the nested design's name; then the
// count of a fixed array. An invalid type code takes its name only (it is refused with it).
struct ItemShapes {
  const Shape *Find(int32_t type) const {
    using V = lower::Value;
    static constexpr Shape kShapes[6] = {{V::Pointer},
                                         {V::Pointer, V::PointerList},
                                         {V::Pointer, V::Pointer},
                                         {V::Pointer, V::Int},
                                         {V::Pointer, V::PointerList, V::Int},
                                         {V::Pointer, V::Pointer, V::Int}};
    if (!ValidType(type)) return &kShapes[0];
    const int32_t base = Base(type);
    const int index = base == EMIF_TYPE_ENUM ? 1 : IsNestedBase(base) ? 2 : 0;
    return &kShapes[Modifier(type) == EMIF_FIXED_ARRAY ? index + 3 : index];
  }
};
constexpr lower::BasicKeywordList<ItemShapes> kItemList{ItemShapes{}, nullptr, 0};

// Checks one item of the design `name` (number: the items before it) and resolves its nested
// design; false with a report.
bool Resolve(Emif_Dictionary *dictionary, const char *name, int32_t number, const ItemDefinition &item,
             ItemSpec &spec, const char *reporter, Eerr_ErrorReport **err) {
  if (!item.name || !*item.name) {
    lower::Report(err, reporter, 3, "Invalid name for item %d of design %s", number + 1, name);
    return false;
  }
  if (!ValidType(item.type)) {
    lower::Report(err, reporter, 4, "Invalid item type %d for item %s of design %s", item.type, item.name, name);
    return false;
  }
  spec.type = item.type;
  spec.name = item.name;
  const int32_t base = Base(item.type);
  if (base == EMIF_TYPE_ENUM) {
    if (item.enumCount > kMaxEnumNames) {
      lower::Report(err, reporter, 4, "Enumeration %s of design %s has too many items", item.name, name);
      return false;
    }
    spec.enumNames.assign(item.enumNames, item.enumNames + item.enumCount);
  }
  if (IsNestedBase(base)) {
    if (!item.nested || !*item.nested) {
      lower::Report(err, reporter, 5, "Missing nested design name for item %s of design %s", item.name, name);
      return false;
    }
    if (std::strcmp(item.nested, name) == 0) {
      lower::Report(err, reporter, 6, "Design %s nests itself (item %s)", name, item.name);
      return false;
    }
    Emif_Design *nested = FindIn(dictionary, item.nested);
    if (!nested) {
      lower::Report(err, reporter, 5, "Nested design %s of item %s of design %s is not defined", item.nested,
                    item.name, name);
      return false;
    }
    spec.nested = nested->data;
  }
  if (Modifier(item.type) == EMIF_FIXED_ARRAY) spec.count = item.count;
  return true;
}

// Builds the design from its checked items and registers it.
Emif_Design *Finish(Emif_Dictionary *dictionary, const char *name, std::vector<ItemSpec> specs,
                    const char *reporter, Eerr_ErrorReport **err) {
  std::string problem;
  DesignPtr data = BuildDesign(name, std::move(specs), problem);
  if (!data) {
    lower::Report(err, reporter, 7, "%s", problem.c_str());
    return nullptr;
  }
  return Register(dictionary, std::move(data), reporter, err, 8, 9);
}

} // namespace

namespace taviron::emif {

uint64_t DictionarySerial(const Emif_Dictionary *dictionary) { return dictionary ? dictionary->serial : 0; }

std::vector<const Emif_Design *> DictionaryDesigns(const Emif_Dictionary *dictionary) {
  std::vector<const Emif_Design *> designs;
  if (dictionary) designs.assign(dictionary->designs.begin(), dictionary->designs.end());
  return designs;
}

std::string DesignDefinition(const Emif_Design *design) {
  std::vector<DesignPtr> order;
  Collect(design->data, order);
  std::string out;
  PutUnsigned(out, order.size(), 4);
  for (const DesignPtr &d : order) {
    PutString(out, d->name);
    PutUnsigned(out, d->items.size(), 4);
    for (const ItemData &item : d->items) {
      PutUnsigned(out, static_cast<uint32_t>(item.type), 4);
      PutString(out, item.name);
      PutUnsigned(out, static_cast<uint32_t>(item.count), 4);
      int32_t nested = -1;
      for (std::size_t k = 0; k < order.size(); ++k)
        if (order[k] == item.nested) nested = static_cast<int32_t>(k);
      PutUnsigned(out, static_cast<uint32_t>(nested), 4);
      PutUnsigned(out, item.enumNames.size(), 4);
      for (const std::string &name : item.enumNames) PutString(out, name);
    }
  }
  return out;
}

bool DictionaryAddDefinition(Emif_Dictionary *dictionary, const std::string &name,
                             const std::string &definition, Eerr_ErrorReport **err) {
  std::string problem;
  DesignPtr data;
  try {
    data = ParseDefinition(definition, problem);
  } catch (const std::bad_alloc &) {
    problem = "out of memory";
  }
  if (!data || data->name != name) {
    lower::Report(err, "emif_DictionaryAddDefinition", 1, "The definition of design %s is corrupt%s%s",
                  name.c_str(), problem.empty() ? "" : ": ", problem.c_str());
    return false;
  }
  return Register(dictionary, std::move(data), "emif_DictionaryAddDefinition", err, 2, 3) != nullptr;
}

bool DesignsEqual(const Emif_Design *a, const Emif_Design *b) {
  return a && b && SameLayout(*a->data, *b->data);
}

bool LayoutsEqual(const Emif_Design *a, const Emif_Design *b) {
  return a && b && SameLayout(*a->data, *b->data, false);
}

bool DesignsShareItems(const Emif_Design *a, const Emif_Design *b) {
  if (!a || !b) return false;
  for (const ItemData &item : a->data->items)
    if (b->data->Find(item.name)) return true;
  return false;
}

Emif_Design *DefineDesign(Emif_Dictionary *dictionary, const char *name, std::span<const ItemDefinition> items,
                          Eerr_ErrorReport **err) {
  static const char *const kReporter = "emif_DesignCreate";
  lower::Clear(err);
  if (!name || !*name) {
    lower::Report(err, kReporter, 1, "Invalid design name");
    return nullptr;
  }
  if (items.size() > static_cast<std::size_t>(kMaxItems)) {
    lower::Report(err, kReporter, 2, "Design %s has more than %d items", name, kMaxItems);
    return nullptr;
  }
  std::vector<ItemSpec> specs(items.size());
  for (std::size_t i = 0; i < items.size(); ++i)
    if (!Resolve(dictionary, name, static_cast<int32_t>(i), items[i], specs[i], kReporter, err)) return nullptr;
  return Finish(dictionary, name, std::move(specs), kReporter, err);
}

} // namespace taviron::emif

extern "C" {

Emif_Dictionary *emif_DictionaryCreate(Eerr_ErrorReport **err) {
  lower::Clear(err);
  void *block = emsc_HeapMalloc(sizeof(Emif_Dictionary));
  if (!block) {
    lower::Report(err, "emif_DictionaryCreate", 1, "Error allocating dictionary");
    return nullptr;
  }
  return new (block) Emif_Dictionary;
}

void emif_DictionaryDelete(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!dictionary) return;
  for (Emif_Design *design : dictionary->designs) FreeHandle(design);
  dictionary->~Emif_Dictionary();
  emsc_HeapFree(dictionary);
}

Emif_Design *emif_DesignCreate(Emif_Dictionary *dictionary, const char *name,
                               Eerr_ErrorReport **err, ...) {
  static const char *const kReporter = "emif_DesignCreate";
  lower::Clear(err);
  if (!name || !*name) {
    lower::Report(err, kReporter, 1, "Invalid design name");
    return nullptr;
  }
  std::vector<ItemSpec> specs;
  try {
    va_list ap;
    va_start(ap, err);
    const bool read = lower::ReadKeywords(kItemList, ap, kReporter, err,
                                          [&](int32_t type, const lower::KeywordValues &values) {
      if (static_cast<int32_t>(specs.size()) >= kMaxItems) {
        lower::Report(err, kReporter, 2, "Design %s has more than %d items", name, kMaxItems);
        return false;
      }
      ItemDefinition item;
      item.type = type;
      item.name = values.Pointer<const char>(0);
      const Shape &shape = *kItemList.table.Find(type);
      for (int i = 1; i < shape.count; ++i) {
        if (shape.values[i] == lower::Value::PointerList) {
          if (values.ListTooLong()) {
            lower::Report(err, kReporter, 4, "Enumeration %s of design %s has too many items", item.name, name);
            return false;
          }
          item.enumNames = reinterpret_cast<const char *const *>(values.List().data());
          item.enumCount = static_cast<int32_t>(values.List().size());
        } else if (shape.values[i] == lower::Value::Pointer) {
          item.nested = values.Pointer<const char>(i);
        } else {
          item.count = values.Int(i);
        }
      }
      ItemSpec spec;
      if (!Resolve(dictionary, name, static_cast<int32_t>(specs.size()), item, spec, kReporter, err)) return false;
      specs.push_back(std::move(spec));
      return true;
    });
    va_end(ap);
    if (!read) return nullptr;
    return Finish(dictionary, name, std::move(specs), kReporter, err);
  } catch (const std::bad_alloc &) {
    lower::Report(err, kReporter, 9, "Error allocating design %s", name);
    return nullptr;
  }
}

Emif_Design *emif_FindDesignByName(const Emif_Dictionary *dictionary, const char *name,
                                   Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!name) {
    lower::Report(err, "emif_FindDesignByName", 1, "Invalid design name");
    return nullptr;
  }
  return FindIn(dictionary, name);
}

Emif_Design *emif_AddDesignToDictionary(Emif_Dictionary *dictionary, const Emif_Design *design,
                                        Eerr_ErrorReport **err) {
  static const char *const kReporter = "emif_AddDesignToDictionary";
  lower::Clear(err);
  if (!dictionary) {
    lower::Report(err, kReporter, 1, "Invalid dictionary");
    return nullptr;
  }
  if (!design) {
    lower::Report(err, kReporter, 2, "Invalid design");
    return nullptr;
  }
  try {
    std::vector<DesignPtr> order;
    Collect(design->data, order);
    // Check every name first, so that a conflict adds nothing.
    for (const DesignPtr &data : order)
      if (Emif_Design *existing = FindIn(dictionary, data->name); existing && !SameLayout(*existing->data, *data)) {
        lower::Report(err, kReporter, 3, "Design %s already exists in the dictionary with another layout",
                      data->name.c_str());
        return nullptr;
      }
    Emif_Design *added = nullptr;
    for (const DesignPtr &data : order) {
      added = Register(dictionary, data, kReporter, err, 3, 4);
      if (!added) return nullptr;
    }
    return added;
  } catch (const std::bad_alloc &) {
    lower::Report(err, kReporter, 4, "Error allocating design");
    return nullptr;
  }
}

void emif_DesignDelete(Emif_Dictionary *dictionary, const void *designOrName, Eerr_ErrorReport **err) {
  static const char *const kReporter = "emif_DesignDelete";
  lower::Clear(err);
  if (!designOrName) {
    lower::Report(err, kReporter, 1, "Invalid design");
    return;
  }
  // A handle is recognised by its address alone; anything else is read as a name.
  Emif_Design *found = nullptr;
  if (dictionary) {
    for (Emif_Design *design : dictionary->designs)
      if (design == designOrName) found = design;
  } else {
    std::lock_guard<std::mutex> lock(freeMutex);
    for (Emif_Design *design : FreeDesigns())
      if (design == designOrName) found = design;
  }
  if (!found) found = FindIn(dictionary, static_cast<const char *>(designOrName));
  if (!found) {
    lower::Report(err, kReporter, 2, "Design %s not found", static_cast<const char *>(designOrName));
    return;
  }
  Unregister(found);
  FreeHandle(found);
}

void emif_DesignDestroy(Emif_Design *design) {
  if (!design) return;
  Unregister(design);
  FreeHandle(design);
}

const char *emif_DesignName(const Emif_Design *design) { return design ? design->data->name.c_str() : nullptr; }

int32_t emif_DesignSize(const Emif_Design *design) { return design ? design->data->layout.size : 0; }

int32_t emif_DesignItemOffset(const Emif_Design *design, const char *itemName) {
  if (!design || !itemName) return -1;
  const ItemData *item = design->data->Find(itemName);
  return item ? item->offset : -1;
}

int32_t emif_DesignItemCount(const Emif_Design *design) {
  return design ? static_cast<int32_t>(design->data->items.size()) : 0;
}

int32_t emif_DesignMatchesLayout(const Emif_Design *design, int32_t size, const int32_t *offsets,
                                 int32_t count) {
  if (!design || design->data->layout.size != size ||
      static_cast<int32_t>(design->data->items.size()) != count || (count > 0 && !offsets))
    return 0;
  for (int32_t i = 0; i < count; ++i)
    if (design->data->items[static_cast<std::size_t>(i)].offset != offsets[i]) return 0;
  return 1;
}

void *emif_NewObject(const Emif_Design *design, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!design) {
    lower::Report(err, "emif_NewObject", 1, "Invalid design");
    return nullptr;
  }
  void *record = emsc_HeapMalloc(static_cast<std::size_t>(design->data->layout.size));
  if (!record) lower::Report(err, "emif_NewObject", 2, "Error allocating a record of design %s", design->data->name.c_str());
  return record;
}

void emif_ObjectFreeContents(const Emif_Design *design, void *record) {
  if (design && record) FreeOwned<DataWalk>(*design->data, static_cast<uint8_t *>(record));
}

void emif_ObjectFree(const Emif_Design *design, void *record) {
  if (!record) return;
  emif_ObjectFreeContents(design, record);
  emsc_HeapFree(record);
}

int32_t emif_ObjectEncode(const Emif_Design *design, const void *record, uint8_t **bytes,
                          int32_t *size, Eerr_ErrorReport **err) {
  static const char *const kReporter = "emif_ObjectEncode";
  lower::Clear(err);
  if (!design || !record || !bytes || !size) {
    lower::Report(err, kReporter, 1, "Invalid arguments");
    return -1;
  }
  try {
    std::string out;
    Encoder encoder(out);
    if (!encoder.Record(*design->data, static_cast<const uint8_t *>(record))) {
      lower::Report(err, kReporter, 2, "%s", encoder.problem.c_str());
      return -1;
    }
    if (out.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
      lower::Report(err, kReporter, 3, "Record of design %s is too large", design->data->name.c_str());
      return -1;
    }
    auto *copy = static_cast<uint8_t *>(emsc_HeapMalloc(out.size()));
    if (!copy) {
      lower::Report(err, kReporter, 4, "Error allocating %zu bytes", out.size());
      return -1;
    }
    std::memcpy(copy, out.data(), out.size());
    *bytes = copy;
    *size = static_cast<int32_t>(out.size());
    return 0;
  } catch (const std::bad_alloc &) {
    lower::Report(err, kReporter, 4, "Out of memory encoding a record of design %s", design->data->name.c_str());
    return -1;
  }
}

namespace {

void *Decode(Source &source, const DesignData &stored, const DesignData &target, void *record,
             bool wholeSource, const char *reporter, Eerr_ErrorReport **err) {
  if (stored.minExternal > source.Remaining()) {
    lower::Report(err, reporter, 2, "Record of design %s needs at least %llu bytes, %llu are left",
                  stored.name.c_str(), static_cast<unsigned long long>(stored.minExternal),
                  static_cast<unsigned long long>(source.Remaining()));
    return nullptr;
  }
  try {
    Decoder decoder(source);
    uint8_t *p = static_cast<uint8_t *>(record);
    if (!p) {
      p = static_cast<uint8_t *>(decoder.NewBlock(static_cast<std::size_t>(target.layout.size)));
      if (!p) {
        lower::Report(err, reporter, 3, "Error allocating a record of design %s", target.name.c_str());
        return nullptr;
      }
    }
    if (!decoder.TopRecord(stored, target, p)) {
      lower::Report(err, reporter, 4, "Corrupt record of design %s: %s", stored.name.c_str(), decoder.problem.c_str());
      return nullptr;
    }
    if (wholeSource && source.Remaining() != 0) {
      lower::Report(err, reporter, 4, "Corrupt record of design %s: %llu bytes after its end", stored.name.c_str(),
                    static_cast<unsigned long long>(source.Remaining()));
      return nullptr;
    }
    decoder.Commit();
    return p;
  } catch (const std::bad_alloc &) {
    lower::Report(err, reporter, 3, "Out of memory decoding a record of design %s", stored.name.c_str());
    return nullptr;
  }
}

} // namespace

void *emif_ObjectDecode(const Emif_Design *stored, const Emif_Design *design,
                        const uint8_t *bytes, int32_t size, void *record,
                        Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!design || size < 0 || (size > 0 && !bytes)) {
    lower::Report(err, "emif_ObjectDecode", 1, "Invalid arguments");
    return nullptr;
  }
  MemorySource source(bytes, static_cast<uint64_t>(size));
  return Decode(source, stored ? *stored->data : *design->data, *design->data, record, true,
                "emif_ObjectDecode", err);
}

void *emif_ConvertToHost(FILE *file, int32_t reserved, const Emif_Design *design, void *record,
                         Eerr_ErrorReport **err) {
  (void)reserved;
  lower::Clear(err);
  if (!file || !design) {
    lower::Report(err, "emif_ConvertToHost", 1, "Invalid arguments");
    return nullptr;
  }
  FileSource source(file);
  return Decode(source, *design->data, *design->data, record, false, "emif_ConvertToHost", err);
}

int32_t emif_ConvertToMIF(FILE *file, int32_t reserved, const Emif_Design *design,
                          const void *record, Eerr_ErrorReport **err) {
  (void)reserved;
  lower::Clear(err);
  if (!file || !design || !record) {
    lower::Report(err, "emif_ConvertToMIF", 1, "Invalid arguments");
    return -1;
  }
  uint8_t *bytes = nullptr;
  int32_t size = 0;
  Eerr_ErrorReport *inner = nullptr;
  if (emif_ObjectEncode(design, record, &bytes, &size, &inner) != 0) {
    lower::ReportCallee(err, inner, "emif_ConvertToMIF", 2, "emif_ObjectEncode");
    return -1;
  }
  const std::size_t written = std::fwrite(bytes, 1, static_cast<std::size_t>(size), file);
  emsc_HeapFree(bytes);
  if (written != static_cast<std::size_t>(size)) {
    lower::Report(err, "emif_ConvertToMIF", 3, "Error writing a record of design %s: %s",
                  design->data->name.c_str(), std::strerror(errno));
    return -1;
  }
  return 0;
}

Emif_String *emif_EmifStringFromString(Emif_String *target, const char *text) {
  if (!target) return nullptr;
  if (!text) {
    emsc_HeapFree(target->string);
    target->string = nullptr;
    target->count = 0;
    return target;
  }
  const std::size_t n = std::strlen(text);
  if (n >= static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) return nullptr;
  char *copy = lower::HeapCopy(text, n);
  if (!copy) return nullptr;
  emsc_HeapFree(target->string);
  target->string = copy;
  target->count = static_cast<int32_t>(n + 1);
  return target;
}

Emif_String *emif_EmifStringFromEmifString(Emif_String *target, const Emif_String *source) {
  if (!target) return nullptr;
  if (!source || !source->string || source->count <= 0) {
    emsc_HeapFree(target->string);
    target->string = nullptr;
    target->count = 0;
    return target;
  }
  if (source == target) return target;
  char *copy = lower::HeapCopy(source->string, static_cast<std::size_t>(source->count));
  if (!copy) return nullptr;
  emsc_HeapFree(target->string);
  target->string = copy;
  target->count = source->count;
  return target;
}

char *emif_EmifStringToString(const Emif_String *source) {
  if (!source || !source->string) return nullptr;
  const std::size_t limit = source->count > 0 ? static_cast<std::size_t>(source->count) : 0;
  const std::size_t n = strnlen(source->string, limit);
  return lower::HeapCopy(source->string, n);
}

const int32_t *emsc_AddressOf_emif_Type(void) {
  static const int32_t table[EGDA_PIXEL_TYPE_COUNT] = {
      EMIF_TYPE_U8,  EMIF_TYPE_U8,  EMIF_TYPE_U8,  EMIF_TYPE_U8,  EMIF_TYPE_CHAR,
      EMIF_TYPE_U16, EMIF_TYPE_S16, EMIF_TYPE_U32, EMIF_TYPE_S32, EMIF_TYPE_F32,
      EMIF_TYPE_F64, 0,             0,             0};
  return table;
}

} // extern "C"
