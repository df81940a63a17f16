// The reading pass of a run's BY group through the design context: vsfData over design
// rows of a CSV data set, pages in memory and on disk, compared with the rows the design
// row protocol gives directly.
#include "design/designfixture.h"

#include "data/vsfdata.h"
#include "data/vsfpage.h"
#include "driver/vsfcontext.h"
#include "host/ext/extlist.h"
#include "host/ext/qkpgf.h"
#include "host/pools.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

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
    ctx->options.method = 2;
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

// Every stored row's design values in reading order, rebuilt from the page layout.
std::vector<std::pair<double, std::vector<double>>> pageRows(VsfContext* ctx) {
  VsfModel& m = ctx->model;
  const VsfDataSettings* s = m.dataSettings;
  VsfRowLayout L{};
  L.entryCount = m.effectCount;
  L.denseOffset = m.denseOffset;
  L.sparseList = m.sparseEffectList;
  L.sparseCount = m.sparseEffectCount;
  L.denseColumns = m.denseColumnCount;
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
      const double* dense = c.doubles + 1;
      for (int32_t e = 0; e < L.entryCount; ++e)
        if (L.denseOffset[e] >= 0)
          for (int32_t k2 = 0; k2 < m.effectColumns[e]; ++k2)
            x[static_cast<size_t>(s->entries[e].firstColumn + k2)] = dense[L.denseOffset[e] + k2];
      const double* sparse = dense + L.denseColumns;
      int32_t v = 0; // stored values so far; each slot's count is cumulative
      for (int32_t q = 0; q < L.sparseCount; ++q) {
        const int32_t upto = c.codeEnd[-1 - q];
        for (; v < upto; ++v) {
          const int32_t col = c.codeEnd[-1 - L.sparseCount - v];
          x[static_cast<size_t>(s->entries[L.sparseList[q]].firstColumn + col)] = sparse[v];
        }
      }
      out.emplace_back(c.doubles[0], x);
    }
  }
  return out;
}

TEST(ReadingPassOverDesignRows, PagesHoldTheDesignRowsOfEveryUsableObservation) {
  designtest::DesignFixture f;
  f.data(kData);
  f.design({"g", "a"}, {"x"}, {{"x", {"x"}, {}, {}}, {"g", {}, {"g"}, {}}, {"a", {}, {"a"}, {}}});
  f.response("y");
  ASSERT_EQ(f.levelise(), 0);
  std::vector<std::pair<double, std::vector<double>>> want;
  for (const designtest::RowOut& r : f.rows())
    if ((r.status & 0x27) == 0)
      want.emplace_back(r.y, r.x);
  ASSERT_EQ(want.size(), 8u);

  for (int32_t buffers : {0, 1}) {
    qrxhost::setPageFileSizes(128, 128, 128);
    Context c;
    c.ctx->design = f.ctx;
    c.ctx->stmt.perfOptions.utilBuffers = buffers;
    ASSERT_EQ(vsfData(c.ctx.get()), 0);
    qrxhost::resetPageFileSettings();
    VsfModel& m = c.ctx->model;
    EXPECT_EQ(m.nRead, 11);
    EXPECT_EQ(m.nTrain, 8);
    EXPECT_EQ(m.parmCount, f.des.columnCount);
    // The 5-level GLM effect g is stored sparse, the others dense.
    EXPECT_EQ(m.sparseEffectCount, 1);
    EXPECT_EQ(m.sparseEffectList[0], 2);
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
  ASSERT_EQ(f.levelise(), 0);
  const std::vector<std::string> levels = f.levels("a");
  ASSERT_EQ(levels, (std::vector<std::string>{"p", "q", "r"}));
  Context c;
  c.ctx->design = f.ctx;
  c.ctx->options.cvMethod = 4;
  c.ctx->options.cvOn = 1;
  c.ctx->options.cvIndexVar = f.classIndex("a");
  ASSERT_EQ(vsfData(c.ctx.get()), 0);
  EXPECT_EQ(c.ctx->model.foldCount, 3);
  // The usable rows' a values in reading order: p q p r q r q p.
  const std::vector<int32_t> want = {0, 1, 0, 2, 1, 2, 1, 0};
  std::vector<int32_t> folds;
  VsfUtilFile& file = c.ctx->bags.files[0];
  ASSERT_EQ(file.diskPageCount, 0);
  VsfRowLayout L{};
  L.entryCount = c.ctx->model.effectCount;
  L.denseOffset = c.ctx->model.denseOffset;
  L.denseColumns = c.ctx->model.denseColumnCount;
  L.hasFold = 1;
  for (int64_t j = 0; j < file.memPageCount; ++j) {
    VsfRowCursor cur;
    vsfRowCursorStart(&cur, file.memPages[j], file.page.pageSize);
    while (vsfRowCursorNext(&cur, &L))
      folds.push_back(cur.codeEnd[-1]);
  }
  EXPECT_EQ(folds, want);
}

} // namespace
