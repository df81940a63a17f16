// The selected model as the row writers of the OUTDESIGN and SCORE data sets read it: its
// parameters with their design columns, the variables it needs, whether an observation's
// row can be predicted (one rule for every writer), the estimates it predicts with and the
// prediction from a design row.
#pragma once

#include "design/levrowstatus.h"
#include "support/stepcodes.h"

#include <cstdint>
#include <vector>

struct VsfContext;
struct VsfModel;
struct LevRegContext;
struct HostDataSet;
struct HostVariable;

struct VsfSelectedModel {
  bool usable = false; // fit status 0 with estimates; under model averaging: resamples averaged
  // The design effects of the selected effects, each once (a split CLASS effect's selected
  // levels share theirs), in effect order.
  std::vector<int32_t> designEffects;
  std::vector<int32_t> parms;              // model parameter number of each selected parameter
  std::vector<int32_t> columns;            // its design column
  std::vector<uint8_t> needClass;          // per CLASS variable of the design
  std::vector<uint8_t> needNumeric;        // per numeric variable of the design
  std::vector<int64_t> unseenCombinations; // per design effect: rows with a new combination
  bool unseenLevel = false;                // some row had a needed CLASS level not in the fit
  int64_t unformedRows = 0; // rows refused because some effect of the design could not be formed
};

// The selected effects of `model` (status selected, intercept or forced) in effect order.
// Under model averaging these are the averaged model's effects, whatever the last
// resample's fit gave.
void vsfSelectedModelOf(const VsfContext* ctx, const VsfModel* model, VsfSelectedModel* out);

// The estimate of every model parameter that the group predicts with: the fit's, or under
// model averaging the averaged estimate that AVERAGEMETHOD= chooses (0 outside the averaged
// model). Empty when the model has no estimates.
std::vector<double> vsfModelEstimates(const VsfContext* ctx, const VsfModel* model);

// The weight and frequency test of a row that zlevrgd read with `status`: true when the row
// cannot count. A missing or absent frequency counts as 1 (written back rounded down).
[[nodiscard]] bool vsfRowWeightBad(const LevRegContext* context, LevRowStatusSet status,
                                   double* weight, double* frequency);

// True when the current row can be predicted: every needed numeric value present, every
// needed CLASS level known (else the unseen-level note is due), no computed value missing
// and, under GLM coding, every selected effect's level combination seen in the fit (else
// that effect's counter is raised). With constructed effects in the design a row is
// predicted only when every effect of the design can be formed from it, selected or not;
// the rows refused for that alone are counted for the note of vsfNoteUnformedRows.
[[nodiscard]] bool vsfRowPredictable(VsfSelectedModel* model, const LevRegContext* context,
                                     LevRowStatusSet status);

// The note on the rows that `rows` counts as refused because an effect of the design could
// not be formed from them (the rule above); nothing when there are none.
void vsfNoteUnformedRows(int64_t rows, HostDataSet* data);

// Appends the row put to the output data set `out`: Ok, or ReportedFailure after the
// message that the data set could not take the row.
[[nodiscard]] VsfStatus vsfAppendRow(HostDataSet* out);

// The description of variable `number` of the input data set `data`, which a writer copies
// to its output: null after the message that the variable could not be described.
[[nodiscard]] HostVariable* vsfCopiedVariable(HostDataSet* data, int32_t number);

// The prediction of a design row (design columns) under `coefficients` (model parameters),
// summed in selected-effect order.
double vsfPredictRow(const VsfSelectedModel& model, const double* coefficients, const double* row);
