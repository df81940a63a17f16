// The block road of the reading pass: workers take the observations of a BY group in blocks
// and build their design rows on their own copies of the source's state; the main thread
// stores the blocks in observation order, so pages, counts and sums are those of the serial
// road whatever the thread count. The workers are the host's one pool (support/zparrows.h),
// never threads of the pass's own. The per-observation decisions are vsfdata.cpp's.
// Declared in data/vsfreadpass.h and data/vsfdata.h.
#include "data/vsfreadpass.h"

#include "support/cvscheme.h"
#include "support/hoststubs.h"
#include "support/nomemory.h"
#include "support/seams.h"
#include "support/stepcodes.h"
#include "support/zparrows.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <thread>
#include <vector>

namespace {

using namespace vsfread;

constexpr int64_t kBlockDoubles = 1 << 16; // design values of one block: 512 KB

// One slot of the ring of blocks between the workers and the main thread. Block k goes to
// slot k % slots; `turn` is the block the slot may be filled with next, `filled` one past
// the block it holds. `pending` counts what still reads a stored block (its sums, its copy
// onto the pages): the last of them gives the slot back.
struct alignas(64) Slot {
  std::atomic<int64_t> turn{0};
  std::atomic<int64_t> filled{0};
  std::atomic<int32_t> pending{0};
  VsfStatus rc = VsfStatus::Ok;
  LevRowStatusSet* status = nullptr;
  double *y = nullptr, *w = nullptr, *f = nullptr, *rows = nullptr;
  int32_t* columns = nullptr; // the sparse road: the values' columns and each row's end
  int32_t* ends = nullptr;
  double* sumWeight = nullptr; // per row the weight its sums are added with, 0 none
  double** place = nullptr;    // per row the page place its doubles are copied to, null none
};

struct Road {
  VsfRowSource* src;
  int64_t span;      // observations the road takes
  int32_t blockRows; // observations of a full block
  int64_t blockCount;
  int32_t columns;
  // Rows in sparse form (the pass's sparse road) hold at most `width` values each; dense rows
  // are `width` = `columns` values.
  bool sparse = false;
  int32_t width;
  std::vector<Slot> slots;
  VsfPageReserve* reserve = nullptr; // page buffers the workers make ready, or null
  // With workers the main thread leaves the sums of each block to the summing stage: `stored`
  // is one past the last block stored.
  bool summing = false;
  // With `copying` the main thread gives each row its place on a page and the workers copy
  // the stored blocks' rows there, `copyNext` the next block to copy.
  bool copying = false;
  // Each word the threads keep writing has a cache line of its own, away from the fields they
  // only read.
  alignas(64) std::atomic<int64_t> stored{0};
  alignas(64) std::atomic<int64_t> nextBlock{0};
  alignas(64) std::atomic<int64_t> copyNext{0};
  alignas(64) std::atomic<bool> stop{false};
  // Bumped whenever a worker may find work: a slot given back, a block stored, a release
  // asked for, the end. 32 bits, which the system waits on directly.
  alignas(64) std::atomic<uint32_t> event{0};
  // The workers in the road now: while one is, every piece of work left to the workers gets
  // done without the main thread.
  alignas(64) std::atomic<int32_t> active{0};
  // The observation to give up stored observations before (the latest asked for wins) and the
  // one given up so far; one worker at a time gives them up.
  alignas(64) std::atomic<int64_t> releaseWant{0};
  std::atomic<int64_t> released{0};
  std::atomic<bool> releasing{false};
};

// Wakes a worker for each new piece of work: one that finds the piece taken has lost nothing,
// and a worker awake looks for more before it waits again.
void signal(Road& road, int32_t pieces = 1) {
  road.event.fetch_add(1, std::memory_order_acq_rel);
  for (int32_t i = 0; i < pieces; ++i)
    road.event.notify_one();
}

// Wakes every worker: the road is over or stopped.
void signalAll(Road& road) {
  road.event.fetch_add(1, std::memory_order_acq_rel);
  road.event.notify_all();
}

// A stored block's slot once its sums and its copy are done: back to the workers.
void finishStored(Road& road, Slot& slot, int64_t k) {
  if (slot.pending.fetch_sub(1, std::memory_order_acq_rel) != 1)
    return;
  slot.turn.store(k + static_cast<int64_t>(road.slots.size()), std::memory_order_release);
  slot.turn.notify_all();
  signal(road);
}

// Row i of a filled slot.
[[nodiscard]] DesignRow slotRow(const Road& road, const Slot& slot, int32_t i) {
  DesignRow row;
  if (!road.sparse) {
    row.full = slot.rows + static_cast<size_t>(i) * road.width;
    return row;
  }
  const int32_t from = i > 0 ? slot.ends[i - 1] : 0;
  row.values = slot.rows + from;
  row.columns = slot.columns + from;
  row.count = slot.ends[i] - from;
  return row;
}

// Observations offset .. offset + count - 1 of the road built into a slot by a worker's state.
[[nodiscard]] VsfStatus fillSlot(const Road& road, void* state, Slot& slot, int64_t offset,
                                 int32_t count) {
  if (road.sparse)
    return statusFromCode(road.src->blockSparseRows(state, offset, count, slot.status, slot.y,
                                                    slot.w, slot.f, slot.rows, slot.columns,
                                                    slot.ends));
  return statusFromCode(
      road.src->blockRows(state, offset, count, slot.status, slot.y, slot.w, slot.f, slot.rows));
}

// The observations of a block: about 512 KB of design values, and at least four blocks a
// worker so that a short group still spreads over the workers.
[[nodiscard]] int32_t blockSize(int32_t width, int64_t span, int32_t workers) {
  const int32_t forced = seam::readBlockRows();
  if (forced > 0)
    return forced;
  const int64_t rows = std::min<int64_t>(kBlockDoubles / std::max(width, 1), span / (4 * workers));
  return static_cast<int32_t>(std::clamp<int64_t>(rows, 16, 4096));
}

// Waits until `a` holds `want` (with atLeast, `want` or more), or the road stops; false when
// it stopped.
[[nodiscard]] bool waitFor(std::atomic<int64_t>& a, int64_t want, const std::atomic<bool>& stop,
                           bool atLeast = false) {
  for (;;) {
    const int64_t now = a.load(std::memory_order_acquire);
    if (now == want || (atLeast && now > want))
      return true;
    if (stop.load(std::memory_order_acquire))
      return false;
    a.wait(now, std::memory_order_acquire);
  }
}

// Builds block k into its slot and hands it to the main thread; false after a failure.
[[nodiscard]] bool buildBlock(Road* road, void* state, Slot& slot, int64_t k) {
  const int64_t offset = k * road->blockRows;
  const int32_t count =
      static_cast<int32_t>(std::min<int64_t>(road->blockRows, road->span - offset));
  VsfStatus rc = VsfStatus::Ok;
  if (seam::failReadBlock(k + 1)) {
    rc = VsfStatus::NoMemory;
  } else {
    try {
      rc = fillSlot(*road, state, slot, offset, count);
    } catch (const std::bad_alloc&) {
      rc = VsfStatus::NoMemory;
    }
  }
  slot.rc = rc;
  slot.filled.store(k + 1, std::memory_order_release);
  slot.filled.notify_all();
  if (rc != VsfStatus::Ok)
    return false;
  // The main thread stores the rows; pages written once here spare it their faults. Without
  // memory for them the writer allocates its pages itself.
  if (road->reserve != nullptr)
    (void)vsfPageReserveTopUp(road->reserve); // short of memory, the writer allocates itself
  return true;
}

// Copies the rows of a stored block onto the places the main thread gave them.
void copyBlock(const Pass& p, Road& road, int64_t k) {
  Slot& slot = road.slots[static_cast<size_t>(k % static_cast<int64_t>(road.slots.size()))];
  const int32_t count =
      static_cast<int32_t>(std::min<int64_t>(road.blockRows, road.span - k * road.blockRows));
  for (int32_t i = 0; i < count; ++i)
    if (slot.place[i] != nullptr)
      writeDenseDoubles(p, slot.place[i], slot.rows + static_cast<size_t>(i) * road.columns,
                        slot.y[i], slot.w != nullptr ? slot.w[i] : 1.0,
                        slot.f != nullptr ? slot.f[i] : 1.0);
  seam::noteBlockCopied();
  finishStored(road, slot, k);
}

// Claims and copies the oldest stored block not yet copied; false when there is none.
[[nodiscard]] bool copyOne(const Pass& p, Road& road) {
  int64_t c = road.copyNext.load(std::memory_order_acquire);
  while (c < road.stored.load(std::memory_order_acquire)) {
    if (road.copyNext.compare_exchange_weak(c, c + 1, std::memory_order_acq_rel)) {
      copyBlock(p, road, c);
      return true;
    }
  }
  return false;
}

// The summing stage: the sums of each stored block's training rows, block after block and
// row after row, so that they are added in the serial road's order; then the block's slot
// goes back to the workers. One thread at a time holds the stage. It works on a copy of the
// pass and keeps the response's sums until the end: the main thread writes the pass's
// counters at every row, and sharing their cache lines would stall both at every row.
struct Sums {
  explicit Sums(const Pass& p) : mine(p), sumY(p.t.sumY), sumYY(p.t.sumYY) {}
  alignas(64) std::atomic<bool> busy{false};
  std::atomic<int64_t> next{0}; // the block to sum next
  Pass mine;
  double sumY, sumYY;
};

// Sums the next stored block when the stage is free; false when there was none to sum.
[[nodiscard]] bool sumOne(Road& road, Sums& sums) {
  if (sums.next.load(std::memory_order_acquire) >= road.stored.load(std::memory_order_acquire) ||
      sums.busy.exchange(true, std::memory_order_acquire))
    return false;
  const int64_t k = sums.next.load(std::memory_order_relaxed);
  if (k >= road.stored.load(std::memory_order_acquire)) {
    sums.busy.store(false, std::memory_order_release);
    return false;
  }
  Slot& slot = road.slots[static_cast<size_t>(k % static_cast<int64_t>(road.slots.size()))];
  const int32_t count =
      static_cast<int32_t>(std::min<int64_t>(road.blockRows, road.span - k * road.blockRows));
  for (int32_t i = 0; i < count; ++i)
    if (slot.sumWeight[i] != 0.0)
      addRowSums(sums.mine, slotRow(road, slot, i), slot.y[i], slot.sumWeight[i], sums.sumY,
                 sums.sumYY);
  sums.next.store(k + 1, std::memory_order_release);
  sums.busy.store(false, std::memory_order_release);
  finishStored(road, slot, k);
  return true;
}

// Builds the next block when its slot is free; false when there is none to build.
[[nodiscard]] bool buildOne(Road& road, void* state) {
  int64_t k = road.nextBlock.load(std::memory_order_acquire);
  if (k >= road.blockCount)
    return false;
  Slot& slot = road.slots[static_cast<size_t>(k % static_cast<int64_t>(road.slots.size()))];
  if (slot.turn.load(std::memory_order_acquire) != k)
    return false;
  if (road.nextBlock.compare_exchange_strong(k, k + 1, std::memory_order_acq_rel))
    (void)buildBlock(&road, state, slot, k); // a failure is left in the slot for the main thread
  return true;
}

// Gives up the stored observations asked for when nobody is at it; false when there is
// nothing to give up. Handing their memory back costs the kernel time that the main thread
// would otherwise spend between blocks.
[[nodiscard]] bool releaseOne(Road& road) {
  const int64_t want = road.releaseWant.load(std::memory_order_acquire);
  if (want <= road.released.load(std::memory_order_acquire) ||
      road.releasing.exchange(true, std::memory_order_acquire))
    return false;
  if (want > road.released.load(std::memory_order_acquire)) {
    road.src->release(road.src->self, want);
    road.released.store(want, std::memory_order_release);
  }
  road.releasing.store(false, std::memory_order_release);
  return true;
}

// Everything the road holds for the workers: the pass as the copies read it, the road, the
// sums and the workers' states (the last one the main thread's).
struct Crew {
  const Pass* view;
  Road* road;
  Sums* sums;
  std::vector<void*>* states;
  std::atomic<int32_t> joined{0};
};

// One piece of the workers' work: the sums first (the one stage that must keep up with the
// main thread block by block), then a copy onto the pages, a block to build, observations to
// give up. False when none is to be had now.
[[nodiscard]] bool helpOnce(Crew& c, void* state) {
  return sumOne(*c.road, *c.sums) || (c.road->copying && copyOne(*c.view, *c.road)) ||
         buildOne(*c.road, state) || releaseOne(*c.road);
}

// Whether every piece of the workers' work is taken: the blocks built, their copies and
// sums done or under way, the observations asked for given up.
[[nodiscard]] bool allTaken(const Crew& c) {
  const Road& road = *c.road;
  return road.nextBlock.load(std::memory_order_acquire) >= road.blockCount &&
         (!road.copying || road.copyNext.load(std::memory_order_acquire) >= road.blockCount) &&
         c.sums->next.load(std::memory_order_acquire) >= road.blockCount &&
         road.releaseWant.load(std::memory_order_acquire) <=
             road.released.load(std::memory_order_acquire);
}

// A worker: takes the pieces of work as they come, and ends when all are taken or the road
// stops. While it is in the road the main thread leaves every piece to the workers.
void workerRun(Crew& c) {
  Road& road = *c.road;
  const auto workers = static_cast<int32_t>(c.states->size()) - 1;
  void* state = (*c.states)[static_cast<size_t>(std::min(c.joined.fetch_add(1), workers))];
  road.active.fetch_add(1, std::memory_order_acq_rel);
  for (;;) {
    const uint32_t seen = road.event.load(std::memory_order_acquire);
    if (road.stop.load(std::memory_order_acquire))
      break;
    if (helpOnce(c, state))
      continue;
    if (allTaken(c)) {
      signalAll(road); // the others end too
      break;
    }
    road.event.wait(seen, std::memory_order_acquire);
  }
  road.active.fetch_sub(1, std::memory_order_acq_rel);
}

// Stops the workers still waiting for a slot.
void stopRoad(Road& road) {
  road.stop.store(true, std::memory_order_release);
  for (Slot& s : road.slots) {
    s.turn.store(-1, std::memory_order_release);
    s.turn.notify_all();
    s.filled.notify_all();
  }
  signalAll(road);
}

// Takes the slots' buffers from the pass's pool; false when out of memory.
[[nodiscard]] bool allocateSlots(Pass& p, Road& road) {
  const int32_t B = road.blockRows;
  const bool wantW = p.s->weightGiven, wantF = p.s->freqGiven;
  for (size_t i = 0; i < road.slots.size(); ++i) {
    Slot& s = road.slots[i];
    s.turn.store(static_cast<int64_t>(i));
    s.status = allocArray<LevRowStatusSet>(p.bags->pool, B, false);
    s.y = allocArray<double>(p.bags->pool, B, false);
    s.w = wantW ? allocArray<double>(p.bags->pool, B, false) : nullptr;
    s.f = wantF ? allocArray<double>(p.bags->pool, B, false) : nullptr;
    s.rows = allocArray<double>(p.bags->pool, static_cast<int64_t>(B) * road.width, false);
    s.columns =
        road.sparse ? allocArray<int32_t>(p.bags->pool, int64_t{B} * road.width, false) : nullptr;
    s.ends = road.sparse ? allocArray<int32_t>(p.bags->pool, B, false) : nullptr;
    s.sumWeight = allocArray<double>(p.bags->pool, B, false);
    s.place = road.copying ? allocArray<double*>(p.bags->pool, B, false) : nullptr;
    if (!s.status || !s.y || (wantW && !s.w) || (wantF && !s.f) || !s.rows || !s.sumWeight ||
        (road.copying && !s.place) || (road.sparse && (!s.columns || !s.ends)))
      return false;
  }
  return true;
}

// The rows of a filled slot, in order, observation by observation as the serial road takes
// them; with the summing stage their sums are left to it.
[[nodiscard]] VsfStatus storeSlotRows(Pass& p, const Road& road, Slot& slot, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    const double w = slot.w != nullptr ? slot.w[i] : 1.0;
    double f = slot.f != nullptr ? slot.f[i] : 1.0, wf = 1.0;
    slot.sumWeight[i] = 0.0;
    if (road.copying) {
      slot.place[i] = nullptr;
      p.deferTo = slot.place + i;
    }
    if (!keepRow(p, 0, slot.status[i], w, &f, &wf, nullptr, nullptr))
      continue;
    if (slot.f != nullptr)
      slot.f[i] = f; // the frequency as kept (floored), which the copy writes
    VsfStatus rc = storeRow(p, 0, slotRow(road, slot, i), slot.y[i], w, f, wf,
                            road.summing ? slot.sumWeight + i : nullptr);
    if (rc != VsfStatus::Ok) {
      p.deferTo = nullptr;
      return rc;
    }
  }
  p.deferTo = nullptr;
  return VsfStatus::Ok;
}

// The block road on the main thread alone (one thread): each block built and stored in turn,
// which spares the per-observation reads of the serial road.
[[nodiscard]] VsfStatus readBlocksHere(Pass& p, Road& road, void* state) {
  const bool release = p.s->releaseData && road.src->release != nullptr;
  const int64_t releaseEvery = std::max<int64_t>(vsfReleaseRows(road.columns) / road.blockRows, 1);
  Slot& slot = road.slots[0];
  for (int64_t k = 0; k < road.blockCount; ++k) {
    const int64_t offset = k * road.blockRows;
    const int32_t count =
        static_cast<int32_t>(std::min<int64_t>(road.blockRows, road.span - offset));
    VsfStatus rc = fillSlot(road, state, slot, offset, count);
    if (rc == VsfStatus::Ok)
      rc = storeSlotRows(p, road, slot, count);
    if (rc != VsfStatus::Ok)
      return rc;
    if (release && (k + 1) % releaseEvery == 0)
      road.src->release(road.src->self, offset + count);
  }
  return VsfStatus::Ok;
}

// Waits until block k fills its slot. With no worker in the road (none could be had, or none
// has come yet) the main thread does the workers' work itself meanwhile, so that it never
// waits for a worker that is not there.
void awaitBlock(Crew& c, Slot& slot, int64_t k) {
  Road& road = *c.road;
  void* state = c.states->back();
  while (slot.filled.load(std::memory_order_acquire) != k + 1 &&
         !road.stop.load(std::memory_order_acquire)) {
    if (road.active.load(std::memory_order_acquire) > 0) {
      (void)waitFor(slot.filled, k + 1, road.stop); // a stopped road leaves its rc in the slot
      return;
    }
    if (!helpOnce(c, state))
      std::this_thread::yield(); // a worker has just come and taken the block
  }
}

// Asks for the observations before `next` to be given up: by a worker in the road, else here.
void askRelease(Road& road, int64_t next) {
  if (road.active.load(std::memory_order_acquire) == 0) {
    road.src->release(road.src->self, next);
    road.released.store(next, std::memory_order_release);
    return;
  }
  road.releaseWant.store(next, std::memory_order_release);
  signal(road);
}

// The main thread's part: each block, in order, observation by observation as the serial
// road would take it.
[[nodiscard]] VsfStatus storeBlocks(Pass& p, Crew& c) {
  Road& road = *c.road;
  const int64_t S = static_cast<int64_t>(road.slots.size());
  // Stored blocks are given up every vsfReleaseRows observations or so: the workers read ahead
  // of the main thread, never behind it.
  const bool release = p.s->releaseData && road.src->release != nullptr;
  const int64_t releaseEvery = std::max<int64_t>(vsfReleaseRows(road.columns) / road.blockRows, 1);
  for (int64_t k = 0; k < road.blockCount; ++k) {
    Slot& slot = road.slots[static_cast<size_t>(k % S)];
    awaitBlock(c, slot, k);
    if (slot.rc != VsfStatus::Ok)
      return slot.rc;
    const int64_t offset = k * road.blockRows;
    const int32_t count =
        static_cast<int32_t>(std::min<int64_t>(road.blockRows, road.span - offset));
    slot.pending.store(int32_t{road.summing} + int32_t{road.copying}, std::memory_order_relaxed);
    if (VsfStatus rc = storeSlotRows(p, road, slot, count); rc != VsfStatus::Ok)
      return rc;
    road.stored.store(k + 1, std::memory_order_release);
    signal(road, road.copying ? 2 : 1); // its sums and its copy
    if (release && (k + 1) % releaseEvery == 0)
      askRelease(road, offset + count);
  }
  return VsfStatus::Ok;
}

// The road on the process's workers and the main thread: the main thread stores the blocks
// while the workers build, sum and copy them; the main thread's run ends once every block is
// stored, the workers' once every piece of their work is done. A worker that never comes
// leaves its run to the main thread, which then finds the work done or does what is left, so
// the road ends whatever number of workers could be had. After a failure the road stops and
// the sums are dropped.
[[nodiscard]] VsfStatus runRoad(Pass& p, Crew& c) {
  const std::thread::id mainThread = std::this_thread::get_id();
  bool stored = false;
  VsfStatus rc = VsfStatus::Ok;
  auto storeHere = [&] {
    stored = true;
    rc = storeBlocks(p, c);
    if (rc != VsfStatus::Ok)
      stopRoad(*c.road);
  };
  zparruns(static_cast<int32_t>(c.states->size()), [&](int32_t) {
    if (std::this_thread::get_id() == mainThread && !stored)
      storeHere();
    else
      workerRun(c);
  });
  if (!stored) { // every run went to a worker: never the case while workers claim one run each
    storeHere();
    workerRun(c);
  }
  if (rc == VsfStatus::Ok) {
    p.t.sumY = c.sums->sumY;
    p.t.sumYY = c.sums->sumYY;
  }
  return rc;
}

// The road is open for a DATA= pass whose per-observation decisions all stay with the main
// thread's counters and the rows: not for ROLEVAR=, CVMETHOD=INDEX folds or the post-fit
// bridge, which read more of the current observation.
[[nodiscard]] bool roadOpen(const Pass& p) {
  const VsfDataSettings* s = p.s;
  const VsfRowSource* src = p.src;
  return !s->roleVar && !s->bridge && !(vsfCvScheme(s->cvMethod).indexFolds && p.layout.hasFold) &&
         src->blockBegin != nullptr && src->blockWorker != nullptr && src->blockRows != nullptr &&
         src->blockEnd != nullptr;
}

// The most bytes a row of the road takes on its page: the layout's fixed doubles and codes,
// and a double and a code for each sparse value it may store (no more than the values a row
// of the sparse road lists, nor than the design's columns).
[[nodiscard]] int64_t rowBytesBound(const Pass& p, const Road& road) {
  const VsfRowLayout& L = p.layout;
  int64_t stored = 0;
  if (L.sparseCount > 0)
    stored = road.sparse ? std::min(road.width, road.columns) : road.columns;
  return 8 * int64_t{L.fixedDoubles()} + 4 * int64_t{L.fixedCodes()} + 12 * stored;
}

// The page reserve of the road when the pass's pages are held in memory and share one size: as
// many buffers as about two blocks' rows fill, and no more in all than the road's rows fill.
[[nodiscard]] bool startReserve(Pass& p, const Road& road, VsfPageReserve* reserve) {
  const VsfBagVec* bags = p.bags;
  if (bags == nullptr || bags->count == 0)
    return false;
  const uint32_t size = bags->files[0].page.pageSize;
  int64_t inMemory = 0; // the pages still to be written that the files hold in memory
  for (uint32_t i = 0; i < bags->count; ++i) {
    if (bags->files[i].page.pageSize != size || bags->files[i].memLimit <= 0)
      return false;
    inMemory += std::max<int64_t>(bags->files[i].memLimit - bags->files[i].memPageCount, 0);
  }
  if (size == 0)
    return false;
  // At least eight buffers ready, or where pages are wide as many as two reserve blocks hold
  // (two at least): such a page holds the rows of many blocks.
  const int64_t least = std::clamp<int64_t>(2 * kVsfReserveBlockBytes / size, 2, 8);
  const int64_t bytes = 2 * static_cast<int64_t>(road.blockRows) * road.width * 8;
  return vsfPageReserveStart(reserve, p.pagePool, size, inMemory, road.span, rowBytesBound(p, road),
                             std::clamp<int64_t>(bytes / size + 1, least, 1024));
}

// Whether the workers may copy the rows onto their pages after the main thread has placed
// them: rows of one size whose pages all stay in memory, since a page held on disk is written
// out when it closes.
[[nodiscard]] bool pagesStayInMemory(const Pass& p, const Road& road) {
  const VsfBagVec* bags = p.bags;
  if (road.reserve == nullptr || p.layout.sparseCount != 0)
    return false;
  const int64_t rowBytes = 8 * p.layout.fixedDoubles() + 4 * p.layout.fixedCodes();
  const int64_t perPage =
      (vsfPageEnd(road.reserve->pageSize) - 16) / std::max<int64_t>(rowBytes, 1);
  if (perPage < 1)
    return false;
  // The pages written, the open one, and those the road's rows can fill at most.
  const int64_t pages = p.writer.pagesWritten + 2 + road.span / perPage;
  for (uint32_t i = 0; i < bags->count; ++i)
    if ((pages - 1) / bags->count >= bags->files[i].memLimit)
      return false;
  return true;
}

} // namespace

namespace vsfread {

VsfStatus vsfReadBlocks(Pass& p) {
  if (!roadOpen(p))
    return VsfStatus::Ok;
  VsfRowSource* src = p.src;
  Road road;
  road.src = src;
  road.columns = std::max(p.s->columnCount, 1);
  // The pass's sparse road takes sparse rows where the source builds them in blocks.
  road.sparse = p.sparseBound > 0 && src->blockSparseRows != nullptr;
  road.width = road.sparse ? p.sparseBound : road.columns;
  // Without threads the main thread builds the blocks itself.
  const bool here = !p.s->threadingOn || p.s->threadCount <= 1;
  const int32_t T = here ? 1 : p.s->threadCount;
  road.span = src->blockBegin(src->self);
  road.blockRows = blockSize(road.width, road.span, T);
  // A group shorter than two blocks is read one by one.
  if (road.span < 2 * static_cast<int64_t>(road.blockRows))
    return VsfStatus::Ok;
  road.blockCount = (road.span + road.blockRows - 1) / road.blockRows;
  // The main thread stores the rows: one worker fewer than the threads keeps it on a core.
  const int32_t workers =
      static_cast<int32_t>(std::min<int64_t>(std::max(T - 1, 1), road.blockCount));
  // Four slots a worker: a block waits for the main thread, the summing stage and its copy
  // in turn, and a short ring leaves the workers waiting whenever one of them is late.
  road.slots = std::vector<Slot>(static_cast<size_t>(here ? 1 : 4 * workers));
  std::vector<void*> states(static_cast<size_t>(workers), nullptr);
  // With workers, buffers for the pages are made ready ahead of the main thread and, where the
  // pages stay in memory, the workers copy the rows onto them.
  VsfPageReserve reserve;
  seam::clearBlocksCopied();
  if (!here && startReserve(p, road, &reserve)) {
    road.reserve = &reserve;
    road.copying = pagesStayInMemory(p, road);
  }
  if (!allocateSlots(p, road))
    return VsfStatus::NoMemory;
  // A state for each worker and one for the main thread, which builds blocks while no worker
  // is in the road.
  if (!here)
    states.push_back(nullptr);
  for (void*& state : states)
    if ((state = src->blockWorker(src->self, p.bags->pool, road.blockRows)) == nullptr)
      return VsfStatus::NoMemory;
  if (here) {
    const VsfStatus rc = readBlocksHere(p, road, states[0]);
    if (rc == VsfStatus::InternalError)
      xebug("vsfData: a block of observations lies outside its BY group");
    src->blockEnd(src->self, road.span);
    return rc;
  }
  // The workers copy rows after the layout in a copy of the pass of their own: the main thread
  // writes the pass's page writer and counters at every row.
  const Pass view = p;
  Sums sums(p);
  Crew crew{&view, &road, &sums, &states};
  road.summing = true;
  p.writer.reserve = road.reserve;
  const VsfStatus rc = runRoad(p, crew);
  p.writer.reserve = nullptr;
  if (road.reserve != nullptr)
    vsfPageReserveRelease(&reserve);
  if (rc == VsfStatus::InternalError)
    xebug("vsfData: a block of observations lies outside its BY group");
  // The observations taken, whatever became of them, are behind the source.
  src->blockEnd(src->self, road.span);
  return rc;
}

} // namespace vsfread
