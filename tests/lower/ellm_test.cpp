#include "ellm.h"

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <vector>

namespace {

struct Node {
  Node *next;
  Node *previous;
  int value;
};

// The values from the first element on, checking that every previous link mirrors a next link.
std::vector<int> Walk(Node *first) {
  std::vector<int> values;
  EXPECT_TRUE(first == nullptr || first->previous == nullptr);
  for (Node *node = first; node; node = node->next) {
    if (node->next) {
      EXPECT_EQ(node->next->previous, node) << "at " << node->value;
    }
    values.push_back(node->value);
    if (values.size() > 100) break;
  }
  return values;
}

// Links nodes[from .. to) into one chain and returns its first node.
template <size_t N> Node *Chain(std::array<Node, N> &nodes, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) {
    nodes[i].value = static_cast<int>(i);
    nodes[i].previous = i > from ? &nodes[i - 1] : nullptr;
    nodes[i].next = i + 1 < to ? &nodes[i + 1] : nullptr;
  }
  return &nodes[from];
}

TEST(Ellm, LinkFieldsLeadTheRecord) {
  static_assert(offsetof(Ellm_Link, next) == 0);
  static_assert(offsetof(Ellm_Link, previous) == sizeof(void *));
}

// A single new element (value 9) placed against the reference at index `reference` of the list
// 0 1 2 with each position code.
TEST(Ellm, PositionCodesPlaceASingleElement) {
  struct Case {
    int32_t position;
    size_t reference;
    std::vector<int> expected;
  };
  const Case cases[] = {
      {ELLM_BEFORE, 0, {9, 0, 1, 2}}, {ELLM_BEFORE, 1, {0, 9, 1, 2}}, {ELLM_BEFORE, 2, {0, 1, 9, 2}},
      {ELLM_AFTER, 0, {0, 9, 1, 2}},  {ELLM_AFTER, 1, {0, 1, 9, 2}},  {ELLM_AFTER, 2, {0, 1, 2, 9}},
      {ELLM_APPEND, 0, {0, 1, 2, 9}}, {ELLM_APPEND, 1, {0, 1, 2, 9}}, {ELLM_APPEND, 2, {0, 1, 2, 9}},
  };
  for (const Case &c : cases) {
    std::array<Node, 3> nodes{};
    Chain(nodes, 0, 3);
    Node element{nullptr, nullptr, 9};
    auto *first = static_cast<Node *>(ellm_Add(&nodes[c.reference], c.position, &element));
    ASSERT_NE(first, nullptr) << "position " << c.position << " reference " << c.reference;
    EXPECT_EQ(Walk(first), c.expected) << "position " << c.position << " reference " << c.reference;
  }
}

// An element with followers brings them along, for every position code.
TEST(Ellm, ChainsAreLinkedWhole) {
  struct Case {
    int32_t position;
    size_t reference;
    std::vector<int> expected;
  };
  const Case cases[] = {
      {ELLM_BEFORE, 0, {3, 4, 0, 1, 2}},
      {ELLM_BEFORE, 2, {0, 1, 3, 4, 2}},
      {ELLM_AFTER, 0, {0, 3, 4, 1, 2}},
      {ELLM_AFTER, 2, {0, 1, 2, 3, 4}},
      {ELLM_APPEND, 1, {0, 1, 2, 3, 4}},
  };
  for (const Case &c : cases) {
    std::array<Node, 5> nodes{};
    Chain(nodes, 0, 3);
    Node *chain = Chain(nodes, 3, 5);
    auto *first = static_cast<Node *>(ellm_Add(&nodes[c.reference], c.position, chain));
    EXPECT_EQ(Walk(first), c.expected) << "position " << c.position << " reference " << c.reference;
  }
}

TEST(Ellm, NullReferenceStartsAList) {
  std::array<Node, 4> nodes{};
  Node *list = nullptr;
  for (int i = 0; i < 4; ++i) {
    nodes[i].value = i;
    list = static_cast<Node *>(ellm_Add(list, ELLM_APPEND, &nodes[i]));
  }
  EXPECT_EQ(list, &nodes[0]);
  EXPECT_EQ(Walk(list), (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(nodes[0].previous, nullptr);
}

// Calls that would corrupt a list link nothing.
TEST(Ellm, UnsafeCallsAreRefused) {
  std::array<Node, 4> nodes{};
  Node *list = Chain(nodes, 0, 3);
  Node loose{nullptr, nullptr, 7};

  EXPECT_EQ(ellm_Add(&nodes[1], ELLM_APPEND, nullptr), nullptr);
  EXPECT_EQ(ellm_Add(&nodes[1], 2, &loose), nullptr);  // unknown code
  EXPECT_EQ(ellm_Add(&nodes[1], -1, &loose), nullptr); // unknown code
  // An element inside another list (previous set) is not taken.
  EXPECT_EQ(ellm_Add(&loose, ELLM_APPEND, &nodes[1]), nullptr);
  // The reference's own first element, or the reference itself, would close a loop.
  EXPECT_EQ(ellm_Add(&nodes[2], ELLM_APPEND, &nodes[0]), nullptr);
  EXPECT_EQ(ellm_Add(&nodes[0], ELLM_AFTER, &nodes[0]), nullptr);
  EXPECT_EQ(ellm_Add(&nodes[1], ELLM_BEFORE, &nodes[0]), nullptr);

  EXPECT_EQ(Walk(list), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(loose.next, nullptr);
  EXPECT_EQ(loose.previous, nullptr);
}

TEST(Ellm, AddToListAppendsThroughTheHeadAddress) {
  std::array<Node, 3> nodes{};
  for (int i = 0; i < 3; ++i) nodes[i].value = i;

  // A holder record whose first word is the list.
  struct Holder {
    Node *first;
    int other;
  } holder{nullptr, 42};
  for (auto &node : nodes) EXPECT_EQ(ellm_AddToList(&holder, &node, ELLM_APPEND), EMSC_TRUE);
  EXPECT_EQ(holder.first, &nodes[0]);
  EXPECT_EQ(holder.other, 42);
  EXPECT_EQ(Walk(holder.first), (std::vector<int>{0, 1, 2}));

  Node extra{nullptr, nullptr, 5};
  EXPECT_EQ(ellm_AddToList(&holder, &extra, ELLM_AFTER), EMSC_FALSE);
  EXPECT_EQ(ellm_AddToList(nullptr, &extra, ELLM_APPEND), EMSC_FALSE);
  EXPECT_EQ(ellm_AddToList(&holder, &nodes[0], ELLM_APPEND), EMSC_FALSE);
  EXPECT_EQ(Walk(holder.first), (std::vector<int>{0, 1, 2}));
}

TEST(Ellm, DeleteJoinsNeighboursAndLeavesTheElementsLinks) {
  struct Case {
    size_t removed;
    std::vector<int> expected;
  };
  for (const Case &c : {Case{0, {1, 2}}, Case{1, {0, 2}}, Case{2, {0, 1}}}) {
    std::array<Node, 3> nodes{};
    Node *list = Chain(nodes, 0, 3);
    Node *oldNext = nodes[c.removed].next;
    Node *oldPrevious = nodes[c.removed].previous;
    ellm_Delete(&nodes[c.removed]);
    // The caller moves the head when it removed the first element.
    if (c.removed == 0) list = nodes[0].next;
    EXPECT_EQ(Walk(list), c.expected) << "removing " << c.removed;
    EXPECT_EQ(nodes[c.removed].next, oldNext);
    EXPECT_EQ(nodes[c.removed].previous, oldPrevious);
  }
  Node alone{nullptr, nullptr, 1};
  ellm_Delete(&alone);
  ellm_Delete(nullptr);
  EXPECT_EQ(alone.next, nullptr);
}

// Moving an element: unlink, clear its links, add next to a reference in another list.
TEST(Ellm, MoveBetweenLists) {
  std::array<Node, 6> nodes{};
  Node *first = Chain(nodes, 0, 3);
  Node *second = Chain(nodes, 3, 6);
  ellm_Delete(&nodes[1]);
  nodes[1].next = nodes[1].previous = nullptr;
  second = static_cast<Node *>(ellm_Add(&nodes[3], ELLM_BEFORE, &nodes[1]));
  EXPECT_EQ(Walk(first), (std::vector<int>{0, 2}));
  EXPECT_EQ(Walk(second), (std::vector<int>{1, 3, 4, 5}));
}

} // namespace
