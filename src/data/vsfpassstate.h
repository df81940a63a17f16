// The part of a fit's state (VsfModel, model/vsfmodel.h) that the data passes and the
// kernels work on: the links into the run (pages, puddle, pool, data settings), the data
// totals and layout counts the reading pass writes, the per-parameter tables, the current
// model the kernels read (in-model list, swept triangle, path and solver vectors) and the
// buffers they fill (cross products, correlations, fold sums, criteria). VsfModel derives
// from it, so the layers below the model see this part only.
#pragma once

#include "support/hostif.h"

#include <cstdint>

struct VsfModelOptions;
struct VsfBagVec;
struct ThreadPuddle;
struct VsfScratch;
struct VsfDataSettings;
struct VsfLarAhead;
struct VsfCVExSums;
struct VsfFoldFactors;
struct VsfLeverageFactor;
struct VsfRowPivotJob;

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

// What the pass that forms the full X'X does to the pages first (xpxPagePrep): nothing, the
// path methods' centring and scaling, or the shift with its sums of squares; done once that
// pass has run.
enum VsfXpxPagePrep : uint8_t {
  VXP_NONE = 0,
  VXP_CENTRE = 1,
  VXP_SHIFT = 2,
  VXP_DONE = 3,
};

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
  // On the packed road, the sums of the fold's own rows (the triangle's layout), kept so that
  // its held-out error need not recover them as the total less the record; else null.
  double* ownXpx;
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

// The structured cross products of a fit over one many-level CLASS effect whose own
// block of X'X is diagonal (vsfstructured.h): the model's packed triangles then hold only the
// response and the dense columns ("small" columns); the effect's block is kept as its
// diagonal and its cross block with the small columns, never as its k x k block.
struct VsfStructured {
  int32_t effect;  // the many-level effect (its last sparse effect)
  int32_t columns; // k, its columns
  // The small columns, the response first (the triangles' order): the dense columns, then
  // those of the sparse effects that join the road.
  int32_t small;
  double* diagonal; // k: its block's diagonal
  // The cross block X'X(column j, small columns), read through VsfCrossRow: row j holds
  // its first `dense` small columns in place (k x dense), and those of the joining sparse
  // effects beyond them (few per level) at joinColumn[joinStart[j] .. joinStart[j + 1]),
  // values in joinValue; without joinStart (pages not all in memory) every column is in
  // place. The cross products of the rows with one value in every column (rankOne's rows)
  // are part of every row, held once in rankCross (small).
  double* cross;
  int32_t dense;
  const int64_t* joinStart;
  const int32_t* joinColumn;
  double* joinValue;
  double* rankCross;
  char* swept; // k: '1' for its columns swept in while it is in the model
  // k, in a fold record: '1' for a column the model took whose pivot in the record's sums
  // the rounding bound refused while the fold's training rows hold its level (the fold is
  // refitted from its rows, which may take it into the state: swept '1' as well).
  char* lost;
  double* sweptDiagonal; // k: the swept diagonal of those columns in the current model
  uint8_t diagonalStale; // set while sweptDiagonal waits to be formed (vsfStructuredSettle)
  double* reduced;       // the small triangle less the effect's swept columns (C_J' D_J^-1 C_J)
  // small: '1' for the small columns over which `reduced` was last found to have a Cholesky
  // factor, all '0' whenever `reduced` is formed again; any set of them has one too.
  char* factorOver;
  double* estimates; // k: the state's estimates of its columns for a residual pass
  // k: the refinement's correction of the estimates of its columns over the rows, added to
  // those of the elimination while the state holds (refinedValid; any change drops it).
  double* refined;
  uint8_t refinedValid;
  double rankOne;      // the block's every off-diagonal element (effect coding), or 0
  uint8_t offDiagonal; // set by the pass when the block is neither of those shapes
  uint8_t inModel;
  // The state before the trials of a search (vsfStructuredSave).
  char* savedSwept;
  char* savedLost;
  double* savedSweptDiagonal;
  // The reduced triangle and its factorOver, copied there only when a trial forms the
  // triangle again (reducedCopied), which few trials do: a removal trial of a small column
  // leaves it as it was, and copying it for every trial cost more than the trial's sweeps.
  double* savedReduced;
  char* savedFactorOver;
  uint8_t reducedCopied;
  uint8_t reducedKept; // set while a saved state is kept (vsfStructuredSave)
  uint8_t savedInModel;
  uint8_t savedDiagonalStale;
  // Under cross validation, each fold record's state (its sums those outside the fold, about
  // the record's own means where the folds are centred, vsfCVCentreFolds):
  // foldCount of them, whose own folds are none.
  int32_t foldCount;
  VsfStructured* folds;
  // For a PRESS pass (vsfStructuredPressSetUp): per column j swept in, and last for the rows
  // with one value in every column, T^-1 c over the small columns (T the reduced triangle's
  // swept block, c their cross row less its part through the effect's block: (k + 1) x small)
  // and the diagonal element of (X'X)^-1 that the row's effect value multiplies (k + 1).
  double* leverageCross;
  double* leverageDiagonal;
  // The same sets' c = C'B^-1 e itself (C the effect's cross block, B its block, e the column
  // or all ones: (k + 1) x small), which a row less its effect value times it reduces to its
  // part outside the effect's span, and e'B^-1 e, the effect's own term of the leverage.
  double* leverageShift;
  double* leverageBlock;
  // The cross-product pass's sums (vsfStructuredXpXLength), in which the model's and the fold
  // records' diagonals and cross blocks lie; null in a fold record.
  double* sums;
};

// The data totals of the BY group: the rows, frequencies and weights read and used in each role.
// The reading pass (vsfData, data/vsfreadend.cpp) writes them; the criteria, the NObs tables and
// the resampler read them.
struct VsfDataTotals {
  double freqUsed, freqRead, nUsed, nRead, nTrain, nObs;
  // valDataUsed, testDataUsed: the frequency sums read from VALDATA= and TESTDATA= (the
  // NObs tables' SumFreqsRead), not counts used.
  double valDataRead, valDataUsed, nValidate, freqValidate;
  double testDataRead, testDataUsed, nTest, freqTest;
  // nTrainRead: the rows used in the training role (the same count as nTrain, kept apart
  // from it), not the rows read; the NObs table shows it as NObsTraining.
  double nNoRole, freqNoRole, wTrain, wValidate, wTest, nObsRead, nTrainRead;
  double nMissingResponse; // DATA= rows read whose response is missing
  double nUnweighted;      // DATA= rows with a response left out for a weight missing or <= 0
};

// The elastic net's part that the passes read: the ridge term of the current fit and its setting,
// and the rows of the L2 search's tuning table (selection/vsfelnet.cpp fills them; VsfModel's elnet
// holds the rest of the search).
struct VsfElnetPass {
  double l2;
  int32_t l2Steps, enSetting;
  double* enTuneRows;
  int32_t enTuneCapacity;
};

// External cross validation's part that the passes read and add to: the held-out fold and its
// errors, the fold keys and values, the tuning grid and curve, and the fold cross products
// (selection/vsfcvex.cpp, vsfcvexroad.cpp; VsfModel's cvex holds the choice).
struct VsfCVExPass {
  double heldOutError;
  int32_t heldOutFold;
  int32_t* cvexKeys;
  double* cvexValues;
  int32_t* cvexFoldEnd;
  double* cvexFoldLambdaMax;
  double* cvexGrid;
  double* cvexCurve;
  double* cvexFoldKnots;
  double heldOutTestError;

  // External cross validation's fold cross products (null when the fold fits pass over the
  // pages); set by vsfDriveCVExternal for its pass and its fold fits.
  VsfCVExSums* cvexSums;
};

// The screening of the path's candidates as the passes see it (selection/vsfscreen.cpp): the
// effects screened in, out and newly in, and the terms the screening pass sums (VsfModel's screen
// holds the rule).
struct VsfScreenPass {
  int32_t screenInCount, screenOutCount, screenNewCount;
  double screenTermA, screenTermB;

  int32_t* screenInList;
  int32_t* screenOutList;
  int32_t* screenNewList;
};

// The cross-validation folds: their count, the fold records (each the sums without the fold's rows
// and its trial state), their kept own sums and the centres the records are held about. The fold
// code (selection/vsfcv.cpp, model/vsffoldpress.cpp, model/vsffoldmove.cpp) fills it; the reading
// pass sets the counts.
struct VsfFoldState {
  int32_t foldCount;
  // Under cross validation, the folds that some kept TRAIN row holds: a fold's refit has no
  // training rows when fewer than two do.
  int32_t foldsHeld;

  VsfFoldRecord* folds;
  int32_t foldOwnColumns; // the columns of the folds' kept own sums (ownXpx), 0 when none
  // Per effect, its first column in the kept own sums' layout: a trial collapses the model's
  // triangle to the in-model columns in their order of entry, and the own sums stay as made.
  int32_t* foldOwnColumn;
  // Under cross validation on the packed road over shifted pages, the pass that forms X'X
  // sums each fold's own rows about their own means, so that no record loses digits to a
  // shift that rows outside it dominate. foldCentre is set for that pass only: per fold its
  // weight, then its means over the rows' dense values (foldCentreOrder of them, the response
  // first, the intercept's 0). foldShift: per fold (parmCount + 1 each, the response first),
  // the means of the fold record's rows, less the pages' shift, about which the record and
  // the fold's own sums are held; null where every record is about the pages' shift.
  double* foldCentre;
  int32_t foldCentreOrder;
  double* foldShift;
  // On the growing road, where the passes sum each fold's rows about its centre for the whole
  // fit: the centres by parameter (per fold parmCount + 1, the response first, 0 for the
  // intercept and sparse columns); null elsewhere.
  double* foldPartCentre;
  // Per fold (parmCount + 1 each, by parameter as foldShift), the weighted sums of the sparse
  // columns' values over the fold's rows, 0 elsewhere: the first sums of the columns no
  // centre moves, which moving a part to another centre takes; null without sparse columns.
  double* foldFirstSums;
  // The folds' sums of the rows (vsfCVFoldMeans's) that the pass shifting the pages took for
  // the fit's fold centres, so that they need no pass of their own; null where it took none.
  double* foldMeansTaken;
  // Per fold, what its held-out residuals over the pages' rows take off the residual that
  // its swept coefficients give (the response's and the columns' record shifts through its
  // coefficients); null where foldShift is.
  double* foldResidualShift;
};

// The effects whose cross products the next cross-product pass forms, set by vsfAddCrossBatch
// (model/vsfcrossstore.cpp) for its pass.
struct VsfCrossBatch {
  // The effects whose cross products the next cross-product pass forms, in store order
  // (null: the effect that entered last); set by vsfAddCrossBatch for its pass.
  const int32_t* crossBatch = nullptr;
  int32_t crossBatchCount = 0;
  uint8_t crossBatchContiguous = 0; // vsfDenseInParameterOrder for the batch's pass
};

// The penalized path's and the solver's vectors that the kernels read and fill: the correlations,
// the direction and its correlations, the path's and the solver's estimates, and the least-angle
// path's sums of the coming steps (selection/vsflarlasso.cpp, vsfqklasso.cpp; VsfModel's path and
// solver hold the rest).
struct VsfPathPass {
  double* corr;

  double* dirCorr;
  double* direction;
  double* pathBeta;
  double* solverBeta;
  // The least-angle path's residual sums of the coming steps, found by one pass (null when
  // the path takes a pass per step); set by the path for the time it runs.
  VsfLarAhead* larAhead;
};

// The adaptive weights of the columns and the split-level least-squares pass that forms them
// (model/vsfadaptive.cpp, model/vsfsplitadaptive.cpp).
struct VsfAdaptivePass {
  double* adaptiveWeight;

  // Whether the adaptive weights are applied to the columns: on the pages for dense columns,
  // and for split levels stored sparse as a factor of their scale (vsfSplitScale).
  uint8_t splitWeighted;
  // Where the split-level least-squares pass of the adaptive weights adds its sums (null
  // outside that pass).
  double* splitFitSums;
};

// The per-parameter sums of the BY group (BY pool) that a moments pass forms and the reading pass
// turns into the means and scales the pages and estimates take (kernels/vsfmoments.cpp,
// data/vsfdata.cpp).
struct VsfColumnMoments {
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
  // While that pass runs: the sparse columns it forms again, as (effect, column) pairs, and
  // their count. A sparse column far from its mean (an ordinal level that nearly every row
  // holds) is one whose rows the pass must visit, zeros included.
  const int32_t* farSparse;
  int32_t farSparseCount;
};

// The shift the pages are held about while a model with an intercept is fitted, and how the pass
// that forms the full X'X prepares the pages (model/vsfshift.cpp).
struct VsfPageShift {
  // The shift the pages are held about while a model with an intercept is fitted: [0] the
  // response's TRAIN mean, [1 + p] parameter p's (0 for the intercept and sparse columns).
  // Cross products about it keep the sweep's singularity test and its precision meaningful
  // for columns with a large offset. pagesShifted is set once the pages hold shifted values
  // (VsfModel's rawSumWYY keeps the uncorrected response sum of squares).
  double* xpxShift;
  uint8_t pagesShifted;
  // The centring and scaling, or the shift, of the pages when it is left to the pass that
  // forms the full X'X (VsfXpxPagePrep): the rows are then read once for both.
  uint8_t xpxPagePrep;

  // The value vsfResponseSquares takes the response about (0: as the pages hold it).
  double responseCentre;
};

// Where a row's values lie on the pages: the effects stored dense and their offsets, and the slots
// of those stored sparse. The reading pass (data/vsfdata.cpp) sets it; every kernel that walks the
// rows reads it.
struct VsfPageLayout {
  int32_t denseColumnCount, sparseEffectCount;

  // Stored sparse, a slot holds one effect's values, or (splitSparse) a run of single-column
  // split effects whose stored value b is effect sparseEffectList[s] + its stored index, kept
  // raw: the kernels centre and scale them in their sums (vsfSplitCorrect).
  int32_t* sparseEffectList;
  int32_t* sparseSlot;
  uint8_t splitSparse;
  // The effects stored dense, in the order of their values in a row.
  int32_t* denseEffectList;
  int32_t denseEffectCount;
  int32_t* denseOffset;
};

// The residual pass of a refined least-squares step (model/vsfrefine.cpp): where it adds r'r and
// X'r, and the CV folds whose records it corrects. Null and 0 outside that pass.
struct VsfRefinePass {
  // Where the residual pass of a refined least-squares step adds r'r and X'r (null outside
  // that pass).
  double* refineSums;
  // The folds whose records the residual pass of refined CV folds corrects, in the order of
  // their sums in refineSums (null and 0 outside that pass).
  const int32_t* refineFolds = nullptr;
  int32_t refineFoldCount = 0;
};

// The PRESS pass's leverages on a nearly dependent design (model/vsfpressfactor.cpp): the factor of
// the model's columns formed afresh, and where the passes that form and weigh it add their rows and
// sums. Null outside those passes.
struct VsfLeveragePass {
  // The PRESS pass's leverages on a nearly dependent design, from a factor of the model's
  // columns formed afresh (kernels/vsfresid.h); null outside that pass and on sound designs,
  // where the swept block gives them.
  const VsfLeverageFactor* leverageFactor;
  // Where the pass that forms that factor from the rows rotates them in (null outside it).
  double* leverageRows;
  // Where the pass that weighs that factor against the swept block adds each source's sum of
  // the training rows' leverages (null outside it).
  double* leverageSums;
};

struct VsfPassState {
  // Links into the run (set per BY group).
  VsfModelOptions* options;
  VsfBagVec* bags;
  ThreadPuddle* puddle;
  QkPool* pool; // the "model pool"; null between fits

  // Not const: the fit's memory plan may lower the page thread count (vsfPlanCrossProducts).
  VsfDataSettings* dataSettings;
  VsfResampler* resampler;

  // Data totals, written by vsfData.
  VsfDataTotals totals;

  // Elastic-net settings and L2-search state.
  VsfElnetPass elnetPass;

  // External cross validation.
  VsfCVExPass cvexPass;

  // Screening.
  VsfScreenPass screenPass;

  // Counts.
  int32_t effectCount, parmCount;
  int32_t singleColumnEffectCount, maxEffectColumns, includeCount;
  int32_t optionCount;
  int32_t xpxColumns, crossColumnCount, inModelCount;

  // Effect blocks and cross products.
  double** effectBlocks;
  double* xpx;
  double* sweptXpx;
  double* cross;
  char* sweepFlags;
  VsfCrossBatch batch;

  // Adaptive weights.
  VsfAdaptivePass adaptive;

  // Effect tables.
  uint8_t* effectStatus;
  int32_t* parmOffset;

  // Penalized-path and solver vectors.
  VsfPathPass pathPass;

  VsfColumnMoments moments;
  VsfPageShift shift;
  VsfPageLayout layout;
  VsfRefinePass refine;
  // The column whose pivot a row pass judges again (model/vsfrowpivot.h; null outside that
  // pass).
  const VsfRowPivotJob* rowPivot;
  VsfLeveragePass leverage;
  // The factors of the training rows of the folds refitted from them (model/vsffoldfactor.h),
  // which that pass rotates its rows into; null outside it.
  VsfFoldFactors* foldFactors = nullptr;
  int32_t* effectColumn;
  int32_t* effectColumnCopy; // the averaged-model refit's copy of effectColumn
  int32_t* effectColumns;
  int32_t* inModelList;
  int32_t* prevInModelList;

  // Criteria and sums of squares of the current model.
  double press, sumWYY, sumWY, sse, validateAse, testAse;

  // Folds.
  VsfFoldState cv;
  // The structured cross products of the fit, null on the road of the packed triangle of all
  // columns.
  VsfStructured* structured;
};
