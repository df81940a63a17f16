// Step-record serialisation: the model after a step, the selected model of one sample and
// the selected effects of one BY group, written to and read back from scratch files as
// flat blocks at a running position that the caller owns.
//
// VsfModelRecord: [sample tag i32, resampler only] fitStatus i32, 29 f64 statistics, 13
// i32 counts; when fitStatus >= 0: inModelList, parmOffset, aliasDropList, step history,
// the optional PRESS/validation/test/std-L1/CV/held-out series and fold blocks,
// effectStatus, beta, betaVariance, stdBeta, candidateValue, the chosen-step snapshot, the
// 32-byte stop block and, for GROUPLASSO, the change list.
#pragma once

#include "support/stepcodes.h"

#include <cstdint>

struct VsfModel;
struct QkByteFile;

// What a failed record write met: the size of the block that could not be written and the
// system's error number (0 when the scratch-file service gave none).
struct VsfRecordFailure {
  int64_t bytes = 0;
  int err = 0;
};

[[nodiscard]] VsfStatus vsfSerializeModel(VsfModel* model, VsfRecordFailure* failure = nullptr);
[[nodiscard]] VsfStatus vsfRestoreModel(VsfModel* model);
// Moves the model's read position in a resampler's file past the step records of `sample`
// and the tag of its final record, so that vsfRestoreModel reads that final record next.
// NotRestored when a record of another sample comes first or the file cannot be read.
[[nodiscard]] VsfStatus vsfSeekFinalRecord(VsfModel* model, int32_t sample);
// Reads the tag before the next record of a resampler's file: *stepOfSample is true when the
// record is a step record of `sample` (the tag is passed), false when it is not (the position
// stays before the tag); NotRestored when the file cannot be read.
[[nodiscard]] VsfStatus vsfNextSampleStep(VsfModel* model, int32_t sample, bool* stepOfSample);
[[nodiscard]] VsfStatus vsfSerializeResample(VsfModel* model, QkByteFile* file, int64_t* position);
[[nodiscard]] VsfStatus vsfRestoreResample(QkByteFile* file, int32_t parmCount, int64_t* position,
                                           int32_t* status, int32_t* count, int32_t* effects,
                                           double* estimates);
