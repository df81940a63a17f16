// The solver-based LASSO (QKLASSO$, QKGLASSO$: one solve at the L1 target) and the group LASSO
// path (GROUPLASSO: a geometric sequence of penalty values with warm starts, every value a
// selection step), through the host's solver extension "qksv". The fit driver prepares the
// pages and records the forced steps before calling them.
#pragma once

#include "support/stepcodes.h"

#include <cstdint>

struct VsfModel;
struct QkSolver;

[[nodiscard]] VsfStatus vsfQkLasso(VsfModel* model);
[[nodiscard]] VsfStatus vsfGroupLasso(VsfModel* model);
// Validation and test ASE of the solver's current coefficients (missing for an empty role).
[[nodiscard]] VsfStatus vsfQkValidateTest(VsfModel* model);

// The solver's callbacks; the model is the solver's user data.
[[nodiscard]] int32_t vsfQkLossFun(QkSolver* solver, const double* coefficients, double* loss);
[[nodiscard]] int32_t vsfQkLossFunAndDeriv(QkSolver* solver, double* coefficients, double* gradient,
                                           double* loss);
[[nodiscard]] int32_t vsfGroupLassoValue(QkSolver* solver, const double* x, double* value);
[[nodiscard]] int32_t vsfGroupLassoOperator(QkSolver* solver, const double* x, double* y,
                                            double* penalty, int32_t* count, double* norm);
[[nodiscard]] int32_t vsfGroupLassoLambdaMax(QkSolver* solver);

// The packed X'X of the response and every parameter (parameter p in column 1 + p) in
// model->solver.solverGram, from the full cross products or one pass over the pages, when the
// design is all dense and the triangle fits the memory budget; otherwise solverGram stays null and
// the callbacks pass over the pages. Returns Ok or the failure of a pass.
[[nodiscard]] VsfStatus vsfSolverGram(VsfModel* model);
