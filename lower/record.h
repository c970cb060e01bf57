// Stored records described once: one constexpr item table per record, from which its design,
// the compile-time check of the C struct against that design, and the record operations
// (free, copy, compare, print) follow.
//
//   constexpr record::Item kSizeItems[] = {TAVIRON_ITEM(Eprj_Size, width, EMIF_TYPE_F64),
//                                          TAVIRON_ITEM(Eprj_Size, height, EMIF_TYPE_F64)};
//   constexpr record::Design kSize = record::DesignOf<Eprj_Size>("Eprj_Size", kSizeItems);
//   static_assert(kSize.Matches(), "Eprj_Size does not match its design");
//
//   Emif_Design *design = record::Define(kSize, dictionary, err);  // nested designs first
//   record::Copy(kSize, source, target);  record::FreeContents(kSize, target);
//
// An item names its C member; the name of the design item is the member's unless Named() gives
// another. Extras follow as constexpr modifiers: Nested(design) for records held inline,
// pointed to or counted (item types 1, 2, +0x200, +0x400), Enum(names) for enumerations,
// Print(...) for how the printer shows the value. A fixed array takes its count from the C
// array. A record stored in several versions has one design, and one C struct, per version
// (its name carries the version); Pick chooses the version a stored entry was written in, and
// ReadVersion reads such an entry.
#ifndef TAVIRON_LOWER_RECORD_H
#define TAVIRON_LOWER_RECORD_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

#include "eerr.h"
#include "ehfa.h"
#include "emif.h"
#include "emif_internal.h"

namespace taviron::record {

// How Print shows an item.
enum class PrintAs : uint8_t {
  Value,     // the value as its type prints (numbers, texts, enumeration names)
  TrueFalse, // "true" for 1, "false" otherwise
  Hidden,    // not printed
};

struct Design;

struct Item {
  const char *name;
  int32_t type;                   // EMIF_TYPE_... with its modifier
  int32_t offset;                 // offsetof the member
  int32_t size;                   // sizeof the member
  bool floating = false;          // the member (or its elements) is floating point
  int32_t count = 0;              // elements of a fixed array
  const Design *nested = nullptr; // the design of nested records
  bool hasNested = false;         // (a constant test: the address of an inline table may not be)
  const char *const *enumNames = nullptr;
  int32_t enumCount = 0;
  PrintAs print = PrintAs::Value;

  template <class Member> static constexpr Item Of(const char *name, int32_t type, std::size_t offset) {
    using Element = std::remove_all_extents_t<Member>;
    Item item{name, type, static_cast<int32_t>(offset), static_cast<int32_t>(sizeof(Member))};
    item.floating = std::is_floating_point_v<Element>;
    if constexpr (std::is_array_v<Member>) item.count = static_cast<int32_t>(std::extent_v<Member>);
    return item;
  }
  constexpr Item Named(const char *itemName) const {
    Item item = *this;
    item.name = itemName;
    return item;
  }
  constexpr Item Nested(const Design &design) const {
    Item item = *this;
    item.nested = &design;
    item.hasNested = true;
    return item;
  }
  template <std::size_t N> constexpr Item Enum(const char *const (&names)[N]) const {
    Item item = *this;
    item.enumNames = names;
    item.enumCount = static_cast<int32_t>(N);
    return item;
  }
  constexpr Item Print(PrintAs as) const {
    Item item = *this;
    item.print = as;
    return item;
  }
};

// The item of member `field` of `Record`, stored as `type`.
#define TAVIRON_ITEM(Record, field, type)                                                          \
  ::taviron::record::Item::Of<decltype(Record::field)>(#field, (type), offsetof(Record, field))

// A counted array (type + 0x200) whose count and elements are two members of `Record` itself,
// `count` then `elements`; the item is named after `elements`.
#define TAVIRON_COUNTED_ITEM(Record, count, elements, type)                                        \
  ::taviron::record::Item{#elements, (type), static_cast<int32_t>(offsetof(Record, count)),        \
                          static_cast<int32_t>(offsetof(Record, elements) + sizeof(Record::elements) -  \
                                               offsetof(Record, count))}

struct Design {
  const char *name;
  const Item *items;
  int32_t count;
  int32_t size;      // sizeof the C struct
  int32_t alignment; // alignof the C struct

  constexpr std::span<const Item> Items() const { return {items, static_cast<std::size_t>(count)}; }
  // The stored-form layout the design gives its records.
  constexpr emif::Layout Layout() const {
    emif::Layout layout;
    int32_t offset = 0;
    for (const Item &item : Items()) {
      const emif::Layout at = ItemLayoutOf(item);
      offset = emif::AlignUp(offset, at.alignment);
      offset += at.size;
      if (at.alignment > layout.alignment) layout.alignment = at.alignment;
    }
    layout.size = emif::AlignUp(offset, layout.alignment);
    return layout;
  }
  // True when the C struct is laid out as the design lays out its records: every member at the
  // item's offset with the item's size, floating point where the item is, and the whole struct
  // of the design's size and alignment; nested designs must match too.
  constexpr bool Matches() const {
    int32_t offset = 0;
    for (const Item &item : Items()) {
      const emif::Layout at = ItemLayoutOf(item);
      if (at.size == 0) return false;
      offset = emif::AlignUp(offset, at.alignment);
      if (item.offset != offset || item.size != at.size) return false;
      offset += at.size;
      const int32_t base = item.type & 0xff;
      const bool floatingBase = base == EMIF_TYPE_F32 || base == EMIF_TYPE_F64;
      const int32_t modifier = item.type & 0xf00;
      if ((modifier == 0 || modifier == EMIF_FIXED_ARRAY) && item.floating != floatingBase) return false;
      if ((modifier == EMIF_FIXED_ARRAY) != (item.count > 0)) return false;
      const bool nests = base == EMIF_TYPE_OBJECT || base == EMIF_TYPE_RECORD;
      if (nests != item.hasNested || (item.hasNested && !item.nested->Matches())) return false;
      if (item.enumCount > 0 && base != EMIF_TYPE_ENUM) return false;
    }
    const emif::Layout whole = Layout();
    return count > 0 && whole.size == size && whole.alignment == alignment;
  }

private:
  static constexpr emif::Layout ItemLayoutOf(const Item &item) {
    const emif::Layout nested = item.hasNested ? item.nested->Layout() : emif::Layout{};
    return emif::ItemLayout(item.type, item.count, nested);
  }
};

template <class Record, std::size_t N>
constexpr Design DesignOf(const char *name, const Item (&items)[N]) {
  return Design{name, items, static_cast<int32_t>(N), static_cast<int32_t>(sizeof(Record)),
                static_cast<int32_t>(alignof(Record))};
}

// The design of the leading members of Record, those before the member at offset `end`: a record
// whose stored form is its own first members, followed by members that are never stored (a
// cache, say). Matches() checks the leading members as it checks a whole struct. Such a design
// describes a record the caller allocates; it is not nested by another design, whose pointed-to
// or counted records the kit allocates at the design's size.
//   constexpr record::Design kColor2 = record::LeadingDesignOf<Eant_Color>("Color2", kItems,
//                                                                     offsetof(Eant_Color, cache));
template <class Record, std::size_t N>
constexpr Design LeadingDesignOf(const char *name, const Item (&items)[N], std::size_t end) {
  return Design{name, items, static_cast<int32_t>(N), static_cast<int32_t>(end),
                static_cast<int32_t>(alignof(Record))};
}

// ---- Designs ----

// Defines the design in the dictionary, its nested designs first; a design of that name with the
// same layout is taken as it is. Without a dictionary the design is a free-standing one, as
// emif_DesignCreate makes it, and its nested designs must be defined already. Reports come from
// emif_DesignCreate, as for a design made by a keyword list.
Emif_Design *Define(const Design &design, Emif_Dictionary *dictionary, Eerr_ErrorReport **err);

// The version of `versions` whose design is named `storedName`; null when none is.
const Design *Pick(std::span<const Design *const> versions, const char *storedName);

// Reads the entry at (path, name, code) of the file, which holds a record of one of the
// versions, into a new record of that version (its design defined in `dictionary` first). The
// version read is returned in *version (its index in `versions`). Null with a report when there
// is no such entry, it holds a record of none of the versions, or the read fails; reports name
// `reporter`, code `code` for a missing or unknown entry and code + 1 for a failed read.
void *ReadVersion(Ehfa_File *file, const char *path, const char *name, int32_t relation,
                  std::span<const Design *const> versions, Emif_Dictionary *dictionary, int32_t *version,
                  const char *reporter, int32_t code, Eerr_ErrorReport **err);

// ---- Records ----

// Frees what the record owns by its design (texts, arrays, pointed-to records, matrices) and
// zeroes those members; the record itself stays.
void FreeContents(const Design &design, void *record);
// Deep copy of source into target, which owns nothing (zeroed, or after FreeContents). Texts are
// copied up to their first zero. False when memory runs out: target is then zeroed again.
bool Copy(const Design &design, const void *source, void *target);
// True when both records hold the same values: numbers exactly, texts and arrays by their counts
// and contents, pointed-to records by theirs (two null pointers are equal).
bool Equal(const Design &design, const void *a, const void *b);
// Prints "<indent><title>:" and then one line per item, "<indent + 3><name> - <value>", through
// the layer's standard output (nested records indent further).
void Print(const Design &design, const void *record, int32_t indent, const char *title);

} // namespace taviron::record

#endif
