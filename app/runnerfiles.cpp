// The runner's own files: where each goes and the checks made before a run. Declared in
// runnerfiles.h.
#include "runnerfiles.h"

#include "host/data/dslibrary.h"
#include "host/data/staging.h"
#include "host/runner/program.h"

#include <cerrno>
#include <cstring>
#include <iostream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qrxrunner {
namespace {

// What makes two paths one file: the file a write there reaches (resolvedTarget, as the
// runner's writes resolve it, through links and missing directories before a ..), by its
// device and inode when it exists, else by that resolved path. Writes to the null device
// never clash: it keeps nothing to lose.
struct FileId {
  bool exists = false;
  bool discards = false;
  dev_t dev = 0;
  ino_t ino = 0;
  std::string resolved;
};

FileId identify(const std::string& path) {
  FileId id;
  struct stat st {};
  if (path != "-")
    id.resolved = qrxhost::resolvedTarget(path);
  const bool found =
      path == "-" ? ::fstat(STDOUT_FILENO, &st) == 0 : ::stat(id.resolved.c_str(), &st) == 0;
  if (!found)
    return id;
  id.exists = true;
  id.discards = qrxhost::isNullDevice(st);
  id.dev = st.st_dev;
  id.ino = st.st_ino;
  return id;
}

bool sameFile(const FileId& a, const FileId& b) {
  if (a.discards || b.discards || a.exists != b.exists)
    return false;
  return a.exists ? a.dev == b.dev && a.ino == b.ino : a.resolved == b.resolved;
}

// A file the program reads or writes, and how to name it in a message.
struct ProgramFile {
  FileId id;
  std::string what;
};

bool isStoreWord(const qrxhost::NamedWord& w) {
  return (w.statement == "STORE" || w.statement == "ITEMSTORE") &&
         (w.option.empty() || w.option == "OUT" || w.option == "OUTSTORE");
}

// The file a word of a step names, if any: an item store, a scoring code file, an output
// data set (OUT=, OUTDESIGN=), or a data set read that exists.
void addNamedFile(const qrxhost::NamedWord& w, std::vector<ProgramFile>* files) {
  const std::string at = " at line " + std::to_string(w.line);
  std::string path, display, error;
  if (isStoreWord(w)) {
    if (qrxhost::resolveStoreFile(w.word, &path, &display, &error))
      files->push_back(
          {identify(path), "the item store " + path + " that the program writes" + at});
    return;
  }
  if (w.statement == "CODE" && w.option == "FILE") {
    path = qrxhost::resolveCodeFile(w.word);
    files->push_back(
        {identify(path), "the scoring code file " + path + " that the program writes" + at});
    return;
  }
  if (w.option.empty())
    return;
  const bool written = w.option == "OUT" || w.option == "OUTDESIGN";
  if (!qrxhost::resolveDataSet(w.word, written, &path, &display, &error))
    return;
  FileId id = identify(path);
  if (written || id.exists)
    files->push_back({std::move(id), "the data set " + display + " (" + path +
                                         ") that the program " + (written ? "writes" : "reads") +
                                         at});
}

// Assigns a LIBNAME statement's library as the run will: only to a directory.
void assignLibrary(const qrxhost::ProgramItem& item) {
  if (item.kind == qrxhost::ProgramItem::Libname &&
      qrxhost::libraryDirProblem(item.value) == qrxhost::DirProblem::None)
    qrxhost::setLibrary(item.name, item.value);
}

std::vector<ProgramFile> programFiles(const std::string& program, const std::string& text) {
  std::vector<ProgramFile> files{{identify(program), "the program file"}};
  qrxhost::ProgramSplitter splitter(text);
  for (qrxhost::ProgramItem item; splitter.next(&item);) {
    assignLibrary(item);
    if (item.kind != qrxhost::ProgramItem::Step)
      continue;
    // A LIBNAME inside a step takes effect before the step runs.
    for (const qrxhost::ProgramItem& before : item.before)
      assignLibrary(before);
    for (const qrxhost::NamedWord& w : qrxhost::namedWords(item))
      addNamedFile(w, &files);
  }
  return files;
}

bool refuse(const std::string& text) {
  std::cerr << "qrx: " << text << "\n";
  return false;
}

} // namespace

bool toStandardOutput(const std::string& path) {
  if (path == "-")
    return true;
  struct stat out {
  }, st{};
  return !path.empty() && ::fstat(STDOUT_FILENO, &out) == 0 && ::stat(path.c_str(), &st) == 0 &&
         out.st_dev == st.st_dev && out.st_ino == st.st_ino;
}

bool canWrite(const std::string& path, std::string* why) {
  if (toStandardOutput(path))
    return true;
  // A link is written through: the file it names is the one to check, even a new one.
  const std::string target = qrxhost::resolvedTarget(path);
  struct stat st {};
  const bool existed = ::stat(target.c_str(), &st) == 0;
  if (existed && S_ISDIR(st.st_mode)) {
    *why = "it is a directory";
    return false;
  }
  if (existed && !S_ISREG(st.st_mode)) {
    // Opening a pipe would hand its reader an end of file.
    if (::access(target.c_str(), W_OK) == 0)
      return true;
    *why = std::strerror(errno);
    return false;
  }
  const int flags = O_WRONLY | O_APPEND | O_CLOEXEC | (existed ? 0 : O_CREAT | O_EXCL);
  const int fd = ::open(target.c_str(), flags, 0644);
  if (fd < 0) {
    *why = std::strerror(errno);
    return false;
  }
  ::close(fd);
  if (!existed)
    ::unlink(target.c_str());
  return true;
}

bool runnerFilesApart(const std::vector<RunnerFile>& files, const std::string& program,
                      const std::string& text) {
  std::vector<FileId> ids;
  ids.reserve(files.size());
  for (const RunnerFile& f : files)
    ids.push_back(identify(f.path));
  for (size_t i = 0; i < files.size(); ++i)
    for (size_t j = i + 1; j < files.size(); ++j)
      if (sameFile(ids[i], ids[j]))
        return refuse(std::string("the files of ") + files[i].option + " (" + files[i].path +
                      ") and " + files[j].option + " (" + files[j].path +
                      ") are one file; give each a file of its own");
  const std::vector<ProgramFile> theirs = programFiles(program, text);
  for (size_t i = 0; i < files.size(); ++i)
    for (const ProgramFile& p : theirs)
      if (sameFile(ids[i], p.id))
        return refuse("the file " + files[i].path + " of " + files[i].option + " is " + p.what +
                      "; it would be written over: choose another file");
  return true;
}

} // namespace qrxrunner
