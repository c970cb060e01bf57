// Temporary files reached through mapped views.
#include "efmp.h"

#include "guard.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint32_t kGranularity = 65536;

int Descriptor(Efmp_Handle handle) {
  return handle > 0 && handle <= INT32_MAX ? static_cast<int>(handle) : -1;
}

// The address range of each open mapping, by its descriptor.
struct Mapped {
  uint8_t *base;
  std::size_t bytes;
};
std::mutex mappingsMutex;
std::unordered_map<int, Mapped> &Mappings() {
  static auto *mappings = new std::unordered_map<int, Mapped>;
  return *mappings;
}

} // namespace

extern "C" {

uint32_t efmp_GetTempPath(uint32_t size, char *buffer) try {
  std::string path = "/tmp";
  for (const char *variable : {"TMPDIR", "TMP", "TEMP"}) {
    const char *value = std::getenv(variable);
    if (value && *value) {
      path = value;
      break;
    }
  }
  if (path.back() != '/') path += '/';
  const auto length = static_cast<uint32_t>(path.size());
  if (!buffer || size <= length) return length + 1;
  std::memcpy(buffer, path.c_str(), length + 1);
  return length;
} TAVIRON_GUARD_QUIET(0)

uint32_t efmp_GetAllocationGranularity(void) try { return kGranularity; } TAVIRON_GUARD_QUIET(0)

int32_t efmp_CreateDirectory(const char *path) try {
  if (!path || !*path) return 0;
  if (mkdir(path, 0700) == 0) return 1;
  struct stat st;
  return errno == EEXIST && stat(path, &st) == 0 && S_ISDIR(st.st_mode) ? 1 : 0;
} TAVIRON_GUARD_QUIET(0)

Efmp_Handle efmp_CreateTemporaryFile(const char *folder, const char *prefix, char *name,
                                     uint32_t size) try {
  if (!folder) return 0;
  std::string pattern = std::string(folder) + (prefix ? prefix : "") + "XXXXXX";
  int fd = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return 0;
  unlink(pattern.c_str());
  if (fd < 3) { // handles start at 3, so that 0 stays "none"
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    if (moved < 0) return 0;
    fd = moved;
  }
  if (name && size > 0) {
    const std::size_t n = std::min<std::size_t>(pattern.size(), size - 1);
    std::memcpy(name, pattern.data(), n);
    name[n] = '\0';
  }
  return fd;
} TAVIRON_GUARD_QUIET(0)

Efmp_Handle efmp_CreateFileMapping(Efmp_Handle file, uint64_t bytes) try {
  const int fd = Descriptor(file);
  if (fd < 0 || bytes == 0 || bytes > static_cast<uint64_t>(INT64_MAX) || bytes > SIZE_MAX) return 0;
  struct stat st;
  if (fstat(fd, &st) != 0) return 0;
  if (static_cast<uint64_t>(st.st_size) < bytes) {
    const int result = posix_fallocate(fd, 0, static_cast<off_t>(bytes));
    if (result == EOPNOTSUPP || result == EINVAL) {
      if (ftruncate(fd, static_cast<off_t>(bytes)) != 0) return 0;
    } else if (result != 0) {
      return 0;
    }
  }
  void *base = mmap(nullptr, static_cast<std::size_t>(bytes), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (base == MAP_FAILED) return 0;
  const int mapping = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  if (mapping < 0) {
    munmap(base, static_cast<std::size_t>(bytes));
    return 0;
  }
  std::lock_guard<std::mutex> lock(mappingsMutex);
  Mappings()[mapping] = {static_cast<uint8_t *>(base), static_cast<std::size_t>(bytes)};
  return mapping;
} TAVIRON_GUARD_QUIET(0)

void *efmp_MapViewOfFile(Efmp_Handle mapping, uint64_t offset, size_t bytes) try {
  const int fd = Descriptor(mapping);
  if (fd < 0 || bytes == 0 || offset % kGranularity != 0) return nullptr;
  std::lock_guard<std::mutex> lock(mappingsMutex);
  const auto it = Mappings().find(fd);
  if (it == Mappings().end() || offset > it->second.bytes || bytes > it->second.bytes - offset)
    return nullptr;
  return it->second.base + offset;
} TAVIRON_GUARD_QUIET(nullptr)

int32_t efmp_UnmapViewOfFile(void *view, size_t bytes) try { return view && bytes ? 1 : 0; } TAVIRON_GUARD_QUIET(0)

int32_t efmp_CloseHandle(Efmp_Handle handle) try {
  const int fd = Descriptor(handle);
  if (fd < 0) return 0;
  {
    std::lock_guard<std::mutex> lock(mappingsMutex);
    const auto it = Mappings().find(fd);
    if (it != Mappings().end()) {
      munmap(it->second.base, it->second.bytes);
      Mappings().erase(it);
    }
  }
  return close(fd) == 0 ? 1 : 0;
} TAVIRON_GUARD_QUIET(0)

} // extern "C"
