// Tables and factoids of one fit through the output manager: fit statistics with their
// "-Infty" entries and ASE label, the ANOVA rows, stop details under STOP=SL, CLASS level
// information, model information by method, dimensions under NOINT, the tolerated manager
// status, and the OUTPUT data set finished once.
#include "failingpool.h"
#include "msgid.h"
#include "refcsv.h"
#include "resultsfixture.h"
#include <unistd.h>

#include "host/data/dataset.h"
#include "host/hostapi.h"
#include "host/hostlog.h"
#include "host/output/rvqoutput.h"
#include "output/vsfoutput.h"
#include "output/vsfprint.h"
#include "output/vsfprinters.h"
#include "output/vsfresults.h"
#include "output/vsfselrow.h"
#include "support/hoststubs.h"
#include "support/nomemory.h"

#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

using namespace restest;

namespace {

std::string msg(VsfMsg name) {
  const int32_t number = static_cast<int32_t>(name);
  const qrxhost::MessageDef* m = qrxhost::findMessage(msgSet(name), number);
  return m != nullptr ? m->text : "<missing " + std::to_string(number) + ">";
}

// The entry labels of a factoid, and the value of the entry with a label.
std::vector<std::string> labels(const minijson::Value& f) {
  std::vector<std::string> out;
  for (const auto& e : f["entries"].items)
    out.push_back(e["label"].s);
  return out;
}
const minijson::Value* entry(const minijson::Value& f, const std::string& label) {
  for (const auto& e : f["entries"].items)
    if (e["label"].s == label)
      return &e["value"];
  return nullptr;
}

using Tables = ResultsFixture;

TEST_F(Tables, FitStatisticsOfAPerfectFit) {
  setEffects({"Intercept", "X1"});
  VsfModel& m = ctx->model;
  m.totals.nObs = 10, m.rank = 2, m.sse = 0.0, m.totalSS = 40.0, m.totals.wTrain = 10,
  m.sumWY = 3.5;
  ctx->options.statAse = 1;
  ASSERT_EQ(vsfpFitStats(ctx.get(), &m), VsfStatus::Ok);
  auto out = output();
  const auto& f = *find(out, "FitStatistics").at(0);
  EXPECT_EQ(f["template"].s, "Stat.VARSIFTER.FitStatistics");
  const std::vector<std::string> expected = {
      msg(VsfMsg::FitStatRootMse), msg(VsfMsg::FitStatDependentMean),
      msg(VsfMsg::FitStatRSquare), msg(VsfMsg::FitStatAdjRSq),
      msg(VsfMsg::FitStatAic),     msg(VsfMsg::FitStatAicc),
      msg(VsfMsg::FitStatSbc),     msg(VsfMsg::FitStatAse)};
  EXPECT_EQ(labels(f), expected);
  ASSERT_NE(entry(f, msg(VsfMsg::FitStatAic)), nullptr);
  EXPECT_EQ(entry(f, msg(VsfMsg::FitStatAic))->s, "-Infty");
  EXPECT_EQ(entry(f, msg(VsfMsg::FitStatSbc))->s, "-Infty");
  EXPECT_EQ(entry(f, msg(VsfMsg::FitStatRootMse))->n, 0.0);
  EXPECT_EQ(entry(f, msg(VsfMsg::FitStatRSquare))->n, 1.0);
  EXPECT_EQ(entry(f, msg(VsfMsg::FitStatDependentMean))->n, 3.5);
}

TEST_F(Tables, AnovaRowsOfAFit) {
  setEffects({"Intercept", "X1", "X2"});
  VsfModel& m = ctx->model;
  m.totals.nObs = 30, m.rank = 2, m.sse = 10.0, m.totalSS = 10.5;
  ASSERT_EQ(vsfpAnova(ctx.get(), &m, pool), VsfStatus::Ok);
  auto out = output();
  const auto& t = *find(out, "ANOVA").at(0);
  ASSERT_EQ(t["rows"].items.size(), 3u);
  EXPECT_EQ(cell(t, 0, "Source"), msg(VsfMsg::AnovaModel));
  EXPECT_EQ(cell(t, 2, "Source"), msg(VsfMsg::AnovaCorrectedTotal));
  EXPECT_EQ(number(t, 0, "DF"), 1);
  EXPECT_EQ(number(t, 1, "DF"), 28);
  EXPECT_EQ(number(t, 2, "DF"), 29);
  EXPECT_NEAR(number(t, 0, "SS"), 0.5, 1e-14);
  // The same fit as the second reference row: F = 1.4 with (1, 28) degrees of freedom.
  EXPECT_NEAR(number(t, 0, "FValue"), 1.4, 1e-12);
  EXPECT_NEAR(number(t, 0, "ProbF"), 0.24667272750837749, 1e-9);
  EXPECT_TRUE(std::isnan(number(t, 1, "FValue")));
  EXPECT_TRUE(std::isnan(number(t, 2, "MS")));
}

TEST_F(Tables, StopDetailsUnderSignificanceLevels) {
  setEffects({"Intercept", "X1", "X2"});
  VsfModel& m = ctx->model;
  ctx->options.stop = VsfCriterion::Sl;
  ctx->options.slEntry = 0.15;
  m.stop.stopAddEffect = 2;
  m.stop.stopAddValue = -800.0; // log p-value below the exponential's range
  m.stop.stopDropEffect = 0;
  ASSERT_EQ(vsfpStopDetails(ctx.get(), pool, &m), VsfStatus::Ok);
  auto out = output();
  const auto& t = *find(out, "StopDetails").at(0);
  ASSERT_EQ(t["rows"].items.size(), 1u);
  EXPECT_EQ(cell(t, 0, "Effect"), "X2");
  EXPECT_EQ(number(t, 0, "Criterion"), 0.0);
  EXPECT_EQ(number(t, 0, "CompareCriterion"), 0.15);
  EXPECT_EQ(cell(t, 0, "Comparison"), ">");
  EXPECT_EQ(cell(t, 0, "SignificanceLabel"), "(SLE)");
  EXPECT_EQ(cell(t, 0, "CandidateFor"), msg(VsfMsg::StopDetailsEntry));
}

TEST_F(Tables, ClassLevelInformation) {
  setEffects({"Intercept"});
  HostVariable g{}, c{};
  g.name = "Group", g.nameLength = 5, g.type = 2;
  c.name = "Color", c.nameLength = 5, c.type = 2;
  std::vector<LevVariable> classes(2);
  char a[] = "a  ", b[] = "b  ", cc[] = "c  ", red[] = "red  ", blue[] = "blue ";
  char* gl[] = {a, b, cc};
  char* cl[] = {red, blue};
  classes[0].var = &g, classes[0].levelCount = 3, classes[0].levelWidth = 3;
  classes[0].levelTexts = gl;
  classes[1].var = &c, classes[1].levelCount = 2, classes[1].levelWidth = 5;
  classes[1].levelTexts = cl;
  design->classes = classes.data();
  design->classCount = 2;
  ctx->stmt.cls.delimiter = ' ';
  ASSERT_EQ(vsfpClassInfo(ctx.get(), pool), VsfStatus::Ok);
  auto out = output();
  const auto& t = *find(out, "ClassLevelInfo").at(0);
  EXPECT_EQ(columnNames(t), (std::vector<std::string>{"Class", "Levels", "Values"}));
  ASSERT_EQ(t["rows"].items.size(), 2u);
  EXPECT_EQ(cell(t, 0, "Class"), "Group");
  EXPECT_EQ(number(t, 0, "Levels"), 3);
  EXPECT_EQ(cell(t, 0, "Values"), "a b c");
  EXPECT_EQ(cell(t, 1, "Values"), "red blue");
}

TEST_F(Tables, ClassVariablesWithoutLevelsStillGetTheirTable) {
  setEffects({"Intercept"});
  HostVariable g{};
  g.name = "G", g.nameLength = 1, g.type = 1;
  std::vector<LevVariable> classes(1);
  classes[0].var = &g;
  design->classes = classes.data();
  design->classCount = 1;
  ASSERT_EQ(vsfpClassInfo(ctx.get(), pool), VsfStatus::Ok);
  auto out = output();
  const auto& t = *find(out, "ClassLevelInfo").at(0);
  EXPECT_EQ(columnNames(t), (std::vector<std::string>{"Class", "Levels"}));
  EXPECT_EQ(number(t, 0, "Levels"), 0);
}

TEST_F(Tables, ModelInformationByMethod) {
  setEffects({"Intercept", "X1"});
  ctx->options.method = VsfMethod::Stepwise;
  ctx->options.select = VsfCriterion::Sl;
  ctx->options.slEntry = 0.15, ctx->options.slStay = 0.15;
  ctx->options.trainFraction = 1.0;
  ASSERT_EQ(vsfpModelInfo(ctx.get()), VsfStatus::Ok);
  ctx->options.method = VsfMethod::None;
  ctx->options.maxSteps = 5;
  ASSERT_EQ(vsfpModelInfo(ctx.get()), VsfStatus::Ok);
  auto out = output();
  auto infos = find(out, "ModelInfo");
  ASSERT_EQ(infos.size(), 2u);
  auto first = labels(*infos[0]);
  EXPECT_NE(std::find(first.begin(), first.end(), msg(VsfMsg::ModelInfoEntrySignificanceLevelSle)),
            first.end());
  EXPECT_NE(std::find(first.begin(), first.end(), msg(VsfMsg::ModelInfoStaySignificanceLevelSls)),
            first.end());
  EXPECT_EQ(entry(*infos[0], msg(VsfMsg::ModelInfoSelectionMethod))->s,
            msg(VsfMsg::MethodStepwiseSelection));
  EXPECT_EQ(entry(*infos[0], msg(VsfMsg::ModelInfoSelectCriterion))->s,
            msg(VsfMsg::CriterionSignificanceLevel));
  // METHOD=NONE: the list ends with the method and the step limit.
  const std::vector<std::string> none = {
      msg(VsfMsg::ModelInfoDataSet), msg(VsfMsg::ModelInfoDependentVariable),
      msg(VsfMsg::ModelInfoSelectionMethod), msg(VsfMsg::ModelInfoMaximumNumberSteps)};
  EXPECT_EQ(labels(*infos[1]), none);
}

TEST_F(Tables, DimensionsLeaveOutTheInterceptUnderNoint) {
  setEffects({"Intercept", "X1", "X2"});
  ctx->options.noint = 1;
  ASSERT_EQ(vsfpDimensions(ctx.get()), VsfStatus::Ok);
  auto out = output();
  const auto& f = *find(out, "Dimensions").at(0);
  EXPECT_EQ(entry(f, msg(VsfMsg::DimensionsNumberEffects))->n, 2);
  EXPECT_EQ(entry(f, msg(VsfMsg::DimensionsNumberParameters))->n, 2);
}

TEST_F(Tables, TheToleratedManagerStatusLetsThePrinterGoOn) {
  setEffects({"Intercept", "X1"});
  VsfModel& m = ctx->model;
  m.totals.nRead = 5, m.totals.nUsed = 5;
  // The create call reports the log-only status after doing its work.
  qrxhost::injectOutputFailure(147, qrxhost::kOutputLogOnly, 0);
  ASSERT_EQ(vsfpNobs(ctx.get(), &m), VsfStatus::Ok);
  auto out = output();
  auto t = find(out, "NObs");
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0]->operator[]("rows").items.size(), 2u);
}

TEST_F(Tables, TheOutputDataSetIsFinishedOnce) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() /
                       ("qrx_results_finish_" + std::to_string(static_cast<long>(::getpid())));
  fs::create_directories(dir);
  const std::string name = std::string("'").append((dir / "out.csv").string()).append("'");
  HostDataSet* out = xdscreate(name.c_str(), static_cast<int32_t>(name.size()));
  ASSERT_NE(out, nullptr);
  ASSERT_GT(xdsdefvar(out, "x", 1, 1, 8), 0);
  ASSERT_EQ(xdsputn(out, 1, 2.5), 0);
  ASSERT_EQ(xdsappend(out), 0);
  ctx->options.outputBlock = out;
  vsfFinishOutput(ctx.get());
  EXPECT_EQ(ctx->options.outputBlock, nullptr);
  vsfFinishOutput(ctx.get());       // a second road through the clean-up does nothing
  qrxhost::commitStepOutputs(true); // the step ends without error
  EXPECT_EQ(readCsvRows((dir / "out.csv").string()),
            (std::vector<std::vector<std::string>>{{"x"}, {"2.5"}}));
  fs::remove_all(dir);
}

// A row that the data set refuses is reported as such, with the code that ends the run
// without a second message: not as a failure to get memory.
TEST_F(Tables, ARefusedOutputRowIsReportedAsNotWritten) {
  (void)qrxhost::takeLog();
  EXPECT_EQ(vsfAppendRow(nullptr), VsfStatus::ReportedFailure);
  std::vector<MsgId> ours; // the module's messages
  for (const auto& r : qrxhost::takeLog())
    if (r.numbered && r.set == msgSet(VsfMsg::RowNotWritten))
      ours.push_back(MsgId::of(r));
  EXPECT_EQ(ours, std::vector<MsgId>{VsfMsg::RowNotWritten});
}

} // namespace

namespace {

struct Coding : ResultsFixture {
  HostVariable g{}, h{};
  std::vector<LevVariable> classes = std::vector<LevVariable>(2);
  char a[4] = "a  ", b[4] = "b  ", c[4] = "c  ", only[4] = "x  ";
  char* gl[3] = {a, b, c};
  char* hl[1] = {only};
  int32_t used[2] = {0, 1};

  void design2() {
    setEffects({"Intercept", "G", "H"});
    g.name = "G", g.nameLength = 1, g.type = 2;
    h.name = "H", h.nameLength = 1, h.type = 2;
    classes[0].var = &g, classes[0].levelCount = 3, classes[0].levelWidth = 3;
    classes[0].levelTexts = gl;
    classes[1].var = &h, classes[1].levelCount = 1, classes[1].levelWidth = 3;
    classes[1].levelTexts = hl;
    design->classes = classes.data();
    design->classCount = 2;
    design->maxLevelWidth = 3;
    effects[1].allClass = &used[0], effects[1].allClassCount = 1;
    effects[2].allClass = &used[1], effects[2].allClassCount = 1;
  }
};

TEST_F(Coding, IndicatorDesignGivesOneColumnPerLevel) {
  design2();
  ASSERT_EQ(vsfpClassCoding(ctx.get(), pool), VsfStatus::Ok);
  auto out = output();
  auto tables = find(out, "ClassLevelCoding");
  ASSERT_EQ(tables.size(), 2u);
  const auto& t = *tables[0];
  EXPECT_EQ(columnNames(t), (std::vector<std::string>{"Class", "Value", "X1", "X2", "X3"}));
  ASSERT_EQ(t["rows"].items.size(), 3u);
  for (size_t k = 0; k < 3; ++k)
    for (size_t j = 0; j < 3; ++j)
      EXPECT_EQ(number(t, k, std::string("X").append(std::to_string(j + 1))), k == j ? 1 : 0);
  EXPECT_EQ(cell(t, 0, "Class"), "G");
  EXPECT_EQ(cell(t, 1, "Class"), "") << "the name shows in the first row only";
  EXPECT_EQ(cell(t, 2, "Value"), "c");
}

// A printer that runs out of memory part way closes its group: what is printed next does not
// land inside it.
TEST_F(Coding, RunningOutOfMemoryClosesTheGroup) {
  design2();
  FailingPool dry(pool, 3); // the used flags, the level text and the first class's row
  EXPECT_EQ(vsfpClassCoding(ctx.get(), dry.get()), VsfStatus::NoMemory);
  ASSERT_EQ(vsfpClassCoding(ctx.get(), pool), VsfStatus::Ok);
  auto out = output();
  int topLevel = 0;
  for (const auto& node : out.items)
    topLevel += node["name"].s == "Coding" ? 1 : 0;
  EXPECT_EQ(topLevel, 2);
}

TEST_F(Coding, OneLevelUnderFullRankCodingsHasNoDesignColumn) {
  design2();
  design->designFlags = LevDesignFlag::NonGlm;
  classes[1].coding = CC_REFERENCE;
  ASSERT_EQ(vsfpClassCoding(ctx.get(), pool), VsfStatus::Ok);
  auto out = output();
  const auto& t = *find(out, "ClassLevelCoding").at(1);
  EXPECT_EQ(columnNames(t), (std::vector<std::string>{"Class", "Value"}));
  EXPECT_EQ(t["rows"].items.size(), 1u);
}

} // namespace

namespace {

using Protocol = ResultsFixture;

// A create call that comes back with the tolerated status but without a handle leaves the
// printer with no table: every later call of that table is skipped, none reaches the
// manager with a handle it never gave out.
TEST_F(Protocol, NoCallsWithAHandleThatNeverCameBack) {
  VsfOut out(ctx.get());
  double x = 1.0;
  ASSERT_EQ(out.table, nullptr);
  out.numberColumn("X", &x);
  out.endColumns();
  out.bind("Stat.VARSIFTER.Test");
  out.emit();
  out.endRows();
  out.publish();
  EXPECT_EQ(out.bound, nullptr);
  vsfCloseObject(nullptr);
  auto nodes = output();
  EXPECT_TRUE(nodes.items.empty());
}

} // namespace

namespace {

using Folds = ResultsFixture;

TEST_F(Folds, CrossValidationDetailsEndWithTheTotalRow) {
  setEffects({"Intercept"});
  VsfModel& m = ctx->model;
  std::vector<VsfFoldRecord> folds(2);
  folds[0].rowCount = 4, folds[0].cvSse = 3.0;
  folds[1].rowCount = 6, folds[1].cvSse = 4.5;
  m.cv.folds = folds.data();
  m.cv.foldCount = 2;
  m.totals.nUsed = 12; // two validation rows, which no fold fits
  m.totals.nTrain = 10;
  m.cvPress = 7.5;
  ASSERT_EQ(vsfpCVDetails(ctx.get(), &m, pool), VsfStatus::Ok);
  auto out = output();
  const auto& t = *find(out, "CVDetails").at(0);
  ASSERT_EQ(t["rows"].items.size(), 3u);
  EXPECT_EQ(number(t, 0, "Index"), 1);
  EXPECT_EQ(number(t, 0, "NOBSFITTED"), 6);
  EXPECT_EQ(number(t, 1, "NOBSLEFTOUT"), 6);
  EXPECT_EQ(number(t, 1, "CVPRESS"), 4.5);
  EXPECT_EQ(number(t, 2, "Index"), -1);
  EXPECT_EQ(cell(t, 2, "Fold"), "Total");
  EXPECT_EQ(number(t, 2, "NOBSFITTED"), 10) << "6 + 4 rows fitted";
  EXPECT_EQ(number(t, 2, "NOBSLEFTOUT"), 10);
  EXPECT_EQ(number(t, 2, "CVPRESS"), 7.5);
  EXPECT_EQ(cell(t, 2, "Control"), "-");
  EXPECT_EQ(cell(t, 0, "Control"), "");
}

} // namespace

namespace {

using DesignLabels = ResultsFixture;

TEST_F(DesignLabels, LabelsAndShortNamesOfTheSelectedColumns) {
  setEffects({"Intercept", "x1", "x1*x2", "A_very_long_effect_name_beyond_32_chars"});
  VsfModel& m = ctx->model;
  m.effectStatus[0] = 2, m.effectStatus[2] = 1, m.effectStatus[3] = 1;
  ASSERT_EQ(vsfParmLabels(ctx.get(), &m, 2), VsfStatus::Ok);
  ASSERT_EQ(ctx->results.designLabelCount, 4);
  char** full = ctx->results.designLabels;
  char** brief = ctx->results.designShortNames;
  EXPECT_STREQ(full[0], "Intercept");
  EXPECT_EQ(full[1], nullptr) << "x1 was not selected";
  EXPECT_STREQ(full[2], "x1*x2");
  EXPECT_STREQ(full[3], "A_very_long_effect_name_beyond_32_chars");
  EXPECT_EQ(std::strlen(brief[3]), 32u);
  for (int c : {0, 2, 3})
    for (const char* p = brief[c]; *p != '\0'; ++p)
      EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(*p)) || *p == '_') << brief[c];
}

} // namespace
