// The reading pass and one cross-product pass over 1,000,000 rows x 50 columns, serially
// and on all cores. Rows are made once, untimed, with a fixed seed; each run's sums are
// checked against the serial pass.
#include "benchfit.h"
#include "data/vsfdata.h"
#include "data/vsfpage.h"
#include "host/ext/extlist.h"
#include "host/hostcore.h"
#include "host/pools.h"
#include "kernels/vsfkernelsums.h"
#include "model/vsfmodel.h"
#include "support/hoststubs.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

constexpr int32_t kCols = 50;

using benchfit::begin;
using benchfit::next;
using benchfit::row;
using benchfit::Rows;
using benchfit::status;

// Pure noise: no column carries the response.
Rows& rows(size_t n) { return benchfit::rows(n, kCols, 0); }

// A packed lower triangle of the response and all columns: the cross-product pass.
inline void addRows(const QkPageDescriptor* page, double* xpx) {
  double count;
  std::memcpy(&count, page->buffer, sizeof count);
  const double* v = reinterpret_cast<const double*>(static_cast<const char*>(page->buffer) + 8);
  constexpr int32_t n = kCols + 1;
  for (int64_t r = 0; r < static_cast<int64_t>(count); ++r, v += n)
    for (int32_t i = 0; i < n; ++i) {
      const double vi = v[i];
      double* rowi = xpx + i * (i + 1) / 2;
      for (int32_t j = 0; j <= i; ++j)
        rowi[j] += vi * v[j];
    }
}
VsfStatus xpxSerial(VsfPassState* m, QkPageDescriptor* page) {
  addRows(page, m->xpx);
  return VsfStatus::Ok;
}
VsfStatus xpxThreaded(VsfPassState*, QkPageDescriptor* page, double* b, int64_t) {
  addRows(page, b);
  return VsfStatus::Ok;
}

struct Setup {
  VsfDataSettings s{};
  VsfEffectEntry entry{0, kCols, nullptr, 0, 0};
  VsfModel model{};
  VsfBagVec bags{};
  ThreadPuddle puddle{};
  QkExtensionSet exts{};
  QkPool *byPool, *pagePool, *modelPool;
  int64_t seed = 1;
  int32_t rc = 0;
  explicit Setup(int32_t threads) {
    HostControlBlock* cb = qrxhost::hostControlBlock();
    v_global_gcb_anchor = cb;
    Exported_QKHandle = cb->qkHandle;
    VsfKernelUse use = kVsfFullXpXUse;
    use.span = nullptr; // the bench's own forms, which keep nothing between pages
    vsfRegisterKernelPair(xpxSerial, xpxThreaded, use);
    byPool = qrxhost::createArenaPool("bench BY");
    pagePool = qrxhost::createArenaPool("bench pages");
    modelPool = qrxhost::createArenaPool("bench model");
    exts.qk = cb->qkHandle;
    exts.qkpgf = qrxhost::loadExtension("qkpgf");
    exts.qkupath = qrxhost::loadExtension("qkupath");
    s.threadCount = threads;
    s.threadingOn = threads > 1;
    s.cpuCount = threads;
    s.utilAccess = 4;
    s.trainFraction = 1.0;
    s.method = VsfMethod::Forward;
    s.seed = &seed;
    s.columnCount = kCols;
    s.entries = &entry;
    s.entryCount = 1;
    s.modelEffectCount = 1;
    model.pool = modelPool;
    model.bags = &bags;
    model.puddle = &puddle;
  }
  ~Setup() {
    vsfBagVecRelease(&bags, &exts);
    if (puddle.pool)
      vsfTerminateThreads(&puddle);
    exts.qkpgf->unload(exts.qkpgf);
    exts.qkupath->unload(exts.qkupath);
    for (QkPool* p : {byPool, pagePool, modelPool})
      p->destroy(p);
  }
  VsfStatus read(Rows& r) {
    VsfRowSource src{};
    src.self = &r;
    src.begin = begin;
    src.next = next;
    src.status = status;
    src.row = row;
    VsfReadResult result{};
    return vsfReadPass(&s, &src, &model, &bags, &exts, byPool, pagePool, &rc, &result);
  }
};

int32_t threadsOf(const benchmark::State& state) {
  return state.range(1) == 0 ? static_cast<int32_t>(std::thread::hardware_concurrency())
                             : static_cast<int32_t>(state.range(1));
}

void BM_ReadingPass(benchmark::State& state) {
  Rows& r = rows(static_cast<size_t>(state.range(0)));
  const int32_t T = threadsOf(state);
  for (auto _ : state) {
    auto setup = std::make_unique<Setup>(T);
    if (setup->read(r) != VsfStatus::Ok || setup->model.totals.nTrain != static_cast<double>(r.n))
      throw std::runtime_error("reading pass failed");
    state.PauseTiming(); // releasing the pages is not part of the pass
    setup.reset();
    state.ResumeTiming();
  }
  state.counters["threads"] = T;
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

std::vector<double> gSerialXpx;

// CPU seconds of the whole process (all threads) so far.
double processCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         1e-6 * static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

void BM_CrossProductPass(benchmark::State& state) {
  Rows& r = rows(static_cast<size_t>(state.range(0)));
  const int32_t T = threadsOf(state);
  Setup setup(T);
  if (setup.read(r) != VsfStatus::Ok ||
      vsfInitializeThreads(&setup.puddle, setup.s.threadCount) != VsfStatus::Ok)
    throw std::runtime_error("set-up failed");
  constexpr int64_t M = (kCols + 1) * (kCols + 2) / 2;
  setup.model.xpxColumns = kCols + 1;
  std::vector<double> xpx(M);
  setup.model.xpx = xpx.data();
  const double cpu0 = processCpuSeconds();
  for (auto _ : state) {
    std::fill(xpx.begin(), xpx.end(), 0.0);
    if (vsfExecuteByThreads(&setup.model, xpxSerial, xpxThreaded, 0) != VsfStatus::Ok)
      throw std::runtime_error("pass failed");
  }
  // CPU time of all threads per pass: on an idle machine the threaded pass's wall time
  // approaches this figure divided by the thread count.
  state.counters["cpu_ms_per_pass"] =
      1e3 * (processCpuSeconds() - cpu0) / static_cast<double>(state.iterations());
  // Checked result: the serial sums, to rounding.
  if (T == 1)
    gSerialXpx = xpx;
  else if (!gSerialXpx.empty())
    for (int64_t i = 0; i < M; ++i)
      if (std::fabs(xpx[i] - gSerialXpx[i]) > 1e-9 * (1.0 + std::fabs(gSerialXpx[i])))
        throw std::runtime_error("threaded sums differ from the serial sums");
  state.counters["threads"] = setup.s.threadCount;
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

} // namespace

BENCHMARK(BM_ReadingPass)
    ->Args({1000000, 1})
    ->Args({1000000, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_CrossProductPass)
    ->Args({1000000, 1})
    ->Args({1000000, 2})
    ->Args({1000000, 4})
    ->Args({1000000, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
