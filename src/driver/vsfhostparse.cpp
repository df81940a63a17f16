// The host-parser driver: zxlpars runs one parse of the host parser with the driver's own
// statement hooks, which save each statement's text, note STORE/ITEMSTORE, run the caller's
// hooks with the caller's view of the parse state and hand a syntax error over to the
// caller's error byte; then the post-fit bridge: the sibling module loaded by name when a
// statement asks for it, and its run over the saved texts when STORE is given.
// Declared in driver/vsfparse.h.
#include "driver/vsfparse.h"

#include "driver/vsfreaders.h"
#include "driver/vsfselg.h"
#include "effects/zeffect.h"
#include "output/vsfcontext.h"
#include "support/hoststubs.h"
#include "support/modulestubs.h"
#include "support/parsedstmt.h"
#include "support/protocol.h"

#include <cstring>

// Why the parse wants the post-fit bridge: a STORE or ITEMSTORE statement was seen, or the
// caller's statement hook asked for it.
enum class BridgeWish : uint8_t { None = 0, StoreSeen = 1, HookAsked = 2 };
// A caller's statement hook asks for the bridge by returning more than this.
constexpr int32_t kHookAsksBridgeAbove = 2;

// The driver's state while a parse runs.
struct BridgeParseState {
  uint32_t reserved;
  char* errorByte; // the caller's error byte, or null
  BridgeWish bridgeWanted;
  uint8_t alreadySaved; // the statement's text is saved
  HostParser* anchor;
  VsfGrammar* grammar;
  VsfContext* context;
  BridgeParseState* previous;
  TokenSave* save;
  ParseHookTable* caller;
  ParseHookTable own;
};

namespace {

BridgeParseState* driverState() {
  ParseRoot* root = hostParseRoot();
  return root ? root->driverState : nullptr;
}

// Runs the caller's hook of an entry with the caller's view of the parse state.
[[nodiscard]] int32_t callerHook(BridgeParseState* st, int entry, bool after) {
  if (!st || !st->caller)
    return 0;
  ParseHookFn fn = after ? st->caller->entries[entry].after : st->caller->entries[entry].before;
  if (!fn)
    return 0;
  ParseRoot* root = hostParseRoot();
  root->driverState = st->previous;
  int32_t r = fn();
  root->driverState = st;
  st->own.entries[entry].code = st->caller->entries[entry].code;
  return r;
}

void handOverError(BridgeParseState* st) {
  ParseRoot* root = hostParseRoot();
  if (root && root->status != kParseOk) {
    if (st->errorByte)
      *st->errorByte = 1;
    root->status = kParseOk;
  }
}

[[nodiscard]] int32_t bok() {
  BridgeParseState* st = driverState();
  if (!st)
    return 0;
  // Every statement's text is saved as written (its keyword included).
  const HostToken* t = xttkcur(st->anchor);
  st->alreadySaved = 0;
  if (st->save)
    zttkus(st->save, t, 0, 0);
  if (vsfTokenIs(t, "ITEMSTORE") || vsfTokenIs(t, "STORE"))
    st->bridgeWanted = BridgeWish::StoreSeen;
  int32_t r = callerHook(st, HookEntry::Statement, false);
  if (r > kHookAsksBridgeAbove) {
    st->bridgeWanted = BridgeWish::HookAsked;
    return 0;
  }
  return r;
}

[[nodiscard]] int32_t aok() {
  BridgeParseState* st = driverState();
  if (!st)
    return 0;
  ParseRoot* root = hostParseRoot();
  bool hadError = root && root->status != kParseOk;
  // The caller's hook sees the error flag first (it records the syntax error), then the
  // driver hands it over to the caller's error byte.
  if (!st->alreadySaved && st->save)
    zttks(st->save);
  st->alreadySaved = 1;
  int32_t r = callerHook(st, HookEntry::Statement, true);
  if (hadError && st->errorByte)
    *st->errorByte = 1;
  handOverError(st);
  return r;
}

// RUN and QUIT are saved as their keyword and ';' (an empty statement or the end of the
// step, which carry nothing, are not saved); then the caller's hook of the entry that the
// token names.
[[nodiscard]] int32_t brunq() {
  BridgeParseState* st = driverState();
  if (!st)
    return 0;
  const HostToken* t = xttkcur(st->anchor);
  const bool semicolon = t && t->length == 1 && t->text[0] == ';';
  const bool run = vsfTokenIs(t, "RUN"), quit = vsfTokenIs(t, "QUIT");
  if (st->save && (run || quit)) {
    st->save->length = 0;
    // As in zttks, the saved text gives way when memory runs out; the parse goes on.
    (void)zttkadd(st->save, t->text, t->length);
    (void)zttkadd(st->save, ";", 1);
    zttks(st->save);
  }
  if (run)
    return callerHook(st, HookEntry::Run, false);
  if (semicolon || quit)
    return callerHook(st, HookEntry::EndOfStep, false);
  return 0;
}

[[nodiscard]] int32_t aattrib() {
  BridgeParseState* st = driverState();
  if (!st)
    return 0;
  int32_t r = callerHook(st, HookEntry::Attribute, true);
  handOverError(st);
  return r;
}

[[nodiscard]] int32_t bwhere() {
  BridgeParseState* st = driverState();
  if (st && st->save)
    zttkus(st->save, xttkcur(st->anchor), st->save->length, 0);
  return callerHook(st, HookEntry::Where, false);
}

// The statement names served by the sibling module; a statement asks for the bridge when its
// name begins with one of them and its slot 1 holds the post-fit code.
constexpr const char* kPostFitNames[] = {"TEST",       "LSMEAN",   "LSMEANS",     "SHOW",
                                         "SCORE",      "ESTIMATE", "LSMESTIMATE", "SLICE",
                                         "EFFECTPLOT", "CODE"};

[[nodiscard]] bool asksForBridge(const ParsedStatement* s) {
  const OptionSlot* slot = stmtSlot(s, PostFitSlot::Code);
  if (slot == nullptr || slot->kind != OSK_NUMBER || isHostMissing(slot->value.number) ||
      slot->value.number != kPostFitCode)
    return false;
  for (const char* name : kPostFitNames)
    if (std::strncmp(s->name, name, std::strlen(name)) == 0)
      return true;
  return false;
}

// Loads the sibling module into the bridge and lets its entry routine fill the method
// table; the entry routine sees the saved statement texts. A failure is only traced.
void loadSibling(PostFitBridge* bridge, TokenSave* save) {
  static constexpr const char* kModule = "qrxauxmd";
  if (bridge->module != nullptr) {
    xpslog("Server is already loaded: you only load once.");
    xpslog("Failed to load (null) bridge.");
    return;
  }
  PostFitEntry entry = nullptr;
  bool failed = wiloadv(&bridge->module, kModule, 3, 1, 0, 1) != 0;
  if (!failed)
    failed = viidb2g(bridge->module, &entry) != 0;
  if (!failed && entry != nullptr) {
    int64_t output = 0;
    bridge->save = save;
    failed = entry(bridge, &output) != 0;
    bridge->save = nullptr;
  }
  if (failed)
    xpslog("Failed to load qrxauxmd bridge.");
}

// The bridge after a parse without error, or null when no statement asks for it. The
// sibling's run routine checks the statements now, before any data is read (STORE needs it;
// the other post-fit statements are checked when the sibling has one); its failure ends the
// run with StepRc::Error after the sibling's clean-up.
PostFitBridge* postFitBridge(BridgeParseState* st, ParseRoot* root) {
  if (st->bridgeWanted == BridgeWish::None) {
    bool wanted = false;
    for (ParsedStatement* s = root->first; s && !wanted; s = s->next)
      wanted = asksForBridge(s);
    if (!wanted)
      return nullptr;
  }
  auto* bridge = static_cast<PostFitBridge*>(xtalloc(sizeof(PostFitBridge), 0x3006));
  if (bridge == nullptr)
    xexit(codeOf(StepRc::NoResources), 0);
  std::memset(static_cast<void*>(bridge), 0, sizeof *bridge);
  loadSibling(bridge, st->save);
  PostFitBridgeMethods* methods = bridge->methods;
  const bool checks = methods != nullptr && methods->run != nullptr;
  if (st->bridgeWanted == BridgeWish::None && !checks)
    return bridge;
  bridge->save = st->save;
  if (!checks || methods->run(bridge, -1, nullptr) != 0) {
    if (methods != nullptr && methods->cleanup != nullptr)
      methods->cleanup(bridge, 0);
    zttkse(st->save);
    st->save = nullptr;
    xtfree(bridge);
    xexit(codeOf(StepRc::Error), 0);
  }
  bridge->save = nullptr;
  return bridge;
}

} // namespace

void xsparse(VsfGrammar* grammar, ParseHookTable* hooks) {
  ParseRoot* root = hostParseRoot();
  if (!grammar->parseAnchor)
    grammar->parseAnchor = xtanch();
  int32_t mode = (root->syntaxTrace ? 2 : 0) + (root->semanticTrace ? 1 : 0);
  // The parser logs statement errors and sets root->status; a parse that could not start
  // (no usable grammar) leaves the status alone, so mark it failed here.
  if (xsproc(grammar, root, mode, hooks, nullptr, nullptr) < 0)
    root->status = kParseFailed;
}

PostFitBridge* zxlpars(VsfContext* ctx, VsfGrammar* grammar, ParseHookTable* caller,
                       char* errorByte) {
  ParseRoot* root = hostParseRoot();
  if (!root)
    return nullptr;
  auto* st = static_cast<BridgeParseState*>(xtalloc(sizeof(BridgeParseState), 0x3006));
  if (!st)
    xexit(codeOf(StepRc::NoResources), 0);
  std::memset(static_cast<void*>(st), 0, sizeof *st);
  st->caller = caller;
  st->grammar = grammar;
  st->context = ctx;
  st->errorByte = errorByte;
  st->anchor = grammar->parseAnchor ? static_cast<HostParser*>(grammar->parseAnchor) : xtanch();
  grammar->parseAnchor = st->anchor;
  st->previous = root->driverState;
  st->save = zttksi(st->anchor);

  st->own.entries[HookEntry::EndOfStep].before = brunq;
  st->own.entries[HookEntry::Statement].after = aok;
  st->own.entries[HookEntry::Statement].before = bok;
  st->own.entries[HookEntry::Run].before = brunq;
  st->own.entries[HookEntry::Attribute].after = aattrib;
  st->own.entries[HookEntry::Where].before = bwhere;
  if (caller)
    for (int i = 0; i < 8; ++i)
      st->own.entries[i].code = caller->entries[i].code;

  zefprsf(root);
  root->driverState = st;
  xsparse(grammar, &st->own);
  root->driverState = st->previous;

  PostFitBridge* result = nullptr;
  if (errorByte && *errorByte)
    root->status = kParseFailed;
  else if (root->status == kParseOk)
    result = postFitBridge(st, root);
  zttkse(st->save);
  xtfree(st);
  return result;
}
