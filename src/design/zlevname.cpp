// Parameter names under PARMLABELSTYLE=INTERLACED: the name records of CLASS and
// constructed-effect variables and of every design column, composed by the effect library's
// name helpers and made unique; level names of constructed-effect variables; the note for
// CLASS variables with a single level. SEPARATE-style labels are zlevlabel.cpp's.
// Declared in design/levnames.h.
#include "design/levnames.h"

#include "design/levtables.h"
#include "effects/levalloc.h"
#include "effects/zmn.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/protocol.h"
#include "support/wzstr.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int32_t kName = 32;
constexpr int32_t kLabel = 256;

void blankPut(char* field, int32_t width, const char* text, int32_t length) {
  wzstmov(text, length, field, width);
}

char* poolText(QkPool* pool, const char* text, int32_t length) {
  char* p = levArray<char>(pool, static_cast<size_t>(length) + 1);
  if (length > 0)
    std::memcpy(p, text, static_cast<size_t>(length));
  p[length] = '\0';
  return p;
}

// The numbered level name ("OEFF3") or label ("OEFF 3") of level `number` under a coding
// that numbers its levels, into out; its length as snprintf gives it.
[[nodiscard]] int numberedLevel(const char* prefix, bool label, int32_t number, char* out,
                                size_t capacity) {
  return std::snprintf(out, capacity, label ? "%s %d" : "%s%d", prefix, number);
}

} // namespace

int32_t levLevelNamePart(const LevVariable* v, int32_t i, char* out, int32_t capacity, bool label) {
  if (const char* prefix = classCodingLabelPrefix(v->coding)) {
    int n = numberedLevel(prefix, label, i + 1, out, static_cast<size_t>(capacity));
    return n < capacity ? n : capacity - 1;
  }
  if (v->levelTexts == nullptr || i < 0 || i >= v->levelCount)
    return 0;
  int32_t n = wzstrip(v->levelTexts[i], v->levelWidth);
  n = n < capacity ? n : capacity;
  std::memcpy(out, v->levelTexts[i], static_cast<size_t>(n));
  return n;
}

void zlevEftVarParmLevName(LevRegContext* ctx, LevEftVar* ev) {
  if (ev->columnNames != nullptr)
    return;
  LevDesign* d = ctx->design;
  QkPool* pool = levGroupPool(ctx);
  const int32_t n = ev->columnCount;
  if (n <= 0)
    return;
  ev->columnNames = levArray<char*>(pool, static_cast<size_t>(n));
  ev->columnNameLengths = levArray<int32_t>(pool, static_cast<size_t>(n));
  int32_t k = 0;
  auto add = [&](const std::string& text) {
    if (k >= n)
      return;
    ev->columnNames[k] = poolText(pool, text.data(), static_cast<int32_t>(text.size()));
    ev->columnNameLengths[k] = static_cast<int32_t>(text.size());
    ev->maxLabelLength = std::max(ev->maxLabelLength, ev->columnNameLengths[k]);
    ++k;
  };
  auto varName = [](const LevVariable& v) {
    return v.var != nullptr ? std::string(v.var->name, static_cast<size_t>(v.var->nameLength))
                            : std::string();
  };
  auto levelPart = [](const LevVariable& v, int32_t i) {
    char buffer[kLabel];
    int32_t len = levLevelNamePart(&v, i, buffer, kLabel, false);
    return std::string(buffer, static_cast<size_t>(len));
  };
  const bool fullRank = has(d->designFlags, LevDesignFlag::NonGlm);
  switch (ev->kind) {
  case EffectVarKind::Collection:
    for (int32_t j = 0; j < ev->numericCount; ++j)
      add(varName(d->numerics[ev->numeric[j]]));
    for (int32_t j = 0; j < ev->classCount; ++j) {
      const LevVariable& v = d->classes[ev->classes[j]];
      for (int32_t i = 0; i < v.levelCount - (fullRank ? 1 : 0); ++i)
        add(varName(v) + ":" + levelPart(v, i));
    }
    break;
  case EffectVarKind::Spline: {
    if (ev->spline != nullptr && ev->spline->split)
      break;
    const int32_t per = ev->spline != nullptr && ev->spline->columnsPerVariable > 0
                            ? ev->spline->columnsPerVariable
                            : n / std::max(ev->numericCount, 1);
    if (ev->numericCount <= 1)
      for (int32_t j = 1; j <= per; ++j)
        add(std::to_string(j));
    else
      for (int32_t v = 0; v < ev->numericCount; ++v)
        for (int32_t j = 1; j <= per; ++j)
          add(varName(d->numerics[ev->numeric[v]]) + ":" + std::to_string(j));
    break;
  }
  case EffectVarKind::Polynomial:
    if (ev->splitPart)
      add("");
    break;
  case EffectVarKind::Lag:
    if (ev->lag != nullptr) {
      const LevVariable& v = d->classes[ev->lag->laggedVariable];
      for (int32_t i = 0; i < v.levelCount - (fullRank ? 1 : 0); ++i)
        add(levelPart(v, i));
    }
    break;
  case EffectVarKind::MultiMember:
    break;
  }
}

void zlevEftVarLevNames(LevRegContext* ctx, int32_t count, const int32_t* list) {
  LevDesign* d = ctx->design;
  const int32_t n = count == 0 ? d->constructedCount : count;
  for (int32_t k = 0; k < n; ++k)
    zlevEftVarParmLevName(ctx, &d->constructed[count == 0 ? k : list[k]]);
}

namespace {

// Names need each column's levels: make the column tables when a caller has not.
void ensureColumnTables(LevRegContext* ctx) {
  const LevDesign* d = ctx->design;
  for (int32_t e = 0; e < d->effectCount; ++e) {
    const LevEffect& ef = d->effects[e];
    if (ef.columnTable == nullptr && ef.columnCount > 0 &&
        ef.crossedCount + ef.nestedCount + ef.constructedCount > 0) {
      zlevLevelsAll(ctx, 0, nullptr);
      return;
    }
  }
}

// Keeps the composed parameter names and labels of the P design columns in the library pool
// (the Intercept first unless there is none; a column without label text is labelled by
// its name) and records the longest of each.
void storeColumnTexts(LevDesign* d, QkPool* libraryPool, const EffectNameRecord* columns,
                      int32_t P) {
  d->columnNames = levArray<char*>(libraryPool, static_cast<size_t>(P > 0 ? P : 1));
  d->columnLabels = levArray<char*>(libraryPool, static_cast<size_t>(P > 0 ? P : 1));
  d->longestName = d->longestLabel = 0;
  for (int32_t k = 0; k < P; ++k) {
    char name[kName];
    int32_t nameLength, labelLength;
    const char* label;
    if (k == 0 && !has(d->designFlags, LevDesignFlag::NoIntercept)) {
      blankPut(name, kName, "Intercept", 9);
      label = "Intercept";
      labelLength = 9;
    } else {
      std::memcpy(name, columns[k].name, kName);
      label = columns[k].label;
      labelLength = wzstrip(columns[k].label, kLabel);
      // A column whose parts carry no label text (a continuous variable without a label)
      // is labelled by its name rather than left blank.
      if (labelLength == 0) {
        label = columns[k].name;
        labelLength = wzstrip(columns[k].name, kName);
      }
    }
    zname(0, name, kName);
    nameLength = wzstrip(name, kName);
    d->columnNames[k] = poolText(libraryPool, name, nameLength);
    d->columnLabels[k] = poolText(libraryPool, label, labelLength);
    d->longestName = std::max(d->longestName, nameLength);
    d->longestLabel = std::max(d->longestLabel, labelLength);
  }
}

} // namespace

void ParmName(LevRegContext* ctx) {
  ensureColumnTables(ctx);
  LevDesign* d = ctx->design;
  QkPool* libraryPool = levGroupPool(ctx);
  QkPool* work = xmpoolc(nullptr, 1024, 0);
  if (work == nullptr)
    return;
  VmProvider* provider = levPoolProvider(work);
  const int32_t nEv = d->constructedCount, nCl = d->classCount;
  ClassNameRecord* records = zmnalcl(nEv + nCl, provider);
  std::vector<ClassLevelEntry*> entries(static_cast<size_t>(nEv + nCl), nullptr);
  auto makeEntries = [&](int32_t r, int32_t count) {
    if (count <= 0)
      return;
    auto* e = levArray<ClassLevelEntry>(work, static_cast<size_t>(count));
    for (int32_t k = 0; k < count; ++k) {
      std::memset(e[k].cls, ' ', kName);
      std::memset(e[k].label, ' ', kLabel);
      std::memset(e[k].nameText, ' ', kName);
      std::memset(e[k].longLabel, ' ', kLabel);
      std::memset(e[k].name, ' ', kName);
      e[k].owner = &records[r];
      e[k].next = k + 1 < count ? &e[k + 1] : nullptr;
    }
    records[r].levels = e;
    entries[static_cast<size_t>(r)] = e;
  };
  // Constructed-effect variables.
  for (int32_t k = 0; k < nEv; ++k) {
    const LevEftVar& ev = d->constructed[k];
    ClassNameRecord& r = records[k];
    blankPut(r.name, kName, ev.name, ev.nameLength);
    blankPut(r.label, kLabel, ev.name, ev.nameLength);
    r.nfl = 0;
    r.cprefix = r.lprefix = -1;
    makeEntries(k, ev.columnCount);
    for (int32_t c = 0; c < ev.columnCount; ++c) {
      ClassLevelEntry& e = entries[static_cast<size_t>(k)][c];
      const char* text = ev.columnNames != nullptr ? ev.columnNames[c] : nullptr;
      int32_t len = text != nullptr ? ev.columnNameLengths[c] : 0;
      blankPut(e.cls, kName, text, len);
      blankPut(e.label, kLabel, text, len);
      std::memcpy(e.nameText, e.cls, kName);
      std::memcpy(e.longLabel, e.label, kLabel);
    }
  }
  // CLASS variables.
  for (int32_t i = 0; i < nCl; ++i) {
    const LevVariable& v = d->classes[i];
    ClassNameRecord& r = records[nEv + i];
    if (v.levelCount <= 0 || v.var == nullptr)
      continue;
    blankPut(r.name, kName, v.var->name, v.var->nameLength);
    if (v.var->label != nullptr && v.var->labelLength > 0)
      blankPut(r.label, kLabel, v.var->label, v.var->labelLength);
    else
      blankPut(r.label, kLabel, v.var->name, v.var->nameLength);
    r.nfl = 0;
    r.cprefix = v.cprefix;
    r.lprefix = v.lprefix;
    r.numeric = v.var->type == 1;
    makeEntries(nEv + i, v.levelCount);
    for (int32_t k = 0; k < v.levelCount; ++k) {
      ClassLevelEntry& e = entries[static_cast<size_t>(nEv + i)][k];
      blankPut(e.cls, kName, v.levelTexts[k], v.levelWidth);
      blankPut(e.label, kLabel, v.levelTexts[k], v.levelWidth);
      if (const char* prefix = classCodingLabelPrefix(v.coding)) {
        char buffer[kLabel];
        int n = numberedLevel(prefix, false, k + 1, buffer, sizeof buffer);
        blankPut(e.nameText, kName, buffer, n);
        n = numberedLevel(prefix, true, k + 1, buffer, sizeof buffer);
        blankPut(e.longLabel, kLabel, buffer, n);
      } else if (v.coding == CC_EFFECT || v.coding == CC_REFERENCE || v.coding == CC_ORDINAL ||
                 v.coding == CC_BATHTUB) {
        std::memcpy(e.nameText, e.cls, kName);
        std::memcpy(e.longLabel, e.label, kLabel);
      }
    }
  }
  // Numeric variables: 32-character name and 256-character label.
  std::vector<char*> varRecords(static_cast<size_t>(d->numericCount), nullptr);
  for (int32_t j = 0; j < d->numericCount; ++j) {
    char* rec = levArray<char>(work, kName + kLabel);
    const HostVariable* var = d->numerics[j].var;
    blankPut(rec, kName, var ? var->name : "", var ? var->nameLength : 0);
    blankPut(rec + kName, kLabel, var && var->label ? var->label : "",
             var && var->label ? var->labelLength : 0);
    varRecords[static_cast<size_t>(j)] = rec;
  }
  // One record per design column.
  const int32_t P = d->columnCount;
  auto* columns = levArray<EffectNameRecord>(work, static_cast<size_t>(P > 0 ? P : 1));
  const bool hasSeparator = d->separatorText != nullptr && d->separatorLength > 1;
  for (int32_t e = 0; e < d->effectCount; ++e) {
    const LevEffect& ef = d->effects[e];
    const int32_t W = ef.columnRowWidth;
    const int32_t parts = ef.constructedCount + ef.crossedCount + ef.nestedCount;
    for (int32_t k = 0; k < ef.columnCount; ++k) {
      EffectNameRecord& c = columns[ef.firstColumn + k];
      std::memset(c.name, ' ', kName);
      std::memset(c.label, ' ', kLabel);
      const int32_t* row =
          ef.columnTable != nullptr ? ef.columnTable + static_cast<size_t>(k) * W : nullptr;
      if (parts > 0) {
        c.factors = levArray<ClassLevelEntry*>(work, static_cast<size_t>(parts));
        int32_t at = 0;
        for (int32_t j = 0; j < ef.constructedCount; ++j) {
          ClassLevelEntry* list = entries[static_cast<size_t>(ef.constructed[j])];
          int32_t level = row != nullptr ? row[at] : 0;
          c.factors[at++] = list != nullptr ? &list[level] : nullptr;
        }
        for (int32_t j = 0; j < ef.crossedCount + ef.nestedCount; ++j) {
          int32_t var = j < ef.crossedCount ? ef.crossed[j] : ef.nested[j - ef.crossedCount];
          ClassLevelEntry* list = entries[static_cast<size_t>(nEv + var)];
          int32_t level = row != nullptr ? row[at] : 0;
          c.factors[at++] = list != nullptr ? &list[level] : nullptr;
        }
        // Entries of variables without levels cannot be named.
        int32_t kept = 0;
        for (int32_t j = 0; j < parts; ++j)
          if (c.factors[j] != nullptr)
            c.factors[kept++] = c.factors[j];
        c.nways = kept;
      }
      c.prefixCount = ef.constructedCount + ef.crossedCount;
      c.continuousCount = ef.continuousCount;
      if (ef.continuousCount > 0) {
        c.continuous = levArray<char*>(work, static_cast<size_t>(ef.continuousCount));
        for (int32_t j = 0; j < ef.continuousCount; ++j)
          c.continuous[j] = varRecords[static_cast<size_t>(ef.continuous[j])];
      }
      if (hasSeparator) {
        c.sepint = d->separatorText;
        c.sepintLength = d->separatorLength - 1;
      }
    }
  }
  // Compose.
  zmnprcl(records, nEv + nCl);
  zmname(columns, P);
  storeColumnTexts(d, libraryPool, columns, P);
  xmpoold(work);
}

void zlevParmName(LevRegContext* ctx, int32_t count, const int32_t* effects) {
  LevDesign* d = ctx->design;
  d->longestName = d->longestLabel = 0;
  if (d->parmLabelStyle == LSTYLE_INTERLACED) {
    ParmName(ctx);
    return;
  }
  ensureColumnTables(ctx);
  QkPool* pool = levGroupPool(ctx);
  d->columnNames =
      levArray<char*>(pool, static_cast<size_t>(d->columnCount > 0 ? d->columnCount : 1));
  d->columnLabels =
      levArray<char*>(pool, static_cast<size_t>(d->columnCount > 0 ? d->columnCount : 1));
  const int32_t n = count == 0 ? d->effectCount : count;
  int32_t w = 0;
  for (int32_t k = 0; k < n; ++k) {
    const char* name = d->effects[count == 0 ? k : effects[k]].name;
    if (name != nullptr)
      w = std::max(w, static_cast<int32_t>(std::strlen(name)));
  }
  for (int32_t k = 0; k < n; ++k)
    zlevEfParmLabel(d, pool, count == 0 ? k : effects[k], w);
}

int32_t clcmp(const void* a, const void* b, int32_t, int32_t offset) {
  const char* x = static_cast<const char*>(a) + offset;
  const char* y = static_cast<const char*>(b) + offset;
  int32_t r = wzstcom(x, wzstlen(x), y, wzstlen(y));
  return r < 0 ? -1 : r > 0 ? 1 : 0;
}

void UniqDups(LevRegContext* ctx) {
  LevDesign* d = ctx->design;
  const int32_t P = d->columnCount;
  if (d->columnNames == nullptr || P <= 0)
    return;
  QkPool* pool = levGroupPool(ctx);
  int32_t M = 0;
  for (int32_t k = 0; k < P; ++k)
    M = std::max(M, wzstlen(d->columnNames[k]));
  const int32_t D = static_cast<int32_t>(std::floor(std::log10(P + 1.0))) + 1;
  const int32_t W = std::min(D + M, 32);
  auto strip = [](const std::string& s) {
    size_t end = s.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : s.substr(0, end + 1);
  };
  // The kept names (given or made) with their counters: the tree of the names seen.
  std::map<std::string, int32_t> kept;
  for (int32_t k = 0; k < P; ++k) {
    const std::string incoming(d->columnNames[k]);
    const int32_t L = static_cast<int32_t>(incoming.size());
    std::string text = strip(incoming);
    auto hit = kept.find(text);
    if (k == 0 || hit == kept.end()) {
      kept.emplace(text, 1);
      continue;
    }
    int32_t counter = 0;
    while (hit != kept.end()) {
      counter = ++hit->second;
      const std::string number = std::to_string(counter);
      const int32_t digits = static_cast<int32_t>(number.size());
      const int32_t at = digits <= W - L ? L : W - digits;
      text = incoming.substr(0, static_cast<size_t>(std::max(at, 0))) + number;
      hit = kept.find(strip(text));
    }
    if (static_cast<int32_t>(text.size()) > L) {
      pool->free(pool, d->columnNames[k]);
      d->columnNames[k] = levArray<char>(pool, text.size() + 1);
      d->wideFlags.set(LevWideFlag::NameLengthened);
    }
    std::memcpy(d->columnNames[k], text.data(), text.size());
    d->columnNames[k][text.size()] = '\0';
    kept.emplace(strip(text), counter);
  }
}

void zlevchk(LevRegContext* ctx) {
  LevDesign* d = ctx->design;
  for (int32_t i = 0; i < d->classCount; ++i) {
    const LevVariable& v = d->classes[i];
    if (v.levelCount == 1 && v.var != nullptr)
      vsfLog(LevMsg::ClassVariableOneLevel, {HostMsgArg(v.var->name, v.var->nameLength),
                                             HostMsgArg(v.levelTexts[0], v.levelWidth)});
  }
}
