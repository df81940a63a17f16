// Entering and removing effects by sweeping the model's packed X'X (and every fold's), the
// sweep of one column with its singularity tolerance, the extension of the swept matrix
// by appended rows, the physical removal of an effect's columns, the stored cross products
// and the trigger of the PRESS pass.
#pragma once

#include <cstdint>
#include <limits>

#include "data/vsfutilfile.h"

struct VsfModel;

// One data pass of a kernel pair through the threading frame; a failure is reported
// (VsfMsg::PassOverDataPages) and its code returned, so that no caller goes on with partial sums.
[[nodiscard]] int32_t vsfRunPass(VsfModel* model, VsfSerialKernel serial,
                                 VsfThreadedKernel threaded, int64_t length);

// The report of a data pass that returned `rc` (not 0), as vsfRunPass makes it; returns the
// code the fit ends with.
[[nodiscard]] int32_t vsfReportPassFailure(VsfModel* model, int32_t rc);

// Effects with at least this many columns enter by the blocked sweep (qkzsweepBlock).
constexpr int32_t kVsfBlockSweepColumns = 64;
// The threads of in-memory sweeps: the run's thread count, also where memory kept the data
// passes to fewer.
[[nodiscard]] int32_t vsfSweepThreads(const VsfModel* model);

// Copies the first `columns` rows of triangle `from` into `to`, in runs of rows over the
// sweep threads: writing a fresh block of hundreds of megabytes is mostly the faults that
// bring its pages in, and those go in parallel.
void vsfCopyTriangle(const VsfModel* model, double* to, const double* from, int64_t columns);

// The sweep tolerance floor of a nearly zero swept diagonal (bits 0x20000000002302AC).
double vsfTinyPivot();

// The pivot tolerance of a column whose unswept diagonal (its corrected sum of squares) is
// `diagonal`: a column is swept only while its swept diagonal exceeds 1e-8 of it (1e-8 when
// the diagonal is not positive), so that a column nearly collinear with the model stays out.
inline double vsfSweepTolerance(double diagonal) { return diagonal > 0 ? 1e-8 * diagonal : 1e-8; }

// The tolerance of sweeping column k of `swept` (order n, flags `flags`) into the model:
// vsfSweepTolerance of its unswept diagonal in `xpx`, raised to kVsfPivotNoise g^2 where
// g is the sum over the swept columns i of |xpx(k, i)| sqrt(|swept diagonal i|). Its pivot
// is what elimination left of its diagonal, and the rounding of that elimination can leave
// an error of about DBL_EPSILON g^2: with columns of very different scales or nearly
// dependent swept columns (a high-degree spline's basis) it exceeds the 1e-8 test, and a
// pivot of rounding noise would give estimates whose fit is not the one reported. Such a
// column counts as dependent on the swept ones. `diagonal`, when given, holds the current
// diagonal of every index in place of swept's.
// `extraSum` is added to g before it is squared: the part of the sum over swept columns that
// the triangle does not hold (the structured road's many-level effect).
double vsfPivotTolerance(const double* xpx, const double* swept, const char* flags, int64_t n,
                         int64_t k, const double* diagonal = nullptr, double extraSum = 0.0);
// vsfPivotTolerance of candidate column k of the model's full X'X, the sum taken over the
// columns of the effects in the model only.
double vsfCandidateTolerance(const VsfModel* model, int64_t k);
// Pivots within this factor of their rounding bound are refused (about 2.2e-11: a pivot
// keeps five digits beyond its possible error).
constexpr double kVsfPivotNoise = 1e5 * std::numeric_limits<double>::epsilon();

[[nodiscard]] int32_t vsfAddEffect(VsfModel* model, int32_t effect, uint8_t resweepAll,
                                   uint8_t trial);
void vsfDropEffect(VsfModel* model, int32_t effect, uint8_t mode);
void vsfSweep(VsfModel* model, int32_t column);
void vsfCVSweep(VsfModel* model, int32_t column, char state);
void vsfUpdateXpXi(VsfModel* model);
void vsfPhysicalDelete(VsfModel* model, int32_t position);
[[nodiscard]] int32_t vsfInitCross(VsfModel* model);
[[nodiscard]] int32_t vsfAddCross(VsfModel* model, int32_t effect);
[[nodiscard]] int32_t vsfComputePress(VsfModel* model);
// One elimination step of the partial sweep on the model's swept matrix (trial adds that
// only need the SSE); 1 when done, 0 when the pivot fails the tolerance.
[[nodiscard]] int32_t vsfSweepPartial(VsfModel* model, int32_t column);
