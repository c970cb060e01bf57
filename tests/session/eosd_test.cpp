#include "eosd.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "emsc.h"
#include "epmg.h"
#include "eurl.h"
#include "esmg_frame_internal.h"
#include "taviron_testing.h"

namespace {

using Strings = std::vector<std::string>;

TEST(Eosd, NamesAndSystem) {
  for (int32_t id : {0, 1, 1000, -1}) {
    Eerr_ErrorReport *err = eerr_CreateErrorReport("earlier", 1, EERR_FATAL, nullptr, "held");
    Eerr_ErrorReport *held = err;
    char *user = eosd_UserName(id, 0, &err);
    EXPECT_EQ(err, nullptr);
    char *group = eosd_GroupName(id, 0, nullptr);
    EXPECT_STREQ(user, "");
    EXPECT_STREQ(group, "");
    emsc_HeapFree(user);
    emsc_HeapFree(group);
    eerr_DeleteErrorReportEx(&held);
  }
  char *name = eosd_OSVersionName(nullptr);
  ASSERT_NE(name, nullptr);
  const std::string text = name;
  emsc_HeapFree(name);
  EXPECT_EQ(text.rfind("Linux ", 0), 0u) << text;
  EXPECT_NE(text.find(" Build "), std::string::npos) << text;
  EXPECT_EQ(text.back(), ' ');
}

TEST(Eosd, ExecuteAnswersByTheExitCode) {
  // A descriptor of this process that the command must not see.
  const int open = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(open, 3);
  struct Case {
    std::string line;
    int32_t result;
  };
  const Case cases[] = {
      {"sh -c \"exit 3\"", 0},
      {"sh -c \"exit 0\"", 1},
      {"true", 1},
      {"false", 0},
      {"/nonexistent/program", 0},
      {"", 0},
      {"sh -c \"kill -9 $$\"", 0},
      {"sh -c \"[ ! -e /proc/self/fd/" + std::to_string(open) + " ]\"", 1},
  };
  for (const Case &c : cases) {
    Eerr_ErrorReport *err = nullptr;
    EXPECT_EQ(eosd_Execute(c.line.c_str(), 1, &err), c.result) << c.line;
    EXPECT_EQ(err, nullptr);
  }
  EXPECT_EQ(eosd_Execute(nullptr, 0, nullptr), 0);
  close(open);
}

TEST(Eosd, CommandLinesSplitIntoWords) {
  struct Case {
    const char *line;
    Strings words;
  };
  const Case cases[] = {
      {"a b  \tc", {"a", "b", "c"}},
      {"\"a b\" c", {"a b", "c"}},
      {"a\\\"b", {"a\"b"}},
      {"a\\\\\"b c\"", {"a\\b c"}},
      {"C:\\dir\\x", {"C:\\dir\\x"}},
      {"\"\"", {""}},
      {"  ", {}},
  };
  for (const Case &c : cases) EXPECT_EQ(taviron::session::CommandWords(c.line), c.words) << c.line;
}

int32_t useIe = 1;
bool useIeFails = false;

void PreferenceHook(int32_t *, Epmg_Preference **record, Eerr_ErrorReport **err) {
  if (!useIeFails && std::strcmp((*record)->category, "zav") == 0 && std::strcmp((*record)->name, "use_ie") == 0) {
    (*record)->valueType = EPMG_TYPE_BOOLEAN;
    (*record)->value.boolean = useIe;
    return;
  }
  *record = nullptr;
  if (err) *err = eerr_CreateErrorReport("PreferenceHook", 1, EERR_FATAL, nullptr, "not found");
}

// A fake browser: the first one started stays until told to stop; the others hand their URL on
// (after a moment) and end with FAKE_BROWSER_EXIT.
constexpr const char *kFakeBrowser = R"(#!/bin/sh
log="$FAKE_BROWSER_LOG"
if mkdir "$log.running" 2>/dev/null; then
  echo $$ > "$log.pid"
  echo "start $*" >> "$log"
  while [ ! -e "$log.stop" ]; do sleep 0.02; done
  rmdir "$log.running"
  echo "stopped" >> "$log"
else
  sleep 0.3
  echo "handed $*" >> "$log"
fi
exit ${FAKE_BROWSER_EXIT:-0}
)";

class EurlBrowse : public ::testing::Test {
protected:
  void SetUp() override {
    folder_.emplace("eurl_test");
    dir_ = folder_->str();
    log_ = dir_ + "/log";
    const std::string browser = dir_ + "/fake browser";
    std::ofstream(browser) << kFakeBrowser;
    ASSERT_EQ(chmod(browser.c_str(), 0755), 0);
    setenv("TAVIRON_BROWSER", ("\"" + browser + "\"").c_str(), 1);
    setenv("FAKE_BROWSER_LOG", log_.c_str(), 1);
    unsetenv("FAKE_BROWSER_EXIT");
    useIe = 1;
    useIeFails = false;
    epmg_PreferenceImplementationMethodsSet(EPMG_METHOD_GET, &PreferenceHook, 0, nullptr);
  }
  void TearDown() override {
    StopBrowser();
    epmg_PreferenceImplementationMethodsSet(EPMG_METHOD_GET, nullptr, 0, nullptr);
  }

  Strings Log() const {
    Strings lines;
    std::ifstream in(log_);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // The log once it holds count lines (waiting up to 5 s).
  Strings LogOf(std::size_t count) const {
    for (int i = 0; i < 500 && Log().size() < count; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return Log();
  }
  // Stops the browser that stays and waits for its end, so that the next browse starts anew.
  void StopBrowser() {
    if (access((log_ + ".running").c_str(), F_OK) != 0) return;
    std::string pid;
    std::ifstream(log_ + ".pid") >> pid;
    std::ofstream(log_ + ".stop");
    for (int i = 0; i < 1000 && !Ended(pid); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    unlink((log_ + ".stop").c_str());
  }
  // A process that is gone or a zombie.
  static bool Ended(const std::string &pid) {
    std::ifstream stat("/proc/" + pid + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return true;
    const std::size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
  }
  void WaitForOpener() const {
    std::string pid;
    std::ifstream(log_ + ".opener") >> pid;
    for (int i = 0; i < 1000 && !Ended(pid); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  int32_t Browse(const std::string &text, Eerr_ErrorReport **err = nullptr) { return eurl_Browse(text.c_str(), err); }

  std::optional<taviron::testing::TempDir> folder_;
  std::string dir_, log_;
};

TEST_F(EurlBrowse, FilesBecomeEncodedFileUrlsAndUrlsStay) {
  setenv("EURL_PAGE_DIR", dir_.c_str(), 1);
  Eerr_ErrorReport *err = nullptr;
  ASSERT_EQ(Browse("$EURL_PAGE_DIR\\a b%\"\xE9.html", &err), 1);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(LogOf(1), Strings{"start file:///" + dir_.substr(1) + "/a%20b%25%22%E9.html"});
  StopBrowser();
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  ASSERT_EQ(Browse("page.html"), 1);
  EXPECT_EQ(LogOf(3).back(), "start file:///" + dir_.substr(1) + "/page.html");
  StopBrowser();
  ASSERT_EQ(Browse("https://example.org/x?q=1&r=a b"), 1);
  EXPECT_EQ(LogOf(5).back(), "start https://example.org/x?q=1&r=a b");
  EXPECT_EQ(chdir("/"), 0);
}

TEST_F(EurlBrowse, ABrowserStartedHereTakesTheNextUrls) {
  ASSERT_EQ(Browse("http://one/"), 1);
  ASSERT_EQ(LogOf(1), Strings{"start http://one/"});
  // Handed over: the call waits until the browser took it.
  ASSERT_EQ(Browse("http://two/"), 1);
  EXPECT_EQ(Log(), (Strings{"start http://one/", "handed http://two/"}));
  // Opened anew (the preference clear): the call does not wait.
  useIe = 0;
  ASSERT_EQ(Browse("http://three/"), 1);
  EXPECT_EQ(Log().size(), 2u);
  EXPECT_EQ(LogOf(3).back(), "handed http://three/");
  // Once it ended, the next one is started again.
  StopBrowser();
  useIe = 1;
  ASSERT_EQ(Browse("http://four/"), 1);
  EXPECT_EQ(LogOf(5).back(), "start http://four/");
}

TEST_F(EurlBrowse, FailuresAreReported) {
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(Browse("${UNTERMINATED", &err), 0);
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(err->reporter, "eurl_Browse");
  EXPECT_EQ(err->code, 71);
  EXPECT_STREQ(err->message, "Could not expand URL string.");
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(eurl_Browse(nullptr, &err), 0);
  ASSERT_NE(err, nullptr);
  EXPECT_EQ(err->code, 71);
  eerr_DeleteErrorReportEx(&err);

  // A browser that does not take the URL.
  ASSERT_EQ(Browse("http://one/"), 1);
  LogOf(1);
  setenv("FAKE_BROWSER_EXIT", "3", 1);
  EXPECT_EQ(Browse("http://two/", &err), 0);
  ASSERT_NE(err, nullptr);
  EXPECT_EQ(err->code, 110);
  EXPECT_STREQ(err->message, "DDE message to IE failed.");
  ASSERT_NE(err->next, nullptr);
  EXPECT_STREQ(err->next->reporter, "eurl_SendToIE");
  EXPECT_EQ(err->next->code, 289);
  EXPECT_STREQ(err->next->message, "Transaction failed.");
  eerr_DeleteErrorReportEx(&err);
  StopBrowser();

  // A browser that cannot be started: nothing reached, nothing reported.
  setenv("TAVIRON_BROWSER", (dir_ + "/missing").c_str(), 1);
  EXPECT_EQ(Browse("http://three/", &err), 0);
  EXPECT_EQ(err, nullptr);
}

TEST_F(EurlBrowse, WithoutANamedBrowserTheDesktopsOpenerIsUsed) {
  // The opener of the desktop, found on PATH.
  const std::string bin = dir_ + "/bin";
  ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
  std::ofstream(bin + "/xdg-open") << "#!/bin/sh\necho $$ > \"$FAKE_BROWSER_LOG.opener\"\necho \"opener $*\" >> \"$FAKE_BROWSER_LOG\"\n";
  ASSERT_EQ(chmod((bin + "/xdg-open").c_str(), 0755), 0);
  setenv("PATH", (bin + ":/usr/bin:/bin").c_str(), 1);
  unsetenv("TAVIRON_BROWSER");
  Eerr_ErrorReport *err = nullptr;
  ASSERT_EQ(Browse("http://one/", &err), 1);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(LogOf(1).back(), "opener http://one/");
  // With the preference clear the missing association is told as a warning.
  useIe = 0;
  WaitForOpener();
  ASSERT_EQ(Browse("http://two/", &err), 1);
  ASSERT_NE(err, nullptr);
  EXPECT_EQ(err->code, 134);
  EXPECT_EQ(err->severity, EERR_WARNING);
  EXPECT_STREQ(err->message, "Unable to locate default browser!");
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(LogOf(2).back(), "opener http://two/");
  // A preference that cannot be read counts as set.
  useIeFails = true;
  WaitForOpener();
  ASSERT_EQ(Browse("http://three/", &err), 1);
  EXPECT_EQ(err, nullptr);
  // The opener has ended before the test's folder goes.
  EXPECT_EQ(LogOf(3).back(), "opener http://three/");
  WaitForOpener();
}

} // namespace
