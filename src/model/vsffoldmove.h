// Cross-validation fold sums held about each fold record's own means: the passes sum each
// fold's rows about the fold's centre, and these move the folds' parts to the records' means
// (and to the pages' shift for the model's total) as they are added up, on the packed, the
// growing and the many-level roads.
#pragma once

#include "model/vsfmodel.h"

#include <cstdint>
#include <vector>

// Each record's mean less the pages' shift over the first nd of n columns: the weighted mean
// (weights W) of the other folds' centres c (K x n); (K + 1) x n, the last row 0 for the
// model's total.
[[nodiscard]] std::vector<double> vsfFoldRecordMeans(const std::vector<double>& W,
                                                     const std::vector<double>& c, int32_t K,
                                                     int64_t n, int64_t nd);
// The folds' centres by column of the packed triangle (n columns: foldCentre's means over its
// first foldCentreOrder, 0 for the intercept's ones and beyond them) and their weights W (the
// ones' diagonal of each fold's part, read while the records hold the parts), and t each
// record's means less the pages' shift, the weighted mean of the other folds' centres ((K + 1)
// x n, the last row 0 for the model's total).
struct VsfFoldCentres {
  int64_t n = 0;
  std::vector<double> W, c, t;
  // The move of fold j's part along column a into record k (k = K: the model's total).
  [[nodiscard]] double shift(int32_t k, int32_t j, int64_t a) const {
    return c[static_cast<size_t>(j * n + a)] - t[static_cast<size_t>(k * n + a)];
  }
};
[[nodiscard]] VsfFoldCentres vsfFoldCentres(const VsfModel* model);

// Whether the folds' parts are summed about their centres on the growing road.
[[nodiscard]] inline bool vsfFoldsMoved(const VsfModel* m) {
  return m->cv.foldPartCentre != nullptr && m->cv.foldCentre != nullptr;
}

// An element of a fold's part summed about centres, moved by da and db along its two
// columns, whose first sums over the fold's rows about those centres are sa and sb, W the
// fold's weight: part + da sb + db sa + W da db.
[[nodiscard]] inline long double vsfMovedPart(double part, long double da, long double db,
                                              long double sa, long double sb, double W) {
  return part + da * sb + db * sa + W * da * db;
}

// Part j of an element of columns a and b (0 the response, 1 + p parameter p) moved from
// fold j's centre c_j to the means t of a record (t null: the pages' shift): the columns
// move by d = c_j - t, the intercept's ones (index `ones`) and sparse columns not at all
// (their centres and means are 0). The part's first sums are those of centred columns, 0,
// the ones' the fold's weight W and a sparse column's its raw sum (foldFirstSums).
[[nodiscard]] inline long double vsfFoldMoved(const VsfModel* m, int32_t j, const double* t,
                                              int64_t a, int64_t b, double part) {
  const int64_t N = m->parmCount + 1, ones = 1 + m->parmOffset[0];
  const double* c = m->cv.foldPartCentre + j * N;
  const double* first = m->cv.foldFirstSums != nullptr ? m->cv.foldFirstSums + j * N : nullptr;
  const double W = m->cv.foldCentre[static_cast<size_t>(j) * (m->cv.foldCentreOrder + 1)];
  const auto firstSum = [&](int64_t i) -> long double {
    return i == ones ? W : first != nullptr ? first[i] : 0.0;
  };
  const long double da = a == ones ? 0.0L : static_cast<long double>(c[a]) - (t ? t[a] : 0.0);
  const long double db = b == ones ? 0.0L : static_cast<long double>(c[b]) - (t ? t[b] : 0.0);
  return vsfMovedPart(part, da, db, firstSum(a), firstSum(b), W);
}

// As foldSumsOutside (numerics/foldsums.h) over elements [from, to) of the parts, each part
// moved from its fold's centre: the total gains the parts moved to the pages' shift and each
// part becomes the other folds' parts moved to its record's means (foldShift). cols(i, a, b)
// names element i's columns. The sums are extended, and every element adds the folds in order.
template <class Part, class Cols>
void vsfFoldSumsMoved(VsfModel* m, double* total, Part part, int64_t from, int64_t to, Cols cols) {
  const int32_t K = m->cv.foldCount;
  const int64_t N = m->parmCount + 1;
  std::vector<double> own(static_cast<size_t>(K));
  for (int64_t i = from; i < to; ++i) {
    int64_t a = 0, b = 0;
    cols(i, a, b);
    long double sum = 0.0L;
    for (int32_t j = 0; j < K; ++j) {
      own[static_cast<size_t>(j)] = part(j)[i];
      sum += vsfFoldMoved(m, j, nullptr, a, b, own[static_cast<size_t>(j)]);
    }
    total[i] += static_cast<double>(sum);
    for (int32_t k = 0; k < K; ++k) {
      const double* t = m->cv.foldShift + k * N;
      long double rest = 0.0L;
      for (int32_t j = 0; j < K; ++j)
        if (j != k)
          rest += vsfFoldMoved(m, j, t, a, b, own[static_cast<size_t>(j)]);
      part(k)[i] = static_cast<double>(rest);
    }
  }
}
