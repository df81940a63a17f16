// The design library's least-squares interface over one BY group's design: cross products
// of the design columns and responses, the matrix swept on the design pivots with its
// dependencies, the Cholesky root and the inverse of its design block, coefficients, error,
// total and model sums of squares, and linear-hypothesis tests. Every result is computed on
// first request and served from the fit block's cache for the rest of the group.
//
//   Packed symmetric storage: element (i, j), j <= i, at i(i+1)/2 + j. The cross products
//   have order n = p + r: the p design columns (or their mapped positions), then the r
//   responses.
#pragma once

#include "design/levreg.h"

#include <cstdint>

// The operation codes of zlevfit.
enum LevFitCode : int32_t {
  LFC_XPX = 0,      // cross products (packed n x n)
  LFC_SWEPT = 1,    // cross products swept on the design pivots
  LFC_BETA = 2,     // coefficients of a response (p doubles)
  LFC_RELEASE = 3,  // empty the cache
  LFC_ROOT = 4,     // Cholesky root of the cross products (packed lower triangle)
  LFC_INVROOT = 5,  // the root with its design block inverted
  LFC_SSE = 6,      // error sums of squares and cross products: entry (i, i)
  LFC_SST = 7,      // total (uncorrected) sums of squares and cross products: entry (i, i)
  LFC_SSM = 8,      // model sums of squares and cross products: entry (i, i)
  LFC_TEST = 9,     // a linear-hypothesis test (a new LevFitTest)
  LFC_INSTALL = 10, // install a value under a code
  LFC_SWEEPREC = 12 // the sweep record
};

// One cached result.
struct LevFitEntry {
  int32_t code;
  void* value;
  LevFitEntry* next;
};

// The sweep record: per pivot pair (i, k), i < k, the element of an unswept pivot k on an
// earlier column i (at i * design column count + k; entry (k, k) is 1.0 for a swept pivot),
// and the swept flag of every pivot.
struct LevSweepRecord {
  LevDesign* design;
  double* dependencies; // n x n, row stride the design's column count
  int32_t* swept;       // n
  double tolerance;     // 1e-8
};

// A linear hypothesis: q rows of p coefficients, row by row.
struct LevHypothesis {
  int32_t rows;
  const double* L;
};

// The result of a test: only the parts the output letters ask for are written.
struct LevFitTest {
  double* hypothesisSS; // 's': packed t x t
  int64_t df;           // 'd': the number of independent hypothesis rows
  int64_t count;        // 'e' or 'v': q x t; 'e' then q
  double* estimates;    // 'e': t rows of q
  double* variance;     // 'v': packed q x q, L (X'X)^- L' (up to the error variance)
};

// Further arguments of zlevfit, by code: the response index (2, 6, 7, 8; negative means 0,
// and for a test all responses), the hypothesis and output letters (9), the code and value
// to install (10).
struct LevFitArgs {
  int32_t response = 0;
  const LevHypothesis* hypothesis = nullptr;
  const char* letters = "";
  int32_t installCode = 0;
  void* value = nullptr;
};

// Registers the six fit callbacks into the fit block's slots.
void zlevfx(LevFitBlock* fit);
// The dispatcher: the result of `code` (see LevFitCode), null when there is none.
void* zlevfit(LevRegContext* context, int32_t code, const LevFitArgs& args = {});

// The fit callbacks: they compute the value of codes 0, 4, 2, 6, 7 and 9.
double* GetXpX(LevRegContext* context);
double* GetR(LevRegContext* context);
double* GetBeta(LevRegContext* context);
double* GetSSE(LevRegContext* context);
double* GetSST(LevRegContext* context);
LevFitTest* Test(LevRegContext* context, const LevHypothesis* hypothesis, int32_t response,
                 const char* letters);

// Sweeps pivot k of the packed matrix of order n with tolerance `tol`: 1 when swept, else 0
// (row and column k zeroed and, with a record, the dependencies of k noted first).
[[nodiscard]] int32_t zlevswp(double tol, double* matrix, int32_t k, int32_t n, char* status,
                              double* work, LevSweepRecord* record);
// Inverts the leading p x p block of a packed lower-triangular matrix in place; a diagonal
// not above `tol` in absolute value leaves its row as the elimination left it and its column
// zero.
void invlo(double tol, double* matrix, int32_t p, double* work);
