// One pass of the cross-product kernel (vsfFullXpX, the packed X'X of the response and all
// parameters) over 1,000,000 rows of the intercept and 49 columns, 51 columns in all, on one
// thread and on all cores. The reading pass and the model's set-up are untimed; each run's
// sums are checked against sums formed here from the rows.
#include "benchfit.h"
#include "kernels/vsfxpx.h"
#include "model/vsfsweep.h"
#include "numerics/packedtri.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <thread>

namespace {

constexpr int32_t kCols = 49;

void BM_FullXpXPass(benchmark::State& state) {
  benchfit::Rows& r = benchfit::rows(static_cast<size_t>(state.range(0)), kCols, 10);
  const int32_t T = state.range(1) == 0 ? static_cast<int32_t>(std::thread::hardware_concurrency())
                                        : static_cast<int32_t>(state.range(1));
  benchfit::Setup setup(T, kCols, VsfMethod::Forward);
  setup.opt.select = setup.opt.stop = VsfCriterion::Sbc;
  setup.opt.fullXpx = true;
  if (setup.read(r) != VsfStatus::Ok || vsfModelInit(&setup.model) != VsfStatus::Ok)
    throw std::runtime_error("set-up failed");
  VsfModel& m = setup.model;
  const int64_t L = packed::tri(m.xpxColumns);
  if (m.xpxColumns != kCols + 2)
    throw std::runtime_error("unexpected X'X order");
  for (auto _ : state) {
    std::fill(m.xpx, m.xpx + L, 0.0);
    if (vsfDataPass(&m, vsfFullXpX, vsfFullXpX_t, 0) != VsfStatus::Ok)
      throw std::runtime_error("pass failed");
  }
  // Checked result: y'y, the row count and y'x of the last column, summed here.
  double yy = 0.0, yx = 0.0;
  for (size_t i = 0; i < r.n; ++i) {
    yy += r.y[i] * r.y[i];
    yx += r.y[i] * r.x[i * kCols + kCols - 1];
  }
  const double want[3] = {yy, static_cast<double>(r.n), yx};
  const double got[3] = {m.xpx[0], m.xpx[packed::diag(1)], m.xpx[packed::at(kCols + 1, 0)]};
  for (int c = 0; c < 3; ++c)
    if (std::fabs(got[c] - want[c]) > 1e-9 * std::fabs(want[c]))
      throw std::runtime_error("cross products differ from the rows' sums");
  state.counters["threads"] = setup.s.threadCount;
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

} // namespace

BENCHMARK(BM_FullXpXPass)
    ->Args({1000000, 1})
    ->Args({1000000, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
