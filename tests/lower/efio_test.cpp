#include "efio.h"

#include <filesystem>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "emsc.h"
#include "taviron_testing.h"

namespace {

std::string Take(char *text) {
  std::string copy = text ? text : "<null>";
  emsc_HeapFree(text);
  return copy;
}

void ExpectReport(Eerr_ErrorReport *&err, const char *reporter, int32_t code,
                  const std::string &context = {}) {
  ASSERT_NE(err, nullptr) << context;
  EXPECT_STREQ(err->reporter, reporter) << context;
  EXPECT_EQ(err->code, code) << context;
  EXPECT_EQ(err->severity, EERR_FATAL) << context;
  eerr_DeleteErrorReportEx(&err);
}

using taviron::testing::ScopedEnv;

// A fresh directory for each test, removed afterwards.
class EfioDir : public ::testing::Test {
protected:
  std::string Path(const std::string &name) const { return dir_ + "/" + name; }
  std::string Write(const std::string &name, const std::string &content) const {
    const std::string path = Path(name);
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  std::string MakeDir(const std::string &name) const {
    const std::string path = Path(name);
    EXPECT_EQ(mkdir(path.c_str(), 0777), 0);
    return path;
  }

  const taviron::testing::TempDir folder_{"efio_test"};
  const std::string dir_ = folder_.str();
};

} // namespace

// ---- Files and streams --------------------------------------------------------------------

TEST_F(EfioDir, SequentialAndDirectAccessRoundTrip) {
  Eerr_ErrorReport *err = nullptr;
  const std::string path = Path("data.bin");
  FILE *file = efio_Open(path.c_str(), "w+b", &err);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(efio_WriteSeq(file, "0123456789", 10, &err), 10);
  EXPECT_EQ(efio_FileWriteSequential(file, "ab", 2, &err), 2);
  EXPECT_EQ(efio_Tell(file), 12);
  EXPECT_EQ(efio_WriteDirect(file, 3, "XY", 2, &err), 2);
  char buffer[16] = {};
  EXPECT_EQ(efio_ReadDirect(file, 2, buffer, 4, &err), 4);
  EXPECT_STREQ(buffer, "2XY5");
  EXPECT_EQ(efio_Seek(file, -2, 1, &err), 4);
  EXPECT_EQ(efio_Seek(file, -2, 2, &err), 10);
  std::memset(buffer, 0, sizeof buffer);
  EXPECT_EQ(efio_ReadSeq(file, buffer, 8, &err), 2); // short read at end of file
  EXPECT_STREQ(buffer, "ab");
  EXPECT_EQ(efio_Seek(file, 0, 0, &err), 0);
  EXPECT_EQ(efio_Fgetc(file), '0');
  EXPECT_EQ(efio_Flush(file, &err), 0);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(efio_Close(file, &err), 0);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(efio_FileSizeGet(path.c_str(), &err), 12);
}

TEST_F(EfioDir, OpenRejectsBadModesAndMissingFiles) {
  const std::string existing = Write("x.txt", "x");
  struct Case {
    std::string path;
    const char *mode;
    int32_t code;
  } cases[] = {
      {"", "r", 1},
      {existing, "rw", 2},
      {existing, "r++", 2},
      {existing, "x", 2},
      {existing, nullptr, 2},
      {Path("missing.txt"), "r", 3},
      {Path("no/such/dir.txt"), "w", 3},
  };
  for (const Case &c : cases) {
    Eerr_ErrorReport *err = nullptr;
    EXPECT_EQ(efio_Open(c.path.c_str(), c.mode, &err), nullptr) << c.path;
    ExpectReport(err, "efio_Open", c.code, c.path);
  }
  for (const char *mode : {"r", "rb", "r+b", "rb+", "a+", "w"}) {
    Eerr_ErrorReport *err = nullptr;
    FILE *file = efio_Open(existing.c_str(), mode, &err);
    ASSERT_NE(file, nullptr) << mode;
    efio_Close(file, &err);
  }
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(efio_Close(nullptr, &err), -1);
  ExpectReport(err, "efio_Close", 1);
  EXPECT_EQ(efio_ReadSeq(nullptr, nullptr, 1, &err), -1);
  ExpectReport(err, "efio_ReadSeq", 1);
  EXPECT_EQ(efio_Seek(stdin, 0, 3, &err), -1);
  ExpectReport(err, "efio_Seek", 1);
  // A null error slot drops the report.
  EXPECT_EQ(efio_Open(Path("missing").c_str(), "r", nullptr), nullptr);
}

TEST_F(EfioDir, LinesScanningAndEndOfFile) {
  const std::string path = Write("lines.txt", "12 2.5\nX\nlast");
  Eerr_ErrorReport *err = nullptr;
  FILE *file = efio_Open(path.c_str(), "r", &err);
  ASSERT_NE(file, nullptr);
  int i = 0;
  double d = 0;
  EXPECT_EQ(efio_Fscanf(file, "%d %lg", &i, &d), 2);
  EXPECT_EQ(i, 12);
  EXPECT_DOUBLE_EQ(d, 2.5);
  char line[32];
  EXPECT_STREQ(efio_Fgets(line, sizeof line, file, nullptr), "\n");
  EXPECT_STREQ(efio_Fgets(line, sizeof line, file, &err), "X\n");
  EXPECT_STREQ(efio_Fgets(line, 3, file, &err), "la"); // cut to the buffer
  EXPECT_STREQ(efio_Fgets(line, sizeof line, file, &err), "st");
  EXPECT_EQ(efio_Fgets(line, sizeof line, file, &err), nullptr);
  EXPECT_EQ(err, nullptr); // end of file is not an error
  EXPECT_NE(efio_Feof(file), 0);
  EXPECT_EQ(efio_Fgetc(file), EOF);
  EXPECT_EQ(efio_Fgets(line, 0, file, &err), nullptr);
  ExpectReport(err, "efio_Fgets", 1);
  efio_Close(file, nullptr);

  EXPECT_EQ(efio_Sscanf("7 eight", "%d %5s", &i, line), 2);
  EXPECT_EQ(i, 7);
  EXPECT_STREQ(line, "eight");
  EXPECT_EQ(efio_Sscanf("", "%d", &i), EOF);
  EXPECT_EQ(efio_Sscanf(nullptr, "%d", &i), EOF);
  EXPECT_EQ(efio_Fscanf(nullptr, "%d", &i), EOF);
}

TEST_F(EfioDir, PrintingGoesThroughTheSinkForStandardStreams) {
  taviron::testing::CapturedOutput output;
  EXPECT_EQ(efio_Printf("layer %s: %d\n", "Layer_1", 3), 17);
  EXPECT_EQ(efio_Fprintf(stdout, "%5.1f|", 2.25), 6);
  EXPECT_EQ(efio_Fprintf(stderr, "warning %d\n", 4), 10);
  EXPECT_EQ(efio_Flush(stdout, nullptr), 0);
  EXPECT_EQ(output.Out(), "layer Layer_1: 3\n  2.2|");
  EXPECT_EQ(output.Err(), "warning 4\n");

  const std::string path = Path("printed.txt");
  FILE *file = efio_Open(path.c_str(), "w", nullptr);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(efio_Fprintf(file, "%g\n", 0.5), 4);
  efio_Close(file, nullptr);
  std::ifstream in(path);
  std::string content((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(content, "0.5\n");
  EXPECT_EQ(output.Out().size(), 23u); // nothing of the file went to the sink

  char buffer[32];
  EXPECT_EQ(efio_Sprintf(buffer, "r%d", 12), 3);
  EXPECT_STREQ(buffer, "r12");
  EXPECT_EQ(efio_Fprintf(nullptr, "x"), -1);
}

TEST_F(EfioDir, TextDetectionLooksAtTheStartAndKeepsThePosition) {
  struct Case {
    std::string content;
    int32_t text;
  } cases[] = {
      {"", 1},
      {"Frame \"A\" {\n\tlayer 1;\r\n}\f", 1},
      {"caf\xe9 na\xefve", 1}, // Latin-1
      {"dos text\x1a", 1},
      {std::string("ab\0cd", 5), 0},
      {"escape \x1b[0m", 0},
      {std::string(5000, 'a') + '\x01', 1}, // only the first 4096 bytes count
  };
  for (const Case &c : cases) {
    const std::string path = Write("t.txt", c.content);
    FILE *file = efio_Open(path.c_str(), "rb", nullptr);
    ASSERT_NE(file, nullptr);
    if (!c.content.empty()) efio_Fgetc(file);
    const int64_t before = efio_Tell(file);
    EXPECT_EQ(efio_IsFileAscii(file), c.text) << c.content.substr(0, 20);
    EXPECT_EQ(efio_Tell(file), before);
    efio_Close(file, nullptr);
  }
  EXPECT_EQ(efio_IsFileAscii(nullptr), 0);
}

TEST_F(EfioDir, TaggedDataReadsKeyValueLines) {
  const std::string tag = Write("fmt.tag",
                                "# importer description\n"
                                "name: Example Format\n"
                                "\n"
                                "  Command :  importexample -x  \r\n"
                                "titlesupported: 1\n"
                                "input:\n"
                                "name: second wins not\n"
                                "inputtypedef: Example (*.ex1,*.ex2)");
  struct Case {
    const char *key, *value; // null: absent
  } cases[] = {
      {"name", "Example Format"},
      {"command", "importexample -x"},
      {"COMMAND", "importexample -x"},
      {"titlesupported", "1"},
      {"input", ""},
      {"inputtypedef", "Example (*.ex1,*.ex2)"},
      {"dllbandsubset", nullptr},
  };
  for (const Case &c : cases) {
    Eerr_ErrorReport *err = nullptr;
    char *value = efio_GetTaggedData(tag.c_str(), c.key, 0, &err);
    EXPECT_EQ(err, nullptr) << c.key;
    if (c.value) {
      EXPECT_EQ(Take(value), c.value) << c.key;
    } else {
      EXPECT_EQ(value, nullptr) << c.key;
    }
  }

  struct Bad {
    std::string content;
    int32_t code;
  } bads[] = {
      {std::string("name: a\0b\n", 10), 5},
      {"name: fine\nno separator here\n", 6},
      {": value without key\n", 6},
      {std::string((1 << 20) + 1, 'a'), 4},
  };
  for (const Bad &b : bads) {
    const std::string path = Write("bad.tag", b.content);
    Eerr_ErrorReport *err = nullptr;
    EXPECT_EQ(efio_GetTaggedData(path.c_str(), "name", 0, &err), nullptr);
    ExpectReport(err, "efio_GetTaggedData", b.code, b.content.substr(0, 20));
  }
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(efio_GetTaggedData(Path("missing.tag").c_str(), "name", 0, &err), nullptr);
  ExpectReport(err, "efio_GetTaggedData", 2);
  EXPECT_EQ(efio_GetTaggedData(tag.c_str(), nullptr, 0, &err), nullptr);
  ExpectReport(err, "efio_GetTaggedData", 1);
}

// ---- File system --------------------------------------------------------------------------

TEST_F(EfioDir, ExistenceDirectoriesAndAccess) {
  const std::string file = Write("f.txt", "abc");
  const std::string sub = MakeDir("sub");
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(efio_FileExists(file.c_str(), &err), 1);
  EXPECT_EQ(efio_FileExists(sub.c_str(), &err), 1);
  EXPECT_EQ(efio_FileExists(Path("none").c_str(), &err), 0);
  EXPECT_EQ(efio_FileExists((file + "/below").c_str(), &err), 0);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(efio_FileExists(nullptr, &err), 0);
  ExpectReport(err, "efio_FileExists", 1);

  EXPECT_EQ(efio_IsDirectory(sub.c_str(), &err), 1);
  EXPECT_EQ(efio_IsDirectory(file.c_str(), &err), 0);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(efio_IsDirectory(Path("none").c_str(), &err), 0);
  ExpectReport(err, "efio_IsDirectory", 2);

  EXPECT_EQ(efio_Access(file.c_str(), 4, &err), 0);
  EXPECT_EQ(efio_Access(sub.c_str(), 6, &err), 0);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(efio_Access(Path("none").c_str(), 4, &err), -1);
  ExpectReport(err, "efio_Access", 2);
  EXPECT_EQ(efio_Access(file.c_str(), 8, &err), -1);
  ExpectReport(err, "efio_Access", 1);

  char cwd[4096];
  EXPECT_EQ(efio_CurrentDirName(cwd, sizeof cwd, &err), cwd);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(efio_CurrentDirName(cwd, 1, &err), nullptr);
  ExpectReport(err, "efio_CurrentDirName", 2);
}

TEST_F(EfioDir, MakingDirectoriesAndFiles) {
  Eerr_ErrorReport *err = nullptr;
  const std::string info = Path("info");
  EXPECT_EQ(efio_MakeDir(info.c_str(), 0777, &err), 0);
  EXPECT_EQ(efio_MakeDir(info.c_str(), 0777, &err), EEXIST);
  EXPECT_EQ(err, nullptr);
  const std::string file = Write("plain", "x");
  EXPECT_EQ(efio_MakeDir(file.c_str(), 0777, &err), EEXIST);
  ExpectReport(err, "efio_MakeDir", 2);
  EXPECT_EQ(efio_MakeDir(Path("a/b").c_str(), 0777, &err), ENOENT);
  ExpectReport(err, "efio_MakeDir", 2);

  EXPECT_EQ(efio_MaybeMakeDir(info.c_str(), &err), 0);
  EXPECT_EQ(efio_MaybeMakeDir(Path("prefs").c_str(), &err), 0);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(efio_IsDirectory(Path("prefs").c_str(), nullptr), 1);
  EXPECT_EQ(efio_MaybeMakeDir(file.c_str(), &err), -1);
  ExpectReport(err, "efio_MaybeMakeDir", 1);

  // Create makes an empty file and leaves an existing one as it is.
  const std::string arc = info + "/arc.dir";
  EXPECT_EQ(efio_Create(arc.c_str(), 0666, &err), 0);
  EXPECT_EQ(efio_FileSizeGet(arc.c_str(), &err), 0);
  const std::string kept = Write("kept", "content");
  EXPECT_EQ(efio_Create(kept.c_str(), 0666, &err), 0);
  EXPECT_EQ(efio_FileSizeGet(kept.c_str(), &err), 7);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(efio_Create(Path("a/b").c_str(), 0666, &err), -1);
  ExpectReport(err, "efio_Create", 2);
}

TEST_F(EfioDir, RenameDeleteStatChmodAndTimes) {
  Eerr_ErrorReport *err = nullptr;
  const std::string a = Write("a", "12345");
  const std::string b = Path("b");
  EXPECT_EQ(efio_FileNameChange(a.c_str(), b.c_str(), 0, &err), 0);
  EXPECT_EQ(efio_FileExists(a.c_str(), nullptr), 0);
  EXPECT_EQ(efio_Chmod(b.c_str(), 0640, &err), 0);
  EXPECT_EQ(efio_SetModTime(b.c_str(), 1000000000, 1234567890, &err), 0);
  int32_t mode = 0, user = -1, group = -1;
  int64_t size = 0, mtime = 0;
  EXPECT_EQ(efio_Stat(b.c_str(), &mode, &user, &group, &size, &mtime, &err), 0);
  EXPECT_EQ(err, nullptr);
  EXPECT_TRUE(S_ISREG(mode));
  EXPECT_EQ(mode & 07777, 0640);
  EXPECT_EQ(user, static_cast<int32_t>(getuid()));
  EXPECT_EQ(group, static_cast<int32_t>(getgid()));
  EXPECT_EQ(size, 5);
  EXPECT_EQ(mtime, 1234567890);
  EXPECT_EQ(efio_Stat(b.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, &err), 0);

  EXPECT_EQ(efio_FileUnlink(b.c_str(), &err), 0);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(efio_FileUnlink(b.c_str(), &err), -1);
  ExpectReport(err, "efio_FileUnlink", 2);
  EXPECT_EQ(efio_FileUnlink(b.c_str(), nullptr), -1); // null slot accepted
  EXPECT_EQ(efio_FileNameChange(b.c_str(), a.c_str(), 0, &err), -1);
  ExpectReport(err, "efio_FileNameChange", 2);
  EXPECT_EQ(efio_Stat(b.c_str(), &mode, nullptr, nullptr, nullptr, nullptr, &err), -1);
  ExpectReport(err, "efio_Stat", 2);
  EXPECT_EQ(efio_FileSizeGet(b.c_str(), &err), -1);
  ASSERT_NE(err, nullptr);
  ASSERT_NE(err->next, nullptr);
  EXPECT_STREQ(err->next->reporter, "efio_Stat");
  ExpectReport(err, "efio_FileSizeGet", 1);
  EXPECT_EQ(efio_Chmod(b.c_str(), 0600, &err), -1);
  ExpectReport(err, "efio_Chmod", 2);
  EXPECT_EQ(efio_SetModTime(b.c_str(), 0, 0, &err), -1);
  ExpectReport(err, "efio_SetModTime", 2);
}

TEST_F(EfioDir, DirectoryListingStepsThroughMatchingNames) {
  for (const char *name : {"b.saf", "a.saf", "c.txt", "d.SAF"}) Write(name, "");
  MakeDir("sub.saf");
  const std::string pattern = dir_ + "/*.saf";
  std::vector<std::string> names;
  Eerr_ErrorReport *err = nullptr;
  char *name = nullptr;
  for (Efio_Listing *h = efio_NextFilename(pattern.c_str(), &name, nullptr, &err); h;
       h = efio_NextFilename(pattern.c_str(), &name, h, &err))
    names.push_back(Take(name));
  EXPECT_EQ(name, nullptr);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(names, (std::vector<std::string>{"a.saf", "b.saf", "sub.saf"}));

  // "*" lists everything, "." and ".." included.
  names.clear();
  const std::string all = dir_ + "/*";
  for (Efio_Listing *h = efio_NextFilename(all.c_str(), &name, nullptr, &err); h;
       h = efio_NextFilename(all.c_str(), &name, h, &err))
    names.push_back(Take(name));
  EXPECT_EQ(names.size(), 7u);
  EXPECT_EQ(names[0], ".");
  EXPECT_EQ(names[1], "..");

  // A caller that stops early ends the listing with a null pattern (else the leak checker of the
  // sanitizer build reports the listing).
  Efio_Listing *h = efio_NextFilename(all.c_str(), &name, nullptr, &err);
  ASSERT_NE(h, nullptr);
  emsc_HeapFree(name);
  EXPECT_EQ(efio_NextFilename(nullptr, &name, h, &err), nullptr);
  EXPECT_EQ(err, nullptr);

  EXPECT_EQ(efio_NextFilename((dir_ + "/missing/*").c_str(), &name, nullptr, &err), nullptr);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(efio_NextFilename(pattern.c_str(), nullptr, nullptr, &err), nullptr);
  ExpectReport(err, "efio_NextFilename", 1);
}

TEST_F(EfioDir, CoverageDirectoriesAreKnownByTheirMarkers) {
  const std::string cover = MakeDir("roads");
  Write(std::string("roads/") + EFIO_ARC_COVER_MARKER, "");
  const std::string vpf = MakeDir("libref");
  Write(std::string("libref/") + EFIO_VPF_COVERAGE_MARKER, "");
  const std::string empty = MakeDir("empty");
  MakeDir("fake");
  MakeDir(std::string("fake/") + EFIO_ARC_COVER_MARKER); // a directory is not a marker
  const std::string file = Write("roads.shp", "");
  struct Case {
    std::string path;
    int32_t arc, vpf;
  } cases[] = {
      {cover, 1, 0}, {vpf, 0, 1}, {empty, 0, 0}, {Path("fake"), 0, 0},
      {file, 0, 0},  {Path("none"), 0, 0},
  };
  for (const Case &c : cases) {
    Eerr_ErrorReport *err = nullptr;
    EXPECT_EQ(efio_FileIsArcCover(c.path.c_str(), &err), c.arc) << c.path;
    EXPECT_EQ(efio_FileIsVpfCoverage(c.path.c_str(), &err), c.vpf) << c.path;
    EXPECT_EQ(err, nullptr);
  }
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(efio_FileIsArcCover(nullptr, &err), 0);
  ExpectReport(err, "efio_FileIsArcCover", 1);
}

// ---- Search lists -------------------------------------------------------------------------

TEST(EfioSearchList, SplitsExpandsAndFallsBackToTheDefault) {
  ScopedEnv home("TV_SL_HOME", "/opt/tv");
  struct Case {
    const char *value; // null: unset
    const char *defaultList;
    std::vector<std::string> directories;
  } cases[] = {
      {nullptr, ".;./bin", {".", "./bin"}},
      {nullptr, ".:$TV_SL_HOME/etc/fonts", {".", "/opt/tv/etc/fonts"}},
      {nullptr, nullptr, {}},
      {"", ".", {}},
      {"/a;;/b:", ".", {"/a", "/b"}},
      {"${TV_SL_HOME}/x;$TV_SL_UNSET/y", ".", {"/opt/tv/x", "/y"}},
      {"C:/prog;D:\\data:c:", ".", {"C:/prog", "D:\\data", "c:"}},
      {"a:b", ".", {"a", "b"}}, // not a drive: no separator after the ":"
  };
  for (const Case &c : cases) {
    ScopedEnv value("TV_SL_PATH", c.value);
    Eerr_ErrorReport *err = nullptr;
    Efio_SearchList *list = efio_CreateSLFromEnv(0, "TV_SL_PATH", c.defaultList, &err);
    ASSERT_NE(list, nullptr) << (c.value ? c.value : c.defaultList ? c.defaultList : "-");
    EXPECT_EQ(err, nullptr);
    std::vector<std::string> got(list->directories, list->directories + list->count);
    EXPECT_EQ(got, c.directories) << (c.value ? c.value : c.defaultList ? c.defaultList : "-");
    efio_FreeSL(list);
  }
  efio_FreeSL(nullptr);

  ScopedEnv loop("TV_SL_PATH", "x;$TV_SL_PATH");
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(efio_CreateSLFromEnv(0, "TV_SL_PATH", ".", &err), nullptr);
  ASSERT_NE(err, nullptr);
  ASSERT_NE(err->next, nullptr); // the expansion's own report is chained
  ExpectReport(err, "efio_CreateSLFromEnv", 2);
  EXPECT_EQ(efio_CreateSLFromEnv(0, nullptr, ".", &err), nullptr);
  ExpectReport(err, "efio_CreateSLFromEnv", 1);
}

TEST(EfioSearchList, CreateSurvivesEveryAllocationFailure) {
  ScopedEnv value("TV_SL_PATH", "/a;/b;/c");
  const auto counts = taviron::testing::SweepAllocationFailures(
      [](Eerr_ErrorReport **err, taviron::testing::Failing kind) {
        Efio_SearchList *list = efio_CreateSLFromEnv(0, "TV_SL_PATH", ".", err);
        if (!list) {
          if (kind == taviron::testing::Failing::Heap) {
            EXPECT_TRUE(taviron::testing::Reported(*err, "efio_CreateSLFromEnv", 3));
          }
          return false;
        }
        EXPECT_EQ(list->count, 3);
        efio_FreeSL(list);
        return true;
      });
  EXPECT_LT(counts.heap, 20);
}

TEST_F(EfioDir, SearchListFindsAndOpensInListOrder) {
  const std::string first = MakeDir("first"), second = MakeDir("second");
  Write("second/font.fdb", "2");
  Write("first/style.stl", "1");
  Write("second/style.stl", "2");
  MakeDir("first/adir");
  ScopedEnv value("TV_SL_PATH", (first + ":" + second).c_str());
  Efio_SearchList *list = efio_CreateSLFromEnv(0, "TV_SL_PATH", ".", nullptr);
  ASSERT_NE(list, nullptr);

  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(Take(efio_Which(list, "style.stl", &err)), first + "/style.stl");
  EXPECT_EQ(Take(efio_Which(list, "font.fdb", &err)), second + "/font.fdb");
  const std::string absolute = first + "/style.stl";
  EXPECT_EQ(Take(efio_Which(list, absolute.c_str(), &err)), absolute);
  EXPECT_EQ(efio_Which(list, "none", &err), nullptr);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(efio_Which(nullptr, "none", &err), nullptr);
  ExpectReport(err, "efio_Which", 1);

  FILE *file = efio_SearchListOpen(list, "font.fdb", "r", 0, &err);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(efio_Fgetc(file), '2');
  efio_Close(file, nullptr);
  file = efio_SearchListOpen(list, absolute.c_str(), "r", 0, &err);
  ASSERT_NE(file, nullptr);
  efio_Close(file, nullptr);
  EXPECT_EQ(err, nullptr);

  // Not found and found-but-unopenable are told apart by the code.
  EXPECT_EQ(efio_SearchListOpen(list, "missing.fdb", "r", 0, &err), nullptr);
  ExpectReport(err, "efio_SearchListOpen", 2);
  EXPECT_EQ(efio_SearchListOpen(list, "adir", "w", 0, &err), nullptr);
  ASSERT_NE(err, nullptr);
  ASSERT_NE(err->next, nullptr);
  EXPECT_STREQ(err->next->reporter, "efio_Open");
  ExpectReport(err, "efio_SearchListOpen", 3);
  efio_FreeSL(list);
}

TEST_F(EfioDir, GeneratedFileListsMatchPatternsAndSharedObjects) {
  const std::string one = MakeDir("one"), two = MakeDir("two");
  for (const char *name : {"one/b.dll", "one/a.so", "one/c.txt", "one/x.so.1", "two/a.dll",
                           "two/f.tag"})
    Write(name, "");
  MakeDir("one/d.dll"); // directories are not listed
  ScopedEnv value("TV_SL_ONE", one.c_str());
  const std::string text = "$TV_SL_ONE;" + two + ";" + Path("missing");
  struct Case {
    const char *pattern;
    std::vector<std::string> files;
  } cases[] = {
      {"*.dll", {one + "/a.so", one + "/b.dll", two + "/a.dll"}},
      {"a.dll", {one + "/a.so", two + "/a.dll"}},
      {"*.tag", {two + "/f.tag"}},
      {"?.txt", {one + "/c.txt"}},
      {"*.fdb", {}},
  };
  for (const Case &c : cases) {
    Estr_StringList *list = efio_SearchListGenerateAndIdentifyFiles(text.c_str(), c.pattern);
    std::vector<std::string> got;
    for (int32_t i = 0; i < estr_StringListCount(list); ++i) got.push_back(list->strings[i]);
    EXPECT_EQ(got, c.files) << c.pattern;
    if (c.files.empty()) {
      EXPECT_EQ(list, nullptr);
    }
    estr_StringListDelete(list, nullptr);
  }
  ScopedEnv loop("TV_SL_LOOP", "$TV_SL_LOOP");
  EXPECT_EQ(efio_SearchListGenerateAndIdentifyFiles("$TV_SL_LOOP", "*"), nullptr);
  EXPECT_EQ(efio_SearchListGenerateAndIdentifyFiles(nullptr, "*"), nullptr);
}

// ---- Temporary names ----------------------------------------------------------------------

TEST_F(EfioDir, TemporaryNamesAreFreshAndFollowTheTemporaryDirectory) {
  ScopedEnv tmpdir("TMPDIR", dir_.c_str());
  efio_DirectorySetTemporary(nullptr);
  const std::string stem = dir_ + "/ETRN" + std::to_string(getpid()) + "_";
  std::string previous;
  for (int i = 0; i < 3; ++i) {
    const std::string name = Take(efio_TempNameInTmpdir("ETRN"));
    EXPECT_EQ(name.rfind(stem, 0), 0u) << name;
    EXPECT_NE(name, previous);
    previous = name;
    Write(name.substr(dir_.size() + 1), ""); // taken names are skipped from now on
  }
  // A name that exists is never handed out: occupy the next few candidates.
  const std::string probe = Take(efio_TempNameInTmpdir("P"));
  const size_t underscore = probe.rfind('_');
  const long next = std::stol(probe.substr(underscore + 1)) + 1;
  for (long k = next; k < next + 5; ++k)
    Write("P" + std::to_string(getpid()) + "_" + std::to_string(k), "");
  const std::string fresh = Take(efio_TempNameInTmpdir("P"));
  EXPECT_GE(std::stol(fresh.substr(fresh.rfind('_') + 1)), next + 5);

  Eerr_ErrorReport *err = nullptr;
  const std::string sub = MakeDir("sub");
  EXPECT_EQ(Take(efio_TempName((sub + "/").c_str(), "tmp", &err)).rfind(sub + "/tmp", 0), 0u);
  EXPECT_EQ(Take(efio_TempName(nullptr, nullptr, &err)).rfind(dir_ + "/", 0), 0u);
  EXPECT_EQ(err, nullptr);
  const std::string file = Write("afile", "");
  EXPECT_EQ(efio_TempName(file.c_str(), "x", &err), nullptr);
  ExpectReport(err, "efio_TempName", 1);

  // Set returns the directory in effect before; null returns to the default.
  EXPECT_STREQ(efio_DirectorySetTemporary(sub.c_str()), dir_.c_str());
  EXPECT_EQ(Take(efio_TempNameInTmpdir("EFFT")).rfind(sub + "/EFFT", 0), 0u);
  const char *saved = efio_DirectorySetTemporary(nullptr);
  EXPECT_STREQ(saved, sub.c_str());
  EXPECT_STREQ(efio_DirectorySetTemporary(saved), dir_.c_str()); // the default, read and restored
  EXPECT_STREQ(efio_DirectorySetTemporary(""), sub.c_str());
  {
    ScopedEnv none("TMPDIR", nullptr), tmp("TMP", nullptr), temp("TEMP", "/var/tmp");
    EXPECT_STREQ(efio_DirectorySetTemporary(nullptr), "/var/tmp");
  }
  {
    ScopedEnv none("TMPDIR", ""), tmp("TMP", nullptr), temp("TEMP", nullptr);
    EXPECT_STREQ(efio_DirectorySetTemporary(nullptr), "/tmp");
  }
}

// ---- File-name verification ---------------------------------------------------------------

namespace {
struct LocateLog {
  std::vector<std::string> asked;
  std::string answer; // the path to propose; "" proposes nothing
  bool fail = false;
};

int32_t Locate(void *userData, const char *fileName, void *context, Eerr_ErrorReport **err) {
  auto *log = static_cast<LocateLog *>(userData);
  log->asked.push_back(std::string(fileName) + "@" + (context ? static_cast<const char *>(context) : ""));
  if (log->fail) {
    *err = eerr_CreateErrorReport("Locate", 9, EERR_FATAL, nullptr, "user cancelled");
    return 0;
  }
  return log->answer.empty() ? 0 : efio_FileNameVerify(log->answer.c_str(), nullptr, nullptr, 0, err);
}
} // namespace

TEST_F(EfioDir, FileNameCorrectionFindsMovedFiles) {
  const std::string moved = MakeDir("moved"), other = MakeDir("other");
  const std::string here = Write("here.img", "");
  Write("moved/a.img", "");
  Write("moved/b.img", "");
  Write("other/c.img", "");
  LocateLog log;
  char composition[] = "comp.map";
  Eerr_ErrorReport *err = nullptr;
  efio_FileNameVerifyAddDefaultPath(nullptr, &err);
  efio_FileNameCorrect(nullptr, nullptr, nullptr, composition, &err);

  auto correct = [&](const std::string &original, Efio_LocateFunction callback) {
    char *name = estr_Duplicate(original.c_str());
    const int32_t changed = efio_FileNameCorrect(&name, &log, callback, nullptr, &err);
    return std::make_pair(changed, Take(name));
  };

  // A name that exists, the skip marker and an empty name are left alone.
  EXPECT_EQ(correct(here, Locate), std::make_pair(0, here));
  EXPECT_EQ(correct(EFIO_FILE_SKIPPED, Locate), std::make_pair(0, std::string(EFIO_FILE_SKIPPED)));
  EXPECT_EQ(correct("", Locate), std::make_pair(0, std::string()));
  EXPECT_TRUE(log.asked.empty());

  // Not found anywhere: unchanged, the callback asked with the base name and the run's context.
  EXPECT_EQ(correct("/old/place/a.img", Locate), std::make_pair(0, std::string("/old/place/a.img")));
  EXPECT_EQ(log.asked, std::vector<std::string>{"a.img@comp.map"});

  // Found in a default directory.
  EXPECT_EQ(efio_FileNameVerifyAddDefaultPath(moved.c_str(), &err), 0);
  EXPECT_EQ(efio_FileNameVerifyAddDefaultPath(moved.c_str(), &err), 0); // kept once
  EXPECT_EQ(correct("/old/place/a.img", Locate), std::make_pair(1, moved + "/a.img"));
  EXPECT_EQ(log.asked.size(), 1u);

  // Found by the callback; the same name later in the run needs no second question.
  log.answer = other + "/c.img";
  EXPECT_EQ(correct("C:\\old\\c.img", Locate), std::make_pair(1, other + "/c.img"));
  log.answer.clear();
  EXPECT_EQ(correct("C:\\old\\c.img", Locate), std::make_pair(1, other + "/c.img"));
  EXPECT_EQ(log.asked.size(), 2u);
  // A proposal that does not exist corrects nothing.
  log.answer = other + "/none.img";
  EXPECT_EQ(correct("/old/none.img", Locate), std::make_pair(0, std::string("/old/none.img")));
  EXPECT_EQ(err, nullptr);

  // The installed callback serves calls that pass none; a new run forgets the corrections.
  efio_FileNameVerify(nullptr, &log, Locate, 0, &err);
  efio_FileNameVerifyAddDefaultPath(nullptr, &err);
  efio_FileNameCorrect(nullptr, nullptr, nullptr, nullptr, &err);
  log.answer.clear();
  log.asked.clear();
  EXPECT_EQ(correct("C:\\old\\c.img", nullptr), std::make_pair(0, std::string("C:\\old\\c.img")));
  EXPECT_EQ(log.asked, std::vector<std::string>{"c.img@"});

  // A report of the callback is chained; the name stays.
  log.fail = true;
  EXPECT_EQ(correct("/old/b.img", Locate), std::make_pair(0, std::string("/old/b.img")));
  ASSERT_NE(err, nullptr);
  ASSERT_NE(err->next, nullptr);
  EXPECT_STREQ(err->next->reporter, "Locate");
  ExpectReport(err, "efio_FileNameCorrect", 1);

  efio_FileNameVerify(nullptr, nullptr, nullptr, 0, &err);
  EXPECT_EQ(efio_FileNameVerify(here.c_str(), nullptr, nullptr, 0, &err), 1);
  EXPECT_EQ(efio_FileNameVerify(Path("none").c_str(), nullptr, nullptr, 0, &err), 0);
  EXPECT_EQ(err, nullptr);
}

TEST(EfioFileNameParse, PartsJoinInOrder) {
  struct Case {
    const char *name;
    int32_t parts;
    const char *expected;
  } cases[] = {
      {"/data/img/x.img", EFIO_PART_DIRECTORY, "/data/img/"},
      {"/data/img/x.img", EFIO_PART_STEM, "x"},
      {"/data/img/x.img", EFIO_PART_EXTENSION, ".img"},
      {"/data/img/x.img", EFIO_PART_DIRECTORY | EFIO_PART_STEM, "/data/img/x"},
      {"/data/img/x.img", EFIO_PART_STEM | EFIO_PART_EXTENSION, "x.img"},
      {"x.tar.gz", EFIO_PART_EXTENSION, ".gz"},
      {"lib", EFIO_PART_EXTENSION, ""},
      {"lib", EFIO_PART_DIRECTORY, ""},
      {"d.dir/file", EFIO_PART_EXTENSION, ""},
      {"/home/.profile", EFIO_PART_STEM, ".profile"},
      {"C:\\a\\b.sty", EFIO_PART_DIRECTORY, "C:\\a\\"},
  };
  for (const Case &c : cases) {
    char out[EFIO_PATH_BUFFER_SIZE];
    Eerr_ErrorReport *err = nullptr;
    EXPECT_EQ(efio_FileNameParse(c.name, &err, c.parts, out, 0), 0) << c.name;
    EXPECT_STREQ(out, c.expected) << c.name << " " << c.parts;
    EXPECT_EQ(err, nullptr);
  }
  char small[8] = "junk";
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(efio_FileNameParse("/long/directory/x", &err, EFIO_PART_DIRECTORY, small, 8), -1);
  EXPECT_STREQ(small, "");
  ExpectReport(err, "efio_FileNameParse", 3);
  EXPECT_EQ(efio_FileNameParse("x", &err, 4, small, 8), -1);
  ExpectReport(err, "efio_FileNameParse", 2);
  EXPECT_EQ(efio_FileNameParse("x", &err, EFIO_PART_STEM, nullptr, 8), -1);
  ExpectReport(err, "efio_FileNameParse", 1);
}

// ---- Descriptor sets and hooks --------------------------------------------------------------

TEST(EfioFdSet, SetsRefuseOutOfRangeDescriptorsAndSelectWorks) {
  Efio_FdSet *set = efio_NewFdSet();
  ASSERT_NE(set, nullptr);
  for (int32_t fd : {-1, FD_SETSIZE, FD_SETSIZE + 1000, INT32_MAX}) {
    EXPECT_EQ(efio_FD_SET(fd, set), -1) << fd;
    EXPECT_EQ(efio_FD_ISSET(fd, set), 0) << fd;
  }
  EXPECT_EQ(efio_FD_SET(0, set), 0);
  EXPECT_EQ(efio_FD_SET(FD_SETSIZE - 1, set), 0);
  EXPECT_EQ(efio_FD_ISSET(FD_SETSIZE - 1, set), 1);
  EXPECT_EQ(efio_FD_ISSET(1, set), 0);
  efio_FD_ZERO(set);
  EXPECT_EQ(efio_FD_ISSET(0, set), 0);
  EXPECT_EQ(efio_FD_SET(3, nullptr), -1);

  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  Efio_FdSet *writable = efio_NewFdSet();
  efio_FD_SET(fds[0], set);
  struct timeval none = {0, 0};
  EXPECT_EQ(efio_Select(fds[0] + 1, set, nullptr, nullptr, &none), 0); // nothing to read yet
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  efio_FD_SET(fds[0], set);
  efio_FD_SET(fds[1], writable);
  EXPECT_EQ(efio_Select(fds[1] + 1, set, writable, nullptr, &none), 2);
  EXPECT_EQ(efio_FD_ISSET(fds[0], set), 1);
  EXPECT_EQ(efio_FD_ISSET(fds[1], writable), 1);
  EXPECT_EQ(efio_Select(FD_SETSIZE + 1, set, nullptr, nullptr, &none), -1);
  close(fds[0]);
  close(fds[1]);
  emsc_HeapFree(set);
  emsc_HeapFree(writable);
}

namespace {
int32_t LogA(int32_t, Eerr_ErrorReport **, const char *, va_list) { return 1; }
int32_t QueryA(const char *, int32_t) { return 6; }
} // namespace

TEST(EfioHooks, SettersReturnTheOldFunction) {
  EXPECT_EQ(efio_SetLogFunction(LogA), nullptr);
  EXPECT_EQ(efio_SetLogFunction(nullptr), &LogA);
  EXPECT_EQ(efio_SetQueryFunction(QueryA), nullptr);
  EXPECT_EQ(efio_SetQueryFunction(nullptr), &QueryA);
}
