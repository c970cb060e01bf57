// Per-type function tables filled from one C++ type per kind.
//
// A kind (an element type, a style family, a group kind...) is one C++ type: its code and a
// static function for every slot it supports. A table is a C struct of function pointers; the
// table's filler, written once per table, says which static function goes into which slot:
//
//   template <> struct lower::TableFiller<ShapeFunctions> {
//     template <class Kind> static constexpr ShapeFunctions Make() {
//       ShapeFunctions table{};
//       TAVIRON_SLOT(table, Kind, area, Area);   // left null when Kind has no Area
//       TAVIRON_SLOT(table, Kind, print, Print);
//       return table;
//     }
//   };
//   struct Square { static constexpr int32_t kCode = 1; static double Area(const Shape *); };
//   using Shapes = lower::KindTables<ShapeFunctions, Square, Circle>;
//   const ShapeFunctions *table = Shapes::Find(code);  // null for a code no kind has
//
// Registering a kind is adding its type to the list. A kind derived from another inherits its
// slots and replaces those it declares again. A missing slot is null: the dispatcher of that slot
// applies its rule (report, skip or do nothing) to a null table or slot alike.
#ifndef TAVIRON_LOWER_DISPATCH_H
#define TAVIRON_LOWER_DISPATCH_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <type_traits>

// Sets `slot` of `table` to Kind::function when Kind has it.
#define TAVIRON_SLOT(table, Kind, slot, function)                                                  \
  do {                                                                                             \
    if constexpr (requires { &Kind::function; }) (table).slot = &Kind::function;                   \
  } while (false)

namespace taviron::lower {

// The filler of one table: specialised once per table type, with
//   template <class Kind> static constexpr Table Make();
// that sets the slots Kind has (TAVIRON_SLOT) and leaves the others null.
template <class Table> struct TableFiller;

// The tables of Kinds..., one per kind, built at compile time, with their codes.
template <class Table, class... Kinds> struct KindTables {
  static constexpr std::array<int32_t, sizeof...(Kinds)> kCodes{Kinds::kCode...};
  static constexpr std::array<Table, sizeof...(Kinds)> kTables{
      TableFiller<Table>::template Make<Kinds>()...};

  static_assert(
      [] {
        for (std::size_t i = 0; i < kCodes.size(); ++i)
          for (std::size_t j = i + 1; j < kCodes.size(); ++j)
            if (kCodes[i] == kCodes[j]) return false;
        return true;
      }(),
      "two kinds share a code");

  // The table of the kind with this code; null when no kind has it.
  static constexpr const Table *Find(int32_t code) noexcept {
    for (std::size_t i = 0; i < kCodes.size(); ++i)
      if (kCodes[i] == code) return &kTables[i];
    return nullptr;
  }
  // The table of a kind of the list.
  template <class Kind> static constexpr const Table &Of() noexcept {
    constexpr std::size_t index = IndexOf<Kind>();
    static_assert(index < sizeof...(Kinds), "not a kind of this list");
    return kTables[index];
  }
  // Calls f(std::type_identity<Kind>{}) for the kind with this code; false when no kind has it.
  template <class F> static bool Dispatch([[maybe_unused]] int32_t code, F &&f) {
    return ((Kinds::kCode == code ? (f(std::type_identity<Kinds>{}), true) : false) || ...);
  }

private:
  template <class Kind> static constexpr std::size_t IndexOf() {
    constexpr bool same[] = {std::is_same_v<Kind, Kinds>...};
    for (std::size_t i = 0; i < sizeof...(Kinds); ++i)
      if (same[i]) return i;
    return sizeof...(Kinds);
  }
};

// The slot of a table, or null for a null table: what a dispatcher tests before it calls.
template <class Table, class Function> constexpr Function SlotOf(const Table *table, Function Table::*slot) noexcept {
  return table ? table->*slot : nullptr;
}

} // namespace taviron::lower

#endif
