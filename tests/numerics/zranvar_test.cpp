// Tests of the twenty distributions: a chi-square goodness-of-fit test of every case in
// tests/data/rng/gof.txt (bins and critical values from scipy, fixed seed), the fillers
// against repeated getter calls, parameter checks, and the edge rules of the variates.
#include "numerics/rngfake.h"
#include "numerics/zrandom.h"
#include "numerics/zranvar.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <sstream>
#include <vector>

using rngtest::FakeKernel;

namespace {

struct GofBin {
  double lo, hi, p;
};

struct GofCase {
  std::string name, dist;
  std::vector<double> params;
  int n = 0;
  double crit = 0.0;
  std::vector<double> edges; // continuous: interior quantile edges (equiprobable bins)
  std::vector<GofBin> bins;  // discrete: inclusive value ranges
};

std::vector<GofCase> loadCases() {
  std::ifstream in(std::string(QRX_TEST_DATA) + "/rng/gof.txt");
  std::vector<GofCase> cases;
  std::string line;
  GofCase c;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::string word;
    if (!(ls >> word) || word[0] == '#')
      continue;
    if (word == "case") {
      c = GofCase();
      ls >> c.name >> c.dist;
      double v;
      while (ls >> v)
        c.params.push_back(v);
    } else if (word == "n") {
      ls >> c.n;
    } else if (word == "crit") {
      ls >> c.crit;
    } else if (word == "edges") {
      double v;
      while (ls >> v)
        c.edges.push_back(v);
    } else if (word == "bin") {
      GofBin b;
      ls >> b.lo >> b.hi >> b.p;
      c.bins.push_back(b);
    } else if (word == "end") {
      cases.push_back(c);
    }
  }
  return cases;
}

// Fills the stream's buffer with the case's distribution through the filler table.
void fillCase(RandomStream* s, const GofCase& c) {
  const auto& p = c.params;
  const std::string& d = c.dist;
  int32_t rc = -1;
  if (d == "BERNOULLI")
    rc = ranFiller<RAN_BERNOULLI>(s)(s, p[0]);
  else if (d == "BETA")
    rc = ranFiller<RAN_BETA>(s)(s, p[0], p[1]);
  else if (d == "BINOMIAL")
    rc = ranFiller<RAN_BINOMIAL>(s)(s, static_cast<int64_t>(p[0]), p[1]);
  else if (d == "CAUCHY")
    rc = ranFiller<RAN_CAUCHY>(s)(s);
  else if (d == "CHISQUARE")
    rc = ranFiller<RAN_CHISQUARE>(s)(s, p[0]);
  else if (d == "ERLANG")
    rc = ranFiller<RAN_ERLANG>(s)(s, static_cast<int32_t>(p[0]));
  else if (d == "EXPONENTIAL")
    rc = ranFiller<RAN_EXPONENTIAL>(s)(s);
  else if (d == "F")
    rc = ranFiller<RAN_F>(s)(s, p[0], p[1]);
  else if (d == "GAMMA")
    rc = ranFiller<RAN_GAMMA>(s)(s, p[0]);
  else if (d == "GEOMETRIC")
    rc = ranFiller<RAN_GEOMETRIC>(s)(s, p[0]);
  else if (d == "HYPERGEOMETRIC")
    rc = ranFiller<RAN_HYPERGEOMETRIC>(s)(s, static_cast<int64_t>(p[0]), static_cast<int64_t>(p[1]),
                                          static_cast<int64_t>(p[2]));
  else if (d == "LOGNORMAL")
    rc = ranFiller<RAN_LOGNORMAL>(s)(s);
  else if (d == "NEGBINOMIAL")
    rc = ranFiller<RAN_NEGBINOMIAL>(s)(s, p[0], p[1]);
  else if (d == "NORMAL")
    rc = ranFiller<RAN_NORMAL>(s)(s);
  else if (d == "POISSON")
    rc = ranFiller<RAN_POISSON>(s)(s, p[0]);
  else if (d == "TABLE")
    rc = ranFiller<RAN_TABLE>(s)(s, static_cast<int64_t>(p[0]), p.data() + 1);
  else if (d == "T")
    rc = ranFiller<RAN_T>(s)(s, p[0]);
  else if (d == "TRIANGLE")
    rc = ranFiller<RAN_TRIANGLE>(s)(s, p[0]);
  else if (d == "UNIFORM")
    rc = ranFiller<RAN_UNIFORM>(s)(s);
  else if (d == "WEIBULL")
    rc = ranFiller<RAN_WEIBULL>(s)(s, p[0], p[1]);
  ASSERT_EQ(rc, 0) << c.name;
}

double chiSquare(const GofCase& c, const std::vector<double>& x) {
  const double n = static_cast<double>(x.size());
  double stat = 0.0;
  if (!c.edges.empty()) {
    std::vector<double> counts(c.edges.size() + 1, 0.0);
    for (double v : x)
      counts[std::upper_bound(c.edges.begin(), c.edges.end(), v) - c.edges.begin()] += 1.0;
    const double expected = n / static_cast<double>(counts.size());
    for (double o : counts)
      stat += (o - expected) * (o - expected) / expected;
    return stat;
  }
  std::vector<double> counts(c.bins.size(), 0.0);
  for (double v : x) {
    bool placed = false;
    for (size_t i = 0; i < c.bins.size() && !placed; ++i)
      if (v >= c.bins[i].lo && v <= c.bins[i].hi) {
        counts[i] += 1.0;
        placed = true;
      }
    EXPECT_TRUE(placed) << c.name << " value " << v;
  }
  for (size_t i = 0; i < counts.size(); ++i) {
    const double expected = n * c.bins[i].p;
    stat += (counts[i] - expected) * (counts[i] - expected) / expected;
  }
  return stat;
}

RandomStream seededStream(int64_t seed) {
  RandomStream s{};
  s.seed = seed;
  zmrsrnd(&s);
  return s;
}

// A uniform source that plays back a script, then falls back to the twister.
std::vector<double> g_script;
size_t g_scriptPos = 0;
double scripted(RandomStream* s) {
  if (g_scriptPos < g_script.size())
    return g_script[g_scriptPos++];
  return GetNextRanUni(s);
}

} // namespace

TEST(Variates, GoodnessOfFitOfEveryDistribution) {
  FakeKernel k;
  std::vector<GofCase> cases = loadCases();
  ASSERT_GE(cases.size(), 40u) << "tests/data/rng/gof.txt missing or short";
  std::vector<std::string> covered;
  for (const GofCase& c : cases) {
    RandomStream s = seededStream(20260105);
    std::vector<double> x(static_cast<size_t>(c.n));
    s.buffer = x.data();
    s.bufferLength = static_cast<uint32_t>(c.n);
    fillCase(&s, c);
    for (double v : x)
      ASSERT_FALSE(isHostMissing(v)) << c.name;
    double stat = chiSquare(c, x);
    EXPECT_LT(stat, c.crit) << c.name << ": chi-square " << stat << " critical " << c.crit;
    covered.push_back(c.dist);
  }
  std::sort(covered.begin(), covered.end());
  covered.erase(std::unique(covered.begin(), covered.end()), covered.end());
  EXPECT_EQ(covered.size(), 20u);
}

TEST(Variates, FillerWritesWhatSuccessiveGettersReturn) {
  FakeKernel k;
  const double probs[] = {0.25, 0.25, 0.5};
  struct Pair {
    const char* name;
    std::function<double(RandomStream*)> get;
    std::function<int32_t(RandomStream*)> fill;
  };
  std::vector<Pair> pairs = {
      {"BETA", [](RandomStream* s) { return GetOneVariateBETA(s, 0.7, 2.5); },
       [](RandomStream* s) { return FillTheBufferBETA(s, 0.7, 2.5); }},
      {"BINOMIAL", [](RandomStream* s) { return GetOneVariateBINOMIAL(s, 500, 0.3); },
       [](RandomStream* s) { return FillTheBufferBINOMIAL(s, 500, 0.3); }},
      {"GAMMA", [](RandomStream* s) { return GetOneVariateGAMMA(s, 0.4); },
       [](RandomStream* s) { return FillTheBufferGAMMA(s, 0.4); }},
      {"NORMAL", [](RandomStream* s) { return GetOneVariateNORMAL(s); },
       [](RandomStream* s) { return FillTheBufferNORMAL(s); }},
      {"POISSON", [](RandomStream* s) { return GetOneVariatePOISSON(s, 12.3); },
       [](RandomStream* s) { return FillTheBufferPOISSON(s, 12.3); }},
      {"NEGBINOMIAL", [](RandomStream* s) { return GetOneVariateNEGBINOMIAL(s, 0.3, 2.5); },
       [](RandomStream* s) { return FillTheBufferNEGBINOMIAL(s, 0.3, 2.5); }},
      {"TABLE", [&](RandomStream* s) { return GetOneVariateTABLE(s, 3, probs); },
       [&](RandomStream* s) { return FillTheBufferTABLE(s, 3, probs); }},
      {"T", [](RandomStream* s) { return GetOneVariateT(s, 3.5); },
       [](RandomStream* s) { return FillTheBufferT(s, 3.5); }},
  };
  for (const Pair& p : pairs) {
    RandomStream a = seededStream(99), b = seededStream(99);
    std::vector<double> buffer(257);
    b.buffer = buffer.data();
    b.bufferLength = 257;
    ASSERT_EQ(p.fill(&b), 0) << p.name;
    for (size_t i = 0; i < buffer.size(); ++i)
      ASSERT_EQ(p.get(&a), buffer[i]) << p.name << " at " << i;
  }
  RandomStream s = seededStream(99);
  EXPECT_EQ(FillTheBufferUNIFORM(&s), 1); // no buffer
  double one = 0.0;
  s.buffer = &one;
  s.bufferLength = 0;
  EXPECT_EQ(FillTheBufferNORMAL(&s), 1);
}

TEST(Variates, InvalidParametersGiveTheMissingValue) {
  FakeKernel k;
  RandomStream s = seededStream(7);
  const double nan = std::nan("");
  EXPECT_TRUE(isHostMissing(GetOneVariateT(&s, 0.05)));
  EXPECT_TRUE(isHostMissing(GetOneVariateCHISQUARE(&s, 0.0)));
  EXPECT_TRUE(isHostMissing(GetOneVariateF(&s, 0.0, 3.0)));
  EXPECT_TRUE(isHostMissing(GetOneVariateF(&s, 3.0, -1.0)));
  EXPECT_TRUE(isHostMissing(GetOneVariateBERNOULLI(&s, 1.5)));
  EXPECT_TRUE(isHostMissing(GetOneVariateBERNOULLI(&s, -0.1)));
  EXPECT_TRUE(isHostMissing(GetOneVariateHYPERGEOMETRIC(&s, 0, 0, 0)));
  EXPECT_TRUE(isHostMissing(GetOneVariateHYPERGEOMETRIC(&s, 10, 11, 2)));
  EXPECT_TRUE(isHostMissing(GetOneVariateHYPERGEOMETRIC(&s, 10, 2, 11)));
  EXPECT_TRUE(isHostMissing(GetOneVariateNEGBINOMIAL(&s, 0.0, 2.0)));
  EXPECT_TRUE(isHostMissing(GetOneVariateNEGBINOMIAL(&s, 1.2, 2.0)));
  EXPECT_TRUE(isHostMissing(GetOneVariateNEGBINOMIAL(&s, 0.5, 0.0)));
  EXPECT_TRUE(isHostMissing(GetOneVariateTRIANGLE(&s, 1.01)));
  EXPECT_TRUE(isHostMissing(GetOneVariateWEIBULL(&s, 0.0, 1.0)));
  EXPECT_TRUE(isHostMissing(GetOneVariateWEIBULL(&s, 1.0, -1.0)));
  // Getters that took their parameters unchecked now refuse bad ones as well.
  EXPECT_TRUE(isHostMissing(GetOneVariateGEOMETRIC(&s, 0.0))); // would never end
  EXPECT_TRUE(isHostMissing(GetOneVariateGEOMETRIC(&s, 1.5)));
  EXPECT_TRUE(isHostMissing(GetOneVariateGAMMA(&s, -2.0)));
  EXPECT_TRUE(isHostMissing(GetOneVariateGAMMA(&s, 0.0)));
  EXPECT_TRUE(isHostMissing(GetOneVariateERLANG(&s, 0)));
  EXPECT_TRUE(isHostMissing(GetOneVariateBETA(&s, 2.0, 0.0)));
  EXPECT_TRUE(isHostMissing(GetOneVariateBETA(&s, 1.0, -1.0)));
  EXPECT_TRUE(isHostMissing(GetOneVariateBETA(&s, -0.5, 1.0)));
  EXPECT_TRUE(isHostMissing(GetOneVariateBINOMIAL(&s, -1, 0.5)));
  EXPECT_TRUE(isHostMissing(GetOneVariateBINOMIAL(&s, 10, 1.5)));
  EXPECT_TRUE(isHostMissing(GetOneVariatePOISSON(&s, -1.0)));
  EXPECT_TRUE(isHostMissing(GetOneVariateTABLE(&s, 2, nullptr)));
  // Not-a-number parameters fail every check instead of looping or leaking through.
  EXPECT_TRUE(isHostMissing(GetOneVariateGAMMA(&s, nan)));
  EXPECT_TRUE(isHostMissing(GetOneVariatePOISSON(&s, nan)));
  EXPECT_TRUE(isHostMissing(GetOneVariateBINOMIAL(&s, 10, nan)));
  EXPECT_TRUE(isHostMissing(GetOneVariateT(&s, nan)));
  EXPECT_TRUE(isHostMissing(GetOneVariateBETA(&s, nan, 2.0)));
  EXPECT_TRUE(isHostMissing(GetOneVariateBERNOULLI(&s, nan)));

  std::vector<double> buffer(9, 0.0);
  s.buffer = buffer.data();
  s.bufferLength = 9;
  for (auto fill :
       std::vector<std::function<int32_t()>>{[&] { return FillTheBufferT(&s, 0.05); },
                                             [&] { return FillTheBufferCHISQUARE(&s, 0.0); },
                                             [&] { return FillTheBufferF(&s, 2.0, 0.0); },
                                             [&] { return FillTheBufferBERNOULLI(&s, 1.5); },
                                             [&] { return FillTheBufferGEOMETRIC(&s, 0.0); }}) {
    std::fill(buffer.begin(), buffer.end(), 0.0);
    ASSERT_EQ(fill(), 0);
    for (double v : buffer)
      ASSERT_TRUE(isHostMissing(v));
  }
}

TEST(Variates, BinomialEdges) {
  FakeKernel k;
  {
    RandomStream s = seededStream(3); // a fresh stream: its cached set-up is all zero
    EXPECT_EQ(GetOneVariateBINOMIAL(&s, 0, 0.0), 0.0);
    EXPECT_EQ(GetOneVariateBINOMIAL(&s, 0, 0.7), 0.0);
    EXPECT_EQ(GetOneVariateBINOMIAL(&s, 12, 0.0), 0.0);
    EXPECT_EQ(GetOneVariateBINOMIAL(&s, 12, 1.0), 12.0);
  }
  RandomStream s = seededStream(4);
  double sum = 0.0;
  for (int i = 0; i < 5000; ++i) {
    double x = GetOneVariateBINOMIAL(&s, 301, 0.5);
    ASSERT_GE(x, 0.0);
    ASSERT_LE(x, 301.0);
    ASSERT_EQ(x, std::floor(x));
    sum += x;
  }
  EXPECT_NEAR(sum / 5000.0, 150.5, 0.5);
}

TEST(Variates, PoissonEdges) {
  FakeKernel k;
  RandomStream s = seededStream(5);
  EXPECT_EQ(GetOneVariatePOISSON(&s, 0.0), 0.0); // first call: parameters equal the zeroed ones
  GetOneVariatePOISSON(&s, 85.0);
  EXPECT_EQ(s.poissonSetup.mode, 2);
  GetOneVariatePOISSON(&s, 84.5);
  EXPECT_EQ(s.poissonSetup.mode, 1);
  EXPECT_EQ(s.poissonSetup.m, 84.0);
  GetOneVariatePOISSON(&s, 3.5);
  EXPECT_EQ(s.poissonSetup.mode, 0);
  GetOneVariatePOISSON(&s, 3.0);
  EXPECT_EQ(s.poissonSetup.mode, 1);
  // The mode search must reach the far tails.
  double lo = 1e9, hi = -1.0;
  for (int i = 0; i < 20000; ++i) {
    double x = GetOneVariatePOISSON(&s, 20.0);
    lo = std::min(lo, x);
    hi = std::max(hi, x);
  }
  EXPECT_LE(lo, 8.0);
  EXPECT_GE(hi, 35.0);
}

TEST(Variates, GammaWithShapeOneIsMinusLogOfOneUniform) {
  FakeKernel k;
  RandomStream a = seededStream(11), b = seededStream(11);
  for (int i = 0; i < 100; ++i)
    ASSERT_DOUBLE_EQ(GetOneVariateGAMMA(&a, 1.0), -std::log(GetNextRanUni(&b)));
  // Shape 0.5 uses only the fractional scheme: two or three uniforms per attempt and no
  // integer part; its mean is 0.5.
  double sum = 0.0;
  for (int i = 0; i < 40000; ++i)
    sum += GetOneVariateGAMMA(&a, 0.5);
  EXPECT_NEAR(sum / 40000.0, 0.5, 0.02);
}

TEST(Variates, NormalPairsAndLognormalShareTheHeldValue) {
  FakeKernel k;
  RandomStream s = seededStream(12);
  double first = GetOneVariateNORMAL(&s);
  EXPECT_EQ(s.normalHeld, 1);
  double held = s.normalValue;
  int64_t before = s.lastInteger;
  double second = GetOneVariateNORMAL(&s);
  EXPECT_EQ(second, held);
  EXPECT_EQ(s.lastInteger, before); // no uniform drawn for the second of a pair
  EXPECT_EQ(s.normalHeld, 0);
  (void)first;
  GetOneVariateNORMAL(&s);
  held = s.normalValue;
  EXPECT_DOUBLE_EQ(GetOneVariateLOGNORMAL(&s), std::exp(held));

  // The polar pair itself, from two scripted uniforms.
  RandomStream t = seededStream(13);
  g_script = {0.8, 0.3};
  g_scriptPos = 0;
  t.uniformSource = scripted;
  double w1 = 0.6, w2 = -0.4, q = w1 * w1 + w2 * w2;
  double f = std::sqrt(-2.0 * std::log(q) / q);
  EXPECT_NEAR(GetOneVariateNORMAL(&t), w1 * f, 1e-15);
  EXPECT_NEAR(GetOneVariateNORMAL(&t), w2 * f, 1e-15);
}

TEST(Variates, CauchyNeverDividesByZero) {
  FakeKernel k;
  RandomStream s = seededStream(14);
  // The second uniform of the first pair is exactly 0.5: the pair must be drawn again.
  g_script = {0.6, 0.5, 0.7, 0.9};
  g_scriptPos = 0;
  s.uniformSource = scripted;
  double x = GetOneVariateCAUCHY(&s);
  EXPECT_TRUE(std::isfinite(x));
  EXPECT_DOUBLE_EQ(x, (0.7 - 0.5) / (0.9 - 0.5));
  // A pair outside the disc is drawn again too.
  g_script = {0.99, 0.99, 0.25, 0.75};
  g_scriptPos = 0;
  EXPECT_DOUBLE_EQ(GetOneVariateCAUCHY(&s), -1.0);
}

TEST(Variates, TableTriangleGeometricAndHypergeometricRules) {
  FakeKernel k;
  RandomStream s = seededStream(15);
  const double short_[] = {0.1, 0.2};
  g_script = {0.95, 0.05, 0.3};
  g_scriptPos = 0;
  s.uniformSource = scripted;
  EXPECT_EQ(GetOneVariateTABLE(&s, 2, short_), 3.0); // sum 0.3 stays below 0.95
  EXPECT_EQ(GetOneVariateTABLE(&s, 2, short_), 1.0);
  EXPECT_EQ(GetOneVariateTABLE(&s, 2, short_), 2.0); // p1 + p2 = 0.3 >= 0.3
  EXPECT_EQ(GetOneVariateTABLE(&s, 0, short_), 1.0);
  g_script = {0.09, 0.51};
  g_scriptPos = 0;
  EXPECT_DOUBLE_EQ(GetOneVariateTRIANGLE(&s, 0.3), std::sqrt(0.09 * 0.3));
  EXPECT_DOUBLE_EQ(GetOneVariateTRIANGLE(&s, 0.3), 1.0 - std::sqrt((1.0 - 0.3) * (1.0 - 0.51)));
  s.uniformSource = GetNextRanUni;
  EXPECT_EQ(GetOneVariateGEOMETRIC(&s, 1.0), 1.0);
  EXPECT_EQ(GetOneVariateHYPERGEOMETRIC(&s, 10, 4, 0), 0.0);
  EXPECT_EQ(GetOneVariateHYPERGEOMETRIC(&s, 10, -1, 3), 0.0);
  EXPECT_EQ(GetOneVariateHYPERGEOMETRIC(&s, 10, 10, 7), 7.0);
  EXPECT_EQ(GetOneVariateHYPERGEOMETRIC(&s, 10, 0, 7), 0.0);
  EXPECT_EQ(GetOneVariateNEGBINOMIAL(&s, 1.0, 3.0), 0.0);
}
