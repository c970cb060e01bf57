#include "taviron_testing.h"
#include "ewin.h"

#include <filesystem>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ewin_frame.h"
#include "ordinary_user.h"

namespace {

// Each test gets its own runtime directory.
class Ewin : public ::testing::Test {
protected:
  void SetUp() override {
    setenv("TAVIRON_RUNTIME_DIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    for (pid_t child : children_) {
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);
    }
  }
  // Runs body in a child process; its exit code is body's result.
  pid_t Child(const std::function<int()> &body) {
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    children_.push_back(pid);
    return pid;
  }
  int Wait(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    children_.erase(std::remove(children_.begin(), children_.end(), pid), children_.end());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // The window of another process once it exists (up to 5 s).
  static Ewin_Window Await(const char *className, const char *title) {
    for (int i = 0; i < 500; ++i) {
      if (Ewin_Window w = ewin_FindWindow(className, title)) return w;
      usleep(10000);
    }
    return 0;
  }
  const taviron::testing::TempDir folder_{"ewin"};
  const std::string dir_ = folder_.str();
  std::vector<pid_t> children_;
};

std::string ReadMapping(Ewin_Handle mapping) {
  int64_t size = ewin_GetFileMappingSize(mapping);
  auto *view = static_cast<const char *>(ewin_MapViewOfFile(mapping));
  if (!view || size <= 0) return "<unmappable>";
  std::string text(view, strnlen(view, static_cast<size_t>(size)));
  ewin_UnmapViewOfFile(view);
  return text;
}

Ewin_Handle MappingWith(const std::string &text) {
  Ewin_Handle mapping = ewin_CreateFileMapping(static_cast<uint32_t>(text.size() + 1));
  if (!mapping) return 0;
  auto *view = static_cast<char *>(ewin_MapViewOfFile(mapping));
  std::memcpy(view, text.c_str(), text.size() + 1);
  ewin_UnmapViewOfFile(view);
  return mapping;
}

TEST_F(Ewin, RegisteredMessagesAreStablePerName) {
  uint32_t a = ewin_RegisterWindowMessage("TEST_A");
  uint32_t b = ewin_RegisterWindowMessage("TEST_B");
  EXPECT_GE(a, EWIN_WM_REGISTERED_FIRST);
  EXPECT_NE(a, b);
  EXPECT_EQ(ewin_RegisterWindowMessage("TEST_A"), a);
  EXPECT_EQ(ewin_RegisterWindowMessage(nullptr), 0u);
  EXPECT_EQ(ewin_RegisterWindowMessage(""), 0u);
  EXPECT_EQ(ewin_RegisterWindowMessage(std::string(256, 'x').c_str()), 0u);
}

TEST_F(Ewin, RuntimeDirectoryFallsBackAndRefusesForeignFolders) {
  std::string nested = dir_ + "/a/b";
  setenv("TAVIRON_RUNTIME_DIR", nested.c_str(), 1);
  ASSERT_NE(ewin_RuntimeDirectory(), nullptr);
  EXPECT_EQ(std::string(ewin_RuntimeDirectory()), nested);

  unsetenv("TAVIRON_RUNTIME_DIR");
  setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
  EXPECT_EQ(std::string(ewin_RuntimeDirectory()), dir_ + "/taviron");

  unsetenv("XDG_RUNTIME_DIR");
  setenv("TMPDIR", dir_.c_str(), 1);
  std::string own = dir_ + "/taviron-" + std::to_string(getuid());
  ASSERT_NE(ewin_RuntimeDirectory(), nullptr);
  EXPECT_EQ(std::string(ewin_RuntimeDirectory()), own);
  struct stat st;
  ASSERT_EQ(stat(own.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // A per-user folder that others can enter is not used.
  chmod(own.c_str(), 0755);
  EXPECT_EQ(ewin_RuntimeDirectory(), nullptr);
  unsetenv("TMPDIR");
}

TEST_F(Ewin, WindowsAreFoundByClassAndTitle) {
  Ewin_Window w = ewin_CreateWindow("cls", "odd title/with.dots", nullptr);
  ASSERT_NE(w, 0);
  EXPECT_EQ(ewin_FindWindow("cls", "odd title/with.dots"), w);
  EXPECT_EQ(ewin_FindWindow("cls", nullptr), w);
  EXPECT_EQ(ewin_FindWindow("cls", "other"), 0);
  EXPECT_EQ(ewin_FindWindow("other", nullptr), 0);
  EXPECT_EQ(ewin_CreateWindow("cls", "odd title/with.dots", nullptr), 0); // live already
  char title[8];
  EXPECT_EQ(ewin_GetWindowText(w, title, sizeof title), 7);
  EXPECT_STREQ(title, "odd tit");
  // Over-long names do not fit an endpoint.
  EXPECT_EQ(ewin_CreateWindow("cls", std::string(200, 't').c_str(), nullptr), 0);

  // Another process finds it by class alone, and sees its title.
  pid_t child = Child([] {
    Ewin_Window found = ewin_FindWindow("cls", nullptr);
    char text[64];
    ewin_GetWindowText(found, text, sizeof text);
    return found != 0 && std::string(text) == "odd title/with.dots" ? 0 : 1;
  });
  EXPECT_EQ(Wait(child), 0);
  EXPECT_EQ(ewin_DestroyWindow(w), 1);
  EXPECT_EQ(ewin_FindWindow("cls", nullptr), 0);
  EXPECT_EQ(ewin_IsWindow(w), 0);
}

TEST_F(Ewin, StaleEndpointsAreRemoved) {
  std::string path = dir_ + "/cls.gone";
  int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, path.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  close(fd); // no listener: what a crashed process leaves
  EXPECT_EQ(ewin_FindWindow("cls", "gone"), 0);
  EXPECT_NE(access(path.c_str(), F_OK), 0);

  fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  close(fd);
  Ewin_Window w = ewin_CreateWindow("cls", "gone", nullptr);
  EXPECT_NE(w, 0);
  ewin_DestroyWindow(w);
}

// A window being made is never taken for a stale one: a peer looking for it while it comes up
// either misses it or finds it, and never removes its endpoint.
TEST_F(Ewin, WindowsComingUpAreNeverRemovedAsStale) {
  constexpr int kWindows = 300;
  pid_t maker = Child([] {
    for (int i = 0; i < kWindows; ++i)
      if (!ewin_CreateWindow("up", std::to_string(i).c_str(), nullptr)) return 1;
    pause();
    return 0;
  });
  for (int i = 0; i < kWindows; ++i) {
    const std::string title = std::to_string(i);
    Ewin_Window found = 0;
    for (int tries = 0; !found && tries < 2000; ++tries) {
      found = ewin_FindWindow("up", title.c_str());
      if (!found) usleep(100);
    }
    ASSERT_NE(found, 0) << "window " << i << " was never found";
  }
  for (int i = 0; i < kWindows; ++i)
    EXPECT_EQ(access((dir_ + "/up." + std::to_string(i)).c_str(), F_OK), 0) << i;
  kill(maker, SIGKILL);
  Wait(maker);
}

TEST_F(Ewin, LocalQueueFiltersPeeksAndDispatches) {
  static int calls = 0;
  Ewin_Window w = ewin_CreateWindow("cls", "local", [](Ewin_Window, uint32_t m, Ewin_Param wp,
                                                       Ewin_Param) -> Ewin_Param {
    ++calls;
    return m == EWIN_WM_USER ? wp * 2 : 0;
  });
  ASSERT_NE(w, 0);
  EXPECT_EQ(ewin_SendMessage(w, EWIN_WM_USER, 21, 0), 42);
  EXPECT_EQ(ewin_PostMessage(w, EWIN_WM_USER + 1, 1, 0), 1);
  EXPECT_EQ(ewin_PostMessage(0, EWIN_WM_USER + 2, 2, 0), 1);
  EXPECT_EQ(ewin_PostMessage(w, EWIN_WM_USER, 3, 0), 1);

  Ewin_Msg msg{};
  EXPECT_EQ(ewin_PeekMessage(&msg, 0, EWIN_WM_USER + 5, EWIN_WM_USER + 9, EWIN_PM_REMOVE), 0);
  EXPECT_EQ(ewin_PeekMessage(&msg, 0, EWIN_WM_USER + 2, EWIN_WM_USER + 2, EWIN_PM_NOREMOVE), 1);
  EXPECT_EQ(msg.wParam, 2);
  // A window filter skips thread messages; the range picks the third message before the first.
  ASSERT_EQ(ewin_GetMessage(&msg, w, EWIN_WM_USER, EWIN_WM_USER), 1);
  EXPECT_EQ(msg.wParam, 3);
  EXPECT_EQ(msg.window, w);
  calls = 0;
  EXPECT_EQ(ewin_DispatchMessage(&msg), 6);
  EXPECT_EQ(calls, 1);
  ASSERT_EQ(ewin_GetMessage(&msg, 0, 0, 0), 1);
  EXPECT_EQ(msg.message, EWIN_WM_USER + 1);
  ASSERT_EQ(ewin_GetMessage(&msg, 0, 0, 0), 1);
  EXPECT_EQ(msg.message, EWIN_WM_USER + 2);
  // WM_QUIT passes every filter and ends the loop with 0.
  ewin_PostQuitMessage(7);
  EXPECT_EQ(ewin_GetMessage(&msg, 0, EWIN_WM_USER, EWIN_WM_USER), 0);
  EXPECT_EQ(msg.wParam, 7);
  ewin_DestroyWindow(w);
}

TEST_F(Ewin, NothingToWaitForFails) {
  Ewin_Msg msg{};
  EXPECT_EQ(ewin_GetMessage(&msg, 0, 0, 0), -1);
}

// The other process: a window answering sends and echoing posts back to their source with a
// mapping duplicated into the sender.
int EchoServer() {
  static uint32_t echo = ewin_RegisterWindowMessage("ECHO");
  static uint32_t read = ewin_RegisterWindowMessage("READ_AND_ANSWER");
  static uint32_t quit = ewin_RegisterWindowMessage("QUIT_NOW");
  Ewin_Window w = ewin_CreateWindow("srv", "echo", [](Ewin_Window, uint32_t m, Ewin_Param wp,
                                                      Ewin_Param lp) -> Ewin_Param {
    if (m == read) {
      // lParam: a mapping valid here; answer with a mapping duplicated into the sender (wParam).
      std::string text = ReadMapping(lp);
      ewin_CloseHandle(lp);
      Ewin_Handle answer = MappingWith("got " + text);
      Ewin_Handle sender = ewin_OpenProcess(static_cast<int32_t>(wp));
      Ewin_Handle dup = 0;
      ewin_DuplicateHandle(answer, sender, &dup);
      ewin_CloseHandle(answer);
      ewin_CloseHandle(sender);
      return dup;
    }
    return wp + 1;
  });
  if (!w) return 2;
  Ewin_Msg msg;
  while (ewin_GetMessage(&msg, 0, 0, 0) > 0) {
    if (msg.message == quit) return 0;
    if (msg.message == echo) {
      std::string text = ReadMapping(msg.lParam);
      ewin_CloseHandle(msg.lParam);
      Ewin_Handle answer = MappingWith("echo " + text);
      Ewin_Handle sender = ewin_OpenProcess(static_cast<int32_t>(msg.wParam));
      Ewin_Handle dup = 0;
      ewin_DuplicateHandle(answer, sender, &dup);
      ewin_PostMessage(msg.source, echo, 0, dup);
      ewin_CloseHandle(answer);
      ewin_CloseHandle(sender);
    }
  }
  return 3;
}

TEST_F(Ewin, MessagesAndMappingsCrossProcesses) {
  pid_t server = Child(EchoServer);
  Ewin_Window w = Await("srv", "echo");
  ASSERT_NE(w, 0);
  EXPECT_EQ(ewin_SendMessage(w, EWIN_WM_USER, 41, 0), 42);

  // Registered ids differ between the processes: the name is what travels.
  ewin_RegisterWindowMessage("SOMETHING_ELSE_FIRST");
  uint32_t read = ewin_RegisterWindowMessage("READ_AND_ANSWER");
  uint32_t echo = ewin_RegisterWindowMessage("ECHO");
  Ewin_Handle serverProcess = ewin_OpenProcess(server);
  ASSERT_NE(serverProcess, 0);

  Ewin_Handle mapping = MappingWith("hello");
  Ewin_Handle dup = 0;
  ASSERT_NE(ewin_DuplicateHandle(mapping, serverProcess, &dup), 0);
  ewin_CloseHandle(mapping);
  Ewin_Param answer = 0;
  ASSERT_NE(ewin_SendMessageTimeout(w, read, ewin_GetCurrentProcessId(), dup, EWIN_SMTO_BLOCK,
                                    5000, &answer),
            0);
  EXPECT_EQ(ReadMapping(answer), "got hello");
  ewin_CloseHandle(answer);

  mapping = MappingWith("posted");
  ASSERT_NE(ewin_DuplicateHandle(mapping, serverProcess, &dup), 0);
  ewin_CloseHandle(mapping);
  ASSERT_EQ(ewin_PostMessage(w, echo, ewin_GetCurrentProcessId(), dup), 1);
  Ewin_Msg msg{};
  ASSERT_EQ(ewin_GetMessage(&msg, 0, echo, echo), 1);
  EXPECT_EQ(msg.source, w);
  EXPECT_EQ(ReadMapping(msg.lParam), "echo posted");
  ewin_CloseHandle(msg.lParam);

  ASSERT_EQ(ewin_PostMessage(w, ewin_RegisterWindowMessage("QUIT_NOW"), 0, 0), 1);
  EXPECT_EQ(Wait(server), 0);
  // The server is gone: the connection is lost, sends and waits fail at once, and a handle
  // cannot be duplicated into the ended process.
  EXPECT_EQ(ewin_GetMessage(&msg, 0, 0, 0), -1);
  EXPECT_EQ(ewin_SendMessage(w, EWIN_WM_USER, 1, 0), 0);
  mapping = MappingWith("late");
  EXPECT_EQ(ewin_DuplicateHandle(mapping, serverProcess, &dup), 0);
  ewin_CloseHandle(mapping);
  ewin_CloseHandle(serverProcess);
  EXPECT_EQ(ewin_FindWindow("srv", "echo"), 0);
}

TEST_F(Ewin, PeerThatDiesEndsWaitsWithoutHanging) {
  // The server takes the send and ends without answering.
  pid_t server = Child([] {
    if (!ewin_CreateWindow("srv", "dies", [](Ewin_Window, uint32_t, Ewin_Param,
                                             Ewin_Param) -> Ewin_Param { _exit(0); }))
      return 2;
    Ewin_Msg msg;
    while (ewin_GetMessage(&msg, 0, 0, 0) > 0) {
    }
    return 3;
  });
  Ewin_Window w = Await("srv", "dies");
  ASSERT_NE(w, 0);
  auto start = std::chrono::steady_clock::now();
  Ewin_Param result = -5;
  EXPECT_EQ(ewin_SendMessageTimeout(w, EWIN_WM_USER, 0, 0, EWIN_SMTO_BLOCK, 20000, &result), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(result, 0);
  EXPECT_EQ(ewin_PostMessage(w, EWIN_WM_USER, 0, 0), 0);
  Wait(server);
  Ewin_Msg msg{};
  EXPECT_EQ(ewin_GetMessage(&msg, 0, 0, 0), -1);
}

TEST_F(Ewin, SendTimesOutAndDropsTheLateReply) {
  uint32_t answerLater = ewin_RegisterWindowMessage("ANSWER_LATER");
  pid_t server = Child([] {
    if (!ewin_CreateWindow("srv", "slow", [](Ewin_Window, uint32_t, Ewin_Param wp,
                                             Ewin_Param) -> Ewin_Param {
          usleep(600000);
          Ewin_Handle late = MappingWith("late");
          Ewin_Handle sender = ewin_OpenProcess(static_cast<int32_t>(wp));
          Ewin_Handle dup = 0;
          ewin_DuplicateHandle(late, sender, &dup);
          ewin_CloseHandle(late);
          ewin_CloseHandle(sender);
          return dup;
        }))
      return 2;
    Ewin_Msg msg;
    while (ewin_GetMessage(&msg, 0, 0, 0) > 0) {
    }
    return 0;
  });
  Ewin_Window w = Await("srv", "slow");
  ASSERT_NE(w, 0);
  auto start = std::chrono::steady_clock::now();
  Ewin_Param result = 0;
  EXPECT_EQ(ewin_SendMessageTimeout(w, answerLater, ewin_GetCurrentProcessId(), 0,
                                    EWIN_SMTO_BLOCK, 150, &result),
            0);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(140));
  EXPECT_LT(took, std::chrono::milliseconds(550));
  // The next send gets its own answer, not the late one.
  EXPECT_NE(ewin_SendMessageTimeout(w, answerLater, ewin_GetCurrentProcessId(), 0, 0, 5000,
                                    &result),
            0);
  EXPECT_EQ(ReadMapping(result), "late");
  ewin_CloseHandle(result);
  ewin_DestroyWindow(w);
  (void)server;
}

TEST_F(Ewin, MappingsAndHandles) {
  EXPECT_EQ(ewin_CreateFileMapping(0), 0);
  Ewin_Handle mapping = ewin_CreateFileMapping(17);
  ASSERT_GE(mapping, 3);
  EXPECT_EQ(ewin_GetFileMappingSize(mapping), 17);
  EXPECT_EQ(ewin_GetFileMappingSize(0), -1);
  EXPECT_EQ(ewin_MapViewOfFile(0), nullptr);
  int dummy = 0;
  EXPECT_EQ(ewin_UnmapViewOfFile(&dummy), 0);

  // Into this process itself: a second, usable handle.
  Ewin_Handle self = ewin_OpenProcess(ewin_GetCurrentProcessId());
  ASSERT_NE(self, 0);
  Ewin_Handle dup = 0;
  ASSERT_NE(ewin_DuplicateHandle(mapping, self, &dup), 0);
  auto *view = static_cast<char *>(ewin_MapViewOfFile(mapping));
  std::strcpy(view, "shared");
  EXPECT_EQ(ReadMapping(dup), "shared");
  EXPECT_EQ(ewin_UnmapViewOfFile(view), 1);
  EXPECT_EQ(ewin_CloseHandle(dup), 1);

  // Into a process that has ended: refused. Not a process handle: refused.
  pid_t child = Child([] { return 0; });
  Ewin_Handle ended = ewin_OpenProcess(child);
  Wait(child);
  EXPECT_EQ(ewin_DuplicateHandle(mapping, ended, &dup), 0);
  EXPECT_EQ(ewin_DuplicateHandle(mapping, mapping, &dup), 0);
  EXPECT_EQ(ewin_OpenProcess(child), 0);
  EXPECT_EQ(ewin_OpenProcess(0), 0);
  EXPECT_EQ(ewin_CloseHandle(ended), 1);
  EXPECT_EQ(ewin_CloseHandle(self), 1);
  EXPECT_EQ(ewin_CloseHandle(mapping), 1);
  EXPECT_EQ(ewin_CloseHandle(0), 0);
  EXPECT_EQ(ewin_CloseHandle(mapping), 0);
}

// Raw frames from a foreign writer: malformed ones are dropped, the window keeps working.
TEST_F(Ewin, MalformedFramesAreDropped) {
  Ewin_Window w = ewin_CreateWindow("srv", "raw", nullptr);
  ASSERT_NE(w, 0);
  int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s/srv.raw", dir_.c_str());
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);

  auto frame = [](uint8_t kind, uint8_t flags, uint32_t message, const std::string &name) {
    return taviron::ewin::FrameBytes({kind, flags, 0, 0, message, 5, 0}, name);
  };
  std::string good = frame(1, 0, 0, "RAW_MSG");
  std::string badMagic = good;
  badMagic[0] = 'X';
  std::string longName = frame(1, 0, 0, "RAW_MSG");
  longName[6] = 20; // claims more name than there is
  std::string nulName = frame(1, 0, 0, std::string("RA\0W", 4));
  const std::vector<std::string> bad = {
      "short", badMagic, longName, nulName,
      frame(9, 0, EWIN_WM_USER, ""),          // unknown kind
      frame(1, 1, EWIN_WM_USER, ""),          // claims a handle, carries none
      frame(1, 0, 0xC123, ""),                // registered id without its name
      frame(1, 0, EWIN_WM_USER, "RAW_MSG"),   // both an id and a name
      frame(3, 0, 0, "RAW_MSG"),              // reply with a name
      std::string(400, 'z'),                  // longer than any frame
  };
  for (const std::string &bytes : bad) send(fd, bytes.data(), bytes.size(), 0);
  send(fd, good.data(), good.size(), 0);
  Ewin_Msg msg{};
  for (int i = 0; i < 100 && !ewin_PeekMessage(&msg, 0, 0, 0, EWIN_PM_REMOVE); ++i) usleep(2000);
  EXPECT_EQ(msg.message, ewin_RegisterWindowMessage("RAW_MSG"));
  EXPECT_EQ(msg.wParam, 5);
  EXPECT_EQ(msg.window, w);
  EXPECT_EQ(ewin_PeekMessage(&msg, 0, 0, 0, EWIN_PM_REMOVE), 0);

  // A zero-length frame ends the connection; a descriptor passed with it is closed too.
  auto passed = [] { // descriptors of the memory file "passed" in this process
    std::size_t count = 0;
    if (DIR *d = opendir("/proc/self/fd")) {
      while (dirent *e = readdir(d)) {
        char target[256] = {};
        std::string link = std::string("/proc/self/fd/") + e->d_name;
        if (readlink(link.c_str(), target, sizeof target - 1) > 0 &&
            std::strncmp(target, "/memfd:passed", 13) == 0)
          ++count;
      }
      closedir(d);
    }
    return count;
  };
  int file = memfd_create("passed", MFD_CLOEXEC);
  ASSERT_GE(file, 0);
  ASSERT_EQ(taviron::ewin::SendFrame(fd, nullptr, 0, file, 0), 0);
  for (int i = 0; i < 100 && recv(fd, &msg, 1, MSG_DONTWAIT) != 0; ++i) {
    ewin_PeekMessage(&msg, 0, 0, 0, EWIN_PM_REMOVE);
    usleep(2000);
  }
  EXPECT_EQ(passed(), 1u);
  close(file);
  close(fd);
  ewin_DestroyWindow(w);
}

TEST_F(Ewin, TickCountAdvances) {
  uint32_t before = ewin_GetTickCount();
  usleep(20000);
  uint32_t after = ewin_GetTickCount();
  EXPECT_GE(after - before, 19u);
  EXPECT_LT(after - before, 2000u);
}

// The runtime folder is used only when it is this user's alone, wherever it was named.
TEST_F(Ewin, RuntimeFolderMustBeThisUsersAlone) {
  std::string good = dir_ + "/good", open = dir_ + "/open", link = dir_ + "/link",
              foreign = dir_ + "/foreign", file = dir_ + "/file";
  ASSERT_EQ(mkdir(good.c_str(), 0700), 0);
  ASSERT_EQ(mkdir(open.c_str(), 0700), 0);
  ASSERT_EQ(chmod(open.c_str(), 0777), 0);
  ASSERT_EQ(symlink(good.c_str(), link.c_str()), 0);
  ASSERT_EQ(mkdir(foreign.c_str(), 0700), 0);
  bool canGiveAway = chown(foreign.c_str(), getuid() + 1, getgid()) == 0;
  std::fclose(std::fopen(file.c_str(), "w"));
  struct Case {
    std::string path;
    bool used;
  };
  std::vector<Case> cases = {{good, true}, {open, false}, {link, false}, {file, false}};
  if (canGiveAway) cases.push_back({foreign, false});
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path);
    for (const char *variable : {"TAVIRON_RUNTIME_DIR", "XDG_RUNTIME_DIR"}) {
      unsetenv("TAVIRON_RUNTIME_DIR");
      setenv(variable, variable[0] == 'X' ? dir_.c_str() : c.path.c_str(), 1);
      if (variable[0] == 'X') {
        // $XDG_RUNTIME_DIR/taviron standing where the case is.
        std::string place = dir_ + "/taviron";
        rename(c.path.c_str(), place.c_str());
        EXPECT_EQ(ewin_RuntimeDirectory() != nullptr, c.used) << variable;
        rename(place.c_str(), c.path.c_str());
      } else {
        EXPECT_EQ(ewin_RuntimeDirectory() != nullptr, c.used) << variable;
        EXPECT_EQ(ewin_CreateWindow("cls", "w", nullptr) != 0, c.used) << variable;
      }
      unsetenv(variable);
    }
  }
  setenv("TAVIRON_RUNTIME_DIR", dir_.c_str(), 1);
}

// Endpoints are this user's whatever the umask, and a connection from another user is closed
// unread even when the folder and endpoint have been opened to others.
TEST_F(Ewin, OnlyTheSameUserMayConnect) {
  mode_t saved = umask(0);
  Ewin_Window w = ewin_CreateWindow("srv", "mine", nullptr);
  umask(saved);
  ASSERT_NE(w, 0);
  std::string path = dir_ + "/srv.mine";
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  if (getuid() != 0) GTEST_SKIP() << "another user is needed for the rest";

  ASSERT_EQ(chmod(dir_.c_str(), 0711), 0);
  ASSERT_EQ(chmod(path.c_str(), 0666), 0);
  // This process serves its window while the other user tries.
  std::atomic<bool> stop{false};
  std::atomic<int> received{0};
  std::thread serve([&] {
    Ewin_Msg msg{};
    while (!stop)
      if (ewin_PeekMessage(&msg, 0, 0, 0, EWIN_PM_REMOVE))
        ++received;
      else
        usleep(1000);
  });
  int result = taviron::testing::RunAsOrdinaryUser(
      [&] {
        int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) return 1;
        std::string frame = taviron::ewin::FrameBytes({1, 0, 0, 0, EWIN_WM_USER, 0, 0}, "");
        send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
        // The window's process closes the connection (unread: the frame is thrown away).
        pollfd p{fd, POLLIN, 0};
        char byte;
        if (poll(&p, 1, 5000) != 1) return 2;
        ssize_t got = recv(fd, &byte, 1, 0);
        return got == 0 || (got < 0 && errno == ECONNRESET) ? 0 : 3;
      },
      std::chrono::seconds(20));
  usleep(50000);
  stop = true;
  serve.join();
  if (result == taviron::testing::kCannotDrop) GTEST_SKIP() << "cannot run as another user";
  EXPECT_EQ(result, 0);
  EXPECT_EQ(received, 0);
  ewin_DestroyWindow(w);
}

// A post never waits: when the other process stops reading, posts are held for it up to a
// bound and then refused; everything accepted arrives, in order, once it reads again.
TEST_F(Ewin, PostsToAProcessThatDoesNotReadAreHeldThenRefused) {
  static int go[2], count[2];
  ASSERT_EQ(pipe(go), 0);
  ASSERT_EQ(pipe(count), 0);
  pid_t server = Child([] {
    uint32_t numbered = ewin_RegisterWindowMessage("NUMBERED");
    uint32_t quit = ewin_RegisterWindowMessage("QUIT_NOW");
    close(go[1]);
    if (!ewin_CreateWindow("srv", "stalled", nullptr)) return 2;
    char c;
    if (read(go[0], &c, 1) != 1) return 3; // not reading meanwhile
    int32_t received = 0;
    Ewin_Msg msg;
    while (ewin_GetMessage(&msg, 0, 0, 0) > 0 && msg.message != quit)
      if (msg.message == numbered && msg.wParam == received) ++received;
    return write(count[1], &received, sizeof received) == sizeof received ? 0 : 4;
  });
  Ewin_Window w = Await("srv", "stalled");
  ASSERT_NE(w, 0);
  alarm(60); // a post that waits for ever ends the test here
  uint32_t numbered = ewin_RegisterWindowMessage("NUMBERED");
  auto start = std::chrono::steady_clock::now();
  int32_t posted = 0;
  while (posted < 10000000 && ewin_PostMessage(w, numbered, posted, 0)) ++posted;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_GT(posted, 1000) << posted;
  EXPECT_LT(posted, 10000000) << posted;
  EXPECT_EQ(ewin_IsWindow(w), 1); // the connection stays

  char c = 1;
  ASSERT_EQ(write(go[1], &c, 1), 1);
  // What is held goes out while this process is in the interface.
  uint32_t quit = ewin_RegisterWindowMessage("QUIT_NOW");
  Ewin_Msg msg;
  while (!ewin_PostMessage(w, quit, 0, 0)) ewin_PeekMessage(&msg, 0, 0, 0, EWIN_PM_REMOVE);
  pollfd counted{count[0], POLLIN, 0};
  while (poll(&counted, 1, 1) == 0) ewin_PeekMessage(&msg, 0, 0, 0, EWIN_PM_REMOVE);
  int32_t received = -1;
  ASSERT_EQ(read(count[0], &received, sizeof received), static_cast<ssize_t>(sizeof received));
  EXPECT_EQ(received, posted);
  EXPECT_EQ(Wait(server), 0);
  alarm(0);
}

} // namespace
