// The resample-frequency kernel of model averaging: draws one sample's frequency for every
// TRAIN row of a page (bootstrap by sequential conditional binomials, subsampling by
// selection sampling), writes it into the row's resample-frequency slot and keeps the page's
// block for the OUTPUT data set. The resamplers that own the streams are vsfresample.h's.
#pragma once

#include "support/qkpgf.h"
#include "support/stepcodes.h"

#include <cstdint>

struct VsfPassState;

// What a resampler draws: the sampling fraction (0: the fixed size, or N when that is 0
// too), the fixed sample size, without replacement, whether the blocks are kept, and the
// refit switches (with REFIT only the refit's blocks are kept).
struct VsfResampleSettings {
  double fraction;
  double size;
  uint8_t subsample;
  uint8_t keepFreqs;
  uint8_t refit;
  uint8_t refitInProgress;
};

// The sample size m drawn from N TRAIN copies.
double vsfSampleSize(const VsfResampleSettings* settings, double N);

// Serial form; the threaded form has the same body and is never handed to a page worker
// (the draws depend on the running totals of the one stream).
[[nodiscard]] VsfStatus vsfResampleFreqs(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfResampleFreqs_t(VsfPassState* model, QkPageDescriptor* page,
                                           double* buffer, int64_t length);
