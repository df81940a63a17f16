// The least-angle path of LAR, LASSO, their least-squares-coefficient forms and the elastic
// net at a given L2: one effect enters or leaves per step along the equiangular direction.
// The fit driver standardizes the pages and records the forced steps before calling it.
#pragma once

#include "support/stepcodes.h"

#include <cstdint>

struct VsfModel;

// Walks the path to its end or to a stop rule; Ok or the first failure.
[[nodiscard]] VsfStatus vsfLarLasso(VsfModel* model);
// The rate at which active effect k's correlation falls along the path's direction, which
// falls the common correlation cmax at rate A: A times its correlation over cmax, so that the
// active correlations shrink in proportion.
[[nodiscard]] double vsfLarActiveRate(const VsfModel* model, int32_t k, double A, double cmax);
// The step length at which the first eligible outside effect catches up with the active ones
// (cmax / A when none does).
double vsfLarCatchUp(const VsfModel* model, double cmax, double A);
// How many kept cross-product columns a plain path over `parameters` parameters holds by
// default (0: it keeps none): while its entering effects have them, a step costs about one
// column of X'X, formed with those of the likely next entrants, and no pass per step.
[[nodiscard]] int64_t vsfLarKeptColumns(int64_t parameters);
