// The fit callbacks of the design library and their dispatcher (levfit.h): cross products
// accumulated from the row protocol, the sweep with its dependency record, the Cholesky root
// and its inverse, coefficients, sums of squares and linear-hypothesis tests, each computed
// once per BY group and kept in the fit block's cache. The row protocol is levrow.h's.
// Declared in design/levfit.h.
#include "design/levfit.h"

#include "design/levrow.h"
#include "numerics/packedtri.h"
#include "numerics/qkzsweep.h"
#include "numerics/zelementary.h"
#include "numerics/zvector.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/stepcodes.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// 1e7 x 2^-53: the relative size below which a pivot counts as zero.
constexpr double kRelativeTolerance = 1.1102230246251565e-09;

// The singularity tolerance of a sweep on a pivot with diagonal `diagonal`: relative to it,
// and never above 1e-4.
double pivotTolerance(double diagonal) { return std::min(diagonal * kRelativeTolerance, 1e-4); }

// 0.98 x 2^53: the largest packed matrix, in bytes, the library builds.
constexpr double kLargestMatrixBytes = 8827055269646172.0;

using FitGetFn = int32_t (*)(LevRegContext*, double*);

double& at(double* a, int32_t i, int32_t j) { return a[zisub(i, j)]; }

QkPool* pool(LevRegContext* ctx) { return levGroupPool(ctx); }
double* doubles(LevRegContext* ctx, int64_t n) {
  return levArray<double>(pool(ctx), static_cast<size_t>(n));
}
void release(LevRegContext* ctx, void* block) {
  if (block != nullptr)
    pool(ctx)->free(pool(ctx), block);
}
double* copyOf(LevRegContext* ctx, const double* a, int64_t n) {
  double* c = doubles(ctx, n);
  if (c != nullptr)
    std::memcpy(c, a, sizeof(double) * static_cast<size_t>(n));
  return c;
}

// The fitted column count p and the order n of the cross products.
[[nodiscard]] int32_t fittedColumns(const LevRegContext* ctx) {
  const LevFitBlock& fit = ctx->fit;
  if (fit.columnMap == nullptr)
    return ctx->design->columnCount;
  int32_t p = 0;
  for (int32_t c = 0; c < ctx->design->columnCount; ++c)
    p = std::max(p, fit.columnMap[c] + 1);
  return p;
}
[[nodiscard]] int32_t order(const LevRegContext* ctx) {
  return ctx->fit.fittedCount + ctx->fit.responseCount;
}

// A packed matrix of order n must stay below the library's size limit; beyond it the run
// ends.
void checkSize(int32_t n) {
  if ((static_cast<double>(n) + 1) * n * 0.5 * 8 > kLargestMatrixBytes) {
    vsfLog(LevMsg::CodingMatrixTooLarge);
    xexit(StepRc::Error, 0);
  }
}

LevFitEntry* findEntry(LevRegContext* ctx, int32_t code) {
  for (LevFitEntry* e = ctx->fit.cache; e != nullptr; e = e->next)
    if (e->code == code)
      return e;
  return nullptr;
}

LevFitEntry* addEntry(LevRegContext* ctx, int32_t code, void* value) {
  auto* e = levArray<LevFitEntry>(pool(ctx), 1);
  if (e == nullptr)
    return nullptr;
  e->code = code;
  e->value = value;
  LevFitEntry** tail = &ctx->fit.cache;
  while (*tail != nullptr)
    tail = &(*tail)->next;
  *tail = e;
  return e;
}

void freeValue(LevRegContext* ctx, LevFitEntry* e) {
  if (e->code == LFC_SWEEPREC && e->value != nullptr) {
    auto* rec = static_cast<LevSweepRecord*>(e->value);
    release(ctx, rec->dependencies);
    release(ctx, rec->swept);
  }
  release(ctx, e->value);
  e->value = nullptr;
}

void releaseCache(LevRegContext* ctx) {
  for (LevFitEntry* e = ctx->fit.cache; e != nullptr;) {
    LevFitEntry* next = e->next;
    freeValue(ctx, e);
    release(ctx, e);
    e = next;
  }
  ctx->fit.cache = nullptr;
}

void* install(LevRegContext* ctx, int32_t code, void* value) {
  LevFitEntry* e = findEntry(ctx, code);
  if (e == nullptr)
    e = addEntry(ctx, code, nullptr);
  if (e == nullptr)
    return nullptr;
  if (e->value != nullptr && e->value != value)
    freeValue(ctx, e);
  e->value = value;
  return value;
}

// Adds the current row with weight w at the mapped positions: the full design row, then the
// responses, scattered into a row of the fitted order.
[[nodiscard]] int32_t accumulateMapped(LevRegContext* ctx, double* xpx, double w) {
  const LevFitBlock& fit = ctx->fit;
  const int32_t D = ctx->design->columnCount, p = fit.fittedCount, n = order(ctx);
  double* design = doubles(ctx, D);
  double* row = doubles(ctx, n);
  int32_t added = 0;
  if (design != nullptr && row != nullptr) {
    zlevrgx(ctx, nullptr, nullptr, design);
    for (int32_t c = 0; c < D; ++c)
      if (fit.columnMap[c] >= 0)
        row[fit.columnMap[c]] += design[c];
    for (int32_t k = 0; k < fit.responseCount; ++k)
      row[p + k] = fit.responses[k];
    added = zscp(row, n, xpx, w);
  }
  release(ctx, design);
  release(ctx, row);
  return added;
}

// The sweep of the design pivots: the swept matrix (code 1) and the sweep record (code 12).
void* sweepCrossProducts(LevRegContext* ctx, int32_t code) {
  double* xpx = static_cast<double*>(zlevfit(ctx, LFC_XPX));
  if (xpx == nullptr)
    return nullptr;
  LevFitBlock& fit = ctx->fit;
  const int32_t p = fit.fittedCount, n = order(ctx);
  LevFitEntry* sweptEntry = findEntry(ctx, LFC_SWEPT);
  const bool freshCopy = sweptEntry != nullptr; // code 12 asked after code 1
  double* diag = doubles(ctx, p > 0 ? p : 1);
  if (diag == nullptr)
    return nullptr;
  for (int32_t k = 0; k < p; ++k)
    diag[k] = at(xpx, k, k);
  double* matrix = nullptr;
  if (fit.flags.has(LevFitFlag::SweepInPlace) && !freshCopy) {
    findEntry(ctx, LFC_XPX)->code = LFC_SWEPT; // swept in place: the cross products go
    matrix = xpx;
  } else {
    matrix = copyOf(ctx, xpx, packed::tri(n));
    if (matrix != nullptr && !freshCopy)
      addEntry(ctx, LFC_SWEPT, matrix);
  }
  LevSweepRecord* rec = nullptr;
  if (LevFitEntry* e = findEntry(ctx, LFC_SWEEPREC); e != nullptr) {
    rec = static_cast<LevSweepRecord*>(e->value);
  } else if ((rec = levArray<LevSweepRecord>(pool(ctx), 1)) != nullptr) {
    rec->design = ctx->design;
    rec->dependencies = doubles(ctx, static_cast<int64_t>(n) * n);
    rec->swept = levArray<int32_t>(pool(ctx), static_cast<size_t>(n));
    rec->tolerance = 1e-8;
    addEntry(ctx, LFC_SWEEPREC, rec);
  }
  char* status = levArray<char>(pool(ctx), static_cast<size_t>(n) + 1);
  double* work = doubles(ctx, n);
  if (matrix != nullptr && status != nullptr && work != nullptr) {
    std::memset(status, '0', static_cast<size_t>(n));
    for (int32_t k = 0; k < p; ++k) {
      double tol = pivotTolerance(diag[k]);
      if (fit.flags.has(LevFitFlag::UseTolerance))
        tol = std::max(fit.tolerance, tol);
      const int32_t swept = zlevswp(tol, matrix, k, n, status, work, rec);
      if (rec != nullptr && rec->swept != nullptr && swept == 1)
        rec->swept[k] = 1;
    }
  }
  release(ctx, status);
  release(ctx, work);
  release(ctx, diag);
  if (freshCopy) {
    release(ctx, matrix);
    matrix = static_cast<double*>(sweptEntry->value);
  }
  return code == LFC_SWEEPREC ? static_cast<void*>(rec) : static_cast<void*>(matrix);
}

// The inverse of the root's design block (code 5).
double* invertedRoot(LevRegContext* ctx) {
  const double* root = static_cast<double*>(zlevfit(ctx, LFC_ROOT));
  if (root == nullptr)
    return nullptr;
  double* inv = copyOf(ctx, root, packed::tri(order(ctx)));
  if (inv != nullptr)
    invlo(kRelativeTolerance, inv, ctx->fit.fittedCount, nullptr);
  return inv;
}

// The packed r x r block of the responses of `matrix`.
double* responseBlock(LevRegContext* ctx, const double* matrix) {
  const int32_t p = ctx->fit.fittedCount, r = ctx->fit.responseCount;
  double* out = doubles(ctx, packed::tri(r));
  if (out == nullptr || matrix == nullptr)
    return out;
  for (int32_t i = 0; i < r; ++i)
    for (int32_t j = 0; j <= i; ++j)
      at(out, i, j) = matrix[zisub(p + i, p + j)];
  return out;
}

double* modelBlock(LevRegContext* ctx) {
  const int32_t r = ctx->fit.responseCount;
  const double* sse = static_cast<double*>(zlevfit(ctx, LFC_SSE));
  const double* sst = static_cast<double*>(zlevfit(ctx, LFC_SST));
  if (sse == nullptr || sst == nullptr)
    return nullptr;
  double* out = doubles(ctx, packed::tri(r));
  for (int64_t k = 0; out != nullptr && k < packed::tri(r); ++k)
    out[k] = sst[k] - sse[k];
  return out;
}

// Computes the value of a cached code through its callback or rule.
void* compute(LevRegContext* ctx, int32_t code) {
  switch (code) {
  case LFC_XPX:
    return reinterpret_cast<double* (*)(LevRegContext*)>(ctx->fit.slots[0])(ctx);
  case LFC_ROOT:
    return reinterpret_cast<double* (*)(LevRegContext*)>(ctx->fit.slots[1])(ctx);
  case LFC_BETA:
    return reinterpret_cast<double* (*)(LevRegContext*)>(ctx->fit.slots[2])(ctx);
  case LFC_SSE:
    return reinterpret_cast<double* (*)(LevRegContext*)>(ctx->fit.slots[3])(ctx);
  case LFC_SST:
    return reinterpret_cast<double* (*)(LevRegContext*)>(ctx->fit.slots[4])(ctx);
  case LFC_SSM:
    return modelBlock(ctx);
  case LFC_INVROOT:
    return invertedRoot(ctx);
  default:
    return nullptr;
  }
}

// The address handed out for a cached value: the response's row or diagonal entry.
void* addressOf(LevRegContext* ctx, int32_t code, void* value, int32_t response) {
  if (value == nullptr)
    return nullptr;
  const int32_t i = std::max(response, 0);
  auto* v = static_cast<double*>(value);
  if (code == LFC_BETA)
    return v + static_cast<int64_t>(i) * ctx->fit.fittedCount;
  if (code == LFC_SSE || code == LFC_SST || code == LFC_SSM)
    return v + zisub(i, i);
  return value;
}

} // namespace

void zlevfx(LevFitBlock* fit) {
  const HostRoutine routines[6] = {
      reinterpret_cast<HostRoutine>(&GetXpX),  reinterpret_cast<HostRoutine>(&GetR),
      reinterpret_cast<HostRoutine>(&GetBeta), reinterpret_cast<HostRoutine>(&GetSSE),
      reinterpret_cast<HostRoutine>(&GetSST),  reinterpret_cast<HostRoutine>(&Test)};
  for (int k = 0; k < 6; ++k)
    // vir2g fails only for a null routine or slot, and both are ours.
    if (fit->slots[k] == nullptr)
      (void)vir2g(routines[k], &fit->slots[k]);
}

void* zlevfit(LevRegContext* ctx, int32_t code, const LevFitArgs& args) {
  switch (code) {
  case LFC_RELEASE:
    releaseCache(ctx);
    return nullptr;
  case LFC_INSTALL:
    return install(ctx, args.installCode, args.value);
  case LFC_TEST:
    return reinterpret_cast<LevFitTest* (*)(LevRegContext*, const LevHypothesis*, int32_t,
                                            const char*)>(ctx->fit.slots[5])(
        ctx, args.hypothesis, args.response, args.letters);
  case LFC_SWEPT:
  case LFC_SWEEPREC:
    if (LevFitEntry* e = findEntry(ctx, code))
      return e->value;
    return sweepCrossProducts(ctx, code);
  case LFC_XPX:
  case LFC_BETA:
  case LFC_ROOT:
  case LFC_INVROOT:
  case LFC_SSE:
  case LFC_SST:
  case LFC_SSM: {
    LevFitEntry* e = findEntry(ctx, code);
    if (e == nullptr) {
      void* value = compute(ctx, code);
      if (value == nullptr)
        return nullptr;
      e = addEntry(ctx, code, value);
      if (e == nullptr)
        return nullptr;
    }
    return addressOf(ctx, code, e->value, args.response);
  }
  default:
    return nullptr;
  }
}

double* GetXpX(LevRegContext* ctx) {
  LevFitBlock& fit = ctx->fit;
  fit.fittedCount = fittedColumns(ctx);
  const int32_t n = order(ctx);
  if (n <= 0)
    return nullptr;
  checkSize(n);
  double* xpx = doubles(ctx, packed::tri(n));
  if (xpx == nullptr)
    return nullptr;
  fit.rowsUsed = 0;
  double w = 1.0;
  (void)zlevGetInit(ctx); // a failed rewind is logged and fails the step
  while (zlevGetNext(ctx) != 0) {
    if (reinterpret_cast<FitGetFn>(fit.getW)(ctx, &w) == 0)
      continue;
    if (!(w > fit.weightThreshold))
      w = 0.0;
    if (reinterpret_cast<FitGetFn>(fit.getY)(ctx, fit.responses) == 0)
      continue;
    fit.rowsUsed += fit.columnMap != nullptr
                        ? accumulateMapped(ctx, xpx, w)
                        : zlevscp(w, ctx, xpx, fit.responseCount, fit.responses);
  }
  return xpx;
}

double* GetR(LevRegContext* ctx) {
  const double* xpx = static_cast<double*>(zlevfit(ctx, LFC_XPX));
  if (xpx == nullptr)
    return nullptr;
  const int32_t n = order(ctx);
  checkSize(n);
  double* root = copyOf(ctx, xpx, packed::tri(n));
  if (root == nullptr)
    return nullptr;
  for (int32_t i = 0; i < n; ++i)
    zchol(i, root, (1e7 * xpx[zisub(i, i)]) * 0x1p-53);
  return root;
}

double* GetBeta(LevRegContext* ctx) {
  const double* swept = static_cast<double*>(zlevfit(ctx, LFC_SWEPT));
  if (swept == nullptr)
    return nullptr;
  const int32_t p = ctx->fit.fittedCount, r = ctx->fit.responseCount;
  double* beta = doubles(ctx, static_cast<int64_t>(r) * p);
  for (int32_t k = 0; beta != nullptr && k < r; ++k)
    for (int32_t j = 0; j < p; ++j)
      beta[static_cast<int64_t>(k) * p + j] = swept[zisub(p + k, j)];
  return beta;
}

double* GetSSE(LevRegContext* ctx) {
  return responseBlock(ctx, static_cast<double*>(zlevfit(ctx, LFC_SWEPT)));
}

double* GetSST(LevRegContext* ctx) {
  return responseBlock(ctx, static_cast<double*>(zlevfit(ctx, LFC_XPX)));
}

int32_t zlevswp(double tol, double* a, int32_t k, int32_t n, char* status, double* work,
                LevSweepRecord* rec) {
  qkzsweep(a, k, n, status, work, tol);
  const int32_t stride = rec != nullptr ? rec->design->columnCount : 0;
  if (status[k] == '1') {
    if (rec != nullptr && rec->dependencies != nullptr)
      rec->dependencies[static_cast<int64_t>(k) * stride + k] = 1.0;
    return 1;
  }
  if (rec != nullptr && rec->dependencies != nullptr)
    for (int32_t i = 0; i < k; ++i)
      if (std::fabs(at(a, k, i)) > tol)
        rec->dependencies[static_cast<int64_t>(i) * stride + k] = at(a, k, i);
  for (int32_t i = 0; i < n; ++i)
    at(a, k, i) = 0.0;
  return 0;
}

void invlo(double tol, double* a, int32_t p, double*) {
  for (int32_t k = 0; k < p; ++k) {
    const double d = at(a, k, k);
    if (std::fabs(d) <= tol) {
      for (int32_t j = k + 1; j < p; ++j)
        at(a, j, k) = 0.0;
      continue;
    }
    // Eliminate column k from the rows below with the old row k, then scale row and column.
    for (int32_t j = k + 1; j < p; ++j) {
      const double ajk = at(a, j, k);
      if (ajk != 0.0)
        for (int32_t i = 0; i < k; ++i)
          at(a, j, i) -= ajk * (at(a, k, i) / d);
    }
    for (int32_t i = 0; i < k; ++i)
      at(a, k, i) *= -1.0 / d;
    at(a, k, k) = 1.0 / d;
    for (int32_t j = k + 1; j < p; ++j)
      at(a, j, k) /= d;
  }
}

namespace {

// The hypothesis matrix M = L S L' swept on its q pivots; pivots that stay unswept have
// their row and column zeroed. Returns the number of swept pivots.
[[nodiscard]] int32_t sweepHypothesis(LevRegContext* ctx, double* M, int32_t q) {
  char* status = levArray<char>(pool(ctx), static_cast<size_t>(q) + 1);
  double* work = doubles(ctx, q);
  int32_t swept = 0;
  if (status != nullptr && work != nullptr) {
    std::memset(status, '0', static_cast<size_t>(q));
    for (int32_t i = 0; i < q; ++i) {
      const double tol = pivotTolerance(at(M, i, i));
      qkzsweep(M, i, q, status, work, tol);
      if (status[i] == '1') {
        ++swept;
        continue;
      }
      for (int32_t j = 0; j < q; ++j)
        at(M, i, j) = 0.0;
    }
  }
  release(ctx, status);
  release(ctx, work);
  return swept;
}

} // namespace

LevFitTest* Test(LevRegContext* ctx, const LevHypothesis* h, int32_t response,
                 const char* letters) {
  const double* swept = static_cast<double*>(zlevfit(ctx, LFC_SWEPT));
  if (swept == nullptr || h == nullptr || h->rows < 1)
    return nullptr;
  const int32_t q = h->rows, p = ctx->fit.fittedCount, r = ctx->fit.responseCount;
  const int32_t t = response < 0 ? r : 1;
  auto* rec = levArray<LevFitTest>(pool(ctx), 1);
  double* M = doubles(ctx, packed::tri(q));
  double* work = doubles(ctx, p);
  double* E = doubles(ctx, static_cast<int64_t>(t) * q);
  if (rec == nullptr || M == nullptr || work == nullptr || E == nullptr)
    return nullptr;
  // The leading p x p block of the packed swept matrix is itself a packed matrix.
  zqform(swept, p, h->L, q, M, work, 0);
  for (const char* c = letters; *c != '\0'; ++c) {
    if (*c == 'e' || *c == 'v')
      rec->count = static_cast<int64_t>(q) * t;
    if (*c == 'v')
      rec->variance = copyOf(ctx, M, packed::tri(q));
  }
  const int32_t df = sweepHypothesis(ctx, M, q);
  for (int32_t k = 0; k < t; ++k) {
    const double* beta =
        static_cast<double*>(zlevfit(ctx, LFC_BETA, {.response = response < 0 ? k : response}));
    for (int32_t j = 0; beta != nullptr && j < q; ++j)
      E[static_cast<int64_t>(k) * q + j] = zinner(h->L + static_cast<int64_t>(j) * p, beta, p);
  }
  for (const char* c = letters; *c != '\0'; ++c) {
    if (*c == 'd') {
      rec->df = df;
    } else if (*c == 'e') {
      rec->count = q;
      rec->estimates = copyOf(ctx, E, static_cast<int64_t>(t) * q);
    } else if (*c == 's') {
      double* qwork = doubles(ctx, q);
      rec->hypothesisSS = doubles(ctx, packed::tri(t));
      if (qwork != nullptr && rec->hypothesisSS != nullptr)
        zqform(M, q, E, t, rec->hypothesisSS, qwork, 0);
      release(ctx, qwork);
    }
  }
  release(ctx, M);
  release(ctx, work);
  release(ctx, E);
  return rec;
}
