// The threading frame: the table of registered kernel pairs, the choice between the serial
// visitor and the page workers, the work items and buffers of a threaded pass, and the fold
// of the summed buffers into the model. Buffers are summed in slot order, so a threaded
// result does not depend on which worker finishes first.
#include "data/vsfthread.h"

#include "data/vsfdata.h"
#include "data/vsfpassstate.h"
#include "support/hoststubs.h"
#include "support/seams.h"
#include "support/stepcodes.h"
#include "support/zparrows.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <functional>
#include <new>
#include <vector>

namespace {

struct KernelPair {
  VsfSerialKernel serial;
  VsfThreadedKernel threaded;
  VsfKernelUse use;
  VsfSerialKernel before; // the shared-triangle form, when there is one
  VsfPartKernel part;
};

// The 29 pairs of the data-pass callbacks, with room for the tests' own kernels.
constexpr int kMaxPairs = 128;
// Constant-initialised: the kernels register from their own units before this one runs.
constinit KernelPair gPairs[kMaxPairs]{};
std::atomic<int> gPairCount{0};

void freeBlock(QkPool* pool, void* block) {
  if (block != nullptr && pool != nullptr)
    pool->free(pool, block);
}

} // namespace

void vsfRegisterKernelPair(VsfSerialKernel serial, VsfThreadedKernel threaded,
                           const VsfKernelUse& use) {
  int n = gPairCount.load();
  for (int i = 0; i < n; ++i)
    if (gPairs[i].serial == serial || gPairs[i].threaded == threaded) {
      // A shared-triangle form belongs to the threaded kernel it was given for.
      KernelPair& p = gPairs[i];
      if (p.threaded != threaded)
        p.before = nullptr, p.part = nullptr;
      p.serial = serial;
      p.threaded = threaded;
      p.use = use;
      return;
    }
  if (n >= kMaxPairs)
    return;
  gPairs[n] = KernelPair{serial, threaded, use, nullptr, nullptr};
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
// The pair of a kernel given in either form.
[[nodiscard]] const KernelPair* pairOfEither(const void* kernel) {
  const int n = gPairCount.load();
  for (int i = 0; i < n; ++i)
    if (reinterpret_cast<const void*>(gPairs[i].serial) == kernel ||
        reinterpret_cast<const void*>(gPairs[i].threaded) == kernel)
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

VsfPageUse vsfKernelPageUse(const void* kernel) {
  const KernelPair* p = pairOfEither(kernel);
  return p != nullptr ? p->use.pages : VsfPageUse::Reads;
}

int64_t vsfKernelBufferLength(const VsfPassState* m, VsfThreadedKernel threaded, int64_t arg) {
  const KernelPair* p = pairOf(threaded);
  return p != nullptr && p->use.bufferLength != nullptr ? p->use.bufferLength(m, arg) : 0;
}

// Keeps the parts of a shared-triangle pass near one another in the pages. Every part reads
// every page; left to run apart, each brings every page from memory again, and the pages are
// far larger than the cache. Each part shows how many pages it has visited, and a part about
// to visit page k waits while a part that has begun is more than `lead` pages behind it: a
// page one part brought in is then still in the shared cache when the others read it. A part
// not yet begun (the pool may run fewer workers than parts) is not waited for, nor one that
// has ended, and the slowest part never waits, so every wait ends. Only the time a page is
// read changes: each part still adds its pages in the same order.
class VsfPartPacer {
public:
  VsfPartPacer(int32_t parts, int64_t lead)
      : lead_(lead), wakeEvery_(std::max<int64_t>(1, lead / 8)), at_(static_cast<size_t>(parts)) {}

  void begin(int32_t part) { slot(part).store(0, std::memory_order_release); }
  // Before page k of the part; `clear` (0 at first, kept by the part) is the first page the
  // part must check again, so that the others' counts are read once every `lead` pages. A
  // part that has to wait waits until the slowest is within half the lead, and the parts
  // wake the waiting every few pages only: a wait is then a few sleeps, not one a page.
  void before(int64_t k, int64_t& clear) {
    int64_t behind = lead_;
    while (k >= clear) {
      int64_t pages = kEnded;
      Slot* who = slowest(pages);
      if (who == nullptr || k - pages <= behind) {
        clear = who == nullptr ? kEnded : pages + lead_ + 1;
        return;
      }
      behind = lead_ / 2;
      who->pages.wait(pages, std::memory_order_acquire);
    }
  }
  void after(int32_t part, int64_t k) {
    slot(part).store(k + 1, std::memory_order_release);
    if ((k + 1) % wakeEvery_ == 0)
      slot(part).notify_all();
  }
  void end(int32_t part) {
    slot(part).store(kEnded, std::memory_order_release);
    slot(part).notify_all();
  }

private:
  static constexpr int64_t kNotBegun = -1, kEnded = INT64_MAX;
  // A cache line per part, so that a part's count does not move the others'.
  struct alignas(64) Slot {
    std::atomic<int64_t> pages{kNotBegun};
  };

  std::atomic<int64_t>& slot(int32_t part) { return at_[static_cast<size_t>(part)].pages; }
  // The begun part that has visited the fewest pages, `fewest`, and not ended; null when
  // there is none.
  [[nodiscard]] Slot* slowest(int64_t& fewest) {
    Slot* who = nullptr;
    fewest = kEnded;
    for (Slot& s : at_)
      if (const int64_t v = s.pages.load(std::memory_order_acquire); v >= 0 && v < fewest) {
        fewest = v;
        who = &s;
      }
    return who;
  }

  int64_t lead_, wakeEvery_;
  std::vector<Slot> at_;
};

namespace {

// The pages the parts of a shared-triangle pass may lie apart: a few MB, which the shared
// cache holds beside the parts' blocks of rows.
[[nodiscard]] int64_t partLead(const VsfBagVec* vec) {
  if (const int64_t pages = seam::partLeadPages(); pages > 0)
    return pages;
  constexpr int64_t kLeadBytes = int64_t{8} << 20;
  return std::max<int64_t>(1, kLeadBytes / std::max<int64_t>(1, vec->largestPageSize));
}

// A part's visit shown to the pacer from its start to its end, however it ends.
class PacedVisit {
public:
  PacedVisit(VsfPartPacer* pacer, int32_t part) : pacer_(pacer), part_(part) {
    if (pacer_ != nullptr)
      pacer_->begin(part_);
  }
  PacedVisit(const PacedVisit&) = delete;
  PacedVisit& operator=(const PacedVisit&) = delete;
  ~PacedVisit() {
    if (pacer_ != nullptr)
      pacer_->end(part_);
  }
  void before(int64_t k) {
    if (pacer_ != nullptr)
      pacer_->before(k, clear_);
  }
  void after(int64_t k) {
    if (pacer_ != nullptr)
      pacer_->after(part_, k);
  }

private:
  VsfPartPacer* pacer_;
  int32_t part_;
  int64_t clear_ = 0;
};

// One thread's visit of a pass's pages for a pair with span forms: the span, opened first and
// released however the visit ends; finish() adds what waits once the pages are done. Without
// span forms there is no span, and the plain forms add each page's rows at its end.
class SpanVisit {
public:
  explicit SpanVisit(const VsfSpanForms* forms)
      : forms_(forms), span_(forms != nullptr ? forms->open() : nullptr) {}
  SpanVisit(const SpanVisit&) = delete;
  SpanVisit& operator=(const SpanVisit&) = delete;
  ~SpanVisit() {
    if (span_ != nullptr)
      forms_->release(span_);
  }
  [[nodiscard]] VsfPageSpan* span() const { return span_; }
  // The threaded kernel's call of a page: the span form where there is one.
  [[nodiscard]] VsfStatus threaded(VsfThreadedKernel plain, VsfPassState* model,
                                   QkPageDescriptor* page, double* buffer, int64_t length) const {
    return span_ != nullptr ? forms_->threaded(model, page, buffer, length, span_)
                            : plain(model, page, buffer, length);
  }
  // Adds what waits, once the visit's pages are done.
  void finish() const {
    if (span_ != nullptr)
      forms_->finish(span_);
  }

private:
  const VsfSpanForms* forms_;
  VsfPageSpan* span_;
};

// A worker's visit on the shared-triangle road: every in-memory page in the order the rows
// were read (page k is page k / F of file k % F), through a descriptor of its own (the files'
// descriptors are shared). That is the one file's order of a single thread, so every element
// of the triangle receives its terms in the same order whatever the thread count.
[[nodiscard]] VsfStatus visitForPart(const VsfWorkItem* item, VsfPageSpan* span) {
  const VsfBagVec* vec = item->model->bags;
  const int32_t parts = item->model->dataSettings->threadCount;
  std::vector<QkPageDescriptor> pages(vec->count);
  for (uint32_t f = 0; f < vec->count; ++f) {
    pages[f] = vec->files[f].page;
    pages[f].pageNumber = 0;
  }
  PacedVisit pace(item->pacer, item->part);
  VsfStatus rc = VsfStatus::Ok;
  vsfEachPageInReadOrder(vec, [&](uint32_t f, int64_t j, int64_t k) {
    if (__atomic_load_n(item->stop, __ATOMIC_ACQUIRE) != 0)
      return false;
    pace.before(k);
    pages[f].buffer = vec->files[f].memPages[j];
    rc = item->partKernel(item->model, &pages[f], item->part, parts,
                          item->notes != nullptr ? &item->notes[k] : nullptr, span);
    if (rc != VsfStatus::Ok)
      return false;
    pace.after(k);
    return true;
  });
  return rc;
}

// The grouped road: page k of a pass adds into the buffer of group k % kPageGroups, each
// group's pages in the order they were read, and the groups are summed in order. On one
// thread, or on T workers where T divides the groups (worker t's file holds the pages k with
// k % T == t, so every group is one worker's), every sum is the same whatever the thread count.
constexpr int32_t kPageGroups = 24;

[[nodiscard]] double* groupBuffer(double* groups, int64_t length, int64_t k) {
  return groups + (k % kPageGroups) * (length + 8);
}

// A worker's visit on the grouped road: its file's pages, page j being page j T + t of the pass.
[[nodiscard]] VsfStatus visitGroups(const VsfWorkItem* item, const SpanVisit& visit) {
  const int32_t T = item->model->dataSettings->threadCount;
  VsfUtilFile* rec = item->file;
  for (int64_t j = 0; j < rec->memPageCount; ++j) {
    if (__atomic_load_n(item->stop, __ATOMIC_ACQUIRE) != 0)
      return VsfStatus::Ok;
    rec->page.buffer = rec->memPages[j];
    rec->page.pageNumber = 0;
    const VsfStatus rc =
        visit.threaded(item->kernel, item->model, &rec->page,
                       groupBuffer(item->groups, item->length, j * T + item->part), item->length);
    if (rc != VsfStatus::Ok)
      return rc;
  }
  return VsfStatus::Ok;
}

// A worker's visit of its pages by the item's road, within its span.
[[nodiscard]] VsfStatus visitOfItem(VsfWorkItem* item) {
  const SpanVisit visit(item->span);
  VsfStatus rc = VsfStatus::Ok;
  if (item->partKernel != nullptr)
    rc = visitForPart(item, visit.span());
  else if (item->groups != nullptr)
    rc = visitGroups(item, visit);
  else
    rc = vsfUtilReadFileWith(item->model, reinterpret_cast<const void*>(item->kernel), item->file,
                             item->stop, [&](QkPageDescriptor* page) {
                               return visit.threaded(item->kernel, item->model, page, item->buffer,
                                                     item->length);
                             });
  if (rc == VsfStatus::Ok)
    visit.finish();
  return rc;
}

} // namespace

void utilReadWrapper(void*, void* p) {
  auto* item = static_cast<VsfWorkItem*>(p);
  // A visit that never returns here (the pool stopped it) leaves a failure behind.
  item->status = VsfStatus::WorkerVanished;
  VsfStatus rc = VsfStatus::NoMemory;
  try {
    rc = visitOfItem(item);
  } catch (const std::bad_alloc&) {
    // A kernel's scratch that could not be had: the pass fails as out of memory.
  }
  item->status = rc;
  if (rc != VsfStatus::Ok && item->stop != nullptr)
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
[[nodiscard]] VsfStatus firstFailure(const VsfWorkItem* items, int32_t T) {
  for (int32_t t = 0; t < T; ++t)
    if (items[t].status != VsfStatus::Ok)
      return items[t].status;
  return VsfStatus::Ok;
}

// Runs one work item per worker, each filled by `fill` besides its model, stop word and slot,
// and waits for them all: the first failure in slot order, or NoMemory without items.
template <class Fill> [[nodiscard]] VsfStatus runWorkers(VsfPassState* model, Fill fill) {
  const int32_t T = model->dataSettings->threadCount;
  VsfWorkItem* items = newItems(model, T);
  if (items == nullptr)
    return VsfStatus::NoMemory;
  auto* stop = reinterpret_cast<int32_t*>(items + T);
  for (int32_t t = 0; t < T; ++t) {
    items[t].model = model;
    items[t].stop = stop;
    items[t].part = t;
    fill(items[t]);
    zpudenq(model->puddle, &items[t]);
  }
  zpudwt(model->puddle);
  return firstFailure(items, T);
}

// The notes the parts keep on the pages held in memory, in read order, all Unknown; none
// where memory is short, and every part then tests its rows itself.
[[nodiscard]] std::vector<std::atomic<VsfPageNote>> pageNotes(const VsfBagVec* vec) {
  int64_t held = 0;
  for (uint32_t f = 0; f < vec->count; ++f)
    held += vec->files[f].memPageCount;
  try {
    return std::vector<std::atomic<VsfPageNote>>(static_cast<size_t>(held));
  } catch (const std::bad_alloc&) {
    return {};
  }
}

// The shared-triangle road's pass: every worker adds its part of the rows straight into the
// model's triangles, so there is no buffer to zero and nothing to sum afterwards.
[[nodiscard]] VsfStatus dispatchParts(VsfPassState* model, VsfPartKernel part,
                                      const VsfSpanForms* span) {
  VsfPartPacer pacer(model->dataSettings->threadCount, partLead(model->bags));
  std::vector<std::atomic<VsfPageNote>> notes = pageNotes(model->bags);
  return runWorkers(model, [&](VsfWorkItem& it) {
    it.partKernel = part;
    it.span = span;
    it.pacer = &pacer;
    it.notes = notes.empty() ? nullptr : notes.data();
  });
}

} // namespace

VsfStatus dispatch(VsfPassState* model, VsfThreadedKernel threaded, int64_t arg) {
  ThreadPuddle* puddle = model->puddle;
  const int32_t T = model->dataSettings->threadCount;
  QkPool* pool = model->pool;
  VsfWorkItem* items = newItems(model, T);
  if (items == nullptr)
    return VsfStatus::NoMemory; // no model pool or no memory: nowhere to put the items and buffers
  auto* stop = reinterpret_cast<int32_t*>(items + T);
  const int64_t L = vsfKernelBufferLength(model, threaded, arg);
  const KernelPair* pair = pairOf(threaded);
  VsfStatus rc = VsfStatus::Ok;
  int32_t queued = 0;
  for (int32_t t = 0; t < T; ++t) {
    VsfWorkItem& it = items[t];
    it.file = &model->bags->files[t];
    it.model = model;
    it.kernel = threaded;
    it.length = L;
    it.span = pair != nullptr ? pair->use.span : nullptr;
    it.stop = stop;
    if (L > 0) {
      // Eight doubles of slack keep the workers' buffers off each other's cache lines.
      it.buffer = static_cast<double*>(
          pool->allocate(pool, sizeof(double) * static_cast<size_t>(L + 8), kQkZeroed));
      if (it.buffer == nullptr) {
        it.length = 0;
        rc = VsfStatus::NoMemory;
        break;
      }
    }
    zpudenq(puddle, &it);
    ++queued;
  }
  // Items already queued are waited for, so that no worker still uses a buffer.
  if (queued > 0 || rc == VsfStatus::Ok)
    zpudwt(puddle);
  if (rc != VsfStatus::Ok)
    return rc;
  return firstFailure(items, T);
}

namespace {

void addInto(double* dst, const double* src, int64_t n) {
  for (int64_t i = 0; i < n; ++i)
    dst[i] += src[i];
}

} // namespace

// After a threaded pass: the workers' buffers are summed into the first (in worker order)
// and the kernel's store puts the sum where its serial form would have. Page transforms
// keep no buffer.
void accumulate(VsfPassState* m, VsfThreadedKernel threaded) {
  const KernelPair* p = pairOf(threaded);
  if (p == nullptr || p->use.store == nullptr)
    return;
  ThreadPuddle* puddle = m->puddle;
  const int32_t T = m->dataSettings->threadCount;
  VsfWorkItem* items = puddle->items;
  double* B = items[0].buffer;
  const int64_t L = items[0].length;
  if (B == nullptr || L == 0)
    return;
  for (int32_t t = 1; t < T; ++t)
    addInto(B, items[t].buffer, L);
  p->use.store(m, B, L);
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
// every page. It is taken too where a row's terms are many against its values (a triangle of
// some hundred columns and more): walking every page then costs the workers little, and the
// sums are the single thread's bit for bit, which the buffers' sum in worker order is not.
// The workers visit the pages held in memory at once; a pair whose pages span or are
// rewritten first needs every page there, any other takes the pages on disk a few at a time,
// each read once and its parts run on the workers.
constexpr int64_t kSharedTriangleDoubles = 256 * 257 / 2;

[[nodiscard]] bool sharedRoadPays(VsfPassState* m, const KernelPair& p, int64_t arg, int32_t T) {
  const VsfBagVec* vec = m->bags;
  const bool diskPages = p.use.span == nullptr && p.before == nullptr;
  int64_t pageDoubles = 0;
  for (uint32_t f = 0; f < vec->count; ++f) {
    if (vec->files[f].diskPageCount != 0 && !diskPages)
      return false;
    pageDoubles += (vec->files[f].memPageCount + vec->files[f].diskPageCount) *
                   static_cast<int64_t>(vec->largestPageSize / sizeof(double));
  }
  const int64_t L = vsfKernelBufferLength(m, p.threaded, arg);
  return L >= kSharedTriangleDoubles || static_cast<int64_t>(T) * L > pageDoubles;
}

// A page of a file: the file and the page's number in it.
struct FilePage {
  uint32_t file;
  int64_t page;
};

// Holds the pages [i, n) of `pages` (one per file at most, a page on disk in its file's
// buffer), their descriptors in `held`, and runs `run` while all are held.
[[nodiscard]] VsfStatus holdPages(VsfBagVec* vec, const std::vector<FilePage>& pages, size_t i,
                                  std::vector<QkPageDescriptor>& held,
                                  const std::function<VsfStatus()>& run) {
  if (i == pages.size())
    return run();
  return vsfWithPage(vec, pages[i].file, pages[i].page, [&](const QkPageDescriptor& d) {
    held[i] = d;
    return holdPages(vec, pages, i + 1, held, run);
  });
}

// Runs every part over the held pages in their order on the workers; the first failure in
// part order.
[[nodiscard]] VsfStatus partsOver(VsfPassState* model, VsfPartKernel part,
                                  const std::vector<QkPageDescriptor>& held) {
  const int32_t T = model->dataSettings->threadCount;
  std::vector<VsfStatus> status(static_cast<size_t>(T), VsfStatus::Ok);
  zparruns(T, [&](int32_t t) {
    for (const QkPageDescriptor& page : held) {
      QkPageDescriptor own = page;
      if ((status[static_cast<size_t>(t)] = part(model, &own, t, T, nullptr, nullptr)) !=
          VsfStatus::Ok)
        return;
    }
  });
  for (const VsfStatus s : status)
    if (s != VsfStatus::Ok)
      return s;
  return VsfStatus::Ok;
}

// The shared road's pages past those the workers visit at once (some on disk), in the order
// the rows were read: a run of consecutive pages, one of each file, is had on this thread and
// the parts run over it on the workers (a hand-off per run, not per page), so that every
// element still receives its rows' terms in that order.
[[nodiscard]] VsfStatus laterPagesByRuns(VsfPassState* model, VsfPartKernel part) {
  VsfBagVec* vec = model->bags;
  std::vector<FilePage> run;
  std::vector<QkPageDescriptor> held;
  auto flush = [&] {
    held.resize(run.size());
    const VsfStatus rc = holdPages(vec, run, 0, held, [&] { return partsOver(model, part, held); });
    run.clear();
    return rc;
  };
  VsfStatus rc = VsfStatus::Ok;
  vsfEachLaterPageInReadOrder(vec, [&](uint32_t f, int64_t j) {
    run.push_back(FilePage{f, j});
    if (run.size() == vec->count)
      rc = flush();
    return rc == VsfStatus::Ok;
  });
  return rc == VsfStatus::Ok && !run.empty() ? flush() : rc;
}

// The shared-triangle form's first pass, the page rewrite: on the workers, each its own
// file, where it only transforms the pages; serially where it has sums (light next to the
// triangle), so that every sum is the serial pass's.
[[nodiscard]] VsfStatus rewriteBeforeParts(VsfPassState* model, VsfSerialKernel before) {
  const KernelPair* b = pairOfEither(reinterpret_cast<const void*>(before));
  if (b == nullptr || b->use.pages != VsfPageUse::Transforms)
    return vsfUtilRead(model, before);
  const VsfStatus rc = dispatch(model, b->threaded, 0);
  cleanup(model);
  return rc;
}

// The pair's shared-triangle form: its first pass, then the triangle's parts.
[[nodiscard]] VsfStatus executeShared(VsfPassState* model, const KernelPair& p) {
  if (p.before != nullptr) {
    const VsfStatus rc = rewriteBeforeParts(model, p.before);
    if (rc != VsfStatus::Ok)
      return rc;
  }
  const VsfStatus rc = dispatchParts(model, p.part, p.use.span);
  cleanup(model);
  if (rc != VsfStatus::Ok)
    return rc;
  try {
    return laterPagesByRuns(model, p.part);
  } catch (const std::bad_alloc&) {
    return VsfStatus::NoMemory; // a part's scratch that could not be had
  }
}

} // namespace

namespace {

// Whether the pass takes the grouped road: a pair that allows it, of a buffer narrower than
// the shared triangle's (which gives the single thread's sums itself; the groups then take a
// few MB at most), with every page in memory, on one thread or a count that divides the
// groups.
[[nodiscard]] bool groupedRoadOpen(const VsfPassState* m, const KernelPair* p, int32_t T,
                                   int64_t L) {
  if (p == nullptr || !p->use.groupsPages || m->pool == nullptr || m->bags == nullptr ||
      m->bags->count == 0 || (T >= 2 && kPageGroups % T != 0))
    return false;
  return L > 0 && L < kSharedTriangleDoubles && vsfAllPagesInMemory(m->bags);
}

// The grouped road on this thread: every page in the order the rows were read.
[[nodiscard]] VsfStatus visitGroupsSerially(VsfPassState* model, const KernelPair& p,
                                            double* groups, int64_t L) {
  VsfBagVec* vec = model->bags;
  const SpanVisit visit(p.use.span);
  VsfStatus rc = VsfStatus::Ok;
  vsfEachPageInReadOrder(vec, [&](uint32_t f, int64_t j, int64_t k) {
    VsfUtilFile* rec = &vec->files[f];
    rec->page.buffer = rec->memPages[j];
    rec->page.pageNumber = 0;
    rc = visit.threaded(p.threaded, model, &rec->page, groupBuffer(groups, L, k), L);
    return rc == VsfStatus::Ok;
  });
  if (rc == VsfStatus::Ok)
    visit.finish();
  return rc;
}

// The grouped road on the workers, each visiting its own file.
[[nodiscard]] VsfStatus dispatchGroups(VsfPassState* model, const KernelPair& p, double* groups,
                                       int64_t L) {
  return runWorkers(model, [&](VsfWorkItem& it) {
    it.file = &model->bags->files[it.part];
    it.kernel = p.threaded;
    it.length = L;
    it.groups = groups;
    it.span = p.use.span;
  });
}

// The grouped road: the groups' buffers, their pages added on this thread or the workers,
// then summed in group order and stored as the kernel's sums.
[[nodiscard]] VsfStatus executeGrouped(VsfPassState* model, const KernelPair& p, bool workers,
                                       int64_t L) {
  QkPool* pool = model->pool;
  const size_t bytes = sizeof(double) * static_cast<size_t>(kPageGroups * (L + 8));
  auto* groups = static_cast<double*>(pool->allocate(pool, bytes, kQkZeroed));
  if (groups == nullptr)
    return VsfStatus::NoMemory;
  // The first touch, here, by a write: the groups' buffers are all read when they are summed,
  // and a page the workers first read and then write is faulted twice, the second time
  // flushing the address caches of every thread.
  std::memset(groups, 0, bytes);
  VsfStatus rc =
      workers ? dispatchGroups(model, p, groups, L) : visitGroupsSerially(model, p, groups, L);
  if (workers)
    cleanup(model);
  if (rc == VsfStatus::Ok && p.use.store != nullptr) {
    for (int32_t g = 1; g < kPageGroups; ++g)
      addInto(groups, groupBuffer(groups, L, g), L);
    p.use.store(model, groups, L);
  }
  freeBlock(pool, groups);
  return rc;
}

// The serial road: one visit of every page on this thread, within the pair's span.
[[nodiscard]] VsfStatus serialPass(VsfPassState* model, VsfSerialKernel serial) {
  const KernelPair* p = pairOfEither(reinterpret_cast<const void*>(serial));
  const VsfSpanForms* forms = p != nullptr ? p->use.span : nullptr;
  if (forms == nullptr)
    return vsfUtilRead(model, serial);
  const SpanVisit visit(forms);
  const VsfStatus rc =
      vsfUtilReadWith(model, reinterpret_cast<const void*>(serial), [&](QkPageDescriptor* page) {
        return forms->serial(model, page, visit.span());
      });
  if (rc == VsfStatus::Ok)
    visit.finish();
  return rc;
}

} // namespace

VsfStatus vsfExecuteByThreads(VsfPassState* model, VsfSerialKernel serial,
                              VsfThreadedKernel threaded, int64_t arg) {
  passCount.fetch_add(1, std::memory_order_relaxed);
  if (const KernelPair* p = pairOfEither(reinterpret_cast<const void*>(serial));
      model->layout.splitSparse && (p == nullptr || !p->use.readsSplitSparse)) {
    xebug("vsfExecuteByThreads: a pass that cannot read split levels stored sparse");
    return VsfStatus::InternalError;
  }
  const VsfDataSettings* s = model->dataSettings;
  const int32_t T = s != nullptr ? s->threadCount : 1;
  const uint32_t F = model->bags != nullptr ? model->bags->count : 0;
  const bool workers = T >= 2 && static_cast<uint32_t>(T) == F && !vsfIsResampleKernel(serial) &&
                       !s->resampleFromScratch && model->puddle != nullptr &&
                       model->puddle->pool != nullptr;
  const KernelPair* pair = pairOf(threaded);
  if (const int64_t L = vsfKernelBufferLength(model, threaded, arg);
      groupedRoadOpen(model, pair, T, L))
    return executeGrouped(model, *pair, workers, L);
  if (!workers)
    return serialPass(model, serial);
  if (pair != nullptr && pair->part != nullptr && sharedRoadPays(model, *pair, arg, T))
    return executeShared(model, *pair);
  const VsfStatus rc = dispatch(model, threaded, arg);
  if (rc == VsfStatus::Ok)
    accumulate(model, threaded);
  cleanup(model);
  return rc;
}
