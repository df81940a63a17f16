// Runs that would hold more memory or disk than they may use end with a message that says
// what and how much, and a raised return code, before they take it: the memory plan of the
// cross products (with MEMSIZE= small) and the disk plan of the data pages.
#include "programs/qrxrun.h"
#include "programs/synthdata.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

using minijson::Value;

qrxrun::ProgramRun runManyLevels(const std::string& options, const std::string& selection,
                                 const std::string& tag) {
  return qrxrun::runProgram("options " + options +
                                ";\nproc varsifter data=d;\n  class g;\n  model y = g x1 x2 x3 / " +
                                selection + ";\nrun;\n",
                            tag, {{"d.csv", synthdata::manyLevelsCsv()}});
}

// Cross validation over a CLASS effect of 120 levels keeps 30 triangles of 124 columns (the
// model's and every fold's, each with its trial copies): about 1.9 MB, beyond a MEMSIZE of
// 1 MB. The step ends naming the effect, its columns and the memory asked, and says what
// needs less; the same selection without folds fits.
TEST(MemoryPlan, CrossProductsBeyondTheMemoryEndTheStepWithTheirSize) {
  const qrxrun::ProgramRun cv =
      runManyLevels("memsize=1M", "selection=forward(select=cv) cvmethod=random(5)", "plan_cv");
  EXPECT_EQ(cv.status, 2) << cv.log;
  const Value* error = qrxrun::logEntry(cv, VsfMsg::CrossProductsDoNotFit);
  ASSERT_NE(error, nullptr) << cv.log;
  EXPECT_EQ((*error)["values"][0].s, "g");
  EXPECT_EQ((*error)["values"][1].n, 120);
  EXPECT_EQ((*error)["values"][3].n, 30);
  EXPECT_EQ((*error)["values"][4].n, 124);
  EXPECT_NE(qrxrun::logEntry(cv, VsfMsg::FoldCopiesDoNotFit), nullptr)
      << "what needs less: fewer folds";
  EXPECT_TRUE(qrxrun::tablesOf(cv, "SelectionSummary").empty());

  const qrxrun::ProgramRun plain =
      runManyLevels("memsize=1M", "selection=forward(select=sbc)", "plan_plain");
  EXPECT_EQ(plain.status, 0) << plain.log;
  EXPECT_FALSE(qrxrun::tablesOf(plain, "SelectionSummary").empty());
}

// A PRESS pass over 3,000 levels beside seven small columns also holds each level's leverage
// terms over the small columns (about 380 KB): under a MEMSIZE of 700K the fit by SBC fits,
// and the fit by PRESS ends with its size before it starts.
TEST(MemoryPlan, LeverageTermsOfAPressPassCountInThePlan) {
  auto run = [](const std::string& criterion) {
    return qrxrun::runProgram("options memsize=700K;\nproc varsifter data=d;\n  class g;\n  "
                              "model y = x1-x6 g / selection=forward(select=" +
                                  criterion + ");\nrun;\n",
                              "plan_press_" + criterion,
                              {{"d.csv", synthdata::tinyWeightCsv(3000, 6000)}});
  };
  const qrxrun::ProgramRun sbc = run("sbc"), press = run("press");
  EXPECT_EQ(sbc.status, 0) << sbc.log;
  EXPECT_EQ(press.status, 2) << press.log;
  EXPECT_TRUE(qrxrun::logged(press, VsfMsg::CrossProductsDoNotFit)) << press.log;
}

// The listing without its notes (the notes say how many threads the passes ran on).
std::string listingWithoutNotes(const std::string& log) {
  std::string kept;
  for (size_t at = 0; at < log.size();) {
    const size_t end = std::min(log.find('\n', at), log.size());
    if (log.compare(at, 5, "NOTE:") != 0)
      kept.append(log, at, end - at).append("\n");
    at = end + 1;
  }
  return kept;
}

// Cross validation over 120 levels keeps 30 triangles of 124 columns, which the read
// preparation cannot count before the levels are read: under a MEMSIZE of 2,500 KB they fit
// beside one page thread's buffers but not beside those of the three threads the read kept.
// The data passes then go to one thread, and eight CPUs give the listing of one.
TEST(MemoryPlan, CrossProductsThatLeaveNoRoomForThreadsRunOnOneThread) {
  auto runCv = [](int cpus) {
    return qrxrun::runProgram(
        "options memsize=2500K cpucount=" + std::to_string(cpus) +
            ";\nproc varsifter data=d seed=5;\n  class g;\n  model y = g x1 x2 x3 / "
            "selection=forward(select=cv) cvmethod=random(5);\nrun;\n",
        "plan_threads" + std::to_string(cpus), {{"d.csv", synthdata::manyLevelsCsv()}});
  };
  const qrxrun::ProgramRun one = runCv(1), eight = runCv(8);
  ASSERT_EQ(one.status, 0) << one.log;
  EXPECT_EQ(eight.status, 0) << eight.log;
  EXPECT_TRUE(qrxrun::logged(eight, VsfMsg::NotEnoughMemoryForThreads)) << eight.log;
  EXPECT_FALSE(qrxrun::tablesOf(eight, "SelectionSummary").empty());
  EXPECT_EQ(listingWithoutNotes(eight.log), listingWithoutNotes(one.log));
}

// Pages beyond those kept in memory go to the utility directory. When its free space (here
// 1,000 bytes, through the test hook) cannot take them, the step ends with their size and the
// directory: before the first is written when the observations are counted ahead, else (BY
// groups) at the first page that would leave less than some pages' room.
TEST(MemoryPlan, PagesBeyondTheFreeDiskEndTheStepWithTheirSize) {
  namespace fs = std::filesystem;
  const fs::path util = fs::temp_directory_path() / ("qrx_plan_util_" + std::to_string(::getpid()));
  fs::create_directories(util);
  std::string byData = "b,y,x1,x2,x3\n";
  for (int i = 0; i < 400; ++i)
    byData += std::to_string(1 + i / 200) + "," + std::to_string(i % 7 + 0.5 * (i % 3)) + "," +
              std::to_string(i % 5) + "," + std::to_string(i % 11) + "," + std::to_string(i % 13) +
              "\n";
  const std::string options =
      "options memsize=64K pagefile_pagesize=1024 cpucount=1 utilpath='" + util.string() + "';\n";
  ::setenv("QRX_TEST_HOOKS", "utilFreeBytes=1000", 1);
  const qrxrun::ProgramRun counted =
      runManyLevels("memsize=64K pagefile_pagesize=1024 utilpath='" + util.string() + "'",
                    "selection=forward(select=sbc)", "plan_disk");
  const qrxrun::ProgramRun byGroups =
      qrxrun::runProgram(options + "proc varsifter data=d;\n  by b;\n  model y = x1 x2 x3;\n  "
                                   "performance util_buffers$=1;\nrun;\n",
                         "plan_disk_by", {{"d.csv", byData}});
  ::unsetenv("QRX_TEST_HOOKS");
  for (const qrxrun::ProgramRun* r : {&counted, &byGroups}) {
    EXPECT_EQ(r->status, 2) << r->log;
    const Value* error = qrxrun::logEntry(*r, VsfMsg::PagesDoNotFitOnDisk);
    ASSERT_NE(error, nullptr) << r->log;
    EXPECT_EQ((*error)["values"][1].s, util.string());
    EXPECT_TRUE(fs::is_empty(util));
  }
  fs::remove_all(util);
}

// FORWARD on the structured road with STORE OUT=ms under MEMSIZE=`memsize`, the item store
// read back.
qrxrun::ProgramRun runStore(const std::string& memsize, const std::string& classOptions,
                            const std::string& tag) {
  ::setenv("QRX_TEST_HOOKS", "structuredColumns=10", 1);
  qrxrun::ProgramRun r = qrxrun::runProgram(
      "options memsize=" + memsize + ";\nproc varsifter data=d;\n  class g" + classOptions +
          ";\n  model y = g x1 x2 x3 / selection=forward(select=sbc);\n  store out=ms;\nrun;\n",
      tag, {{"d.csv", synthdata::manyLevelsCsv()}}, {"ms.json"});
  ::unsetenv("QRX_TEST_HOOKS");
  return r;
}

} // namespace

// STORE with a MEMSIZE that holds the fit but not the covariance of its 122 parameters and
// the item store's text of it: the item store has the estimates, the error variance and its
// degrees of freedom without the covariance, and a note names the parameters, the effect
// and the memory the covariance would take.
TEST(MemoryPlan, CovarianceBeyondTheMemoryIsLeftOutOfTheItemStore) {
  const qrxrun::ProgramRun r = runStore("400K", "", "plan_store");
  EXPECT_EQ(r.status, 0) << r.log;
  const Value* note = qrxrun::logEntry(r, VsfMsg::CovarianceNotHanded);
  ASSERT_NE(note, nullptr) << r.log;
  EXPECT_EQ((*note)["values"][0].n, 122);
  EXPECT_EQ((*note)["values"][1].s, "g");
  EXPECT_EQ((*note)["values"][2].n, 120);
  Value store;
  std::string error;
  ASSERT_TRUE(minijson::Parser(r.files.at("ms.json")).parse(&store, &error)) << error;
  const Value& g = store["groups"].items[0];
  EXPECT_FALSE(g.has("covariance"));
  EXPECT_EQ(g["parameters"].items.size(), 122u);
  EXPECT_GT(g["errorVariance"].n, 0.0);
  EXPECT_EQ(g["errorDF"].n, 600 - 121);
}

// Under the effect coding the item store and the scoring code carry each level's coding row,
// levels x (levels - 1) numbers: where they do not fit, the fit is shown and an error names
// the variable and its levels, and nothing is handed over (no item store is written).
TEST(MemoryPlan, CodingRowsBeyondTheMemoryEndTheHandOverWithAnError) {
  const qrxrun::ProgramRun r = runStore("200K", " / param=effect", "plan_coding");
  EXPECT_EQ(r.status, 2) << r.log;
  const Value* error = qrxrun::logEntry(r, VsfMsg::CodingRowsDoNotFit);
  ASSERT_NE(error, nullptr) << r.log;
  EXPECT_EQ((*error)["values"][0].s, "g");
  EXPECT_EQ((*error)["values"][1].n, 120);
  EXPECT_FALSE(qrxrun::tablesOf(r, "SelectionSummary").empty());
  EXPECT_EQ(r.files.count("ms.json"), 0u);
}
