// A test session manager in another process for the tests of the session services. Each test
// has its own runtime directory and session manager name, so tests run in parallel. The session
// connection is process-wide state that the library keeps until the process ends, as applications
// do; the tests of this fixture share no reset of it, so each runs in a process of its own (ctest
// runs every test so). Run whole, a program runs the first and skips the others. The session
// manager's program is TAVIRON_TEST_SESSION_MANAGER.
#ifndef TAVIRON_TESTS_SUPPORT_SESSION_FIXTURE_H
#define TAVIRON_TESTS_SUPPORT_SESSION_FIXTURE_H

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "esmg.h"
#include "taviron_testing.h"

namespace taviron::testing {

class SessionFixture : public ::testing::Test {
protected:
  void SetUp() override {
    static int started = 0;
    if (++started > 1) GTEST_SKIP() << "one session test per process: run it alone (ctest does)";
    dir_ = Folder().str();
    setenv("TAVIRON_RUNTIME_DIR", dir_.c_str(), 1);
    setenv("TAVIRON_SESSION_MANAGER_NAME", ("sm" + std::to_string(getpid())).c_str(), 1);
    unsetenv("TAVIRON_BATCH_RUN");
    unsetenv("TAVIRON_IO_TYPE");
    record_ = dir_ + "/record";
  }
  void TearDown() override { StopManager(); }

  // The runtime folder of the session and the test's files. The library disconnects when the
  // process ends, which may make its runtime folder again: the folder is a static object, made
  // before the library's exit handler and so removed after it.
  static const TempDir &Folder() {
    static const TempDir folder("esmg_sm");
    return folder;
  }

  void StartManager(std::vector<std::string> options) {
    manager_ = SpawnManager(options);
    ASSERT_GT(manager_, 0);
  }
  // The session manager started with the options once it is ready; 0 when it did not start.
  pid_t SpawnManager(std::vector<std::string> options) const {
    std::vector<std::string> args = {TAVIRON_TEST_SESSION_MANAGER, "--record", record_};
    args.insert(args.end(), options.begin(), options.end());
    pid_t manager = fork();
    if (manager == 0) {
      std::vector<char *> argv;
      for (std::string &arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    if (manager > 0 && Await([](const std::string &line) { return line == "READY"; }).empty()) {
      kill(manager, SIGKILL);
      waitpid(manager, nullptr, 0);
      return 0;
    }
    return manager;
  }
  void StopManager() {
    if (manager_ <= 0) return;
    kill(manager_, SIGKILL);
    waitpid(manager_, nullptr, 0);
    manager_ = 0;
  }

  // The lines the session manager has recorded so far; a last line it is still writing (no line
  // end yet) is not one of them.
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::ifstream in(record_);
    for (std::string line; std::getline(in, line);)
      if (!in.eof()) lines.push_back(line);
    return lines;
  }
  // The first recorded line that matches, waiting up to 5 s; "" when none came.
  template <typename Match> std::string Await(Match match) const {
    for (int i = 0; i < 500; ++i) {
      for (const std::string &line : Lines())
        if (match(line)) return line;
      usleep(10000);
    }
    return "";
  }
  // The records the session manager received (POST or WAIT lines), waiting up to `seconds` for
  // count of them.
  std::vector<Esmg_Protocol *> Received(const std::string &kind, std::size_t count,
                                        int seconds = 5) const {
    std::vector<std::string> lines;
    for (int i = 0; i < seconds * 100; ++i) {
      lines.clear();
      for (const std::string &line : Lines())
        if (line.compare(0, kind.size() + 1, kind + " ") == 0) lines.push_back(line);
      if (lines.size() >= count) break;
      usleep(10000);
    }
    std::vector<Esmg_Protocol *> records;
    for (const std::string &line : lines) {
      std::string hex = line.substr(kind.size() + 1);
      std::vector<unsigned char> bytes;
      for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
      records.push_back(esmg_ReadProtocolFromPipe(bytes.data(), bytes.size()));
    }
    return records;
  }
  // The records received so far, after letting the session manager read for a while.
  std::vector<Esmg_Protocol *> Settled(const std::string &kind, int milliseconds = 300) const {
    usleep(static_cast<useconds_t>(milliseconds) * 1000);
    return Received(kind, 0);
  }
  // The types of records, in order.
  static std::vector<int32_t> Types(const std::vector<Esmg_Protocol *> &records) {
    std::vector<int32_t> types;
    for (const Esmg_Protocol *record : records) types.push_back(record ? record->type : -1);
    return types;
  }
  static void Free(std::vector<Esmg_Protocol *> &records) {
    for (Esmg_Protocol *record : records) esmg_FreeProtocol(record);
    records.clear();
  }
  void Connect(const char *name, int32_t kind) {
    Eerr_ErrorReport *err = nullptr;
    esmg_SessionConnect(name, kind, &err);
    EXPECT_EQ(err, nullptr);
    eerr_DeleteErrorReportEx(&err);
    ASSERT_EQ(esmg_SessionIsStarted(), 1);
  }

  // A client process running body; it ends through exit(), so that its exit-time farewell and
  // the sending of what it still holds run as in an application.
  static pid_t ClientProcess(const std::function<int()> &body) {
    pid_t pid = fork();
    if (pid == 0) std::exit(body());
    return pid;
  }
  static bool Ended(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  // The log lines (type 6) the session manager received, by the first word of their text, each
  // with the numbers that followed it in arrival order.
  std::map<int, std::vector<int>> LinesBySender(std::size_t count, int seconds) const {
    std::vector<Esmg_Protocol *> posts = Received("POST", count, seconds);
    std::map<int, std::vector<int>> lines;
    for (Esmg_Protocol *record : posts) {
      int sender = 0, number = 0;
      if (record->type == 6 && std::sscanf(record->w[3].s, "%d %d", &sender, &number) == 2)
        lines[sender].push_back(number);
    }
    Free(posts);
    return lines;
  }
  static std::vector<int> Sequence(int count) {
    std::vector<int> numbers(count);
    for (int i = 0; i < count; ++i) numbers[i] = i;
    return numbers;
  }

  std::string dir_, record_;
  pid_t manager_ = 0;
};

} // namespace taviron::testing

#endif
