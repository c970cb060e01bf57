// The registry's local hive as a file store: a folder per key, a file per value.
#include "ereg.h"

#include "guard.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

struct Ereg_Key {
  std::string folder;
  bool write = false;
};

namespace {

// A value file: the magic, the type (32-bit little-endian), then the value's bytes.
constexpr char kMagic[4] = {'T', 'R', 'G', '1'};
constexpr std::size_t kHeaderSize = 8;
constexpr const char *kValueSuffix = ".v";

std::mutex rootMutex;
std::string rootText; // the text ereg_Root hands out; guarded by rootMutex

std::string RootFolder() {
  const char *root = std::getenv("TAVIRON_REGISTRY_ROOT");
  if (root && *root) return root;
  const char *config = std::getenv("XDG_CONFIG_HOME");
  if (config && *config) return std::string(config) + "/taviron/registry";
  const char *home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.config/taviron/registry";
  return "";
}

// A name as a file name: ASCII letters folded to lower case, letters, digits, "_" and "-" kept,
// every other byte written "%XX". Encoded names never hold a ".", so a value file ("name.v") and
// a temporary file (".tmp...") never meet a key's folder.
std::string Encode(const std::string &name) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

// The folders of the key path from the root down; false without a root.
bool KeyFolders(const char *path, std::vector<std::string> &folders) {
  std::string folder = RootFolder();
  if (folder.empty() || !path) return false;
  folders.push_back(folder);
  const std::string text = path;
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t end = text.find('\\', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) {
      folder += "/" + Encode(text.substr(start, end - start));
      folders.push_back(folder);
    }
    start = end + 1;
  }
  return true;
}

bool IsFolder(const std::string &path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Makes the folders above the root and the root itself when they are missing.
bool MakeRoot(const std::string &root) {
  for (std::size_t at = 1; at <= root.size(); ++at) {
    if (at < root.size() && root[at] != '/') continue;
    const std::string prefix = root.substr(0, at);
    if (mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return false;
  }
  return IsFolder(root);
}

std::string ValuePath(const Ereg_Key *key, const char *name) {
  return key->folder + "/" + Encode(name ? name : "") + kValueSuffix;
}

Ereg_Key *NewKey(const std::string &folder, bool write) {
  Ereg_Key *key = new (std::nothrow) Ereg_Key;
  if (!key) return nullptr;
  key->folder = folder;
  key->write = write;
  return key;
}

bool WriteAll(int fd, const char *bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// The stored value's bytes (header included); EREG_OK, EREG_NOT_FOUND or EREG_CORRUPT.
int32_t ReadValueFile(const std::string &path, std::string &bytes) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? EREG_NOT_FOUND : EREG_CORRUPT;
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
      info.st_size > static_cast<off_t>(EREG_MAX_VALUE_SIZE + kHeaderSize)) {
    close(fd);
    return EREG_CORRUPT;
  }
  char chunk[4096];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      return EREG_CORRUPT;
    }
    if (n == 0) break;
    bytes.append(chunk, static_cast<std::size_t>(n));
    if (bytes.size() > EREG_MAX_VALUE_SIZE + kHeaderSize) {
      close(fd);
      return EREG_CORRUPT;
    }
  }
  close(fd);
  if (bytes.size() < kHeaderSize || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0)
    return EREG_CORRUPT;
  return EREG_OK;
}

} // namespace

extern "C" {

const char *ereg_Root(void) try {
  std::lock_guard<std::mutex> lock(rootMutex);
  rootText = RootFolder();
  return rootText.empty() ? nullptr : rootText.c_str();
} TAVIRON_GUARD_QUIET(nullptr)

int32_t ereg_OpenKey(const char *path, int32_t write, Ereg_Key **key) try {
  if (!key) return EREG_BAD_VALUE;
  *key = nullptr;
  std::vector<std::string> folders;
  if (!KeyFolders(path, folders)) return EREG_NOT_FOUND;
  const std::string &folder = folders.back();
  if (!IsFolder(folder)) return EREG_NOT_FOUND;
  if (access(folder.c_str(), write ? (R_OK | W_OK | X_OK) : (R_OK | X_OK)) != 0) return EREG_ACCESS;
  *key = NewKey(folder, write != 0);
  return *key ? EREG_OK : EREG_ACCESS;
} TAVIRON_GUARD_QUIET(EREG_ACCESS)

int32_t ereg_CreateKey(const char *path, Ereg_Key **key) try {
  if (!key) return EREG_BAD_VALUE;
  *key = nullptr;
  std::vector<std::string> folders;
  if (!KeyFolders(path, folders)) return EREG_NOT_FOUND;
  if (!MakeRoot(folders.front())) return EREG_ACCESS;
  for (std::size_t i = 1; i < folders.size(); ++i)
    if (mkdir(folders[i].c_str(), 0777) != 0 && errno != EEXIST) return EREG_ACCESS;
  return ereg_OpenKey(path, 1, key);
} TAVIRON_GUARD_QUIET(EREG_ACCESS)

void ereg_CloseKey(Ereg_Key *key) try { delete key; } TAVIRON_GUARD_QUIET_VOID

int32_t ereg_QueryValue(Ereg_Key *key, const char *name, int32_t *type, void *data,
                        uint32_t *size) try {
  if (!key || (data && !size)) return EREG_BAD_VALUE;
  std::string bytes;
  const int32_t read = ReadValueFile(ValuePath(key, name), bytes);
  if (read != EREG_OK) return read;
  const uint32_t valueSize = static_cast<uint32_t>(bytes.size() - kHeaderSize);
  const bool fits = !size || valueSize <= *size;
  if (data && !fits) {
    *size = valueSize;
    return EREG_MORE_DATA;
  }
  if (type) {
    const auto *b = reinterpret_cast<const unsigned char *>(bytes.data()) + 4;
    *type = static_cast<int32_t>(static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                                 static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24);
  }
  if (data && valueSize) std::memcpy(data, bytes.data() + kHeaderSize, valueSize);
  if (size) *size = valueSize;
  return EREG_OK;
} TAVIRON_GUARD_QUIET(EREG_CORRUPT)

int32_t ereg_SetValue(Ereg_Key *key, const char *name, int32_t type, const void *data,
                      uint32_t size) try {
  if (!key || size > EREG_MAX_VALUE_SIZE || (size && !data)) return EREG_BAD_VALUE;
  if (!key->write) return EREG_ACCESS;
  static std::atomic<uint32_t> serial{0};
  const std::string target = ValuePath(key, name);
  const std::string temporary = key->folder + "/.tmp" + std::to_string(getpid()) + "-" + std::to_string(serial++);
  std::string bytes(kMagic, sizeof kMagic);
  for (int i = 0; i < 4; ++i) bytes += static_cast<char>(static_cast<uint32_t>(type) >> (8 * i));
  if (size) bytes.append(static_cast<const char *>(data), size);
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return EREG_ACCESS;
  const bool written = WriteAll(fd, bytes.data(), bytes.size()) && fsync(fd) == 0;
  if (close(fd) != 0 || !written || rename(temporary.c_str(), target.c_str()) != 0) {
    unlink(temporary.c_str());
    return EREG_ACCESS;
  }
  return EREG_OK;
} TAVIRON_GUARD_QUIET(EREG_ACCESS)

int32_t ereg_DeleteValue(Ereg_Key *key, const char *name) try {
  if (!key) return EREG_BAD_VALUE;
  if (!key->write) return EREG_ACCESS;
  if (unlink(ValuePath(key, name).c_str()) == 0) return EREG_OK;
  return errno == ENOENT ? EREG_NOT_FOUND : EREG_ACCESS;
} TAVIRON_GUARD_QUIET(EREG_ACCESS)

} // extern "C"
