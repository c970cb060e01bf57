#include "eerr.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "taviron_testing.h"

using taviron::testing::CapturedOutput;

namespace {

Eerr_ErrorReport *Chain() {
  Eerr_ErrorReport *deep = eerr_CreateErrorReport("efio_Open", 3, EERR_FATAL, nullptr,
                                                  "Cannot open %s", "a.img", 0);
  return eerr_CreateErrorReport("eimg_LayerOpen", 12, EERR_FATAL, deep, nullptr);
}

} // namespace

TEST(EerrReport, CreateChainsAndFormats) {
  Eerr_ErrorReport *report = Chain();
  ASSERT_NE(report, nullptr);
  EXPECT_STREQ(report->reporter, "eimg_LayerOpen");
  EXPECT_EQ(report->code, 12);
  EXPECT_EQ(report->message, nullptr);
  ASSERT_NE(report->next, nullptr);
  EXPECT_STREQ(report->next->message, "Cannot open a.img");
  EXPECT_EQ(report->next->next, nullptr);
  eerr_DeleteErrorReportEx(&report);
  EXPECT_EQ(report, nullptr);
  eerr_DeleteErrorReportEx(&report);
  eerr_DeleteErrorReportEx(nullptr);
}

TEST(EerrReport, DuplicateIsDeepAndSurvivesTheOriginal) {
  Eerr_ErrorReport *original = Chain();
  Eerr_ErrorReport *copy = eerr_ErrorReportDuplicate(original);
  eerr_DeleteErrorReportEx(&original);
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy->reporter, "eimg_LayerOpen");
  EXPECT_STREQ(copy->next->reporter, "efio_Open");
  EXPECT_STREQ(copy->next->message, "Cannot open a.img");
  EXPECT_EQ(eerr_ErrorReportDuplicate(nullptr), nullptr);
  eerr_DeleteErrorReportEx(&copy);
}

TEST(EerrReport, PrintFormatsEachSeverity) {
  struct Case {
    int32_t severity;
    const char *message;
    const char *expected;
  } cases[] = {
      {EERR_FATAL, "Bad thing", "ERROR: #5 from f\nERROR: Bad thing\n"},
      {EERR_WARNING, "Careful", "WARNING: #5 from f\nWARNING: Careful\n"},
      {7, "Odd", "UNKNOWN: #5 from f\nUNKNOWN: Odd\n"},
      {EERR_MESSAGE, "Plain line", "Plain line\n"},
      {EERR_VERBOSE, "Chatter", "Chatter\n"},
      {EERR_FATAL, "100% literal %s", "ERROR: #5 from f\nERROR: 100% literal %s\n"},
  };
  for (const Case &c : cases) {
    Eerr_ErrorReport *r = eerr_CreateErrorReport("f", 5, c.severity, nullptr, "%s", c.message);
    CapturedOutput out;
    eerr_PrintErrorReport(r, 0, nullptr);
    EXPECT_EQ(out.Err(), c.expected) << c.severity;
    eerr_DeleteErrorReportEx(&r);
  }
}

TEST(EerrReport, ReportWithoutMessageNamesTheReporterBeneath) {
  Eerr_ErrorReport *r = Chain();
  CapturedOutput out;
  eerr_PrintErrorReport(r, 1, nullptr);
  EXPECT_EQ(out.Err(), "ERROR: #12 from eimg_LayerOpen\n"
                       "ERROR:  efio_Open failed\n"
                       "ERROR: #3 from efio_Open\n"
                       "ERROR: Cannot open a.img\n");
  EXPECT_NE(r, nullptr); // printing never deletes
  eerr_DeleteErrorReportEx(&r);
}

namespace {
int altCalls = 0;
void *altContext = nullptr;
void Alt(void *context, Eerr_ErrorReport *chain, void *, Eerr_ErrorReport **err) {
  ++altCalls;
  altContext = context;
  EXPECT_NE(chain, nullptr);
  // A report left in the slot is dropped by the printer.
  *err = eerr_CreateErrorReport("Alt", 1, EERR_FATAL, nullptr, "ignored");
}
} // namespace

TEST(EerrReport, AlternateErrorFunctionReceivesPrintsButNotNoZav) {
  Eerr_ErrorReport *r = Chain();
  int marker = 0;
  EXPECT_EQ(eerr_SetAltErrorFunction(&Alt), nullptr);
  {
    CapturedOutput out;
    eerr_PrintErrorReport(r, 1, &marker);
    EXPECT_EQ(altCalls, 1);
    EXPECT_EQ(altContext, &marker);
    EXPECT_EQ(out.Err(), "");
    eerr_PrintErrorReportNoZAV(r);
    EXPECT_EQ(altCalls, 1);
    EXPECT_NE(out.Err(), "");
  }
  EXPECT_EQ(eerr_SetAltErrorFunction(nullptr), &Alt);
  eerr_DeleteErrorReportEx(&r);
}

TEST(EerrReport, MessageLogWritesLinesAndHidesDiagnostics) {
  CapturedOutput out;
  eerr_MessageLog(0, "Empty Record %d", 4);
  eerr_MessageLog(-1, "Layer Info may be incorrect");
  EXPECT_EQ(out.Err(), "Empty Record 4\n");
}

TEST(EerrExceptionTest, CheckThrowsOnlyWithAReport) {
  EerrException e("eaoi", "eaoi_ReadAoiBboxFromFile");
  EXPECT_NO_THROW(e.Check(1));
  *e.Err() = eerr_CreateErrorReport("ehfa_FileOpen", 2, EERR_FATAL, nullptr, "No such file");
  try {
    e.Check(561);
    FAIL() << "Check did not throw";
  } catch (const EerrException &thrown) {
    ASSERT_NE(thrown.Report(), nullptr);
    EXPECT_STREQ(thrown.Report()->reporter, "eaoi_ReadAoiBboxFromFile");
    EXPECT_EQ(thrown.Report()->code, 561);
    EXPECT_STREQ(thrown.Report()->next->reporter, "ehfa_FileOpen");
    EXPECT_STREQ(thrown.what(), "No such file");
    EXPECT_STREQ(thrown.Source(), "eaoi");
  }
  EXPECT_EQ(e.Report(), nullptr); // the chain went with the thrown exception
}

TEST(EerrExceptionTest, ThrowChainsHeldReportAndCopiesAreDeep) {
  EerrException e("Job", "Job::EsgmJob");
  *e.Err() = eerr_CreateErrorReport("esmg_JobInit", 4, EERR_FATAL, nullptr, "No session");
  try {
    e.Throw(9, "Job failed");
  } catch (const std::exception &caught) {
    EXPECT_STREQ(caught.what(), "Job failed");
    const auto &ex = dynamic_cast<const EerrException &>(caught);
    EerrException copy(ex);
    EXPECT_NE(copy.Report(), ex.Report());
    EXPECT_STREQ(copy.Report()->next->message, "No session");
  }
}

TEST(EerrExceptionTest, LogPrintsAndDropsAssignTakesOver) {
  EerrException e("src", "fn");
  e.Assign(eerr_CreateErrorReport("inner", 1, EERR_WARNING, nullptr, "kept"));
  e.Assign(eerr_CreateErrorReport("inner", 2, EERR_WARNING, nullptr, "replaced"));
  CapturedOutput out;
  e.Log();
  EXPECT_EQ(out.Err(), "WARNING: #2 from inner\nWARNING: replaced\n");
  EXPECT_EQ(e.Report(), nullptr);
}
