// Log records per second from 1, 16 and 64 client processes to a session manager that counts
// them, beside the same packet bytes sent over plain local sockets to a reader that counts them
// (the ceiling the kernel allows). Every iteration starts the manager and the clients afresh:
// the clients connect, wait for the start, post their share and end; the time runs from the
// start to the manager's last record.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "esmg.h"
#include "ewin.h"

namespace {

constexpr int kRecords = 64000; // per iteration, shared out between the clients

// The runtime folder and session manager name of this benchmark process.
struct Place {
  std::string dir;
  Place() {
    char pattern[] = "/tmp/esmg_bench_XXXXXX";
    if (!mkdtemp(pattern)) std::abort();
    dir = pattern;
    setenv("TAVIRON_RUNTIME_DIR", dir.c_str(), 1);
    setenv("TAVIRON_SESSION_MANAGER_NAME", ("bench" + std::to_string(getpid())).c_str(), 1);
    unsetenv("TAVIRON_BATCH_RUN");
  }
  ~Place() { std::system(("rm -rf '" + dir + "'").c_str()); }
};

const Place &ThePlace() {
  static Place place;
  return place;
}

void WriteByte(int fd) {
  char c = 1;
  if (write(fd, &c, 1) != 1) _exit(9);
}

bool ReadByte(int fd) {
  char c;
  return read(fd, &c, 1) == 1;
}

// Runs body in a child process that ends with its result.
template <typename Body> pid_t Child(Body body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}

// The manager of the library: answers the process-id request and the connect, refuses waiting
// sends, and counts the log records (type 6) until all have come.
Ewin_Param ManagerProcedure(Ewin_Window, uint32_t message, Ewin_Param, Ewin_Param lParam) {
  if (message == ewin_RegisterWindowMessage("NORIX_SM_PROCESS")) return ewin_GetCurrentProcessId();
  if (message == ewin_RegisterWindowMessage("NORIX_SM_CONNECT") ||
      message == ewin_RegisterWindowMessage("NORIX_SM_PACKET_DATA_WAIT")) {
    ewin_CloseHandle(lParam);
    return message == ewin_RegisterWindowMessage("NORIX_SM_CONNECT") ? 1 : 0;
  }
  return 0;
}

int CountingManager(int records, int ready, int done) {
  esmg_SessionCreate();
  esmg_SetSessionIsStarted(1);
  if (!ewin_CreateWindow(ESMG_SESSION_MANAGER_CLASS, esmg_GetSessionManagerName(),
                         ManagerProcedure))
    return 3;
  WriteByte(ready);
  for (int count = 0; count < records;) {
    Esmg_Protocol *record = esmg_WaitForProtocol(0, ESMG_PROTOCOL_ANY);
    if (!record) continue;
    count += record->type == 6;
    esmg_FreeProtocol(record);
  }
  WriteByte(done);
  return 0;
}

int LibraryClient(int records, int ready, int go) {
  Eerr_ErrorReport *err = nullptr;
  esmg_SessionConnect("bench client", ESMG_CONNECT_APPLICATION, &err);
  if (err || !esmg_SessionIsStarted()) return 4;
  WriteByte(ready);
  char c;
  if (read(go, &c, 1) != 0) return 5;
  for (int i = 0; i < records; ++i) esmg_LogMessage(1, nullptr, "record %d of the benchmark", i);
  esmg_SessionDisconnect(nullptr); // sends what it still holds
  return 0;
}

// The reference: a reader of plain local sockets counting the frames.
std::string RawPath() { return ThePlace().dir + "/raw.socket"; }

int CountingReader(int records, int ready, int done) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", RawPath().c_str());
  unlink(address.sun_path);
  int listener = socket(AF_UNIX, SOCK_SEQPACKET, 0);
  if (bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
      listen(listener, 128) != 0)
    return 3;
  int poller = epoll_create1(0);
  epoll_event event{EPOLLIN, {.fd = listener}};
  epoll_ctl(poller, EPOLL_CTL_ADD, listener, &event);
  WriteByte(ready);
  unsigned char buffer[4096];
  for (int count = 0; count < records;) {
    epoll_event events[64];
    int n = epoll_wait(poller, events, 64, -1);
    for (int i = 0; i < n; ++i) {
      int fd = events[i].data.fd;
      if (fd == listener) {
        int client = accept(listener, nullptr, nullptr);
        epoll_event added{EPOLLIN, {.fd = client}};
        epoll_ctl(poller, EPOLL_CTL_ADD, client, &added);
        continue;
      }
      ssize_t got = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (got == 0) {
        epoll_ctl(poller, EPOLL_CTL_DEL, fd, nullptr);
        close(fd);
      } else if (got > 0 && buffer[4] == 6) {
        ++count;
      }
    }
  }
  WriteByte(done);
  return 0;
}

int RawClient(int records, int ready, int go) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", RawPath().c_str());
  int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
  if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) return 4;
  WriteByte(ready);
  char c;
  if (read(go, &c, 1) != 0) return 5;
  for (int i = 0; i < records; ++i) {
    char text[64];
    std::snprintf(text, sizeof text, "record %d of the benchmark", i);
    Esmg_Protocol *record = esmg_AssembleProtocol(6, 1, text);
    Esmg_Packet *packet = esmg_BuildProtocolPacket(0, record);
    if (send(fd, packet->buffer, static_cast<size_t>(packet->position), 0) < 0) return 6;
    esmg_FreePacket(packet);
    esmg_FreeProtocol(record);
  }
  return 0;
}

using Role = int (*)(int records, int first, int second);

// One run: the counter, then the clients; the time from the start to the last record counted.
double Run(Role counter, Role client, int clients) {
  ThePlace();
  const int each = kRecords / clients;
  int ready[2], done[2], go[2];
  if (pipe(ready) || pipe(done) || pipe(go)) std::abort();
  std::vector<pid_t> children;
  children.push_back(Child([&] {
    close(go[1]);
    return counter(each * clients, ready[1], done[1]);
  }));
  if (!ReadByte(ready[0])) std::abort();
  for (int i = 0; i < clients; ++i)
    children.push_back(Child([&] {
      close(go[1]);
      return client(each, ready[1], go[0]);
    }));
  for (int i = 0; i < clients; ++i)
    if (!ReadByte(ready[0])) std::abort();
  auto start = std::chrono::steady_clock::now();
  close(go[1]);
  bool finished = ReadByte(done[0]);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  for (pid_t child : children) {
    if (!finished) kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
  }
  for (int fd : {ready[0], ready[1], done[0], done[1], go[0]}) close(fd);
  if (!finished) std::abort();
  return seconds;
}

void Measure(benchmark::State &state, Role counter, Role client) {
  const int clients = static_cast<int>(state.range(0));
  const int records = kRecords / clients * clients;
  for (auto _ : state) state.SetIterationTime(Run(counter, client, clients));
  state.SetItemsProcessed(state.iterations() * records); // items_per_second: records per second
}

void BM_SessionManagerRecords(benchmark::State &state) {
  Measure(state, CountingManager, LibraryClient);
}
BENCHMARK(BM_SessionManagerRecords)->Arg(1)->Arg(16)->Arg(64)->UseManualTime()->Iterations(3)
    ->Unit(benchmark::kMillisecond);

void BM_PlainSocketRecords(benchmark::State &state) {
  Measure(state, CountingReader, RawClient);
}
BENCHMARK(BM_PlainSocketRecords)->Arg(1)->Arg(16)->Arg(64)->UseManualTime()->Iterations(3)
    ->Unit(benchmark::kMillisecond);

} // namespace
