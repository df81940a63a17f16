// Data pages of a BY group: the settings the reading pass and the data passes read, the
// source of observations and design rows it reads from, the reading pass and read
// preparation, and the entries the driver calls. Page files, scratch files, the thread
// pool and the frame have their own headers, included here for the driver.
#pragma once

#include "data/vsfscratchfile.h"
#include "data/vsfthread.h"
#include "data/vsfutilfile.h"
#include "data/zpuddle.h"
#include "design/levrowstatus.h"
#include "support/hostif.h"
#include "support/protocol.h"
#include "support/stepcodes.h"
#include "support/vsfoptions.h"

#include <cstdint>

struct LevReadBlock;
struct VsfDataSettings;
struct VsfPassState;

// Partition roles of a row.
enum VsfRole : int32_t {
  VSF_ROLE_NONE = 0,
  VSF_ROLE_TRAIN = 1,
  VSF_ROLE_VALIDATE = 2,
  VSF_ROLE_TEST = 4
};
// The number of a role in the per-role counters and the output data sets: TRAIN 1,
// VALIDATE 2, TEST 3 (0 none).
[[nodiscard]] inline int32_t vsfRoleIndex(int32_t role) { return role == VSF_ROLE_TEST ? 3 : role; }
// The fold code of a row that has no fold yet.
inline constexpr int32_t kVsfNoFold = -999;

// One entry of the model's effect list: the model effect, its column count and, for a
// split effect, the positions of the kept columns within the effect (null: all, in order).
struct VsfEffectEntry {
  int32_t effect;
  int32_t columnCount;
  const int32_t* columnList;
  int32_t firstColumn; // the effect's first design column (0-based)
  uint8_t sparseVote;  // the design's vote for a sparse representation (useSparseRepresentation)
  // A small sparse effect that joins the many-level effect's structured road
  // (joinSmallEffects): its columns go into the road's triangle, before the many-level
  // effect's, while its values stay sparse in the pages.
  uint8_t joined = 0;
  // The effect holds a constructed effect (a spline's or polynomial's columns): its sparse
  // values are not the 0/1 codes of CLASS levels that the structured road sums as such.
  uint8_t constructed = 0;
};

// A PARTITION TRAIN=, VALIDATE= or TEST= value: length 0 absent, negative blank.
struct VsfRoleValue {
  const char* text;
  int32_t length;
};

// The page-level state of a reading pass, for the tests and the completion.
struct VsfReadResult {
  int64_t pagesWritten;
  int32_t maxRowsPerPage;
  // With the bridge flag (BY pool): weighted and frequency-weighted numeric means, and the
  // per-effect means (GLM coding only).
  double* bridgeWeightedMeans;
  double* bridgeFreqMeans;
  double* bridgeEffectMeans;
  // CVMETHOD=INDEX (BY pool): per fold, in level order, the 0-based level of the index
  // variable it holds; a fold for each level that some kept TRAIN row holds (folds of them).
  int32_t* indexFoldLevels;
};

// Why the read preparation lowered the page thread count.
enum VsfThreadLimit : uint8_t {
  VTL_NONE = 0,   // the count asked for stands
  VTL_MEMORY = 1, // the memory figure cannot feed that many threads
};
// What the read preparation set the thread count from (bytes): the host memory figure, what
// the fit holds once, and what each page thread holds.
struct VsfThreadBudget {
  VsfThreadLimit limit;
  double memory, fitWork, threadWork;
};

// The structured road planned for a fit over one many-level CLASS effect before its data
// are read (vsfStructuredPlan): the effect's entry (-1: the fit takes another road), its
// columns, the small columns beside it (the response's with every other column), the dense
// ones among those, and a bound on the places of the joining effects' columns in its cross
// block.
struct VsfRoadShape {
  int32_t entry = -1;
  int64_t columns = 0, small = 0, dense = 0, joined = 0;
};
// The doubles of the structured road's arrays beside its triangles: the effect's diagonal and
// cross block, with its swept diagonal, saved copies, estimates and refinements, for the model
// and each of `folds` fold records, and with `press` the leverage terms of a PRESS pass: two
// rows over the small columns and two numbers for each of the effect's columns and once for
// the rows with one value in every column (vsfStructuredPressArrays).
[[nodiscard]] double vsfStructuredCells(const VsfRoadShape& road, int32_t folds, bool press);
// The cross products of the road a fit takes: `copies` packed triangles of order
// `triangleOrder` (the matrix, its swept form and working copies, the folds' included), the
// growing build's own blocks of the effects (`blockCells`, every copy), and on the many-level
// road (`road` with columns) its arrays beside the triangles (vsfStructuredCells).
struct VsfCrossShape {
  int64_t triangleOrder = 0, copies = 0;
  double blockCells = 0.0;
  VsfRoadShape road;
  int32_t folds = 0;
  bool press = false;
};
// The doubles of those cross products: the one price of a road, which the read preparation
// and the fit's own plan (vsfPlanCrossProducts) both take.
[[nodiscard]] double vsfCrossProductCells(const VsfCrossShape& shape);
// Whether the reading pass stores an entry's values dense (else its non-zero values with
// their columns).
[[nodiscard]] bool vsfEntryStoredDense(const VsfDataSettings* settings,
                                       const VsfEffectEntry& entry);

// Everything the reading pass, the read preparation and the frame read of the options,
// the PERFORMANCE settings and the context.
struct VsfDataSettings {
  // Threads.
  int32_t threadCount; // page threads; lowered by the read preparation
  uint8_t threadingOn;
  // The threads of work in memory (sweeps of the cross products): the run's count, which
  // the read preparation does not lower, since such work needs no buffer per thread.
  int32_t sweepThreads;
  int32_t
      cpuCount; // the CPU count in force: CPUCOUNT= of the statement or option, else the machine's
  VsfThreadBudget threadBudget; // set by the read preparation
  // PERFORMANCE utility settings.
  uint8_t forceDense, forceSparse, utilDetails;
  int32_t utilAccess; // QkPgfSharing: kQkPgfSequential, or kQkPgfRandom
  int32_t utilPageSize, utilBuffers;
  // MODEL and procedure options.
  VsfMethod method;
  int32_t maxSteps, steps, forcedIn;
  uint8_t noint, weightGiven, freqGiven, roleCodes;
  VsfCvMethod cvMethod;
  uint8_t cv, xcv; // fold codes for ordinary / external cross validation
  int32_t folds;   // k
  uint8_t split, resampling, rewritePages, fullBuild, incrementalBuild, numericOptionByte;
  // The split levels of an effect voted sparse are stored as one sparse slot of raw values
  // (the kernels centre and scale them in their sums) where every entry is one column.
  uint8_t splitSparse;
  uint8_t noStandardize, refit, noprint, resampleFromScratch, enTuneRows;
  int32_t l2Steps;
  double testFraction, validateFraction, trainFraction;
  uint8_t roleVar; // PARTITION ROLEVAR= given
  VsfRoleValue trainValue, validateValue, testValue;
  uint8_t testData, valData; // TESTDATA=, VALDATA= given
  int32_t optionCount;       // the further count copied into the model
  // The post-fit bridge: means of the numeric variables and (GLM) of the effects.
  uint8_t bridge, glm;
  uint8_t partitionGiven; // a PARTITION statement was given
  // Nothing in the step reads DATA= again after its reading pass: the pass gives up the
  // observations it has stored, so that the host can free their values.
  uint8_t releaseData;
  int32_t numericCount;
  // The design.
  int32_t columnCount; // N
  const VsfEffectEntry* entries;
  int32_t entryCount; // E
  int32_t modelEffectCount;
  // The name of model effect e (entries[i].effect), for messages that name an effect; the
  // driver sets both, null when not set.
  const char* (*effectName)(const void* source, int32_t e);
  const void* nameSource;
  // The observations the reading pass expects (DATA= without BY groups), -1 not known.
  int64_t expectedRows;
  // The structured road the fit is planned to take (entry -1: none), whether its steps
  // make PRESS passes and whether it sweeps working copies of its triangles for its trials,
  // for the read preparation's estimate of what the fit holds.
  VsfRoadShape road;
  uint8_t press, trialCopies;
  int64_t* seed; // the working seed of the uniform stream
  // What vsfData's pass left (the bridge means among it), for the driver and the bridge.
  VsfReadResult read;
};

// What a column's raw sums tell of its spread.
enum VsfSpreadState : uint8_t {
  VSS_RESOLVED = 0, // the scale formed from the sums stands
  VSS_ABOUT_MEAN,   // the corrected sum cancels too far in the raw sums (a mean large against
                    // the spread, or no spread left): it is formed again about the mean
  VSS_OVERFLOW,     // the sum of squares is beyond the largest double
};

// The mean and the scale (1 / standard deviation; missing for a constant column or a
// frequency total F not above 1) of a column from its weighted sum and sum of squares over
// the weight total W, and whether those sums resolve the scale.
void vsfColumnMoments(double sum, double ss, double W, double F, bool noint, double* mean,
                      double* scale, uint8_t* state);
// The mean and the scale of a column from its weighted sums of deviations and of squared
// deviations about `centre`, a value near its mean: constant only when the deviations are.
void vsfColumnMomentsAbout(double centre, double deviations, double squares, double W, double F,
                           double* mean, double* scale);

// What starting a pass over a data set came to, when it did not fail.
enum class RowSourceStart : int32_t {
  Ready = 0,
  OutOfStep = 1, // the data set is not in step with the BY group (reported): it is skipped
};
[[nodiscard]] constexpr int32_t codeOf(RowSourceStart start) { return static_cast<int32_t>(start); }

// Where the reading pass gets observations and design rows (the design context in a run).
struct VsfRowSource {
  void* self;
  // Starts a pass over DATA= (0), TESTDATA= (1) or VALDATA= (2) at the current BY group:
  // the code of a RowSourceStart, or a failure status (end is not called then).
  int32_t (*begin)(void* self, int32_t which);
  // Ends a TESTDATA= or VALDATA= pass (restores what begin changed).
  void (*end)(void* self, int32_t which);
  // 1 while an observation is current.
  int32_t (*next)(void* self);
  // The row status (of the design row protocol) with the response, weight and frequency
  // (weight, frequency null when not wanted).
  LevRowStatusSet (*status)(void* self, double* response, double* weight, double* frequency);
  // The N design values of the current observation.
  void (*row)(void* self, double* values);
  // The ROLEVAR value of the current observation.
  void (*roleValue)(void* self, const char** text, int32_t* length);
  // The 0-based level of the CVMETHOD=INDEX variable of the current observation.
  int32_t (*indexLevel)(void* self);
  // TESTDATA=/VALDATA= rows with explanatory values missing: 1 when a CLASS value has no
  // level; else adds 1 to counters[e] for every effect whose level combination is unknown.
  bool (*unknownLevels)(void* self, int32_t* counters);
  // The name of model effect e.
  const char* (*effectName)(void* self, int32_t e);
  // For the post-fit bridge: the current observation's numeric variables; the level tables
  // of every effect (before effectMeans); per-effect means from per-column sums x scale.
  void (*numericValues)(void* self, double* values);
  void (*levelsAll)(void* self);
  void (*effectMeans)(void* self, const double* columnSums, double scale, double* means);
  // The block road (all null when the source has none). blockBegin: how many observations
  // of the current DATA= pass, from the next one on, workers may take in blocks (0 none).
  // blockWorker: a worker's state from `pool`, for blocks of up to `rows` observations
  // (made on the main thread; null when out of memory). blockRows: on a worker, observations
  // offset .. offset + count - 1 of those counted by blockBegin, each with its status,
  // response, weight, frequency and (when levRowUsable keeps it) its
  // N design values: 0, or -2 out of memory. blockEnd: the main thread took `count`
  // observations; the source goes on after them.
  int64_t (*blockBegin)(void* self);
  void* (*blockWorker)(void* self, QkPool* pool, int32_t rows);
  int32_t (*blockRows)(void* worker, int64_t offset, int32_t count, LevRowStatusSet* status,
                       double* response, double* weight, double* frequency, double* rows);
  void (*blockEnd)(void* self, int64_t count);
  // The rows in sparse form (all null when the source has none). sparseBound: the most
  // values a sparse row holds (0: none). sparseRow: the current observation's design row as
  // the values that may be non-zero with their columns (every other value is zero), each
  // column once and, within an effect, in column order: their count; `scratch` holds N
  // doubles. blockSparseRows: blockRows with the rows in sparse form, row k's values and
  // columns at values/columns from ends[k - 1] (0 for k = 0) to ends[k], with room for
  // sparseBound a row. sparseTypical: the most values the rows hold but a few (a level of
  // each many-level variable whose row holds many); null: sparseBound.
  int32_t (*sparseBound)(void* self);
  int32_t (*sparseTypical)(void* self);
  int32_t (*sparseRow)(void* self, double* scratch, double* values, int32_t* columns);
  int32_t (*blockSparseRows)(void* worker, int64_t offset, int32_t count, LevRowStatusSet* status,
                             double* response, double* weight, double* frequency, double* values,
                             int32_t* columns, int32_t* ends);
  // Gives up DATA= observations for the rest of the step (null: they are kept): with
  // taken >= 0 the first `taken` of those counted by blockBegin, else those before the
  // current one (before the next one when none is current).
  void (*release)(void* self, int64_t taken);
};

// The DATA= observations a reading pass takes between two calls of its source's release: at
// most kVsfReleaseRows, and for wide rows as many as hold about kVsfReleaseBytes of values, so
// that a wide input's values go back while the pass stores their rows on pages rather than
// all at its end. Never fewer than kVsfReleaseMinRows: a source hands back whole pages of each
// column, which fewer rows would not fill, for a call per column.
inline constexpr int64_t kVsfReleaseRows = int64_t{1} << 16;
inline constexpr int64_t kVsfReleaseMinRows = 1024;
inline constexpr int64_t kVsfReleaseBytes = int64_t{1} << 27;
// The release interval for rows of `columns` doubles (seam::readReleaseRows forces it).
[[nodiscard]] int64_t vsfReleaseRows(int64_t columns);

// Sparse or dense by the design's traits of one effect.
struct VsfEffectTraits {
  int32_t columnCount;
  int32_t classCount;      // CLASS variables of the effect
  uint8_t glm;             // the statement-wide GLM coding
  const int32_t* codings;  // per CLASS variable its ClassCoding code
  uint8_t bigBsplineBasis; // a B-spline constructed effect (no continuation piece) of > 10 columns
};
// The sparse form suits an effect of more than 4 columns under GLM, or with a CLASS variable
// coded EFFECT or REFERENCE, or (more than 6 columns) ORDINAL or BATHTUB; the orthogonal
// codings and POLYNOMIAL fill every column.
[[nodiscard]] int32_t useSparseRepresentation(const VsfEffectTraits& traits);

// Read preparation: memory budget, thread count and in-memory limits. 0, -2, or -16 after
// VsfMsg::MemoryAmountUnknown (*returnCode raised to at least StepRc::Error).
[[nodiscard]] VsfStatus vsfPrepRead(VsfDataSettings* settings, VsfBagVec* bags,
                                    int32_t* returnCode);
// The disk plan of the pages: rows of at least `rowBytes` bytes each, the observations the
// settings expect, less the pages kept in memory, against the free space of the utility
// directory. Ok when they fit or cannot be told; else ReportedFailure after
// VsfMsg::PagesDoNotFitOnDisk (*returnCode raised to at least StepRc::NotRestored).
[[nodiscard]] VsfStatus vsfPlanPageDisk(const VsfDataSettings* settings, const VsfBagVec* bags,
                                        QkExtensionSet* exts, int64_t rowBytes,
                                        int32_t* returnCode);

// The reading pass over an explicit row source: pages, counts and sums into the model.
[[nodiscard]] VsfStatus vsfReadPass(VsfDataSettings* settings, VsfRowSource* source,
                                    VsfPassState* model, VsfBagVec* bags, QkExtensionSet* exts,
                                    QkPool* byPool, QkPool* pagePool, int32_t* returnCode,
                                    VsfReadResult* result);

// The partition role (VsfRole) of a ROLEVAR= value of length characters, as the reading pass
// and the OUTPUT data set give it: the value is left-justified, trailing blanks do not count.
[[nodiscard]] int32_t vsfRoleOfValue(const VsfRoleValue& train, const VsfRoleValue& validate,
                                     const VsfRoleValue& test, bool testData, const char* text,
                                     int32_t length);

// Pointing the design library's read block at another data set (a held-out or SCORE data
// set): the read vectors and records belong to one data set, so they are dropped and the
// library declares new ones on the next read; the release frees the ones it declared.
void vsfPointReadBlockAt(LevReadBlock* rb, HostDataSet* data);
void vsfReleaseReadBlock(LevReadBlock* rb);

// The inverse standard deviation of a column from its weighted sum and sum of squares over
// `weight` (frequency total `freq`), about the mean or, under NOINT, about 0; missing for a
// constant column or fewer than two rows.
double vsfColumnScale(double sum, double sumSquares, double weight, double freq, bool noint);
// Whether the same sums resolve that scale (a VsfSpreadState).
uint8_t vsfSpreadState(double sum, double sumSquares, double weight, double freq, bool noint);

// The external cross-validation records one fold's path can need: the path's step limit plus
// the steps recorded before it.
[[nodiscard]] int64_t vsfCVExFoldRoom(int32_t maxSteps, int32_t steps, bool noint, int32_t effects,
                                      int32_t forcedIn);
// The steps one fold's group-LASSO path can record: the forced steps and, past them,
// MAXSTEPS= (100 when it is 0) lowered to STEPS=.
[[nodiscard]] int64_t vsfCVExGroupRoom(int32_t maxSteps, int32_t steps, int32_t forcedIn);
