// The external folds' cross products: one pass forms, fold by fold, the weighted cross
// products of the rows (a leading one, the response and the dense values, each about a shift
// among the fold's own rows), and every fold fit takes from them its training rows' moments
// and centred, scaled X'X and its held-out rows' cross products on the same scale, instead of
// transforming the pages and passing over them at every step (selection/vsfcvex.cpp).
#pragma once

#include <cstdint>
#include <vector>

struct VsfCVExSums {
  int32_t usable = -1;       // whether the fold fits take the road; -1 not known before a fit
  int32_t order = 0;         // of each fold's triangle: the one, the response, the dense values
  std::vector<double> shift; // per fold, per triangle position (0 for the one)
  // Per fold its packed triangle and its frequency total, then the count of rows that the
  // pass could not place (a missing value or weight, a fold code outside the folds).
  std::vector<double> sums;
  // The fold fit's training X'X (centred and scaled, without a ridge) and its held-out rows'
  // cross products on the same scale, both in the layout of the model's X'X.
  std::vector<double> train, heldOut;

  int64_t foldLength() const { return static_cast<int64_t>(order) * (order + 1) / 2 + 1; }
};
