// Shared set-up of the fit benchmarks: synthetic rows from a fixed seed (the response
// depends on the first `signal` columns), a row source over them, and the pages, pools,
// extensions and options of one fit, read by an untimed reading pass.
#pragma once

#include "data/vsfdata.h"
#include "data/zpuddle.h"
#include "host/ext/extlist.h"
#include "host/hostcore.h"
#include "host/pools.h"
#include "kernels/vsfkernels.h"
#include "model/vsfmodel.h"
#include "support/hoststubs.h"
#include "support/vsfoptions.h"

#include <cstring>
#include <random>
#include <vector>

namespace benchfit {

struct Rows {
  std::vector<double> y, x;
  size_t n = 0, at = 0;
  int32_t cols = 0;
};

// Rows of n observations and `cols` standard normal columns; y = noise + sum over the
// first `signal` columns of (1 + 0.1 c) x_c. Kept between calls of the same shape.
inline Rows& rows(size_t n, int32_t cols, int32_t signal) {
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
        r.x[i * static_cast<size_t>(cols) + static_cast<size_t>(c)] = v;
        if (c < signal)
          y += (1.0 + 0.1 * c) * v;
      }
      r.y[i] = y;
    }
  }
  return r;
}

inline int32_t begin(void* p, int32_t) {
  static_cast<Rows*>(p)->at = 0;
  return 0;
}
inline int32_t next(void* p) {
  auto* r = static_cast<Rows*>(p);
  return r->at < r->n ? (++r->at, 1) : 0;
}
inline LevRowStatusSet status(void* p, double* y, double*, double*) {
  auto* r = static_cast<Rows*>(p);
  *y = r->y[r->at - 1];
  return {};
}
// The row as it is.
inline void row(void* p, double* v) {
  auto* r = static_cast<Rows*>(p);
  std::memcpy(v, &r->x[(r->at - 1) * static_cast<size_t>(r->cols)],
              sizeof(double) * static_cast<size_t>(r->cols));
}
// The row with the intercept column in front.
inline void rowWithIntercept(void* p, double* v) {
  auto* r = static_cast<Rows*>(p);
  v[0] = 1.0;
  std::memcpy(v + 1, &r->x[(r->at - 1) * static_cast<size_t>(r->cols)],
              sizeof(double) * static_cast<size_t>(r->cols));
}

// One fit over the intercept and `cols` single-column effects.
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

  Setup(int32_t threads, int32_t cols, VsfMethod method) {
    HostControlBlock* cb = qrxhost::hostControlBlock();
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
    s.sweepThreads = threads;
    s.cpuCount = threads;
    s.utilAccess = 4;
    s.trainFraction = 1.0;
    s.method = method;
    s.seed = &seed;
    entries.push_back(VsfEffectEntry{0, 1, nullptr, 0, 0});
    for (int32_t c = 0; c < cols; ++c)
      entries.push_back(VsfEffectEntry{c + 1, 1, nullptr, c + 1, 0});
    s.columnCount = cols + 1;
    s.entries = entries.data();
    s.entryCount = static_cast<int32_t>(entries.size());
    s.modelEffectCount = s.entryCount;
    model.bags = &bags;
    model.puddle = &puddle;
    opt.method = method;
    opt.forcedIn = 1;
    opt.fuzz = 1e-12;
    opt.fullSweep = VsfFullSweep::Never;
    opt.recordSteps = 1;
  }
  ~Setup() {
    vsfModelByFree(&model);
    vsfBagVecRelease(&bags, &exts);
    if (puddle.pool)
      vsfTerminateThreads(&puddle);
    exts.qkpgf->unload(exts.qkpgf);
    exts.qkupath->unload(exts.qkupath);
    for (QkPool* p : {byPool, pagePool})
      p->destroy(p);
  }
  Setup(const Setup&) = delete;
  Setup& operator=(const Setup&) = delete;

  // The untimed reading pass; starts the thread pool when the fit runs on several threads.
  VsfStatus read(Rows& r) {
    VsfRowSource src{};
    src.self = &r;
    src.begin = begin;
    src.next = next;
    src.status = status;
    src.row = rowWithIntercept;
    VsfReadResult result{};
    VsfStatus code = vsfReadPass(&s, &src, &model, &bags, &exts, byPool, pagePool, &rc, &result);
    if (code == VsfStatus::Ok && s.threadCount > 1)
      code = vsfInitializeThreads(&puddle, s.threadCount);
    model.options = &opt;
    model.fuzz = opt.fuzz;
    return code;
  }
};

} // namespace benchfit
