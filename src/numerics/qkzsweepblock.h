// The sweep of a run of consecutive pivots of a packed symmetric matrix by panels: the
// pivots of a panel are swept one after the other on a strip of their columns, and the rest
// of the matrix receives the panel's updates in one pass, on several threads. The result is
// that of qkzsweep (or of partial elimination) pivot after pivot, to rounding.
#pragma once

#include <cstdint>

// The tolerance of pivot k whose current diagonal is `current`, in qkzsweep's convention:
// with tol >= 0 a pivot <= tol is refused, with tol < 0 a pivot with |p| <= -tol.
// `column` holds the current values of the pivot's column at all n indices, as the calls of
// qkzsweep (or the partial elimination) before it would have left them, up to sign.
using QkzPivotTolerance = double (*)(void* context, int32_t k, double current,
                                     const double* column);

// Sweeps pivots k0 .. k0 + m - 1 of the packed matrix a of order n in order, as m calls of
// qkzsweep would (flags toggled for the pivots swept; refused pivots, NaN ones included,
// leave their row and column as they are). With partial set, flags is not used and each
// pivot is only eliminated from the rows and columns after it and from row 0 (the trial
// SSE of a candidate block), as vsfPartialSweep does. Returns the number of pivots taken.
int32_t qkzsweepBlock(double* a, int32_t n, int32_t k0, int32_t m, char* flags, bool partial,
                      QkzPivotTolerance tolerance, void* context, int32_t threads);
