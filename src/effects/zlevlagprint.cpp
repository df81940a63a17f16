// Lag detail tables: the "LagInfo" factoid and the subjects-by-periods design of a LAG
// effect for the BY group, as level numbers ("LagDesignLevels") or as the lagged variable's
// values ("LagDesign"); with a score block the design of a SCORE data set instead.
// Declared in effects/zleveftprint.h.
#include "effects/zleveftprint.h"

#include "effects/effout.h"
#include "effects/levalloc.h"
#include "effects/zlst.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/wobmth.h"
#include "support/ztree.h"

#include <cstring>
#include <string>
#include <vector>

using namespace effout;

namespace {

RvqText* varName(const LevVariable& v) {
  return textf("%.*s", v.var ? v.var->nameLength : 0, v.var ? v.var->name : "");
}

// The blocks a design table shows: the score block alone, or the design block and the
// second block when there is one.
struct Blocks {
  const LagDesignBlock* list[2];
  int32_t count;
  bool score;
};

Blocks blocksOf(const LagSpec* lag) {
  if (lag->score != nullptr)
    return Blocks{{lag->score, nullptr}, 1, true};
  if (lag->second != nullptr)
    return Blocks{{&lag->design, lag->second}, 2, false};
  return Blocks{{&lag->design, nullptr}, 1, false};
}

// The extra columns in front: the effect name for a score block, else Control and Role when
// there is a second block.
struct Extras {
  char control = ' ';
  int32_t role = 1;
};

void extraColumns(RvqObject* data, const Blocks& b, LevEftVar* record, Extras& e) {
  if (b.score)
    column(data, RvqColumnType::Chars, "ConstructedEffect", record->name, record->nameLength);
  else if (b.count == 2) {
    column(data, RvqColumnType::Char1, "Control", &e.control);
    column(data, RvqColumnType::Int, "Role", &e.role);
  }
}

RvqText* periodVarLabel(const LevVariable& period) {
  const HostVariable* v = period.var;
  if (v != nullptr && v->label != nullptr && v->labelLength > 0)
    return text(v->label, v->labelLength);
  return varName(period);
}

const int32_t* subjectKeys(void* node) {
  return reinterpret_cast<const int32_t*>(static_cast<char*>(node) + kLagSubjectKeyOffset);
}

void numericLayout(const HostVariable* v, int32_t* width, const char** just) {
  if (v == nullptr || (v->formatNameLength == 0 && v->informatNameLength == 0)) {
    *width = v ? v->length : 8;
    *just = "r";
  } else {
    *width = v->formatWidth;
    *just = "l";
  }
}

} // namespace

void zlevPrintLagInfo(RvqObject* parent, LevEftVar* record, LevDesign* design) {
  const LagSpec* lag = record->lag;
  if (lag == nullptr)
    return;
  RvqText* title = msgText(VsfMsg::LagDetails, {HostMsgArg(record->label, record->labelLength)});
  RvqObject* f =
      createFactoid(parent, "LagInfo", "LagInfo", title, msgText(VsfMsg::LagDetailsGraph));
  entry(f, msgText(VsfMsg::LagNumberLags), lag->nlag);
  entry(f, msgText(VsfMsg::LagPeriodVariable), varName(design->classes[lag->periodVariable]));
  entry(f, msgText(VsfMsg::LaggedVariable), varName(design->classes[lag->laggedVariable]));
  if (lag->roleVariable != -1)
    entry(f, msgText(VsfMsg::LagDesignRoleVariable), varName(design->numerics[lag->roleVariable]));
  if (lag->withinCount == 1) {
    entry(f, msgText(VsfMsg::LagWithinVariable), varName(design->classes[lag->within[0]]));
  } else {
    for (int32_t k = 0; k < lag->withinCount; ++k)
      entry(f, msgText(VsfMsg::LagWithinVariableNamed, {k + 1}),
            varName(design->classes[lag->within[k]]));
  }
  endFactoid(f);
}

void zlevPrintLagDesignLevels(RvqObject* parent, LevEftVar* record, LevDesign* design) {
  LagSpec* lag = record->lag;
  if (lag == nullptr)
    return;
  const LevVariable& lagged = design->classes[lag->laggedVariable];
  const LevVariable& period = design->classes[lag->periodVariable];
  Blocks b = blocksOf(lag);
  int32_t p = lag->periodCount;
  int32_t nw = lag->withinCount;
  RvqText* label = msgText(
      VsfMsg::LagLevelsLagEffect,
      {HostMsgArg(lagged.var ? lagged.var->name : "", lagged.var ? lagged.var->nameLength : 0),
       HostMsgArg(record->label, record->labelLength)});
  RvqObject* data =
      createData(parent, "LagDesignLevels", msgText(VsfMsg::LagDesignLagEffect), label);
  Extras e;
  extraColumns(data, b, record, e);
  std::vector<double> subjects(static_cast<size_t>(nw > 0 ? nw : 1));
  std::vector<double> periods(static_cast<size_t>(p > 0 ? p : 1));
  for (int32_t i = 0; i < nw; ++i) {
    variableColumn(data, RvqColumnType::Double, nullptr, design->classes[lag->within[i]].var,
                   "Subject", &subjects[static_cast<size_t>(i)]);
  }
  for (int32_t k = 1; k <= p; ++k) {
    RvqText* name = textf("Period%d", k);
    std::vector<RvqAttr> a = {rvqColumnType(RvqColumnType::Double),
                              rvqTextHandle(RvqAttrId::Name, name),
                              rvqTextHandle(RvqAttrId::Label, textf("%d", k)),
                              rvqTextHandle(RvqAttrId::Template, text("Period"))};
    if (k == 1) {
      a.push_back(rvqTextHandle(RvqAttrId::DynamicName, text("spans")));
      a.push_back(rvqTextHandle(RvqAttrId::Value, name));
      a.push_back(rvqTextHandle(RvqAttrId::DynamicName, text("spane")));
      a.push_back(rvqTextHandle(RvqAttrId::Value, textf("Period%d", p)));
    }
    a.push_back(rvqBound(RvqAttrId::Bound, &periods[static_cast<size_t>(k - 1)]));
    call(data, RvqMethod::DefineColumn, a);
  }
  endColumns(data);
  RvqObject* table =
      bind(parent, data, label, "LagDesignLevels", "PeriodVarLabel", periodVarLabel(period));
  for (int32_t bi = 0; bi < b.count; ++bi) {
    const LagDesignBlock* block = b.list[bi];
    e.role = bi == 0 ? 1 : 0;
    if (bi == 1)
      e.control = '-';
    for (uint32_t r = 0; r < block->rowCount; ++r) {
      if (block->subjectTree == nullptr) {
        if (nw > 0)
          subjects[0] = static_cast<double>(r + 1);
      } else if (void* node = ztreord(block->subjectTree)) {
        const int32_t* keys = subjectKeys(node);
        for (int32_t i = 0; i < nw; ++i)
          subjects[static_cast<size_t>(i)] = keys[i] + 1.0;
      }
      for (int32_t k = 0; k < p; ++k) {
        int32_t level = block->periods[static_cast<size_t>(r) * static_cast<size_t>(p) + k];
        periods[static_cast<size_t>(k)] = level == 0 ? hostMissing() : static_cast<double>(level);
      }
      row(data);
      e.control = ' ';
    }
    if (block->subjectTree != nullptr)
      ztreofx(block->subjectTree);
  }
  finish(parent, data, table);
}

void zlevPrintLagDesign(RvqObject* parent, LevEftVar* record, LevDesign* design) {
  LagSpec* lag = record->lag;
  if (lag == nullptr)
    return;
  const LevVariable& lagged = design->classes[lag->laggedVariable];
  const LevVariable& period = design->classes[lag->periodVariable];
  Blocks b = blocksOf(lag);
  int32_t p = lag->periodCount;
  int32_t nw = lag->withinCount;
  RvqText* label = msgText(
      VsfMsg::LagValuesLagEffect,
      {HostMsgArg(lagged.var ? lagged.var->name : "", lagged.var ? lagged.var->nameLength : 0),
       HostMsgArg(record->label, record->labelLength)});
  RvqText* description = b.score ? textf("%.*s", record->labelLength, record->label)
                                 : msgText(VsfMsg::LagDesignLagEffect);
  RvqObject* data = createData(parent, "LagDesign", description, label);
  Extras e;
  extraColumns(data, b, record, e);
  bool laggedNumeric = lagged.var == nullptr || lagged.var->type == 1;
  int32_t laggedLength = lagged.var ? lagged.var->length : 8;
  std::vector<double> subjects(static_cast<size_t>(nw > 0 ? nw : 1));
  std::vector<std::string> subjectText(static_cast<size_t>(nw > 0 ? nw : 1));
  std::vector<double> periods(static_cast<size_t>(p > 0 ? p : 1));
  std::vector<std::string> periodText(static_cast<size_t>(p > 0 ? p : 1),
                                      std::string(static_cast<size_t>(laggedLength) + 1, ' '));
  for (int32_t i = 0; i < nw; ++i) {
    const LevVariable& w = design->classes[lag->within[i]];
    std::vector<RvqAttr> a;
    if (w.var == nullptr || w.var->type == 1) {
      int32_t width;
      const char* just;
      numericLayout(w.var, &width, &just);
      a = {rvqColumnType(RvqColumnType::Double),
           rvqTextHandle(RvqAttrId::Name, varName(w)),
           descriptor(w.var),
           rvqTextHandle(RvqAttrId::Template, text("WithinNumVar")),
           rvqBound(RvqAttrId::Bound, &subjects[static_cast<size_t>(i)]),
           rvqTextHandle(RvqAttrId::DynamicName, text("withinWidth")),
           rvqInt(RvqAttrId::Value, width),
           rvqTextHandle(RvqAttrId::DynamicName, text("withinJust")),
           rvqTextHandle(RvqAttrId::Value, text(just, 1))};
    } else {
      subjectText[static_cast<size_t>(i)].assign(static_cast<size_t>(w.var->length) + 1, ' ');
      a = {rvqColumnType(RvqColumnType::Chars),
           rvqTextHandle(RvqAttrId::Name, varName(w)),
           rvqInt(RvqAttrId::Width, w.var->length),
           descriptor(w.var),
           rvqTextHandle(RvqAttrId::Template, text("WithinCharVar")),
           rvqBound(RvqAttrId::Bound, subjectText[static_cast<size_t>(i)].data()),
           rvqInt(RvqAttrId::FormatWidth, w.widestLevel)};
    }
    call(data, RvqMethod::DefineColumn, a);
  }
  for (int32_t k = 1; k <= p; ++k) {
    RvqText* name = textf("Period%d", k);
    const char* levelText = period.levelTexts != nullptr ? period.levelTexts[k - 1] : "";
    int32_t levelLength = period.levelTexts != nullptr ? effStrip(levelText, period.levelWidth) : 0;
    std::vector<RvqAttr> a = {
        rvqColumnType(laggedNumeric ? RvqColumnType::Double : RvqColumnType::Chars),
        rvqTextHandle(RvqAttrId::Template, text(laggedNumeric ? "PeriodNumVar" : "PeriodCharVar")),
        descriptor(lagged.var), rvqTextHandle(RvqAttrId::Name, name),
        rvqTextHandle(RvqAttrId::Label, textf("%.*s", levelLength, levelText))};
    if (k == 1) {
      a.push_back(rvqTextHandle(RvqAttrId::DynamicName, text("spans")));
      a.push_back(rvqTextHandle(RvqAttrId::Value, name));
      a.push_back(rvqTextHandle(RvqAttrId::DynamicName, text("spane")));
      a.push_back(rvqTextHandle(RvqAttrId::Value, textf("Period%d", p)));
    }
    if (laggedNumeric) {
      int32_t width;
      const char* just;
      numericLayout(lagged.var, &width, &just);
      a.push_back(rvqBound(RvqAttrId::Bound, &periods[static_cast<size_t>(k - 1)]));
      a.push_back(rvqTextHandle(RvqAttrId::DynamicName, text("periodWidth")));
      a.push_back(rvqInt(RvqAttrId::Value, width));
      a.push_back(rvqTextHandle(RvqAttrId::DynamicName, text("periodJust")));
      a.push_back(rvqTextHandle(RvqAttrId::Value, text(just, 1)));
    } else {
      a.push_back(rvqInt(RvqAttrId::Width, laggedLength));
      a.push_back(rvqBound(RvqAttrId::Bound, periodText[static_cast<size_t>(k - 1)].data()));
      a.push_back(rvqInt(RvqAttrId::FormatWidth, lagged.widestLevel));
    }
    call(data, RvqMethod::DefineColumn, a);
  }
  endColumns(data);
  RvqObject* table =
      bind(parent, data, label, "LagDesign", "PeriodVarLabel", periodVarLabel(period));
  auto setSubject = [&](int32_t i, int32_t level) {
    const LevVariable& w = design->classes[lag->within[i]];
    if (w.levelValues == nullptr || level < 0 || level >= w.levelCount)
      return;
    const LevLevelValue& value = static_cast<const LevLevelValue*>(w.levelValues)[level];
    if (w.var == nullptr || w.var->type == 1) {
      subjects[static_cast<size_t>(i)] = value.value;
    } else {
      std::string& t = subjectText[static_cast<size_t>(i)];
      std::fill(t.begin(), t.end() - 1, ' ');
      size_t n = std::min(static_cast<size_t>(value.length), t.size() - 1);
      std::memcpy(t.data(), value.text, n);
    }
  };
  for (int32_t bi = 0; bi < b.count; ++bi) {
    const LagDesignBlock* block = b.list[bi];
    e.role = bi == 0 ? 1 : 0;
    if (bi == 1)
      e.control = '-';
    for (uint32_t r = 0; r < block->rowCount; ++r) {
      if (block->subjectTree == nullptr) {
        if (nw > 0)
          setSubject(0, static_cast<int32_t>(r));
      } else if (void* node = ztreord(block->subjectTree)) {
        const int32_t* keys = subjectKeys(node);
        for (int32_t i = 0; i < nw; ++i)
          setSubject(i, keys[i]);
      }
      for (int32_t k = 0; k < p; ++k) {
        int32_t level = block->periods[static_cast<size_t>(r) * static_cast<size_t>(p) + k];
        if (laggedNumeric) {
          periods[static_cast<size_t>(k)] =
              level == 0 || lagged.levelValues == nullptr
                  ? hostMissing()
                  : static_cast<const LevLevelValue*>(lagged.levelValues)[level - 1].value;
        } else {
          std::string& t = periodText[static_cast<size_t>(k)];
          std::fill(t.begin(), t.end() - 1, ' ');
          if (level != 0 && lagged.levelValues != nullptr) {
            const LevLevelValue& v =
                static_cast<const LevLevelValue*>(lagged.levelValues)[level - 1];
            size_t n = std::min(static_cast<size_t>(v.length), t.size() - 1);
            std::memcpy(t.data(), v.text, n);
          }
        }
      }
      row(data);
      e.control = ' ';
    }
    if (block->subjectTree != nullptr)
      ztreofx(block->subjectTree);
  }
  finish(parent, data, table);
}
