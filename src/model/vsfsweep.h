// Entering and removing effects by sweeping the model's packed X'X (and every fold's), the
// sweep of one column with its singularity tolerance, the extension of the swept matrix
// by appended rows, the physical removal of an effect's columns, the stored cross products
// and the trigger of the PRESS pass.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "data/vsfutilfile.h"
#include "support/stepcodes.h"

struct VsfModel;

// One data pass of a kernel pair through the threading frame; a failure is reported
// (VsfMsg::DataPagePassFailed) and its status returned, so that no caller goes on with partial
// sums.
[[nodiscard]] VsfStatus vsfDataPass(VsfModel* model, VsfSerialKernel serial,
                                    VsfThreadedKernel threaded, int64_t length);
// The report of a data pass whose frame returned `rc` (not Ok), as vsfDataPass makes it;
// returns the status the fit ends with.
[[nodiscard]] VsfStatus vsfReportPassFailure(VsfModel* model, VsfStatus rc);

// Effects with at least this many columns enter by the blocked sweep (qkzsweepBlock).
constexpr int32_t kVsfBlockSweepColumns = 64;
// The threads of in-memory sweeps: the run's thread count, also where memory kept the data
// passes to fewer.
[[nodiscard]] int32_t vsfSweepThreads(const VsfModel* model);

// Copies the first `columns` rows of triangle `from` into `to`, in runs of rows over the
// sweep threads: writing a fresh block of hundreds of megabytes is mostly the faults that
// bring its pages in, and those go in parallel.
void vsfCopyTriangle(const VsfModel* model, double* to, const double* from, int64_t columns);

// The sweep tolerance floor of a nearly zero swept diagonal (bits 0x20000000002302AC).
double vsfTinyPivot();
// The tolerance `tol` of a pivot whose swept diagonal is `pivot`, raised to vsfTinyPivot where
// that diagonal is not 0 and below it: every sweep of a column, taken in or judged again,
// refuses such a pivot, whatever its rule gave.
inline double vsfTinyPivotFloor(double pivot, double tol) {
  const double tiny = vsfTinyPivot();
  return pivot != 0.0 && std::fabs(pivot) < tiny ? tiny : tol;
}

// The rank rule. A column joins the model only when its pivot (its swept diagonal) exceeds
// both 1e-8 of its diagonal and a small multiple of the rounding error the elimination can
// have left in it. Where the model has an intercept (column 1 swept), the diagonal is the
// column's corrected sum of squares, a_kk - a_k1^2 / a_11, whatever the column's kind (dense
// columns shifted to their means, CLASS levels and constructed columns kept raw); the
// rounding bound counts the centring too, being formed from the sizes of the terms of the
// corrected sums (vsfJudgedSize), so that a diagonal that is only the cancellation of those
// terms (a constant column under weights, whose shift is not exactly its value) is refused.
// `centred` says that column 1 is the intercept.
//
// `diagonal`: a column is swept only while its swept diagonal exceeds 1e-8 of it (1e-8 when
// the diagonal is not positive), so that a column nearly collinear with the model stays out.
inline double vsfSweepTolerance(double diagonal) { return diagonal > 0 ? 1e-8 * diagonal : 1e-8; }
// Column k's diagonal as the rule judges it: about the means when `centred` and the intercept
// is swept, a_kk - a_k1^2 / a_11.
double vsfPivotDiagonal(const double* xpx, const char* flags, int64_t k, bool centred);
// The size of the terms column k's judged diagonal is formed from (vsfJudgedSize): the
// diagonal itself where the column was shifted to its mean, more where the centring cancels
// (a column kept raw whose mean lies far beyond its spread).
double vsfPivotSize(const double* xpx, const char* flags, int64_t k, bool centred);
// The variance inflation that a candidate column's elimination shows, its diagonal as the rule
// judges it (`judged`) over `pivot` where the pivot was taken; infinite for a pivot refused
// (the entry judges it again), 0 for a column without spread. Every trial's elimination, dense
// or by diagonal blocks, judges its pivots by it; the largest goes to model->trial.trialInflation.
inline double vsfInflationOf(double judged, double pivot, bool taken) {
  if (!(judged > 0.0))
    return 0.0;
  return taken ? judged / pivot : std::numeric_limits<double>::infinity();
}
// vsfInflationOf for column k of the model's X'X.
double vsfPivotInflation(const VsfModel* model, int64_t k, double pivot, bool taken);
// The size of the terms of a judged sum a_il - a_i1 a_l1 / a_11 (`mean` the second term, 0
// where the rule judges a_il as it stands), |a_il| + |a_i1 a_l1 / a_11|: the sums about the
// means are exact for sums off by c u times it, so it takes |a_il|'s place in the rounding
// bound. It is at least the judged sum and at most sqrt(size_ii size_ll).
inline double vsfJudgedSize(double raw, double mean) { return std::fabs(raw) + std::fabs(mean); }

// The rounding bound of a pivot. Sweeping column k after the swept set S computes its
// Schur complement s_k = a_kk - a_kS A_SS^-1 a_Sk by the recursion of Gaussian elimination,
// whose computed values are exact for X'X + E with |E_il| <= c u |a_il| to first order (u the
// unit roundoff; forming X'X from the rows leaves an error of the same shape). The pivot is
// then off by at most c u Q, Q = |v|' |X'X| |v| with v = (1, -b) over column k and S, b the
// coefficients of column k on S, which the swept matrix holds in column k at S's rows; about
// the means |a_il| is the size of the corrected sum's terms (vsfJudgedSize), since the
// elimination of the intercept is part of the computation. Q is at most r^2, r =
// sqrt(a_kk) + sum over S of |b_i| sqrt(a_ii), the diagonals as sizes. A pivot within
// kVsfPivotRounding Q of zero cannot be told from rounding and is refused; any other pivot
// above 1e-8 of its diagonal is a column the data determine, and is taken. (The measured
// error of such pivots on nearly dependent bases is below 20 u Q.)
constexpr double kVsfPivotRounding = 64.0 * 0x1p-53;
// The tolerance of a column whose judged diagonal is `diagonal` and whose rounding bound has
// root `root`: the larger of vsfSweepTolerance and kVsfPivotRounding root^2.
inline double vsfRoundingTolerance(double diagonal, double root) {
  const double t = vsfSweepTolerance(diagonal);
  const double b = kVsfPivotRounding * root * root;
  return b > t ? b : t;
}
// vsfRoundingTolerance of a column whose tight form |v|'|X'X||v| (vsfPivotForm) is `form`.
inline double vsfFormTolerance(double diagonal, double form) {
  return vsfRoundingTolerance(diagonal, std::sqrt(form));
}
// The rounding bound alone, with no part of the diagonal, of a column swept again where the
// model's judgement of its columns stands (a fold's refit of them, the many-level road's
// re-sweep behind the effect's columns): kVsfPivotRounding times `rough` (the root's square),
// or where that refuses `pivot`, times `tight()` (the tight form), which the caller forms
// only then.
template <class Tight> double vsfBoundTolerance(double pivot, double rough, Tight tight) {
  const double tol = kVsfPivotRounding * rough;
  if (pivot > tol)
    return tol;
  return kVsfPivotRounding * tight();
}
// The root r of column k's rounding bound in the model matrix `xpx` (unswept), `swept` and
// `flags` of order n: sqrt(xpx(k,k)) plus, over the swept columns i, |swept(k,i)|
// sqrt(xpx(i,i)), on the sizes of the corrected sums (the intercept left out) when
// `centred`. `column`,
// when given, holds the current values of column k at every index in place of swept's (the
// blocked sweep's strip).
double vsfPivotRoot(const double* xpx, const double* swept, const char* flags, int64_t n, int64_t k,
                    bool centred, const double* column = nullptr);
// The tight form of the bound's r^2: |v|' |X'X| |v|, v = (1, -b) over column k and the
// swept columns, which r^2 bounds by |X'X(i,l)| <= sqrt(X'X(i,i) X'X(l,l)); far below it
// where the swept columns are many and nearly orthogonal (the levels of a CLASS effect).
// O(n^2): it is formed only for a pivot that r^2 would refuse.
double vsfPivotForm(const double* xpx, const double* swept, const char* flags, int64_t n, int64_t k,
                    bool centred, const double* column = nullptr);
// The tolerance of sweeping column k into the model: vsfRoundingTolerance of its judged
// diagonal and vsfPivotRoot plus `extraRoot`, the part of the root over swept columns that
// the triangle does not hold (the structured road's many-level effect, or the columns a
// partial elimination took before k); where that refuses a pivot above 1e-8 of the diagonal,
// vsfRoundingTolerance of the square root of the tight form: vsfPivotForm without an extra
// root, vsfStructuredPivotForm of `road` (the model whose many-level effect the extra root
// is over) with one. An extra root no form is given for keeps the rough bound.
double vsfPivotTolerance(const double* xpx, const double* swept, const char* flags, int64_t n,
                         int64_t k, bool centred, const double* column = nullptr,
                         double extraRoot = 0.0, const VsfModel* road = nullptr);
// vsfPivotTolerance's second stage, given the pivot and the tolerance `tol` of its root.
double vsfTightTolerance(const double* xpx, const double* swept, const char* flags, int64_t n,
                         int64_t k, bool centred, const double* column, double extraRoot,
                         double pivot, double tol, const VsfModel* road = nullptr);
// vsfPivotTolerance of candidate column k of the model's full X'X, the root taken over the
// columns of the effects in the model only, a doubtful pivot judged from the rows
// (vsfRowTolerance).
double vsfCandidateTolerance(VsfModel* model, int64_t k);
// The tolerance `tol` the rule gives unswept column k, or, where it refuses the column's
// pivot within the rule's rounding band and the rows clear it (vsfRowPivot), 1e-8 of its
// diagonal (at least the tiny pivot). A failed pass was reported (model->passFailure); the pivot
// stays refused.
double vsfRowTolerance(VsfModel* model, int64_t k, double tol);
// True when the model's column 1 is its intercept, so that the rule judges sums about the
// means.
bool vsfRuleCentred(const VsfModel* model);

[[nodiscard]] VsfStatus vsfAddEffect(VsfModel* model, int32_t effect, uint8_t resweepAll,
                                     uint8_t trial);
// Whether the rank rule would refuse effect k (a single column, outside the model) entering
// now, in *refused: on the full X'X its pivot against the model's columns is at hand;
// without it the effect's row of X'X is formed past the model's columns (kept for its entry)
// and the swept matrix extended by it, as the entry would. Where the entry would judge the
// column otherwise (several columns, a many-level effect, a model swept again from X'X) it is
// left to the entry: *refused is false.
[[nodiscard]] VsfStatus vsfEntryRefused(VsfModel* model, int32_t k, bool* refused);
// Takes an effect out of the model: mode 0 only unsweeps it (a trial), 1 also takes it out of
// the model's list (and its rows out of a growing triangle), 2 also gives its place back to
// the containment counts. Reverse sweeps undo an entry only as well as the pivots they divide
// by allow: where an effect's column is nearly dependent on the rest of the model (or its
// reverse pivot is not positive) the swept matrix is rebuilt from the unswept X'X over the
// columns that stay, so that the rank, the sweep flags and the error SS are theirs.
void vsfDropEffect(VsfModel* model, int32_t effect, uint8_t mode);
// Brings back the effect that the last vsfDropEffect took out (a step undone, or taken out
// only to learn a criterion). It enters last; where that does not give back `rank`, the
// model's rank before the removal (a column nearly dependent on the model passes the pivot
// rule at its old place and not as the last one), the swept matrix is rebuilt with the
// effect at its old place in the sweep order, the state the removal started from.
// `resweepAll` as vsfAddEffect's. With `taken` (the sweep flags by column before the
// removal, on the full X'X), the state is the one those flags name: where the re-entry
// leaves another set of columns swept, of the same rank or not, the matrix is rebuilt
// sweeping exactly those columns (vsfResweepModel).
[[nodiscard]] VsfStatus vsfReenterEffect(VsfModel* model, int32_t effect, int32_t rank,
                                         uint8_t resweepAll, const char* taken = nullptr);
// Rebuilds the swept matrix (and every fold's) from the unswept X'X: the columns of the
// model's effects are swept in again in list order, leaving out effect `except` (-1: none),
// with effect `moved` (-1: none) taken at list position `movedAt` instead of its own. With
// `taken` (flags by column), exactly the columns it flags are swept in, past the rank rule:
// the swept state those flags were read from, whose set a rule judged along another road.
void vsfResweepModel(VsfModel* model, int32_t except, int32_t moved = -1, int32_t movedAt = 0,
                     const char* taken = nullptr);
void vsfSweep(VsfModel* model, int32_t column);
// An X'X column of an in-model effect (its q-th column) that a swept state has swept in.
struct VsfSweptColumn {
  int32_t effect;
  int32_t q;
  int64_t column;
};
// The columns of the in-model effects, in the model's list order, that `flags` (the model's
// or a fold record's sweep flags) has swept in; the structured road's many-level effect has
// none in the triangle.
[[nodiscard]] std::vector<VsfSweptColumn> vsfSweptColumns(const VsfModel* model, const char* flags);
// Whether vsfSweep would refuse unswept column k of the full X'X now (the rank rule against
// the columns swept so far, a doubtful pivot judged from the rows), leaving the model as it
// is.
[[nodiscard]] bool vsfSweepRefuses(VsfModel* model, int64_t k);
void vsfCVSweep(VsfModel* model, int32_t column, char state);
void vsfUpdateXpXi(VsfModel* model);
void vsfPhysicalDelete(VsfModel* model, int32_t position);
[[nodiscard]] VsfStatus vsfInitCross(VsfModel* model);
[[nodiscard]] VsfStatus vsfAddCross(VsfModel* model, int32_t effect);
// Keeps the cross products of `count` effects (each with every column) in one pass, in the
// store's next columns in the order given; vsfAddCross keeps those of the effect that entered.
[[nodiscard]] VsfStatus vsfAddCrossBatch(VsfModel* model, const int32_t* effects, int32_t count);
[[nodiscard]] VsfStatus vsfComputePress(VsfModel* model);
// One elimination step of the partial sweep on the model's swept matrix (trial adds that
// only need the SSE); 1 when done, 0 when the pivot fails the tolerance.
[[nodiscard]] int32_t vsfSweepPartial(VsfModel* model, int32_t column);
