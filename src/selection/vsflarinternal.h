// The least-angle path's internal interface: the functions, types and constants that its
// files (the path, its direction products, the kept cross products, the new residual and the
// look-ahead) share. Nothing outside src/selection/vsflar*.cpp includes it.
#pragma once

#include "data/vsfutilfile.h"
#include "support/stepcodes.h"
#include "support/threadscratch.h"

#include <cstdint>
#include <vector>

struct VsfModel;

struct VsfLarSquare {
  int64_t n = 0;
  std::vector<double> square;  // n x n
  std::vector<double> product; // per X'X column: its inner product with the direction
  bool formed = false;         // product holds this step's products
  // The form b'X'X b of the active coefficients b it was formed for, those coefficients per
  // effect (0 outside that active set) and how many of them are not 0 (-1: no form kept).
  std::vector<double> formBeta;
  double form = 0.0;
  int32_t formTerms = -1;
  bool formFresh = false; // the form was formed or updated by this move
};

namespace larpath {

constexpr double kBig = 1.7976931348623157e308;
constexpr double kTiny = 1.110223024625157e-16;

// One data pass of a kernel pair without a buffer.
[[nodiscard]] VsfStatus pass(VsfModel* m, VsfSerialKernel serial, VsfThreadedKernel threaded);
// Whether the rows carry VALIDATE or TEST roles.
[[nodiscard]] bool rolesPresent(const VsfModel* m);

// Where a step takes its inner products from: the packed X'X, the kept cross products, or
// passes over the pages.
enum class Road { Packed, Kept, Pages };

// ---- the direction and its products (vsflarproducts.cpp)

// The equiangular direction over the active set from `first` on; returns A and sets *R.
double equiangularDirection(VsfModel* m, int32_t first, double cmax, double* R);
// The inner product of column j with the direction, from the full X'X.
double directionProduct(const VsfModel* m, int32_t first, int32_t j);
// Keeps the square on the packed road when it is small enough (false: the triangle serves).
[[nodiscard]] bool squareOpen(const VsfModel* m, VsfLarSquare& q);
// The inner products of the outside columns with the direction on `road`.
[[nodiscard]] VsfStatus outsideProducts(VsfModel* m, int32_t first, double A, double cmax,
                                        Road road);
// b'X'X b - lambda b'b over the active coefficients b (`gamma` given when the step's products
// are at hand).
double activeForm(const VsfModel* m, int32_t first, double lambda, const double* gamma);
// Every column's inner product with the direction from the kept cross products.
extern thread_local ThreadScratch<std::vector<double>> tKeptProducts;

// ---- the kept cross products (vsflarkept.cpp)

// The bytes the kept columns may take in this fit (0: every step takes the passes).
int64_t crossBudget(const VsfModel* m);
// Keeps the entering effect's cross products, with those of the likely next entrants.
[[nodiscard]] VsfStatus keepCross(VsfModel* m, int32_t k);
// Whether every active effect has its cross products kept.
bool crossKept(const VsfModel* m, int32_t first);

// ---- the new residual (vsflarresidual.cpp)

// Whether a step's SSE may come from the packed X'X.
[[nodiscard]] bool matrixSseOpen(const VsfModel* m);
// Whether a step's fall of the SSE comes from its move.
[[nodiscard]] bool fallFromMove(const VsfModel* m);
// The fall of the SSE as the active coefficients move gamma along the direction.
[[nodiscard]] double moveFall(const VsfModel* m, int32_t first, double gamma, Road road);
// The correlations and sums of squares of the new residual.
[[nodiscard]] VsfStatus updateResidual(VsfModel* m, int32_t first, double gamma, double A,
                                       Road road, int32_t pendingDrop);
// A run of the path ahead of the fit, on a copy of its state: no residual sums, no estimates.
extern thread_local bool tAhead;

// ---- looking ahead (vsflarahead.cpp)

// Whether the look-ahead serves this path.
[[nodiscard]] bool lookAheadOpen(const VsfModel* m);
// The step's SSE from the look-ahead's pass, walking a new look-ahead where it has none.
[[nodiscard]] VsfStatus residualAhead(VsfModel* m, int32_t pendingDrop);

} // namespace larpath
