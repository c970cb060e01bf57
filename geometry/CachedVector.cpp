// The overflow store: word arrays in temporary files seen through two mapped views, and the
// record store packed into them.
#include "CachedVector.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <stdexcept>

#include "efmp.h"

namespace {

constexpr const char *kCreateFailed = "CachedVector temporary file could not be created";
constexpr const char *kMapFailed =
    "CachedVector<T>::operator[]: MapViewOfFile failed; cannot page in necessary data";

} // namespace

// ---- CachedVector -------------------------------------------------------------------------------

template <class T> CachedVector<T>::CachedVector() { Create(1); }

template <class T> CachedVector<T>::CachedVector(int32_t viewMultiple) { Create(viewMultiple); }

template <class T> void CachedVector<T>::Create(int32_t viewMultiple) {
  viewMultiple_ = std::max(viewMultiple, 1);
  viewBytes_ = static_cast<std::size_t>(viewMultiple_) * efmp_GetAllocationGranularity();
  elementsPerView_ = static_cast<int64_t>(viewBytes_ / sizeof(T));

  char folder[260];
  const uint32_t length = efmp_GetTempPath(sizeof folder, folder);
  if (length == 0 || length >= sizeof folder - 14) throw std::runtime_error(kCreateFailed);
  std::strcat(folder, "CachedVector/");
  efmp_CreateDirectory(folder); // an existing folder of this user is fine
  char name[300];
  file_ = efmp_CreateTemporaryFile(folder, "pvf", name, sizeof name);
  if (!file_) throw std::runtime_error(kCreateFailed);
  fileName_ = name;
}

template <class T> CachedVector<T>::~CachedVector() {
  unmapViews();
  if (mapping_) efmp_CloseHandle(mapping_);
  if (file_) efmp_CloseHandle(file_);
}

template <class T> void CachedVector<T>::Unmap(View &view) {
  if (view.base) efmp_UnmapViewOfFile(view.base, viewBytes_);
  view = View{};
}

template <class T> void CachedVector<T>::unmapViews() {
  Unmap(current_);
  Unmap(previous_);
  lastIndex_ = -1;
  lastAddress_ = nullptr;
}

template <class T> T *CachedVector<T>::Base(int64_t view) {
  if (view == current_.number) return current_.base;
  if (view == previous_.number) {
    std::swap(current_, previous_);
    return current_.base;
  }
  Unmap(previous_);
  previous_ = current_;
  current_ = View{};
  void *base = efmp_MapViewOfFile(mapping_, static_cast<uint64_t>(view) * viewBytes_, viewBytes_);
  if (!base) throw std::runtime_error(kMapFailed);
  ++viewsMapped_;
  current_ = View{view, static_cast<T *>(base)};
  return current_.base;
}

template <class T> T *CachedVector<T>::operator[](int64_t index) {
  if (index == lastIndex_ && lastAddress_) return lastAddress_;
  if (index < 0) throw std::runtime_error(kMapFailed);
  const int64_t view = index / elementsPerView_, offset = index % elementsPerView_;
  T *address = Base(view) + offset;
  lastIndex_ = index;
  lastAddress_ = address;
  return address;
}

template <class T> void CachedVector<T>::resize(int64_t n, T fill) {
  if (n < 0) n = 0;
  fillValue_ = fill;
  const int64_t oldCapacity = capacity_;
  if (n > capacity_) {
    unmapViews();
    if (mapping_) efmp_CloseHandle(mapping_);
    const int64_t views = (n - 1) / elementsPerView_ + 1;
    // A mapping that cannot be made leaves none: the next view mapping then fails, and the next
    // growth tries again.
    mapping_ = efmp_CreateFileMapping(file_, static_cast<uint64_t>(views) * viewBytes_);
    capacity_ = mapping_ ? views * elementsPerView_ : 0;
  }
  // New file space reads as zero, so only elements the file held before need writing for a zero
  // fill.
  const int64_t end = fill == T{} ? std::min(n, oldCapacity) : n;
  for (int64_t i = size_; i < end;) {
    const int64_t run = std::min(end - i, elementsPerView_ - i % elementsPerView_);
    std::fill_n((*this)[i], run, fill);
    i += run;
  }
  size_ = n;
}

template class CachedVector<int32_t>;

// ---- CachedRecordStore --------------------------------------------------------------------------

CachedRecordStore::CachedRecordStore() : data_(64), starts_(1) {
  chunkElements_ = static_cast<int32_t>(data_.elementsPerView());
  reserved_ = chunkElements_;
  data_.resize(reserved_, 0);
}

CachedRecordStore::~CachedRecordStore() = default; // starts, then data

void CachedRecordStore::Reserve(int32_t n) {
  if (n < 0 || n >= chunkElements_)
    throw std::runtime_error("CachedRecordStore: a record must be smaller than one chunk");
  if (int64_t{chunkUsed_} + n >= chunkElements_) {
    if (reserved_ + chunkElements_ > INT32_MAX)
      throw std::runtime_error("CachedRecordStore: the store is full");
    data_.resize(reserved_ + chunkElements_, 0);
    reserved_ += chunkElements_;
    total_ += chunkElements_ - chunkUsed_;
    chunkUsed_ = 0;
  }
}

void CachedRecordStore::beginRecord(int32_t n) {
  const int64_t r = starts_.size();
  if (r >= INT32_MAX) throw std::runtime_error("CachedRecordStore: too many records");
  Reserve(n);
  starts_.resize(r + 1, -1);
  *starts_[r] = static_cast<int32_t>(total_);
  recordLeft_ = n;
}

void CachedRecordStore::beginRecordAt(int32_t n, int32_t recordNumber) {
  if (recordNumber < 0 || recordNumber == INT32_MAX)
    throw std::runtime_error("CachedRecordStore: invalid record number");
  Reserve(n);
  if (starts_.size() <= recordNumber) starts_.resize(int64_t{recordNumber} + 1, -1);
  *starts_[recordNumber] = static_cast<int32_t>(total_);
  recordLeft_ = n;
}

void CachedRecordStore::append(const int32_t *words, int32_t n) {
  if (n <= 0) return;
  // Words beyond the size the record was begun with could cross into the next view.
  if (n > recordLeft_) throw std::runtime_error("CachedRecordStore: record longer than begun");
  recordLeft_ -= n;
  std::memcpy(data_[total_], words, static_cast<std::size_t>(n) * sizeof(int32_t));
  total_ += n;
  chunkUsed_ += n;
}

int32_t *CachedRecordStore::record(int32_t recordNumber) {
  if (recordNumber < 0 || recordNumber >= starts_.size()) return nullptr;
  const int32_t start = *starts_[recordNumber];
  return start < 0 ? nullptr : data_[start];
}

void CachedRecordStore::removeRecord(int32_t recordNumber) {
  if (recordNumber >= 0 && recordNumber < starts_.size()) *starts_[recordNumber] = -1;
}
