#include "ereg.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "ordinary_user.h"
#include "taviron_testing.h"

namespace {

class EregStore : public ::testing::Test {
protected:
  void SetUp() override {
    root_ = dir_ + "/a/registry";
    setenv("TAVIRON_REGISTRY_ROOT", root_.c_str(), 1);
  }

  static std::string Read(Ereg_Key *key, const char *name, int32_t *type = nullptr) {
    uint32_t size = 0;
    if (ereg_QueryValue(key, name, nullptr, nullptr, &size) != EREG_OK) return "<none>";
    std::string bytes(size, '\0');
    EXPECT_EQ(ereg_QueryValue(key, name, type, bytes.data(), &size), EREG_OK);
    return bytes;
  }
  std::vector<std::string> Files(const std::string &folder) const {
    std::vector<std::string> names;
    if (DIR *d = opendir(folder.c_str())) {
      while (dirent *e = readdir(d))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
      closedir(d);
    }
    return names;
  }

  const taviron::testing::TempDir folder_{"ereg_test"}; // removed with what the test left, read-only folders too
  std::string dir_ = folder_.str(), root_;
};

TEST_F(EregStore, KeysAndValuesKeepTheirTypeAndBytes) {
  Ereg_Key *key = nullptr;
  EXPECT_EQ(ereg_OpenKey("SOFTWARE\\NORIX\\TAVIRON\\10", 0, &key), EREG_NOT_FOUND);
  EXPECT_EQ(key, nullptr);
  ASSERT_EQ(ereg_CreateKey("SOFTWARE\\NORIX\\TAVIRON\\10", &key), EREG_OK);

  const std::string multi("A=1\0B=2\0\0", 9);
  const uint32_t word = 0x01020304;
  struct Case {
    const char *name;
    int32_t type;
    std::string bytes;
  };
  const Case cases[] = {{"Environment", EREG_MULTI_SZ, multi},
                        {"ToolkitHome", EREG_SZ, std::string("/opt/kit\0", 9)},
                        {"Count", EREG_DWORD, std::string(reinterpret_cast<const char *>(&word), 4)},
                        {"", EREG_BINARY, std::string("\0\xff", 2)},
                        {"odd name/..\\x", EREG_NONE, ""}};
  for (const Case &c : cases)
    ASSERT_EQ(ereg_SetValue(key, c.name, c.type, c.bytes.data(), static_cast<uint32_t>(c.bytes.size())), EREG_OK) << c.name;
  ereg_CloseKey(key);

  // Another opening, names in any case; the key path's case does not matter either.
  ASSERT_EQ(ereg_OpenKey("software\\Norix\\\\taviron\\10\\", 0, &key), EREG_OK);
  for (const Case &c : cases) {
    int32_t type = -1;
    EXPECT_EQ(Read(key, c.name, &type), c.bytes) << c.name;
    EXPECT_EQ(type, c.type) << c.name;
  }
  EXPECT_EQ(Read(key, "ENVIRONMENT"), multi);
  EXPECT_EQ(Read(key, nullptr), std::string("\0\xff", 2)); // the default value

  // Too small a buffer: the size needed, the buffer untouched.
  char small[4] = {'x', 'x', 'x', 'x'};
  uint32_t size = sizeof small;
  EXPECT_EQ(ereg_QueryValue(key, "Environment", nullptr, small, &size), EREG_MORE_DATA);
  EXPECT_EQ(size, multi.size());
  EXPECT_EQ(std::string(small, 4), "xxxx");
  EXPECT_EQ(ereg_QueryValue(key, "Missing", nullptr, nullptr, &size), EREG_NOT_FOUND);

  // A key opened for reading writes nothing.
  EXPECT_EQ(ereg_SetValue(key, "Count", EREG_DWORD, "\0\0\0\0", 4), EREG_ACCESS);
  EXPECT_EQ(ereg_DeleteValue(key, "Count"), EREG_ACCESS);
  ereg_CloseKey(key);

  ASSERT_EQ(ereg_OpenKey("SOFTWARE\\NORIX\\TAVIRON\\10", 1, &key), EREG_OK);
  EXPECT_EQ(ereg_DeleteValue(key, "count"), EREG_OK);
  EXPECT_EQ(ereg_DeleteValue(key, "count"), EREG_NOT_FOUND);
  EXPECT_EQ(ereg_SetValue(key, "Big", EREG_BINARY, nullptr, EREG_MAX_VALUE_SIZE + 1u), EREG_BAD_VALUE);
  ereg_CloseKey(key);
  // Values are replaced whole: nothing is left beside them.
  for (const std::string &name : Files(root_ + "/software/norix/taviron/10"))
    EXPECT_EQ(name.substr(name.size() - 2), ".v") << name;
}

TEST_F(EregStore, StoredValuesThatAreNotOneAreRefused) {
  Ereg_Key *key = nullptr;
  ASSERT_EQ(ereg_CreateKey("K", &key), EREG_OK);
  ASSERT_EQ(ereg_SetValue(key, "v", EREG_SZ, "ab", 3), EREG_OK);
  const std::string file = root_ + "/k/v.v";
  const std::string stored = [&] {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }();
  ASSERT_EQ(stored, std::string("TRG1\x01\0\0\0ab\0", 11));
  for (const std::string &bytes : {std::string("TRG1\x01\0", 6), std::string("XXXX\x01\0\0\0ab", 10), std::string()}) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
    uint32_t size = 0;
    EXPECT_EQ(ereg_QueryValue(key, "v", nullptr, nullptr, &size), EREG_CORRUPT);
  }
  // A folder where a value should be is not a value either.
  ASSERT_EQ(unlink(file.c_str()), 0);
  ASSERT_EQ(mkdir(file.c_str(), 0700), 0);
  uint32_t size = 0;
  EXPECT_EQ(ereg_QueryValue(key, "v", nullptr, nullptr, &size), EREG_CORRUPT);
  ereg_CloseKey(key);
}

TEST_F(EregStore, RootComesFromTheEnvironment) {
  EXPECT_STREQ(ereg_Root(), root_.c_str());
  unsetenv("TAVIRON_REGISTRY_ROOT");
  setenv("XDG_CONFIG_HOME", (dir_ + "/config").c_str(), 1);
  EXPECT_EQ(std::string(ereg_Root()), dir_ + "/config/taviron/registry");
  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", (dir_ + "/home").c_str(), 1);
  EXPECT_EQ(std::string(ereg_Root()), dir_ + "/home/.config/taviron/registry");
  Ereg_Key *key = nullptr;
  ASSERT_EQ(ereg_CreateKey("SOFTWARE", &key), EREG_OK);
  ereg_CloseKey(key);
  EXPECT_EQ(access((dir_ + "/home/.config/taviron/registry/software").c_str(), F_OK), 0);
  unsetenv("HOME");
  EXPECT_EQ(ereg_Root(), nullptr);
  EXPECT_EQ(ereg_OpenKey("SOFTWARE", 0, &key), EREG_NOT_FOUND);
}

TEST_F(EregStore, AKeyThatMayNotBeWrittenOpensForReadingOnly) {
  Ereg_Key *key = nullptr;
  ASSERT_EQ(ereg_CreateKey("Locked", &key), EREG_OK);
  ereg_CloseKey(key);
  const std::string locked = root_ + "/locked";
  // Permission bits bind only an ordinary user.
  const int result = taviron::testing::RunAsOrdinaryUser(
      [&] {
        if (chmod(locked.c_str(), 0500) != 0) return 1;
        Ereg_Key *opened = nullptr;
        if (ereg_OpenKey("Locked", 1, &opened) != EREG_ACCESS) return 2;
        if (ereg_OpenKey("Locked", 0, &opened) != EREG_OK) return 3;
        ereg_CloseKey(opened);
        return 0;
      },
      std::chrono::seconds(10), {dir_, dir_ + "/a", root_, locked});
  EXPECT_EQ(result, 0);
}

} // namespace
