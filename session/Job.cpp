// A job as an object over the job calls.
#include "Job.h"

#include <string>

#include "eerr.h"
#include "emsc.h"
#include "esmg.h"
#include "esmg_session_internal.h"
#include "estr.h"

namespace {

std::string Narrow(const std::u16string &text) {
  char *narrow = estr_Unicode2Ascii(text.c_str());
  std::string out = narrow ? narrow : "";
  emsc_HeapFree(narrow);
  return out;
}

} // namespace

namespace NorixSession {

Job::Job(const std::u16string &name) {
  EerrException exception("Job", "Job::EsgmJob");
  esmg_JobInit(Narrow(name).c_str(), exception.Err());
  exception.Check(1);
}

Job::Job(const Job &) {}

Job &Job::operator=(const Job &) { return *this; }

Job::~Job() {
  try {
    EerrException exception("Job", "Job::~EsgmJob");
    esmg_JobEnd(exception.Err());
    exception.Log();
  } catch (...) {
    taviron::session::LogCaughtException("Job", "Job::~EsgmJob", 1);
  }
}

void Job::Progress(int32_t percent) {
  EerrException exception("Job", "Job::EsgmJob");
  esmg_JobProgress(percent, exception.Err());
  exception.Check(2);
}

void Job::State(const std::u16string &text) {
  EerrException exception("Job", "Job::EsgmJob");
  esmg_JobState(Narrow(text).c_str(), exception.Err());
  exception.Check(3);
}

} // namespace NorixSession
