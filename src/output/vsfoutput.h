// The OUTPUT data set: column definitions once per run, rows once per BY group, the
// selected model's design row, and the statistics of resample predictions.
#pragma once

#include "support/stepcodes.h"

#include "data/vsfrolefold.h"

#include "support/stepcodes.h"

#include <cstdint>

struct VsfContext;
struct VsfModel;
struct LevRegContext;
struct HostDataSet;
struct HostVariable;
struct VsfOutputSpec;
enum class VsfOutputStatIndex : uint8_t;

// Column numbers of the OUTPUT data set for the run (0 for a column not written), made once
// by vsfPrep and read by the rows of every BY group. The arrays are in the run's main pool.
struct VsfOutputColumns {
  int32_t inputCount;    // variables of DATA=, written first
  int32_t* input;        // output variable number of each input variable
  uint8_t* inputNumeric; // 1 for a numeric input variable
  int32_t role, cvIndex, pred, resid, by;
  int32_t median, stddev, lower, upper; // model averaging's spread of the predictions
  int32_t *sampleFreq, *samplePred;     // R columns each, or null
};

// Defines the columns of the OUTPUT data set (the SCORE data sets define theirs in
// vsfPrepScores). Ok, NoMemory, or a status that ends the run after a reported failure (a
// column refused, an input variable not described).
[[nodiscard]] VsfStatus vsfPrep(VsfContext* ctx);

// The design row of the current observation for the selected effects only; other columns
// are 0. `row` has the design's column count.
void vsfModelRgx(const VsfContext* ctx, const VsfModel* model, LevRegContext* context, double* row);

// Statistics of the predictions of the averaged resamples (n = averagedCount of R).
// `work` (or null) receives the packed predictions; the statistics use it when given.
struct VsfPredictStats {
  double mean, stddev, lower, upper, median;
};
VsfPredictStats vsfResamplePredict(double alpha, bool quantiles, int32_t resamples,
                                   int32_t averaged, double* predictions, double* work);

// Writes the OUTPUT data set with the rows made so far, once; later calls do nothing.
void vsfFinishOutput(VsfContext* ctx);

// True when the output data sets carry a _ROLE_ column (a PARTITION statement that gives
// roles).
[[nodiscard]] bool vsfRolesWritten(const VsfContext* ctx);
// The role (1 TRAIN, 2 VALIDATE, 3 TEST, 0 none) of the current observation of `in` by its
// ROLEVAR= value, matched as the reading pass matches it.
[[nodiscard]] int32_t vsfRoleVarCode(VsfContext* ctx, HostDataSet* in);

// How the output data sets draw the roles and folds of their rows: as the reading pass did.
[[nodiscard]] VsfRoleFoldRule vsfOutputRoleFoldRule(const VsfContext* ctx);
// Defines the column of per-response statistic `index` of `spec`: its given name, else its
// row's prefix and the response's name (at most 30 characters of it). The variable number,
// or negative when refused.
[[nodiscard]] int32_t vsfDefineStat(HostDataSet* out, const VsfOutputSpec& spec,
                                    VsfOutputStatIndex index, const HostVariable* response);
