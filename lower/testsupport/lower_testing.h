/* Hooks for tests only: they exist in the build of the lower layer that tests link
   (TAVIRON_TEST_HOOKS), never in the system library. The shared test kit
   (tests/support/taviron_testing.h) wraps them. */
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
#endif

#endif
