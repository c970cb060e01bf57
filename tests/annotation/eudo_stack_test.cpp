// The undo stack: undoing newest first with the damaged areas united, failures of items and of
// the finished callback, purges, the lookups, and allocation failures.
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "annotation_testing.h"
#include "egda_pixel.h"
#include "eudo.h"

namespace {

using namespace taviron::annotation::testing;
using taviron::testing::SweepAllocationFailures;

// What the callbacks did, in order: "undo:<name>", "free:<name>", "finished:<data>:<box>".
std::vector<std::string> events;

// The undo data of the test items: a name, the box its undo reports and what else it does.
enum class Does { Nothing, Fail, BadBox, Push };
struct Record {
  const char *name;
  bool damages;
  double x1, y1, x2, y2;
  Does does;
};

std::string BoxText(const Evec_Bbox *box) {
  if (!box) return "null";
  auto at = [box](int32_t r, int32_t c) { return taviron::lower::At<double>(*box, r, c); };
  char text[128];
  std::snprintf(text, sizeof text, "(%g, %g)-(%g, %g)", at(0, 0), at(1, 0), at(0, 1), at(1, 1));
  return text;
}

Evec_Bbox *MakeBox(double x1, double y1, double x2, double y2) {
  Evec_Bbox *box = evec_BboxCreate(nullptr);
  auto set = [box](int32_t r, int32_t c, double v) { taviron::lower::At<double>(*box, r, c) = v; };
  set(0, 0, x1);
  set(1, 0, y1);
  set(0, 1, x2);
  set(1, 1, y2);
  return box;
}

Eudo_UndoStack *pushTarget = nullptr; // the stack a Does::Push item pushes onto while it is undone

void FreeRecord(void *undoData) {
  events.push_back(std::string("free:") + static_cast<Record *>(undoData)->name);
  emsc_HeapFree(undoData);
}

Evec_Bbox *UndoRecord(int32_t data, void *undoData, Eerr_ErrorReport **err) {
  const Record &record = *static_cast<Record *>(undoData);
  events.push_back(std::string("undo:") + record.name + ":" + std::to_string(data));
  switch (record.does) {
  case Does::Fail:
    *err = eerr_CreateErrorReport("undoer", 7, 2, nullptr, "cannot undo");
    return MakeBox(0, 0, 1, 1); // a box that comes with a failure is still the stack's to delete
  case Does::BadBox:
    return egda_BaseDataCreate(1, 1, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  case Does::Push: {
    auto *pushed = static_cast<Record *>(emsc_HeapMalloc(sizeof(Record)));
    *pushed = {"pushed", false, 0, 0, 0, 0, Does::Nothing};
    ErrorSlot pushErr;
    eudo_UndoStackPush(pushTarget, UndoRecord, pushed, FreeRecord, &pushErr);
    if (pushErr) {
      events.push_back("push failed: " + pushErr.Message());
      emsc_HeapFree(pushed);
    }
    break;
  }
  case Does::Nothing:
    break;
  }
  return record.damages ? MakeBox(record.x1, record.y1, record.x2, record.y2) : nullptr;
}

void Finished(int32_t data, Evec_Bbox *box, Eerr_ErrorReport **) {
  events.push_back("finished:" + std::to_string(data) + ":" + BoxText(box));
}
void FailingFinished(int32_t data, Evec_Bbox *box, Eerr_ErrorReport **err) {
  Finished(data, box, err);
  *err = eerr_CreateErrorReport("finisher", 3, 2, nullptr, "cannot finish");
}

class UndoStackTest : public HeapTest {
protected:
  void SetUp() override {
    HeapTest::SetUp();
    events.clear();
  }
  void TearDown() override {
    eudo_UndoStackPurgeAll(stack_);
    edlm_FreeList(stack_);
    pushTarget = nullptr;
    HeapTest::TearDown();
  }
  void Start(const char *name, int32_t data, Eudo_FinishedFunction finished = Finished) {
    ErrorSlot err;
    stack_ = eudo_UndoStackStartNewTransaction(stack_, name, data, finished, &err);
    ASSERT_FALSE(err) << Chain(err);
    ASSERT_NE(nullptr, stack_);
  }
  void Push(Record record) {
    auto *data = static_cast<Record *>(emsc_HeapMalloc(sizeof(Record)));
    *data = record;
    ErrorSlot err;
    eudo_UndoStackPush(stack_, UndoRecord, data, FreeRecord, &err);
    ASSERT_FALSE(err) << Chain(err);
  }
  void Push(const char *name, Does does = Does::Nothing) { Push({name, false, 0, 0, 0, 0, does}); }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (int32_t i = 0; i < eudo_UndoStackCount(stack_); ++i) names.push_back(eudo_UndoStackTransaction(stack_, i)->name);
    return names;
  }

  Eudo_UndoStack *stack_ = nullptr;
};

using Events = std::vector<std::string>;

TEST_F(UndoStackTest, UndoesTheTopTransactionNewestFirstAndUnitesTheDamage) {
  Start("older", 1);
  Push("kept");
  Start("move", 42);
  Push({"A", true, 0, 0, 1, 1, Does::Nothing});
  Push("B");
  Push({"C", false, 0, 0, 0, 0, Does::BadBox}); // a matrix that is no box is deleted unread
  Push({"D", true, 2, 3, 4, 5, Does::Nothing});
  EXPECT_EQ(4, eudo_UndoTransactionCount(eudo_UndoStackTop(stack_)));

  ErrorSlot err;
  eudo_UndoStackUndoLastTransaction(stack_, &err);
  EXPECT_FALSE(err) << Chain(err);
  EXPECT_EQ((Events{"undo:D:42", "free:D", "undo:C:42", "free:C", "undo:B:42", "free:B", "undo:A:42", "free:A",
                    "finished:42:(0, 0)-(4, 5)"}),
            events);
  EXPECT_EQ(std::vector<std::string>{"older"}, Names());

  // A transaction without items, and one whose only item damages nothing: a null box.
  for (bool withItem : {false, true}) {
    events.clear();
    Start("empty", 5);
    if (withItem) Push({"E", false, 0, 0, 0, 0, Does::Nothing});
    eudo_UndoStackUndoLastTransaction(stack_, &err);
    EXPECT_FALSE(err) << Chain(err);
    EXPECT_EQ(withItem ? (Events{"undo:E:5", "free:E", "finished:5:null"}) : (Events{"finished:5:null"}), events);
  }

  // Then the older one, whose last item is the only one; then nothing is left to undo.
  events.clear();
  eudo_UndoStackUndoLastTransaction(stack_, &err);
  EXPECT_EQ((Events{"undo:kept:1", "free:kept", "finished:1:null"}), events);
  events.clear();
  eudo_UndoStackUndoLastTransaction(stack_, &err);
  eudo_UndoStackUndoLastTransaction(nullptr, &err);
  EXPECT_FALSE(err) << Chain(err);
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(0, eudo_UndoStackCount(stack_));
}

TEST_F(UndoStackTest, AFailingItemStopsTheUndoAndAFailingFinishedCallbackIsReported) {
  Start("older", 1);
  Start("edit", 9);
  Push({"A", true, 0, 0, 1, 1, Does::Nothing});
  Push("B", Does::Fail);
  Push({"C", true, 5, 5, 6, 6, Does::Nothing});
  ErrorSlot err;
  eudo_UndoStackUndoLastTransaction(stack_, &err);
  EXPECT_TRUE(Reported(err, "eudo_UndoStackUndoLastTransaction", 1, "Error undoing item")) << Chain(err);
  ASSERT_NE(nullptr, err->next);
  EXPECT_TRUE(Reported(err->next, "undoer", 7, "cannot undo"));
  // A is freed without being undone, and the finished callback is not called.
  EXPECT_EQ((Events{"undo:C:9", "free:C", "undo:B:9", "free:B", "free:A"}), events);
  EXPECT_EQ(std::vector<std::string>{"older"}, Names());

  events.clear();
  Start("finish", 3, FailingFinished);
  Push({"D", true, 1, 2, 3, 4, Does::Nothing});
  eudo_UndoStackUndoLastTransaction(stack_, &err);
  EXPECT_TRUE(Reported(err, "eudo_UndoStackUndoLastTransaction", 2, "Error returned from finishedUndoCallback"))
      << Chain(err);
  ASSERT_NE(nullptr, err->next);
  EXPECT_TRUE(Reported(err->next, "finisher", 3, "cannot finish"));
  EXPECT_EQ((Events{"undo:D:3", "free:D", "finished:3:(1, 2)-(3, 4)"}), events);
  EXPECT_EQ(std::vector<std::string>{"older"}, Names());
}

// An undo that registers items puts them on the transaction then on top; with none there, the
// push fails and the undo goes on.
TEST_F(UndoStackTest, AnItemPushedWhileUndoingGoesOnTheTransactionThenOnTop) {
  Start("edit", 2);
  Push("A", Does::Push);
  pushTarget = stack_;
  ErrorSlot err;
  eudo_UndoStackUndoLastTransaction(stack_, &err);
  EXPECT_FALSE(err) << Chain(err);
  EXPECT_EQ((Events{"undo:A:2", "push failed: No transactions on stack", "free:A", "finished:2:null"}), events);

  events.clear();
  Start("older", 1);
  Start("edit", 2);
  Push("A", Does::Push);
  eudo_UndoStackUndoLastTransaction(stack_, &err);
  EXPECT_FALSE(err) << Chain(err);
  ASSERT_EQ(std::vector<std::string>{"older"}, Names());
  EXPECT_EQ(1, eudo_UndoTransactionCount(eudo_UndoStackTop(stack_)));
}

TEST_F(UndoStackTest, PurgesRemoveTransactionsFromTheTopDown) {
  const struct {
    const char *name;
    int32_t data;
  } started[] = {{"a", 7}, {"b", 8}, {"c", 7}, {"d", 7}, {"e", 9}, {"f", 7}};
  for (const auto &transaction : started) {
    Start(transaction.name, transaction.data);
    Push(transaction.name);
  }
  eudo_UndoStackPurge(stack_, 7);
  EXPECT_EQ((Events{"free:f", "free:d", "free:c", "free:a"}), events);
  EXPECT_EQ((std::vector<std::string>{"b", "e"}), Names());
  eudo_UndoStackPurge(stack_, 100);
  eudo_UndoStackPurge(nullptr, 8);
  EXPECT_EQ(2, eudo_UndoStackCount(stack_));

  events.clear();
  eudo_UndoStackPurgeAll(stack_);
  EXPECT_EQ((Events{"free:e", "free:b"}), events);
  EXPECT_EQ(0, eudo_UndoStackCount(stack_));
  ASSERT_NE(nullptr, stack_); // the empty stack remains

  auto *data = static_cast<Record *>(emsc_HeapMalloc(sizeof(Record)));
  ErrorSlot err;
  eudo_UndoStackPush(stack_, UndoRecord, data, FreeRecord, &err);
  EXPECT_TRUE(Reported(err, "eudo_UndoStackPush", 2, "No transactions on stack")) << Chain(err);
  eudo_UndoStackPush(nullptr, UndoRecord, data, FreeRecord, &err);
  EXPECT_TRUE(Reported(err, "eudo_UndoStackPush", 1, "Invalid input undoStack")) << Chain(err);
  emsc_HeapFree(data); // a failed push leaves the undo data to the caller
}

// Lookups, pops and deletions by index; every free callback runs once.
TEST_F(UndoStackTest, TransactionsAndItemsAreReachedByIndex) {
  EXPECT_EQ(0, eudo_UndoStackCount(nullptr));
  EXPECT_EQ(nullptr, eudo_UndoStackTop(nullptr));
  EXPECT_EQ(nullptr, eudo_UndoStackPop(nullptr));
  EXPECT_EQ(0, eudo_UndoTransactionCount(nullptr));
  EXPECT_EQ(nullptr, eudo_UndoTransactionPop(nullptr));
  Start("first", 1);
  Push("1a");
  Push("1b");
  Push("1c");
  Start("second", 2);
  Start("third", 3);
  EXPECT_EQ(3, eudo_UndoStackCount(stack_));
  EXPECT_STREQ("third", eudo_UndoStackTop(stack_)->name);
  for (int32_t index : {-1, 3}) EXPECT_EQ(nullptr, eudo_UndoStackTransaction(stack_, index)) << index;
  eudo_UndoStackDeleteTransaction(stack_, 3);
  eudo_UndoStackDeleteTransaction(stack_, 1);
  EXPECT_EQ((std::vector<std::string>{"first", "third"}), Names());

  Eudo_UndoTransaction *first = eudo_UndoStackTransaction(stack_, 0);
  EXPECT_EQ(1, first->data);
  EXPECT_EQ(3, eudo_UndoTransactionCount(first));
  EXPECT_STREQ("1b", static_cast<Record *>(eudo_UndoTransactionItem(first, 1)->undoData)->name);
  EXPECT_EQ(nullptr, eudo_UndoTransactionItem(first, 3));
  eudo_UndoTransactionDeleteItem(first, 1);
  eudo_UndoTransactionDeleteItem(first, 5);
  EXPECT_EQ(Events{"free:1b"}, events);

  Eudo_UndoItem *item = eudo_UndoTransactionPop(first);
  ASSERT_NE(nullptr, item);
  EXPECT_STREQ("1c", static_cast<Record *>(item->undoData)->name);
  eudo_UndoItemDeleteContents(&item);
  eudo_UndoItemFree(&item); // the contents are gone already: not freed twice
  EXPECT_EQ(nullptr, item);
  EXPECT_EQ((Events{"free:1b", "free:1c"}), events);

  Eudo_UndoTransaction *third = eudo_UndoStackPop(stack_);
  ASSERT_NE(nullptr, third);
  EXPECT_STREQ("third", third->name);
  eudo_UndoTransactionFree(&third);
  EXPECT_EQ(nullptr, third);
  EXPECT_EQ(1, eudo_UndoStackCount(stack_));
  EXPECT_EQ(first, eudo_UndoStackTop(stack_));

  // A transaction without a name, and an item with no callbacks at all.
  Start(nullptr, 4);
  EXPECT_EQ(nullptr, eudo_UndoStackTop(stack_)->name);
  ErrorSlot err;
  eudo_UndoStackPush(stack_, nullptr, nullptr, nullptr, &err);
  EXPECT_FALSE(err) << Chain(err);
  events.clear();
  eudo_UndoStackUndoLastTransaction(stack_, &err);
  EXPECT_FALSE(err) << Chain(err);
  EXPECT_EQ(Events{"finished:4:null"}, events);
}

// Every allocation that fails leaves a report of its step, and nothing made behind.
TEST_F(UndoStackTest, AllocationFailuresAreReportedByTheirStep) {
  std::set<int32_t> startCodes;
  SweepAllocationFailures(
      [&](Eerr_ErrorReport **err) {
        Eudo_UndoStack *made = eudo_UndoStackStartNewTransaction(nullptr, "name", 1, Finished, err);
        if (!*err) {
          stack_ = made;
          return true;
        }
        EXPECT_STREQ("eudo_UndoStackStartNewTransaction", (*err)->reporter);
        startCodes.insert((*err)->code);
        EXPECT_EQ((*err)->code == 1, made == nullptr);
        EXPECT_EQ(0, eudo_UndoStackCount(made));
        edlm_FreeList(made);
        return false;
      },
      [&] {
        eudo_UndoStackPurgeAll(stack_);
        edlm_FreeList(stack_);
        stack_ = nullptr;
      });
  EXPECT_EQ((std::set<int32_t>{1, 2, 3, 4}), startCodes);

  // Each push goes onto a transaction of its own, freed with whatever the run pushed (the stack's
  // own storage made beforehand).
  Start("base", 0);
  Start("given", 1);
  eudo_UndoStackDeleteTransaction(stack_, 1);
  taviron::testing::SweepOptions options;
  options.prepare = [&] { Start("given", 1); };
  options.finish = [&] { eudo_UndoStackDeleteTransaction(stack_, eudo_UndoStackCount(stack_) - 1); };
  std::set<int32_t> pushCodes;
  SweepAllocationFailures(
      [&](Eerr_ErrorReport **err) {
        auto *data = static_cast<Record *>(emsc_HeapMalloc(sizeof(Record)));
        if (!data) {
          *err = eerr_CreateErrorReport("test", 1, 2, nullptr, "no record");
          return false;
        }
        *data = {"pushed", false, 0, 0, 0, 0, Does::Nothing};
        eudo_UndoStackPush(stack_, UndoRecord, data, FreeRecord, err);
        if (!*err) return true;
        EXPECT_STREQ("eudo_UndoStackPush", (*err)->reporter);
        pushCodes.insert((*err)->code);
        emsc_HeapFree(data);
        return false;
      },
      options);
  EXPECT_EQ((std::set<int32_t>{3, 4}), pushCodes);
}

} // namespace
