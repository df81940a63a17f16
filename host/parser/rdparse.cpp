// The recursive-descent interpreter of a compiled grammar: the statement loop with its
// hooks, choice by FIRST sets, terminal matching with range checks, the action routines
// that fill ParsedStatement nodes, syntax errors with line and column, and the traces.
// Tokenizing and grammar compilation are in tokenizer.cpp and rdgrammar.cpp.
// Declared in host/parser/psparser.h.
#include "host/data/dataset.h"
#include "host/data/dsoptions.h"
#include "host/hostlog.h"
#include "host/parser/psparser.h"
#include "support/hoststubs.h"
#include "support/protocol.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>

namespace qrxhost {

namespace {

// A syntax or semantic error of the statement being parsed; it never leaves this file.
struct StatementError {};

// A token of the stream as the interpreter reads it; its source characters are found only
// when a message or a data-set name needs them.
struct TokenAt {
  const HostParser* ps;
  size_t index;
  int cls;
  std::string_view text;
  double number;
  int line;
  int column;
  std::string_view raw() const { return tokenRaw(*ps, index); }
};

struct ListTarget {
  int slot = -1;
  int kind = 0;
};

struct Interp {
  const CompiledGrammar& g;
  HostParser* ps;
  ParseRoot* root;
  int mode;
  ListTarget list;
  size_t itemStart = 0;
  size_t dsStart = 0;
  std::unique_ptr<DataSetOptions> dsOptions{}; // those in parentheses after the data-set name
  bool rangePending = false;
  double rangeMin = 0, rangeMax = 0;
  bool rangeHasMax = false;
  // Number-list item under construction.
  double numStart = 0, numTo = 0, numBy = 1;
  bool numHasTo = false;
  // The keywords an optional part or a repeated list could have begun with at token
  // declinedAt, where it ended: a statement that stops there names them.
  size_t declinedAt = SIZE_MAX;
  std::set<std::string, std::less<>> declined{};
  // BY statement state.
  int byItemStart = -1;
  bool byDescending = false;
  // The step's input data set was named but could not be opened: the data-set service has
  // said why, so the statements that need it end without a second message.
  bool inputFailed = false;

  TokenAt at(size_t i) const {
    const HostToken& t = ps->toks[i];
    return TokenAt{ps, i, t.tokenClass, tokenText(t), t.number, t.line, t.column};
  }
  TokenAt look() const { return at(ps->pos); }
  const HostToken* lookToken() const { return &ps->toks[ps->pos]; }
  bool atEnd() const { return look().cls == TC_ENDJB; }

  void trace(const std::string& text) {
    HostMsgArg a(text.c_str(), static_cast<int32_t>(text.size()));
    logMessage(kParserMsgSet, PM_TRACE, &a, 1);
  }

  [[noreturn]] void error(ParserMsg msg, const TokenAt& at, std::string_view detail,
                          const std::string& detail2 = std::string()) {
    if (msg == PM_SYNTAX && at.text == "&") // a step's text is not resolved
      errorAt(PM_MACROREF, at.line, at.column, detail);
    errorAt(msg, at.line, at.column, detail, detail2);
  }
  [[noreturn]] void errorAt(ParserMsg msg, int line, int column, std::string_view detail,
                            const std::string& detail2 = std::string()) {
    HostMsgArg args[4] = {HostMsgArg(line), HostMsgArg(column),
                          HostMsgArg(detail.data(), static_cast<int32_t>(detail.size())),
                          HostMsgArg(detail2.c_str(), static_cast<int32_t>(detail2.size()))};
    logMessage(kParserMsgSet, msg, args, 4);
    throw StatementError{};
  }

  std::string shown(const TokenAt& t) const {
    if (t.cls == TC_ENDJB)
      return "end of step";
    return std::string(t.raw());
  }

  // The words and token kinds that may come at n: the first eight, then how many more.
  std::string expected(const GNode* n) const {
    std::vector<std::string> items;
    for (const std::string& w : n->firstWords)
      // hidden keywords are not advertised, neither as written nor as their '$'-less twin
      if (!(w.size() > 1 && w.back() == '$') && n->firstWords.count(w + '$') == 0)
        items.push_back(w);
    static const char* names[] = {"",
                                  "end of statement",
                                  "a name",
                                  "a quoted string",
                                  "an integer",
                                  "a number",
                                  "a name",
                                  "a format",
                                  "a date",
                                  "a time",
                                  "a date-time",
                                  "a missing value",
                                  "a name literal"};
    for (int c = 1; c <= 12; ++c)
      if ((n->firstClasses & (1u << c)) &&
          std::find(items.begin(), items.end(), names[c]) == items.end())
        items.emplace_back(names[c]);
    if (items.empty())
      return "nothing more";
    constexpr size_t kShown = 8;
    std::string out;
    for (size_t k = 0; k < items.size() && k < kShown; ++k)
      out += (k ? ", " : "") + items[k];
    if (items.size() > kShown)
      out += " or one of " + std::to_string(items.size() - kShown) + " more";
    return out;
  }

  // Notes the keywords `n` could have begun with at the current token, which it did not take.
  void noteDeclined(const GNode* n) {
    if (declinedAt != ps->pos) {
      declinedAt = ps->pos;
      declined.clear();
    }
    for (const std::string& w : n->firstWords)
      // hidden keywords are not advertised, neither as written nor as their '$'-less twin
      if (!w.empty() && std::isalpha(static_cast<unsigned char>(w[0])) && w.back() != '$' &&
          n->firstWords.count(w + '$') == 0)
        declined.insert(w);
  }

  // The keywords an option list that ended at the current token could have taken there, as
  // " or one of the options A, B, ...", or "" when none ended there.
  std::string declinedOptions() const {
    if (declinedAt != ps->pos || declined.empty())
      return "";
    std::string out = " or one of the options ";
    size_t k = 0;
    for (const std::string& w : declined)
      out += (k++ ? ", " : "") + w;
    return out;
  }

  bool wordMatches(const GNode* n, const TokenAt& t) const {
    if (t.cls != TC_NAMEX && t.cls != 0)
      return false;
    for (const std::string& w : n->words)
      if (w == t.text)
        return true;
    return false;
  }
  bool classMatches(int cls, const TokenAt& t) const { return cls == t.cls; }
  bool firstHasWord(const GNode* n, const TokenAt& t) const {
    return (t.cls == TC_NAMEX || t.cls == 0) && n->firstWords.count(t.text) != 0;
  }
  bool firstHasClass(const GNode* n, const TokenAt& t) const {
    return t.cls > 0 && t.cls < 32 && (n->firstClasses & (1u << t.cls)) != 0;
  }
  bool canStart(const GNode* n, const TokenAt& t) const {
    return firstHasWord(n, t) || firstHasClass(n, t);
  }

  // ---- nodes and slots ----

  ParsedStatement* current() const { return root->current; }

  OptionSlot* slot(int k) {
    ParsedStatement* s = current();
    if (!s || k < 0 || k >= s->slotCount)
      error(PM_INTERNAL, look(), "option slot " + std::to_string(k) + " outside its statement");
    return &s->slots[k];
  }

  void setFlag(int k) {
    ParsedStatement* s = current();
    if (!s || k < 0 || k >= 320)
      error(PM_INTERNAL, look(), "flag " + std::to_string(k) + " outside its statement");
    s->flags[k / 8] |= static_cast<uint8_t>(0x80u >> (k % 8));
  }

  void growAppend(OptionSlot* sl, int itemSize) {
    if (parserServices()->zaddlst(sl, itemSize, 1) != 0)
      error(PM_INTERNAL, look(), "no memory for a list");
  }

  void appendInt(OptionSlot* sl, int32_t v) {
    if (sl->kind != OSK_INTLIST && sl->kind != OSK_VARLIST && sl->value.list.count == 0)
      sl->kind = OSK_INTLIST;
    if (sl->kind != OSK_INTLIST && sl->kind != OSK_VARLIST) // the effect callback's lists hold
                                                            // variable numbers too
      error(PM_INTERNAL, look(), "a list of mixed items");
    growAppend(sl, 4);
    sl->items.ints[sl->value.list.count++] = v;
    sl->present = 1;
  }
  void appendDouble(OptionSlot* sl, double v) {
    if (sl->kind != OSK_DBLLIST && sl->value.list.count == 0)
      sl->kind = OSK_DBLLIST;
    if (sl->kind != OSK_DBLLIST)
      error(PM_INTERNAL, look(), "a list of mixed items");
    growAppend(sl, 8);
    sl->items.doubles[sl->value.list.count++] = v;
    sl->present = 1;
  }
  void appendName(OptionSlot* sl, std::string_view name) {
    if (sl->kind != OSK_NAMELIST) {
      sl->kind = OSK_NAMELIST;
      sl->value.list.count = 0;
      sl->items.names = nullptr;
    }
    size_t n = std::min<size_t>(name.size(), 255);
    NameListBlock* b = sl->items.names;
    NameListBlock* lastBlock = b;
    while (lastBlock && lastBlock->next)
      lastBlock = lastBlock->next;
    if (!lastBlock || lastBlock->used + 1 + static_cast<int64_t>(n) >
                          static_cast<int64_t>(sizeof lastBlock->names)) {
      auto* nb = static_cast<NameListBlock*>(parseAlloc(sizeof(NameListBlock) + n));
      nb->lastIndex = sl->value.list.count - 1;
      if (lastBlock)
        lastBlock->next = nb;
      else
        sl->items.names = nb;
      lastBlock = nb;
    }
    lastBlock->names[lastBlock->used] = static_cast<uint8_t>(n);
    std::memcpy(lastBlock->names + lastBlock->used + 1, name.data(), n);
    lastBlock->used += 1 + static_cast<int64_t>(n);
    lastBlock->lastIndex = sl->value.list.count;
    sl->value.list.count++;
    sl->present = 1;
  }
  void storeText(OptionSlot* sl, std::string_view text) {
    char* p = static_cast<char*>(parseAlloc(text.size() + 1));
    std::memcpy(p, text.data(), text.size());
    sl->items.text = p;
    sl->value.word = 0;
    sl->value.list.count = static_cast<int32_t>(text.size());
    sl->kind = OSK_TEXT;
    sl->present = 1;
  }

  ParsedStatement* newNode(int slots) {
    auto* s = static_cast<ParsedStatement*>(parseAlloc(sizeof(ParsedStatement)));
    s->slotCount = slots + 1;
    s->slots = static_cast<OptionSlot*>(parseAlloc(sizeof(OptionSlot) * (slots + 1)));
    std::memset(s->name, ' ', sizeof s->name);
    std::string kw(look().text);
    if (!kw.empty() && kw.back() == '$')
      kw.pop_back();
    std::memcpy(s->name, kw.data(), std::min<size_t>(kw.size(), sizeof s->name));
    s->line = look().line;
    s->column = look().column;
    if (root->last)
      root->last->next = s;
    else
      root->first = s;
    root->last = s;
    return s;
  }

  double lookNumber() const { return look().number; }
  bool lookIsNumber() const { return look().cls == TC_INT || look().cls == TC_NBR; }

  // ---- variable lists ----

  static std::string_view asTyped(const TokenAt& t) { return t.cls == TC_NAMEX ? t.raw() : t.text; }

  void variableItem(int kind) {
    if (!root->dataSet && inputFailed)
      throw StatementError{};
    if (!root->dataSet)
      error(PM_NODATA, kind <= HLK_PREFIX ? at(itemStart) : at(ps->pos - 1), "");
    std::string first, second;
    // Names go to the look-up as the user wrote them (it ignores case), so that a message
    // about a name shows it as typed.
    if (kind >= HLK_SINGLE && kind <= HLK_PREFIX)
      first = std::string(asTyped(at(itemStart)));
    if (kind >= HLK_NUMBERED && kind <= HLK_CHARACTER_RANGE)
      second = std::string(asTyped(at(ps->pos - 1)));
    HostVarList vl{};
    int32_t rc = parserServices()->zaddvar(root->dataSet, &vl, 3, 0, first.data(),
                                           static_cast<int32_t>(first.size()), second.data(),
                                           static_cast<int32_t>(second.size()), kind);
    if (rc != 0) {
      parserServices()->zadverr(root, root->dataSet, 0, first.data(),
                                static_cast<int32_t>(first.size()), second.data(),
                                static_cast<int32_t>(second.size()), &vl, 0, kind, rc);
      throw StatementError{};
    }
    if (list.slot >= 0)
      for (int i = 0; i < vl.count; ++i)
        appendInt(slot(list.slot), vl.numbers[i]);
  }

  void byItemEnd() {
    if (byItemStart < 0)
      return;
    OptionSlot* vars = slot(keyOf(ProcSlot::ByVariables));
    OptionSlot* desc = slot(keyOf(ProcSlot::ByDescending));
    int32_t n = vars->kind == OSK_INTLIST ? vars->value.list.count : 0;
    for (int32_t i = byItemStart; i < n; ++i)
      appendDouble(desc, byDescending ? 1.0 : 0.0);
    byItemStart = -1;
    byDescending = false;
  }

  // ---- actions ----

  int arg(const GNode* n, size_t i, int dflt = 0) const {
    return i < n->args.size() ? n->args[i] : dflt;
  }

  // Writes the action, its arguments and the current token to the trace (mode bit 1).
  void traceAction(const GNode* n) {
    std::ostringstream os;
    os << "SEM: action " << n->action;
    if (!n->args.empty()) {
      os << '(';
      for (size_t i = 0; i < n->args.size(); ++i)
        os << (i ? "," : "") << n->args[i];
      os << ')';
    }
    os << " at " << shown(look()) << " (line " << look().line << ", column " << look().column
       << ")";
    trace(os.str());
  }

  // Stores the current token into a slot: a number (anything else is left to the terminal
  // that follows to report) or the token's text.
  void storeValueAction(const GNode* n) {
    OptionSlot* sl = slot(arg(n, 0));
    if (arg(n, 1, ValueForm::Number) == ValueForm::Number) {
      if (!lookIsNumber())
        return; // the terminal that follows reports the error
      sl->value.number = lookNumber();
      sl->kind = OSK_NUMBER;
      sl->present = 1;
    } else {
      storeText(sl, look().text);
    }
  }

  // Appends the current token to a slot: a number or a quoted value.
  void appendValueAction(const GNode* n) {
    OptionSlot* sl = slot(arg(n, 0));
    if (arg(n, 1) == ValueForm::Number) {
      if (lookIsNumber())
        appendDouble(sl, lookNumber());
    } else if (look().cls == TC_QS) {
      // A repeated quoted value turns the slot into a name list, in statement order.
      if (sl->kind == OSK_TEXT) {
        std::string prev(sl->items.text, static_cast<size_t>(sl->value.list.count));
        sl->kind = OSK_NONE;
        sl->value.word = 0;
        sl->items.any = nullptr;
        appendName(sl, prev);
        appendName(sl, look().text);
      } else if (sl->kind == OSK_NAMELIST) {
        appendName(sl, look().text);
      } else {
        storeText(sl, look().text);
      }
    }
  }

  // Makes a slot the target of the list that follows (and the statement's effect slot).
  void startListAction(const GNode* n) {
    list.slot = arg(n, 0);
    list.kind = arg(n, 1);
    OptionSlot* sl = slot(list.slot);
    if (!sl->present) {
      sl->present = 1;
      sl->kind = OSK_NONE;
    }
    root->effectSlot = static_cast<int16_t>(list.slot);
  }

  // Registers a created output data set's file with the option that names it (empty: the
  // statement's default); a file another output of the step writes ends the statement (the
  // data set is given up).
  void claimCreated(HostDataSet* ds, std::string_view option, int line) {
    std::string statement(current()->name, sizeof current()->name);
    statement.erase(statement.find_last_not_of(' ') + 1);
    if (qrxhost::claimOutput(ds, {std::string(option), statement, line}))
      return;
    xdsclose(ds);
    throw StatementError{}; // claimOutput has logged why
  }

  // Opens or creates the data set named at dsStart into a slot, under the options given
  // after its name; DATA= of the procedure statement becomes the step's data set.
  void dataSetAction(const GNode* n) {
    const std::string_view name = at(dsStart).raw();
    const bool output = arg(n, 1) == DataSetAccess::Create;
    if (output && dsOptions)
      refuseInputOnly(*dsOptions);
    HostDataSet* ds = output ? xdscreate(name.data(), static_cast<int32_t>(name.size()))
                             : xdsopen(name.data(), static_cast<int32_t>(name.size()));
    const bool stepInput =
        arg(n, 0) == keyOf(ProcSlot::Data) && !output && current() == root->first;
    if (ds && output)
      claimCreated(ds, at(dsStart - 2).raw(), at(dsStart).line); // OPTION '=' name
    if (ds && dsOptions && !applyDataSetOptions(ds, std::move(dsOptions))) {
      xdsclose(ds);
      ds = nullptr;
    }
    if (!ds) {
      inputFailed = inputFailed || stepInput;
      throw StatementError{}; // the data-set service has logged why
    }
    OptionSlot* sl = slot(arg(n, 0));
    sl->value.dataSet = ds;
    sl->kind = OSK_DATASET;
    sl->present = 1;
    if (stepInput)
      root->dataSet = ds;
  }

  // FIRSTOBS= and OBS= choose observations to read: an output data set has none to choose.
  void refuseInputOnly(const DataSetOptions& o) {
    for (const OptionWord* w : {&o.firstObsAt, &o.obsAt})
      if (w->line != 0)
        errorAt(PM_DSOPTVALUE, w->line, w->column, w->text + "=",
                "it chooses observations to read, and this data set is written");
  }

  // The options in parentheses after a data-set name (the closing parenthesis is the grammar's).
  void dataSetOptionsAction() {
    dsOptions = std::make_unique<DataSetOptions>();
    OptionProblem p;
    if (!readDataSetOptions(*ps, dsOptions.get(), &p)) {
      // DATA= of the procedure statement: the statements that need its data set say no more
      inputFailed = inputFailed ||
                    (current() == root->first && dsStart >= 2 && at(dsStart - 2).text == "DATA");
      errorAt(p.optionMessage, p.line, p.column, p.detail, p.detail2);
    }
    if (dsOptions->empty())
      dsOptions.reset();
  }

  // Appends to a slot the position the next CLASS variable takes in the CLASS list.
  void classPositionAction(const GNode* n) {
    OptionSlot* classes =
        root->first ? &root->first->slots[keyOf(ProcSlot::ClassVariables)] : nullptr;
    int32_t pos = classes && (classes->kind == OSK_INTLIST || classes->kind == OSK_VARLIST)
                      ? classes->value.list.count
                      : 0;
    appendInt(slot(arg(n, 0)), pos);
  }

  // Hands an effect-syntax action to the statement's effect hook, if it has one.
  void effectHookAction(const GNode* n) {
    if (!root->effectAction)
      return;
    EffectAction a{};
    a.code = static_cast<int16_t>(arg(n, 0));
    a.operand = static_cast<int16_t>(arg(n, 1));
    root->effectAction(ps, lookToken(), &a);
  }

  // Runs one semantic action of the grammar: the statement nodes, the option slots, the lists
  // and their items, the data sets and the effect hook.
  void runAction(const GNode* n) {
    if (mode & 1)
      traceAction(n);
    switch (n->action) {
    case GrammarAction::ProcStatement: // opens the step: only once, and first
      if (root->first)
        error(PM_STATEMENT, look(), look().raw());
      break;
    case GrammarAction::IntoProcNode: // BY, CLASS, FREQ, WEIGHT: into the procedure's node
      root->current = root->first;
      list = ListTarget{};
      if (!root->first)
        error(PM_STATEMENT, look(), look().raw());
      break;
    case GrammarAction::NewNode:
      root->current = newNode(arg(n, 0));
      list = ListTarget{};
      break;
    case GrammarAction::EndStatement:
      break;
    case GrammarAction::SetFlag:
    case GrammarAction::SetSwitch:
      setFlag(arg(n, 0));
      break;
    case GrammarAction::StoreValue:
      storeValueAction(n);
      break;
    case GrammarAction::AppendValue:
      appendValueAction(n);
      break;
    case GrammarAction::StartList:
      startListAction(n);
      break;
    case GrammarAction::ItemStart:
      itemStart = ps->pos;
      break;
    case GrammarAction::VariableItem:
      variableItem(arg(n, 0));
      break;
    case GrammarAction::DataSetStart:
      dsStart = ps->pos;
      dsOptions.reset();
      break;
    case GrammarAction::DataSet:
      dataSetAction(n);
      break;
    case GrammarAction::DefaultDataSet:
      defaultDataSet(n);
      break;
    case GrammarAction::NumberList:
      numberListAction(n);
      break;
    case GrammarAction::Range:
      rangePending = arg(n, 0) != kRangeNone;
      rangeMin = arg(n, 0);
      rangeHasMax = n->args.size() > 1;
      rangeMax = arg(n, 1);
      break;
    case GrammarAction::ListCode: {
      if (list.slot < 0)
        error(PM_INTERNAL, look(), "a code without its list");
      int code = arg(n, 0);
      appendDouble(slot(list.slot), code == 0 ? 0.0 : -static_cast<double>(code));
      break;
    }
    case GrammarAction::AppendName:
      // A name the step creates (an output variable) is kept as the user wrote it, as a data
      // set keeps the case of its variables' names; others are upper-cased.
      if (list.slot >= 0 && ps->pos > 0)
        appendName(slot(list.slot), arg(n, 0) == NameCase::AsTyped ? asTyped(at(ps->pos - 1))
                                                                   : at(ps->pos - 1).text);
      break;
    case GrammarAction::By:
      byAction(arg(n, 0));
      break;
    case GrammarAction::ClassPosition:
      classPositionAction(n);
      break;
    case GrammarAction::StoreCode: {
      OptionSlot* sl = slot(arg(n, 0));
      sl->value.number = arg(n, 1);
      sl->kind = OSK_NUMBER;
      sl->present = 1;
      break;
    }
    case GrammarAction::ListText:
      if (list.slot >= 0)
        storeText(slot(list.slot), look().text);
      break;
    case GrammarAction::DataSetOptions:
      if (arg(n, 0) == DataSetOptionsAt::Inside)
        dataSetOptionsAction();
      break;
    case GrammarAction::Effect:
      effectHookAction(n);
      break;
    default: // CatalogPart, NameToken, TokenSave, NameStart, NameClass: the host's own
      break;
    }
  }

  // Number-list items: a number, TO, BY, the item's end, a name item (ALT or a name), which
  // a list of numbers refuses and any other list keeps as a name.
  void numberListAction(const GNode* n) {
    OptionSlot* sl = list.slot >= 0 ? slot(list.slot) : nullptr;
    switch (arg(n, 0)) {
    case NumberItem::Name:
      if (!sl || list.kind == ListKind::Numbers)
        error(PM_NUMLISTNAME, look(), look().raw());
      appendName(sl, look().text);
      numHasTo = false;
      break;
    case NumberItem::Start:
      numStart = lookNumber();
      numHasTo = false;
      numBy = 1;
      break;
    case NumberItem::To:
      numTo = lookNumber();
      numHasTo = true;
      break;
    case NumberItem::By:
      numBy = lookNumber();
      break;
    case NumberItem::End: {
      if (!sl || sl->kind == OSK_NAMELIST)
        break;
      if (!numHasTo) {
        appendDouble(sl, numStart);
        break;
      }
      double span = numTo - numStart;
      if (numBy == 0 || !std::isfinite(span) || (span != 0 && (span > 0) != (numBy > 0)) ||
          std::fabs(span / numBy) > 100000)
        error(PM_NUMLIST, at(ps->pos - 1), "TO/BY");
      long steps = static_cast<long>(std::floor(span / numBy + 1e-10));
      for (long k = 0; k <= steps; ++k)
        appendDouble(sl, numStart + static_cast<double>(k) * numBy);
      break;
    }
    default:
      break;
    }
  }

  // The end of a statement that may name a data set: the procedure statement must have
  // its input data set; an output statement without one writes to a new WORK.DATAn.
  void defaultDataSet(const GNode* n) {
    const int slotNumber = arg(n, 0);
    if (slotNumber == keyOf(ProcSlot::Data) && arg(n, 1) == DataSetAccess::Open &&
        current() == root->first && !root->dataSet && !inputFailed)
      error(PM_NODEFAULTDATA, look(), "");
    if (arg(n, 1) != DataSetAccess::Create || current() == nullptr || slot(slotNumber)->present)
      return;
    const std::string name = qrxhost::defaultOutputName();
    HostDataSet* ds = xdscreate(name.data(), static_cast<int32_t>(name.size()));
    if (!ds)
      throw StatementError{}; // the data-set service has logged why
    claimCreated(ds, std::string_view(), current()->line);
    OptionSlot* sl = slot(slotNumber);
    sl->value.dataSet = ds;
    sl->kind = OSK_DATASET;
    sl->present = 1;
  }

  void byAction(int which) {
    switch (which) {
    case ByPart::Item: {
      byItemEnd();
      OptionSlot* vars = slot(keyOf(ProcSlot::ByVariables));
      byItemStart = vars->kind == OSK_INTLIST ? vars->value.list.count : 0;
      break;
    }
    case ByPart::Descending:
      byDescending = true;
      break;
    case ByPart::NotSorted:
      setFlag(keyOf(ProcFlag::ByNotsorted));
      break;
    case ByPart::End:
      byItemEnd();
      break;
    default:
      break;
    }
  }

  // ---- the descent ----

  void consume(const GNode* n) {
    const TokenAt& t = look();
    if ((t.cls == TC_INT || t.cls == TC_NBR) && rangePending) {
      rangePending = false;
      bool ok = t.number >= rangeMin && (!rangeHasMax || t.number <= rangeMax);
      if (!ok) {
        std::string bound = rangeHasMax ? "between " + std::to_string(static_cast<long>(rangeMin)) +
                                              " and " + std::to_string(static_cast<long>(rangeMax))
                                        : "at least " + std::to_string(static_cast<long>(rangeMin));
        error(PM_RANGE, t, t.raw(), bound);
      }
    }
    if (mode & 2) {
      std::ostringstream os;
      os << "SYN: " << shown(t) << " (line " << t.line << ", column " << t.column << ")";
      (void)n;
      trace(os.str());
    }
    ++ps->pos;
  }

  void walk(const GNode* n, int depth) {
    if (depth > 400)
      error(PM_INTERNAL, look(), "grammar too deep");
    switch (n->kind) {
    case GKind::Seq:
      for (const GNode* k : n->kids)
        walk(k, depth + 1);
      return;
    case GKind::Action:
      runAction(n);
      return;
    case GKind::Ref:
      walk(g.ruleBodies[n->rule], depth + 1);
      return;
    case GKind::Word:
      if (!wordMatches(n, look()))
        error(PM_SYNTAX, look(), shown(look()), expected(n) + declinedOptions());
      consume(n);
      return;
    case GKind::Class:
      if (!classMatches(n->tokenClass, look()))
        error(PM_SYNTAX, look(), shown(look()), expected(n));
      consume(n);
      return;
    case GKind::Opt:
      if (canStart(n->kids[0], look()))
        walk(n->kids[0], depth + 1);
      else
        noteDeclined(n->kids[0]);
      return;
    case GKind::Rep:
      while (canStart(n->kids[0], look())) {
        size_t before = ps->pos;
        walk(n->kids[0], depth + 1);
        if (ps->pos == before)
          break;
      }
      noteDeclined(n->kids[0]);
      return;
    case GKind::Alt: {
      const TokenAt& t = look();
      for (const GNode* k : n->kids)
        if (firstHasWord(k, t)) {
          walk(k, depth + 1);
          return;
        }
      for (const GNode* k : n->kids)
        if (firstHasClass(k, t)) {
          walk(k, depth + 1);
          return;
        }
      for (const GNode* k : n->kids)
        if (k->nullable) {
          noteDeclined(n);
          walk(k, depth + 1);
          return;
        }
      error(PM_SYNTAX, t, shown(t), expected(n));
    }
    }
  }

  void skipStatement() {
    while (!atEnd() && look().text != ";")
      ++ps->pos;
    if (!atEnd())
      ++ps->pos;
  }

  // One statement: returns false when it had an error.
  bool statement() {
    const GNode* start = g.ruleBodies[0];
    size_t begin = ps->pos;
    list = ListTarget{};
    rangePending = false;
    declinedAt = SIZE_MAX;
    declined.clear();
    byItemStart = -1;
    byDescending = false;
    root->current = nullptr;
    try {
      if (!canStart(start, look()))
        error(PM_STATEMENT, look(), shown(look()));
      walk(start, 0);
      if (look().text != ";") {
        std::string expectedHere(";");
        expectedHere += declinedOptions();
        error(PM_SYNTAX, look(), shown(look()), expectedHere);
      }
      ++ps->pos;
      return true;
    } catch (const StatementError&) {
      if (root->current)
        root->current->syntaxError = 1;
      root->status = kParseFailed;
      if (ps->pos < begin)
        ps->pos = begin;
      skipStatement();
      return false;
    }
  }
};

std::map<const GrammarRule*, std::unique_ptr<CompiledGrammar>>& grammarCache() {
  static std::map<const GrammarRule*, std::unique_ptr<CompiledGrammar>> cache;
  return cache;
}

int32_t callHook(ParseHookFn fn) { return fn ? fn() : 0; }

} // namespace

// Runs the parse of the step's statements over the grammar; 0, or 1 when a statement had
// an error.
int32_t runStatementParse(VsfGrammar* grammar, ParseRoot* root, int32_t mode,
                          ParseHookTable* hooks) {
  if (!grammar || !root || grammar->tableFormat != kGrammarRuleText || !grammar->rules)
    return -1;
  auto& cache = grammarCache();
  auto it = cache.find(grammar->rules);
  if (it == cache.end()) {
    std::string problem;
    auto compiled = compileGrammar(grammar->rules, grammar->ruleCount, &problem);
    if (!compiled) {
      HostMsgArg args[4] = {HostMsgArg(0), HostMsgArg(0), HostMsgArg(problem.c_str()),
                            HostMsgArg("")};
      logMessage(kParserMsgSet, PM_INTERNAL, args, 4);
      return -1;
    }
    it = cache.emplace(grammar->rules, std::move(compiled)).first;
  }
  HostParser* ps = static_cast<HostParser*>(grammar->parseAnchor);
  if (!ps)
    ps = parserServices()->xtanch();
  grammar->parseAnchor = ps;
  root->parser = ps;
  root->first = root->last = root->current = nullptr;
  root->status = kParseOk;
  ps->root = root;
  ps->pos = 0;
  if (ps->lexFailed) {
    const LexError& e = ps->lexError;
    HostMsgArg args[4] = {HostMsgArg(e.line), HostMsgArg(e.column), HostMsgArg(e.detail.c_str()),
                          HostMsgArg("")};
    logMessage(kParserMsgSet, e.message, args, 4);
    root->status = kParseFailed;
    return 1;
  }
  Interp in{*it->second, ps, root, mode, {}};
  // The step text may begin with the PROC keyword itself.
  if (in.look().cls == TC_NAMEX && in.look().text == "PROC")
    ++ps->pos;
  bool anyError = false;
  while (!in.atEnd()) {
    if (in.look().text == ";") {
      ++ps->pos;
      continue;
    }
    if (hooks)
      callHook(hooks->entries[HookEntry::Statement].before);
    bool ok = in.statement();
    anyError = anyError || !ok || root->status != kParseOk;
    if (hooks)
      callHook(hooks->entries[HookEntry::Statement].after);
  }
  if (hooks)
    callHook(hooks->entries[HookEntry::Run].before);
  root->current = nullptr;
  return anyError ? 1 : 0;
}

} // namespace qrxhost
