#include "esmg.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "emsc.h"
#include "epmg.h"
#include "ewin.h"
#include "taviron_testing.h"

namespace {

using Arguments = std::vector<std::string>;

int32_t saveFile = 0; // the preference "zav"/"save_job_cmd_line_file"

void PreferenceHook(int32_t *, Epmg_Preference **record, Eerr_ErrorReport **err) {
  if (std::strcmp((*record)->category, "zav") == 0 && std::strcmp((*record)->name, "save_job_cmd_line_file") == 0) {
    (*record)->valueType = EPMG_TYPE_BOOLEAN;
    (*record)->value.boolean = saveFile;
    return;
  }
  *record = nullptr;
  if (err) *err = eerr_CreateErrorReport("PreferenceHook", 1, EERR_FATAL, nullptr, "not found");
}

// The arguments of a source; the vector's null entry is checked.
Arguments Get(const char *source) {
  int32_t count = -1;
  char **vector = nullptr;
  esmg_ComLineArgsGet(source, &count, &vector);
  Arguments arguments;
  if (!vector) {
    ADD_FAILURE() << "no vector";
    return arguments;
  }
  for (int32_t i = 0; i < count; ++i) {
    arguments.emplace_back(vector[i]);
    emsc_HeapFree(vector[i]);
  }
  EXPECT_EQ(vector[count], nullptr);
  emsc_HeapFree(vector);
  return arguments;
}

class EsmgComLine : public ::testing::Test {
protected:
  void SetUp() override {
    folder_.emplace("esmg_comline");
    dir_ = folder_->str();
    setenv("TAVIRON_RUNTIME_DIR", (dir_ + "/run").c_str(), 1);
    saveFile = 0;
    epmg_PreferenceImplementationMethodsSet(EPMG_METHOD_GET, &PreferenceHook, 0, nullptr);
  }
  void TearDown() override {
    epmg_PreferenceImplementationMethodsSet(EPMG_METHOD_GET, nullptr, 0, nullptr);
  }
  std::string File(const std::string &text) {
    const std::string name = dir_ + "/args" + std::to_string(files_++);
    std::ofstream(name, std::ios::binary) << text;
    return name;
  }
  Arguments FromFile(const std::string &text) { return Get(("@" + File(text)).c_str()); }

  std::optional<taviron::testing::TempDir> folder_;
  std::string dir_;
  int files_ = 0;
};

TEST_F(EsmgComLine, ArgumentFilesGiveTheLinesTheyHoldUpToTheirCount) {
  const std::string name = File("5000\r\nprog\na b\r\nlast");
  EXPECT_EQ(Get(("@" + name).c_str()), (Arguments{"prog", "a b", "last"}));
  EXPECT_NE(access(name.c_str(), F_OK), 0); // read once, then deleted

  const std::string longLine(5000, 'x');
  struct Case {
    std::string text;
    Arguments arguments;
  };
  const Case cases[] = {
      {"2\r\nx\ny\nz\n", {"x", "y"}},
      {"", {}},
      {"abc\nx\n", {}},
      {"-3\nx\n", {}},
      {"1 trailing words\n\n", {""}},
      {"2\nwith\r\r\n", {"with"}},
      {"1\n" + longLine + "\n", {longLine}},
      {std::string("2\na\0b\nc\n", 9), {"a", "c"}},
  };
  for (const Case &c : cases) EXPECT_EQ(FromFile(c.text), c.arguments) << c.text;
}

TEST_F(EsmgComLine, TheFileStaysWhenThePreferenceSaysSo) {
  saveFile = 1;
  const std::string name = File("1\nkept\n");
  EXPECT_EQ(Get(("@" + name).c_str()), (Arguments{"kept"}));
  EXPECT_EQ(access(name.c_str(), F_OK), 0);
}

TEST_F(EsmgComLine, AFileThatCannotBeOpenedEndsTheProcessWithAFailure) {
  const std::string missing = dir_ + "/missing";
  EXPECT_EXIT(Get(("@" + missing).c_str()), ::testing::ExitedWithCode(1),
              "The command line file \"" + missing + "\" could not be opened.");
}

TEST_F(EsmgComLine, LogFilePairsAreTakenOut) {
  ASSERT_EQ(esmg_LogFileGet(), nullptr);
  EXPECT_EQ(FromFile("3\n-LOGFILE\nfirst.log\nword\n"), (Arguments{"word"}));
  EXPECT_STREQ(esmg_LogFileGet(), "first.log");
  EXPECT_EQ(FromFile("6\nprog\n-logfile\nsecond.log\n-logFile\nthird.log\n-logfile\n"), (Arguments{"prog", "-logfile"}));
  EXPECT_STREQ(esmg_LogFileGet(), "first.log");
}

TEST_F(EsmgComLine, ArgumentBlocksAreReadWithinTheirMapping) {
  struct Case {
    std::string bytes;
    Arguments arguments;
  };
  const Case cases[] = {
      {std::string("prog\0 \0third\0\0junk\0", 20), {"prog", "", "third"}},
      {std::string("a\0b", 3), {"a", "b"}}, // no end in the mapping
      {std::string("\0rest", 5), {}},
  };
  const int32_t self = ewin_GetCurrentProcessId();
  for (const Case &c : cases) {
    const Ewin_Handle mapping = ewin_CreateFileMapping(static_cast<uint32_t>(c.bytes.size()));
    ASSERT_NE(mapping, 0);
    void *view = ewin_MapViewOfFile(mapping);
    std::memcpy(view, c.bytes.data(), c.bytes.size());
    ewin_UnmapViewOfFile(view);
    char name[64];
    std::snprintf(name, sizeof name, ESMG_ARGUMENT_BLOCK_NAME_FORMAT, self, static_cast<unsigned>(mapping));
    ASSERT_NE(ewin_PublishFileMapping(mapping, name), 0);
    char source[64];
    std::snprintf(source, sizeof source, "0X%08X %d", static_cast<unsigned>(mapping), self);
    EXPECT_EQ(Get(source), c.arguments) << source;
    ewin_WithdrawFileMapping(name);
    ewin_CloseHandle(mapping);
  }
  // Nothing to read: no handle, no process, a process that does not run, nothing published.
  for (const std::string &source : {"0x0 " + std::to_string(self), std::string("0x1f 0"), std::string("0x1f"),
                                   std::string("0x1f 2147483646"), "0x7fff " + std::to_string(self)})
    EXPECT_EQ(Get(source.c_str()), Arguments{}) << source;
}

TEST_F(EsmgComLine, OtherwiseTheProcessesOwnCommandLine) {
  int32_t count = 0;
  char **own = estr_ArgsGet(&count, nullptr);
  ASSERT_NE(own, nullptr);
  Arguments expected;
  for (int32_t i = 0; i < count; ++i) {
    expected.emplace_back(own[i]);
    emsc_HeapFree(own[i]);
  }
  emsc_HeapFree(own);
  EXPECT_EQ(Get(nullptr), expected);
  EXPECT_EQ(Get("plain"), expected);
  // Without both outputs nothing happens.
  esmg_ComLineArgsGet(nullptr, &count, nullptr);
  char **vector = nullptr;
  esmg_ComLineArgsGet(nullptr, nullptr, &vector);
  EXPECT_EQ(vector, nullptr);
}

} // namespace
