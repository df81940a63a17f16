// The table of kernel pairs handed to the threading frame, registered once per process.
#include "kernels/vsfkernels.h"

#include "data/vsfthread.h"
#include "kernels/vsfcvkernels.h"
#include "kernels/vsfmoments.h"
#include "kernels/vsfresid.h"
#include "kernels/vsftransform.h"
#include "kernels/vsfxpx.h"

#include <mutex>

void vsfRegisterKernels() {
  static std::once_flag once;
  std::call_once(once, [] {
    vsfRegisterKernelPair(vsfFullXpX, vsfFullXpX_t, VsfKernelKind::FullXpX);
    vsfRegisterKernelPair(vsfCenterScaleXpX, vsfCenterScaleXpX_t, VsfKernelKind::CenterScaleXpX);
    vsfRegisterKernelPair(vsfShiftSquaresXpX, vsfShiftSquaresXpX_t, VsfKernelKind::ShiftSquaresXpX);
    vsfRegisterKernelPair(vsfEffectXpX, vsfEffectXpX_t, VsfKernelKind::EffectXpX);
    vsfRegisterKernelPair(vsfEffXpX, vsfEffXpX_t, VsfKernelKind::EffXpX);
    vsfRegisterKernelPair(vsfYCross, vsfYCross_t, VsfKernelKind::YCross);
    vsfRegisterKernelPair(vsfEffCross, vsfEffCross_t, VsfKernelKind::EffCross);
    vsfRegisterKernelPair(vsfMoments, vsfMoments_t, VsfKernelKind::Moments);
    vsfRegisterKernelPair(vsfYpwY, vsfYpwY_t, VsfKernelKind::YpwY);
    vsfRegisterKernelPair(vsfSpreads, vsfSpreads_t, VsfKernelKind::Spreads);
    vsfRegisterKernelPair(vsfPress, vsfPress_t, VsfKernelKind::Press);
    vsfRegisterKernelPair(vsfResids, vsfResids_t, VsfKernelKind::Resids);
    vsfRegisterKernelPair(vsfShiftRowsSquares, vsfShiftRowsSquares_t,
                          VsfKernelKind::ShiftRowsSquares);
    vsfRegisterKernelPair(vsfCenterScale, vsfCenterScale_t, VsfKernelKind::CenterScale);
    vsfRegisterKernelPair(vsfUndoCenterScale, vsfUndoCenterScale_t, VsfKernelKind::UndoCenterScale);
    vsfRegisterKernelPair(vsfCenterScaleEffect, vsfCenterScaleEffect_t,
                          VsfKernelKind::CenterScaleEffect);
    vsfRegisterKernelPair(vsfUndoCenterScaleEffect, vsfUndoCenterScaleEffect_t,
                          VsfKernelKind::UndoCenterScaleEffect);
    vsfRegisterKernelPair(vsfApplyAdaptiveWeights, vsfApplyAdaptiveWeights_t,
                          VsfKernelKind::ApplyAdaptiveWeights);
    vsfRegisterKernelPair(vsfUndoAdaptiveWeights, vsfUndoAdaptiveWeights_t,
                          VsfKernelKind::UndoAdaptiveWeights);
    vsfRegisterKernelPair(vsfCVNobs, vsfCVNobs_t, VsfKernelKind::CVNobs);
    vsfRegisterKernelPair(vsfCVYpY, vsfCVYpY_t, VsfKernelKind::CVYpY);
    vsfRegisterKernelPair(vsfCVResids, vsfCVResids_t, VsfKernelKind::CVResids);
    // The full cross products on the shared-triangle road: the page rewrite and the sums of
    // squares first, as their own serial passes do them, then the triangle's rows by parts.
    vsfRegisterSharedForm(vsfFullXpX_t, nullptr, vsfFullXpXPart);
    vsfRegisterSharedForm(vsfCenterScaleXpX_t, vsfCenterScale, vsfFullXpXPart);
    vsfRegisterSharedForm(vsfShiftSquaresXpX_t, vsfShiftRowsSquares, vsfFullXpXPart);
  });
}
