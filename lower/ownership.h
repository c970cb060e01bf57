// Ownership in the layer's heap: objects, a record with its array, the growth of (pointer,
// capacity) pairs, and the report chain a callee leaves.
//
// What a caller receives comes from the layer's heap (emsc_HeapMalloc, zero-filled) and is freed
// with emsc_HeapFree, also when it is a C++ object with members of its own:
//
//   State *state = lower::HeapNew<State>();          // null when the heap is exhausted
//   lower::HeapDelete(state);                        // destructor, then emsc_HeapFree
//   lower::HeapPtr<State> held(lower::HeapNew<State>()); // freed on every early return
//   lower::Owned<Efga_Polynomial, efga_PolynomialDelete> made(...); // a family's record, likewise
//
//   if (!lower::Grow(buffer, capacity, count + 1)) return Fail(...); // buffer, capacity kept
//
//   lower::CalleeReport inner;                       // the callee's slot; freed when it ends
//   if (!efio_Something(..., &inner)) {
//     lower::ReportCallee(err, inner, kReporter, 3, "efio_Something"); // hands the chain on
//     return -1;
//   }
#ifndef TAVIRON_LOWER_OWNERSHIP_H
#define TAVIRON_LOWER_OWNERSHIP_H

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#include "eerr.h"
#include "emsc.h"

namespace taviron::lower {

// ---- Objects ----

// A new T in a block of the layer's heap, built from the arguments (a T without arguments is
// value-initialised, over memory that is zero already); null when the heap is exhausted. A
// constructor that throws gives its block back before the exception goes on.
template <class T, class... Args> T *HeapNew(Args &&...args) {
  static_assert(alignof(T) <= alignof(std::max_align_t), "the heap aligns blocks as max_align_t");
  void *block = emsc_HeapMalloc(sizeof(T));
  if (!block) return nullptr;
  if constexpr (std::is_nothrow_constructible_v<T, Args...>) {
    return new (block) T(std::forward<Args>(args)...);
  } else {
    try {
      return new (block) T(std::forward<Args>(args)...);
    } catch (...) {
      emsc_HeapFree(block);
      throw;
    }
  }
}

// Destroys an object of the layer's heap (made by HeapNew, or a C record from emsc_HeapMalloc)
// and frees its block; null is accepted.
template <class T> void HeapDelete(T *object) noexcept {
  if (!object) return;
  object->~T();
  emsc_HeapFree(const_cast<std::remove_const_t<T> *>(object));
}

struct HeapDeleter {
  template <class T> void operator()(T *object) const noexcept { HeapDelete(object); }
};

// An owning pointer to an object of the layer's heap.
template <class T> using HeapPtr = std::unique_ptr<T, HeapDeleter>;

// A record of a family held while it is being filled, freed by the family's own free function
// (taking the record, or the record and an error slot, which gets null) on every path that does
// not hand it out with release(), an exception included:
//
//   lower::Owned<Efga_Polynomial, efga_PolynomialDelete> result(Make(...));
//   ...                          // may throw std::bad_alloc: the record goes back
//   return result.release();
template <auto Free> struct FreeWith {
  template <class T> void operator()(T *record) const noexcept {
    if constexpr (std::is_invocable_v<decltype(Free), T *>)
      Free(record);
    else
      Free(record, nullptr);
  }
};
template <class T, auto Free> using Owned = std::unique_ptr<T, FreeWith<Free>>;

// ---- Arrays ----

// The most bytes one block of the layer may hold: sizes and counts are 32-bit.
inline constexpr std::size_t kMaxBlockBytes = static_cast<std::size_t>(std::numeric_limits<int32_t>::max());

// A zero-filled array of count elements of a trivial type; null for a negative count, a size
// beyond kMaxBlockBytes or an exhausted heap. A count of 0 gives a (one-byte) block.
template <class T> T *HeapNewArray(int64_t count) noexcept {
  static_assert(std::is_trivially_default_constructible_v<T> && std::is_trivially_destructible_v<T>);
  if (count < 0 || static_cast<uint64_t>(count) > kMaxBlockBytes / sizeof(T)) return nullptr;
  return static_cast<T *>(emsc_HeapMalloc(count ? static_cast<std::size_t>(count) * sizeof(T) : 1));
}

// A zero-filled Record followed, in the same block, by count entries of Entry; `array` points to
// them. One emsc_HeapFree frees both. Null as HeapNewArray.
template <class Record, class Entry> Record *HeapNewWithArray(int64_t count, Entry *&array) noexcept {
  static_assert(std::is_trivial_v<Record> && std::is_trivial_v<Entry>);
  static_assert(sizeof(Record) % alignof(Entry) == 0, "the array must follow the record aligned");
  if (count < 0 || static_cast<uint64_t>(count) > (kMaxBlockBytes - sizeof(Record)) / sizeof(Entry))
    return nullptr;
  auto *record = static_cast<Record *>(emsc_HeapMalloc(sizeof(Record) + static_cast<std::size_t>(count) * sizeof(Entry)));
  if (record) array = reinterpret_cast<Entry *>(reinterpret_cast<unsigned char *>(record) + sizeof(Record));
  return record;
}

// How an array grows.
struct Growth {
  int32_t first = 16;                                  // the capacity of a first block, at least
  int32_t limit = std::numeric_limits<int32_t>::max(); // most elements the array may ever hold
  bool exact = false;                                  // grow to the wanted count, no further
};

// Makes room for `wanted` elements of `elementSize` bytes in the array of the layer's heap that
// `array` points to (null: none yet) and that holds `capacity` elements. Growth is by half the
// capacity (at least to growth.first), or exact. The one overflow rule: the capacity stays
// within growth.limit and the block within kMaxBlockBytes. New elements are zero. False, with
// array and capacity as they were, when `wanted` breaks the rule or the heap is exhausted.
bool GrowBlock(void *&array, int32_t &capacity, int64_t wanted, std::size_t elementSize,
               const Growth &growth) noexcept;

// GrowBlock for a typed array; elementSize defaults to the element type's (a buffer of int32_t
// holding points of two words passes 2 * sizeof(int32_t)).
template <class T>
[[nodiscard]] bool Grow(T *&array, int32_t &capacity, int64_t wanted, std::size_t elementSize = sizeof(T),
                        const Growth &growth = {}) noexcept {
  void *block = array;
  if (!GrowBlock(block, capacity, wanted, elementSize, growth)) return false;
  array = static_cast<T *>(block);
  return true;
}

// ---- Report chains ----

// The slot a callee fills: it owns the chain the callee leaves and frees it when it ends, unless
// the chain was handed on (the report helpers of internal.h take it: ReportCallee, ReportChained,
// PassOn). It stands where a local `Eerr_ErrorReport *inner = nullptr` stood: `&inner` is the
// `Eerr_ErrorReport **` a callee fills, or that Report chains a report above. A callee clears
// its slot without freeing it, so a slot that may still hold a chain is dropped (Drop) before it
// is handed to the next callee.
class CalleeReport {
public:
  CalleeReport() = default;
  CalleeReport(const CalleeReport &) = delete;
  CalleeReport &operator=(const CalleeReport &) = delete;
  ~CalleeReport() { Drop(); }

  Eerr_ErrorReport **operator&() noexcept { return &chain_; }
  explicit operator bool() const noexcept { return chain_ != nullptr; }
  Eerr_ErrorReport *operator->() const noexcept { return chain_; }
  Eerr_ErrorReport *Get() const noexcept { return chain_; }
  // Gives the chain up to the caller.
  Eerr_ErrorReport *Release() noexcept { return std::exchange(chain_, nullptr); }
  void Drop() noexcept { eerr_DeleteErrorReportEx(&chain_); }

private:
  Eerr_ErrorReport *chain_ = nullptr;
};

} // namespace taviron::lower

#endif
