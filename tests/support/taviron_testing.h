// The shared test kit: every test folder uses it (CONTRIBUTING.md, "Test support").
//
//   ErrorSlot err;                  an error slot that owns its chain: f(..., &err)
//   Reported(err.get(), "f", 2, "text")   the newest report is f's #2 with that message
//   FailAllocation fail(n);         the nth heap allocation from now fails (emsc_HeapMalloc)
//   FailNew failNew(n);             the nth operator new from now throws std::bad_alloc
//   SweepAllocationFailures(step)   runs step with each allocation failing in turn, both kinds
//   TempDir dir;                    a fresh folder under $TMPDIR, removed with what it holds
//   FolderTest                      a fixture with such a folder that checks the heap
//   ReadText(file), WriteText(file, bytes)   a whole file
//   CapturedOutput out;             what the library prints to standard output and error
//
// The hooks behind them are built only into the libraries tests link (lower/testsupport).
#ifndef TAVIRON_TESTS_SUPPORT_TAVIRON_TESTING_H
#define TAVIRON_TESTS_SUPPORT_TAVIRON_TESTING_H

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "eerr.h"
#include "emsc.h"
#include "lower_testing.h"

namespace taviron::testing {

// ---- Error reports -----------------------------------------------------------------------------

// An error slot that owns the chain it holds. Handing it to a call (`&err`) frees the chain of
// the call before, since calls set the slot to null on entry without freeing it.
class ErrorSlot {
public:
  ErrorSlot() = default;
  ErrorSlot(const ErrorSlot &) = delete;
  ErrorSlot &operator=(const ErrorSlot &) = delete;
  ~ErrorSlot() { Reset(); }

  Eerr_ErrorReport **operator&() {
    Reset();
    return &report_;
  }
  Eerr_ErrorReport *get() const { return report_; }
  const Eerr_ErrorReport *operator->() const { return report_; }
  explicit operator bool() const { return report_ != nullptr; }
  void Reset() { eerr_DeleteErrorReportEx(&report_); }
  // The newest report's message ("" without one).
  std::string Message() const;

private:
  Eerr_ErrorReport *report_ = nullptr;
};

// The whole chain as "reporter #code: message" lines, newest first.
std::string Chain(const Eerr_ErrorReport *report);
inline std::string Chain(const ErrorSlot &slot) { return Chain(slot.get()); }

// The newest report is an error (severity 2) of reporter with that code and, unless message is
// null, that message.
::testing::AssertionResult Reported(const Eerr_ErrorReport *report, const char *reporter, int32_t code,
                                    const char *message = nullptr);
inline ::testing::AssertionResult Reported(const ErrorSlot &slot, const char *reporter, int32_t code,
                                           const char *message = nullptr) {
  return Reported(slot.get(), reporter, code, message);
}

// ---- Allocation failures -----------------------------------------------------------------------

// Makes the nth heap allocation from now fail while it lives (1 = the next one).
class FailAllocation {
public:
  explicit FailAllocation(int64_t n) { emsc_TestFailNthAllocation(n); }
  ~FailAllocation() { emsc_TestFailNthAllocation(0); }
  FailAllocation(const FailAllocation &) = delete;
  FailAllocation &operator=(const FailAllocation &) = delete;
};

// Makes the nth call of operator new from now (any thread, any form) throw std::bad_alloc, or the
// nothrow forms return null, while it lives. Only one call fails.
class FailNew {
public:
  explicit FailNew(int64_t n);
  ~FailNew();
  FailNew(const FailNew &) = delete;
  FailNew &operator=(const FailNew &) = delete;
};

// Calls of operator new since the process started.
int64_t NewCount();

enum class Failing { Heap, New };
const char *NameOf(Failing kind);

struct SweepOptions {
  int64_t limit = 1000;   // a step that still fails at this count is a failure of the test
  bool reports = true;    // a failing step leaves a report in its slot (false: calls without one)
  bool heap = true;       // sweep heap allocations
  bool operatorNew = true; // sweep operator new
  int64_t newStride = 1;   // operator new fails at counts 1, 1 + stride, ... (long sequences)
  int64_t heapThrough = 0; // the heap's sweep goes on through this count even past a successful
                           // run (a call that can do without some allocations)
  bool steadyHeap = true;  // a failed run leaves the heap as it was (false: runs may build state
                           // that the process keeps, such as a data base read once)
  // Run before and after every run, with nothing failing: what each run needs afresh (a file
  // opened again) and its undoing. The heap is compared before prepare and after finish.
  std::function<void()> prepare = {}, finish = {};
};

// Runs step(&err) with the 1st, 2nd, ... allocation failing, first through the heap, then through
// operator new, until a run succeeds (step returns true). After every failed run the slot holds a
// report and the heap holds no block more than before; a successful run leaves no report, and
// cleanUp (when given) frees what it made, after which the heap is as it was.
// Returns the number of failing runs of each kind (heap, new).
struct SweepCounts {
  int64_t heap = 0, operatorNew = 0;
};
// A step that checks its reports by the kind of failure takes the kind as its second argument.
using SweepStep = std::function<bool(Eerr_ErrorReport **err)>;
using SweepStepOfKind = std::function<bool(Eerr_ErrorReport **err, Failing kind)>;
SweepCounts SweepAllocationFailures(const SweepStepOfKind &step, const std::function<void()> &cleanUp,
                                    const SweepOptions &options = {});
inline SweepCounts SweepAllocationFailures(const SweepStepOfKind &step, const SweepOptions &options = {}) {
  return SweepAllocationFailures(step, nullptr, options);
}
inline SweepCounts SweepAllocationFailures(const SweepStep &step, const std::function<void()> &cleanUp,
                                           const SweepOptions &options = {}) {
  return SweepAllocationFailures([&step](Eerr_ErrorReport **err, Failing) { return step(err); }, cleanUp, options);
}
inline SweepCounts SweepAllocationFailures(const SweepStep &step, const SweepOptions &options = {}) {
  return SweepAllocationFailures(step, nullptr, options);
}

// ---- Files -------------------------------------------------------------------------------------

// The temporary folder: $TMPDIR when set, else /tmp.
std::filesystem::path TempRoot();

// A fresh folder under TempRoot(), removed with everything in it when the object ends (in the
// process that made it: a forked child leaving leaves it to its parent).
class TempDir {
public:
  explicit TempDir(const std::string &prefix = "taviron_test");
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::filesystem::path &path() const { return path_; }
  std::string str() const { return path_.string(); }
  // The path of name inside the folder.
  std::string operator/(const std::string &name) const { return (path_ / name).string(); }

private:
  std::filesystem::path path_;
  int owner_; // the process id of the maker
};

// The bytes of a file ("" when it cannot be read); writes bytes as the whole of a file.
std::string ReadText(const std::filesystem::path &file);
void WriteText(const std::filesystem::path &file, const std::string &bytes);

// A test with a fresh folder of its own (removed afterwards) that gives back every block of the
// heap it took. A fixture deriving from it calls its SetUp and TearDown when it has its own.
class FolderTest : public ::testing::Test {
protected:
  void SetUp() override { live_ = emsc_TestLiveBlocks(); }
  void TearDown() override { EXPECT_EQ(live_, emsc_TestLiveBlocks()) << "blocks left on the heap"; }
  // The path of name inside the folder.
  std::string Path(const std::string &name) const { return dir_ / name; }

  TempDir dir_;
  int64_t live_ = 0;
};

// Sets an environment variable while it lives, then puts back the value it had (or unsets it).
class ScopedEnv {
public:
  ScopedEnv(const char *name, const char *value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv &) = delete;
  ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
  std::string name_, old_;
  bool had_ = false;
};

// ---- Output ------------------------------------------------------------------------------------

// Collects what the library prints while it lives; restores the default sink afterwards.
class CapturedOutput {
public:
  CapturedOutput() { elower_TestSetPrintSink(&Sink, this); }
  ~CapturedOutput() { elower_TestSetPrintSink(nullptr, nullptr); }
  CapturedOutput(const CapturedOutput &) = delete;
  CapturedOutput &operator=(const CapturedOutput &) = delete;
  const std::string &Out() const { return out_; }
  const std::string &Err() const { return err_; }
  void Clear() {
    out_.clear();
    err_.clear();
  }

private:
  static void Sink(void *user, int stream, const char *text, size_t length) {
    auto *self = static_cast<CapturedOutput *>(user);
    (stream == 2 ? self->err_ : self->out_).append(text, length);
  }
  std::string out_, err_;
};

} // namespace taviron::testing

#endif
