// The sums of a fit whose split levels are stored sparse (VsfPassState::layout.splitSparse): the
// kernels sum the split values raw, and the centring and scaling that the pages of the other
// columns carry is applied to those sums after each pass.
#pragma once

#include "data/vsfthread.h"
#include "model/vsfmodel.h"

// Turns the raw sums that a pass of kernel `serial` left in the model into those of the centred
// and scaled columns: the cross products of the split columns from their raw products, means
// and scales, their correlations scaled. Nothing for other fits or kernels.
void vsfSplitCorrect(VsfModel* model, VsfSerialKernel serial);
