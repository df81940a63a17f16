// A FORWARD selection of 20 steps by SBC on 1,000,000 rows x 100 columns: the reading pass
// is untimed set-up; the timed run is vsfModelInit + vsfProcessModel, with the full X'X
// formed in one pass or with the cross products grown per entered effect, serially and on
// all cores. Rows come from a fixed seed; the response depends on the first 20 columns, and
// each run checks that exactly those 20 entered.
#include "benchfit.h"
#include "selection/vsfprocess.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int32_t kCols = 100;
constexpr int32_t kSteps = 20;

// FORWARD by SBC for kSteps steps, with the full X'X or the grown one.
struct Setup : benchfit::Setup {
  Setup(int32_t threads, bool full) : benchfit::Setup(threads, kCols, VsfMethod::Forward) {
    opt.select = opt.stop = VsfCriterion::Sbc;
    opt.steps = kSteps;
    opt.fullXpx = full;
    opt.storeCross = !full;
  }
};

void BM_Forward20(benchmark::State& state) {
  benchfit::Rows& r = benchfit::rows(static_cast<size_t>(state.range(0)), kCols, kSteps);
  const int32_t T = state.range(1) == 0 ? static_cast<int32_t>(std::thread::hardware_concurrency())
                                        : static_cast<int32_t>(state.range(1));
  const bool full = state.range(2) != 0;
  Setup setup(T, full);
  if (setup.read(r) != VsfStatus::Ok)
    throw std::runtime_error("reading pass failed");
  for (auto _ : state) {
    vsfModelByFree(&setup.model); // the previous fit's arrays go with its pool
    const VsfStatus init = vsfModelInit(&setup.model);
    const VsfStatus fit = init == VsfStatus::Ok ? vsfProcessModel(&setup.model) : init;
    if (fit != VsfStatus::Ok || setup.model.fitStatus != VsfFitStatus::Done)
      throw std::runtime_error("fit failed: " + std::to_string(codeOf(fit)) + ", status " +
                               std::to_string(static_cast<int32_t>(setup.model.fitStatus)));
    // Checked result: the intercept and exactly the 20 effects the response depends on.
    VsfModel& m = setup.model;
    if (m.history.stepCount != kSteps + 1)
      throw std::runtime_error("wrong number of steps");
    std::vector<int32_t> entered(m.history.stepEffect + 1,
                                 m.history.stepEffect + m.history.stepCount);
    std::sort(entered.begin(), entered.end());
    for (int32_t i = 0; i < kSteps; ++i)
      if (entered[i] != i + 1)
        throw std::runtime_error("unexpected effect entered");
  }
  state.counters["threads"] = setup.s.threadCount;
  state.counters["full_xpx"] = full ? 1 : 0;
}

} // namespace

BENCHMARK(BM_Forward20)
    ->Args({1000000, 1, 1})
    ->Args({1000000, 0, 1})
    ->Args({1000000, 1, 0})
    ->Args({1000000, 0, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);
