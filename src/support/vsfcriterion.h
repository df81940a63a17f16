// The criteria's traits table: one row per VsfCriterion with its keyword, the options that
// take it, its names and labels, its direction, what its value needs and the messages that
// tell of it. Code asks the row (or switches over the codes with a case for each) and never
// compares a criterion with a number, so a new criterion is whatever its row says.
#pragma once

#include "support/messages.h"
#include "support/vsfcolumn.h"
#include "support/vsfoptions.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

// What a criterion's value is worked out from.
enum class VsfCriterionData : uint8_t {
  Nothing,        // no value: the option was not given, or STOP=NONE
  FitOnly,        // the fit's SSE and rank (and the total sum of squares)
  FullModel,      // the full model's mean square error as well (BIC)
  FullModelScale, // the error SS over the full model's mean square error (CP): a variance of 0
                  // leaves it no value, and a fit that asks for it ends
  Press,          // the PRESS residuals: a pass over the data
  Validation,     // the validation rows: a pass over the data
  CvFolds,        // the cross-validation folds: a pass over the data
  ExternalFolds,  // the external cross validation's fold fits
  PathBound,      // the path's L1 norm (STOP=L1)
};

// One row per criterion. Every question code asks about a criterion is a column here: a new
// criterion gives each of them when it adds its row.
struct VsfCriterionTraits {
  VsfColumn<VsfCriterion> criterion;
  VsfColumn<const char*> keyword;        // its keywords in the MODEL rule (null: none)
  VsfColumn<bool> inSelect;              // SELECT= takes it
  VsfColumn<bool> inStop;                // STOP= takes it
  VsfColumn<bool> inChoose;              // CHOOSE= takes it
  VsfColumn<std::optional<VsfMsg>> name; // the model information table's and notes' name
  VsfColumn<bool> largerBetter;          // a larger value is better (R-square and its adjusted)
  VsfColumn<VsfCriterionData> data;
  VsfColumn<bool> stepValues;     // a value per step and an optimal step in the summaries
  VsfColumn<bool> limitedRefuses; // a method with limited criteria refuses it as STOP= and
                                  // CHOOSE=
  VsfColumn<const char*> label;   // the graphs' column name (null: no graph shows it)
  VsfColumn<std::optional<VsfMsg>> longLabel;      // the axis label
  VsfColumn<std::optional<VsfMsg>> shortLabel;     // the short label of the progression plots
  VsfColumn<std::optional<VsfMsg>> plotShortLabel; // the short label of the criterion plot
  VsfColumn<std::optional<VsfMsg>> panelLabel;     // the label in the criterion panel
  VsfColumn<bool> folds;                           // the labels carry the fold count
  VsfColumn<const char*> plotStem;       // the criterion plot's and BestStep's column stem (null:
                                         // the criterion plot does not show it)
  VsfColumn<const char*> plotValue;      // the criterion plot's value column
  VsfColumn<const char*> plotName;       // the criterion plot's graph name
  VsfColumn<VsfMsg> selectedStep;        // the legend of the step it selects
  VsfColumn<const char*> candidateName;  // the candidates table's value column (null: SELECT=
                                         // never ranks candidates by it)
  VsfColumn<const char*> candidateLabel; // and its label
  VsfColumn<std::optional<VsfMsg>> noImprovement; // the note when it stops the selection
  VsfColumn<std::optional<VsfMsg>> stopHeader;    // the stop details' value heading
  VsfColumn<std::optional<VsfMsg>> stopCompare;   // and comparison heading
};

// One row per criterion code, in code order: VsfCriterion::Last + 1 rows.
inline constexpr size_t kVsfCriterionCount = static_cast<size_t>(VsfCriterion::Last) + 1;
using VsfCriterionTable = std::array<VsfCriterionTraits, kVsfCriterionCount>;

inline constexpr VsfCriterionTable kVsfCriterionTraits{{
    {.criterion = VsfCriterion::NoneGiven,
     .keyword = nullptr,
     .inSelect = false,
     .inStop = false,
     .inChoose = false,
     .name = std::nullopt,
     .largerBetter = false,
     .data = VsfCriterionData::Nothing,
     .stepValues = false,
     .limitedRefuses = false,
     .label = nullptr,
     .longLabel = std::nullopt,
     .shortLabel = std::nullopt,
     .plotShortLabel = std::nullopt,
     .panelLabel = std::nullopt,
     .folds = false,
     .plotStem = nullptr,
     .plotValue = nullptr,
     .plotName = nullptr,
     .selectedStep = VsfMsg::SelectedStep,
     .candidateName = nullptr,
     .candidateLabel = nullptr,
     .noImprovement = std::nullopt,
     .stopHeader = std::nullopt,
     .stopCompare = std::nullopt},
    {.criterion = VsfCriterion::Sl,
     .keyword = R"('SIGNIFICANCELEVEL'/'SL')",
     .inSelect = true,
     .inStop = true,
     .inChoose = false,
     .name = VsfMsg::CriterionSignificanceLevel,
     .largerBetter = false,
     .data = VsfCriterionData::FitOnly,
     .stepValues = false,
     .limitedRefuses = true,
     .label = "PVAL",
     .longLabel = VsfMsg::PValue,
     .shortLabel = VsfMsg::PValue,
     .plotShortLabel = VsfMsg::PValue,
     .panelLabel = std::nullopt,
     .folds = false,
     .plotStem = nullptr,
     .plotValue = nullptr,
     .plotName = nullptr,
     .selectedStep = VsfMsg::SelectedStep,
     .candidateName = nullptr,
     .candidateLabel = nullptr,
     .noImprovement = VsfMsg::SelectionStoppedNoEntryNoRemoval,
     .stopHeader = VsfMsg::StopDetailsPrF,
     .stopCompare = VsfMsg::StopDetailsSignificanceLevel},
    {.criterion = VsfCriterion::Aic,
     .keyword = R"('AIC')",
     .inSelect = true,
     .inStop = true,
     .inChoose = true,
     .name = VsfMsg::CriterionAic,
     .largerBetter = false,
     .data = VsfCriterionData::FitOnly,
     .stepValues = true,
     .limitedRefuses = false,
     .label = "AIC",
     .longLabel = VsfMsg::CriterionLongAkaikesInformationCriterion,
     .shortLabel = VsfMsg::GraphCriterionAic,
     .plotShortLabel = VsfMsg::GraphCriterionAic,
     .panelLabel = VsfMsg::CriterionAic,
     .folds = false,
     .plotStem = "AIC",
     .plotValue = "AICVal",
     .plotName = "AICPlot",
     .selectedStep = VsfMsg::SelectedStepAic,
     .candidateName = "AIC",
     .candidateLabel = "AIC",
     .noImprovement = VsfMsg::SelectionStoppedLocalMinimumAic,
     .stopHeader = VsfMsg::StopDetailsAic,
     .stopCompare = VsfMsg::StopDetailsCompareAic},
    {.criterion = VsfCriterion::Aicc,
     .keyword = R"('AICC')",
     .inSelect = true,
     .inStop = true,
     .inChoose = true,
     .name = VsfMsg::CriterionAicc,
     .largerBetter = false,
     .data = VsfCriterionData::FitOnly,
     .stepValues = true,
     .limitedRefuses = false,
     .label = "AICC",
     .longLabel = VsfMsg::CriterionLongCorrectedAkaikesInformationCriterion,
     .shortLabel = VsfMsg::GraphCriterionAicc,
     .plotShortLabel = VsfMsg::GraphCriterionAicc,
     .panelLabel = VsfMsg::CriterionAicc,
     .folds = false,
     .plotStem = "AICC",
     .plotValue = "AICCVal",
     .plotName = "AICCPlot",
     .selectedStep = VsfMsg::SelectedStepAicc,
     .candidateName = "AICC",
     .candidateLabel = "AICC",
     .noImprovement = VsfMsg::SelectionStoppedLocalMinimumAicc,
     .stopHeader = VsfMsg::StopDetailsAicc,
     .stopCompare = VsfMsg::StopDetailsCompareAicc},
    {.criterion = VsfCriterion::Sbc,
     .keyword = R"('SBC')",
     .inSelect = true,
     .inStop = true,
     .inChoose = true,
     .name = VsfMsg::CriterionSbc,
     .largerBetter = false,
     .data = VsfCriterionData::FitOnly,
     .stepValues = true,
     .limitedRefuses = false,
     .label = "SBC",
     .longLabel = VsfMsg::CriterionLongSchwarzBayesianCriterion,
     .shortLabel = VsfMsg::GraphCriterionSbc,
     .plotShortLabel = VsfMsg::GraphCriterionSbc,
     .panelLabel = VsfMsg::CriterionSbc,
     .folds = false,
     .plotStem = "SBC",
     .plotValue = "SBCVal",
     .plotName = "SBCPlot",
     .selectedStep = VsfMsg::SelectedStepSbc,
     .candidateName = "SBC",
     .candidateLabel = "SBC",
     .noImprovement = VsfMsg::SelectionStoppedLocalMinimumSbc,
     .stopHeader = VsfMsg::StopDetailsSbc,
     .stopCompare = VsfMsg::StopDetailsCompareSbc},
    {.criterion = VsfCriterion::RSquare,
     .keyword = R"('RSQUARE')",
     .inSelect = true,
     .inStop = true,
     .inChoose = true,
     .name = VsfMsg::CriterionRSquare,
     .largerBetter = true,
     .data = VsfCriterionData::FitOnly,
     .stepValues = true,
     .limitedRefuses = false,
     .label = "RSquare",
     .longLabel = VsfMsg::GraphCriterionRSquare,
     .shortLabel = VsfMsg::GraphCriterionRSquare,
     .plotShortLabel = VsfMsg::GraphCriterionRSquare,
     .panelLabel = std::nullopt,
     .folds = false,
     .plotStem = nullptr,
     .plotValue = nullptr,
     .plotName = nullptr,
     .selectedStep = VsfMsg::SelectedStep,
     .candidateName = "RSquare",
     .candidateLabel = "R Square",
     .noImprovement = VsfMsg::SelectionStoppedLocalMaximumRsquare,
     .stopHeader = VsfMsg::StopDetailsRSquare,
     .stopCompare = VsfMsg::StopDetailsCompareRSquare},
    {.criterion = VsfCriterion::AdjRsq,
     .keyword = R"('ADJRSQ')",
     .inSelect = true,
     .inStop = true,
     .inChoose = true,
     .name = VsfMsg::CriterionAdjustedRSquare,
     .largerBetter = true,
     .data = VsfCriterionData::FitOnly,
     .stepValues = true,
     .limitedRefuses = false,
     .label = "AdjRSq",
     .longLabel = VsfMsg::CriterionLongAdjustedRSquare,
     .shortLabel = VsfMsg::FitStatAdjRSq,
     .plotShortLabel = VsfMsg::FitStatAdjRSq,
     .panelLabel = VsfMsg::CriterionAdjustedRSquare,
     .folds = false,
     .plotStem = "ADJRSQ",
     .plotValue = "ADJRSQVal",
     .plotName = "AdjRSqPlot",
     .selectedStep = VsfMsg::SelectedStepAdjustedRSquare,
     .candidateName = "AdjRSq",
     .candidateLabel = "Adjusted R Square",
     .noImprovement = VsfMsg::SelectionStoppedLocalMaximumAdjRsq,
     .stopHeader = VsfMsg::StopDetailsAdjRSq,
     .stopCompare = VsfMsg::StopDetailsCompareAdjRSq},
    {.criterion = VsfCriterion::Cp,
     .keyword = R"('CP')",
     .inSelect = true,
     .inStop = true,
     .inChoose = true,
     .name = VsfMsg::CriterionCP,
     .largerBetter = false,
     .data = VsfCriterionData::FullModelScale,
     .stepValues = true,
     .limitedRefuses = true,
     .label = "CP",
     .longLabel = VsfMsg::CriterionLongMallowsCP,
     .shortLabel = VsfMsg::CriterionCP,
     .plotShortLabel = VsfMsg::CriterionCP,
     .panelLabel = VsfMsg::CriterionCP,
     .folds = false,
     .plotStem = "CP",
     .plotValue = "CPVal",
     .plotName = "CPPlot",
     .selectedStep = VsfMsg::SelectedStepCP,
     .candidateName = "CP",
     .candidateLabel = "C(p)",
     .noImprovement = VsfMsg::SelectionStoppedLocalMinimumCp,
     .stopHeader = VsfMsg::StopDetailsCP,
     .stopCompare = VsfMsg::StopDetailsCompareCP},
    {.criterion = VsfCriterion::Bic,
     .keyword = R"('BIC')",
     .inSelect = true,
     .inStop = true,
     .inChoose = true,
     .name = VsfMsg::CriterionBic,
     .largerBetter = false,
     .data = VsfCriterionData::FullModel,
     .stepValues = true,
     .limitedRefuses = true,
     .label = "BIC",
     .longLabel = VsfMsg::CriterionLongSawasBayesianInformationCriterion,
     .shortLabel = VsfMsg::GraphCriterionBic,
     .plotShortLabel = VsfMsg::GraphCriterionBic,
     .panelLabel = VsfMsg::CriterionBic,
     .folds = false,
     .plotStem = "BIC",
     .plotValue = "BICVal",
     .plotName = "BICPlot",
     .selectedStep = VsfMsg::SelectedStepBic,
     .candidateName = "BIC",
     .candidateLabel = "BIC",
     .noImprovement = VsfMsg::SelectionStoppedLocalMinimumBic,
     .stopHeader = VsfMsg::StopDetailsBic,
     .stopCompare = VsfMsg::StopDetailsCompareBic},
    {.criterion = VsfCriterion::Press,
     .keyword = R"('PRESS')",
     .inSelect = true,
     .inStop = true,
     .inChoose = true,
     .name = VsfMsg::CriterionPress,
     .largerBetter = false,
     .data = VsfCriterionData::Press,
     .stepValues = true,
     .limitedRefuses = true,
     .label = "PRESS",
     .longLabel = VsfMsg::CriterionLongPredictedResidualSumSquares,
     .shortLabel = VsfMsg::GraphCriterionPress,
     .plotShortLabel = VsfMsg::GraphCriterionPress,
     .panelLabel = VsfMsg::CriterionPress,
     .folds = false,
     .plotStem = "PRESS",
     .plotValue = "PRESSVal",
     .plotName = "PRESSPlot",
     .selectedStep = VsfMsg::SelectedStepPress,
     .candidateName = "PRESS",
     .candidateLabel = "PRESS",
     .noImprovement = VsfMsg::SelectionStoppedLocalMinimumPress,
     .stopHeader = VsfMsg::StopDetailsPress,
     .stopCompare = VsfMsg::StopDetailsComparePress},
    {.criterion = VsfCriterion::Validate,
     .keyword = R"('VALIDATE')",
     .inSelect = true,
     .inStop = true,
     .inChoose = true,
     .name = VsfMsg::CriterionValidationAse,
     .largerBetter = false,
     .data = VsfCriterionData::Validation,
     .stepValues = true,
     .limitedRefuses = false,
     .label = "ValidationASE",
     .longLabel = VsfMsg::CriterionLongAverageSquaredErrorValidation,
     .shortLabel = VsfMsg::GraphCriterionValidationAse,
     .plotShortLabel = VsfMsg::GraphCriterionValidationAse,
     .panelLabel = VsfMsg::CriterionValidationAse,
     .folds = false,
     .plotStem = "Validate",
     .plotValue = "ValidateVal",
     .plotName = "ValidateASEPlot",
     .selectedStep = VsfMsg::SelectedStepValidationAse,
     .candidateName = "ValidateASE",
     .candidateLabel = "Validate ASE",
     .noImprovement = VsfMsg::SelectionStoppedLocalMinimumValidation,
     .stopHeader = VsfMsg::StopDetailsValidationAse,
     .stopCompare = VsfMsg::StopDetailsCompareValidationAse},
    {.criterion = VsfCriterion::Cv,
     .keyword = R"('CV'/'CROSSVALIDATE'/'XVALIDATE$')",
     .inSelect = true,
     .inStop = true,
     .inChoose = true,
     .name = VsfMsg::CriterionCrossValidationPress,
     .largerBetter = false,
     .data = VsfCriterionData::CvFolds,
     .stepValues = true,
     .limitedRefuses = true,
     .label = "CVPRESS",
     .longLabel = VsfMsg::CriterionLongFoldCrossValidationPress,
     .shortLabel = VsfMsg::GraphCriterionCvPress,
     .plotShortLabel = VsfMsg::CriterionLongCvPressFolds,
     .panelLabel = VsfMsg::CriterionLongCvPress,
     .folds = true,
     .plotStem = "CV",
     .plotValue = "CVVal",
     .plotName = "CVPRESSPlot",
     .selectedStep = VsfMsg::SelectedStepCvPress,
     .candidateName = "CVPRESS",
     .candidateLabel = "CV PRESS",
     .noImprovement = VsfMsg::SelectionStoppedLocalMinimumCvPress,
     .stopHeader = VsfMsg::StopDetailsCvPress,
     .stopCompare = VsfMsg::StopDetailsCompareCvPress},
    {.criterion = VsfCriterion::None,
     .keyword = R"('NONE')",
     .inSelect = false,
     .inStop = true,
     .inChoose = false,
     .name = VsfMsg::CriterionNone,
     .largerBetter = false,
     .data = VsfCriterionData::Nothing,
     .stepValues = false,
     .limitedRefuses = false,
     .label = nullptr,
     .longLabel = std::nullopt,
     .shortLabel = std::nullopt,
     .plotShortLabel = std::nullopt,
     .panelLabel = std::nullopt,
     .folds = false,
     .plotStem = nullptr,
     .plotValue = nullptr,
     .plotName = nullptr,
     .selectedStep = VsfMsg::SelectedStep,
     .candidateName = nullptr,
     .candidateLabel = nullptr,
     .noImprovement = std::nullopt,
     .stopHeader = std::nullopt,
     .stopCompare = std::nullopt},
    {.criterion = VsfCriterion::Cvex,
     .keyword = R"('CVEXTERNAL'/'CVEX'/'EXCV')",
     .inSelect = false,
     .inStop = false,
     .inChoose = true,
     .name = VsfMsg::CriterionExternalCrossValidation,
     .largerBetter = false,
     .data = VsfCriterionData::ExternalFolds,
     .stepValues = true,
     .limitedRefuses = false,
     .label = "CVEXPRESS",
     .longLabel = VsfMsg::CriterionLongFoldExternalCrossValidation,
     .shortLabel = VsfMsg::GraphCriterionExternalCvPress,
     .plotShortLabel = VsfMsg::CriterionLongExternalCvPressFolds,
     .panelLabel = VsfMsg::GraphCriterionExternalCvPress,
     .folds = true,
     .plotStem = "CVEX",
     .plotValue = "CVEXVal",
     .plotName = "CVEXPRESSPlot",
     .selectedStep = VsfMsg::SelectedStepExternalCv,
     .candidateName = nullptr,
     .candidateLabel = nullptr,
     .noImprovement = std::nullopt,
     .stopHeader = std::nullopt,
     .stopCompare = std::nullopt},
    {.criterion = VsfCriterion::L1,
     .keyword = R"('L1')",
     .inSelect = false,
     .inStop = true,
     .inChoose = false,
     .name = VsfMsg::CriterionL1Norm,
     .largerBetter = false,
     .data = VsfCriterionData::PathBound,
     .stepValues = false,
     .limitedRefuses = false,
     .label = nullptr,
     .longLabel = std::nullopt,
     .shortLabel = std::nullopt,
     .plotShortLabel = std::nullopt,
     .panelLabel = std::nullopt,
     .folds = false,
     .plotStem = nullptr,
     .plotValue = nullptr,
     .plotName = nullptr,
     .selectedStep = VsfMsg::SelectedStep,
     .candidateName = nullptr,
     .candidateLabel = nullptr,
     .noImprovement = std::nullopt,
     .stopHeader = std::nullopt,
     .stopCompare = std::nullopt},
}};

// Row i describes criterion code i. A row left out is refused above (its columns have no
// defaults) and a row too many does not fit the array; this refuses rows out of order.
[[nodiscard]] consteval bool vsfCriterionRowsInOrder(const VsfCriterionTable& table) {
  for (size_t i = 0; i < table.size(); ++i)
    if (table[i].criterion != static_cast<VsfCriterion>(i))
      return false;
  return true;
}
static_assert(vsfCriterionRowsInOrder(kVsfCriterionTraits),
              "kVsfCriterionTraits needs one row per VsfCriterion, in order");

// The columns of a row that follow from one another: an option that takes a criterion needs
// its keyword and its name; a value per step needs a value and labels for the graphs; the
// criterion plot's columns come together; a ranking of candidates, the stop note and the stop
// details are SELECT='s and STOP='s.
[[nodiscard]] consteval bool vsfCriterionRowAgrees(const VsfCriterionTraits& t) {
  const bool taken = t.inSelect || t.inStop || t.inChoose;
  const bool plotted = t.plotStem.get() != nullptr;
  return taken == (t.keyword.get() != nullptr) && (!taken || t.name.get().has_value()) &&
         (!t.stepValues || (t.data != VsfCriterionData::Nothing &&
                            t.data != VsfCriterionData::PathBound && t.label.get() != nullptr)) &&
         (t.label.get() == nullptr) == !t.longLabel.get().has_value() &&
         (t.label.get() == nullptr) == !t.shortLabel.get().has_value() &&
         plotted == (t.plotValue.get() != nullptr) && plotted == (t.plotName.get() != nullptr) &&
         plotted == t.panelLabel.get().has_value() && (!plotted || t.stepValues) &&
         (!t.candidateName.get() || t.inSelect) &&
         (t.candidateName.get() == nullptr) == (t.candidateLabel.get() == nullptr) &&
         (!t.noImprovement.get() || t.inStop) &&
         t.stopHeader.get().has_value() == t.stopCompare.get().has_value() &&
         (!t.stopHeader.get() || t.inStop) && (!t.largerBetter || t.stepValues) &&
         (!t.folds || t.data == VsfCriterionData::CvFolds ||
          t.data == VsfCriterionData::ExternalFolds);
}

[[nodiscard]] consteval bool vsfCriterionRowsAgree(const VsfCriterionTable& table) {
  for (const VsfCriterionTraits& t : table)
    if (!vsfCriterionRowAgrees(t))
      return false;
  return true;
}
static_assert(vsfCriterionRowsAgree(kVsfCriterionTraits),
              "a row of kVsfCriterionTraits contradicts itself");

// The row of a criterion.
[[nodiscard]] constexpr const VsfCriterionTraits& vsfCriterion(VsfCriterion criterion) {
  return kVsfCriterionTraits[static_cast<size_t>(criterion)];
}

// The criterion's place in arrays with a slot per criterion (kVsfCriterionCount of them).
[[nodiscard]] constexpr size_t vsfCriterionSlot(VsfCriterion criterion) {
  return static_cast<size_t>(criterion);
}

// True when a larger value of the criterion is better.
[[nodiscard]] constexpr bool vsfBigBetter(VsfCriterion criterion) {
  return vsfCriterion(criterion).largerBetter;
}

// True when a trial model's value of the criterion takes a pass over the data (PRESS, the
// validation ASE, CV PRESS).
[[nodiscard]] constexpr bool vsfCriterionTrialPass(VsfCriterion criterion) {
  const VsfCriterionData data = vsfCriterion(criterion).data;
  return data == VsfCriterionData::Press || data == VsfCriterionData::Validation ||
         data == VsfCriterionData::CvFolds;
}

// True when the criterion's value needs the full model's variance: the fit then fits the
// full model first and keeps its mean square error.
[[nodiscard]] constexpr bool vsfCriterionFullModel(VsfCriterion criterion) {
  const VsfCriterionData data = vsfCriterion(criterion).data;
  return data == VsfCriterionData::FullModel || data == VsfCriterionData::FullModelScale;
}

// True when SELECT=, STOP= or CHOOSE= asks for a criterion for which `holds` is true.
template <class Holds>
[[nodiscard]] constexpr bool vsfCriterionAsked(const VsfModelOptions& o, Holds holds) {
  return holds(o.select) || holds(o.stop) || holds(o.choose);
}

// True when the criterion is in the response's squared units (PRESS, the validation ASE, CV
// PRESS and the held-out error); a change of units shifts AIC, AICC and SBC by one constant
// and leaves the rest as they are.
[[nodiscard]] constexpr bool vsfCriterionInResponseUnits(VsfCriterion criterion) {
  return vsfCriterionTrialPass(criterion) ||
         vsfCriterion(criterion).data == VsfCriterionData::ExternalFolds;
}

// The name of a criterion an option took (every such row has one).
[[nodiscard]] constexpr VsfMsg vsfCriterionName(VsfCriterion criterion) {
  return *vsfCriterion(criterion).name.get();
}

// The criterion the elastic net's L2 search judges by: CHOOSE=, or STOP= when CHOOSE= names
// none, SL or NONE.
[[nodiscard]] constexpr VsfCriterion vsfElasticNetCriterion(const VsfModelOptions& o) {
  const VsfCriterion c = o.choose;
  return (c == VsfCriterion::NoneGiven || c == VsfCriterion::Sl || c == VsfCriterion::None) ? o.stop
                                                                                            : c;
}
