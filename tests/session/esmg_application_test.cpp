#include "esmg.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "eant.h"
#include "eint.h"
#include "emif.h"
#include "emsc.h"
#include "taviron_testing.h"

namespace {

// What the handlers did, in order.
std::vector<std::string> calls;
std::vector<int32_t> codes;
Esmg_ExitHandler *removable = nullptr;

void Record(int32_t code, void *name) {
  calls.emplace_back(static_cast<const char *>(name));
  codes.push_back(code);
}
void Interrupting(int32_t code, void *name) {
  Record(code, name);
  esmg_ProcessExitInterrupt();
}
void Removing(int32_t code, void *name) {
  Record(code, name);
  esmg_ProcessExitHandlerRemove(removable);
}
void Reentering(int32_t code, void *name) {
  Record(code, name);
  calls.push_back("inner " + std::to_string(esmg_ProcessCleanupCode(5)));
}
void InterruptingAndReentering(int32_t code, void *name) {
  Record(code, name);
  esmg_ProcessExitInterrupt();
  calls.push_back("inner " + std::to_string(esmg_ProcessCleanupCode(5)));
}
void Telling(int32_t code, void *) { fprintf(stderr, "handler ran with %d\n", static_cast<int>(code)); }

// Each test runs in a process of its own (ctest), with a runtime directory of its own.
class EsmgApplication : public ::testing::Test {
protected:
  void SetUp() override {
    folder_.emplace("esmg_app");
    dir_ = folder_->str();
    setenv("TAVIRON_RUNTIME_DIR", (dir_ + "/run").c_str(), 1);
    setenv("TAVIRON_SESSION_MANAGER_NAME", "smtest", 1);
    unsetenv("TAVIRON_BATCH_RUN");
    calls.clear();
    codes.clear();
  }

  static void *Name(const char *name) { return const_cast<char *>(name); }
  std::optional<taviron::testing::TempDir> folder_;
  std::string dir_;
};

using Calls = std::vector<std::string>;

TEST_F(EsmgApplication, HandlersRunByKindNewestFirstAndOnceHandlersOnlyOnce) {
  esmg_ProcessExitHandlerRegister(Record, ESMG_EXIT_EVERY, Name("A"));
  esmg_ProcessExitHandlerRegister(Record, ESMG_EXIT_FIRST, Name("B"));
  esmg_ProcessExitHandlerRegister(Record, ESMG_EXIT_ONCE, Name("C"));
  EXPECT_EQ(esmg_ProcessExitHandlerRegister(nullptr, ESMG_EXIT_EVERY, nullptr), nullptr);
  EXPECT_EQ(esmg_ProcessCleanupCode(3), 1);
  EXPECT_EQ(calls, (Calls{"B", "C", "A"}));
  EXPECT_EQ(codes, (std::vector<int32_t>{3, 3, 3}));
  calls.clear();
  esmg_ProcessCleanup();
  EXPECT_EQ(calls, (Calls{"B", "A"}));
  EXPECT_EQ(codes.back(), -111);
}

TEST_F(EsmgApplication, AnInterruptStopsTheWalkAndTheFinalCleanUpStillRuns) {
  ASSERT_NE(eint_InitToolkit(nullptr), nullptr);
  esmg_ProcessExitHandlerRegister(Record, ESMG_EXIT_EVERY, Name("A"));
  esmg_ProcessExitHandlerRegister(Interrupting, ESMG_EXIT_EVERY, Name("B"));
  esmg_ProcessExitHandlerRegister(Record, ESMG_EXIT_EVERY, Name("C"));
  esmg_ProcessCleanupCode(0);
  EXPECT_EQ(calls, (Calls{"C", "B"}));
  EXPECT_EQ(eint_GetInit(), nullptr);
  // The next clean-up walks all of them again.
  calls.clear();
  esmg_ProcessCleanupCode(0);
  EXPECT_EQ(calls, (Calls{"C", "B"}));
}

TEST_F(EsmgApplication, HandlersMayRemoveOthersOrReenterWhileTheyRun) {
  // A handler removed during the walk is only retired: it does not run and is freed afterwards.
  removable = esmg_ProcessExitHandlerRegister(Record, ESMG_EXIT_EVERY, Name("removed"));
  esmg_ProcessExitHandlerRegister(Removing, ESMG_EXIT_EVERY, Name("remover"));
  esmg_ProcessExitHandlerRegister(Reentering, ESMG_EXIT_ONCE, Name("reenter"));
  esmg_ProcessCleanupCode(1);
  EXPECT_EQ(calls, (Calls{"reenter", "inner 0", "remover"}));
  calls.clear();
  esmg_ProcessCleanupCode(1);
  EXPECT_EQ(calls, (Calls{"remover"}));
  removable = nullptr; // freed

  // A re-entry after an interrupt returns at once as well: the walk is never walked twice.
  calls.clear();
  Esmg_ExitHandler *both = esmg_ProcessExitHandlerRegister(InterruptingAndReentering, ESMG_EXIT_ONCE, Name("both"));
  esmg_ProcessExitHandlerRegister(Record, ESMG_EXIT_ONCE, Name("next"));
  esmg_ProcessCleanupCode(2);
  EXPECT_EQ(calls, (Calls{"next", "both", "inner 0"}));
  (void)both;

  // Outside a walk a handler is unlinked at once; one that is not in the list is left alone.
  calls.clear();
  Esmg_ExitHandler *gone = esmg_ProcessExitHandlerRegister(Record, ESMG_EXIT_FIRST, Name("gone"));
  EXPECT_EQ(esmg_ProcessExitHandlerRemove(gone), 0);
  Esmg_ExitHandler stranger{1, Record, ESMG_EXIT_EVERY, Name("stranger"), nullptr, nullptr};
  esmg_ProcessExitHandlerRemove(&stranger);
  EXPECT_EQ(stranger.active, 1);
  esmg_ProcessExitHandlerRemove(nullptr);
  esmg_ProcessCleanupCode(0);
  EXPECT_EQ(calls, (Calls{"remover"}));
}

TEST_F(EsmgApplication, TheFinalCleanUpFreesThePackagesBlocksAndWindowOnce) {
  Eint_InitToolkitData *toolkit = eint_InitToolkit(nullptr);
  ASSERT_NE(toolkit, nullptr);
  eant_Init(toolkit, nullptr);
  ASSERT_NE(toolkit->annotationData, nullptr);
  toolkit->plotFileHeader = static_cast<void **>(emsc_HeapMalloc(sizeof(void *)));
  *toolkit->plotFileHeader = emif_DesignCreate(nullptr, "PlotFileHeaderTest", nullptr, EMIF_TYPE_S32, "v", 0);
  auto **blocks = static_cast<void **>(emsc_HeapMalloc(3 * sizeof(void *)));
  blocks[0] = emsc_HeapMalloc(10);
  blocks[2] = emsc_HeapMalloc(20);
  EXPECT_EQ(esmg_ProcessInit(3, blocks), 3);
  const int64_t live = emsc_TestLiveBlocks();
  const Ewin_Window window = ewin_CreateWindow("esmgTestMain", "x", nullptr);
  ASSERT_NE(window, 0);
  EXPECT_EQ(esmg_SetAppMainWindowHandle(window), window);
  EXPECT_EQ(esmg_SetAppMainWindowHandle(0), 0);
  EXPECT_EQ(esmg_GetAppMainWindowHandle(), window);

  esmg_ProcessCleanupCode(0);
  EXPECT_EQ(eint_GetInit(), nullptr);
  EXPECT_EQ(emif_FindDesignByName(nullptr, "PlotFileHeaderTest", nullptr), nullptr);
  EXPECT_LE(emsc_TestLiveBlocks(), live - 3); // the two blocks and their array at least
  EXPECT_EQ(esmg_GetAppMainWindowHandle(), 0);
  EXPECT_EQ(ewin_IsWindow(window), 0);

  // Once per process: a record made afterwards stays.
  ASSERT_NE(eint_InitToolkit(nullptr), nullptr);
  esmg_ProcessCleanupCode(0);
  EXPECT_NE(eint_GetInit(), nullptr);
  eint_DeInit();
}

TEST_F(EsmgApplication, ProcessExitRunsTheHandlersAndEndsWithTheCode) {
  EXPECT_EXIT(
      {
        esmg_ProcessExitHandlerRegister(Telling, ESMG_EXIT_ONCE, nullptr);
        esmg_ProcessExit(7);
      },
      ::testing::ExitedWithCode(7), "handler ran with 7");
  // A cancelled meter ends the process through the same clean-up.
  EXPECT_EXIT(
      {
        esmg_ProcessExitHandlerRegister(Telling, ESMG_EXIT_EVERY, nullptr);
        esmg_InterruptSet();
        esmg_defaultmeterinfofunc(nullptr, nullptr, 50, nullptr);
      },
      ::testing::ExitedWithCode(1), "handler ran with 1");
}

TEST_F(EsmgApplication, InitMakesTheMainWindowAndEndAsksTheSessionManagerToLetGo) {
  // A session manager's window of this process, and an environment already set up.
  const Ewin_Window manager = ewin_CreateWindow(ESMG_SESSION_MANAGER_CLASS, "smtest", nullptr);
  ASSERT_NE(manager, 0);
  setenv("TAVIRON_HOME", dir_.c_str(), 1);
  setenv("PERSONAL", dir_.c_str(), 1);
  int instance = 0;
  ASSERT_EQ(esmg_ApplicationInit(&instance), 1);
  EXPECT_EQ(esmg_MainInstanceGet(), &instance);
  const Ewin_Window window = esmg_GetAppMainWindowHandle();
  ASSERT_NE(window, 0);
  char title[64] = "";
  ewin_GetWindowText(window, title, sizeof title);
  EXPECT_EQ(std::string(title), std::to_string(getpid()));
  EXPECT_EQ(ewin_FindWindow(ESMG_MAIN_WINDOW_CLASS, title), window);
  EXPECT_EQ(esmg_MainWindowCreate(&instance), 1); // a second window of its own
  EXPECT_NE(esmg_GetAppMainWindowHandle(), window);

  esmg_ApplicationEnd();
  Ewin_Msg msg{};
  ASSERT_EQ(ewin_PeekMessage(&msg, 0, 0, 0, EWIN_PM_REMOVE), 1);
  EXPECT_EQ(msg.message, ewin_RegisterWindowMessage("NORIX_REQ_QUIT"));
  EXPECT_EQ(msg.window, manager);
  EXPECT_EQ(msg.wParam, esmg_GetAppMainWindowHandle());
  EXPECT_EQ(msg.lParam, 0);

  // A batch run asks nobody.
  setenv("TAVIRON_BATCH_RUN", "", 1);
  esmg_ApplicationEnd();
  EXPECT_EQ(ewin_PeekMessage(&msg, 0, 0, 0, EWIN_PM_REMOVE), 0);
}

TEST_F(EsmgApplication, InitSetsUpTheEnvironmentWithoutASessionManager) {
  setenv("HOME", (dir_ + "/home").c_str(), 1);
  setenv("TAVIRON_REGISTRY_ROOT", (dir_ + "/registry").c_str(), 1);
  setenv("TEMP", dir_.c_str(), 1);
  setenv("TMP", dir_.c_str(), 1);
  setenv("TAVIRON_HOME", dir_.c_str(), 1);
  unsetenv("PERSONAL");
  ASSERT_EQ(mkdir((dir_ + "/home").c_str(), 0700), 0);
  ASSERT_EQ(esmg_ApplicationInit(nullptr), 1);
  ASSERT_NE(getenv("PERSONAL"), nullptr);
  EXPECT_EQ(std::string(getenv("PERSONAL")), dir_ + "/home/.taviron1000");
  struct stat info;
  EXPECT_EQ(stat(getenv("PERSONAL"), &info), 0);
}

TEST_F(EsmgApplication, AMainWindowThatCannotBeMadeIsToldAndInitAnswers0) {
  setenv("TAVIRON_RUNTIME_DIR", "/proc/version", 1); // no directory: no window can be made
  setenv("TAVIRON_HOME", dir_.c_str(), 1);
  setenv("PERSONAL", dir_.c_str(), 1);
  setenv("TAVIRON_SESSION_MANAGER_NAME", "smtest", 1);
  taviron::testing::CapturedOutput output;
  // Without a session manager the environment is set up too; keep it quiet and inside.
  setenv("UNATTENDED_NORIX_INSTALLATION", "1", 1);
  setenv("NORIX_REGISTRY_ENV_BYPASS", "1", 1);
  setenv("HOME", dir_.c_str(), 1);
  EXPECT_EQ(esmg_ApplicationInit(nullptr), 0);
  EXPECT_EQ(esmg_GetAppMainWindowHandle(), 0);
  EXPECT_NE(output.Err().find("NORIX TAVIRON: Could not create main window.\nClick OK to exit.\n"), std::string::npos)
      << output.Err();
  EXPECT_EQ(esmg_OSVersionCheck(), 1);
}

} // namespace
