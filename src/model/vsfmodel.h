// The state of one fit (VsfModel) with its code tables, the fold record and the step
// history, and the lifecycle operations: per-fit arrays, step recording, growth of the
// growable arrays, reset and release. Sweeping, criteria and trials have their own headers.
//
// Packed triangles: a symmetric matrix of n columns is n(n+1)/2 doubles stored by rows,
// element (i, j), i >= j, at i(i+1)/2 + j; column 0 is the response.
#pragma once

#include "support/hostif.h"

#include <cstdint>

struct VsfModelOptions;
struct VsfBagVec;
struct VsfPerfBlock;
struct ThreadPuddle;
struct VsfScratch;
struct VsfDataSettings;
struct VsfResampleDriver;
struct VsfLarAhead;
struct VsfCVExSums;

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

// The state of one effect in the current fit.
enum VsfEffectStatus : uint8_t {
  VES_CANDIDATE = 0,
  VES_SELECTED = 1,
  VES_INTERCEPT = 2,
  VES_FORCED = 3,
  VES_UNASSIGNED = 4,
  VES_UNAVAILABLE = 5,
  VES_SCREEN_SET = 6,
};

// True for the states of an effect that is in the model: selected, the intercept or forced.
[[nodiscard]] inline bool vsfInModelStatus(uint8_t status) {
  return status == VES_SELECTED || status == VES_INTERCEPT || status == VES_FORCED;
}

// Outcome of a fit (fitStatus); each negative value has a message of set 848.
enum VsfFitStatus : int32_t {
  VFS_DONE = 0,
  VFS_NO_MEMORY = -2,
  VFS_ZERO_FULL_MSE = -100,
  VFS_NO_VALIDATION = -101,
  VFS_SINGLE_FOLD = -102,
  VFS_TOO_MANY_FOLDS = -103,
  VFS_NO_RANK = -201,
  VFS_NO_TRAIN = -202,
  VFS_OVERFLOW = -203,        // a sum of squares is beyond the largest double (overflowEffect)
  VFS_RIDGE_TOO_LARGE = -204, // the elastic net's ridge term (n - 1) x L2 cannot be held
};

// What the pass that forms the full X'X does to the pages first (xpxPagePrep): nothing, the
// path methods' centring and scaling, or the shift with its sums of squares; done once that
// pass has run.
enum VsfXpxPagePrep : uint8_t {
  VXP_NONE = 0,
  VXP_CENTRE = 1,
  VXP_SHIFT = 2,
  VXP_DONE = 3,
};

// Whether a fit status says the fit gave no usable model (every failure code is negative).
[[nodiscard]] inline bool vsfFitFailed(int32_t status) { return status < VFS_DONE; }

// The message of set 848 that reports a fit status (0 when there is none).
[[nodiscard]] int32_t vsfFitStatusMessage(int32_t fitStatus);

// The resampler of the current sample, as far as the data passes read it.
struct VsfResampler {
  int64_t freqReadPos;
  int64_t freqStartPos;
  // The draw of the current sample (vsfresfreq.h) and the resampler's files and stream
  // (vsfresample.h).
  double* freqBuffer; // the drawn frequencies of the page being visited
  double copiesSeen;  // TRAIN copies visited in this sample
  double drawnTotal;  // frequencies drawn so far in this sample
  double savedNObs, savedNTrain, savedWTrain;
  double poolLeft, neededLeft; // subsampling: copies not yet visited, still to select
  double sampleWeight;         // weight sum of the sample
  int32_t sampleCount;         // samples this resampler fits
  int32_t sampleTag;           // i while sample i runs, -100 - i for its final records
  struct RandomStream* stream;
  QkPool* pool;
  struct VsfScratch* freqScratch; // frequency blocks and resample records
  int64_t freqScratchPos;
  struct VsfScratch* modelScratch; // the step records of its samples
  int64_t modelScratchPos;
  int64_t freqStart, freqEnd;
  const struct VsfResampleSettings* settings;
  int64_t* recordPos; // per sample, where its resample record begins
  int64_t* blockPos;  // per sample, where its frequency block begins
};

// One cross-validation fold: its own sums without the fold's rows, and its trial state.
struct VsfFoldRecord {
  double** effectBlocks;
  double* sweptXpx;
  double* xpx;
  double* beta;
  double* cross;
  double cvSse;
  double rowCount;
  double freqCount;
  double weightCount;
  char* sweepFlags;
  double savedCvSse;
  double* savedSweptXpx;
  double* savedXpx;
  char* savedSweepFlags;
  double cleanCvSse;
  double* workSweptXpx;
  double* cleanSweptXpx;
  double* workXpx;
  char* workSweepFlags;
  char* cleanSweepFlags;
};

// The structured cross products of a FORWARD fit over one many-level CLASS effect whose own
// block of X'X is diagonal (vsfstructured.h): the model's packed triangles then hold only the
// response and the dense columns ("small" columns); the effect's block is kept as its
// diagonal and its cross block with the small columns, never as its k x k block.
struct VsfStructured {
  int32_t effect;        // the many-level effect (its only sparse effect)
  int32_t columns;       // k, its columns
  int32_t small;         // the small columns, the response first (the triangles' order)
  double* diagonal;      // k: its block's diagonal
  double* cross;         // k x small: row j holds X'X(column j, small columns)
  char* swept;           // k: '1' for its columns swept in while it is in the model
  double* sweptDiagonal; // k: the swept diagonal of those columns in the current model
  double* reduced;       // the small triangle less the effect's swept columns (C_J' D_J^-1 C_J)
  uint8_t offDiagonal;   // set by the pass when a row has two values in the effect's block
  uint8_t inModel;
};

struct VsfModel {
  // Links into the run (set per BY group).
  VsfModelOptions* options;
  VsfBagVec* bags;
  VsfPerfBlock* perf;
  ThreadPuddle* puddle;
  VsfScratch* scratchHolder; // the context slot of the step-record scratch file
  QkPool* pool;              // the "model pool"; null between fits
  int32_t fitStatus;         // VsfFitStatus
  int32_t passFailure;       // the first failing data pass of the fit (0: none)
  int32_t overflowEffect;    // VFS_OVERFLOW: the effect whose sums overflow, -1 the response

  const VsfDataSettings* dataSettings;
  VsfResampler* resampler;
  VsfResampleDriver* resampleDriver;

  // Data totals, written by vsfData.
  double freqUsed, freqRead, nUsed, nRead, nTrain, nObs;
  // valDataUsed, testDataUsed: the frequency sums read from VALDATA= and TESTDATA= (the
  // NObs tables' SumFreqsRead), not counts used.
  double valDataRead, valDataUsed, nValidate, freqValidate;
  double testDataRead, testDataUsed, nTest, freqTest;
  // nTrainRead: the rows used in the training role (the same count as nTrain, kept apart
  // from it), not the rows read; the NObs table shows it as NObsTraining.
  double nNoRole, freqNoRole, wTrain, wValidate, wTest, nObsRead, nTrainRead;
  double nMissingResponse; // DATA= rows read whose response is missing

  double fuzz;
  void* solverExtension;

  // Elastic-net settings and L2-search state.
  double l2;
  int32_t l2Steps, l2Search, enSetting;
  double l2Low, l2High;
  double* enTuneRows;

  // Penalized-path state.
  double lambdaMax, lambda, l1Norm, l2Norm;
  double* stepL1Norm;
  double* stepL2Norm;
  double* stepPathValue;
  double* stepHeldOutTestError;
  double l1Target;

  // External cross validation.
  double* stepHeldOutError;
  double heldOutError;
  int32_t heldOutFold;
  int32_t* cvexKeys;
  double* cvexValues;
  int32_t* cvexFoldEnd;
  double* cvexFoldLambdaMax;
  double* cvexGrid;
  double* cvexCurve;
  double* cvexFoldKnots;
  int32_t cvexGridCount;
  double cvexChosenValue;
  int32_t cvexRecordCount;
  double heldOutTestError;

  // Screening and path-step state.
  int32_t screenInCount, screenOutCount, screenNewCount, screenPower;
  double screenRatio, screenTermA, screenTermB, lambdaSure, lambdaRatioSum, lambdaNext;
  int32_t screenKeep, screenSetting;
  double screenKeepRatio, screenSetting2;

  // Counts.
  int32_t stepLimit, effectCount, parmCount, denseColumnCount, sparseEffectCount;
  int32_t singleColumnEffectCount, maxEffectColumns, includeCount, foldCount;
  int32_t optionCount;
  int32_t xpxColumns, crossColumnCount, stepCount, rank, inModelCount, prevInModelCount;
  int32_t changeListLength, xpxCapacity, crossCapacity, stepCapacity, changeListCapacity;

  // Effect blocks and the trial block.
  double** effectBlocks;
  double* trialXpx;
  char* trialFlags;
  // Per effect: whether its own block of X'X was found diagonal (vsftrial.cpp's shapes).
  uint8_t* trialBlockShape;
  uint8_t needTrialBlock;
  uint8_t hierarchy;

  // Cross products.
  double* xpx;
  double* sweptXpx;
  double* cross;

  // Step history (stepRank, stepEffects, stepSSE have an element at index -1).
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

  char* sweepFlags;

  // Chosen-step snapshot.
  double* chosenBetaVariance;
  double* chosenBeta;
  double* chosenStdBeta;
  int32_t* chosenInModelList;
  int32_t chosenStep;
  uint8_t* chosenEffectStatus;

  // Estimates and work vectors.
  double* workVector;
  double* corr;
  double* beta;
  double* stdBeta;
  double* candidateValue;
  double* betaVariance;
  double* adaptiveWeight;

  // Effect tables.
  uint8_t* effectStatus;
  int32_t* crossSlot;
  int32_t* effectFirstColumn;
  int32_t* parmOffset;
  int32_t* hierAddCount;
  int32_t* hierDropCount;
  const int32_t* hierAddCountInit;
  const int32_t* hierDropCountInit;
  int32_t* const* hierListA;
  int32_t* const* hierListB;

  // Penalized-path and solver vectors.
  double* dirCorr;
  double* direction;
  double* pathBeta;
  double* solverBeta;
  double* savedBeta;
  double* savedStdBeta;
  double* savedSolverBetaA;
  double* savedSolverBetaB;
  int32_t* activeSign;
  int32_t adaptiveAliased;
  // The least-angle path's residual sums of the coming steps, found by one pass (null when
  // the path takes a pass per step); set by the path for the time it runs.
  VsfLarAhead* larAhead;
  // External cross validation's fold cross products (null when the fold fits pass over the
  // pages); set by vsfDriveCVExternal for its pass and its fold fits.
  VsfCVExSums* cvexSums;
  // The most bytes of cross-product columns (x_k'X of entered effects) that the path keeps
  // without the packed X'X; 0 when it takes the passes per step. Set by the path.
  int64_t larCrossBytes;

  // Screening vectors.
  double* screenBound;
  uint8_t* screenFlag;
  double* screenStat;
  int32_t* screenInList;
  int32_t* screenOutList;
  int32_t* screenNewList;

  // Per-parameter tables of the BY group (BY pool). Their names are those of the sums a
  // moments pass forms; what they hold changes with the stage of the fit:
  //   columnSums        during a moments pass (vsfMoments) the weighted TRAIN column sums;
  //                     after the reading pass (vsfData) the TRAIN column means (0 under
  //                     NOSTANDARDIZE), which the page transform centres about and the
  //                     intercept is recovered from.
  //   columnSumSquares  during a moments pass the weighted TRAIN sums of squares; after the
  //                     reading pass the column scales, 1 / standard deviation (missing for
  //                     a constant column, 1 under NOSTANDARDIZE), which turn standardized
  //                     estimates back to the data's scale.
  //   columnSquareSums  the weighted TRAIN sums of squares of the columns: raw after the
  //                     reading pass, about the page shift once the pages are shifted
  //                     (vsfYpwY adds them up again); the diagonal the candidate tests use.
  double* columnSums;
  double* columnSumSquares;
  double* columnSquareSums;
  // Per parameter, whether the sums that formed its scale resolve it (VsfSpreadState): set
  // with the scales, cleared once a fit has formed the unresolved ones again about the means
  // (their sums of deviations and of squared deviations in spreadSums, 2 x parmCount).
  uint8_t* spreadState;
  double* spreadSums;
  // The shift the pages are held about while a model with an intercept is fitted: [0] the
  // response's TRAIN mean, [1 + p] parameter p's (0 for the intercept and sparse columns).
  // Cross products about it keep the sweep's singularity test and its precision meaningful
  // for columns with a large offset. pagesShifted is set once the pages hold shifted values;
  // rawSumWYY keeps the uncorrected response sum of squares.
  double* xpxShift;
  uint8_t pagesShifted;
  double rawSumWYY;
  // The centring and scaling, or the shift, of the pages when it is left to the pass that
  // forms the full X'X (VsfXpxPagePrep): the rows are then read once for both.
  uint8_t xpxPagePrep;
  double* inestEstimates;
  int32_t* sparseEffectList;
  int32_t* sparseSlot;
  int32_t* effectColumn;
  int32_t* effectColumnCopy; // the averaged-model refit's copy of effectColumn
  int32_t* denseOffset;
  int32_t* effectColumns;
  int32_t* inModelList;
  int32_t* prevInModelList;

  // Aliased effects dropped before step 0 of BACKWARD.
  int32_t aliasDropCount, aliasIncludeDropCount;
  int32_t* aliasDropList;

  // Criteria and sums of squares of the current model.
  double press, sumWYY, sumWY, totalSSUncorrected, totalSS, sse, fullMse, validateAse, testAse;

  // The scratch file of the step records and the position the next record goes to.
  VsfScratch* stepScratch;
  int64_t* stepScratchPos;

  // Stop block.
  uint8_t stopReason;
  int32_t stopAddEffect, stopDropEffect;
  double stopAddValue, stopDropValue;

  // Trial-model state.
  uint8_t trialCopies;
  double* savedSweptXpx;
  double* savedXpx;
  double savedSse, savedCvPress, savedPress, savedValidateAse, savedTestAse;
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

  // Folds.
  double cvPress;
  VsfFoldRecord* folds;
  double* chosenFoldCvSse;
  // The chosen step's fold estimates (fold f at f x parmCount), kept under CHOOSE= when the
  // fold estimates are shown.
  double* chosenFoldBeta;

  // Solver-based fits: the packed X'X of the response and every parameter (parameter p in
  // column 1 + p) that the solver's loss and gradient read instead of passing over the pages,
  // null when they pass over the pages; the data passes the solver drivers made, and the
  // loss and gradient evaluations the solver asked for (each a data pass without solverGram).
  double* solverGram;
  int64_t solverPasses, solverEvaluations;

  // The elastic-net L2 search: the trial in progress, the rows enTuneRows has room for, the
  // L2 of the kept fit, and the cross products before the ridge that every trial shares
  // (l2BaseXpx owned by the search, filled by its first trial; null outside a search).
  int32_t l2Trial;
  int32_t enTuneCapacity;
  double finalL2;
  double* l2BaseXpx;
  uint8_t l2BaseReady;
  // The structured cross products of the fit, null on the road of the packed triangle of all
  // columns.
  VsfStructured* structured;
  // Set by the results layer before the fit: the selected model goes to post-fit statements,
  // which take its swept triangle of all columns (so the structured road is not taken).
  uint8_t handsOverModel;
};

// Lifecycle. All return 0, -1 (pool) or -2 (allocation) unless noted.
[[nodiscard]] int32_t vsfModelInit(VsfModel* model);
void vsfModelByFree(VsfModel* model);
[[nodiscard]] int32_t vsfRecordStep(VsfModel* model, int32_t effect);
[[nodiscard]] int32_t vsfAddStepMemory(VsfModel* model, int32_t newCapacity);
// Grows the X'X triangles to `newCapacity` columns (-1: twice the columns in use): 0,
// kVsfNoMemory after the message that they do not fit, or kVsfReportedFailure after the
// message that the procedure supports no triangle that large.
[[nodiscard]] int32_t vsfAddXpXMemory(VsfModel* model, int32_t newCapacity);
[[nodiscard]] int32_t vsfAddCrossMemory(VsfModel* model, int32_t newCapacity, int32_t rowLength);
[[nodiscard]] int32_t vsfAddEffChangeMemory(VsfModel* model, int32_t newCapacity);
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
  return count <= 0
             ? nullptr
             : static_cast<T*>(vsfModelAlloc(model, count * static_cast<int64_t>(sizeof(T)), zero));
}
// Resizes a model-pool block, keeping its contents (null on failure or a count <= 0).
template <class T> T* vsfModelResize(VsfModel* model, T* block, int64_t count) {
  if (count <= 0 || model->pool == nullptr)
    return nullptr;
  if (block == nullptr)
    return vsfModelArray<T>(model, count, true);
  return static_cast<T*>(
      model->pool->reallocate(model->pool, block, static_cast<size_t>(count) * sizeof(T), 0));
}
