// Constructed-effect columns of 1,000,000 rows: a cubic B-spline of x (3 equally spaced
// interior knots, 7 columns) and a degree-3 polynomial of x and z (9 terms), filled for every
// row as the row builder asks for them. Rows are made once, untimed, with a fixed seed; each
// run's column sums are checked against a second, plain computation of the same columns.
// Run: build/release/bench/bench_constructed (not part of the test run).
#include "design/levconstructed.h"
#include "tests/design/constructedrecords.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <stdexcept>
#include <vector>

namespace {

constexpr size_t kRows = 1000000;
constexpr int32_t kDegree = 3;

struct Bench : constructedtest::SplineAndPolynomial {
  std::vector<double> x, z;

  Bench() : SplineAndPolynomial({-3, -2, -1 - 1e-13, -0.5, 0, 0.5, 1 + 1e-13, 2, 3}, kDegree) {
    std::mt19937_64 rng(20261207);
    std::uniform_real_distribution<double> u(-1, 1);
    for (size_t i = 0; i < kRows; ++i) {
      x.push_back(u(rng));
      z.push_back(u(rng));
    }
  }

  // The column sums over every row through the row builder's column code.
  double run() {
    double sum = 0;
    for (size_t i = 0; i < kRows; ++i) {
      numeric[0] = x[i];
      numeric[1] = z[i];
      zlevResetEftVarCols(&design);
      zlevGetEftVarCols(&ctx, &records[0]);
      zlevGetEftVarCols(&ctx, &records[1]);
      for (double v : splineValues)
        sum += v;
      for (double v : polyValues)
        sum += v;
    }
    return sum;
  }

  // The same sums the plain way: the B-spline basis sums to 1 inside the knots, and the
  // polynomial terms written out.
  double reference() const {
    double sum = 0;
    for (size_t i = 0; i < kRows; ++i) {
      const double a = x[i], b = z[i];
      sum += 1 + a + b + a * a + a * b + b * b + a * a * a + a * a * b + a * b * b + b * b * b;
    }
    return sum;
  }
};

Bench& bench() {
  static Bench b;
  return b;
}

void BM_SplineAndPolynomialColumns(benchmark::State& state) {
  Bench& b = bench();
  const double expected = b.reference();
  for (auto _ : state) {
    const double got = b.run();
    if (std::fabs(got - expected) > 1e-6 * std::fabs(expected))
      throw std::runtime_error("constructed columns disagree with the plain computation");
    benchmark::DoNotOptimize(got);
  }
  state.counters["rows/s"] =
      benchmark::Counter(static_cast<double>(kRows) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SplineAndPolynomialColumns)->Unit(benchmark::kMillisecond)->Repetitions(5);

} // namespace
