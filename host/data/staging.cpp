// Staged outputs: each output of a step goes to a temporary file beside its target, and the
// end of the step puts all of them in place or none, keeping the old files aside until every
// new one stands, so that a failure on the way can put them back. Declared in staging.h.
#include "host/data/staging.h"
#include "host/hostlog.h"
#include "host/hostmessages.h"
#include "host/supervisor.h"
#include "support/stepcodes.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <mutex>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace qrxhost {
namespace {

namespace fs = std::filesystem;

struct Pending {
  StagedOutput out;
  std::string tmp;    // empty: the output was written in place
  bool stuck = false; // placed, and its old file could not be put back
};

std::mutex gMutex;
std::vector<Pending> gPending;
std::vector<std::string> gLoneFiles; // the temporary files of stageLoneFile

void report(DataMsg number, std::initializer_list<HostMsgArg> args) {
  logMessage(kDataMsgSet, static_cast<int>(number), args.begin(), static_cast<int>(args.size()));
}

// A file beside `path` that belongs to this run: ".NAME.qrxPID.SUFFIX", so that putting it
// in place is a rename within one directory.
std::string besidePath(const std::string& path, const char* suffix) {
  // Appended piece by piece: GCC 12's optimiser takes "." + std::string for an overlapping
  // copy (-Wrestrict).
  fs::path p(path);
  std::string name = ".";
  name += p.filename().string();
  name += ".qrx";
  name += std::to_string(::getpid());
  name += '.';
  name += suffix;
  return (p.parent_path() / name).string();
}

// The name of an output in messages: a data set's name (WORK.O), a file's path.
const char* shownName(const StagedOutput& out) {
  return (out.kind == StagedKind::DataSet ? out.display : out.path).c_str();
}

// One output while the step's outputs are put in place: where its old file is kept aside.
struct Placing {
  Pending* p = nullptr;
  std::string aside; // empty: there was no old file
};

// Keeps the old file at the target, if any, under a second name (a hard link, or a copy
// where the file system has none), so that it can be put back; false with `why` set when
// the target cannot be replaced (a directory stands there) or kept.
bool keepOldAside(Placing* pl, std::string* why) {
  const std::string& path = pl->p->out.path;
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT)
      return true;
    *why = std::strerror(errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    *why = std::strerror(EISDIR);
    return false;
  }
  const std::string aside = besidePath(path, "old");
  ::unlink(aside.c_str());
  std::error_code ec;
  if (::link(path.c_str(), aside.c_str()) != 0 &&
      !fs::copy_file(path, aside, fs::copy_options::overwrite_existing, ec)) {
    *why = ec ? ec.message() : std::strerror(errno);
    return false;
  }
  pl->aside = aside;
  return true;
}

// Puts a placed output's old state back: its old file over the new one (a rename, which
// replaces at once), or no file where there was none. When even that rename fails the old
// file stays under its second name, and the error names it: nothing the user had is lost.
void putBack(const Placing& pl) {
  const StagedOutput& out = pl.p->out;
  assert((pl.aside.empty() || pl.aside == besidePath(out.path, "old")) && "its own old file");
  if (pl.aside.empty()) {
    ::unlink(out.path.c_str());
    return;
  }
  if (std::rename(pl.aside.c_str(), out.path.c_str()) == 0)
    return;
  report(DataMsg::OldFileKeptAside, {shownName(out), std::strerror(errno), pl.aside.c_str()});
  pl.p->stuck = true;
}

// Tells that an output was not put in place because the step failed.
void reportNotPlaced(const Pending& p) {
  const StagedOutput& out = p.out;
  if (p.tmp.empty()) {
    report(DataMsg::WrittenInPlace, {shownName(out)});
    return;
  }
  std::error_code ec;
  const bool existed = fs::exists(out.path, ec);
  const bool dataSet = out.kind == StagedKind::DataSet;
  const DataMsg number = existed ? (dataSet ? DataMsg::OutputKept : DataMsg::FileKept)
                                 : (dataSet ? DataMsg::OutputSkipped : DataMsg::FileSkipped);
  report(number, {shownName(out)});
}

// Puts every pending output in place, in the order staged; on the first that cannot be,
// puts back those placed before it and returns its index with `why` set; -1 when all stand.
// The old files kept aside are removed only when every output stands.
int placeAll(std::vector<Placing>& placing, std::string* why) {
  for (size_t i = 0; i < placing.size(); ++i) {
    Placing& pl = placing[i];
    if (pl.p->tmp.empty())
      continue; // written in place
    if (keepOldAside(&pl, why) && std::rename(pl.p->tmp.c_str(), pl.p->out.path.c_str()) == 0)
      continue;
    if (why->empty())
      *why = std::strerror(errno);
    assert(!pl.p->stuck && "nothing is put back before the first failure");
    if (!pl.aside.empty())
      ::unlink(pl.aside.c_str()); // the target still holds the old file
    for (size_t j = i; j-- > 0;)
      putBack(placing[j]);
    return static_cast<int>(i);
  }
  for (const Placing& pl : placing)
    if (!pl.aside.empty())
      ::unlink(pl.aside.c_str());
  return -1;
}

} // namespace

bool isNullDevice(const struct stat& st) {
  return S_ISCHR(st.st_mode) && major(st.st_rdev) == 1 && minor(st.st_rdev) == 3;
}

bool writtenInPlace(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

bool stageOutput(StagedOutput out,
                 const std::function<bool(const std::string& file, std::string* why)>& write,
                 std::string* why) {
  Pending p{std::move(out), std::string(), false};
  const std::string target = p.out.path;
  if (writtenInPlace(target)) {
    // Written already: kept beside any earlier output written there, for its note.
    if (!write(target, why))
      return false;
    std::lock_guard<std::mutex> lock(gMutex);
    gPending.push_back(p);
    return true;
  }
  p.tmp = besidePath(target, "tmp");
  {
    // made and registered at once, so that a killed run removes a half-written file
    std::lock_guard<std::mutex> lock(gMutex);
    std::erase_if(gPending, [&](const Pending& q) { return q.out.path == target; });
    const int fd = ::open(p.tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0)
      ::close(fd);
    gPending.push_back(p);
  }
  if (write(p.tmp, why))
    return true;
  std::lock_guard<std::mutex> lock(gMutex);
  ::unlink(p.tmp.c_str());
  std::erase_if(gPending, [&](const Pending& q) { return q.out.path == target; });
  return false;
}

std::vector<std::string> stagedTargets() {
  std::lock_guard<std::mutex> lock(gMutex);
  std::vector<std::string> targets;
  targets.reserve(gPending.size());
  for (const Pending& p : gPending)
    targets.push_back(p.out.path);
  return targets;
}

std::vector<std::string> commitStagedOutputs(bool stepSucceeded) {
  // Held throughout, so that a signal's removal of the temporary files waits until every
  // output is in place or every old file is back.
  std::lock_guard<std::mutex> lock(gMutex);
  std::vector<std::string> placed;
  int failed = -1;
  std::string why;
  if (stepSucceeded && !gPending.empty()) {
    std::vector<Placing> placing;
    placing.reserve(gPending.size());
    for (Pending& p : gPending)
      placing.push_back({&p, std::string()});
    failed = placeAll(placing, &why);
    assert(failed < static_cast<int>(placing.size()) && (failed < 0 || !why.empty()));
  }
  for (size_t i = 0; i < gPending.size(); ++i) {
    const StagedOutput& out = gPending[i].out;
    if (stepSucceeded && failed < 0) {
      placed.push_back(out.path);
      if (out.placed)
        out.placed();
      continue;
    }
    if (!gPending[i].tmp.empty())
      ::unlink(gPending[i].tmp.c_str());
    if (gPending[i].stuck) {
      continue; // its error has told where the old file is
    } else if (static_cast<int>(i) != failed) {
      reportNotPlaced(gPending[i]);
    } else if (out.kind == StagedKind::DataSet) {
      report(DataMsg::OutputWriteFailed, {out.display.c_str(), out.path.c_str(), why.c_str()});
    } else {
      report(DataMsg::FileWriteFailed, {shownName(out), why.c_str()});
    }
  }
  if (failed >= 0)
    raiseStepReturnCode(StepRc::Error);
  gPending.clear();
  return placed;
}

std::string resolvedTarget(const std::string& path) {
  std::error_code ec;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    // A device or pipe is opened by the name given: the links of /dev/stdout end in names
    // such as pipe:[N] that no path reaches.
    const fs::path real = S_ISREG(st.st_mode) ? fs::canonical(path, ec) : fs::path(path);
    return ec ? path : real.string();
  }
  // A name the system does not reach as given (a new file, a dangling link, or a directory
  // that does not exist before a ..): the links of the part that exists are followed, the
  // . and .. of the rest taken by name, and a link at the end followed to the file it names,
  // again until nothing changes, so that every spelling of one file gives one path.
  fs::path p = fs::absolute(path, ec);
  if (ec)
    return path;
  for (int hops = 0; hops < 40; ++hops) {
    fs::path next = fs::weakly_canonical(p, ec);
    if (ec)
      break;
    if (fs::is_symlink(next, ec)) {
      const fs::path to = fs::read_symlink(next, ec);
      if (ec)
        break;
      next = to.is_absolute() ? to : next.parent_path() / to;
    }
    if (next == p)
      break;
    p = std::move(next);
  }
  return p.string();
}

std::string stageLoneFile(const std::string& path) {
  std::string target = resolvedTarget(path);
  if (writtenInPlace(target))
    return target;
  std::string tmp = besidePath(target, "run");
  std::lock_guard<std::mutex> lock(gMutex);
  gLoneFiles.push_back(tmp);
  return tmp;
}

bool placeLoneFile(const std::string& path, bool written, std::string* why) {
  const std::string target = resolvedTarget(path);
  if (writtenInPlace(target))
    return written;
  const std::string tmp = besidePath(target, "run");
  std::lock_guard<std::mutex> lock(gMutex);
  std::erase(gLoneFiles, tmp);
  if (written && std::rename(tmp.c_str(), target.c_str()) == 0)
    return true;
  if (written)
    *why = std::strerror(errno);
  ::unlink(tmp.c_str());
  return false;
}

void removePendingOutputFiles() {
  gMutex.lock(); // never released: the process is about to end
  for (const Pending& p : gPending)
    if (!p.tmp.empty())
      ::unlink(p.tmp.c_str());
  for (const std::string& tmp : gLoneFiles)
    ::unlink(tmp.c_str());
  gPending.clear();
  gLoneFiles.clear();
}

} // namespace qrxhost
