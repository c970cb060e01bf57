// The session manager announces changed hierarchical files (protocol 36). Runs in its own
// process: the connection state is process-wide.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "taviron_testing.h"
#include "ehfa.h"
#include "emif.h"
#include "esmg.h"

namespace {

struct Seen {
  int32_t type, kind;
  std::string name;
  int32_t serial, process;
};
std::vector<Seen> seen;

void Record(Esmg_Protocol *record, int32_t kind, intptr_t) {
  seen.push_back({record->type, kind, record->w[2].s ? record->w[2].s : "", record->w[3].i,
                  record->w[4].i});
}

} // namespace

TEST(SessionFileChanged, TheManagerAnnouncesEveryCommittedChange) {
  esmg_SetBroadcastProtocolFunc(&Record);
  esmg_SetSessionManager();
  esmg_SetSessionIsStarted(1);

  const taviron::testing::TempDir dir("filechange_test");
  const std::string path = dir / "filechange_test.img";
  Eerr_ErrorReport *err = nullptr;
  Ehfa_File *file = ehfa_FileCreate(path.c_str(), nullptr, &err, 0);
  ASSERT_NE(file, nullptr) << (err ? err->message : "");
  Emif_Design *design = emif_DesignCreate(file->dictionary, "Counter", &err, 12, "count", 0);
  ASSERT_NE(design, nullptr);
  int32_t count = 7;
  ASSERT_NE(ehfa_ObjectWrite(file, ":", "Counter", "Counter", 3, &count, design, &err), nullptr);
  ehfa_FileClose(file, &err);
  EXPECT_EQ(err, nullptr);

  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back().type, 36);
  EXPECT_EQ(seen.back().kind, ESMG_DEST_SPREAD);
  EXPECT_EQ(seen.back().name, path);
  EXPECT_GE(seen.back().serial, 1);
}
