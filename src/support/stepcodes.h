// The step's return codes as the host reads them, and the statuses with which a step fails
// for want of what the host gives; driver/vsfexit.cpp holds the one table that turns such a
// status into its message and return code.
#pragma once

#include <cstdint>

// A step's return code: the run's is the largest one raised.
enum class StepRc : int32_t {
  Ok = 0,
  Warning = 4,
  GroupSkipped = 108,     // a BY group is left without a fit; the step goes on with the next
  GroupDesignError = 112, // a BY group's design could not be built as the statements ask
  GroupNoMemory = 116,    // a BY group's fit ran out of memory
  OutputFailed = 120,     // the host's output objects refused a call
  Error = 1012,
  NoResources = 1016,   // a pool, a handle or memory could not be had
  NotRestored = 1020,   // a step's saved record could not be read back
  SyntaxError = 2000,   // an effect list broke the syntax, or the host refused to grow it
  StatementError = 3000 // a statement was refused while the step was read
};

// Failures that end the step with a message of their own (vsfExitError). Every other
// nonzero status comes from code that logged its message where it failed.
enum class VsfStatus : int32_t {
  Ok = 0,
  NoPoolOrHandle = -1,
  NoMemory = -2,
  NoHostExtension = -3,
  NotRestored = -6,
  NoPage = -7,         // a page of a utility file could not be had
  NoOutputBlock = 1,   // the output-object block could not be made
  DataNotReadable = 3, // the data set cannot be read the way the step needs

  // Failures whose message was logged (and return code raised) where they happened:
  // vsfExitError adds only the error return code.
  UtilFileNotMade = -4,        // a utility file could not be created
  ScratchNotMade = -5,         // a resampler's scratch file could not be created
  ReportedFailure = -9,        // a failure reported where it happened, handed up unchanged
  PageNotRead = -11,           // a page of a utility file could not be read back
  PageNotWritten = -12,        // a page or a step record could not be written
  ColumnRefused = -8,          // an output data set refused a column
  UtilFileNotClosed = -40,     // a page file could not be closed before its pages were read
  UtilFileNotReopened = -41,   // a page file could not be opened again to read its pages
  SampleNotWritten = -15,      // a resample's frequencies could not be written
  MemoryUnknown = -16,         // the memory the run may take could not be learned or is short
  FrequencyOverflow = -39,     // the training frequencies summed past the largest count
  BadFoldRow = -61,            // a training row's fold lay outside the folds of the pass
  DesignNamesFailed = -100,    // the OUTDESIGN= column names could not be formed
  WorkerVanished = -98,        // a worker's visit never came back (the pool stopped it)
  InternalError = -99,         // a state the code cannot reach; reported as a bug
  AdaptiveWeightFailed = -300, // an adaptive weight could not be formed
  SolverFailed = -310,         // the optimisation solver failed
  SolverMissing = -311,        // the optimisation solver could not be loaded

  // Not yet reported: the structured road lost the intercept's pivot. vsfProcess fits the
  // BY group again on the packed triangle, or logs the loss and hands on ReportedFailure.
  InterceptLost = -62,
  // Not yet reported: the structured road lost, to the rounding of the effect's elimination, a
  // small column the model had taken or the digits its refinement restores (set only where
  // the packed triangle fits, vsfStructuredGiveUp). vsfProcess fits the BY group again on the
  // packed triangle.
  FitLostToLevels = -63,
};

// The number of a status, as the functions of the module return it, and of a return code, as
// the host's exit service takes it.
[[nodiscard]] constexpr int32_t codeOf(VsfStatus status) { return static_cast<int32_t>(status); }
[[nodiscard]] constexpr int32_t codeOf(StepRc rc) { return static_cast<int32_t>(rc); }

// The status behind a number that a function still returning a plain code handed up: the one
// place where such a number becomes a status. Numbers that name no status are failures that
// were reported where they happened, and keep their value.
[[nodiscard]] constexpr VsfStatus statusFromCode(int32_t code) {
  return static_cast<VsfStatus>(code);
}

// Raises the return code held in `code` to at least `rc`: a return code is never lowered.
constexpr void raiseRc(int32_t& code, StepRc rc) {
  if (code < codeOf(rc))
    code = codeOf(rc);
}
