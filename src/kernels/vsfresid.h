// The PRESS and residual kernel pairs: leave-one-out residuals of the TRAIN rows, and the
// weighted squared prediction errors of the VALIDATE and TEST rows, both from the swept
// matrix of the current model.
#pragma once

#include "support/qkpgf.h"

#include <cstdint>

struct VsfModel;

int32_t vsfPress(VsfModel *model, QkPageDescriptor *page);
int32_t vsfPress_t(VsfModel *model, QkPageDescriptor *page, double *buffer, int64_t length);
int32_t vsfResids(VsfModel *model, QkPageDescriptor *page);
int32_t vsfResids_t(VsfModel *model, QkPageDescriptor *page, double *buffer, int64_t length);
