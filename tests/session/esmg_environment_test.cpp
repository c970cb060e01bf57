#include "esmg.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "emsc.h"
#include "ereg.h"
#include "taviron_testing.h"
#include "esmg_frame_internal.h"
#include "ordinary_user.h"

extern char **environ;

namespace {

using taviron::session::ExpandSearchListText;
using Strings = std::vector<std::string>;

// The variables the basic set-up defines.
constexpr const char *kBasicVariables[] = {"TAVIRON_HOME", "ARCHM", "TAVIRON_TOOLKIT_HOME", "TAVIRON_HOME_PATH",
                                          "ARCHM_PATH", "ARCH", "CPUCOUNT"};

// This test program started again under another argument 0 runs the basic set-up and prints the
// variables (the set-up reads the program's location from the process's own command line).
const bool basicSetUpChild = [] {
  if (!std::getenv("ESMG_ENV_TEST_CHILD")) return false;
  unsetenv("ESMG_ENV_TEST_CHILD");
  estr_SetupBasicEnv();
  for (const char *name : kBasicVariables) {
    const char *value = std::getenv(name);
    std::printf("%s=%s\n", name, value ? value : "<unset>");
  }
  std::fflush(stdout);
  _exit(0);
}();

using taviron::testing::ReadText;

Strings MultiString(const std::string &bytes) {
  return taviron::session::MultiStrings(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
}

class EsmgEnvironment : public ::testing::Test {
protected:
  void SetUp() override {
    setenv("TAVIRON_REGISTRY_ROOT", (dir_ + "/registry").c_str(), 1);
    setenv("TAVIRON_RUNTIME_DIR", (dir_ + "/run").c_str(), 1);
    for (const char *name : {"REGISTRY_BASE_PATH_OVERRIDE", "TAVIRON_HOME", "ARCHM", "TAVIRON_TOOLKIT_HOME",
                             "TAVIRON_HOME_PATH", "ARCHM_PATH", "PERSONAL", "VOD_GLOBAL_DATA",
                             "UNATTENDED_NORIX_INSTALLATION", "NORIX_REGISTRY_ENV_BYPASS", "OVERRIDE_PERSONAL",
                             "OVERRIDE_PREVIOUS_PERSONAL", "HOME_NOT_ACCESSIBLE_ALREADY_COMPLAINED",
                             "TAVIRON_BATCH_RUN"})
      unsetenv(name);
  }
  void TearDown() override {
    EXPECT_EQ(chdir("/"), 0);
  }

  void Mkdir(const std::string &path) { std::filesystem::create_directories(path); }
  void Write(const std::string &path, const std::string &bytes) { std::ofstream(path, std::ios::binary) << bytes; }
  // The product key's value "Environment" (created with the key when entries are given).
  void SetEnvironmentValue(const Strings &entries) {
    Ereg_Key *key = nullptr;
    ASSERT_EQ(ereg_CreateKey(esmg_RegistryPathGet(), &key), EREG_OK);
    const std::string bytes = taviron::session::MultiStringBytes(entries);
    ASSERT_EQ(ereg_SetValue(key, "Environment", EREG_MULTI_SZ, bytes.data(), static_cast<uint32_t>(bytes.size())), EREG_OK);
    ereg_CloseKey(key);
  }
  std::string EnvironmentValueFile() const { return dir_ + "/registry/software/norix/taviron/10/environment.v"; }
  Strings EnvironmentValue() const {
    const std::string stored = ReadText(EnvironmentValueFile());
    return stored.size() < 8 ? Strings{} : MultiString(stored.substr(8));
  }

  // The variables of the basic set-up in this program started as `argument0`.
  std::map<std::string, std::string> BasicSetUp(const std::string &argument0) {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    EXPECT_GT(n, 0);
    self[n > 0 ? n : 0] = '\0';
    int out[2];
    EXPECT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    setenv("ESMG_ENV_TEST_CHILD", "1", 1);
    char *argv[] = {const_cast<char *>(argument0.c_str()), nullptr};
    pid_t child = 0;
    EXPECT_EQ(posix_spawn(&child, self, &actions, nullptr, argv, environ), 0);
    unsetenv("ESMG_ENV_TEST_CHILD");
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string text;
    char chunk[512];
    for (ssize_t got; (got = read(out[0], chunk, sizeof chunk)) > 0;) text.append(chunk, static_cast<std::size_t>(got));
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::map<std::string, std::string> variables;
    for (std::size_t at = 0; at < text.size();) {
      std::size_t end = text.find('\n', at);
      const std::string line = text.substr(at, end - at);
      variables[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
      at = end == std::string::npos ? text.size() : end + 1;
    }
    return variables;
  }

  const taviron::testing::TempDir folder_{"esmg_env"};
  std::string dir_ = folder_.str();
};

TEST_F(EsmgEnvironment, SearchListsExpandElementByElement) {
  setenv("A", "p;q", 1);
  unsetenv("B");
  setenv("EMPTY", "", 1);
  setenv("SELF", "$SELF;s", 1);
  setenv("M1", "$M2;m1", 1);
  setenv("M2", "$M1;m2", 1);
  struct Case {
    const char *value;
    const char *expanded;
  };
  const Case cases[] = {
      {"$A\\x;$B", "p\\x;q\\x"},
      {"$B", ""},
      {"", ""},
      {"same;same", "same;same"},     // plain elements stay, twice
      {"$A;$A;p", "p;q;p"},           // elements of variables once
      {"x$A", "xp;xq"},
      {"$A/$A", "p/p;p/q;q/p;q/q"},   // a later variable in the next pass
      {"$EMPTY/x;y", "y"},            // a variable set to nothing gives no element
      {"a$-b", "a-b"},                // a "$" without a name
      {"$SELF", "s"},                 // a variable being expanded is unset inside itself
      {"$M1", "m2;m1"},               // also through another
  };
  for (const Case &c : cases) EXPECT_EQ(ExpandSearchListText(c.value), c.expanded) << c.value;

  // Lists that double at every level stop growing at 1 MiB; chains deeper than the nesting
  // bound end there.
  setenv("V0", "x;y", 1);
  for (int i = 1; i <= 17; ++i)
    setenv(("V" + std::to_string(i)).c_str(), ("$V" + std::to_string(i - 1) + "/a;$V" + std::to_string(i - 1) + "/b").c_str(), 1);
  const std::string big = ExpandSearchListText("$V17");
  EXPECT_GT(big.size(), 100000u);
  EXPECT_LE(big.size(), (1u << 20) + 64);
  for (int i = 0; i < 300; ++i)
    setenv(("D" + std::to_string(i)).c_str(), i == 299 ? "end" : ("$D" + std::to_string(i + 1)).c_str(), 1);
  EXPECT_EQ(ExpandSearchListText("$D0"), "");
  EXPECT_EQ(ExpandSearchListText("$D250"), "end");
}

TEST_F(EsmgEnvironment, TheDefaultTableHas58EntriesTenMarked) {
  const char *const *table = esmg_DefaultEnvironmentGet();
  std::set<std::string> names;
  int count = 0, marked = 0;
  for (; *table[count]; ++count) {
    std::string entry = table[count];
    if (entry[0] == '+') {
      ++marked;
      entry.erase(0, 1);
    }
    ASSERT_NE(entry.find('='), std::string::npos) << entry;
    EXPECT_EQ(entry.find('\\'), std::string::npos) << entry;
    names.insert(entry.substr(0, entry.find('=')));
  }
  EXPECT_EQ(count, 58);
  EXPECT_EQ(marked, 10);
  EXPECT_EQ(names.size(), 58u);
  EXPECT_STREQ(table[0], "NORIX_LIBRARY_PATH=$TAVIRON_HOME/usr/lib/$ARCHM");
  EXPECT_STREQ(table[43], "+NORIX_BATCH_DIR=$PERSONAL");
  EXPECT_STREQ(table[57], "NORIX_JAVA_CLASSPATH=$NORIX_VOSKA_CLASS_PATH;$NORIX_BRELAN_CLASS_PATH;$NORIX_SENSORML_CLASS_PATH");
  EXPECT_STREQ(esmg_RegistryPathGetVOD(), "SOFTWARE\\NORIX\\KVT\\10");
}

TEST_F(EsmgEnvironment, RegistryPathComponentsAreSetWhileEmpty) {
  esmg_RegistryPathProductComponentSet("PRODUCT");
  esmg_RegistryPathProductComponentSet("OTHER");
  EXPECT_STREQ(esmg_RegistryPathGet(), "SOFTWARE\\NORIX\\PRODUCT\\10");
  esmg_RegistryPathVersionComponentSet("11"); // the getter gave the default already
  EXPECT_STREQ(esmg_RegistryPathVersionComponentGet(), "10");
  EXPECT_STREQ(esmg_RegistryPathProductComponentGet(), "PRODUCT");
}

TEST_F(EsmgEnvironment, AnOverrideReplacesTheWholePath) {
  setenv("REGISTRY_BASE_PATH_OVERRIDE", "SOFTWARE\\Elsewhere", 1);
  esmg_RegistryPathProductComponentSet("PRODUCT");
  EXPECT_STREQ(esmg_RegistryPathGet(), "SOFTWARE\\Elsewhere");
  unsetenv("REGISTRY_BASE_PATH_OVERRIDE"); // read once
  EXPECT_STREQ(esmg_RegistryPathGet(), "SOFTWARE\\Elsewhere");
}

TEST_F(EsmgEnvironment, TheRegistryValueGainsTheDefaultsItLacks) {
  const Strings defaults = taviron::session::DefaultEnvironment();
  // Only NORIX_ETC_PATH, with a value of its own, and a variable of the site.
  SetEnvironmentValue({"NORIX_ETC_PATH=/site/etc", "SITE_LIST=/site"});
  esmg_RegistrySetDefaultEnvironmentValuesIfNecessary();
  const Strings merged = EnvironmentValue();
  EXPECT_EQ(merged.size(), 59u);
  std::set<std::string> entries(merged.begin(), merged.end());
  EXPECT_TRUE(entries.count("NORIX_ETC_PATH=/site/etc"));
  EXPECT_TRUE(entries.count("SITE_LIST=/site"));
  for (const std::string &entry : defaults) {
    if (entry.rfind("NORIX_ETC_PATH=", 0) != 0) {
      EXPECT_TRUE(entries.count(entry)) << entry;
    }
  }
  EXPECT_TRUE(std::is_sorted(merged.begin(), merged.end(), [](const std::string &a, const std::string &b) {
    return a.substr(0, a.find('=')) < b.substr(0, b.find('='));
  }));

  // A value that holds every name is not written again.
  struct stat before, after;
  ASSERT_EQ(stat(EnvironmentValueFile().c_str(), &before), 0);
  esmg_RegistrySetDefaultEnvironmentValuesIfNecessary();
  ASSERT_EQ(stat(EnvironmentValueFile().c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);

  // An empty value (not longer than 2 bytes) becomes the default list.
  SetEnvironmentValue({});
  esmg_RegistrySetDefaultEnvironmentValuesIfNecessary();
  EXPECT_EQ(EnvironmentValue(), defaults);
}

TEST_F(EsmgEnvironment, AMissingKeyIsToldAndNothingIsWritten) {
  taviron::testing::CapturedOutput output;
  esmg_RegistrySetDefaultEnvironmentValuesIfNecessary();
  EXPECT_EQ(output.Err(),
            "TAVIRON: Warning: Cannot access the Registry database for 'TAVIRON - 10', it does not appear to "
            "have been installed correctly\n"
            "TAVIRON: Warning: Cannot open the Registry database for 'TAVIRON - 10' in order to update it "
            "with default environment values\n");
  EXPECT_NE(access((dir_ + "/registry").c_str(), F_OK), 0);
}

TEST_F(EsmgEnvironment, TheBasicSetUpFindsTheHomeFromTheProgram) {
  const std::string inst = dir_ + "/inst";
  Mkdir(inst + "/bin/ntx86");
  std::map<std::string, std::string> v = BasicSetUp(inst + "/bin/ntx86/app");
  EXPECT_EQ(v["TAVIRON_HOME"], inst);
  EXPECT_EQ(v["ARCHM"], "ntx86");
  EXPECT_EQ(v["ARCHM_PATH"], "ntx86");
  EXPECT_EQ(v["TAVIRON_TOOLKIT_HOME"], "");
  EXPECT_EQ(v["TAVIRON_HOME_PATH"], inst);
  EXPECT_EQ(v["ARCH"], "NTx86");
  EXPECT_EQ(v["CPUCOUNT"], "1");

  // A debug build of a named architecture; a relative argument 0.
  setenv("ARCHM", "ntx86", 1);
  v = BasicSetUp(inst + "/BIN/ntx86Debug/app");
  EXPECT_EQ(v["TAVIRON_HOME"], inst);
  EXPECT_EQ(v["ARCHM"], "NTx86Debug");
  unsetenv("ARCHM");
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  v = BasicSetUp("./inst/bin/app");
  EXPECT_EQ(v["TAVIRON_HOME"], inst);
  EXPECT_EQ(v["ARCHM"], "bin");
}

TEST_F(EsmgEnvironment, TheBasicSetUpTakesAHomeThatIsSet) {
  // With both variables set the program's location is not asked.
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  Ereg_Key *key = nullptr;
  ASSERT_EQ(ereg_CreateKey(esmg_RegistryPathGet(), &key), EREG_OK);
  ASSERT_EQ(ereg_SetValue(key, "ToolkitHome", EREG_SZ, "/kit", 5), EREG_OK);
  ereg_CloseKey(key);
  setenv("ARCHM", "x64", 1);
  setenv("TAVIRON_HOME", "rel/..\\home\\", 1);
  estr_SetupBasicEnv();
  EXPECT_EQ(std::string(getenv("TAVIRON_HOME")), dir_ + "/home");
  EXPECT_STREQ(getenv("TAVIRON_TOOLKIT_HOME"), "/kit");
  EXPECT_EQ(std::string(getenv("TAVIRON_HOME_PATH")), "/kit;" + dir_ + "/home");
  EXPECT_STREQ(getenv("ARCHM_PATH"), "x64");
  EXPECT_STREQ(getenv("ARCH"), "NTx86");
  setenv("TAVIRON_HOME", "C:", 1);
  estr_SetupBasicEnv();
  EXPECT_STREQ(getenv("TAVIRON_HOME"), "C:");
  EXPECT_EQ(std::string(getenv("TAVIRON_HOME_PATH")), "/kit;" + dir_ + "/home"); // set once
}

TEST_F(EsmgEnvironment, HomePersonalAndGlobalStore) {
  struct Case {
    const char *home, *homeDrive, *homePath;
    std::string expectedHome;
    int32_t homeWasSet;
  };
  const char *passwordHome = nullptr;
  {
    unsetenv("HOME");
    unsetenv("HOMEPATH");
    char *home = nullptr;
    estr_ComputeHOMEAndPERSONAL(&home, nullptr);
    ASSERT_NE(home, nullptr);
    passwordHome = estr_Duplicate(home);
    emsc_HeapFree(home);
  }
  const Case cases[] = {
      {"/h", nullptr, nullptr, "/h", 1},
      {nullptr, "C:", "\\Users\\me", "C:\\Users\\me", 0},
      {nullptr, "C:", "\\", passwordHome, 0},
      {nullptr, nullptr, "/", passwordHome, 0},
  };
  for (const Case &c : cases) {
    const std::pair<const char *, const char *> variables[] = {{"HOME", c.home}, {"HOMEDRIVE", c.homeDrive}, {"HOMEPATH", c.homePath}};
    for (const auto &[name, value] : variables) value ? setenv(name, value, 1) : unsetenv(name);
    char *home = nullptr, *personal = nullptr;
    EXPECT_EQ(estr_ComputeHOMEAndPERSONAL(&home, &personal), c.homeWasSet);
    EXPECT_EQ(std::string(home), c.expectedHome);
    std::string expectedPersonal = c.expectedHome + "/.taviron1000";
    for (char &ch : expectedPersonal)
      if (ch == '\\') ch = '/';
    EXPECT_EQ(std::string(personal), expectedPersonal);
    emsc_HeapFree(home);
    emsc_HeapFree(personal);
  }
  emsc_HeapFree(const_cast<char *>(passwordHome));

  char *store = nullptr;
  setenv("VOD_GLOBAL_DATA", "/data/", 1);
  EXPECT_EQ(estr_ComputeGlobalAppStore(&store), 1);
  EXPECT_STREQ(store, "/data/");
  emsc_HeapFree(store);
  unsetenv("VOD_GLOBAL_DATA");
  const int32_t writable = estr_ComputeGlobalAppStore(&store);
  EXPECT_STREQ(store, "/var/lib/NORIX/TAVIRON10/");
  EXPECT_EQ(writable, access("/var/lib/NORIX/TAVIRON10/", W_OK) == 0 ? 1 : 0);
  emsc_HeapFree(store);
  estr_SetGlobalStore(0, nullptr);
  EXPECT_EQ(getenv("VOD_GLOBAL_DATA"), nullptr);
  estr_SetGlobalStore(0, "/store");
  EXPECT_STREQ(getenv("VOD_GLOBAL_DATA"), "/store");
}

TEST_F(EsmgEnvironment, ThePersonalDirectoryNamesMayBeOverridden) {
  setenv("HOME", "/h", 1);
  setenv("OVERRIDE_PERSONAL", "mine", 1);
  char *personal = nullptr;
  estr_ComputeHOMEAndPERSONAL(nullptr, &personal);
  EXPECT_STREQ(personal, "/h/mine");
  emsc_HeapFree(personal);
  setenv("OVERRIDE_PERSONAL", "later", 1); // read once
  estr_ComputeHOMEAndPERSONAL(nullptr, &personal);
  EXPECT_STREQ(personal, "/h/mine");
  emsc_HeapFree(personal);
}

// The whole set-up, from the registry value, with the files of the previous personal directory
// and the environment file.
TEST_F(EsmgEnvironment, TheProductEnvironmentIsSetUpOnce) {
  const std::string home = dir_ + "/home", inst = dir_ + "/inst", previous = home + "/.taviron930";
  Mkdir(previous);
  Mkdir(inst);
  for (const char *name : {"v8preference", "FileHistory", "a.cfg", ".cfg", "sessionrecovery", "viewer.1.x",
                           "viewer.x", "notes.txt"})
    Write(previous + "/" + name, std::string("content of ") + name);
  Write(inst + "/taviron.env", "FROM_ENV_FILE=yes\r\n" + std::string(300, 'L') + "=long\n=noname\nnothing\n\nLAST=1");
  setenv("HOME", home.c_str(), 1);
  setenv("TAVIRON_HOME", inst.c_str(), 1);
  setenv("ARCHM", "ntx86", 1);
  setenv("TEMP", dir_.c_str(), 1);
  setenv("TMP", dir_.c_str(), 1);
  setenv("PATH", "/usr/bin:/bin", 1);
  SetEnvironmentValue({"X_LIST=$PERSONAL;$TAVIRON_HOME/etc;$UNSET_THING", "SELF=$SELF;s", "NOEQUALS",
                       "NORIX_BIN_PATH=$TAVIRON_HOME/bin;;$PERSONAL", "CLEARED="});

  taviron::testing::CapturedOutput output;
  estr_NorixEnvSet();
  const std::string personal = home + "/.taviron1000";
  EXPECT_STREQ(getenv("PERSONAL"), personal.c_str());
  EXPECT_STREQ(getenv("HOME"), home.c_str());
  EXPECT_STREQ(getenv("X_LIST"), (personal + ";" + inst + "/etc").c_str());
  EXPECT_STREQ(getenv("SELF"), "s");
  EXPECT_EQ(getenv("NOEQUALS"), nullptr);
  EXPECT_STREQ(getenv("CLEARED"), "");
  EXPECT_EQ(getenv("NORIX_ETC_PATH"), nullptr); // the registry value, not the table
  EXPECT_STREQ(getenv("PATH"), (inst + "/bin:" + personal + ":/usr/bin:/bin").c_str());
  EXPECT_STREQ(getenv("FROM_ENV_FILE"), "yes");
  EXPECT_STREQ(getenv("LAST"), "1");
  EXPECT_EQ(getenv(std::string(300, 'L').c_str()), nullptr);
  EXPECT_STREQ(getenv("HOSTNAME"), "%USERDOMAIN%");
  EXPECT_NE(getenv("VOD_GLOBAL_DATA"), nullptr);
  char cwd[PATH_MAX];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(std::string(cwd), home);

  for (const char *name : {"v8preference", "FileHistory", "a.cfg"})
    EXPECT_EQ(ReadText(personal + "/" + name), std::string("content of ") + name) << name;
  for (const char *name : {".cfg", "sessionrecovery", "viewer.1.x", "viewer.x", "notes.txt"})
    EXPECT_NE(access((personal + "/" + name).c_str(), F_OK), 0) << name;
  EXPECT_EQ(output.Err(),
            "NORIX TAVIRON: The following file(s) from your $HOME\\.taviron930 directory must be copied manually to "
            "your $HOME\\.taviron1000 directory if you wish to continue to use them with the new version of "
            "TAVIRON:\n\n\t.cfg\n\tnotes.txt\n\tviewer.x\n");

  setenv("X_LIST", "changed", 1);
  estr_NorixEnvSet();
  EXPECT_STREQ(getenv("X_LIST"), "changed");
}

TEST_F(EsmgEnvironment, WithoutARegistryValueTheTableDefinesTheVariablesAndProblemsAreTold) {
  const std::string home = dir_ + "/home", inst = dir_ + "/inst";
  setenv("HOME", home.c_str(), 1); // not there yet: not writable
  setenv("TAVIRON_HOME", inst.c_str(), 1);
  setenv("ARCHM", "ntx86", 1);
  unsetenv("TEMP");
  unsetenv("TMP");
  taviron::testing::CapturedOutput output;
  estr_NorixEnvSet();
  const std::string personal = home + "/.taviron1000";
  EXPECT_STREQ(getenv("NORIX_ETC_PATH"), (personal + ";" + inst + "/fixes;" + inst + "/etc").c_str());
  EXPECT_STREQ(getenv("NORIX_CFG_DATABASES"), "");
  EXPECT_STREQ(getenv("NORIX_BATCH_DIR"), personal.c_str());
  EXPECT_STREQ(getenv("HOME_NOT_ACCESSIBLE_ALREADY_COMPLAINED"), "1");
  const std::string err = output.Err();
  EXPECT_EQ(err.find("Warning: Your current home directory (" + home + ") does not exist, or it is read-only."), 0u) << err;
  EXPECT_NE(err.find("NORIX TAVIRON: The environment variable 'TEMP' is not set.\nPlease use the Control Panel "
                     "to set this variable.\n"),
            std::string::npos);
  EXPECT_NE(err.find("The environment variable 'TMP' is not set."), std::string::npos);
  struct stat info;
  EXPECT_EQ(stat(personal.c_str(), &info), 0); // the home and the personal directory are made
}

TEST_F(EsmgEnvironment, QuietAndBypassedSetUpsShowNothingAndSkipTheLists) {
  const std::string home = dir_ + "/home";
  Mkdir(home);
  setenv("HOME", home.c_str(), 1);
  setenv("TAVIRON_HOME", dir_.c_str(), 1);
  setenv("ARCHM", "ntx86", 1);
  setenv("UNATTENDED_NORIX_INSTALLATION", "1", 1);
  setenv("NORIX_REGISTRY_ENV_BYPASS", "1", 1);
  setenv("PATH", "/bin", 1);
  unsetenv("TEMP");
  unsetenv("NORIX_BIN_PATH");
  taviron::testing::CapturedOutput output;
  estr_NorixEnvSet();
  EXPECT_EQ(output.Err(), "");
  EXPECT_EQ(getenv("NORIX_ETC_PATH"), nullptr);
  EXPECT_STREQ(getenv("PATH"), "/bin"); // no empty entry before it
  EXPECT_STREQ(getenv("PERSONAL"), (home + "/.taviron1000").c_str());
  EXPECT_NE(access((home + "/.taviron1000").c_str(), F_OK), 0); // not made when quiet
}

TEST_F(EsmgEnvironment, AHomeAtTheRootIsToldAndNotMade) {
  const int result = taviron::testing::RunAsOrdinaryUser(
      [&] {
        setenv("HOME", "/", 1);
        setenv("USER", "someone", 1);
        setenv("TAVIRON_HOME", dir_.c_str(), 1);
        setenv("ARCHM", "ntx86", 1);
        setenv("TEMP", "/tmp", 1);
        setenv("TMP", "/tmp", 1);
        setenv("NORIX_REGISTRY_ENV_BYPASS", "1", 1);
        taviron::testing::CapturedOutput output;
        estr_NorixEnvSet();
        const std::string expected =
            "Warning: Your HOME directory (/) points to the root directory of a drive, which is not advisable when "
            "other users have access to this drive.  It is better to set HOME to a subdirectory which you own, "
            "such as C:\\Users\\someone.\n\nClick OK to continue.\n";
        return output.Err().find(expected) != std::string::npos ? 0 : 1;
      },
      std::chrono::seconds(20), {dir_});
  EXPECT_EQ(result, 0);
}

TEST_F(EsmgEnvironment, TheEnvironmentStringsBlockIsKeptAndFreed) {
  EXPECT_EQ(esmg_GetEnvironmentStrings(), nullptr);
  char *block = static_cast<char *>(emsc_HeapMalloc(9));
  std::memcpy(block, "A=1\0B=2\0", 9);
  esmg_SetEnvironmentStrings(block);
  EXPECT_EQ(esmg_GetEnvironmentStrings(), block);
  esmg_FreeEnvironmentStrings();
  EXPECT_EQ(esmg_GetEnvironmentStrings(), nullptr);
  esmg_FreeEnvironmentStrings();
}

} // namespace
