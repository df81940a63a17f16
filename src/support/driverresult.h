// The results of the driver's own steps: why the statement readers, the checks after them
// or the reading pass's adapter refused the step. Each refusal has logged its message and
// raised the return code where it failed; vsfExitError then ends the step.
#pragma once

#include "support/nomemory.h"

#include <cstdint>

enum class DriverResult : int32_t {
  Ok = 0,
  SharedDriveNotUsable = -5,                 // MODELAVERAGE SHAREDDRIVE$= names no usable directory
  ScratchNotCreated = -5,                    // the BY group's scratch file could not be made
  PartitionNoTraining = kVsfReportedFailure, // the fractions leave no training rows
  PartitionNoRole = kVsfReportedFailure,     // ROLEVAR= without a role value
  StopValidateNoRows = -10,                  // STOP=VALIDATE without validation rows
  NoModelStatement = -14,                    // the step has no MODEL statement
  ClassAfterModel = -17,                     // a CLASS statement after MODEL
  NoEffects = -19,                           // MODEL with no effects and NOINT
  PressAsStopChoose = -20,                   // PRESS for STOP= or CHOOSE= where it cannot be
  CvIndexNotClass = -21,                     // CVMETHOD=INDEX names a variable not in CLASS
  ByVariableType = -23,                      // a BY variable has another type in a further data set
  VariableMissing = -24,                     // a variable is not in the data set
  VariableOtherType = -25,                   // a variable is of the other type there
  TestRowsTwice = -26,                       // test rows from TESTDATA= and from PARTITION
  ValidationRowsTwice = -27,                 // validation rows from VALDATA= and from PARTITION
  DesignNotBuilt = -29,                      // the model's design could not be built
  NoResponse = -30,                          // MODEL names no response
  ResponseCount = -32,                       // MODEL names more than one response
  InestNoGroup = -34,                        // INEST= has no BY group or rows for this one
  InestNoNumeric = -35,                      // INEST= lacks a numeric column of a parameter
  InestLevelsFailed = -36,                   // DATA= could not be levelised for INEST= names
  PolynomialNoSeparate = -33,  // a NOSEPARATE polynomial with a method it cannot serve
  OutOfRange = -42,            // an option's value is outside its range
  NointBestModelSize = -44,    // NOINT with a REFIT best-model size below 1
  LsCoeffsMethod = -45,        // LSCOEFFS with a method that has no such coefficients
  AveragingCombination = -46,  // MODELAVERAGE with an option it cannot be combined with
  PressCriterion = -47,        // PRESS as a criterion where it is not available
  CvexCombination = -48,       // CHOOSE=CVEX with an option it cannot be combined with
  CriterionNotAvailable = -49, // STOP= or CHOOSE= names a criterion the method lacks
  StopL1Method = -50,          // STOP=L1 with a method that has no L1 path
  Refused = -100,              // the statements were refused as a whole
};

// The number of a result, as the functions of the module return it.
[[nodiscard]] constexpr int32_t codeOf(DriverResult result) { return static_cast<int32_t>(result); }
// The status with which a refusal ends the step: its message was logged where it failed, so
// vsfExitError adds only the error return code.
[[nodiscard]] constexpr VsfStatus statusOf(DriverResult result) {
  return statusFromCode(codeOf(result));
}
