#include "esmg.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "emsc.h"
#include "epmg.h"
#include "taviron_testing.h"

namespace {

struct Line {
  int32_t level;
  std::string text;
  bool operator==(const Line &other) const {
    return level == other.level && text == other.text;
  }
};
std::vector<Line> lines;
void PrintTo(const Line &line, std::ostream *out) { *out << line.level << " \"" << line.text << "\""; }
bool leaveReport = false;

int32_t Capture(int32_t level, const char *text, Eerr_ErrorReport **err) {
  lines.push_back({level, text});
  if (leaveReport && err) *err = eerr_CreateErrorReport("Capture", 1, 2, nullptr, "left", 0);
  return 1;
}

class EsmgLog : public ::testing::Test {
protected:
  void SetUp() override {
    lines.clear();
    leaveReport = false;
    unsetenv("TAVIRON_BATCH_RUN");
    esmg_SetLogFunction(Capture);
  }
  void TearDown() override { esmg_SetLogFunction(nullptr); }
};

TEST_F(EsmgLog, ChainsBecomeLogLines) {
  // outer (no message) chains inner; a "%" in names and messages is not a directive.
  Eerr_ErrorReport *chain = eerr_CreateErrorReport("in%sner", 7, 2, nullptr, "%s", "100%d broke");
  chain = eerr_CreateErrorReport("outer", 3, 2, chain, nullptr);
  esmg_LogErrorContents(chain, nullptr, nullptr);
  const std::vector<Line> expected = {{1, "ERROR: #3 from outer"},
                                      {1, "ERROR:  in%sner failed"},
                                      {1, "ERROR: #7 from in%sner"},
                                      {1, "ERROR: 100%d broke"}};
  EXPECT_EQ(lines, expected);
  eerr_DeleteErrorReportEx(&chain);

  struct Case {
    int32_t severity;
    const char *message;
    std::vector<Line> lines;
  };
  const Case cases[] = {
      {1, "careful", {{1, "WARNING: #5 from f"}, {1, "WARNING: careful"}}},
      {7, "odd", {{1, "UNKNOWN: #5 from f"}, {1, "UNKNOWN: odd"}}},
      {-5, nullptr, {{1, "UNKNOWN: #5 from f"}}}, // no message and nothing beneath
      {0, "plain", {{1, "plain"}}},
      {-1, "chatty", {{0, "chatty"}}},
      {0, nullptr, {}},
  };
  for (const Case &c : cases) {
    lines.clear();
    Eerr_ErrorReport *report = eerr_CreateErrorReport("f", 5, c.severity, nullptr,
                                                      c.message ? "%s" : nullptr, c.message);
    esmg_LogErrorContents(report, nullptr, nullptr);
    EXPECT_EQ(lines, c.lines) << "severity " << c.severity;
    eerr_DeleteErrorReportEx(&report);
  }

  // A very long reporter name is not cut.
  lines.clear();
  std::string longName(600, 'n');
  Eerr_ErrorReport *report = eerr_CreateErrorReport(longName.c_str(), 1, 2, nullptr, "m", 0);
  esmg_LogErrorContents(report, nullptr, nullptr);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, "ERROR: #1 from " + longName);
  eerr_DeleteErrorReportEx(&report);
}

TEST_F(EsmgLog, AReportInTheSlotStopsLogging) {
  Eerr_ErrorReport *held = eerr_CreateErrorReport("before", 1, 2, nullptr, "held", 0);
  Eerr_ErrorReport *slot = held;
  EXPECT_EQ(esmg_LogMessage(1, &slot, "x %d", 1), 0);
  Eerr_ErrorReport *chain = eerr_CreateErrorReport("f", 1, 2, nullptr, "m", 0);
  esmg_LogErrorContents(chain, nullptr, &slot);
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(slot, held);
  eerr_DeleteErrorReportEx(&slot);
  eerr_DeleteErrorReportEx(&chain);

  EXPECT_EQ(esmg_LogMessage(1, nullptr, nullptr), 0);
  const char *refused = "%n";
  EXPECT_EQ(esmg_LogMessage(1, nullptr, refused, 0), 0); // refused format: nothing logged
  EXPECT_TRUE(lines.empty());
}

TEST_F(EsmgLog, AReportLeftByTheLogFunctionIsDropped) {
  leaveReport = true;
  Eerr_ErrorReport *slot = nullptr;
  EXPECT_NE(esmg_LogMessage(0, &slot, "value %d", 42), 0);
  EXPECT_EQ(slot, nullptr);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], (Line{0, "value 42"}));
  EXPECT_EQ(esmg_GetLogFunction(), Capture);
}

TEST_F(EsmgLog, InterruptedProcessLogsNoErrors) {
  Eerr_ErrorReport *chain = eerr_CreateErrorReport("f", 1, 2, nullptr, "m", 0);
  esmg_InterruptSet();
  esmg_LogError(nullptr, chain, nullptr, nullptr);
  EXPECT_TRUE(lines.empty());
  esmg_InterruptClear();
  esmg_LogError(nullptr, chain, nullptr, nullptr);
  EXPECT_EQ(lines.size(), 2u);
  eerr_DeleteErrorReportEx(&chain);
}

TEST_F(EsmgLog, InterruptLooksForTheCancelMessageAtMostEvery1500ms) {
  uint32_t cancel = ewin_RegisterWindowMessage("NORIX_APP_CANCEL");
  usleep(1600 * 1000); // whatever looked before is long enough ago
  // WM_QUIT passes every filter; it is not taken for a cancel and stays queued.
  ewin_PostQuitMessage(3);
  EXPECT_EQ(esmg_InterruptQuery(), 0);
  Ewin_Msg msg{};
  EXPECT_EQ(ewin_PeekMessage(&msg, 0, EWIN_WM_QUIT, EWIN_WM_QUIT, EWIN_PM_REMOVE), 1);
  // Looked a moment ago: a cancel posted now is not seen yet.
  ewin_PostMessage(0, cancel, 0, 0);
  EXPECT_EQ(esmg_InterruptQuery(), 0);
  usleep(1600 * 1000);
  EXPECT_EQ(esmg_InterruptQuery(), 1);
  EXPECT_EQ(ewin_PeekMessage(&msg, 0, cancel, cancel, EWIN_PM_NOREMOVE), 0); // taken
  EXPECT_EQ(esmg_InterruptQuery(), 1); // sticky
  esmg_InterruptClear();
  EXPECT_EQ(esmg_InterruptQuery(), 0);
  esmg_InterruptSet();
  EXPECT_EQ(esmg_InterruptQuery(), 1);
  esmg_InterruptClear();
}

// The batch log file gathers pieces until a line ends or 1024 characters would be reached.
TEST_F(EsmgLog, BatchLogFileWritesWholeLines) {
  esmg_SetLogFunction(nullptr);
  setenv("TAVIRON_BATCH_RUN", "", 1); // exists, whatever its value
  EXPECT_EQ(esmg_IsBatchRun(), 1);
  const taviron::testing::TempDir scratch("esmg_log");
  std::string file = scratch / "batch.log";
  auto contents = [&] {
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  };
  EXPECT_EQ(esmg_LogFileGet(), nullptr);
  esmg_LogFileWrite("lost\n"); // no file yet
  esmg_LogFileSet(file.c_str());
  esmg_LogFileSet("/elsewhere.log");
  EXPECT_STREQ(esmg_LogFileGet(), file.c_str());

  esmg_LogFileWrite("part one, ");
  esmg_LogFileWrite(nullptr);
  esmg_LogFileWrite("");
  EXPECT_EQ(contents(), "");
  esmg_LogFileWrite("part two\n");
  EXPECT_EQ(contents(), "part one, part two\n");

  esmg_LogMessage(1, nullptr, "first %s", "line");
  EXPECT_EQ(contents(), "part one, part two\nfirst line\r\n");
  esmg_LogMessage(7, nullptr, "second");
  EXPECT_EQ(contents(), "part one, part two\nfirst line\r\nsecond\r\n");

  // 1000 characters wait; 24 more would reach 1024 and go out at once.
  std::string before = contents();
  esmg_LogFileWrite(std::string(1000, 'a').c_str());
  EXPECT_EQ(contents(), before);
  esmg_LogFileWrite(std::string(23, 'b').c_str());
  EXPECT_EQ(contents(), before);
  esmg_LogFileWrite("c");
  EXPECT_EQ(contents(), before + std::string(1000, 'a') + std::string(23, 'b') + "c");

  // An error chain logged in a batch run.
  Eerr_ErrorReport *chain = eerr_CreateErrorReport("inner", 2, 2, nullptr, "bad input", 0);
  chain = eerr_CreateErrorReport("outer", 1, 2, chain, nullptr);
  before = contents();
  esmg_LogErrorContents(chain, nullptr, nullptr);
  EXPECT_EQ(contents(), before +
                            "ERROR: #1 from outer\r\nERROR:  inner failed\r\n"
                            "ERROR: #2 from inner\r\nERROR: bad input\r\n");
  eerr_DeleteErrorReportEx(&chain);
  unsetenv("TAVIRON_BATCH_RUN");
}

// Without log function, session or batch run, a line ends in a message box captioned with the
// application title; level 0 only when the preference says "verbose" (any case). An unconnected
// process asks no session manager for it; a batch run reads it from the local preferences.
TEST_F(EsmgLog, MessageBoxRouteAndTheTerseFlag) {
  esmg_SetLogFunction(nullptr);
  // The runtime folder outlives the test: the library may make it again when the process ends.
  static const taviron::testing::TempDir scratch("esmg_log");
  const std::string pattern = scratch.str();
  setenv("TAVIRON_RUNTIME_DIR", pattern.c_str(), 1);
  setenv("TAVIRON_SESSION_MANAGER_NAME", "nobody-here", 1);
  setenv("NORIX_PREFERENCES_PATH", pattern.c_str(), 1);
  EXPECT_STREQ(esmg_ApplicationTitleGet(), "NORIX TAVIRON");
  {
    taviron::testing::CapturedOutput output;
    esmg_LogMessage(0, nullptr, "verbose before connect");
    esmg_LogMessage(1, nullptr, "always");
    EXPECT_EQ(output.Err(), "NORIX TAVIRON: verbose before connect\nNORIX TAVIRON: always\n");
  }
  {
    taviron::testing::CapturedOutput output;
    esmg_SessionConnect("app", 1, nullptr); // no session manager: terse
    output.Clear();
    esmg_LogMessage(0, nullptr, "hidden");
    EXPECT_EQ(output.Err(), "");
  }
  std::ofstream(std::string(pattern) + "/preferences.prf") << "zav/log_message_level = VERBOSE\n";
  setenv("TAVIRON_BATCH_RUN", "1", 1);
  const std::string logFile = std::string(pattern) + "/batch.log";
  esmg_LogFileSet(logFile.c_str());
  {
    taviron::testing::CapturedOutput output;
    esmg_SessionConnect("app", 1, nullptr);
    esmg_LogMessage(0, nullptr, "logged %d", 0);
    unsetenv("TAVIRON_BATCH_RUN");
    output.Clear();
    EXPECT_STREQ(esmg_ApplicationTitleSet("My Tool"), "My Tool");
    esmg_LogMessage(0, nullptr, "shown %d", 0);
    EXPECT_EQ(output.Err(), "My Tool: shown 0\n");
  }
  std::ifstream in(logFile, std::ios::binary);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()),
            "logged 0\r\n");
  esmg_ApplicationTitleSet(nullptr);
  EXPECT_STREQ(esmg_ApplicationTitleGet(), "NORIX TAVIRON");
  unsetenv("NORIX_PREFERENCES_PATH");
}

TEST_F(EsmgLog, MessageBoxAnswersWithTheDefaultButton) {
  taviron::testing::CapturedOutput output;
  EXPECT_EQ(esmg_MessageBox("Continue?", "Question", ESMG_MB_YESNO), ESMG_IDYES);
  EXPECT_EQ(esmg_MessageBox("Continue?", "Question", ESMG_MB_YESNO | ESMG_MB_DEFBUTTON2),
            ESMG_IDNO);
  EXPECT_EQ(esmg_MessageBox("x", "y", ESMG_MB_OK | ESMG_MB_ICONERROR), ESMG_IDOK);
  EXPECT_EQ(esmg_MessageBox("x", "y", ESMG_MB_ABORTRETRYIGNORE | ESMG_MB_DEFBUTTON3),
            ESMG_IDIGNORE);
  EXPECT_EQ(output.Err().substr(0, 20), "Question: Continue?\n");
}

int32_t DebugOutput(int32_t level, Eerr_ErrorReport **err, const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  int32_t result = esmg_DebugOutputLog(level, err, format, ap);
  va_end(ap);
  return result;
}

TEST_F(EsmgLog, DebugOutputSkipsHeldReportsAndFreesItsText) {
  int64_t live = emsc_TestLiveBlocks();
  EXPECT_EQ(DebugOutput(1, nullptr, "job %d", 3), 1);
  EXPECT_EQ(DebugOutput(1, nullptr, nullptr), 0);
  Eerr_ErrorReport *held = eerr_CreateErrorReport("f", 1, 2, nullptr, "m", 0);
  EXPECT_EQ(DebugOutput(1, &held, "job"), 0);
  eerr_DeleteErrorReportEx(&held);
  EXPECT_EQ(emsc_TestLiveBlocks(), live);
}

// Running out of memory loses the line, never the process, and leaks nothing.
TEST_F(EsmgLog, AllocationFailuresLoseTheLineOnly) {
  Eerr_ErrorReport *chain = eerr_CreateErrorReport("inner", 2, 2, nullptr, "bad", 0);
  chain = eerr_CreateErrorReport("outer", 1, 2, chain, nullptr);
  taviron::testing::SweepOptions options{.limit = 50, .reports = false};
  options.prepare = [] {
    lines.clear();
    lines.reserve(8);
  };
  taviron::testing::SweepAllocationFailures(
      [&](Eerr_ErrorReport **) {
        esmg_LogErrorContents(chain, nullptr, nullptr);
        esmg_LogMessage(1, nullptr, "tail %d", 1);
        if (lines.size() == 5) return true;
        EXPECT_EQ(lines.size(), 4u); // one line lost
        return false;
      },
      options);
  eerr_DeleteErrorReportEx(&chain);
  {
    taviron::testing::FailAllocation fail(1);
    EXPECT_EQ(esmg_ApplicationTitleSet("T"), nullptr);
  }
  EXPECT_STREQ(esmg_ApplicationTitleGet(), "NORIX TAVIRON");
}

void Called(void *data) { ++*static_cast<int *>(data); }

std::vector<std::pair<int32_t, intptr_t>> broadcasts;
std::vector<Esmg_Protocol *> broadcastRecords;
void Keep(Esmg_Protocol *record, int32_t kind, intptr_t destination) {
  broadcasts.emplace_back(kind, destination);
  broadcastRecords.push_back(esmg_CopyProtocol(record));
}

// In the session manager the session log callback runs here or is handed to the broadcast
// function for its process.
TEST_F(EsmgLog, SessionLogCallbackInTheManager) {
  esmg_SessionCreate();
  esmg_SetBroadcastProtocolFunc(Keep);
  int count = 0;
  esmg_InvokeSessionLogCallback(nullptr); // none stored
  esmg_AddSessionLogCallback(Called, &count, 12345, 1);
  esmg_InvokeSessionLogCallback(nullptr);
  EXPECT_EQ(count, 1);
  EXPECT_TRUE(broadcasts.empty());

  esmg_AddSessionLogCallback(Called, &count, 4242, 0);
  esmg_InvokeSessionLogCallback(nullptr);
  EXPECT_EQ(count, 1);
  ASSERT_EQ(broadcasts.size(), 1u);
  EXPECT_EQ(broadcasts[0], (std::pair<int32_t, intptr_t>{ESMG_DEST_PROCESS, 4242}));
  EXPECT_EQ(broadcastRecords[0]->type, 54);
  EXPECT_EQ(broadcastRecords[0]->w[3].p, &count);

  esmg_ClearSessionLogCallback();
  esmg_InvokeSessionLogCallback(nullptr);
  EXPECT_EQ(broadcasts.size(), 1u);
  for (Esmg_Protocol *record : broadcastRecords) esmg_FreeProtocol(record);
  broadcastRecords.clear();
  esmg_SetBroadcastProtocolFunc(nullptr);
}

} // namespace
