// Entry table of the host extension "qksv", the numerical optimisation solver of the
// solver-based LASSO selections, and the solver instance it creates. The module sees only
// this layout; the host builds the solver (host/ext/qksv.cpp).
//
// The solver minimises loss(b) + lambda * penalty(b). The loss and its gradient come from the
// caller through the callback table; so do, for the group penalty, the penalty value, its
// proximal operator and the penalty maximum. Every operation returns 0 on success.
#pragma once

#include "support/hostif.h"

#include <cstdint>

struct QkSolver;

// Penalty kinds of setPenaltyKind.
enum QkSvPenalty : int32_t { QKSV_L1 = 1, QKSV_GROUP = 4 };

// Status codes of the solver's operations.
enum QkSvStatus : int32_t {
  QKSV_OK = 0,
  QKSV_BAD_SIZE = 1,    // a problem size below 1
  QKSV_BAD_KIND = 2,    // a penalty kind that the solver does not know
  QKSV_NOT_READY = 3,   // an operation before prepare, finishSetup or solve
  QKSV_NO_CALLBACK = 4, // a callback that the penalty kind needs is not set
  QKSV_NO_MEMORY = 5,
  QKSV_NOT_FINITE = 6,     // the loss or the gradient is not a finite number
  QKSV_NO_CONVERGENCE = 7, // the iteration limit came before the tolerance
  QKSV_NO_LAMBDA_MAX = 201 // the penalty maximum cannot be computed
};

// The callbacks. b, x, y and grad hold `size` doubles.
using QkSvLambdaMaxFn = int32_t (*)(QkSolver* solver);
using QkSvLossFn = int32_t (*)(QkSolver* solver, const double* b, double* loss);
using QkSvLossGradFn = int32_t (*)(QkSolver* solver, double* b, double* grad, double* loss);
using QkSvValueFn = int32_t (*)(QkSolver* solver, const double* x, double* value);
using QkSvOperatorFn = int32_t (*)(QkSolver* solver, const double* x, double* y, double* penalty,
                                   int32_t* count, double* norm);

// [0] penalty maximum, [1] loss, [2] loss and gradient, [3] penalty value, [4] proximal
// operator of the penalty for the step factor `stepFactor`.
struct QkSolverCallbacks {
  QkSvLambdaMaxFn lambdaMax;
  QkSvLossFn loss;
  QkSvLossGradFn lossAndGradient;
  QkSvValueFn penaltyValue;
  QkSvOperatorFn penaltyOperator;
};

struct QkSolverOps {
  int32_t (*setProblemSize)(QkSolver* s, int32_t size);
  int32_t (*setLambda)(QkSolver* s, double lambda);
  int32_t (*setPenaltyKind)(QkSolver* s, int32_t kind);
  int32_t (*prepare)(QkSolver* s);
  void (*setUserData)(QkSolver* s, void* user);
  int32_t (*setTolerance)(QkSolver* s, double tolerance);
  int32_t (*finishSetup)(QkSolver* s);
  // Start values for the next solve; null starts from 0.
  int32_t (*setStartValues)(QkSolver* s, const double* start);
  int32_t (*solve)(QkSolver* s);
  int32_t (*getSolution)(QkSolver* s, double* out);
  // The penalty maximum of the last solve (absolute).
  int32_t (*getResult)(QkSolver* s, double* out);
  // The loss at the solution (without the penalty).
  int32_t (*getObjective)(QkSolver* s, double* out);
  int32_t (*destroy)(QkSolver* s);
  void (*release)(QkSolver** s); // optional
};

// The solver instance: what the callbacks read of it, and counters of its work.
struct QkSolver {
  const QkSolverOps* ops;
  QkSolverCallbacks callbacks;
  void* userData;        // handed back to every callback
  int32_t size;          // number of coefficients
  int32_t relative;      // lambda is relative to lambdaMax
  double lambda;         // the penalty value of setLambda
  double lambdaMax;      // the penalty maximum (0 until computed)
  double stepFactor;     // L of the current proximal step x - grad / L
  double* work;          // `size` doubles the callbacks may use
  double* gradient;      // `size` doubles
  int64_t lossCalls;     // callback [1] calls, over the instance's life
  int64_t gradientCalls; // callback [2] calls
  int64_t iterations;    // accelerated proximal iterations
};

// The extension: creates a solver instance from a zero-filled 128-byte parameter block and
// the kernel handle's journal; null on failure.
struct QkSvExtension {
  QkExtension header;
  QkSolver* (*create)(QkSvExtension* self, const void* parameters, QkJournal* journal);
};
