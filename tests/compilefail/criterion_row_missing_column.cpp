// A criterion's traits row must give every column: one left out is refused, not zeroed.
#include "support/vsfcriterion.h"

constexpr VsfCriterionTraits kRow{.criterion = VsfCriterion::Aic,
                                  .keyword = R"('AIC')",
                                  .inSelect = true,
                                  .inStop = true,
                                  .inChoose = true,
                                  .name = VsfMsg::CriterionAic,
#ifdef QRX_COMPILE_FAIL_CONTROL
                                  .largerBetter = false,
#endif
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
                                  .stopCompare = VsfMsg::StopDetailsCompareAic};
