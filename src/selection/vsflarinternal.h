// The least-angle path's internal interface: the functions, types and constants that its
// files (the path, its direction products, the kept cross products, the new residual and the
// look-ahead) share. Nothing outside src/selection/vsflar*.cpp includes it.
#pragma once

#include "data/vsfutilfile.h"
#include "support/stepcodes.h"

#include <cstdint>
#include <vector>

struct VsfModel;

// The square copy of the packed X'X that the path keeps where it is small (VsfModel's
// larSquare), with every column's product with the step's direction and the kept form of the
// active coefficients (vsflarproducts.cpp).
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

// The active effects in the order of their columns, with per-column scratch of the products.
struct ActiveBlock {
  std::vector<int64_t> column;   // the active columns, increasing
  std::vector<int32_t> effect;   // the effect of each
  std::vector<double> x, y, run; // the vector, the product, a gathered run of a row
  std::vector<int32_t> byColumn; // per column: its active effect, -1 for none
};

// The scratch of one walk of the path, made by vsfLarLasso and handed to each step, and by
// the steps to the look-ahead's steps on the same thread. What it holds lasts a step at most:
// every use forms it afresh, except the kept road's products, which a step forms with the
// direction and reads again for its correlations and its fall of the SSE.
struct LarScratch {
  ActiveBlock block;                // the active block of the packed X'X and its product
  std::vector<const double*> rows;  // the rows (or kept columns) a run of products reads,
  std::vector<double> weights;      // and their weights; the workers get their addresses
  std::vector<double> keptProducts; // every column's product with the direction, kept road
};

// How a step runs: as the fit's own, or as a step of the look-ahead on a copy of the path's
// state, which forms no residual sums and no estimates.
enum class LarMode { Fit, Ahead };

// What a step is given besides the model: its mode and the walk's scratch.
struct LarWalk {
  LarMode mode;
  LarScratch* scratch;
};

// One path step; changedEffect receives the effect added or removed, pendingDrop carries the
// effect to remove at the start of this step in and the one that reaches zero out (-1: none).
[[nodiscard]] VsfStatus LarLassoStep(VsfModel* model, const LarWalk& walk, int32_t* changedEffect,
                                     int32_t* pendingDrop);

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
double equiangularDirection(VsfModel* m, LarScratch& s, int32_t first, double cmax, double* R);
// The inner product of column j with the direction, from the full X'X.
double directionProduct(const VsfModel* m, int32_t first, int32_t j);
// Keeps the square on the packed road when it is small enough (false: the triangle serves).
[[nodiscard]] bool squareOpen(const VsfModel* m, VsfLarSquare& q);
// The inner products of the outside columns with the direction on `road`.
[[nodiscard]] VsfStatus outsideProducts(VsfModel* m, LarScratch& s, int32_t first, double A,
                                        double cmax, Road road);
// b'X'X b - lambda b'b over the active coefficients b (`gamma` given when the step's products
// are at hand).
double activeForm(const VsfModel* m, LarScratch& s, int32_t first, double lambda,
                  const double* gamma);

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
[[nodiscard]] double moveFall(const VsfModel* m, const LarScratch& s, int32_t first, double gamma,
                              Road road);
// The correlations and sums of squares of the new residual.
[[nodiscard]] VsfStatus updateResidual(VsfModel* m, const LarWalk& walk, int32_t first,
                                       double gamma, double A, Road road, int32_t pendingDrop);

// ---- looking ahead (vsflarahead.cpp)

// Whether the look-ahead serves this path.
[[nodiscard]] bool lookAheadOpen(const VsfModel* m);
// The step's SSE from the look-ahead's pass, walking a new look-ahead where it has none.
[[nodiscard]] VsfStatus residualAhead(VsfModel* m, LarScratch& s, int32_t pendingDrop);

} // namespace larpath
