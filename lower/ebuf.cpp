// Byte buffers with a read and a write position.
#include "ebuf.h"

#include <cstddef>
#include <cstring>
#include <type_traits>

#include "emsc.h"
#include "guard.h"

namespace {

// The record handed out is the first member of a holder that remembers the real storage, so a
// record whose fields were damaged is caught before any byte moves.
struct Holder {
  Ebuf_Buffer buffer;
  uint8_t *storage;
  int32_t allocated;
};
static_assert(std::is_standard_layout_v<Holder>);

const Holder *HolderOf(const Ebuf_Buffer *buffer) { return reinterpret_cast<const Holder *>(buffer); }
Holder *HolderOf(Ebuf_Buffer *buffer) { return reinterpret_cast<Holder *>(buffer); }

bool Valid(const Ebuf_Buffer *buffer) {
  return buffer && buffer->data && buffer->data == HolderOf(buffer)->storage && buffer->size >= 0 &&
         buffer->size <= HolderOf(buffer)->allocated && buffer->readPosition >= 0 &&
         buffer->readPosition <= buffer->writePosition && buffer->writePosition <= buffer->size;
}

int32_t Unread(const Ebuf_Buffer *buffer) { return buffer->writePosition - buffer->readPosition; }
int32_t Room(const Ebuf_Buffer *buffer) { return buffer->size - buffer->writePosition; }

// Storage of at least one byte, so that a buffer of size 0 still has valid storage.
std::size_t StorageBytes(int32_t size) { return size > 0 ? static_cast<std::size_t>(size) : 1; }

} // namespace

extern "C" {

Ebuf_Buffer *NewBuffer(int32_t size) try {
  if (size < 0) return nullptr;
  auto *holder = static_cast<Holder *>(emsc_HeapMalloc(sizeof(Holder)));
  if (!holder) return nullptr;
  holder->storage = static_cast<uint8_t *>(emsc_HeapMalloc(StorageBytes(size)));
  if (!holder->storage) {
    emsc_HeapFree(holder);
    return nullptr;
  }
  holder->allocated = size;
  holder->buffer.data = holder->storage;
  holder->buffer.size = size;
  return &holder->buffer;
} TAVIRON_GUARD_QUIET(nullptr)

void FreeBuffer(Ebuf_Buffer *buffer) try {
  if (!buffer) return;
  Holder *holder = HolderOf(buffer);
  emsc_HeapFree(holder->storage);
  emsc_HeapFree(holder);
} TAVIRON_GUARD_QUIET_VOID

int32_t ChkBuffer(const Ebuf_Buffer *buffer) try { return Valid(buffer) ? 0 : -1; } TAVIRON_GUARD_QUIET(-1)

int32_t CopyToBuffer(Ebuf_Buffer *buffer, const void *source, int32_t n) try {
  if (!Valid(buffer) || n < 0 || n > Room(buffer)) return -1;
  if (source && n > 0) std::memmove(buffer->data + buffer->writePosition, source, static_cast<std::size_t>(n));
  buffer->writePosition += n;
  return 0;
} TAVIRON_GUARD_QUIET(-1)

int32_t CopyFromBuffer(Ebuf_Buffer *buffer, void *destination, int32_t n) try {
  if (!Valid(buffer) || n < 0 || n > Unread(buffer)) return -1;
  if (destination && n > 0)
    std::memmove(destination, buffer->data + buffer->readPosition, static_cast<std::size_t>(n));
  buffer->readPosition += n;
  return 0;
} TAVIRON_GUARD_QUIET(-1)

int32_t TransferBuffer(Ebuf_Buffer *to, Ebuf_Buffer *from, int32_t n) try {
  if (to == from || !Valid(to) || !Valid(from) || n < 0 || n > Unread(from) || n > Room(to)) return -1;
  if (n > 0)
    std::memcpy(to->data + to->writePosition, from->data + from->readPosition, static_cast<std::size_t>(n));
  to->writePosition += n;
  from->readPosition += n;
  return 0;
} TAVIRON_GUARD_QUIET(-1)

int32_t TruncateBuffer(Ebuf_Buffer *buffer, int32_t n) try {
  if (!Valid(buffer) || n < 0) return -1;
  if (n < Unread(buffer)) buffer->writePosition = buffer->readPosition + n;
  return 0;
} TAVIRON_GUARD_QUIET(-1)

int32_t ShrinkBuffer(Ebuf_Buffer *buffer) try {
  if (!Valid(buffer)) return -1;
  const int32_t unread = Unread(buffer);
  if (buffer->readPosition > 0 && unread > 0)
    std::memmove(buffer->data, buffer->data + buffer->readPosition, static_cast<std::size_t>(unread));
  buffer->readPosition = 0;
  buffer->writePosition = unread;
  if (unread < buffer->size) {
    if (auto *data = static_cast<uint8_t *>(emsc_HeapRealloc(buffer->data, StorageBytes(unread)))) {
      Holder *holder = HolderOf(buffer);
      holder->storage = buffer->data = data;
      holder->allocated = buffer->size = unread;
    }
  }
  return 0;
} TAVIRON_GUARD_QUIET(-1)

} // extern "C"
