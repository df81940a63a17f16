// The PERFORMANCE tables: the PerfSettings entries by thread and processor settings, the
// Timing rows and their "other" remainder on a clock the test drives, a printer inside
// another one counted once, and UtilInfo sizes of page files beyond 32 bits.
#include "resultsfixture.h"

#include "host/hostapi.h"
#include "output/vsfprint.h"
#include "output/vsfresults.h"
#include "support/hoststubs.h"

#include <vector>

using namespace restest;

namespace {

std::string msg(int number) {
  const qrxhost::MessageDef* m = qrxhost::findMessage(848, number);
  return m != nullptr ? m->text : "<missing " + std::to_string(number) + ">";
}

// A clock that reads what the test sets.
double gNow = 0.0;
double fakeClock() { return gNow; }

struct Perf : ResultsFixture {
  double (*realClock)() = nullptr;
  void SetUp() override {
    ResultsFixture::SetUp();
    realClock = hostGroups(HG_TIME)->time->zdattim;
    hostGroups(HG_TIME)->time->zdattim = fakeClock;
    gNow = 100.0;
  }
  void TearDown() override {
    hostGroups(HG_TIME)->time->zdattim = realClock;
    ResultsFixture::TearDown();
  }
};

std::vector<std::string> entryLabels(const minijson::Value& f) {
  std::vector<std::string> out;
  for (const auto& e : f["entries"].items)
    out.push_back(e["label"].s);
  return out;
}

// The Timing rows as (label without its indentation, seconds).
std::vector<std::pair<std::string, double>> timingRows(const minijson::Value& t) {
  std::vector<std::pair<std::string, double>> out;
  for (size_t r = 0; r < t["rows"].items.size(); ++r) {
    std::string label = cell(t, r, "CodeSection");
    label.erase(0, label.find_first_not_of(' '));
    out.emplace_back(label, number(t, r, "time"));
  }
  return out;
}

std::string trimmed(int number) {
  std::string s = msg(number);
  return s.erase(0, s.find_first_not_of(' '));
}

TEST_F(Perf, SettingsShowOneCountWhenBothAgreeAndTwoOtherwise) {
  ctx->perf.threadsSetting = 1;
  ctx->perf.threadingOn = 1;
  ctx->perf.cpuCountSetting = 4;
  ctx->perf.actualCpuCount = 4;
  ctx->perf.threadCount = 4;
  ctx->options.fullXpx = 1;
  ASSERT_EQ(vsfpPerf(ctx.get()), VsfStatus::Ok);
  ctx->perf.threadingOn = 0; // asked for, but turned off
  ctx->perf.cpuCountSetting = 2;
  ctx->options.fullXpx = 0;
  ASSERT_EQ(vsfpPerf(ctx.get()), VsfStatus::Ok);
  auto out = output();
  auto factoids = find(out, "PerfSettings");
  ASSERT_EQ(factoids.size(), 2u);
  EXPECT_EQ((*factoids[0])["template"].s, "Stat.VARSIFTER.PerfSettings");
  EXPECT_EQ(entryLabels(*factoids[0]),
            (std::vector<std::string>{msg(731), msg(734), msg(743), msg(739)}));
  EXPECT_EQ(entryLabels(*factoids[1]),
            (std::vector<std::string>{msg(731), msg(742), msg(735), msg(736), msg(743), msg(739)}));
  EXPECT_EQ((*factoids[0])["entries"][1]["value"].n, 4);
  EXPECT_EQ((*factoids[0])["entries"][2]["value"].n, 4);
  EXPECT_EQ((*factoids[1])["entries"][2]["value"].n, 2);
  EXPECT_EQ((*factoids[1])["entries"][3]["value"].n, 4);
  EXPECT_EQ((*factoids[1])["entries"][4]["value"].n, 1) << "threading off: one thread used";
  EXPECT_EQ((*factoids[1])["entries"][5]["value"].s, msg(741));
}

TEST_F(Perf, TimingRowsAndTheRemainderOfTheRun) {
  ctx->runStart = 100.0;
  ctx->setupTime = 1.0, ctx->dataTime = 2.0, ctx->levTime = 0.0, ctx->fitTime = 3.0;
  ctx->resultsTime = 1.5, ctx->cleanupTime = 0.5, ctx->printTime = 0.75;
  ctx->graphTime = 0.25, ctx->macroTime = -1.0; // a clock that stepped back shows 0
  gNow = 110.0;
  ASSERT_EQ(vsfTimes(ctx.get()), VsfStatus::Ok); // no detail rows without ALLDETAILS$
  ctx->perf.allDetails = 1;
  ASSERT_EQ(vsfTimes(ctx.get()), VsfStatus::Ok);
  auto out = output();
  auto tables = find(out, "Timing");
  ASSERT_EQ(tables.size(), 2u);
  EXPECT_EQ((*tables[0])["template"].s, "Stat.VarSifter.Timing");
  // Levelisation took no time and there is no model averaging: neither row is shown. The
  // remainder is the elapsed 10 s less the sections of the run (8 s); the detail rows are
  // parts of "results" and are not subtracted again.
  const std::vector<std::pair<std::string, double>> plain = {
      {trimmed(701), 1.0}, {trimmed(702), 2.0}, {trimmed(705), 3.0}, {trimmed(706), 1.5},
      {trimmed(712), 0.5}, {trimmed(714), 2.0}, {trimmed(713), 10.0}};
  EXPECT_EQ(timingRows(*tables[0]), plain);
  const std::vector<std::pair<std::string, double>> detailed = {
      {trimmed(701), 1.0}, {trimmed(702), 2.0},  {trimmed(705), 3.0},
      {trimmed(706), 1.5}, {trimmed(707), 0.75}, {trimmed(708), 0.25},
      {trimmed(712), 0.5}, {trimmed(714), 2.0},  {trimmed(713), 10.0}};
  EXPECT_EQ(timingRows(*tables[1]), detailed);
}

TEST_F(Perf, APrinterInsideAnotherIsCountedOnce) {
  {
    VsfOut outer(ctx.get());
    gNow += 2.0;
    {
      VsfOut inner(ctx.get());
      gNow += 3.0;
      inner.finish();
    }
    gNow += 1.0;
    outer.finish();
  }
  EXPECT_DOUBLE_EQ(ctx->printTime, 6.0);
  EXPECT_EQ(ctx->printDepth, 0);
  {
    VsfOut failed(ctx.get()); // left without finishing: it still leaves the depth as it was
  }
  VsfOut alone(ctx.get());
  gNow += 0.5;
  alone.finish();
  EXPECT_DOUBLE_EQ(ctx->printTime, 6.5);
}

TEST_F(Perf, UtilInfoSizesBeyondThirtyTwoBits) {
  VsfUtilFile files[2] = {};
  files[0].page.pageSize = 65536;
  files[0].diskPageCount = 10;
  files[0].memPageCount = 3;
  // 3,000,000,000 pages of 1 MiB: 3e12 KB (about 2.8 PiB), far beyond 32 bits.
  files[1].page.pageSize = 1 << 20;
  files[1].diskPageCount = 3000000000LL;
  files[1].memPageCount = 1;
  ctx->bags.files = files;
  ctx->bags.count = 2;
  ASSERT_EQ(vsfpUtilInfo(ctx.get()), VsfStatus::Ok);
  ctx->bags.count = 0;
  ASSERT_EQ(vsfpUtilInfo(ctx.get()), VsfStatus::Ok);
  ctx->bags.files = nullptr;
  auto out = output();
  auto tables = find(out, "UtilInfo");
  ASSERT_EQ(tables.size(), 2u);
  const auto& t = *tables[0];
  EXPECT_EQ(t["template"].s, "Stat.VARSIFTER.UtilInfo");
  ASSERT_EQ(t["rows"].items.size(), 2u);
  EXPECT_EQ(number(t, 0, "UtilFile"), 0);
  EXPECT_EQ(number(t, 0, "NumBuffers"), 3);
  EXPECT_EQ(number(t, 0, "PageSize"), 64);
  EXPECT_EQ(number(t, 0, "FileSize"), 640);
  EXPECT_EQ(number(t, 1, "UtilFile"), 1);
  EXPECT_EQ(number(t, 1, "NumPages"), 3000000000.0);
  EXPECT_EQ(number(t, 1, "PageSize"), 1024);
  EXPECT_EQ(number(t, 1, "FileSize"), 3072000000000.0);
  EXPECT_EQ((*tables[1])["rows"].items.size(), 0u);
  EXPECT_EQ(columnNames(*tables[1]),
            (std::vector<std::string>{"UtilFile", "NumBuffers", "NumPages", "PageSize", "FileSize",
                                      "Directory"}));
}

} // namespace
