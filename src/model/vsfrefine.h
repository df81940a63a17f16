// Iterative refinement of a least-squares step whose design is nearly dependent: the swept
// matrix's coefficients are corrected on their own residuals, formed from the rows, and the
// error SS the step reports is the residuals' sum of squares. The rank rule decides which
// columns the data determine; this keeps the numbers of such a fit those of its estimates.
#pragma once

#include "support/stepcodes.h"

#include <cstdint>
#include <vector>

struct VsfModel;

// The largest variance inflation a_cc (X'X)^-1_cc of the model's swept columns above which a
// step is refined: below it the sweep's error SS agrees with the estimates' own to well
// within 1e-8 of the total.
constexpr double kVsfRefineInflation = 1e6;
// Whether a fit whose swept columns' largest variance inflation is `inflation` is nearly
// dependent: its step, or a fold's record, is refined on the rows, a candidate's trial is its
// entry, an entry sweeps every column again from X'X and a step a stop rule may undo is kept.
[[nodiscard]] inline bool vsfNearlyDependent(double inflation) {
  return inflation > kVsfRefineInflation;
}

// The part of the corrected total sum of squares by which the last correction of a refined
// step may still move its error SS on the structured road (vsfRefineSwept): the packed road's
// second correction moves it by some 1e-12 of the total.
constexpr double kVsfRefineSettled = 1e-10;

// The part of the response's uncorrected sum of squares below which the error SS of a model
// without an intercept is refined: its cross products are about 0, so the swept error SS and
// the estimates carry the rounding of y'y (eps y'y), which below this part of y'y leaves the
// error SS fewer than ten of its digits.
constexpr double kVsfFarResponse = 1e-6;

// The share of kVsfRefineInflation past which a candidate's trial is its entry
// (vsfTrialIsEntry): the inflation a trial's elimination shows is that of its last columns
// against those before them, which the entry's largest inflation over every column can
// exceed by some factor.
constexpr double kVsfTrialInflationShare = 1.0 / 64.0;

// Whether a candidate's trial must be its entry itself (swept in fully and refined as the
// step that takes it would be), so that the criterion the trial gives is the one the entry
// prints: the model's step was refined (model->sweptInflation, or a model without an
// intercept far from the origin, vsfFarFromOrigin), or the trial's elimination, dense or by
// diagonal blocks, showed an inflation past kVsfTrialInflationShare of kVsfRefineInflation or
// a refused pivot (`trialInflation`), where the entry's rank rule looks at the rows and its
// error SS at the refinement.
[[nodiscard]] bool vsfTrialIsEntry(const VsfModel* model, double trialInflation);
// Whether an error SS `ss` formed from the swept sums lies below kVsfFarResponse of the
// response's uncorrected sum of squares, whose rounding those sums carry: the model's own,
// a candidate's trial or a single column's score, judged alike.
[[nodiscard]] bool vsfBelowFarResponse(const VsfModel* model, double ss);
// Whether the model has no intercept and its swept error SS is below kVsfFarResponse of the
// response's uncorrected sum of squares (vsfBelowFarResponse): a response far from 0 against
// its spread.
[[nodiscard]] bool vsfFarFromOrigin(const VsfModel* model);
// Whether fold f's record, standing in for the model (VsfRecordView), is far from the origin
// by the model's own test (vsfFarFromOrigin): its sums then hold its coefficients no better
// than the model's hold its own, whatever the inflation of its columns.
[[nodiscard]] bool vsfFoldFarFromOrigin(VsfModel* model, int32_t f);
// Refines the current step of a least-squares fit (no selection, or the sequential methods)
// when its swept columns' largest variance inflation, or the largest the swept matrix has held
// since it was formed from X'X (model->sweptInflation), exceeds kVsfRefineInflation, or when
// the model is far from the origin (vsfFarFromOrigin), whose error SS the rows then resolve
// (model->roundingSS falls to kVsfEps of the weighted sum over the rows of the squared sizes
// |y| + sum |x_c b_c| of the terms each residual is summed from, which bound the residuals'
// rounding): two
// corrections of the coefficients in column 0 of the swept matrix, each from one pass over
// the rows, and a third pass for the error SS, which replaces the swept one (and the
// model's SSE). A fit is refined once: one that the last refinement left as it is
// (model->refinedDigest) keeps its estimates, so that a step's criteria, its record and a
// trial that is the step read the same ones. Returns a pass's failure, Ok otherwise.
[[nodiscard]] VsfStatus vsfRefineStep(VsfModel* model);
// The refinement of vsfRefineStep for any fit whose swept matrix holds the least-squares fit
// of the columns swept over the rows as the pages hold them (the least-angle path's end among
// them), on the same condition; nothing on split levels stored sparse, whose rows the pass
// does not read as the matrix sums them. On the structured road the many-level effect's
// columns take part by its elimination (vsfStructuredCorrect).
[[nodiscard]] VsfStatus vsfRefineSwept(VsfModel* model);
// Two corrections of the coefficients in column 0 of a swept matrix of the whole X'X as the
// pages lay it out (the dense values after the response, then the sparse slots' columns),
// each from one residual pass over the training rows. Returns a pass's failure code, 0
// otherwise.
[[nodiscard]] VsfStatus vsfRefineLaidOut(VsfModel* model);
// The largest variance inflation a_cc (X'X)^-1_cc of the model's swept columns, the intercept
// left out, a_cc as the rank rule judges it.
[[nodiscard]] double vsfLargestInflation(const VsfModel* model);
// The inflation a step's fit is judged by: the larger of vsfLargestInflation and the largest
// the swept matrix has held since it was formed from X'X (model->sweptInflation), whose
// rounding it still carries.
[[nodiscard]] double vsfStepInflation(const VsfModel* model);
// Refits from its rows each CV fold record of a least-squares fit (on the packed, growing or
// structured road) whose sums cannot hold its held-out error (vsfFoldSumsHoldDigits, given
// the fold's largest variance inflation `inflation[f]` from vsfFoldInflations, its held-out
// rows' summed leverage `leverage[f]` from vsfFoldSums and whether its record lost a column
// of the model): from a factor of its
// training rows where one serves it (vsfFoldsFromFactor), else by refinement: corrections in
// column 0 of its swept matrix, each from one pass over the fold's training rows (those of the
// other folds, as the record sums them, X'r summed with compensation; the many-level effect's
// estimates corrected by its elimination, vsfStructuredCorrect) until one settles, and a last
// pass for its training error SS, which replaces the swept one; a correction that raises the
// residual SS beyond rounding is undone. Sets *refined to the number of folds refitted, whose
// held-out errors the caller must then form from the rows. Returns a pass's failure, Ok
// otherwise.
[[nodiscard]] VsfStatus vsfRefineFolds(VsfModel* model, const std::vector<double>& inflation,
                                       const std::vector<double>& leverage, int32_t* refined);
// Whether a CV fold record's column 0 holds a refit from its rows (vsfRefineFolds would
// refit it at the record's current state) rather than its sweep's coefficients: reverse
// sweeps from it would carry the refit into the coefficients of the columns left in, which
// the rest of the swept matrix does not match, so a removal rebuilds the records instead.
[[nodiscard]] bool vsfFoldRecordsRefitted(VsfModel* model);
// Per fold, the largest variance inflation of its record's swept columns, as
// vsfLargestInflation judges the model's, the many-level effect's columns counted as the
// model's settled state has them (0 for every fold of a fit whose folds are not refined).
void vsfFoldInflations(const VsfModel* model, std::vector<double>& inflation);
