// The per-BY-group design context: the read block, the context record with its callback
// slots, and the entries that build it (zlevrgi), end it (zlevtrm) and read observations
// through it. Levels are levlevel.h's, rows levrow.h's, names levnames.h's.
//
//   LevRegContext field   meaning
//   library               read block: data set, read vectors, records, per-group pool
//   responses, weights,   the variables of the response side, their counts and the FREQ
//   freq, extra1..3       variable; extra variables deliver their value into `value`
//   design                the design descriptor
//   levelIndex, numeric   the current observation's CLASS level indices and numbers
//   scratch               work array of the row protocol (largest level count doubles)
//   fit                   the fit block: response values and the fit callbacks
//   getInit..getVals      the data callbacks (registered only into empty slots)
#pragma once

#include "design/levbuild.h"
#include "design/levrelease.h"
#include "design/levrowstatus.h"
#include "effects/levdesign.h"
#include "support/hostif.h"

#include <cassert>
#include <cstdint>

// The read block: six words; the DATA= handle first, the library's per-group pool sixth.
struct LevReadBlock {
  HostDataSet* data;
  HostReadVector* formattedVector;
  HostReadVector* plainVector;
  char* formattedRecord;
  char* plainRecord;
  QkPool* pool;
  int32_t formattedLength, plainLength; // bytes of a record of each vector
};
using LevLibraryBlock = LevReadBlock;

struct LevRegContext;

// The data callbacks. GetVals fills the destinations named by `letters` (one pointer of
// `destinations` per letter): z numeric values, y responses, c CLASS formatted values
// (array of buffers), w weight, f frequency, u numeric CLASS internal values, b character
// CLASS internal values ({buffer, length} entries).
using LevGetInitFn = VsfStatus (*)(LevRegContext* context);
using LevGetNextFn = int32_t (*)(LevRegContext* context);
using LevGetValsFn = int32_t (*)(LevRegContext* context, const char* letters,
                                 void* const* destinations);
// The observation filter hook: (levelisation word, design word, caller's argument, context).
using LevFilterFn = int32_t (*)(void* word, void* designWord, void* argument,
                                LevRegContext* context);
// Fit callbacks of the fit block: FitGetY and FitGetW.
using LevFitGetFn = int32_t (*)(LevRegContext* context, double* out);

struct LevFitEntry;

// The fit block (levfit.h has its operations): the result cache, the response array and its
// length, the optional column map, how the cross products are swept, the fetchers and the
// six fit callbacks.
enum class LevFitFlag : uint16_t {
  SweepInPlace = 1, // sweep the cached cross products in place
  UseTolerance = 2, // use the caller's `tolerance`
};
struct LevFitBlock {
  LevFitEntry* cache; // null when empty
  double* responses;
  int32_t responseCount;
  int32_t* columnMap;  // per design column its 0-based position, negative to leave it out
  int32_t fittedCount; // p, set by the cross-products builder
  int64_t yWord, wWord;
  FlagSet<LevFitFlag> flags;
  double tolerance;       // the caller's singularity tolerance (UseTolerance)
  double weightThreshold; // a weight not above it counts as 0
  HostRoutine getY;
  HostRoutine getW;
  HostRoutine slots[6]; // GetXpX, GetR, GetBeta, GetSSE, GetSST, Test
  int64_t rowsUsed;     // rows the cross products took
};

struct LevelizeThreadControl;
struct LevelizeContext;
struct LevRowPlan;

struct LevRegContext {
  LevReadBlock* library; // word 0: the read block
  int32_t responseCount;
  LevVariable* responses;
  LevVariable* weights;          // null when there is no WEIGHT variable
  LevVariable* freq;             // null when there is no FREQ variable
  LevVariable* extraResponse1;   // missing value: row status 0x04
  LevVariable* extraExplanatory; // missing value: row status 0x02
  LevVariable* extraResponse2;   // missing value: row status 0x04
  int32_t weightCount;
  LevDesign* design;
  LevelizeThreadControl* threads; // the workers of the threaded passes (levthread.h), or null
  int32_t reservedCount;
  int32_t largestLevelCount;
  int32_t* levelIndex;       // [CLASS variable count]
  int32_t** responseOnClass; // [response count]: the level-index slot, or null
  double* numeric;           // [numeric variable count]
  double* scratch;           // [largest level count]
  LevFitBlock fit;
  char** valueBuffers; // [CLASS variable count], level width bytes each
  int64_t readState;
  int32_t threadsAllowed;
  uint8_t formattedFetch;
  HostRoutine getInit;
  HostRoutine getNext;
  HostRoutine getVals;
  HostRoutine filter;
  HostRoutine moreSlots[2];
  // The DATA= handle as the statement reader records it; zlevrgi takes it into the read
  // block when the block has none.
  void* words[1];
  // Workers for the threaded passes when threads are allowed (the driver sets it from the
  // host's THREADS and CPU count); 0 keeps the passes serial.
  int32_t workerCount;
  // A row worker's compact copy of what the row protocol reads of a design of one-column
  // numeric effects (levrow.h), or null: the protocol then walks the design's records.
  const LevRowPlan* rowPlan = nullptr;
};

// Builds the design of the current BY group.
[[nodiscard]] LevBuild zlevrgi(LevRegContext* context);
// Ends the parts `what` of the context; a null context does nothing.
void zlevtrm(LevRegContext* context, LevReleaseSet what);
// An effect's column count as zlevrgi computes it; stores the CLASS column count.
[[nodiscard]] int32_t zlevedf(LevDesign* design, int32_t effect);

// The observation source (the data callbacks and what calls them). GetInit fails with
// VsfStatus::DataNotReadable when the host refuses to rewind the BY group.
[[nodiscard]] VsfStatus GetInit(LevRegContext* context);
[[nodiscard]] int32_t GetNext(LevRegContext* context);
[[nodiscard]] VsfStatus GetInitAcrossBy(LevRegContext* context);
[[nodiscard]] int32_t GetNextAcrossBy(LevRegContext* context);
[[nodiscard]] int32_t GetVals(LevRegContext* context, const char* letters,
                              void* const* destinations);
// GetVals without the fetch: the values come from the record the read block already holds
// (a row worker points it at an observation of its block); never calls the host.
[[nodiscard]] int32_t GetValsFromRecord(LevRegContext* context, const char* letters,
                                        void* const* destinations);
// Declares the formatted (1) or plain (0) read vector; VsfStatus::DataNotReadable when there
// is no data set or the host refused a declaration, VsfStatus::NoMemory when it gave no vector.
[[nodiscard]] VsfStatus SetupXV(LevRegContext* context, int32_t formatted);
// The number in a text cell, for a numeric design variable that its data set holds as text:
// false when the text is neither a number nor a missing spelling (blank, ".", NA, NaN, N/A).
// *value is the number, or missing.
[[nodiscard]] bool levNumberFromText(const char* text, int32_t length, double* value);
// Prepares the context for reading without levelising; 1 when it has no design.
[[nodiscard]] int32_t zlevseci(LevRegContext* context, QkPool* pool);
// Registers the data callbacks that are still empty (across BY groups when the design's
// flag 0x02 is set).
void zlevRegisterSource(LevRegContext* context);
// Points the levelisation engine's data callbacks (levlevel.h) at this context's observation
// source, before the levelisation pass of zlevrgi reads the group.
void levRegisterForwarders(LevRegContext* context, LevelizeContext* levelize);

// Through the context's slots, as the data passes call them.
// Rewinds the observation source to the start of the current BY group; fails
// (VsfStatus::ReportedFailure) after LevMsg::GroupNotReread with the design's return code
// raised to StepRc::Error (the pass that follows reads nothing, and the step fails).
[[nodiscard]] VsfStatus zlevGetInit(LevRegContext* context);
// Makes the next observation current: 1 while one is current, 0 at the end.
[[nodiscard]] int32_t zlevGetNext(LevRegContext* context);
// Reports (once per design) that an observation's values could not be fetched and raises
// the design's return code to StepRc::Error: a pass must then skip the observation rather than use
// the values the buffers still hold.
void levObservationNotRead(LevDesign* design);
// Fetches values of the current observation by letters: 1, or 0 when they could not be read.
[[nodiscard]] int32_t zlevGetVals(LevRegContext* context, const char* letters,
                                  void* const* destinations);

// The design row protocol (levrow.h has the rest).
// The status of the current observation, with its response, weight and frequency (each may
// be null).
[[nodiscard]] LevRowStatusSet zlevrgd(LevRegContext* context, double* response, double* weight,
                                      double* frequency);
// Writes the design row of the current observation (the design's column count of doubles).
void zlevrgx(LevRegContext* context, const double* numeric, const int32_t* levels, double* row);
// The design row of the current observation in sparse form: every value zlevrgx writes that is
// not a positive zero (it may write a signed zero where a value is a product), with its
// column, in column order within each effect; every other column holds a positive zero.
// Returns the count. `scratch` is the design's column count of doubles: an effect whose
// block is not one value a row is built there (its own columns are cleared first).
[[nodiscard]] int32_t zlevrgxSparse(LevRegContext* context, double* scratch, double* values,
                                    int32_t* columns);
// The most values zlevrgxSparse can give for one row: one for each effect of one value a row
// (numeric, GLM, nested or REFERENCE-coded CLASS parts without constructed effects), the
// column count for any other.
[[nodiscard]] int32_t zlevSparseRowBound(const LevRegContext* context);
// The most values zlevrgxSparse gives a row off the reference level of every EFFECT-coded
// variable (most rows when such a variable has many levels): those effects count one value.
[[nodiscard]] int32_t zlevSparseRowTypical(const LevRegContext* context);
// 1 when effect e's constructed effects have their inputs; may add flags to *status.
[[nodiscard]] int32_t zlevCheckEftEXMISS(LevRowStatusSet* status, LevRegContext* context,
                                         LevDesign* design, int32_t e);

// Memory of the design library: zero-filled blocks from a pool (null for 0 bytes).
void* levBlock(QkPool* pool, size_t bytes);
// A count that overflows the block size (a negative one cast to size_t, most often) would
// give a short block.
template <typename T> T* levArray(QkPool* pool, size_t count) {
  assert(count <= SIZE_MAX / sizeof(T) && "the block size overflows");
  return static_cast<T*>(levBlock(pool, sizeof(T) * count));
}
// The library's per-BY-group pool of the context.
QkPool* levGroupPool(LevRegContext* context);
