// Tests of the reading pass and the page layout: which rows are kept and how they are
// counted, roles and folds, sparse rows, pages that go to disk and come back bit for bit,
// and the smallest pages.
#include "datafixture.h"

#include "host/ext/qkpgf.h"
#include "host/supervisor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <type_traits>
#include <unistd.h>

using namespace datatest;

namespace {

Obs obs(double y, std::vector<double> x, double w = 1, double f = 1, LevRowStatusSet status = {}) {
  Obs o;
  o.y = y;
  o.x = std::move(x);
  o.w = w;
  o.f = f;
  o.status = status;
  return o;
}

struct DataRead : ::testing::Test {
  void SetUp() override {
    qrxhost::resetPageFileSettings();
    loggedNumbers();
  }
  void TearDown() override {
    qrxhost::resetPageFileSettings();
    EXPECT_EQ(qrxhost::liveUtilityFiles(), 0);
  }
};

TEST_F(DataRead, KeepsDropsAndCountsRowsByFrequencyWeightAndStatus) {
  Source src;
  src.rows = {obs(1, {1, 2}, 1, 2.7),
              obs(2, {3, 4}, 1, 0.4),
              obs(3, {5, 6}, 0, 1),
              obs(4, {7, 8}, 2, 1, LevRowStatus::Response),
              obs(5, {9, 1}, 1, 1, LevRowStatus::Explanatory),
              obs(6, {2, 2}, 0.5, 3)};
  auto missingFreq = obs(7, {1, 1}, 1, 1);
  missingFreq.f = std::nan("");
  missingFreq.status = LevRowStatus::Weight;
  src.rows.push_back(missingFreq);
  {
    PageRun run;
    denseEntries(run, {1, 1});
    run.settings.weightGiven = run.settings.freqGiven = 1;
    ASSERT_EQ(run.read(src), 0);
    // Kept: row 1 (f = 2) and row 6 (w 0.5, f 3). Dropped: f 0.4 (but read), weight 0,
    // response missing, explanatory missing, missing frequency.
    EXPECT_EQ(run.model.totals.nRead, 7);
    EXPECT_EQ(run.model.totals.freqRead, 2 + 1 + 1 + 1 + 3); // 0.4 and the missing one add nothing
    EXPECT_EQ(run.model.totals.nTrain, 2);
    EXPECT_EQ(run.model.totals.nObs, 5);
    EXPECT_DOUBLE_EQ(run.model.totals.wTrain, 2 * 1 + 3 * 0.5);
    // Response mean and column statistics from the weighted TRAIN sums.
    const double W = 3.5, sumY = 1 * 2 + 6 * 1.5;
    EXPECT_DOUBLE_EQ(run.model.sumWY, sumY / W);
    const double sum0 = 1 * 2 + 2 * 1.5, ss0 = 1 * 2 + 4 * 1.5;
    EXPECT_DOUBLE_EQ(run.model.moments.columnSums[0], sum0 / W);
    EXPECT_DOUBLE_EQ(run.model.moments.columnSumSquares[0],
                     1 / std::sqrt((ss0 - sum0 * sum0 / W) / 4));
    auto rows = run.rowDoubles();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (std::vector<double>{1, 2, 1, 1, 2})); // w f y x0 x1
  }
  {
    // Without WEIGHT and FREQ a zero weight never drops a row.
    PageRun run;
    denseEntries(run, {2});
    ASSERT_EQ(run.read(src), 0);
    EXPECT_EQ(run.model.totals.nTrain, 4); // rows 1, 2, 3, 6; 4 and 5 fail by status
  }
}

TEST_F(DataRead, SplitAndBlockFoldsAndRoleValues) {
  Source src;
  for (int i = 0; i < 10; ++i)
    src.rows.push_back(obs(i, {double(i)}));
  {
    PageRun run;
    denseEntries(run, {1});
    run.settings.cvMethod = VsfCvMethod::Split;
    run.settings.cv = 1;
    run.settings.folds = 3;
    ASSERT_EQ(run.read(src), 0);
    std::vector<int32_t> folds;
    for (auto& c : run.rowCodes())
      folds.push_back(c.at(0));
    EXPECT_EQ(folds, (std::vector<int32_t>{0, 1, 2, 0, 1, 2, 0, 1, 2, 0}));
  }
  for (auto [k, n, want] : {std::tuple{3, 10, std::vector<int32_t>{0, 0, 0, 0, 1, 1, 1, 2, 2, 2}},
                            std::tuple{4, 3, std::vector<int32_t>{0, 1, 2}}}) {
    qrxhost::setPageFileSizes(64, 64, 64); // few rows a page: folds cross pages and disk
    PageRun run;
    denseEntries(run, {1});
    run.settings.cvMethod = VsfCvMethod::Block;
    run.settings.cv = 1;
    run.settings.folds = k;
    run.settings.utilBuffers = 1;
    Source part;
    part.rows.assign(src.rows.begin(), src.rows.begin() + n);
    ASSERT_EQ(run.read(part), 0);
    if (n == 10) {
      EXPECT_GT(run.result.pagesWritten, 1);
    }
    std::vector<int32_t> folds;
    for (auto& c : run.rowCodes())
      folds.push_back(c.at(0));
    EXPECT_EQ(folds, want) << "k=" << k;
  }
  {
    // ROLEVAR with TRAIN='A' TEST='B': 'Z' has no role; leading blanks do not count.
    PageRun run;
    denseEntries(run, {1});
    run.settings.roleVar = 1;
    run.settings.roleCodes = 1;
    run.settings.trainValue = {"A", 1};
    run.settings.testValue = {"B", 1};
    Source s3;
    for (const char* v : {"A", "  B ", "Z", "A"}) {
      s3.rows.push_back(obs(1, {1}));
      s3.rows.back().role = v;
    }
    ASSERT_EQ(run.read(s3), 0);
    std::vector<int32_t> roles;
    for (auto& c : run.rowCodes())
      roles.push_back(c.at(0));
    EXPECT_EQ(roles, (std::vector<int32_t>{1, 4, 0, 1}));
    EXPECT_EQ(run.model.totals.nNoRole, 1);
    EXPECT_EQ(run.model.totals.nUsed, 3);
  }
}

TEST_F(DataRead, SparseRowsStoreNonZeroValuesWithCumulativeCounts) {
  PageRun run;
  denseEntries(run, {1, 5, 6});
  run.entries[1].sparseVote = 1;
  run.entries[2].sparseVote = 1;
  Source src;
  src.rows = {obs(1, {9, 0, 2, 0, 0, 3, 0, 0, 0, 0, 0, 4}),
              obs(2, {8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})};
  ASSERT_EQ(run.read(src), 0);
  EXPECT_EQ(run.model.layout.denseColumnCount, 1);
  EXPECT_EQ(run.model.layout.sparseEffectCount, 2);
  EXPECT_EQ(run.model.effectColumn[0], 1);
  EXPECT_EQ(run.model.effectColumn[1], 2);
  EXPECT_EQ(run.model.effectColumn[2], 7);
  auto d = run.rowDoubles();
  auto c = run.rowCodes();
  EXPECT_EQ(d[0], (std::vector<double>{1, 9, 2, 3, 4}));
  EXPECT_EQ(c[0], (std::vector<int32_t>{2, 3, 1, 4, 5}));
  EXPECT_EQ(d[1], (std::vector<double>{2, 8}));
  EXPECT_EQ(c[1], (std::vector<int32_t>{0, 0}));
}

TEST_F(DataRead, PagesForcedToDiskHoldTheSameBytesAsPagesInMemory) {
  Source src;
  for (int i = 0; i < 300; ++i)
    src.rows.push_back(obs(std::sin(i), {std::cos(i), double(i % 7), 1.0 / (i + 1)}, 1, 1 + i % 3));
  auto readWith = [&](int32_t buffers, uint32_t pageSize, int32_t threads) {
    qrxhost::setPageFileSizes(pageSize, pageSize, pageSize);
    PageRun run;
    denseEntries(run, {1, 2});
    run.settings.freqGiven = 1;
    run.settings.threadCount = threads;
    run.settings.threadingOn = threads > 1;
    run.settings.utilBuffers = buffers;
    EXPECT_EQ(run.read(src), 0);
    EXPECT_EQ(run.settings.threadCount, threads);
    int64_t disk = 0;
    for (uint32_t f = 0; f < run.bags.count; ++f)
      disk += run.bags.files[f].diskPageCount;
    return std::tuple{run.rowDoubles(), disk, run.model.moments.columnSums[1],
                      run.model.totals.nObs};
  };
  auto [inMemory, disk0, mean0, n0] = readWith(100000, 65536, 1);
  EXPECT_EQ(disk0, 0);
  for (int threads : {1, 3}) {
    auto [onDisk, disk1, mean1, n1] = readWith(1, 128, threads);
    EXPECT_GT(disk1, 10);
    EXPECT_EQ(onDisk, inMemory);
    EXPECT_EQ(mean1, mean0);
    EXPECT_EQ(n1, n0);
  }
}

TEST_F(DataRead, TheSmallestPagesStillHoldARow) {
  qrxhost::setPageFileSizes(8, 8, 8);
  for (int32_t cols : {1, 2}) {
    PageRun run;
    denseEntries(run, {cols});
    run.settings.weightGiven = run.settings.freqGiven = 1;
    run.settings.roleCodes = 1;
    run.settings.cvMethod = VsfCvMethod::Split;
    run.settings.cv = 1;
    run.settings.folds = 2;
    run.settings.utilBuffers = 1;
    Source src;
    for (int i = 0; i < 5; ++i)
      src.rows.push_back(obs(i, std::vector<double>(static_cast<size_t>(cols), i + 0.5)));
    ASSERT_EQ(run.read(src), 0);
    EXPECT_EQ(run.rowDoubles().size(), 5u);
    EXPECT_GE(run.bags.files[0].page.pageSize, 8u * (cols + 4) + 4u * (2 * cols + 3) + 12u);
  }
}

TEST_F(DataRead, SparseVotesFollowTheCodingRules) {
  // Codes as the CLASS statement stores them: 0 EFFECT, 1 ORTHEFFECT, 2 REF, 4 POLY,
  // 7 ORDINAL, 9 BATHTUB.
  int32_t ref[] = {2}, ord[] = {7}, orth[] = {1}, eff[] = {0}, bath[] = {9}, poly[] = {4};
  EXPECT_EQ(useSparseRepresentation({5, 1, 0, eff, 0}), 1);
  EXPECT_EQ(useSparseRepresentation({7, 1, 0, bath, 0}), 1);
  EXPECT_EQ(useSparseRepresentation({6, 1, 0, bath, 0}), 0);
  EXPECT_EQ(useSparseRepresentation({20, 1, 0, poly, 0}), 0);
  int32_t polyThenRef[] = {4, 2};
  EXPECT_EQ(useSparseRepresentation({8, 2, 0, polyThenRef, 0}), 1) << "any voting variable";
  EXPECT_EQ(useSparseRepresentation({5, 1, 0, ref, 0}), 1);
  EXPECT_EQ(useSparseRepresentation({5, 1, 0, ord, 0}), 0);
  EXPECT_EQ(useSparseRepresentation({7, 1, 0, ord, 0}), 1);
  EXPECT_EQ(useSparseRepresentation({9, 1, 0, orth, 0}), 0);
  EXPECT_EQ(useSparseRepresentation({4, 1, 1, ref, 0}), 0) << "at most 4 columns: dense";
  EXPECT_EQ(useSparseRepresentation({5, 1, 1, orth, 0}), 1) << "GLM coding";
  EXPECT_EQ(useSparseRepresentation({11, 0, 0, nullptr, 1}), 1);
  EXPECT_EQ(useSparseRepresentation({11, 0, 0, nullptr, 0}), 0);
}

TEST_F(DataRead, EmptyInputWritesNoPageAndStillSucceeds) {
  PageRun run;
  denseEntries(run, {1});
  Source src;
  src.rows = {obs(1, {1}, 1, 1, LevRowStatus::Response)};
  ASSERT_EQ(run.read(src), 0);
  EXPECT_EQ(run.result.pagesWritten, 0);
  EXPECT_EQ(run.model.totals.nTrain, 0);
  EXPECT_EQ(run.model.moments.columnSums[0], 0.0);
}

} // namespace

namespace {

TEST_F(DataRead, TestAndValidationDataAreStoredWithTheirRolesAndReportUnknownLevels) {
  Source src;
  src.rows = {obs(1, {1, 2}), obs(2, {3, 4})};
  src.testRows = {obs(5, {1, 1}, 1, 2.5), obs(6, {1, 1}, 1, 1, LevRowStatus::Explanatory),
                  obs(7, {1, 1}, 1, 1, LevRowStatus::Response)};
  src.testRows[1].unknownClass = true;
  src.valRows = {obs(8, {2, 2}), obs(9, {2, 2}, 1, 1, LevRowStatus::Explanatory),
                 obs(10, {2, 2}, 1, 1, LevRowStatus::Explanatory)};
  src.valRows[1].unknownEffect = 1;
  src.valRows[2].unknownEffect = 1;
  PageRun run;
  denseEntries(run, {1, 1});
  run.settings.freqGiven = 1;
  run.settings.roleCodes = 1;
  run.settings.testData = run.settings.valData = 1;
  ASSERT_EQ(run.read(src), 0);
  std::vector<int32_t> roles;
  for (auto& c : run.rowCodes())
    roles.push_back(c.at(0));
  EXPECT_EQ(roles, (std::vector<int32_t>{1, 1, 4, 2}));
  EXPECT_EQ(run.model.totals.nTrain, 2);
  EXPECT_EQ(run.model.totals.nTest, 1);
  EXPECT_EQ(run.model.totals.freqTest, 2);
  // The test ASE is averaged over the weight sum: held-out rows add weight x frequency.
  EXPECT_EQ(run.model.totals.wTest, 2.0);
  EXPECT_EQ(run.model.totals.wValidate, 1.0);
  EXPECT_EQ(run.model.totals.testDataRead, 3);
  EXPECT_EQ(run.model.totals.valDataRead, 3);
  EXPECT_EQ(run.model.totals.nUsed, 2) << "rows used count DATA= only";
  EXPECT_EQ(src.ended, 2);
  auto logged = loggedNumbers();
  EXPECT_EQ(logged, (std::vector<MsgId>{VsfMsg::TestdataClassLevelsNotInData,
                                        VsfMsg::ValdataEffectLevelsNotInData}));

  // A TESTDATA= set out of step with the BY group is skipped; VALDATA= is still read.
  src.testOutOfStep = true;
  PageRun again;
  denseEntries(again, {1, 1});
  again.settings.roleCodes = 1;
  again.settings.testData = again.settings.valData = 1;
  ASSERT_EQ(again.read(src), 0);
  EXPECT_EQ(again.model.totals.nTest, 0);
  EXPECT_EQ(again.model.totals.nValidate, 1);
}

TEST_F(DataRead, FractionRolesAndRandomFoldsAreTheSameOnEveryRun) {
  Source src;
  for (int i = 0; i < 200; ++i)
    src.rows.push_back(obs(i, {1}));
  auto codes = [&](int64_t seed) {
    PageRun run;
    denseEntries(run, {1});
    int64_t s = seed;
    run.settings.seed = &s;
    run.settings.roleCodes = 1;
    run.settings.testFraction = 0.2;
    run.settings.validateFraction = 0.3;
    run.settings.trainFraction = 0.5;
    run.settings.cvMethod = VsfCvMethod::Random;
    run.settings.cv = 1;
    run.settings.folds = 4;
    EXPECT_EQ(run.read(src), 0);
    return std::tuple{run.rowCodes(), run.model.totals.nTrain, run.model.totals.nTest,
                      run.model.totals.nValidate};
  };
  auto [a, trainA, testA, valA] = codes(4321);
  auto [b, trainB, testB, valB] = codes(4321);
  EXPECT_EQ(a, b);
  EXPECT_EQ(trainA + testA + valA, 200);
  // Roughly the fractions asked for, and every fold used by TRAIN rows only.
  EXPECT_GT(testA, 15);
  EXPECT_LT(testA, 65);
  EXPECT_GT(valA, 35);
  EXPECT_LT(valA, 90);
  std::vector<int> perFold(4);
  for (auto& c : a) {
    if (c[1] == VSF_ROLE_TRAIN) {
      ASSERT_GE(c[0], 0);
      ASSERT_LT(c[0], 4);
      perFold[static_cast<size_t>(c[0])]++;
    } else {
      EXPECT_EQ(c[0], kVsfNoFold);
    }
  }
  for (int n : perFold)
    EXPECT_GT(n, 5);
  auto [c, trainC, testC, valC] = codes(98765);
  EXPECT_NE(a, c) << "another seed draws other roles";
}

TEST_F(DataRead, AUtilityDirectoryThatCannotTakeFilesIsReportedAndNothingIsRead) {
  qrxhost::setHostOption("UTILPATH", "/nonexistent directory/for page files");
  Source src;
  src.rows = {obs(1, {1})};
  {
    PageRun run;
    denseEntries(run, {1});
    EXPECT_EQ(run.read(src), -4);
    auto logged = loggedNumbers();
    EXPECT_NE(std::find(logged.begin(), logged.end(), VsfMsg::UtilityFileNotCreated), logged.end());
  }
  qrxhost::setHostOption("UTILPATH", "");
}

TEST_F(DataRead, UtilityPathsWithSpacesAndLongDirectoriesWork) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() /
                 ("qrx data dir with spaces " + std::to_string(::getpid())) / std::string(120, 'L');
  fs::create_directories(dir);
  qrxhost::setHostOption("UTILPATH", dir.string());
  qrxhost::setPageFileSizes(64, 64, 64);
  Source src;
  for (int i = 0; i < 40; ++i)
    src.rows.push_back(obs(i, {double(i)}));
  {
    PageRun run;
    denseEntries(run, {1});
    run.settings.utilBuffers = 1;
    ASSERT_EQ(run.read(src), 0);
    EXPECT_GT(run.bags.files[0].diskPageCount, 0);
    EXPECT_FALSE(fs::is_empty(dir));
    EXPECT_EQ(run.rowDoubles().size(), 40u);
  }
  EXPECT_TRUE(fs::is_empty(dir)) << "released with the vector";
  qrxhost::setHostOption("UTILPATH", "");
  fs::remove_all(dir.parent_path());
}

} // namespace

namespace {

TEST_F(DataRead, BridgeMeansCountResponseMissingRowsInTheWeightedMeansOnly) {
  Source src;
  src.rows = {obs(1, {1, 2}, 2, 1), obs(2, {3, 4}, 1, 3),
              obs(3, {5, 6}, 4, 1, LevRowStatus::Response)};
  src.rows[0].numeric = {10, 1};
  src.rows[1].numeric = {20, 2};
  src.rows[2].numeric = {30, 3};
  PageRun run;
  denseEntries(run, {1, 1});
  run.settings.weightGiven = run.settings.freqGiven = 1;
  run.settings.bridge = 1;
  run.settings.glm = 1;
  run.settings.numericCount = 2;
  ASSERT_EQ(run.read(src), 0);
  EXPECT_EQ(src.levelsAllCalls, 1);
  // Weighted: (2*10 + 3*20 + 4*30) / (2 + 3 + 4); by frequency: (1*10 + 3*20) / 4.
  EXPECT_DOUBLE_EQ(run.result.bridgeWeightedMeans[0], (20.0 + 60 + 120) / 9);
  EXPECT_DOUBLE_EQ(run.result.bridgeWeightedMeans[1], (2.0 + 6 + 12) / 9);
  EXPECT_DOUBLE_EQ(run.result.bridgeFreqMeans[0], 70.0 / 4);
  EXPECT_DOUBLE_EQ(run.result.bridgeEffectMeans[0], (1.0 + 9) / 4);
  EXPECT_DOUBLE_EQ(run.result.bridgeEffectMeans[1], (2.0 + 12) / 4);

  // With a PARTITION statement the response-missing row is not counted; with no TRAIN
  // row the frequency-weighted means are missing.
  Source none;
  none.rows = {src.rows[2]};
  PageRun empty;
  denseEntries(empty, {1, 1});
  empty.settings.weightGiven = empty.settings.freqGiven = 1;
  empty.settings.bridge = empty.settings.glm = 1;
  empty.settings.partitionGiven = 1;
  empty.settings.numericCount = 2;
  ASSERT_EQ(empty.read(none), 0);
  EXPECT_TRUE(isHostMissing(empty.result.bridgeWeightedMeans[0]));
  EXPECT_TRUE(isHostMissing(empty.result.bridgeFreqMeans[1]));
  EXPECT_TRUE(isHostMissing(empty.result.bridgeEffectMeans[0]));
}

} // namespace

namespace {

TEST(PageLayout, ARowNeedsFourSpareBytesAndCodesGrowDownFromTheRoundedEnd) {
  alignas(8) unsigned char page[68] = {};
  VsfPageWriter w{};
  w.page = page;
  w.pageSize = 68; // rounded down to 64 for the codes
  w.next = 8;
  w.lowest = vsfPageEnd(68);
  w.open = true;
  ASSERT_EQ(w.lowest, 64);
  const double d[5] = {1, 2, 3, 4, 5};
  const int32_t c4[4] = {40, 30, 20, 10}; // staged backward: the first code is last
  // 5 doubles and 4 codes: 56 bytes, and the gap is 56: too small without the spare bytes.
  EXPECT_FALSE(vsfPagePut(&w, d, 5, c4, 4));
  // 5 doubles and 3 codes: 52 bytes in a gap of 56 = 52 + 4: it goes on.
  const int32_t c3[3] = {3, 2, 1};
  EXPECT_TRUE(vsfPagePut(&w, d, 5, c3, 3));
  EXPECT_EQ(w.rows, 1);
  int32_t first;
  std::memcpy(&first, page + 60, 4);
  EXPECT_EQ(first, 1) << "the row's first code ends at the rounded page end";
  double x;
  std::memcpy(&x, page + 8 + 32, 8);
  EXPECT_EQ(x, 5.0);
}

} // namespace

namespace {

TEST_F(DataRead, ColumnMeansAndScalesFollowTheTrainRows) {
  {
    // One TRAIN row of frequency 1: the means are its values, every scale is missing.
    PageRun run;
    denseEntries(run, {2});
    Source src;
    src.rows = {obs(4, {3, -2})};
    ASSERT_EQ(run.read(src), 0);
    EXPECT_EQ(run.model.moments.columnSums[0], 3);
    EXPECT_EQ(run.model.moments.columnSums[1], -2);
    EXPECT_TRUE(isHostMissing(run.model.moments.columnSumSquares[0]));
    EXPECT_EQ(run.model.sumWY, 4);
  }
  {
    // A constant column has no scale; with NOINT the variance is taken about 0.
    Source src;
    src.rows = {obs(1, {5, 1}), obs(2, {5, 2}), obs(3, {5, 4})};
    PageRun run;
    denseEntries(run, {2});
    ASSERT_EQ(run.read(src), 0);
    EXPECT_TRUE(isHostMissing(run.model.moments.columnSumSquares[0]));
    const double mean = 7.0 / 3, var = ((1 - mean) * (1 - mean) + (2 - mean) * (2 - mean) +
                                        (4 - mean) * (4 - mean)) /
                                       2;
    EXPECT_NEAR(run.model.moments.columnSumSquares[1], 1 / std::sqrt(var), 1e-14);
    PageRun noint;
    denseEntries(noint, {2});
    noint.settings.noint = 1;
    ASSERT_EQ(noint.read(src), 0);
    EXPECT_NEAR(noint.model.moments.columnSumSquares[0], 1 / std::sqrt(75.0 / 2), 1e-14);
    EXPECT_NEAR(noint.model.moments.columnSumSquares[1], 1 / std::sqrt(21.0 / 2), 1e-14);
    EXPECT_EQ(noint.model.moments.columnSquareSums[1], 21.0);
  }
  {
    // NOSTD: means 0, scales 1, response mean 0.
    Source src;
    src.rows = {obs(1, {5}), obs(2, {6})};
    PageRun run;
    denseEntries(run, {1});
    run.settings.noStandardize = 1;
    ASSERT_EQ(run.read(src), 0);
    EXPECT_EQ(run.model.moments.columnSums[0], 0);
    EXPECT_EQ(run.model.moments.columnSumSquares[0], 1);
    EXPECT_EQ(run.model.sumWY, 0);
    EXPECT_EQ(run.model.sumWYY, 5);
  }
}

} // namespace

namespace {

TEST_F(DataRead, ThePageTableGrowsToTheInMemoryLimit) {
  qrxhost::setPageFileSizes(64, 64, 64);
  Source src;
  for (int i = 0; i < 800; ++i)
    src.rows.push_back(obs(i, {double(i)}));
  PageRun run;
  denseEntries(run, {1});
  run.settings.utilBuffers = 150;
  ASSERT_EQ(run.read(src), 0);
  ASSERT_GT(run.result.pagesWritten, 150);
  EXPECT_EQ(run.bags.files[0].memPageCount, 150);
  EXPECT_EQ(run.bags.files[0].diskPageCount, run.result.pagesWritten - 150);
  auto rows = run.rowDoubles();
  ASSERT_EQ(rows.size(), 800u);
  for (size_t i = 0; i < rows.size(); ++i)
    EXPECT_EQ(rows[i], (std::vector<double>{double(i), double(i)})) << i;
}

} // namespace

// The external cross-validation curve holds the averaged held-out error (a double) at every
// grid point; the merged grid can have a point for every record of every fold.
TEST_F(DataRead, ExternalCrossValidationCurveIsDoublesForEveryRecord) {
  static_assert(std::is_same_v<decltype(VsfModel::cvexPass.cvexCurve), double*>);
  Source src;
  for (int i = 0; i < 12; ++i)
    src.rows.push_back(obs(i, {double(i % 5)}));
  PageRun run;
  denseEntries(run, {1, 1, 1});
  run.settings.cvMethod = VsfCvMethod::Split;
  run.settings.xcv = 1;
  run.settings.folds = 3;
  run.settings.method = VsfMethod::Lasso;
  ASSERT_EQ(run.read(src), 0);
  VsfModel& m = run.model;
  ASSERT_NE(m.cvexPass.cvexCurve, nullptr);
  const int64_t records = 2 * 3 + 1; // 2E steps and the step before the first
  for (int64_t i = 0; i < 3 * records; ++i)
    m.cvexPass.cvexCurve[i] = 0.25 + double(i);
  EXPECT_EQ(m.cvexPass.cvexCurve[3 * records - 1], 0.25 + double(3 * records - 1));
}

// Rows of one size: the default page is cut after the rows it holds (40 rows of 50 doubles:
// 8 + 40 x 400 + 4 spare bytes, rounded up to 8), so the pages hold the same rows as the
// uncut page does, bit for bit. Sparse rows, the PERFORMANCE page size and host sizes set by
// hand keep their page size.
TEST_F(DataRead, PagesOfRowsOfOneSizeAreCutAfterTheRowsTheyHold) {
  Source src;
  for (int i = 0; i < 100; ++i) {
    std::vector<double> x(49);
    for (int c = 0; c < 49; ++c)
      x[static_cast<size_t>(c)] = std::sin(i * 49.0 + c);
    src.rows.push_back(obs(std::cos(i), x));
  }
  auto readWith = [&](int32_t perfPageKb, bool sparse) {
    PageRun run;
    denseEntries(run, {1, 48});
    run.entries[1].sparseVote = sparse ? 1 : 0;
    run.settings.utilPageSize = perfPageKb;
    EXPECT_EQ(run.read(src), 0);
    return std::tuple{run.bags.files[0].page.pageSize, run.result.maxRowsPerPage,
                      run.result.pagesWritten, run.rowDoubles(), run.model.moments.columnSums[1]};
  };
  auto [cut, cutRows, cutPages, cutDoubles, cutSum] = readWith(0, false);
  EXPECT_EQ(cut, 16016u);
  EXPECT_EQ(cutRows, 40);
  EXPECT_EQ(cutPages, 3);
  auto [whole, wholeRows, wholePages, wholeDoubles, wholeSum] = readWith(16, false);
  EXPECT_EQ(whole, 16384u);
  EXPECT_EQ(wholeRows, 40);
  EXPECT_EQ(wholePages, 3);
  EXPECT_EQ(cutDoubles, wholeDoubles);
  EXPECT_EQ(std::memcmp(&cutSum, &wholeSum, sizeof cutSum), 0);
  EXPECT_EQ(std::get<0>(readWith(0, true)), 16384u);
  qrxhost::setPageFileSizes(16384, 16384, 16384);
  EXPECT_EQ(std::get<0>(readWith(0, false)), 16384u);
}

// With releaseData the pass gives DATA= observations up every kReleaseRows taken and at the
// end, each time only those before the observation being read; never TESTDATA= ones, and
// nothing without the setting.
TEST_F(DataRead, ThePassGivesUpDataRowsBehindTheOneBeingRead) {
  Source src;
  const size_t n = 2 * kVsfReleaseRows + 100;
  src.rows.assign(n, obs(1, {2}));
  for (size_t i = 0; i < n; ++i)
    src.rows[i].y = static_cast<double>(i);
  src.testRows = {obs(5, {1}), obs(6, {2})};
  for (bool release : {false, true}) {
    src.releases.clear();
    PageRun run;
    denseEntries(run, {1});
    run.settings.releaseData = release;
    run.settings.testData = 1;
    run.settings.roleCodes = 1;
    ASSERT_EQ(run.read(src), 0);
    EXPECT_EQ(run.model.totals.nTrain, static_cast<double>(n));
    if (!release) {
      EXPECT_TRUE(src.releases.empty());
      continue;
    }
    const size_t k = static_cast<size_t>(kVsfReleaseRows);
    EXPECT_EQ(src.releases, (std::vector<std::pair<int32_t, size_t>>{{0, k}, {0, 2 * k}, {0, n}}));
    // every DATA= row is on the pages, in order
    const auto rows = run.rowDoubles();
    ASSERT_EQ(rows.size(), n + 2);
    for (size_t i = 0; i < n; i += 997)
      EXPECT_EQ(rows[i][0], static_cast<double>(i));
  }
}
