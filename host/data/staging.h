// The outputs of a step (data sets, item stores, scoring code) are staged in temporary files
// beside their targets and put in place together when the step ends without error, or not
// at all: a failed step, or one output that cannot be put in place, leaves every file as it was.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

namespace qrxhost {

// What a staged output is, for the notes that tell what became of it.
enum class StagedKind { DataSet, File };

struct StagedOutput {
  std::string path;    // the target
  std::string display; // a data set's name in messages (WORK.O); a file is named by its path
  StagedKind kind = StagedKind::DataSet;
  std::function<void()> placed; // tells that it is in place (its note), called then
};

// Whether a file's status is the null device's (by its numbers, whatever node names it): two
// writers of it never clash, as it keeps nothing.
bool isNullDevice(const struct stat& st);

// Whether an output at `path` is written in place rather than staged: a file that exists
// and is neither a regular file nor a directory (a device, a pipe, a socket, or a link to
// one), which a rename would replace by a regular file.
bool writtenInPlace(const std::string& path);

// The file that a write at `path` reaches: the end of a chain of symbolic links, followed even
// where the file it names does not exist yet, as an absolute path without . or .. parts; a ..
// after a directory that does not exist is taken by name (x/../f is f). The runner's files are
// written there and compared with the program's files there.
std::string resolvedTarget(const std::string& path);

// Writes `out` to its temporary file through `write` (given that file's path; false with the
// reason set) and keeps it for the end of the step; staging the same target again replaces
// the earlier one. False with `why` set when the write fails: nothing stays staged for it.
bool stageOutput(StagedOutput out,
                 const std::function<bool(const std::string& file, std::string* why)>& write,
                 std::string* why);

// The targets of the outputs staged so far in the step.
std::vector<std::string> stagedTargets();

// At the end of a step. When `stepSucceeded`, every staged output is put in place, or none:
// an output that cannot be is an error naming it, the step's return code is raised, and the
// outputs already placed are put back as they were. Otherwise the temporary files go. Each
// output not put in place gets a note (not replaced, not written). Returns the targets
// that now hold new files.
std::vector<std::string> commitStagedOutputs(bool stepSucceeded);

// A file written apart from the steps (the runner's listing, HTML page and JSON record) is
// staged alone: stageLoneFile gives the temporary file beside `path` to write (removed if the
// run is killed), and placeLoneFile puts it in place by one rename when `written`, else
// removes it. False (with `why` set when the rename failed) when it was not put in place:
// the file at `path` is then as it was. A symbolic link is written through, a dangling one
// makes the file it names; a target written in place is given to write directly.
std::string stageLoneFile(const std::string& path);
bool placeLoneFile(const std::string& path, bool written, std::string* why);

// Removes the temporary files of outputs not yet put in place (a run being killed); keeps
// the registry locked afterwards so that no output is staged or placed before the end.
void removePendingOutputFiles();

} // namespace qrxhost
