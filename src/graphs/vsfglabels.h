// Labels of the selection path for the tables and graphs: one label per step ("3+X2"),
// the labels of the plotted parameters, and the choice of curve labels that a coefficient
// plot draws without crowding.
#pragma once

#include <cstdint>

struct VsfContext;
struct VsfModel;

int32_t vsfgStepLabels(VsfContext* ctx, VsfModel* model);
int32_t vsfgParmLabels(VsfContext* ctx, VsfModel* model);
// Thins the curve labels by the per-parameter coefficient values `values` (n = model's
// parameter count).
int32_t vsfgThinLabels(VsfContext* ctx, VsfModel* model, const double* values);
