// Running a scenario as an ordinary user with the descriptor limit of a desktop session.
// Root is exempt from the per-user limit on descriptors in flight over local sockets, so a test
// running as root never meets what an ordinary user meets; such a scenario runs in a child
// process that drops to a uid of its own and lowers RLIMIT_NOFILE to 1024.
#ifndef TAVIRON_TESTS_SUPPORT_ORDINARY_USER_H
#define TAVIRON_TESTS_SUPPORT_ORDINARY_USER_H

#include <algorithm>
#include <chrono>
#include <csignal>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <grp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace taviron::testing {

// The exit status of a scenario that could not drop its privileges.
constexpr int kCannotDrop = 77;
// The result of a scenario that did not end in time (it is killed with all its processes).
constexpr int kTimedOut = -1;

// The uid and gid a scenario runs under: this process's when it is not root, else an unused
// pair of its own, so that parallel tests do not share the per-user limits.
inline uid_t OrdinaryUid() {
  return getuid() != 0 ? getuid() : static_cast<uid_t>(200000 + getpid() % 100000);
}

// Runs body in a child process (a process group of its own) as the ordinary user with at most
// 1024 descriptors. The paths are handed to that user first. Returns body's result, kCannotDrop,
// or kTimedOut (and then kills the whole group).
inline int RunAsOrdinaryUser(const std::function<int()> &body, std::chrono::seconds timeout,
                             const std::vector<std::string> &paths = {}) {
  const uid_t uid = OrdinaryUid();
  pid_t child = fork();
  if (child < 0) return kTimedOut;
  if (child == 0) {
    setpgid(0, 0);
    if (getuid() == 0) {
      for (const std::string &path : paths)
        if (chown(path.c_str(), uid, uid) != 0) _exit(kCannotDrop);
      if (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0 || geteuid() != uid)
        _exit(kCannotDrop);
      prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);
    }
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max = std::min<rlim_t>(limit.rlim_max, 1024);
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(kCannotDrop);
    _exit(body());
  }
  setpgid(child, child);
  // The child is seen ended without being reaped, so that its group id cannot be reused before
  // what it left behind is killed.
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  siginfo_t info{};
  bool ended = false;
  while (!(ended = waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                   info.si_pid == child) &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  kill(-child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  if (!ended) return kTimedOut;
  return WIFEXITED(status) ? WEXITSTATUS(status) : kTimedOut;
}

} // namespace taviron::testing

#endif
