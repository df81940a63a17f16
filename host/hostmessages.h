// The host's own message sets, one enumeration each: a message is logged by its name, and
// the set's wrapper (fail and logOutput of the data sets, msg of the runner, message of
// qrxauxmd) takes only its own enumeration, so a bare number or another set's code does
// not compile. Each value is the message's number in host/messages/<set>.txt; the parser's
// set 612 has its codes in host/parser/psparser.h.
#pragma once

#include <cstdint>

namespace qrxhost {

// Set 610: the data-set services.
inline constexpr int kDataMsgSet = 610;
enum class DataMsg : int32_t {
  DataSetNotFound = 1,         // no file for the data set
  FileUnreadable = 2,          // a file that cannot be read, and why
  FileLineError = 3,           // a line of a file that cannot be read
  LibraryNotAssigned = 4,      // a library name without a directory
  DataSetVariableNotFound = 5, // a variable not in the data set
  NotSortedByGroups = 6,       // observations out of the BY order
  OutputWriteFailed = 7,       // an output data set that cannot be written
  BadDataSetName = 8,          // not a valid data set name
  DataSetSize = 9,             // observations and variables of a written data set
  DuplicateOutputVariable = 10,
  DuplicateByVariable = 11,
  OutputKept = 12,    // an existing output left as it was after a failed step
  OutputSkipped = 13, // a new output not written after a failed step
  ReleasedObservationRead = 14,
  VariableAllMissing = 15,
  TextAmongNumbers = 16,     // a character variable whose other lines hold numbers
  FileClaimedTwice = 17,     // two outputs of a step name one file
  BadDataSetOption = 18,     // a data set option not valid, where and why
  OptionChoosesNothing = 19, // FIRSTOBS=, OBS= or WHERE= leave an input no observation
  UnnamedColumns = 20,       // columns of a CSV header without a name, and the names given
  // Files of a step other than data sets (item store, scoring code), and the step's outputs
  // put in place together.
  FileWriteFailed = 30,       // an output file that cannot be put in place
  FileKept = 31,              // an existing output file left as it was after a failed step
  FileSkipped = 32,           // a new output file not written after a failed step
  OldFileKeptAside = 33,      // an old file that could not be put back, and where it is
  WrittenInPlace = 34,        // a device or pipe written as the step ran, before it failed
  DataSetNotRegularFile = 35, // a data set whose file is a device, a pipe or a socket
  OutputRowNoMemory = 36,     // an output data set's rows past the memory to be had
};

// Set 611: the program runner.
inline constexpr int kRunnerMsgSet = 611;
enum class RunnerMsg : int32_t {
  ProcedureNotFound = 1,
  StatementOutsideStep = 2, // a procedure statement outside a step
  BadStatement = 3,         // a host statement that is not valid, and why
  UnresolvedMacroRef = 4,
  OpenComment = 5, // a comment that is not closed
  StepWithoutRun = 6,
  LibraryAssigned = 7,
  LibraryDirectoryMissing = 8,
  OpenQuote = 9, // a quoted string that is not closed
  ProcedureTime = 10,
  BadOptionValue = 11,      // an OPTIONS value an option does not take
  MemoryRequestFailed = 12, // the largest memory block a failed step could not get
  MacroTextTooLong = 13,    // a %LET or %PUT text that resolves past the limit
  MacroLiteralTooLong = 14, // a %LET or %PUT text past the limit as written
  UnknownOption = 15,       // an OPTIONS name that is not a host option
  LibraryNotDirectory = 20, // a LIBNAME path that names a file other than a directory
  StepOutOfMemory = 21,     // a step that ran out of memory, and the address-space limit
};

// Set 613: the post-fit module qrxauxmd (STORE and CODE).
inline constexpr int kAuxMsgSet = 613;
enum class AuxMsg : int32_t {
  StoreUnwritable = 1,
  CodeUnwritable = 2,
  CodeNeedsEarlierRows = 3, // a constructed effect not made from one row (LAG)
  CodeTooManyLevels = 4,
  CodeSameByValues = 5, // two BY groups the scoring code cannot tell apart
  CodeMissingEstimate = 7,
  StoreWritten = 8,
  CodeWritten = 9,
  CodeNoFile = 10,
  CodeOptionUnsupported = 11,
};

} // namespace qrxhost
