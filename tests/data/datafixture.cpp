// The shared set-up of the data-layer tests (see datafixture.h).
#include "datafixture.h"

#include "host/ext/extlist.h"
#include "host/ext/qkpgf.h"
#include "host/hostcore.h"
#include "host/hostlog.h"
#include "host/pools.h"
#include "kernels/vsfkernelsums.h"
#include "support/hoststubs.h"

#include <cstring>

namespace datatest {

namespace {

Source* self(void* p) { return static_cast<Source*>(p); }

int32_t begin(void* p, int32_t which) {
  self(p)->at = 0;
  self(p)->which = which;
  return codeOf(which == 1 && self(p)->testOutOfStep ? RowSourceStart::OutOfStep
                                                     : RowSourceStart::Ready);
}
void end(void* p, int32_t) { ++self(p)->ended; }
int32_t next(void* p) {
  Source* s = self(p);
  if (s->at >= s->current().size())
    return 0;
  ++s->at;
  return 1;
}
const Obs& cur(void* p) { return self(p)->current()[self(p)->at - 1]; }
bool unknownLevels(void* p, int32_t* counters) {
  const Obs& o = cur(p);
  if (o.unknownClass)
    return true;
  if (o.unknownEffect >= 0)
    counters[o.unknownEffect] += 1;
  return false;
}
const char* effectName(void*, int32_t e) { return e == 0 ? "Intercept" : "x"; }
void numericValues(void* p, double* values) {
  const Obs& o = cur(p);
  std::memcpy(values, o.numeric.data(), sizeof(double) * o.numeric.size());
}
void levelsAll(void* p) { self(p)->levelsAllCalls++; }
// A stand-in of the design's effect means: effect e's mean is its column's sum x scale.
void effectMeans(void*, const double* columnSums, double scale, double* means) {
  for (int e = 0; e < 2; ++e)
    means[e] = columnSums[e] * scale;
}
LevRowStatusSet status(void* p, double* y, double* w, double* f) {
  const Obs& o = cur(p);
  *y = o.y;
  if (w)
    *w = o.w;
  if (f)
    *f = o.f;
  return o.status;
}
void row(void* p, double* values) {
  const Obs& o = cur(p);
  std::memcpy(values, o.x.data(), sizeof(double) * o.x.size());
}
void roleValue(void* p, const char** text, int32_t* length) {
  const Obs& o = cur(p);
  *text = o.role.data();
  *length = static_cast<int32_t>(o.role.size());
}
int32_t indexLevel(void* p) { return cur(p).index; }
void release(void* p, int64_t) { self(p)->releases.emplace_back(self(p)->which, self(p)->at); }

// Row walk shared by the test kernels.
template <class Fn> void eachRow(VsfPassState* m, QkPageDescriptor* page, Fn fn) {
  VsfRowLayout L{};
  L.entryCount = m->effectCount;
  L.denseOffset = m->layout.denseOffset;
  L.sparseList = m->layout.sparseEffectList;
  L.sparseCount = m->layout.sparseEffectCount;
  L.denseColumns = m->layout.denseColumnCount;
  const VsfDataSettings* s = m->dataSettings;
  L.hasWeight = s->weightGiven;
  L.hasFreq = s->freqGiven;
  L.hasResample = s->resampling;
  L.hasFold = s->cvMethod != VsfCvMethod::None && (s->cv || s->xcv);
  L.hasRole = s->roleCodes;
  VsfRowCursor c;
  vsfRowCursorStart(&c, page->buffer, page->pageSize);
  while (vsfRowCursorNext(&c, &L))
    fn(L, c);
}

double wfOf(const VsfRowLayout& L, const VsfRowCursor& c) {
  double w = L.hasWeight ? c.doubles[0] : 1.0;
  double f = L.hasFreq ? c.doubles[L.hasWeight] : 1.0;
  return w * f;
}
double& yOf(const VsfRowLayout& L, const VsfRowCursor& c) {
  return c.doubles[L.hasWeight + L.hasFreq + L.hasResample];
}

void entryAdd(VsfPassState* m, const VsfRowLayout& L, const VsfRowCursor& c, double* out) {
  const double* dense = &yOf(L, c) + 1;
  for (int32_t e = 0; e < L.entryCount; ++e)
    if (L.denseOffset[e] >= 0)
      for (int32_t k = 0; k < m->effectColumns[e]; ++k)
        out[e] += dense[L.denseOffset[e] + k];
  const double* sparse = dense + L.denseColumns;
  int32_t prev = 0;
  for (int32_t k = 0; k < L.sparseCount; ++k) {
    int32_t upto = c.codeEnd[-1 - (L.hasFold + L.hasRole + k)];
    for (int32_t v = prev; v < upto; ++v)
      out[L.sparseList[k]] += sparse[v];
    prev = upto;
  }
}

VsfStatus sumYSerial(VsfPassState* m, QkPageDescriptor* page) {
  eachRow(m, page,
          [m](const VsfRowLayout& L, VsfRowCursor& c) { m->sse += yOf(L, c) * wfOf(L, c); });
  return VsfStatus::Ok;
}
VsfStatus sumYThreaded(VsfPassState* m, QkPageDescriptor* page, double* b, int64_t) {
  eachRow(m, page, [b](const VsfRowLayout& L, VsfRowCursor& c) { b[0] += yOf(L, c) * wfOf(L, c); });
  return VsfStatus::Ok;
}
VsfStatus entrySerial(VsfPassState* m, QkPageDescriptor* page) {
  eachRow(m, page,
          [m](const VsfRowLayout& L, VsfRowCursor& c) { entryAdd(m, L, c, m->pathPass.corr); });
  return VsfStatus::Ok;
}
VsfStatus entryThreaded(VsfPassState* m, QkPageDescriptor* page, double* b, int64_t) {
  eachRow(m, page, [m, b](const VsfRowLayout& L, VsfRowCursor& c) { entryAdd(m, L, c, b); });
  return VsfStatus::Ok;
}
void foldAdd(VsfPassState* m, const VsfRowLayout& L, const VsfRowCursor& c, double* rows,
             double* freqs, double* weights) {
  int32_t fold = c.codeEnd[-1];
  if (fold < 0 || fold >= m->cv.foldCount)
    return;
  double f = L.hasFreq ? c.doubles[L.hasWeight] : 1.0;
  rows[fold] += 1;
  freqs[fold] += f;
  weights[fold] += wfOf(L, c);
}
VsfStatus foldSerial(VsfPassState* m, QkPageDescriptor* page) {
  eachRow(m, page, [m](const VsfRowLayout& L, VsfRowCursor& c) {
    for (int32_t k = 0; k < 1; ++k) {
      int32_t fold = c.codeEnd[-1];
      if (fold < 0 || fold >= m->cv.foldCount)
        return;
      double f = L.hasFreq ? c.doubles[L.hasWeight] : 1.0;
      m->cv.folds[fold].rowCount += 1;
      m->cv.folds[fold].freqCount += f;
      m->cv.folds[fold].weightCount += wfOf(L, c);
    }
  });
  return VsfStatus::Ok;
}
VsfStatus foldThreaded(VsfPassState* m, QkPageDescriptor* page, double* b, int64_t) {
  const int32_t K = m->cv.foldCount;
  eachRow(m, page, [m, b, K](const VsfRowLayout& L, VsfRowCursor& c) {
    foldAdd(m, L, c, b, b + K, b + 2 * K);
  });
  return VsfStatus::Ok;
}
VsfStatus doubleSerial(VsfPassState* m, QkPageDescriptor* page) {
  eachRow(m, page, [](const VsfRowLayout& L, VsfRowCursor& c) { yOf(L, c) *= 2; });
  return VsfStatus::Ok;
}
VsfStatus doubleThreaded(VsfPassState* m, QkPageDescriptor* page, double*, int64_t) {
  return doubleSerial(m, page);
}

} // namespace

VsfSerialKernel sumY = sumYSerial;
VsfThreadedKernel sumY_t = sumYThreaded;
VsfSerialKernel entrySums = entrySerial;
VsfThreadedKernel entrySums_t = entryThreaded;
VsfSerialKernel foldCounts = foldSerial;
VsfThreadedKernel foldCounts_t = foldThreaded;
VsfSerialKernel doubleY = doubleSerial;
VsfThreadedKernel doubleY_t = doubleThreaded;

void registerTestKernels() {
  vsfRegisterKernelPair(sumY, sumY_t, kVsfFunValueUse);
  vsfRegisterKernelPair(entrySums, entrySums_t, kVsfCorrUse);
  vsfRegisterKernelPair(foldCounts, foldCounts_t, kVsfCVNobsUse);
  vsfRegisterKernelPair(doubleY, doubleY_t, kVsfPageTransformUse);
}

VsfRowSource Source::table() {
  VsfRowSource t{};
  t.self = this;
  t.begin = begin;
  t.end = end;
  t.next = next;
  t.status = status;
  t.row = row;
  t.roleValue = roleValue;
  t.indexLevel = indexLevel;
  t.unknownLevels = unknownLevels;
  t.effectName = effectName;
  t.numericValues = numericValues;
  t.levelsAll = levelsAll;
  t.effectMeans = effectMeans;
  t.release = release;
  return t;
}

void setUpHost() {
  HostControlBlock* cb = qrxhost::hostControlBlock();
  v_global_gcb_anchor = cb;
  Exported_QKHandle = cb->qkHandle;
  registerTestKernels();
}

std::vector<MsgId> loggedNumbers() {
  std::vector<MsgId> out;
  for (const auto& r : qrxhost::takeLog())
    if (r.numbered)
      out.push_back(MsgId::of(r));
  return out;
}

PageRun::PageRun() {
  setUpHost();
  byPool = qrxhost::createArenaPool("test BY pool");
  pagePool = qrxhost::createArenaPool("test page pool");
  modelPool = qrxhost::createArenaPool("test model pool");
  exts.qk = Exported_QKHandle;
  exts.qkpgf = qrxhost::loadExtension("qkpgf");
  exts.qkbkf = qrxhost::loadExtension("qkbkf");
  exts.qkupath = qrxhost::loadExtension("qkupath");
  settings.threadCount = 1;
  settings.utilAccess = 4;
  settings.trainFraction = 1.0;
  static int64_t seed = 0;
  seed = 12345;
  settings.seed = &seed;
  settings.method = VsfMethod::Forward;
  model.pool = modelPool;
  model.bags = &bags;
  model.puddle = &puddle;
}

PageRun::~PageRun() {
  vsfBagVecRelease(&bags, &exts);
  if (puddle.pool != nullptr)
    vsfTerminateThreads(&puddle);
  for (QkExtension* e : {exts.qkpgf, exts.qkbkf, exts.qkupath})
    if (e)
      e->unload(e);
  for (QkPool* p : {byPool, pagePool, modelPool})
    p->destroy(p);
}

int32_t PageRun::read(Source& src) {
  settings.entries = entries.data();
  settings.entryCount = static_cast<int32_t>(entries.size());
  settings.modelEffectCount = settings.entryCount;
  VsfRowSource t = src.table();
  return codeOf(
      vsfReadPass(&settings, &t, &model, &bags, &exts, byPool, pagePool, &returnCode, &result));
}

VsfRowLayout PageRun::layout() const {
  VsfRowLayout L{};
  L.entryCount = model.effectCount;
  L.denseOffset = model.layout.denseOffset;
  L.sparseList = model.layout.sparseEffectList;
  L.sparseCount = model.layout.sparseEffectCount;
  L.denseColumns = model.layout.denseColumnCount;
  L.hasWeight = settings.weightGiven;
  L.hasFreq = settings.freqGiven;
  L.hasResample = settings.resampling;
  L.hasFold = settings.cvMethod != VsfCvMethod::None && (settings.cv || settings.xcv);
  L.hasRole = settings.roleCodes;
  return L;
}

namespace {
template <class Fn> void walkReadingOrder(PageRun& r, Fn fn) {
  auto* pgf = reinterpret_cast<QkPgfExtension*>(r.exts.qkpgf);
  VsfRowLayout L = r.layout();
  const uint32_t F = r.bags.count;
  for (int64_t k = 0; k < r.result.pagesWritten; ++k) {
    VsfUtilFile& file = r.bags.files[k % F];
    int64_t j = k / F;
    void* page;
    if (j < file.memLimit) {
      page = file.memPages[j];
    } else {
      file.page.pageNumber = j - file.memLimit + 1;
      if (pgf->qkpgfReadPage(file.file, &file.page, 0) != 0)
        return;
      page = file.page.buffer;
    }
    VsfRowCursor c;
    vsfRowCursorStart(&c, page, file.page.pageSize);
    while (vsfRowCursorNext(&c, &L))
      fn(c);
  }
}
} // namespace

std::vector<std::vector<double>> PageRun::rowDoubles() {
  std::vector<std::vector<double>> out;
  walkReadingOrder(*this, [&](VsfRowCursor& c) { out.emplace_back(c.doubles, c.doubles + c.nd); });
  return out;
}

std::vector<std::vector<int32_t>> PageRun::rowCodes() {
  std::vector<std::vector<int32_t>> out;
  walkReadingOrder(*this, [&](VsfRowCursor& c) {
    std::vector<int32_t> codes;
    for (int32_t i = 0; i < c.nc; ++i)
      codes.push_back(c.codeEnd[-1 - i]);
    out.push_back(codes);
  });
  return out;
}

int32_t PageRun::startThreads(int32_t n) { return codeOf(vsfInitializeThreads(&puddle, n)); }

void denseEntries(PageRun& run, const std::vector<int32_t>& columns) {
  run.entries.clear();
  int32_t first = 0;
  for (size_t i = 0; i < columns.size(); ++i) {
    run.entries.push_back(VsfEffectEntry{static_cast<int32_t>(i), columns[i], nullptr, first, 0});
    first += columns[i];
  }
  run.settings.columnCount = first;
}

} // namespace datatest
