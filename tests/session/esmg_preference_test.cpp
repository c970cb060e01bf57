// The preference and configuration-database service: through the test session manager in another
// process, in a session manager (this process), and in a batch run.
#include "esmg.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "session_fixture.h"
#include "ecfg.h"
#include "emsc.h"
#include "epmg.h"
#include "eprf.h"
#include "eprn.h"
#include "ewin.h"
#include "taviron_testing.h"

namespace {

class Preferences : public taviron::testing::SessionFixture {
protected:
  void TearDown() override {
    for (const char *variable : {"TAVIRON_BATCH_RUN", "NORIX_PREFERENCES_PATH", "NORIX_CFG_PATH",
                                 "TAVIRON_PRINTER_TABLE"})
      unsetenv(variable);
    SessionFixture::TearDown();
  }
  std::string Write(const std::string &name, const std::string &text) const {
    const std::string file = dir_ + "/" + name;
    std::ofstream(file) << text;
    return file;
  }
};

// Whether the chain holds a report of the reporter with the code and message.
bool ChainHas(const Eerr_ErrorReport *chain, const char *reporter, int32_t code,
              const std::string &message) {
  for (; chain; chain = chain->next)
    if (chain->reporter && std::strcmp(chain->reporter, reporter) == 0 && chain->code == code &&
        chain->message && message == chain->message)
      return true;
  return false;
}

Epmg_Preference Key(const char *className, const char *category, const char *name) {
  Epmg_Preference record{};
  record.className = const_cast<char *>(className);
  record.category = const_cast<char *>(category);
  record.name = const_cast<char *>(name);
  return record;
}

std::vector<std::string> Strings(const Estr_StringList *list) {
  std::vector<std::string> out;
  for (int32_t i = 0; list && i < list->count; ++i) out.emplace_back(list->strings[i] ? list->strings[i] : "");
  return out;
}

TEST_F(Preferences, AnswersOfTheSessionManagerByType) {
  StartManager({"--pref", "preferences/zav/flag=3:0.7", "--pref", "preferences/zav/on=3:1.0",
                "--pref", "preferences/zav/count=2:2.5", "--pref", "preferences/zav/name=1:hello",
                "--pref", "preferences/zav/mode=4:fast", "--pref", "preferences/zav/big=5:4294967295",
                "--pref", "printers/lp0/model=1:Laser"});
  Connect("prefs", ESMG_CONNECT_APPLICATION);
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(epmg_GetBooleanPreference("zav", "flag", 1, &err), 0); // 0.7 truncates to 0
  EXPECT_EQ(epmg_GetBooleanPreference("zav", "on", 0, &err), 1);
  EXPECT_EQ(epmg_GetNumberPreference("zav", "count", 0, &err), 2.5);
  char *text = epmg_GetStringPreference("zav", "name", nullptr, &err);
  EXPECT_STREQ(text, "hello");
  emsc_HeapFree(text);
  text = epmg_GetEnumPreference("zav", "mode", nullptr, &err);
  EXPECT_STREQ(text, "fast");
  emsc_HeapFree(text);
  EXPECT_EQ(err, nullptr);
  Epmg_Preference big = Key(EPMG_DEFAULT_CLASS, "zav", "big");
  esmg_GetPreference(&big, &err);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(big.valueType, EPMG_TYPE_UNSIGNED);
  EXPECT_EQ(big.value.unsignedInteger, 4294967295u);
  // A configuration class is asked of the session manager too.
  Epmg_Preference model = Key("printers", "lp0", "model");
  esmg_GetPreference(&model, &err);
  EXPECT_STREQ(model.value.string, "Laser");
  emsc_HeapFree(model.value.string);

  text = epmg_GetStringPreference("zav", "missing", "fallback", &err);
  EXPECT_STREQ(text, "fallback");
  emsc_HeapFree(text);
  EXPECT_TRUE(ChainHas(err, "esmg_GetPreference", 2, "Couldn't find category : zav or Name : missing"));
  EXPECT_TRUE(ChainHas(err, "esmg_PreferenceGet", 2696, "esmg_PreferenceGet failed"));
  EXPECT_TRUE(ChainHas(err, "smPrefGet", 1268, "esmg_PreferenceGet failed"));
  eerr_DeleteErrorReportEx(&err);
  Epmg_Preference unnamed = Key(EPMG_DEFAULT_CLASS, nullptr, nullptr);
  Epmg_Preference *pointer = &unnamed;
  esmg_PreferenceGet(&pointer, &err);
  EXPECT_EQ(pointer, nullptr);
  EXPECT_TRUE(ChainHas(err, "esmg_GetPreference", 2, "Couldn't find category : NULL or Name : NULL"));
  eerr_DeleteErrorReportEx(&err);

  std::vector<Esmg_Protocol *> waits = Received("WAIT", 10);
  ASSERT_GE(waits.size(), 2u);
  EXPECT_EQ(waits[1]->type, 16); // after the connection's own "zav"/"tmpdir"
  EXPECT_STREQ(waits[1]->w[2].s, EPMG_DEFAULT_CLASS);
  EXPECT_STREQ(waits[1]->w[3].s, "zav");
  EXPECT_STREQ(waits[1]->w[4].s, "flag");
  Free(waits);
}

// A process that found no session manager asks nobody: the service reports at once.
TEST_F(Preferences, UnconnectedApplicationGetsAReportNotAWait) {
  taviron::testing::CapturedOutput output;
  esmg_SessionConnect("alone", ESMG_CONNECT_APPLICATION, nullptr);
  ASSERT_EQ(esmg_SessionIsStarted(), 0);
  Eerr_ErrorReport *err = nullptr;
  Epmg_Preference record = Key(EPMG_DEFAULT_CLASS, "zav", "tmpdir");
  esmg_GetPreference(&record, &err);
  ASSERT_NE(err, nullptr);
  EXPECT_TRUE(ChainHas(err, "esmg_GetPreference", 1,
                       "Session Manager is not running!, can not get preference."));
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(epmg_GetNumberPreference("zav", "count", 3.0, &err), 3.0);
  EXPECT_TRUE(ChainHas(err, "smPrefGet", 1268, "esmg_PreferenceGet failed"));
  eerr_DeleteErrorReportEx(&err);
}

TEST_F(Preferences, PutsTravelWithTheirNumbers) {
  StartManager({});
  Connect("putter", ESMG_CONNECT_APPLICATION);
  Eerr_ErrorReport *err = nullptr;
  Epmg_Preference flag = Key(EPMG_DEFAULT_CLASS, "zav", "flag");
  flag.valueType = EPMG_TYPE_BOOLEAN;
  flag.value.boolean = 1;
  esmg_PutPreference(&flag, &err);
  Epmg_Preference big = Key(EPMG_DEFAULT_CLASS, "zav", "big");
  big.valueType = EPMG_TYPE_UNSIGNED;
  big.value.unsignedInteger = 4294967295u;
  big.flags = 7;
  ecfg_PutPreference(&big, &err); // through the lower layer's method
  Epmg_Preference name = Key(EPMG_DEFAULT_CLASS, "zav", "name");
  name.valueType = EPMG_TYPE_STRING;
  name.value.string = const_cast<char *>("abc");
  esmg_BroadCastPreferenceChange(&name, nullptr);
  Epmg_Preference none = Key(EPMG_DEFAULT_CLASS, "zav", "none"); // no value type: not sent
  esmg_PutPreference(&none, &err);
  esmg_OpenPreferenceEditor();
  esmg_SaveUserPreference(&err);
  esmg_SaveGlobalPreference(&err);
  EXPECT_EQ(err, nullptr);
  std::vector<Esmg_Protocol *> posts = Settled("POST");
  ASSERT_EQ(Types(posts), (std::vector<int32_t>{17, 17, 17, 52, 21, 22}));
  EXPECT_EQ(posts[0]->w[5].i, EPMG_TYPE_BOOLEAN);
  EXPECT_EQ(posts[0]->w[8].d, 1.0);
  EXPECT_EQ(posts[0]->w[13].i, 3); // a final word of 0 travels as 3
  EXPECT_EQ(posts[1]->w[8].d, 4294967295.0);
  EXPECT_EQ(posts[1]->w[13].i, 7);
  EXPECT_STREQ(posts[2]->w[6].s, "abc");
  EXPECT_STREQ(posts[2]->w[4].s, "name");
  Free(posts);
}

int callbackCalls = 0;
void Callback(void *userData, Epmg_Preference *) { ++*static_cast<int *>(userData); }

// A callback of an application registers with the session manager, which runs it by sending it
// back to the application's process when the preference changes.
TEST_F(Preferences, CallbacksOfAnApplicationComeBackFromTheManager) {
  StartManager({});
  Connect("listener", ESMG_CONNECT_APPLICATION);
  Eerr_ErrorReport *err = nullptr;
  epmg_AddPreferenceCallback("zav", "color", Callback, &callbackCalls, &err);
  EXPECT_EQ(err, nullptr);
  Epmg_Preference color = Key(EPMG_DEFAULT_CLASS, "zav", "color");
  color.valueType = EPMG_TYPE_STRING;
  color.value.string = const_cast<char *>("red");
  esmg_PutPreference(&color, &err);
  Esmg_Protocol *run = esmg_WaitForProtocol(0, 20);
  ASSERT_NE(run, nullptr);
  EXPECT_EQ(run->w[10].p, reinterpret_cast<void *>(Callback));
  EXPECT_EQ(run->w[11].p, &callbackCalls);
  EXPECT_STREQ(run->w[4].s, "color");
  EXPECT_EQ(run->w[5].i, EPMG_TYPE_STRING);
  EXPECT_STREQ(run->w[6].s, "red");
  EXPECT_EQ(run->w[12].i, 0);
  esmg_FreeProtocol(run);
  Epmg_PreferenceCallbackRecord record{};
  record.className = const_cast<char *>(EPMG_DEFAULT_CLASS);
  record.category = const_cast<char *>("zav");
  record.name = const_cast<char *>("color");
  esmg_RemovePreferenceCallback(&record, &err);
  std::vector<Esmg_Protocol *> posts = Settled("POST");
  EXPECT_EQ(Types(posts), (std::vector<int32_t>{18, 17, 19}));
  Free(posts);
}

TEST_F(Preferences, JobRegistersNoCallbacksUnlessTold) {
  StartManager({});
  esmg_JobInit("quiet job", nullptr);
  ASSERT_EQ(esmg_SessionIsStarted(), 1);
  Eerr_ErrorReport *err = nullptr;
  epmg_AddPreferenceCallback("zav", "color", Callback, &callbackCalls, &err);
  EXPECT_EQ(esmg_OverrideJobPreferenceCheck(1), 1);
  epmg_AddPreferenceCallback("zav", "size", Callback, &callbackCalls, &err);
  EXPECT_EQ(err, nullptr);
  std::vector<Esmg_Protocol *> posts = Settled("POST");
  ASSERT_EQ(Types(posts), (std::vector<int32_t>{10, 18}));
  EXPECT_STREQ(posts[1]->w[4].s, "size");
  Free(posts);
}

// The device classes of a session manager: answers without a database.
TEST_F(Preferences, DeviceClassesAnswerWithoutADatabase) {
  esmg_SessionCreate();
  Esmg_TapeNode tape{nullptr, const_cast<char *>("/dev/st0"), const_cast<char *>("tape0")};
  EXPECT_EQ(esmg_SetLocalTapesDB(&tape), &tape);
  struct Case {
    const char *className, *category, *key;
    int32_t answered;
    const char *value; // null: a report
  };
  const Case cases[] = {
      {"CDROMS", "cd0", "host", 1, "."},
      {"cdroms", "cd0", "model", 1, "CD-ROM"},
      {"cdroms", "cd0", "DIRECTORY", 1, "cd0"},
      {"cdroms", nullptr, "device", 1, ""},
      {"cdroms", "cd0", "Device", 1, nullptr},
      {"tapes", "TAPE0", "model", 1, "tape0"},
      {"tapes", "tape0", "device", 1, "/dev/st0"},
      {"Tapes", "tape0", "host", 1, "."},
      {"tapes", "tape0", "speed", 0, nullptr},
      {"tapes", "tape9", "model", 0, ""},
      {"preferences", "zav", "model", 0, ""},
  };
  for (const Case &c : cases) {
    Epmg_Preference record = Key(c.className, c.category, c.key);
    Eerr_ErrorReport *err = nullptr;
    EXPECT_EQ(esmg_GetPreferenceNT(&record, &err), c.answered) << c.className << " " << c.key;
    if (c.answered && c.value) {
      EXPECT_EQ(err, nullptr);
      EXPECT_EQ(record.valueType, EPMG_TYPE_STRING);
      EXPECT_STREQ(record.value.string, c.value) << c.key;
      emsc_HeapFree(record.value.string);
    } else if (!c.value) {
      EXPECT_TRUE(err && err->message &&
                  std::string(err->message) == std::string("Unknown preference: ") + c.key)
          << c.key;
    } else {
      EXPECT_EQ(err, nullptr);
    }
    eerr_DeleteErrorReportEx(&err);
  }
  // The session manager's own get answers a device class before any database.
  Epmg_Preference host = Key("CDROMS", "cd0", "host");
  Eerr_ErrorReport *err = nullptr;
  esmg_GetPreference(&host, &err);
  EXPECT_EQ(err, nullptr);
  EXPECT_STREQ(host.value.string, ".");
  emsc_HeapFree(host.value.string);
  esmg_SetLocalTapesDB(nullptr);
}

TEST_F(Preferences, PrintersComeFromThePrinterTable) {
  setenv("TAVIRON_PRINTER_TABLE",
         Write("printers.tab", "# name | driver | port | copies | w | h | dpi x | dpi y | colour\n"
                               "Office Laser | PCL Driver | lpt1 | 2 | 210 | 297 | 600 | 300 | mono\n"
                               "broken | x | y | many | 1 | 1 | 1 | 1 | mono\n"
                               "Plotter|HPGL|usb0|1|900|1200|300|300|color\n")
             .c_str(),
         1);
  void *mode = nullptr, *names = nullptr;
  int32_t modeSize = 0, namesSize = 0;
  ASSERT_EQ(esmg_GetDevMode("Office Laser", &mode, &modeSize, &names, &namesSize), 1);
  ASSERT_EQ(modeSize, static_cast<int32_t>(sizeof(Eprn_DevMode)));
  EXPECT_STREQ(static_cast<Eprn_DevMode *>(mode)->deviceName, "Office Laser");
  const auto *block = static_cast<const unsigned char *>(names);
  ASSERT_EQ(namesSize, 8 + 11 + 13 + 5);
  EXPECT_EQ(block[0] | block[1] << 8, 8);
  EXPECT_EQ(block[2] | block[3] << 8, 10 + 9);
  EXPECT_EQ(block[4] | block[5] << 8, 10 + 12 + 10);
  EXPECT_EQ(block[6] | block[7] << 8, 0);
  EXPECT_STREQ(reinterpret_cast<const char *>(block + 8), "PCL Driver");
  EXPECT_STREQ(reinterpret_cast<const char *>(block + 19), "Office Laser");
  EXPECT_STREQ(reinterpret_cast<const char *>(block + 32), "lpt1");
  emsc_HeapFree(mode);
  emsc_HeapFree(names);
  for (const char *none : {"file", "FILE", "eps", "broken", "elsewhere"}) {
    EXPECT_EQ(esmg_GetDevMode(none, &mode, &modeSize, &names, &namesSize), 0) << none;
    EXPECT_EQ(mode, nullptr);
    EXPECT_EQ(modeSize, 0);
  }
  EXPECT_EQ(esmg_GetDevMode(nullptr, &mode, &modeSize, &names, &namesSize), 0);

  struct Case {
    const char *key;
    int32_t type;
    double number;
    const char *text;
  };
  const Case cases[] = {
      {"model", EPMG_TYPE_STRING, 0, "Office Laser"}, {"DEVICE", EPMG_TYPE_STRING, 0, "Office Laser"},
      {"mirror", EPMG_TYPE_BOOLEAN, 0, nullptr},     {"NumCopies", EPMG_TYPE_NUMBER, 2, nullptr},
      {"mediawidth", EPMG_TYPE_NUMBER, 210, nullptr}, {"mediaheight", EPMG_TYPE_NUMBER, 297, nullptr},
      {"unittype", EPMG_TYPE_ENUM, 0, "millimeter"}, {"densitywidth", EPMG_TYPE_NUMBER, 600, nullptr},
      {"densityheight", EPMG_TYPE_NUMBER, 300, nullptr}, {"dotsunittype", EPMG_TYPE_ENUM, 0, "inch"},
      {"totalpixelwidth", EPMG_TYPE_NUMBER, 4960, nullptr},
      {"totalpixelheight", EPMG_TYPE_NUMBER, 3507, nullptr},
      {"color", EPMG_TYPE_ENUM, 0, "monochrome"},     {"intenselevel", EPMG_TYPE_NUMBER, 1, nullptr},
  };
  for (const Case &c : cases) {
    Epmg_Preference record = Key("printers", "Office Laser", c.key);
    Eerr_ErrorReport *err = nullptr;
    EXPECT_EQ(esmg_GetPreferenceNT(&record, &err), 1);
    EXPECT_EQ(err, nullptr) << c.key;
    EXPECT_EQ(record.valueType, c.type) << c.key;
    if (c.text) {
      EXPECT_STREQ(record.value.string, c.text) << c.key;
      emsc_HeapFree(record.value.string);
    } else if (c.type == EPMG_TYPE_NUMBER) {
      EXPECT_EQ(record.value.number, c.number) << c.key;
    } else {
      EXPECT_EQ(record.value.boolean, 0);
    }
    eerr_DeleteErrorReportEx(&err);
  }
  Epmg_Preference color = Key("Printers", "Plotter", "color");
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(esmg_GetPreferenceNT(&color, &err), 1);
  EXPECT_STREQ(color.value.string, "color");
  emsc_HeapFree(color.value.string);
  Epmg_Preference unknown = Key("printers", "Office Laser", "paper");
  EXPECT_EQ(esmg_GetPreferenceNT(&unknown, &err), 1);
  EXPECT_TRUE(ChainHas(err, "GetWindowsPrinterPreference", 1, "Unknown preference: paper"));
  eerr_DeleteErrorReportEx(&err);
  Epmg_Preference missing = Key("printers", "nowhere", "model");
  EXPECT_EQ(esmg_GetPreferenceNT(&missing, &err), 1);
  EXPECT_TRUE(ChainHas(err, "GetWindowsPrinterPreference", 2, "esmg_GetDevMode failed"));
  eerr_DeleteErrorReportEx(&err);
}

// Publishes a device-mode block under a name: the two sizes (the names block's as claimed), the
// first modeSize bytes of the device mode, the names block.
void Publish(const char *name, const Eprn_DevMode &mode, uint16_t modeSize, const std::string &names,
             uint16_t claimedNames) {
  std::vector<unsigned char> bytes(4);
  bytes[0] = static_cast<unsigned char>(modeSize);
  bytes[1] = static_cast<unsigned char>(modeSize >> 8);
  bytes[2] = static_cast<unsigned char>(claimedNames);
  bytes[3] = static_cast<unsigned char>(claimedNames >> 8);
  const auto *raw = reinterpret_cast<const unsigned char *>(&mode);
  bytes.insert(bytes.end(), raw, raw + std::min<std::size_t>(modeSize, sizeof mode));
  bytes.insert(bytes.end(), names.begin(), names.end());
  Ewin_Handle mapping = ewin_CreateFileMapping(static_cast<uint32_t>(bytes.size()));
  ASSERT_NE(mapping, 0);
  void *view = ewin_MapViewOfFile(mapping);
  std::memcpy(view, bytes.data(), bytes.size());
  ewin_UnmapViewOfFile(view);
  ASSERT_NE(ewin_PublishFileMapping(mapping, name), 0);
  ewin_CloseHandle(mapping);
}

// A device-mode block that another process published: its sizes are held against its bytes.
TEST_F(Preferences, PublishedDeviceModesAreBoundedByTheirBytes) {
  Eprn_DevMode mode{};
  std::strcpy(mode.deviceName, "Remote");
  mode.size = sizeof mode;
  mode.copies = 3;
  mode.paperWidth = 2160;
  mode.paperLength = 2790;
  mode.xResolution = mode.yResolution = 100;
  mode.color = EPRN_COLOR;
  const std::string names("\x08\x00\x0c\x00\x13\x00\x00\x00"
                          "drv\0Remote\0lp\0",
                          22);
  Publish("remote printer", mode, sizeof mode, names, static_cast<uint16_t>(names.size()));
  Publish("liar", mode, sizeof mode, names, 60000);
  Publish("stub", mode, 4, names, static_cast<uint16_t>(names.size()));

  void *block = nullptr, *nameBlock = nullptr;
  int32_t size = 0, nameSize = 0;
  ASSERT_EQ(esmg_GetDevMode("remote printer", &block, &size, &nameBlock, &nameSize), 1);
  EXPECT_EQ(size, static_cast<int32_t>(sizeof mode));
  EXPECT_EQ(nameSize, static_cast<int32_t>(names.size()));
  EXPECT_EQ(std::memcmp(nameBlock, names.data(), names.size()), 0);
  emsc_HeapFree(block);
  emsc_HeapFree(nameBlock);
  EXPECT_EQ(esmg_GetDevMode("liar", &block, &size, &nameBlock, &nameSize), 0);
  EXPECT_EQ(block, nullptr);
  EXPECT_EQ(nameBlock, nullptr);
  EXPECT_EQ(size, 0);

  Eerr_ErrorReport *err = nullptr;
  Epmg_Preference copies = Key("printers", "remote printer", "numcopies");
  EXPECT_EQ(esmg_GetPreferenceNT(&copies, &err), 1);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(copies.value.number, 3.0);
  for (const char *device : {"liar", "stub"}) {
    Epmg_Preference model = Key("printers", device, "model");
    EXPECT_EQ(esmg_GetPreferenceNT(&model, &err), 1);
    EXPECT_TRUE(ChainHas(err, "GetWindowsPrinterPreference", 2, "esmg_GetDevMode failed")) << device;
    eerr_DeleteErrorReportEx(&err);
  }
  EXPECT_NE(ewin_WithdrawFileMapping("remote printer"), 0);
  EXPECT_EQ(esmg_GetDevMode("remote printer", &block, &size, &nameBlock, &nameSize), 0);
}

TEST_F(Preferences, DeviceListsAndCategoryWrites) {
  StartManager({"--devices", "printers=lp0,lp1", "--error", "34"});
  Connect("devices", ESMG_CONNECT_APPLICATION);
  Eerr_ErrorReport *err = nullptr;
  Estr_StringList *list = esmg_GetDeviceList("printers", &err);
  EXPECT_EQ(Strings(list), (std::vector<std::string>{"lp0", "lp1"}));
  estr_StringListDelete(list, nullptr);
  EXPECT_EQ(esmg_GetDeviceList("tapes", &err), nullptr);
  EXPECT_TRUE(ChainHas(err, "esmg_GetDeviceList", 2555,
                       "Couldn't get device list for tapes from session manager"));
  eerr_DeleteErrorReportEx(&err);
  esmg_WriteCategory("Printers", "lp0", "/etc/cfg", "site", &err); // never written, never sent
  EXPECT_EQ(err, nullptr);
  esmg_WriteCategory("cdroms", "cd0", "/etc/cfg", "site", &err);
  EXPECT_TRUE(ChainHas(err, "esmg_WriteCategory", 2673,
                       "Couldn't write /etc/cfg/cdroms.site.cfg for category cd0 "));
  eerr_DeleteErrorReportEx(&err);
  esmg_WriteCategory("cdroms", nullptr, "/etc/cfg", nullptr, &err);
  EXPECT_TRUE(ChainHas(err, "esmg_WriteCategory", 2673,
                       "Couldn't write /etc/cfg/cdroms.cfg for category <none> "));
  eerr_DeleteErrorReportEx(&err);
  std::vector<Esmg_Protocol *> waits = Settled("WAIT");
  EXPECT_EQ(Types(waits), (std::vector<int32_t>{16, 33, 33, 34, 34}));
  Free(waits);
}

// Every request that waits for the session manager reports a missing reply with its own text.
TEST_F(Preferences, RequestsWithoutReplyReport) {
  StartManager({"--no-reply-to", "33", "--no-reply-to", "34", "--no-reply-to", "45"});
  Connect("unanswered", ESMG_CONNECT_APPLICATION);
  Eerr_ErrorReport *err = nullptr;
  int32_t count = 0;
  EXPECT_EQ(esmg_GetDeviceList("printers", &err), nullptr);
  EXPECT_TRUE(ChainHas(err, "esmg_GetDeviceList", 2545, "Protocol receive error"));
  eerr_DeleteErrorReportEx(&err);
  esmg_WriteCategory("cdroms", "cd0", "/etc", nullptr, &err);
  EXPECT_TRUE(ChainHas(err, "esmg_WriteCategory", 2661, "Protocol receive error"));
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(esmg_EcfgQueryCreateAndExecute("devices", nullptr, nullptr, nullptr,
                                           ECFG_QUERY_INSTANCES, &err),
            nullptr);
  EXPECT_TRUE(ChainHas(err, "esmg_EcfgQueryCreateAndExecute", 579, "Invalid query results."));
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(esmg_EcfgGetClass("devices"), nullptr);
  EXPECT_EQ(esmg_EcfgGetDatabaseDirectories("devices", &count, &err), nullptr);
  EXPECT_TRUE(ChainHas(err, "esmg_EcfgGetDatabaseDirectories", 688,
                       "Could not get database directories."));
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(esmg_EcfgGetDatabases("devices", &count, &err), nullptr);
  EXPECT_TRUE(ChainHas(err, "esmg_EcfgGetDatabases", 743, "Could not get databases."));
  eerr_DeleteErrorReportEx(&err);
  esmg_EcfgSetDatabaseLevel("devices", "/etc", nullptr, &err);
  EXPECT_TRUE(ChainHas(err, "esmg_EcfgSetDatabaseLevel", 798, "Could not set databases."));
  eerr_DeleteErrorReportEx(&err);
  esmg_EcfgInstallChangeImmediate("devices", ECFG_CHANGE_CREATE_INSTANCE, 1, nullptr, "t", 0,
                                  nullptr, &err);
  EXPECT_TRUE(ChainHas(err, "esmg_EcfgSetDatabaseLevel", 858, "Could not set databases."));
  eerr_DeleteErrorReportEx(&err);
}

// Configuration requests go to the session manager, which answers from its databases; a failed
// query reaches the caller with the session manager's report beneath.
TEST_F(Preferences, ConfigurationRequestsAreAnsweredByTheManager) {
  setenv("NORIX_CFG_PATH", dir_.c_str(), 1);
  Write("devices.cfg", "[tape0]\ndevice = /dev/st0\n[tape1]\ndevice = /dev/st1\n");
  StartManager({});
  Connect("configured", ESMG_CONNECT_APPLICATION);
  Eerr_ErrorReport *err = nullptr;
  Estr_StringList *list =
      ecfg_QueryCreateAndExecute("devices", nullptr, nullptr, nullptr, ECFG_QUERY_INSTANCES, &err);
  EXPECT_EQ(Strings(list), (std::vector<std::string>{"tape0", "tape1"}));
  estr_StringListDelete(list, nullptr);
  list = esmg_EcfgQueryCreateAndExecute("devices", nullptr, nullptr, "device",
                                        ECFG_QUERY_KEY_VALUES, &err);
  EXPECT_EQ(Strings(list), (std::vector<std::string>{"/dev/st0", "/dev/st1"}));
  estr_StringListDelete(list, nullptr);
  char *className = ecfg_GetClass("devices");
  EXPECT_STREQ(className, "devices");
  emsc_HeapFree(className);
  EXPECT_EQ(esmg_EcfgGetClass("bad/name"), nullptr);
  int32_t current = 5;
  list = esmg_EcfgGetDatabaseDirectories("devices", &current, &err);
  EXPECT_EQ(Strings(list), std::vector<std::string>{dir_});
  EXPECT_EQ(current, 0);
  estr_StringListDelete(list, nullptr);
  EXPECT_EQ(err, nullptr);
  esmg_EcfgInstallChangeImmediate("devices", ECFG_CHANGE_CREATE_INSTANCE, 1, nullptr, "tape2", 0,
                                  nullptr, &err);
  EXPECT_EQ(err, nullptr);
  list = esmg_EcfgQueryCreateAndExecute("devices", nullptr, nullptr, nullptr, ECFG_QUERY_INSTANCES,
                                        &err);
  EXPECT_EQ(Strings(list), (std::vector<std::string>{"tape0", "tape1", "tape2"}));
  estr_StringListDelete(list, nullptr);

  taviron::testing::CapturedOutput output;
  EXPECT_EQ(esmg_EcfgQueryCreateAndExecute("devices", nullptr, nullptr, nullptr, 1, &err), nullptr);
  EXPECT_EQ(output.Err(), "Got an error in query!\n");
  EXPECT_TRUE(ChainHas(err, "esmg_EcfgQueryCreateAndExecute", 590, "Got an error in query!"));
  EXPECT_TRUE(ChainHas(err, "ecfg_QueryCreateAndExecute", 8, "Unsupported query flags 1"));
  eerr_DeleteErrorReportEx(&err);
}

void Broadcast(Esmg_Protocol *record, int32_t kind, intptr_t destination);
std::vector<std::string> broadcasts;

void Broadcast(Esmg_Protocol *record, int32_t kind, intptr_t destination) {
  std::string line = std::to_string(record->type) + " " + std::to_string(kind) + " " +
                     std::to_string(destination);
  if (record->type == 20) line += std::string(" ") + (record->w[6].s ? record->w[6].s : "") +
                                  (record->w[10].p == reinterpret_cast<void *>(Callback) ? " callback" : "");
  broadcasts.push_back(line);
}

// In the session manager: puts go into the class's database and run the callbacks registered for
// them, here or through the broadcast function; a failed save reaches the caller.
TEST_F(Preferences, SessionManagerKeepsPreferencesAndRunsCallbacks) {
  setenv("NORIX_CFG_PATH", dir_.c_str(), 1);
  setenv("NORIX_PREFERENCES_PATH", (dir_ + "/missing").c_str(), 1); // a folder that is not there
  esmg_SessionCreate();
  esmg_SetSessionIsStarted(1);
  esmg_SetBroadcastProtocolFunc(Broadcast);
  Eerr_ErrorReport *err = nullptr;
  int calls = 0;
  Epmg_PreferenceCallbackRecord record{};
  record.className = const_cast<char *>("preferences");
  record.category = const_cast<char *>("zav");
  record.name = const_cast<char *>("units");
  record.callback = Callback;
  record.userData = &calls;
  esmg_AddPreferenceCallback(&record, &err);
  EXPECT_EQ(record.processId, getpid());
  Epmg_Preference units = Key("preferences", "zav", "units");
  units.valueType = EPMG_TYPE_STRING;
  units.value.string = const_cast<char *>("feet");
  esmg_PutPreference(&units, &err);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(calls, 1);
  Epmg_Preference read = Key("preferences", "zav", "units");
  esmg_GetPreference(&read, &err);
  EXPECT_EQ(err, nullptr);
  EXPECT_STREQ(read.value.string, "feet");
  emsc_HeapFree(read.value.string);

  Epmg_CallbackNode remote{4321, Callback, &calls, nullptr};
  Epmg_CallbackNode local{static_cast<int32_t>(getpid()), Callback, &calls, &remote};
  esmg_BroadCastPreferenceChange(&units, &local);
  EXPECT_EQ(calls, 2);
  esmg_RemovePreferenceCallback(&record, &err);
  esmg_PutPreference(&units, &err);
  EXPECT_EQ(calls, 2);

  // The preference files cannot be written: the reports are the caller's, and the applications
  // are told all the same.
  Epmg_Database *defaults = eprf_DefaultDatabaseGet(nullptr, &err);
  ASSERT_NE(defaults, nullptr);
  epmg_PutPreference(defaults, &units, &err);
  EXPECT_EQ(err, nullptr);
  esmg_SaveUserPreference(&err);
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(err->reporter, "esmg_SaveUserPreference");
  EXPECT_NE(err->next, nullptr);
  eerr_DeleteErrorReportEx(&err);
  esmg_SaveGlobalPreference(&err);
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(err->reporter, "esmg_SaveGlobalPreference");
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(broadcasts, (std::vector<std::string>{"17 4 0", "20 9 4321 feet callback", "21 0 0",
                                                  "22 0 0"}));
  esmg_SetSessionIsStarted(0);
}

// A batch run answers from the local preferences, device classes first.
TEST_F(Preferences, BatchRunReadsLocalPreferences) {
  setenv("TAVIRON_BATCH_RUN", "1", 1);
  setenv("NORIX_PREFERENCES_PATH", dir_.c_str(), 1);
  Write("preferences.prf", "zav/units = meters\n");
  Eerr_ErrorReport *err = nullptr;
  esmg_SessionConnect("batch", ESMG_CONNECT_JOB, &err);
  EXPECT_EQ(err, nullptr);
  char *units = epmg_GetStringPreference("zav", "units", nullptr, &err);
  EXPECT_STREQ(units, "meters");
  emsc_HeapFree(units);
  Epmg_Preference host = Key("cdroms", "cd0", "host");
  Epmg_Preference *pointer = &host;
  ecfg_PreferenceGet(&pointer, &err);
  EXPECT_EQ(err, nullptr);
  EXPECT_STREQ(host.value.string, ".");
  emsc_HeapFree(host.value.string);
}

} // namespace
