// The per-run state of the results that the printers and graphs share inside the
// procedure context: step labels, optimal steps, display switches derived from the
// options, and the open "SelectedModel" group. The context (driver) embeds it.
#pragma once

#include "support/hostif.h"
#include "support/vsfcriterion.h"

#include <cstdint>

struct VsfDesignOutput;
struct VsfScoreOutput;

// One label: characters (no terminator) and length.
struct VsfLabel {
  const char* text;
  int16_t length;
};

struct VsfResultsState {
  // Step labels of the displayed fit (graphs).
  uint8_t* effectInPath;
  VsfLabel* stepLabels;
  int32_t stepLabelCount;
  int32_t firstLabelledEntry;
  int32_t stepLabelWidth;
  // Parameter labels of the coefficient plots.
  uint8_t* parmInPlot;
  int32_t* parmCurve;
  VsfLabel* parmLabels;
  int32_t parmLabelWidth;
  uint8_t* labelKept;
  int32_t keptLabelWidth;
  // Optimal steps by criterion slot (vsfCriterionSlot), as displayed step numbers.
  int32_t optimalStep[kVsfCriterionCount];
  double chosenStepValue;
  RvqText* chosenStepLabelText;
  double lastNormBeta;
  double chosenNormBeta;
  // Labels and short names of the design columns for the OUTDESIGN data set (one per
  // column, null for columns of effects that were not labelled).
  char** designLabels;
  char** designShortNames;
  int32_t designLabelCount;
  // The OUTDESIGN data set's columns and kept rows (vsfoutdesign.cpp), or null.
  VsfDesignOutput* designOutput;
  // The OUT= columns of the SCORE statements (vsfscore.cpp), or null.
  VsfScoreOutput* scoreOutput;
  // Timers of the selected-effects table and of the macro variables.
  double effectsTableTime;
  double macroTime;
  double scoreTime;
  // _VSFIND / _VSFMOD: VsfMsg::MacroVariablesPastMaxmacro already given.
  uint8_t macroLimitWarned;
  uint8_t designMacroLimitWarned;
};
