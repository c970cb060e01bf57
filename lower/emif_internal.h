// The record codec's C++ side, for the families of the layer: stored-form layouts computed at
// compile time, and the dictionary calls the hierarchical files use to keep a dictionary in a
// file. Not part of the C interface.
#ifndef TAVIRON_LOWER_EMIF_INTERNAL_H
#define TAVIRON_LOWER_EMIF_INTERNAL_H

#include "emif.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <span>
#include <string>
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
// True when the two designs have the same items (their own names may differ).
bool LayoutsEqual(const Emif_Design *a, const Emif_Design *b);
// True when the two designs have an item of the same name.
bool DesignsShareItems(const Emif_Design *a, const Emif_Design *b);

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
#endif
