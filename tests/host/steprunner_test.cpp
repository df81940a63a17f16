// The step runner and program runner with a stand-in procedure module: the host's exit
// ends a step with its code, the end-of-task routine runs on every road, faults of the
// module become internal errors, and a program's steps, host statements and macro
// variables reach the run record.
#include "host/catalog.h"
#include "host/data/dataset.h"
#include "host/hostcore.h"
#include "host/hostlog.h"
#include "host/macros.h"
#include "host/pools.h"
#include "host/runner/programrun.h"
#include "host/supervisor.h"
#include "minijson.h"
#include "msgid.h"
#include "support/hoststubs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include <unistd.h>

using namespace qrxhost;

namespace {

int gEntries = 0;
int gEndOfTask = 0;
QkPool* gPool = nullptr;
std::string gMode;
std::string gSeenSource;

void fakeEntry(HostControlBlock* cb, void*) {
  ++gEntries;
  v_global_gcb_anchor = cb;
  Exported_QKHandle = cb->qkHandle;
}

void fakeEndOfTask() {
  ++gEndOfTask;
  if (gPool) {
    xmpoold(gPool); // what the step left behind is released here
    gPool = nullptr;
  }
}

void fakeMain(void*, void*, void*, void*, void*, void*) {
  gSeenSource = currentStepSource().text;
  xytexit(fakeEndOfTask);
  gPool = xmpoolc(nullptr, 1024, 0x1004);
  if (gMode == "exit108") {
    xpmlog(848, 144, {});
    xexit(108, 0);
  }
  if (gMode == "return")
    return;
  if (gMode == "throw")
    throw std::runtime_error("boom");
  if (gMode == "xebug") {
    xebug("puddleEnque failed");
    xexit(0, 0);
  }
  if (gMode == "opendata") {
    const char name[] = "d";
    xdsopen(name, 1);
    xexit(0, 0);
  }
  if (gMode == "options") {
    // copies a host option into a macro variable, as a procedure would report a setting
    char buf[32];
    int32_t n = xoption("THREADS", buf, sizeof buf);
    HostMacroTable* anchor = xalanch(hostCurrentTask()->macroWord);
    (void)xjsympc(anchor, "SEENTHREADS", 11, 71, 0, n < 0 ? "none" : buf, n < 0 ? 4 : n);
    xpmlog(848, 127, {});
    xexit(0, 0);
  }
  xexit(4, 0);
}

ProcedureModule fakeModule() {
  ProcedureModule m;
  m.name = "FAKE";
  m.entry = fakeEntry;
  m.main = fakeMain;
  return m;
}

StepSource source(const std::string& text) {
  StepSource s;
  s.text = text;
  s.firstLine = 7;
  return s;
}

class Runner : public ::testing::Test {
protected:
  void SetUp() override {
    setMessageDir(QRX_SOURCE_DIR "/host/messages");
    gEndOfTask = 0;
    gMode.clear();
    takeLog();
    clearMacros();
    clearHostOptions();
  }
  void TearDown() override {
    clearMacros();
    clearHostOptions();
    clearLibraries();
    setMessageDir("");
  }
};

} // namespace

TEST_F(Runner, ExitCodeEndOfTaskAndPoolsOnEveryRoad) {
  ProcedureModule m = fakeModule();
  int pools = livePoolCount();
  struct Road {
    const char* mode;
    int rc;
    const char* logWords;
  } roads[] = {
      {"exit108", 108, "could not be determined"}, {"plain", 4, nullptr},
      {"return", 1012, "returned without ending"}, {"throw", 1012, "boom"},
      {"xebug", 1012, "puddleEnque failed"},
  };
  gEntries = 0;
  for (const Road& r : roads) {
    gMode = r.mode;
    int before = gEndOfTask;
    StepOutcome out = runStep(m, source("proc fake;"));
    EXPECT_EQ(out.record.returnCode, r.rc) << r.mode;
    EXPECT_EQ(gEndOfTask, before + 1) << r.mode;
    EXPECT_EQ(livePoolCount(), pools) << r.mode;
    EXPECT_EQ(out.record.line, 7);
    EXPECT_EQ(out.record.procedure, "FAKE");
    if (r.logWords) {
      bool found = false;
      for (const LogRecord& rec : out.record.log)
        found = found || rec.text.find(r.logWords) != std::string::npos;
      EXPECT_TRUE(found) << r.mode;
    }
  }
  EXPECT_EQ(gEntries, 1); // the module is entered once
  EXPECT_EQ(gSeenSource, "proc fake;");
  EXPECT_EQ(currentStepSource().text, ""); // cleared after the step
}

TEST_F(Runner, NumberedMessagesKeepSetNumberAndSeverity) {
  ProcedureModule m = fakeModule();
  gMode = "exit108";
  StepOutcome out = runStep(m, source("x"));
  ASSERT_EQ(out.record.log.size(), 1u);
  EXPECT_TRUE(out.record.log[0].numbered);
  EXPECT_EQ(MsgId::of(out.record.log[0]), VsfMsg::ClassLevelsNotDetermined);
  EXPECT_EQ(out.record.log[0].severity, HostSeverity::Error);
  EXPECT_EQ(logLineText(out.record.log[0]).rfind("ERROR: ", 0), 0u);
}

TEST_F(Runner, DataSetsLeftOpenAreClosedAfterTheStep) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() /
                 ("qrx_runner_open_" + std::to_string(static_cast<long>(::getpid())));
  fs::create_directories(dir);
  std::ofstream(dir / "d.csv") << "a\n1\n";
  setWorkDir(dir.string());
  ProcedureModule m = fakeModule();
  gMode = "opendata";
  StepOutcome out = runStep(m, source("x"));
  EXPECT_EQ(out.record.returnCode, 0);
  EXPECT_EQ(openDataSetCount(), 0);
  EXPECT_EQ(parsedCopyCount(), 0);
  fs::remove_all(dir);
}

TEST_F(Runner, ProgramWithTwoStepsOptionsAndHostStatements) {
  std::vector<ProcedureModule> modules = {fakeModule()};
  gMode = "options";
  std::string program = "options threads=3;\n"
                        "proc fake; model y=x; run;\n"
                        "%put t=&seenthreads;\n"
                        "options threads=5;\n"
                        "proc FAKE;\n"
                        "quit;\n"
                        "proc nosuch; run;\n"
                        "libname bad '/nonexistent/qrx/dir';\n";
  std::vector<std::string> echoed;
  setLogEcho([&](const LogRecord& r) { echoed.push_back(logLineText(r)); });
  ProgramResult res = runProgram(program, "p.qrx", modules);
  setLogEcho(nullptr);
  ASSERT_EQ(res.record.steps.size(), 3u);
  EXPECT_EQ(res.record.steps[0].line, 2);
  EXPECT_EQ(res.record.steps[1].line, 5);
  EXPECT_EQ(res.record.steps[0].returnCode, 0);
  EXPECT_EQ(res.record.steps[2].procedure, "NOSUCH");
  EXPECT_EQ(MsgId::of(res.record.steps[2].log.at(0)), qrxhost::RunnerMsg::ProcedureNotFound);
  EXPECT_EQ(res.record.returnCode, 1012);
  EXPECT_EQ(exitStatusFor(res.record.returnCode), 2);
  EXPECT_EQ(res.record.macros.at("SEENTHREADS"), "5"); // the second step saw the new value
  // %PUT printed the value the first step set
  EXPECT_NE(std::find(echoed.begin(), echoed.end(), "t=3"), echoed.end());
  // each step's log holds its own records only
  ASSERT_EQ(res.record.steps[0].log.size(), 1u);
  EXPECT_EQ(MsgId::of(res.record.steps[0].log[0]), VsfMsg::RoleVariableAssignsRoles);
  // and the whole record is valid JSON of the documented shape
  minijson::Value v;
  std::string err;
  ASSERT_TRUE(minijson::parse(jsonRunRecord(res.record), &v, &err)) << err;
  EXPECT_EQ(v["steps"][1]["log"][0]["set"].n, 848);
  EXPECT_EQ(v["macros"]["SEENTHREADS"].s, "5");
}

TEST_F(Runner, ExitStatusAndProgramProblems) {
  EXPECT_EQ(exitStatusFor(0), 0);
  EXPECT_EQ(exitStatusFor(4), 1);
  EXPECT_EQ(exitStatusFor(108), 2);
  std::vector<ProcedureModule> modules = {fakeModule()};
  gMode = "plain";
  int entriesBefore = gEndOfTask;
  ProgramResult res = runProgram("proc fake; run; /* open", "p.qrx", modules);
  EXPECT_TRUE(res.record.steps.empty()); // nothing runs when the program cannot be split
  EXPECT_EQ(gEndOfTask, entriesBefore);
  EXPECT_EQ(res.record.returnCode, codeOf(StepRc::StatementError));
  res = runProgram("proc fake;\nmodel y = x;", "p.qrx", modules); // no RUN: still runs
  ASSERT_EQ(res.record.steps.size(), 1u);
  EXPECT_EQ(MsgId::of(res.record.steps[0].log.at(0)), qrxhost::RunnerMsg::StepWithoutRun);
  EXPECT_EQ(res.record.returnCode, 4);
}

TEST_F(Runner, OptionsInsideAStepTakeEffectBeforeItRuns) {
  std::vector<ProcedureModule> modules = {fakeModule()};
  gMode = "options";
  ProgramResult res = runProgram("proc fake;\n options threads=7;\nrun;\n", "p.qrx", modules);
  ASSERT_EQ(res.record.steps.size(), 1u);
  EXPECT_EQ(res.record.macros.at("SEENTHREADS"), "7");
  EXPECT_EQ(gSeenSource.find("options"), std::string::npos);
}
