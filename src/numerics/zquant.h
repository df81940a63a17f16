// The generic bracketing quantile solver: secant steps on a transformed probability scale
// (logit, or the log-odds of a log tail) with multiplicative bracketing. The gamma family's
// upper-tail quantile and the F and chi-square quantile modes use it.
#pragma once

#include <cstdint>

struct QuantileSolve;
// Initial-guess and evaluation functions: non-zero means failure.
using QuantileFn = int32_t (*)(QuantileSolve* rec);

// One solve; zero (value-initialise) it and fill the inputs.
struct QuantileSolve {
  int32_t scaleKind = 0;  // 0 plain probability (logit), 1 log lower tail, 2 log upper tail
  int32_t interpKind = 0; // 1 linear in x, 2 linear in log x
  int32_t status = 0;     // out
  int32_t bracketGiven = 0;
  double tol = 0.0;       // relative tolerance (raised to 1.053671212772351e-8)
  double tol2 = 0.0;      // second tolerance, on the transform
  double* prob = nullptr; // target on entry; afterwards the value the evaluation writes
  double probClamped = 0.0;
  double probLo = 0.0, probHi = 0.0;
  double f = 0.0;
  double fLo = 0.0, fHi = 0.0;
  double fTarget = 0.0;
  double target = 0.0;
  double stepUp = 0.0, stepDown = 0.0;
  double xLo = 0.0;
  double x = 0.0; // the current point; the result at the end
  double xHi = 0.0;
  double xStart = 0.0;
  double xMin = 0.0; // lower limit of x
  uint8_t hit = 0;
  void* context = nullptr;
  QuantileFn initialGuess = nullptr;
  QuantileFn evaluate = nullptr;
  uint8_t bisect = 0;
};

inline constexpr int32_t kQuantNoStart = 12345677;
// The search hit its target at a point it tried: the quantile is found.
inline constexpr int32_t kQuantSolved = -1;

// Returns the status (0 success); the solution is rec->x.
[[nodiscard]] int32_t zquant(QuantileSolve* rec);

// The upper-tail quantile solve of the gamma, F and chi-square families: the point whose log
// upper tail is *logTail (the evaluation overwrites it), on the log-tail scale with
// interpolation in ln x, relative tolerance `tol` and 1e-13 on the transform, from x = 0
// up. Writes the point, or the missing value on failure, to *x; returns zquant's status.
[[nodiscard]] int32_t zquantUpperTail(double* logTail, double tol, QuantileFn initialGuess,
                                      QuantileFn evaluate, void* context, double* x);

namespace quantsolver {
// Makes the bracket [xLo, xHi] by multiplicative steps from xStart.
[[nodiscard]] int32_t BracketTheSolution(QuantileSolve* rec);
// Evaluates at x: the transform into rec->f; *hit set when the target is met.
[[nodiscard]] int32_t EvaluateTarget(QuantileSolve* rec, double x, bool* hit);
// Evaluates the transform at both ends of a given bracket.
[[nodiscard]] int32_t ComputeAtTheTwoEnds(QuantileSolve* rec);
} // namespace quantsolver

// Lower-tail quantile of the F and chi-square families: from x0 the point is multiplied by
// stepUp or stepDown (at most 50 times) until the log cdf passes ln p, then secant steps
// in the plane of ln x and the logit of the cdf run until the relative change is below
// 1.053671212772351e-8 (at most 70). eval writes the log tails at x (non-zero: failure).
// Returns 0 with *xOut written, or 1.
using FamilyEval = int32_t (*)(void* req, double x, double* lcdf, double* lsdf);
[[nodiscard]] int32_t zquantLowerTail(void* req, FamilyEval eval, double x0, double p,
                                      double stepUp, double stepDown, double* xOut);
