// The state of one fit (VsfModel: the data passes' part, VsfPassState of
// data/vsfpassstate.h, and the rest) with its code tables and the step history, and the
// lifecycle operations: per-fit arrays, step recording, growth of the
// growable arrays, reset and release. Sweeping, criteria and trials have their own headers.
//
// Packed triangles: a symmetric matrix of n columns is n(n+1)/2 doubles stored by rows,
// element (i, j), i >= j, at i(i+1)/2 + j; column 0 is the response.
#pragma once

#include "data/vsfpassstate.h"
#include "support/hostif.h"
#include "support/protocol.h"
#include "support/stepcodes.h"

#include <cassert>
#include <cstdint>

struct VsfModelOptions;
struct VsfPerfBlock;
struct VsfScratch;
struct VsfResampleDriver;

// Why a selection stopped.
enum VsfStopReason : uint8_t {
  VSR_NONE = 0,
  VSR_STEP_LIMIT = 1,
  VSR_STEPS = 2,
  VSR_STOP_COUNT = 3,
  VSR_NO_IMPROVEMENT = 4,
  VSR_PERFECT_FIT = 5,
  VSR_NO_CANDIDATE = 6,
  VSR_ALL_ENTERED = 7,
  VSR_DOWN_TO_INTERCEPT = 8,
  VSR_LEAST_SQUARES = 9,
  VSR_CYCLING = 10,
  VSR_NOTHING_TO_DROP = 11,
  VSR_STEPWISE_SL = 12,
  VSR_STEPWISE_OTHER = 13,
  VSR_DOWN_TO_FORCED = 14,
  VSR_L1_TARGET = 15,
  VSR_PATH_END = 16,
  VSR_PATH_END2 = 17,
};

// Outcome of a fit (fitStatus), a type of its own beside VsfStatus; each failure has a
// message of set 848. The values are those the step records hold.
enum class VsfFitStatus : int32_t {
  Done = 0,
  Failed = -1, // a step of the fit failed with the status kept in fitFailure
  NoMemory = -2,
  ZeroFullMse = -100,
  NoValidation = -101,
  SingleFold = -102,
  TooManyFolds = -103,
  NoRank = -201,
  NoTrain = -202,
  Overflow = -203,      // a sum of squares is beyond the largest double (overflowEffect)
  RidgeTooLarge = -204, // the elastic net's ridge term (n - 1) x L2 cannot be held
};

// Whether a fit status says the fit gave no usable model (every failure is negative).
[[nodiscard]] inline bool vsfFitFailed(VsfFitStatus status) {
  return static_cast<int32_t>(status) < 0;
}

// The message of set 848 that reports a fit status (0 when there is none).
[[nodiscard]] int32_t vsfFitStatusMessage(VsfFitStatus fitStatus);

// The elastic net's L2 search (selection/vsfelnet.cpp): its setting and bounds, the trial in
// progress, the L2 of the kept fit, and the cross products before the ridge that every trial
// shares.
struct VsfL2Tune {
  VsfL2Search l2Search;
  double l2Low, l2High;

  // The elastic-net L2 search: the trial in progress, the rows enTuneRows has room for, the
  // L2 of the kept fit, and the cross products before the ridge that every trial shares
  // (l2BaseXpx owned by the search, filled by its first trial; null outside a search).
  int32_t l2Trial;
  double finalL2;
  double* l2BaseXpx;
  uint8_t l2BaseReady;
};

// The penalized path's state (selection/vsflarlasso.cpp and its parts): the penalty and norms of
// the current step, the L1 target, the SSE's fall over the step, the estimates saved before a step,
// and how the path holds its cross products.
struct VsfPathState {
  double lambdaMax, lambda, l1Norm, l2Norm;
  double l1Target;
  // The fall of the SSE over the path's current step, formed from its move where sseFallKnown,
  // and per recorded step (missing where not formed): a step's F takes it in place of the
  // difference of two SSEs, which loses the digits of a step that is small against them.
  double sseFall;
  uint8_t sseFallKnown;

  double* savedBeta;
  double* savedStdBeta;
  int32_t* activeSign;
  // The most bytes of cross-product columns (x_k'X of entered effects) that the path keeps
  // without the packed X'X; 0 when it takes the passes per step. Set by the path.
  int64_t larCrossBytes;
  // Set by the path when its steps take their SSE from the packed X'X (its rows are the
  // SSE's rows); 0 when every step sums its residuals over the rows.
  uint8_t larMatrixSse;
  // The path's square copy of the packed X'X and its direction products (vsflarproducts.cpp);
  // null when the path reads the triangle.
  struct VsfLarSquare* larSquare;
};

// External cross validation's choice (selection/vsfcvex.cpp): the size of the grid, the value
// chosen and the fold records kept.
struct VsfCVExChoice {
  int32_t cvexGridCount;
  double cvexChosenValue;
  int32_t cvexRecordCount;
};

// The screening rule of the path (selection/vsfscreen.cpp): its settings, the bounds and statistics
// of the candidates, and the flags of those screened out.
struct VsfScreenRule {
  int32_t screenPower;
  double screenRatio, lambdaSure, lambdaRatioSum, lambdaNext;
  int32_t screenKeep, screenSetting;
  double screenKeepRatio, screenSetting2;

  double* screenBound;
  uint8_t* screenFlag;
  double* screenStat;
};

// Why and where the selection stopped, and the step limit it stops at (selection/vsfstoprules.cpp).
struct VsfStopState {
  int32_t stepLimit;

  uint8_t stopReason;
  int32_t stopAddEffect, stopDropEffect;
  double stopAddValue, stopDropValue;
};

// The trials of a search (model/vsftrial.cpp): the trial block, the model saved before the trials,
// the work and clean copies a candidate is swept into, and what the last trial showed.
struct VsfTrialState {
  // The largest variance inflation the last trial's elimination of a candidate's columns
  // showed (a column's diagonal over its pivot after the model's and the candidate's columns
  // before it; infinite where it refused a pivot): vsfTrialIsEntry.
  double trialInflation;

  double* trialXpx;
  char* trialFlags;
  // Per effect: whether its own block of X'X was found diagonal (vsftrial.cpp's shapes).
  uint8_t* trialBlockShape;
  uint8_t needTrialBlock;

  uint8_t trialCopies;
  // Whether a candidate's trial sweeps it in fully (its coefficients in the swept matrix), so
  // that its fit can be refined on the rows.
  uint8_t trialsSweptFully;
  double* savedSweptXpx;
  double* savedXpx;
  double savedSse, savedCvPress, savedPress, savedValidateAse, savedTestAse;
  double savedSweptInflation; // a trial's re-sweep from X'X starts its own count
  // The rounding bound a trial's refinement on the rows may lower (vsfRefineSwept): the
  // trial's criterion judges its error SS zero against the trial's own, as its step would.
  double savedRoundingSS;
  int32_t savedXpxColumns, savedXpxCapacity, savedRank, savedInModelCount;
  int32_t* savedInModelList;
  int32_t* savedEffectColumn;
  uint8_t* savedEffectStatus;
  char* savedSweepFlags;
  double* workSweptXpx;
  double* cleanSweptXpx;
  double* workXpx;
  int32_t* workEffectColumn;
  int32_t* cleanEffectColumn;
  int32_t* workInModelList;
  int32_t* cleanInModelList;
  int32_t trialColumns;
  char* workSweepFlags;
  char* cleanSweepFlags;
};

// The step history (model/vsfrecordstep.cpp records it, model/vsfmodelgrow.cpp grows it): per step
// its criteria, effect, rank and path values (stepRank, stepEffects and stepSSE have an element at
// index -1), the change list, and the scratch file of the step records with the position the next
// record goes to.
struct VsfStepHistory {
  double* stepL1Norm;
  double* stepL2Norm;
  double* stepPathValue;
  double* stepHeldOutTestError;
  double* stepSSEFall;

  double* stepHeldOutError;

  int32_t stepCount;
  int32_t changeListLength, stepCapacity, changeListCapacity;

  double* stepSSE;
  double* stepPress;
  double* stepValidateAse;
  double* stepTestAse;
  double* stepCvPress;
  double* stepStdL1Norm;
  int32_t* stepEffect;
  int32_t* changeList;
  int32_t* stepRank;
  int32_t* stepParms;
  int32_t* stepEffects;

  VsfScratch* stepScratch;
  int64_t* stepScratchPos;
};

// The chosen step's snapshot (model/vsfrecordstep.cpp): its estimates and their variances, its
// model, and under cross validation its fold errors and estimates.
struct VsfChosenStep {
  double* chosenBetaVariance;
  double* chosenBeta;
  double* chosenStdBeta;
  int32_t* chosenInModelList;
  int32_t chosenStep;
  uint8_t* chosenEffectStatus;

  double* chosenFoldCvSse;
  // The chosen step's fold estimates (fold f at f x parmCount), kept under CHOOSE= when the
  // fold estimates are shown.
  double* chosenFoldBeta;
};

// The containment rules (HIERARCHY= or BACKWARD; model/vsfentry.cpp, model/vsfremoval.cpp): whether
// they apply, and per effect the counts and lists that hold back its entry and its removal.
struct VsfHierarchyState {
  uint8_t hierarchy; // containment rules apply (HIERARCHY= or BACKWARD)

  int32_t* hierAddCount;
  int32_t* hierDropCount;
  const int32_t* hierAddCountInit;
  const int32_t* hierDropCountInit;
  int32_t* const* hierListA;
  int32_t* const* hierListB;
};

// The aliased effects dropped before step 0 of BACKWARD (selection/vsfclassic.cpp).
struct VsfAliasDrops {
  int32_t aliasDropCount, aliasIncludeDropCount;
  int32_t* aliasDropList;
};

// The solver-based fits (selection/vsfqklasso.cpp): the solver's extension and saved estimates, the
// packed X'X its loss and gradient read, and its counts of passes and evaluations.
struct VsfSolverState {
  void* solverExtension;

  double* savedSolverBetaA;
  double* savedSolverBetaB;

  // Solver-based fits: the packed X'X of the response and every parameter (parameter p in
  // column 1 + p) that the solver's loss and gradient read instead of passing over the pages,
  // null when they pass over the pages; the data passes the solver drivers made, and the
  // loss and gradient evaluations the solver asked for (each a data pass without solverGram).
  double* solverGram;
  int64_t solverPasses, solverEvaluations;
};

// The fit: the pass state the data passes and kernels work on, then what only the model and
// the layers above it use.
struct VsfModel : VsfPassState {
  // Links into the run (set per BY group).
  VsfPerfBlock* perf;
  VsfScratch* scratchHolder; // the context slot of the step-record scratch file
  VsfFitStatus fitStatus;
  VsfStatus fitFailure;   // Failed: the failing step's status (not kept in the step records)
  VsfStatus passFailure;  // the first failing data pass of the fit (Ok: none)
  int32_t overflowEffect; // Overflow: the effect whose sums overflow, -1 the response
  VsfResampleDriver* resampleDriver;

  double fuzz;

  // Elastic-net L2-search state.
  VsfL2Tune elnet;

  // Penalized-path state.
  VsfPathState path;

  // External cross validation.
  VsfCVExChoice cvex;

  // Screening.
  VsfScreenRule screen;

  // Counts.
  int32_t rank, prevInModelCount;
  int32_t droppedFrom; // the list position of the effect vsfDropEffect last took out
  // The largest variance inflation the swept matrix has held since it was last formed from
  // X'X: reverse sweeps keep the rounding of the states they undo (vsfRefineStep).
  double sweptInflation;
  // The fit vsfRefineSwept last refined, by a digest of its swept matrix's column 0 (0: none):
  // a fit is refined once, so that a step's criteria, its record and a candidate's trial that
  // is the step all read the estimates of one refinement.
  uint64_t refinedDigest;
  // That refinement's bound on its residuals' rounding (kVsfEps times their terms' squared
  // sizes), which a fit far from the origin takes as its roundingSS whenever it is refined.
  double refinedRounding;
  int32_t xpxCapacity, crossCapacity;

  // The trials of a search.
  VsfTrialState trial;

  // Step history (stepRank, stepEffects, stepSSE have an element at index -1).
  VsfStepHistory history;

  // Chosen-step snapshot.
  VsfChosenStep chosen;

  // Estimates and work vectors.
  double* workVector;
  double* beta;
  double* stdBeta;
  double* candidateValue;
  double* betaVariance;

  // Effect tables.
  int32_t* crossSlot;
  int32_t* effectFirstColumn;
  VsfHierarchyState hier;

  int32_t adaptiveAliased; // effects the least-squares adaptive weights left out as aliased
  // The effect whose new row of X'X vsfEntryRefused formed past the triangle's columns, plus
  // one (0: none), and the column count it was formed at: its entry at that count takes the
  // row as it stands instead of forming it again.
  int32_t formedEntry, formedEntryAt;

  // The uncorrected response sum of squares (see VsfPassState's shift.xpxShift).
  double rawSumWYY;
  double* inestEstimates;

  // Aliased effects dropped before step 0 of BACKWARD.
  VsfAliasDrops aliasDrops;

  // Criteria and sums of squares of the current model.
  double totalSSUncorrected, totalSS, fullMse;
  // The response's sum of squares whose rounding every swept SSE carries: that of the sums
  // the cross products were formed from (about the shift where the pages were shifted),
  // and never below kVsfEps of the uncorrected total, the rounding of the response's own
  // values (vsfRoundingTotal).
  double roundingSS;
  // Under NOINT, the response's sum of squares about its mean, from the rows
  // (vsfFormResponseSpread), once responseSpreadFormed is set.
  double responseSpread;
  uint8_t responseSpreadFormed;

  // Stop block.
  VsfStopState stop;

  // Folds.
  double cvPress;

  VsfSolverState solver;

  // Set while a BY group is fitted again on the packed triangle after the structured road
  // lost the intercept (vsfProcess): the structured road is not taken then.
  uint8_t packedOnly = 0;
};

// Lifecycle. All return Ok, NoPoolOrHandle or NoMemory unless noted.
[[nodiscard]] VsfStatus vsfModelInit(VsfModel* model);
void vsfModelByFree(VsfModel* model);
[[nodiscard]] VsfStatus vsfRecordStep(VsfModel* model, int32_t effect);
// Ends the fit on a failing step: fitStatus NoMemory for a lack of memory, else Failed with
// the status kept in fitFailure.
void vsfSetFitFailure(VsfModel* model, VsfStatus failure);
// Whether a sum of squares of the response is rounding noise of the sums the fit holds
// (below kVsfEps of roundingSS): an SSE or total that small is zero.
[[nodiscard]] bool vsfRoundingZero(const VsfModel* model, double ss);
// Sets the full model's error variance, which C(p) and BIC take at every step, from the
// model's error SS (model->sse): 0 without error degrees of freedom or where that SS is
// rounding noise of the sums the fit holds (judged against those sums, so that a response of
// any scale keeps its variance).
void vsfSetFullMse(VsfModel* model);
// Whether the model's error SS is a negligible part (1e-8) of the total it explains, or
// rounding noise: the corrected total with an intercept (a response far from 0 with a small
// spread is not fitted by its mean alone); without one the uncorrected total, or where the
// response's spread about its mean is formed (responseSpread) the smaller of the two. An
// error SS formed from the rows keeps its digits below 1e-8 of y'y, so a fit that leaves a
// far response's spread unexplained is not perfect.
[[nodiscard]] bool vsfPerfectFit(const VsfModel* model);
// The fall of the SSE into recorded step i where the path formed it, else NaN.
[[nodiscard]] inline double vsfStepSSEFall(const VsfModel* m, int32_t i) {
  return m->history.stepSSEFall != nullptr && i > 0 ? m->history.stepSSEFall[i] : hostMissing();
}
[[nodiscard]] VsfStatus vsfAddStepMemory(VsfModel* model, int32_t newCapacity);
// Grows the X'X triangles to `newCapacity` columns (-1: twice the columns in use): Ok,
// NoMemory after the message that they do not fit, or ReportedFailure after the
// message that the procedure supports no triangle that large.
[[nodiscard]] VsfStatus vsfAddXpXMemory(VsfModel* model, int32_t newCapacity);
// Gives the full X'X road the copies of the model that a trial sweeps into (model->
// trialCopies) when a trial first needs them: a trial that is its candidate's entry. Ok,
// the memory plan's reported failure, or NoMemory.
[[nodiscard]] VsfStatus vsfAddTrialCopies(VsfModel* model);
[[nodiscard]] VsfStatus vsfAddCrossMemory(VsfModel* model, int32_t newCapacity, int32_t rowLength);
[[nodiscard]] VsfStatus vsfAddEffChangeMemory(VsfModel* model, int32_t newCapacity);
void vsfResetChosenStep(VsfModel* model);

// Option tests shared by the model core.
[[nodiscard]] bool vsfCvOn(const VsfModel* model);
[[nodiscard]] bool vsfCvExternalOn(const VsfModel* model);
[[nodiscard]] bool vsfFullXpxOn(const VsfModel* model);
[[nodiscard]] bool vsfValidationInUse(const VsfModel* model);
[[nodiscard]] bool vsfTestInUse(const VsfModel* model);
// Allocation from the model pool: zero-filled when zero is true; null for a count <= 0.
void* vsfModelAlloc(VsfModel* model, int64_t bytes, bool zero);
template <class T> T* vsfModelArray(VsfModel* model, int64_t count, bool zero = true) {
  assert(count <= INT64_MAX / static_cast<int64_t>(sizeof(T)) && "the block size overflows");
  return count <= 0
             ? nullptr
             : static_cast<T*>(vsfModelAlloc(model, count * static_cast<int64_t>(sizeof(T)), zero));
}
// Resizes a model-pool block, keeping its contents (null on failure or a count <= 0).
template <class T> T* vsfModelResize(VsfModel* model, T* block, int64_t count) {
  assert(count <= INT64_MAX / static_cast<int64_t>(sizeof(T)) && "the block size overflows");
  if (count <= 0 || model->pool == nullptr)
    return nullptr;
  if (block == nullptr)
    return vsfModelArray<T>(model, count, true);
  return static_cast<T*>(
      model->pool->reallocate(model->pool, block, static_cast<size_t>(count) * sizeof(T), 0));
}
