// The host-parser driver: zxlpars runs one parse of the host parser with the driver's own
// statement hooks, which save each statement's text, note STORE/ITEMSTORE, run the caller's
// hooks with the caller's view of the parse state and hand a syntax error over to the
// caller's error byte; the post-fit statements are reported as not carried out.
#include "driver/vsfparse.h"

#include "driver/vsfcontext.h"
#include "driver/vsfreaders.h"
#include "driver/vsfselg.h"
#include "effects/zeffect.h"
#include "support/hoststubs.h"
#include "support/parsedstmt.h"

#include <cstring>

// The driver's state while a parse runs.
struct BridgeParseState {
  uint32_t reserved;
  char *errorByte;      // the caller's error byte, or null
  uint8_t bridgeWanted; // STORE or ITEMSTORE seen (1), the caller's hook asked for it (2)
  uint8_t alreadySaved; // the statement's text is saved
  HostParser *anchor;
  VsfGrammar *grammar;
  VsfContext *context;
  BridgeParseState *previous;
  TokenSave *save;
  ParseHookTable *caller;
  ParseHookTable own;
};

namespace {

BridgeParseState *driverState() {
  ParseRoot *root = hostParseRoot();
  return root ? root->driverState : nullptr;
}

// Runs the caller's hook of an entry with the caller's view of the parse state.
int32_t callerHook(BridgeParseState *st, int entry, bool after) {
  if (!st || !st->caller)
    return 0;
  ParseHookFn fn = after ? st->caller->entries[entry].after : st->caller->entries[entry].before;
  if (!fn)
    return 0;
  ParseRoot *root = hostParseRoot();
  root->driverState = st->previous;
  int32_t r = fn();
  root->driverState = st;
  st->own.entries[entry].code = st->caller->entries[entry].code;
  return r;
}

void handOverError(BridgeParseState *st) {
  ParseRoot *root = hostParseRoot();
  if (root && root->status != 0) {
    if (st->errorByte)
      *st->errorByte = 1;
    root->status = 0;
  }
}

int32_t bok() {
  BridgeParseState *st = driverState();
  if (!st)
    return 0;
  // Every statement's text is saved as written (its keyword included).
  const HostToken *t = xttkcur(st->anchor);
  st->alreadySaved = 0;
  if (st->save)
    zttkus(st->save, t, 0, 0);
  if (vsfTokenIs(t, "ITEMSTORE") || vsfTokenIs(t, "STORE"))
    st->bridgeWanted = 1;
  int32_t r = callerHook(st, 1, false);
  if (r > 2) {
    st->bridgeWanted = 2;
    return 0;
  }
  return r;
}

int32_t aok() {
  BridgeParseState *st = driverState();
  if (!st)
    return 0;
  ParseRoot *root = hostParseRoot();
  bool hadError = root && root->status != 0;
  // The caller's hook sees the error flag first (it records the syntax error), then the
  // driver hands it over to the caller's error byte.
  if (!st->alreadySaved && st->save)
    zttks(st->save);
  st->alreadySaved = 1;
  int32_t r = callerHook(st, 1, true);
  if (hadError && st->errorByte)
    *st->errorByte = 1;
  handOverError(st);
  return r;
}

int32_t brunq() {
  BridgeParseState *st = driverState();
  if (!st)
    return 0;
  return callerHook(st, 2, false);
}

int32_t aattrib() {
  BridgeParseState *st = driverState();
  if (!st)
    return 0;
  int32_t r = callerHook(st, 4, true);
  handOverError(st);
  return r;
}

int32_t bwhere() {
  BridgeParseState *st = driverState();
  if (st && st->save)
    zttkus(st->save, xttkcur(st->anchor), st->save->length, 0);
  return callerHook(st, 5, false);
}

} // namespace

void xsparse(VsfGrammar *grammar, ParseHookTable *hooks) {
  ParseRoot *root = hostParseRoot();
  if (!grammar->parseAnchor)
    grammar->parseAnchor = xtanch();
  int32_t mode = (root->syntaxTrace ? 2 : 0) + (root->semanticTrace ? 1 : 0);
  xsproc(grammar, root, mode, hooks, nullptr, nullptr);
}

PostFitBridge *zxlpars(VsfContext *ctx, VsfGrammar *grammar, ParseHookTable *caller,
                       char *errorByte) {
  ParseRoot *root = hostParseRoot();
  if (!root)
    return nullptr;
  auto *st = static_cast<BridgeParseState *>(xtalloc(sizeof(BridgeParseState), 0x3006));
  if (!st)
    xexit(1016, 0);
  std::memset(static_cast<void *>(st), 0, sizeof *st);
  st->caller = caller;
  st->grammar = grammar;
  st->context = ctx;
  st->errorByte = errorByte;
  st->anchor = grammar->parseAnchor ? static_cast<HostParser *>(grammar->parseAnchor) : xtanch();
  grammar->parseAnchor = st->anchor;
  st->previous = root->driverState;
  st->save = zttksi(st->anchor);

  st->own.entries[0].before = brunq;
  st->own.entries[1].after = aok;
  st->own.entries[1].before = bok;
  st->own.entries[2].before = brunq;
  st->own.entries[4].after = aattrib;
  st->own.entries[5].before = bwhere;
  if (caller)
    for (int i = 0; i < 8; ++i)
      st->own.entries[i].code = caller->entries[i].code;

  zefprsf(root);
  root->driverState = st;
  xsparse(grammar, &st->own);
  root->driverState = st->previous;

  PostFitBridge *result = nullptr;
  if (errorByte && *errorByte) {
    root->status = 1;
  } else if (root->status == 0) {
    // Statements for the post-fit module (CODE, STORE): that module is not part of this
    // build, so they are reported and not carried out.
    for (ParsedStatement *s = root->first; s; s = s->next) {
      const OptionSlot *code = stmtSlot(s, 1);
      const bool codeStatement = vsfStmtNameIs(s, "CODE") && code && code->kind == OSK_NUMBER &&
                                 code->value.number == 13165;
      bool handed =
          codeStatement || vsfStmtNameIs(s, "STORE") || vsfStmtNameIs(s, "ITEMSTORE");
      if (handed) {
        int32_t n = 0;
        while (n < 32 && s->name[n] != ' ')
          ++n;
        xpmlog(129, 60, {HostMsgArg(s->name, n)});
        if (ctx)
          vsfRaiseRC(ctx, 4);
      }
    }
  }
  zttkse(st->save);
  xtfree(st);
  return result;
}
