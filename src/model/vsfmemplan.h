// The memory plan of a fit: what the cross products of the road about to be taken hold (the
// packed triangles with their working, trial and fold copies, the effects' own blocks and the
// structured road's arrays), against the memory the step may use once its pages are held.
#pragma once

#include "support/stepcodes.h"

#include <cstdint>

struct VsfModel;
struct VsfModelOptions;

// Bytes the fit holds when its triangles have `columns` columns.
[[nodiscard]] double vsfCrossProductBytes(const VsfModel* m, int32_t columns);
// The bytes the step may still use for its fit: the memory figure the read preparation
// planned with (or the host's, when it did not run) less the pages held in memory and the
// buffers of the page threads.
[[nodiscard]] double vsfFitMemoryLeft(const VsfModel* m);
// Ok when triangles of `columns` columns and `extraBytes` more (a block a trial is about to
// make) fit; else ReportedFailure after an error that names the widest effect, its
// columns, the memory needed and what needs less.
[[nodiscard]] VsfStatus vsfPlanCrossProducts(const VsfModel* m, int32_t columns,
                                             double extraBytes = 0.0);
// The cells of the dense trial block of the entry trials: the packed triangle of the widest
// effect's columns and the response.
[[nodiscard]] int64_t vsfTrialBlockLength(const VsfModel* m);
// Whether the packed triangle of every column (no structured state), with the trial block
// where the method's entry trials may make it, fits the memory the fit may use, on the page
// threads or, as vsfPlanCrossProducts would then have it, on one; no message and no change
// of the settings.
[[nodiscard]] bool vsfPackedTriangleFits(const VsfModel* m);
// Whether a fit of these options makes the dense trial block of its multi-column candidates
// (forward and stepwise entry trials on the full X'X by a criterion that needs no data pass;
// `multiColumn`: some effect has several columns).
[[nodiscard]] bool vsfTrialBlockKept(const VsfModelOptions& options, bool full, bool multiColumn);
// Whether it sweeps three working copies of its triangles (and of every fold's) for its
// trials, beside the matrix and its swept form: the one rule of the fit's set-up and of the
// read preparation's estimate (VsfDataSettings::trialCopies). `structured`: the fit takes the
// many-level road.
[[nodiscard]] bool vsfTrialCopiesKept(const VsfModelOptions& options, bool full, bool multiColumn,
                                      bool structured);
