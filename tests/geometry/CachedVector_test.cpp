// The overflow store: word arrays in temporary files seen through two views, and the records
// packed into them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "CachedVector.h"
#include "taviron_testing.h"

namespace {

namespace fs = std::filesystem;

// Runs each test with the temporary directory in a folder of its own.
class CachedVectorTest : public ::testing::Test {
protected:
  void SetUp() override {
    const char *old = std::getenv("TMPDIR");
    if (old) saved_ = old, hadOld_ = true;
    setenv("TMPDIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    if (hadOld_) setenv("TMPDIR", saved_.c_str(), 1);
    else unsetenv("TMPDIR");
  }
  std::vector<fs::path> FilesInFolder() const {
    std::vector<fs::path> files;
    const fs::path folder = fs::path(dir_) / "CachedVector";
    if (fs::exists(folder))
      for (const auto &entry : fs::directory_iterator(folder)) files.push_back(entry.path());
    return files;
  }

  const taviron::testing::TempDir folder_{"cvtest"};
  const std::string dir_ = folder_.str();
  std::string saved_;
  bool hadOld_ = false;
};

TEST_F(CachedVectorTest, TwoViewsStayMapped) {
  CachedVector<int32_t> v(1);
  const int64_t per = v.elementsPerView();
  EXPECT_EQ(per, 65536 / 4);
  v.resize(3 * per, 0);
  struct Case {
    std::vector<int> views;
    int64_t mapped;
  } cases[] = {{{0, 1, 0, 1}, 2}, {{0, 1, 2, 0}, 4}, {{2, 2, 2}, 1}};
  for (const Case &c : cases) {
    v.unmapViews();
    const int64_t before = v.viewsMapped();
    for (int view : c.views) *v[view * per + 7] = view;
    EXPECT_EQ(v.viewsMapped() - before, c.mapped);
  }
  EXPECT_EQ(*v[7], 0);
  EXPECT_EQ(*v[per + 7], 1);
  EXPECT_EQ(*v[2 * per + 7], 2);
}

TEST_F(CachedVectorTest, ResizeGrowsByWholeViewsAndFillsNewElements) {
  CachedVector<int32_t> v;
  v.resize(1, 5);
  EXPECT_EQ(v.size(), 1);
  EXPECT_EQ(v.capacity(), v.elementsPerView());
  EXPECT_EQ(*v[0], 5);
  v.resize(10, 7);
  for (int i = 1; i < 10; ++i) EXPECT_EQ(*v[i], 7);
  // Shrinking lowers only the size; growing again writes the fill over what was there.
  v.resize(4, 0);
  v.resize(6, 9);
  EXPECT_EQ(*v[3], 7);
  EXPECT_EQ(*v[4], 9);
  EXPECT_EQ(*v[5], 9);
  v.resize(4, 0);
  v.resize(6, 0);
  EXPECT_EQ(*v[4], 0);
  // Growing past the mapping keeps the contents.
  v.resize(5 * v.elementsPerView() + 3, 1);
  EXPECT_EQ(*v[3], 7);
  EXPECT_EQ(*v[5 * v.elementsPerView() + 2], 1);
}

TEST_F(CachedVectorTest, FilesLeaveNoTraceInTheFolder) {
  {
    CachedRecordStore store;
    EXPECT_NE(store.data().fileName().find("/CachedVector/pvf"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(fs::path(dir_) / "CachedVector"));
    EXPECT_TRUE(FilesInFolder().empty());
  }
  EXPECT_TRUE(FilesInFolder().empty());
}

TEST_F(CachedVectorTest, UnusableFolderIsThrown) {
  setenv("TMPDIR", "/dev/null/none", 1);
  try {
    CachedVector<int32_t> v;
    FAIL() << "no exception";
  } catch (const std::runtime_error &e) {
    EXPECT_STREQ(e.what(), "CachedVector temporary file could not be created");
  }
}

TEST_F(CachedVectorTest, RecordsNeverCrossAChunk) {
  CachedRecordStore store;
  const int32_t chunk = store.chunkElements();
  EXPECT_EQ(chunk, 64 * 65536 / 4);
  std::vector<int32_t> words(chunk);
  for (int32_t i = 0; i < chunk; ++i) words[i] = i;

  store.beginRecord(100); // record 0
  store.append(words.data(), 100);
  store.beginRecord(chunk - 101); // fits: ends one word before the chunk
  store.append(words.data(), chunk - 101);
  store.beginRecord(1); // would fill the chunk: starts the next one
  store.append(words.data() + 5, 1);
  EXPECT_EQ(*store.starts()[0], 0);
  EXPECT_EQ(*store.starts()[1], 100);
  EXPECT_EQ(*store.starts()[2], chunk);
  EXPECT_EQ(*store.record(2), 5);
  EXPECT_EQ(store.record(1)[chunk - 102], chunk - 102);

  // A record of a whole chunk or more is refused; so are more words than begun.
  EXPECT_THROW(store.beginRecord(chunk), std::runtime_error);
  store.beginRecord(2);
  EXPECT_THROW(store.append(words.data(), 3), std::runtime_error);
}

TEST_F(CachedVectorTest, NumberedRecordsAcrossManyChunks) {
  CachedRecordStore store;
  store.beginRecord(0);
  store.beginRecord(0);
  // Record 5 on a store of 2 entries: entries 2, 3 and 4 have no record.
  const int32_t five[] = {55, 56};
  store.beginRecordAt(2, 5);
  store.append(five, 2);
  EXPECT_EQ(store.recordCount(), 6);
  for (int32_t r : {2, 3, 4, 6, -1}) EXPECT_EQ(store.record(r), nullptr) << r;
  EXPECT_EQ(store.record(5)[1], 56);

  // Records of every size, spread over several chunks and read back in alternating order.
  const int32_t chunk = store.chunkElements();
  std::vector<int32_t> words(chunk / 3);
  for (int32_t r = 10; r < 40; ++r) {
    const int32_t n = (r * 7919) % (chunk / 3);
    for (int32_t i = 0; i < n; ++i) words[i] = r * 1000 + i % 1000;
    store.beginRecordAt(n + 1, r);
    store.append(&n, 1);
    store.append(words.data(), n);
  }
  EXPECT_GT(store.data().size(), 3 * chunk);
  for (int32_t r = 10, s = 39; r < 40; ++r, --s)
    for (int32_t k : {r, s}) {
      const int32_t *record = store.record(k);
      const int32_t n = record[0];
      ASSERT_EQ(n, (k * 7919) % (chunk / 3));
      if (n > 0) {
        EXPECT_EQ(record[1], k * 1000);
        EXPECT_EQ(record[n], k * 1000 + (n - 1) % 1000);
      }
    }
  // Overwriting a number moves it to the new record.
  store.beginRecordAt(1, 5);
  const int32_t seven = 7;
  store.append(&seven, 1);
  EXPECT_EQ(*store.record(5), 7);
  store.removeRecord(5);
  EXPECT_EQ(store.record(5), nullptr);
}

} // namespace
