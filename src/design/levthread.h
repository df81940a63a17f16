// The threaded twins of the levelisation pass and of the GLM effect-level pass, used when the
// _testthread switch allows workers: the main thread reads every observation and packs
// buffers (raw CLASS values, or level indices); workers format, count and collect keys in
// trees of their own; after the pass the workers' trees are merged in worker order so that
// the result equals the serial pass. A failed worker is reported (a message that workers
// stopped and one for the failure, return code StepRc::Error) and the pass is done again serially.
//
//   Buffered row of the level pass   meaning
//   observation number (int64)       1, 2, 3 ... in reading order
//   frequency (double)               only with a FREQ variable
//   per CLASS variable, 8-aligned    the unformatted value: a double or the characters
#pragma once

#include "design/levlevel.h"
#include "design/levreg.h"

#include <cstdint>

// Sets up the workers of the level pass: 1 when they run (the context's thread data is set),
// 0 when the pass stays serial.
[[nodiscard]] int32_t zlevrinit(LevRegContext* context, LevelizeContext* levels);
// The level pass on the workers; VsfStatus::ReportedFailure when a worker failed (reported,
// workers stopped) and the caller redoes the pass serially.
[[nodiscard]] VsfStatus zlevThreadedPass(LevelizeContext* levels, LevDesign* design);
// Readies the workers for the effect-level pass: 1 ready, 0 the pass runs serially.
[[nodiscard]] int32_t ThreadInit(LevRegContext* context);
// The effect-level pass on the workers: every counted observation's level combination of
// every CLASS effect ends in that effect's tree (`roots`, keys of 4c bytes at byte 24 from
// `temp`, compared by Compare), and the combination counts grow by the keys inserted.
// VsfStatus::ReportedFailure when a worker failed: the counts and trees are as before and the
// caller redoes the pass.
[[nodiscard]] VsfStatus zlevThreadedEffects(LevRegContext* context, void** roots, QkPool* temp,
                                            double* response, double* weight, double* frequency);
// Stops whatever workers are left and frees their structures; nothing without thread data.
void CleanupEThreads(LevRegContext* context);
