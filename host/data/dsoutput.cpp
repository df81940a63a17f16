// Output data sets: creating one, defining its variables, collecting its rows and staging
// its file when it is ended (xvputt). Declared for the service table of dataset.cpp; putting
// the staged files in place at the end of the step is staging.cpp's.
#include "host/data/dsoutput.h"
#include "host/data/dataset.h"
#include "host/data/outfile.h"
#include "host/data/serviceresult.h"
#include "host/data/staging.h"
#include "host/pools.h"
#include "host/seams.h"
#include "host/utf8text.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace qrxhost {
namespace dsservice {

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
    return codeOf(ServiceResult::DuplicateOutputVariable);
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
  return codeOf(ServiceResult::OptionMisfit);
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

namespace {

// The bytes an output's columns hold.
size_t heldBytes(const HostDataSet& ds) {
  size_t bytes = 0;
  for (const auto& c : ds.outNums)
    bytes += c.capacity() * sizeof(double);
  for (const auto& c : ds.outStrs) {
    bytes += c.capacity() * sizeof(std::string);
    for (const std::string& s : c)
      bytes += s.capacity() > 15 ? s.capacity() : 0;
  }
  return bytes;
}

// Makes room in every column for one more row: false, with nothing changed and the message
// naming the output, its row and the memory asked for, when the memory is not to be had (an
// output data set is held in memory until its step ends).
bool roomForRow(HostDataSet* ds) {
  size_t asked = 0;
  try {
    for (auto& c : ds->outNums)
      if (c.size() == c.capacity()) {
        asked = std::max<size_t>(2 * c.capacity(), 64) * sizeof(double);
        c.reserve(asked / sizeof(double));
      }
    for (auto& c : ds->outStrs)
      if (c.size() == c.capacity()) {
        asked = std::max<size_t>(2 * c.capacity(), 64) * sizeof(std::string);
        c.reserve(asked / sizeof(std::string));
      }
  } catch (const std::bad_alloc&) {
    const std::string held = memorySizeText(heldBytes(*ds)), more = memorySizeText(asked),
                      limit = addressLimitText();
    report(DataMsg::OutputRowNoMemory,
           {ds->display.c_str(), ds->outRows + 1, held.c_str(), more.c_str(), limit.c_str()});
    return false;
  }
  return true;
}

} // namespace

int32_t dsAppend(HostDataSet* out) {
  HostDataSet* ds = liveOutput(out);
  if (!ds)
    return -1;
  if (seam::refuseOutputRow() || !roomForRow(ds))
    return -1;
  assert(ds->rowNum.size() == ds->vars.size() && ds->outNums.size() == ds->vars.size() &&
         "one row slot and one column per variable");
  for (size_t i = 0; i < ds->vars.size(); ++i) {
    if (ds->vars[i].type == 1) {
      assert(std::ssize(ds->outNums[i]) == ds->outRows && "a value per row taken");
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

namespace {

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
    assert(std::cmp_less(r, ds->outRows) && "a row the output took");
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

} // namespace

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

namespace {

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

} // namespace

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

} // namespace dsservice

} // namespace qrxhost
