// Data sets as CSV files. An input is parsed once per step into a binary copy shared by
// every handle on the same file; BY groups are runs of equal BY values over that copy.
// Output data sets collect their rows and are staged in a temporary file in their library
// when ended (xvputt); the step runner puts them in place only when the step succeeds.
#include "host/data/dataset.h"
#include "host/data/csvfile.h"
#include "host/data/dsoptions.h"
#include "host/data/outfile.h"
#include "host/data/readvec.h"
#include "host/data/staging.h"
#include "host/ext/qkmemfig.h"
#include "host/hostlog.h"
#include "host/hostmessages.h"
#include "host/kernel.h"
#include "host/output/rvqoutput.h"
#include "host/progress.h"
#include "host/supervisor.h"
#include "host/textcase.h"
#include "host/utf8text.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <unordered_map>
#include <vector>

namespace fs = std::filesystem;

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
  // The reader of the block reads of a file read window by window, and its lock.
  std::unique_ptr<qrxhost::CsvRows> blockRows;
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

namespace qrxhost {
namespace {

constexpr uint32_t kLiveInput = 0x44534E49u;  // marks an open input data set
constexpr uint32_t kLiveOutput = 0x44534F55u; // marks an open output data set
constexpr int kFailCode = 1012;

std::mutex gMutex;
std::string gWork;
// refuseOutputRowsAfter: the rows xdsappend still takes (-1: no limit), and its refusals.
std::atomic<int64_t> gRowsBeforeRefusal{-1};
std::atomic<int64_t> gRefusedRows{0};
std::map<std::string, std::string> gLibs; // upper-case name -> directory
std::set<HostDataSet*> gOpen;
std::map<std::string, std::shared_ptr<const CsvTable>> gCopies; // canonical path -> copy

// The files the step's outputs will write (as one spelling of the path) and what names each
// ("OUT= of the OUTPUT statement at line 3"), for refusing a second output of the same file.
std::map<std::string, std::string> gClaims;

// Logs a message of the data-set services.
void report(DataMsg number, std::initializer_list<HostMsgArg> args) {
  logMessage(kDataMsgSet, static_cast<int>(number), args.begin(), static_cast<int>(args.size()));
}

// Logs an error and raises the step's return code.
void fail(DataMsg number, std::initializer_list<HostMsgArg> args) {
  report(number, args);
  raiseStepReturnCode(kFailCode);
}

// A data set name that does not resolve: an unassigned library ("library:NAME"), else a
// name that is not valid.
void failName(const std::string& error, const std::string& written) {
  if (error.rfind("library:", 0) == 0)
    fail(DataMsg::LibraryNotAssigned, {error.c_str() + 8});
  else
    fail(DataMsg::BadDataSetName, {written.c_str()});
}

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

void describe(HostDataSet* ds, const std::string& name, bool numeric, int32_t length) {
  const size_t capacity = ds->names.capacity();
  ds->positions.emplace(nameUpper(name), static_cast<int32_t>(ds->names.size()));
  ds->names.push_back(name);
  HostVariable v{};
  v.nameLength = static_cast<int16_t>(name.size());
  v.type = numeric ? 1 : 2;
  v.length = length;
  v.number = static_cast<int32_t>(ds->vars.size()) + 1;
  size_t n = std::min(name.size(), sizeof v.nameText);
  std::memcpy(v.nameText, name.data(), n);
  ds->vars.push_back(v);
  // Names are handed out from storage that stays put: when the names moved, every
  // description points at them again.
  if (ds->names.capacity() != capacity)
    for (size_t i = 0; i < ds->vars.size(); ++i)
      ds->vars[i].name = ds->names[i].c_str();
  else
    ds->vars.back().name = ds->names.back().c_str();
}

HostDataSet* checkedInput(HostDataSet* ds) {
  std::lock_guard<std::mutex> lock(gMutex);
  return ds && gOpen.count(ds) && !ds->output ? ds : nullptr;
}
HostDataSet* checkedOutput(HostDataSet* ds) {
  std::lock_guard<std::mutex> lock(gMutex);
  return ds && gOpen.count(ds) && ds->output ? ds : nullptr;
}
// The per-observation calls check the mark only: they run once per value of a data pass.
HostDataSet* liveInput(HostDataSet* ds) { return ds && ds->magic == kLiveInput ? ds : nullptr; }
HostDataSet* liveOutput(HostDataSet* ds) { return ds && ds->magic == kLiveOutput ? ds : nullptr; }
HostDataSet* checkedAny(HostDataSet* ds) {
  std::lock_guard<std::mutex> lock(gMutex);
  return ds && gOpen.count(ds) ? ds : nullptr;
}

// True unless observation `obs` (0-based) was given up with xobsdone: reading it again is a
// fault of the reader, refused with an internal error (logged once for the data set) rather
// than answered with values that are gone.
bool releasedRead(HostDataSet* ds, int64_t obs) {
  if (obs >= ds->released.load(std::memory_order_acquire))
    return true;
  if (!ds->releasedReadLogged.exchange(true))
    fail(DataMsg::ReleasedObservationRead, {static_cast<long long>(obs + 1), ds->display.c_str()});
  return false;
}

// Makes observation `obs` of an input readable; a file that changed since it was first read
// is an error naming the file, logged once for the data set.
void reportChange(HostDataSet* ds) {
  if (!ds->changeLogged) {
    ds->changeLogged = true;
    fail(DataMsg::FileUnreadable, {ds->path.c_str(), "the file changed while it was being read"});
  }
}
bool reachObs(HostDataSet* ds, int64_t obs) {
  if (!releasedRead(ds, obs))
    return false;
  if (ds->rows->reach(obs))
    return true;
  if (ds->rows->changed())
    reportChange(ds);
  return false;
}

// The values of observation `obs` on the BY variables; false when it cannot be read.
bool keyOf(HostDataSet* ds, int64_t obs, ByKey* key) {
  key->clear();
  if (!reachObs(ds, obs))
    return false;
  for (int32_t v : ds->by.vars) {
    const size_t c = static_cast<size_t>(v);
    const bool numeric = ds->rows->column(c).numeric;
    key->push_back({numeric, numeric ? ds->rows->num(c, obs) : 0.0,
                    numeric ? std::string() : std::string(ds->rows->str(c, obs))});
  }
  return true;
}

// <0, 0, >0 as value x sorts before, with or after column c's value at the reached obs;
// missing numbers sort first. Values of different types never match.
int compareValue(const ByValue& x, const CsvRows& rows, size_t c, int64_t obs) {
  if (x.numeric != rows.column(c).numeric)
    return 1;
  if (!x.numeric) {
    const int cmp = std::string_view(x.text).compare(rows.str(c, obs));
    return cmp < 0 ? -1 : cmp > 0 ? 1 : 0;
  }
  const double y = rows.num(c, obs);
  const bool mx = isHostMissing(x.num), my = isHostMissing(y);
  if (mx || my)
    return mx == my ? 0 : (mx ? -1 : 1);
  return x.num < y ? -1 : x.num > y ? 1 : 0;
}

// Compares a key with observation `obs` on the data set's BY variables: <0, 0, >0 in BY
// order; false in *ok when the observation cannot be read.
int compareKey(HostDataSet* ds, const ByKey& key, int64_t obs, bool* ok) {
  *ok = reachObs(ds, obs);
  for (size_t k = 0; *ok && k < ds->by.vars.size() && k < key.size(); ++k) {
    int r = compareValue(key[k], *ds->rows, static_cast<size_t>(ds->by.vars[k]), obs);
    if (ds->by.descending[k])
      r = -r;
    if (r != 0)
      return r;
  }
  return 0;
}

// Back before the first BY group and the first observation.
void rewindGroups(HostDataSet* ds) {
  ds->by.groupIndex = -1;
  ds->by.begin = 0;
  ds->by.end = ds->table->nobs;
  ds->position = 0;
  ds->current = -1;
}

// Finds the BY groups in one pass over the observations; returns the first observation out
// of BY order (-1: none).
int64_t computeGroups(HostDataSet* ds) {
  ds->groupStarts.clear();
  ds->groupKeys.clear();
  int64_t n = ds->table->nobs;
  int64_t unsorted = -1;
  if (n > 0)
    ds->groupStarts.push_back(0);
  ByKey key;
  if (!ds->by.vars.empty() && n > 0 && keyOf(ds, 0, &key)) {
    const bool keep = ds->table->windowed();
    if (keep)
      ds->groupKeys.push_back(key);
    bool ok = true;
    for (int64_t i = 1; i < n; ++i) {
      const int r = compareKey(ds, key, i, &ok);
      if (!ok)
        break;
      if (r == 0)
        continue;
      if (r > 0 && unsorted < 0)
        unsorted = i;
      ds->groupStarts.push_back(i);
      if (!keyOf(ds, i, &key))
        break;
      if (keep)
        ds->groupKeys.push_back(key);
    }
  }
  ds->groupStarts.push_back(n);
  rewindGroups(ds);
  return unsorted;
}

// The threads that read a data set: one when the THREADS option turns threading off, else
// the processor count (CPUCOUNT).
int readerThreads() {
  if (auto opt = hostOption("THREADS")) {
    std::string v = asciiUpper(*opt);
    char* end = nullptr;
    const double d = std::strtod(v.c_str(), &end);
    if (v == "NO" || v == "OFF" || v == "FALSE" || (end != v.c_str() && *end == '\0' && d == 0))
      return 1;
  }
  return static_cast<int>(std::clamp<int64_t>(hostCpuCount(), 1, 256));
}

// The most memory an input's values may take before the input is read window by window: the
// CSVHOLD option, else a quarter of the host memory figure (MEMSIZE, else the memory
// available), leaving the rest to the procedure's pages; 0 (no bound) when neither is known.
uint64_t holdBytes() {
  int64_t kb = 0;
  if (auto v = hostOption("CSVHOLD"); v && parseMemorySize(*v, &kb))
    return static_cast<uint64_t>(kb) * 1024;
  if (hostMemoryFigure(&kb) == 0 && kb > 0)
    return static_cast<uint64_t>(kb) * 1024 / 4;
  return 0;
}

// Names the columns of an input whose header gave them no name, and the names they got.
void noteUnnamedColumns(const HostDataSet& ds) {
  if (ds.table->unnamed.empty())
    return;
  std::string columns, names;
  for (size_t c : ds.table->unnamed) {
    columns += (columns.empty() ? "" : ", ") + std::to_string(c + 1);
    names += (names.empty() ? "" : ", ") + ds.table->columns[c].name;
  }
  report(DataMsg::UnnamedColumns, {ds.display.c_str(), columns.c_str(), names.c_str()});
}

// Parses an input file on the reader threads, with the rows read on the progress line.
bool readInput(const std::string& path, const std::string& display, CsvTable* table,
               CsvError* error) {
  CsvReadOptions options;
  options.threads = readerThreads();
  options.holdBytes = holdBytes();
  ProgressLine::instance().start();
  options.progress = [&display](int64_t rows) {
    ProgressLine::instance().show("reading " + display + ": " + std::to_string(rows) +
                                  (rows == 1 ? " observation" : " observations"));
  };
  return readCsvFile(path, options, table, error);
}

// ---- services --------------------------------------------------------------------------

HostDataSet* dsOpen(const char* name, int32_t length) {
  std::string written = name && length > 0 ? std::string(name, static_cast<size_t>(length)) : "";
  std::string path, display, error;
  if (!resolveDataSet(written, false, &path, &display, &error)) {
    failName(error, written);
    return nullptr;
  }
  std::error_code ec;
  if (fs::is_directory(path, ec)) {
    fail(DataMsg::FileUnreadable, {path.c_str(), "it is a directory, not a file"});
    return nullptr;
  }
  if (!fs::is_regular_file(path, ec)) {
    fail(DataMsg::DataSetNotFound, {display.c_str(), path.c_str()});
    return nullptr;
  }
  std::string key = fs::weakly_canonical(path, ec).string();
  std::shared_ptr<const CsvTable> table;
  {
    std::lock_guard<std::mutex> lock(gMutex);
    auto it = gCopies.find(key);
    if (it != gCopies.end())
      table = it->second;
  }
  if (!table) {
    auto parsed = std::make_shared<CsvTable>();
    CsvError err;
    if (!readInput(path, display, parsed.get(), &err)) {
      if (err.line > 0)
        fail(DataMsg::FileLineError, {path.c_str(), err.line, err.text.c_str()});
      else
        fail(DataMsg::FileUnreadable, {path.c_str(), err.text.c_str()});
      return nullptr;
    }
    table = parsed;
    std::lock_guard<std::mutex> lock(gMutex);
    gCopies[key] = table;
  }
  auto* ds = new HostDataSet;
  ds->display = display;
  ds->path = path;
  ds->table = table;
  ds->vars.reserve(table->columns.size());
  ds->names.reserve(table->columns.size());
  for (const CsvColumn& c : table->columns)
    describe(ds, c.name, c.numeric, c.length);
  ds->by.data = ds;
  ds->rows = std::make_unique<CsvRows>(table);
  computeGroups(ds);
  noteUnnamedColumns(*ds);
  ds->magic = kLiveInput;
  std::lock_guard<std::mutex> lock(gMutex);
  gOpen.insert(ds);
  return ds;
}

// The variables of a data set as its options see them.
std::vector<OptionVariable> optionVariables(const HostDataSet* ds) {
  std::vector<OptionVariable> vars;
  for (size_t i = 0; i < ds->vars.size(); ++i)
    vars.push_back({ds->names[i], ds->vars[i].type == 1});
  return vars;
}

// Logs why a data set's options do not fit it and raises the step's return code.
void reportMisfit(const HostDataSet* ds, const OptionMisfit& m) {
  fail(DataMsg::BadDataSetOption, {m.at.line, m.at.column, m.at.text.c_str(), m.option.c_str(),
                                   m.why.c_str(), ds->display.c_str()});
}

// The observations of an input that its options choose (0-based): those satisfying WHERE=,
// and among them the FIRSTOBS=-th up to the OBS=-th; *satisfied counts those WHERE= keeps
// (up to OBS=). False after a message when the file changed while it was read.
bool chosenRows(HostDataSet* ds, const DataSetOptions& o, std::vector<int64_t>* out,
                int64_t* satisfied) {
  int64_t obs = 0;
  *satisfied = 0;
  const WhereRow row{[&](int c) { return ds->rows->num(static_cast<size_t>(c), obs); },
                     [&](int c) { return ds->rows->str(static_cast<size_t>(c), obs); }};
  for (; obs < ds->table->nobs && (o.obs < 0 || *satisfied < o.obs); ++obs) {
    if (!reachObs(ds, obs))
      return false;
    if (o.where && !whereHolds(*o.where, row))
      continue;
    if (++*satisfied >= o.firstObs)
      out->push_back(obs);
  }
  return true;
}

// Names the option that left an input with observations without any.
void noteNothingChosen(const HostDataSet* ds, const DataSetOptions& o, int64_t satisfied) {
  const long long all = static_cast<long long>(ds->table->nobs);
  if (o.obs == 0) {
    report(DataMsg::OptionChoosesNothing,
           {o.obsAt.line, o.obsAt.column, "OBS=0", ds->display.c_str(), "it reads no observation"});
  } else if (o.where && satisfied == 0) {
    const std::string why = "none of the " + std::to_string(all) + " observations satisfies it";
    report(DataMsg::OptionChoosesNothing,
           {o.whereAt.line, o.whereAt.column, "WHERE=", ds->display.c_str(), why.c_str()});
  } else {
    const std::string first = "FIRSTOBS=" + std::to_string(o.firstObs);
    const std::string why = "the data set holds " + std::to_string(satisfied) +
                            (o.where ? " observations that satisfy WHERE=" : " observations");
    report(DataMsg::OptionChoosesNothing, {o.firstObsAt.line, o.firstObsAt.column, first.c_str(),
                                           ds->display.c_str(), why.c_str()});
  }
}

// A table held whole with the chosen columns (under their new names) and rows of an input.
bool viewTable(HostDataSet* ds, const OptionView& view, const std::vector<int64_t>& chosen,
               CsvTable* out) {
  const size_t n = chosen.size();
  out->file = ds->table->file;
  out->nobs = static_cast<int64_t>(n);
  out->columns.resize(view.columns.size());
  std::vector<std::string> texts(view.columns.size());
  std::vector<std::vector<uint64_t>> starts(view.columns.size());
  for (size_t i = 0; i < view.columns.size(); ++i) {
    const CsvColumn& from = ds->table->columns[static_cast<size_t>(view.columns[i])];
    CsvColumn& to = out->columns[i];
    to.name = view.names[i];
    to.numeric = from.numeric;
    to.length = from.length;
    if (to.numeric)
      to.nums.allocate(n);
  }
  for (size_t k = 0; k < n; ++k) {
    const int64_t obs = chosen[k];
    if (!reachObs(ds, obs))
      return false;
    if (static_cast<size_t>(obs) < ds->table->lines.size())
      out->lines.push_back(ds->table->lines[static_cast<size_t>(obs)]);
    for (size_t i = 0; i < view.columns.size(); ++i) {
      const auto c = static_cast<size_t>(view.columns[i]);
      if (out->columns[i].numeric) {
        out->columns[i].nums[k] = ds->rows->num(c, obs);
        continue;
      }
      starts[i].push_back(texts[i].size());
      texts[i].append(ds->rows->str(c, obs));
      texts[i].push_back('\0');
    }
  }
  for (size_t i = 0; i < view.columns.size(); ++i) {
    CsvColumn& to = out->columns[i];
    if (to.numeric)
      continue;
    starts[i].push_back(texts[i].size());
    to.chars.allocate(std::max<size_t>(texts[i].size(), 1));
    std::memcpy(to.chars.data(), texts[i].data(), texts[i].size());
    to.offsets.allocate(n + 1);
    std::copy(starts[i].begin(), starts[i].end(), to.offsets.data());
  }
  return true;
}

} // namespace

bool applyDataSetOptions(HostDataSet* data, std::unique_ptr<DataSetOptions> options) {
  HostDataSet* ds = checkedAny(data);
  if (!ds || !options)
    return ds != nullptr;
  if (ds->output) { // its variables are not defined yet: the options apply when it is written
    ds->outOptions = std::move(options);
    return true;
  }
  OptionView view;
  OptionMisfit misfit;
  if (!viewOptions(optionVariables(ds), *options, &view, &misfit)) {
    reportMisfit(ds, misfit);
    return false;
  }
  std::vector<int64_t> chosen;
  int64_t satisfied = 0;
  auto table = std::make_shared<CsvTable>();
  if (!chosenRows(ds, *options, &chosen, &satisfied) || !viewTable(ds, view, chosen, table.get()))
    return false;
  if (chosen.empty() && ds->table->nobs > 0)
    noteNothingChosen(ds, *options, satisfied);
  ds->table = table;
  ds->rows = std::make_unique<CsvRows>(ds->table);
  ds->vars.clear();
  ds->names.clear();
  ds->positions.clear();
  ds->described.clear();
  for (const CsvColumn& c : table->columns)
    describe(ds, c.name, c.numeric, c.length);
  computeGroups(ds);
  return true;
}

namespace {

int32_t dsNvar(HostDataSet* data) {
  HostDataSet* ds = checkedAny(data);
  return ds ? static_cast<int32_t>(ds->vars.size()) : -1;
}

int64_t dsNobs(HostDataSet* data) {
  HostDataSet* ds = checkedAny(data);
  if (!ds)
    return -1;
  return ds->output ? ds->outRows : ds->table->nobs;
}

int32_t dsVfind(HostDataSet* data, const char* name, int32_t length, int32_t* number, int32_t) {
  if (number)
    *number = 0;
  HostDataSet* ds = checkedAny(data);
  if (!ds || !name || length <= 0)
    return 0;
  std::string want = nameUpper(std::string(name, static_cast<size_t>(length)));
  while (!want.empty() && want.back() == ' ')
    want.pop_back();
  const auto found = ds->positions.find(want);
  if (found == ds->positions.end())
    return 0;
  if (number)
    *number = found->second + 1;
  if (!ds->output)
    describeLookedUpVariable(ds, found->second + 1);
  return 0;
}

int32_t dsVname(HostDataSet* data, int32_t number, HostVariable** out) {
  HostDataSet* ds = checkedAny(data);
  if (!ds || number < 1 || number > static_cast<int32_t>(ds->vars.size()) || !out)
    return 1;
  *out = &ds->vars[static_cast<size_t>(number - 1)];
  return 0;
}

// Variables of the CSV data sets carry no formats: nothing to prepare.
int32_t dsFfile(HostDataSet* data, int32_t, const int32_t*, int32_t) {
  return checkedAny(data) ? 0 : -1;
}

HostByHandle* dsBy(HostDataSet* data) {
  HostDataSet* ds = checkedInput(data);
  return ds ? &ds->by : nullptr;
}

int32_t byNext(HostByHandle* by) {
  if (!by || !checkedInput(by->data))
    return 0;
  HostDataSet* ds = by->data;
  int64_t groups = static_cast<int64_t>(ds->groupStarts.size()) - 1;
  if (by->groupIndex + 1 >= groups) {
    by->groupIndex = groups;
    by->begin = by->end = ds->table->nobs;
    ds->position = by->begin;
    ds->current = -1;
    return 0;
  }
  ++by->groupIndex;
  by->begin = ds->groupStarts[static_cast<size_t>(by->groupIndex)];
  by->end = ds->groupStarts[static_cast<size_t>(by->groupIndex) + 1];
  ds->groupKeyAt = !by->vars.empty() && keyOf(ds, by->begin, &ds->groupKey) ? by->begin : -1;
  if (!by->vars.empty())
    ProgressLine::instance().showGroup(ds->display + ": BY group " +
                                       std::to_string(by->groupIndex + 1) + " of " +
                                       std::to_string(groups));
  ds->position = by->begin;
  ds->current = -1;
  return 1;
}

// The BY values of the current group's first observation: those taken when the group
// started, else read now. False when it cannot be read.
bool currentGroupKey(HostDataSet* ds, ByKey* key) {
  if (ds->groupKeyAt >= 0 && ds->groupKeyAt == ds->by.begin) {
    *key = ds->groupKey;
    return true;
  }
  return keyOf(ds, ds->by.begin, key);
}

// The text of a BY value.
std::string valueText(const ByValue& v) {
  if (v.numeric)
    return isHostMissing(v.num) ? "." : formatCsvNumber(v.num);
  return v.text;
}

int32_t bySet(HostDataSet* data, const int32_t* numbers, const uint8_t* descending, int32_t count,
              int32_t notsorted) {
  HostDataSet* ds = checkedInput(data);
  if (!ds || count < 0 || (count > 0 && !numbers))
    return -1;
  std::vector<int32_t> vars;
  std::vector<uint8_t> desc;
  for (int32_t k = 0; k < count; ++k) {
    int32_t n = numbers[k];
    if (n < 1 || n > static_cast<int32_t>(ds->vars.size()))
      return -1;
    if (std::find(vars.begin(), vars.end(), n - 1) != vars.end()) {
      fail(DataMsg::DuplicateByVariable, {ds->names[static_cast<size_t>(n - 1)].c_str()});
      return -2;
    }
    vars.push_back(n - 1);
    desc.push_back(descending ? descending[k] : 0);
  }
  ds->by.vars = vars;
  ds->by.descending = desc;
  const int64_t i = computeGroups(ds);
  if (!notsorted && i > 0) {
    std::string list;
    for (size_t k = 0; k < vars.size(); ++k)
      list.append(k ? " " : "")
          .append(desc[k] ? "DESCENDING " : "")
          .append(ds->names[static_cast<size_t>(vars[k])]);
    fail(DataMsg::NotSortedByGroups,
         {ds->display.c_str(), list.c_str(), ds->table->lines[static_cast<size_t>(i - 1)],
          ds->table->lines[static_cast<size_t>(i)]});
    ds->by.vars.clear();
    ds->by.descending.clear();
    computeGroups(ds);
    return -3;
  }
  return 0;
}

int32_t byRewind(HostByHandle* by) {
  if (!by || !checkedInput(by->data))
    return -1;
  by->data->position = by->begin;
  by->data->current = -1;
  return 0;
}

int32_t byLine(HostByHandle* by, char* buffer, int32_t capacity) {
  if (!by || !checkedInput(by->data))
    return 0;
  HostDataSet* ds = by->data;
  std::string text;
  ByKey key;
  if (!by->vars.empty() && by->begin < by->end && currentGroupKey(ds, &key)) {
    for (size_t k = 0; k < by->vars.size() && k < key.size(); ++k) {
      const size_t c = static_cast<size_t>(by->vars[k]);
      text += (k ? " " : "") + ds->table->columns[c].name + "=" + valueText(key[k]);
    }
  }
  if (buffer && capacity > 0) {
    size_t n = std::min(text.size(), static_cast<size_t>(capacity - 1));
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return static_cast<int32_t>(n);
  }
  return static_cast<int32_t>(text.size());
}

int32_t obsNext(HostDataSet* data) {
  HostDataSet* ds = liveInput(data);
  if (!ds)
    return -1;
  if (ds->position >= ds->by.end) {
    ds->current = -1;
    return 0;
  }
  ds->current = ds->position++;
  if (!reachObs(ds, ds->current)) {
    ds->current = -1;
    return -1;
  }
  return 1;
}

int32_t obsSpan(HostDataSet* data, int64_t* next, int64_t* count) {
  HostDataSet* ds = liveInput(data);
  if (!ds || !next || !count)
    return -1;
  *next = ds->position + 1;
  *count = std::max<int64_t>(ds->by.end - ds->position, 0);
  return 0;
}

int64_t obsSkip(HostDataSet* data, int64_t n) {
  HostDataSet* ds = liveInput(data);
  if (!ds || n <= 0)
    return 0;
  const int64_t passed = std::min(n, std::max<int64_t>(ds->by.end - ds->position, 0));
  ds->position += passed;
  // As xobsnext: the last observation passed is current; beyond the group's end none is.
  ds->current = passed == n ? ds->position - 1 : -1;
  return passed;
}

double obsNum(HostDataSet* data, int32_t number) {
  HostDataSet* ds = liveInput(data);
  if (!ds || ds->current < 0 || number < 1 || number > static_cast<int32_t>(ds->vars.size()) ||
      !reachObs(ds, ds->current))
    return hostMissing();
  const size_t c = static_cast<size_t>(number - 1);
  return ds->rows->column(c).numeric ? ds->rows->num(c, ds->current) : hostMissing();
}

int32_t obsChar(HostDataSet* data, int32_t number, const char** text) {
  static const char kEmpty[] = "";
  if (text)
    *text = kEmpty;
  HostDataSet* ds = liveInput(data);
  if (!ds || ds->current < 0 || number < 1 || number > static_cast<int32_t>(ds->vars.size()) ||
      !reachObs(ds, ds->current))
    return 0;
  const size_t c = static_cast<size_t>(number - 1);
  if (ds->rows->column(c).numeric)
    return 0;
  const std::string_view s = ds->rows->str(c, ds->current);
  if (text)
    *text = s.data();
  return static_cast<int32_t>(s.size());
}

// True when `ds` is the only open handle on its parsed copy; the copy then leaves the step's
// shared copies, so that a later open of the same file parses it again rather than share
// values this handle gives up.
bool ownCopy(HostDataSet* ds) {
  std::lock_guard<std::mutex> lock(gMutex);
  const auto users = std::count_if(gOpen.begin(), gOpen.end(), [ds](const HostDataSet* o) {
    return !o->output && o->table == ds->table;
  });
  if (users != 1)
    return false;
  std::erase_if(gCopies, [ds](const auto& copy) { return copy.second == ds->table; });
  return true;
}

// The reader gives up the observations before `next` (1-based) for the rest of the step: the
// memory of their values goes back to the system when this handle is the only one on its
// parsed copy. A file read window by window holds no more than a window: nothing to give.
int32_t obsDone(HostDataSet* data, int64_t next) {
  HostDataSet* ds = liveInput(data);
  if (!ds || next < 1)
    return -1;
  const int64_t before = std::min(next - 1, ds->table->nobs);
  if (ds->table->windowed() || before <= ds->released.load() || !ownCopy(ds))
    return 0;
  // Marked first: a read of a value on its way out is refused rather than answered with zeros.
  ds->released.store(before, std::memory_order_release);
  for (const CsvColumn& c : ds->table->columns)
    c.discardFront(before);
  return 0;
}

void dsClose(HostDataSet* data) {
  {
    std::lock_guard<std::mutex> lock(gMutex);
    if (!data || !gOpen.erase(data))
      return;
  }
  data->magic = 0;
  delete data;
}

HostDataSet* dsCreate(const char* name, int32_t length) {
  std::string written = name && length > 0 ? std::string(name, static_cast<size_t>(length)) : "";
  std::string path, display, error;
  if (!resolveDataSet(written, true, &path, &display, &error)) {
    failName(error, written);
    return nullptr;
  }
  auto* ds = new HostDataSet;
  ds->magic = kLiveOutput;
  ds->output = true;
  ds->display = display;
  ds->path = path;
  ds->by.data = ds;
  std::lock_guard<std::mutex> lock(gMutex);
  gOpen.insert(ds);
  return ds;
}

int32_t dsDefvar(HostDataSet* out, const char* name, int32_t length, int32_t type,
                 int32_t varLength) {
  HostDataSet* ds = checkedOutput(out);
  if (!ds || !name || length <= 0 || (type != 1 && type != 2) || ds->outRows > 0)
    return -1;
  std::string n(name, static_cast<size_t>(length));
  while (!n.empty() && n.back() == ' ')
    n.pop_back();
  if (ds->positions.count(nameUpper(n)) != 0) {
    fail(DataMsg::DuplicateOutputVariable, {n.c_str(), ds->display.c_str()});
    return -2;
  }
  describe(ds, n, type == 1, type == 1 ? 8 : std::max(1, varLength));
  ds->outNums.emplace_back();
  ds->outStrs.emplace_back();
  ds->rowNum.push_back(hostMissing());
  ds->rowStr.emplace_back();
  return static_cast<int32_t>(ds->vars.size());
}

// Checks an output's options against its variables once all are defined, so that a name
// they do not hold is found before the data are read; they are applied when it is ended.
int32_t dsDefend(HostDataSet* out) {
  HostDataSet* ds = checkedOutput(out);
  if (!ds)
    return -1;
  OptionView view;
  OptionMisfit misfit;
  if (!ds->outOptions || viewOptions(optionVariables(ds), *ds->outOptions, &view, &misfit))
    return 0;
  reportMisfit(ds, misfit);
  return -2;
}

int32_t dsPutn(HostDataSet* out, int32_t number, double value) {
  HostDataSet* ds = liveOutput(out);
  if (!ds || number < 1 || number > static_cast<int32_t>(ds->vars.size()) ||
      ds->vars[static_cast<size_t>(number - 1)].type != 1)
    return -1;
  ds->rowNum[static_cast<size_t>(number - 1)] = value;
  return 0;
}

int32_t dsPutc(HostDataSet* out, int32_t number, const char* text, int32_t length) {
  HostDataSet* ds = liveOutput(out);
  if (!ds || number < 1 || number > static_cast<int32_t>(ds->vars.size()) ||
      ds->vars[static_cast<size_t>(number - 1)].type != 2 || length < 0 || (!text && length))
    return -1;
  std::string s = text ? std::string(text, static_cast<size_t>(length)) : std::string();
  while (!s.empty() && s.back() == ' ')
    s.pop_back();
  ds->rowStr[static_cast<size_t>(number - 1)] = std::move(s);
  return 0;
}

int32_t dsAppend(HostDataSet* out) {
  HostDataSet* ds = liveOutput(out);
  if (!ds)
    return -1;
  if (int64_t left = gRowsBeforeRefusal.load(); left == 0) {
    ++gRefusedRows;
    return -1;
  } else if (left > 0) {
    gRowsBeforeRefusal.store(left - 1);
  }
  for (size_t i = 0; i < ds->vars.size(); ++i) {
    if (ds->vars[i].type == 1) {
      ds->outNums[i].push_back(ds->rowNum[i]);
      ds->rowNum[i] = hostMissing();
    } else {
      ds->outStrs[i].push_back(std::move(ds->rowStr[i]));
      ds->rowStr[i].clear();
    }
  }
  ++ds->outRows;
  return 0;
}

// Writes the chosen columns and rows (null: all rows) of an output data set to `file`; false
// with `why` set when it fails.
bool writeCsv(const HostDataSet* ds, const OptionView& view, const std::vector<int64_t>* chosen,
              const std::string& file, std::string* why) {
  OutFile f(file);
  for (size_t i = 0; i < view.names.size(); ++i)
    f << (i ? "," : "") << csvField(view.names[i]);
  f << '\n';
  const int64_t n = chosen ? static_cast<int64_t>(chosen->size()) : ds->outRows;
  for (int64_t k = 0; f.good() && k < n; ++k) {
    const auto r = static_cast<size_t>(chosen ? (*chosen)[static_cast<size_t>(k)] : k);
    for (size_t i = 0; i < view.columns.size(); ++i) {
      const auto c = static_cast<size_t>(view.columns[i]);
      if (i)
        f << ',';
      if (ds->vars[c].type == 1)
        f << formatCsvNumber(ds->outNums[c][r]);
      else
        f << csvField(ds->outStrs[c][r]);
    }
    f << '\n';
  }
  return f.finish(why);
}

// The columns and rows an output data set writes under its options; false after a message
// when they do not fit it.
bool outputView(HostDataSet* ds, OptionView* view, std::vector<int64_t>* chosen) {
  if (!ds->outOptions) {
    for (size_t i = 0; i < ds->vars.size(); ++i) {
      view->columns.push_back(static_cast<int>(i));
      view->names.push_back(ds->names[i]);
    }
    return true;
  }
  OptionMisfit misfit;
  if (!viewOptions(optionVariables(ds), *ds->outOptions, view, &misfit)) {
    reportMisfit(ds, misfit);
    return false;
  }
  int64_t r = 0;
  const WhereRow row{
      [&](int c) { return ds->outNums[static_cast<size_t>(c)][static_cast<size_t>(r)]; },
      [&](int c) -> std::string_view {
        return ds->outStrs[static_cast<size_t>(c)][static_cast<size_t>(r)];
      }};
  for (; r < ds->outRows; ++r)
    if (!ds->outOptions->where || whereHolds(*ds->outOptions->where, row))
      chosen->push_back(r);
  return true;
}

// Ends an output data set: stages its file and frees the data set. The file replaces the
// data set when the step ends without error (commitStepOutputs).
void dsVputt(HostDataSet* out) {
  HostDataSet* ds = checkedOutput(out);
  if (!ds)
    return;
  OptionView view;
  std::vector<int64_t> chosen;
  if (!outputView(ds, &view, &chosen)) {
    dsClose(ds);
    return;
  }
  const std::vector<int64_t>* rows = ds->outOptions ? &chosen : nullptr;
  const long long count = rows ? static_cast<long long>(rows->size()) : ds->outRows;
  const int vars = static_cast<int>(view.columns.size());
  StagedOutput staged{ds->path, ds->display, StagedKind::DataSet,
                      [display = ds->display, count, vars] {
                        report(DataMsg::DataSetSize, {display.c_str(), count, vars});
                      }};
  auto write = [&](const std::string& file, std::string* why) {
    return writeCsv(ds, view, rows, file, why);
  };
  if (std::string why; !stageOutput(std::move(staged), write, &why))
    fail(DataMsg::OutputWriteFailed, {ds->display.c_str(), ds->path.c_str(), why.c_str()});
  dsClose(ds);
}

// Reading regardless of BY groups: position before observation `obs` (1-based), then read
// on to the end of the data set. The next xbynext starts its group afresh.
int32_t dsOpnt(HostDataSet* data, int64_t obs) {
  HostDataSet* ds = checkedInput(data);
  if (!ds || obs < 1)
    return -1;
  ds->position = std::min(obs - 1, ds->table->nobs);
  ds->current = -1;
  return 0;
}

int32_t dsOget(HostDataSet* data) {
  HostDataSet* ds = liveInput(data);
  if (!ds)
    return -1;
  if (ds->position >= ds->table->nobs) {
    ds->current = -1;
    return 0;
  }
  ds->current = ds->position++;
  if (!reachObs(ds, ds->current)) {
    ds->current = -1;
    return -1;
  }
  return 1;
}

// ---- BY matching of a second data set ---------------------------------------------------

int32_t byList(HostDataSet* data, HostDataSet* other) {
  HostDataSet* ds = checkedInput(data);
  HostDataSet* os = checkedInput(other);
  if (!ds || !os)
    return 1;
  std::vector<int32_t> vars;
  for (int32_t col : ds->by.vars) {
    const HostVariable& want = ds->vars[static_cast<size_t>(col)];
    int32_t number = 0;
    dsVfind(os, want.name, want.nameLength, &number, 0);
    if (number == 0)
      return 2;
    if (os->vars[static_cast<size_t>(number - 1)].type != want.type)
      return 1;
    vars.push_back(number - 1);
  }
  os->by.vars = vars;
  os->by.descending = ds->by.descending;
  computeGroups(os);
  return 0;
}

// True when `key` holds the BY values of group g of `y`.
bool groupMatches(HostDataSet* y, const ByKey& key, int64_t g) {
  if (!y->groupKeys.empty()) {
    const ByKey& have = y->groupKeys[static_cast<size_t>(g)];
    for (size_t k = 0; k < key.size() && k < have.size(); ++k) {
      const ByValue &u = key[k], &v = have[k];
      const bool mu = u.numeric && isHostMissing(u.num), mv = v.numeric && isHostMissing(v.num);
      if (u.numeric != v.numeric || mu != mv || (!mu && (u.num != v.num || u.text != v.text)))
        return false;
    }
    return true;
  }
  bool ok = true;
  return compareKey(y, key, y->groupStarts[static_cast<size_t>(g)], &ok) == 0 && ok;
}

int32_t bySync(HostByHandle* by, HostDataSet* other) {
  if (!by || !checkedInput(by->data))
    return 1;
  HostDataSet* os = checkedInput(other);
  if (!os)
    return 1;
  HostDataSet* ds = by->data;
  const int64_t groups = static_cast<int64_t>(os->groupStarts.size()) - 1;
  if (os->by.vars.empty() || ds->by.vars.empty()) {
    os->by.groupIndex = 0;
    os->by.begin = 0;
    os->by.end = os->table->nobs;
    os->position = 0;
    os->current = -1;
    return 0;
  }
  ByKey key;
  if (by->begin < by->end && currentGroupKey(ds, &key))
    for (int64_t g = 0; g < groups; ++g) {
      int64_t first = os->groupStarts[static_cast<size_t>(g)];
      if (groupMatches(os, key, g)) {
        os->by.groupIndex = g;
        os->by.begin = first;
        os->by.end = os->groupStarts[static_cast<size_t>(g) + 1];
        os->position = first;
        os->current = -1;
        return 0;
      }
    }
  os->by.begin = os->by.end = os->table->nobs;
  os->position = os->by.begin;
  os->current = -1;
  return 1;
}

int32_t byRwnd(HostDataSet* data, int32_t) {
  HostDataSet* ds = checkedInput(data);
  if (!ds)
    return -1;
  rewindGroups(ds); // the groups stay those of the BY variables set last
  return 0;
}

int32_t dsAllvr(HostDataSet* data) { return checkedAny(data) ? 0 : -1; }
int32_t dsSele(HostDataSet* data) { return checkedAny(data) ? 0 : -1; }

int32_t dsInfo(HostDataSet* data, int32_t item, char* buffer, int32_t capacity) {
  // Item 2 of an output view: the number of rows its filter selects.
  int64_t rows = 0;
  if (item == 2 && outputViewRows(data, &rows))
    return static_cast<int32_t>(std::min<int64_t>(rows, INT32_MAX));
  HostDataSet* ds = checkedAny(data);
  if (!ds)
    return -1;
  if (item == 23)
    return ds->output ? 0 : 1;
  if (item == 81) {
    if (buffer && capacity > 0) {
      size_t n = std::min(ds->display.size(), static_cast<size_t>(capacity - 1));
      std::memcpy(buffer, ds->display.data(), n);
      buffer[n] = '\0';
    }
    return static_cast<int32_t>(ds->display.size());
  }
  return -1;
}

int32_t dsName(HostDataSet* data, char* buffer, int32_t capacity) {
  if (data == nullptr || (data->magic != kLiveInput && data->magic != kLiveOutput))
    return -1;
  int32_t n = static_cast<int32_t>(
      std::min<size_t>(data->display.size(), static_cast<size_t>(std::max(capacity, 0))));
  if (n > 0)
    std::memcpy(buffer, data->display.data(), static_cast<size_t>(n));
  return n;
}

// The written names of an output's columns under its options, made again only when columns
// were defined since; false when the options do not fit the columns.
bool writtenNames(HostDataSet* ds) {
  const auto n = static_cast<int64_t>(ds->vars.size());
  if (ds->writtenFor == n || ds->writtenFor == -n - 1)
    return ds->writtenFor == n;
  OptionView view;
  OptionMisfit misfit;
  ds->writtenPlace.assign(static_cast<size_t>(n), -1);
  if (!viewOptions(optionVariables(ds), *ds->outOptions, &view, &misfit)) {
    ds->writtenFor = -n - 1;
    return false;
  }
  for (size_t k = 0; k < view.columns.size(); ++k)
    ds->writtenPlace[static_cast<size_t>(view.columns[k])] = static_cast<int>(k);
  ds->writtenNames = std::move(view.names);
  ds->writtenFor = n;
  return true;
}

int32_t dsOutName(HostDataSet* out, int32_t number, char* buffer, int32_t capacity) {
  HostDataSet* ds = checkedOutput(out);
  if (!ds || number < 1 || number > static_cast<int32_t>(ds->vars.size()))
    return -1;
  const std::string* name = &ds->names[static_cast<size_t>(number - 1)];
  if (ds->outOptions) {
    if (!writtenNames(ds))
      return -1;
    const int place = ds->writtenPlace[static_cast<size_t>(number - 1)];
    if (place < 0)
      return 0;
    name = &ds->writtenNames[static_cast<size_t>(place)];
  }
  const auto n = static_cast<int32_t>(
      std::min<size_t>(name->size(), static_cast<size_t>(std::max(capacity, 0))));
  if (n > 0)
    std::memcpy(buffer, name->data(), static_cast<size_t>(n));
  return n;
}

} // namespace

HostDataSetServices* dataSetServices() {
  static HostDataSetServices s = [] {
    HostDataSetServices v{};
    v.xbynext = byNext;
    v.xvputt = dsVputt;
    v.xvfind = dsVfind;
    v.xvname = dsVname;
    v.xffile = dsFfile;
    v.xdsopen = dsOpen;
    v.xdsnvar = dsNvar;
    v.xdsnobs = dsNobs;
    v.xdsby = dsBy;
    v.xbyset = bySet;
    v.xbyrewind = byRewind;
    v.xbyline = byLine;
    v.xobsnext = obsNext;
    v.xobsnum = obsNum;
    v.xobschar = obsChar;
    v.xdsclose = dsClose;
    v.xdscreate = dsCreate;
    v.xdsdefvar = dsDefvar;
    v.xdsputn = dsPutn;
    v.xdsputc = dsPutc;
    v.xdsappend = dsAppend;
    v.xopnt = dsOpnt;
    v.xoget = dsOget;
    v.xdsname = dsName;
    v.xbylist = byList;
    v.xbysync = bySync;
    v.xbyrwnd = byRwnd;
    v.xvallvr = dsAllvr;
    v.xvsele = dsSele;
    v.xoinfo = dsInfo;
    v.xobsspan = obsSpan;
    v.xobsskip = obsSkip;
    v.xobsdone = obsDone;
    v.xdsdefend = dsDefend;
    v.xdsoutname = dsOutName;
    installReadVectorServices(&v);
    return v;
  }();
  return &s;
}

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
  gLibs[asciiUpper(name)] = dir;
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
  std::string w = written;
  while (!w.empty() && (w.back() == ' ' || w.back() == '\t'))
    w.pop_back();
  while (!w.empty() && (w.front() == ' ' || w.front() == '\t'))
    w.erase(w.begin());
  if (w.size() >= 2 && (w.front() == '\'' || w.front() == '"') && w.back() == w.front()) {
    std::string p = w.substr(1, w.size() - 2);
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
  std::string maker =
      by.option.empty() ? "the default output data set" : asciiUpper(by.option) + "=";
  maker += " of the " + asciiUpper(by.statement) + " statement";
  if (by.line > 0)
    maker += " at line " + std::to_string(by.line);
  std::error_code ec;
  fs::path full = fs::absolute(path, ec);
  full = fs::weakly_canonical(ec ? fs::path(path) : full, ec).lexically_normal();
  std::string first;
  {
    std::lock_guard<std::mutex> lock(gMutex);
    auto [it, added] = gClaims.emplace(full.string(), maker);
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

CsvRows* inputRows(HostDataSet* data, int64_t* current) {
  HostDataSet* ds = liveInput(data);
  if (!ds)
    return nullptr;
  *current = ds->current;
  return ds->current >= ds->released.load(std::memory_order_acquire) ? ds->rows.get() : nullptr;
}

void describeLookedUpVariable(HostDataSet* data, int32_t number) {
  HostDataSet* ds = liveInput(data);
  if (!ds || !ds->table || number < 1 || static_cast<size_t>(number) > ds->table->columns.size() ||
      ds->released.load(std::memory_order_acquire) > 0)
    return;
  const auto k = static_cast<size_t>(number - 1);
  if (ds->described.size() <= k)
    ds->described.resize(ds->table->columns.size());
  if (ds->described[k])
    return;
  ds->described[k] = true;
  const std::string& name = ds->table->columns[k].name;
  int64_t obs = 0;
  std::string text;
  if (columnHasNoValues(*ds->table, k)) {
    report(DataMsg::VariableAllMissing, {name.c_str(), ds->display.c_str()});
  } else if (firstTextAmongNumbers(*ds->table, k, &obs, &text)) {
    const int64_t line = obs < static_cast<int64_t>(ds->table->lines.size())
                             ? ds->table->lines[static_cast<size_t>(obs)]
                             : obs + 2;
    report(DataMsg::TextAmongNumbers,
           {name.c_str(), ds->display.c_str(), static_cast<int>(line), text.c_str()});
  }
}

bool blockReadable(HostDataSet* data, int64_t obs) {
  HostDataSet* ds = liveInput(data);
  return ds != nullptr && releasedRead(ds, obs);
}

bool withBlockRows(HostDataSet* data, const std::function<void(CsvRows&)>& use) {
  HostDataSet* ds = liveInput(data);
  if (!ds)
    return false;
  if (!ds->table->windowed()) {
    // Held whole: reaching an observation changes nothing, so readers share the handle's.
    use(*ds->rows);
    return true;
  }
  std::lock_guard<std::mutex> lock(ds->blockMutex);
  if (!ds->blockRows)
    ds->blockRows = std::make_unique<CsvRows>(ds->table);
  use(*ds->blockRows);
  if (ds->blockRows->changed())
    reportChange(ds);
  return true;
}

int openDataSetCount() {
  std::lock_guard<std::mutex> lock(gMutex);
  return static_cast<int>(gOpen.size());
}

int parsedCopyCount() {
  std::lock_guard<std::mutex> lock(gMutex);
  return static_cast<int>(gCopies.size());
}

void commitStepOutputs(bool stepSucceeded) {
  const std::vector<std::string> placed = commitStagedOutputs(stepSucceeded);
  std::lock_guard<std::mutex> lock(gMutex);
  std::error_code ec;
  for (const std::string& path : placed)
    gCopies.erase(fs::weakly_canonical(path, ec).string());
}

void refuseOutputRowsAfter(int64_t rows) {
  gRowsBeforeRefusal.store(rows < 0 ? -1 : rows);
  gRefusedRows.store(0);
}

int64_t refusedOutputRows() { return gRefusedRows.load(); }

void endStepDataSets() {
  ProgressLine::instance().finish();
  commitStepOutputs(false);
  std::set<HostDataSet*> open;
  {
    std::lock_guard<std::mutex> lock(gMutex);
    open.swap(gOpen);
    gCopies.clear();
    gClaims.clear();
  }
  for (HostDataSet* ds : open) {
    ds->magic = 0;
    delete ds;
  }
}

} // namespace qrxhost
