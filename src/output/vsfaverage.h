// The model-averaging summary of a BY group: the resample records read back, how often each
// effect and each distinct model was selected, which resamples take part in the average,
// and per parameter the averaged estimates (mean, standard deviation, median, quantiles)
// over all averaged resamples and over the non-zero estimates alone. The tables that show
// it are vsfavgtables.cpp's.
#pragma once

#include "support/stepcodes.h"

#include <cstdint>

struct VsfContext;

// One distinct selected model.
struct VsfModelNode {
  int32_t effectCount;
  const int32_t* effects; // ascending
  int32_t timesSelected;
  int32_t firstSample; // 1 + the resamples of the better models
  uint8_t usedInAverage;
  double meanSelectFraction;
};

// The model of one resample in sparse form: its non-zero estimates and their parameters.
struct VsfSampleModel {
  int32_t termCount;
  const int32_t* parms;
  const double* values;
};

struct VsfAverageSummary {
  int32_t sampleCount;
  int32_t usableCount;
  int32_t averagedCount;
  int32_t modelCount;
  int32_t averagedParmCount;
  int32_t* effectSelectCount;
  int32_t* obsFrequency; // observation k of resample s at k x sampleCount + s, or null
  int32_t obsCount;
  int32_t* modelOrder; // best model first
  int32_t* nonzeroCount;
  uint8_t* sampleUsed;
  double *meanEstimate, *medianEstimate, *lowerEstimate, *upperEstimate, *stdDevEstimate;
  double *nonzeroMean, *nonzeroMedian, *nonzeroLower, *nonzeroUpper, *nonzeroStdDev;
  VsfModelNode* models;         // ascending key order
  VsfSampleModel* sampleModels; // one per resample, empty for an unusable one
};

// Element `index` of the sorted array made of the `negatives` negative values, then
// `zeros` zeros, then the remaining values of `values`.
double vsfIdxVal(const double* values, int64_t index, int64_t negatives, int64_t zeros);
// The quantile of a sorted array of length n at x (the mean of the two order statistics
// around an integer x); the index is kept inside the array.
template <class At> double vsfQuantileAt(At at, int64_t n, double x);

// Reads the resample records of the BY group into ctx->average. Ok (also for a group that no
// resample could serve, which is skipped with a message), NoMemory, or a scratch read failure.
[[nodiscard]] VsfStatus vsfPostBootstrap(VsfContext* ctx);

template <class At> double vsfQuantileAt(At at, int64_t n, double x) {
  constexpr double kFuzz = 1.110223024625157e-13;
  const auto clamp = [n](int64_t i) { return i < 0 ? 0 : (i >= n ? n - 1 : i); };
  const double fl = x + kFuzz;
  const int64_t r = static_cast<int64_t>(fl < 0 ? 0 : fl);
  const double gap = x - static_cast<double>(r);
  if (gap > kFuzz || gap < -kFuzz)
    return at(clamp(r));
  return (at(clamp(r)) + at(clamp(r - 1))) / 2.0;
}
