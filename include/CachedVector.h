// The overflow store of the spatial cache: a growable array of 32-bit words kept in a temporary
// file and reached through at most two mapped views of it (CachedVector), and a store of
// variable-length records packed into one such array, with their start positions in a second
// one (CachedRecordStore). Records never straddle a view, so the address of a record's first
// word reaches the whole record while its view stays mapped: an address stays valid only until
// a third view of the same array is touched. The temporary files live in the folder
// "CachedVector" of the temporary directory, named "pvf..." and removed from it at once; they
// vanish when their handles close. Failures are thrown as std::runtime_error. Neither class
// locks: the owner serialises access.
#ifndef TAVIRON_CACHEDVECTOR_H
#define TAVIRON_CACHEDVECTOR_H

#include "taviron_export.h"

#ifdef __cplusplus

#include <cstddef>
#include <cstdint>
#include <string>

#include "efmp.h"

template <class T> class TAVIRON_API CachedVector {
public:
  CachedVector();
  // viewMultiple: allocation granularities per view (at least 1).
  explicit CachedVector(int32_t viewMultiple);
  ~CachedVector();
  CachedVector(const CachedVector &) = delete;
  CachedVector &operator=(const CachedVector &) = delete;

  // The address of the element, mapping its view when needed.
  T *operator[](int64_t index);
  // Sets the size to n, growing the file and writing fill into every new element. The file
  // never shrinks.
  void resize(int64_t n, T fill);
  void unmapViews();

  int64_t size() const { return size_; }
  int64_t capacity() const { return capacity_; }
  int64_t elementsPerView() const { return elementsPerView_; }
  const std::string &fileName() const { return fileName_; }
  // Views mapped since construction (the system calls made).
  int64_t viewsMapped() const { return viewsMapped_; }

private:
  struct View {
    int64_t number = -1;
    T *base = nullptr;
  };

  void Create(int32_t viewMultiple);
  void Unmap(View &view);
  T *Base(int64_t view);

  std::string fileName_;
  Efmp_Handle file_ = 0;
  Efmp_Handle mapping_ = 0;
  int64_t size_ = 0;
  int64_t capacity_ = 0;
  int32_t viewMultiple_ = 1;
  std::size_t viewBytes_ = 0;
  int64_t elementsPerView_ = 0;
  View current_, previous_;
  T fillValue_{};
  int64_t lastIndex_ = -1;
  T *lastAddress_ = nullptr;
  int64_t viewsMapped_ = 0;
};

// Records of 32-bit words, numbered from 0, each within one chunk (one view of the data).
class TAVIRON_API CachedRecordStore {
public:
  CachedRecordStore();
  ~CachedRecordStore();
  CachedRecordStore(const CachedRecordStore &) = delete;
  CachedRecordStore &operator=(const CachedRecordStore &) = delete;

  // Starts the next record number for a record of n words (n below chunkElements()).
  void beginRecord(int32_t n);
  // Starts record `recordNumber` for n words; missing numbers below it get no record.
  void beginRecordAt(int32_t n, int32_t recordNumber);
  // Copies n words to the end of the current record.
  void append(const int32_t *words, int32_t n);
  // The address of the record's first word; null for a number without a record.
  int32_t *record(int32_t recordNumber);
  // Forgets the record of that number (a record whose writing failed).
  void removeRecord(int32_t recordNumber);
  int32_t recordCount() const { return static_cast<int32_t>(starts_.size()); }
  int32_t chunkElements() const { return chunkElements_; }

  // The two arrays, for inspection.
  CachedVector<int32_t> &data() { return data_; }
  CachedVector<int32_t> &starts() { return starts_; }

private:
  void Reserve(int32_t n);

  CachedVector<int32_t> data_;
  CachedVector<int32_t> starts_;
  int64_t total_ = 0;
  int32_t chunkElements_ = 0;
  int64_t reserved_ = 0;
  int32_t chunkUsed_ = 0;
  int32_t recordLeft_ = 0; // words the current record may still take
};

#endif

#endif
