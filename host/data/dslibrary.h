// Libraries and data set names: the directories of WORK and the other libraries, the file
// a written name stands for, valid names, and the files claimed by the step's outputs.
// Opening and reading the data sets is dataset.cpp's.
#pragma once

#include "support/hostif.h"

#include <optional>
#include <string>

namespace qrxhost {

// Libraries: WORK (default: the current directory) and those of --lib and LIBNAME. A library
// named WORK is the WORK directory: setLibrary("work", dir) is setWorkDir(dir).
void setWorkDir(const std::string& dir);
std::string workDir();
void setLibrary(const std::string& name, const std::string& dir);

// What keeps a directory from being a library's: nothing, no file there, or a file there
// that is not a directory (or a link to one).
enum class DirProblem { None, Missing, NotDirectory };
DirProblem libraryDirProblem(const std::string& dir);
std::optional<std::string> libraryDir(const std::string& name);
void clearLibraries();

// The file of a data set name as written (name, lib.name, 'path' or "path"), and the
// name to show in messages (WORK.NAME, LIB.NAME or the path). False with `error` set
// for an invalid name or an unassigned library.
bool resolveDataSet(const std::string& written, bool forOutput, std::string* path,
                    std::string* display, std::string* error);

// The file of an item store named as written (STORE OUT=name or 'path'): a name's data set
// file with .json for .csv, a quoted path's value (quotedtext.h). False as resolveDataSet.
bool resolveStoreFile(const std::string& written, std::string* path, std::string* display,
                      std::string* error);
// The file of scoring code named as written (CODE FILE=name or 'path'): name.py in WORK
// (lower case), a quoted path's value; empty when nothing is named.
std::string resolveCodeFile(const std::string& written);

// Why resolveDataSet refused a name, from its `error`: "the library X is not assigned" or
// "it is not a valid data set name".
std::string nameProblem(const std::string& error);

// What names an output of a step: the option (empty for a statement's default output data
// set), the statement and its line (0 when not known).
struct OutputMaker {
  std::string option, statement;
  int line = 0;
};
// Registers a file that an output of the step will write. A file registered before in the
// step is refused: false after an error naming both outputs ("OUT= of the OUTPUT statement
// at line 3"), the step's return code raised. The registrations end with the step
// (endStepDataSets). Outputs to the null device are never refused.
bool claimOutputFile(const std::string& path, const OutputMaker& by);
// The same for the file of an output data set made by xdscreate.
bool claimOutput(HostDataSet* out, const OutputMaker& by);

// The name of the data set an output statement makes when it names none: DATAn in WORK
// with the smallest n whose file neither exists nor is being written by this step.
std::string defaultOutputName();
// A name of a data set or library (it names a file): 1 to 32 ASCII letters, digits or
// underscores, not starting with a digit.
bool validName(const std::string& name);
// A name of a variable: as a data set name, but its letters may also be UTF-8 characters,
// as a CSV header may hold them.
bool validVariableName(const std::string& name);

} // namespace qrxhost
