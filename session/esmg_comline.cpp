// The command-line arguments of an application: its own command line, the argument file a
// sequence step wrote, or the argument block another process published; "-logfile" pairs name
// the batch log file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "emsc.h"
#include "epmg.h"
#include "esmg.h"
#include "esmg_frame_internal.h"
#include "estr.h"
#include "ewin.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace {

using Arguments = std::vector<std::string>;

Arguments FromCommandLine() {
  Arguments arguments;
  int32_t count = 0;
  lower::CalleeReport inner;
  char **vector = estr_ArgsGet(&count, &inner);
  for (int32_t i = 0; vector && i < count; ++i) {
    arguments.emplace_back(vector[i] ? vector[i] : "");
    emsc_HeapFree(vector[i]);
  }
  emsc_HeapFree(vector);
  return arguments;
}

Arguments FromFile(const char *name) {
  std::FILE *file = std::fopen(name, "rb");
  if (!file) {
    const std::string text = lower::Format("The command line file \"%s\" could not be opened.", name);
    esmg_MessageBox(text.c_str(), esmg_ApplicationTitleGet(), ESMG_MB_ICONERROR);
    esmg_ProcessExit(1);
  }
  Arguments arguments = taviron::session::ReadArgumentFile(file);
  std::fclose(file);
  lower::CalleeReport ignored;
  if (epmg_GetBooleanPreference("zav", "save_job_cmd_line_file", 0, &ignored) != 1)
    unlink(name);
  return arguments;
}

// "0x<handle> <process id>": the block that process published for the handle.
Arguments FromBlock(const char *source) {
  char *end = nullptr;
  const unsigned long handle = std::strtoul(source + 2, &end, 16);
  if (end == source + 2 || *end != ' ' || handle > UINT32_MAX) return {};
  const char *pidText = end + 1;
  const long processId = std::strtol(pidText, &end, 10);
  if (end == pidText || processId <= 0 || processId > INT32_MAX || handle == 0) return {};
  const Ewin_Handle process = ewin_OpenProcess(static_cast<int32_t>(processId));
  if (!process) return {};
  Arguments arguments;
  const std::string name = lower::Format(ESMG_ARGUMENT_BLOCK_NAME_FORMAT, static_cast<int>(processId),
                                         static_cast<unsigned>(handle));
  if (const Ewin_Handle mapping = ewin_OpenFileMapping(name.c_str())) {
    const int64_t size = ewin_GetFileMappingSize(mapping);
    if (const void *view = size > 0 ? ewin_MapViewOfFile(mapping) : nullptr) {
      arguments = taviron::session::ArgumentBlockStrings(static_cast<const unsigned char *>(view),
                                                         static_cast<std::size_t>(size));
      ewin_UnmapViewOfFile(view);
    }
    ewin_CloseHandle(mapping);
  }
  ewin_CloseHandle(process);
  return arguments;
}

// Removes every "-logfile" that a name follows, with the name; the first name becomes the batch
// log file when none is set.
void TakeLogFile(Arguments &arguments) {
  for (std::size_t i = 0; i + 1 < arguments.size();) {
    if (!estr_Eqic(arguments[i].c_str(), "-logfile")) {
      ++i;
      continue;
    }
    if (!esmg_LogFileGet()) esmg_LogFileSet(arguments[i + 1].c_str());
    arguments.erase(arguments.begin() + static_cast<std::ptrdiff_t>(i),
                    arguments.begin() + static_cast<std::ptrdiff_t>(i + 2));
  }
}

void FreeVector(char **vector, std::size_t count) {
  for (std::size_t i = 0; vector && i < count; ++i) emsc_HeapFree(vector[i]);
  emsc_HeapFree(vector);
}

} // namespace

namespace taviron::session {

std::vector<std::string> ReadArgumentFile(std::FILE *file) {
  std::vector<std::string> arguments;
  char *line = nullptr;
  std::size_t room = 0;
  long count = 0;
  if (getline(&line, &room, file) >= 0) {
    char *end = nullptr;
    count = std::strtol(line, &end, 10);
    if (end == line) count = 0;
  }
  for (long i = 0; i < count; ++i) {
    const ssize_t length = getline(&line, &room, file);
    if (length < 0) break; // the file holds fewer lines than it claims
    std::string argument(line, static_cast<std::size_t>(length));
    while (!argument.empty() && (argument.back() == '\n' || argument.back() == '\r')) argument.pop_back();
    arguments.push_back(argument.c_str());
  }
  std::free(line);
  return arguments;
}

std::vector<std::string> ArgumentBlockStrings(const unsigned char *bytes, std::size_t size) {
  std::vector<std::string> arguments;
  for (std::size_t at = 0; at < size && bytes[at];) {
    const auto *text = reinterpret_cast<const char *>(bytes + at);
    const std::size_t length = strnlen(text, size - at);
    const std::string argument(text, length);
    arguments.push_back(argument == " " ? "" : argument);
    at += length + 1;
  }
  return arguments;
}

} // namespace taviron::session

extern "C" {

int32_t esmg_ComLineArgsGet(const char *source, int32_t *argc, char ***argv) try {
  if (!argc || !argv) return 0;
  Arguments arguments;
  if (source && source[0] == '@')
    arguments = FromFile(source + 1);
  else if (source && source[0] == '0' && (source[1] == 'x' || source[1] == 'X'))
    arguments = FromBlock(source);
  else
    arguments = FromCommandLine();
  TakeLogFile(arguments);
  *argc = 0;
  *argv = nullptr;
  auto **vector = static_cast<char **>(emsc_HeapMalloc(sizeof(char *) * (arguments.size() + 1)));
  if (!vector) return 0;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (!(vector[i] = lower::HeapCopy(arguments[i].data(), arguments[i].size()))) {
      FreeVector(vector, i);
      return 0;
    }
  }
  *argc = static_cast<int32_t>(arguments.size());
  *argv = vector;
  return 0;
} TAVIRON_GUARD_QUIET(0)

} // extern "C"
