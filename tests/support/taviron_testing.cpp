// The shared test kit (taviron_testing.h), and the counted failure of operator new.
#include "taviron_testing.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <new>
#include <system_error>

namespace taviron::testing {

std::string ErrorSlot::Message() const {
  return report_ && report_->message ? report_->message : "";
}

std::string Chain(const Eerr_ErrorReport *report) {
  std::string text;
  for (; report; report = report->next) {
    text += report->reporter ? report->reporter : "?";
    text += " #" + std::to_string(report->code) + ": ";
    text += report->message ? report->message : "";
    text += "\n";
  }
  return text;
}

::testing::AssertionResult Reported(const Eerr_ErrorReport *report, const char *reporter, int32_t code,
                                    const char *message) {
  if (!report) return ::testing::AssertionFailure() << "no report";
  const std::string got = report->message ? report->message : "";
  if (std::string(report->reporter ? report->reporter : "") != reporter || report->code != code ||
      (message && got != message) || report->severity != 2)
    return ::testing::AssertionFailure() << "got " << Chain(report);
  return ::testing::AssertionSuccess();
}

} // namespace taviron::testing

// ---- operator new ------------------------------------------------------------------------------
//
// The test programs replace the throwing and nothrow forms of operator new: each call is counted
// and the armed one fails; every call then goes on to the definition the program would have used
// without this one (the sanitizer's or the C++ library's, found with RTLD_NEXT), so that the
// matching operator delete, which is not replaced, frees what it allocated.
namespace {

std::atomic<int64_t> newCalls{0};
std::atomic<int64_t> newFailsAt{0}; // the call number that fails, 0 = none

bool NewShouldFail() {
  const int64_t number = ++newCalls;
  int64_t target = newFailsAt.load(std::memory_order_relaxed);
  return target != 0 && number == target && newFailsAt.compare_exchange_strong(target, 0);
}

template <class Function> Function Next(const char *symbol) {
  void *found = dlsym(RTLD_NEXT, symbol);
  if (!found) std::abort();
  return reinterpret_cast<Function>(found);
}

using Plain = void *(*)(std::size_t);
using Aligned = void *(*)(std::size_t, std::align_val_t);
using PlainNothrow = void *(*)(std::size_t, const std::nothrow_t &) noexcept;
using AlignedNothrow = void *(*)(std::size_t, std::align_val_t, const std::nothrow_t &) noexcept;

} // namespace

void *operator new(std::size_t size) {
  static const Plain next = Next<Plain>("_Znwm");
  if (NewShouldFail()) throw std::bad_alloc();
  return next(size);
}
void *operator new[](std::size_t size) {
  static const Plain next = Next<Plain>("_Znam");
  if (NewShouldFail()) throw std::bad_alloc();
  return next(size);
}
void *operator new(std::size_t size, std::align_val_t align) {
  static const Aligned next = Next<Aligned>("_ZnwmSt11align_val_t");
  if (NewShouldFail()) throw std::bad_alloc();
  return next(size, align);
}
void *operator new[](std::size_t size, std::align_val_t align) {
  static const Aligned next = Next<Aligned>("_ZnamSt11align_val_t");
  if (NewShouldFail()) throw std::bad_alloc();
  return next(size, align);
}
void *operator new(std::size_t size, const std::nothrow_t &tag) noexcept {
  static const PlainNothrow next = Next<PlainNothrow>("_ZnwmRKSt9nothrow_t");
  return NewShouldFail() ? nullptr : next(size, tag);
}
void *operator new[](std::size_t size, const std::nothrow_t &tag) noexcept {
  static const PlainNothrow next = Next<PlainNothrow>("_ZnamRKSt9nothrow_t");
  return NewShouldFail() ? nullptr : next(size, tag);
}
void *operator new(std::size_t size, std::align_val_t align, const std::nothrow_t &tag) noexcept {
  static const AlignedNothrow next = Next<AlignedNothrow>("_ZnwmSt11align_val_tRKSt9nothrow_t");
  return NewShouldFail() ? nullptr : next(size, align, tag);
}
void *operator new[](std::size_t size, std::align_val_t align, const std::nothrow_t &tag) noexcept {
  static const AlignedNothrow next = Next<AlignedNothrow>("_ZnamSt11align_val_tRKSt9nothrow_t");
  return NewShouldFail() ? nullptr : next(size, align, tag);
}

namespace taviron::testing {

FailNew::FailNew(int64_t n) { newFailsAt.store(n > 0 ? newCalls.load() + n : 0); }
FailNew::~FailNew() { newFailsAt.store(0); }
int64_t NewCount() { return newCalls.load(); }

const char *NameOf(Failing kind) { return kind == Failing::Heap ? "heap allocation" : "operator new"; }

SweepCounts SweepAllocationFailures(const SweepStepOfKind &step, const std::function<void()> &cleanUp,
                                    const SweepOptions &options) {
  SweepCounts counts;
  for (Failing kind : {Failing::Heap, Failing::New}) {
    if ((kind == Failing::Heap && !options.heap) || (kind == Failing::New && !options.operatorNew)) continue;
    int64_t &failed = kind == Failing::Heap ? counts.heap : counts.operatorNew;
    const int64_t stride = kind == Failing::New ? std::max<int64_t>(1, options.newStride) : 1;
    for (int64_t n = 1;; n += stride) {
      const int64_t live = emsc_TestLiveBlocks();
      ErrorSlot err;
      bool ok = false, escaped = false;
      if (options.prepare) options.prepare();
      {
        FailAllocation heap(kind == Failing::Heap ? n : 0);
        FailNew plain(kind == Failing::New ? n : 0);
        try {
          ok = step(&err, kind);
        } catch (const std::bad_alloc &) {
          escaped = true; // the test's own code ran out (library calls never throw)
        }
      }
      if (options.finish) options.finish();
      if (ok) {
        EXPECT_FALSE(err) << NameOf(kind) << " " << n << " failing: success with " << Chain(err);
        if (cleanUp) {
          cleanUp();
          EXPECT_EQ(emsc_TestLiveBlocks(), live) << NameOf(kind) << ": blocks left after the clean-up";
        }
        if (kind == Failing::Heap && n < options.heapThrough) continue;
        break;
      }
      ++failed;
      if (options.reports && !escaped) {
        EXPECT_TRUE(err) << NameOf(kind) << " " << n << " failing: failure without a report";
      }
      if (options.steadyHeap) {
        EXPECT_EQ(emsc_TestLiveBlocks(), live)
            << NameOf(kind) << " " << n << " failing: blocks left after\n" << Chain(err);
      }
      err.Reset();
      if (n >= options.limit) {
        ADD_FAILURE() << NameOf(kind) << ": still failing after " << n << " runs";
        break;
      }
    }
  }
  return counts;
}

std::string ReadText(const std::filesystem::path &file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteText(const std::filesystem::path &file, const std::string &bytes) {
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

std::filesystem::path TempRoot() {
  const char *dir = std::getenv("TMPDIR");
  return dir && *dir ? std::filesystem::path(dir) : std::filesystem::path("/tmp");
}

TempDir::TempDir(const std::string &prefix) : owner_(getpid()) {
  std::string pattern = (TempRoot() / (prefix + "_XXXXXX")).string();
  if (!mkdtemp(pattern.data())) throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
  path_ = pattern;
}

TempDir::~TempDir() {
  if (getpid() != owner_) return;
  std::error_code ignored;
  // A test may have left folders without write or search permission behind.
  for (auto it = std::filesystem::recursive_directory_iterator(
           path_, std::filesystem::directory_options::skip_permission_denied, ignored);
       !ignored && it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored))
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
  }
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                               ignored);
  std::filesystem::remove_all(path_, ignored);
}

ScopedEnv::ScopedEnv(const char *name, const char *value) : name_(name) {
  if (const char *old = std::getenv(name)) {
    had_ = true;
    old_ = old;
  }
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
  if (had_)
    setenv(name_.c_str(), old_.c_str(), 1);
  else
    unsetenv(name_.c_str());
}

} // namespace taviron::testing
