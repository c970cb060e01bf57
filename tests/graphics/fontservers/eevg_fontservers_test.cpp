// Font servers from first load to the end of the process. The server list, its instances and the
// DLLs dropped from it are process-wide and made once, so this program holds one test that walks
// through them in order.
#include <dlfcn.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "eevg.h"
#include "eevg_fontserver.h"
#include "graphics_testing.h"
#include "taviron_testing.h"

namespace {

using taviron::testing::Chain;
using taviron::testing::Reported;
using taviron::testing::ErrorSlot;

// A counter of a test server, read from the loaded server itself.
int32_t Counter(const char *server, const char *name) {
  const std::string path = std::string(TAVIRON_TEST_GOOD_SERVERS) + "/" + server;
  void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!handle) return -1;
  auto *counter = reinterpret_cast<int32_t (*)()>(dlsym(handle, name));
  const int32_t value = counter ? counter() : -1;
  dlclose(handle);
  return value;
}

// The reports of a chain as "severity reporter #code: message" lines.
std::vector<std::string> Lines(const Eerr_ErrorReport *report) {
  std::vector<std::string> lines;
  for (; report; report = report->next)
    lines.push_back(std::to_string(report->severity) + " " + report->reporter + " #" +
                    std::to_string(report->code) + ": " + (report->message ? report->message : ""));
  return lines;
}

TEST(FontServers, FromFirstLoadToFree) {
  setenv("NORIX_FONT_PATH", TAVIRON_TEST_DATA_DIR, 1);
  setenv("NORIX_FONT_SERVERS_PATH", TAVIRON_TEST_GOOD_SERVERS ":" TAVIRON_TEST_FAULTY_SERVERS, 1);
  const std::string faulty = TAVIRON_TEST_FAULTY_SERVERS;
  std::vector<uint8_t> table(3 * EEVG_LOADED_FONT_SIZE);
  int32_t used = 0;
  ErrorSlot err;

  // The first load reads the font data base, lists the servers and opens the first one. Memory
  // running out anywhere on the way fails that load with a report and loses nothing: the next
  // load tries again, until one succeeds.
  int32_t first = -1;
  taviron::testing::SweepAllocationFailures(
      [&](Eerr_ErrorReport **e) { return (first = eevg_TextFontGet("box", table.data(), &used, 3, e)) >= 0; },
      {.limit = 1000, .steadyHeap = false});
  EXPECT_EQ(first, 0);
  EXPECT_EQ(used, 1);

  // "special" comes before the faulty folder: no warning.
  EXPECT_EQ(eevg_TextFontGet("special", table.data(), &used, 3, &err), 1);
  EXPECT_EQ(err.get(), nullptr) << Chain(err.get());

  // The servers are opened in path order (the directories in turn, names sorted) up to the one
  // whose title matches "spare" ignoring case; the DLL that is no shared object and the one
  // without TextDescentGet are dropped with warnings that stay although the font loads.
  {
    taviron::testing::CapturedOutput output;
    EXPECT_EQ(eevg_TextFontGet("spare", table.data(), &used, 3, &err), 2);
    EXPECT_EQ(Lines(err.get()),
              (std::vector<std::string>{
                  "1 eevg_TextFontGet #3: Unable to open DLL instance " + faulty +
                      "/no_descent_server.so, the DLL doesn't appear to be a valid FontServer.",
                  "1 eevg_TextFontGet #3: Unable to open DLL instance " + faulty +
                      "/broken.so, the DLL doesn't appear to be a valid FontServer."}));
    EXPECT_NE(output.Err().find("TextDescentGet missing from no_descent_server.so:  DLL ignored"),
              std::string::npos)
        << output.Err();
  }
  EXPECT_EQ(used, 3);
  const auto *slots = reinterpret_cast<const Eevg_LoadedFont *>(table.data());
  EXPECT_EQ(std::string(slots[1].fileName), "special");
  Eevg_FontServer *special = taviron::graphics::FontServerOf(&slots[1]);
  ASSERT_NE(special, nullptr);
  EXPECT_STREQ(special->instanceName, "special_server.so");
  EXPECT_EQ(special->dllFileName, std::string(TAVIRON_TEST_GOOD_SERVERS) + "/special_server.so");
  ASSERT_EQ(special->titleCount, 1);
  EXPECT_STREQ(special->titles[0], "Special");
  EXPECT_NE(special->textRenderSpecial, nullptr);

  // The same name again is the same slot, and the server is not asked again.
  const int32_t gets = Counter("special_server.so", "BoxFontGetCount");
  EXPECT_EQ(eevg_TextFontGet("special", table.data(), &used, 3, &err), 1);
  EXPECT_EQ(err.get(), nullptr) << Chain(err.get());
  EXPECT_EQ(Counter("special_server.so", "BoxFontGetCount"), gets);

  // "BOX" is served by the server titled "Box", which has neither optional entry.
  Eevg_FontServer *box = taviron::graphics::FontServerOf(&slots[0]);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->textCharSideSpaceGet, nullptr);
  EXPECT_EQ(box->textRenderSpecial, nullptr);

  // A full table refuses a new font and still gives the loaded ones.
  EXPECT_EQ(eevg_TextFontGet("refused", table.data(), &used, 3, &err), -1);
  EXPECT_TRUE(Reported(err.get(), "eevg_TextFontGet", 1, "No room for more fonts in font table"));
  EXPECT_EQ(eevg_TextFontGet("box", table.data(), &used, 3, &err), 0);
  EXPECT_EQ(used, 3);

  // With room: a font its server refuses, a server nobody answers to, a name not in the data
  // base. The dropped DLLs are not tried again.
  std::vector<uint8_t> large(4 * EEVG_LOADED_FONT_SIZE);
  int32_t largeUsed = 0;
  EXPECT_EQ(eevg_TextFontGet("refused", large.data(), &largeUsed, 4, &err), -2);
  EXPECT_EQ(Lines(err.get()), (std::vector<std::string>{
                                   "2 eevg_TextFontGet #5: Error returned from fontGet for refused",
                                   "2 TextFontGet #1: No such font refused"}));
  EXPECT_EQ(eevg_TextFontGet("unserved", large.data(), &largeUsed, 4, &err), -2);
  EXPECT_EQ(Lines(err.get()),
            (std::vector<std::string>{"2 eevg_TextFontGet #4: Unrecognized font server Nobody"}));
  EXPECT_EQ(eevg_TextFontGet("missing", large.data(), &largeUsed, 4, &err), -1);
  EXPECT_TRUE(Reported(err.get(), "eevg_TextFontGet", 2,
                       "Font file name missing not found in font data base"))
      << Chain(err.get());
  EXPECT_EQ(largeUsed, 0);
  EXPECT_EQ(eevg_TextFontGet(nullptr, large.data(), &largeUsed, 4, &err), -1);
  EXPECT_TRUE(Reported(err.get(), "eevg_TextFontGet", 6, "Invalid font table or font file name"));

  // Freeing hands the slot's handle to its server; the slot stays.
  const int32_t frees = Counter("box_server.so", "BoxFontFreeCount");
  eevg_TextFontFree(table.data());
  eevg_TextFontFree(nullptr);
  EXPECT_EQ(Counter("box_server.so", "BoxFontFreeCount"), frees + 1);
  EXPECT_EQ(Counter("box_server.so", "BoxLastFreed"), slots[0].handle);
  EXPECT_EQ(eevg_TextFontGet("box", table.data(), &used, 3, &err), 0);
}

} // namespace
