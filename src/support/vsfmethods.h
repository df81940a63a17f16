// The selection methods' traits table: one row per VsfMethod with its METHOD= keyword, its
// texts, its family, the fit road, step bound and penalty it takes, what it reports, and every
// other way methods differ. Code asks the table (or switches over its enumerations) and never
// compares method codes, so a new method is whatever its row says.
#pragma once

#include "support/messages.h"
#include "support/vsfcolumn.h"
#include "support/vsfoptions.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

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

// One row per method. Every question code asks about a method is a column here: a new method
// gives each of them when it adds its row.
struct VsfMethodTraits {
  VsfColumn<VsfMethod> method;
  VsfColumn<const char*> keyword;    // its METHOD= keyword in the MODEL rule (null: the reader
                                     // sets it)
  VsfColumn<const char*> optionRule; // the rule of the options that may follow it (null: none)
  VsfColumn<VsfMsg> name;            // the model information table and the graphs' titles
  VsfColumn<VsfMsg> stepTitle;       // the step notes ("... Step %1")
  VsfColumn<VsfMsg> summaryTitle;    // the selection summary table's title
  VsfColumn<VsfMethodFamily> family;
  VsfColumn<VsfFitRoad> road;
  VsfColumn<VsfStepBound> bound;
  VsfColumn<VsfPenalty> penalty; // None: no path switches; Columns: the columns are
                                 // standardized; Groups: the parameters are
  VsfColumn<bool> hasPath;       // the fit records a penalty path: its arrays, CHOOSE=CVEX
  VsfColumn<bool> removes;       // a step may remove effects: the summary prints the Removed column
  VsfColumn<bool> ridge;         // the elastic net: an L2 term of weight L2 joins the penalty,
                                 // and the L2 options apply
  VsfColumn<bool> lsCoefficients;    // the path's steps report the least-squares coefficients of
                                     // the active effects (LSCOEFFS) instead of the path's own
  VsfColumn<bool> startsFull;        // the fit starts from every effect and steps remove them: the
                                     // full X'X, the containment lists, steps counted from the top
  VsfColumn<bool> entryTrials;       // a step tries each candidate's entry (SLENTRY applies)
  VsfColumn<bool> removalTrials;     // a step tries each effect's removal (SLSTAY applies)
  VsfColumn<bool> takesDrop;         // DROP= chooses between plain and competitive steps
  VsfColumn<double> slEntryDefault;  // SLENTRY= when not given
  VsfColumn<double> slStayDefault;   // SLSTAY= when not given
  VsfColumn<bool> stopsWhenAllIn;    // the selection stops once every effect has entered
  VsfColumn<bool> packedPays;        // one pass forming the packed X'X repays itself over the
                                     // steps (measured; see packedCheaper)
  VsfColumn<bool> lookAhead;         // the path's look-ahead pass serves it on the full X'X
  VsfColumn<bool> splitSparseRows;   // SPLIT may take the sparse-rows road without the full X'X
  VsfColumn<bool> l1Bound;           // L1=, L1CHOICE= and STOP=L1 apply
  VsfColumn<bool> l1ChoiceRatioOnly; // L1CHOICE= is always RATIO
  VsfColumn<bool> screens;           // SCREEN= applies
  VsfColumn<bool> limitedCriteria;   // SL, CP, BIC, PRESS and CV are refused as STOP= and
                                     // CHOOSE=
  VsfColumn<std::optional<VsfMsg>> adaptiveRefusal; // the warning that turns ADAPTIVE off
  VsfColumn<VsfMethod> lsVariant;                   // the method LSCOEFFS makes of it
  VsfColumn<std::optional<VsfMsg>> lsRefusal;       // the error LSCOEFFS raises with it
  VsfColumn<VsfMethod> lsBase;                      // the method without least-squares coefficients
};

// One row per method code, in code order: VsfMethod::Last rows.
inline constexpr size_t kVsfMethodCount = static_cast<size_t>(VsfMethod::Last);
using VsfMethodTable = std::array<VsfMethodTraits, kVsfMethodCount>;

inline constexpr VsfMethodTable kVsfMethodTraits{{
    {.method = VsfMethod::None,
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
     .lsCoefficients = false,
     .startsFull = false,
     .entryTrials = false,
     .removalTrials = false,
     .takesDrop = false,
     .slEntryDefault = 0.5,
     .slStayDefault = 0.1,
     .stopsWhenAllIn = false,
     .packedPays = false,
     .lookAhead = false,
     .splitSparseRows = false,
     .l1Bound = false,
     .l1ChoiceRatioOnly = false,
     .screens = false,
     .limitedCriteria = false,
     .adaptiveRefusal = std::nullopt,
     .lsVariant = VsfMethod::None,
     .lsRefusal = std::nullopt,
     .lsBase = VsfMethod::None},
    {.method = VsfMethod::Forward,
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
     .lsCoefficients = false,
     .startsFull = false,
     .entryTrials = true,
     .removalTrials = false,
     .takesDrop = false,
     .slEntryDefault = 0.5,
     .slStayDefault = 0.1,
     .stopsWhenAllIn = true,
     .packedPays = true,
     .lookAhead = false,
     .splitSparseRows = false,
     .l1Bound = false,
     .l1ChoiceRatioOnly = false,
     .screens = false,
     .limitedCriteria = false,
     .adaptiveRefusal = std::nullopt,
     .lsVariant = VsfMethod::Forward,
     .lsRefusal = std::nullopt,
     .lsBase = VsfMethod::Forward},
    {.method = VsfMethod::Backward,
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
     .lsCoefficients = false,
     .startsFull = true,
     .entryTrials = false,
     .removalTrials = true,
     .takesDrop = false,
     .slEntryDefault = 0.5,
     .slStayDefault = 0.1,
     .stopsWhenAllIn = false,
     .packedPays = false,
     .lookAhead = false,
     .splitSparseRows = false,
     .l1Bound = false,
     .l1ChoiceRatioOnly = false,
     .screens = false,
     .limitedCriteria = false,
     .adaptiveRefusal = std::nullopt,
     .lsVariant = VsfMethod::Backward,
     .lsRefusal = std::nullopt,
     .lsBase = VsfMethod::Backward},
    {.method = VsfMethod::Stepwise,
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
     .lsCoefficients = false,
     .startsFull = false,
     .entryTrials = true,
     .removalTrials = true,
     .takesDrop = true,
     .slEntryDefault = 0.15,
     .slStayDefault = 0.15,
     .stopsWhenAllIn = false,
     .packedPays = true,
     .lookAhead = false,
     .splitSparseRows = false,
     .l1Bound = false,
     .l1ChoiceRatioOnly = false,
     .screens = false,
     .limitedCriteria = false,
     .adaptiveRefusal = std::nullopt,
     .lsVariant = VsfMethod::Stepwise,
     .lsRefusal = std::nullopt,
     .lsBase = VsfMethod::Stepwise},
    {.method = VsfMethod::Lar,
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
     .lsCoefficients = false,
     .startsFull = false,
     .entryTrials = false,
     .removalTrials = false,
     .takesDrop = false,
     .slEntryDefault = 0.5,
     .slStayDefault = 0.1,
     .stopsWhenAllIn = true,
     .packedPays = true,
     .lookAhead = true,
     .splitSparseRows = true,
     .l1Bound = false,
     .l1ChoiceRatioOnly = false,
     .screens = false,
     .limitedCriteria = false,
     .adaptiveRefusal = VsfMsg::AdaptiveNotWithLar,
     .lsVariant = VsfMethod::LarLs,
     .lsRefusal = std::nullopt,
     .lsBase = VsfMethod::Lar},
    {.method = VsfMethod::Lasso,
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
     .lsCoefficients = false,
     .startsFull = false,
     .entryTrials = false,
     .removalTrials = false,
     .takesDrop = false,
     .slEntryDefault = 0.5,
     .slStayDefault = 0.1,
     .stopsWhenAllIn = false,
     .packedPays = true,
     .lookAhead = true,
     .splitSparseRows = true,
     .l1Bound = true,
     .l1ChoiceRatioOnly = false,
     .screens = true,
     .limitedCriteria = false,
     .adaptiveRefusal = std::nullopt,
     .lsVariant = VsfMethod::LassoLs,
     .lsRefusal = std::nullopt,
     .lsBase = VsfMethod::Lasso},
    {.method = VsfMethod::LarLs,
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
     .lsCoefficients = true,
     .startsFull = false,
     .entryTrials = false,
     .removalTrials = false,
     .takesDrop = false,
     .slEntryDefault = 0.5,
     .slStayDefault = 0.1,
     .stopsWhenAllIn = false,
     .packedPays = false,
     .lookAhead = false,
     .splitSparseRows = false,
     .l1Bound = false,
     .l1ChoiceRatioOnly = false,
     .screens = false,
     .limitedCriteria = false,
     .adaptiveRefusal = VsfMsg::AdaptiveNotWithLar,
     .lsVariant = VsfMethod::LarLs,
     .lsRefusal = std::nullopt,
     .lsBase = VsfMethod::Lar},
    {.method = VsfMethod::LassoLs,
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
     .lsCoefficients = true,
     .startsFull = false,
     .entryTrials = false,
     .removalTrials = false,
     .takesDrop = false,
     .slEntryDefault = 0.5,
     .slStayDefault = 0.1,
     .stopsWhenAllIn = false,
     .packedPays = false,
     .lookAhead = false,
     .splitSparseRows = false,
     .l1Bound = true,
     .l1ChoiceRatioOnly = false,
     .screens = true,
     .limitedCriteria = false,
     .adaptiveRefusal = std::nullopt,
     .lsVariant = VsfMethod::LassoLs,
     .lsRefusal = std::nullopt,
     .lsBase = VsfMethod::Lasso},
    {.method = VsfMethod::ElasticNet,
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
     .lsCoefficients = false,
     .startsFull = false,
     .entryTrials = false,
     .removalTrials = false,
     .takesDrop = false,
     .slEntryDefault = 0.5,
     .slStayDefault = 0.1,
     .stopsWhenAllIn = false,
     .packedPays = false,
     .lookAhead = false,
     .splitSparseRows = true,
     .l1Bound = true,
     .l1ChoiceRatioOnly = false,
     .screens = true,
     .limitedCriteria = false,
     .adaptiveRefusal = std::nullopt,
     .lsVariant = VsfMethod::ElasticNet,
     .lsRefusal = VsfMsg::LscoeffsNotWithElasticnet,
     .lsBase = VsfMethod::ElasticNet},
    {.method = VsfMethod::ElasticNetLs,
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
     .lsCoefficients = true,
     .startsFull = false,
     .entryTrials = false,
     .removalTrials = false,
     .takesDrop = false,
     .slEntryDefault = 0.5,
     .slStayDefault = 0.1,
     .stopsWhenAllIn = false,
     .packedPays = false,
     .lookAhead = false,
     .splitSparseRows = false,
     .l1Bound = true,
     .l1ChoiceRatioOnly = false,
     .screens = true,
     .limitedCriteria = false,
     .adaptiveRefusal = std::nullopt,
     .lsVariant = VsfMethod::ElasticNetLs,
     .lsRefusal = std::nullopt,
     .lsBase = VsfMethod::ElasticNet},
    {.method = VsfMethod::QkLasso,
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
     .lsCoefficients = false,
     .startsFull = false,
     .entryTrials = false,
     .removalTrials = false,
     .takesDrop = false,
     .slEntryDefault = 0.5,
     .slStayDefault = 0.1,
     .stopsWhenAllIn = false,
     .packedPays = false,
     .lookAhead = false,
     .splitSparseRows = false,
     .l1Bound = true,
     .l1ChoiceRatioOnly = false,
     .screens = false,
     .limitedCriteria = false,
     .adaptiveRefusal = std::nullopt,
     .lsVariant = VsfMethod::QkLasso,
     .lsRefusal = std::nullopt,
     .lsBase = VsfMethod::QkLasso},
    {.method = VsfMethod::QkGLasso,
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
     .lsCoefficients = false,
     .startsFull = false,
     .entryTrials = false,
     .removalTrials = false,
     .takesDrop = false,
     .slEntryDefault = 0.5,
     .slStayDefault = 0.1,
     .stopsWhenAllIn = false,
     .packedPays = false,
     .lookAhead = false,
     .splitSparseRows = false,
     .l1Bound = true,
     .l1ChoiceRatioOnly = false,
     .screens = false,
     .limitedCriteria = false,
     .adaptiveRefusal = std::nullopt,
     .lsVariant = VsfMethod::QkGLasso,
     .lsRefusal = VsfMsg::LscoeffsNotForMethod,
     .lsBase = VsfMethod::QkGLasso},
    {.method = VsfMethod::GroupLasso,
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
     .lsCoefficients = false,
     .startsFull = false,
     .entryTrials = false,
     .removalTrials = false,
     .takesDrop = false,
     .slEntryDefault = 0.5,
     .slStayDefault = 0.1,
     .stopsWhenAllIn = false,
     .packedPays = false,
     .lookAhead = false,
     .splitSparseRows = false,
     .l1Bound = true,
     .l1ChoiceRatioOnly = true,
     .screens = false,
     .limitedCriteria = true,
     .adaptiveRefusal = VsfMsg::AdaptiveNotWithGrouplasso,
     .lsVariant = VsfMethod::GroupLasso,
     .lsRefusal = VsfMsg::LscoeffsNotForMethod,
     .lsBase = VsfMethod::GroupLasso},
}};

// Row i describes method code i + 1. A row left out is refused above (its columns have no
// defaults) and a row too many does not fit the array; this refuses rows out of order.
[[nodiscard]] consteval bool vsfMethodRowsInOrder(const VsfMethodTable& table) {
  for (size_t i = 0; i < table.size(); ++i)
    if (table[i].method != static_cast<VsfMethod>(i + 1))
      return false;
  return true;
}
static_assert(vsfMethodRowsInOrder(kVsfMethodTraits),
              "kVsfMethodTraits needs one row per VsfMethod, in order");

// The columns of a row that follow from one another: a method that starts from every effect
// removes them by trials; trials of entries or removals are the sequential methods'; DROP=
// chooses between entry and removal trials; the path, L1=, SCREEN= and the L2 term need a
// penalty; a method LSCOEFFS refuses is not turned into another.
[[nodiscard]] consteval bool vsfMethodRowAgrees(const VsfMethodTraits& t) {
  const bool sequential = t.family == VsfMethodFamily::Sequential;
  const bool penalized = t.penalty != VsfPenalty::None;
  return (!t.startsFull || (t.removes && t.removalTrials)) &&
         (!(t.entryTrials || t.removalTrials) || sequential) &&
         (!t.takesDrop || (t.entryTrials && t.removalTrials)) && (!t.hasPath || penalized) &&
         (!t.l1Bound || penalized) && (!t.screens || t.penalty == VsfPenalty::Columns) &&
         (!t.ridge || t.penalty == VsfPenalty::Columns) &&
         (!t.lsRefusal.get() || t.lsVariant == t.method);
}

// Every row agrees with itself, and LSCOEFFS and its undoing are each other's inverse: the
// variant reports least-squares coefficients and its base is the method again.
[[nodiscard]] consteval bool vsfMethodRowsAgree(const VsfMethodTable& table) {
  for (const VsfMethodTraits& t : table) {
    const VsfMethodTraits& variant = table[static_cast<size_t>(t.lsVariant.get()) - 1];
    const VsfMethodTraits& base = table[static_cast<size_t>(t.lsBase.get()) - 1];
    if (!vsfMethodRowAgrees(t) || (t.lsVariant != t.method && !variant.lsCoefficients) ||
        (t.lsVariant != t.method && variant.lsBase != t.method) ||
        t.lsCoefficients == (t.lsBase == t.method) || base.lsCoefficients)
      return false;
  }
  return true;
}
static_assert(vsfMethodRowsAgree(kVsfMethodTraits), "a row of kVsfMethodTraits contradicts itself");

// The row of a method; nullptr for a code no method has (options not yet read).
[[nodiscard]] constexpr const VsfMethodTraits* vsfMethodTraits(VsfMethod method) {
  const auto code = static_cast<int32_t>(method);
  if (code < 1 || code > static_cast<int32_t>(kVsfMethodTraits.size()))
    return nullptr;
  return &kVsfMethodTraits[static_cast<size_t>(code - 1)];
}

// What a code no method has answers: no column holds for it, so options not yet read ask
// for nothing. Its family is never asked (vsfMethodIs is false for it).
inline constexpr VsfMethodTraits kVsfUnknownMethod{.method = static_cast<VsfMethod>(0),
                                                   .keyword = nullptr,
                                                   .optionRule = nullptr,
                                                   .name = VsfMsg::MethodNone,
                                                   .stepTitle = VsfMsg::StepTitleNoSelectionStep,
                                                   .summaryTitle =
                                                       VsfMsg::SummaryModelFittedWithoutSelection,
                                                   .family = VsfMethodFamily::NoSelection,
                                                   .road = VsfFitRoad::LeastSquares,
                                                   .bound = VsfStepBound::OneFit,
                                                   .penalty = VsfPenalty::None,
                                                   .hasPath = false,
                                                   .removes = false,
                                                   .ridge = false,
                                                   .lsCoefficients = false,
                                                   .startsFull = false,
                                                   .entryTrials = false,
                                                   .removalTrials = false,
                                                   .takesDrop = false,
                                                   .slEntryDefault = 0.5,
                                                   .slStayDefault = 0.1,
                                                   .stopsWhenAllIn = false,
                                                   .packedPays = false,
                                                   .lookAhead = false,
                                                   .splitSparseRows = false,
                                                   .l1Bound = false,
                                                   .l1ChoiceRatioOnly = false,
                                                   .screens = false,
                                                   .limitedCriteria = false,
                                                   .adaptiveRefusal = std::nullopt,
                                                   .lsVariant = static_cast<VsfMethod>(0),
                                                   .lsRefusal = std::nullopt,
                                                   .lsBase = static_cast<VsfMethod>(0)};

// The row of a method, or kVsfUnknownMethod for a code no method has.
[[nodiscard]] constexpr const VsfMethodTraits& vsfMethod(VsfMethod method) {
  const VsfMethodTraits* t = vsfMethodTraits(method);
  return t != nullptr ? *t : kVsfUnknownMethod;
}

// True when the method is of the given family (false for an unknown code).
[[nodiscard]] constexpr bool vsfMethodIs(VsfMethod method, VsfMethodFamily family) {
  const VsfMethodTraits* t = vsfMethodTraits(method);
  return t != nullptr && t->family == family;
}

// True when the method selects effects: every method but NONE (and an unknown code).
[[nodiscard]] constexpr bool vsfMethodSelects(VsfMethod method) {
  return !vsfMethodIs(method, VsfMethodFamily::NoSelection);
}

// True when the method records a penalty path (false for an unknown code).
[[nodiscard]] constexpr bool vsfMethodHasPath(VsfMethod method) {
  return vsfMethod(method).hasPath;
}

// True when the method adds the elastic net's L2 term (false for an unknown code).
[[nodiscard]] constexpr bool vsfMethodRidge(VsfMethod method) { return vsfMethod(method).ridge; }

// True when the method's steps report least-squares coefficients (false for an unknown code).
[[nodiscard]] constexpr bool vsfMethodLsCoefficients(VsfMethod method) {
  return vsfMethod(method).lsCoefficients;
}

// The penalty of the method (None for an unknown code).
[[nodiscard]] constexpr VsfPenalty vsfMethodPenalty(VsfMethod method) {
  return vsfMethod(method).penalty;
}

// True for the group-LASSO methods, whose steps enter or leave whole effects and may change
// several parameters at once.
[[nodiscard]] constexpr bool vsfGroupMethod(VsfMethod method) {
  return vsfMethodPenalty(method) == VsfPenalty::Groups;
}

// True when the method starts from every effect and its steps remove them (false for an
// unknown code).
[[nodiscard]] constexpr bool vsfMethodStartsFull(VsfMethod method) {
  return vsfMethod(method).startsFull;
}

// True when the method takes the given fit road (false for an unknown code).
[[nodiscard]] constexpr bool vsfMethodRoad(VsfMethod method, VsfFitRoad road) {
  const VsfMethodTraits* t = vsfMethodTraits(method);
  return t != nullptr && t->road == road;
}
