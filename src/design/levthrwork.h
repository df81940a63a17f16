// The threaded levelisation's shared parts: the workers' records and the control record of
// a pass, and the helpers that the worker machinery (zlevthr.cpp), the level pass
// (zlevthrlev.cpp) and the effect-level pass (zlevthreff.cpp) call in one another. Private
// to those three files; the passes' entries are declared in design/levthread.h.
#pragma once

#include "design/levthread.h"

#include "design/levfmt.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/qkaux.h"
#include "support/qkavlt.h"
#include "support/seams.h"

#include <cstddef>
#include <cstdint>
#include <functional>

namespace levthr {

constexpr uint32_t kNoMemory = 0x803fc002u; // a worker ran out of memory
constexpr uint32_t kFault = 0x803fc009u;    // a worker stopped on a fault
constexpr int32_t kLevelKey = 56;           // the formatted value in a LevelNode
constexpr int32_t kEffectKey = 24;          // the level indices in a combination key

enum class Job { Levels, Effects };

struct Crew;

// A level a worker met: tree links, its statistics, then its formatted value as the key.
struct WorkerLevel {
  void* links[2];
  int64_t frequency;
  int64_t first;      // the smallest observation number
  double number;      // representative value of a numeric variable
  char* text;         // representative value of a character variable
  int32_t levelIndex; // the level's final index, once the levels are ordered
  char key[8];        // level width bytes (the node is allocated larger)
};
constexpr int32_t kWorkerKey = offsetof(WorkerLevel, key);

// An unformatted value new to a worker, kept in a list when the effect-level pass will look
// values up: the lists of all workers make the main thread's index of the values.
struct RawLink {
  RawLink* next;
  WorkerLevel* level;
  char key[8]; // the unformatted value (the link is allocated larger)
};
constexpr int32_t kRawKey = offsetof(RawLink, key);

// The main thread's level index by unformatted value for one CLASS variable, built from the
// values every worker met: open addressing over a power-of-two number of slots, each slot
// the position of a value (or -1), the values `width` bytes each.
struct RawIndex {
  int32_t width;
  int64_t mask;
  int64_t count;
  int64_t* slots;
  char* values;
  int32_t* levels;
};

// Where a worker's buffer is: with the main thread, handed over, being worked on, finished.
enum class BufferState : int32_t { Filling, HandedOver, Working, Finished };

// A buffer of rows and what is made of them: the levels, raw values and trees of one share of
// the rows, merged with the other workers' at the end of the pass. Whichever thread takes a
// handed-over buffer works on it with the worker's structures.
struct Worker {
  LevelizeThreadControl* control;
  int32_t index;
  BufferState state; // read and written through std::atomic_ref
  uint32_t status;   // 0, or why the worker stopped
  int32_t mathError; // the host's code of a floating-point fault plus 1, 0 none
  bool busy;         // main thread's view: handed over, not yet taken back
  WorkerFault fault; // the fault the tests put in the way of this buffer (seam::meetFault)
  bool failed;
  char* buffer;
  int64_t bufferBytes;
  int64_t count; // rows or entries held
  QkPool* pool;  // this worker's levels, raw values and keys
  QkAuxTable** raw;
  RawLink** rawAdded; // per CLASS variable the values this worker met first, when kept
  QkAvlTree** levels;
  QkAvlTree** effectTrees;
  char** spareKeys;
};

} // namespace levthr

struct LevelizeThreadControl {
  QkPool* pool; // the "Levelize pool": everything below
  LevRegContext* owner;
  LevDesign* design;
  LevelizeContext* levels;
  int32_t workerCount;
  levthr::Job job;
  EffMsg failureMessage; // EffMsg{} (none), or the message of a failure
  int32_t rowSize;
  int64_t capacity; // rows or entries per buffer
  int32_t freqOffset;
  int32_t* offsets;    // per CLASS variable its slot in a row
  int32_t* charSlot;   // per CLASS variable its index among the character ones, else -1
  int32_t* numSlot;    // per CLASS variable its index among the numeric ones, else -1
  int32_t* rawLengths; // per CLASS variable the bytes of its unformatted value
  QkAvlExtension* avl;
  QkAuxExtension* aux;
  FormatContext* format;
  levthr::Worker* workers;
  levthr::Crew* crew;  // the threads of the pass under way, or null between passes
  bool threadsRunning; // the workers may take buffers (none has stopped)
  bool keepRaw;        // the effect-level pass will look unformatted values up
  int32_t effectCount; // CLASS effects
  int32_t* effects;    // their indices
  // The effect-level pass's unformatted values of the current observation, and the level
  // index of every value the workers met, per CLASS variable.
  double* numericRaw;
  LevCharValue* charRaw;
  levthr::RawIndex* rawIndex;
};

namespace levthr {

QkHandle* kernel();
int64_t round8(int64_t n);
void* take(LevelizeThreadControl* c, size_t bytes);

// The workers (zlevthr.cpp).
[[nodiscard]] bool mathFault(Worker* w);
// Readies the workers' records for the passes.
[[nodiscard]] bool readyWorkers(LevelizeThreadControl* c);
void destroyControl(LevelizeThreadControl* c);
Worker* advance(LevelizeThreadControl* c, Worker* current);
// Runs a pass: `feed` hands the buffers over on this thread (advance) and returns the last
// one, while the process's workers take them; then the last buffer goes too and every buffer
// is waited for. False when a worker failed: the workers are then stopped and reported.
[[nodiscard]] bool runPass(LevelizeThreadControl* c, const std::function<Worker*()>& feed);

// A worker's work on one buffer of the level pass (zlevthrlev.cpp) and of the effect-level
// pass (zlevthreff.cpp).
uint32_t levelizeBuffer(Worker* w);
uint32_t treeEffects(Worker* w);

// Entries per buffer of the effect-level pass (zlevthrlev.cpp).
int64_t entriesPerBuffer(int64_t rows, int32_t T, int32_t entrySize);

} // namespace levthr
