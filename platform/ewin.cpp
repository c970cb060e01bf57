// Windows, messages, the message queue, process handles and file mappings on Unix-domain
// sockets, passed descriptors and memory files. See ewin.h for the model.
#include "ewin.h"

#include "guard.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Frame: magic, kind, flags, name length, sequence, message, wParam, lParam, then the name.
constexpr uint32_t kMagic = 0x314D5754; // "TWM1"
constexpr std::size_t kHeaderSize = 32;
constexpr std::size_t kMaxName = 255;
constexpr uint8_t kPost = 1, kSend = 2, kReply = 3;
constexpr uint8_t kFlagHandle = 1;

// A handle duplicated into another process, waiting for the message that carries it.
constexpr Ewin_Param kPendingTag = 0x40000000;
constexpr Ewin_Param kPendingMask = 0x3FFFFFFF;

enum class Kind { Local, Remote, Peer };

struct Entry {
  Kind kind = Kind::Local;
  int fd = -1;
  std::string className, title, path;
  Ewin_WindowProc proc = nullptr;
  Ewin_Window owner = 0; // Peer: the window of this process that accepted the connection
};

struct Frame {
  uint8_t kind = 0;
  uint32_t seq = 0;
  uint32_t message = 0;
  int64_t wParam = 0, lParam = 0;
  std::string name;
  int handle = -1; // descriptor received with the frame
};

struct State {
  std::map<Ewin_Window, Entry> windows;
  Ewin_Window nextWindow = 0x100;
  std::vector<std::string> registered; // id = EWIN_WM_REGISTERED_FIRST + index
  std::deque<Ewin_Msg> queue;
  std::map<int, int32_t> pending;   // duplicated descriptor -> process it is meant for
  std::map<int, int32_t> processes; // process handle -> process id
  std::map<const void *, std::size_t> views;
  uint32_t nextSeq = 1;
  uint64_t lost = 0; // connections to other processes' windows lost so far
  Ewin_Window source = 0;
  std::string runtimeDirectory;
};

// Never destroyed: exit-time handlers of the library may still send messages.
State &S() {
  static State *state = new State;
  return *state;
}

int AtLeastThree(int fd) {
  if (fd < 0 || fd >= 3) return fd;
  int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  close(fd);
  return moved;
}

void PutU32(unsigned char *p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
void PutI64(unsigned char *p, int64_t v) {
  auto u = static_cast<uint64_t>(v);
  for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(u >> (8 * i));
}
uint32_t GetU32(const unsigned char *p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
int64_t GetI64(const unsigned char *p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return static_cast<int64_t>(v);
}

bool NameCharacterPlain(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-';
}

std::string Encode(const char *text) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p) {
    if (NameCharacterPlain(*p)) {
      out += static_cast<char>(*p);
    } else {
      out += '%';
      out += digits[*p >> 4];
      out += digits[*p & 15];
    }
  }
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes an encoded name; false for a malformed one.
bool Decode(const std::string &text, std::string &out) {
  out.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      if (!NameCharacterPlain(static_cast<unsigned char>(text[i]))) return false;
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return false;
    int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
    if (hi < 0 || lo < 0 || (hi == 0 && lo == 0)) return false;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}

bool MakeDirectories(const std::string &path) {
  std::string partial;
  std::size_t pos = 0;
  while (pos <= path.size()) {
    std::size_t next = path.find('/', pos);
    if (next == std::string::npos) next = path.size();
    partial = path.substr(0, next);
    pos = next + 1;
    if (partial.empty()) continue;
    if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string RuntimeDirectory() {
  const char *explicitDir = getenv("TAVIRON_RUNTIME_DIR");
  if (explicitDir && *explicitDir) return MakeDirectories(explicitDir) ? explicitDir : "";
  const char *xdg = getenv("XDG_RUNTIME_DIR");
  if (xdg && *xdg) {
    std::string dir = std::string(xdg) + "/taviron";
    return MakeDirectories(dir) ? dir : "";
  }
  const char *tmp = getenv("TMPDIR");
  std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/taviron-" +
                    std::to_string(static_cast<unsigned long>(getuid()));
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return "";
  // A shared temporary directory: the folder must be ours and no symbolic link.
  struct stat st;
  if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid() ||
      (st.st_mode & 077) != 0)
    return "";
  return dir;
}

// The endpoint path of a window; false when it does not fit a socket address.
bool EndpointPath(const char *className, const char *title, std::string &path) {
  if (!className || !*className || !title) return false;
  std::string dir = RuntimeDirectory();
  if (dir.empty()) return false;
  path = dir + "/" + Encode(className) + "." + Encode(title);
  return path.size() < sizeof(sockaddr_un{}.sun_path);
}

bool FillAddress(const std::string &path, sockaddr_un &address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

// Connects to an endpoint: the descriptor, or -1 (errno ECONNREFUSED for a stale endpoint).
int ConnectTo(const std::string &path) {
  sockaddr_un address;
  if (!FillAddress(path, address)) return -1;
  int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  return AtLeastThree(fd);
}

Entry *Find(Ewin_Window window) {
  auto it = S().windows.find(window);
  return it == S().windows.end() ? nullptr : &it->second;
}

// A connection is gone: close it; the loss of a connection to another process's window ends
// the waits in progress.
void Drop(Ewin_Window id) {
  Entry *entry = Find(id);
  if (!entry) return;
  if (entry->fd >= 0) close(entry->fd);
  if (entry->kind == Kind::Remote) ++S().lost;
  S().windows.erase(id);
}

const char *RegisteredName(uint32_t message) {
  if (message < EWIN_WM_REGISTERED_FIRST) return nullptr;
  std::size_t index = message - EWIN_WM_REGISTERED_FIRST;
  return index < S().registered.size() ? S().registered[index].c_str() : nullptr;
}

bool IsPending(Ewin_Param value) {
  if ((value & ~kPendingMask) != kPendingTag) return false;
  return S().pending.count(static_cast<int>(value & kPendingMask)) != 0;
}

// Sends one frame; a pending handle in lParam travels with it and is no longer this process's.
bool SendFrame(int fd, uint8_t kind, uint32_t seq, uint32_t message, Ewin_Param wParam,
               Ewin_Param lParam) {
  std::string name;
  if (kind != kReply) {
    const char *registered = RegisteredName(message);
    if (message >= EWIN_WM_REGISTERED_FIRST) {
      if (!registered) return false;
      name = registered;
      message = 0;
    }
  }
  int handle = -1;
  if (IsPending(lParam)) {
    handle = static_cast<int>(lParam & kPendingMask);
    S().pending.erase(handle);
    lParam = 0;
  }
  unsigned char buffer[kHeaderSize + kMaxName];
  PutU32(buffer, kMagic);
  buffer[4] = kind;
  buffer[5] = handle >= 0 ? kFlagHandle : 0;
  buffer[6] = static_cast<unsigned char>(name.size());
  buffer[7] = static_cast<unsigned char>(name.size() >> 8);
  PutU32(buffer + 8, seq);
  PutU32(buffer + 12, message);
  PutI64(buffer + 16, wParam);
  PutI64(buffer + 24, lParam);
  std::memcpy(buffer + kHeaderSize, name.data(), name.size());

  iovec io{buffer, kHeaderSize + name.size()};
  msghdr header{};
  header.msg_iov = &io;
  header.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
  if (handle >= 0) {
    std::memset(control, 0, sizeof control);
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    cmsghdr *cm = CMSG_FIRSTHDR(&header);
    cm->cmsg_level = SOL_SOCKET;
    cm->cmsg_type = SCM_RIGHTS;
    cm->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(cm), &handle, sizeof(int));
  }
  ssize_t sent;
  do {
    sent = sendmsg(fd, &header, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  if (handle >= 0) close(handle);
  return sent == static_cast<ssize_t>(io.iov_len);
}

// Reads one frame. 1: a frame; 0: the connection ended; -1: nothing there; -2: a frame that is
// not one of ours (dropped, descriptors closed).
int ReadFrame(int fd, Frame &frame) {
  unsigned char buffer[kHeaderSize + kMaxName + 1];
  alignas(cmsghdr) char control[CMSG_SPACE(4 * sizeof(int))];
  iovec io{buffer, sizeof buffer};
  msghdr header{};
  header.msg_iov = &io;
  header.msg_iovlen = 1;
  header.msg_control = control;
  header.msg_controllen = sizeof control;
  ssize_t got;
  do {
    got = recvmsg(fd, &header, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
  } while (got < 0 && errno == EINTR);
  if (got < 0) return (errno == EAGAIN || errno == EWOULDBLOCK) ? -1 : 0;
  if (got == 0) return 0;

  std::vector<int> received;
  for (cmsghdr *cm = CMSG_FIRSTHDR(&header); cm; cm = CMSG_NXTHDR(&header, cm)) {
    if (cm->cmsg_level != SOL_SOCKET || cm->cmsg_type != SCM_RIGHTS) continue;
    std::size_t count = (cm->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (std::size_t i = 0; i < count; ++i) {
      int value;
      std::memcpy(&value, CMSG_DATA(cm) + i * sizeof(int), sizeof(int));
      received.push_back(value);
    }
  }
  auto reject = [&] {
    for (int value : received) close(value);
    return -2;
  };
  if ((header.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0) return reject();
  auto length = static_cast<std::size_t>(got);
  if (length < kHeaderSize || GetU32(buffer) != kMagic) return reject();
  frame.kind = buffer[4];
  uint8_t flags = buffer[5];
  std::size_t nameLength = buffer[6] | (static_cast<std::size_t>(buffer[7]) << 8);
  frame.seq = GetU32(buffer + 8);
  frame.message = GetU32(buffer + 12);
  frame.wParam = GetI64(buffer + 16);
  frame.lParam = GetI64(buffer + 24);
  if (frame.kind < kPost || frame.kind > kReply || (flags & ~kFlagHandle) != 0 ||
      nameLength > kMaxName || length != kHeaderSize + nameLength)
    return reject();
  if ((flags & kFlagHandle) ? received.size() != 1 : !received.empty()) return reject();
  frame.name.assign(reinterpret_cast<const char *>(buffer + kHeaderSize), nameLength);
  if (frame.name.find('\0') != std::string::npos) return reject();
  if (frame.kind == kReply) {
    if (!frame.name.empty() || frame.message != 0) return reject();
  } else if (frame.name.empty() ? frame.message >= EWIN_WM_REGISTERED_FIRST
                                : frame.message != 0) {
    return reject();
  }
  frame.handle = received.empty() ? -1 : AtLeastThree(received[0]);
  if (frame.handle >= 0) frame.lParam = frame.handle;
  return 1;
}

uint32_t ResolveMessage(const Frame &frame) {
  return frame.name.empty() ? frame.message : ewin_RegisterWindowMessage(frame.name.c_str());
}

Ewin_Param CallProc(Ewin_Window target, Ewin_Window source, uint32_t message, Ewin_Param wParam,
                    Ewin_Param lParam) {
  Entry *entry = Find(target);
  Ewin_WindowProc proc = entry && entry->kind == Kind::Local ? entry->proc : nullptr;
  if (!proc) return 0;
  Ewin_Window saved = S().source;
  S().source = source;
  Ewin_Param result = proc(target, message, wParam, lParam);
  S().source = saved;
  return result;
}

// Handles a frame that arrived on connection `id` and is not the reply a send waits for.
void HandleFrame(Ewin_Window id, Frame &frame) {
  Entry *entry = Find(id);
  Ewin_Window target = entry && entry->kind == Kind::Peer ? entry->owner : 0;
  if (frame.kind == kReply) { // late or stray reply
    if (frame.handle >= 0) close(frame.handle);
    return;
  }
  uint32_t message = ResolveMessage(frame);
  if (message == 0) {
    if (frame.handle >= 0) close(frame.handle);
    return;
  }
  if (frame.kind == kPost) {
    S().queue.push_back(Ewin_Msg{target, message, static_cast<Ewin_Param>(frame.wParam),
                                 static_cast<Ewin_Param>(frame.lParam), id});
    return;
  }
  Ewin_Param result = CallProc(target, id, message, static_cast<Ewin_Param>(frame.wParam),
                               static_cast<Ewin_Param>(frame.lParam));
  entry = Find(id); // the procedure may have closed the connection
  if (entry && !SendFrame(entry->fd, kReply, frame.seq, 0, 0, result)) Drop(id);
}

// Reads what arrives within timeoutMs (-1: without end) on all connections and endpoints: one
// frame or connection per ready descriptor. True when something arrived.
bool Pump(int timeoutMs) {
  std::vector<pollfd> fds;
  std::vector<Ewin_Window> ids;
  for (auto &[id, entry] : S().windows) {
    if (entry.fd < 0) continue;
    fds.push_back(pollfd{entry.fd, POLLIN, 0});
    ids.push_back(id);
  }
  if (fds.empty()) return false;
  int ready;
  do {
    ready = poll(fds.data(), fds.size(), timeoutMs);
  } while (ready < 0 && errno == EINTR);
  if (ready <= 0) return false;
  for (std::size_t i = 0; i < fds.size(); ++i) {
    if (fds[i].revents == 0) continue;
    Entry *entry = Find(ids[i]);
    if (!entry || entry->fd != fds[i].fd) continue;
    if (entry->kind == Kind::Local) {
      int fd = AtLeastThree(accept4(entry->fd, nullptr, nullptr, SOCK_CLOEXEC));
      if (fd < 0) continue;
      Entry peer;
      peer.kind = Kind::Peer;
      peer.fd = fd;
      peer.owner = ids[i];
      S().windows[S().nextWindow++] = peer;
      continue;
    }
    Frame frame;
    int got = ReadFrame(entry->fd, frame);
    if (got == 0) Drop(ids[i]);
    else if (got == 1) HandleFrame(ids[i], frame);
  }
  return true;
}

bool Matches(const Ewin_Msg &msg, Ewin_Window window, uint32_t first, uint32_t last) {
  if (msg.message == EWIN_WM_QUIT) return true;
  if (window != 0 && msg.window != window) return false;
  if (first == 0 && last == 0) return true;
  return msg.message >= first && msg.message <= last;
}

bool TakeFromQueue(Ewin_Msg *msg, Ewin_Window window, uint32_t first, uint32_t last,
                   bool remove) {
  auto &queue = S().queue;
  for (auto it = queue.begin(); it != queue.end(); ++it) {
    if (!Matches(*it, window, first, last)) continue;
    if (msg) *msg = *it;
    if (remove) queue.erase(it);
    return true;
  }
  return false;
}

Ewin_Window AddRemote(const char *className, const char *title, const std::string &path,
                      int fd) {
  Entry entry;
  entry.kind = Kind::Remote;
  entry.fd = fd;
  entry.className = className;
  entry.title = title;
  entry.path = path;
  Ewin_Window id = S().nextWindow++;
  S().windows[id] = entry;
  return id;
}

bool ProcessAlive(int pidfd) {
  return syscall(SYS_pidfd_send_signal, pidfd, 0, nullptr, 0) == 0;
}

} // namespace

extern "C" {

const char *ewin_RuntimeDirectory(void) try {
  S().runtimeDirectory = RuntimeDirectory();
  return S().runtimeDirectory.empty() ? nullptr : S().runtimeDirectory.c_str();
} TAVIRON_GUARD_QUIET(nullptr)

uint32_t ewin_RegisterWindowMessage(const char *name) try {
  if (!name || !*name || std::strlen(name) > kMaxName) return 0;
  auto &registered = S().registered;
  for (std::size_t i = 0; i < registered.size(); ++i)
    if (registered[i] == name) return EWIN_WM_REGISTERED_FIRST + static_cast<uint32_t>(i);
  if (registered.size() > EWIN_WM_REGISTERED_LAST - EWIN_WM_REGISTERED_FIRST) return 0;
  registered.emplace_back(name);
  return EWIN_WM_REGISTERED_FIRST + static_cast<uint32_t>(registered.size() - 1);
} TAVIRON_GUARD_QUIET(0)

Ewin_Window ewin_CreateWindow(const char *className, const char *title, Ewin_WindowProc proc) try {
  std::string path;
  if (!EndpointPath(className, title, path)) return 0;
  sockaddr_un address;
  FillAddress(path, address);
  int existing = ConnectTo(path);
  if (existing >= 0) { // a live window of that name
    close(existing);
    return 0;
  }
  if (errno == ECONNREFUSED) unlink(path.c_str());
  int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
      listen(fd, 64) != 0) {
    close(fd);
    return 0;
  }
  Entry entry;
  entry.kind = Kind::Local;
  entry.fd = AtLeastThree(fd);
  entry.className = className;
  entry.title = title;
  entry.path = path;
  entry.proc = proc;
  Ewin_Window id = S().nextWindow++;
  S().windows[id] = entry;
  return id;
} TAVIRON_GUARD_QUIET(0)

int32_t ewin_DestroyWindow(Ewin_Window window) try {
  Entry *entry = Find(window);
  if (!entry) return 0;
  if (entry->kind == Kind::Local) {
    unlink(entry->path.c_str());
    close(entry->fd);
    S().windows.erase(window);
    // Its connections and the messages queued for it go with it.
    for (auto it = S().windows.begin(); it != S().windows.end();) {
      if (it->second.kind == Kind::Peer && it->second.owner == window) {
        close(it->second.fd);
        it = S().windows.erase(it);
      } else {
        ++it;
      }
    }
    auto &queue = S().queue;
    for (auto it = queue.begin(); it != queue.end();)
      it = it->window == window ? queue.erase(it) : it + 1;
    return 1;
  }
  close(entry->fd);
  S().windows.erase(window);
  return 1;
} TAVIRON_GUARD_QUIET(0)

Ewin_Window ewin_FindWindow(const char *className, const char *title) try {
  if (!className || !*className) return 0;
  if (!title) {
    for (auto &[id, entry] : S().windows)
      if (entry.kind != Kind::Peer && entry.className == className) return id;
    std::string dir = RuntimeDirectory();
    if (dir.empty()) return 0;
    std::string prefix = Encode(className) + ".";
    std::vector<std::string> titles;
    if (DIR *d = opendir(dir.c_str())) {
      while (dirent *e = readdir(d)) {
        std::string name = e->d_name, decoded;
        if (name.compare(0, prefix.size(), prefix) == 0 &&
            Decode(name.substr(prefix.size()), decoded))
          titles.push_back(decoded);
      }
      closedir(d);
    }
    for (const std::string &t : titles)
      if (Ewin_Window found = ewin_FindWindow(className, t.c_str())) return found;
    return 0;
  }
  std::string path;
  if (!EndpointPath(className, title, path)) return 0;
  for (auto &[id, entry] : S().windows)
    if (entry.kind != Kind::Peer && entry.path == path) return id;
  int fd = ConnectTo(path);
  if (fd < 0) {
    if (errno == ECONNREFUSED) unlink(path.c_str()); // left behind by a process that ended
    return 0;
  }
  return AddRemote(className, title, path, fd);
} TAVIRON_GUARD_QUIET(0)

int32_t ewin_GetWindowText(Ewin_Window window, char *buffer, int32_t size) try {
  Entry *entry = Find(window);
  if (!buffer || size <= 0) return 0;
  buffer[0] = '\0';
  if (!entry) return 0;
  std::size_t n = std::min(entry->title.size(), static_cast<std::size_t>(size - 1));
  std::memcpy(buffer, entry->title.data(), n);
  buffer[n] = '\0';
  return static_cast<int32_t>(n);
} TAVIRON_GUARD_QUIET(0)

int32_t ewin_IsWindow(Ewin_Window window) try { return Find(window) != nullptr; } TAVIRON_GUARD_QUIET(0)

int32_t ewin_PostMessage(Ewin_Window window, uint32_t message, Ewin_Param wParam,
                         Ewin_Param lParam) try {
  if (message == 0) return 0;
  if (window == 0) {
    S().queue.push_back(Ewin_Msg{0, message, wParam, lParam, 0});
    return 1;
  }
  Entry *entry = Find(window);
  if (!entry) return 0;
  if (entry->kind == Kind::Local) {
    S().queue.push_back(Ewin_Msg{window, message, wParam, lParam, 0});
    return 1;
  }
  if (SendFrame(entry->fd, kPost, 0, message, wParam, lParam)) return 1;
  Drop(window);
  return 0;
} TAVIRON_GUARD_QUIET(0)

int32_t ewin_SendMessageTimeout(Ewin_Window window, uint32_t message, Ewin_Param wParam,
                                Ewin_Param lParam, uint32_t flags, uint32_t timeoutMs,
                                Ewin_Param *result) try {
  (void)flags; // a send always waits on its own connection only
  if (result) *result = 0;
  Entry *entry = Find(window);
  if (!entry || message == 0) return 0;
  if (entry->kind == Kind::Local) {
    Ewin_Param value = CallProc(window, 0, message, wParam, lParam);
    if (result) *result = value;
    return 1;
  }
  uint32_t seq = S().nextSeq++;
  if (!SendFrame(entry->fd, kSend, seq, message, wParam, lParam)) {
    Drop(window);
    return 0;
  }
  using Clock = std::chrono::steady_clock;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    entry = Find(window);
    if (!entry) return 0;
    int wait = -1;
    if (timeoutMs != 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return 0;
      wait = static_cast<int>(std::min<int64_t>(left.count() + 1, 1 << 30));
    }
    pollfd fd{entry->fd, POLLIN, 0};
    int ready = poll(&fd, 1, wait);
    if (ready < 0 && errno != EINTR) return 0;
    if (ready <= 0) continue;
    Frame frame;
    int got = ReadFrame(entry->fd, frame);
    if (got == 0) {
      Drop(window);
      return 0;
    }
    if (got != 1) continue;
    if (frame.kind == kReply && frame.seq == seq) {
      if (result) *result = static_cast<Ewin_Param>(frame.lParam);
      return 1;
    }
    HandleFrame(window, frame);
  }
} TAVIRON_GUARD_QUIET(0)

Ewin_Param ewin_SendMessage(Ewin_Window window, uint32_t message, Ewin_Param wParam,
                            Ewin_Param lParam) try {
  Ewin_Param result = 0;
  ewin_SendMessageTimeout(window, message, wParam, lParam, 0, 0, &result);
  return result;
} TAVIRON_GUARD_QUIET(0)

Ewin_Window ewin_GetMessageSource(void) try { return S().source; } TAVIRON_GUARD_QUIET(0)

int32_t ewin_GetMessage(Ewin_Msg *msg, Ewin_Window window, uint32_t first, uint32_t last) try {
  uint64_t lost = S().lost;
  for (;;) {
    if (TakeFromQueue(msg, window, first, last, true))
      return msg && msg->message == EWIN_WM_QUIT ? 0 : 1;
    if (S().lost != lost) return -1;
    bool sources = false;
    for (auto &[id, entry] : S().windows) sources = sources || entry.fd >= 0;
    if (!sources) return -1;
    Pump(-1);
  }
} TAVIRON_GUARD_QUIET(-1)

int32_t ewin_PeekMessage(Ewin_Msg *msg, Ewin_Window window, uint32_t first, uint32_t last,
                         uint32_t remove) try {
  for (int round = 0; round < 256 && Pump(0); ++round) {
  }
  return TakeFromQueue(msg, window, first, last, remove == EWIN_PM_REMOVE) ? 1 : 0;
} TAVIRON_GUARD_QUIET(0)

int32_t ewin_TranslateMessage(const Ewin_Msg *) try { return 0; } TAVIRON_GUARD_QUIET(0)

Ewin_Param ewin_DispatchMessage(const Ewin_Msg *msg) try {
  if (!msg) return 0;
  return CallProc(msg->window, msg->source, msg->message, msg->wParam, msg->lParam);
} TAVIRON_GUARD_QUIET(0)

void ewin_PostQuitMessage(int32_t exitCode) try {
  S().queue.push_back(Ewin_Msg{0, EWIN_WM_QUIT, exitCode, 0, 0});
} TAVIRON_GUARD_QUIET_VOID

Ewin_Handle ewin_CreateFileMapping(uint32_t size) try {
  if (size == 0) return 0;
  int fd = AtLeastThree(memfd_create("taviron-mapping", MFD_CLOEXEC));
  if (fd < 0) return 0;
  if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
    close(fd);
    return 0;
  }
  return fd;
} TAVIRON_GUARD_QUIET(0)

int64_t ewin_GetFileMappingSize(Ewin_Handle mapping) try {
  if (mapping < 3 || mapping > INT32_MAX || IsPending(mapping)) return -1;
  struct stat st;
  if (fstat(static_cast<int>(mapping), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<int64_t>(st.st_size);
} TAVIRON_GUARD_QUIET(-1)

void *ewin_MapViewOfFile(Ewin_Handle mapping) try {
  int64_t size = ewin_GetFileMappingSize(mapping);
  if (size <= 0) return nullptr;
  void *view = mmap(nullptr, static_cast<std::size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED,
                    static_cast<int>(mapping), 0);
  if (view == MAP_FAILED) return nullptr;
  S().views[view] = static_cast<std::size_t>(size);
  return view;
} TAVIRON_GUARD_QUIET(nullptr)

int32_t ewin_UnmapViewOfFile(const void *view) try {
  auto it = S().views.find(view);
  if (it == S().views.end()) return 0;
  munmap(const_cast<void *>(view), it->second);
  S().views.erase(it);
  return 1;
} TAVIRON_GUARD_QUIET(0)

int32_t ewin_GetCurrentProcessId(void) try { return static_cast<int32_t>(getpid()); } TAVIRON_GUARD_QUIET(0)

Ewin_Handle ewin_OpenProcess(int32_t processId) try {
  if (processId <= 0) return 0;
  int fd = AtLeastThree(static_cast<int>(syscall(SYS_pidfd_open, processId, 0)));
  if (fd < 0) return 0;
  fcntl(fd, F_SETFD, FD_CLOEXEC);
  S().processes[fd] = processId;
  return fd;
} TAVIRON_GUARD_QUIET(0)

int32_t ewin_DuplicateHandle(Ewin_Handle handle, Ewin_Handle process, Ewin_Handle *duplicate) try {
  if (duplicate) *duplicate = 0;
  auto target = S().processes.find(static_cast<int>(process));
  if (!duplicate || target == S().processes.end() || process != target->first) return 0;
  if (handle < 3 || handle > INT32_MAX || IsPending(handle)) return 0;
  if (!ProcessAlive(target->first)) return 0;
  int fd = fcntl(static_cast<int>(handle), F_DUPFD_CLOEXEC, 3);
  if (fd < 0) return 0;
  if (target->second == static_cast<int32_t>(getpid())) {
    *duplicate = fd;
    return 1;
  }
  if (fd > kPendingMask) {
    close(fd);
    return 0;
  }
  S().pending[fd] = target->second;
  *duplicate = kPendingTag | fd;
  return 1;
} TAVIRON_GUARD_QUIET(0)

int32_t ewin_CloseHandle(Ewin_Handle handle) try {
  if (IsPending(handle)) {
    int fd = static_cast<int>(handle & kPendingMask);
    S().pending.erase(fd);
    close(fd);
    return 1;
  }
  if (handle < 3 || handle > INT32_MAX) return 0;
  S().processes.erase(static_cast<int>(handle));
  return close(static_cast<int>(handle)) == 0 ? 1 : 0;
} TAVIRON_GUARD_QUIET(0)

void ewin_OutputDebugString(const char *text) try {
  if (!text) return;
  FILE *status = std::fopen("/proc/self/status", "r");
  if (!status) return;
  char line[256];
  bool traced = false;
  while (std::fgets(line, sizeof line, status))
    if (std::strncmp(line, "TracerPid:", 10) == 0) traced = std::atol(line + 10) != 0;
  std::fclose(status);
  if (!traced) return;
  for (std::size_t done = 0, size = std::strlen(text); done < size;) {
    ssize_t n = write(2, text + done, size - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
} TAVIRON_GUARD_QUIET_VOID

uint32_t ewin_GetTickCount(void) try {
  auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
} TAVIRON_GUARD_QUIET(0)

} // extern "C"
