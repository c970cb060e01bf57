// The connection and the transport against the test session manager in another process.
#include "esmg.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ewin_frame.h"
#include "ordinary_user.h"
#include "session_fixture.h"
#include "efio.h"
#include "emsc.h"
#include "ewin.h"
#include "taviron_testing.h"

namespace {

using Clock = std::chrono::steady_clock;

class Session : public taviron::testing::SessionFixture {};

// A frame of the local-socket transport written by hand: the header and the name, with a
// descriptor passed beside it when fd is not -1.
void SendRawFrame(int socketFd, uint8_t kind, uint8_t flags, const std::string &name,
                  int64_t wParam, int64_t lParam, int fd = -1) {
  namespace frames = taviron::ewin;
  const std::string bytes = frames::FrameBytes({kind, flags, 0, 77, 0, wParam, lParam}, name);
  ASSERT_EQ(frames::SendFrame(socketFd, bytes.data(), bytes.size(), fd, MSG_NOSIGNAL),
            static_cast<ssize_t>(bytes.size()));
}

// A memory file holding the bytes; sealed against any change when asked.
int MemoryFileWith(const std::vector<unsigned char> &bytes, bool sealed) {
  int fd = memfd_create("forged", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
    return -1;
  if (sealed) fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE);
  return fd;
}

std::vector<unsigned char> PacketOf(Esmg_Protocol *record) {
  Esmg_Packet *packet = esmg_BuildProtocolPacket(0, record);
  std::vector<unsigned char> bytes(packet->buffer, packet->buffer + packet->position);
  esmg_FreePacket(packet);
  esmg_FreeProtocol(record);
  return bytes;
}

TEST_F(Session, ConnectBroadcastLogAndDisconnect) {
  StartManager({});
  Connect("my app", ESMG_CONNECT_APPLICATION);
  EXPECT_EQ(Await([](const std::string &l) { return l.rfind("CONNECT", 0) == 0; }),
            "CONNECT " + std::to_string(getpid()) + " 1 0 my app");
  EXPECT_EQ(esmg_FindAppType(), 1);
  EXPECT_EQ(eerr_GetAltErrorFunction(), esmg_LogError);

  esmg_Broadcast(ESMG_DEST_NONE, 0, 6, 1, "hello");
  esmg_LogMessage(0, nullptr, "verbose %d", 2); // a started session gets every level
  Eerr_ErrorReport *chain = eerr_CreateErrorReport("inner", 4, 2, nullptr, "broke", 0);
  eerr_PrintErrorReport(chain, 1, nullptr); // through esmg_LogError: protocol 5
  eerr_DeleteErrorReportEx(&chain);
  Eerr_ErrorReport *err = nullptr;
  esmg_SessionDisconnect(&err);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(esmg_SessionIsStarted(), 0);
  EXPECT_EQ(esmg_FindAppType(), 4);
  esmg_Broadcast(ESMG_DEST_NONE, 0, 6, 1, "after the end"); // no session: nothing

  std::vector<Esmg_Protocol *> posts = Received("POST", 4);
  ASSERT_EQ(posts.size(), 4u);
  EXPECT_EQ(posts[0]->type, 6);
  EXPECT_EQ(posts[0]->w[2].i, 1);
  EXPECT_STREQ(posts[0]->w[3].s, "hello");
  EXPECT_EQ(posts[1]->type, 6);
  EXPECT_EQ(posts[1]->w[2].i, 0);
  EXPECT_STREQ(posts[1]->w[3].s, "verbose 2");
  ASSERT_EQ(posts[2]->type, 5);
  ASSERT_NE(posts[2]->w[2].report, nullptr);
  EXPECT_STREQ(posts[2]->w[2].report->reporter, "inner");
  EXPECT_STREQ(posts[2]->w[2].report->message, "broke");
  EXPECT_EQ(posts[3]->type, 35);
  Free(posts);
  usleep(200000);
  posts = Received("POST", 0);
  EXPECT_EQ(posts.size(), 4u);
  Free(posts);
}

// A process that ends connected says farewell on its way out.
TEST_F(Session, ExitDisconnectsOnce) {
  StartManager({});
  pid_t child = fork();
  if (child == 0) {
    Eerr_ErrorReport *err = nullptr;
    esmg_SessionConnect("short-lived", ESMG_CONNECT_APPLICATION, &err);
    std::exit(esmg_SessionIsStarted() ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::vector<Esmg_Protocol *> posts = Received("POST", 1);
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0]->type, 35);
  Free(posts);
}

TEST_F(Session, JobWaitsForRepliesAndAsksForTheLogFile) {
  StartManager({"--log-file", "/var/log/sm-session.log"});
  Connect("the job", ESMG_CONNECT_JOB);
  auto start = Clock::now();
  Esmg_Protocol *reply = esmg_BroadcastAndWait(ESMG_DEST_NONE, 0, 43, 5);
  ASSERT_NE(reply, nullptr);
  EXPECT_EQ(reply->type, 43);
  EXPECT_EQ(reply->w[2].i, 5);
  EXPECT_EQ(reply->reserved, 0);
  esmg_FreeProtocol(reply);
  char *name = esmg_GetLogFileFromSessionManager();
  EXPECT_STREQ(name, "/var/log/sm-session.log");
  emsc_HeapFree(name);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));

  std::vector<Esmg_Protocol *> posts = Received("POST", 1);
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0]->type, 10); // a job announces its name
  EXPECT_STREQ(posts[0]->w[2].s, "the job");
  Free(posts);
  // The connection asked for the temporary directory first ("zav"/"tmpdir").
  std::vector<Esmg_Protocol *> waits = Received("WAIT", 3);
  ASSERT_EQ(waits.size(), 3u);
  EXPECT_EQ(waits[0]->type, 16);
  EXPECT_STREQ(waits[0]->w[4].s, "tmpdir");
  EXPECT_EQ(waits[1]->type, 43);
  EXPECT_EQ(waits[2]->type, 56);
  EXPECT_EQ(waits[2]->w[2].s, nullptr);
  Free(waits);
  EXPECT_EQ(esmg_IsProtocolQueue(), 0);
}

// "No reply" is a closed connection: the waiting send ends at once.
TEST_F(Session, NoReplyEndsTheWaitAtOnce) {
  StartManager({"--no-reply"});
  Connect("app", ESMG_CONNECT_APPLICATION);
  auto start = Clock::now();
  EXPECT_EQ(esmg_BroadcastAndWait(ESMG_DEST_NONE, 0, 43, 1), nullptr);
  EXPECT_EQ(esmg_GetLogFileFromSessionManager(), nullptr); // found again, again no reply
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  std::vector<Esmg_Protocol *> waits = Received("WAIT", 3); // the connection's "zav"/"tmpdir" first
  EXPECT_EQ(waits.size(), 3u);
  Free(waits);
}

// The one test that waits out the real bound of 20000 ms.
TEST_F(Session, WaitingSendGivesUpAfter20Seconds) {
  StartManager({"--hang"});
  Connect("app", ESMG_CONNECT_APPLICATION);
  auto start = Clock::now();
  EXPECT_EQ(esmg_BroadcastAndWait(ESMG_DEST_NONE, 0, 43, 1), nullptr);
  auto took = Clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(19900));
  EXPECT_LT(took, std::chrono::seconds(24));
}

TEST_F(Session, WaitQueuesOtherTypesAndTakesThemLater) {
  StartManager({"--on", "11=14,43"});
  Connect("viewer client", ESMG_CONNECT_APPLICATION);
  esmg_Broadcast(ESMG_DEST_NONE, 0, 11, "go"); // the manager answers with 14, then 43
  Esmg_Protocol *record = esmg_WaitForProtocol(0, 43);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->type, 43);
  esmg_FreeProtocol(record);
  EXPECT_EQ(esmg_IsProtocolQueue(), 1);
  // The manager is gone: the 14 comes from the queue without reading a message.
  StopManager();
  record = esmg_WaitForProtocol(0, 14);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->type, 14);
  EXPECT_EQ(record->w[2].i, 7);
  ASSERT_EQ(record->w[3].i, 3);
  EXPECT_EQ(std::memcmp(record->w[4].bytes, "xyz", 3), 0);
  esmg_FreeProtocol(record);
  EXPECT_EQ(esmg_IsProtocolQueue(), 0);
}

TEST_F(Session, ManagerThatEndsEndsTheWait) {
  StartManager({});
  Connect("app", ESMG_CONNECT_APPLICATION);
  StopManager();
  taviron::testing::CapturedOutput output;
  auto start = Clock::now();
  EXPECT_EQ(esmg_WaitForProtocol(0, 43), nullptr);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
}

TEST_F(Session, WaitWithTestTakesTheAcceptedRecordAndKeepsTheQueueOrder) {
  for (int32_t value : {1, 2, 3}) esmg_PutProtocolInQ(esmg_AssembleProtocol(43, value));
  esmg_PutProtocolInQ(esmg_AssembleProtocol(13));
  Esmg_Protocol *record = esmg_WaitForProtocolWithFunc(
      0, 43, [](Esmg_Protocol *r, void *) -> int32_t { return r->w[2].i == 2; }, nullptr);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->w[2].i, 2);
  esmg_FreeProtocol(record);
  std::vector<int32_t> order;
  while (Esmg_Protocol *left = esmg_GetProtocolFromQ(ESMG_PROTOCOL_ANY)) {
    order.push_back(left->type * 100 + (left->type == 43 ? left->w[2].i : 0));
    esmg_FreeProtocol(left);
  }
  EXPECT_EQ(order, (std::vector<int32_t>{4301, 4303, 1300}));

  // Nothing queued and no session manager: no endless wait.
  taviron::testing::CapturedOutput output;
  EXPECT_EQ(esmg_WaitForProtocol(0, 43), nullptr);
  EXPECT_EQ(output.Err(), "Error: Session Manager is not running.\n");
}

// The process goes on, unconnected, when it finds no session manager.
TEST_F(Session, NoSessionManagerLeavesTheProcessUnconnected) {
  taviron::testing::CapturedOutput output;
  Eerr_ErrorReport *err = nullptr;
  esmg_SessionConnect("app", ESMG_CONNECT_APPLICATION, &err);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(esmg_SessionIsStarted(), 0);
  EXPECT_EQ(output.Err(),
            "Error: Session Manager is not running.\nError: Could not connect to Session "
            "Manager!\n");
  EXPECT_EQ(esmg_IsSessionManagerRunning(), 0);
  EXPECT_EQ(esmg_BroadcastAndWait(ESMG_DEST_NONE, 0, 43, 1), nullptr);
}

// A session manager whose process cannot be reached gets no connect record at all.
TEST_F(Session, UnreachableManagerProcessGetsNothing) {
  StartManager({"--no-process"});
  taviron::testing::CapturedOutput output;
  esmg_SessionConnect("app", ESMG_CONNECT_APPLICATION, nullptr);
  EXPECT_EQ(esmg_SessionIsStarted(), 0);
  EXPECT_NE(output.Err().find("Error: Could not connect to Session Manager!\n"),
            std::string::npos);
  esmg_Broadcast(ESMG_DEST_NONE, 0, 6, 1, "not sent");
  usleep(200000);
  for (const std::string &line : Lines()) EXPECT_EQ(line, "READY");
}

TEST_F(Session, BatchRunConnectsToNothingAndLogsToItsFile) {
  StartManager({}); // even with a session manager there
  setenv("TAVIRON_BATCH_RUN", "1", 1);
  taviron::testing::CapturedOutput output;
  Eerr_ErrorReport *err = nullptr;
  esmg_SessionConnect("job", ESMG_CONNECT_JOB, &err);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(esmg_SessionIsStarted(), 0);
  EXPECT_EQ(eerr_GetAltErrorFunction(), esmg_LogError);
  std::string file = dir_ + "/batch.log";
  esmg_LogFileSet(file.c_str());
  esmg_LogMessage(1, nullptr, "step %d done", 1);
  esmg_LogMessage(0, nullptr, "verbose, dropped"); // the preference is left at "terse"
  Eerr_ErrorReport *chain = eerr_CreateErrorReport("eimg_Open", 2, 2, nullptr, "no such file", 0);
  eerr_PrintErrorReport(chain, 1, nullptr);
  eerr_DeleteErrorReportEx(&chain);
  std::ifstream in(file, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "step 1 done\r\nERROR: #2 from eimg_Open\r\nERROR: no such file\r\n");
  EXPECT_EQ(output.Err(), "");
  usleep(100000);
  for (const std::string &line : Lines()) EXPECT_EQ(line, "READY");
  unsetenv("TAVIRON_BATCH_RUN");
}

TEST_F(Session, SessionManagerNames) {
  unsetenv("TAVIRON_SESSION_MANAGER_NAME");
  EXPECT_STREQ(esmg_GetSessionManagerName(), "sessionmanager10");
  EXPECT_EQ(esmg_IsSessionManagerNameDefault(), 1);
  Eerr_ErrorReport *err = nullptr;
  esmg_InitSessionManagerName("SessionManager10", &err);
  EXPECT_EQ(err, nullptr);
  EXPECT_STREQ(esmg_GetSessionManagerName(), "sessionmanager10");
  EXPECT_STREQ(getenv("TAVIRON_SESSION_MANAGER_NAME"), "SessionManager10");
  esmg_InitSessionManagerName("other", &err);
  ASSERT_NE(err, nullptr);
  EXPECT_EQ(err->code, 1);
  EXPECT_STREQ(err->reporter, "esmg_InitSessionManagerName");
  EXPECT_STREQ(err->message, "Session manager name is already initialized to "
                             "'sessionmanager10', it cannot be reset to 'other'");
  eerr_DeleteErrorReportEx(&err);
  esmg_InitSessionManagerName(nullptr, &err);
  ASSERT_NE(err, nullptr);
  EXPECT_NE(std::strstr(err->message, "'NULL'"), nullptr);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_STREQ(esmg_GetSessionManagerName(), "sessionmanager10");
}

TEST_F(Session, NameResolvesFromTheManagerWindow) {
  unsetenv("TAVIRON_SESSION_MANAGER_NAME");
  ASSERT_NE(ewin_CreateWindow(ESMG_SESSION_MANAGER_CLASS, "custom manager", nullptr), 0);
  esmg_ResolveSessionManagerName();
  EXPECT_STREQ(esmg_GetSessionManagerName(), "custom manager");
  EXPECT_STREQ(getenv("TAVIRON_SESSION_MANAGER_NAME"), "custom manager");
  EXPECT_NE(esmg_FindSessionManagerWindow(), 0);
  EXPECT_EQ(esmg_IsSessionManagerNameDefault(), 0);
}

TEST_F(Session, SocketIoTypeIsExact) {
  setenv("TAVIRON_IO_TYPE", "Socket", 1); // not "socket": IO type 1
  EXPECT_EQ(esmg_SessionIdGet(), -1);
  EXPECT_EQ(esmg_SessionCreate(), getpid());
  EXPECT_EQ(esmg_SessionIdGet(), getpid());
  EXPECT_EQ(esmg_FindAppType(), 0);
  EXPECT_EQ(esmg_IsSessionManager(), 1);
}

TEST_F(Session, ManagerHandsRecordsToItsBroadcastFunction) {
  static std::vector<int32_t> seen;
  esmg_SessionCreate();
  esmg_SetBroadcastProtocolFunc(
      [](Esmg_Protocol *record, int32_t kind, intptr_t) { seen.push_back(record->type * 10 + kind); });
  esmg_Broadcast(ESMG_DEST_SPREAD, 0, 6, 1, "x"); // not started: nothing
  EXPECT_TRUE(seen.empty());
  esmg_SetSessionIsStarted(1);
  esmg_Broadcast(ESMG_DEST_SPREAD, 0, 6, 1, "x");
  EXPECT_EQ(esmg_BroadcastAndWait(ESMG_DEST_PROCESS, 77, 43, 0), nullptr);
  EXPECT_EQ(seen, (std::vector<int32_t>{64, 439}));
  Esmg_Protocol *record = esmg_AssembleProtocol(13);
  Esmg_Packet *packet = esmg_WriteProtocolToPipe(0, record); // returned unsent
  ASSERT_NE(packet, nullptr);
  EXPECT_EQ(packet->position, 8);
  esmg_FreePacket(packet);
  esmg_FreeProtocol(record);
  esmg_SetSessionIsStarted(0);
}

TEST_F(Session, StoredWordsAndNameBase) {
  int word = 0;
  EXPECT_EQ(esmg_SetProcessMessageFunc(&word), &word);
  EXPECT_EQ(esmg_SetWorkProcInfo(&word, nullptr), &word);
  EXPECT_EQ(esmg_SetInputId(&word), &word);
  EXPECT_EQ(esmg_SetGetAppToSessionPipeFunc(&word), &word);
  EXPECT_EQ(esmg_GetSessionToAppPipe(), 0);
  EXPECT_EQ(esmg_GetAppToSessionPipe(), 0);
  EXPECT_EQ(esmg_CallAppProtoFunc(nullptr), 0);
  esmg_SetAppProtoFunc([](Esmg_Protocol *, void *data) { return *static_cast<int32_t *>(data); },
                       &word);
  word = 9;
  EXPECT_EQ(esmg_CallAppProtoFunc(nullptr), 9);

  char host[256];
  gethostname(host, sizeof host);
  const char *tmp = getenv("TMPDIR");
  efio_DirectorySetTemporary(dir_.c_str());
  std::string expected = std::string(tmp && *tmp ? tmp : "/tmp") + "/TavironSession." + host;
  EXPECT_EQ(std::string(esmg_SessionNameBase()), expected);
  EXPECT_STREQ(efio_DirectorySetTemporary(nullptr), dir_.c_str()); // put back
}

// Many clients of an ordinary user (1024 descriptors) post at once: nothing is lost, nothing
// comes out of order, and every client says farewell once.
TEST_F(Session, SixteenClientsDeliverEveryRecordInOrderAsAnOrdinaryUser) {
  constexpr int kClients = 16, kRecords = 2000;
  int result = taviron::testing::RunAsOrdinaryUser(
      [&] {
        pid_t manager = SpawnManager({});
        if (manager <= 0) return 10;
        std::vector<pid_t> clients;
        for (int c = 0; c < kClients; ++c)
          clients.push_back(ClientProcess([c] {
            esmg_SessionConnect("client", ESMG_CONNECT_APPLICATION, nullptr);
            if (!esmg_SessionIsStarted()) return 1;
            for (int i = 0; i < kRecords; ++i) esmg_LogMessage(1, nullptr, "%d %d", c, i);
            return 0;
          }));
        for (pid_t client : clients)
          if (!Ended(client)) return 11;
        return Received("POST", kClients * (kRecords + 1), 60).size() ==
                       kClients * (kRecords + 1)
                   ? 0
                   : 12;
      },
      std::chrono::seconds(120), {dir_});
  if (result == taviron::testing::kCannotDrop) GTEST_SKIP() << "cannot run as an ordinary user";
  ASSERT_EQ(result, 0);
  std::map<int, std::vector<int>> lines = LinesBySender(kClients * (kRecords + 1), 5);
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kClients));
  for (auto &[client, numbers] : lines) EXPECT_EQ(numbers, Sequence(kRecords)) << client;
  std::vector<Esmg_Protocol *> posts = Received("POST", kClients * (kRecords + 1));
  int farewells = 0;
  for (Esmg_Protocol *record : posts) farewells += record->type == 35;
  EXPECT_EQ(farewells, kClients);
  Free(posts);
}

// A session manager that answers every line, and a client that posts far more lines than a
// socket holds before it reads any answer: neither waits for the other.
TEST_F(Session, ManagerAnsweringEveryLineAndAPostingClientDoNotDeadlock) {
  constexpr int kLines = 10000;
  int result = taviron::testing::RunAsOrdinaryUser(
      [&] {
        if (SpawnManager({"--on", "6=6"}) <= 0) return 10;
        pid_t client = ClientProcess([] {
          esmg_SessionConnect("chatty", ESMG_CONNECT_APPLICATION, nullptr);
          if (!esmg_SessionIsStarted()) return 1;
          for (int i = 0; i < kLines; ++i) esmg_LogMessage(1, nullptr, "0 %d", i);
          for (int i = 0; i < kLines; ++i) {
            Esmg_Protocol *answer = esmg_WaitForProtocol(0, 6);
            if (!answer) return 2;
            esmg_FreeProtocol(answer);
          }
          return 0;
        });
        return Ended(client) ? 0 : 11;
      },
      std::chrono::seconds(120), {dir_});
  if (result == taviron::testing::kCannotDrop) GTEST_SKIP() << "cannot run as an ordinary user";
  ASSERT_EQ(result, 0);
  EXPECT_EQ(LinesBySender(kLines + 1, 30)[0], Sequence(kLines));
}

// Posting to a session manager that has stopped reading returns at once, also past what the
// system holds for it; what was posted arrives when it reads again, the farewell of the ending
// client last.
TEST_F(Session, PostsToAStoppedManagerReturnAndArriveLater) {
  constexpr int kLines = 5000;
  int result = taviron::testing::RunAsOrdinaryUser(
      [&] {
        pid_t manager = SpawnManager({});
        int connected[2], go[2], posted[2];
        if (manager <= 0 || pipe(connected) || pipe(go) || pipe(posted)) return 10;
        pid_t client = ClientProcess([&] {
          esmg_SessionConnect("poster", ESMG_CONNECT_APPLICATION, nullptr);
          char c = 1;
          if (!esmg_SessionIsStarted() || write(connected[1], &c, 1) != 1 ||
              read(go[0], &c, 1) != 1)
            return 1;
          for (int i = 0; i < kLines; ++i) esmg_LogMessage(1, nullptr, "0 %d", i);
          return write(posted[1], &c, 1) == 1 ? 0 : 2;
        });
        char c = 1;
        if (read(connected[0], &c, 1) != 1) return 11;
        kill(manager, SIGSTOP);
        if (write(go[1], &c, 1) != 1) return 12;
        pollfd done{posted[0], POLLIN, 0};
        bool returned = poll(&done, 1, 10000) == 1;
        kill(manager, SIGCONT);
        if (!returned) return 13;
        if (!Ended(client)) return 14;
        // The manager goes with the scenario: it is given the time to read what it was sent.
        std::vector<Esmg_Protocol *> posts = Received("POST", kLines + 1, 60);
        const std::size_t count = posts.size();
        Free(posts);
        return count == kLines + 1 ? 0 : 15;
      },
      std::chrono::seconds(120), {dir_});
  if (result == taviron::testing::kCannotDrop) GTEST_SKIP() << "cannot run as an ordinary user";
  ASSERT_EQ(result, 0);
  std::vector<Esmg_Protocol *> posts = Received("POST", kLines + 1, 60);
  const std::size_t count = posts.size();
  const bool farewellLast = count && posts.back()->type == 35;
  Free(posts);
  EXPECT_EQ(count, static_cast<std::size_t>(kLines + 1));
  EXPECT_TRUE(farewellLast);
  EXPECT_EQ(LinesBySender(kLines + 1, 5)[0], Sequence(kLines));
}

// Log lines from several threads of one connected application.
TEST_F(Session, ThreadsLoggingAtOnceAllArrive) {
  constexpr int kThreads = 4, kLines = 2000;
  StartManager({});
  Connect("threads", ESMG_CONNECT_APPLICATION);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) esmg_LogMessage(1, nullptr, "%d %d", t, i);
    });
  for (std::thread &thread : threads) thread.join();
  esmg_SessionDisconnect(nullptr);
  std::map<int, std::vector<int>> lines = LinesBySender(kThreads * kLines + 1, 30);
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads));
  for (auto &[thread, numbers] : lines) EXPECT_EQ(numbers, Sequence(kLines)) << thread;
}

// Records of every size arrive whole: small ones inside the frame, large ones beside it.
TEST_F(Session, RecordsOfEverySizeArriveWhole) {
  StartManager({});
  Connect("sizes", ESMG_CONNECT_APPLICATION);
  const std::vector<std::size_t> sizes = {0, 1000, 65000, 65600, 70000, 3000000};
  for (std::size_t size : sizes) esmg_LogMessage(1, nullptr, "%s", std::string(size, 'a').c_str());
  std::vector<Esmg_Protocol *> posts = Received("POST", sizes.size(), 30);
  ASSERT_EQ(posts.size(), sizes.size());
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    ASSERT_EQ(posts[i]->type, 6);
    EXPECT_EQ(std::string(posts[i]->w[3].s), std::string(sizes[i], 'a'));
  }
  Free(posts);
}

// What another process may put in a frame: handle numbers without a handle, a memory file that
// its sender can still change, and claims to be another process. None of it harms the session
// manager or is taken for a record; a sealed memory file from its true sender is.
TEST_F(Session, ForgedHandlesAndMappingsAreRefusedWithoutHarm) {
  StartManager({});
  int raw = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s/%s.%s", dir_.c_str(),
                ESMG_SESSION_MANAGER_CLASS, getenv("TAVIRON_SESSION_MANAGER_NAME"));
  ASSERT_EQ(connect(raw, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  using taviron::ewin::kPost, taviron::ewin::kSend;
  constexpr uint8_t kHandle = taviron::ewin::kFlagHandle;
  for (int64_t number = 3; number <= 64; ++number) {
    SendRawFrame(raw, kPost, 0, "NORIX_SM_PACKET_DATA", getpid(), number);
    SendRawFrame(raw, kSend, 0, "NORIX_SM_CONNECT", getpid(), number);
  }
  int unsealed = MemoryFileWith(PacketOf(esmg_AssembleProtocol(6, 1, "0 100")), false);
  SendRawFrame(raw, kPost, kHandle, "NORIX_SM_PACKET_DATA", getpid(), 0, unsealed);
  ASSERT_EQ(ftruncate(unsealed, 0), 0); // shrunk under the receiver
  int claim = MemoryFileWith(PacketOf(esmg_AssembleProtocol(6, 1, "0 101")), true);
  SendRawFrame(raw, kPost, kHandle, "NORIX_SM_PACKET_DATA", getpid() + 1, 0, claim);
  std::vector<unsigned char> record = {0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 'a', 'b', 'c', 0};
  const int32_t other = getpid() + 1;
  std::memcpy(record.data(), &other, 4);
  int connect = MemoryFileWith(record, true);
  SendRawFrame(raw, kSend, kHandle, "NORIX_SM_CONNECT", other, 0, connect);
  int sealed = MemoryFileWith(PacketOf(esmg_AssembleProtocol(6, 1, "0 1")), true);
  SendRawFrame(raw, kPost, kHandle, "NORIX_SM_PACKET_DATA", getpid(), 0, sealed);
  for (int fd : {unsealed, claim, connect, sealed}) close(fd);
  std::vector<Esmg_Protocol *> posts = Received("POST", 1);
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_STREQ(posts[0]->w[3].s, "0 1");
  Free(posts);

  // The session manager still takes connections and records.
  Connect("after", ESMG_CONNECT_APPLICATION);
  esmg_LogMessage(1, nullptr, "0 2");
  EXPECT_EQ(LinesBySender(2, 5)[0], (std::vector<int>{1, 2}));
  usleep(100000);
  int refused = 0;
  std::vector<std::string> connects;
  for (const std::string &line : Lines()) {
    refused += line == "BADCONNECT";
    if (line.rfind("CONNECT", 0) == 0) connects.push_back(line);
  }
  EXPECT_EQ(refused, 63);
  EXPECT_EQ(connects,
            std::vector<std::string>{"CONNECT " + std::to_string(getpid()) + " 1 0 after"});
  EXPECT_EQ(kill(manager_, 0), 0);
  close(raw);
}

// A WM_QUIT that arrives during a wait is dispatched, and the wait goes on.
TEST_F(Session, QuitDuringAWaitIsDispatchedAndTheWaitGoesOn) {
  StartManager({"--on", "11=43"});
  Connect("app", ESMG_CONNECT_APPLICATION);
  ewin_PostQuitMessage(3);
  esmg_Broadcast(ESMG_DEST_NONE, 0, 11, "go");
  Esmg_Protocol *record = esmg_WaitForProtocol(0, 43);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->type, 43);
  esmg_FreeProtocol(record);
}

// A session manager that never answers the connect leaves the process unconnected after the
// bound of a waiting send.
TEST_F(Session, ConnectGivesUpAfter20Seconds) {
  StartManager({"--hang-connect"});
  taviron::testing::CapturedOutput output;
  auto start = Clock::now();
  esmg_SessionConnect("app", ESMG_CONNECT_APPLICATION, nullptr);
  auto took = Clock::now() - start;
  EXPECT_EQ(esmg_SessionIsStarted(), 0);
  EXPECT_GE(took, std::chrono::milliseconds(19900));
  EXPECT_LT(took, std::chrono::seconds(24));
  EXPECT_NE(output.Err().find("Error: Could not connect to Session Manager!\n"),
            std::string::npos);
}

} // namespace
