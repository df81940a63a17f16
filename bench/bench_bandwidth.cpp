// The machine's memory bandwidth as the data passes meet it: one pass summing 400 MB of
// doubles (the design of 1,000,000 rows x 50 columns) split over 1, 2, 4 and 8 threads. A
// pass over the pages cannot run faster than this stream on the same threads, which bounds
// what more threads can give the passes that are limited by memory rather than arithmetic.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <thread>
#include <vector>

namespace {

constexpr size_t kDoubles = 50'000'000;

const std::vector<double>& design() {
  static const std::vector<double> values(kDoubles, 1.0);
  return values;
}

double sumRange(const double* a, size_t lo, size_t hi) {
  double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  size_t k = lo;
  for (; k + 4 <= hi; k += 4) {
    s0 += a[k];
    s1 += a[k + 1];
    s2 += a[k + 2];
    s3 += a[k + 3];
  }
  for (; k < hi; ++k)
    s0 += a[k];
  return (s0 + s1) + (s2 + s3);
}

void BM_StreamPass(benchmark::State& state) {
  const auto threads = static_cast<size_t>(state.range(0));
  const double* a = design().data();
  std::vector<double> parts(threads, 0.0);
  for (auto _ : state) {
    std::vector<std::thread> pool;
    for (size_t i = 0; i < threads; ++i)
      pool.emplace_back(
          [&, i] { parts[i] = sumRange(a, kDoubles * i / threads, kDoubles * (i + 1) / threads); });
    for (std::thread& t : pool)
      t.join();
    double total = 0;
    for (double p : parts)
      total += p;
    if (total != static_cast<double>(kDoubles))
      state.SkipWithError("the sum of the ones is wrong");
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(kDoubles * sizeof(double)));
}
BENCHMARK(BM_StreamPass)
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Arg(8)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
