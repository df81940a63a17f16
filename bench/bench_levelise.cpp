// Levelisation of 10,000,000 rows with 5 CLASS variables of 10, 100, 1,000, 5,000 and 10,000
// levels (three numeric, two character), on the main thread against 8 workers. Values come
// from a counter-based hash of the row (no stored data); the serial pass gets them
// formatted as the host's formatted read gives them, the workers get them raw and format
// them. Each run's level counts and frequency totals are checked against the serial pass.
// Run: build/release/bench/bench_levelise (not part of the test run).
#include "design/levlevel.h"
#include "design/levreg.h"
#include "design/levthread.h"
#include "host/data/readvec.h"
#include "host/hostcore.h"
#include "support/hoststubs.h"
#include "support/ztree.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int32_t kVars = 5;
constexpr int32_t kLevels[kVars] = {10, 100, 1000, 5000, 10000};
constexpr bool kNumeric[kVars] = {true, false, true, false, true};

uint64_t mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// The data source: rows 0 .. n-1, read through the levelisation context's callbacks.
struct Source {
  int64_t n = 0;
  int64_t at = -1;
  HostVariable vars[kVars]{};
};
Source gSource;

int64_t levelOf(int64_t row, int32_t v) {
  return static_cast<int64_t>(mix(static_cast<uint64_t>(row * kVars + v)) %
                              static_cast<uint64_t>(kLevels[v]));
}

int32_t init(LevelizeContext*, LevDesign*) {
  gSource.at = -1;
  return 1;
}
int32_t next(LevelizeContext*, LevDesign*) { return ++gSource.at < gSource.n ? 1 : 0; }
int32_t vals(LevelizeContext* c, LevDesign* d) {
  int32_t kn = 0, kc = 0;
  for (int32_t v = 0; v < kVars; ++v) {
    const int64_t level = levelOf(gSource.at, v);
    if (kNumeric[v]) {
      const double x = 0.5 * static_cast<double>(level);
      c->numericInternal[kn++] = x;
      if (c->serial)
        std::memcpy(c->formatted[v], qrxhost::formattedNumber(x, 12).data(), 12);
    } else {
      LevCharValue& cv = c->charInternal[kc++];
      char text[16];
      std::snprintf(text, sizeof text, "C%07lld", static_cast<long long>(level));
      std::memcpy(cv.buffer, text, static_cast<size_t>(cv.length));
      if (c->serial)
        std::memcpy(c->formatted[v], qrxhost::formattedText(text, 8, 8).data(), 8);
    }
  }
  (void)d;
  return 1;
}

template <typename Fn> HostRoutine routine(Fn fn) { return reinterpret_cast<HostRoutine>(fn); }

struct Result {
  std::vector<int32_t> levels;
  std::vector<int64_t> frequency;
};

Result levelise(int64_t rows, int32_t workers) {
  static bool once = false;
  if (!once) {
    HostControlBlock* cb = qrxhost::hostControlBlock();
    v_global_gcb_anchor = cb;
    Exported_QKHandle = cb->qkHandle;
    once = true;
  }
  gSource.n = rows;
  std::vector<LevVariable> classes(kVars);
  for (int32_t v = 0; v < kVars; ++v) {
    HostVariable& h = gSource.vars[v];
    h.name = "v";
    h.nameLength = 1;
    h.type = kNumeric[v] ? 1 : 2;
    h.length = kNumeric[v] ? 8 : 8;
    h.number = v + 1;
    classes[static_cast<size_t>(v)].var = &h;
    classes[static_cast<size_t>(v)].levelWidth = kNumeric[v] ? 12 : 8;
    classes[static_cast<size_t>(v)].order = 'M';
  }
  LevDesign design{};
  design.classCount = kVars;
  design.classes = classes.data();
  design.designFlags.set(LevDesignFlag::NonGlm); // levels only: no effect-level pass follows
  LevRegContext ctx{};
  ctx.design = &design;
  ctx.threadsAllowed = workers > 0;
  ctx.workerCount = workers;
  LevelizeContext* l = zlevini(nullptr, &design);
  l->source = &gSource;
  l->getInit = routine(init);
  l->getNext = routine(next);
  l->getVals = routine(vals);
  if (workers > 0 && zlevrinit(&ctx, l) != 1)
    throw std::runtime_error("the workers could not be set up");
  zlevadd(nullptr, l, &design);
  Result r;
  for (int32_t v = 0; v < kVars; ++v) {
    r.levels.push_back(l->levelCounts[v]);
    int64_t total = 0;
    for (void* node = ztreord(l->trees[v]); node != nullptr; node = ztreord(l->trees[v]))
      total += static_cast<LevelNode*>(node)->frequency;
    r.frequency.push_back(total);
  }
  xmpoold(l->pool);
  CleanupEThreads(&ctx);
  return r;
}

void BM_Levelise(benchmark::State& state) {
  const int64_t rows = state.range(0);
  const auto workers = static_cast<int32_t>(state.range(1));
  static Result serial;
  static int64_t serialRows = -1;
  if (serialRows != rows) {
    serial = levelise(rows, 0); // untimed reference
    serialRows = rows;
  }
  for (auto _ : state) {
    Result r = levelise(rows, workers);
    if (r.levels != serial.levels || r.frequency != serial.frequency)
      throw std::runtime_error("the levels differ from the serial pass");
  }
  for (int32_t v = 0; v < kVars; ++v)
    if (serial.levels[static_cast<size_t>(v)] != kLevels[v])
      throw std::runtime_error("a variable did not show all its levels");
  state.counters["workers"] = workers;
  state.SetItemsProcessed(state.iterations() * rows);
}

BENCHMARK(BM_Levelise)
    ->Args({10000000, 0})
    ->Args({10000000, 8})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

} // namespace
