// Windows, messages, the message queue, process handles and file mappings on Unix-domain
// sockets and process memory. See ewin.h for the model.
#include "ewin.h"

#include "ewin_frame.h"
#include "guard.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

using namespace taviron::ewin;

constexpr std::size_t kMaxName = 255;
constexpr std::size_t kInlineLimit = 64 * 1024;
constexpr std::size_t kMaxFrame = kHeaderSize + kMaxName + kInlineLimit;
constexpr unsigned kRequiredSeals = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE;

constexpr std::size_t kQueueLimit = 4 * 1024 * 1024; // unsent bytes of posts per connection
constexpr int kDrainMs = 20000;   // for what is unsent when a connection or the process ends
constexpr int kConnectMs = 20000; // for a connect to an endpoint whose backlog is full
constexpr int kSocketBuffer = 1024 * 1024; // asked of the system per connection
constexpr int kRetryMs = 10;               // while the system refuses for now
constexpr int kFramesPerRound = 64;        // read from one connection before the others' turn

// Handles are tokens of this process's table, in a range that a frame never carries as a plain
// number.
constexpr Ewin_Param kHandleTag = 0x40000000;
constexpr Ewin_Param kHandleMask = 0x3FFFFFFF;

bool InHandleRange(int64_t value) { return (value & ~int64_t{kHandleMask}) == kHandleTag; }

// The bytes of a mapping, shared by its handles and views in this process.
struct Memory {
  unsigned char *bytes = nullptr;
  std::size_t size = 0;
  Memory() = default;
  Memory(const Memory &) = delete;
  Memory &operator=(const Memory &) = delete;
  ~Memory() { std::free(bytes); }
};
using MemoryRef = std::shared_ptr<Memory>;

MemoryRef NewMemory(std::size_t size) {
  auto memory = std::make_shared<Memory>();
  memory->bytes = static_cast<unsigned char *>(std::calloc(size, 1));
  if (!memory->bytes) return nullptr;
  memory->size = size;
  return memory;
}

enum class HandleType { Mapping, Process, Outgoing };

struct HandleEntry {
  HandleType type = HandleType::Mapping;
  MemoryRef memory;  // Mapping, Outgoing
  int pidfd = -1;    // Process
  int32_t pid = 0;   // Process; Outgoing: the process it is meant for
};

// A descriptor closed with its owner.
class Descriptor {
public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(Descriptor &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor &operator=(Descriptor &&other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  ~Descriptor() { reset(); }
  void reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  int get() const { return fd_; }

private:
  int fd_ = -1;
};

struct OutFrame {
  std::vector<unsigned char> bytes;
  Descriptor file;  // the sealed memory file passed beside it
  uint32_t seq = 0; // of a send, withdrawn when the send gives up before it left
};

enum class Kind { Local, Remote, Peer };

struct Entry {
  Kind kind = Kind::Local;
  int fd = -1;
  std::string className, title, path;
  dev_t endpointDev = 0;  // Local: the endpoint this window made, so that it removes only its own
  ino_t endpointIno = 0;
  Ewin_WindowProc proc = nullptr;
  Ewin_Window owner = 0;  // Peer: the window of this process that accepted the connection
  int32_t peerPid = 0;    // Remote, Peer: the process at the other end
  std::deque<OutFrame> out;
  std::size_t outBytes = 0;
  uint32_t events = 0;    // registered with the poller (0: not registered)
  int senders = 0;        // sends waiting on this connection read it themselves
  bool stalled = false;   // the system refused a frame for now; retried shortly
  bool paused = false;    // Local: no descriptor left to accept with; retried shortly
  Clock::time_point resume;
};

struct Frame {
  uint8_t kind = 0;
  uint32_t seq = 0;
  uint32_t message = 0;
  int64_t wParam = 0, lParam = 0;
  std::string name;
  Ewin_Param handle = 0; // the mapping that came with the frame, now a handle of this process
};

// A send waiting for its reply.
struct Awaited {
  Ewin_Window window = 0;
  bool arrived = false;
  Ewin_Param result = 0;
};

struct State {
  std::recursive_mutex mutex;
  std::map<Ewin_Window, Entry> windows;
  Ewin_Window nextWindow = 0x100;
  std::vector<std::string> registered; // id = EWIN_WM_REGISTERED_FIRST + index
  std::deque<Ewin_Msg> queue;
  std::unordered_map<Ewin_Param, HandleEntry> handles;
  uint32_t nextHandle = 0;
  std::map<const void *, std::pair<MemoryRef, int>> views; // view -> memory, map count
  std::map<uint32_t, Awaited> awaited;
  uint32_t nextSeq = 1;
  uint64_t lost = 0; // connections to other processes' windows lost so far
  std::string runtimeDirectory;
  int poller = -1;
  int wake = -1;     // eventfd in the poller: wakes a thread waiting in the system
  int sleepers = 0;  // threads waiting in the poller
  std::vector<unsigned char> receive = std::vector<unsigned char>(kMaxFrame + 1);
};

State &S();

// The lock of the state. Window procedures run under it (it is recursive); a thread that waits
// in the system lets go of it meanwhile.
thread_local int tHeld = 0;
thread_local Ewin_Window tSource = 0;

class Lock {
public:
  Lock() {
    S().mutex.lock();
    ++tHeld;
  }
  ~Lock() {
    --tHeld;
    S().mutex.unlock();
  }
  Lock(const Lock &) = delete;
  Lock &operator=(const Lock &) = delete;
};

class Unlocked {
public:
  Unlocked() : held_(tHeld) {
    for (int i = 0; i < held_; ++i) S().mutex.unlock();
    tHeld = 0;
  }
  ~Unlocked() {
    for (int i = 0; i < held_; ++i) S().mutex.lock();
    tHeld = held_;
  }
  Unlocked(const Unlocked &) = delete;
  Unlocked &operator=(const Unlocked &) = delete;

private:
  int held_;
};

void FlushAtExit();
void Register(Ewin_Window id, Entry &entry);

void OpenPoller(State &state) {
  state.poller = epoll_create1(EPOLL_CLOEXEC);
  state.wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = 0;
  epoll_ctl(state.poller, EPOLL_CTL_ADD, state.wake, &event);
}

// A child process has its own poller; the frames its parent had not sent yet are the parent's.
// Its one thread is not the owner the parent's lock knows: the lock is made anew, held as the
// forking thread held it.
void AfterFork() {
  State &state = S();
  new (&state.mutex) std::recursive_mutex;
  for (int i = 0; i < tHeld; ++i) state.mutex.lock();
  close(state.poller);
  close(state.wake);
  OpenPoller(state);
  state.sleepers = 0;
  for (auto &[id, entry] : state.windows) {
    entry.out.clear();
    entry.outBytes = 0;
    entry.stalled = false;
    entry.senders = 0;
    entry.events = 0;
    Register(id, entry);
  }
}

// Never destroyed: exit-time handlers of the library may still send messages.
State &S() {
  static State *state = [] {
    auto *created = new State;
    OpenPoller(*created);
    pthread_atfork([] { S().mutex.lock(); }, [] { S().mutex.unlock(); }, AfterFork);
    std::atexit(FlushAtExit);
    return created;
  }();
  return *state;
}

int AtLeastThree(int fd) {
  if (fd < 0 || fd >= 3) return fd;
  int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  close(fd);
  return moved;
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
  return true;
}

// The runtime folder: a directory of this user that nobody else may enter, and no symbolic
// link; "" otherwise.
std::string PrivateFolder(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (!MakeDirectories(dir)) return "";
  struct stat st;
  if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() ||
      (st.st_mode & 077) != 0)
    return "";
  return dir;
}

std::string RuntimeDirectory() {
  const char *explicitDir = getenv("TAVIRON_RUNTIME_DIR");
  if (explicitDir && *explicitDir) return PrivateFolder(explicitDir);
  const char *xdg = getenv("XDG_RUNTIME_DIR");
  if (xdg && *xdg) return PrivateFolder(std::string(xdg) + "/taviron");
  const char *tmp = getenv("TMPDIR");
  return PrivateFolder(std::string(tmp && *tmp ? tmp : "/tmp") + "/taviron-" +
                       std::to_string(static_cast<unsigned long>(getuid())));
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

// A connection made non-blocking, with room in the system for many frames; the process at the
// other end when it runs as this user, else 0.
int32_t ReadyConnection(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSocketBuffer, sizeof kSocketBuffer);
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
      credentials.uid != geteuid() || credentials.pid <= 0)
    return 0;
  return static_cast<int32_t>(credentials.pid);
}

// Connects to an endpoint: the descriptor and the process behind it, or -1 (errno ECONNREFUSED
// for a stale endpoint). An endpoint of another user is not used.
int ConnectTo(const std::string &path, int32_t &peerPid) {
  sockaddr_un address;
  if (!FillAddress(path, address)) return -1;
  int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  timeval bound{kConnectMs / 1000, 0}; // a connect waits while the endpoint's backlog is full
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
  if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  peerPid = ReadyConnection(fd);
  if (!peerPid) {
    close(fd);
    errno = EACCES;
    return -1;
  }
  return AtLeastThree(fd);
}

Entry *Find(Ewin_Window window) {
  auto it = S().windows.find(window);
  return it == S().windows.end() ? nullptr : &it->second;
}

uint32_t Interest(const Entry &entry) {
  if (entry.kind == Kind::Local) return entry.paused ? 0u : uint32_t{EPOLLIN};
  uint32_t events = 0;
  if (entry.senders == 0) events |= EPOLLIN;
  if (!entry.out.empty() && !entry.stalled) events |= EPOLLOUT;
  return events;
}

// Brings the poller's interest in the entry up to date.
void Register(Ewin_Window id, Entry &entry) {
  uint32_t want = Interest(entry);
  if (want == entry.events) return;
  epoll_event event{};
  event.events = want;
  event.data.u64 = static_cast<uint64_t>(id);
  int op = entry.events == 0 ? EPOLL_CTL_ADD : want == 0 ? EPOLL_CTL_DEL : EPOLL_CTL_MOD;
  epoll_ctl(S().poller, op, entry.fd, &event);
  entry.events = want;
}

Ewin_Window AddEntry(Entry entry) {
  Ewin_Window id = S().nextWindow++;
  Register(id, S().windows[id] = std::move(entry));
  return id;
}

// Wakes a thread waiting in the poller for what another thread queued.
void Wake() {
  if (S().sleepers == 0) return;
  uint64_t one = 1;
  ssize_t written = write(S().wake, &one, sizeof one);
  (void)written;
}

Ewin_Param NewHandle(HandleEntry entry) {
  State &state = S();
  Ewin_Param token;
  do {
    state.nextHandle = (state.nextHandle + 1) & kHandleMask;
    token = kHandleTag | static_cast<Ewin_Param>(state.nextHandle);
  } while (state.handles.count(token));
  state.handles.emplace(token, std::move(entry));
  return token;
}

HandleEntry *FindHandle(Ewin_Param handle) {
  auto it = S().handles.find(handle);
  return it == S().handles.end() ? nullptr : &it->second;
}

bool DropHandle(Ewin_Param handle) {
  auto it = S().handles.find(handle);
  if (it == S().handles.end()) return false;
  if (it->second.pidfd >= 0) close(it->second.pidfd);
  S().handles.erase(it);
  return true;
}

// Closes an entry. A connection to another process's window that is lost (not closed here)
// ends the waits in progress.
void Drop(Ewin_Window id, bool lost = true) {
  Entry *entry = Find(id);
  if (!entry) return;
  if (entry->events) epoll_ctl(S().poller, EPOLL_CTL_DEL, entry->fd, nullptr);
  if (entry->fd >= 0) close(entry->fd);
  if (entry->kind == Kind::Remote && lost) ++S().lost;
  S().windows.erase(id);
}

const char *RegisteredName(uint32_t message) {
  if (message < EWIN_WM_REGISTERED_FIRST) return nullptr;
  std::size_t index = message - EWIN_WM_REGISTERED_FIRST;
  return index < S().registered.size() ? S().registered[index].c_str() : nullptr;
}

// A memory file holding the bytes, sealed so that nobody can change it any more; -1 on failure.
int SealedMemoryFile(const Memory &memory) {
  int fd = memfd_create("taviron-mapping", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (fd < 0) return -1;
  for (std::size_t done = 0; done < memory.size;) {
    ssize_t n = write(fd, memory.bytes + done, memory.size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      close(fd);
      return -1;
    }
    done += static_cast<std::size_t>(n);
  }
  if (fcntl(fd, F_ADD_SEALS, kRequiredSeals | F_SEAL_SEAL) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// The frame of a message to the process at the other end of the entry. A handle duplicated for
// that process (lParam of a post or send, result of a reply) travels with it, its bytes inside
// the frame or, when they do not fit, in a sealed memory file beside it; `carried` names it (it
// is this process's no longer once the frame is queued). False when the message cannot travel:
// an unregistered id, or a handle of this process that is not meant for that process.
bool BuildFrame(const Entry &to, uint8_t kind, uint32_t seq, uint32_t message, Ewin_Param wParam,
                Ewin_Param lParam, OutFrame &frame, Ewin_Param &carried) {
  carried = 0;
  const char *name = "";
  if (kind != kReply && message >= EWIN_WM_REGISTERED_FIRST) {
    name = RegisteredName(message);
    if (!name) return false;
    message = 0;
  }
  const Memory *memory = nullptr;
  if (HandleEntry *handle = FindHandle(lParam)) {
    if (handle->type != HandleType::Outgoing || handle->pid != to.peerPid) return false;
    memory = handle->memory.get();
    carried = lParam;
    lParam = 0;
  } else if (InHandleRange(lParam)) {
    return false;
  }
  const std::size_t nameLength = std::strlen(name);
  const std::size_t inside = memory && memory->size <= kInlineLimit ? memory->size : 0;
  if (memory && !inside) {
    frame.file = Descriptor(SealedMemoryFile(*memory));
    if (frame.file.get() < 0) return false;
  }
  frame.bytes.resize(kHeaderSize + nameLength + inside);
  unsigned char *p = frame.bytes.data();
  FrameHeader header;
  header.kind = kind;
  header.flags = !memory ? 0 : inside ? kFlagBytes : kFlagHandle;
  header.nameLength = static_cast<uint16_t>(nameLength);
  header.seq = seq;
  header.message = message;
  header.wParam = wParam;
  header.lParam = lParam;
  PutHeader(p, header);
  std::memcpy(p + kHeaderSize, name, nameLength);
  if (inside) std::memcpy(p + kHeaderSize + nameLength, memory->bytes, inside);
  frame.seq = kind == kSend ? seq : 0;
  return true;
}

// Sends what the connection holds, as far as the other end takes it now. False when the
// connection is broken.
bool Flush(Ewin_Window id, Entry &entry) {
  while (!entry.out.empty()) {
    OutFrame &frame = entry.out.front();
    ssize_t sent = SendFrame(entry.fd, frame.bytes.data(), frame.bytes.size(), frame.file.get(),
                             MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      entry.stalled = false;
      break;
    }
    if (sent < 0 && (errno == ENOBUFS || errno == ENOMEM || errno == ETOOMANYREFS)) {
      entry.stalled = true; // the system, not the connection: tried again shortly
      break;
    }
    if (sent != static_cast<ssize_t>(frame.bytes.size())) return false;
    entry.outBytes -= frame.bytes.size();
    entry.out.pop_front();
  }
  if (entry.out.empty()) entry.stalled = false;
  Register(id, entry);
  return true;
}

// Flush, and the end of a connection that is broken.
void FlushOrDrop(Ewin_Window id) {
  Entry *entry = Find(id);
  if (entry && !Flush(id, *entry)) Drop(id);
}

// Queues a frame behind what the connection holds and sends what it can. A bounded frame (a
// post) is refused when the connection already holds kQueueLimit bytes. False when the frame
// was refused or the connection broke (it is then closed).
bool Queue(Ewin_Window id, OutFrame frame, bool bounded) {
  Entry *entry = Find(id);
  if (!entry) return false;
  if (bounded && entry->outBytes + frame.bytes.size() > kQueueLimit) {
    if (!Flush(id, *entry)) {
      Drop(id);
      return false;
    }
    if (entry->outBytes + frame.bytes.size() > kQueueLimit) return false;
  }
  entry->outBytes += frame.bytes.size();
  entry->out.push_back(std::move(frame));
  if (Flush(id, *entry)) return true;
  Drop(id);
  return false;
}

// The mapping of a frame's bytes, or of a sealed memory file that came with it, as a new handle
// of this process; 0 when a file is not sealed against every change or cannot be read.
Ewin_Param ReceivedMapping(const unsigned char *bytes, std::size_t size, int file) {
  if (file >= 0) {
    struct stat st;
    int seals = fcntl(file, F_GET_SEALS);
    if (seals < 0 || (static_cast<unsigned>(seals) & kRequiredSeals) != kRequiredSeals ||
        fstat(file, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 ||
        static_cast<uint64_t>(st.st_size) > UINT32_MAX)
      return 0;
    size = static_cast<std::size_t>(st.st_size);
  }
  MemoryRef memory = NewMemory(size);
  if (!memory) return 0;
  if (file < 0) {
    std::memcpy(memory->bytes, bytes, size);
  } else {
    for (std::size_t done = 0; done < size;) {
      ssize_t n = pread(file, memory->bytes + done, size - done, static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return 0;
      done += static_cast<std::size_t>(n);
    }
  }
  HandleEntry handle;
  handle.memory = std::move(memory);
  return NewHandle(std::move(handle));
}

// Reads one frame. 1: a frame; 0: the connection ended; -1: nothing there; -2: a frame that is
// not one of ours (dropped, descriptors closed).
int ReadFrame(int fd, Frame &frame) {
  unsigned char *buffer = S().receive.data();
  alignas(cmsghdr) char control[CMSG_SPACE(4 * sizeof(int))];
  iovec io{buffer, S().receive.size()};
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

  std::vector<Descriptor> received; // closed on return, whatever came with them
  for (cmsghdr *cm = CMSG_FIRSTHDR(&header); cm; cm = CMSG_NXTHDR(&header, cm)) {
    if (cm->cmsg_level != SOL_SOCKET || cm->cmsg_type != SCM_RIGHTS) continue;
    std::size_t count = (cm->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (std::size_t i = 0; i < count; ++i) {
      int value;
      std::memcpy(&value, CMSG_DATA(cm) + i * sizeof(int), sizeof(int));
      received.emplace_back(value);
    }
  }
  if (got == 0) return 0;
  if ((header.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0) return -2;
  auto length = static_cast<std::size_t>(got);
  if (length < kHeaderSize || GetU32(buffer) != kMagic) return -2;
  frame.kind = buffer[4];
  uint8_t flags = buffer[5];
  std::size_t nameLength = buffer[6] | (static_cast<std::size_t>(buffer[7]) << 8);
  frame.seq = GetU32(buffer + 8);
  frame.message = GetU32(buffer + 12);
  frame.wParam = GetI64(buffer + 16);
  frame.lParam = GetI64(buffer + 24);
  if (frame.kind < kPost || frame.kind > kReply || (flags & ~(kFlagHandle | kFlagBytes)) != 0 ||
      flags == (kFlagHandle | kFlagBytes) || nameLength > kMaxName ||
      length < kHeaderSize + nameLength)
    return -2;
  const std::size_t inside = length - kHeaderSize - nameLength;
  if ((flags & kFlagBytes) ? inside == 0 || inside > kInlineLimit : inside != 0) return -2;
  if ((flags & kFlagHandle) ? received.size() != 1 : !received.empty()) return -2;
  frame.name.assign(reinterpret_cast<const char *>(buffer + kHeaderSize), nameLength);
  if (frame.name.find('\0') != std::string::npos) return -2;
  if (frame.kind == kReply) {
    if (!frame.name.empty() || frame.message != 0) return -2;
  } else if (frame.name.empty() ? frame.message >= EWIN_WM_REGISTERED_FIRST
                                : frame.message != 0) {
    return -2;
  }
  if (flags == 0) {
    // A handle of this process is never named by number from outside.
    if (InHandleRange(frame.lParam)) return -2;
    frame.handle = 0;
    return 1;
  }
  frame.handle = ReceivedMapping(buffer + kHeaderSize + nameLength, inside,
                                 received.empty() ? -1 : received[0].get());
  if (!frame.handle) return -2;
  frame.lParam = frame.handle;
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
  struct Source { // the source of the message while its procedure runs
    Ewin_Window saved = tSource;
    explicit Source(Ewin_Window source) { tSource = source; }
    ~Source() { tSource = saved; }
  } scope(source);
  return proc(target, message, wParam, lParam);
}

// Queues the reply of a send. A result that is a handle meant for the other process travels
// with it; a handle of this process that cannot travel is replaced by 0.
void Reply(Ewin_Window id, uint32_t seq, Ewin_Param result) {
  Entry *entry = Find(id);
  if (!entry) return;
  OutFrame frame;
  Ewin_Param carried = 0;
  if (!BuildFrame(*entry, kReply, seq, 0, 0, result, frame, carried)) {
    if (HandleEntry *handle = FindHandle(result); handle && handle->type == HandleType::Outgoing)
      DropHandle(result); // meant for another process: it has no way there now
    frame = OutFrame();
    BuildFrame(*entry, kReply, seq, 0, 0, 0, frame, carried);
  }
  if (carried) DropHandle(carried);
  Queue(id, std::move(frame), false);
}

// Handles a frame that arrived on connection `id`.
void HandleFrame(Ewin_Window id, Frame &frame) {
  Entry *entry = Find(id);
  Ewin_Window target = entry && entry->kind == Kind::Peer ? entry->owner : 0;
  if (frame.kind == kReply) {
    auto waiting = S().awaited.find(frame.seq);
    if (waiting != S().awaited.end() && waiting->second.window == id &&
        !waiting->second.arrived) {
      waiting->second.arrived = true;
      waiting->second.result = static_cast<Ewin_Param>(frame.lParam);
    } else if (frame.handle) { // late or stray reply
      DropHandle(frame.handle);
    }
    return;
  }
  uint32_t message = ResolveMessage(frame);
  if (message == 0) {
    if (frame.handle) DropHandle(frame.handle);
    return;
  }
  if (frame.kind == kPost) {
    S().queue.push_back(Ewin_Msg{target, message, static_cast<Ewin_Param>(frame.wParam),
                                 static_cast<Ewin_Param>(frame.lParam), id,
                                 entry ? entry->peerPid : 0});
    Wake();
    return;
  }
  Ewin_Param result = CallProc(target, id, message, static_cast<Ewin_Param>(frame.wParam),
                               static_cast<Ewin_Param>(frame.lParam));
  if (Find(id)) { // the procedure may have closed the connection
    Reply(id, frame.seq, result);
  } else if (HandleEntry *handle = FindHandle(result)) {
    if (handle->type == HandleType::Outgoing) DropHandle(result);
  }
}

// Reads what a connection holds, up to a round's share.
void ReadConnection(Ewin_Window id) {
  for (int i = 0; i < kFramesPerRound; ++i) {
    Entry *entry = Find(id);
    if (!entry || entry->senders > 0) return; // a waiting send reads it
    Frame frame;
    int got = ReadFrame(entry->fd, frame);
    if (got == 0) {
      Drop(id);
      return;
    }
    if (got == -1) return;
    if (got == -2) continue;
    HandleFrame(id, frame);
  }
}

// Takes the connections waiting on an endpoint; those of another user are closed unread.
void Accept(Ewin_Window id) {
  for (int i = 0; i < kFramesPerRound; ++i) {
    Entry *listener = Find(id);
    if (!listener) return;
    int fd = accept4(listener->fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        listener->paused = true; // the connection waits in the backlog meanwhile
        listener->resume = Clock::now() + std::chrono::milliseconds(kRetryMs);
        Register(id, *listener);
      }
      return;
    }
    fd = AtLeastThree(fd);
    if (fd < 0) continue;
    int32_t peerPid = ReadyConnection(fd);
    if (!peerPid) {
      close(fd);
      continue;
    }
    Entry peer;
    peer.kind = Kind::Peer;
    peer.fd = fd;
    peer.owner = id;
    peer.peerPid = peerPid;
    AddEntry(std::move(peer));
  }
}

// Retries what the system refused for now; true while something still waits for it.
bool Retry() {
  std::vector<Ewin_Window> ids;
  for (auto &[id, entry] : S().windows)
    if (entry.stalled || entry.paused) ids.push_back(id);
  bool waiting = false;
  for (Ewin_Window id : ids) {
    Entry *entry = Find(id);
    if (!entry) continue;
    if (entry->paused && Clock::now() >= entry->resume) {
      entry->paused = false;
      Register(id, *entry);
    }
    if (entry->stalled) FlushOrDrop(id);
    entry = Find(id);
    waiting = waiting || (entry && (entry->stalled || entry->paused));
  }
  return waiting;
}

// Waits up to timeoutMs (-1: without end) for the connections and endpoints, and handles what
// they have. True when something arrived.
bool Pump(int timeoutMs) {
  State &state = S();
  if (Retry()) timeoutMs = timeoutMs < 0 ? kRetryMs : std::min(timeoutMs, kRetryMs);
  epoll_event events[64];
  int ready;
  ++state.sleepers;
  {
    Unlocked unlocked;
    ready = epoll_wait(state.poller, events, 64, timeoutMs);
  }
  --state.sleepers;
  if (ready <= 0) return false;
  for (int i = 0; i < ready; ++i) {
    auto id = static_cast<Ewin_Window>(events[i].data.u64);
    if (id == 0) {
      uint64_t count;
      ssize_t drained = read(state.wake, &count, sizeof count);
      (void)drained;
      continue;
    }
    Entry *entry = Find(id);
    if (!entry) continue;
    if (entry->kind == Kind::Local) {
      Accept(id);
      continue;
    }
    if (events[i].events & EPOLLOUT) FlushOrDrop(id);
    if (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) ReadConnection(id);
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

void PostLocal(Ewin_Window window, uint32_t message, Ewin_Param wParam, Ewin_Param lParam) {
  S().queue.push_back(Ewin_Msg{window, message, wParam, lParam, 0, ewin_GetCurrentProcessId()});
  Wake();
}

bool ProcessAlive(int pidfd) {
  return syscall(SYS_pidfd_send_signal, pidfd, 0, nullptr, 0) == 0;
}

// Waits until the connections have sent what they hold (they may break meanwhile) or the
// deadline passes.
void Drain(const std::vector<Ewin_Window> &connections, Clock::time_point deadline) {
  for (;;) {
    std::vector<pollfd> fds;
    std::vector<Ewin_Window> ids;
    bool stalled = false;
    for (Ewin_Window id : connections) {
      Entry *entry = Find(id);
      if (!entry || entry->out.empty()) continue;
      fds.push_back(pollfd{entry->fd, static_cast<short>(entry->stalled ? 0 : POLLOUT), 0});
      ids.push_back(id);
      stalled = stalled || entry->stalled;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (fds.empty() || left.count() <= 0) return;
    int wait = static_cast<int>(stalled ? std::min<int64_t>(left.count(), kRetryMs) : left.count());
    {
      Unlocked unlocked;
      poll(fds.data(), fds.size(), wait);
    }
    for (Ewin_Window id : ids) FlushOrDrop(id);
  }
}

// What the process still holds to send goes out before it ends, while the other ends take it.
void FlushAtExit() try {
  Lock lock;
  std::vector<Ewin_Window> connections;
  for (auto &[id, entry] : S().windows)
    if (!entry.out.empty()) connections.push_back(id);
  Drain(connections, Clock::now() + std::chrono::milliseconds(kDrainMs));
} TAVIRON_GUARD_QUIET_VOID

// Names this process published: the descriptor of each file, which holds a shared lock on it
// for as long as the name is published (a name whose file nobody holds locked has no publisher).
std::map<std::string, int> &Published() {
  static auto *published = new std::map<std::string, int>;
  return *published;
}

constexpr std::size_t kMaxPublished = 64u << 20;

// The file of a published name; "" when there is no runtime directory or no name.
std::string PublishedPath(const char *name, bool create) {
  if (!name || !*name) return "";
  std::string dir = RuntimeDirectory();
  if (dir.empty()) return "";
  dir += "/mappings";
  if (create && mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return "";
  return dir + "/" + Encode(name);
}

bool SameFile(int fd, const std::string &path) {
  struct stat held, named;
  return fstat(fd, &held) == 0 && lstat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
         held.st_ino == named.st_ino;
}

// Removes the file at path when it is still the one seen before (device and inode). Endpoints
// appear under their names by rename, so a name that refused a connection a moment ago may hold a
// live window's endpoint now: that one stays.
void UnlinkIfStill(const std::string &path, dev_t dev, ino_t ino) {
  struct stat now;
  if (lstat(path.c_str(), &now) == 0 && now.st_dev == dev && now.st_ino == ino) unlink(path.c_str());
}

// Connects to the endpoint at path; an endpoint that refuses (left behind by a process that
// ended) is removed, unless another has taken its name meanwhile.
int ConnectOrClearStale(const std::string &path, int32_t &peerPid) {
  struct stat seen;
  const bool existed = lstat(path.c_str(), &seen) == 0;
  int fd = ConnectTo(path, peerPid);
  if (fd < 0 && errno == ECONNREFUSED && existed) {
    UnlinkIfStill(path, seen.st_dev, seen.st_ino);
    errno = ECONNREFUSED;
  }
  return fd;
}

} // namespace

extern "C" {

const char *ewin_RuntimeDirectory(void) try {
  Lock lock;
  S().runtimeDirectory = RuntimeDirectory();
  return S().runtimeDirectory.empty() ? nullptr : S().runtimeDirectory.c_str();
} TAVIRON_GUARD_QUIET(nullptr)

uint32_t ewin_RegisterWindowMessage(const char *name) try {
  if (!name || !*name || std::strlen(name) > kMaxName) return 0;
  Lock lock;
  auto &registered = S().registered;
  for (std::size_t i = 0; i < registered.size(); ++i)
    if (registered[i] == name) return EWIN_WM_REGISTERED_FIRST + static_cast<uint32_t>(i);
  if (registered.size() > EWIN_WM_REGISTERED_LAST - EWIN_WM_REGISTERED_FIRST) return 0;
  registered.emplace_back(name);
  return EWIN_WM_REGISTERED_FIRST + static_cast<uint32_t>(registered.size() - 1);
} TAVIRON_GUARD_QUIET(0)

Ewin_Window ewin_CreateWindow(const char *className, const char *title, Ewin_WindowProc proc) try {
  Lock lock;
  std::string path;
  if (!EndpointPath(className, title, path)) return 0;
  int32_t peerPid = 0;
  int existing = ConnectOrClearStale(path, peerPid);
  if (existing >= 0) { // a live window of that name
    close(existing);
    return 0;
  }
  // The endpoint is bound and listening under a temporary name of the folder and then renamed to
  // its own: a peer never finds a name that refuses it while the window is being made (it would
  // take it for stale and remove it).
  static std::atomic<uint32_t> serial{0};
  const std::string dir = path.substr(0, path.rfind('/') + 1);
  const std::string temporary = dir + ".new" + std::to_string(getpid()) + "-" + std::to_string(serial++);
  sockaddr_un address;
  if (!FillAddress(temporary, address)) return 0;
  int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return 0;
  unlink(temporary.c_str()); // one left by an earlier process of this id
  // The folder is this user's alone; the endpoint is made so as well, whatever the umask.
  struct stat endpoint;
  if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
      chmod(temporary.c_str(), 0600) != 0 || listen(fd, SOMAXCONN) != 0 ||
      lstat(temporary.c_str(), &endpoint) != 0 || rename(temporary.c_str(), path.c_str()) != 0) {
    unlink(temporary.c_str());
    close(fd);
    return 0;
  }
  Entry entry;
  entry.kind = Kind::Local;
  entry.fd = AtLeastThree(fd);
  entry.className = className;
  entry.title = title;
  entry.path = path;
  entry.endpointDev = endpoint.st_dev;
  entry.endpointIno = endpoint.st_ino;
  entry.proc = proc;
  return AddEntry(std::move(entry));
} TAVIRON_GUARD_QUIET(0)

int32_t ewin_DestroyWindow(Ewin_Window window) try {
  Lock lock;
  Entry *entry = Find(window);
  if (!entry) return 0;
  if (entry->kind == Kind::Local) {
    UnlinkIfStill(entry->path, entry->endpointDev, entry->endpointIno);
    Drop(window);
    // Its connections and the messages queued for it go with it.
    std::vector<Ewin_Window> peers;
    for (auto &[id, other] : S().windows)
      if (other.kind == Kind::Peer && other.owner == window) peers.push_back(id);
    for (Ewin_Window id : peers) Drop(id);
    auto &queue = S().queue;
    for (auto it = queue.begin(); it != queue.end();)
      it = it->window == window ? queue.erase(it) : it + 1;
    return 1;
  }
  // What was posted through it goes out first, while the other end takes it.
  Drain({window}, Clock::now() + std::chrono::milliseconds(kDrainMs));
  Drop(window, false);
  return 1;
} TAVIRON_GUARD_QUIET(0)

Ewin_Window ewin_FindWindow(const char *className, const char *title) try {
  if (!className || !*className) return 0;
  Lock lock;
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
  Entry entry;
  entry.fd = ConnectOrClearStale(path, entry.peerPid);
  if (entry.fd < 0) return 0;
  entry.kind = Kind::Remote;
  entry.className = className;
  entry.title = title;
  entry.path = path;
  return AddEntry(std::move(entry));
} TAVIRON_GUARD_QUIET(0)

int32_t ewin_GetWindowText(Ewin_Window window, char *buffer, int32_t size) try {
  if (!buffer || size <= 0) return 0;
  Lock lock;
  Entry *entry = Find(window);
  buffer[0] = '\0';
  if (!entry) return 0;
  std::size_t n = std::min(entry->title.size(), static_cast<std::size_t>(size - 1));
  std::memcpy(buffer, entry->title.data(), n);
  buffer[n] = '\0';
  return static_cast<int32_t>(n);
} TAVIRON_GUARD_QUIET(0)

int32_t ewin_IsWindow(Ewin_Window window) try {
  Lock lock;
  return Find(window) != nullptr;
} TAVIRON_GUARD_QUIET(0)

int32_t ewin_GetWindowThreadProcessId(Ewin_Window window, int32_t *processId) try {
  Lock lock;
  Entry *entry = Find(window);
  int32_t pid = !entry ? 0 : entry->kind == Kind::Local ? ewin_GetCurrentProcessId()
                                                          : entry->peerPid;
  if (processId) *processId = pid;
  return pid;
} TAVIRON_GUARD_QUIET(0)

int32_t ewin_PostMessage(Ewin_Window window, uint32_t message, Ewin_Param wParam,
                         Ewin_Param lParam) try {
  if (message == 0) return 0;
  Lock lock;
  if (window == 0) {
    PostLocal(0, message, wParam, lParam);
    return 1;
  }
  Entry *entry = Find(window);
  if (!entry) return 0;
  if (entry->kind == Kind::Local) {
    PostLocal(window, message, wParam, lParam);
    return 1;
  }
  OutFrame frame;
  Ewin_Param carried = 0;
  if (!BuildFrame(*entry, kPost, 0, message, wParam, lParam, frame, carried)) return 0;
  if (!Queue(window, std::move(frame), true)) return 0;
  if (carried) DropHandle(carried);
  return 1;
} TAVIRON_GUARD_QUIET(0)

int32_t ewin_SendMessageTimeout(Ewin_Window window, uint32_t message, Ewin_Param wParam,
                                Ewin_Param lParam, uint32_t flags, uint32_t timeoutMs,
                                Ewin_Param *result) try {
  (void)flags; // a send always waits on its own connection only
  if (result) *result = 0;
  Lock lock;
  Entry *entry = Find(window);
  if (!entry || message == 0) return 0;
  if (entry->kind == Kind::Local) {
    Ewin_Param value = CallProc(window, 0, message, wParam, lParam);
    if (result) *result = value;
    return 1;
  }
  State &state = S();
  uint32_t seq = state.nextSeq++;
  if (seq == 0) seq = state.nextSeq++;
  OutFrame frame;
  Ewin_Param carried = 0;
  if (!BuildFrame(*entry, kSend, seq, message, wParam, lParam, frame, carried)) return 0;
  state.awaited[seq] = Awaited{window, false, 0};
  ++entry->senders;
  Register(window, *entry);
  bool sent = Queue(window, std::move(frame), false);
  if (sent && carried) DropHandle(carried);

  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (sent && !state.awaited[seq].arrived) {
    entry = Find(window);
    if (!entry) break;
    int wait = -1;
    if (timeoutMs != 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) break;
      wait = static_cast<int>(std::min<int64_t>(left.count() + 1, 1 << 30));
    }
    if (entry->senders > 1 || entry->stalled) // another send may take our reply; or a retry
      wait = wait < 0 ? kRetryMs : std::min(wait, kRetryMs);
    bool sending = !entry->out.empty() && !entry->stalled;
    pollfd fd{entry->fd, static_cast<short>(POLLIN | (sending ? POLLOUT : 0)), 0};
    int ready;
    {
      Unlocked unlocked;
      ready = poll(&fd, 1, wait);
    }
    if (ready < 0 && errno != EINTR) break;
    entry = Find(window);
    if (!entry) break;
    if (entry->stalled || (fd.revents & POLLOUT)) {
      if (!Flush(window, *entry)) {
        Drop(window);
        break;
      }
    }
    if (!(fd.revents & (POLLIN | POLLHUP | POLLERR))) continue;
    for (int i = 0; i < kFramesPerRound && !state.awaited[seq].arrived; ++i) {
      entry = Find(window);
      if (!entry) break;
      Frame reply;
      int got = ReadFrame(entry->fd, reply);
      if (got == 0) Drop(window);
      if (got == 0 || got == -1) break;
      if (got == 1) HandleFrame(window, reply);
    }
  }

  Awaited outcome = state.awaited[seq];
  state.awaited.erase(seq);
  if (Entry *still = Find(window)) {
    --still->senders;
    if (!outcome.arrived) { // a send that has not left yet is withdrawn
      auto &out = still->out;
      auto it = std::find_if(out.begin(), out.end(),
                             [seq](const OutFrame &queued) { return queued.seq == seq; });
      if (it != out.end()) {
        still->outBytes -= it->bytes.size();
        out.erase(it);
      }
    }
    Register(window, *still);
    if (still->senders == 0 && (still->events & EPOLLIN)) Wake(); // others may read it again
  }
  if (!outcome.arrived) return 0;
  if (result) *result = outcome.result;
  return 1;
} TAVIRON_GUARD_QUIET(0)

Ewin_Param ewin_SendMessage(Ewin_Window window, uint32_t message, Ewin_Param wParam,
                            Ewin_Param lParam) try {
  Ewin_Param result = 0;
  ewin_SendMessageTimeout(window, message, wParam, lParam, 0, 0, &result);
  return result;
} TAVIRON_GUARD_QUIET(0)

Ewin_Window ewin_GetMessageSource(void) try { return tSource; } TAVIRON_GUARD_QUIET(0)

int32_t ewin_GetMessage(Ewin_Msg *msg, Ewin_Window window, uint32_t first, uint32_t last) try {
  Lock lock;
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
  Lock lock;
  for (int round = 0; round < 256 && Pump(0); ++round) {
  }
  return TakeFromQueue(msg, window, first, last, remove == EWIN_PM_REMOVE) ? 1 : 0;
} TAVIRON_GUARD_QUIET(0)

int32_t ewin_TranslateMessage(const Ewin_Msg *) try { return 0; } TAVIRON_GUARD_QUIET(0)

Ewin_Param ewin_DispatchMessage(const Ewin_Msg *msg) try {
  if (!msg) return 0;
  Lock lock;
  return CallProc(msg->window, msg->source, msg->message, msg->wParam, msg->lParam);
} TAVIRON_GUARD_QUIET(0)

void ewin_PostQuitMessage(int32_t exitCode) try {
  Lock lock;
  PostLocal(0, EWIN_WM_QUIT, exitCode, 0);
} TAVIRON_GUARD_QUIET_VOID

Ewin_Handle ewin_CreateFileMapping(uint32_t size) try {
  if (size == 0) return 0;
  Lock lock;
  HandleEntry handle;
  handle.memory = NewMemory(size);
  return handle.memory ? NewHandle(std::move(handle)) : 0;
} TAVIRON_GUARD_QUIET(0)

int64_t ewin_GetFileMappingSize(Ewin_Handle mapping) try {
  Lock lock;
  HandleEntry *handle = FindHandle(mapping);
  if (!handle || handle->type != HandleType::Mapping) return -1;
  return static_cast<int64_t>(handle->memory->size);
} TAVIRON_GUARD_QUIET(-1)

void *ewin_MapViewOfFile(Ewin_Handle mapping) try {
  Lock lock;
  HandleEntry *handle = FindHandle(mapping);
  if (!handle || handle->type != HandleType::Mapping) return nullptr;
  auto &view = S().views[handle->memory->bytes];
  view.first = handle->memory;
  ++view.second;
  return handle->memory->bytes;
} TAVIRON_GUARD_QUIET(nullptr)

int32_t ewin_UnmapViewOfFile(const void *view) try {
  Lock lock;
  auto it = S().views.find(view);
  if (it == S().views.end()) return 0;
  if (--it->second.second == 0) S().views.erase(it);
  return 1;
} TAVIRON_GUARD_QUIET(0)

int32_t ewin_GetCurrentProcessId(void) try {
  // Asked for every message; kept until a fork makes another process.
  static std::atomic<int32_t> known{0};
  static const bool forgetOnFork = pthread_atfork(nullptr, nullptr, [] { known = 0; }) == 0;
  (void)forgetOnFork;
  int32_t pid = known.load(std::memory_order_relaxed);
  if (!pid) known.store(pid = static_cast<int32_t>(getpid()), std::memory_order_relaxed);
  return pid;
} TAVIRON_GUARD_QUIET(0)

Ewin_Handle ewin_OpenProcess(int32_t processId) try {
  if (processId <= 0) return 0;
  int fd = AtLeastThree(static_cast<int>(syscall(SYS_pidfd_open, processId, 0)));
  if (fd < 0) return 0;
  fcntl(fd, F_SETFD, FD_CLOEXEC);
  Lock lock;
  HandleEntry handle;
  handle.type = HandleType::Process;
  handle.pidfd = fd;
  handle.pid = processId;
  return NewHandle(std::move(handle));
} TAVIRON_GUARD_QUIET(0)

int32_t ewin_DuplicateHandle(Ewin_Handle handle, Ewin_Handle process, Ewin_Handle *duplicate) try {
  if (duplicate) *duplicate = 0;
  Lock lock;
  HandleEntry *target = FindHandle(process);
  HandleEntry *source = FindHandle(handle);
  if (!duplicate || !target || target->type != HandleType::Process || !source ||
      source->type == HandleType::Outgoing || !ProcessAlive(target->pidfd))
    return 0;
  HandleEntry copy;
  if (target->pid == ewin_GetCurrentProcessId()) {
    copy.type = source->type;
    copy.memory = source->memory;
    copy.pid = source->pid;
    if (source->type == HandleType::Process &&
        (copy.pidfd = fcntl(source->pidfd, F_DUPFD_CLOEXEC, 3)) < 0)
      return 0;
  } else {
    if (source->type != HandleType::Mapping) return 0;
    copy.type = HandleType::Outgoing;
    copy.memory = source->memory;
    copy.pid = target->pid;
  }
  *duplicate = NewHandle(std::move(copy));
  return 1;
} TAVIRON_GUARD_QUIET(0)

int32_t ewin_CloseHandle(Ewin_Handle handle) try {
  Lock lock;
  return DropHandle(handle) ? 1 : 0;
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

int32_t ewin_PublishFileMapping(Ewin_Handle mapping, const char *name) try {
  Lock lock;
  HandleEntry *handle = FindHandle(mapping);
  std::string path = PublishedPath(name, true);
  if (!handle || handle->type != HandleType::Mapping || path.empty() || !handle->memory->size)
    return 0;
  std::string temporary = path + ".XXXXXX";
  int fd = AtLeastThree(mkostemp(temporary.data(), O_CLOEXEC));
  if (fd < 0) return 0;
  bool written = flock(fd, LOCK_SH) == 0;
  for (std::size_t done = 0; written && done < handle->memory->size;) {
    ssize_t n = write(fd, handle->memory->bytes + done, handle->memory->size - done);
    if (n < 0 && errno == EINTR) continue;
    written = n > 0;
    if (written) done += static_cast<std::size_t>(n);
  }
  if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
    unlink(temporary.c_str());
    close(fd);
    return 0;
  }
  auto [it, added] = Published().emplace(path, fd);
  if (!added) {
    close(it->second);
    it->second = fd;
  }
  return 1;
} TAVIRON_GUARD_QUIET(0)

int32_t ewin_WithdrawFileMapping(const char *name) try {
  Lock lock;
  auto it = Published().find(PublishedPath(name, false));
  if (it == Published().end()) return 0;
  if (SameFile(it->second, it->first)) unlink(it->first.c_str());
  close(it->second);
  Published().erase(it);
  return 1;
} TAVIRON_GUARD_QUIET(0)

Ewin_Handle ewin_OpenFileMapping(const char *name) try {
  std::string path = PublishedPath(name, false);
  if (path.empty()) return 0;
  Descriptor file(AtLeastThree(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC)));
  struct stat st;
  if (file.get() < 0 || fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      st.st_uid != geteuid() || st.st_size <= 0 ||
      static_cast<uint64_t>(st.st_size) > kMaxPublished)
    return 0;
  // A file nobody holds locked was left by a process that has ended.
  if (flock(file.get(), LOCK_EX | LOCK_NB) == 0) return 0;
  MemoryRef memory = NewMemory(static_cast<std::size_t>(st.st_size));
  if (!memory) return 0;
  for (std::size_t done = 0; done < memory->size;) {
    ssize_t n = pread(file.get(), memory->bytes + done, memory->size - done,
                      static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 0;
    done += static_cast<std::size_t>(n);
  }
  Lock lock;
  HandleEntry handle;
  handle.memory = std::move(memory);
  return NewHandle(std::move(handle));
} TAVIRON_GUARD_QUIET(0)

} // extern "C"
