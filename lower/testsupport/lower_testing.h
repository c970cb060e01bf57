/* Hooks for tests only; not part of the public interface. */
#ifndef TAVIRON_LOWER_TESTING_H
#define TAVIRON_LOWER_TESTING_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Makes the nth heap allocation from now fail (1 = the next one); 0 switches the failure off.
   Only one allocation fails; the ones after it succeed again. */
void emsc_TestFailNthAllocation(int64_t n);
/* Number of allocations made through emsc_HeapMalloc/emsc_HeapRealloc since the process started. */
int64_t emsc_TestAllocationCount(void);
/* Blocks handed out by the heap and not yet freed. */
int64_t emsc_TestLiveBlocks(void);

/* Replaces the print sink through which the layer writes to standard output (stream 1)
   and standard error (stream 2); null restores the default. */
typedef void (*Elower_PrintSink)(void *user, int stream, const char *text, size_t length);
void elower_TestSetPrintSink(Elower_PrintSink sink, void *user);

#ifdef __cplusplus
}

#include <string>
namespace taviron::testing {
/* Collects what the layer prints while it lives; restores the default sink afterwards. */
class CapturedOutput {
public:
  CapturedOutput() { elower_TestSetPrintSink(&Sink, this); }
  ~CapturedOutput() { elower_TestSetPrintSink(nullptr, nullptr); }
  CapturedOutput(const CapturedOutput &) = delete;
  CapturedOutput &operator=(const CapturedOutput &) = delete;
  const std::string &Out() const { return out_; }
  const std::string &Err() const { return err_; }
  void Clear() { out_.clear(); err_.clear(); }

private:
  static void Sink(void *user, int stream, const char *text, size_t length) {
    auto *self = static_cast<CapturedOutput *>(user);
    (stream == 2 ? self->err_ : self->out_).append(text, length);
  }
  std::string out_, err_;
};

/* Makes the nth allocation fail while it lives. */
class FailAllocation {
public:
  explicit FailAllocation(int64_t n) { emsc_TestFailNthAllocation(n); }
  ~FailAllocation() { emsc_TestFailNthAllocation(0); }
  FailAllocation(const FailAllocation &) = delete;
  FailAllocation &operator=(const FailAllocation &) = delete;
};
} // namespace taviron::testing
#endif

#endif
