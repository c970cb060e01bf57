// Shared by the tests that kill a writer at a random moment: the writer runs in a child process,
// tells the parent through a pipe when it is under way and what it has done, and is killed with
// SIGKILL after a random delay.
#ifndef TAVIRON_TESTS_SUPPORT_CRASH_TESTING_H
#define TAVIRON_TESTS_SUPPORT_CRASH_TESTING_H

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

namespace taviron::testing {

// The child's side: lines written to the parent in one write each (so they arrive whole).
class ChildMessages {
public:
  explicit ChildMessages(int fd) : fd_(fd) {}
  void Say(const std::string &line) const {
    const std::string text = line + "\n";
    if (::write(fd_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) _exit(3);
  }

private:
  int fd_;
};

// Runs work(messages) in a child, waits until it says "ready", lets it run for `delay`, kills it
// and returns every line it sent after "ready" (in order, each ending in "\n"). work(messages, end)
// loops until it is killed or `end` (now + limit) has passed. A result beginning with "!" tells
// what went wrong instead (the child ended by itself, or could not be started).
template <class Work>
std::string RunAndKill(Work work, std::chrono::microseconds delay, std::chrono::seconds limit = std::chrono::seconds(20)) {
  int fds[2];
  if (::pipe(fds) != 0) return "!pipe";
  const pid_t child = ::fork();
  if (child < 0) return "!fork";
  if (child == 0) {
    ::close(fds[0]);
    const auto end = std::chrono::steady_clock::now() + limit;
    ChildMessages messages(fds[1]);
    work(messages, end);
    _exit(2);
  }
  ::close(fds[1]);
  // Wait for "ready\n".
  std::string text;
  char c = 0;
  while (text != "ready\n" && ::read(fds[0], &c, 1) == 1) text += c;
  if (text != "ready\n") {
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(fds[0]);
    return "!child ended before it was ready: " + text;
  }
  std::this_thread::sleep_for(delay);
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  std::string lines;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) lines.append(buffer, static_cast<std::size_t>(n));
  ::close(fds[0]);
  if (!WIFSIGNALED(status) || WTERMSIG(status) != SIGKILL) return "!child ended by itself: " + lines;
  return lines;
}

} // namespace taviron::testing

#endif
