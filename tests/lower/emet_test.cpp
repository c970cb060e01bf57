#include "emet.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "taviron_testing.h"

namespace {

// Records every slot call as text: "slot word data [argument]".
struct Recorder {
  std::vector<std::string> calls;
  int32_t cancelAnswer = 0;
  bool failTaskName = false, failPrint = false, failCancel = false;
};

Recorder *recorder = nullptr;

std::string Word(const void *word) { return word ? "meter" : "null"; }
std::string Data(const void *data) { return data == recorder ? "data" : "other"; }

void Start(void *word, void *data) { recorder->calls.push_back("0 " + Word(word) + " " + Data(data)); }
void TaskName(void *word, void *data, const char *text, Eerr_ErrorReport **err) {
  recorder->calls.push_back("1 " + Word(word) + " " + Data(data) + " " + text);
  if (recorder->failTaskName)
    *err = eerr_CreateErrorReport("TaskName", 7, EERR_FATAL, nullptr, "no window", 0);
}
int32_t CancelQuery(void *word, void *data, Eerr_ErrorReport **err) {
  recorder->calls.push_back("2 " + Word(word) + " " + Data(data));
  if (recorder->failCancel)
    *err = eerr_CreateErrorReport("CancelQuery", 7, EERR_FATAL, nullptr, "lost", 0);
  return recorder->cancelAnswer;
}
void Print(Emet_MeterInfo *meter, void *data, double percent, Eerr_ErrorReport **err) {
  // Maps the percentage onto the meter's range, as the session's progress function does.
  const double value = meter->start + (meter->end - meter->start) * percent / 100.0;
  meter->lastValue = static_cast<int32_t>(std::lround(value));
  recorder->calls.push_back("3 " + Data(data) + " " + std::to_string(meter->lastValue));
  if (recorder->failPrint)
    *err = eerr_CreateErrorReport("Print", 7, EERR_FATAL, nullptr, "pipe closed", 0);
}
void Spare(void *, void *) { recorder->calls.push_back("spare"); }
void ClearCancel(void *, void *, Eerr_ErrorReport **) { recorder->calls.push_back("6"); }

const Emet_MeterFuncs kTable = {Start, TaskName, CancelQuery, Print, Spare, Spare, ClearCancel};

class EmetMeter : public ::testing::Test {
protected:
  void SetUp() override {
    recorder = &record;
    emet_SetAltMeterFuncs(&kTable, &record, nullptr);
  }
  void TearDown() override {
    emet_SetAltMeterFuncs(nullptr, nullptr, nullptr);
    recorder = nullptr;
  }
  Recorder record;
  Emet_MeterInfo meter{};
  Eerr_ErrorReport *err = nullptr;
};

} // namespace

TEST(EmetNoTable, PrintsNothingAndNeverCancels) {
  taviron::testing::CapturedOutput output;
  Emet_MeterInfo meter{};
  Eerr_ErrorReport *err = nullptr;
  emet_MeterInfoSet(&meter, 0.0, 100.0, &err);
  emet_MeterInfoChangeTaskName(&meter, "Computing", &err);
  EXPECT_EQ(err, nullptr);
  emet_MeterInfoPrint(&meter, 50.0, &err);
  EXPECT_EQ(err, nullptr);
  emet_MeterUpdate(&meter, &err);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(emet_MeterCancelQuery(nullptr, nullptr), 0);
  EXPECT_EQ(emet_MeterCancelQuery(&meter, &err), 0);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(output.Out(), "");
  EXPECT_EQ(output.Err(), "");
  EXPECT_EQ(meter.start, 0.0);
  EXPECT_EQ(meter.end, 100.0);
}

TEST_F(EmetMeter, SlotsAreCalledInOrderAndStartOnlyAtFirstUse) {
  emet_MeterInfoSet(&meter, 0.0, 200.0, &err);
  EXPECT_TRUE(record.calls.empty()); // setting the range alone shows nothing
  emet_MeterInfoChangeTaskName(&meter, "Growing the Region", &err);
  emet_MeterInfoPrint(&meter, 10.0, &err);
  emet_MeterInfoPrint(&meter, 25.0, &err);
  emet_MeterUpdate(&meter, &err);
  EXPECT_EQ(emet_MeterCancelQuery(nullptr, nullptr), 0);
  record.cancelAnswer = 1;
  EXPECT_EQ(emet_MeterCancelQuery(&meter, &err), 1);
  EXPECT_EQ(err, nullptr);
  const std::vector<std::string> expected = {
      "0 meter data", "1 meter data Growing the Region", "3 data 20", "3 data 50",
      "3 data 50",    "2 null data",                     "2 meter data"};
  EXPECT_EQ(record.calls, expected);
  EXPECT_EQ(meter.lastValue, 50);
}

TEST_F(EmetMeter, EveryMeterStartsOnceAndAgainAfterANewInstallation) {
  Emet_MeterInfo other{};
  emet_MeterInfoSet(&other, 0.0, 100.0, &err);
  emet_MeterInfoSet(&meter, 0.0, 100.0, &err);
  emet_MeterInfoPrint(&meter, 1.0, &err);
  emet_MeterInfoPrint(&other, 2.0, &err);
  emet_MeterInfoPrint(&meter, 3.0, &err);
  emet_SetAltMeterFuncsExt(&kTable, &record, 1, &err);
  EXPECT_EQ(err, nullptr);
  emet_MeterInfoPrint(&meter, 4.0, &err);
  const std::vector<std::string> expected = {"0 meter data", "3 data 1", "0 meter data",
                                             "3 data 2",     "3 data 3", "0 meter data",
                                             "3 data 4"};
  EXPECT_EQ(record.calls, expected);
}

TEST_F(EmetMeter, RemovingTheTableSilencesMeters) {
  emet_MeterInfoPrint(&meter, 5.0, &err);
  emet_SetAltMeterFuncs(nullptr, &record, &err);
  record.calls.clear();
  record.cancelAnswer = 1;
  emet_MeterInfoPrint(&meter, 6.0, &err);
  emet_MeterInfoChangeTaskName(&meter, "x", &err);
  EXPECT_EQ(emet_MeterCancelQuery(&meter, &err), 0);
  EXPECT_TRUE(record.calls.empty());
}

TEST_F(EmetMeter, ANullMeterShowsNothingButCanBeAskedToCancel) {
  record.cancelAnswer = 1;
  emet_MeterInfoSet(nullptr, 0.0, 100.0, &err);
  emet_MeterInfoChangeTaskName(nullptr, "x", &err);
  emet_MeterInfoPrint(nullptr, 50.0, &err);
  emet_MeterUpdate(nullptr, &err);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(emet_MeterCancelQuery(nullptr, nullptr), 1);
  EXPECT_EQ(record.calls, std::vector<std::string>{"2 null data"});
}

TEST_F(EmetMeter, EmptySlotsAreSkippedAndTheTableIsCopied) {
  Emet_MeterFuncs table = {nullptr, nullptr, nullptr, Print, nullptr, nullptr, nullptr};
  emet_SetAltMeterFuncs(&table, &record, &err);
  table.print = nullptr; // the layer keeps its own copy
  emet_MeterInfoChangeTaskName(&meter, "x", &err);
  emet_MeterInfoPrint(&meter, 30.0, &err);
  EXPECT_EQ(emet_MeterCancelQuery(&meter, &err), 0);
  EXPECT_EQ(record.calls, std::vector<std::string>{"3 data 0"}); // range 0..0
}

TEST_F(EmetMeter, SlotReportsAreChainedUnderTheCallersReport) {
  record.failTaskName = record.failPrint = record.failCancel = true;
  struct Case {
    const char *reporter;
    int32_t code;
    void (*call)(Emet_MeterInfo *, Eerr_ErrorReport **);
  };
  const Case cases[] = {
      {"emet_MeterInfoChangeTaskName", 1,
       [](Emet_MeterInfo *m, Eerr_ErrorReport **e) { emet_MeterInfoChangeTaskName(m, "t", e); }},
      {"emet_MeterInfoPrint", 2,
       [](Emet_MeterInfo *m, Eerr_ErrorReport **e) { emet_MeterInfoPrint(m, 1.0, e); }},
      {"emet_MeterUpdate", 1, [](Emet_MeterInfo *m, Eerr_ErrorReport **e) { emet_MeterUpdate(m, e); }},
      {"emet_MeterCancelQuery", 1,
       [](Emet_MeterInfo *m, Eerr_ErrorReport **e) { emet_MeterCancelQuery(m, e); }},
  };
  const int64_t live = emsc_TestLiveBlocks();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.reporter);
    err = nullptr;
    c.call(&meter, &err);
    ASSERT_NE(err, nullptr);
    EXPECT_STREQ(err->reporter, c.reporter);
    EXPECT_EQ(err->code, c.code);
    EXPECT_EQ(err->severity, EERR_FATAL);
    ASSERT_NE(err->next, nullptr);
    EXPECT_EQ(err->next->code, 7);
    eerr_DeleteErrorReportEx(&err);
    c.call(&meter, nullptr); // a null slot drops the report without a leak
  }
  EXPECT_EQ(emsc_TestLiveBlocks(), live);
}

TEST_F(EmetMeter, ValuesThatAreNotFiniteAreRefused) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  emet_MeterInfoSet(&meter, 10.0, 20.0, &err);
  const double ranges[][2] = {{nan, 1.0}, {0.0, inf}, {-inf, 0.0}};
  for (const auto &range : ranges) {
    emet_MeterInfoSet(&meter, range[0], range[1], &err);
    ASSERT_NE(err, nullptr);
    EXPECT_STREQ(err->reporter, "emet_MeterInfoSet");
    eerr_DeleteErrorReportEx(&err);
  }
  EXPECT_EQ(meter.start, 10.0);
  EXPECT_EQ(meter.end, 20.0);
  for (double percent : {nan, inf, -inf}) {
    emet_MeterInfoPrint(&meter, percent, &err);
    ASSERT_NE(err, nullptr);
    EXPECT_STREQ(err->reporter, "emet_MeterInfoPrint");
    EXPECT_EQ(err->code, 1);
    eerr_DeleteErrorReportEx(&err);
  }
  EXPECT_TRUE(record.calls.empty());
}

namespace {
Emet_MeterInfo *nestedMeter = nullptr;
void NestedPrint(Emet_MeterInfo *, void *, double percent, Eerr_ErrorReport **) {
  recorder->calls.push_back("nested " + std::to_string(static_cast<int>(percent)));
  if (percent > 0.0) {
    // A slot may use meters and swap the table without deadlocking the layer.
    emet_MeterInfoPrint(nestedMeter, 0.0, nullptr);
    emet_SetAltMeterFuncs(&kTable, recorder, nullptr);
  }
}
} // namespace

TEST_F(EmetMeter, ASlotMayUseMetersAndInstallATable) {
  const Emet_MeterFuncs table = {nullptr, nullptr, nullptr, NestedPrint, nullptr, nullptr, nullptr};
  emet_SetAltMeterFuncs(&table, &record, &err);
  Emet_MeterInfo inner{};
  nestedMeter = &inner;
  emet_MeterInfoPrint(&meter, 40.0, &err);
  emet_MeterInfoPrint(&meter, 100.0, &err);
  const std::vector<std::string> expected = {"nested 40", "nested 0", "0 meter data", "3 data 0"};
  EXPECT_EQ(record.calls, expected);
}

namespace {
// Each table's data is its own identity: a slot that sees another table's data was torn.
std::atomic<int> mismatches{0};
std::atomic<int> printed{0};
int dataA, dataB;
void PrintA(Emet_MeterInfo *, void *data, double, Eerr_ErrorReport **) {
  if (data != &dataA) ++mismatches;
  ++printed;
}
void PrintB(Emet_MeterInfo *, void *data, double, Eerr_ErrorReport **) {
  if (data != &dataB) ++mismatches;
  ++printed;
}
} // namespace

TEST(EmetThreads, SwappingTablesWhileMetersPrintNeverMixesTableAndData) {
  const Emet_MeterFuncs a = {nullptr, nullptr, nullptr, PrintA, nullptr, nullptr, nullptr};
  const Emet_MeterFuncs b = {nullptr, nullptr, nullptr, PrintB, nullptr, nullptr, nullptr};
  mismatches = 0;
  printed = 0;
  emet_SetAltMeterFuncs(&a, &dataA, nullptr);
  std::atomic<bool> stop{false};
  std::thread swapper([&] {
    for (int i = 0; i < 20000 && !stop; ++i)
      emet_SetAltMeterFuncs(i % 2 ? &a : &b, i % 2 ? &dataA : &dataB, nullptr);
  });
  std::vector<std::thread> printers;
  for (int t = 0; t < 3; ++t) {
    printers.emplace_back([] {
      Emet_MeterInfo meter{};
      for (int i = 0; i < 20000; ++i) emet_MeterInfoPrint(&meter, i % 100, nullptr);
    });
  }
  for (auto &p : printers) p.join();
  stop = true;
  swapper.join();
  emet_SetAltMeterFuncs(nullptr, nullptr, nullptr);
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(printed.load(), 60000);
}
