// Labels of the selection path for the tables and graphs: one label per step ("3+X2"),
// the labels of the plotted parameters, and the choice of curve labels that a coefficient
// plot draws without crowding.
#pragma once

#include "support/stepcodes.h"

#include <cstdint>

struct VsfContext;
struct VsfModel;
struct VsfEffectView;
struct LevDesign;

[[nodiscard]] VsfStatus vsfgStepLabels(VsfContext* ctx, VsfModel* model);
// The plotted parameters and their curve labels: Ok, or NoMemory. Without a design, or
// with labels that come out empty, the curves are still plotted (unlabelled): no failure.
[[nodiscard]] VsfStatus vsfgParmLabels(VsfContext* ctx, VsfModel* model);
// Thins the curve labels by the per-parameter coefficient values `values` (n = model's
// parameter count).
[[nodiscard]] VsfStatus vsfgThinLabels(VsfContext* ctx, VsfModel* model, const double* values);
// The curve label of parameter j of selection effect k: under INTERLACED the text of its
// design column (the effect name when the column has none), else the effect name followed
// by the column's level text. Writes into `buffer` when it is not null; the length.
[[nodiscard]] int32_t vsfgParmLabelText(const VsfContext* ctx, const LevDesign* d, int32_t k,
                                        const VsfEffectView& v, int32_t j, char* buffer);
