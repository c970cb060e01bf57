// The product environment a program sets up when the session manager did not start it: the
// home and architecture directories, the user's home and personal directories, the global data
// store, the search lists of the registry value "Environment" (or the default table), PATH and
// the environment file "taviron.env".
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "eerr.h"
#include "efio.h"
#include "emsc.h"
#include "eplg.h"
#include "esmg.h"
#include "esmg_frame_internal.h"
#include "estr.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace {

constexpr const char *kCurrentPersonal = ".taviron1000";
constexpr const char *kPreviousPersonal = ".taviron930";
constexpr const char *kGlobalStoreFolder = "/var/lib";
constexpr std::size_t kMaxEnvironmentLine = 255;
// Bounds of a search-list expansion: the text of one list, the candidate elements made in one
// expansion, and the variables expanded inside one another (deeper ones count as unset).
constexpr std::size_t kMaxListText = 1u << 20;
constexpr std::size_t kMaxCandidates = 1u << 22;
constexpr std::size_t kMaxNesting = 64;

std::string Env(const char *name) {
  const char *value = std::getenv(name);
  return value ? value : "";
}

bool IsSet(const char *name) { return std::getenv(name) != nullptr; }

void Set(const char *name, const std::string &value) { estr_PutEnv(name, value.c_str()); }

bool IsFolder(const std::string &path) {
  struct stat info;
  return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void Box(const std::string &text, const char *caption, uint32_t style) {
  esmg_MessageBox(text.c_str(), caption, style);
}

void PrintAndDrop(Eerr_ErrorReport *report) {
  if (!report) return;
  eerr_PrintErrorReport(report, 0, nullptr);
  eerr_DeleteErrorReportEx(&report);
}

bool EndsWithNoCase(const std::string &text, const std::string &ending) {
  return text.size() >= ending.size() &&
         estr_Eqic(text.c_str() + text.size() - ending.size(), ending.c_str());
}

// The personal directory names, read once.
const std::string &PersonalName(bool previous) {
  static const std::string current = IsSet("OVERRIDE_PERSONAL") ? Env("OVERRIDE_PERSONAL") : kCurrentPersonal;
  static const std::string earlier =
      IsSet("OVERRIDE_PREVIOUS_PERSONAL") ? Env("OVERRIDE_PREVIOUS_PERSONAL") : kPreviousPersonal;
  return previous ? earlier : current;
}

std::string Slashes(std::string path) {
  for (char &c : path)
    if (c == '\\') c = '/';
  return path;
}

// The path made absolute against the current directory, "." and ".." resolved by name.
std::string Absolute(const std::string &path) {
  std::string full = path;
  if (path.empty() || path[0] != '/') {
    char buffer[PATH_MAX];
    if (!getcwd(buffer, sizeof buffer)) {
      PrintAndDrop(eerr_CreateErrorReport("aboluteP", 201, EERR_FATAL, nullptr,
                                          "Cannot read the current directory: %s", std::strerror(errno)));
      return path;
    }
    full = std::string(buffer) + "/" + path;
  }
  std::vector<std::string> parts;
  for (std::size_t start = 0; start <= full.size();) {
    std::size_t end = full.find('/', start);
    if (end == std::string::npos) end = full.size();
    const std::string part = full.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string result;
  for (const std::string &part : parts) result += "/" + part;
  return result.empty() ? "/" : result;
}

// The folder of the program: the directory of argument 0, else that of the program file, else
// the installation's default.
std::string ProgramFolder() {
  int32_t count = 0;
  lower::CalleeReport ignored;
  char **vector = estr_ArgsGet(&count, &ignored);
  std::string argument0 = vector && count > 0 && vector[0] ? vector[0] : "";
  for (int32_t i = 0; vector && i < count; ++i) emsc_HeapFree(vector[i]);
  emsc_HeapFree(vector);
  const std::size_t slash = argument0.rfind('/');
  std::string folder = slash == std::string::npos ? "" : argument0.substr(0, slash == 0 ? 1 : slash);
  if (folder.empty()) {
    char program[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", program, sizeof program - 1);
    if (n > 0) {
      const std::string path(program, static_cast<std::size_t>(n));
      const std::size_t at = path.rfind('/');
      if (at != std::string::npos) folder = path.substr(0, at == 0 ? 1 : at);
    }
  }
  if (folder.empty()) folder = "/taviron/bin/ntx86";
  return folder;
}

// Whether a file can be made in the directory.
bool Writable(const std::string &directory) {
  if (!IsFolder(directory)) return false;
  lower::CalleeReport ignored;
  char *name = efio_TempName(directory.c_str(), "tmp", &ignored);
  if (!name) return false;
  const int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd >= 0) {
    close(fd);
    unlink(name);
  }
  emsc_HeapFree(name);
  return fd >= 0;
}

// Whether the home is the root of the file system.
bool IsRootDirectory(const std::string &home) {
  char resolved[PATH_MAX];
  if (realpath(home.c_str(), resolved)) return std::strcmp(resolved, "/") == 0;
  return !home.empty() && home.find_first_not_of('/') == std::string::npos;
}

std::string UserName() {
  if (const char *user = std::getenv("USER"); user && *user) return user;
  passwd entry{}, *found = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found) return found->pw_name;
  return "";
}

std::string PasswordHome() {
  passwd entry{}, *found = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir)
    return found->pw_dir;
  return "/";
}

// Copies a file whole: written beside and renamed into place.
bool CopyFile(const std::string &from, const std::string &to, Eerr_ErrorReport **err) {
  std::FILE *in = std::fopen(from.c_str(), "rb");
  if (!in) {
    lower::Report(err, "estr_NorixEnvSet", 1, "Cannot read %s: %s", from.c_str(), std::strerror(errno));
    return false;
  }
  const std::string temporary = to + ".copying";
  std::FILE *out = std::fopen(temporary.c_str(), "wb");
  bool ok = out != nullptr;
  char chunk[65536];
  while (ok) {
    const std::size_t n = std::fread(chunk, 1, sizeof chunk, in);
    if (n > 0 && std::fwrite(chunk, 1, n, out) != n) ok = false;
    if (n < sizeof chunk) {
      ok = ok && !std::ferror(in);
      break;
    }
  }
  const int error = errno;
  std::fclose(in);
  if (out && std::fclose(out) != 0) ok = false;
  if (ok && std::rename(temporary.c_str(), to.c_str()) != 0) ok = false;
  if (!ok) {
    std::remove(temporary.c_str());
    lower::Report(err, "estr_NorixEnvSet", 2, "Cannot copy %s to %s: %s", from.c_str(), to.c_str(),
                  std::strerror(error ? error : errno));
  }
  return ok;
}

bool KeptFromPrevious(const std::string &name) {
  for (const char *kept : {"v8preference", "filehistory", "dirhistory", "elevationhistory"})
    if (estr_Eqic(name.c_str(), kept)) return true;
  return name.size() > 4 && name.compare(name.size() - 4, 4, ".cfg") == 0;
}

bool LeftBehind(const std::string &name) {
  if (name == "." || name == ".." || estr_Eqic(name.c_str(), "sessionrecovery")) return true;
  return estr_Eqnic(name.c_str(), "viewer.", 7) && name.size() > 8 && name.find('.', 8) != std::string::npos;
}

// Brings the files worth keeping from the previous release's personal directory into the new
// one and tells the user which others to copy by hand.
void MoveFromPrevious(const std::string &home, const std::string &personal) {
  const std::string previous = Slashes(home + "/" + PersonalName(true));
  if (!IsFolder(previous)) return;
  DIR *folder = opendir(previous.c_str());
  if (!folder) return;
  std::vector<std::string> names;
  while (dirent *entry = readdir(folder)) names.emplace_back(entry->d_name);
  closedir(folder);
  std::sort(names.begin(), names.end());
  std::vector<std::string> manual;
  for (const std::string &name : names) {
    if (KeptFromPrevious(name)) {
      Eerr_ErrorReport *report = nullptr;
      CopyFile(previous + "/" + name, personal + "/" + name, &report);
      PrintAndDrop(report);
    } else if (!LeftBehind(name)) {
      manual.push_back(name);
    }
  }
  if (manual.empty()) return;
  std::string text = "The following file(s) from your $HOME\\" + PersonalName(true) +
                     " directory must be copied manually to your $HOME\\" + PersonalName(false) +
                     " directory if you wish to continue to use them with the new version of TAVIRON:\n";
  for (const std::string &name : manual) text += "\n\t" + name;
  esmg_LogMessage(1, nullptr, "%s", text.c_str());
}

// The variables of the registry value "Environment", or of the default table.
void DefineListedVariables() {
  using namespace taviron::session;
  std::string bytes;
  std::vector<std::string> entries;
  if (ProductKeyValue("Environment", bytes) && bytes.size() > 2)
    entries = MultiStrings(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
  else
    entries = DefaultEnvironment();
  for (const std::string &entry : entries) {
    const std::size_t equals = entry.find('=');
    if (equals == std::string::npos || equals == 0) continue; // names no variable
    Set(entry.substr(0, equals).c_str(), ExpandSearchListText(entry.substr(equals + 1)));
  }
}

// PATH: the directories of NORIX_BIN_PATH before the old PATH (the list separator of this
// platform; empty entries dropped, so the current directory never slips in).
void PrependBinPath() {
  std::string path;
  const std::string bin = Env("NORIX_BIN_PATH");
  for (std::size_t start = 0; start <= bin.size();) {
    std::size_t end = bin.find(';', start);
    if (end == std::string::npos) end = bin.size();
    if (end > start) path += (path.empty() ? "" : ":") + bin.substr(start, end - start);
    start = end + 1;
  }
  const std::string old = Env("PATH");
  if (!old.empty()) path += (path.empty() ? "" : ":") + old;
  Set("PATH", path);
}

void ApplyEnvironmentFile() {
  const std::string name = Env("TAVIRON_HOME") + "/taviron.env";
  std::FILE *file = std::fopen(name.c_str(), "rb");
  if (!file) return;
  for (const auto &[variable, value] : taviron::session::ReadEnvironmentFile(file)) Set(variable.c_str(), value);
  std::fclose(file);
}

// ---- Search-list expansion ------------------------------------------------------------------

bool IsNameCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

using List = std::deque<std::string>; // elements keep their place as the list grows

List Split(const std::string &value) {
  List elements;
  for (std::size_t start = 0; start <= value.size();) {
    std::size_t end = value.find(';', start);
    if (end == std::string::npos) end = value.size();
    elements.push_back(value.substr(start, end - start));
    start = end + 1;
  }
  return elements;
}

class Expander {
public:
  List Expand(const std::string &value) {
    if (value.empty()) return {};
    List list = Split(value);
    for (bool again = true; again;) {
      again = false;
      List next;
      std::unordered_set<std::string_view> held; // the elements of next
      std::size_t text = 0;
      std::string candidate;
      const auto add = [&](bool once) {
        ++candidates_;
        if (text + candidate.size() > kMaxListText || candidates_ > kMaxCandidates) return;
        if (once && (candidate.empty() || held.count(candidate))) return;
        text += candidate.size() + 1;
        // A "$" left in an element (from a suffix) is expanded in the next pass; a list without
        // one would only be copied again.
        again = again || candidate.find('$') != std::string::npos;
        next.push_back(candidate);
        held.insert(next.back());
      };
      for (const std::string &element : list) {
        const std::size_t dollar = element.find('$');
        if (dollar == std::string::npos) {
          candidate = element;
          add(false);
          continue;
        }
        std::size_t end = dollar + 1;
        while (end < element.size() && IsNameCharacter(element[end])) ++end;
        const std::string_view prefix(element.data(), dollar);
        const std::string name = element.substr(dollar + 1, end - dollar - 1);
        const std::string_view suffix(element.data() + end, element.size() - end);
        const char *set = name.empty() ? nullptr : std::getenv(name.c_str());
        if (!set || Expanding(name)) {
          candidate.assign(prefix).append(suffix);
          add(true);
          continue;
        }
        for (const std::string &part : Variable(name, set)) {
          candidate.assign(prefix).append(part).append(suffix);
          add(true);
        }
      }
      list = std::move(next);
    }
    return list;
  }

private:
  bool Expanding(const std::string &name) const {
    if (stack_.size() >= kMaxNesting) return true;
    for (const std::string &open : stack_)
      if (open == name) return true;
    return false;
  }

  // The expansion of a variable's value, once for each set of variables being expanded.
  const List &Variable(const std::string &name, const char *value) {
    std::vector<std::string> sorted = stack_;
    std::sort(sorted.begin(), sorted.end());
    std::string key = name;
    for (const std::string &open : sorted) key += '\0' + open;
    auto found = memo_.find(key);
    if (found != memo_.end()) return found->second;
    stack_.push_back(name);
    List parts = Expand(value);
    stack_.pop_back();
    return memo_[key] = std::move(parts);
  }

  std::vector<std::string> stack_;
  std::map<std::string, List> memo_;
  std::size_t candidates_ = 0;
};

// The block of esmg_SetEnvironmentStrings.
std::atomic<char *> environmentStrings{nullptr};

} // namespace

namespace taviron::session {

std::vector<std::string> ExpandSearchList(const std::string &value) {
  List list = Expander().Expand(value);
  return {std::make_move_iterator(list.begin()), std::make_move_iterator(list.end())};
}

std::string ExpandSearchListText(const std::string &value) {
  std::string text;
  for (const std::string &element : ExpandSearchList(value)) text += (text.empty() ? "" : ";") + element;
  return text;
}

std::vector<std::pair<std::string, std::string>> ReadEnvironmentFile(std::FILE *file) {
  std::vector<std::pair<std::string, std::string>> settings;
  char *line = nullptr;
  std::size_t room = 0;
  ssize_t length = 0;
  while ((length = getline(&line, &room, file)) >= 0) {
    std::string text(line, static_cast<std::size_t>(length));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (text.size() > kMaxEnvironmentLine) continue; // not a line of this file
    text = text.c_str();
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos || equals == 0) continue;
    settings.emplace_back(text.substr(0, equals), text.substr(equals + 1));
  }
  std::free(line);
  return settings;
}

} // namespace taviron::session

extern "C" {

void estr_SetupBasicEnv(void) try {
  std::string home = Env("TAVIRON_HOME");
  if (!IsSet("TAVIRON_HOME") || !IsSet("ARCHM")) {
    std::string folder = Absolute(ProgramFolder());
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (!IsSet("ARCHM")) Set("ARCHM", folder.substr(folder.rfind('/') + 1));
    const std::string architecture = Env("ARCHM");
    if (EndsWithNoCase(folder, "/bin/" + architecture)) {
      folder.resize(folder.size() - architecture.size() - 5);
    } else if (EndsWithNoCase(folder, "/bin/" + architecture + "Debug")) {
      folder.resize(folder.size() - architecture.size() - 10);
      Set("ARCHM", "NTx86Debug");
    } else if (EndsWithNoCase(folder, "/bin")) {
      folder.resize(folder.size() - 4);
    }
    home = folder;
  }
  const bool driveAlone = home.size() == 2 && std::isalpha(static_cast<unsigned char>(home[0])) && home[1] == ':';
  if (!driveAlone) home = Absolute(Slashes(home));
  Set("TAVIRON_HOME", home);
  if (!IsSet("TAVIRON_TOOLKIT_HOME")) {
    std::string bytes;
    Set("TAVIRON_TOOLKIT_HOME", taviron::session::ProductKeyValue("ToolkitHome", bytes) ? bytes.c_str() : "");
  }
  if (!IsSet("TAVIRON_HOME_PATH")) {
    const std::string toolkit = Env("TAVIRON_TOOLKIT_HOME");
    Set("TAVIRON_HOME_PATH", toolkit.empty() ? home : toolkit + ";" + home);
  }
  if (!IsSet("ARCHM_PATH")) Set("ARCHM_PATH", Env("ARCHM"));
  Set("ARCH", "NTx86");
  Set("CPUCOUNT", "1");
} TAVIRON_GUARD_QUIET_VOID

int32_t estr_ComputeHOMEAndPERSONAL(char **home, char **personal) try {
  const bool homeSet = IsSet("HOME");
  std::string folder;
  if (homeSet) {
    folder = Env("HOME");
  } else {
    const std::string path = Env("HOMEPATH");
    if (IsSet("HOMEPATH") && path != "\\" && path != "/")
      folder = Env("HOMEDRIVE") + path;
    else
      folder = PasswordHome(); // the user's folder of this system
  }
  if (home) *home = estr_Duplicate(folder.c_str());
  if (personal) *personal = estr_Duplicate(Slashes(folder + "/" + PersonalName(false)).c_str());
  return homeSet ? 1 : 0;
} TAVIRON_GUARD_QUIET(0)

int32_t estr_ComputeGlobalAppStore(char **path) try {
  if (path) *path = nullptr;
  if (IsSet("VOD_GLOBAL_DATA")) {
    if (path) *path = estr_Duplicate(Env("VOD_GLOBAL_DATA").c_str());
    return 1;
  }
  const std::string store = std::string(kGlobalStoreFolder) + "/NORIX/" +
                            esmg_RegistryPathProductComponentGet() +
                            esmg_RegistryPathVersionComponentGet() + "/";
  if (path) *path = estr_Duplicate(store.c_str());
  return Writable(store) ? 1 : 0;
} TAVIRON_GUARD_QUIET(0)

void estr_SetGlobalStore(int32_t, const char *path) try {
  if (path) Set("VOD_GLOBAL_DATA", path);
} TAVIRON_GUARD_QUIET_VOID

void estr_NorixEnvSet(void) try {
  static std::atomic<bool> done{false};
  if (done.exchange(true)) return;
  // No variable tells this platform's kind apart from others (NORIX_WINVER names the kinds of
  // another platform).
  estr_SetupBasicEnv();
  const bool quiet = IsSet("UNATTENDED_NORIX_INSTALLATION");

  char *homeText = nullptr, *personalText = nullptr;
  const bool homeWasSet = estr_ComputeHOMEAndPERSONAL(&homeText, &personalText) != 0;
  const std::string home = homeText ? homeText : "";
  const std::string personal = personalText ? personalText : "";
  emsc_HeapFree(homeText);
  emsc_HeapFree(personalText);
  if (!quiet && !Writable(home) && !IsSet("HOME_NOT_ACCESSIBLE_ALREADY_COMPLAINED")) {
    Set("HOME_NOT_ACCESSIBLE_ALREADY_COMPLAINED", "1");
    Box(lower::Format(
            "Your current home directory (%s) does not exist, or it is read-only. A writable "
            "directory is necessary to store your preference settings, session logs, and "
            "scheduled jobs. Please ensure that this directory exists and is writable, or define "
            "an environment variable named HOME that specifies the directory where these files "
            "can be stored and restart this process. (You may disregard this message while "
            "installing or removing the software, as a writable home directory is not needed.)",
            home.c_str()),
        "Warning", ESMG_MB_ICONWARNING);
  }

  char *store = nullptr;
  estr_ComputeGlobalAppStore(&store);
  estr_SetGlobalStore(0, store);
  emsc_HeapFree(store);

  if (IsRootDirectory(home)) {
    if (!quiet)
      Box(lower::Format("Your HOME directory (%s) points to the root directory of a drive, which is "
                        "not advisable when other users have access to this drive.  It is better to "
                        "set HOME to a subdirectory which you own, such as C:\\Users\\%s.\n\nClick OK "
                        "to continue.",
                        home.c_str(), UserName().c_str()),
          "Warning", ESMG_MB_ICONWARNING);
  } else if (!home.empty()) {
    mkdir(home.c_str(), 0777);
  }
  if (!homeWasSet) Set("HOME", home);
  if (!home.empty() && chdir(home.c_str()) != 0) {
    // the current directory stays where it was
  }
  Set("PERSONAL", personal);

  if (!quiet && !personal.empty()) {
    const bool existed = IsFolder(personal);
    mkdir(personal.c_str(), 0777);
    if (!existed && IsFolder(personal)) MoveFromPrevious(home, personal);
  }

  Set("HOSTNAME", "%USERDOMAIN%");
  if (!quiet) {
    if (!IsSet("TEMP"))
      Box("The environment variable 'TEMP' is not set.\nPlease use the Control Panel to set this variable.",
          "NORIX TAVIRON", ESMG_MB_ICONERROR | ESMG_MB_TASKMODAL);
    if (!IsSet("TMP"))
      Box("The environment variable 'TMP' is not set.\nPlease use the Control Panel to set this variable.",
          "NORIX TAVIRON", ESMG_MB_ICONERROR | ESMG_MB_TASKMODAL);
  }
  if (!IsSet("NORIX_REGISTRY_ENV_BYPASS")) DefineListedVariables();
  PrependBinPath();
  ApplyEnvironmentFile();
  eplg_SetVODEnvironment();
} TAVIRON_GUARD_QUIET_VOID

void esmg_SetEnvironmentStrings(char *block) try { environmentStrings = block; } TAVIRON_GUARD_QUIET_VOID

char *esmg_GetEnvironmentStrings(void) try { return environmentStrings; } TAVIRON_GUARD_QUIET(nullptr)

void esmg_FreeEnvironmentStrings(void) try { emsc_HeapFree(environmentStrings.exchange(nullptr)); } TAVIRON_GUARD_QUIET_VOID

} // extern "C"
