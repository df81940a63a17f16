// The test switches read from macro variables: the thread switch, which forces the threaded
// levelisation on or off, and the road switches, each of which keeps one pass off its fast
// road, so that the tests reach both roads of a pass and compare them.
#pragma once

#include <cstdint>

// The truth of the macro variable _TESTTHREAD, or of _TESTTHREAD<suffix> when it is set
// and _TESTTHREAD is not 1: 1 or 0, or -1 when neither is set to a number.
[[nodiscard]] int32_t ztestthread(const char* suffix, int32_t suffixLength);

// The passes with a fast road and a plain one. Each has its own macro variable, apart from
// _TESTTHREAD: turning the threads off leaves every road as it is.
enum class FastRoad : int32_t {
  BlockReading, // _TESTROADREAD: DATA= read in blocks on the page workers
  LarLookAhead, // _TESTROADAHEAD: least-angle residual sums from the cross-product matrix
  CvexSums,     // _TESTROADCVEXSUMS: external cross validation from the folds' cross products
  CvSums,       // _TESTROADCVSUMS: a fold's held-out error from the cross products of the fit
};

// Whether the pass takes its fast road: false only when the road's macro variable holds 0.
[[nodiscard]] bool fastRoadOn(FastRoad road);
