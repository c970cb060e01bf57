// Jobs, progress meters, the interrupt, the session listener and the listener plug-ins, against
// the test session manager in another process.
#include "esmg.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "esmg_metering_internal.h"
#include "ordinary_user.h"
#include "session_fixture.h"
#include "EthrMutex.h"
#include "Job.h"
#include "SessionListener.h"
#include "emet.h"
#include "ewin.h"
#include "taviron_testing.h"

namespace {

class Jobs : public taviron::testing::SessionFixture {
protected:
  void TearDown() override {
    unsetenv("NORIX_PROGRESS_CONFIG");
    unsetenv("TAVIRON_BATCH_RUN");
    SessionFixture::TearDown();
  }
  void Init(const char *name) {
    Eerr_ErrorReport *err = nullptr;
    esmg_JobInit(name, &err);
    EXPECT_EQ(err, nullptr);
    eerr_DeleteErrorReportEx(&err);
  }
  std::string Write(const std::string &name, const std::string &text) const {
    const std::string file = dir_ + "/" + name;
    std::ofstream(file) << text;
    return file;
  }
  static std::vector<std::string> FileLines(const std::string &file) {
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
};

// A listener of this process that notes what it follows.
class Recorder : public ProgressReporting::Listener {
public:
  explicit Recorder(std::shared_ptr<std::vector<std::string>> calls) : calls_(std::move(calls)) {}
  void Begin(int32_t) override { calls_->push_back("Begin"); }
  void CancelQuery(bool &, int32_t) override {}
  void ReportProgress(double progress, int32_t) override {
    calls_->push_back("Progress " + std::to_string(static_cast<int>(progress)));
  }
  void ReportHeartbeat(int32_t) override { calls_->push_back("Heartbeat"); }
  void TaskName(const std::u16string &name, int32_t) override {
    calls_->push_back("Task " + std::string(name.begin(), name.end()));
  }
  void ProgressInterval(double, double, int32_t) override {}
  void End(int32_t) override { calls_->push_back("End"); }

private:
  std::shared_ptr<std::vector<std::string>> calls_;
};

TEST_F(Jobs, JobWithoutSessionManagerBecomesABatchRun) {
  taviron::testing::CapturedOutput output;
  Init("alone");
  EXPECT_STREQ(getenv("TAVIRON_BATCH_RUN"), "1");
  EXPECT_EQ(esmg_SessionIsStarted(), 0);
  EXPECT_EQ(output.Err(), ""); // no session manager is looked for with a message box
  Eerr_ErrorReport *err = nullptr;
  esmg_JobProgress(5, &err);
  esmg_JobEnd(&err);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(esmg_IsJob(), 0);
}

TEST_F(Jobs, JobAnnouncesItselfReportsAndSaysFarewell) {
  StartManager({});
  Init("the job");
  ASSERT_EQ(esmg_SessionIsStarted(), 1);
  EXPECT_EQ(getenv("TAVIRON_BATCH_RUN"), nullptr);
  Eerr_ErrorReport *err = nullptr;
  esmg_JobState("working", &err);
  esmg_JobProgress(42, &err);
  esmg_JobEnd(&err);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(esmg_SessionIsStarted(), 0);
  esmg_JobProgress(43, &err); // the session has ended: nothing
  EXPECT_EQ(Await([](const std::string &l) { return l.rfind("CONNECT", 0) == 0; }),
            "CONNECT " + std::to_string(getpid()) + " 2 0 the job");
  std::vector<Esmg_Protocol *> posts = Settled("POST");
  ASSERT_EQ(Types(posts), (std::vector<int32_t>{10, 11, 12, 13}));
  EXPECT_STREQ(posts[0]->w[2].s, "the job");
  EXPECT_STREQ(posts[1]->w[2].s, "working");
  EXPECT_EQ(posts[2]->w[2].i, 42);
  Free(posts);
}

// The default meter rounds the meter's value to a whole number and sends it when it changes.
TEST_F(Jobs, DefaultMeterSendsEachWholeValueOnce) {
  StartManager({});
  Init("metered");
  Eerr_ErrorReport *err = nullptr;
  Emet_MeterInfo meter{};
  emet_MeterInfoSet(&meter, 0, 100, &err);
  for (double percent : {10.2, 10.4, 55.5}) emet_MeterInfoPrint(&meter, percent, &err);
  emet_MeterInfoChangeTaskName(&meter, "copying", &err);
  EXPECT_EQ(emet_MeterCancelQuery(&meter, &err), 0);
  Emet_MeterInfo scaled{};
  emet_MeterInfoSet(&scaled, 200, 300, &err);
  emet_MeterInfoPrint(&scaled, 12.5, &err); // 212.5, half away from zero
  EXPECT_EQ(err, nullptr);
  std::vector<Esmg_Protocol *> posts = Settled("POST");
  ASSERT_EQ(Types(posts), (std::vector<int32_t>{10, 12, 12, 11, 12}));
  EXPECT_EQ(posts[1]->w[2].i, 10);
  EXPECT_EQ(posts[2]->w[2].i, 56);
  EXPECT_STREQ(posts[3]->w[2].s, "copying");
  EXPECT_EQ(posts[4]->w[2].i, 213);
  Free(posts);
}

// A user interrupt seen by the default meter ends the job with exit code 1, through the exit
// handlers (the farewell of the connection).
TEST_F(Jobs, InterruptSeenByTheMeterEndsTheJobWithCode1) {
  StartManager({});
  pid_t child = ClientProcess([] {
    esmg_JobInit("doomed", nullptr);
    esmg_InterruptSet();
    Emet_MeterInfo meter{};
    emet_MeterInfoSet(&meter, 0, 100, nullptr);
    emet_MeterInfoPrint(&meter, 50, nullptr);
    return 0;
  });
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  std::vector<Esmg_Protocol *> posts = Received("POST", 2);
  EXPECT_EQ(Types(posts), (std::vector<int32_t>{10, 35}));
  Free(posts);
}

// The cancel message is looked for at most every 1500 ms; the flag it sets stays until cleared.
TEST_F(Jobs, CancelMessageIsLookedForAtMostEveryPollAndSticks) {
  const uint32_t cancel = ewin_RegisterWindowMessage("NORIX_APP_CANCEL");
  ASSERT_NE(ewin_PostMessage(0, cancel, 0, 0), 0);
  EXPECT_EQ(esmg_InterruptQuery(), 1);
  ASSERT_NE(ewin_PostMessage(0, cancel, 0, 0), 0);
  EXPECT_EQ(esmg_InterruptQuery(), 1); // set: a second message does not clear it
  esmg_InterruptClear();
  EXPECT_EQ(esmg_InterruptQuery(), 0); // the message waits for the next poll
  usleep(1000 * 1000);
  EXPECT_EQ(esmg_InterruptQuery(), 0);
  usleep(700 * 1000);
  EXPECT_EQ(esmg_InterruptQuery(), 1);
  taviron::testing::CapturedOutput output;
  esmg_SessionConnect("after", ESMG_CONNECT_APPLICATION, nullptr); // connecting clears it
  EXPECT_EQ(esmg_InterruptQuery(), 0);
}

TEST_F(Jobs, ProgressReportingTableDrivesTheLibrarysMeter) {
  auto calls = std::make_shared<std::vector<std::string>>();
  ProgressReporting::ProgressMeterFactory::Listen(std::make_shared<Recorder>(calls), 0);
  Eerr_ErrorReport *err = nullptr;
  emet_SetAltMeterFuncs(ProgressReportingMeterFuncs(), ProgressReportingMeterData(), &err);
  Emet_MeterInfo meter{};
  emet_MeterInfoSet(&meter, 0, 0, &err);
  emet_MeterInfoPrint(&meter, 30, &err); // a range of 0 to 0: a heartbeat
  emet_MeterInfoSet(&meter, 10, 50, &err);
  emet_MeterInfoPrint(&meter, 25, &err);
  emet_MeterInfoChangeTaskName(&meter, "sorting", &err);
  EXPECT_EQ(emet_MeterCancelQuery(&meter, &err), 0);
  Esmg_ProgressMeterData *data = ProgressReportingMeterData();
  {
    EthrMutex guard(data->mutex);
    data->cancel = true; // as the library would set it
  }
  EXPECT_EQ(emet_MeterCancelQuery(&meter, &err), 1);
  ProgressReportingMeterFuncs()->clearCancel(&meter, data, &err);
  EXPECT_EQ(emet_MeterCancelQuery(&meter, &err), 0);
  Emet_MeterInfo second{};
  emet_MeterInfoSet(&second, 0, 100, &err);
  emet_MeterInfoPrint(&second, 5, &err); // a new meter: the old one ends
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(*calls, (std::vector<std::string>{"Begin", "Heartbeat", "Progress 20", "Task sorting",
                                              "End", "Begin", "Progress 5"}));
  emet_SetAltMeterFuncs(nullptr, nullptr, &err);
}

TEST_F(Jobs, SessionListenerReportsWholeStepsOfItsInterval) {
  StartManager({});
  Init("listened");
  std::unique_ptr<qorv::plugin::IPlugin> plugin(SessionListenerPluginGet());
  ASSERT_NE(plugin, nullptr);
  EXPECT_EQ(plugin->Name(), u"SessionListener");
  EXPECT_EQ(plugin->Description(), u"Provides Metering with the TAVIRON Session Manager");
  EXPECT_EQ(plugin->Vendor(), u"NORIX");
  EXPECT_EQ(plugin->Version(), u"9.4.0");
  std::unique_ptr<ProgressReporting::Listener> listener(
      static_cast<ProgressReporting::IListener *>(plugin.get())->CreateListener());
  ASSERT_NE(listener, nullptr);
  EXPECT_EQ(static_cast<Esmg::SessionListener *>(listener.get())->Name(), u"SessionMeter");
  listener->Begin(0);
  listener->ProgressInterval(20, 40, 0);
  listener->ReportProgress(50, 0);   // 30 in the interval: reported as 50
  listener->ReportProgress(50.4, 0); // still 30: nothing
  listener->TaskName(u"phase two", 0);
  listener->ReportHeartbeat(0);
  listener->End(0);
  bool cancel = false;
  listener->CancelQuery(cancel, 0);
  EXPECT_FALSE(cancel);
  esmg_InterruptSet();
  listener->CancelQuery(cancel, 0);
  EXPECT_TRUE(cancel);
  EXPECT_EQ(esmg_InterruptQuery(), 0); // cleared by the query
  std::vector<Esmg_Protocol *> posts = Settled("POST");
  ASSERT_EQ(Types(posts), (std::vector<int32_t>{10, 12, 11, 12, 12}));
  EXPECT_EQ(posts[1]->w[2].i, 50);
  EXPECT_STREQ(posts[2]->w[2].s, "phase two");
  EXPECT_EQ(posts[3]->w[2].i, 0);
  EXPECT_EQ(posts[4]->w[2].i, 40);
  Free(posts);
}

TEST_F(Jobs, InABatchRunTheListenerIgnoresProgressAndInterrupts) {
  setenv("TAVIRON_BATCH_RUN", "1", 1);
  Esmg::ISessionListener plugin;
  std::unique_ptr<ProgressReporting::Listener> listener(plugin.CreateListener());
  listener->Begin(0);
  esmg_InterruptSet();
  listener->ReportProgress(70, 0); // the process goes on
  EXPECT_EQ(esmg_InterruptQuery(), 1);
  esmg_InterruptClear();
}

TEST_F(Jobs, TheLibraryOffersOneListenerPlugin) {
  std::vector<std::u16string> names;
  GetAvailablePluginsOfType(u"ProgressReportingListener", names);
  EXPECT_EQ(names, std::vector<std::u16string>{u"SessionListenerPlugin"});
  GetAvailablePluginsOfType(u"FontServers", names);
  EXPECT_EQ(names.size(), 1u);
}

// A job object and a copy of it: the job starts once and ends once.
TEST_F(Jobs, JobObjectStartsAndEndsTheJob) {
  StartManager({});
  {
    NorixSession::Job job(u"object job");
    job.State(u"half way");
    job.Progress(50);
    NorixSession::Job copy(job);
    copy = job;
  }
  EXPECT_EQ(esmg_SessionIsStarted(), 0);
  std::vector<Esmg_Protocol *> posts = Settled("POST");
  ASSERT_EQ(Types(posts), (std::vector<int32_t>{10, 11, 12, 13}));
  EXPECT_STREQ(posts[0]->w[2].s, "object job");
  EXPECT_STREQ(posts[1]->w[2].s, "half way");
  Free(posts);
}

// The configuration file names the second of two listener plug-ins of a shared object built by
// the tests, on a search path given through a variable; the job's meters reach its listener.
TEST_F(Jobs, ListenerPluginOfTheConfigurationFollowsTheJob) {
  setenv("TEST_LISTENERS", TAVIRON_TEST_LISTENERS_DIR, 1);
  setenv("NORIX_PROGRESS_CONFIG",
         Write("ProgressReportingConfig.xml",
               "<?xml version=\"1.0\"?>\n"
               "<ProgressReporting name=\"SecondListener\" path=\"$TEST_LISTENERS\"/>\n")
             .c_str(),
         1);
  const std::string record = dir_ + "/listener";
  setenv("TAVIRON_TEST_LISTENER_RECORD", record.c_str(), 1);
  StartManager({});
  Init("with listener");
  Eerr_ErrorReport *err = nullptr;
  Emet_MeterInfo meter{};
  emet_MeterInfoSet(&meter, 0, 100, &err);
  emet_MeterInfoPrint(&meter, 40, &err);
  emet_MeterInfoChangeTaskName(&meter, "step", &err);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(FileLines(record),
            (std::vector<std::string>{"SecondListener Begin", "SecondListener Progress 40",
                                      "SecondListener Task step"}));
  std::vector<Esmg_Protocol *> posts = Settled("POST");
  EXPECT_EQ(Types(posts), std::vector<int32_t>{10}); // the default meter is not installed
  Free(posts);
}

// Files that install no listener: missing, not XML, a root without "path", a plug-in that the
// path does not offer, entities that would expand without end, a directory. None of them crashes
// or changes the meters; those that cannot be read are told as a warning.
TEST_F(Jobs, ConfigurationsThatInstallNoListener) {
  setenv("TEST_LISTENERS", TAVIRON_TEST_LISTENERS_DIR, 1);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"missing.xml", ""},
      {"broken.xml", "<ProgressReporting name=\"SecondListener\" path=\"$TEST_LISTENERS\""},
      {"nopath.xml", "<ProgressReporting name=\"SecondListener\"/>"},
      {"unknown.xml", "<ProgressReporting name=\"ThirdListener\" path=\"$TEST_LISTENERS\"/>"},
      {"nowhere.xml", "<ProgressReporting name=\"SecondListener\" path=\"/nonexistent\"/>"},
      {"entities.xml",
       "<!DOCTYPE a [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
       "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">]>"
       "<a name=\"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\" path=\"x\"/>"},
      // The parser throws rather than report: its exception is dealt with while it lives.
      {"thrown.xml", "<?xml version=\"1.-\"?>\n<ProgressRe<!ENTIporting name=\"x\" path=\"y\"/>\n"},
  };
  for (const auto &[name, text] : cases) {
    const std::string file = text.empty() ? dir_ + "/" + name : Write(name, text);
    const std::u16string path(file.begin(), file.end());
    taviron::testing::CapturedOutput output;
    EXPECT_FALSE(SetMeteringFromConfigFile(path)) << name;
    Eerr_ErrorReport *err = nullptr;
    const bool read = taviron::session::ReadMeteringConfig(path, &err) != nullptr;
    const bool unreadable = name == "broken.xml" || name == "nopath.xml" ||
                            name == "entities.xml" || name == "thrown.xml";
    EXPECT_EQ(read, !unreadable && name != "missing.xml") << name;
    EXPECT_EQ(err != nullptr, unreadable) << name;
    EXPECT_EQ(output.Err().rfind("WARNING: #", 0) == 0, unreadable) << name << output.Err();
    eerr_DeleteErrorReportEx(&err);
  }
  {
    taviron::testing::CapturedOutput output;
    EXPECT_FALSE(SetMeteringFromConfigFile(std::u16string(dir_.begin(), dir_.end())));
    EXPECT_NE(output.Err().find("is not a file"), std::string::npos);
  }
  const std::string good = Write("good.xml", "<p name=\"n\" path=\"$TEST_LISTENERS/x\"/>");
  auto config =
      taviron::session::ReadMeteringConfig(std::u16string(good.begin(), good.end()), nullptr);
  ASSERT_NE(config, nullptr);
  EXPECT_EQ(config->name, u"n");
  const std::string expected = std::string(TAVIRON_TEST_LISTENERS_DIR) + "/x";
  EXPECT_EQ(config->path, std::u16string(expected.begin(), expected.end()));
  Emet_MeterInfo meter{};
  EXPECT_EQ(emet_MeterCancelQuery(&meter, nullptr), 0); // no table was installed
}

// Sixteen jobs report their progress to one session manager at once: every record arrives, in
// each job's order.
TEST_F(Jobs, SixteenJobsReportingAtOnceLoseNoRecord) {
  constexpr int kJobs = 16, kSteps = 200;
  int result = taviron::testing::RunAsOrdinaryUser(
      [&] {
        if (SpawnManager({}) <= 0) return 10;
        std::vector<pid_t> jobs;
        for (int j = 0; j < kJobs; ++j)
          jobs.push_back(ClientProcess([j] {
            esmg_JobInit(("job " + std::to_string(j)).c_str(), nullptr);
            if (!esmg_SessionIsStarted()) return 1;
            for (int i = 0; i < kSteps; ++i) esmg_JobProgress(j * 10000 + i, nullptr);
            esmg_JobState("done", nullptr);
            esmg_JobEnd(nullptr);
            return 0;
          }));
        for (pid_t job : jobs)
          if (!Ended(job)) return 11;
        std::vector<Esmg_Protocol *> posts = Received("POST", kJobs * (kSteps + 3), 60);
        const std::size_t count = posts.size();
        Free(posts);
        return count == kJobs * (kSteps + 3) ? 0 : 12;
      },
      std::chrono::seconds(120), {dir_});
  if (result == taviron::testing::kCannotDrop) GTEST_SKIP() << "cannot run as an ordinary user";
  ASSERT_EQ(result, 0);
  std::vector<Esmg_Protocol *> posts = Received("POST", kJobs * (kSteps + 3));
  std::vector<std::vector<int>> steps(kJobs);
  int names = 0, states = 0, ends = 0;
  for (const Esmg_Protocol *record : posts) {
    if (record->type == 12) steps[record->w[2].i / 10000].push_back(record->w[2].i % 10000);
    names += record->type == 10;
    states += record->type == 11;
    ends += record->type == 13;
  }
  Free(posts);
  EXPECT_EQ(names, kJobs);
  EXPECT_EQ(states, kJobs);
  EXPECT_EQ(ends, kJobs);
  for (int j = 0; j < kJobs; ++j) EXPECT_EQ(steps[j], Sequence(kSteps)) << j;
}

} // namespace
