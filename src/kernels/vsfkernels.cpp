// The table of kernel pairs handed to the threading frame, registered once per process.
#include "kernels/vsfkernels.h"

#include "data/vsfthread.h"
#include "kernels/vsfcvkernels.h"
#include "kernels/vsfkernelsums.h"
#include "kernels/vsfmoments.h"
#include "kernels/vsfresid.h"
#include "kernels/vsftransform.h"
#include "kernels/vsfxpx.h"

#include <mutex>

void vsfRegisterKernels() {
  static std::once_flag once;
  std::call_once(once, [] {
    vsfRegisterKernelPair(vsfFullXpX, vsfFullXpX_t, kVsfFullXpXUse);
    vsfRegisterKernelPair(vsfCenterScaleXpX, vsfCenterScaleXpX_t, kVsfCenterScaleXpXUse);
    vsfRegisterKernelPair(vsfShiftSquaresXpX, vsfShiftSquaresXpX_t, kVsfShiftSquaresXpXUse);
    vsfRegisterKernelPair(vsfEffectXpX, vsfEffectXpX_t, kVsfEffectXpXUse);
    vsfRegisterKernelPair(vsfEffXpX, vsfEffXpX_t, kVsfEffXpXUse);
    vsfRegisterKernelPair(vsfYCross, vsfYCross_t, kVsfYCrossUse);
    vsfRegisterKernelPair(vsfEffCross, vsfEffCross_t, kVsfEffCrossUse);
    vsfRegisterKernelPair(vsfMoments, vsfMoments_t, kVsfMomentsUse);
    vsfRegisterKernelPair(vsfYpwY, vsfYpwY_t, kVsfYpwYUse);
    vsfRegisterKernelPair(vsfResponseSquares, vsfResponseSquares_t, kVsfResponseSquaresUse);
    vsfRegisterKernelPair(vsfSpreads, vsfSpreads_t, kVsfSpreadsUse);
    vsfRegisterKernelPair(vsfPress, vsfPress_t, kVsfPressUse);
    vsfRegisterKernelPair(vsfResids, vsfResids_t, kVsfResidsUse);
    vsfRegisterKernelPair(vsfShiftRowsSquares, vsfShiftRowsSquares_t, kVsfShiftRowsSquaresUse);
    vsfRegisterKernelPair(vsfCenterScale, vsfCenterScale_t, kVsfSplitSparseTransformUse);
    vsfRegisterKernelPair(vsfUndoCenterScale, vsfUndoCenterScale_t, kVsfSplitSparseTransformUse);
    vsfRegisterKernelPair(vsfCenterScaleEffect, vsfCenterScaleEffect_t, kVsfPageTransformUse);
    vsfRegisterKernelPair(vsfUndoCenterScaleEffect, vsfUndoCenterScaleEffect_t,
                          kVsfPageTransformUse);
    vsfRegisterKernelPair(vsfApplyAdaptiveWeights, vsfApplyAdaptiveWeights_t,
                          kVsfSplitSparseTransformUse);
    vsfRegisterKernelPair(vsfUndoAdaptiveWeights, vsfUndoAdaptiveWeights_t,
                          kVsfSplitSparseTransformUse);
    vsfRegisterKernelPair(vsfCVNobs, vsfCVNobs_t, kVsfCVNobsUse);
    vsfRegisterKernelPair(vsfCVYpY, vsfCVYpY_t, kVsfCVYpYUse);
    vsfRegisterKernelPair(vsfCVFoldMeans, vsfCVFoldMeans_t, kVsfCVFoldMeansUse);
    vsfRegisterKernelPair(vsfShiftSquaresFoldMeans, vsfShiftSquaresFoldMeans_t,
                          kVsfShiftSquaresFoldMeansUse);
    vsfRegisterKernelPair(vsfCenterScaleFoldMeans, vsfCenterScaleFoldMeans_t,
                          kVsfRewriteFoldMeansUse);
    vsfRegisterKernelPair(vsfAdaptiveWeightsFoldMeans, vsfAdaptiveWeightsFoldMeans_t,
                          kVsfRewriteFoldMeansUse);
    vsfRegisterKernelPair(vsfCVResids, vsfCVResids_t, kVsfCVResidsUse);
    // The full cross products on the shared-triangle road: the page rewrite and the sums of
    // squares first, as their own serial passes do them, then the triangle's rows by parts.
    vsfRegisterSharedForm(vsfFullXpX_t, nullptr, vsfFullXpXPart);
    vsfRegisterSharedForm(vsfCenterScaleXpX_t, vsfCenterScale, vsfFullXpXPart);
    vsfRegisterSharedForm(vsfShiftSquaresXpX_t, vsfShiftRowsSquares, vsfFullXpXPart);
    // The kept cross-product columns of a wide path: each worker a run of the parameters.
    vsfRegisterSharedForm(vsfEffCross_t, nullptr, vsfEffCrossPart);
    // The effect blocks and the entering effect's rows of a many-level effect, whose folds'
    // buffers are too wide for the page groups: each worker a run of the effects or of the
    // entering effect's columns, so the sums are the single thread's on any thread count.
    vsfRegisterSharedForm(vsfEffectXpX_t, nullptr, vsfEffectXpXPart);
    vsfRegisterSharedForm(vsfEffXpX_t, nullptr, vsfEffXpXPart);
  });
}
