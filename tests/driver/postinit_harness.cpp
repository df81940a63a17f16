// The harness of the whole-step tests: a WORK directory, the stand-in host's program runner
// with the procedure module, and a step table whose steps after the reading pass record
// what they were handed instead of fitting.
#include "postinit_harness.h"

#include "display/vsfdisplay.h"
#include "driver/vsfmain.h"
#include "driver/vsfpostinit.h"
#include "driver/vsfsteps.h"
#include "host/catalog.h"
#include "host/data/dataset.h"
#include "host/hostcore.h"
#include "host/macros.h"
#include "host/runner/programrun.h"
#include "host/supervisor.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace postinit {

namespace {

StepRun* gRun = nullptr;
VsfContext* gContext = nullptr;
int64_t gFailGroup = 0;
LevBuild gFailResult = LevBuild::Ready;

LevBuild levelise(LevRegContext* design) {
  LevBuild rc = vsfRealSteps().zlevrgi(design);
  if (gFailGroup != 0 && gContext != nullptr && gContext->byCount == gFailGroup) {
    if (gFailResult == LevBuild::ConstructedFailed)
      levRaise(design->design, StepRc::GroupDesignError);
    return gFailResult;
  }
  return rc;
}

VsfStatus okStatus(VsfContext*) { return VsfStatus::Ok; }
VsfStatus okModelStatus(VsfContext*, VsfModel*) { return VsfStatus::Ok; }

std::string trimmed(const char* text, int32_t length) {
  std::string s =
      text != nullptr ? std::string(text, static_cast<size_t>(std::max(length, 0))) : "";
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
    s.pop_back();
  return s;
}

VsfStatus recordPostInit(VsfContext* ctx) {
  gContext = ctx;
  const VsfStatus rc = vsfRealSteps().vsfPostInit(ctx);
  StepRun& r = *gRun;
  r.postInitDone = true;
  r.postInitResult = codeOf(rc);
  r.options = ctx->options;
  r.perf = ctx->perf;
  r.partition = ctx->stmt.partition;
  r.forcedSplit = ctx->forcedSplit;
  r.valBySync = ctx->valNames.bySync;
  r.testBySync = ctx->testNames.bySync;
  const LevDesign* d = ctx->design.design;
  for (int32_t i = 0; d != nullptr && i < d->classCount; ++i)
    r.classSplit.push_back(d->classes[i].split);
  return rc;
}

VsfStatus recordFit(VsfContext* ctx) {
  Group g;
  g.byNumber = ctx->byCount;
  g.enteredFirst = ctx->enteredFirstBoundary;
  for (int32_t i = 0; i < ctx->effectRecordCount; ++i) {
    const VsfEffectRecord& e = ctx->effectRecords[i];
    Record rec;
    rec.effect = e.effect;
    rec.parmCount = e.parmCount;
    rec.name = trimmed(e.name, e.nameLength);
    if (e.columns != nullptr)
      rec.columns.assign(e.columns, e.columns + e.parmCount);
    if (e.splitCount > 0) {
      rec.splitVars.assign(e.splitVars, e.splitVars + e.splitCount);
      rec.splitLevels.assign(e.splitLevels, e.splitLevels + e.splitCount);
    }
    g.records.push_back(rec);
  }
  if (ctx->model.inestEstimates != nullptr) {
    g.hasStart = true;
    g.startValues.assign(ctx->model.inestEstimates, ctx->model.inestEstimates + ctx->inestCount);
  }
  const VsfModel& m = ctx->model;
  if (ctx->options.split && m.hier.hierAddCountInit != nullptr) {
    g.containsCounts.assign(m.hier.hierAddCountInit,
                            m.hier.hierAddCountInit + ctx->effectRecordCount);
    g.containedByCounts.assign(m.hier.hierDropCountInit,
                               m.hier.hierDropCountInit + ctx->effectRecordCount);
    if (m.hier.hierListA != nullptr)
      for (int32_t i = 0; i < ctx->effectRecordCount; ++i)
        g.containsLists.emplace_back(m.hier.hierListA[i],
                                     m.hier.hierListA[i] + m.hier.hierAddCountInit[i]);
  }
  gRun->groups.push_back(g);
  return VsfStatus::Ok;
}

VsfStepTable recordingSteps() {
  VsfStepTable t = vsfRealSteps();
  t.vsfPostInit = recordPostInit;
  t.zlevrgi = levelise;
  t.vsfpModelInfo = [](VsfContext*) -> VsfStatus {
    gRun->modelInfoTables++;
    return VsfStatus::Ok;
  };
  t.vsfpBootstrapInfo = okStatus;
  t.vsfpPerf = [](VsfContext*) -> VsfStatus {
    gRun->perfTables++;
    return VsfStatus::Ok;
  };
  t.vsfTimes = [](VsfContext*) -> VsfStatus {
    gRun->timingTables++;
    return VsfStatus::Ok;
  };
  t.vsfPrepOutput = okStatus;
  t.vsfPrepScores = okStatus;
  t.vsfData = [](VsfContext*) { return VsfStatus::Ok; };
  t.vsfFitAndDisplay = recordFit;
  t.vsfMakeMacroVar = [](VsfContext*, int32_t) -> VsfStatus { return VsfStatus::Ok; };
  t.vsfPrepareOutputAndDesign = okStatus;
  t.vsfSetSelModelGroup = okStatus;
  t.vsfOutputBy = [](VsfContext*, VsfModel*, VsfResampling*, int64_t) -> VsfStatus {
    return VsfStatus::Ok;
  };
  t.vsfpParameterNames = okModelStatus;
  t.vsfMakeDesignMacroVar = okModelStatus;
  t.vsfScoreResults = okModelStatus;
  return t;
}

void entry(HostControlBlock* cb, void* pidb) { mcn_main(cb, pidb); }

} // namespace

int StepRun::count(MsgId m) const {
  int n = 0;
  for (const auto& rec : log)
    n += rec.numbered && m.is(rec.set, rec.number);
  return n;
}

const qrxhost::LogRecord* StepRun::find(MsgId m) const {
  for (const auto& rec : log)
    if (rec.numbered && m.is(rec.set, rec.number))
      return &rec;
  return nullptr;
}

bool StepRun::anyError() const {
  for (const auto& rec : log)
    if (rec.severity == HostSeverity::Error)
      return true;
  return false;
}

std::string StepRun::messages() const {
  std::string s;
  for (const auto& rec : log)
    s += rec.numbered ? std::to_string(rec.set) + "/" + std::to_string(rec.number) + " "
                      : "[" + rec.text + "] ";
  return s;
}

std::string workDir() {
  // One directory per test process, removed when the process ends.
  struct Dir {
    std::filesystem::path path;
    Dir()
        : path(std::filesystem::temp_directory_path() /
               ("qrx_postinit_" + std::to_string(static_cast<long>(::getpid())))) {
      std::filesystem::create_directories(path);
    }
    ~Dir() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
  };
  static Dir dir;
  return dir.path.string();
}

void writeCsv(const std::string& name, const std::string& text) {
  std::ofstream(std::filesystem::path(workDir()) / (name + ".csv")) << text;
}

void setLevelisationResult(int64_t group, LevBuild result) {
  gFailGroup = group;
  gFailResult = result;
}

StepRun run(const std::string& program) {
  StepRun result;
  gRun = &result;
  qrxhost::setMessageDir(QRX_SOURCE_DIR "/host/messages");
  qrxhost::setWorkDir(workDir());
  qrxhost::clearMacros();
  qrxhost::clearHostOptions();
  qrxhost::hostControlBlock();
  VsfStepTable saved = vsfSteps();
  vsfSteps() = recordingSteps();
  std::vector<qrxhost::ProcedureModule> modules(1);
  modules[0].name = "VARSIFTER";
  modules[0].entry = entry;
  modules[0].main = qrxvarsf;
  qrxhost::ProgramResult res = qrxhost::runProgram(program, "test.qrx", modules);
  vsfSteps() = saved;
  result.returnCode = res.record.returnCode;
  for (const auto& step : res.record.steps)
    result.log.insert(result.log.end(), step.log.begin(), step.log.end());
  result.macros = res.record.macros;
  gRun = nullptr;
  return result;
}

} // namespace postinit
