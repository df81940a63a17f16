// The threading frame: the table of registered kernel pairs, the choice between the serial
// visitor and the page workers, the work items and buffers of a threaded pass, and the fold
// of the summed buffers into the model. Buffers are summed in slot order, so a threaded
// result does not depend on which worker finishes first.
#include "data/vsfthread.h"

#include "data/vsfcvexsums.h"
#include "data/vsfdata.h"
#include "data/vsflarahead.h"
#include "data/vsfpassstate.h"
#include "numerics/packedtri.h"
#include "support/hoststubs.h"
#include "support/nomemory.h"

#include <atomic>
#include <cstring>

namespace {

using packed::tri;

struct KernelPair {
  VsfSerialKernel serial;
  VsfThreadedKernel threaded;
  VsfKernelKind kind;
  VsfSerialKernel before; // the shared-triangle form, when there is one
  VsfPartKernel part;
};

// The 29 pairs of the data-pass callbacks, with room for the tests' own kernels.
constexpr int kMaxPairs = 128;
KernelPair gPairs[kMaxPairs];
std::atomic<int> gPairCount{0};

[[nodiscard]] bool cvOn(const VsfPassState* m) {
  return m->dataSettings != nullptr && m->dataSettings->cv != 0;
}
[[nodiscard]] bool xcvOn(const VsfPassState* m) {
  return m->dataSettings != nullptr && m->dataSettings->xcv != 0;
}

[[nodiscard]] int64_t effectXpXLength(const VsfPassState* m) {
  int64_t sum = 0;
  for (int32_t e = 0; e < m->effectCount; ++e)
    sum += tri(m->effectColumns[e]);
  return sum;
}

void freeBlock(QkPool* pool, void* block) {
  if (block != nullptr && pool != nullptr)
    pool->free(pool, block);
}

} // namespace

void vsfRegisterKernelPair(VsfSerialKernel serial, VsfThreadedKernel threaded, VsfKernelKind kind) {
  int n = gPairCount.load();
  for (int i = 0; i < n; ++i)
    if (gPairs[i].serial == serial || gPairs[i].threaded == threaded) {
      // A shared-triangle form belongs to the threaded kernel it was given for.
      KernelPair& p = gPairs[i];
      if (p.threaded != threaded)
        p.before = nullptr, p.part = nullptr;
      p.serial = serial;
      p.threaded = threaded;
      p.kind = kind;
      return;
    }
  if (n >= kMaxPairs)
    return;
  gPairs[n] = KernelPair{serial, threaded, kind, nullptr, nullptr};
  gPairCount.store(n + 1);
}

namespace {
[[nodiscard]] KernelPair* pairOf(VsfThreadedKernel threaded) {
  const int n = gPairCount.load();
  for (int i = 0; i < n; ++i)
    if (gPairs[i].threaded == threaded)
      return &gPairs[i];
  return nullptr;
}
} // namespace

void vsfRegisterSharedForm(VsfThreadedKernel threaded, VsfSerialKernel before, VsfPartKernel part) {
  if (KernelPair* p = pairOf(threaded)) {
    p->before = before;
    p->part = part;
  }
}

VsfKernelKind vsfKernelKindOf(const void* kernel) {
  int n = gPairCount.load();
  for (int i = 0; i < n; ++i)
    if (reinterpret_cast<const void*>(gPairs[i].serial) == kernel ||
        reinterpret_cast<const void*>(gPairs[i].threaded) == kernel)
      return gPairs[i].kind;
  return VsfKernelKind::Other;
}

bool vsfIsPageTransform(VsfKernelKind k) {
  switch (k) {
  case VsfKernelKind::CenterScale:
  case VsfKernelKind::CenterScaleEffect:
  case VsfKernelKind::UndoCenterScale:
  case VsfKernelKind::UndoCenterScaleEffect:
  case VsfKernelKind::ApplyAdaptiveWeights:
  case VsfKernelKind::UndoAdaptiveWeights:
    return true;
  default:
    return false;
  }
}

int64_t vsfBufferLength(VsfPassState* m, VsfKernelKind kind, int64_t arg) {
  const int64_t P = m->parmCount, E = m->effectCount, K = m->foldCount;
  const bool cv = cvOn(m), xcv = xcvOn(m);
  switch (kind) {
  case VsfKernelKind::FullXpX:
  case VsfKernelKind::CenterScaleXpX:
    return cv ? K * tri(m->xpxColumns) : tri(m->xpxColumns);
  case VsfKernelKind::ShiftSquaresXpX:
    return P + 1 + tri(m->xpxColumns);
  case VsfKernelKind::EffectXpX:
    return cv ? K * effectXpXLength(m) : effectXpXLength(m);
  case VsfKernelKind::EffXpX:
  case VsfKernelKind::EffCross:
    return cv ? K * arg : arg;
  case VsfKernelKind::Moments:
    return xcv ? 2 * P + 5 : 2 * P + 1;
  case VsfKernelKind::Spreads:
    return 2 * P;
  case VsfKernelKind::YpwY:
  case VsfKernelKind::ShiftRowsSquares:
  case VsfKernelKind::Gradient:
    return P + 1;
  case VsfKernelKind::CVYpY:
  case VsfKernelKind::CVResids:
    return K;
  case VsfKernelKind::YCross:
    return cv ? K * (P + 1) : P + 1;
  case VsfKernelKind::Corr:
  case VsfKernelKind::LarAvec:
  case VsfKernelKind::LarSasviAvecOut:
    return E;
  case VsfKernelKind::LarCorr:
    return xcv ? E + 5 : E + 3;
  case VsfKernelKind::FunValue:
  case VsfKernelKind::Press:
    return 1;
  case VsfKernelKind::ValidateTest:
    return xcv ? 3 : 2;
  case VsfKernelKind::LarSasvi:
    return 2 * E + 2;
  case VsfKernelKind::LarSasviCorrOut:
    return E + 2;
  case VsfKernelKind::LarRss:
    return xcv ? 5 : 3;
  case VsfKernelKind::LarRssAhead:
  case VsfKernelKind::CVExFoldXpX:
    return arg;
  case VsfKernelKind::Resids:
    return 2;
  case VsfKernelKind::CVNobs:
    return 3 * K;
  default:
    return 0;
  }
}

namespace {

// A worker's visit on the shared-triangle road: every in-memory page of every file, in the
// serial visitor's order, through a descriptor of its own (the files' descriptors are shared).
[[nodiscard]] int32_t visitForPart(const VsfWorkItem* item) {
  const VsfBagVec* vec = item->model->bags;
  const int32_t parts = item->model->dataSettings->threadCount;
  for (uint32_t f = 0; f < vec->count; ++f) {
    const VsfUtilFile& rec = vec->files[f];
    QkPageDescriptor page = rec.page;
    page.pageNumber = 0;
    for (int64_t j = 0; j < rec.memPageCount; ++j) {
      if (__atomic_load_n(item->stop, __ATOMIC_ACQUIRE) != 0)
        return 0;
      page.buffer = rec.memPages[j];
      const int32_t rc = item->partKernel(item->model, &page, item->part, parts);
      if (rc != 0)
        return rc;
    }
  }
  return 0;
}

} // namespace

void utilReadWrapper(void*, void* p) {
  auto* item = static_cast<VsfWorkItem*>(p);
  // A visit that never returns here (the pool stopped it) leaves a failure behind.
  item->status = -98;
  int32_t rc = item->partKernel != nullptr
                   ? visitForPart(item)
                   : vsfUtilReadByThreadsStoppable(item->model, item->kernel, item->buffer,
                                                   item->length, item->file, item->stop);
  item->status = rc;
  if (rc != 0 && item->stop != nullptr)
    __atomic_store_n(item->stop, 1, __ATOMIC_RELEASE);
}

namespace {

// The zeroed work items of a pass, then its stop word, left in the puddle for cleanup; null
// when there is no model pool or no memory.
[[nodiscard]] VsfWorkItem* newItems(VsfPassState* model, int32_t T) {
  ThreadPuddle* puddle = model->puddle;
  QkPool* pool = model->pool;
  if (pool == nullptr || puddle == nullptr || T < 1)
    return nullptr;
  size_t bytes = sizeof(VsfWorkItem) * static_cast<size_t>(T) + sizeof(int32_t);
  auto* items = static_cast<VsfWorkItem*>(pool->allocate(pool, bytes, kQkZeroed));
  puddle->items = items;
  return items;
}

// Every worker's status, once all are done: the first failure in slot order fails the pass.
[[nodiscard]] int32_t firstFailure(const VsfWorkItem* items, int32_t T) {
  for (int32_t t = 0; t < T; ++t)
    if (items[t].status != 0)
      return items[t].status;
  return 0;
}

// The shared-triangle road's pass: every worker adds its part of the rows straight into the
// model's triangles, so there is no buffer to zero and nothing to sum afterwards.
[[nodiscard]] int32_t dispatchParts(VsfPassState* model, VsfPartKernel part) {
  const int32_t T = model->dataSettings->threadCount;
  VsfWorkItem* items = newItems(model, T);
  if (items == nullptr)
    return kVsfNoMemory;
  auto* stop = reinterpret_cast<int32_t*>(items + T);
  for (int32_t t = 0; t < T; ++t) {
    items[t].model = model;
    items[t].stop = stop;
    items[t].partKernel = part;
    items[t].part = t;
    zpudenq(model->puddle, &items[t]);
  }
  zpudwt(model->puddle);
  return firstFailure(items, T);
}

} // namespace

int32_t dispatch(VsfPassState* model, VsfThreadedKernel threaded, int64_t arg) {
  ThreadPuddle* puddle = model->puddle;
  const int32_t T = model->dataSettings->threadCount;
  QkPool* pool = model->pool;
  VsfWorkItem* items = newItems(model, T);
  if (items == nullptr)
    return kVsfNoMemory; // no model pool or no memory: nowhere to put the items and buffers
  auto* stop = reinterpret_cast<int32_t*>(items + T);
  const int64_t L =
      vsfBufferLength(model, vsfKernelKindOf(reinterpret_cast<const void*>(threaded)), arg);
  int32_t rc = 0;
  int32_t queued = 0;
  for (int32_t t = 0; t < T; ++t) {
    VsfWorkItem& it = items[t];
    it.file = &model->bags->files[t];
    it.model = model;
    it.kernel = threaded;
    it.length = L;
    it.stop = stop;
    if (L > 0) {
      // Eight doubles of slack keep the workers' buffers off each other's cache lines.
      it.buffer = static_cast<double*>(
          pool->allocate(pool, sizeof(double) * static_cast<size_t>(L + 8), kQkZeroed));
      if (it.buffer == nullptr) {
        it.length = 0;
        rc = kVsfNoMemory;
        break;
      }
    }
    zpudenq(puddle, &it);
    ++queued;
  }
  // Items already queued are waited for, so that no worker still uses a buffer.
  if (queued > 0 || rc == 0)
    zpudwt(puddle);
  if (rc != 0)
    return rc;
  return firstFailure(items, T);
}

namespace {

void addInto(double* dst, const double* src, int64_t n) {
  for (int64_t i = 0; i < n; ++i)
    dst[i] += src[i];
}
void copyInto(double* dst, const double* src, int64_t n) {
  std::memcpy(dst, src, sizeof(double) * static_cast<size_t>(n));
}

// Copies the packed blocks of each effect from `src` (laid end to end) into `blocks`.
void spreadEffectBlocks(const VsfPassState* m, double** blocks, const double* src) {
  int64_t start = 0;
  for (int32_t e = 0; e < m->effectCount; ++e) {
    int64_t size = tri(m->effectColumns[e]);
    if (size > 0 && blocks[e] != nullptr)
      copyInto(blocks[e], src + start, size);
    start += size;
  }
}

// Stores the summed buffer of a cross-product kernel (X'X, its effect blocks and the cross
// columns) in the model or, under cross validation, slice by slice in the folds; false for
// the other kernels.
[[nodiscard]] bool storeCrossProducts(VsfPassState* m, VsfKernelKind kind, const double* B,
                                      int64_t L) {
  const int32_t P = m->parmCount, K = m->foldCount;
  const bool cv = cvOn(m);
  const int64_t slice = (cv && K > 0) ? L / K : L;
  switch (kind) {
  case VsfKernelKind::FullXpX:
  case VsfKernelKind::CenterScaleXpX:
    if (cv)
      for (int32_t f = 0; f < K; ++f)
        addInto(m->folds[f].xpx, B + f * slice, slice);
    else
      addInto(m->xpx, B, L);
    return true;
  case VsfKernelKind::ShiftSquaresXpX:
    // The sums of squares about the shift, then the cross products (never under cross
    // validation).
    m->sumWYY = B[0];
    copyInto(m->columnSquareSums, B + 1, P);
    addInto(m->xpx, B + P + 1, L - (P + 1));
    return true;
  case VsfKernelKind::EffXpX: {
    int64_t from = tri(m->xpxColumns);
    if (cv)
      for (int32_t f = 0; f < K; ++f)
        copyInto(m->folds[f].xpx + from, B + f * slice, slice);
    else
      copyInto(m->xpx + from, B, L);
    return true;
  }
  case VsfKernelKind::EffectXpX:
    if (cv)
      for (int32_t f = 0; f < K; ++f)
        spreadEffectBlocks(m, m->folds[f].effectBlocks, B + f * slice);
    else
      spreadEffectBlocks(m, m->effectBlocks, B);
    return true;
  case VsfKernelKind::YCross:
    if (cv)
      for (int32_t f = 0; f < K; ++f)
        copyInto(m->folds[f].cross, B + f * slice, slice);
    else
      copyInto(m->cross, B, L);
    return true;
  case VsfKernelKind::EffCross: {
    int64_t from = static_cast<int64_t>(m->crossColumnCount) * (P + 1);
    if (cv)
      for (int32_t f = 0; f < K; ++f)
        copyInto(m->folds[f].cross + from, B + f * slice, slice);
    else
      copyInto(m->cross + from, B, L);
    return true;
  }
  default:
    return false;
  }
}

// Stores the summed buffer of a moments, correlation, path or error kernel in the model's
// statistics (held-out sums only under external cross validation).
void storeStatistics(VsfPassState* m, VsfKernelKind kind, const double* B) {
  const int32_t P = m->parmCount, E = m->effectCount, K = m->foldCount;
  const bool xcv = xcvOn(m);
  switch (kind) {
  case VsfKernelKind::Moments:
    m->sumWY = B[0];
    copyInto(m->columnSums, B + 1, P);
    copyInto(m->columnSumSquares, B + 1 + P, P);
    if (xcv) {
      m->wTrain += B[2 * P + 1];
      m->nObs += B[2 * P + 2];
      m->wValidate += B[2 * P + 3];
      m->freqValidate += B[2 * P + 4];
    }
    break;
  case VsfKernelKind::Spreads:
    copyInto(m->spreadSums, B, 2 * P);
    break;
  case VsfKernelKind::YpwY:
  case VsfKernelKind::ShiftRowsSquares:
    m->sumWYY = B[0];
    copyInto(m->columnSquareSums, B + 1, P);
    break;
  case VsfKernelKind::CVYpY:
    for (int32_t f = 0; f < K; ++f)
      m->folds[f].xpx[0] = B[f];
    break;
  case VsfKernelKind::Corr:
  case VsfKernelKind::LarAvec: {
    double* target = kind == VsfKernelKind::Corr ? m->corr : m->dirCorr;
    addInto(target, B, E);
    break;
  }
  case VsfKernelKind::LarCorr:
    m->sse += B[0];
    m->validateAse += B[1];
    m->testAse += B[2];
    addInto(m->corr, B + 3, E);
    if (xcv) {
      m->heldOutError += B[E + 3];
      m->heldOutTestError += B[E + 4];
    }
    break;
  case VsfKernelKind::Gradient:
    m->sse += B[0];
    addInto(m->corr, B + 1, P);
    break;
  case VsfKernelKind::FunValue:
    m->sse += B[0];
    break;
  case VsfKernelKind::ValidateTest:
    m->validateAse += B[0];
    m->testAse += B[1];
    if (xcv)
      m->heldOutError += B[2];
    break;
  case VsfKernelKind::LarSasvi:
  case VsfKernelKind::LarSasviCorrOut:
    m->screenTermA += B[0];
    m->screenTermB += B[1];
    for (int32_t i = 0; i < m->screenOutCount; ++i) {
      int32_t e = m->screenOutList[i];
      m->corr[e] += B[e + 2];
      if (kind == VsfKernelKind::LarSasvi)
        m->dirCorr[e] += B[e + E + 2];
    }
    break;
  case VsfKernelKind::LarSasviAvecOut:
    for (int32_t i = 0; i < m->screenNewCount; ++i) {
      int32_t e = m->screenNewList[i];
      m->dirCorr[e] += B[e];
    }
    break;
  case VsfKernelKind::LarRssAhead:
    addInto(m->larAhead->sse.data(), B, static_cast<int64_t>(m->larAhead->sse.size()));
    break;
  case VsfKernelKind::CVExFoldXpX:
    addInto(m->cvexSums->sums.data(), B, static_cast<int64_t>(m->cvexSums->sums.size()));
    break;
  case VsfKernelKind::LarRss:
    m->sse += B[0];
    m->validateAse += B[1];
    m->testAse += B[2];
    if (xcv) {
      m->heldOutError += B[3];
      m->heldOutTestError += B[4];
    }
    break;
  case VsfKernelKind::Press:
    m->press += B[0];
    break;
  case VsfKernelKind::Resids:
    m->validateAse += B[0];
    m->testAse += B[1];
    break;
  case VsfKernelKind::CVResids:
    for (int32_t f = 0; f < K; ++f)
      m->folds[f].cvSse += B[f];
    break;
  case VsfKernelKind::CVNobs:
    for (int32_t f = 0; f < K; ++f) {
      m->folds[f].rowCount += B[f];
      m->folds[f].freqCount += B[K + f];
      m->folds[f].weightCount += B[2 * K + f];
    }
    break;
  default:
    break;
  }
}

} // namespace

// After a threaded pass: the workers' buffers are summed into the first (in worker order)
// and the sum is stored where the kernel's serial form would have put it. Page transforms
// keep no buffer.
void accumulate(VsfPassState* m, VsfThreadedKernel threaded) {
  VsfKernelKind kind = vsfKernelKindOf(reinterpret_cast<const void*>(threaded));
  if (vsfIsPageTransform(kind))
    return;
  ThreadPuddle* puddle = m->puddle;
  const int32_t T = m->dataSettings->threadCount;
  VsfWorkItem* items = puddle->items;
  double* B = items[0].buffer;
  const int64_t L = items[0].length;
  if (B == nullptr || L == 0)
    return;
  for (int32_t t = 1; t < T; ++t)
    for (int64_t i = 0; i < L; ++i)
      B[i] += items[t].buffer[i];
  if (!storeCrossProducts(m, kind, B, L))
    storeStatistics(m, kind, B);
}

void cleanup(VsfPassState* model) {
  ThreadPuddle* puddle = model->puddle;
  if (puddle == nullptr || puddle->items == nullptr)
    return;
  const int32_t T = model->dataSettings->threadCount;
  for (int32_t t = 0; t < T; ++t)
    if (puddle->items[t].length != 0)
      freeBlock(model->pool, puddle->items[t].buffer);
  freeBlock(model->pool, puddle->items);
  puddle->items = nullptr;
}

namespace {
std::atomic<int64_t> passCount{0};
} // namespace

int64_t vsfPassCount() { return passCount.load(std::memory_order_relaxed); }

namespace {

// The shared-triangle road pays when the workers' buffers together would hold more doubles
// than the pages: zeroing and summing T buffers then costs more than every worker walking
// every page. It needs every page in memory, where the workers can visit them at once.
[[nodiscard]] bool sharedRoadPays(VsfPassState* m, VsfThreadedKernel threaded, int64_t arg,
                                  int32_t T) {
  const VsfBagVec* vec = m->bags;
  int64_t pageDoubles = 0;
  for (uint32_t f = 0; f < vec->count; ++f) {
    if (vec->files[f].diskPageCount != 0)
      return false;
    pageDoubles += vec->files[f].memPageCount * (vec->largestPageSize / sizeof(double));
  }
  const int64_t L =
      vsfBufferLength(m, vsfKernelKindOf(reinterpret_cast<const void*>(threaded)), arg);
  return static_cast<int64_t>(T) * L > pageDoubles;
}

// The pair's shared-triangle form: its first pass (page rewrite and small sums, serial: it
// is light next to the triangle, and so every sum is the serial pass's), then the
// triangle's parts.
[[nodiscard]] int32_t executeShared(VsfPassState* model, const KernelPair& p) {
  if (p.before != nullptr) {
    const int32_t rc = vsfUtilRead(model, p.before);
    if (rc != 0)
      return rc;
  }
  const int32_t rc = dispatchParts(model, p.part);
  cleanup(model);
  return rc;
}

// The passes that read split levels stored sparse (their kernels sum them raw).
[[nodiscard]] bool splitSparseKernel(VsfKernelKind kind) {
  switch (kind) {
  case VsfKernelKind::EffectXpX:
  case VsfKernelKind::EffXpX:
  case VsfKernelKind::EffCross:
  case VsfKernelKind::LarCorr:
  case VsfKernelKind::LarRss:
  case VsfKernelKind::LarAvec:
  case VsfKernelKind::CenterScale:
  case VsfKernelKind::UndoCenterScale:
    return true;
  default:
    return false;
  }
}

} // namespace

int32_t vsfExecuteByThreads(VsfPassState* model, VsfSerialKernel serial, VsfThreadedKernel threaded,
                            int64_t arg) {
  passCount.fetch_add(1, std::memory_order_relaxed);
  if (model->splitSparse &&
      !splitSparseKernel(vsfKernelKindOf(reinterpret_cast<const void*>(serial)))) {
    xebug("vsfExecuteByThreads: a pass that cannot read split levels stored sparse");
    return -99;
  }
  const VsfDataSettings* s = model->dataSettings;
  const int32_t T = s != nullptr ? s->threadCount : 1;
  const uint32_t F = model->bags != nullptr ? model->bags->count : 0;
  if (T < 2 || static_cast<uint32_t>(T) != F || vsfIsResampleKernel(serial) ||
      s->resampleFromScratch || model->puddle == nullptr || model->puddle->pool == nullptr)
    return vsfUtilRead(model, serial);
  if (const KernelPair* p = pairOf(threaded);
      p != nullptr && p->part != nullptr && sharedRoadPays(model, threaded, arg, T))
    return executeShared(model, *p);
  int32_t rc = dispatch(model, threaded, arg);
  if (rc == 0)
    accumulate(model, threaded);
  cleanup(model);
  return rc;
}
