// Sequence chains: steps of a program and its arguments, run one after the other, by the session
// manager or, in a process without one, here.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "efio.h"
#include "emsc.h"
#include "esmg.h"
#include "esmg_protocol_internal.h"
#include "internal.h"

extern char **environ;

namespace lower = taviron::lower;

namespace {

// Prints and drops a report of the program search.
void PrintDropped(lower::CalleeReport &inner) {
  if (inner) eerr_PrintErrorReport(inner.Get(), 0, nullptr);
  inner.Drop();
}

// The program of a step on the search list NORIX_BIN_PATH: the name with ".exe", the name, with
// ".com", with ".bat"; "" when none is there.
std::string FindProgram(const char *name) {
  lower::CalleeReport inner;
  Efio_SearchList *list = efio_CreateSLFromEnv(0, "NORIX_BIN_PATH", ".;./bin", &inner);
  PrintDropped(inner);
  std::string found;
  for (const char *suffix : {".exe", "", ".com", ".bat"}) {
    if (!list) break;
    char *path = efio_Which(list, (std::string(name) + suffix).c_str(), &inner);
    PrintDropped(inner);
    if (path) {
      found = path;
      emsc_HeapFree(path);
      break;
    }
  }
  efio_FreeSL(list);
  return found;
}

bool WriteAll(int fd, const std::string &text) {
  for (std::size_t done = 0; done < text.size();) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The argument file of a step: the count on the first line, then an argument a line. Its name,
// or "" when it could not be written. The file stays for the program.
std::string ArgumentFile(const std::vector<std::string> &arguments) {
  std::string base = arguments[0].substr(arguments[0].find_last_of('/') + 1);
  std::string prefix = "TavironCommandLine_" + base + "_" + std::to_string(getpid());
  char *name = efio_TempNameInTmpdir(prefix.c_str());
  if (!name) return "";
  std::string file = name;
  emsc_HeapFree(name);
  int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return "";
  std::string text = std::to_string(arguments.size()) + "\r\n";
  for (const std::string &argument : arguments) text += argument + "\n";
  const bool written = WriteAll(fd, text);
  if (close(fd) != 0 || !written) {
    unlink(file.c_str());
    return "";
  }
  return file;
}

// Runs the program to its end: its exit code (128 and the signal for one ended by a signal), -1
// when it could not be started.
int32_t Spawn(const std::string &program, bool search, const std::vector<std::string> &arguments) {
  std::vector<char *> argv;
  for (const std::string &argument : arguments) argv.push_back(const_cast<char *>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t child = 0;
  const int started = search ? posix_spawnp(&child, program.c_str(), nullptr, nullptr, argv.data(), environ)
                             : posix_spawn(&child, program.c_str(), nullptr, nullptr, argv.data(), environ);
  if (started != 0) return -1;
  int status = 0;
  while (waitpid(child, &status, 0) < 0)
    if (errno != EINTR) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// Runs one step here: its exit code, -1 for a step without arguments or one that could not be
// started.
int32_t RunStep(int32_t argc, char *const *argv) {
  if (argc < 1 || !argv || !argv[0]) return -1;
  std::vector<std::string> arguments;
  for (int32_t i = 0; i < argc; ++i) arguments.emplace_back(argv[i] ? argv[i] : "");
  if (const char *logFile = esmg_LogFileGet()) {
    arguments.emplace_back("-logfile");
    arguments.emplace_back(logFile);
  }
  const std::string program = FindProgram(argv[0]);
  if (program.empty()) return Spawn(argv[0], true, arguments);
  const std::string file = ArgumentFile(arguments);
  if (file.empty()) return -1;
  return Spawn(program, false, {argv[0], "@" + file});
}

} // namespace

extern "C" {

Esmg_Sequence *esmg_SequenceCreate(Esmg_Sequence *chain, const char *label, int32_t argc,
                                   char *const *argv, Eerr_ErrorReport **err) try {
  static const char *reporter = "esmg_SequenceCreate";
  if (err) *err = nullptr;
  // A step needs its program: a step without arguments would also end the chain where it
  // travels to the session manager.
  if (argc < 1 || !argv || !argv[0]) {
    if (err)
      *err = eerr_CreateErrorReport(reporter, 1, EERR_FATAL, nullptr,
                                    "A sequence step needs a program (argument count %d)",
                                    static_cast<int>(argc));
    return chain;
  }
  auto *step = static_cast<Esmg_Sequence *>(emsc_HeapMalloc(sizeof(Esmg_Sequence)));
  if (step) {
    step->argc = argc;
    if (!taviron::session::CopyString(label, &step->label) ||
        !taviron::session::CopyStringArray(argc, argv, &step->argv)) {
      esmg_SequenceFree(step);
      step = nullptr;
    }
  }
  if (!step) {
    if (err)
      *err = eerr_CreateErrorReport(reporter, 2, EERR_FATAL, nullptr,
                                    "Out of memory for a sequence step");
    return chain;
  }
  if (!chain) return step;
  Esmg_Sequence *last = chain;
  while (last->next) last = last->next;
  last->next = step;
  return chain;
} TAVIRON_GUARD(err, nullptr)

void esmg_SequenceFree(Esmg_Sequence *chain) try {
  while (chain) {
    Esmg_Sequence *next = chain->next;
    emsc_HeapFree(chain->label);
    taviron::session::FreeStringArray(chain->argc, chain->argv);
    emsc_HeapFree(chain);
    chain = next;
  }
} TAVIRON_GUARD_QUIET_VOID

void esmg_FreeSequence(Esmg_Sequence *chain) try { esmg_SequenceFree(chain); } TAVIRON_GUARD_QUIET_VOID

void esmg_SequenceStart(const Esmg_Sequence *chain, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!esmg_SessionIsStarted()) {
    lower::Report(err, "esmg_SequenceStart", 1,
                  "NOIRX Session Manager is not running!. This function requires NORIX Session "
                  "services.");
    return;
  }
  esmg_Broadcast(ESMG_DEST_NONE, 0, 8, chain);
} TAVIRON_GUARD_VOID(err)

void esmg_SequenceRun(const Esmg_Sequence *chain, Eerr_ErrorReport **err) try {
  static const char *reporter = "esmg_SequenceRun";
  lower::Clear(err);
  if (esmg_IsSessionManager()) {
    lower::Report(err, reporter, 1, "NORIX Session Manager can not call this function!.");
    return;
  }
  if (esmg_SessionIsStarted()) {
    esmg_Broadcast(ESMG_DEST_NONE, 0, 8, chain);
    Esmg_Protocol *result = esmg_WaitForProtocolWithFunc(0, 43, nullptr, nullptr);
    if (!result)
      lower::Report(err, reporter, 3, "ERROR waiting for reply from Session Manager!");
    else if (result->w[2].i != 0)
      lower::Report(err, reporter, 4, "ERROR while running the sequence chain!");
    esmg_FreeProtocol(result);
    return;
  }
  for (const Esmg_Sequence *step = chain; step; step = step->next) {
    const int32_t exitCode = RunStep(step->argc, step->argv);
    if (step->callback) step->callback(exitCode, step->userData);
  }
} TAVIRON_GUARD_VOID(err)

} // extern "C"
