// Showing a URL or a local file in the web browser, reusing a browser this process started.
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "emsc.h"
#include "epmg.h"
#include "esmg_frame_internal.h"
#include "estr.h"
#include "eurl.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace {

using taviron::session::StartProgram;
using taviron::session::WaitProgram;

constexpr const char *kReporter = "eurl_Browse";
// How long a browser may take to take a URL handed to it.
constexpr int kHandOverMs = 20000;

// The browser this process started last (0: none); process-wide and unlocked.
pid_t browser = 0;

bool BrowserRuns() {
  if (browser <= 0) return false;
  int status = 0;
  if (waitpid(browser, &status, WNOHANG) == 0) return true;
  browser = 0; // ended (and reaped now)
  return false;
}

// The browser program the user named, with its arguments; empty when none is named.
std::vector<std::string> NamedBrowser() {
  const char *named = std::getenv("TAVIRON_BROWSER");
  return named && *named ? taviron::session::CommandWords(named) : std::vector<std::string>{};
}

std::vector<std::string> Opener() {
  std::vector<std::string> words = NamedBrowser();
  if (words.empty()) words.push_back("xdg-open");
  return words;
}

std::vector<std::string> With(std::vector<std::string> words, const std::string &url) {
  words.push_back(url);
  return words;
}

// Opens the URL as a desktop's opener does, not waiting for it: true when it was started. Its
// end is collected on a thread of its own.
bool OpenAnew(const std::string &url) {
  const pid_t process = StartProgram(With(Opener(), url));
  if (process < 0) return false;
  std::thread([process] { WaitProgram(process, 0); }).detach();
  return true;
}

// Hands the URL to the browser that runs: the browser program run again with the URL passes it
// on and ends; true when it ended with exit code 0 in time.
bool HandOver(const std::string &url, Eerr_ErrorReport **err) {
  static const char *reporter = "eurl_SendToIE";
  const pid_t process = StartProgram(With(Opener(), url));
  if (process < 0) {
    lower::Report(err, reporter, 285, "Could not connect to IE.");
    return false;
  }
  const int code = WaitProgram(process, kHandOverMs);
  if (code == -2) std::thread([process] { WaitProgram(process, 0); }).detach();
  if (code != 0) {
    lower::Report(err, reporter, 289, "Transaction failed.");
    return false;
  }
  return true;
}

bool HasScheme(const std::string &text) {
  std::size_t i = 0;
  while (i < text.size() && (std::isalnum(static_cast<unsigned char>(text[i])) || text[i] == '+' ||
                             text[i] == '-' || text[i] == '.'))
    ++i;
  // One letter before ":" is a drive's, not a scheme.
  return i >= 2 && i < text.size() && text[i] == ':' && std::isalpha(static_cast<unsigned char>(text[0]));
}

// The URL of the text: a URL stays as it is; a file name becomes "file:///" and its absolute path
// percent-encoded (" ", "%", "\"" and bytes above 0x7E).
std::string MakeUrl(const std::string &text) {
  if (HasScheme(text)) return text;
  std::string path = text;
  if (path.empty() || path[0] != '/') {
    char folder[PATH_MAX];
    if (getcwd(folder, sizeof folder)) path = std::string(folder) + (path.empty() ? "" : "/" + path);
  }
  while (!path.empty() && path[0] == '/') path.erase(0, 1);
  static const char hex[] = "0123456789ABCDEF";
  std::string url = "file:///";
  for (unsigned char c : path) {
    if (c == ' ' || c == '%' || c == '"' || c > 0x7E) {
      url += '%';
      url += hex[c >> 4];
      url += hex[c & 15];
    } else {
      url += static_cast<char>(c);
    }
  }
  return url;
}

} // namespace

extern "C" {

int32_t eurl_Browse(const char *text, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  lower::CalleeReport inner;
  char *expanded = text ? estr_StringExpand(text, &inner) : nullptr;
  if (!expanded) {
    lower::ReportChained(err, inner, kReporter, 71, "Could not expand URL string.");
    return 0;
  }
  estr_ConvertPathNT(expanded);
  const std::string url = MakeUrl(expanded);
  emsc_HeapFree(expanded);

  const int32_t useIe = epmg_GetBooleanPreference("zav", "use_ie", 1, &inner);
  const bool handOver = inner || useIe != 0;
  inner.Drop();

  if (BrowserRuns()) {
    // The browser this process started is taken for its window.
    if (!handOver) return OpenAnew(url) || OpenAnew(url) ? 1 : 0;
    if (HandOver(url, &inner)) return 1;
    lower::ReportChained(err, inner, kReporter, 110, "DDE message to IE failed.");
    return 0;
  }

  std::vector<std::string> program;
  if (!handOver) {
    program = NamedBrowser();
    if (program.empty()) {
      Eerr_ErrorReport *warning =
          eerr_CreateErrorReport(kReporter, 134, EERR_WARNING, nullptr, "Unable to locate default browser!");
      if (err)
        *err = lower::JoinChains(warning, *err);
      else
        eerr_DeleteErrorReportEx(&warning);
    }
  }
  if (program.empty()) program = Opener();
  const pid_t started = StartProgram(With(program, url));
  if (started > 0) {
    browser = started;
    return 1;
  }
  return OpenAnew(url) ? 1 : 0;
} TAVIRON_GUARD(err, 0)

} // extern "C"
