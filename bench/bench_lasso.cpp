// The full LASSO path (STOP=NONE) on centred and scaled pages: 100,000 rows x 100 columns and
// 1,000,000 rows x 50 columns (set QRX_BENCH_BIG=1; the default run uses 20,000 rows so that
// it ends within a minute). The reading pass is untimed set-up; the timed run is vsfModelInit
// + vsfProcessModel, serially and on all cores, with the pages restored after each fit. Rows
// come from a fixed seed; the response depends on the first 10 columns, and each run checks
// that those 10 entered first and that the path ended with every effect in.
#include "benchfit.h"
#include "selection/vsfprocess.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

// The response depends on the first kSignal columns.
constexpr int32_t kSignal = 10;

// The LASSO path to the full model on centred and scaled pages, restored after each fit.
struct Setup : benchfit::Setup {
  Setup(int32_t threads, int32_t cols) : benchfit::Setup(threads, cols, VsfMethod::Lasso) {
    s.rewritePages = 1;
    s.forceDense = 1;
    opt.fullXpx = 1;
    opt.colStandardize = 1;
    opt.screen = VsfScreenMethod::None;
    opt.stopTest = 1;
    opt.transformPages = 1;
    opt.restorePages = 1;
    model.path.l1Target = -1;
  }
};

void BM_LassoPath(benchmark::State& state) {
  const int32_t cols = static_cast<int32_t>(state.range(1));
  benchfit::Rows& r = benchfit::rows(static_cast<size_t>(state.range(0)), cols, kSignal);
  const int32_t T = state.range(2) == 0 ? static_cast<int32_t>(std::thread::hardware_concurrency())
                                        : static_cast<int32_t>(state.range(2));
  Setup setup(T, cols);
  if (setup.read(r) != VsfStatus::Ok)
    throw std::runtime_error("reading pass failed");
  for (auto _ : state) {
    vsfModelByFree(&setup.model); // the previous fit's arrays go with its pool
    const VsfStatus init = vsfModelInit(&setup.model);
    const VsfStatus fit = init == VsfStatus::Ok ? vsfProcessModel(&setup.model) : init;
    if (fit != VsfStatus::Ok || setup.model.fitStatus != VsfFitStatus::Done)
      throw std::runtime_error("fit failed: " + std::to_string(codeOf(fit)) + ", status " +
                               std::to_string(static_cast<int32_t>(setup.model.fitStatus)));
    // Checked result: the 10 effects the response depends on lead, and the path ends with
    // every effect in.
    VsfModel& m = setup.model;
    if (m.history.stepCount < cols + 1 || m.stop.stopReason != VSR_ALL_ENTERED)
      throw std::runtime_error("the path did not reach the full model");
    std::vector<int32_t> first(m.history.stepEffect + 1, m.history.stepEffect + 1 + kSignal);
    std::sort(first.begin(), first.end());
    for (int32_t i = 0; i < kSignal; ++i)
      if (first[i] != i + 1)
        throw std::runtime_error("unexpected effect entered first");
    state.counters["steps"] = m.history.stepCount;
  }
  state.counters["threads"] = setup.s.threadCount;
}

void registerSizes() {
  const bool big = std::getenv("QRX_BENCH_BIG") != nullptr;
  const int64_t n100 = big ? 100000 : 20000, n50 = big ? 1000000 : 20000;
  auto* b = benchmark::RegisterBenchmark("BM_LassoPath", BM_LassoPath);
  b->Args({n100, 100, 1})->Args({n100, 100, 0})->Args({n50, 50, 1})->Args({n50, 50, 0});
  b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(big ? 3 : 2);
}

const int registered = (registerSizes(), 0);

} // namespace
