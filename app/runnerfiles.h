// The runner's own files (--listing, --html, --json): where each goes, and the checks made
// before a run so that none of them is written over another or over a file the program
// reads or writes.
#pragma once

#include <string>
#include <vector>

namespace qrxrunner {

// A runner file: its option and its path as given ("-" for standard output).
struct RunnerFile {
  const char* option;
  std::string path;
};

// Whether `path` names standard output: "-", or the file that descriptor 1 holds (such as
// /dev/stdout), which is written through that descriptor.
bool toStandardOutput(const std::string& path);

// Whether a file can be written at `path`, found before the run so that a bad path does not
// waste it: false with `why` set otherwise. No file is left and no pipe is opened.
bool canWrite(const std::string& path, std::string* why);

// Refuses runner files that are one file with each other or with the program file, a data
// set the program reads, or an output, item store or scoring code file it writes, whether
// those exist yet or not: false after a message naming both. The program (`text`) is looked
// through item by item, never held whole as items; its LIBNAME statements are assigned in
// order on the way, and the caller puts the libraries back after.
bool runnerFilesApart(const std::vector<RunnerFile>& files, const std::string& program,
                      const std::string& text);

} // namespace qrxrunner
