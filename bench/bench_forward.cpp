// A FORWARD selection of 20 steps by SBC on 1,000,000 rows x 100 columns: the reading pass
// is untimed set-up; the timed run is vsfModelInit + vsfProcessModel, with the full X'X
// formed in one pass or with the cross products grown per entered effect, serially and on
// all cores. Rows come from a fixed seed; the response depends on the first 20 columns, and
// each run checks that exactly those 20 entered.
#include "data/vsfdata.h"
#include "driver/vsfoptions.h"
#include "host/ext/extlist.h"
#include "host/hostcore.h"
#include "host/pools.h"
#include "kernels/vsfkernels.h"
#include "model/vsfmodel.h"
#include "selection/vsfprocess.h"
#include "support/hoststubs.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int32_t kCols = 100;
constexpr int32_t kSteps = 20;

struct Rows {
  std::vector<double> y, x;
  size_t n = 0, at = 0;
};

Rows &rows(size_t n) {
  static Rows r;
  if (r.n != n) {
    std::mt19937_64 rng(20261207);
    std::normal_distribution<double> z;
    r.n = n;
    r.y.resize(n);
    r.x.resize(n * kCols);
    for (size_t i = 0; i < n; ++i) {
      double y = z(rng);
      for (int c = 0; c < kCols; ++c) {
        const double v = z(rng);
        r.x[i * kCols + c] = v;
        if (c < kSteps)
          y += (1.0 + 0.1 * c) * v;
      }
      r.y[i] = y;
    }
  }
  return r;
}

int32_t begin(void *p, int32_t) {
  static_cast<Rows *>(p)->at = 0;
  return 0;
}
int32_t next(void *p) {
  auto *r = static_cast<Rows *>(p);
  return r->at < r->n ? (++r->at, 1) : 0;
}
int32_t status(void *p, double *y, double *, double *) {
  auto *r = static_cast<Rows *>(p);
  *y = r->y[r->at - 1];
  return 0;
}
void row(void *p, double *v) {
  auto *r = static_cast<Rows *>(p);
  std::memcpy(v, &r->x[(r->at - 1) * kCols], sizeof(double) * kCols);
}

struct Setup {
  VsfDataSettings s{};
  std::vector<VsfEffectEntry> entries;
  VsfModelOptions opt{};
  VsfModel model{};
  VsfBagVec bags{};
  ThreadPuddle puddle{};
  QkExtensionSet exts{};
  QkPool *byPool, *pagePool;
  int64_t seed = 1;
  int32_t rc = 0;
  Setup(int32_t threads, bool full) {
    HostControlBlock *cb = qrxhost::hostControlBlock();
    v_global_gcb_anchor = cb;
    Exported_QKHandle = cb->qkHandle;
    vsfRegisterKernels();
    byPool = qrxhost::createArenaPool("bench BY");
    pagePool = qrxhost::createArenaPool("bench pages");
    exts.qk = cb->qkHandle;
    exts.qkpgf = qrxhost::loadExtension("qkpgf");
    exts.qkupath = qrxhost::loadExtension("qkupath");
    s.threadCount = threads;
    s.threadingOn = threads > 1;
    s.cpuCount = threads;
    s.utilAccess = 4;
    s.trainFraction = 1.0;
    s.method = 2;
    s.seed = &seed;
    // The intercept and 100 single-column effects.
    entries.push_back(VsfEffectEntry{0, 1, nullptr, 0, 0});
    for (int32_t c = 0; c < kCols; ++c)
      entries.push_back(VsfEffectEntry{c + 1, 1, nullptr, c + 1, 0});
    s.columnCount = kCols + 1;
    s.entries = entries.data();
    s.entryCount = static_cast<int32_t>(entries.size());
    s.modelEffectCount = s.entryCount;
    model.bags = &bags;
    model.puddle = &puddle;
    opt.method = 2;
    opt.select = opt.stop = 4;
    opt.steps = kSteps;
    opt.forcedIn = 1;
    opt.fuzz = 1e-12;
    opt.fullXpx = full;
    opt.storeCross = !full;
    opt.fullSweep = 1;
    opt.recordSteps = 1;
  }
  ~Setup() {
    vsfModelByFree(&model);
    vsfBagVecRelease(&bags, &exts);
    if (puddle.pool)
      vsfTerminateThreads(&puddle);
    exts.qkpgf->unload(exts.qkpgf);
    exts.qkupath->unload(exts.qkupath);
    for (QkPool *p : {byPool, pagePool})
      p->destroy(p);
  }
  // Rows with the intercept column in front.
  static void rowWithIntercept(void *p, double *v) {
    v[0] = 1.0;
    row(p, v + 1);
  }
  int32_t read(Rows &r) {
    VsfRowSource src{};
    src.self = &r;
    src.begin = begin;
    src.next = next;
    src.status = status;
    src.row = rowWithIntercept;
    VsfReadResult result{};
    int32_t code = vsfReadPass(&s, &src, &model, &bags, &exts, byPool, pagePool, &rc, &result);
    if (code == 0 && s.threadCount > 1)
      code = vsfInitializeThreads(&puddle, s.threadCount);
    model.options = &opt;
    model.fuzz = opt.fuzz;
    return code;
  }
};

void BM_Forward20(benchmark::State &state) {
  Rows &r = rows(static_cast<size_t>(state.range(0)));
  const int32_t T = state.range(1) == 0 ? static_cast<int32_t>(std::thread::hardware_concurrency())
                                        : static_cast<int32_t>(state.range(1));
  const bool full = state.range(2) != 0;
  Setup setup(T, full);
  if (setup.read(r) != 0)
    throw std::runtime_error("reading pass failed");
  for (auto _ : state) {
    vsfModelReset(&setup.model); // the previous fit's arrays go with its pool
    vsfModelByFree(&setup.model);
    const int32_t init = vsfModelInit(&setup.model);
    const int32_t fit = init == 0 ? vsfProcessModel(&setup.model) : init;
    if (fit != 0 || setup.model.fitStatus != 0)
      throw std::runtime_error("fit failed: " + std::to_string(fit) + ", status " +
                               std::to_string(setup.model.fitStatus));
    // Checked result: the intercept and exactly the 20 effects the response depends on.
    VsfModel &m = setup.model;
    if (m.stepCount != kSteps + 1)
      throw std::runtime_error("wrong number of steps");
    std::vector<int32_t> entered(m.stepEffect + 1, m.stepEffect + m.stepCount);
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
