// VsfContext: the whole state of one run of the procedure, owned by the procedure main.
// Fields follow the order the driver documents; everything is zero after vsfPreInit
// unless a default is set there or by a statement reader.
#pragma once

#include "data/vsfdata.h"
#include "design/levreg.h"
#include "driver/vsfoptions.h"
#include "model/vsfmodel.h"
#include "support/hostif.h"

#include <cstdint>

struct PostFitBridge;
struct VsfResampling;

struct VsfContext {
  int32_t returnCode;            // 1: only raised
  HostDataSet* data;             // 2: DATA= (advanced by the BY-group service)
  HostByHandle* byHandle;        //    its BY-group state
  LevRegContext design;          // 3
  PostFitBridge* postFit;        // 4
  VsfModel model;                // 5
  VsfScratch scratch;            // 6: per-group scratch
  VsfScratch designScratch;      //    across-groups OUTDESIGN scratch
  VsfResampling* resampling;     // 7
  QkPool* mainPool;              // 8
  QkPool* byPool;
  QkPool* pagePool;
  QkPool* stepPool;
  QkPool* coefGraphPool;
  double intervalStart;          // 9: timers (seconds)
  double runStart;
  double setupTime;
  double dataTime;
  double levTime;
  double outputTime;
  double cleanupTime;
  double printStart;
  double printTime;
  double graphTime;
  QkExtensionSet exts;           // 10
  VsfModelOptions options;       // 11
  VsfPerfBlock perf;             // 12
  HostDataSet* inest;            // 13
  VsfBagVec bags;                // 14
  ThreadPuddle puddle;           // 15
  VsfScoreSpec* scores;          // 16
  int32_t scoreCount;
  RvqObject* outputManager;      // 17
  RvqObject* outputGroup;
  RvqText* responseName;
  int16_t managerAnswer;
  uint8_t syntaxError;           // 18
  uint8_t modelCount;
  uint8_t classCount;
  uint8_t freqCount;
  uint8_t weightCount;
  uint8_t partitionCount;
  uint8_t outputCount;
  uint8_t performanceCount;
  uint8_t modelAverageCount;
  uint8_t noprint;               // 19
  uint8_t cleanedUp;
  uint8_t statsOnlyFull;
  uint8_t postFitAllowed;
  int64_t workingSeed;           // 20
  int64_t seed;
  int64_t byCount;               // 21
  int32_t maxMacro;
  int32_t longestEffectName;
  int32_t acrossByDesign;
  int32_t maxRowsPerPage;
  int32_t parameterNamesPresent;
  VsfStatementSettings stmt;     // settings of the statement readers besides options and perf
};

// Raises the run's return code to at least `code`.
inline void vsfRaiseRC(VsfContext* ctx, int32_t code) {
  if (code > ctx->returnCode)
    ctx->returnCode = code;
}
