// The structured road's shared parts: the helpers that its files (model/vsfstructured*.cpp)
// call in one another, private to those files; the road's entries are declared in
// model/vsfstructured.h.
#pragma once

#include "model/vsfstructured.h"

#include "data/vsfpassstate.h"
#include "support/stepcodes.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

struct VsfModel;

namespace structroad {

// The count of a state's stored cross products of the joining effects' columns
// (vsfstructuredblock.cpp).
[[nodiscard]] int64_t joinedCount(const VsfStructured& st);

// Calls fn(c, C_j(c)) for the small columns c of row j of a state's cross block that may
// hold a nonzero, in increasing order: its dense columns and its joining ones, or every
// small column while rankOne rows add to every row.
template <class Fn> void eachCross(const VsfStructured& st, int64_t j, Fn fn) {
  const double* D = st.cross + j * st.dense;
  const int64_t begin = st.joinStart != nullptr ? st.joinStart[j] : 0;
  const int64_t end = st.joinStart != nullptr ? st.joinStart[j + 1] : 0;
  if (st.rankOne != 0.0) {
    int64_t p = begin;
    for (int64_t c = 0; c < st.small; ++c) {
      double v = c < st.dense ? D[c] : 0.0;
      if (p < end && st.joinColumn[p] == c)
        v = st.joinValue[p++];
      fn(c, v + st.rankCross[c]);
    }
    return;
  }
  for (int64_t c = 0; c < st.dense; ++c)
    fn(c, D[c]);
  for (int64_t p = begin; p < end; ++p)
    fn(int64_t{st.joinColumn[p]}, st.joinValue[p]);
}

// The places i of the increasing small columns X at which row j of a state's cross block,
// or `shift` (by place), may be nonzero: the dense columns and the shifted ones, and the
// joining columns the level's rows meet; every place while rankOne rows add to every row or
// the cross block keeps every column in place. A loop over the levels then costs the
// levels' stored values, not levels times the small columns.
class RowSupport {
public:
  RowSupport(const VsfStructured& st, const std::vector<int64_t>& X,
             const std::vector<double>& shift)
      : st_(st), sparse_(st.rankOne == 0.0 && st.joinStart != nullptr) {
    for (size_t i = 0; i < X.size(); ++i)
      if (!sparse_ || X[i] < st.dense || shift[i] != 0.0) {
        unsorted_ = unsorted_ || X[i] >= st.dense;
        fixed_.push_back(i);
      }
    if (!sparse_)
      return;
    place_.assign(static_cast<size_t>(st.small), -1);
    for (size_t i = 0; i < X.size(); ++i)
      place_[static_cast<size_t>(X[i])] = static_cast<int64_t>(i);
  }
  [[nodiscard]] const std::vector<size_t>& placesOf(int64_t j) {
    if (!sparse_)
      return fixed_;
    places_ = fixed_;
    for (int64_t p = st_.joinStart[j]; p < st_.joinStart[j + 1]; ++p)
      if (const int64_t i = place_[static_cast<size_t>(st_.joinColumn[p])]; i >= 0)
        places_.push_back(static_cast<size_t>(i));
    if (unsorted_) {
      std::sort(places_.begin(), places_.end());
      places_.erase(std::unique(places_.begin(), places_.end()), places_.end());
    }
    return places_;
  }

private:
  const VsfStructured& st_;
  bool sparse_;
  bool unsorted_ = false; // a shifted joining column among the fixed places
  std::vector<size_t> fixed_, places_;
  std::vector<int64_t> place_;
};

// The swept block B_J = D_J + rho 1 1' of the effect's swept columns J, solved by
// Sherman-Morrison about the column 0 of J with the smallest D_j, so that no term divides by
// D_0: with s the sum of 1 / D_j over the others, a = 1 / rho + s and g = D_0 a + 1, the
// inverse is D_J^-1 less u u' / (a + 1 / D_0), u = D_J^-1 1, which gives B_J^-1 r as
// (r_j - c) / D_j with c = (r_0 + D_0 t) / g, t the sum of r_j / D_j over the others, and
// (r_0 a - t) / g for column 0. Under the effect coding a level without rows has D_j = 0 (its
// column is -1 on the reference level's rows alone, so at most one such column is swept, the
// others equal to it) and a level with rows of tiny weight a D_j near 0: both come out
// without loss. Without rho the block is diagonal (`least` -1).
struct SweptBlock {
  int64_t least = -1;
  double a = 0.0, g = 1.0;
};
// The block of a state's swept columns in that form, and r := B_J^-1 r over them
// (vsfstructuredblock.cpp).
[[nodiscard]] SweptBlock sweptBlockOf(const VsfStructured& st);
void solveBlock(const VsfStructured& st, const SweptBlock& b, std::vector<double>& r);

// The shifts of the small columns (vsfstructuredblock.cpp): whether x is zero within the
// rounding of adding the shift h back; the shift of each small column's rows; the shift of
// each small column of S about which the effect's swept levels are sparse.
[[nodiscard]] bool nearZero(double x, double h);
[[nodiscard]] std::vector<double> smallShifts(const VsfModel* m);
[[nodiscard]] std::vector<double> levelShiftOver(const VsfStructured* st,
                                                 const std::vector<double>& all,
                                                 const std::vector<int64_t>& S);

// Ends the fit where the model's swept columns have no Cholesky factor: logged, kept in
// passFailure; ReportedFailure (vsfstructuredentry.cpp).
VsfStatus noFactor(VsfModel* m, size_t swept);

// The small columns of `was` swept again after the effect's columns
// (vsfstructuredresweep.cpp).
void resweepSmall(VsfModel* m, const std::vector<char>& was);

} // namespace structroad
