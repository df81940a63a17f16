// The selection methods' traits table: one row per VsfMethod with the method's texts, its
// family, the fit road and step bound it takes, and what its summary prints. Code asks the
// table (or switches over its enumerations) instead of testing ranges of method codes.
#pragma once

#include "support/messages.h"
#include "support/vsfoptions.h"

#include <array>
#include <cstdint>

// The kinds of selection method.
enum class VsfMethodFamily : uint8_t {
  NoSelection, // the one least-squares fit of the model as given
  Sequential,  // significance or criterion steps that sweep effects in and out
  LeastAngle,  // the least-angle path: LAR, LASSO and the elastic net, with their LS variants
  Solver,      // a penalty sequence solved by the optimizer: the solver LASSO and group LASSOs
};

// The road the fit takes once the cross products are formed.
enum class VsfFitRoad : uint8_t {
  LeastSquares,
  Forward,
  Backward,
  Stepwise, // plain or competitive, as DROP= asks
  LeastAngle,
  Solver,
  GroupLasso,
};

// What bounds the number of steps a fit may record.
enum class VsfStepBound : uint8_t {
  OneFit,    // no selection: the steps of the forced effects only
  EachOnce,  // every effect enters (or leaves) at most once
  EachTwice, // an effect may enter, leave and enter again
  Penalties, // the solver's sequence of penalties
};

struct VsfMethodTraits {
  VsfMethod method;
  VsfMsg name;         // the model information table and the graphs' titles
  VsfMsg stepTitle;    // the step notes ("... Step %1")
  VsfMsg summaryTitle; // the selection summary table's title
  VsfMethodFamily family;
  VsfFitRoad road;
  VsfStepBound bound;
  bool hasPath; // the fit records a penalty path: its arrays, external cross validation
  bool removes; // a step may remove effects: the summary prints the Removed column
};

inline constexpr std::array<VsfMethodTraits, 13> kVsfMethodTraits{{
    {VM_NONE, VsfMsg::MethodNone, VsfMsg::StepTitleNoSelectionStep,
     VsfMsg::SummaryModelFittedWithoutSelection, VsfMethodFamily::NoSelection,
     VsfFitRoad::LeastSquares, VsfStepBound::OneFit, false, false},
    {VM_FORWARD, VsfMsg::MethodForwardSelection, VsfMsg::StepTitleForwardSelectionStep,
     VsfMsg::SummaryForwardSelectionSummary, VsfMethodFamily::Sequential, VsfFitRoad::Forward,
     VsfStepBound::EachOnce, false, false},
    {VM_BACKWARD, VsfMsg::MethodBackwardElimination, VsfMsg::StepTitleBackwardEliminationStep,
     VsfMsg::SummaryBackwardEliminationSummary, VsfMethodFamily::Sequential, VsfFitRoad::Backward,
     VsfStepBound::EachOnce, false, true},
    {VM_STEPWISE, VsfMsg::MethodStepwiseSelection, VsfMsg::StepTitleStepwiseSelectionStep,
     VsfMsg::SummaryStepwiseSelectionSummary, VsfMethodFamily::Sequential, VsfFitRoad::Stepwise,
     VsfStepBound::EachTwice, false, true},
    {VM_LAR, VsfMsg::MethodLeastAngleRegression, VsfMsg::StepTitleLeastAngleRegressionStep,
     VsfMsg::SummaryLarSelectionSummary, VsfMethodFamily::LeastAngle, VsfFitRoad::LeastAngle,
     VsfStepBound::EachOnce, true, false},
    {VM_LASSO, VsfMsg::MethodLasso, VsfMsg::StepTitleLassoSelectionStep,
     VsfMsg::SummaryLassoSelectionSummary, VsfMethodFamily::LeastAngle, VsfFitRoad::LeastAngle,
     VsfStepBound::EachTwice, true, true},
    {VM_LAR_LS, VsfMsg::MethodLeastAngleRegressionLeast, VsfMsg::StepTitleLeastAngleRegressionLeast,
     VsfMsg::SummaryLarSelectionSummaryLeast, VsfMethodFamily::LeastAngle, VsfFitRoad::LeastAngle,
     VsfStepBound::EachOnce, true, false},
    {VM_LASSO_LS, VsfMsg::MethodLassoLeastSquaresCoefficients,
     VsfMsg::StepTitleLassoLeastSquaresCoefficients, VsfMsg::SummaryLassoSelectionSummaryLeast,
     VsfMethodFamily::LeastAngle, VsfFitRoad::LeastAngle, VsfStepBound::EachTwice, true, true},
    {VM_ELASTICNET, VsfMsg::MethodElasticNet, VsfMsg::StepTitleElasticNetSelectionStep,
     VsfMsg::SummaryElasticNetSelectionSummary, VsfMethodFamily::LeastAngle, VsfFitRoad::LeastAngle,
     VsfStepBound::EachTwice, true, true},
    {VM_ELASTICNET_LS, VsfMsg::MethodElasticNetLeastSquares,
     VsfMsg::StepTitleElasticNetLeastSquares, VsfMsg::SummaryElasticNetSelectionSummaryLeast,
     VsfMethodFamily::LeastAngle, VsfFitRoad::LeastAngle, VsfStepBound::EachTwice, true, true},
    {VM_QKLASSO, VsfMsg::MethodLassoSolver, VsfMsg::StepTitleLassoSolverStep,
     VsfMsg::SummaryLassoSelectionSummarySolver, VsfMethodFamily::Solver, VsfFitRoad::Solver,
     VsfStepBound::Penalties, false, false},
    {VM_QKGLASSO, VsfMsg::MethodGroupLassoSolver, VsfMsg::StepTitleGroupLassoSolverStep,
     VsfMsg::SummaryGroupLassoSelectionSummarySolver, VsfMethodFamily::Solver, VsfFitRoad::Solver,
     VsfStepBound::Penalties, false, true},
    {VM_GROUPLASSO, VsfMsg::MethodGroupLasso, VsfMsg::StepTitleGroupLassoSelectionStep,
     VsfMsg::SummaryGroupLassoSelectionSummary, VsfMethodFamily::Solver, VsfFitRoad::GroupLasso,
     VsfStepBound::Penalties, true, true},
}};

// Row i describes method code i + 1, and the last code has its row: a method added to
// VsfMethod without a row here, or a row out of order, stops the build.
[[nodiscard]] consteval bool vsfMethodRowsInOrder() {
  for (size_t i = 0; i < kVsfMethodTraits.size(); ++i)
    if (kVsfMethodTraits[i].method != static_cast<int32_t>(i + 1))
      return false;
  return kVsfMethodTraits.size() == static_cast<size_t>(VM_LAST);
}
static_assert(vsfMethodRowsInOrder(), "kVsfMethodTraits needs one row per VsfMethod, in order");

// The row of a method code; nullptr for a code no method has.
[[nodiscard]] constexpr const VsfMethodTraits* vsfMethodTraits(int32_t method) {
  if (method < 1 || method > static_cast<int32_t>(kVsfMethodTraits.size()))
    return nullptr;
  return &kVsfMethodTraits[static_cast<size_t>(method - 1)];
}

// True when the method is of the given family (false for an unknown code).
[[nodiscard]] constexpr bool vsfMethodIs(int32_t method, VsfMethodFamily family) {
  const VsfMethodTraits* t = vsfMethodTraits(method);
  return t != nullptr && t->family == family;
}

// True when the method records a penalty path (false for an unknown code).
[[nodiscard]] constexpr bool vsfMethodHasPath(int32_t method) {
  const VsfMethodTraits* t = vsfMethodTraits(method);
  return t != nullptr && t->hasPath;
}
