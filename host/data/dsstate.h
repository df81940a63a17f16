// The state of an open data set, shared by the files of the data-set services: the handle,
// the open data sets and their lock, the checks each service makes first and the messages.
// The services are dataset.cpp's (inputs), dsby.cpp's (BY groups) and dsoutput.cpp's.
#pragma once

#include "host/data/csvfile.h"
#include "host/data/dsoptions.h"
#include "host/hostmessages.h"
#include "support/hostif.h"

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

// A BY value of an observation, copied so that it can be compared after the observation's
// window has moved on.
struct ByValue {
  bool numeric = true;
  double num = 0;
  std::string text;
};
using ByKey = std::vector<ByValue>;

struct HostByHandle {
  HostDataSet* data = nullptr;
  std::vector<int32_t> vars; // 0-based columns
  std::vector<uint8_t> descending;
  int64_t groupIndex = -1;    // -1: before the first group
  int64_t begin = 0, end = 0; // observations of the current group (or of the data set)
};

struct HostDataSet {
  uint32_t magic = 0; // kLiveInput or kLiveOutput while open; cleared when freed
  bool output = false;
  std::string display; // WORK.NAME, LIB.NAME or the path
  std::string path;
  std::shared_ptr<const qrxhost::CsvTable> table; // inputs
  std::unique_ptr<qrxhost::CsvRows> rows;         // this handle's place in the table's values
  bool changeLogged = false;                      // the file's change has been reported
  mutable bool misfitLogged = false; // its options' misfit has been reported (once is enough)
  // The windows the block reads of a file read window by window share, and the lock that
  // makes them and reports a change of the file once.
  std::unique_ptr<qrxhost::CsvWindowCache> blockWindows;
  std::mutex blockMutex;
  // Observations before this one (0-based) were given up by the reader (xobsdone): their
  // values are gone, and reading one again is refused. Block readers on other threads check it.
  std::atomic<int64_t> released{0};
  std::atomic<bool> releasedReadLogged{false};
  std::vector<bool> described;    // variables already looked up (describeLookedUpVariable)
  std::vector<HostVariable> vars; // descriptions handed out by xvname
  std::vector<std::string> names; // storage of the names
  // Each upper-cased name and the 0-based position of its first variable: a look-up by
  // name costs one hash, not a pass over every name (a model of thousands of columns looks
  // up every one of them).
  std::unordered_map<std::string, int32_t> positions;
  HostByHandle by;
  std::vector<int64_t> groupStarts; // start of each BY group; last entry = nobs
  // The BY values at each group start, kept when the values are read window by window so
  // that matching groups of a second data set does not parse a window per group.
  std::vector<ByKey> groupKeys;
  // The BY values of the current group's first observation (groupKeyAt; -1 none), taken
  // when the group starts: the BY line and the matching of other data sets use them after
  // the reader may have given the observation up.
  ByKey groupKey;
  int64_t groupKeyAt = -1;
  int64_t position = 0; // next observation to read
  int64_t current = -1; // current observation
  // outputs
  std::vector<std::vector<double>> outNums;
  std::vector<std::vector<std::string>> outStrs;
  std::vector<double> rowNum;
  std::vector<std::string> rowStr;
  int64_t outRows = 0;
  std::unique_ptr<qrxhost::DataSetOptions> outOptions; // applied when the rows are written
  // The written names of the columns under outOptions, made for `writtenFor` columns: per
  // column its place among the written ones (-1 left out); writtenFor -1 when the options
  // did not fit them.
  int64_t writtenFor = 0;
  std::vector<int> writtenPlace;
  std::vector<std::string> writtenNames;
};

namespace qrxhost::dsservice {

inline constexpr uint32_t kLiveInput = 0x44534E49u;  // marks an open input data set
inline constexpr uint32_t kLiveOutput = 0x44534F55u; // marks an open output data set

// The lock over the open data sets, the parsed copies, the libraries and the claims.
extern std::mutex gMutex;
// The data sets open, input and output.
extern std::set<HostDataSet*> gOpen;
// The files the step's outputs will write (as one spelling of the path) and what names each
// ("OUT= of the OUTPUT statement at line 3"), for refusing a second output of the same file.
extern std::map<std::string, std::string> gClaims;
// The spelling of a path that gClaims keys: absolute, links and . and .. resolved.
std::string claimKey(const std::string& path);

// Logs a message of the data-set services.
void report(DataMsg number, std::initializer_list<HostMsgArg> args);
// Logs an error and raises the step's return code.
void fail(DataMsg number, std::initializer_list<HostMsgArg> args);
// A data set name that does not resolve: an unassigned library ("library:NAME"), else a
// name that is not valid.
void failName(const std::string& error, const std::string& written);

// Adds the description of a variable to a data set (its name, type and length).
void describe(HostDataSet* ds, const std::string& name, bool numeric, int32_t length);
// The data set when it is open as an input (an output; either), else null.
HostDataSet* checkedInput(HostDataSet* ds);
HostDataSet* checkedOutput(HostDataSet* ds);
// The per-observation calls check the mark only: they run once per value of a data pass.
inline HostDataSet* liveInput(HostDataSet* ds) {
  return ds && ds->magic == kLiveInput ? ds : nullptr;
}
inline HostDataSet* liveOutput(HostDataSet* ds) {
  return ds && ds->magic == kLiveOutput ? ds : nullptr;
}
HostDataSet* checkedAny(HostDataSet* ds);

// True unless observation `obs` (0-based) was given up with xobsdone: reading it again is a
// fault of the reader, refused with an internal error (logged once for the data set) rather
// than answered with values that are gone.
inline bool releasedRead(HostDataSet* ds, int64_t obs) {
  if (obs >= ds->released.load(std::memory_order_acquire))
    return true;
  if (!ds->releasedReadLogged.exchange(true))
    fail(DataMsg::ReleasedObservationRead, {static_cast<long long>(obs + 1), ds->display.c_str()});
  return false;
}
// Logs, once for the data set, that the file of an input changed while it was being read,
// or could not be read again.
void reportChange(HostDataSet* ds);
// Logs that as reportChange does and ends the step with the error return code: the rows
// not read are not taken as the end of the data.
[[noreturn]] void endStepOnUnreadRows(HostDataSet* ds);
// Makes observation `obs` of an input readable; a file that changed since it was first read,
// or that cannot be read again, is an error naming the file that ends the step.
inline bool reachObs(HostDataSet* ds, int64_t obs) {
  if (!releasedRead(ds, obs))
    return false;
  if (ds->rows->reach(obs))
    return true;
  if (ds->rows->changed())
    endStepOnUnreadRows(ds);
  return false;
}

// The variables of a data set as its options see them.
std::vector<OptionVariable> optionVariables(const HostDataSet* ds);
// Logs why a data set's options do not fit it and raises the step's return code.
void reportMisfit(const HostDataSet* ds, const OptionMisfit& m);

// The number (1-based; 0 when none) of the variable of a data set with the name given.
int32_t dsVfind(HostDataSet* data, const char* name, int32_t length, int32_t* number, int32_t);

// Closes an input or output data set (an output not ended with xvputt is not written).
void dsClose(HostDataSet* data);

} // namespace qrxhost::dsservice
