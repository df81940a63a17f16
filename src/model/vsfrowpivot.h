// The rank rule's second look at a doubtful pivot: one the rule refuses only because the
// rounding the sweep can leave in it covers it. Such a pivot is formed again from the rows,
// by orthogonalising the column against the swept columns (Householder's QR of the weighted
// rows), whose rounding is u times the sizes of the residual's terms, not u times their
// squares as in the swept sums, and so tells a column the data determine from a dependent
// one where those sums cannot.
#pragma once

#include "support/stepcodes.h"

#include <cstdint>
#include <mutex>
#include <vector>

struct VsfModel;

// What the row pass of a pivot reads and where it puts the rows.
struct VsfRowPivotJob {
  int32_t fold = -1;                   // the fold whose rows are left out (-1: none)
  int32_t width = 0;                   // values per row: the swept columns and the judged one
  int32_t columns = 0;                 // the triangle's columns
  const int32_t* place = nullptr;      // per X'X column, its place in a row (-1: none)
  std::vector<double>* rows = nullptr; // the rows, `width` values each
  std::mutex* lock = nullptr;          // guards `rows`
};

// The part of its row pivot within which the swept sums' pivot of a column taken from the
// rows lies: the sweep carries on from those sums, and a column whose pivot they have lost
// would leave every later pivot and the fit to their rounding. The swept matrix is left as
// the elimination made it, so that the rule's rounding bound still holds for later pivots.
constexpr double kVsfRowPivotAgreement = 1e-2;

// The most that the first-order rounding of the row pivot, kVsfPivotRounding (2 + the
// swept columns) sqrt(rows) times the condition of the swept columns' factor (their lengths
// scaled out), may reach for the rows to judge it.
constexpr double kVsfRowPivotFirstOrder = 1e-3;

// kVsfRowPivotAgreement of a fold's pivot of a column the model has taken: a fold that
// left it out would refit another model than the one its held-out error judges.
constexpr double kVsfFoldPivotAgreement = 0.25;

// The part of its diagonal a pivot judged from the rows must reach: a column in the band
// between the rule's floor (1e-8) and this is one a sound rule may refuse, and taking it
// leaves the sums' later pivots to the rounding of a nearly dependent set.
constexpr double kVsfRowPivotFloor = 1e-7;

// The most values (rows times the swept columns and one) a row judgement holds; a larger
// design keeps the rule's refusal.
constexpr double kVsfRowPivotValues = 1 << 24;
// The most multiply-adds (rows times the square of the swept columns and one) a row
// judgement's factor may take: each doubtful pivot of a sweep is judged afresh, and a design
// of a thousand columns whose levels all come out doubtful would otherwise spend minutes
// where the sweep spends a second. A larger one keeps the rule's refusal.
constexpr double kVsfRowPivotWork = 1 << 28;

// The band below the rule's rounding tolerance where a refused pivot is doubtful: from
// 1/kVsfDoubtfulBand of it (u times the bound's form, the rounding the elimination leaves)
// up. A pivot below that band is lost to the swept sums, whatever the rows give it.
constexpr double kVsfDoubtfulBand = 64.0;

// Whether a pivot the rule refused at tolerance `tol` lies in its rounding band: the
// rounding bound set the tolerance above 1e-8 of the judged diagonal `diagonal`, and the
// pivot is within kVsfDoubtfulBand of it.
[[nodiscard]] bool vsfPivotDoubtful(double pivot, double tol, double diagonal);

// Column k's pivot on the model's swept columns (column 1 among them when the model has an
// intercept, so that the factor centres it) formed from the training rows with their
// weights and frequencies: the rows, ordered by their values, factored by Householder's QR.
// In *pivot when the column is to be taken, 0 otherwise: the rows' pivot is above
// kVsfRowPivotFloor of `diagonal` and above the rounding bound of its residual, the
// factor's condition within kVsfRowPivotFirstOrder, and the swept pivot, which the sweep
// then divides by, within kVsfRowPivotAgreement of it. Nothing is judged (0) where the rows
// do not hold the sums of the model's X'X (the structured road's many-level effect, split
// levels stored sparse, ridge, pages shifted about means without a swept intercept), would
// not fit in kVsfRowPivotValues or would take more than kVsfRowPivotWork. Returns a pass's failure,
// Ok otherwise.
[[nodiscard]] VsfStatus vsfRowPivot(VsfModel* model, int64_t k, double diagonal, double* pivot);
// vsfRowPivot of column k in fold f's sums (the training rows outside the fold), which the
// model has taken: without a floor under the pivot (the model's judgement), the swept
// pivot within kVsfFoldPivotAgreement of the rows'.
[[nodiscard]] VsfStatus vsfFoldRowPivot(VsfModel* model, int32_t f, int64_t k, double* pivot);
