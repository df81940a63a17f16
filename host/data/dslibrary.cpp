// Libraries and data set names: the directories of WORK and the other libraries, the file
// a written name stands for, valid names, and the files claimed by the step's outputs.
// Opening and reading the data sets is dataset.cpp's.
#include "host/data/dslibrary.h"
#include "host/data/dsstate.h"
#include "host/data/staging.h"
#include "host/textcase.h"
#include "host/utf8text.h"
#include "support/quotedtext.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace qrxhost {

using namespace dsservice;

namespace {

std::string gWork;
std::map<std::string, std::string> gLibs; // upper-case name -> directory

// The file for a member in a directory: an exact match, else one that differs in case.
std::string memberFile(const std::string& dir, const std::string& member, bool forOutput) {
  fs::path exact = fs::path(dir) / (member + ".csv");
  if (forOutput)
    return (fs::path(dir) / (asciiLower(member) + ".csv")).string();
  std::error_code ec;
  if (fs::exists(exact, ec))
    return exact.string();
  std::string want = asciiLower(member) + ".csv";
  for (const auto& e : fs::directory_iterator(dir, ec))
    if (asciiLower(e.path().filename().string()) == want)
      return e.path().string();
  return exact.string();
}

// A written name without the blanks around it.
std::string trimmed(const std::string& written) {
  const size_t b = written.find_first_not_of(" \t");
  if (b == std::string::npos)
    return std::string();
  return written.substr(b, written.find_last_not_of(" \t") - b + 1);
}

} // namespace

namespace dsservice {

std::map<std::string, std::string> gClaims;

std::string claimKey(const std::string& path) {
  std::error_code ec;
  fs::path full = fs::absolute(path, ec);
  return fs::weakly_canonical(ec ? fs::path(path) : full, ec).lexically_normal().string();
}

} // namespace dsservice

void setWorkDir(const std::string& dir) {
  std::lock_guard<std::mutex> lock(gMutex);
  gWork = dir;
}

std::string workDir() {
  std::lock_guard<std::mutex> lock(gMutex);
  return gWork.empty() ? std::string(".") : gWork;
}

void setLibrary(const std::string& name, const std::string& dir) {
  std::lock_guard<std::mutex> lock(gMutex);
  const std::string upper = asciiUpper(name);
  if (upper == "WORK")
    gWork = dir; // libraryDir answers WORK from here
  else
    gLibs[upper] = dir;
}

DirProblem libraryDirProblem(const std::string& dir) {
  std::error_code ec;
  const fs::file_status st = fs::status(dir, ec);
  if (!fs::exists(st))
    return DirProblem::Missing;
  return fs::is_directory(st) ? DirProblem::None : DirProblem::NotDirectory;
}

std::optional<std::string> libraryDir(const std::string& name) {
  std::string u = asciiUpper(name);
  if (u == "WORK")
    return workDir();
  std::lock_guard<std::mutex> lock(gMutex);
  auto it = gLibs.find(u);
  if (it == gLibs.end())
    return std::nullopt;
  return it->second;
}

void clearLibraries() {
  std::lock_guard<std::mutex> lock(gMutex);
  gLibs.clear();
  gWork.clear();
}

bool resolveDataSet(const std::string& written, bool forOutput, std::string* path,
                    std::string* display, std::string* error) {
  const std::string w = trimmed(written);
  if (std::string p; quotedTextValue(w, &p)) {
    if (p.empty()) {
      *error = "name";
      return false;
    }
    *path = p;
    *display = p;
    return true;
  }
  std::string lib = "WORK", member = w;
  size_t dot = w.find('.');
  if (dot != std::string::npos) {
    lib = w.substr(0, dot);
    member = w.substr(dot + 1);
    if (!validName(lib)) {
      *error = "name";
      return false;
    }
  }
  if (!validName(member)) {
    *error = "name";
    return false;
  }
  auto dir = libraryDir(lib);
  if (!dir) {
    *error = "library:" + asciiUpper(lib);
    return false;
  }
  *path = memberFile(*dir, member, forOutput);
  *display = asciiUpper(lib) + "." + asciiUpper(member);
  return true;
}

bool resolveStoreFile(const std::string& written, std::string* path, std::string* display,
                      std::string* error) {
  if (!resolveDataSet(written, true, path, display, error))
    return false;
  std::string value;
  const bool quoted = quotedTextValue(trimmed(written), &value);
  if (!quoted && path->size() > 4 && path->compare(path->size() - 4, 4, ".csv") == 0)
    *path = path->substr(0, path->size() - 4) + ".json";
  return true;
}

std::string resolveCodeFile(const std::string& written) {
  if (std::string path; quotedTextValue(trimmed(written), &path))
    return path;
  if (written.empty())
    return std::string();
  return (fs::path(workDir()) / (asciiLower(written) + ".py")).string();
}

bool validName(const std::string& s) {
  return validVariableName(s) && std::all_of(s.begin(), s.end(), [](char c) {
           return static_cast<unsigned char>(c) < 0x80;
         });
}

bool validVariableName(const std::string& s) {
  if (s.empty() || s.size() > 32 || std::isdigit(static_cast<unsigned char>(s[0])))
    return false;
  for (size_t i = 0; i < s.size();) {
    const size_t n = nameCharBytes(s, i);
    if (n == 0)
      return false;
    i += n;
  }
  return true;
}

std::string defaultOutputName() {
  const std::string dir = workDir();
  for (int n = 1;; ++n) {
    std::string member = "DATA" + std::to_string(n);
    std::error_code ec;
    if (fs::exists(memberFile(dir, member, false), ec))
      continue;
    const std::string path = memberFile(dir, member, true);
    std::lock_guard<std::mutex> lock(gMutex);
    if (std::none_of(gOpen.begin(), gOpen.end(),
                     [&](const HostDataSet* ds) { return ds->output && ds->path == path; }))
      return member;
  }
}

bool claimOutputFile(const std::string& path, const OutputMaker& by) {
  if (struct stat st{}; ::stat(path.c_str(), &st) == 0 && isNullDevice(st))
    return true; // every output may go to the null device

  std::string maker =
      by.option.empty() ? "the default output data set" : asciiUpper(by.option) + "=";
  maker += " of the " + asciiUpper(by.statement) + " statement";
  if (by.line > 0)
    maker += " at line " + std::to_string(by.line);
  std::string first;
  {
    std::lock_guard<std::mutex> lock(gMutex);
    auto [it, added] = gClaims.emplace(claimKey(path), maker);
    if (added)
      return true;
    first = it->second;
  }
  fail(DataMsg::FileClaimedTwice, {path.c_str(), first.c_str(), maker.c_str()});
  return false;
}

bool claimOutput(HostDataSet* out, const OutputMaker& by) {
  HostDataSet* ds = checkedOutput(out);
  return ds == nullptr || claimOutputFile(ds->path, by);
}

std::string nameProblem(const std::string& error) {
  if (error.rfind("library:", 0) == 0)
    return "the library " + error.substr(8) + " is not assigned";
  return "it is not a valid data set name";
}

} // namespace qrxhost
