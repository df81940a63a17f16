// The PRESS and residual kernel pairs: leave-one-out residuals of the TRAIN rows, and the
// weighted squared prediction errors of the VALIDATE and TEST rows, both from the swept
// matrix of the current model.
#pragma once

#include "kernels/vsfrowwalk.h"
#include "support/qkpgf.h"
#include "support/stepcodes.h"

#include <cstdint>
#include <vector>

struct VsfPassState;

// A row's values of the swept columns of a model: their X'X columns and values.
struct VsfGathered {
  std::vector<int32_t> col;
  std::vector<double> val;
};
// Gathers a row's values of the in-model columns whose sweep flag (in `flags`) is '1': their
// places in the row worked out once, for a page of rows, not again at every row; the values
// come in the in-model effects' order, each effect's columns in turn, nonzero dense values
// and every stored sparse one.
class VsfSweptGather {
public:
  VsfSweptGather(const VsfPassState* model, const char* flags);
  void operator()(const VsfRowShape& S, const VsfRowView& r, VsfGathered& g) const;

private:
  // A dense column (slot < 0) at its place among the row's dense values, or a sparse
  // effect's slot and its first column.
  struct Part {
    int32_t slot;
    int32_t column;
    int32_t place;
  };
  std::vector<Part> parts_;
  const char* flags_;
};
// On the structured road with its many-level effect in the model, turns the row's gathered
// values s (of the swept small columns) into s - x C'B^-1 e over every swept small column, its
// part outside the effect's span (x the row's effect value, e its column or all ones), and
// returns the effect's own term x^2 e'B^-1 e of the leverage: the leverage is that term plus
// the reduced row's form in the small triangle's swept block. Elsewhere leaves g and returns 0.
double vsfStructuredReduce(const VsfPassState* model, const VsfRowShape& S, const VsfRowView& r,
                           VsfGathered& g);
// The row's residual under the swept matrix s (its column 0 holds minus the coefficients).
double vsfGatheredResidual(const double* s, const VsfRowView& r, const VsfGathered& g);

// The leverages of a PRESS pass on a nearly dependent design: a lower triangular factor L of
// the model's swept columns' block A of X'X with the column scales D (D A D = L L'), so that
// a row's quadratic form x'A^-1 x is |L^-1 D x|^2. Formed afresh from the rows, it keeps the
// digits that a swept block loses on such a design.
struct VsfLeverageFactor {
  int32_t count = 0;
  std::vector<int32_t> place; // per X'X column, its place in the factor (-1: none)
  std::vector<double> scale;  // per place, D: 1 / sqrt(a_cc)
  std::vector<double> lower;  // L, packed by rows (place i's row at i(i+1)/2)
};

// Adds to model->leverage.leverageSums[0] the training rows' leverages from
// model->leverage.leverageFactor, and to [1] those from the swept block: on a sound source each sum
// is the number of the factor's columns. Serial: its caller reads every page on one thread.
[[nodiscard]] VsfStatus vsfLeverageSums(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfPress(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfPress_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                   int64_t length);
[[nodiscard]] VsfStatus vsfResids(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfResids_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                    int64_t length);
