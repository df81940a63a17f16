// Input data sets as CSV files: opening by name, variable descriptions and sequential reads.
// An input is parsed once per step into a binary copy shared by every handle on the same
// file. BY groups are dsby.cpp's, output data sets dsoutput.cpp's, libraries and names
// dslibrary.cpp's; the service table gathers them all.
#include "host/data/dataset.h"
#include "host/data/dsby.h"
#include "host/data/dsoutput.h"
#include "host/data/dsstate.h"
#include "host/data/readvec.h"
#include "host/data/staging.h"
#include "host/ext/qkmemfig.h"
#include "host/hostapi.h"
#include "host/hostlog.h"
#include "host/kernel.h"
#include "host/output/rvqoutput.h"
#include "host/progress.h"
#include "host/supervisor.h"
#include "host/textcase.h"
#include "host/utf8text.h"
#include "support/stepcodes.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace qrxhost {

using namespace dsservice;

namespace {

std::map<std::string, std::shared_ptr<const CsvTable>> gCopies; // canonical path -> copy

} // namespace

namespace dsservice {

std::mutex gMutex;
std::set<HostDataSet*> gOpen;

// Logs a message of the data-set services.
void report(DataMsg number, std::initializer_list<HostMsgArg> args) {
  logMessage(kDataMsgSet, static_cast<int>(number), args.begin(), static_cast<int>(args.size()));
}

// Logs an error and raises the step's return code.
void fail(DataMsg number, std::initializer_list<HostMsgArg> args) {
  report(number, args);
  raiseStepReturnCode(StepRc::Error);
}

// A data set name that does not resolve: an unassigned library ("library:NAME"), else a
// name that is not valid.
void failName(const std::string& error, const std::string& written) {
  if (error.rfind("library:", 0) == 0)
    fail(DataMsg::LibraryNotAssigned, {error.c_str() + 8});
  else
    fail(DataMsg::BadDataSetName, {written.c_str()});
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
HostDataSet* checkedAny(HostDataSet* ds) {
  std::lock_guard<std::mutex> lock(gMutex);
  return ds && gOpen.count(ds) ? ds : nullptr;
}

void reportChange(HostDataSet* ds) {
  if (!ds->changeLogged) {
    ds->changeLogged = true;
    fail(DataMsg::FileUnreadable, {ds->path.c_str(), windowFailure(*ds->table).c_str()});
  }
}

void endStepOnUnreadRows(HostDataSet* ds) {
  reportChange(ds);
  throw HostExit{codeOf(StepRc::Error)};
}

} // namespace dsservice

namespace {

// What a file that is not a regular file is, in the words of a message.
const char* fileKind(fs::file_type type) {
  switch (type) {
  case fs::file_type::character:
    return "a character device";
  case fs::file_type::block:
    return "a block device";
  case fs::file_type::fifo:
    return "a named pipe (FIFO)";
  case fs::file_type::socket:
    return "a socket";
  default:
    return "a special file";
  }
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
  const fs::file_status status = fs::status(path, ec);
  if (status.type() == fs::file_type::not_found || status.type() == fs::file_type::none) {
    fail(DataMsg::DataSetNotFound, {display.c_str(), path.c_str()});
    return nullptr;
  }
  if (status.type() != fs::file_type::regular) {
    std::string where = path;
    if (fs::is_symlink(path, ec))
      where += " (a link to " + fs::weakly_canonical(path, ec).string() + ")";
    fail(DataMsg::DataSetNotRegularFile, {display.c_str(), where.c_str(), fileKind(status.type())});
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

} // namespace

namespace dsservice {

// The variables of a data set as its options see them.
std::vector<OptionVariable> optionVariables(const HostDataSet* ds) {
  std::vector<OptionVariable> vars;
  for (size_t i = 0; i < ds->vars.size(); ++i)
    vars.push_back({ds->names[i], ds->vars[i].type == 1});
  return vars;
}

// Logs why a data set's options do not fit it and raises the step's return code.
void reportMisfit(const HostDataSet* ds, const OptionMisfit& m) {
  if (ds->misfitLogged) {
    raiseStepReturnCode(StepRc::Error);
    return;
  }
  ds->misfitLogged = true;
  fail(DataMsg::BadDataSetOption, {m.at.line, m.at.column, m.at.text.c_str(), m.option.c_str(),
                                   m.why.c_str(), ds->display.c_str()});
}

} // namespace dsservice

namespace {

// The observations of an input that its options choose (0-based): those satisfying WHERE=,
// and among them the FIRSTOBS=-th up to the OBS=-th; *satisfied counts those WHERE= keeps
// (up to OBS=). False after a message when the file changed while it was read.
bool chosenRows(HostDataSet* ds, const DataSetOptions& o, std::vector<int64_t>* out,
                int64_t* satisfied) {
  assert(o.firstObs >= 1 && "FIRSTOBS= is read as a whole number from 1");
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
  assert((o.obs < 0 || std::ssize(*out) <= std::max<int64_t>(o.obs - o.firstObs + 1, 0)) &&
         "the rows from FIRSTOBS= to OBS= at most");
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
    assert(obs >= 0 && obs < ds->table->nobs && (k == 0 || obs > chosen[k - 1]) &&
           "chosen rows rise within the data set");
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

} // namespace

namespace dsservice {

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

} // namespace dsservice

namespace {

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

} // namespace

namespace dsservice {

void dsClose(HostDataSet* data) {
  {
    std::lock_guard<std::mutex> lock(gMutex);
    if (!data || !gOpen.erase(data))
      return;
  }
  data->magic = 0;
  delete data;
}

} // namespace dsservice

namespace {

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
           {name.c_str(), ds->display.c_str(), static_cast<int>(line), visibleText(text).c_str()});
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
  // Each read has a reader of its own, so that reads on several threads copy their values at
  // once; the windows they reach are parsed once for all of them.
  CsvWindowCache* windows = nullptr;
  {
    std::lock_guard<std::mutex> lock(ds->blockMutex);
    if (!ds->blockWindows)
      ds->blockWindows = std::make_unique<CsvWindowCache>(ds->table);
    windows = ds->blockWindows.get();
  }
  CsvRows rows(ds->table, windows);
  use(rows);
  if (rows.changed()) {
    std::lock_guard<std::mutex> lock(ds->blockMutex);
    reportChange(ds);
  }
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

namespace {

// After a failed step: a note for each output the step named but never came to write (its
// fit ended first), as the staged ones get theirs, saying the file there is unchanged or
// that none was made.
void reportUnstagedClaims() {
  std::set<std::string> staged;
  for (const std::string& path : stagedTargets())
    staged.insert(claimKey(path));
  std::vector<std::string> unstaged;
  {
    std::lock_guard<std::mutex> lock(gMutex);
    for (const auto& [path, maker] : gClaims)
      if (staged.count(path) == 0)
        unstaged.push_back(path);
  }
  std::error_code ec;
  for (const std::string& path : unstaged)
    report(fs::exists(path, ec) ? DataMsg::FileKept : DataMsg::FileSkipped, {path.c_str()});
}

} // namespace

void commitStepOutputs(bool stepSucceeded) {
  if (!stepSucceeded)
    reportUnstagedClaims();
  const std::vector<std::string> placed = commitStagedOutputs(stepSucceeded);
  std::lock_guard<std::mutex> lock(gMutex);
  gClaims.clear(); // told once, at the step's end
  std::error_code ec;
  for (const std::string& path : placed)
    gCopies.erase(fs::weakly_canonical(path, ec).string());
}

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
