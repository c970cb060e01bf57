// Process control, commands, sequences and DLL invocation: through the test session manager in
// another process, through a process control function, in the session manager, and run here.
#include "esmg.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "session_fixture.h"
#include "edll.h"
#include "efio.h"
#include "emsc.h"
#include "taviron_testing.h"

namespace {

class Processes : public taviron::testing::SessionFixture {
protected:
  void TearDown() override {
    esmg_SetProcessControlFunc(nullptr);
    unsetenv("NORIX_BIN_PATH");
    SessionFixture::TearDown();
  }
  static std::string Slurp(const std::string &file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
};

// Whether the report is the reporter's, with the code, severity and message.
void ExpectReport(const Eerr_ErrorReport *report, const char *reporter, int32_t code,
                  int32_t severity, const std::string &message) {
  ASSERT_NE(report, nullptr) << message;
  EXPECT_STREQ(report->reporter, reporter);
  EXPECT_EQ(report->code, code);
  EXPECT_EQ(report->severity, severity);
  EXPECT_EQ(std::string(report->message ? report->message : ""), message);
}

void TermCallback(int32_t, void *) {}

TEST_F(Processes, StartWithABadKindOrNameSendsNothing) {
  StartManager({});
  Connect("starter", ESMG_CONNECT_APPLICATION);
  char *const viewer[] = {const_cast<char *>("viewer"), nullptr};
  char *const nameless[] = {nullptr};
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(esmg_ProcessStart(3, 1, viewer, &err), 0);
  ExpectReport(err, "esmg_ProcessStart", 1, EERR_FATAL, "Invalid process type or name!");
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(esmg_ProcessStart(ESMG_PROCESS_APPLICATION, 1, nameless, &err), 0);
  ExpectReport(err, "esmg_ProcessStart", 1, EERR_FATAL, "Invalid process type or name!");
  eerr_DeleteErrorReportEx(&err);
  std::vector<Esmg_Protocol *> waits = Settled("WAIT");
  EXPECT_EQ(Types(waits), std::vector<int32_t>{16}); // the connection's own preference only
  Free(waits);
  std::vector<Esmg_Protocol *> posts = Received("POST", 0);
  EXPECT_TRUE(posts.empty());
  Free(posts);
}

TEST_F(Processes, RequestsGoToTheSessionManager) {
  StartManager({"--pid", "4242", "--handle", "77"});
  Connect("controller", ESMG_CONNECT_APPLICATION);
  char *const viewer[] = {const_cast<char *>("viewer"), const_cast<char *>("-x"), nullptr};
  char *const command[] = {const_cast<char *>("viewer"), const_cast<char *>("zoom"), nullptr};
  int data = 0;
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(esmg_ProcessStart(ESMG_PROCESS_APPLICATION, 2, viewer, &err), 4242);
  esmg_ProcessStop(12, &err);
  EXPECT_EQ(esmg_IsProcessRunning(12, &err), 1);
  EXPECT_EQ(esmg_IsProcessReady(12, &err), 1);
  esmg_ProcessAddTermCallback(12, TermCallback, &data, &err);
  esmg_ProcessRemoveTermCallback(12, &err);
  EXPECT_EQ(esmg_IsPreviousProcessReadyBySameName("viewer", &err), 1);
  esmg_ProcessChangeName("renamed", &err);
  EXPECT_EQ(esmg_GetAppHandle("viewer", &err), 77);
  esmg_SendCommand(2, command, &err);
  EXPECT_EQ(err, nullptr);

  std::vector<Esmg_Protocol *> waits = Settled("WAIT");
  ASSERT_EQ(Types(waits), (std::vector<int32_t>{16, 37, 38, 39, 40, 46, 47, 15}));
  EXPECT_EQ(waits[1]->w[4].i, ESMG_PROCESS_APPLICATION);
  ASSERT_EQ(waits[1]->w[2].i, 2);
  EXPECT_STREQ(waits[1]->w[3].sa[1], "-x");
  EXPECT_EQ(waits[2]->w[5].i, 12);
  EXPECT_STREQ(waits[5]->w[2].s, "viewer");
  EXPECT_STREQ(waits[6]->w[2].s, "renamed");
  Free(waits);
  std::vector<Esmg_Protocol *> posts = Received("POST", 3);
  ASSERT_EQ(Types(posts), (std::vector<int32_t>{41, 42, 4}));
  EXPECT_EQ(posts[0]->w[5].i, 12);
  EXPECT_EQ(posts[0]->w[7].p, reinterpret_cast<void *>(TermCallback)); // the token came back
  EXPECT_EQ(posts[0]->w[8].p, &data);
  ASSERT_EQ(posts[2]->w[2].i, 2);
  EXPECT_STREQ(posts[2]->w[3].sa[0], "viewer");
  Free(posts);
}

TEST_F(Processes, RefusalsOfTheSessionManager) {
  StartManager({"--error", "37", "--error", "38", "--error", "39", "--error", "40", "--pid",
                std::to_string(getpid())});
  Connect("refused", ESMG_CONNECT_APPLICATION);
  char *const viewer[] = {const_cast<char *>("viewer"), nullptr};
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(esmg_ProcessStart(ESMG_PROCESS_NAMED, 1, viewer, &err), 0);
  ExpectReport(err, "esmg_ProcessStart", 1, EERR_FATAL, "Error starting process (viewer)!");
  eerr_DeleteErrorReportEx(&err);
  esmg_ProcessStop(12, &err);
  ExpectReport(err, "esmg_ProcessStop", 2, EERR_FATAL, "Unable to stop process (12)!");
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(esmg_IsProcessRunning(12, &err), 0);
  EXPECT_EQ(esmg_IsProcessReady(12, &err), 0);
  EXPECT_EQ(esmg_IsPreviousProcessReadyBySameName("refused", &err), 0); // that is this process
  EXPECT_EQ(err, nullptr);
}

TEST_F(Processes, UnansweredRequests) {
  StartManager({"--no-reply-to", "37", "--no-reply-to", "39", "--no-reply-to", "40",
                "--no-reply-to", "15", "--no-reply-to", "44"});
  Connect("ignored", ESMG_CONNECT_APPLICATION);
  char *const viewer[] = {const_cast<char *>("viewer"), nullptr};
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(esmg_ProcessStart(ESMG_PROCESS_APPLICATION, 1, viewer, &err), 0);
  ExpectReport(err, "esmg_ProcessStart", 1, EERR_FATAL,
               "Improper response from session manager, Error starting process (viewer)!");
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(esmg_IsProcessRunning(12, &err), 0);
  ExpectReport(err, "esmg_IsProcessRunning", 1, EERR_FATAL,
               "Failed when waiting for response from process query");
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(esmg_IsProcessReady(12, &err), 0);
  EXPECT_EQ(esmg_GetAppHandle("viewer", &err), 0);
  EXPECT_EQ(err, nullptr);
  esmg_DLLFunctionInvoke("C", "D", "I", "F", 0, &err);
  ExpectReport(err, "esmg_DLLFunctionInvoke", 513, EERR_WARNING, "Error invoking C:I->F with D");
  eerr_DeleteErrorReportEx(&err);
}

std::vector<std::string> requests;
int32_t Control(Esmg_Protocol *request, Eerr_ErrorReport **) {
  std::string line = std::to_string(request->type) + " " + std::to_string(request->w[5].i);
  for (int32_t i = 0; i < request->w[2].i; ++i) line += std::string(" ") + request->w[3].sa[i];
  if (request->type == 37) line += " kind " + std::to_string(request->w[4].i);
  if (request->w[7].p) line += " callback";
  requests.push_back(line);
  return request->type == 37 ? 99 : 1;
}

// The session manager's own process control function takes the requests; nothing is sent.
TEST_F(Processes, ProcessControlFunctionTakesTheRequests) {
  EXPECT_EQ(esmg_SetProcessControlFunc(Control), Control);
  char *const app[] = {const_cast<char *>("app"), const_cast<char *>("-v"), nullptr};
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(esmg_ProcessStart(ESMG_PROCESS_NAMED, 2, app, &err), 99);
  esmg_ProcessStop(5, &err);
  EXPECT_EQ(esmg_IsProcessRunning(5, &err), 1);
  EXPECT_EQ(esmg_IsProcessReady(5, &err), 1);
  esmg_ProcessAddTermCallback(5, TermCallback, nullptr, &err);
  esmg_ProcessRemoveTermCallback(5, &err);
  EXPECT_EQ(esmg_GetAppHandle("viewer", &err), 99);
  EXPECT_EQ(esmg_IsPreviousProcessReadyBySameName("viewer", &err), 0);
  esmg_ProcessChangeName("other", &err);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(requests, (std::vector<std::string>{"37 0 app -v kind 2", "38 5", "39 5", "40 5",
                                                "41 5 callback", "42 5", "37 0 viewer kind 2"}));
}

std::vector<std::string> commands;
void CommandBroadcast(Esmg_Protocol *record, int32_t kind, intptr_t destination) {
  commands.push_back(std::to_string(record->type) + " " + std::to_string(kind) + " " +
                     reinterpret_cast<const char *>(destination) + " " +
                     std::to_string(record->w[2].i));
}

TEST_F(Processes, CommandsNeedATargetAndGoToItFromTheSessionManager) {
  Eerr_ErrorReport *err = nullptr;
  char *const none[] = {nullptr};
  esmg_SendCommand(0, none, &err);
  ExpectReport(err, "esmg_SendCommand", 1, EERR_FATAL, "Invalid arguments!");
  eerr_DeleteErrorReportEx(&err);
  esmg_SendCommand(1, none, &err);
  ExpectReport(err, "esmg_SendCommand", 1, EERR_FATAL, "Invalid arguments!");
  eerr_DeleteErrorReportEx(&err);
  esmg_SessionCreate();
  esmg_SetSessionIsStarted(1);
  esmg_SetBroadcastProtocolFunc(CommandBroadcast);
  char *const words[] = {const_cast<char *>("viewer"), const_cast<char *>("pan"), nullptr};
  esmg_SendCommand(2, words, &err);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(commands, std::vector<std::string>{"4 3 viewer 2"});
  esmg_SequenceRun(nullptr, &err);
  ExpectReport(err, "esmg_SequenceRun", 1, EERR_FATAL,
               "NORIX Session Manager can not call this function!.");
  eerr_DeleteErrorReportEx(&err);
  esmg_SetSessionIsStarted(0);
}

Esmg_Sequence *TwoSteps() {
  char *const first[] = {const_cast<char *>("import"), const_cast<char *>("a.img"), nullptr};
  char *const second[] = {const_cast<char *>("classify"), nullptr};
  Esmg_Sequence *chain = esmg_SequenceCreate(nullptr, "import", 2, first, nullptr);
  return esmg_SequenceCreate(chain, "classify", 1, second, nullptr);
}

TEST_F(Processes, SequenceRunsThroughTheSessionManager) {
  StartManager({"--on", "8=43"});
  Connect("sequencer", ESMG_CONNECT_APPLICATION);
  Esmg_Sequence *chain = TwoSteps();
  Eerr_ErrorReport *err = nullptr;
  esmg_SequenceRun(chain, &err);
  EXPECT_EQ(err, nullptr);
  esmg_SequenceStart(chain, &err);
  EXPECT_EQ(err, nullptr);
  esmg_SequenceFree(chain);
  std::vector<Esmg_Protocol *> posts = Received("POST", 2);
  ASSERT_EQ(Types(posts), (std::vector<int32_t>{8, 8}));
  ASSERT_NE(posts[0]->w[2].sequence, nullptr);
  EXPECT_STREQ(posts[0]->w[2].sequence->label, "import");
  ASSERT_NE(posts[0]->w[2].sequence->next, nullptr);
  EXPECT_STREQ(posts[0]->w[2].sequence->next->argv[0], "classify");
  Free(posts);
}

TEST_F(Processes, SequenceFailuresOfTheSessionManager) {
  StartManager({"--on", "8=43", "--sequence-result", "1"});
  Connect("sequencer", ESMG_CONNECT_APPLICATION);
  Esmg_Sequence *chain = TwoSteps();
  Eerr_ErrorReport *err = nullptr;
  esmg_SequenceRun(chain, &err);
  ExpectReport(err, "esmg_SequenceRun", 4, EERR_FATAL, "ERROR while running the sequence chain!");
  eerr_DeleteErrorReportEx(&err);
  // A session manager that never answers goes away while the run waits.
  StopManager();
  StartManager({});
  std::thread stop([this] {
    usleep(300 * 1000);
    StopManager();
  });
  esmg_SequenceRun(chain, &err);
  stop.join();
  ExpectReport(err, "esmg_SequenceRun", 3, EERR_FATAL,
               "ERROR waiting for reply from Session Manager!");
  eerr_DeleteErrorReportEx(&err);
  esmg_SequenceFree(chain);
}

std::vector<std::pair<std::string, int32_t>> completed;
void Completed(int32_t exitCode, void *userData) {
  completed.emplace_back(static_cast<const char *>(userData), exitCode);
}

// Without a session the steps run here, one after the other: a program on NORIX_BIN_PATH gets
// its arguments in a file, another program its arguments on the command line; with a batch log
// file both get "-logfile" and its name last. A step that cannot start completes with -1.
TEST_F(Processes, LocalSequenceRunsEachStepToItsEnd) {
  const std::string bin = dir_ + "/bin", log = dir_ + "/batch.log", out = dir_ + "/out";
  ASSERT_EQ(mkdir(bin.c_str(), 0700), 0);
  {
    std::ofstream tool(bin + "/tool");
    tool << "#!/bin/sh\ncat \"${1#@}\" > '" << out << ".tool'\nexit 3\n";
  }
  ASSERT_EQ(chmod((bin + "/tool").c_str(), 0700), 0);
  setenv("NORIX_BIN_PATH", bin.c_str(), 1);
  efio_DirectorySetTemporary(dir_.c_str());
  esmg_LogFileSet(log.c_str());
  const std::string script = "printf '%s\\n' \"$0\" \"$@\" > '" + out + ".sh'";
  char *const tool[] = {const_cast<char *>("tool"), const_cast<char *>("a b"),
                        const_cast<char *>("c"), nullptr};
  char *const shell[] = {const_cast<char *>("sh"), const_cast<char *>("-c"),
                         const_cast<char *>(script.c_str()), const_cast<char *>("x"), nullptr};
  char *const missing[] = {const_cast<char *>("no-such-program-here"), nullptr};
  char *const fails[] = {const_cast<char *>("false"), nullptr};
  Esmg_Sequence *chain = esmg_SequenceCreate(nullptr, "tool", 3, tool, nullptr);
  chain = esmg_SequenceCreate(chain, "shell", 4, shell, nullptr);
  chain = esmg_SequenceCreate(chain, "missing", 1, missing, nullptr);
  chain = esmg_SequenceCreate(chain, "fails", 1, fails, nullptr);
  for (Esmg_Sequence *step = chain; step; step = step->next) {
    step->callback = Completed;
    step->userData = step->label;
  }
  Eerr_ErrorReport *err = nullptr;
  esmg_SequenceStart(chain, &err);
  ExpectReport(err, "esmg_SequenceStart", 1, EERR_FATAL,
               "NOIRX Session Manager is not running!. This function requires NORIX Session "
               "services.");
  eerr_DeleteErrorReportEx(&err);
  esmg_SequenceRun(chain, &err);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(completed, (std::vector<std::pair<std::string, int32_t>>{
                           {"tool", 3}, {"shell", 0}, {"missing", -1}, {"fails", 1}}));
  EXPECT_EQ(Slurp(out + ".tool"), "5\r\ntool\na b\nc\n-logfile\n" + log + "\n");
  EXPECT_EQ(Slurp(out + ".sh"), "x\n-logfile\n" + log + "\n");
  esmg_SequenceFree(chain);
  efio_DirectorySetTemporary(nullptr);
}

void *NoObject(const char *, Edll_Handle, const char *, int32_t, Eerr_ErrorReport **) {
  return nullptr;
}

// In the session manager: a function of an open DLL instance runs once unless repeated; a
// failure reaches the caller as a warning with its cause beneath.
TEST_F(Processes, SessionManagerInvokesDllFunctions) {
  const std::string record = dir_ + "/invocations";
  setenv("TAVIRON_TEST_INVOCATION_RECORD", record.c_str(), 1);
  Eerr_ErrorReport *err = nullptr;
  esmg_DLLFunctionInvoke("Tests", "x", "recorder", "RecordInvocation", 0, &err);
  ExpectReport(err, "esmg_DLLFunctionInvoke", 474, EERR_WARNING,
               "The Session Manager is not running!  Can not invoke Tests:recorder->RecordInvocation");
  eerr_DeleteErrorReportEx(&err);

  esmg_SessionCreate();
  const std::string path = std::string(TAVIRON_TEST_LISTENERS_DIR) + "/test_listeners.so";
  edll_InstanceOpenByClassName("Tests", path.c_str(), "recorder", 0, NoObject, nullptr, &err);
  ASSERT_EQ(err, nullptr);
  esmg_DLLFunctionInvoke("Tests", "first", "recorder", "RecordInvocation", 0, &err);
  esmg_DLLFunctionInvoke("Tests", "again", "recorder", "RecordInvocation", 0, &err);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(Slurp(record), "first 0\n");
  esmg_DLLFunctionInvoke("Tests", "more", "recorder", "RecordInvocation", 1, &err);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(Slurp(record), "first 0\nfirst 1\n");

  esmg_DLLFunctionInvoke("Tests", "x", "nobody", "RecordInvocation", 1, &err);
  ExpectReport(err, "esmg_DLLFunctionInvoke", 450, EERR_WARNING,
               "Could not invoke Tests:nobody->RecordInvocation");
  ExpectReport(err ? err->next : nullptr, "esmg_DoDLLFunctionInvoke", 311, EERR_WARNING,
               "Could not locate instance nobody of class Tests");
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(esmg_DoDLLFunctionInvoke("Tests", "x", "recorder", "Missing", 1, &err), -1);
  ExpectReport(err, "esmg_DoDLLFunctionInvoke", 350, EERR_WARNING,
               "Could not find Missing in " + path);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(Slurp(record), "first 0\nfirst 1\n");
  edll_InstanceCloseAll();
}

} // namespace
