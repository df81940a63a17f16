// Benchmarks of the numerical kernels: a full sweep of a packed 500 x 500 symmetric
// positive definite matrix (every pivot swept in and out again, checked against the
// original), and the vector kernels on long vectors. Fixed seeds; set-up is untimed.
#include "numerics/qkzsweep.h"
#include "numerics/zvector.h"
#include "support/zparrows.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {
// Packed B'B + n I with B uniform on [-1, 1].
std::vector<double> packedSpd(int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<double> b(static_cast<size_t>(n) * n);
  for (auto& v : b)
    v = u(gen);
  std::vector<double> a(static_cast<size_t>(n) * (n + 1) / 2, 0.0);
  for (int r = 0; r < n; ++r)
    zscp(&b[static_cast<size_t>(r) * n], n, a.data(), 1.0);
  for (int i = 0; i < n; ++i)
    a[zisub(i, i)] += n;
  return a;
}

void BM_SweepAllPivots(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<double> orig = packedSpd(n, 12345u);
  std::vector<double> a = orig, work(n);
  std::string flags(n, '0');
  for (auto _ : state) {
    for (int k = 0; k < n; ++k)
      qkzsweep(a.data(), k, n, flags.data(), work.data(), 1e-8);
    for (int k = n - 1; k >= 0; --k)
      qkzsweep(a.data(), k, n, flags.data(), work.data(), 0.0);
    benchmark::DoNotOptimize(a.data());
  }
  // Check: sweeping in and out restores the matrix.
  double worst = 0.0;
  for (size_t i = 0; i < a.size(); ++i)
    worst = std::fmax(worst, std::fabs(a[i] - orig[i]) / (std::fabs(orig[i]) + 1.0));
  if (worst > 1e-9 || flags != std::string(n, '0'))
    state.SkipWithError("sweep did not restore the matrix");
  state.counters["pivots/s"] = benchmark::Counter(2.0 * n * static_cast<double>(state.iterations()),
                                                  benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SweepAllPivots)->Arg(100)->Arg(500)->Unit(benchmark::kMillisecond);

// One pivot swept in and out of an n x n matrix on 1 or more threads, every split taken
// whatever its size: where the threads' time per pivot falls below one thread's is the
// least triangle worth splitting (zparrows' default minimum).
void BM_SweepThreads(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const int threads = static_cast<int>(state.range(1));
  std::vector<double> a = packedSpd(n, 12345u), work(n);
  std::string flags(n, '0');
  zparSetMinimumElements(0);
  int k = 0;
  for (auto _ : state) {
    qkzsweep(a.data(), k, n, flags.data(), work.data(), 1e-8, threads);
    qkzsweep(a.data(), k, n, flags.data(), work.data(), 0.0, threads);
    k = (k + 1) % n;
    benchmark::DoNotOptimize(a.data());
  }
  zparSetMinimumElements(-1);
}
BENCHMARK(BM_SweepThreads)
    ->ArgsProduct({{128, 256, 362, 512, 724, 1024, 2048}, {1, 2, 4, 8}})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

void BM_CrossProducts(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::mt19937 gen(7u);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<double> x(n), a(static_cast<size_t>(n) * (n + 1) / 2, 0.0);
  for (auto& v : x)
    v = u(gen);
  for (auto _ : state) {
    zscp(x.data(), n, a.data(), 0.5);
    benchmark::DoNotOptimize(a.data());
  }
  if (!(std::fabs(a[0] - 0.5 * x[0] * x[0] * static_cast<double>(state.iterations())) <=
        1e-9 * std::fabs(a[0]) + 1e-12))
    state.SkipWithError("cross products wrong");
}
BENCHMARK(BM_CrossProducts)->Arg(500);

void BM_VectorKernels(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::mt19937 gen(99u);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<double> x(n), y(n), z(n);
  for (int i = 0; i < n; ++i) {
    x[i] = u(gen);
    y[i] = u(gen);
  }
  double want = 0.0;
  for (int i = 0; i < n; ++i)
    want += x[i] * y[i];
  double got = 0.0;
  for (auto _ : state) {
    got = zinner(x.data(), y.data(), n);
    zvaxpy(z.data(), y.data(), x.data(), n, 0.25);
    double s = zvsum(z.data(), n) + zvamx(z.data(), n) + zvenorm(n, 1, z.data());
    benchmark::DoNotOptimize(s);
  }
  if (std::fabs(got - want) > 1e-10 * n)
    state.SkipWithError("inner product wrong");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * n * 6 * sizeof(double));
}
BENCHMARK(BM_VectorKernels)->Arg(1000)->Arg(100000);
} // namespace
