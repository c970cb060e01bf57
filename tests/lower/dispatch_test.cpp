// Per-type function tables from one C++ type per kind.
#include "dispatch.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

struct Shape {
  int32_t kind;
  double size;
};

// A C table of slots, as an element type's function table is.
struct ShapeFunctions {
  double (*area)(const Shape *shape);
  const char *(*name)(void);
  int32_t (*scale)(Shape *shape, double factor);
};

struct Square {
  static constexpr int32_t kCode = 13;
  static double Area(const Shape *s) { return s->size * s->size; }
  static const char *Name() { return "square"; }
  static int32_t Scale(Shape *s, double factor) {
    s->size *= factor;
    return 1;
  }
};

// No Scale: its slot stays null.
struct Circle {
  static constexpr int32_t kCode = 14;
  static double Area(const Shape *s) { return 3 * s->size * s->size; }
  static const char *Name() { return "circle"; }
};

// A kind made from another: it keeps Square's slots and replaces its name.
struct Tile : Square {
  static constexpr int32_t kCode = 17;
  static const char *Name() { return "tile"; }
};

} // namespace

template <> struct taviron::lower::TableFiller<ShapeFunctions> {
  template <class Kind> static constexpr ShapeFunctions Make() {
    ShapeFunctions table{};
    TAVIRON_SLOT(table, Kind, area, Area);
    TAVIRON_SLOT(table, Kind, name, Name);
    TAVIRON_SLOT(table, Kind, scale, Scale);
    return table;
  }
};

namespace {

using Shapes = taviron::lower::KindTables<ShapeFunctions, Square, Circle, Tile>;

// A dispatcher with the rule "a missing slot does nothing".
int32_t ScaleShape(Shape *shape, double factor) {
  auto scale = taviron::lower::SlotOf(Shapes::Find(shape->kind), &ShapeFunctions::scale);
  return scale ? scale(shape, factor) : 0;
}

TEST(DispatchTest, OneTablePerKind) {
  static_assert(Shapes::Find(14)->scale == nullptr);
  static_assert(Shapes::Of<Tile>().area == &Square::Area);

  Shape square{13, 2}, circle{14, 2}, tile{17, 1}, unknown{99, 1};
  EXPECT_EQ(4.0, Shapes::Find(square.kind)->area(&square));
  EXPECT_EQ(12.0, Shapes::Find(circle.kind)->area(&circle));
  EXPECT_STREQ("tile", Shapes::Find(tile.kind)->name());
  EXPECT_EQ(nullptr, Shapes::Find(unknown.kind));

  EXPECT_EQ(1, ScaleShape(&square, 3));
  EXPECT_EQ(6.0, square.size);
  EXPECT_EQ(0, ScaleShape(&circle, 3)); // missing slot: nothing happens
  EXPECT_EQ(2.0, circle.size);
  EXPECT_EQ(0, ScaleShape(&unknown, 3)); // no kind: nothing either
  EXPECT_EQ(1, ScaleShape(&tile, 3));

  std::string named;
  EXPECT_TRUE(Shapes::Dispatch(14, [&](auto kind) { named = decltype(kind)::type::Name(); }));
  EXPECT_EQ("circle", named);
  EXPECT_FALSE(Shapes::Dispatch(99, [&](auto) { named = "none"; }));
  EXPECT_EQ("circle", named);
}

} // namespace
