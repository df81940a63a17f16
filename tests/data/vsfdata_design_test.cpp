// The reading pass of a run's BY group through the design context: vsfData over design
// rows of a CSV data set, pages in memory and on disk, compared with the rows the design
// row protocol gives directly.
#include "design/designfixture.h"

#include "data/vsfdata.h"
#include "data/vsfpage.h"
#include "driver/vsfdesignsource.h"
#include "driver/vsfpostinit.h"
#include "host/ext/extlist.h"
#include "host/ext/qkpgf.h"
#include "host/pools.h"
#include "output/vsfcontext.h"
#include "output/vsfeffects.h"
#include "output/vsfsync.h"
#include "support/hoststubs.h"
#include "support/testhooks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

const char* kData = "y,x,g,a\n"
                    "1,2,g1,p\n"
                    "2,3,g2,q\n"
                    "3,1,g3,p\n"
                    "4,0.5,g4,r\n"
                    "5,4,g5,q\n"
                    "6,1.5,g1,\n"
                    "7,.,g2,p\n"
                    ".,1,g3,p\n"
                    "9,2.5,g4,r\n"
                    "10,3.5,g5,q\n"
                    "11,0.25,g2,p\n";

struct Context {
  std::unique_ptr<VsfContext> ctx{new VsfContext};
  Context() {
    std::memset(static_cast<void*>(ctx.get()), 0, sizeof(VsfContext));
    ctx->byPool = qrxhost::createArenaPool("test BY pool");
    ctx->pagePool = qrxhost::createArenaPool("test page pool");
    ctx->exts.qk = Exported_QKHandle;
    ctx->exts.qkpgf = qrxhost::loadExtension("qkpgf");
    ctx->exts.qkupath = qrxhost::loadExtension("qkupath");
    ctx->perf.threadCount = 1;
    ctx->options.method = VsfMethod::Forward;
    ctx->options.trainFraction = 1.0;
  }
  ~Context() {
    vsfBagVecRelease(&ctx->bags, &ctx->exts);
    ctx->exts.qkpgf->unload(ctx->exts.qkpgf);
    ctx->exts.qkupath->unload(ctx->exts.qkupath);
    ctx->byPool->destroy(ctx->byPool);
    ctx->pagePool->destroy(ctx->pagePool);
  }
};

// The position within its effect of an entry's k-th column.
int32_t at(const VsfEffectEntry& e, int32_t k) { return e.columnList ? e.columnList[k] : k; }

// Every stored row's design values in reading order, rebuilt from the page layout.
std::vector<std::pair<double, std::vector<double>>> pageRows(VsfContext* ctx) {
  VsfModel& m = ctx->model;
  const VsfDataSettings* s = m.dataSettings;
  VsfRowLayout L{};
  L.entryCount = m.effectCount;
  L.denseOffset = m.layout.denseOffset;
  L.sparseList = m.layout.sparseEffectList;
  L.sparseCount = m.layout.sparseEffectCount;
  L.denseColumns = m.layout.denseColumnCount;
  L.hasWeight = s->weightGiven;
  L.hasFreq = s->freqGiven;
  L.hasFold = s->cvMethod != VsfCvMethod::None && (s->cv || s->xcv);
  L.hasRole = s->roleCodes;
  const int32_t lead = L.hasWeight + L.hasFreq; // doubles before the response
  const int32_t fixed = L.hasFold + L.hasRole;  // codes before the counts
  auto* pgf = reinterpret_cast<QkPgfExtension*>(ctx->exts.qkpgf);
  std::vector<std::pair<double, std::vector<double>>> out;
  const uint32_t F = ctx->bags.count;
  for (int64_t k = 0; k < s->read.pagesWritten; ++k) {
    VsfUtilFile& file = ctx->bags.files[k % F];
    const int64_t j = k / F;
    void* page;
    if (j < file.memLimit) {
      page = file.memPages[j];
    } else {
      file.page.pageNumber = j - file.memLimit + 1;
      EXPECT_EQ(pgf->qkpgfReadPage(file.file, &file.page, 0), 0);
      page = file.page.buffer;
    }
    VsfRowCursor c;
    vsfRowCursorStart(&c, page, file.page.pageSize);
    while (vsfRowCursorNext(&c, &L)) {
      std::vector<double> x(static_cast<size_t>(s->columnCount), 0.0);
      const double* dense = c.doubles + lead + 1;
      for (int32_t e = 0; e < L.entryCount; ++e)
        if (L.denseOffset[e] >= 0)
          for (int32_t k2 = 0; k2 < m.effectColumns[e]; ++k2)
            x[static_cast<size_t>(s->entries[e].firstColumn + at(s->entries[e], k2))] =
                dense[L.denseOffset[e] + k2];
      const double* sparse = dense + L.denseColumns;
      int32_t v = 0; // stored values so far; each slot's count is cumulative
      for (int32_t q = 0; q < L.sparseCount; ++q) {
        const int32_t upto = c.codeEnd[-1 - fixed - q];
        for (; v < upto; ++v) {
          const int32_t col = c.codeEnd[-1 - fixed - L.sparseCount - v];
          const VsfEffectEntry& en = s->entries[L.sparseList[q]];
          x[static_cast<size_t>(en.firstColumn + at(en, col))] = sparse[v];
        }
      }
      out.emplace_back(c.doubles[lead], x);
    }
  }
  return out;
}

TEST(ReadingPassOverDesignRows, PagesHoldTheDesignRowsOfEveryUsableObservation) {
  designtest::DesignFixture f;
  f.data(kData);
  f.design({"g", "a"}, {"x"}, {{"x", {"x"}, {}, {}}, {"g", {}, {"g"}, {}}, {"a", {}, {"a"}, {}}});
  f.response("y");
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  std::vector<std::pair<double, std::vector<double>>> want;
  for (const designtest::RowOut& r : f.rows())
    if (levRowUsable(r.status))
      want.emplace_back(r.y, r.x);
  ASSERT_EQ(want.size(), 8u);

  for (int32_t buffers : {0, 1}) {
    qrxhost::setPageFileSizes(128, 128, 128);
    Context c;
    c.ctx->design = f.ctx;
    c.ctx->stmt.perfOptions.utilBuffers = buffers;
    ASSERT_EQ(vsfData(c.ctx.get()), VsfStatus::Ok);
    qrxhost::resetPageFileSettings();
    VsfModel& m = c.ctx->model;
    EXPECT_EQ(m.totals.nRead, 11);
    EXPECT_EQ(m.totals.nTrain, 8);
    EXPECT_EQ(m.parmCount, f.des.columnCount);
    // The 5-level GLM effect g is stored sparse, the others dense.
    EXPECT_EQ(m.layout.sparseEffectCount, 1);
    EXPECT_EQ(m.layout.sparseEffectList[0], 2);
    if (buffers == 1) {
      int64_t disk = 0;
      for (uint32_t k = 0; k < c.ctx->bags.count; ++k)
        disk += c.ctx->bags.files[k].diskPageCount;
      EXPECT_GT(disk, 0);
    }
    EXPECT_EQ(pageRows(c.ctx.get()), want) << "UTIL_BUFFERS$=" << buffers;
    double sumY = 0;
    for (auto& [y, x] : want)
      sumY += y;
    EXPECT_DOUBLE_EQ(m.sumWY, sumY / 8);
  }
}

TEST(ReadingPassOverDesignRows, IndexFoldsAreTheLevelsOfTheIndexVariable) {
  designtest::DesignFixture f;
  f.data(kData);
  f.design({"g", "a"}, {"x"}, {{"x", {"x"}, {}, {}}, {"a", {}, {"a"}, {}}});
  f.response("y");
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  const std::vector<std::string> levels = f.levels("a");
  ASSERT_EQ(levels, (std::vector<std::string>{"p", "q", "r"}));
  Context c;
  c.ctx->design = f.ctx;
  c.ctx->options.cvMethod = VsfCvMethod::Index;
  c.ctx->options.cvOn = 1;
  c.ctx->options.cvIndexVar = f.classIndex("a");
  ASSERT_EQ(vsfData(c.ctx.get()), VsfStatus::Ok);
  EXPECT_EQ(c.ctx->model.cv.foldCount, 3);
  // The usable rows' a values in reading order: p q p r q r q p.
  const std::vector<int32_t> want = {0, 1, 0, 2, 1, 2, 1, 0};
  std::vector<int32_t> folds;
  VsfUtilFile& file = c.ctx->bags.files[0];
  ASSERT_EQ(file.diskPageCount, 0);
  VsfRowLayout L{};
  L.entryCount = c.ctx->model.effectCount;
  L.denseOffset = c.ctx->model.layout.denseOffset;
  L.denseColumns = c.ctx->model.layout.denseColumnCount;
  L.hasFold = 1;
  for (int64_t j = 0; j < file.memPageCount; ++j) {
    VsfRowCursor cur;
    vsfRowCursorStart(&cur, file.memPages[j], file.page.pageSize);
    while (vsfRowCursorNext(&cur, &L))
      folds.push_back(cur.codeEnd[-1]);
  }
  EXPECT_EQ(folds, want);
}

// The fold codes of the stored rows in reading order, from pages in memory or on disk.
std::vector<int32_t> pageFolds(VsfContext* ctx) {
  const VsfModel& m = ctx->model;
  VsfRowLayout L{};
  L.entryCount = m.effectCount;
  L.denseOffset = m.layout.denseOffset;
  L.denseColumns = m.layout.denseColumnCount;
  L.hasWeight = m.dataSettings->weightGiven;
  L.hasFreq = m.dataSettings->freqGiven;
  L.hasFold = 1;
  auto* pgf = reinterpret_cast<QkPgfExtension*>(ctx->exts.qkpgf);
  std::vector<int32_t> folds;
  const uint32_t F = ctx->bags.count;
  for (int64_t k = 0; k < m.dataSettings->read.pagesWritten; ++k) {
    VsfUtilFile& file = ctx->bags.files[k % F];
    const int64_t j = k / F;
    void* page = file.memPages != nullptr && j < file.memLimit ? file.memPages[j] : nullptr;
    if (page == nullptr) {
      file.page.pageNumber = j - file.memLimit + 1;
      EXPECT_EQ(pgf->qkpgfReadPage(file.file, &file.page, 0), 0);
      page = file.page.buffer;
    }
    VsfRowCursor cur;
    vsfRowCursorStart(&cur, page, file.page.pageSize);
    while (vsfRowCursorNext(&cur, &L))
      folds.push_back(cur.codeEnd[-1]);
  }
  return folds;
}

// Eight rows of y, x and a CLASS a (levels p, q, r), by FREQ f: the three rows of frequency
// 0 hold level q and no other level.
void frequencyDesign(designtest::DesignFixture& f) {
  f.data("y,x,a,f\n1,2,p,1\n2,3,q,0\n3,1,p,2\n4,0.5,r,1\n5,4,q,0\n"
         "9,2.5,r,1\n10,3.5,q,0\n11,0.25,p,1\n");
  f.design({"a"}, {"x"}, {{"x", {"x"}, {}, {}}, {"a", {}, {"a"}, {}}});
  f.response("y");
  f.freq("f");
}

// A level whose rows all have frequency 0 makes no fold: the levels after it move down, on
// pages in memory and on disk alike, and the read result keeps each fold's level.
TEST(ReadingPassOverDesignRows, IndexFoldsSkipLevelsNoUsedRowHolds) {
  designtest::DesignFixture f;
  frequencyDesign(f);
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  ASSERT_EQ(f.levels("a"), (std::vector<std::string>{"p", "q", "r"}));
  for (int32_t buffers : {0, 1}) {
    qrxhost::setPageFileSizes(128, 128, 128);
    Context c;
    c.ctx->design = f.ctx;
    c.ctx->stmt.perfOptions.utilBuffers = buffers;
    c.ctx->options.cvMethod = VsfCvMethod::Index;
    c.ctx->options.cvOn = 1;
    c.ctx->options.cvIndexVar = f.classIndex("a");
    ASSERT_EQ(vsfData(c.ctx.get()), VsfStatus::Ok);
    EXPECT_EQ(c.ctx->model.cv.foldCount, 2) << "UTIL_BUFFERS$=" << buffers;
    if (buffers == 1) {
      EXPECT_GT(c.ctx->bags.files[0].diskPageCount, 0);
    }
    const VsfReadResult& read = c.ctx->dataSettings.read;
    ASSERT_NE(read.indexFoldLevels, nullptr);
    EXPECT_EQ(read.indexFoldLevels[0], 0);
    EXPECT_EQ(read.indexFoldLevels[1], 2);
    // The used rows' a values in reading order: p p r r p.
    EXPECT_EQ(pageFolds(c.ctx.get()), (std::vector<int32_t>{0, 0, 1, 1, 0}))
        << "UTIL_BUFFERS$=" << buffers;
    qrxhost::resetPageFileSettings();
  }
}

// The folds held are those the used rows' fold codes name, whatever deals them: rows of
// frequency 0 take no fold, so SPLIT(3) over five used rows holds three folds, BLOCK(8) five,
// RANDOM(8) those its draws name, and INDEX the two levels the used rows hold.
TEST(ReadingPassOverDesignRows, FoldsHeldAreTheFoldsOfTheUsedRows) {
  designtest::DesignFixture f;
  frequencyDesign(f);
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  struct Case {
    VsfCvMethod method;
    int32_t folds;
    int32_t held; // -1: the distinct fold codes on the pages
  };
  for (const Case& k : {Case{VsfCvMethod::Split, 3, 3}, Case{VsfCvMethod::Block, 8, 5},
                        Case{VsfCvMethod::Random, 8, -1}, Case{VsfCvMethod::Index, 0, 2}}) {
    Context c;
    c.ctx->design = f.ctx;
    c.ctx->options.cvMethod = k.method;
    c.ctx->options.cvOn = 1;
    c.ctx->options.cvFolds = k.folds;
    c.ctx->options.cvIndexVar = f.classIndex("a");
    c.ctx->workingSeed = 7;
    ASSERT_EQ(vsfData(c.ctx.get()), VsfStatus::Ok);
    const std::vector<int32_t> folds = pageFolds(c.ctx.get());
    ASSERT_EQ(folds.size(), 5u);
    const auto distinct =
        static_cast<int32_t>(std::set<int32_t>(folds.begin(), folds.end()).size());
    EXPECT_EQ(c.ctx->model.cv.foldsHeld, distinct) << static_cast<int>(k.method);
    if (k.held >= 0) {
      EXPECT_EQ(distinct, k.held) << static_cast<int>(k.method);
    }
  }
}

// A held-out data set's variables, found by name as the driver's lookup finds them.
struct HeldOutNames {
  std::vector<HostVariable*> numerics, classes;
  VsfNameRecord record{};
  HeldOutNames(designtest::DesignFixture& f, HostDataSet* data) {
    auto find = [&](const std::string& name) {
      int32_t number = 0;
      (void)xvfind(data, name.c_str(), static_cast<int32_t>(name.size()), &number, 0);
      HostVariable* v = nullptr;
      if (number > 0)
        (void)xvname(data, number, &v);
      EXPECT_NE(v, nullptr) << name;
      return v;
    };
    for (const std::string& n : f.numericNames)
      numerics.push_back(find(n));
    for (const std::string& n : f.classNames)
      classes.push_back(find(n));
    record.data = data;
    record.numerics = numerics.data();
    record.classes = classes.data();
    record.response = find("y");
    record.responseFound = 1;
  }
};

HostDataSet* openCsv(designtest::DesignFixture& f, const std::string& name,
                     const std::string& text) {
  std::ofstream(f.dir / (name + ".csv")) << text;
  return xdsopen(name.c_str(), static_cast<int32_t>(name.size()));
}

TEST(ReadingPassOverDesignRows, HeldOutSetsAreReadThroughTheDesignAndPutBack) {
  designtest::DesignFixture f;
  f.data(kData);
  f.design({"g", "a"}, {"x"},
           {{"x", {"x"}, {}, {}},
            {"g", {}, {"g"}, {}},
            {"a", {}, {"a"}, {}},
            {"g*a", {}, {"g", "a"}, {}}});
  f.response("y");
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  const std::vector<designtest::RowOut> before = f.rows();
  size_t kept = 0;
  for (const designtest::RowOut& r : before)
    kept += levRowUsable(r.status) ? 1 : 0;
  // Other column order than DATA=. Rows: usable; unknown level g9; x missing; response
  // missing; usable.
  HostDataSet* ts = openCsv(f, "t",
                            "a,g,x,y\n"
                            "p,g2,1.5,20\n"
                            "q,g9,2,21\n"
                            "p,g3,.,22\n"
                            "r,g1,3,.\n"
                            "q,g5,0.5,24\n");
  // (g1,q) is no combination of DATA=: the g*a effect does not know it.
  HostDataSet* vs = openCsv(f, "v", "y,x,g,a\n30,1,g1,q\n31,2,g4,r\n");
  ASSERT_NE(ts, nullptr);
  ASSERT_NE(vs, nullptr);
  HeldOutNames testNames(f, ts), valNames(f, vs);

  HostVariable* const dataG = f.des.classes[0].var;
  HostVariable* const dataX = f.des.numerics[0].var;
  HostVariable* const dataY = f.ctx.responses[0].var;
  // Pages in memory, then pages forced to disk: the same rows either way.
  for (int32_t buffers : {0, 1}) {
    qrxhost::setPageFileSizes(128, 128, 128);
    Context c;
    c.ctx->design = f.ctx;
    c.ctx->stmt.perfOptions.utilBuffers = buffers;
    c.ctx->stmt.proc.testData = ts;
    c.ctx->stmt.proc.valData = vs;
    c.ctx->testNames = testNames.record;
    c.ctx->valNames = valNames.record;
    f.messages();
    ASSERT_EQ(vsfData(c.ctx.get()), VsfStatus::Ok);
    qrxhost::resetPageFileSettings();
    // TESTDATA=: g9 is no level of g (195); (g1,r) of the row without response is no
    // combination of g*a (180). VALDATA=: (g1,q) is none either (181).
    EXPECT_EQ(f.messages(), (std::vector<MsgId>{VsfMsg::TestdataClassLevelsNotInData,
                                                VsfMsg::TestdataEffectLevelsNotInData,
                                                VsfMsg::ValdataEffectLevelsNotInData}));
    VsfModel& m = c.ctx->model;
    EXPECT_EQ(m.totals.nTrain, static_cast<double>(kept));
    EXPECT_EQ(m.totals.testDataRead, 5);
    EXPECT_EQ(m.totals.nTest, 2);
    EXPECT_EQ(m.totals.wTest, 2);
    EXPECT_EQ(m.totals.valDataRead, 2);
    EXPECT_EQ(m.totals.nValidate, 1);
    EXPECT_EQ(m.totals.nUsed, static_cast<double>(kept)) << "rows used count DATA= only";
    int64_t disk = 0;
    for (uint32_t k = 0; k < c.ctx->bags.count; ++k)
      disk += c.ctx->bags.files[k].diskPageCount;
    EXPECT_EQ(disk > 0, buffers == 1);

    // The held-out rows follow the DATA= rows: response, x, and one 1 in each of the g, a
    // and g*a blocks, at the level of the row's value (levels are g1..g5 and p q r).
    const auto rows = pageRows(c.ctx.get());
    ASSERT_EQ(rows.size(), kept + 3);
    struct Want {
      double y, x;
      int g, a;
    };
    const Want want[3] = {{20, 1.5, 1, 0}, {24, 0.5, 4, 1}, {31, 2, 3, 2}};
    const LevDesign& d = f.des;
    for (int k = 0; k < 3; ++k) {
      const auto& [y, x] = rows[kept + static_cast<size_t>(k)];
      EXPECT_EQ(y, want[k].y);
      EXPECT_EQ(x[static_cast<size_t>(d.effects[1].firstColumn)], want[k].x);
      double g = 0, a = 0, ga = 0;
      for (int32_t j = 0; j < d.effects[2].columnCount; ++j)
        g += x[static_cast<size_t>(d.effects[2].firstColumn + j)] * (j == want[k].g ? 1 : 100);
      for (int32_t j = 0; j < d.effects[3].columnCount; ++j)
        a += x[static_cast<size_t>(d.effects[3].firstColumn + j)] * (j == want[k].a ? 1 : 100);
      for (int32_t j = 0; j < d.effects[4].columnCount; ++j)
        ga += x[static_cast<size_t>(d.effects[4].firstColumn + j)];
      EXPECT_EQ(g, 1) << "row " << k;
      EXPECT_EQ(a, 1) << "row " << k;
      EXPECT_EQ(ga, 1) << "row " << k;
    }

    // The design context reads DATA= again, with its own variables.
    EXPECT_EQ(f.block.data, f.ds);
    EXPECT_EQ(f.des.classes[0].var, dataG);
    EXPECT_EQ(f.des.numerics[0].var, dataX);
    EXPECT_EQ(f.ctx.responses[0].var, dataY);
    const std::vector<designtest::RowOut> after = f.rows();
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) {
      EXPECT_EQ(after[i].status, before[i].status);
      ASSERT_EQ(after[i].x.size(), before[i].x.size());
      // Bit for bit: a missing value is a NaN.
      EXPECT_EQ(std::memcmp(after[i].x.data(), before[i].x.data(), 8 * after[i].x.size()), 0)
          << "row " << i;
    }
  }
}

TEST(ReadingPassOverDesignRows, AHeldOutSetWithoutFreqCountsEachRowOnce) {
  designtest::DesignFixture f;
  f.data("y,x,n\n1,1,2\n2,3,3\n4,2,1\n");
  f.design({}, {"x"}, {{"x", {"x"}, {}, {}}});
  f.response("y");
  f.freq("n");
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  HostDataSet* vs = openCsv(f, "v", "y,x\n5,1\n6,2\n7,3\n");
  ASSERT_NE(vs, nullptr);
  HeldOutNames names(f, vs);
  Context c;
  c.ctx->design = f.ctx;
  c.ctx->stmt.proc.freqGiven = 1;
  c.ctx->stmt.proc.valData = vs;
  c.ctx->valNames = names.record;
  ASSERT_EQ(vsfData(c.ctx.get()), VsfStatus::Ok);
  EXPECT_EQ(c.ctx->model.totals.nObs, 6);
  EXPECT_EQ(c.ctx->model.totals.nValidate, 3);
  EXPECT_EQ(c.ctx->model.totals.freqValidate, 3);
  EXPECT_EQ(c.ctx->model.totals.valDataUsed, 3);
  // The VALDATA= rows hold its own values, with frequency 1.
  const auto stored = pageRows(c.ctx.get());
  ASSERT_EQ(stored.size(), 6u);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(stored[3 + k].first, 5 + k);
    EXPECT_EQ(stored[3 + k].second[1], 1 + k);
  }
  // The FREQ variable of DATA= is back.
  EXPECT_EQ(c.ctx->design.freq, f.ctx.freq);
  EXPECT_EQ(c.ctx->design.freq[0].var, f.ctx.freq[0].var);
  const auto rows = f.rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1].f, 3);
}

TEST(ReadingPassOverDesignRows, SplitRecordsStoreTheirColumnsAndEnterFirstAsRecorded) {
  designtest::DesignFixture f;
  f.data(kData);
  f.design({"g", "a"}, {"x"}, {{"x", {"x"}, {}, {}}, {"g", {}, {"g"}, {}}});
  f.response("y");
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  std::vector<std::pair<double, std::vector<double>>> want;
  for (const designtest::RowOut& r : f.rows())
    if (levRowUsable(r.status))
      want.emplace_back(r.y, r.x);
  // g's five columns as three records: levels {1, 3}, {0, 4} and {2}.
  int32_t cols[3][2] = {{1, 3}, {0, 4}, {2, 0}};
  VsfEffectRecord records[5] = {};
  records[0] = {0, 0, f.des.effects[0].columnCount, 0, nullptr, nullptr, nullptr, nullptr};
  records[1] = {1, 0, f.des.effects[1].columnCount, 0, nullptr, nullptr, nullptr, nullptr};
  int32_t splitVar = 0, levels[3] = {0, 1, 2};
  for (int k = 0; k < 3; ++k)
    records[2 + k] = {2, 1, k == 2 ? 1 : 2, 0, cols[k], &splitVar, &levels[k], nullptr};
  for (int32_t sparse : {0, 1}) {
    Context c;
    c.ctx->design = f.ctx;
    c.ctx->options.split = 1;
    c.ctx->effectRecords = records;
    c.ctx->effectRecordCount = 5;
    c.ctx->enteredFirstBoundary = 2;
    c.ctx->stmt.perfOptions.allSparse = static_cast<uint8_t>(sparse);
    ASSERT_EQ(vsfData(c.ctx.get()), VsfStatus::Ok);
    VsfModel& m = c.ctx->model;
    EXPECT_EQ(m.effectCount, 5);
    EXPECT_EQ(m.parmCount, f.des.columnCount);
    EXPECT_EQ(m.includeCount, 2);
    EXPECT_EQ(m.effectColumns[2], 2);
    EXPECT_EQ(m.effectColumns[4], 1);
    EXPECT_EQ(pageRows(c.ctx.get()), want) << "all sparse " << sparse;
    // Column sums in design order whatever the records: the mean of g's level g2 column.
    double g2 = 0;
    for (auto& [y, x] : want)
      g2 += x[static_cast<size_t>(f.des.effects[2].firstColumn + 1)];
    EXPECT_DOUBLE_EQ(m.moments.columnSums[f.des.effects[2].firstColumn + 1], g2 / want.size());
  }
  // A record that lists a column outside its effect is refused, not read.
  int32_t bad[1] = {9};
  records[4].columns = bad;
  Context c;
  c.ctx->design = f.ctx;
  c.ctx->options.split = 1;
  c.ctx->effectRecords = records;
  c.ctx->effectRecordCount = 5;
  EXPECT_EQ(vsfData(c.ctx.get()), VsfStatus::InternalError);
}

TEST(HeldOutSynchronize, ADataSetWithoutTheBYGroupIsReportedAndSkipped) {
  designtest::DesignFixture f;
  f.data("k,y\n1,1\n1,2\n2,3\n", "bd");
  HostDataSet* other = openCsv(f, "bt", "k,y\n2,5\n2,6\n");
  ASSERT_NE(other, nullptr);
  int32_t k = 0;
  (void)xvfind(f.ds, "k", 1, &k, 0);
  ASSERT_EQ(xbyset(f.ds, &k, nullptr, 1, 0), 0);
  ASSERT_EQ(xbylist(f.ds, other), 0);
  HostByHandle* by = xdsby(f.ds);
  ASSERT_EQ(xbynext(by), 1);
  Context c;
  c.ctx->byHandle = by;
  VsfNameRecord names{};
  names.data = other;
  // Not read by group: nothing to do.
  f.messages();
  EXPECT_EQ(vsfSynchronize(c.ctx.get(), &names, VsfMsg::TestdataLacksByGroup), 0);
  EXPECT_TRUE(f.messages().empty());
  names.bySync = 1;
  EXPECT_NE(vsfSynchronize(c.ctx.get(), &names, VsfMsg::TestdataLacksByGroup), 0);
  EXPECT_EQ(f.messages(), (std::vector<MsgId>{VsfMsg::TestdataLacksByGroup}));
  EXPECT_EQ(c.ctx->returnCode, 4);
  // The next group (k=2) is there: its two rows are read.
  ASSERT_EQ(xbynext(by), 1);
  EXPECT_EQ(vsfSynchronize(c.ctx.get(), &names, VsfMsg::ValdataLacksByGroup), 0);
  int rows = 0;
  while (xobsnext(other) == 1)
    ++rows;
  EXPECT_EQ(rows, 2);
  EXPECT_TRUE(f.messages().empty());
}

} // namespace

namespace {

// 700 observations of a weighted, counted design with two CLASS variables (g of gLevels
// levels; a with a missing value) and a numeric one (a negative zero among its values), some
// values missing and some weights and frequencies that leave the row out. Also the number of
// rows the pass must keep, counted from the values themselves.
std::string weightedClassData(int* usable, int gLevels = 5) {
  std::string text = "y,x,g,a,w,n\n";
  uint64_t state = 12345;
  auto next = [&]() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<int>((state >> 33) % 1000);
  };
  *usable = 0;
  for (int r = 0; r < 700; ++r) {
    const int u = next();
    const bool yMissing = u % 37 == 0, xMissing = u % 41 == 0, aMissing = u % 29 == 0;
    const bool wMissing = u % 43 == 0, wZero = u % 47 == 0, nZero = u % 53 == 0;
    const double w = 0.5 + (u % 13) / 4.0;
    const int n = 1 + u % 3;
    text += (yMissing ? std::string(".") : std::to_string(u / 10.0)) + "," +
            (xMissing      ? std::string(".")
             : u % 17 == 0 ? std::string("-0")
                           : std::to_string((u % 17) / 3.0)) +
            ",g" + std::to_string(u % gLevels) + "," +
            (aMissing ? std::string() : std::string("a").append(std::to_string(u % 3))) + "," +
            (wMissing ? std::string(".")
             : wZero  ? std::string("0")
                      : std::to_string(w)) +
            "," + (nZero ? std::string("0.5") : std::to_string(n)) + "\n";
    if (!yMissing && !xMissing && !aMissing && !wMissing && !wZero && !nZero)
      ++*usable;
  }
  return text;
}

// One reading pass of the fixture's design with its weight and frequency on `threads`
// threads: `keep` takes what the test compares of the pages; *sums receives the pass's counts
// and the sums of the response and of every column.
template <class Keep>
int32_t weightedPass(designtest::DesignFixture& f, int32_t threads, std::vector<double>* sums,
                     Keep keep) {
  Context c;
  c.ctx->design = f.ctx;
  c.ctx->stmt.proc.weightGiven = 1;
  c.ctx->stmt.proc.freqGiven = 1;
  c.ctx->perf.threadCount = threads;
  c.ctx->perf.threadingOn = threads > 1;
  const int32_t rc = codeOf(vsfData(c.ctx.get()));
  if (rc != 0)
    return rc;
  const VsfModel& m = c.ctx->model;
  keep(c.ctx.get());
  *sums = {m.totals.nRead, m.totals.nTrain, m.totals.freqRead, m.totals.wTrain, m.sumWY, m.sumWYY};
  for (int32_t k = 0; k < m.parmCount; ++k)
    for (const double* a :
         {m.moments.columnSums, m.moments.columnSumSquares, m.moments.columnSquareSums})
      sums->push_back(a[k]);
  return rc;
}

// The bytes of every page the pass wrote, page after page (pages held in memory).
std::vector<unsigned char> pageBytes(VsfContext* ctx) {
  std::vector<unsigned char> out;
  const uint32_t F = ctx->bags.count;
  for (int64_t k = 0; k < ctx->model.dataSettings->read.pagesWritten; ++k) {
    VsfUtilFile& file = ctx->bags.files[k % F];
    const auto* page = static_cast<const unsigned char*>(file.memPages[k / F]);
    out.insert(out.end(), page, page + file.page.pageSize);
  }
  return out;
}

} // namespace

TEST(ReadingPassOverDesignRows, WorkersStoreTheRowsAndSumsOfTheSerialPass) {
  designtest::DesignFixture f;
  int usable = 0;
  f.data(weightedClassData(&usable));
  f.design({"g", "a"}, {"x"},
           {{"x", {"x"}, {}, {}},
            {"g", {}, {"g"}, {}},
            {"a", {}, {"a"}, {}},
            {"x*g", {"x"}, {"g"}, {}}});
  f.response("y");
  f.weight("w");
  f.freq("n");
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  testHooks().readBlockRows = 16;
  auto pass = [&](int32_t threads, std::vector<std::pair<double, std::vector<double>>>* rows,
                  std::vector<double>* sums) {
    return weightedPass(f, threads, sums, [&](VsfContext* ctx) { *rows = pageRows(ctx); });
  };
  std::vector<std::pair<double, std::vector<double>>> serialRows, threadedRows;
  std::vector<double> serialSums, threadedSums;
  ASSERT_EQ(pass(1, &serialRows, &serialSums), 0);
  ASSERT_EQ(serialRows.size(), static_cast<size_t>(usable));
  EXPECT_EQ(serialSums[0], 700);
  for (int32_t threads : {2, 4}) {
    ASSERT_EQ(pass(threads, &threadedRows, &threadedSums), 0) << threads;
    EXPECT_EQ(threadedRows, serialRows) << threads;
    ASSERT_EQ(threadedSums.size(), serialSums.size());
    // Bit for bit: the main thread adds the rows in the serial order.
    EXPECT_EQ(
        std::memcmp(threadedSums.data(), serialSums.data(), sizeof(double) * serialSums.size()), 0)
        << threads;
  }
  // A worker that runs out of memory fails the pass (the driver reports 848/140) after
  // the workers have stopped; the serial pass has no workers to fail.
  for (int64_t block : {1, 3, 44}) {
    testHooks().failReadBlock = block;
    EXPECT_EQ(pass(4, &threadedRows, &threadedSums), -2) << block;
    EXPECT_EQ(pass(1, &threadedRows, &threadedSums), 0) << block;
    testHooks().failReadBlock = 0;
  }
  testHooks().readBlockRows = 0;
}

// With numeric effects alone the rows have one size, and the workers copy them onto the places
// the main thread gives them: the pages must be those of the serial pass byte for byte,
// weights and floored frequencies included, whatever the thread count and block size.
TEST(ReadingPassOverDesignRows, WorkersCopyTheRowsOntoThePagesOfTheSerialPass) {
  designtest::DesignFixture f;
  std::string text = "y,x1,x2,w,n\n";
  uint64_t state = 99;
  auto next = [&]() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<int>((state >> 33) % 1000);
  };
  for (int r = 0; r < 3000; ++r) {
    const int u = next();
    text += (u % 31 == 0 ? std::string(".") : std::to_string(u / 7.0)) + "," +
            std::to_string((u % 19) / 3.0) + "," +
            (u % 37 == 0 ? std::string(".") : std::to_string(u % 23 - 11.5)) + "," +
            (u % 41 == 0 ? std::string("0") : std::to_string(0.25 + (u % 9) / 2.0)) + "," +
            std::to_string(1 + (u % 4) * 0.7) + "\n";
  }
  f.data(text);
  f.design({}, {"x1", "x2"},
           {{"x1", {"x1"}, {}, {}}, {"x2", {"x2"}, {}, {}}, {"x1*x2", {"x1", "x2"}, {}, {}}});
  f.response("y");
  f.weight("w");
  f.freq("n");
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  auto pass = [&](int32_t threads, std::vector<unsigned char>* pages, std::vector<double>* sums) {
    return weightedPass(f, threads, sums, [&](VsfContext* ctx) { *pages = pageBytes(ctx); });
  };
  std::vector<unsigned char> serialPages, pages;
  std::vector<double> serialSums, sums;
  ASSERT_EQ(pass(1, &serialPages, &serialSums), 0);
  ASSERT_FALSE(serialPages.empty());
  for (int32_t blockRows : {16, 0})
    for (int32_t threads : {2, 4}) {
      testHooks().readBlockRows = blockRows;
      ASSERT_EQ(pass(threads, &pages, &sums), 0) << threads;
      EXPECT_GT(testHooks().readBlocksCopied.load(), 0)
          << threads << " threads, blocks of " << blockRows;
      EXPECT_TRUE(pages == serialPages) << threads << " threads, blocks of " << blockRows;
      ASSERT_EQ(sums.size(), serialSums.size());
      EXPECT_EQ(std::memcmp(sums.data(), serialSums.data(), sizeof(double) * sums.size()), 0)
          << threads;
    }
  testHooks().readBlockRows = 0;
}

// Rows taken as their non-zero values store the pages and sums of the dense road byte for
// byte, built on the main thread and on workers: under the GLM design and under the REFERENCE
// codings (crossed, nested, times a numeric variable), and with an EFFECT-coded variable,
// whose row at the reference level fills its block (also the many-level g: its other levels
// keep the rows sparse). The negative zeros of x stay on the pages.
TEST(ReadingPassOverDesignRows, SparseRowsStoreThePagesAndSumsOfTheDenseRoad) {
  const std::vector<designtest::EffectSpec> all = {
      {"x", {"x"}, {}, {}},      {"g", {}, {"g"}, {}},        {"a", {}, {"a"}, {}},
      {"x*g", {"x"}, {"g"}, {}}, {"g*a", {}, {"g", "a"}, {}}, {"g(a)", {}, {"g"}, {"a"}}};
  // An EFFECT-coded crossing fills its block at every level of g: no sparse road for it.
  const std::vector<designtest::EffectSpec> noEffectCrossing = {all[0], all[1], all[2], all[3],
                                                                all[5]};
  struct Coding {
    bool glm;
    ClassCoding a;
    ClassCoding g = CC_REFERENCE;
  };
  for (const Coding coding : {Coding{true, CC_REFERENCE}, Coding{false, CC_REFERENCE},
                              Coding{false, CC_EFFECT}, Coding{false, CC_EFFECT, CC_EFFECT}}) {
    designtest::DesignFixture f;
    int usable = 0;
    f.data(weightedClassData(&usable, 40));
    f.design({"g", "a"}, {"x"}, coding.a == CC_EFFECT ? noEffectCrossing : all);
    if (!coding.glm) {
      f.des.designFlags.set(LevDesignFlag::NonGlm);
      f.cls("g")->coding = coding.g;
      f.cls("a")->coding = coding.a;
    }
    f.response("y");
    f.weight("w");
    f.freq("n");
    ASSERT_EQ(f.levelise(), LevBuild::Ready);
    testHooks().readBlockRows = 16;
    for (int32_t threads : {1, 4}) {
      const std::string where = (coding.glm              ? "GLM, "
                                 : coding.g == CC_EFFECT ? "EFFECT g, "
                                 : coding.a == CC_EFFECT ? "EFFECT, "
                                                         : "REFERENCE, ") +
                                std::to_string(threads) + " threads";
      std::vector<unsigned char> densePages, pages;
      std::vector<double> denseSums, sums;
      testHooks().readDenseRows = 1;
      ASSERT_EQ(weightedPass(f, threads, &denseSums,
                             [&](VsfContext* ctx) { densePages = pageBytes(ctx); }),
                0)
          << where;
      EXPECT_EQ(testHooks().readSparseRows.load(), 0) << where;
      testHooks().readDenseRows = 0;
      ASSERT_EQ(weightedPass(f, threads, &sums, [&](VsfContext* ctx) { pages = pageBytes(ctx); }),
                0)
          << where;
      EXPECT_EQ(testHooks().readSparseRows.load(), 1) << where;
      ASSERT_FALSE(pages.empty()) << where;
      EXPECT_TRUE(pages == densePages) << where;
      ASSERT_EQ(sums.size(), denseSums.size());
      EXPECT_EQ(std::memcmp(sums.data(), denseSums.data(), sizeof(double) * sums.size()), 0)
          << where;
    }
  }
  testHooks().reset();
}
