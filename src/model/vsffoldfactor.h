// The coefficients of cross-validation folds whose sums cannot hold their held-out error
// (vsfFoldSumsHoldDigits): a triangular factor of each such fold's training rows, formed by
// plane rotations, whose error grows with the condition of the fold's columns and not with
// that of their cross products, which the sums and a refinement steered by them carry.
#pragma once

#include "support/stepcodes.h"

#include <cstdint>
#include <vector>

struct VsfModel;

// The folds a pass rotates its rows into: per fold, its columns by place (the columns of
// effects of several columns first, the single ones last, each in X'X order, as the leverage
// factor places them; the response last), the centre each place's values are taken about and
// the factor L = R' packed by rows.
struct VsfFoldFactors {
  struct Fold {
    int32_t fold = 0;
    // X'X column by place; -1 - j for column j of the structured road's many-level effect
    std::vector<int64_t> column;
    std::vector<int32_t> place;       // place by X'X column, -1 where none
    std::vector<int32_t> effectPlace; // place by column of the many-level effect, -1: none
    std::vector<double> centre;       // by place, the response's last
    std::vector<double> mean;         // by place, the part of the centre that is the training mean
    std::vector<double> norm2;        // by place, the sum of squares of its values as rotated in
    std::vector<double> lower;
    // by place, 1 for a column its sums refused that its rows do not determine either: left
    // out of the refit, its row of the factor rotated into the places after it
    std::vector<char> dropped;
  };
  std::vector<Fold> folds;
};

// The most columns (the response among them) a fold's factor takes: a row costs the square
// of them in each fold it trains, and beyond them the fold is refined on the sums instead.
constexpr int32_t kVsfFoldFactorColumns = 512;

// Whether a factor of fold f's training rows can give its record's coefficients: its model
// holds no many-level effect of the structured road (whose columns the record keeps beyond
// its triangle) and takes at most kVsfFoldFactorColumns columns.
[[nodiscard]] bool vsfFoldFactorServes(const VsfModel* model, int32_t f);

// Refits each of `folds` (records of a least-squares fit, the refinable ones of
// vsfRefineFolds) from a factor of its training rows formed by one pass over them, kept in
// `factors`: its coefficients, about the training rows' means from its sums, go to column 0 of
// its swept matrix (the many-level effect's to its state) and its training error SS to
// element 0, where its held-out pass takes them. The factor judges each column the fold's
// sums refused: one whose pivot its rows' rounding covers stays out, the others are taken. A
// fold whose factor has no pivot for a column its sums took keeps its record and is put in
// `left`. Returns the pass's failure, Ok otherwise.
[[nodiscard]] VsfStatus vsfFoldsFromFactor(VsfModel* model, const std::vector<int32_t>& folds,
                                           VsfFoldFactors& factors, std::vector<int32_t>& left);

// One correction of a fold's refit from its factor F, with the fold's record standing in for
// the model (VsfRecordView): b += (R'R)^-1 g, g the training residuals' cross products with
// the fold's columns in the record's frame (`xr` by X'X column, `effectXr` by column of the
// many-level effect) and `residualSum` their sum, which moves them to the factor's centres.
// The factor's rounding grows with the condition of the rows, not of their cross products,
// so the corrections settle where a swept block of those sums could not steer them.
void vsfFoldFactorCorrect(VsfModel* model, const VsfFoldFactors::Fold& F, const double* xr,
                          double residualSum, const double* effectXr);
