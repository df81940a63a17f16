// What each kernel pair of the data passes asks of the threading frame: the length of a
// worker's buffer, the store of the workers' summed buffers where the serial form puts its
// sums, and what the serial form does to the pages. The kernel units register their pairs
// with these.
#pragma once

#include "data/vsfthread.h"

// Cross products: X'X (whole, after centring and scaling, or about the shift with the
// sums of squares first), the effects' diagonal blocks, a new effect's rows, the response's
// and the effects' cross columns.
extern const VsfKernelUse kVsfFullXpXUse;
extern const VsfKernelUse kVsfCenterScaleXpXUse;
extern const VsfKernelUse kVsfShiftSquaresXpXUse;
extern const VsfKernelUse kVsfEffectXpXUse;
extern const VsfKernelUse kVsfEffXpXUse;
extern const VsfKernelUse kVsfYCrossUse;
extern const VsfKernelUse kVsfEffCrossUse;
// Moments and the sums of squares.
extern const VsfKernelUse kVsfMomentsUse;
extern const VsfKernelUse kVsfSpreadsUse;
extern const VsfKernelUse kVsfYpwYUse;
extern const VsfKernelUse kVsfResponseSquaresUse;
extern const VsfKernelUse kVsfShiftRowsSquaresUse;
// The page transforms: no buffer, the pages rewritten.
extern const VsfKernelUse kVsfPageTransformUse;
// Centring and scaling and the adaptive weights, which also serve split levels stored sparse.
extern const VsfKernelUse kVsfSplitSparseTransformUse;
// The resampling frequencies: the pages rewritten, always serially.
extern const VsfKernelUse kVsfResampleUse;
// Cross validation's counts, response sums and residuals by fold; the external folds' sums.
extern const VsfKernelUse kVsfCVNobsUse;
extern const VsfKernelUse kVsfCVYpYUse;
extern const VsfKernelUse kVsfCVResidsUse;
extern const VsfKernelUse kVsfCVFoldMeansUse;
extern const VsfKernelUse kVsfShiftSquaresFoldMeansUse;
extern const VsfKernelUse kVsfRewriteFoldMeansUse;
extern const VsfKernelUse kVsfCVExFoldXpXUse;
// Residual sums: PRESS, the validation and test errors.
extern const VsfKernelUse kVsfPressUse;
extern const VsfKernelUse kVsfResidsUse;
// The solver's loss, gradient and held-out errors.
extern const VsfKernelUse kVsfFunValueUse;
extern const VsfKernelUse kVsfGradientUse;
extern const VsfKernelUse kVsfValidateTestUse;
// The least-angle path: correlations, the equiangular direction's, the errors of a step and
// of the steps ahead, and the screening rules' sums.
extern const VsfKernelUse kVsfCorrUse;
extern const VsfKernelUse kVsfLarCorrUse;
extern const VsfKernelUse kVsfLarAvecUse;
extern const VsfKernelUse kVsfLarRssUse;
extern const VsfKernelUse kVsfLarRssAheadUse;
extern const VsfKernelUse kVsfLarSasviUse;
extern const VsfKernelUse kVsfLarSasviCorrOutUse;
extern const VsfKernelUse kVsfLarSasviAvecOutUse;
