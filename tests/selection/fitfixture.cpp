// The shared set-up of the model-core tests (see fitfixture.h).
#include "selection/fitfixture.h"

#include "data/vsfscratchfile.h"
#include "host/ext/qkpgf.h"
#include "kernels/vsfkernels.h"
#include "model/vsfformulas.h"
#include "model/vsfserialize.h"
#include "refcsv.h"
#include "selection/vsfprocess.h"
#include "support/vsfcriterion.h"

#include <fstream>
#include <stdexcept>

namespace fittest {

namespace {
std::string path(const std::string& file) {
  return std::string(QRX_TEST_DATA) + "/selection/" + file;
}
} // namespace

Design readDesign(const std::string& name) {
  const auto rows = readCsvRows(path(name + "_design.csv"));
  if (rows.empty())
    throw std::runtime_error("missing reference design " + name);
  Design d;
  for (size_t i = 1; i < rows[0].size(); ++i)
    d.widths.push_back(std::stoi(rows[0][i]));
  for (size_t r = 1; r < rows.size(); ++r) {
    d.y.push_back(std::stod(rows[r][0]));
    std::vector<double> x;
    for (size_t i = 1; i < rows[r].size(); ++i)
      x.push_back(std::stod(rows[r][i]));
    d.x.push_back(x);
  }
  std::ifstream roles(path(name + "_roles.csv"));
  if (roles)
    std::getline(roles, d.roles);
  return d;
}

std::vector<StepRef> readSteps(const std::string& name) {
  const auto rows = readCsvRows(path(name + "_steps.csv"));
  if (rows.empty())
    throw std::runtime_error("missing reference steps " + name);
  std::vector<StepRef> out;
  for (size_t i = 1; i < rows.size(); ++i) {
    const std::vector<std::string>& c = rows[i];
    StepRef r;
    r.method = c[0];
    r.criterion = c[1];
    r.step = std::stoi(c[2]);
    r.effect = std::stoi(c[3]);
    r.rank = std::stoi(c[4]);
    r.sse = std::stod(c[5]);
    r.rsquare = std::stod(c[6]);
    r.missing = c[7] == ".";
    r.value = r.missing ? 0.0 : std::stod(c[7]);
    if (c.size() > 9) {
      r.hasValidate = c[8] != ".";
      r.hasTest = c[9] != ".";
      r.validate = r.hasValidate ? std::stod(c[8]) : 0.0;
      r.test = r.hasTest ? std::stod(c[9]) : 0.0;
    }
    out.push_back(r);
  }
  return out;
}

int32_t codeOf(const std::string& n) {
  if (n == "SL")
    return 1;
  if (n == "AIC")
    return 2;
  if (n == "AICC")
    return 3;
  if (n == "SBC")
    return 4;
  if (n == "RSQUARE")
    return 5;
  if (n == "ADJRSQ")
    return 6;
  if (n == "CP")
    return 7;
  if (n == "BIC")
    return 8;
  if (n == "PRESS")
    return 9;
  if (n == "VALIDATE")
    return 10;
  return 0;
}

Fit::Fit(const Design& d, const FitSetup& s) {
  qrxhost::resetPageFileSettings();
  if (s.disk)
    qrxhost::setPageFileSizes(1024, 1024, 1024);
  run.model.pool = nullptr; // the fit makes its own "model pool"; the page run's is its own
  datatest::denseEntries(run, d.widths);
  if (s.sparse)
    for (auto& e : run.entries)
      e.sparseVote = e.columnCount > 1 ? 1 : 0;
  run.settings.threadCount = s.threads < 1 ? 1 : s.threads;
  run.settings.threadingOn = s.threads > 1;
  run.settings.sweepThreads = run.settings.threadCount;
  run.settings.utilBuffers = s.disk ? 1 : 0;
  run.settings.method = s.method;
  for (size_t i = 0; i < d.y.size(); ++i) {
    datatest::Obs o;
    o.y = d.y[i];
    o.x = d.x[i];
    if (!d.roles.empty())
      o.role = std::string(1, d.roles[i]);
    src.rows.push_back(o);
  }
  if (!d.roles.empty()) {
    run.settings.roleVar = 1;
    run.settings.roleCodes = 1;
    run.settings.trainValue = {"A", 1};
    run.settings.validateValue = {"V", 1};
    run.settings.testValue = {"T", 1};
    opt.validateInUse = opt.testInUse = 1;
  }
  opt.method = s.method;
  opt.select = static_cast<VsfCriterion>(s.select);
  opt.stop = static_cast<VsfCriterion>(s.select);
  opt.choose = static_cast<VsfCriterion>(s.choose);
  opt.slEntry = 0.15;
  opt.slStay = 0.15;
  opt.fuzz = 1e-12;
  opt.forcedIn = s.forcedIn;
  opt.include = s.forcedIn > 1 ? s.forcedIn - 1 : 0;
  opt.drop = static_cast<VsfDrop>(s.drop);
  opt.fullXpx = s.full;
  opt.storeCross = !s.full && vsfMethodSelects(s.method);
  opt.fullSweep = s.full ? VsfFullSweep::Never : static_cast<VsfFullSweep>(s.fullSweep);
  opt.fullModelFirst = vsfCriterionAsked(opt, vsfCriterionFullModel);
  opt.pressNeeded = s.select == 9 || s.choose == 9;
  opt.trialAll = s.select == 9;
  opt.stopTest = 1;
  opt.recordSteps = 1;
  opt.stepRecordBits = s.records ? 1 : 0;
  if (s.records) {
    uint8_t status = 0;
    if (vsfCreateScratch(&scratch, &run.exts, 0, 0, nullptr, 0, &status) != 0)
      throw std::runtime_error("the fit's scratch file could not be made");
  }
}

void Fit::go() {
  readRc = run.read(src);
  if (readRc != 0)
    return;
  if (run.settings.threadCount > 1 && run.startThreads(run.settings.threadCount) != 0) {
    readRc = -1;
    return;
  }
  VsfModel& model = m();
  model.options = &opt;
  model.fuzz = opt.fuzz;
  model.scratchHolder = scratch.file != nullptr ? &scratch : nullptr;
  vsfRegisterKernels();
  initRc = vsfModelInit(&model);
  if (initRc != VsfStatus::Ok)
    return;
  processRc = vsfProcessModel(&model);
}

VsfStatus Fit::restoreStep(VsfModel& back, int64_t* pos) {
  QkPoolAttributes attrs{};
  attrs.flags = 1;
  back.pool = Exported_QKHandle->createPool(Exported_QKHandle, &attrs, nullptr, "step pool");
  back.options = &opt;
  back.history.stepScratch = &scratch;
  back.history.stepScratchPos = pos;
  return vsfRestoreModel(&back);
}

Fit::~Fit() {
  vsfModelByFree(&run.model);
  if (scratch.file != nullptr)
    vsfFreeScratch(&scratch, &run.exts);
  qrxhost::resetPageFileSettings();
}

double stepCriterion(VsfModel& m, int32_t code, int32_t s) {
  const double n = m.totals.nObs, sse = m.history.stepSSE[s];
  const int32_t p = m.history.stepRank[s];
  switch (code) {
  case 1: {
    double F;
    return vsfLogPval(m.history.stepRank[s - 1], p, m.history.stepEffects[s - 1],
                      m.history.stepEffects[s], &F, m.history.stepSSE[s - 1], sse, n, m.fuzz);
  }
  case 2:
    return vsfAic(p, sse, n);
  case 3:
    return vsfAicc(p, sse, n);
  case 4:
    return vsfSbc(p, sse, n);
  case 6:
    return vsfAdjrsq(p, 0, sse, m.totalSS, n);
  case 7:
    return vsfCp(p, sse, n, m.fullMse);
  case 8:
    return vsfBic(p, sse, n, m.fullMse);
  case 9:
    return m.history.stepPress[s];
  case 10:
    return m.history.stepValidateAse[s];
  default:
    return 0;
  }
}

} // namespace fittest
