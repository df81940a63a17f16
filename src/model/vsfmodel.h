// The per-BY-group model part: the state of one fit.
#pragma once

#include "support/hostif.h"

#include <cstdint>

struct VsfModelOptions;
struct VsfBagVec;
struct VsfPerfBlock;
struct ThreadPuddle;
struct VsfScratch;

struct VsfDataSettings;

// The resampler of the current sample, as far as the data passes read it: the running read
// position of the per-row resample-frequency stream and where that stream starts.
struct VsfResampler {
  int64_t freqReadPos;
  int64_t freqStartPos;
};

// One cross-validation fold: its own sums without the fold's rows.
struct VsfFoldRecord {
  double** effectBlocks; // per effect a packed triangle (cross products on demand)
  double* sweptXpx;
  double* xpx;
  double* beta;
  double* cross;
  double cvSse;
  double rowCount;
  double freqCount;
  double weightCount;
};

struct VsfModel {
  VsfModelOptions* options;
  VsfBagVec* bags;
  VsfPerfBlock* perf;
  ThreadPuddle* puddle;
  VsfScratch* scratch;
  QkPool* pool;       // the "model pool"
  int32_t status;     // fit status: 0 or a negative code
  uint8_t stepModelWritten;

  // The settings of the reading pass and the data passes (filled by vsfData).
  const VsfDataSettings* dataSettings;
  VsfResampler* resampler;

  // Data totals, written by vsfData.
  double freqUsed, freqRead, nUsed, nRead, nTrain, nObs;
  double valDataRead, valDataUsed, nValidate, freqValidate;
  double testDataRead, testDataUsed, nTest, freqTest;
  double nNoRole, freqNoRole, wTrain, wValidate, wTest, nObsRead, nTrainRead;

  // Counts of the BY group's layout, written by vsfData.
  int32_t effectCount, parmCount, denseColumnCount, sparseEffectCount;
  int32_t singleColumnEffectCount, maxEffectColumns, includeCount, foldCount;
  int32_t optionCount; // the count copied from the options
  // Counts of the current fit.
  int32_t xpxColumns, crossColumnCount;

  // Sums the data passes fold into.
  double** effectBlocks;
  double* xpx;
  double* cross;
  double* corr;
  double* dirCorr;
  int32_t screenOutCount, screenNewCount;
  int32_t* screenOutList;
  int32_t* screenNewList;
  double screenTermA, screenTermB;
  double sumWY, sumWYY, sse, press, validateAse, testAse, heldOutError, heldOutTestError;
  VsfFoldRecord* folds;

  // Per-parameter and per-effect tables of the BY group (BY pool), written by vsfData:
  // columnSums holds the TRAIN column means after reading, columnSumSquares the column
  // scales (1 / standard deviation, missing when not defined), columnSquareSums the TRAIN
  // weighted sums of squares.
  double* columnSums;
  double* columnSumSquares;
  double* columnSquareSums;
  int32_t* sparseEffectList;
  int32_t* sparseSlot;
  int32_t* effectColumn;
  int32_t* effectColumnCopy; // the averaged-model refit's copy of effectColumn
  int32_t* denseOffset;
  int32_t* effectColumns;
  int32_t* inModelList;
  int32_t* prevInModelList;

  // Arrays the reading pass makes for later drivers.
  double* enTuneRows;
  int32_t* cvexKeys;
  double* cvexValues;
  double* cvexFoldEnd;
  double* cvexFoldLambdaMax;
  double* cvexGrid;
  int32_t* cvexCurve;
  double* cvexFoldKnots;
};

// Releases everything the BY group's fit made.
void vsfModelByFree(VsfModel* model);
// Appends the group's selected design to the design scratch file.
int32_t vsfSerializeForDesign(VsfModel* model);
