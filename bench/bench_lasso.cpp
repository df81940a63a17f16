// The full LASSO path (STOP=NONE) on centred and scaled pages: 100,000 rows x 100 columns and
// 1,000,000 rows x 50 columns (set QRX_BENCH_BIG=1; the default run uses 20,000 rows so that
// it ends within a minute). The reading pass is untimed set-up; the timed run is vsfModelInit
// + vsfProcessModel, serially and on all cores, with the pages restored after each fit. Rows
// come from a fixed seed; the response depends on the first 10 columns, and each run checks
// that those 10 entered first and that the path ended with every effect in.
#include "data/vsfdata.h"
#include "data/zpuddle.h"
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
#include <cstdlib>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

// The response depends on the first kSignal columns.
constexpr int32_t kSignal = 10;

struct Rows {
  std::vector<double> y, x;
  size_t n = 0, at = 0;
  int32_t cols = 0;
};

Rows &rows(size_t n, int32_t cols) {
  static Rows r;
  if (r.n != n || r.cols != cols) {
    std::mt19937_64 rng(20261207);
    std::normal_distribution<double> z;
    r.n = n;
    r.cols = cols;
    r.y.assign(n, 0.0);
    r.x.assign(n * static_cast<size_t>(cols), 0.0);
    r.y.shrink_to_fit();
    r.x.shrink_to_fit();
    for (size_t i = 0; i < n; ++i) {
      double y = z(rng);
      for (int c = 0; c < cols; ++c) {
        const double v = z(rng);
        r.x[i * cols + c] = v;
        if (c < kSignal)
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
  std::memcpy(v, &r->x[(r->at - 1) * r->cols], sizeof(double) * r->cols);
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
  Setup(int32_t threads, int32_t kCols) {
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
    s.method = 6;
    s.rewritePages = 1; // centred and scaled in place, and restored after each fit
    s.forceDense = 1;
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
    opt.method = 6;
    opt.forcedIn = 1;
    opt.fuzz = 1e-12;
    opt.fullXpx = 1;
    opt.fullSweep = 1;
    opt.colStandardize = 1;
    opt.screen = 1;
    opt.stopTest = 1;
    opt.transformPages = 1;
    opt.restorePages = 1;
    opt.recordSteps = 1;
    model.l1Target = -1;
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

void BM_LassoPath(benchmark::State &state) {
  const int32_t cols = static_cast<int32_t>(state.range(1));
  Rows &r = rows(static_cast<size_t>(state.range(0)), cols);
  const int32_t T = state.range(2) == 0 ? static_cast<int32_t>(std::thread::hardware_concurrency())
                                        : static_cast<int32_t>(state.range(2));
  Setup setup(T, cols);
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
    // Checked result: the 10 effects the response depends on lead, and the path ends with
    // every effect in.
    VsfModel &m = setup.model;
    if (m.stepCount < cols + 1 || m.stopReason != VSR_ALL_ENTERED)
      throw std::runtime_error("the path did not reach the full model");
    std::vector<int32_t> first(m.stepEffect + 1, m.stepEffect + 1 + kSignal);
    std::sort(first.begin(), first.end());
    for (int32_t i = 0; i < kSignal; ++i)
      if (first[i] != i + 1)
        throw std::runtime_error("unexpected effect entered first");
    state.counters["steps"] = m.stepCount;
  }
  state.counters["threads"] = setup.s.threadCount;
}

void registerSizes() {
  const bool big = std::getenv("QRX_BENCH_BIG") != nullptr;
  const int64_t n100 = big ? 100000 : 20000, n50 = big ? 1000000 : 20000;
  auto *b = benchmark::RegisterBenchmark("BM_LassoPath", BM_LassoPath);
  b->Args({n100, 100, 1})->Args({n100, 100, 0})->Args({n50, 50, 1})->Args({n50, 50, 0});
  b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(big ? 3 : 2);
}

const int registered = (registerSizes(), 0);

} // namespace
