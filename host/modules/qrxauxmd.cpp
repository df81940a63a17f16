// The sibling module qrxauxmd: it serves the post-fit statements STORE and CODE. The entry
// routine reads their saved texts into requests; the run routine checks the requests while
// the procedure parses; each group's hand-over is kept, and the finish routine stages the
// item store and the scoring code, which the end of a successful step puts in place with
// the step's other outputs.
// Declared in host/modules/modload.h.
#include "host/data/dataset.h"
#include "host/data/outfile.h"
#include "host/data/staging.h"
#include "host/hostlog.h"
#include "host/hostmessages.h"
#include "host/modules/auxmodel.h"
#include "host/modules/modload.h"
#include "host/textcase.h"
#include "support/parsedstmt.h"
#include "support/protocol.h"
#include "support/quotedtext.h"
#include "support/stepcodes.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <set>
#include <utility>

namespace qrxhost {
namespace {

struct AuxState {
  std::vector<aux::StoreRequest> stores;
  std::vector<aux::CodeRequest> codes;
  std::vector<std::string> groups;     // the item store's group texts so far
  std::vector<std::string> codeGroups; // the scoring code's groups so far
  std::set<std::string> codeKeys;      // their BY values
  aux::Refusal refusal;                // why no scoring code is written
  bool refusalLogged = false;
  aux::HandedStatistics handed; // of the group being handed over
  bool unreadable = false;      // a STORE or CODE statement could not be understood
};

AuxState* stateOf(PostFitBridge* b) { return static_cast<AuxState*>(b->own); }

void message(AuxMsg number, const std::string& a = "", const std::string& b = "") {
  const HostMsgArg args[2] = {HostMsgArg(a.c_str()), HostMsgArg(b.c_str())};
  logMessage(kAuxMsgSet, static_cast<int>(number), args, 2);
}

// The text after "NAME=" in a saved statement (a quoted string whole, with its quotes; else
// up to a blank, ';' or '/'), or the first word after the keyword when `bare` and no option
// is written.
std::string optionValue(const std::string& text, const std::string& name, bool bare) {
  const std::string u = asciiUpper(text);
  size_t at = std::string::npos;
  for (size_t p = u.find(name + "="); p != std::string::npos; p = u.find(name + "=", p + 1))
    if (p == 0 || u[p - 1] == ' ') {
      at = p + name.size() + 1;
      break;
    }
  if (at == std::string::npos) {
    if (!bare)
      return std::string();
    at = u.find(' ');
    if (at == std::string::npos)
      return std::string();
    ++at;
  }
  if (at < text.size() && (text[at] == '\'' || text[at] == '"'))
    return text.substr(at, quotedTextEnd(text, at, nullptr) - at);
  std::string value;
  for (size_t i = at; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ';' || c == '/' ||
        (c == ' ' && !value.empty() && text.compare(i, 3, " . ") != 0 && value.back() != '.'))
      break;
    if (c != ' ')
      value += c;
  }
  return value;
}

bool startsWith(const std::string& text, const char* keyword) {
  const std::string u = asciiUpper(text);
  const std::string k = keyword;
  return u.compare(0, k.size(), k) == 0 && (u.size() == k.size() || !std::isalnum(u[k.size()]));
}

// The parsed statements named by one of `keywords`, in statement order.
std::vector<const ParsedStatement*> statementsNamed(std::initializer_list<const char*> keywords) {
  std::vector<const ParsedStatement*> found;
  const ParseRoot* root = hostParseRoot();
  for (const ParsedStatement* s = root != nullptr ? root->first : nullptr; s; s = s->next) {
    const std::string name(s->name, sizeof s->name);
    if (std::any_of(keywords.begin(), keywords.end(),
                    [&](const char* k) { return startsWith(name, k); }))
      found.push_back(s);
  }
  return found;
}

// The last LABEL= of a STORE statement, empty when none is given.
std::string storeLabel(const ParsedStatement* s) {
  const OptionSlot* slot = stmtSlot(s, StoreSlot::Label);
  if (slot == nullptr || slot->kind != OSK_TEXT || slot->items.text == nullptr)
    return std::string();
  return std::string(slot->items.text, static_cast<size_t>(slot->value.list.count));
}

// The first option of a CODE statement other than FILE=, or null: the scoring code is a
// Python module, and the options that shape generated code of another kind (its catalogue
// entry, number format, line width, level look-up, variable prefix, residual, error and
// dummy variables, imputation) have nothing to act on in it.
const char* unsupportedCodeOption(const ParsedStatement* s) {
  static const std::pair<CodeSlot, const char*> kSlots[] = {
      {CodeSlot::Metabase, "METABASE= (CATALOG=)"},
      {CodeSlot::Format, "FORMAT="},
      {CodeSlot::LineSize, "LINESIZE="},
      {CodeSlot::Lookup, "LOOKUP="},
      {CodeSlot::Group, "GROUP="}};
  static const std::pair<CodeFlag, const char*> kFlags[] = {
      {CodeFlag::Residuals, "RESIDUALS"}, {CodeFlag::NoResiduals, "NORESIDUALS"},
      {CodeFlag::Errors, "ERRORS"},       {CodeFlag::NoErrors, "NOERRORS"},
      {CodeFlag::Dummies, "DUMMIES"},     {CodeFlag::NoDummies, "NODUMMIES"},
      {CodeFlag::Impute, "IMPUTE"}};
  for (const auto& [slot, name] : kSlots)
    if (stmtSlot(s, slot) != nullptr)
      return name;
  for (const auto& [flag, name] : kFlags)
    if (stmtFlag(s, flag))
      return name;
  return nullptr;
}

// Reads the STORE and CODE statements of the saved texts; false after a message when one
// cannot be understood.
bool readRequests(AuxState* st, const TokenSave* save) {
  // The saved texts come in statement order, as the parsed statements do.
  const auto storeStatements = statementsNamed({"STORE", "ITEMSTORE"});
  const auto codeStatements = statementsNamed({"CODE"});
  size_t storeCount = 0, codeCount = 0;
  bool ok = true;
  for (const TokenSaveText* t = save != nullptr ? save->head : nullptr; t; t = t->next) {
    const std::string text(t->text, static_cast<size_t>(t->length));
    if (startsWith(text, "STORE") || startsWith(text, "ITEMSTORE")) {
      aux::StoreRequest r;
      const ParsedStatement* stmt =
          storeCount < storeStatements.size() ? storeStatements[storeCount] : nullptr;
      ++storeCount;
      r.line = stmt != nullptr ? stmt->line : 0;
      r.label = storeLabel(stmt);
      r.written = optionValue(text, "OUT", false);
      if (r.written.empty())
        r.written = optionValue(text, "OUTSTORE", true);
      std::string error;
      if (r.written.empty() || !resolveStoreFile(r.written, &r.path, &r.display, &error)) {
        message(AuxMsg::StoreUnwritable, r.written,
                error.empty() ? "no item store is named" : nameProblem(error));
        ok = false;
        continue;
      }
      st->stores.push_back(r);
    } else if (startsWith(text, "CODE")) {
      aux::CodeRequest r;
      const ParsedStatement* stmt =
          codeCount < codeStatements.size() ? codeStatements[codeCount] : nullptr;
      ++codeCount;
      r.line = stmt != nullptr ? stmt->line : 0;
      if (const char* option = unsupportedCodeOption(stmt)) {
        message(AuxMsg::CodeOptionUnsupported, option);
        ok = false;
        continue;
      }
      r.written = optionValue(text, "FILE", false);
      r.path = resolveCodeFile(r.written);
      if (r.path.empty()) {
        message(AuxMsg::CodeNoFile);
        ok = false;
        continue;
      }
      st->codes.push_back(r);
    }
  }
  return ok;
}

// A file's directory must exist for it to be written.
bool directoryExists(const std::string& path) {
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::path(path).parent_path();
  return dir.empty() || std::filesystem::is_directory(dir, ec);
}

// Stages the file with the step's other outputs, which puts them in place together when the
// step succeeds; its note `placed` is told then. `write` puts its text into the temporary
// file. False after message `number` with the system's reason when that cannot be written.
bool stageFile(const std::string& path, const std::string& display,
               const std::function<void(OutFile&)>& write, AuxMsg number, AuxMsg placed) {
  std::string why;
  StagedOutput out{path, display, StagedKind::File,
                   [placed, display] { message(placed, display); }};
  if (stageOutput(
          std::move(out),
          [&](const std::string& file, std::string* reason) {
            OutFile f(file);
            write(f);
            return f.finish(reason);
          },
          &why))
    return true;
  // An item store is shown by its name (WORK.K): the message names its file too.
  message(number, display == path ? display : display + " (" + path + ")", why);
  return false;
}

// Slot 0: forgets everything; nothing is written.
void cleanup(PostFitBridge* b, int32_t) {
  delete stateOf(b);
  b->own = nullptr;
}

// Slot 1, while the procedure parses with STORE or CODE given: every request must name a
// file of its own in a directory that exists.
int32_t run(PostFitBridge* b, int32_t, void*) {
  AuxState* st = stateOf(b);
  if (st == nullptr || st->unreadable)
    return 1;
  bool ok = true;
  for (const aux::StoreRequest& r : st->stores)
    if (!directoryExists(r.path)) {
      message(AuxMsg::StoreUnwritable, r.display, "its directory does not exist");
      ok = false;
    } else if (!claimOutputFile(r.path, {"OUT", "STORE", r.line})) {
      ok = false;
    }
  for (const aux::CodeRequest& r : st->codes)
    if (!directoryExists(r.path)) {
      message(AuxMsg::CodeUnwritable, r.path, "its directory does not exist");
      ok = false;
    } else if (!claimOutputFile(r.path, {"FILE", "CODE", r.line})) {
      ok = false;
    }
  return ok ? 0 : 1;
}

// Slot 2: the items of the hand-over; the statistics block brings the error variance, item
// 7 the swept triangle over the reduced design's columns.
int32_t set(PostFitBridge* b, int32_t item, const void* value, int32_t) {
  AuxState* st = stateOf(b);
  if (st == nullptr || value == nullptr)
    return 0;
  if (item == PFI_ESTIMATES) {
    st->handed = aux::HandedStatistics{};
  } else if (item == PFI_COVARIANCE && b->model != nullptr) {
    const int64_t N = b->model->reducedColumnCount;
    const double* t = static_cast<const double*>(value);
    st->handed.triangle.assign(t, t + (N + 1) * (N + 2) / 2);
  } else if (item == PFI_STATISTICS) {
    const double* stats = static_cast<const double*>(value);
    st->handed.errorVariance = stats[1];
    st->handed.errorDf = stats[4];
  }
  return 0;
}

// Slot 3: keeps the group's model in the item store's form and makes its scoring code.
int32_t runModel(PostFitBridge* b) {
  AuxState* st = stateOf(b);
  if (st == nullptr || b->model == nullptr)
    return 0;
  const PostFitModel& m = *b->model;
  st->groups.push_back(aux::storeGroupJson(m, st->handed));
  // The triangle is in the group's text now: its memory goes back before the store is staged.
  std::vector<double>().swap(st->handed.triangle);
  if (!st->codes.empty() && !st->refusal.refused) {
    const std::string key = aux::scoringGroupKey(m);
    st->refusal = aux::codeRefusal(m);
    if (!st->refusal.refused && !st->codeKeys.insert(key).second)
      st->refusal = {true, AuxMsg::CodeSameByValues, key, ""};
    if (!st->refusal.refused)
      st->codeGroups.push_back(aux::scoringGroup(m));
  }
  return 0;
}

// Slot 4, at the end of each hand-over: stages the item store and the scoring code with
// every group so far (each replaces the one staged before); a refusal is reported once.
int32_t finish(PostFitBridge* b, int32_t) {
  AuxState* st = stateOf(b);
  if (st == nullptr || b->model == nullptr)
    return 0;
  const PostFitModel& m = *b->model;
  bool ok = !st->unreadable;
  for (const aux::StoreRequest& r : st->stores)
    ok = stageFile(
             r.path, r.display,
             [&](OutFile& f) { aux::writeStoreDocument(f, st->groups, m, r.label); },
             AuxMsg::StoreUnwritable, AuxMsg::StoreWritten) &&
         ok;
  for (const aux::CodeRequest& r : st->codes) {
    if (st->refusal.refused) {
      if (!st->refusalLogged)
        message(st->refusal.refusalMessage, st->refusal.first, st->refusal.second);
      st->refusalLogged = true;
      ok = false;
    } else {
      ok = stageFile(
               r.path, r.path, [&](OutFile& f) { f << aux::scoringModule(st->codeGroups, m); },
               AuxMsg::CodeUnwritable, AuxMsg::CodeWritten) &&
           ok;
    }
  }
  if (!ok)
    raiseRc(b->returnCode, StepRc::Error);
  return ok ? 0 : 1;
}

void byStart(PostFitBridge*) {}

PostFitBridgeMethods gMethods{cleanup, run, set, runModel, finish, {}, byStart};

} // namespace

int32_t qrxauxmdEntry(PostFitBridge* bridge, void*) {
  if (bridge == nullptr)
    return -1;
  auto* st = new AuxState;
  bridge->own = st;
  bridge->methods = &gMethods;
  // The saved texts are at hand only now (the run routine is called with STORE alone).
  st->unreadable = !readRequests(st, bridge->save);
  return 0;
}

} // namespace qrxhost
