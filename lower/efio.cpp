// Files and printing, file-system services, search lists, temporary names, file-name
// verification, descriptor sets and the file layer's hooks.
#include "efio.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <signal.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "emsc.h"
#include "internal.h"

namespace lower = taviron::lower;

struct Efio_Listing {
  std::vector<std::string> names;
  std::size_t next = 0;
};

struct Efio_FdSet {
  fd_set set;
};

namespace {

const char *ErrnoText(int error) { return std::strerror(error); }

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// "directory/name" with exactly one separator between them; an empty directory gives name.
std::string JoinPath(const std::string &directory, const std::string &name) {
  if (directory.empty()) return name;
  if (IsSeparator(directory.back())) return directory + name;
  return directory + "/" + name;
}

// The last component of a path (after the last "/" or "\").
std::string BaseName(const std::string &path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool PathExists(const std::string &path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

// The path of name on the list: an absolute name as it stands, else "directory/name" of the first
// directory that holds it; "" when there is none.
std::string FindOnList(const Efio_SearchList &list, const char *name) {
  if (name[0] == '/') return PathExists(name) ? name : "";
  for (int32_t i = 0; i < list.count; ++i) {
    if (!list.directories[i]) continue;
    std::string path = JoinPath(list.directories[i], name);
    if (PathExists(path)) return path;
  }
  return {};
}

// A file pattern: the shell wild cards, and ".dll" also standing for ".so".
bool MatchesPattern(const std::string &pattern, const char *name) {
  if (::fnmatch(pattern.c_str(), name, 0) == 0) return true;
  constexpr std::size_t kDllLength = 4;
  if (pattern.size() >= kDllLength &&
      pattern.compare(pattern.size() - kDllLength, kDllLength, ".dll") == 0) {
    const std::string shared = pattern.substr(0, pattern.size() - kDllLength) + ".so";
    return ::fnmatch(shared.c_str(), name, 0) == 0;
  }
  return false;
}

// The sorted names of a directory that match the pattern. False with errno set when the
// directory cannot be opened.
bool ListDirectory(const std::string &directory, const std::string &pattern,
                   std::vector<std::string> &names) {
  DIR *dir = ::opendir(directory.c_str());
  if (!dir) return false;
  while (const dirent *entry = ::readdir(dir))
    if (MatchesPattern(pattern, entry->d_name)) names.emplace_back(entry->d_name);
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return true;
}

bool ValidMode(const char *mode) {
  if (!mode || (mode[0] != 'r' && mode[0] != 'w' && mode[0] != 'a')) return false;
  bool plus = false, binary = false;
  for (const char *p = mode + 1; *p; ++p) {
    bool &seen = *p == '+' ? plus : binary;
    if ((*p != '+' && *p != 'b') || seen) return false;
    seen = true;
  }
  return true;
}

// The print-sink stream of stdout and stderr; false for any other file.
bool StandardStream(FILE *file, lower::Stream &stream) {
  if (file != stdout && file != stderr) return false;
  stream = file == stdout ? lower::Stream::Out : lower::Stream::Err;
  return true;
}

int32_t PrintTo(FILE *file, const char *format, va_list ap) {
  if (!file || !format) return -1;
  lower::Stream stream;
  if (StandardStream(file, stream)) {
    const std::string text = lower::VFormat(format, ap);
    lower::Write(stream, text);
    return static_cast<int32_t>(text.size());
  }
  return std::vfprintf(file, format, ap);
}

// ---- Temporary directory ------------------------------------------------------------------

std::mutex tmpMutex;
std::string tmpDirectory;                // "" while the default is in effect
std::set<std::string> tmpDirectoryTexts; // texts handed out by efio_DirectorySetTemporary
std::atomic<uint32_t> tmpCounter{0};

std::string DefaultTemporaryDirectory() {
  for (const char *variable : {"TMPDIR", "TMP", "TEMP"}) {
    const char *value = std::getenv(variable);
    if (value && *value) return value;
  }
  return "/tmp";
}

std::string TemporaryDirectory() {
  std::lock_guard<std::mutex> lock(tmpMutex);
  return tmpDirectory.empty() ? DefaultTemporaryDirectory() : tmpDirectory;
}

// The mark of the temporary names made on this machine: ".taviron-" and eight hex digits of the
// machine's name (the names are unique to a machine only through their process ids).
const std::string &TemporaryMark() {
  static const std::string mark = [] {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
    uint32_t hash = 2166136261u; // FNV-1a
    for (const char *c = host; *c; ++c) hash = (hash ^ static_cast<uint8_t>(*c)) * 16777619u;
    return lower::Format(".taviron-%08x-", hash);
  }();
  return mark;
}

// marked: "<prefix><mark><pid>-<counter>", which RemoveStaleTemporaries knows; else
// "<prefix><pid>_<counter>".
char *MakeTempName(const char *directory, const char *prefix, Eerr_ErrorReport **err,
                   const char *reporter, bool marked) {
  const std::string dir = directory && *directory ? directory : TemporaryDirectory();
  const std::string stem = std::string(prefix ? prefix : "") + (marked ? TemporaryMark() : "") +
                           std::to_string(::getpid()) + (marked ? "-" : "_");
  constexpr int kAttempts = 100000;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const std::string name = JoinPath(dir, stem + std::to_string(tmpCounter.fetch_add(1)));
    struct stat info;
    if (::lstat(name.c_str(), &info) == 0) continue;
    if (errno != ENOENT) {
      lower::Report(err, reporter, 1, "Unable to make a temporary name in %s: %s", dir.c_str(),
                    ErrnoText(errno));
      return nullptr;
    }
    char *copy = lower::HeapCopy(name.data(), name.size());
    if (!copy) lower::Report(err, reporter, 2, "Error allocating temporary name");
    return copy;
  }
  lower::Report(err, reporter, 3, "No free temporary name in %s", dir.c_str());
  return nullptr;
}

// The process id in a marked temporary name made on this machine (what follows the counter, a
// journal's "-journal" say, is allowed); 0 for any other name.
pid_t OwnerOfTemporary(const char *name) {
  const std::string &mark = TemporaryMark();
  const char *at = nullptr;
  for (const char *p = std::strstr(name, mark.c_str()); p; p = std::strstr(p + 1, mark.c_str())) at = p;
  if (!at) return 0;
  const char *p = at + mark.size();
  int64_t pid = 0;
  int digits = 0;
  for (; *p >= '0' && *p <= '9' && digits < 11; ++p, ++digits) pid = pid * 10 + (*p - '0');
  if (digits == 0 || pid <= 0 || pid > INT32_MAX || *p != '-' || !(p[1] >= '0' && p[1] <= '9')) return 0;
  return static_cast<pid_t>(pid);
}

// ---- File-name verification -------------------------------------------------------------

std::mutex verifyMutex;
void *installedUserData = nullptr;
Efio_LocateFunction installedCallback = nullptr;
std::vector<std::string> defaultPaths;
std::map<std::string, std::string> runCorrections;
void *runContext = nullptr;
// The path the locate callback verified during the correction running on this thread.
thread_local std::string locatedPath;

// ---- Hooks ----------------------------------------------------------------------------------

std::atomic<Efio_LogFunction> logFunction{nullptr};
std::atomic<Efio_QueryFunction> queryFunction{nullptr};

// ---- Tag files -------------------------------------------------------------------------------

constexpr std::size_t kMaxTagFile = 1u << 20;

std::string Trim(const std::string &text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

} // namespace

namespace taviron::lower {

void RemoveStaleTemporaries(const std::string &placed) {
  const std::size_t slash = placed.find_last_of('/');
  const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : placed.substr(0, slash);
  const int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return;
  DIR *listing = ::fdopendir(dirFd);
  if (!listing) {
    ::close(dirFd);
    return;
  }
  const pid_t self = ::getpid();
  const uid_t user = ::geteuid();
  std::vector<std::string> stale;
  while (const dirent *entry = ::readdir(listing)) {
    const pid_t owner = OwnerOfTemporary(entry->d_name);
    if (owner == 0 || owner == self) continue;
    struct stat info;
    if (::fstatat(dirFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode) ||
        info.st_uid != user)
      continue;
    // A process of another user answers EPERM: it is alive.
    if (::kill(owner, 0) == 0 || errno != ESRCH) continue;
    stale.emplace_back(entry->d_name);
  }
  for (const std::string &name : stale) ::unlinkat(dirFd, name.c_str(), 0);
  ::closedir(listing);
}

} // namespace taviron::lower

extern "C" {

// ---- Files and streams --------------------------------------------------------------------

FILE *efio_Open(const char *path, const char *mode, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!path || !*path) {
    lower::Report(err, "efio_Open", 1, "Invalid file name");
    return nullptr;
  }
  if (!ValidMode(mode)) {
    lower::Report(err, "efio_Open", 2, "Invalid mode \"%s\" for %s", mode ? mode : "(null)", path);
    return nullptr;
  }
  FILE *file = std::fopen(path, mode);
  if (!file)
    lower::Report(err, "efio_Open", 3, "Unable to open %s with mode \"%s\": %s", path, mode,
                  ErrnoText(errno));
  return file;
} TAVIRON_GUARD(err, nullptr)

int32_t efio_Close(FILE *file, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!file) {
    lower::Report(err, "efio_Close", 1, "Invalid file");
    return -1;
  }
  if (std::fclose(file) != 0) {
    lower::Report(err, "efio_Close", 2, "Error closing file: %s", ErrnoText(errno));
    return -1;
  }
  return 0;
} TAVIRON_GUARD(err, -1)

int32_t efio_Create(const char *path, int32_t mode, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!path || !*path) {
    lower::Report(err, "efio_Create", 1, "Invalid file name");
    return -1;
  }
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC, static_cast<mode_t>(mode) & 07777);
  if (fd < 0) {
    lower::Report(err, "efio_Create", 2, "Unable to create %s: %s", path, ErrnoText(errno));
    return -1;
  }
  ::close(fd);
  return 0;
} TAVIRON_GUARD(err, -1)

int32_t efio_ReadSeq(FILE *file, void *buffer, int32_t count, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!file || (!buffer && count > 0) || count < 0) {
    lower::Report(err, "efio_ReadSeq", 1, "Invalid arguments");
    return -1;
  }
  const std::size_t n = std::fread(buffer, 1, static_cast<std::size_t>(count), file);
  if (n < static_cast<std::size_t>(count) && std::ferror(file)) {
    lower::Report(err, "efio_ReadSeq", 2, "Error reading %d bytes: %s", count, ErrnoText(errno));
    std::clearerr(file);
    return -1;
  }
  return static_cast<int32_t>(n);
} TAVIRON_GUARD(err, -1)

int32_t efio_WriteSeq(FILE *file, const void *buffer, int32_t count, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!file || (!buffer && count > 0) || count < 0) {
    lower::Report(err, "efio_WriteSeq", 1, "Invalid arguments");
    return -1;
  }
  const std::size_t n = std::fwrite(buffer, 1, static_cast<std::size_t>(count), file);
  if (n < static_cast<std::size_t>(count)) {
    lower::Report(err, "efio_WriteSeq", 2, "Error writing %d bytes: %s", count, ErrnoText(errno));
    std::clearerr(file);
    return -1;
  }
  return static_cast<int32_t>(n);
} TAVIRON_GUARD(err, -1)

int32_t efio_ReadDirect(FILE *file, int64_t position, void *buffer, int32_t count,
                        Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (efio_Seek(file, position, 0, err) < 0) {
    lower::Report(err, "efio_ReadDirect", 1, "Error returned from efio_Seek");
    return -1;
  }
  const int32_t n = efio_ReadSeq(file, buffer, count, err);
  if (n < 0) lower::Report(err, "efio_ReadDirect", 2, "Error returned from efio_ReadSeq");
  return n;
} TAVIRON_GUARD(err, -1)

int32_t efio_WriteDirect(FILE *file, int64_t position, const void *buffer, int32_t count,
                         Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (efio_Seek(file, position, 0, err) < 0) {
    lower::Report(err, "efio_WriteDirect", 1, "Error returned from efio_Seek");
    return -1;
  }
  const int32_t n = efio_WriteSeq(file, buffer, count, err);
  if (n < 0) lower::Report(err, "efio_WriteDirect", 2, "Error returned from efio_WriteSeq");
  return n;
} TAVIRON_GUARD(err, -1)

int32_t efio_FileWriteSequential(FILE *file, const void *buffer, int32_t count,
                                 Eerr_ErrorReport **err) try {
  lower::Clear(err);
  const int32_t n = efio_WriteSeq(file, buffer, count, err);
  if (n < 0) lower::Report(err, "efio_FileWriteSequential", 1, "Error returned from efio_WriteSeq");
  return n;
} TAVIRON_GUARD(err, -1)

int64_t efio_Seek(FILE *file, int64_t offset, int32_t whence, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!file || whence < 0 || whence > 2) {
    lower::Report(err, "efio_Seek", 1, "Invalid arguments");
    return -1;
  }
  const int origin = whence == 0 ? SEEK_SET : whence == 1 ? SEEK_CUR : SEEK_END;
  if (::fseeko(file, static_cast<off_t>(offset), origin) != 0) {
    lower::Report(err, "efio_Seek", 2, "Error seeking to %lld: %s", static_cast<long long>(offset),
                  ErrnoText(errno));
    return -1;
  }
  return static_cast<int64_t>(::ftello(file));
} TAVIRON_GUARD(err, -1)

int64_t efio_Tell(FILE *file) try { return file ? static_cast<int64_t>(::ftello(file)) : -1; } TAVIRON_GUARD_QUIET(-1)

int32_t efio_Flush(FILE *file, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!file) {
    lower::Report(err, "efio_Flush", 1, "Invalid file");
    return -1;
  }
  if (std::fflush(file) != 0) {
    lower::Report(err, "efio_Flush", 2, "Error flushing file: %s", ErrnoText(errno));
    return -1;
  }
  return 0;
} TAVIRON_GUARD(err, -1)

char *efio_Fgets(char *buffer, int32_t size, FILE *file, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!buffer || size <= 0 || !file) {
    lower::Report(err, "efio_Fgets", 1, "Invalid arguments");
    return nullptr;
  }
  char *line = std::fgets(buffer, size, file);
  if (!line && std::ferror(file)) {
    lower::Report(err, "efio_Fgets", 2, "Error reading a line: %s", ErrnoText(errno));
    std::clearerr(file);
  }
  return line;
} TAVIRON_GUARD(err, nullptr)

int32_t efio_Fgetc(FILE *file) try { return file ? std::fgetc(file) : EOF; } TAVIRON_GUARD_QUIET(EOF)

int32_t efio_Feof(FILE *file) try { return file ? std::feof(file) : 1; } TAVIRON_GUARD_QUIET(1)

int32_t efio_Fscanf(FILE *file, const char *format, ...) try {
  if (!file || !format) return EOF;
  va_list ap;
  va_start(ap, format);
  const int n = std::vfscanf(file, format, ap);
  va_end(ap);
  return n;
} TAVIRON_GUARD_QUIET(EOF)

int32_t efio_Sscanf(const char *text, const char *format, ...) try {
  if (!text || !format) return EOF;
  va_list ap;
  va_start(ap, format);
  const int n = std::vsscanf(text, format, ap);
  va_end(ap);
  return n;
} TAVIRON_GUARD_QUIET(EOF)

int32_t efio_Printf(const char *format, ...) try {
  va_list ap;
  va_start(ap, format);
  const int32_t n = PrintTo(stdout, format, ap);
  va_end(ap);
  return n;
} TAVIRON_GUARD_QUIET(-1)

int32_t efio_Fprintf(FILE *stream, const char *format, ...) try {
  va_list ap;
  va_start(ap, format);
  const int32_t n = PrintTo(stream, format, ap);
  va_end(ap);
  return n;
} TAVIRON_GUARD_QUIET(-1)

int32_t efio_Sprintf(char *buffer, const char *format, ...) try {
  if (!buffer || !format) return -1;
  va_list ap;
  va_start(ap, format);
  const int n = std::vsprintf(buffer, format, ap);
  va_end(ap);
  return n;
} TAVIRON_GUARD_QUIET(-1)

int32_t efio_IsFileAscii(FILE *file) try {
  if (!file) return 0;
  const off_t position = ::ftello(file);
  if (position < 0 || ::fseeko(file, 0, SEEK_SET) != 0) return 0;
  unsigned char buffer[4096];
  const std::size_t n = std::fread(buffer, 1, sizeof buffer, file);
  const bool failed = std::ferror(file) != 0;
  ::fseeko(file, position, SEEK_SET);
  if (failed) {
    std::clearerr(file);
    return 0;
  }
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char c = buffer[i];
    if ((c < 0x20 && !(c >= '\t' && c <= '\r') && c != 0x1A) || c == 0x7F) return 0;
  }
  return 1;
} TAVIRON_GUARD_QUIET(0)

char *efio_GetTaggedData(const char *tagFile, const char *key, int32_t, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!tagFile || !key || !*key) {
    lower::Report(err, "efio_GetTaggedData", 1, "Invalid tag file or key");
    return nullptr;
  }
  FILE *file = std::fopen(tagFile, "rb");
  if (!file) {
    lower::Report(err, "efio_GetTaggedData", 2, "Unable to open tag file %s: %s", tagFile,
                  ErrnoText(errno));
    return nullptr;
  }
  // Read in pieces: tag files are small, and a buffer of the largest size for each would cost
  // more than the reading.
  std::string data;
  char piece[4096];
  std::size_t n;
  while (data.size() <= kMaxTagFile && (n = std::fread(piece, 1, sizeof piece, file)) > 0) data.append(piece, n);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    lower::Report(err, "efio_GetTaggedData", 3, "Error reading tag file %s", tagFile);
    return nullptr;
  }
  if (data.size() > kMaxTagFile) {
    lower::Report(err, "efio_GetTaggedData", 4, "Tag file %s is too large", tagFile);
    return nullptr;
  }
  if (data.find('\0') != std::string::npos) {
    lower::Report(err, "efio_GetTaggedData", 5, "Tag file %s is not a text file", tagFile);
    return nullptr;
  }
  std::string value;
  bool found = false;
  int32_t lineNumber = 0;
  for (std::size_t start = 0; start < data.size();) {
    std::size_t end = data.find('\n', start);
    if (end == std::string::npos) end = data.size();
    const std::string line = Trim(data.substr(start, end - start));
    start = end + 1;
    ++lineNumber;
    if (line.empty() || line[0] == '#') continue;
    const std::size_t colon = line.find(':');
    const std::string name = colon == std::string::npos ? "" : Trim(line.substr(0, colon));
    if (name.empty()) {
      lower::Report(err, "efio_GetTaggedData", 6,
                    "Line %d of tag file %s is not a \"key: value\" line", lineNumber, tagFile);
      return nullptr;
    }
    if (!found && estr_Eqic(name.c_str(), key)) {
      value = Trim(line.substr(colon + 1));
      found = true;
    }
  }
  if (!found) return nullptr;
  char *copy = lower::HeapCopy(value.data(), value.size());
  if (!copy) lower::Report(err, "efio_GetTaggedData", 7, "Error allocating tag value");
  return copy;
} TAVIRON_GUARD(err, nullptr)

// ---- File system ------------------------------------------------------------------------

int32_t efio_FileExists(const char *path, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!path || !*path) {
    lower::Report(err, "efio_FileExists", 1, "Invalid file name");
    return 0;
  }
  struct stat info;
  if (::stat(path, &info) == 0) return 1;
  if (errno != ENOENT && errno != ENOTDIR)
    lower::Report(err, "efio_FileExists", 2, "Unable to examine %s: %s", path, ErrnoText(errno));
  return 0;
} TAVIRON_GUARD(err, 0)

int32_t efio_Access(const char *path, int32_t mode, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!path || !*path || mode < 0 || mode > 7) {
    lower::Report(err, "efio_Access", 1, "Invalid arguments");
    return -1;
  }
  const int how = mode == 0 ? F_OK
                            : ((mode & 4) ? R_OK : 0) | ((mode & 2) ? W_OK : 0) |
                                  ((mode & 1) ? X_OK : 0);
  if (::access(path, how) != 0) {
    lower::Report(err, "efio_Access", 2, "Access %d to %s is not granted: %s", mode, path,
                  ErrnoText(errno));
    return -1;
  }
  return 0;
} TAVIRON_GUARD(err, -1)

int32_t efio_IsDirectory(const char *path, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!path || !*path) {
    lower::Report(err, "efio_IsDirectory", 1, "Invalid file name");
    return 0;
  }
  struct stat info;
  if (::stat(path, &info) != 0) {
    lower::Report(err, "efio_IsDirectory", 2, "Unable to examine %s: %s", path, ErrnoText(errno));
    return 0;
  }
  return S_ISDIR(info.st_mode) ? 1 : 0;
} TAVIRON_GUARD(err, 0)

int32_t efio_MakeDir(const char *path, int32_t mode, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!path || !*path) {
    lower::Report(err, "efio_MakeDir", 1, "Invalid directory name");
    return EINVAL;
  }
  if (::mkdir(path, static_cast<mode_t>(mode) & 07777) == 0) return 0;
  const int error = errno;
  struct stat info;
  if (error == EEXIST && ::stat(path, &info) == 0 && S_ISDIR(info.st_mode)) return EEXIST;
  lower::Report(err, "efio_MakeDir", 2, "Unable to create directory %s: %s", path,
                ErrnoText(error));
  return error;
} TAVIRON_GUARD(err, EINVAL)

int32_t efio_MaybeMakeDir(const char *path, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  struct stat info;
  if (path && *path && ::stat(path, &info) == 0 && S_ISDIR(info.st_mode)) return 0;
  if (efio_MakeDir(path, 0777, err) != 0) {
    lower::Report(err, "efio_MaybeMakeDir", 1, "Error returned from efio_MakeDir");
    return -1;
  }
  return 0;
} TAVIRON_GUARD(err, -1)

int32_t efio_FileUnlink(const char *path, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!path || !*path) {
    lower::Report(err, "efio_FileUnlink", 1, "Invalid file name");
    return -1;
  }
  if (::unlink(path) != 0) {
    lower::Report(err, "efio_FileUnlink", 2, "Unable to delete %s: %s", path, ErrnoText(errno));
    return -1;
  }
  return 0;
} TAVIRON_GUARD(err, -1)

int32_t efio_FileNameChange(const char *oldPath, const char *newPath, int32_t,
                            Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!oldPath || !*oldPath || !newPath || !*newPath) {
    lower::Report(err, "efio_FileNameChange", 1, "Invalid file name");
    return -1;
  }
  if (std::rename(oldPath, newPath) != 0) {
    lower::Report(err, "efio_FileNameChange", 2, "Unable to rename %s to %s: %s", oldPath, newPath,
                  ErrnoText(errno));
    return -1;
  }
  lower::RemoveStaleTemporaries(newPath); // a file put in place: what killed writers left beside it goes
  return 0;
} TAVIRON_GUARD(err, -1)

int64_t efio_FileSizeGet(const char *path, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  int64_t size = -1;
  if (efio_Stat(path, nullptr, nullptr, nullptr, &size, nullptr, err) != 0) {
    lower::Report(err, "efio_FileSizeGet", 1, "Error returned from efio_Stat");
    return -1;
  }
  return size;
} TAVIRON_GUARD(err, -1)

int32_t efio_Stat(const char *path, int32_t *mode, int32_t *userId, int32_t *groupId,
                  int64_t *size, int64_t *modificationTime, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!path || !*path) {
    lower::Report(err, "efio_Stat", 1, "Invalid file name");
    return -1;
  }
  struct stat info;
  if (::stat(path, &info) != 0) {
    lower::Report(err, "efio_Stat", 2, "Unable to examine %s: %s", path, ErrnoText(errno));
    return -1;
  }
  if (mode) *mode = static_cast<int32_t>(info.st_mode);
  if (userId) *userId = static_cast<int32_t>(info.st_uid);
  if (groupId) *groupId = static_cast<int32_t>(info.st_gid);
  if (size) *size = static_cast<int64_t>(info.st_size);
  if (modificationTime) *modificationTime = static_cast<int64_t>(info.st_mtime);
  return 0;
} TAVIRON_GUARD(err, -1)

int32_t efio_Chmod(const char *path, int32_t mode, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!path || !*path) {
    lower::Report(err, "efio_Chmod", 1, "Invalid file name");
    return -1;
  }
  if (::chmod(path, static_cast<mode_t>(mode) & 07777) != 0) {
    lower::Report(err, "efio_Chmod", 2, "Unable to change the mode of %s: %s", path,
                  ErrnoText(errno));
    return -1;
  }
  return 0;
} TAVIRON_GUARD(err, -1)

int32_t efio_SetModTime(const char *path, int64_t accessTime, int64_t modificationTime,
                        Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!path || !*path) {
    lower::Report(err, "efio_SetModTime", 1, "Invalid file name");
    return -1;
  }
  struct timespec times[2] = {};
  times[0].tv_sec = static_cast<time_t>(accessTime);
  times[1].tv_sec = static_cast<time_t>(modificationTime);
  if (::utimensat(AT_FDCWD, path, times, 0) != 0) {
    lower::Report(err, "efio_SetModTime", 2, "Unable to set the times of %s: %s", path,
                  ErrnoText(errno));
    return -1;
  }
  return 0;
} TAVIRON_GUARD(err, -1)

char *efio_CurrentDirName(char *buffer, int32_t size, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!buffer || size <= 0) {
    lower::Report(err, "efio_CurrentDirName", 1, "Invalid buffer");
    return nullptr;
  }
  if (!::getcwd(buffer, static_cast<std::size_t>(size))) {
    buffer[0] = '\0';
    lower::Report(err, "efio_CurrentDirName", 2, "Unable to get the current directory: %s",
                  ErrnoText(errno));
    return nullptr;
  }
  return buffer;
} TAVIRON_GUARD(err, nullptr)

Efio_Listing *efio_NextFilename(const char *pattern, char **name, Efio_Listing *handle,
                                Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (name) *name = nullptr;
  if (!pattern || !name) {
    lower::HeapDelete(handle);
    if (!pattern && handle) return nullptr; // the caller ends the listing early
    lower::Report(err, "efio_NextFilename", 1, "Invalid pattern or name");
    return nullptr;
  }
  if (!handle) {
    const std::string text = pattern;
    const std::size_t slash = text.find_last_of('/');
    const std::string directory = slash == std::string::npos ? "."
                                  : slash == 0               ? "/"
                                                             : text.substr(0, slash);
    const std::string namePattern = slash == std::string::npos ? text : text.substr(slash + 1);
    handle = lower::HeapNew<Efio_Listing>();
    if (!handle) {
      lower::Report(err, "efio_NextFilename", 2, "Error allocating directory listing");
      return nullptr;
    }
    if (!ListDirectory(directory, namePattern, handle->names)) {
      const int error = errno;
      lower::HeapDelete(handle);
      if (error != ENOENT && error != ENOTDIR)
        lower::Report(err, "efio_NextFilename", 3, "Unable to list directory %s: %s",
                      directory.c_str(), ErrnoText(error));
      return nullptr;
    }
  }
  if (handle->next >= handle->names.size()) {
    lower::HeapDelete(handle);
    return nullptr;
  }
  const std::string &next = handle->names[handle->next++];
  *name = lower::HeapCopy(next.data(), next.size());
  if (!*name) {
    lower::HeapDelete(handle);
    lower::Report(err, "efio_NextFilename", 4, "Error allocating file name");
    return nullptr;
  }
  return handle;
} TAVIRON_GUARD(err, nullptr)

namespace {
int32_t DirectoryHolds(const char *path, const char *marker, Eerr_ErrorReport **err,
                       const char *reporter) {
  lower::Clear(err);
  if (!path || !*path) {
    lower::Report(err, reporter, 1, "Invalid path");
    return 0;
  }
  struct stat info;
  if (::stat(path, &info) != 0) {
    if (errno != ENOENT && errno != ENOTDIR)
      lower::Report(err, reporter, 2, "Unable to examine %s: %s", path, ErrnoText(errno));
    return 0;
  }
  if (!S_ISDIR(info.st_mode)) return 0;
  const std::string markerPath = JoinPath(path, marker);
  return ::stat(markerPath.c_str(), &info) == 0 && S_ISREG(info.st_mode) ? 1 : 0;
}
} // namespace

int32_t efio_FileIsArcCover(const char *path, Eerr_ErrorReport **err) try {
  return DirectoryHolds(path, EFIO_ARC_COVER_MARKER, err, "efio_FileIsArcCover");
} TAVIRON_GUARD(err, 0)

int32_t efio_FileIsVpfCoverage(const char *path, Eerr_ErrorReport **err) try {
  return DirectoryHolds(path, EFIO_VPF_COVERAGE_MARKER, err, "efio_FileIsVpfCoverage");
} TAVIRON_GUARD(err, 0)

// ---- Search lists -------------------------------------------------------------------------

void efio_FreeSL(Efio_SearchList *list) try {
  if (!list) return;
  for (int32_t i = 0; i < list->count; ++i) emsc_HeapFree(list->directories[i]);
  emsc_HeapFree(list->directories);
  emsc_HeapFree(list);
} TAVIRON_GUARD_QUIET_VOID

Efio_SearchList *efio_CreateSLFromEnv(int32_t, const char *variable, const char *defaultList,
                                      Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!variable || !*variable) {
    lower::Report(err, "efio_CreateSLFromEnv", 1, "Invalid variable name");
    return nullptr;
  }
  const char *value = std::getenv(variable);
  std::string expanded;
  if (!lower::ExpandVariables(value ? value : defaultList, expanded, err,
                              "efio_CreateSLFromEnv")) {
    lower::Report(err, "efio_CreateSLFromEnv", 2, "Unable to expand the search list of %s",
                  variable);
    return nullptr;
  }
  const std::vector<std::string> entries = lower::SplitList(expanded, true);
  auto *list = static_cast<Efio_SearchList *>(emsc_HeapMalloc(sizeof(Efio_SearchList)));
  bool ok = list != nullptr;
  if (ok && !entries.empty()) {
    list->directories = static_cast<char **>(emsc_HeapMalloc(sizeof(char *) * entries.size()));
    ok = list->directories != nullptr;
    for (std::size_t i = 0; ok && i < entries.size(); ++i) {
      list->directories[i] = lower::HeapCopy(entries[i].data(), entries[i].size());
      ok = list->directories[i] != nullptr;
      if (ok) list->count = static_cast<int32_t>(i + 1);
    }
  }
  if (!ok) {
    efio_FreeSL(list);
    lower::Report(err, "efio_CreateSLFromEnv", 3, "Error allocating search list");
    return nullptr;
  }
  return list;
} TAVIRON_GUARD(err, nullptr)

char *efio_Which(const Efio_SearchList *list, const char *name, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!list || !name || !*name) {
    lower::Report(err, "efio_Which", 1, "Invalid search list or file name");
    return nullptr;
  }
  const std::string path = FindOnList(*list, name);
  if (path.empty()) return nullptr;
  char *copy = lower::HeapCopy(path.data(), path.size());
  if (!copy) lower::Report(err, "efio_Which", 2, "Error allocating path");
  return copy;
} TAVIRON_GUARD(err, nullptr)

FILE *efio_SearchListOpen(const Efio_SearchList *list, const char *name, const char *mode,
                          int32_t, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!list || !name || !*name) {
    lower::Report(err, "efio_SearchListOpen", 1, "Invalid search list or file name");
    return nullptr;
  }
  const std::string path = FindOnList(*list, name);
  if (path.empty()) {
    lower::Report(err, "efio_SearchListOpen", 2, "File %s not found on the search list", name);
    return nullptr;
  }
  FILE *file = efio_Open(path.c_str(), mode, err);
  if (!file)
    lower::Report(err, "efio_SearchListOpen", 3, "Error returned from efio_Open for %s",
                  path.c_str());
  return file;
} TAVIRON_GUARD(err, nullptr)

Estr_StringList *efio_SearchListGenerateAndIdentifyFiles(const char *listText,
                                                         const char *pattern) try {
  if (!listText || !pattern) return nullptr;
  std::string expanded;
  lower::CalleeReport report;
  if (!lower::ExpandVariables(listText, expanded, &report,
                              "efio_SearchListGenerateAndIdentifyFiles")) {
    report.Drop();
    return nullptr;
  }
  Estr_StringList *found = nullptr;
  for (const std::string &directory : lower::SplitList(expanded, true)) {
    std::vector<std::string> names;
    if (!ListDirectory(directory, pattern, names)) continue;
    for (const std::string &name : names) {
      const std::string path = JoinPath(directory, name);
      struct stat info;
      if (::stat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) continue;
      const int32_t before = estr_StringListCount(found);
      found = estr_StringListAppend(found, path.c_str(), &report);
      if (report || estr_StringListCount(found) == before) {
        report.Drop();
        estr_StringListDelete(found, nullptr);
        return nullptr;
      }
    }
  }
  return found;
} TAVIRON_GUARD_QUIET(nullptr)

// ---- Temporary names ----------------------------------------------------------------------

char *efio_TempName(const char *directory, const char *prefix, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return MakeTempName(directory, prefix, err, "efio_TempName", true);
} TAVIRON_GUARD(err, nullptr)

char *efio_TempNameInTmpdir(const char *prefix) try {
  return MakeTempName(nullptr, prefix, nullptr, "efio_TempNameInTmpdir", false);
} TAVIRON_GUARD_QUIET(nullptr)

const char *efio_DirectorySetTemporary(const char *directory) try {
  std::lock_guard<std::mutex> lock(tmpMutex);
  const std::string before = tmpDirectory.empty() ? DefaultTemporaryDirectory() : tmpDirectory;
  tmpDirectory = directory ? directory : "";
  return tmpDirectoryTexts.insert(before).first->c_str();
} TAVIRON_GUARD_QUIET(nullptr)

// ---- File-name verification --------------------------------------------------------------

int32_t efio_FileNameVerify(const char *path, void *userData, Efio_LocateFunction callback,
                            int32_t, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!path) {
    std::lock_guard<std::mutex> lock(verifyMutex);
    installedUserData = userData;
    installedCallback = callback;
    return 0;
  }
  if (!*path || !PathExists(path)) return 0;
  locatedPath = path;
  return 1;
} TAVIRON_GUARD(err, 0)

int32_t efio_FileNameVerifyAddDefaultPath(const char *directory, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  std::lock_guard<std::mutex> lock(verifyMutex);
  if (!directory) {
    defaultPaths.clear();
    return 0;
  }
  const std::string entry = *directory ? directory : ".";
  if (std::find(defaultPaths.begin(), defaultPaths.end(), entry) == defaultPaths.end())
    defaultPaths.push_back(entry);
  return 0;
} TAVIRON_GUARD(err, 0)

int32_t efio_FileNameCorrect(char **name, void *userData, Efio_LocateFunction callback,
                             void *context, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!name) {
    std::lock_guard<std::mutex> lock(verifyMutex);
    runCorrections.clear();
    runContext = context;
    return 0;
  }
  if (!*name || !**name || std::strcmp(*name, EFIO_FILE_SKIPPED) == 0 || PathExists(*name))
    return 0;
  const std::string original = *name;
  const std::string base = BaseName(original);
  std::string found;
  std::vector<std::string> directories;
  {
    std::lock_guard<std::mutex> lock(verifyMutex);
    if (auto it = runCorrections.find(original); it != runCorrections.end()) found = it->second;
    directories = defaultPaths;
    if (!callback) {
      callback = installedCallback;
      userData = installedUserData;
    }
    if (!context) context = runContext;
  }
  for (std::size_t i = 0; found.empty() && !base.empty() && i < directories.size(); ++i)
    if (const std::string candidate = JoinPath(directories[i], base); PathExists(candidate))
      found = candidate;
  if (found.empty() && !base.empty() && callback) {
    locatedPath.clear();
    lower::CalleeReport report;
    const int32_t answer = callback(userData, base.c_str(), context, &report);
    if (report) {
      lower::PassOn(err, report);
      lower::Report(err, "efio_FileNameCorrect", 1, "Error returned from the locate function for %s",
                    original.c_str());
      return 0;
    }
    if (answer && !locatedPath.empty()) found = locatedPath;
    locatedPath.clear();
  }
  if (found.empty()) return 0;
  char *copy = lower::HeapCopy(found.data(), found.size());
  if (!copy) {
    lower::Report(err, "efio_FileNameCorrect", 2, "Error allocating file name");
    return 0;
  }
  {
    std::lock_guard<std::mutex> lock(verifyMutex);
    runCorrections[original] = found;
  }
  emsc_HeapFree(*name);
  *name = copy;
  return 1;
} TAVIRON_GUARD(err, 0)

int32_t efio_FileNameParse(const char *name, Eerr_ErrorReport **err, int32_t parts, char *out,
                           int32_t size) try {
  lower::Clear(err);
  if (size == 0) size = EFIO_PATH_BUFFER_SIZE;
  if (!out || size < 0) {
    lower::Report(err, "efio_FileNameParse", 1, "Invalid output buffer");
    return -1;
  }
  out[0] = '\0';
  constexpr int32_t kAllParts = EFIO_PART_DIRECTORY | EFIO_PART_STEM | EFIO_PART_EXTENSION;
  if (!name || !(parts & kAllParts)) {
    lower::Report(err, "efio_FileNameParse", 2, "Invalid file name or part code %d", parts);
    return -1;
  }
  const std::string text = name;
  const std::size_t slash = text.find_last_of("/\\");
  const std::size_t baseStart = slash == std::string::npos ? 0 : slash + 1;
  const std::string base = text.substr(baseStart);
  const std::size_t dot = base.find_last_of('.');
  const std::size_t stemLength = dot == std::string::npos || dot == 0 ? base.size() : dot;
  std::string result;
  if (parts & EFIO_PART_DIRECTORY) result += text.substr(0, baseStart);
  if (parts & EFIO_PART_STEM) result += base.substr(0, stemLength);
  if (parts & EFIO_PART_EXTENSION) result += base.substr(stemLength);
  if (result.size() >= static_cast<std::size_t>(size)) {
    lower::Report(err, "efio_FileNameParse", 3, "The part of %.200s does not fit in %d bytes", name,
                  size);
    return -1;
  }
  std::memcpy(out, result.c_str(), result.size() + 1);
  return 0;
} TAVIRON_GUARD(err, -1)

// ---- Descriptor sets --------------------------------------------------------------------

Efio_FdSet *efio_NewFdSet(void) try {
  auto *set = static_cast<Efio_FdSet *>(emsc_HeapMalloc(sizeof(Efio_FdSet)));
  if (set) FD_ZERO(&set->set);
  return set;
} TAVIRON_GUARD_QUIET(nullptr)

void efio_FD_ZERO(Efio_FdSet *set) try {
  if (set) FD_ZERO(&set->set);
} TAVIRON_GUARD_QUIET_VOID

int32_t efio_FD_SET(int32_t fd, Efio_FdSet *set) try {
  if (!set || fd < 0 || fd >= FD_SETSIZE) return -1;
  FD_SET(fd, &set->set);
  return 0;
} TAVIRON_GUARD_QUIET(-1)

int32_t efio_FD_ISSET(int32_t fd, const Efio_FdSet *set) try {
  if (!set || fd < 0 || fd >= FD_SETSIZE) return 0;
  return FD_ISSET(fd, &set->set) ? 1 : 0;
} TAVIRON_GUARD_QUIET(0)

int32_t efio_Select(int32_t count, Efio_FdSet *readSet, Efio_FdSet *writeSet,
                    Efio_FdSet *errorSet, struct timeval *timeout) try {
  if (count < 0 || count > FD_SETSIZE) {
    errno = EINVAL;
    return -1;
  }
  return ::select(count, readSet ? &readSet->set : nullptr, writeSet ? &writeSet->set : nullptr,
                  errorSet ? &errorSet->set : nullptr, timeout);
} TAVIRON_GUARD_QUIET(-1)

// ---- Hooks -------------------------------------------------------------------------------

Efio_LogFunction efio_SetLogFunction(Efio_LogFunction function) try {
  return logFunction.exchange(function);
} TAVIRON_GUARD_QUIET(nullptr)

Efio_QueryFunction efio_SetQueryFunction(Efio_QueryFunction function) try {
  return queryFunction.exchange(function);
} TAVIRON_GUARD_QUIET(nullptr)

} // extern "C"
