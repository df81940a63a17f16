// The selected-model hand-over as a stand-in sibling module sees it: whole programs run
// through the host runner with the module loader swapped for a recorder, which keeps the
// order of the items passed to the set entry and copies their values. The values are checked
// against least squares over the data computed here: the estimates of the reduced design,
// the swept triangle (the inverse of X'X, minus the estimates, the error sum of squares) and
// the error variance with its degrees of freedom.
#include "driver/vsfbridge.h"
#include "driver/vsfmain.h"
#include "host/hostcore.h"
#include "host/runner/programrun.h"
#include "siblingswap.h"
#include "support/hostif.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

// What one hand-over brought.
struct Handed {
  std::vector<int32_t> items;
  std::vector<double> estimates, triangle;
  std::vector<std::string> names; // parameter names, in parameter order
  std::vector<int32_t> reducedOf; // each parameter's reduced column
  double errorVariance = 0, errorDf = 0;
  int32_t reduced = 0;
};
std::vector<Handed> gHanded;
PostFitBridgeMethods gMethods;

int32_t recordItem(PostFitBridge* b, int32_t item, const void* value, int32_t) {
  Handed& h = gHanded.back();
  h.items.push_back(item);
  const double* v = static_cast<const double*>(value);
  const int64_t N = b->model != nullptr ? b->model->reducedColumnCount : 0;
  if (item == PFI_ESTIMATES)
    h.estimates.assign(v, v + N);
  else if (item == PFI_COVARIANCE)
    h.triangle.assign(v, v + (N + 1) * (N + 2) / 2);
  else if (item == PFI_STATISTICS) {
    h.errorVariance = v[1];
    h.errorDf = v[4];
  }
  return 0;
}

int32_t recordModel(PostFitBridge* b) {
  Handed& h = gHanded.back();
  h.reduced = b->model->reducedColumnCount;
  for (int32_t i = 0; i < b->model->parameterCount; ++i) {
    h.names.emplace_back(b->model->parameters[i].name);
    h.reducedOf.push_back(b->model->parameters[i].reducedColumn);
  }
  return 0;
}

int32_t entryOf(void*, PostFitEntry* entry) {
  *entry = [](PostFitBridge* b, void*) -> int32_t {
    b->methods = &gMethods;
    return 0;
  };
  return 0;
}

int32_t load(void** handle, const char*, int32_t, int32_t, int32_t, int32_t) {
  *handle = &gMethods;
  return 0;
}

void entry(HostControlBlock* cb, void* pidb) { mcn_main(cb, pidb); }

struct HandOverTest : ::testing::Test {
  std::filesystem::path dir;
  ModuleLoaderSwap loader{load, entryOf};

  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("handover_" + std::to_string(long(::getpid())) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
    gHanded.clear();
    gMethods = PostFitBridgeMethods{};
    gMethods.set = [](PostFitBridge* b, int32_t item, const void* v, int32_t f) {
      if (item == PFI_ESTIMATES)
        gHanded.emplace_back();
      return recordItem(b, item, v, f);
    };
    gMethods.runModel = recordModel;
    gMethods.byStart = [](PostFitBridge*) {};
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  // Runs the statements over data set t.d; every hand-over starts a record.
  int run(const std::string& data, const std::string& statements) {
    std::ofstream(dir / "d.csv") << data;
    std::vector<qrxhost::ProcedureModule> modules(1);
    modules[0].name = "VARSIFTER";
    modules[0].entry = entry;
    modules[0].main = pcn_QRXVARSF.main;
    const std::string program = "libname t '" + dir.string() + "';\nproc varsifter data=t.d;\n" +
                                statements + "\n  code file='" + (dir / "s.py").string() +
                                "';\nrun;\n";
    qrxhost::ProgramResult result = qrxhost::runProgram(program, "p.qrx", modules);
    return result.record.steps.empty() ? -1 : result.record.steps[0].returnCode;
  }
};

// Rows of y, x1, x2, x3 and a CLASS variable g: y depends on x1 and x2; x3 is noise.
struct Data {
  std::map<std::string, std::vector<double>> columns;
  std::string csv() const {
    std::string out = "y,x1,x2,x3,g\n";
    char line[128];
    for (size_t i = 0; i < columns.at("y").size(); ++i) {
      std::snprintf(line, sizeof line, "%.17g,%.17g,%.17g,%.17g,%c\n", columns.at("y")[i],
                    columns.at("x1")[i], columns.at("x2")[i], columns.at("x3")[i],
                    char('a' + i % 3));
      out += line;
    }
    return out;
  }
};

Data makeData(int n) {
  Data d;
  for (int i = 0; i < n; ++i) {
    const double x1 = std::sin(1.3 * i) * 4, x2 = std::cos(0.7 * i) * 3 + 10,
                 x3 = std::sin(2.9 * i + 1);
    d.columns["x1"].push_back(x1);
    d.columns["x2"].push_back(x2);
    d.columns["x3"].push_back(x3);
    d.columns["y"].push_back(1.5 + 2 * x1 - 0.8 * x2 + 0.3 * std::sin(5.1 * i));
  }
  return d;
}

// Least squares over the named columns ("Intercept" is 1): the inverse of X'X by
// Gauss-Jordan in long double, the estimates and the error sum of squares.
struct Fit {
  std::vector<std::vector<double>> inverse;
  std::vector<double> beta;
  double sse = 0;
};

Fit leastSquares(const Data& d, const std::vector<std::string>& names) {
  const size_t p = names.size(), n = d.columns.at("y").size();
  auto x = [&](size_t r, size_t k) {
    return names[k] == "Intercept" ? 1.0 : d.columns.at(names[k])[r];
  };
  std::vector<std::vector<long double>> a(p, std::vector<long double>(2 * p, 0));
  std::vector<long double> xty(p, 0);
  for (size_t r = 0; r < n; ++r)
    for (size_t i = 0; i < p; ++i) {
      xty[i] += x(r, i) * d.columns.at("y")[r];
      for (size_t j = 0; j < p; ++j)
        a[i][j] += x(r, i) * x(r, j);
    }
  for (size_t i = 0; i < p; ++i)
    a[i][p + i] = 1;
  for (size_t c = 0; c < p; ++c) {
    size_t best = c;
    for (size_t r = c + 1; r < p; ++r)
      if (std::fabs(double(a[r][c])) > std::fabs(double(a[best][c])))
        best = r;
    std::swap(a[c], a[best]);
    const long double pivot = a[c][c];
    for (auto& v : a[c])
      v /= pivot;
    for (size_t r = 0; r < p; ++r)
      if (r != c) {
        const long double f = a[r][c];
        for (size_t j = 0; j < 2 * p; ++j)
          a[r][j] -= f * a[c][j];
      }
  }
  Fit f;
  f.inverse.assign(p, std::vector<double>(p));
  f.beta.assign(p, 0);
  for (size_t i = 0; i < p; ++i) {
    long double b = 0;
    for (size_t j = 0; j < p; ++j) {
      f.inverse[i][j] = double(a[i][p + j]);
      b += a[i][p + j] * xty[j];
    }
    f.beta[i] = double(b);
  }
  for (size_t r = 0; r < n; ++r) {
    double e = d.columns.at("y")[r];
    for (size_t k = 0; k < p; ++k)
      e -= f.beta[k] * x(r, k);
    f.sse += e * e;
  }
  return f;
}

double packedAt(const std::vector<double>& t, int64_t i, int64_t j) {
  return i >= j ? t[size_t(i * (i + 1) / 2 + j)] : t[size_t(j * (j + 1) / 2 + i)];
}

// The hand-over's values against least squares over the parameters it names.
void expectMatchesLeastSquares(const Handed& h, const Data& d) {
  ASSERT_EQ(h.names.size(), size_t(h.reduced)) << "continuous effects: one column each";
  const Fit f = leastSquares(d, h.names);
  const int64_t N = h.reduced;
  const double n = double(d.columns.at("y").size());
  ASSERT_EQ(h.triangle.size(), size_t((N + 1) * (N + 2) / 2));
  for (size_t i = 0; i < h.names.size(); ++i) {
    const int32_t r = h.reducedOf[i];
    EXPECT_NEAR(h.estimates[size_t(r)], f.beta[i], 1e-9 * (1 + std::fabs(f.beta[i])));
    EXPECT_NEAR(packedAt(h.triangle, N, r), -f.beta[i], 1e-9 * (1 + std::fabs(f.beta[i])));
    for (size_t j = 0; j < h.names.size(); ++j)
      EXPECT_NEAR(packedAt(h.triangle, r, h.reducedOf[j]), f.inverse[i][j],
                  1e-9 * (1e-3 + std::fabs(f.inverse[i][j])))
          << h.names[i] << " x " << h.names[j];
  }
  EXPECT_NEAR(packedAt(h.triangle, N, N), f.sse, 1e-9 * f.sse);
  EXPECT_EQ(h.errorDf, n - double(N));
  EXPECT_NEAR(h.errorVariance, f.sse / (n - double(N)), 1e-9 * f.sse);
}

TEST_F(HandOverTest, ItemsComeInOrderWithTheSelectedModelsValues) {
  const Data d = makeData(40);
  // Every effect, then a selection that leaves the noise out and picks the reduced design.
  for (const std::string select : {"none", "forward(select=sl sle=0.05)"}) {
    gHanded.clear();
    ASSERT_EQ(run(d.csv(), "  model y = x3 x1 x2 / selection=" + select + ";"), 0) << select;
    ASSERT_EQ(gHanded.size(), 1u) << select;
    const Handed& h = gHanded[0];
    // Estimates, triangle, the data reader's effect means (a GLM design) and variable means,
    // the statistics block last.
    EXPECT_EQ(h.items,
              (std::vector<int32_t>{PFI_ESTIMATES, PFI_COVARIANCE, PFI_EFFECT_MEANS,
                                    PFI_WEIGHTED_MEANS, PFI_FREQUENCY_MEANS, PFI_STATISTICS}))
        << select;
    expectMatchesLeastSquares(h, d);
    if (select != "none") {
      EXPECT_EQ(h.names, (std::vector<std::string>{"Intercept", "x1", "x2"}));
    }
  }
}

TEST_F(HandOverTest, FullRankCodingsHandNoEffectMeans) {
  ASSERT_EQ(run(makeData(30).csv(), "  class g / param=ref;\n  model y = g x1 / selection=none;"),
            0);
  ASSERT_EQ(gHanded.size(), 1u);
  EXPECT_EQ(gHanded[0].items,
            (std::vector<int32_t>{PFI_ESTIMATES, PFI_COVARIANCE, PFI_WEIGHTED_MEANS,
                                  PFI_FREQUENCY_MEANS, PFI_STATISTICS}));
  EXPECT_EQ(gHanded[0].names, (std::vector<std::string>{"Intercept", "g_a", "g_b", "x1"}));
}

TEST_F(HandOverTest, ChosenEarlierStepHandsItsOwnCovariance) {
  const Data d = makeData(40);
  // Forward selection runs on to every effect; SBC picks an earlier step, whose sweep the
  // hand-over has to reconstruct.
  ASSERT_EQ(run(d.csv(), "  model y = x3 x1 x2 / selection=forward(select=sl sle=0.99 "
                         "choose=sbc);"),
            0);
  ASSERT_EQ(gHanded.size(), 1u);
  EXPECT_EQ(gHanded[0].names.size(), 3u);
  expectMatchesLeastSquares(gHanded[0], d);
}

TEST_F(HandOverTest, NoErrorDegreesOfFreedomGiveAMissingErrorVariance) {
  ASSERT_EQ(
      run("y,x1,x2,x3,g\n1,2,5,0,a\n3,1,4,0,a\n2,7,1,0,a\n", "  model y = x1 x2 / selection=none;"),
      0);
  ASSERT_EQ(gHanded.size(), 1u);
  EXPECT_TRUE(isHostMissing(gHanded[0].errorVariance));
  EXPECT_EQ(gHanded[0].errorDf, 0.0);
}

TEST_F(HandOverTest, PathMethodsHandOnlyTheEstimatesAndStatistics) {
  const Data d = makeData(40);
  ASSERT_EQ(run(d.csv(), "  model y = x3 x1 x2 / selection=lasso;"), 0);
  ASSERT_EQ(gHanded.size(), 1u);
  EXPECT_EQ(gHanded[0].items, (std::vector<int32_t>{PFI_ESTIMATES, PFI_STATISTICS}));
  EXPECT_EQ(gHanded[0].estimates.size(), size_t(gHanded[0].reduced));
}

} // namespace
