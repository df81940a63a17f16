// The resamplers of model averaging and the resampling driver: each resampler owns a
// random stream, a pool, a resample file (frequency blocks and one resample record per
// sample) and a step-record file, and fits its share of the samples one after another on
// the main thread; each sample's data passes may use the page workers. The draw of a
// sample's frequencies is vsfresfreq.h's kernel; the summaries are the output layer's.
#pragma once

#include "kernels/vsfresfreq.h"
#include "model/vsfmodel.h"

#include "support/stepcodes.h"

#include <cstdint>

struct QkExtensionSet;
struct RandomStream;
struct VsfModelAverageSettings;

// The resampling record of a run (made once by the post-parse initialisation).
struct VsfResampling {
  VsfResampleSettings settings;
  VsfResampler* resamplers; // `count` records, zero-filled, in the run's pool
  RandomStream* streams;    // one per resampler, seeded once for the run
  int32_t count;
  int32_t base, remainder;           // samples per resampler of the fit
  int32_t refitBase, refitRemainder; // and of the refit of the averaged model
  int32_t successCount;              // samples whose fit ended with status 0
  uint8_t modelRecords;              // each sample's final model record is written too
  QkExtensionSet* exts;
  // While the averaged model is refitted: one byte per effect, non-zero for the effects the
  // refit may enter; the others are made unavailable in every sample's fit. Null otherwise.
  const uint8_t* refitEffects;
};

// Makes the resampling record from the MODELAVERAGE settings, each stream seeded with
// `seed` plus the resampler's index (0 when no seed is set: a clock seed). Ok or NoMemory.
[[nodiscard]] VsfStatus vsfResamplingSetUp(VsfResampling** out, QkPool* pool,
                                           const VsfModelAverageSettings& ma, QkExtensionSet* exts);
// Pools, files and frequency buffers of the resamplers for a BY group (the refit's share
// when `refit`). Ok; NoPoolOrHandle, ScratchNotMade or NoMemory.
[[nodiscard]] VsfStatus vsfResamplersInit(VsfResampling* resampling, int64_t rowsPerPage,
                                          bool refit);
// Runs every resampler's samples; Ok or the first failure.
[[nodiscard]] VsfStatus vsfDriveResample(VsfResampling* resampling, VsfModel* model);
// One resampler's samples. Ok; NoMemory (no record table); SampleNotWritten or
// PageNotWritten (a record not written); or the failure of a fit.
[[nodiscard]] VsfStatus vsfProcessResample(VsfResampling* resampling, VsfModel* model,
                                           VsfResampler* r);
// Frees every resampler's pool and scratch files; safe when none was started.
void vsfResamplersCleanup(VsfResampling* resampling);
