// The CLASS statement reader: codings, level order, reference levels, DESCENDING, SPLIT,
// CPREFIX=/LPREFIX=, MISSING and DELIMITER=, statement-wide and per variable, written into
// the design's defaults and its CLASS variable records (which zlevmod made).
// Declared in driver/vsfreaders.h.
#include "driver/vsfreaders.h"
#include "driver/vsfslots.h"
#include "effects/levdesign.h"
#include "effects/levmod.h"
#include "output/vsfcontext.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/protocol.h"

#include <cstring>
#include <vector>

namespace {

// The CLASS record of the variable at 1-based position `pos` of the CLASS list.
LevVariable* classRecord(LevDesign* d, const OptionSlot* classList, int32_t pos) {
  if (pos < 1 || pos > slotCount(classList, OSK_INTLIST))
    return nullptr;
  int32_t at = levClassIndex(d, classList->items.ints[pos - 1]);
  return at >= 0 ? &d->classes[at] : nullptr;
}

[[nodiscard]] int32_t code(const OptionSlot* sl, int32_t i) {
  return -static_cast<int32_t>(slotDouble(sl, i));
}

// Copies a reference value left-justified (leading blanks dropped) and terminated.
char* referenceCopy(VsfContext* ctx, const char* text, int32_t n) {
  while (n > 0 && *text == ' ') {
    ++text;
    --n;
  }
  auto* p = static_cast<char*>(ctx->mainPool->allocate(ctx->mainPool, n + 1, kQkZeroed));
  if (p) {
    std::memcpy(p, text, static_cast<size_t>(n));
    p[n] = '\0';
  }
  return p;
}

// The order letters, by VsfClassOrder code.
const int32_t kOrderLetter[] = {'M', 'D', 'F', 'I'};

// The CLASS statement's reader: the design, the statement and its CLASS variable list, with
// the stages that set the variables' options.
struct ClassStatementReader {
  VsfContext* ctx;
  ParsedStatement* first;
  LevDesign* d;
  const OptionSlot* classList;
  int32_t nvar;

  // Calls fn on every CLASS variable.
  template <class Fn> void each(Fn fn) {
    for (int32_t i = 0; i < nvar; ++i)
      fn(d->classes[i]);
  }
  // Per-variable entries: positions in slot p, values in slot v.
  template <class Fn> void perVar(ClassSlot p, Fn fn) {
    const OptionSlot* ps = stmtSlot(first, p);
    for (int32_t i = 0; i < slotCount(ps, OSK_INTLIST); ++i)
      if (LevVariable* v = classRecord(d, classList, ps->items.ints[i]))
        fn(*v, i);
  }

  // The codings: the statement-wide PARAM= and the per-variable ones.
  void readCodings() {
    const OptionSlot* gParam = stmtSlot(first, ClassSlot::CodingAll);
    const OptionSlot* vParamPos = stmtSlot(first, ClassSlot::CodingPosition);
    const OptionSlot* vParam = stmtSlot(first, ClassSlot::Coding);
    int32_t nPer = slotCount(vParamPos, OSK_INTLIST);
    d->designFlags.set(LevDesignFlag::NonGlm);
    if (slotCount(gParam, OSK_DBLLIST) == 0 && nPer == 0)
      d->designFlags.clear(LevDesignFlag::NonGlm);
    for (int32_t i = 0; i < slotCount(gParam, OSK_DBLLIST); ++i) {
      const auto c = static_cast<ClassCoding>(code(gParam, i));
      if (c == CC_GLM) {
        d->codingDefault = CC_EFFECT;
        d->designFlags.clear(LevDesignFlag::NonGlm);
      } else {
        d->codingDefault = c;
        d->designFlags.set(LevDesignFlag::NonGlm);
      }
    }
    each([&](LevVariable& v) {
      if (v.coding == CC_EFFECT)
        v.coding = d->codingDefault;
    });
    int32_t distinct = 0;
    {
      std::vector<uint8_t> seen(static_cast<size_t>(nvar), 0);
      perVar(ClassSlot::CodingPosition, [&](LevVariable& v, int32_t i) {
        v.coding = static_cast<ClassCoding>(code(vParam, i));
        size_t at = static_cast<size_t>(&v - d->classes);
        if (!seen[at]++)
          ++distinct;
      });
    }
    bool nonGlm = has(d->designFlags, LevDesignFlag::NonGlm);
    if (nonGlm && slotCount(gParam, OSK_DBLLIST) == 0 && nPer > 0 && distinct < nvar)
      vsfLog(VsfMsg::ParamGivenForSomeClassOnly);
    if (!nonGlm && nPer > 0)
      vsfLog(VsfMsg::GlmCodingIgnoresParam);
  }

  // ORDER= for all variables and per variable.
  void readOrders() {
    const OptionSlot* gOrder = stmtSlot(first, ClassSlot::OrderAll);
    for (int32_t i = 0; i < slotCount(gOrder, OSK_DBLLIST); ++i) {
      int32_t c = code(gOrder, i);
      if (c >= CORDER_FORMATTED && c <= CORDER_INTERNAL)
        d->orderDefault = kOrderLetter[c];
    }
    if (d->orderDefault != 'M' && d->orderDefault != 'D' && d->orderDefault != 'F' &&
        d->orderDefault != 'I')
      d->orderDefault = 'M';
    each([&](LevVariable& v) { v.order = d->orderDefault; });
    const OptionSlot* vOrder = stmtSlot(first, ClassSlot::Order);
    perVar(ClassSlot::OrderPosition, [&](LevVariable& v, int32_t i) {
      int32_t c = code(vOrder, i);
      if (c >= CORDER_FORMATTED && c <= CORDER_INTERNAL)
        v.order = kOrderLetter[c];
    });
  }

  // REF= for all variables and per variable.
  void readReferenceLevels() {
    const OptionSlot* gRef = stmtSlot(first, ClassSlot::ReferenceAll);
    for (int32_t i = 0; i < slotCount(gRef, OSK_DBLLIST); ++i)
      d->referenceDefault = static_cast<int32_t>(slotDouble(gRef, i)); // -1 FIRST, -2 LAST
    each([&](LevVariable& v) { v.referenceSelector = d->referenceDefault; });
    const OptionSlot* vRef = stmtSlot(first, ClassSlot::Reference);
    const OptionSlot* refValues = stmtSlot(first, ClassSlot::ReferenceValue);
    int32_t nextValue = 0;
    perVar(ClassSlot::ReferencePosition, [&](LevVariable& v, int32_t i) {
      // The design keeps a selector as the list does: the code negated.
      int32_t c = i < slotCount(vRef, OSK_DBLLIST) ? code(vRef, i) : 0;
      if (c == REF_FIRST || c == REF_LAST) {
        v.referenceSelector = -c;
      } else if (c == REF_VALUE || (c == 0 && v.referenceSelector == -REF_VALUE)) {
        int32_t n = 0;
        const char* text = slotTextAt(refValues, nextValue++, &n);
        v.referenceSelector = -REF_VALUE;
        v.referenceText = text ? referenceCopy(ctx, text, n) : nullptr;
      }
    });
    each([&](LevVariable& v) {
      if (v.coding == CC_ORDINAL)
        v.referenceSelector = -1;
    });
  }

  // DESCENDING for all variables and per variable.
  void readDescending() {
    if (stmtSlot(first, ClassSlot::DescendingAll))
      d->descendingDefault = 1;
    each([&](LevVariable& v) { v.descending = d->descendingDefault; });
    perVar(ClassSlot::DescendingPosition, [&](LevVariable& v, int32_t) { v.descending = 1; });
  }

  // SPLIT for all variables and per variable.
  void readSplit() {
    VsfClassSettings& cs = ctx->stmt.cls;
    cs.splitAll = stmtFlag(first, ClassFlag::SplitAll);
    cs.splitCount = slotCount(stmtSlot(first, ClassSlot::SplitPosition), OSK_INTLIST);
    cs.splitAny = cs.splitAll || cs.splitCount > 0;
    ctx->options.split = cs.splitAny;
    each([&](LevVariable& v) { v.split = cs.splitAll; });
    perVar(ClassSlot::SplitPosition, [&](LevVariable& v, int32_t) { v.split = 1; });
  }

  // CPREFIX= and LPREFIX=.
  void readPrefixes() {
    auto prefix = [&](ClassSlot gSlot, ClassSlot posSlot, ClassSlot valSlot, int32_t& dflt,
                      int32_t LevVariable::*field, VsfMsg message) {
      const OptionSlot* g = stmtSlot(first, gSlot);
      int32_t ng = slotCount(g, OSK_DBLLIST);
      dflt = ng ? static_cast<int32_t>(slotDouble(g, ng - 1)) : -1;
      each([&](LevVariable& v) { v.*field = dflt; });
      const OptionSlot* vals = stmtSlot(first, valSlot);
      int32_t nper = 0;
      perVar(posSlot, [&](LevVariable& v, int32_t i) {
        v.*field = static_cast<int32_t>(slotDouble(vals, i));
        ++nper;
      });
      if ((ng > 0 || slotCount(stmtSlot(first, posSlot), OSK_INTLIST) > 0) &&
          d->parmLabelStyle != LSTYLE_INTERLACED) {
        vsfRaiseRC(ctx, StepRc::Warning);
        vsfLog(message);
      }
    };
    prefix(ClassSlot::CprefixAll, ClassSlot::CprefixPosition, ClassSlot::Cprefix, d->cprefixDefault,
           &LevVariable::cprefix, VsfMsg::CprefixOnlyWithInterlaced);
    prefix(ClassSlot::LprefixAll, ClassSlot::LprefixPosition, ClassSlot::Lprefix, d->lprefixDefault,
           &LevVariable::lprefix, VsfMsg::LprefixOnlyWithInterlaced);
  }

  // MISSING for all variables and per variable.
  void readMissing() {
    if (stmtSlot(first, ClassSlot::MissingAll))
      d->missingDefault = 1;
    each([&](LevVariable& v) { v.missing = d->missingDefault; });
    perVar(ClassSlot::MissingPosition, [&](LevVariable& v, int32_t) { v.missing = 1; });
    bool cleared = false;
    each([&](LevVariable& v) {
      if (v.missing && (v.coding == CC_POLYNOMIAL || v.coding == CC_ORTHPOLY)) {
        v.missing = 0;
        cleared = true;
      }
    });
    if (cleared)
      vsfLog(HostMsg::MissingIgnoredForPolyCoding);
  }

  // SHOWCODING, and DELIMITER=: the host stores a quoted string's character count: an empty
  // DELIMITER= keeps the blank, a longer one uses its first character; each with a note.
  void readDelimiter() {
    VsfClassSettings& cs = ctx->stmt.cls;
    cs.showCoding = stmtFlag(first, ClassFlag::ShowCoding);
    const OptionSlot* delim = stmtSlot(first, ClassSlot::Delimiter);
    int32_t n = 0;
    const char* text = slotLastText(delim, &n);
    char c = ' ';
    if (delim && n == 0)
      vsfLog(VsfMsg::DelimiterEmptyUsesBlank);
    if (n >= 1)
      c = text[0];
    if (n > 1)
      vsfLog(VsfMsg::DelimiterFirstCharacterOnly);
    cs.delimiter = static_cast<uint8_t>(c);
    d->delimiter = c;
  }
};

} // namespace

void parse_class(VsfContext* ctx, ParsedStatement* first) {
  LevDesign* d = ctx->design.design;
  if (!d || !first)
    return;
  ClassStatementReader r{ctx, first, d, stmtSlot(first, ProcSlot::ClassVariables), d->classCount};
  r.readCodings();
  r.readOrders();
  r.readReferenceLevels();
  r.readDescending();
  r.readSplit();
  r.readPrefixes();
  r.readMissing();
  r.readDelimiter();
}
