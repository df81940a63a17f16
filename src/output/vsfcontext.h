// VsfContext: the whole state of one run of the procedure, owned by the procedure main.
// Fields follow the order the driver documents; everything is zero after vsfPreInit
// unless a default is set there or by a statement reader. It holds the results state of
// this layer by value, so it lives here, the highest layer whose state it holds: the
// results printers and the graphs take it without reaching up to the driver.
#pragma once

#include "data/vsfdata.h"
#include "design/levreg.h"
#include "model/vsfmodel.h"
#include "output/vsfaverage.h"
#include "output/vsfeffects.h"
#include "output/vsfoutput.h"
#include "output/vsfresstate.h"
#include "output/vsfsync.h"
#include "support/hostif.h"
#include "support/stepcodes.h"
#include "support/vsfoptions.h"

#include <cstdint>

struct PostFitBridge;
struct VsfResampling;

struct VsfContext {
  int32_t returnCode;        // the run's return code: only ever raised
  HostDataSet* data;         // DATA= (advanced by the BY-group service)
  HostByHandle* byHandle;    //    its BY-group state
  LevRegContext design;      // the design and its library
  PostFitBridge* postFit;    // the post-fit statements' bridge, or null
  VsfModel model;            // the fit of the current BY group
  VsfScratch scratch;        // per-group scratch
  VsfResampling* resampling; // model averaging's resamplers, or null
  QkPool* mainPool;          // pools: the run's, the BY group's, pages, steps, graphs
  QkPool* byPool;
  QkPool* pagePool;
  QkPool* stepPool;
  QkPool* coefGraphPool;
  double intervalStart; // timers (seconds, summed over BY groups)
  double runStart;
  double setupTime;
  double dataTime;
  double levTime;
  double outputTime; // output data sets
  double cleanupTime;
  double printStart;
  double printTime; // table printers (an inner printer is not counted again)
  double graphTime;
  double fitStart;              // the last BY group's fit time
  double fitTime;               // the fit of every BY group
  double resultsStart;          // the last BY group's names and tables time
  double resultsTime;           // names, tables and graphs, and the rest of the run
  double averageTime;           // the model-averaging summary
  double scoreTime;             // scoring
  double macroTime;             // macro variables
  int32_t printDepth;           // table printers running (nested ones inside the first)
  int32_t largestColumnCount;   // the largest design column count of any BY group so far
  QkExtensionSet exts;          // the host extensions in use
  VsfModelOptions options;      // MODEL and procedure options
  VsfPerfBlock perf;            // PERFORMANCE: threads, details, timing
  VsfThreadBudget threadBudget; // what set the page thread count (the read that lowered it)
  uint8_t perfShown;            // the PerfSettings table is printed
  HostDataSet* inest;           // INEST= (adaptive weights), or null
  VsfBagVec bags;               // the observation bags of the reading pass
  VsfDataSettings dataSettings; // what the reading pass reads: the run's options once, the
                                // BY group's design each group (driver/vsfdesignsource.cpp)
  uint8_t dataSettingsReady;    // dataSettings holds the run's options
  uint8_t dataReadOnce;         // no step after a group's reading pass reads DATA= again
  ThreadPuddle puddle;          // the worker threads
  VsfScoreSpec* scores;         // the SCORE statements
  int32_t scoreCount;
  RvqObject* outputManager; // the output manager and the current output group
  RvqObject* outputGroup;
  RvqText* responseName;
  int16_t managerAnswer;
  uint8_t syntaxError; // a statement had a syntax error; then the statement counts
  uint8_t modelCount;
  uint8_t classCount;
  uint8_t freqCount;
  uint8_t weightCount;
  uint8_t partitionCount;
  uint8_t outputCount;
  uint8_t performanceCount;
  uint8_t modelAverageCount;
  uint8_t noprint; // NOPRINT
  uint8_t cleanedUp;
  uint8_t statsOnlyFull;
  uint8_t postFitAllowed;
  int64_t workingSeed; // the seed the current BY group draws from, and the run's seed
  int64_t seed;
  int64_t byCount; // BY groups processed
  int32_t maxMacro;
  int32_t longestEffectName;
  int32_t maxRowsPerPage;
  int32_t parameterNamesPresent;
  VsfStatementSettings stmt;      // settings of the statement readers besides options and perf
  VsfOutputColumns outputColumns; // the OUTPUT data set's columns
  VsfResultsState results;        // labels, optimal steps and open groups of the results

  // Post-parse initialisation (vsfpostinit.cpp).
  int32_t* hierContainedCounts; // per model effect, from zlevhier
  int32_t* hierContainingCounts;
  int32_t** hierContained;
  int32_t** hierContaining;
  VsfNameRecord modelNames;  // the DATA= variables of the design
  VsfNameRecord valNames;    // VALDATA=
  VsfNameRecord testNames;   // TESTDATA=
  VsfNameRecord* scoreNames; // one per SCORE statement
  char* roleBuffer;          // the role variable's value
  int32_t roleLength;
  uint8_t testDataFlag;     // test rows can exist (TESTDATA=, roles, fractions)
  uint8_t validateDataFlag; // validation rows can exist
  uint8_t partitionOn;
  uint8_t candidatesFlag;
  uint8_t coefPlotBit;
  uint8_t normbAxis; // some plot asks STEPAXIS=NORMB
  uint8_t fullBuildUsed;
  // The build was left to the procedure (no BUILDSSCP=), which chose to grow the cross
  // products as effects enter: the road planned for each BY group may build them whole.
  uint8_t growingByChoice;
  // The user asked for that growth (BUILDSSCP=INCREMENTAL) and nothing set it aside: the road
  // builds them whole only where its sums of the effect hold less than the effect's block.
  uint8_t growingAsked;
  uint8_t storeCrossGrowing; // the storeCross switch of the growing build
  uint8_t forcedSplit;       // SPLIT forced on every CLASS variable (LASSO-type methods)
  uint8_t fullForFewEffects; // the full X'X was chosen only because the effects are few
  uint8_t* outClassFlags;    // output flag arrays
  uint8_t* outNumericFlags;
  uint8_t* outConstructedFlags;
  uint8_t* outEffectFlags;
  // Effect records of the selection (vsfeffects.h).
  VsfEffectRecord* effectRecords;
  int32_t effectRecordCount;
  int32_t enteredFirstBoundary;
  // INEST= state (vsflev.cpp).
  HostReadVector* inestReader;
  int32_t inestCount;
  char inestType[8];
  uint8_t inestHasType; // INEST= has a character _TYPE_ variable
  double* inestValues;
  VsfAverageSummary average; // model averaging's summary of the current BY group
};

// Raises the run's return code to at least `code`.
inline void vsfRaiseRC(VsfContext* ctx, int32_t code) {
  if (code > ctx->returnCode)
    ctx->returnCode = code;
}
inline void vsfRaiseRC(VsfContext* ctx, StepRc code) { vsfRaiseRC(ctx, codeOf(code)); }
