// The record codec: a record between its in-memory stored form and its external (file) form,
// and the record calls that walk a design.
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
#include <array>
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

namespace lower = taviron::lower;
using namespace taviron::emif;

namespace {

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

// ---- Freeing a record's owned parts ----

struct DataWalk {
  static const std::vector<ItemData> &Items(const DesignData &design) { return design.items; }
  static const DesignData *Nested(const ItemData &item) { return item.nested.get(); }
  static int32_t ElementSize(const ItemData &item) {
    return BaseLayout(Base(item.type), item.nested ? item.nested->layout : Layout{}).size;
  }
};

// One item seen as a design of that item alone at offset 0, so that FreeOwned frees what a copy
// of the item's bytes owns; nested designs are walked as DataWalk walks them.
struct FieldWalk : DataWalk {
  struct Field {
    int32_t type, offset, count;
    const ItemData *item;
  };
  struct Design {
    Field field;
  };
  using DataWalk::Items;
  using DataWalk::Nested;
  using DataWalk::ElementSize;
  static std::array<Field, 1> Items(const Design &design) { return {design.field}; }
  static const DesignData *Nested(const Field &field) { return field.item->nested.get(); }
  static int32_t ElementSize(const Field &field) { return DataWalk::ElementSize(*field.item); }
};

// ---- Decoder ----

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
  // Layouts are compared through the verdicts given (null: through the decoder's own).
  Decoder(Source &source, LayoutVerdicts *verdicts) : in_(source), verdicts_(verdicts ? *verdicts : own_) {}
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
    RoomForAllocation();
    void *block = emsc_HeapMalloc(n ? n : 1);
    if (block) allocations_.push_back({Kind::Block, block, 0, 0});
    return block;
  }
  // The record holds what was decoded: the parts of the caller's record that the decode put
  // aside are freed now, since the record owned them.
  void Commit() {
    committed_ = true;
    for (Replaced &r : replaced_)
      FreeOwned<FieldWalk>(FieldWalk::Design{{r.item->type, 0, r.item->count, r.item}},
                           reinterpret_cast<uint8_t *>(r.bytes.data()));
    replaced_.clear();
  }

private:
  enum class Kind { Block, Matrix, InlineBuffer };
  struct Allocation {
    Kind kind;
    void *block;
    int32_t pixelType;
    int32_t count;
  };
  // An owned part of the caller's record (the target item's bytes: a counted array, a pointer,
  // an inline matrix) that the decode replaced. An undo restores the bytes that point at it; a
  // commit frees it.
  struct Replaced {
    const ItemData *item;
    std::string bytes;
  };
  Source &in_;
  bool committed_ = false;
  std::vector<std::pair<uint8_t *, std::string>> saved_;
  std::vector<Replaced> replaced_;

  // Notes the item's bytes at p before they are replaced, when they hold something owned.
  void PutAside(const ItemData &item, const uint8_t *p, std::size_t n) {
    if (std::all_of(p, p + n, [](uint8_t b) { return b == 0; })) return;
    replaced_.push_back({&item, std::string(reinterpret_cast<const char *>(p), n)});
  }
  std::vector<Allocation> allocations_;
  // Taken before each allocation, so that noting the allocation never throws and loses it.
  void RoomForAllocation() { allocations_.reserve(allocations_.size() + 1); }
  LayoutVerdicts own_;
  LayoutVerdicts &verdicts_;

  bool Same(const DesignData &a, const DesignData &b) { return verdicts_.Same(a, b); }

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

  bool Record(const DesignData &stored, const DesignData *target, uint8_t *p) {
    if (!target || Same(stored, *target)) {
      for (const ItemData &item : stored.items)
        if (!Item(stored, item, target ? &item : nullptr, target ? p + item.offset : nullptr)) return false;
      return true;
    }
    const auto &map = verdicts_.Map(stored, *target);
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
        PutAside(*target, p, static_cast<std::size_t>(ItemLayout(target->type, 0, {}).size));
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
        PutAside(*target, p, sizeof matrix);
        std::memcpy(p, &matrix, sizeof matrix);
        return true;
      }
      if (object && IsNestedBase(base)) {
        Save(object, targetElement);
      } else {
        object = static_cast<uint8_t *>(NewBlock(static_cast<std::size_t>(targetElement)));
        if (!object) return Fail("Error allocating the object of item " + item.name);
        PutAside(*target, p, sizeof object);
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
    lower::CalleeReport inner;
    RoomForAllocation();
    matrix = egda_BaseDataCreate(h[0], h[1], h[2], h[3], nullptr, &inner);
    if (!matrix) {
      inner.Drop();
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
    RoomForAllocation();
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
    // The matrix may be one element of an array: what it held is freed as a matrix alone.
    static const ItemData kMatrix = [] {
      ItemData alone;
      alone.type = EMIF_TYPE_BASEDATA;
      return alone;
    }();
    PutAside(kMatrix, reinterpret_cast<uint8_t *>(m), sizeof *m);
    std::memcpy(m, &fresh, sizeof fresh);
    return true;
  }
};

void *Decode(Source &source, const DesignData &stored, const DesignData &target, void *record,
             bool wholeSource, LayoutVerdicts *verdicts, const char *reporter, Eerr_ErrorReport **err) {
  if (stored.minExternal > source.Remaining()) {
    lower::Report(err, reporter, 2, "Record of design %s needs at least %llu bytes, %llu are left",
                  stored.name.c_str(), static_cast<unsigned long long>(stored.minExternal),
                  static_cast<unsigned long long>(source.Remaining()));
    return nullptr;
  }
  try {
    Decoder decoder(source, verdicts);
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

namespace taviron::emif {

void *ObjectDecode(const Emif_Design *stored, const Emif_Design *design, const uint8_t *bytes, int32_t size,
                   void *record, LayoutVerdicts &verdicts, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!design || size < 0 || (size > 0 && !bytes)) {
    lower::Report(err, "emif_ObjectDecode", 1, "Invalid arguments");
    return nullptr;
  }
  verdicts.Hold(design->data);
  if (stored) verdicts.Hold(stored->data);
  MemorySource source(bytes, static_cast<uint64_t>(size));
  return Decode(source, stored ? *stored->data : *design->data, *design->data, record, true, &verdicts,
                "emif_ObjectDecode", err);
}

} // namespace taviron::emif

extern "C" {

void *emif_NewObject(const Emif_Design *design, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!design) {
    lower::Report(err, "emif_NewObject", 1, "Invalid design");
    return nullptr;
  }
  void *record = emsc_HeapMalloc(static_cast<std::size_t>(design->data->layout.size));
  if (!record) lower::Report(err, "emif_NewObject", 2, "Error allocating a record of design %s", design->data->name.c_str());
  return record;
} TAVIRON_GUARD(err, nullptr)

void emif_ObjectFreeContents(const Emif_Design *design, void *record) try {
  if (design && record) FreeOwned<DataWalk>(*design->data, static_cast<uint8_t *>(record));
} TAVIRON_GUARD_QUIET_VOID

void emif_ObjectFree(const Emif_Design *design, void *record) try {
  if (!record) return;
  emif_ObjectFreeContents(design, record);
  emsc_HeapFree(record);
} TAVIRON_GUARD_QUIET_VOID

int32_t emif_ObjectEncode(const Emif_Design *design, const void *record, uint8_t **bytes,
                          int32_t *size, Eerr_ErrorReport **err) try {
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
} TAVIRON_GUARD(err, -1)


void *emif_ObjectDecode(const Emif_Design *stored, const Emif_Design *design,
                        const uint8_t *bytes, int32_t size, void *record,
                        Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!design || size < 0 || (size > 0 && !bytes)) {
    lower::Report(err, "emif_ObjectDecode", 1, "Invalid arguments");
    return nullptr;
  }
  MemorySource source(bytes, static_cast<uint64_t>(size));
  return Decode(source, stored ? *stored->data : *design->data, *design->data, record, true, nullptr,
                "emif_ObjectDecode", err);
} TAVIRON_GUARD(err, nullptr)

void *emif_ConvertToHost(FILE *file, int32_t reserved, const Emif_Design *design, void *record,
                         Eerr_ErrorReport **err) try {
  (void)reserved;
  lower::Clear(err);
  if (!file || !design) {
    lower::Report(err, "emif_ConvertToHost", 1, "Invalid arguments");
    return nullptr;
  }
  FileSource source(file);
  return Decode(source, *design->data, *design->data, record, false, nullptr, "emif_ConvertToHost", err);
} TAVIRON_GUARD(err, nullptr)

int32_t emif_ConvertToMIF(FILE *file, int32_t reserved, const Emif_Design *design,
                          const void *record, Eerr_ErrorReport **err) try {
  (void)reserved;
  lower::Clear(err);
  if (!file || !design || !record) {
    lower::Report(err, "emif_ConvertToMIF", 1, "Invalid arguments");
    return -1;
  }
  uint8_t *bytes = nullptr;
  int32_t size = 0;
  lower::CalleeReport inner;
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
} TAVIRON_GUARD(err, -1)

Emif_String *emif_EmifStringFromString(Emif_String *target, const char *text) try {
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
} TAVIRON_GUARD_QUIET(nullptr)

Emif_String *emif_EmifStringFromEmifString(Emif_String *target, const Emif_String *source) try {
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
} TAVIRON_GUARD_QUIET(nullptr)

char *emif_EmifStringToString(const Emif_String *source) try {
  if (!source || !source->string) return nullptr;
  const std::size_t limit = source->count > 0 ? static_cast<std::size_t>(source->count) : 0;
  const std::size_t n = strnlen(source->string, limit);
  return lower::HeapCopy(source->string, n);
} TAVIRON_GUARD_QUIET(nullptr)

const int32_t *emsc_AddressOf_emif_Type(void) try {
  static const int32_t table[EGDA_PIXEL_TYPE_COUNT] = {
      EMIF_TYPE_U8,  EMIF_TYPE_U8,  EMIF_TYPE_U8,  EMIF_TYPE_U8,  EMIF_TYPE_CHAR,
      EMIF_TYPE_U16, EMIF_TYPE_S16, EMIF_TYPE_U32, EMIF_TYPE_S32, EMIF_TYPE_F32,
      EMIF_TYPE_F64, 0,             0,             0};
  return table;
} TAVIRON_GUARD_QUIET(nullptr)

} // extern "C"
