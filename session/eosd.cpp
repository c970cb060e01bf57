// Operating-system services: user and group names, the system's name, and running a command
// line to its end.
#include <spawn.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "emsc.h"
#include "eosd.h"
#include "esmg_frame_internal.h"
#include "estr.h"
#include "internal.h"

extern char **environ;

namespace lower = taviron::lower;

namespace taviron::session {

std::vector<std::string> CommandWords(const std::string &line) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false, quoted = false;
  for (std::size_t i = 0; i < line.size();) {
    const char c = line[i];
    if (!quoted && (c == ' ' || c == '\t')) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
      ++i;
      continue;
    }
    inWord = true;
    if (c == '\\') {
      std::size_t run = 0;
      while (i + run < line.size() && line[i + run] == '\\') ++run;
      if (i + run < line.size() && line[i + run] == '"') {
        word.append(run / 2, '\\');
        if (run % 2) word += '"';
        else quoted = !quoted;
        i += run + 1;
      } else {
        word.append(run, '\\');
        i += run;
      }
      continue;
    }
    if (c == '"')
      quoted = !quoted;
    else
      word += c;
    ++i;
  }
  if (inWord) words.push_back(word);
  return words;
}

pid_t StartProgram(const std::vector<std::string> &words) {
  if (words.empty() || words[0].empty()) return -1;
  std::vector<char *> argv;
  for (const std::string &word : words) argv.push_back(const_cast<char *>(word.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return -1;
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  pid_t process = -1;
  const int started = posix_spawnp(&process, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return started == 0 ? process : -1;
}

int WaitProgram(pid_t process, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int status = 0;
    const pid_t ended = waitpid(process, &status, timeoutMs > 0 ? WNOHANG : 0);
    if (ended < 0 && errno == EINTR) continue;
    if (ended < 0) return -1;
    if (ended == process) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (std::chrono::steady_clock::now() >= deadline) return -2;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

} // namespace taviron::session

extern "C" {

char *eosd_UserName(int32_t, int32_t, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return estr_Duplicate("");
} TAVIRON_GUARD(err, nullptr)

char *eosd_GroupName(int32_t groupId, int32_t ignored, Eerr_ErrorReport **err) try {
  return eosd_UserName(groupId, ignored, err);
} TAVIRON_GUARD(err, nullptr)

char *eosd_OSVersionName(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  utsname name;
  int major = 0, minor = 0, patch = 0;
  if (uname(&name) != 0 || std::sscanf(name.release, "%d.%d.%d", &major, &minor, &patch) < 2)
    return estr_Duplicate("Unknown OS ");
  return estr_Duplicate(lower::Format("Linux %d.%d Build %d ", major, minor, patch).c_str());
} TAVIRON_GUARD(err, nullptr)

int32_t eosd_Execute(const char *commandLine, int32_t, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!commandLine) return 0;
  const pid_t process = taviron::session::StartProgram(taviron::session::CommandWords(commandLine));
  if (process < 0) return 0;
  return taviron::session::WaitProgram(process, 0) == 0 ? 1 : 0;
} TAVIRON_GUARD_QUIET(0)

} // extern "C"
