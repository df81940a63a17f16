// The structured road of FORWARD, STEPWISE and BACKWARD over one many-level CLASS effect
// whose own block of X'X is diagonal (the GLM and reference codings of one CLASS variable:
// its columns never meet in a row), or that diagonal plus one element everywhere (the effect
// coding, also when levels have no rows). The packed triangles hold only the response and the
// dense columns; the effect keeps its block's diagonal D and its cross block C with those
// columns (VsfStructured), so that memory is k times the dense columns, not k^2. A trial of
// the effect takes its pivots from the model's swept columns (vsfDiagonalBlockPivots); its
// entry eliminates its columns in closed form, the triangle becoming A - C_J' D_J^-1 C_J (J
// its columns swept) and swept again over the model's columns, which gives every element of
// the small columns that the packed triangle of all columns would hold after the same pivots.
// Removing a small column unsweeps it in that state; removing the effect goes back to A
// swept over the model's small columns. Its estimates and their variances follow from the
// same elimination.
#pragma once

#include "data/vsfdata.h"
#include "data/vsfpassstate.h"
#include "support/messages.h"
#include "support/stepcodes.h"

#include <algorithm>
#include <cstdint>
#include <vector>

struct VsfModel;
struct VsfModelOptions;

// For its lifetime the model's triangles, sweep flags and structured state (where the road
// has one) are fold f's record's, so that the work of one state runs on a record as on the
// model; the model's rank comes back with the rest (records count none).
class VsfRecordView {
public:
  VsfRecordView(VsfModel* model, int32_t fold);
  ~VsfRecordView();
  VsfRecordView(const VsfRecordView&) = delete;
  VsfRecordView& operator=(const VsfRecordView&) = delete;

private:
  VsfModel* m_;
  double *xpx_, *swept_;
  char* flags_;
  VsfStructured* structured_;
  int32_t rank_;
};

// Whether the structured road costs less than the packed triangle for an effect of `columns`
// columns beside `small` others (the response and the dense columns). Entering the effect
// into one state sweeps its k columns over the packed triangle of all k + s columns, k (k +
// s)^2 / 2 operations, where the structured road reduces the small triangle, refreshes the
// effect's swept diagonal and sweeps the small columns again, about (3k + s) s^2 / 2; its
// memory, k s for the cross block and a few arrays of k, is below the triangle's
// (k + s)^2 / 2 wherever the work favours it, so the work decides. The road is taken where it saves
// at least a million operations an entry (about a millisecond): below that both roads cost next to
// nothing, and the packed one is kept. The structuredColumns seam replaces the rule by a least
// number of columns.
[[nodiscard]] bool vsfStructuredCheaper(int64_t columns, int64_t small);
// Whether small CLASS effects beside a many-level effect of `columns` columns cost less
// joining the structured road's `small` columns (the response, the dense columns and
// theirs), than left to the packed triangle of every column. Joined, each of the `rows` rows
// (negative: not known) adds its values to the small triangle, taken at rows s^2 / 2
// operations once, besides the road's entry of the effect (vsfStructuredCheaper); left out,
// entering the effect sweeps its k columns over the triangle of k + s, k (k + s)^2 / 2. The
// structuredColumns seam joins them wherever it sends the effect down the road.
[[nodiscard]] bool vsfJoinCheaper(int64_t columns, int64_t small, int64_t rows);

// Sets up the structured state when the fit goes the structured road: FORWARD, STEPWISE or
// BACKWARD on the packed X'X, with cross validation by fold records (each gets a state of
// its own) or none, and no hierarchy or standardisation, and one sparse effect, the last in
// column order (vsfStructuredEffect), for which that road is cheaper (vsfStructuredCheaper). The
// triangles are then made for the small columns only. Ok or NoMemory.
[[nodiscard]] VsfStatus vsfStructuredSetUp(VsfModel* model);
// The sparse effect the structured road would take: the last in column order, when every
// sparse effect before it joins the road (VsfEffectEntry::joined); -1 otherwise.
[[nodiscard]] int32_t vsfStructuredEffect(const VsfModel* model);
// The columns from which a sparse effect beside `small` columns (the intercept's and the other
// effects', with the response's) takes the structured road (vsfStructuredCheaper).
[[nodiscard]] int32_t vsfStructuredLeastColumns(int64_t small);
// Why the structured road does not serve this fit, as the message that says so; VsfMsg{} when
// it serves it.
[[nodiscard]] VsfMsg vsfStructuredRefusal(const VsfModel* model);
// What the options alone (with the fold records' count `folds`) say of the road: the message
// of the first rule the fit fails, VsfMsg{} when they let it take the road.
[[nodiscard]] VsfMsg vsfStructuredFitRefusal(const VsfModelOptions& options, int32_t folds);
// The road of a fit planned before its data are read, from its options and effect list, as it
// would be with the cross products built whole: VsfMsg{} with the road's shape in `road` when
// the fit takes the structured road, else the message of the rule it fails (and `road` has no
// entry). The reading pass may still give the road up for rows with two values in the
// effect's block.
[[nodiscard]] VsfMsg vsfStructuredPlan(const VsfModelOptions& options,
                                       const VsfDataSettings& settings, VsfRoadShape* road);
// The pass that forms the small triangle and the effect's diagonal and cross block, and the
// folds' (the sums outside each fold, about each record's own means where the pass sums every
// fold about its centre; the folds' small triangles are left to vsfCVFullOutsideFolds as on
// the packed road). When a
// row has two values in the effect's block the road is given up: the triangles grow to
// every column (reporting, as they always do, a triangle that is too large) and the caller
// forms them. Ok, or a failing pass's or the growth's status; an overflowing sum sets the fit
// status.
[[nodiscard]] VsfStatus vsfStructuredCrossProducts(VsfModel* model);
// The trial SSE of adding the effect and the number of its columns that would be swept; Ok,
// or ReportedFailure as for vsfStructuredEnter.
[[nodiscard]] VsfStatus vsfStructuredTrial(VsfModel* model, double* sse, int32_t* sweptCount);
// Enters the effect (vsfAddEffect's work for it) into the model and each fold record (the
// records refit the columns the model took, VsfDiagonalBlock::modelTaken); Ok,
// NoMemory, or ReportedFailure when the model's swept columns have no Cholesky
// factor (logged, kept in passFailure).
[[nodiscard]] VsfStatus vsfStructuredEnter(VsfModel* model);
// Takes the effect's columns out of the model and each fold record (vsfDropEffect's
// unsweeping of them): the triangle is the model's small columns swept again without them,
// from X'X, so that the model's inflation starts again (model->sweptInflation).
void vsfStructuredLeave(VsfModel* model);
// After a column of the small triangle is swept with the effect in the model: the swept
// diagonal of the effect's columns, in the model's state and each fold record's (whose
// records sweep the same columns), is to be formed again, which its readers do on demand (a
// removal or entry trial that is undone never forms it), and the refinement's corrections of
// its estimates no longer hold. Ok.
[[nodiscard]] VsfStatus vsfStructuredRefresh(VsfModel* model);
// Forms the swept diagonal that vsfStructuredRefresh left to be formed: each step's record
// settles it, so that a model whose swept columns have no Cholesky factor ends the fit at
// the step that made it. Ok, or ReportedFailure as for vsfStructuredEnter.
[[nodiscard]] VsfStatus vsfStructuredSettle(VsfModel* model);
// The part of small column k's rounding root (vsfPivotRoot) over the effect's swept
// columns, which the triangle does not hold: the sum over them of |b_j| sqrt(X'X(j, j)), b
// the coefficients of column k on the model's columns (0 without the effect).
[[nodiscard]] double vsfStructuredPivotRoot(const VsfModel* model, int64_t k);
// The tight form of small column k's rounding bound with the effect in the model, |v|' |X'X|
// |v| over column k, the swept small columns and the effect's swept columns, each element at
// the size of its terms as the rank rule takes them (vsfJudgedSize); -1 without the effect,
// where vsfPivotForm over the triangle is the form.
[[nodiscard]] double vsfStructuredPivotForm(const VsfModel* model, int64_t k, bool centred);
// The largest variance inflation of the effect's swept columns, a_jj (X'X)^-1_jj with a_jj
// about the means when `centred` and the intercept is swept; 0 without the effect in the model.
[[nodiscard]] double vsfStructuredLargestInflation(const VsfModel* model, bool centred);
// One correction of the refinement (vsfRefineSwept) with the effect in the model: b += (X'X)^-1
// g, g the residuals' cross products with the swept small columns (`smallSums`, by column) and
// with the effect's columns (`effectSums`), by the same elimination: the small columns' in
// column 0 of the swept matrix, the effect's kept in its state until the state changes.
void vsfStructuredCorrect(VsfModel* model, const double* smallSums, const double* effectSums);
// Makes the model's state (a fold record's under VsfRecordView) give `estimates` (by column
// of the effect, those of its swept columns) as its effect's estimates beside the small
// columns' in column 0 of its swept matrix: a refit of a fold from a factor of its rows
// (vsfFoldsFromFactor). The difference from its elimination is held as the state's
// refinement.
void vsfStructuredEstimatesAre(VsfModel* model, const double* estimates);
// The effect's estimates on the shifted scale and their standardized values, and the
// diagonal of (X'X)^-1 of its columns (-1 for columns not swept), into the model's arrays.
void vsfStructuredBeta(VsfModel* model, double responseScale);
void vsfStructuredVariance(VsfModel* model);
// Keeps the effect's state before a search's removal trials, and puts it back after each.
void vsfStructuredSave(VsfModel* model);
void vsfStructuredReload(VsfModel* model);
// Whether the effect is in the model with at least one of its columns swept.
[[nodiscard]] bool vsfStructuredAnySwept(const VsfModel* model);
// Takes small effect k's columns out of the model and each fold record by sweeping the small
// columns that stay again, on the reduced triangle with the effect in the model (on the small
// one without it, as the effect's own removal does), where they are fewer than k's swept
// columns: unsweeping each of those would cost more. False, doing nothing, otherwise (the
// caller unsweeps them).
[[nodiscard]] bool vsfStructuredDropSmall(VsfModel* model, int32_t k);
// After small columns have left with the effect in the model and some of its columns left
// out: its columns taken again against the small columns still swept, so that a column that
// depended on one that left comes in (as the packed road's unswept columns are tried again).
// A failure is kept in passFailure.
void vsfStructuredRetake(VsfModel* model);
// After small columns have left by reverse sweeps that lose accuracy (vsfDropEffect), with
// the effect in the model: the small triangle taken again from the reduced one (the effect's
// swept columns eliminated in closed form from X'X) and swept over the small columns still
// swept, in each state, so that no rounding of the reverse sweeps stays in the estimates'
// variances.
void vsfStructuredResweep(VsfModel* model);
// The terms of fold f's held-out error that the effect's columns add to the quadratic form
// over the small columns `cols` with u minus the fold record's coefficients on them: the
// fold's own sums (the model's less the record's) against the record's coefficients on the
// effect; adds their part to the bound on the terms' size and to that on the model's sums'
// (`total`, which bounds the rounding of the recovered sums). 0 without the effect in the
// model.
[[nodiscard]] double vsfStructuredFoldPart(const VsfModel* model, int32_t f,
                                           const std::vector<int64_t>& cols,
                                           const std::vector<double>& u, double* bound,
                                           double* total);
// Where the road cannot give the packed road's fit and the packed triangle fits the memory
// plan, ends the fit (FitLostToLevels in passFailure), which vsfProcess makes again on the
// packed triangle: a small column the model had taken refused when swept again after the
// effect's columns (its pivot within the rounding of the reduced triangle, where the packed
// triangle, which takes the small columns first and judges the levels after them, keeps
// it), or a refinement whose corrections no longer settle (vsfRefineSwept). Where the
// packed triangle does not fit, the road goes on.
void vsfStructuredGiveUp(VsfModel* model);
// Whether fold f's record's state left out a column of the effect that the model took while
// the fold's training rows hold its level (VsfStructured::lost): its sums lost the column's
// digits, and the fold refits another model unless its rows refit it.
[[nodiscard]] bool vsfStructuredLostLevel(const VsfModel* model, int32_t f);
// Takes the columns a fold record's sums lost (VsfStructured::lost) into its state, under
// VsfRecordView, for a refit from a factor of its rows that holds them (vsfFoldsFromFactor):
// the reduced triangle less their part too, and the small columns the record had swept again
// over it by either sign of pivot, as the factor's refit sweeps the small columns its sums
// refused; the state is as worn as its sums, and only the refit's estimates stand. The columns
// leave the state again before its small columns are next swept by the sums' rule. False where
// a small column's pivot is then 0.
[[nodiscard]] bool vsfStructuredTakeLost(VsfModel* model);
// The effect out of the model and the folds' models when they are emptied after the full
// model's fit (its triangles are the caller's).
void vsfStructuredEmpty(VsfModel* model);
// The effect's estimates into its state and each fold record's for a pass over the rows that
// predicts them (0 for columns not swept, and all 0 without the effect in the model).
void vsfStructuredSetEstimates(VsfModel* model);
// The small triangle `xpx` less the part of the effect's swept columns J (st.swept),
// C_J' B_J^-1 C_J with B_J their block, into `A` (the small columns' packed triangle); the
// work goes over the levels' nonzero cross products about the small columns' `shifts`
// (vsfStructuredShifts).
void vsfStructuredReduce(const VsfStructured& st, const double* xpx, double* A,
                         const std::vector<double>& shifts);
// The shift of each small column's rows (0 where the pages are not shifted).
[[nodiscard]] std::vector<double> vsfStructuredShifts(const VsfModel* m);
// The inverse of the block B_J = D_J + rho 1 1' of the effect's swept columns J, element by
// element, taken about its column `least` of smallest D_0 (-1 without rho, the block then
// diagonal) so that no term divides by D_0 (0 for a level without rows under the effect
// coding): with a = 1 / rho plus the sum of 1 / D_j over the others and g = D_0 a + 1, a / g
// at `least`, -1 / (D_j g) between it and j, and 1 / D_j less D_0 / (D_j D_l g) elsewhere.
struct VsfBlockInverse {
  int64_t least;
  double d0, a, g;
};
[[nodiscard]] VsfBlockInverse vsfStructuredBlockInverse(const VsfStructured& st);
[[nodiscard]] double vsfStructuredBlockInverseAt(const VsfStructured& st,
                                                 const VsfBlockInverse& inverse, int64_t j,
                                                 int64_t l);
// r := B_J^-1 r over the swept columns J (r indexed by the effect's columns, the others left
// as they are).
void vsfStructuredSolve(const VsfStructured& st, std::vector<double>& r);
// The block of the hand-over's swept triangle `T` (packed over the reduced columns and the
// response) of the reduced columns whose model column is `source[r]` (-1: left out): the
// inverse of the selected model's X'X on the shifted scale, with the effect's columns that
// have a source as its swept ones. False when a small column cannot be swept in.
[[nodiscard]] bool vsfStructuredCovariance(VsfModel* model, const std::vector<int32_t>& source,
                                           double* T);

// Row j of a state's cross block over all its small columns (VsfStructured::cross: the dense
// columns in place, the joining effects' from their list, the rankOne rows' part added), in a
// row of `small` values kept zero between rows, so that a row costs its stored values only
// (all small columns while rankOne rows add to every row).
class VsfCrossRow {
public:
  explicit VsfCrossRow(const VsfStructured& st);
  [[nodiscard]] const double* operator()(int64_t j);

private:
  const VsfStructured& st_;
  std::vector<double> row_;
  int64_t last_ = -1;
};
// One element of that row, as VsfCrossRow forms it to the sign of a zero (the rankOne rows'
// sums added only where kept), without forming the row: inline, since the levels' loops read
// a few elements of every row.
[[nodiscard]] inline double vsfStructuredCrossAt(const VsfStructured& st, int64_t j,
                                                 int64_t column) {
  double v = 0.0;
  if (column < st.dense) {
    v = st.cross[j * st.dense + column];
  } else {
    const int32_t* first = st.joinColumn + st.joinStart[j];
    const int32_t* last = st.joinColumn + st.joinStart[j + 1];
    const int32_t* at = std::lower_bound(first, last, static_cast<int32_t>(column));
    v = at != last && *at == column ? st.joinValue[at - st.joinColumn] : 0.0;
  }
  return st.rankOne != 0.0 ? v + st.rankCross[column] : v;
}
