// The BY groups of an input data set: finding them in one pass, stepping through them and
// matching the groups of a second data set. Declared for the service table of dataset.cpp;
// the reads within a group are dataset.cpp's.
#include "host/data/dsby.h"
#include "host/data/serviceresult.h"
#include "host/progress.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace qrxhost::dsservice {
namespace {

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

} // namespace

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

namespace {

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

// The BY values of observation `obs` as NAME=value pairs, for a message.
std::string keyText(HostDataSet* ds, int64_t obs) {
  ByKey key;
  if (!keyOf(ds, obs, &key))
    return "?";
  std::string text;
  for (size_t k = 0; k < key.size(); ++k)
    text.append(k ? " " : "")
        .append(ds->names[static_cast<size_t>(ds->by.vars[k])])
        .append("=")
        .append(valueText(key[k]));
  return text;
}

} // namespace

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
      return codeOf(ServiceResult::DuplicateByVariable);
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
    const std::string before = keyText(ds, i - 1), after = keyText(ds, i);
    fail(DataMsg::NotSortedByGroups,
         {ds->display.c_str(), list.c_str(), ds->table->lines[static_cast<size_t>(i - 1)],
          ds->table->lines[static_cast<size_t>(i)], before.c_str(), after.c_str()});
    ds->by.vars.clear();
    ds->by.descending.clear();
    computeGroups(ds);
    return codeOf(ServiceResult::NotSortedByGroups);
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

namespace {

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

} // namespace

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

} // namespace qrxhost::dsservice
