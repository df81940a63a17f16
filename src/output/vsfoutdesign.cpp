// The OUTDESIGN data set. Without BY variables the columns are defined after the fit and the
// rows are written in a pass of their own over the group. With BY variables the selected
// models differ from group to group: each group's rows (role and design values) are kept,
// and after the BY loop the data set gets as many design columns as the largest group
// selected, a group with fewer getting missing values in the rest. A group that was
// skipped (its levelisation failed) gets missing design values throughout.
#include "output/vsfoutdesign.h"

#include "data/vsfdata.h"
#include "design/levnames.h"
#include "design/levreg.h"
#include "design/levrow.h"
#include "numerics/zranuni.h"
#include "output/vsfcontext.h"
#include "output/vsfoutput.h"
#include "output/vsfprinters.h"
#include "output/vsfselrow.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/nomemory.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>

namespace {

// One BY group's rows kept for the data set written after the loop.
struct DesignGroup {
  bool skipped = false;
  int32_t columns = 0;
  std::vector<uint8_t> roles; // per row: 0 none, 1 TRAIN, 2 VALIDATE, 3 TEST
  std::vector<double> values; // per row: `columns` design values
};

} // namespace

// The run's OUTDESIGN state (in the main pool, found through the results state).
struct VsfDesignOutput {
  bool defined = false;
  int32_t columnCount = 0;                // design columns of the data set
  std::vector<int32_t> vars;              // OUTDESIGN variable of each (<= 0: not defined)
  std::vector<std::string> names;         // the name each was given
  std::vector<int32_t> inputIn, inputOut; // input variables copied, and their output numbers
  std::vector<uint8_t> inputNumeric;
  int32_t role = 0, by = 0;
  int32_t acrossMax = 0;
  // The current group's columns: the design column of each, the parameter's short name and
  // label, and whether it holds a selected or forced effect (not the intercept).
  std::vector<int32_t> groupColumns;
  std::vector<std::string> groupNames, groupLabels;
  std::vector<uint8_t> groupListed;
  std::vector<DesignGroup> groups;
};

namespace {

VsfDesignOutput* designState(VsfContext* ctx) {
  VsfDesignOutput*& st = ctx->results.designOutput;
  if (st == nullptr)
    st = poolNew<VsfDesignOutput>(ctx->mainPool);
  return st;
}

[[nodiscard]] bool byVariables(const VsfContext* ctx) { return ctx->stmt.proc.byCount > 0; }

// PREFIX= text, or "_X" when none is given.
std::string prefixText(const VsfContext* ctx) {
  const VsfProcSettings& p = ctx->stmt.proc;
  if (p.outDesignPrefix != nullptr && p.outDesignPrefixLength > 0)
    return std::string(p.outDesignPrefix, static_cast<size_t>(p.outDesignPrefixLength));
  return "_X";
}

// The group's design columns, in output order: the selected parameters in selected-effect
// order, or with FULLMODEL every column (the intercept's not under NOINT); and for each
// whether it belongs to a selected or forced effect (the intercept is parameter 0).
void groupDesignColumns(const VsfContext* ctx, const VsfModel* m, VsfDesignOutput* st) {
  const LevDesign* d = ctx->design.design;
  st->groupColumns.clear();
  st->groupListed.clear();
  if (d == nullptr || vsfFitFailed(m->fitStatus))
    return;
  VsfSelectedModel sm;
  vsfSelectedModelOf(ctx, m, &sm);
  std::vector<uint8_t> listed(static_cast<size_t>(std::max(d->columnCount, 1)), 0);
  for (size_t i = 0; i < sm.columns.size(); ++i)
    if (sm.parms[i] != 0 && sm.columns[i] >= 0 && sm.columns[i] < d->columnCount)
      listed[size_t(sm.columns[i])] = 1;
  if (ctx->stmt.proc.outDesignFull) {
    for (int32_t c = ctx->options.noint ? 1 : 0; c < d->columnCount; ++c)
      st->groupColumns.push_back(c);
  } else {
    st->groupColumns = sm.columns;
  }
  for (int32_t c : st->groupColumns)
    st->groupListed.push_back(c >= 0 && c < d->columnCount ? listed[size_t(c)] : 0);
}

// The short name and label of each of the group's columns: the parameter names of the
// selected model's tables (a split effect's columns bear its split name), or the design's
// own names under PARMLABELSTYLE=INTERLACED and SHORTPARMNAMES.
[[nodiscard]] VsfStatus groupColumnNames(VsfContext* ctx, VsfDesignOutput* st) {
  const LevDesign* d = ctx->design.design;
  st->groupNames.clear();
  st->groupLabels.clear();
  if (d == nullptr || st->groupColumns.empty())
    return VsfStatus::Ok;
  if (VsfStatus rc = vsfParmLabels(ctx, &ctx->model, 0); rc != VsfStatus::Ok)
    return rc;
  VsfResultsState& r = ctx->results;
  auto text = [](char** texts, int32_t count, int32_t c) {
    return texts != nullptr && c >= 0 && c < count && texts[c] != nullptr ? std::string(texts[c])
                                                                          : std::string();
  };
  const bool own = d->shortParmNames || r.designShortNames == nullptr;
  for (int32_t c : st->groupColumns) {
    std::string name = own ? text(d->columnNames, d->columnCount, c)
                           : text(r.designShortNames, r.designLabelCount, c);
    std::string label = r.designLabels != nullptr ? text(r.designLabels, r.designLabelCount, c)
                                                  : text(d->columnLabels, d->columnCount, c);
    st->groupNames.push_back(std::move(name));
    st->groupLabels.push_back(std::move(label));
  }
  // The texts live in the group's pools: nothing may read them after the group.
  r.designLabels = r.designShortNames = nullptr;
  r.designLabelCount = 0;
  return VsfStatus::Ok;
}

std::string upperCase(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// `name` made unique (without regard to case) against `taken` by a numeric suffix, within
// 32 characters; the result is added to `taken`.
std::string uniqueName(std::string name, std::set<std::string>* taken) {
  name = name.substr(0, 32);
  std::string candidate = name;
  for (int32_t i = 2; taken->count(upperCase(candidate)) != 0; ++i) {
    std::string suffix = "_";
    suffix += std::to_string(i);
    candidate = name.substr(0, 32 - suffix.size()) + suffix;
  }
  taken->insert(upperCase(candidate));
  return candidate;
}

// The input variables that follow the design columns: all of DATA= with ADDINPUTVARS, else
// the BY variables and the response.
std::vector<int32_t> inputVariables(const VsfContext* ctx) {
  std::vector<int32_t> numbers;
  if (ctx->stmt.proc.outDesignAddInput) {
    for (int32_t i = 1; i <= xdsnvar(ctx->data); ++i)
      numbers.push_back(i);
    return numbers;
  }
  for (int32_t b = 0; b < ctx->stmt.proc.byCount; ++b)
    numbers.push_back(ctx->stmt.proc.byNumbers[b]);
  if (ctx->stmt.responseCount > 0 && ctx->stmt.responses[0] != nullptr)
    numbers.push_back(ctx->stmt.responses[0]->number);
  return numbers;
}

// The names of the n design columns: by the prefix (PREFIX, or BY variables, where a column
// holds different parameters in different groups) or after the parameters. Empty after
// a message when prefix and number would exceed 32 bytes.
std::vector<std::string> designNames(VsfContext* ctx, int32_t n, std::set<std::string>* taken) {
  const VsfProcSettings& p = ctx->stmt.proc;
  const VsfDesignOutput* st = ctx->results.designOutput;
  const bool prefixed = !p.outDesignDefaultPrefix || byVariables(ctx);
  const std::string prefix = prefixText(ctx);
  std::vector<std::string> names;
  if (prefixed && n > 0 && prefix.size() + std::to_string(n).size() > 32) {
    vsfLog(VsfMsg::OutdesignPrefixTooLong,
           {HostMsgArg(prefix.data(), static_cast<int32_t>(prefix.size())), n});
    vsfRaiseRC(ctx, StepRc::Error);
    return names;
  }
  for (int32_t k = 0; k < n; ++k) {
    std::string name = prefix + std::to_string(k + 1);
    if (!prefixed && k < static_cast<int32_t>(st->groupNames.size()) &&
        !st->groupNames[size_t(k)].empty())
      name = st->groupNames[size_t(k)];
    names.push_back(uniqueName(name, taken));
  }
  return names;
}

// Defines the columns: n design columns, the input variables, _ROLE_ and _BY_.
[[nodiscard]] VsfStatus prepDesign(VsfContext* ctx, VsfDesignOutput* st, int32_t n) {
  HostDataSet* out = ctx->stmt.proc.outDesign;
  if (out == nullptr || st->defined)
    return VsfStatus::Ok;
  const double start = zdattim();
  st->inputIn = inputVariables(ctx);
  std::set<std::string> taken;
  for (int32_t number : st->inputIn)
    taken.insert(upperCase(vsfDataSetVariableName(ctx->data, number)));
  const bool roles = vsfRolesWritten(ctx);
  for (const char* fixed : {"_ROLE_", "_BY_"})
    taken.insert(fixed);
  st->names = designNames(ctx, n, &taken);
  if (static_cast<int32_t>(st->names.size()) != n)
    return VsfStatus::DesignNamesFailed;
  st->columnCount = n;
  for (const std::string& name : st->names)
    st->vars.push_back(xdsdefvar(out, name.data(), static_cast<int32_t>(name.size()), 1, 8));
  for (int32_t number : st->inputIn) {
    const HostVariable* v = vsfCopiedVariable(ctx->data, number);
    if (v == nullptr)
      return VsfStatus::ReportedFailure;
    st->inputOut.push_back(xdsdefvar(out, v->name, v->nameLength, v->type, v->length));
    st->inputNumeric.push_back(v->type == 1);
  }
  if (roles)
    st->role = xdsdefvar(out, "_ROLE_", 6, 2, 8);
  if (byVariables(ctx))
    st->by = xdsdefvar(out, "_BY_", 4, 1, 8);
  // The columns follow the fit: its options are checked against them as soon as they stand.
  if (xdsdefend(out) != 0)
    return VsfStatus::ReportedFailure;
  st->defined = true;
  ctx->outputTime += zdattim() - start;
  return VsfStatus::Ok;
}

// The role of a row that may get one, drawn or matched as the OUTPUT rows draw it (the
// fold of a TRAIN row is drawn too, so that both data sets show the same roles).
uint8_t rowRole(VsfContext* ctx, HostDataSet* in, bool roleColumn, int64_t* rng,
                VsfRoleFoldCursor& cursor) {
  const VsfRoleFoldRule rule = vsfOutputRoleFoldRule(ctx);
  uint8_t role = roleColumn ? 0 : 1;
  if (rule.drawRoles)
    role = static_cast<uint8_t>(vsfRoleIndex(vsfDrawRole(rule, rng)));
  else if (ctx->stmt.partition.roleVar > 0)
    role = static_cast<uint8_t>(vsfRoleVarCode(ctx, in));
  if (role == 1 && rule.cvMethod != VsfCvMethod::None)
    (void)vsfTrainFold(rule, cursor, rng, 0, -1);
  return role;
}

// Writes one row: design values (missing past `columns` or when `values` is null), the
// current observation's input values, the role and the BY number.
[[nodiscard]] VsfStatus writeRow(VsfContext* ctx, const VsfDesignOutput* st, HostDataSet* in,
                                 uint8_t role, const double* values, int32_t columns) {
  HostDataSet* out = ctx->stmt.proc.outDesign;
  for (int32_t k = 0; k < st->columnCount; ++k)
    if (st->vars[size_t(k)] > 0)
      xdsputn(out, st->vars[size_t(k)],
              values != nullptr && k < columns ? values[k] : hostMissing());
  for (size_t i = 0; i < st->inputIn.size(); ++i) {
    if (st->inputOut[i] <= 0)
      continue;
    if (st->inputNumeric[i]) {
      xdsputn(out, st->inputOut[i], xobsnum(in, st->inputIn[i]));
    } else {
      const char* text = nullptr;
      const int32_t n = xobschar(in, st->inputIn[i], &text);
      xdsputc(out, st->inputOut[i], text, n);
    }
  }
  if (st->role > 0) {
    static const char* names[] = {"", "TRAIN", "VALIDATE", "TEST"};
    char text[8];
    std::memset(text, ' ', 8);
    std::memcpy(text, names[role], std::strlen(names[role]));
    xdsputc(out, st->role, text, 8);
  }
  if (st->by > 0)
    xdsputn(out, st->by, static_cast<double>(st->groups.size()));
  return vsfAppendRow(out);
}

} // namespace

VsfStatus vsfPrepareOutputAndDesign(VsfContext* ctx) {
  ctx->parameterNamesPresent = 0;
  if (!ctx->options.hasOutDesign)
    return VsfStatus::Ok;
  VsfDesignOutput* st = designState(ctx);
  if (st == nullptr)
    return VsfStatus::NoMemory;
  LevDesign* d = ctx->design.design;
  if (ctx->model.fitStatus == VsfFitStatus::Done && d != nullptr && d->columnNames == nullptr)
    zlevParmName(&ctx->design, 0, nullptr);
  groupDesignColumns(ctx, &ctx->model, st);
  if (VsfStatus rc = groupColumnNames(ctx, st); rc != VsfStatus::Ok)
    return rc;
  const int32_t n = static_cast<int32_t>(st->groupColumns.size());
  ctx->parameterNamesPresent = n;
  if (byVariables(ctx)) {
    st->acrossMax = std::max(st->acrossMax, n);
    return VsfStatus::Ok;
  }
  if (ctx->model.fitStatus == VsfFitStatus::NoTrain)
    return VsfStatus::Ok;
  return prepDesign(ctx, st, n);
}

VsfStatus vsfDesignBy(VsfContext* ctx, VsfModel* m, int64_t seed) {
  VsfDesignOutput* st = ctx->results.designOutput;
  if (!ctx->options.hasOutDesign || st == nullptr)
    return VsfStatus::Ok;
  const bool kept = byVariables(ctx);
  if (!kept && !st->defined)
    return VsfStatus::Ok;
  const double start = zdattim();
  LevRegContext* dc = &ctx->design;
  LevDesign* d = dc->design;
  HostDataSet* in = dc->library != nullptr ? dc->library->data : ctx->data;
  VsfSelectedModel sm;
  vsfSelectedModelOf(ctx, m, &sm);
  const bool full = ctx->stmt.proc.outDesignFull != 0;
  const int32_t n = static_cast<int32_t>(st->groupColumns.size());
  std::vector<double> row(static_cast<size_t>(std::max(d != nullptr ? d->columnCount : 0, 1)));
  std::vector<double> values(static_cast<size_t>(std::max(n, 1)));
  DesignGroup group;
  group.columns = n;
  const bool roleColumn = vsfRolesWritten(ctx);
  int64_t rng = seed;
  VsfRoleFoldCursor cursor;
  if (zlevGetInit(dc) == VsfStatus::Ok) {
    while (zlevGetNext(dc) == 1) {
      double y = hostMissing(), w = 1, f = 1;
      const LevRowStatusSet s = zlevrgd(dc, &y, &w, &f);
      const bool bad = vsfRowWeightBad(dc, s, &w, &f);
      bool predictable = vsfRowPredictable(&sm, dc, s);
      if (full && s.any(LevRowStatus::Explanatory | LevRowStatus::Computed))
        predictable = false;
      uint8_t role = roleColumn ? 0 : 1;
      if (predictable) {
        if (full)
          zlevrgx(dc, dc->numeric, dc->levelIndex, row.data());
        else
          vsfModelRgx(ctx, m, dc, row.data());
        for (int32_t k = 0; k < n; ++k)
          values[size_t(k)] = row[size_t(st->groupColumns[size_t(k)])];
        if (!s.any(LevRowStatus::Response | LevRowStatus::Explanatory) && !bad)
          role = rowRole(ctx, in, roleColumn, &rng, cursor);
      } else {
        std::fill(values.begin(), values.end(), hostMissing());
      }
      if (kept) {
        group.roles.push_back(role);
        group.values.insert(group.values.end(), values.begin(), values.begin() + n);
      } else if (VsfStatus rc = writeRow(ctx, st, in, role, values.data(), n);
                 rc != VsfStatus::Ok) {
        return rc;
      }
    }
  }
  if (kept)
    st->groups.push_back(std::move(group));
  ctx->outputTime += zdattim() - start;
  return VsfStatus::Ok;
}

void vsfDesignSkippedGroup(VsfContext* ctx) {
  if (!ctx->options.hasOutDesign || !byVariables(ctx))
    return;
  VsfDesignOutput* st = designState(ctx);
  if (st == nullptr)
    return;
  DesignGroup group;
  group.skipped = true;
  st->groups.push_back(std::move(group));
}

VsfStatus vsfAcrossByDesign(VsfContext* ctx) {
  VsfDesignOutput* st = ctx->results.designOutput;
  if (!ctx->options.hasOutDesign || !byVariables(ctx) || st == nullptr)
    return VsfStatus::Ok;
  st->groupColumns.clear();
  st->groupNames.clear();
  st->groupListed.clear();
  if (VsfStatus rc = prepDesign(ctx, st, st->acrossMax); rc != VsfStatus::Ok)
    return rc;
  const double start = zdattim();
  std::vector<DesignGroup> groups = std::move(st->groups);
  st->groups.clear();
  HostDataSet* in = ctx->data;
  // Rewinding an open input cannot fail; a closed one fails the reads that follow.
  (void)xbyrwnd(in, 70);
  for (DesignGroup& g : groups) {
    if (xbynext(ctx->byHandle) == 0)
      break;
    st->groups.emplace_back(); // the BY number of the rows is the count of groups so far
    size_t row = 0;
    while (xobsnext(in) == 1) {
      const bool have = !g.skipped && row < g.roles.size();
      const uint8_t role = have ? g.roles[row] : 0;
      const double* values = have ? g.values.data() + row * size_t(g.columns) : nullptr;
      if (VsfStatus rc = writeRow(ctx, st, in, role, values, g.columns); rc != VsfStatus::Ok)
        return rc;
      ++row;
    }
  }
  ctx->outputTime += zdattim() - start;
  return VsfStatus::Ok;
}

void vsfFinishDesign(VsfContext* ctx) {
  VsfDesignOutput* st = ctx->results.designOutput;
  if (st != nullptr && st->defined && ctx->stmt.proc.outDesign != nullptr)
    xvputt(ctx->stmt.proc.outDesign);
}

std::vector<VsfDesignColumn> vsfDesignColumns(const VsfContext* ctx) {
  std::vector<VsfDesignColumn> out;
  const VsfDesignOutput* st = ctx->results.designOutput;
  if (st == nullptr)
    return out;
  for (size_t k = 0; k < st->groupColumns.size(); ++k) {
    VsfDesignColumn col;
    col.shortName = k < st->groupNames.size() ? st->groupNames[k] : std::string();
    col.label = k < st->groupLabels.size() ? st->groupLabels[k] : std::string();
    const bool named = k < st->names.size();
    col.name = named ? st->names[k] : std::string();
    col.dropped = st->defined && (!named || st->vars[k] <= 0);
    if (named && !col.dropped) {
      // The name the file holds: the data set's DROP= or RENAME= may change it.
      char written[256];
      const int32_t n = xdsoutname(ctx->stmt.proc.outDesign, st->vars[k], col.name.data(),
                                   static_cast<int32_t>(col.name.size()), written, sizeof written);
      if (n == 0)
        col.dropped = true;
      else if (n > 0)
        col.name.assign(written, static_cast<size_t>(n));
    }
    col.listed = st->groupListed[k] != 0;
    if (!named && byVariables(ctx))
      col.name = prefixText(ctx) + std::to_string(k + 1);
    out.push_back(col);
  }
  return out;
}

std::string vsfDataSetVariableName(HostDataSet* data, int32_t number) {
  HostVariable* v = nullptr;
  if (xvname(data, number, &v) != 0 || v == nullptr)
    return std::string();
  return std::string(v->name, static_cast<size_t>(v->nameLength));
}
