// Tests of the threading frame, the thread pool, the fault hook on page files and the
// scratch files: threaded sums equal serial sums across thread counts; page transforms
// rewrite pages on disk; a failing worker fails the pass; every injected I/O failure ends
// the run with its message and no file left; scratch records come back at their positions.
#include "datafixture.h"

#include "host/ext/extlist.h"
#include "host/ext/qkmemfig.h"
#include "host/ext/qkpgf.h"
#include "host/ext/qkupath.h"
#include "host/hostlog.h"
#include "host/pools.h"
#include "host/supervisor.h"
#include "host/testswitches.h"
#include "host/workpool.h"
#include "kernels/vsfkernelsums.h"
#include "support/testhooks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <thread>
#include <unistd.h>

using namespace datatest;

namespace {

Source makeRows(int n, bool integral) {
  Source src;
  for (int i = 0; i < n; ++i) {
    Obs o;
    o.y = integral ? (i * 37 % 101) - 50 : std::sin(i * 0.7) * 1e3;
    // A vector moved in: assigning a list to the empty one makes GCC 12 warn at -O3 of a
    // null copy (-Wnonnull) on a road it cannot take.
    o.x =
        std::vector<double>{integral ? double(i % 5) : std::cos(i * 1.3), double(i % 3), 0.0, 1.0};
    o.f = 1 + i % 4;
    o.w = integral ? 1 + i % 2 : 0.25 + (i % 5) * 0.5;
    src.rows.push_back(o);
  }
  return src;
}

struct Expect {
  double sumY = 0;
  double entry[2] = {0, 0};
};

Expect reference(const Source& src) {
  Expect e;
  for (const Obs& o : src.rows) {
    e.sumY += o.y * o.w * o.f;
    e.entry[0] += o.x[0] + o.x[1];
    e.entry[1] += o.x[2] + o.x[3];
  }
  return e;
}

struct Frame : ::testing::Test {
  void SetUp() override {
    qrxhost::resetPageFileSettings();
    qrxhost::setPageFileSizes(256, 256, 256); // a few rows a page
    loggedNumbers();
  }
  void TearDown() override {
    qrxhost::resetPageFileSettings();
    EXPECT_EQ(qrxhost::liveUtilityFiles(), 0);
  }
  // Reads src with T page threads and two in-memory pages per file, and runs one pass.
  static void prepare(PageRun& run, Source& src, int32_t T) {
    denseEntries(run, {2, 2});
    run.settings.weightGiven = run.settings.freqGiven = 1;
    run.settings.threadCount = T;
    run.settings.threadingOn = T > 1;
    run.settings.utilBuffers = 2;
    ASSERT_EQ(run.read(src), 0);
    ASSERT_EQ(run.startThreads(T), 0);
    run.model.pathPass.corr =
        static_cast<double*>(run.modelPool->allocate(run.modelPool, sizeof(double) * 2, kQkZeroed));
  }
};

TEST_F(Frame, ThreadedSumsEqualSerialSumsForEveryThreadCount) {
  for (bool integral : {true, false}) {
    Source src = makeRows(500, integral);
    Expect want = reference(src);
    for (int32_t T : {1, 2, 4, 8}) {
      PageRun run;
      prepare(run, src, T);
      ASSERT_EQ(run.bags.count, static_cast<uint32_t>(T));
      int64_t disk = 0;
      for (uint32_t f = 0; f < run.bags.count; ++f)
        disk += run.bags.files[f].diskPageCount;
      EXPECT_GT(disk, 0) << "pages cross to disk";
      ASSERT_EQ(vsfExecuteByThreads(&run.model, sumY, sumY_t, 0), VsfStatus::Ok);
      ASSERT_EQ(vsfExecuteByThreads(&run.model, entrySums, entrySums_t, 0), VsfStatus::Ok);
      if (integral) { // exact sums: equal to the bit whatever the order of additions
        EXPECT_EQ(run.model.sse, want.sumY) << T;
        EXPECT_EQ(run.model.pathPass.corr[0], want.entry[0]) << T;
        EXPECT_EQ(run.model.pathPass.corr[1], want.entry[1]) << T;
      } else {
        EXPECT_NEAR(run.model.sse, want.sumY, 1e-12 * std::fabs(want.sumY)) << T;
        EXPECT_NEAR(run.model.pathPass.corr[0], want.entry[0], 1e-12 * std::fabs(want.entry[0]))
            << T;
      }
      EXPECT_EQ(run.puddle.items, nullptr) << "items given back";
    }
  }
}

TEST_F(Frame, FoldCountsArePerFoldAndExact) {
  Source src = makeRows(97, true);
  for (int32_t T : {1, 4}) {
    PageRun run;
    run.settings.cvMethod = VsfCvMethod::Split;
    run.settings.cv = 1;
    run.settings.folds = 3;
    prepare(run, src, T);
    VsfFoldRecord folds[3] = {};
    run.model.cv.folds = folds;
    ASSERT_EQ(vsfExecuteByThreads(&run.model, foldCounts, foldCounts_t, 0), VsfStatus::Ok);
    for (int f = 0; f < 3; ++f) {
      double rows = 0, freqs = 0, weights = 0;
      for (size_t i = static_cast<size_t>(f); i < src.rows.size(); i += 3) {
        rows += 1;
        freqs += src.rows[i].f;
        weights += src.rows[i].f * src.rows[i].w;
      }
      EXPECT_EQ(folds[f].rowCount, rows);
      EXPECT_EQ(folds[f].freqCount, freqs);
      EXPECT_EQ(folds[f].weightCount, weights);
    }
  }
}

TEST_F(Frame, PageTransformsRewriteDiskPagesForLaterPasses) {
  Source src = makeRows(300, true);
  Expect want = reference(src);
  for (int32_t T : {1, 3}) {
    PageRun run;
    run.settings.rewritePages = 1;
    prepare(run, src, T);
    ASSERT_EQ(vsfExecuteByThreads(&run.model, doubleY, doubleY_t, 0), VsfStatus::Ok);
    ASSERT_EQ(vsfExecuteByThreads(&run.model, sumY, sumY_t, 0), VsfStatus::Ok);
    EXPECT_EQ(run.model.sse, 2 * want.sumY) << T;
  }
}

int32_t gFailFile = -1;
constexpr VsfStatus kKernelFailed = VsfStatus::ReportedFailure;
VsfStatus failingSerial(VsfPassState*, QkPageDescriptor* page) {
  return page->pageNumber == 2 ? kKernelFailed : VsfStatus::Ok;
}
VsfStatus failingThreaded(VsfPassState* m, QkPageDescriptor* page, double* b, int64_t) {
  if (&m->bags->files[gFailFile].page == page)
    return kKernelFailed;
  b[0] += 1;
  return VsfStatus::Ok;
}

TEST_F(Frame, AFailingWorkerFailsThePassAndNothingIsFolded) {
  vsfRegisterKernelPair(failingSerial, failingThreaded, kVsfFunValueUse);
  Source src = makeRows(200, true);
  for (int32_t T : {1, 4}) {
    PageRun run;
    prepare(run, src, T);
    gFailFile = T - 1;
    EXPECT_EQ(vsfExecuteByThreads(&run.model, failingSerial, failingThreaded, 0), kKernelFailed)
        << T;
    EXPECT_EQ(run.model.sse, 0.0) << "no partial sums";
  }
}

// A part of a shared-triangle pass that checks the pace of the parts: before its page, no
// part that has begun and not ended is more than the lead behind it (in pages ended), beyond
// the pages a part may walk between two looks at the others (the lead and one more), once
// it has had such a look since the other began. It counts the rows it walks, and fails,
// late, on page gPaceFailAt of part gPaceFailPart.
constexpr int64_t kPaceLead = 2;
constexpr int32_t kPaceParts = 4;
std::atomic<int64_t> gPaceEnded[kPaceParts], gPaceRows[kPaceParts];
std::atomic<bool> gPaceBegun[kPaceParts];
// For each part, the pages each part had ended when it began.
std::atomic<int64_t> gPaceBeganAt[kPaceParts][kPaceParts];
std::atomic<int32_t> gPaceAhead{0};
int64_t gPacePages = 0;
int32_t gPaceFailPart = -1;
int64_t gPaceFailAt = -1;

VsfStatus pacedPart(VsfPassState*, QkPageDescriptor* page, int32_t part, int32_t parts,
                    std::atomic<VsfPageNote>*, VsfPageSpan*) {
  const int64_t k = gPaceEnded[part].load();
  const int64_t between = kPaceLead + 1;
  for (int32_t q = 0; q < parts; ++q) {
    const int64_t ended = gPaceEnded[q].load();
    const bool seen = gPaceBegun[q].load() && k - gPaceBeganAt[q][part].load() > between;
    if (seen && ended < gPacePages && k - ended > kPaceLead + between)
      ++gPaceAhead;
  }
  if (!gPaceBegun[part].load()) {
    for (int32_t q = 0; q < parts; ++q)
      gPaceBeganAt[part][q] = gPaceEnded[q].load();
    gPaceBegun[part] = true;
  }
  if (part == gPaceFailPart && k == gPaceFailAt) {
    // Late enough that the others have caught up and wait for this part.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return kKernelFailed;
  }
  // Part 0 walks slowly, so that unpaced parts would run far ahead of it.
  if (part == 0)
    std::this_thread::sleep_for(std::chrono::microseconds(300));
  double rows;
  std::memcpy(&rows, page->buffer, sizeof rows);
  gPaceRows[part] += static_cast<int64_t>(rows);
  gPaceEnded[part] = k + 1;
  return VsfStatus::Ok;
}
VsfStatus pacedSerial(VsfPassState*, QkPageDescriptor*) { return VsfStatus::Ok; }
VsfStatus pacedThreaded(VsfPassState*, QkPageDescriptor*, double*, int64_t) {
  return VsfStatus::Ok;
}
// A buffer past the shared triangle's threshold, with no page groups: the shared road.
int64_t pacedLength(const VsfPassState*, int64_t) { return int64_t{1} << 20; }

// The parts of a shared-triangle pass keep within a few pages of one another, so that a page
// comes from memory once for all of them, and every part still walks every row. A part that
// fails ends the pass with its status while the others wait on it, and parts that outnumber
// the pool's workers (run one after another) end: a part not yet begun is never waited for.
TEST_F(Frame, SharedRoadPartsKeepPaceEndAfterAFailureAndOnFewerWorkers) {
  const VsfKernelUse use{VsfPageUse::Reads, pacedLength, nullptr, false, nullptr, false};
  vsfRegisterKernelPair(pacedSerial, pacedThreaded, use);
  vsfRegisterSharedForm(pacedThreaded, nullptr, pacedPart);
  testHooks().partLeadPages = kPaceLead;
  Source src = makeRows(3000, true);
  struct Case {
    int32_t failPart;
    bool oneWorker;
  };
  // One worker first, while the process has started no more (when run alone).
  for (const Case c : {Case{-1, true}, Case{-1, false}, Case{2, false}}) {
    SCOPED_TRACE(testing::Message() << "fail part " << c.failPart << " one worker " << c.oneWorker);
    if (c.oneWorker) {
      qrxhost::workPoolGrow(1);
      qrxhost::workPoolFailStarts(true);
    }
    PageRun run;
    denseEntries(run, {2, 2});
    run.settings.threadCount = kPaceParts;
    run.settings.threadingOn = 1;
    ASSERT_EQ(run.read(src), 0);
    ASSERT_EQ(run.startThreads(kPaceParts), 0);
    ASSERT_TRUE(vsfAllPagesInMemory(&run.bags));
    gPacePages = 0;
    for (uint32_t f = 0; f < run.bags.count; ++f)
      gPacePages += run.bags.files[f].memPageCount;
    ASSERT_GT(gPacePages, 10 * kPaceLead);
    for (int32_t q = 0; q < kPaceParts; ++q)
      gPaceEnded[q] = gPaceRows[q] = 0, gPaceBegun[q] = false;
    for (auto& began : gPaceBeganAt)
      for (auto& at : began)
        at = 0;
    gPaceAhead = 0;
    gPaceFailPart = c.failPart;
    gPaceFailAt = gPacePages / 2;
    const VsfStatus rc = vsfExecuteByThreads(&run.model, pacedSerial, pacedThreaded, 0);
    qrxhost::workPoolFailStarts(false);
    if (c.failPart >= 0) {
      EXPECT_EQ(rc, kKernelFailed);
      continue;
    }
    ASSERT_EQ(rc, VsfStatus::Ok);
    EXPECT_EQ(gPaceAhead.load(), 0);
    for (int32_t q = 0; q < kPaceParts; ++q)
      EXPECT_EQ(gPaceRows[q].load(), 3000) << q;
  }
  testHooks().partLeadPages.reset();
}

TEST_F(Frame, TheThreadCountFallsWithTheMemoryBudget) {
  Source src = makeRows(50, true);
  qrxhost::setMemoryFigureForTest(1); // 1 kilobyte: nothing can be fed
  {
    PageRun run;
    denseEntries(run, {2, 2});
    run.settings.weightGiven = run.settings.freqGiven = 1;
    run.settings.threadCount = 4;
    run.settings.threadingOn = 1;
    ASSERT_EQ(run.read(src), 0);
    EXPECT_EQ(run.settings.threadCount, 1);
    EXPECT_EQ(run.settings.threadingOn, 0);
    auto logged = loggedNumbers();
    EXPECT_NE(std::find(logged.begin(), logged.end(), VsfMsg::NotEnoughMemoryForThreads),
              logged.end());
    for (uint32_t f = 0; f < run.bags.count; ++f)
      EXPECT_EQ(run.bags.files[f].memLimit, 1);
    // Four files were made; the frame now runs serially over all of them.
    run.model.pathPass.corr =
        static_cast<double*>(run.modelPool->allocate(run.modelPool, sizeof(double) * 2, kQkZeroed));
    ASSERT_EQ(vsfExecuteByThreads(&run.model, sumY, sumY_t, 0), VsfStatus::Ok);
    EXPECT_EQ(run.model.sse, reference(src).sumY);
  }
  qrxhost::setMemoryFigureForTest(-1);
  {
    PageRun run;
    denseEntries(run, {1});
    EXPECT_EQ(run.read(src), -16);
    EXPECT_GE(run.returnCode, 1012);
    auto logged = loggedNumbers();
    EXPECT_NE(std::find(logged.begin(), logged.end(), VsfMsg::MemoryAmountUnknown), logged.end());
  }
  qrxhost::setMemoryFigureForTest(0);
}

TEST_F(Frame, EveryInjectedIoFailureEndsWithAMessageACodeAndNoFileLeft) {
  Source src = makeRows(120, true);
  int failures = 0;
  for (int64_t n = 1; n < 1000; ++n) {
    int32_t rc = 0, returnCode = 0;
    std::vector<MsgId> logged;
    std::string written; // the text of a failed page write
    uint32_t pageSize = 0;
    {
      PageRun run;
      denseEntries(run, {2, 2});
      run.settings.cvMethod = VsfCvMethod::Block;
      run.settings.cv = 1;
      run.settings.folds = 3;
      run.settings.utilBuffers = 1;
      qrxhost::failUtilityIoAt(n);
      rc = run.read(src);
      if (rc == 0)
        rc = codeOf(vsfExecuteByThreads(&run.model, sumY, sumY_t, 0));
      qrxhost::failUtilityIoAt(0);
      returnCode = run.returnCode;
      pageSize = run.bags.count > 0 ? run.bags.files[0].page.pageSize : 0;
      for (const auto& r : qrxhost::takeLog())
        if (r.numbered) {
          logged.push_back(MsgId::of(r));
          if (logged.back() == VsfMsg::UtilityPageNotWritten)
            written = r.text;
        }
    }
    EXPECT_EQ(qrxhost::liveUtilityFiles(), 0) << n;
    if (rc == 0)
      break; // n is past the last read or write of the run
    ++failures;
    // While reading, each failure has its message and raises the return code; in a
    // later pass the page-file status fails the pass.
    const std::map<int32_t, VsfMsg> messageOf = {{-11, VsfMsg::UtilityPageNotRead},
                                                 {-12, VsfMsg::UtilityPageNotWritten},
                                                 {-40, VsfMsg::UtilityFileNotClosed},
                                                 {-41, VsfMsg::UtilityFileNotReopened}};
    if (auto it = messageOf.find(rc); it != messageOf.end()) {
      EXPECT_GE(returnCode, 1020) << n;
      EXPECT_NE(std::find(logged.begin(), logged.end(), it->second), logged.end()) << n;
      // A failed write names the file, the bytes asked and the system's reason.
      if (rc == -12) {
        EXPECT_NE(written.find(qrxhost::utilityDirectory()), std::string::npos) << written;
        EXPECT_NE(written.find(".utl"), std::string::npos) << written;
        EXPECT_NE(written.find(std::strerror(EIO)), std::string::npos) << written;
        EXPECT_NE(written.find(std::to_string(pageSize) + " bytes"), std::string::npos) << written;
      }
    } else {
      EXPECT_EQ(rc, kQkPgfIoError) << "a failed page read fails the pass: " << n;
    }
  }
  EXPECT_GT(failures, 5);
}

TEST(Scratch, RecordsComeBackAtTheirPositionsAndNoFileRemains) {
  setUpHost();
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() /
                 ("qrx scratch dir " + std::to_string(::getpid()) + std::string(70, 'x'));
  fs::create_directories(dir);
  qrxhost::setHostOption("UTILPATH", dir.string());
  QkExtensionSet exts{};
  exts.qkbkf = qrxhost::loadExtension("qkbkf");
  exts.qkupath = qrxhost::loadExtension("qkupath");
  std::u32string wideDir;
  for (char c : dir.string())
    wideDir += static_cast<char32_t>(static_cast<unsigned char>(c));
  for (int32_t index : {0, 3}) {
    VsfScratch s{};
    uint8_t status = 9;
    // Index 0 takes the utility directory whatever the directory arguments hold.
    const std::u32string elsewhere = U"/nonexistent/elsewhere";
    const std::u32string& given = index == 0 ? elsewhere : wideDir;
    ASSERT_EQ(vsfCreateScratch(&s, &exts, index, static_cast<int64_t>(given.size()), given.data(),
                               1, &status),
              0);
    EXPECT_EQ(status, 0);
    std::u32string path(s.path, static_cast<size_t>(s.pathLength));
    if (index != 0)
      EXPECT_EQ(path, wideDir + U"/resample_3.utl") << "the directory is not cut";
    else
      EXPECT_EQ(path.substr(0, wideDir.size() + 1), wideDir + U"/");
    int64_t pos = 0;
    double a[3] = {1.5, -2, 3}, b[2] = {7, 8};
    ASSERT_EQ(vsfWriteScratch(s.file, a, sizeof a, &pos), 0);
    int64_t second = pos;
    ASSERT_EQ(vsfWriteScratch(s.file, b, sizeof b, &pos), 0);
    EXPECT_EQ(pos, 40);
    ASSERT_EQ(vsfEofMarker(s.file), 0);
    double got[4] = {};
    int64_t rpos = second;
    ASSERT_EQ(vsfReadScratch(s.file, got, sizeof got, &rpos), 0);
    EXPECT_EQ(got[0], 7);
    EXPECT_EQ(got[1], 8);
    EXPECT_EQ(got[2], 1.7976931348623157e308);
    EXPECT_EQ(rpos, second + 24); // a short read advances by the 24 bytes it got
    qrxhost::failUtilityIoAt(1);
    int64_t keep = pos;
    EXPECT_NE(vsfWriteScratch(s.file, b, sizeof b, &pos), 0);
    EXPECT_EQ(pos, keep) << "a failed write leaves the position";
    qrxhost::failUtilityIoAt(0);
    vsfFreeScratch(&s, &exts);
    vsfFreeScratch(&s, &exts); // harmless twice
    EXPECT_EQ(s.path, nullptr);
  }
  EXPECT_EQ(qrxhost::liveUtilityFiles(), 0);
  EXPECT_TRUE(fs::is_empty(dir));
  exts.qkbkf->unload(exts.qkbkf);
  exts.qkupath->unload(exts.qkupath);
  qrxhost::setHostOption("UTILPATH", "");
  fs::remove_all(dir);
}

} // namespace

namespace {

TEST(SharedPageFiles, ANumberedFileIsReadBackByASecondRecord) {
  setUpHost();
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() /
                 ("qrx shared pages " + std::to_string(::getpid()) + std::string(90, 's'));
  fs::create_directories(dir);
  std::u32string wideDir;
  for (char c : dir.string())
    wideDir += static_cast<char32_t>(static_cast<unsigned char>(c));
  QkExtensionSet exts{};
  exts.qkpgf = qrxhost::loadExtension("qkpgf");
  exts.qkupath = qrxhost::loadExtension("qkupath");
  auto* pgf = reinterpret_cast<QkPgfExtension*>(exts.qkpgf);

  VsfUtilFile writer{};
  uint8_t status = 9;
  ASSERT_EQ(vsfCreateUtil_(&writer, &exts, nullptr, 100, &status,
                           static_cast<int64_t>(wideDir.size()), wideDir.data(), 7),
            0);
  EXPECT_TRUE(fs::exists(dir / "util_7.utl"));
  const uint32_t size = writer.page.pageSize;
  for (int64_t n = 1; n <= 4; ++n) {
    void* buf = nullptr;
    ASSERT_EQ(pgf->qkpgfNewPage(writer.file, &buf, 0), 0);
    std::memset(buf, static_cast<int>(n), size);
    writer.page.pageNumber = n;
    writer.page.buffer = buf;
    ASSERT_EQ(pgf->qkpgfWritePage(writer.file, &writer.page, 0), 0);
  }
  ASSERT_EQ(pgf->qkpgfClose(writer.file, 0, 0), 0);
  writer.closed = 1;

  VsfUtilFile reader{};
  ASSERT_EQ(vsfOpenSharedUtil(&reader, &exts, static_cast<int64_t>(wideDir.size()), wideDir.data(),
                              7, size),
            0);
  for (int64_t n = 1; n <= 4; ++n) {
    reader.page.pageNumber = n;
    ASSERT_EQ(pgf->qkpgfReadPage(reader.file, &reader.page, 0), 0);
    auto* bytes = static_cast<unsigned char*>(reader.page.buffer);
    EXPECT_EQ(bytes[0], n);
    EXPECT_EQ(bytes[size - 1], n);
  }
  vsfFreeUtil(&reader, &exts);
  EXPECT_TRUE(fs::exists(dir / "util_7.utl")) << "the reader does not delete the writer's file";
  vsfFreeUtil(&writer, &exts);
  EXPECT_FALSE(fs::exists(dir / "util_7.utl"));
  EXPECT_EQ(qrxhost::liveUtilityFiles(), 0);
  exts.qkpgf->unload(exts.qkpgf);
  exts.qkupath->unload(exts.qkupath);
  fs::remove_all(dir);
}

} // namespace

namespace {

std::vector<double> gVisitOrder;
VsfStatus resampleSerial(VsfPassState* m, QkPageDescriptor* page) {
  // Records the page's first response and stamps every row's resample slot.
  VsfRowCursor c;
  VsfRowLayout L{};
  L.entryCount = m->effectCount;
  L.denseOffset = m->layout.denseOffset;
  L.denseColumns = m->layout.denseColumnCount;
  L.hasResample = 1;
  vsfRowCursorStart(&c, page->buffer, page->pageSize);
  bool first = true;
  while (vsfRowCursorNext(&c, &L)) {
    if (first)
      gVisitOrder.push_back(c.doubles[1]);
    first = false;
    c.doubles[0] = c.doubles[1] + 1000; // the row's "resample frequency"
  }
  m->resampler->freqReadPos += 8;
  return VsfStatus::Ok;
}
VsfStatus resampleThreaded(VsfPassState*, QkPageDescriptor*, double*, int64_t) {
  return VsfStatus::InternalError;
}

TEST_F(Frame, ResampleFrequenciesVisitPagesInReadingOrderAlwaysSeriallyAndRewriteThem) {
  vsfRegisterKernelPair(resampleSerial, resampleThreaded, kVsfResampleUse);
  qrxhost::setPageFileSizes(64, 64, 64); // two rows a page
  Source src;
  for (int i = 0; i < 21; ++i) { // 11 pages over 3 files: the last round is short
    Obs o;
    o.y = i;
    o.x = std::vector<double>{1};
    src.rows.push_back(o);
  }
  PageRun run;
  denseEntries(run, {1});
  run.settings.resampling = 1;
  run.settings.threadCount = 3;
  run.settings.threadingOn = 1;
  run.settings.utilBuffers = 2;
  ASSERT_EQ(run.read(src), 0);
  ASSERT_EQ(run.startThreads(3), 0);
  VsfResampler resampler{};
  resampler.freqReadPos = 100;
  resampler.freqStartPos = 40;
  run.model.resampler = &resampler;
  gVisitOrder.clear();
  ASSERT_EQ(vsfExecuteByThreads(&run.model, resampleSerial, resampleThreaded, 0), VsfStatus::Ok);
  std::vector<double> want;
  for (int k = 0; k < 11; ++k)
    want.push_back(2 * k);
  EXPECT_EQ(gVisitOrder, want) << "page k of the reading is visited k-th";
  EXPECT_EQ(resampler.freqReadPos, 40 + 11 * 8) << "the stream restarts at its start";
  // Every row, in memory or on disk, keeps the stamp written in the pass.
  auto rows = run.rowDoubles();
  ASSERT_EQ(rows.size(), 21u);
  for (size_t i = 0; i < rows.size(); ++i)
    EXPECT_EQ(rows[i][0], 1000.0 + static_cast<double>(i)) << i;
}

} // namespace

namespace {

// What a fit over p design columns holds once: the cross-products matrix, its swept copy and
// the three working copies of a selection's trials (five packed triangles of order p + 1),
// 576 bytes a column (22 doubles of the pass and the model, and the row of the parameter
// estimates table), 28 bytes a step and 17 a model effect; and what each page thread holds:
// its page and the partial sums of the effects' own triangles (built incrementally), plus
// 2p + 5 doubles.
struct Reckoning {
  double fit, thread;
};
Reckoning reckoningOf(double p, double g, double steps, const std::vector<int32_t>& effects) {
  double cells = 0;
  for (int32_t c : effects)
    cells += c * (c + 1) / 2.0;
  const double triangle = (p + 1) * (p + 2) / 2;
  return {576 * p + 28 * steps + 5 * 8 * triangle + 17.0 * static_cast<double>(effects.size()),
          g + 8 * (cells + 2 * p + 5)};
}

TEST_F(Frame, TheBudgetThatFeedsFiveOfEightThreadsLowersTheCountToFive) {
  qrxhost::resetPageFileSettings(); // the default page size, 16384
  Source src = makeRows(30, true);
  // Rows of y and 12 dense values: the default page is cut after the 157 rows it holds.
  const uint32_t page = vsfPageSizeFor(16384, 13 * 8);
  ASSERT_EQ(page, 8u + 157 * 104 + 4 + 4);
  const std::vector<int32_t> effects = {2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  const Reckoning r = reckoningOf(12, page, 5, effects); // STEPWISE, STEPS=5: s = 5
  // The threads get 60 % of what the fit leaves: room for 5.5 threads.
  const int64_t kilobytes = static_cast<int64_t>(std::ceil((r.fit + 5.5 * r.thread / 0.6) / 1024));
  qrxhost::setMemoryFigureForTest(kilobytes);
  PageRun run;
  denseEntries(run, effects);
  for (Obs& o : src.rows)
    o.x.resize(12, 0.5);
  run.settings.method = VsfMethod::Stepwise;
  run.settings.steps = 5;
  run.settings.trialCopies = 1; // STEPWISE removal trials with an effect of two columns
  run.settings.threadCount = 8;
  run.settings.threadingOn = 1;
  run.settings.cpuCount = 8;
  ASSERT_EQ(run.read(src), 0);
  qrxhost::setMemoryFigureForTest(0);
  EXPECT_EQ(run.bags.files[0].page.pageSize, page);
  EXPECT_EQ(run.settings.threadCount, 5);
  EXPECT_EQ(run.settings.threadBudget.limit, VTL_MEMORY);
  EXPECT_EQ(run.bags.count, 5u) << "a file per thread that memory cannot feed goes";
  auto logged = loggedNumbers();
  EXPECT_NE(std::find(logged.begin(), logged.end(), VsfMsg::DataPassesRunThreads), logged.end());
  // Pages get 60 % of what the fit and the five threads leave, shared by the five files.
  const double B = 0.6 * (kilobytes * 1024.0 - r.fit - 5 * r.thread);
  EXPECT_EQ(run.bags.files[3].memLimit, std::max<int64_t>(1, static_cast<int64_t>(B / 5 / page)));
  // Five files and five threads: the frame runs on the threads, with the same sums.
  ASSERT_EQ(run.startThreads(5), 0);
  run.model.pathPass.corr =
      static_cast<double*>(run.modelPool->allocate(run.modelPool, sizeof(double) * 11, kQkZeroed));
  ASSERT_EQ(vsfExecuteByThreads(&run.model, sumY, sumY_t, 0), VsfStatus::Ok);
  double want = 0;
  for (const Obs& o : src.rows)
    want += o.y; // neither WEIGHT nor FREQ given
  EXPECT_EQ(run.model.sse, want);
}

// A fit planned on the structured road over 20,000 levels beside the intercept and three
// numerics holds the road's arrays, not the packed triangle of 20,005 columns (1.6 GB a copy):
// the read preparation prices the arrays the fit allocates, with the level tables and the
// parameter estimates table the step holds beside them, within a quarter of their exact
// count, and keeps its four threads under a memory figure of 256 MB. A PRESS pass adds its
// leverage terms, two rows of the five small columns and two numbers for each level and once
// more (vsfStructuredPressArrays), to the byte.
TEST_F(Frame, TheStructuredRoadIsPricedByTheArraysItHolds) {
  qrxhost::resetPageFileSettings();
  constexpr double k = 20000, small = 5, N = 4 + k;
  auto estimate = [&](bool press) {
    Source src;
    qrxhost::setMemoryFigureForTest(256 * 1024);
    PageRun run;
    denseEntries(run, {1, 1, 1, 1, static_cast<int32_t>(k)});
    run.entries[4].sparseVote = 1;
    run.settings.method = VsfMethod::Forward;
    run.settings.threadCount = 4;
    run.settings.threadingOn = 1;
    run.settings.cpuCount = 4;
    run.settings.road = {4, static_cast<int64_t>(k), 5, 5, 0};
    run.settings.press = press ? 1 : 0;
    run.settings.trialCopies = 1; // a stop criterion puts back the step a move started from
    EXPECT_EQ(run.read(src), 0);
    qrxhost::setMemoryFigureForTest(0);
    EXPECT_EQ(run.settings.threadCount, 4);
    EXPECT_EQ(run.settings.threadBudget.limit, VTL_NONE);
    return run.settings.threadBudget.fitWork;
  };
  const double plain = estimate(false), press = estimate(true);
  // What the fit allocates: per level its diagonal, its cross row of the five small columns,
  // the swept diagonal with its saved copy, the estimates and their refinement (doubles) and
  // two flags; the small triangle in its five copies; over every column the pass's ten
  // arrays of doubles (values, staging, sums of the columns, of their squares twice more,
  // shifts, two spread sums), two codes and a flag, and the model's estimates, standardised
  // estimates and variances, the chosen step's three and the two saved for a stop criterion.
  // Beside them, measured on a run over 100,000 levels (bench/memestimate.sh's sbc and cv
  // cases under heaptrack): the level tables, 23.6 MB (236 bytes a level), and the rows of the
  // parameter estimates table, 40.67 MB (406.7 bytes a parameter).
  const double road = 8 * k * (1 + small + 4) + 2 * k;
  const double triangles = 8 * 5 * small * (small + 1) / 2;
  const double columns = N * (8 * 10 + 4 * 2 + 1 + 8 * 8);
  const double count = road + triangles + columns + 236.0 * k + 406.7 * N;
  EXPECT_GE(plain, count);
  EXPECT_LE(plain, 1.25 * count);
  EXPECT_EQ(press - plain, 8 * ((k + 1) * 2 * small + 2 * (k + 1)));
}

// The one price of a fit's cross products (vsfCrossProductCells, which the read preparation
// and the fit's own plan both take), in doubles, worked by hand for a fit on each road and
// checked against what the fits allocated, measured under heaptrack (bench/memestimate.sh's
// cases; MiB as heaptrack prints them).
TEST(CrossProductPrice, EachRoadIsPricedByTheArraysItsFitAllocates) {
  // The packed road: FORWARD over 999 numerics, the matrix of order 1,000 with its swept form
  // and three working copies, 5 x 500,500 doubles; measured 19.13 MiB (20,059,000 bytes, the
  // sweep flags with them) against 20,020,000.
  VsfCrossShape packedFit;
  packedFit.triangleOrder = 1000;
  packedFit.copies = 5;
  EXPECT_EQ(vsfCrossProductCells(packedFit), 2502500.0);
  // The growing build adds the effects' own blocks as given.
  packedFit.blockCells = 1234.0;
  EXPECT_EQ(vsfCrossProductCells(packedFit), 2503734.0);

  // The many-level road by SBC over 100,000 levels beside the intercept, x1-x3 and the
  // response (five small columns, all dense): five triangles of 15 and, per level, eleven
  // doubles counted: its cross row of 5 and its diagonal, its swept diagonal with the saved
  // copy, its estimate and refinement, and four one-byte flags; measured 8.01 MiB (8,399,000
  // bytes) against 8,800,600.
  VsfCrossShape sbc;
  sbc.triangleOrder = 5;
  sbc.copies = 5;
  sbc.road = VsfRoadShape{4, 100000, 5, 5, 0};
  EXPECT_EQ(vsfCrossProductCells(sbc), 75.0 + 1100000.0);

  // By PRESS beside 60 numerics (62 small columns): the road's 100,000 x 68 and the leverage
  // terms, two rows of the 62 columns and two numbers for each level and once more, 100,001 x
  // 126; measured 51.54 MiB (54,043,000 bytes) against 54,478,120 and 96.13 MiB (100,799,000
  // bytes) against 100,801,008.
  VsfCrossShape press = sbc;
  press.triangleOrder = 62;
  press.road = VsfRoadShape{61, 100000, 62, 62, 0};
  press.press = true;
  EXPECT_EQ(vsfCrossProductCells(press), 5.0 * 1953.0 + 6800000.0 + 12600126.0);

  // By 5-fold cross validation: the model's and every fold's record, 30 triangles and six
  // times the road; measured 48.07 MiB (50,405,000 bytes) against 52,803,600.
  VsfCrossShape cv = sbc;
  cv.copies = 30;
  cv.folds = 5;
  EXPECT_EQ(vsfCrossProductCells(cv), 30.0 * 15.0 + 6.0 * 1100000.0);
}

TEST_F(Frame, UtilBuffersSetsEveryFilesInMemoryLimit) {
  Source src = makeRows(80, true);
  PageRun run;
  denseEntries(run, {2, 2});
  run.settings.threadCount = 2;
  run.settings.threadingOn = 1;
  run.settings.utilBuffers = 3;
  ASSERT_EQ(run.read(src), 0);
  for (uint32_t f = 0; f < run.bags.count; ++f) {
    EXPECT_EQ(run.bags.files[f].memLimit, 3);
    EXPECT_LE(run.bags.files[f].memPageCount, 3);
  }
  // With 2 files and a limit of 3, pages 0..5 stay in memory and page 6 is disk page 1 of
  // file 0, page 7 disk page 1 of file 1.
  ASSERT_GE(run.result.pagesWritten, 8);
  EXPECT_EQ(run.bags.files[0].memPageCount, 3);
  EXPECT_EQ(run.bags.files[1].memPageCount, 3);
  EXPECT_EQ(run.bags.files[0].diskPageCount, (run.result.pagesWritten + 1) / 2 - 3);
  EXPECT_EQ(run.bags.files[1].diskPageCount, run.result.pagesWritten / 2 - 3);
}

} // namespace

namespace {

TEST(PageFileVector, GrowsByItsGrowthKeepsTheLargestPageSizeAndReleasesTwiceHarmlessly) {
  setUpHost();
  qrxhost::resetPageFileSettings();
  QkExtensionSet exts{};
  exts.qkpgf = qrxhost::loadExtension("qkpgf");
  exts.qkupath = qrxhost::loadExtension("qkupath");
  QkPool* pool = qrxhost::createArenaPool("vector test");
  VsfBagVec vec{};
  ASSERT_EQ(vsfBagVecAlloc(&vec, pool, 0, 1, kQkZeroed), VsfStatus::Ok);
  EXPECT_EQ(vec.files, nullptr);
  VsfPerfSettings perf{0};
  VsfUtilFile* rec = nullptr;
  ASSERT_EQ(vsfBagVecAddElt(&vec, &exts, &perf, 100, &rec), VsfStatus::Ok);
  EXPECT_EQ(vec.largestPageSize, 16384u); // the default size takes a small request
  ASSERT_EQ(vsfBagVecAddElt(&vec, &exts, &perf, 70000, &rec), VsfStatus::Ok);
  EXPECT_EQ(rec->page.pageSize, 70000u) << "a request above the second size is taken as is";
  perf.utilPageSize = 32; // 32 KB is below the request: ignored
  ASSERT_EQ(vsfBagVecAddElt(&vec, &exts, &perf, 40000, &rec), VsfStatus::Ok);
  EXPECT_EQ(rec->page.pageSize, 65536u);
  perf.utilPageSize = 128;
  ASSERT_EQ(vsfBagVecAddElt(&vec, &exts, &perf, 40000, &rec), VsfStatus::Ok);
  EXPECT_EQ(rec->page.pageSize, 131072u);
  EXPECT_EQ(vec.count, 4u);
  EXPECT_EQ(vec.capacity, 4u);
  EXPECT_EQ(vec.largestPageSize, 131072u);
  EXPECT_EQ(qrxhost::liveUtilityFiles(), 4);
  vsfBagVecRelease(&vec, &exts);
  vsfBagVecRelease(&vec, &exts);
  EXPECT_EQ(vec.files, nullptr);
  EXPECT_EQ(qrxhost::liveUtilityFiles(), 0);
  pool->destroy(pool);
  exts.qkpgf->unload(exts.qkpgf);
  exts.qkupath->unload(exts.qkupath);
}

} // namespace
