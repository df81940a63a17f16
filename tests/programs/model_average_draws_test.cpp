// The drawn frequencies of model averaging, read from OUTPUT's SAMPLEFREQ columns through
// qrx: bootstrap samples hold exactly m copies and their counts follow Binomial(m, 1/N)
// (chi-square against scipy's values, tests/data/resample/chi2_binomial.txt from
// scripts/gen_resample_ref.py); subsamples select exactly m rows once; ten samples on three
// resamplers are split 4, 3, 3, each resampler drawing from its own stream; the draws of a
// seed are, sample after sample, those of a generator written apart from the code
// (tests/data/resample/draws.txt from scripts/gen_resample_draws_ref.py); and the draws do
// not change with threads or with pages kept on disk.
#include "qrxrun.h"

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace qrxrun;

std::string data200() {
  std::string s = "y,x\n";
  for (int i = 0; i < 200; ++i)
    s += std::to_string((i * 37) % 101 + 0.25 * i) + "," + std::to_string((i * 13) % 17) + "\n";
  return s;
}

// The SAMPLEFREQ columns of a run: column i - 1 holds sample i's frequencies.
std::vector<std::vector<double>> sampleFreqs(const std::string& csv) {
  const auto rows = csvRows(csv);
  std::vector<std::vector<double>> out;
  if (rows.empty())
    return out;
  for (size_t c = 0; c < rows[0].size(); ++c) {
    if (rows[0][c].rfind("sampleFreq", 0) != 0)
      continue;
    const size_t i = std::stoul(rows[0][c].substr(10));
    if (out.size() < i)
      out.resize(i);
    for (size_t r = 1; r < rows.size(); ++r)
      out[i - 1].push_back(std::stod(rows[r][c]));
  }
  return out;
}

ProgramRun draw(const std::string& options, const std::string& perf, const std::string& tag,
                int seed = 7) {
  return runProgram("PROC VARSIFTER DATA=d SEED=" + std::to_string(seed) +
                        ";\n  MODEL y = x / SELECTION=FORWARD;\n  MODELAVERAGE " + options +
                        ";\n  OUTPUT OUT=o SAMPLEFREQ;\n" + perf + "RUN;\n",
                    tag, {{"d.csv", data200()}}, {"o.csv"});
}

std::map<std::string, double> reference() {
  std::ifstream in(std::string(QRX_SOURCE_DIR) + "/tests/data/resample/chi2_binomial.txt");
  std::map<std::string, double> ref;
  std::string line;
  while (std::getline(in, line)) {
    const size_t last = line.rfind(' ');
    ref[line.substr(0, last)] = std::stod(line.substr(last + 1));
  }
  return ref;
}

TEST(ModelAverageDraws, BootstrapSizesAndCountsFitTheMultinomial) {
  const auto ref = reference();
  ASSERT_FALSE(ref.empty());
  for (const auto& [size, m] : std::vector<std::pair<std::string, int>>{{"", 200}, {"37", 37}}) {
    const std::string sampling = size.empty() ? "" : " SAMPLING=URS(SIZE=" + size + ")";
    const ProgramRun r = draw("NSAMPLES=50 NTHREADS$=3" + sampling, "", "madraw" + size);
    ASSERT_EQ(r.status, 0) << r.log;
    const auto freqs = sampleFreqs(r.files.at("o.csv"));
    ASSERT_EQ(freqs.size(), 50u);
    // Counts 0, 1, 2, 3 and 4 or more over 50 x 200 = 10^4 draws of a copy's count.
    std::vector<double> observed(5, 0.0);
    for (const auto& f : freqs) {
      double total = 0;
      for (double x : f) {
        total += x;
        observed[static_cast<size_t>(std::min(x, 4.0))] += 1;
      }
      EXPECT_EQ(total, m);
    }
    const std::string key = "binom " + std::to_string(m) + " 200 ";
    double chi = 0, rest = 1;
    for (int k = 0; k < 5; ++k) {
      const double p = k < 4 ? ref.at(key + std::to_string(k)) : rest;
      rest -= p;
      const double expected = 1e4 * p;
      chi += (observed[size_t(k)] - expected) * (observed[size_t(k)] - expected) / expected;
    }
    EXPECT_LT(chi, ref.at("chi2 4")) << "size " << m;
  }
}

TEST(ModelAverageDraws, SubsamplesSelectExactlyMRowsOnce) {
  const ProgramRun r = draw("NSAMPLES=20 NTHREADS$=2 SAMPLING=SRS(PCT=30)", "", "masrs");
  ASSERT_EQ(r.status, 0) << r.log;
  const auto freqs = sampleFreqs(r.files.at("o.csv"));
  ASSERT_EQ(freqs.size(), 20u);
  std::vector<double> chosen(200, 0.0);
  for (const auto& f : freqs) {
    double total = 0;
    for (size_t i = 0; i < f.size(); ++i) {
      EXPECT_TRUE(f[i] == 0 || f[i] == 1) << f[i];
      total += f[i];
      chosen[i] += f[i];
    }
    EXPECT_EQ(total, 60);
  }
  // 20 samples of 60 rows: 1200 selections over the rows.
  double sum = 0;
  for (double c : chosen)
    sum += c;
  EXPECT_EQ(sum, 1200);
}

// Resampler i draws from the stream seeded with seed + i; ten samples on three resamplers
// are samples 1-4 of seed 7, then 1-3 of seed 8 and 1-3 of seed 9, as single-resampler runs
// of those seeds draw them.
TEST(ModelAverageDraws, TenSamplesOnThreeResamplersSplitFourThreeThree) {
  const ProgramRun all = draw("NSAMPLES=10 NTHREADS$=3", "", "masplit");
  ASSERT_EQ(all.status, 0) << all.log;
  const auto freqs = sampleFreqs(all.files.at("o.csv"));
  ASSERT_EQ(freqs.size(), 10u);
  size_t next = 0;
  for (const auto& [seed, count] : std::vector<std::pair<int, int>>{{7, 4}, {8, 3}, {9, 3}}) {
    const ProgramRun one = draw("NSAMPLES=" + std::to_string(count) + " NTHREADS$=1", "",
                                "masplit" + std::to_string(seed), seed);
    ASSERT_EQ(one.status, 0) << one.log;
    const auto own = sampleFreqs(one.files.at("o.csv"));
    ASSERT_EQ(own.size(), static_cast<size_t>(count));
    for (const auto& f : own)
      EXPECT_EQ(f, freqs[next++]) << "seed " << seed;
  }
}

// Every sample of a seed, not only the first, is the one an independent twister and binomial
// draw: the copy visited last (p = 1) takes its uniform like any other, so later samples do
// not shift. Twelve rows: six samples of seed 7 over two resamplers (seeds 7 and 8), and
// three of seed 8192 (the other seeding) with SIZE=700, whose first copies take the normal
// approximation of the binomial.
TEST(ModelAverageDraws, SeedsDrawTheSequenceOfAnIndependentGenerator) {
  std::ifstream in(std::string(QRX_SOURCE_DIR) + "/tests/data/resample/draws.txt");
  std::map<std::string, std::vector<std::vector<double>>> want;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream row(line);
    std::string name;
    int sample = 0;
    row >> name >> sample;
    std::vector<double> f;
    for (double x; row >> x;)
      f.push_back(x);
    want[name].push_back(f);
  }
  ASSERT_EQ(want.size(), 2u);
  std::string data = "y,x\n";
  for (int i = 0; i < 12; ++i)
    data += std::to_string(i % 5 + 0.5 * i) + "," + std::to_string(i * 7 % 11) + "\n";
  const std::map<std::string, std::string> cases = {
      {"seed7", "SEED=7;\n  MODEL y = x / SELECTION=NONE;\n  MODELAVERAGE NSAMPLES=6 NTHREADS$=2"},
      {"seed8192size", "SEED=8192;\n  MODEL y = x / SELECTION=NONE;\n"
                       "  MODELAVERAGE NSAMPLES=3 SAMPLING=URS(SIZE=700)"}};
  for (const auto& [name, program] : cases) {
    const ProgramRun r =
        runProgram("PROC VARSIFTER DATA=d " + program + ";\n  OUTPUT OUT=o SAMPLEFREQ;\nRUN;\n",
                   "maseq" + name, {{"d.csv", data}}, {"o.csv"});
    ASSERT_EQ(r.status, 0) << r.log;
    EXPECT_EQ(sampleFreqs(r.files.at("o.csv")), want.at(name)) << name;
  }
}

// The same seed gives the same draws on one thread and with several threads whose pages
// (1 KB, one kept in memory) go to disk, as the page-file table shows.
TEST(ModelAverageDraws, ThreadsAndPagesOnDiskDrawTheSame) {
  const ProgramRun one = draw("NSAMPLES=6 NTHREADS$=2", "  PERFORMANCE NOTHREADS;\n", "madisk1");
  const ProgramRun disk =
      draw("NSAMPLES=6 NTHREADS$=2",
           "  PERFORMANCE THREADS CPUCOUNT=3 UTIL_DETAILS$ UTIL_BUFFERS$=1 UTIL_PAGESIZE$=1;\n",
           "madisk3");
  ASSERT_EQ(one.status, 0) << one.log;
  ASSERT_EQ(disk.status, 0) << disk.log;
  EXPECT_EQ(one.files.at("o.csv"), disk.files.at("o.csv"));
  const auto util = tablesOf(disk, "UtilInfo");
  ASSERT_FALSE(util.empty()) << disk.log;
  double onDisk = 0;
  for (const auto& row : (*util[0])["rows"].items)
    onDisk += row[2].n;
  EXPECT_GT(onDisk, 0.0);
}

} // namespace
