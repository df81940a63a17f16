// Threaded AVL trees: inserting n random integer keys and walking them in order. Set-up
// (records and keys) is untimed; the walk's count and order are checked after each run.
#include "support/zavl.h"

#include <benchmark/benchmark.h>

#include <cstddef>
#include <random>
#include <vector>

namespace {

struct Rec {
  ZavlNode links;
  int32_t key;
};

void BM_ZavlInsertWalk(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  std::mt19937 rng(42);
  std::vector<Rec> recs(n);
  for (size_t i = 0; i < n; ++i)
    recs[i].key = static_cast<int32_t>(rng());
  for (auto _ : state) {
    void* root = nullptr;
    size_t inserted = 0;
    for (Rec& r : recs)
      inserted += zavl_add_int(&root, &r, offsetof(Rec, key)) == &r;
    size_t walked = 0;
    int32_t prev = INT32_MIN;
    bool ordered = true;
    for (void* p = zavl_first_node(&root); p; p = zavl_next_node(p), ++walked) {
      int32_t k = static_cast<Rec*>(p)->key;
      ordered = ordered && (walked == 0 || k > prev);
      prev = k;
    }
    if (walked != inserted || !ordered)
      state.SkipWithError("walk does not match the inserted keys");
    benchmark::DoNotOptimize(root);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n));
}

} // namespace

BENCHMARK(BM_ZavlInsertWalk)->Arg(1000)->Arg(100000);
