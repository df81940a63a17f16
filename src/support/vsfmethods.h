// The selection methods' traits table: one row per VsfMethod with its METHOD= keyword, its
// texts, its family, the fit road, step bound and penalty it takes, and what it reports. Code asks
// the table (or switches over its enumerations) instead of testing ranges of method codes.
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

// The penalty a method puts on its coefficients.
enum class VsfPenalty : uint8_t {
  None,    // the least-squares fits of the classic methods
  Columns, // a bound on the sum of the columns' absolute coefficients (the LASSO type)
  Groups,  // a bound over each effect's parameters together (the group LASSOs)
};

struct VsfMethodTraits {
  VsfMethod method;
  const char* keyword;    // its METHOD= keyword in the MODEL rule (null: the reader sets it)
  const char* optionRule; // the rule of the options that may follow it (null: none)
  VsfMsg name;            // the model information table and the graphs' titles
  VsfMsg stepTitle;       // the step notes ("... Step %1")
  VsfMsg summaryTitle;    // the selection summary table's title
  VsfMethodFamily family;
  VsfFitRoad road;
  VsfStepBound bound;
  VsfPenalty penalty;
  bool hasPath;        // the fit records a penalty path: its arrays, external cross validation
  bool removes;        // a step may remove effects: the summary prints the Removed column
  bool ridge;          // the elastic net: an L2 term of weight L2 joins the penalty
  bool lsCoefficients; // the path's steps report the least-squares coefficients of the
                       // active effects (LSCOEFFS) instead of the path's own
};

inline constexpr std::array<VsfMethodTraits, 13> kVsfMethodTraits{{
    {.method = VM_NONE,
     .keyword = "'NONE'",
     .optionRule = nullptr,
     .name = VsfMsg::MethodNone,
     .stepTitle = VsfMsg::StepTitleNoSelectionStep,
     .summaryTitle = VsfMsg::SummaryModelFittedWithoutSelection,
     .family = VsfMethodFamily::NoSelection,
     .road = VsfFitRoad::LeastSquares,
     .bound = VsfStepBound::OneFit,
     .penalty = VsfPenalty::None,
     .hasPath = false,
     .removes = false,
     .ridge = false,
     .lsCoefficients = false},
    {.method = VM_FORWARD,
     .keyword = "'FORWARD'",
     .optionRule = "fwdopt",
     .name = VsfMsg::MethodForwardSelection,
     .stepTitle = VsfMsg::StepTitleForwardSelectionStep,
     .summaryTitle = VsfMsg::SummaryForwardSelectionSummary,
     .family = VsfMethodFamily::Sequential,
     .road = VsfFitRoad::Forward,
     .bound = VsfStepBound::EachOnce,
     .penalty = VsfPenalty::None,
     .hasPath = false,
     .removes = false,
     .ridge = false,
     .lsCoefficients = false},
    {.method = VM_BACKWARD,
     .keyword = "'BACKWARD'",
     .optionRule = "bwdopt",
     .name = VsfMsg::MethodBackwardElimination,
     .stepTitle = VsfMsg::StepTitleBackwardEliminationStep,
     .summaryTitle = VsfMsg::SummaryBackwardEliminationSummary,
     .family = VsfMethodFamily::Sequential,
     .road = VsfFitRoad::Backward,
     .bound = VsfStepBound::EachOnce,
     .penalty = VsfPenalty::None,
     .hasPath = false,
     .removes = true,
     .ridge = false,
     .lsCoefficients = false},
    {.method = VM_STEPWISE,
     .keyword = "'STEPWISE'",
     .optionRule = "swopt",
     .name = VsfMsg::MethodStepwiseSelection,
     .stepTitle = VsfMsg::StepTitleStepwiseSelectionStep,
     .summaryTitle = VsfMsg::SummaryStepwiseSelectionSummary,
     .family = VsfMethodFamily::Sequential,
     .road = VsfFitRoad::Stepwise,
     .bound = VsfStepBound::EachTwice,
     .penalty = VsfPenalty::None,
     .hasPath = false,
     .removes = true,
     .ridge = false,
     .lsCoefficients = false},
    {.method = VM_LAR,
     .keyword = "'LAR'",
     .optionRule = "penopt",
     .name = VsfMsg::MethodLeastAngleRegression,
     .stepTitle = VsfMsg::StepTitleLeastAngleRegressionStep,
     .summaryTitle = VsfMsg::SummaryLarSelectionSummary,
     .family = VsfMethodFamily::LeastAngle,
     .road = VsfFitRoad::LeastAngle,
     .bound = VsfStepBound::EachOnce,
     .penalty = VsfPenalty::Columns,
     .hasPath = true,
     .removes = false,
     .ridge = false,
     .lsCoefficients = false},
    {.method = VM_LASSO,
     .keyword = "'LASSO'",
     .optionRule = "penopt",
     .name = VsfMsg::MethodLasso,
     .stepTitle = VsfMsg::StepTitleLassoSelectionStep,
     .summaryTitle = VsfMsg::SummaryLassoSelectionSummary,
     .family = VsfMethodFamily::LeastAngle,
     .road = VsfFitRoad::LeastAngle,
     .bound = VsfStepBound::EachTwice,
     .penalty = VsfPenalty::Columns,
     .hasPath = true,
     .removes = true,
     .ridge = false,
     .lsCoefficients = false},
    {.method = VM_LAR_LS,
     .keyword = nullptr,
     .optionRule = nullptr,
     .name = VsfMsg::MethodLeastAngleRegressionLeast,
     .stepTitle = VsfMsg::StepTitleLeastAngleRegressionLeast,
     .summaryTitle = VsfMsg::SummaryLarSelectionSummaryLeast,
     .family = VsfMethodFamily::LeastAngle,
     .road = VsfFitRoad::LeastAngle,
     .bound = VsfStepBound::EachOnce,
     .penalty = VsfPenalty::Columns,
     .hasPath = true,
     .removes = false,
     .ridge = false,
     .lsCoefficients = true},
    {.method = VM_LASSO_LS,
     .keyword = nullptr,
     .optionRule = nullptr,
     .name = VsfMsg::MethodLassoLeastSquaresCoefficients,
     .stepTitle = VsfMsg::StepTitleLassoLeastSquaresCoefficients,
     .summaryTitle = VsfMsg::SummaryLassoSelectionSummaryLeast,
     .family = VsfMethodFamily::LeastAngle,
     .road = VsfFitRoad::LeastAngle,
     .bound = VsfStepBound::EachTwice,
     .penalty = VsfPenalty::Columns,
     .hasPath = true,
     .removes = true,
     .ridge = false,
     .lsCoefficients = true},
    {.method = VM_ELASTICNET,
     .keyword = "'ELASTICNET'",
     .optionRule = "penopt",
     .name = VsfMsg::MethodElasticNet,
     .stepTitle = VsfMsg::StepTitleElasticNetSelectionStep,
     .summaryTitle = VsfMsg::SummaryElasticNetSelectionSummary,
     .family = VsfMethodFamily::LeastAngle,
     .road = VsfFitRoad::LeastAngle,
     .bound = VsfStepBound::EachTwice,
     .penalty = VsfPenalty::Columns,
     .hasPath = true,
     .removes = true,
     .ridge = true,
     .lsCoefficients = false},
    {.method = VM_ELASTICNET_LS,
     .keyword = nullptr,
     .optionRule = nullptr,
     .name = VsfMsg::MethodElasticNetLeastSquares,
     .stepTitle = VsfMsg::StepTitleElasticNetLeastSquares,
     .summaryTitle = VsfMsg::SummaryElasticNetSelectionSummaryLeast,
     .family = VsfMethodFamily::LeastAngle,
     .road = VsfFitRoad::LeastAngle,
     .bound = VsfStepBound::EachTwice,
     .penalty = VsfPenalty::Columns,
     .hasPath = true,
     .removes = true,
     .ridge = true,
     .lsCoefficients = true},
    {.method = VM_QKLASSO,
     .keyword = "'QKLASSO$'",
     .optionRule = "penopt",
     .name = VsfMsg::MethodLassoSolver,
     .stepTitle = VsfMsg::StepTitleLassoSolverStep,
     .summaryTitle = VsfMsg::SummaryLassoSelectionSummarySolver,
     .family = VsfMethodFamily::Solver,
     .road = VsfFitRoad::Solver,
     .bound = VsfStepBound::Penalties,
     .penalty = VsfPenalty::Columns,
     .hasPath = false,
     .removes = false,
     .ridge = false,
     .lsCoefficients = false},
    {.method = VM_QKGLASSO,
     .keyword = "'QKGLASSO$'",
     .optionRule = "penopt",
     .name = VsfMsg::MethodGroupLassoSolver,
     .stepTitle = VsfMsg::StepTitleGroupLassoSolverStep,
     .summaryTitle = VsfMsg::SummaryGroupLassoSelectionSummarySolver,
     .family = VsfMethodFamily::Solver,
     .road = VsfFitRoad::Solver,
     .bound = VsfStepBound::Penalties,
     .penalty = VsfPenalty::Groups,
     .hasPath = false,
     .removes = true,
     .ridge = false,
     .lsCoefficients = false},
    {.method = VM_GROUPLASSO,
     .keyword = "'GROUPLASSO'",
     .optionRule = "penopt",
     .name = VsfMsg::MethodGroupLasso,
     .stepTitle = VsfMsg::StepTitleGroupLassoSelectionStep,
     .summaryTitle = VsfMsg::SummaryGroupLassoSelectionSummary,
     .family = VsfMethodFamily::Solver,
     .road = VsfFitRoad::GroupLasso,
     .bound = VsfStepBound::Penalties,
     .penalty = VsfPenalty::Groups,
     .hasPath = true,
     .removes = true,
     .ridge = false,
     .lsCoefficients = false},
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

// True when the method adds the elastic net's L2 term (false for an unknown code).
[[nodiscard]] constexpr bool vsfMethodRidge(int32_t method) {
  const VsfMethodTraits* t = vsfMethodTraits(method);
  return t != nullptr && t->ridge;
}

// True when the method's steps report least-squares coefficients (false for an unknown code).
[[nodiscard]] constexpr bool vsfMethodLsCoefficients(int32_t method) {
  const VsfMethodTraits* t = vsfMethodTraits(method);
  return t != nullptr && t->lsCoefficients;
}

// The penalty of the method (None for an unknown code).
[[nodiscard]] constexpr VsfPenalty vsfMethodPenalty(int32_t method) {
  const VsfMethodTraits* t = vsfMethodTraits(method);
  return t != nullptr ? t->penalty : VsfPenalty::None;
}

// True for the group-LASSO methods, whose steps enter or leave whole effects and may change
// several parameters at once.
[[nodiscard]] constexpr bool vsfGroupMethod(int32_t method) {
  return vsfMethodPenalty(method) == VsfPenalty::Groups;
}
