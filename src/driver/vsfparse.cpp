// The statement parse driver: xinit makes the parse state, vsfParse runs the host parser
// through zxlpars with the statement hooks vsfa/vsfb, checks how often each statement
// occurred and calls the readers in order; the token save keeps the statements' texts.
// The readers are in vsf*stmt.cpp, the grammar in vsfselg.cpp, the parser in the host.
#include "driver/vsfparse.h"

#include "driver/vsfcontext.h"
#include "driver/vsfreaders.h"
#include "driver/vsfselg.h"
#include "effects/zeffect.h"
#include "support/hoststubs.h"
#include "support/parsedstmt.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

// The driver's state while a parse runs.
struct BridgeParseState {
  uint32_t reserved;
  char *errorByte;      // the caller's error byte, or null
  uint8_t bridgeWanted; // 1 STORE or ITEMSTORE seen, 2 the caller's hook asked for it
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

VsfContext *currentContext() {
  HostTaskBlock *task = hostCurrentTask();
  return task ? static_cast<VsfContext *>(task->procedureContext) : nullptr;
}

bool nameIs(const ParsedStatement *s, const char *name) {
  size_t n = std::strlen(name);
  if (n > sizeof s->name)
    return false;
  if (std::memcmp(s->name, name, n) != 0)
    return false;
  for (size_t i = n; i < sizeof s->name; ++i)
    if (s->name[i] != ' ')
      return false;
  return true;
}

bool tokenIs(const HostToken *t, const char *word) {
  size_t n = std::strlen(word);
  if (!t || t->length != static_cast<int32_t>(n))
    return false;
  for (size_t i = 0; i < n; ++i)
    if (std::toupper(static_cast<unsigned char>(t->text[i])) != word[i])
      return false;
  return true;
}

void bump(uint8_t &counter) { counter = counter ? 2 : 1; }

// ---- the driver's own hooks ----

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
  if (tokenIs(t, "ITEMSTORE") || tokenIs(t, "STORE"))
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

bool appendBuffer(TokenSave *s, const char *text, int64_t n) {
  if (s->length + n + 2 > s->capacity) {
    int64_t cap = std::max<int64_t>(s->capacity * 2, s->length + n + 256);
    auto *fresh = static_cast<char *>(xtalloc(cap, 0x2004));
    if (!fresh)
      return false;
    if (s->buffer) {
      std::memcpy(fresh, s->buffer, static_cast<size_t>(s->length));
      xtfree(s->buffer);
    }
    s->buffer = fresh;
    s->capacity = cap;
  }
  std::memcpy(s->buffer + s->length, text, static_cast<size_t>(n));
  s->length += n;
  s->buffer[s->length] = '\0';
  return true;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Token save
// ---------------------------------------------------------------------------------------

TokenSave *zttksi(HostParser *anchor) {
  auto *s = static_cast<TokenSave *>(xtalloc(sizeof(TokenSave), 0x2004));
  if (!s)
    return nullptr;
  std::memset(s, 0, sizeof *s);
  s->anchor = anchor ? anchor : xtanch();
  s->hostSwitchWasOn = xttkqsp(s->anchor, 30);
  if (!s->hostSwitchWasOn)
    xttksp(s->anchor, 30, 1);
  s->capacity = 256;
  s->buffer = static_cast<char *>(xtalloc(s->capacity, 0x2004));
  if (!s->buffer)
    s->capacity = 0;
  return s;
}

// The statement is copied whole: the buffer grows as needed (a saved statement is never
// cut short).
int32_t zttkus(TokenSave *s, const HostToken *token, int64_t offset, int32_t) {
  if (!s || !token)
    return 0;
  if (offset < 0 || offset > s->length)
    offset = s->length;
  s->length = offset;
  if (s->buffer)
    s->buffer[s->length] = '\0';
  HostParser *p = s->anchor;
  // Find how far the given token is from the current one, then peek from there.
  int depth = 0;
  const HostToken *cur = xttkcur(p);
  int32_t k = 0;
  if (cur && token != cur)
    while (k < 1 << 20) {
      const HostToken *t = yttkpk(p, k);
      if (t == token || !t || t->tokenClass == TC_ENDJB)
        break;
      ++k;
    }
  for (;; ++k) {
    const HostToken *t = yttkpk(p, k);
    if (!t || t->tokenClass == TC_ENDJB || (t->length == 1 && t->text[0] == ';'))
      break;
    bool tight = false;
    if (t->length == 1) {
      char c = t->text[0];
      if (c == '(')
        ++depth;
      if (c == ')')
        --depth;
      tight = c == '(' || c == '=' || c == '<' || c == '>' || (c == ')' && depth != 0);
    }
    // Tight tokens join their neighbours: drop the blank written after the previous token.
    if (tight && s->length > offset && s->buffer[s->length - 1] == ' ')
      --s->length;
    std::string piece(t->text, static_cast<size_t>(t->length));
    if (t->tokenClass == TC_QS)
      piece = "'" + piece + "'";
    if (!appendBuffer(s, piece.data(), static_cast<int64_t>(piece.size())))
      break;
    if (!tight && !appendBuffer(s, " ", 1))
      break;
  }
  while (s->length > offset && s->buffer[s->length - 1] == ' ')
    --s->length;
  if (s->buffer)
    s->buffer[s->length] = '\0';
  return 0;
}

void zttks(TokenSave *s) {
  if (!s || s->length == 0 || !s->buffer)
    return;
  int64_t n = s->length;
  bool semi = s->buffer[n - 1] == ';';
  auto *e = static_cast<TokenSaveText *>(xtalloc(sizeof(TokenSaveText), 0x2004));
  auto *text = static_cast<char *>(xtalloc(n + 2, 0x2004));
  if (!e || !text) {
    xtfree(e);
    xtfree(text);
    return;
  }
  std::memcpy(text, s->buffer, static_cast<size_t>(n));
  if (!semi)
    text[n++] = ';';
  text[n] = '\0';
  e->text = text;
  e->length = static_cast<int32_t>(n);
  e->next = nullptr;
  if (s->tail)
    s->tail->next = e;
  else
    s->head = e;
  s->tail = e;
  s->statementCount++;
  s->length = 0;
  s->buffer[0] = '\0';
}

void zttkse(TokenSave *s) {
  if (!s)
    return;
  if (!s->hostSwitchWasOn)
    xttksp(s->anchor, 30, 0);
  for (TokenSaveText *e = s->head; e;) {
    TokenSaveText *next = e->next;
    xtfree(e->text);
    xtfree(e);
    e = next;
  }
  xtfree(s->buffer);
  xtfree(s);
}

// ---------------------------------------------------------------------------------------
// Host-parser driver
// ---------------------------------------------------------------------------------------

void xinit(void *, void *, void *, void *, void *, void *) {
  HostTaskBlock *task = hostCurrentTask();
  if (!task)
    return;
  auto *root = static_cast<ParseRoot *>(xtalloc(sizeof(ParseRoot), 0x3006));
  if (!root)
    xexit(1016, 0);
  std::memset(static_cast<void *>(root), 0, sizeof *root);
  task->parseRoot = root;
  char buf[200];
  int32_t n = xoptcgt("DEBUG", buf, sizeof buf);
  if (n > 0) {
    std::string v;
    if (n < static_cast<int32_t>(sizeof buf)) {
      v.assign(buf, static_cast<size_t>(n));
    } else {
      auto *big = static_cast<char *>(xtalloc(n + 1, 0x2004));
      if (big) {
        xoptcgt("DEBUG", big, n + 1);
        v.assign(big, static_cast<size_t>(n));
        xtfree(big);
      }
    }
    for (char &c : v)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    root->syntaxTrace = v.find("SYN") != std::string::npos;
    root->semanticTrace = v.find("SEM") != std::string::npos;
  }
}

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
      bool handed =
          (nameIs(s, "CODE") && code && code->kind == OSK_NUMBER && code->value.number == 13165) ||
          nameIs(s, "STORE") || nameIs(s, "ITEMSTORE");
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

// ---------------------------------------------------------------------------------------
// Parse driver
// ---------------------------------------------------------------------------------------

int32_t vsfa() {
  ParseRoot *root = hostParseRoot();
  VsfContext *ctx = currentContext();
  if (root && root->status != 0) {
    if (ctx)
      ctx->syntaxError = 1;
    root->status = 0;
  }
  return 0;
}

int32_t vsfb() {
  ParseRoot *root = hostParseRoot();
  VsfContext *ctx = currentContext();
  if (!root || !ctx || root->status != 0)
    return 0;
  const HostToken *t = xttkcur(xtanch());
  if (tokenIs(t, "MODEL")) {
    bump(ctx->modelCount);
    if (!ctx->syntaxError) {
      int32_t nameLen = static_cast<int32_t>(stmtNumber(root->first, 55, 20));
      zefprsi(nameLen, 1);
    }
  } else if (tokenIs(t, "CLASS")) {
    if (ctx->modelCount)
      ctx->classCount = 1;
  } else if (tokenIs(t, "PARTITION")) {
    bump(ctx->partitionCount);
  } else if (tokenIs(t, "OUTPUT")) {
    bump(ctx->outputCount);
  } else if (tokenIs(t, "FREQ") || tokenIs(t, "FREQUENCY")) {
    // The aliases count too, so that a repeated statement in either form is refused.
    bump(ctx->freqCount);
  } else if (tokenIs(t, "WEIGHT") || tokenIs(t, "WEIGHTS") || tokenIs(t, "WEIGHTS$")) {
    bump(ctx->weightCount);
  } else if (tokenIs(t, "PERFORMANCE")) {
    bump(ctx->performanceCount);
  } else if (tokenIs(t, "MODELAVERAGE")) {
    bump(ctx->modelAverageCount);
  }
  return 0;
}

int32_t zgetnmr(const NameListBlock *list, int64_t n, const char **text, int32_t *length) {
  if (!list || n < 0)
    return 1;
  int64_t firstIndex = 0;
  const NameListBlock *b = list;
  while (b && b->lastIndex < n) {
    if (b->lastIndex >= 0)
      firstIndex = b->lastIndex + 1;
    b = b->next;
  }
  if (!b)
    return 1;
  int64_t at = 0;
  for (int64_t i = firstIndex; i < n; ++i) {
    if (at >= b->used)
      return 1;
    at += 1 + b->names[at];
  }
  if (at >= b->used)
    return 1;
  *length = b->names[at];
  *text = reinterpret_cast<const char *>(b->names + at + 1);
  return 0;
}

ParsedStatement *findstmt(ParsedStatement *first, const char *name) {
  for (ParsedStatement *s = first; s; s = s->next)
    if (nameIs(s, name))
      return s;
  return nullptr;
}

void parse_effects() {}

void vsfGetNAMESTR(void *number, void *data, HostVariable *record, int32_t *counter) {
  HostVariable *v = nullptr;
  if (number && record &&
      xvname(static_cast<HostDataSet *>(data), *static_cast<int32_t *>(number), &v) == 0 && v)
    *record = *v;
  if (counter)
    ++*counter;
}

int32_t vsfParse(VsfContext *ctx) {
  ctx->stmt.parseStart = zdattim();
  // This host always delivers graphs (inline in the HTML output); PLOTS= may turn them off.
  ctx->stmt.plots.graphicsEnabled = 1;
  ParseHookTable hooks{};
  hooks.entries[1].after = vsfa;
  hooks.entries[1].before = vsfb;
  VsfGrammar *grammar = vsfselg();
  ctx->postFit = zxlpars(ctx, grammar, &hooks, nullptr);
  xtfree(grammar);
  ParseRoot *root = hostParseRoot();
  if (!root || root->status != 0 || ctx->syntaxError) {
    ctx->postFit = nullptr;
    vsfRaiseRC(ctx, 3000);
    return -100;
  }
  int32_t result = 0;
  auto check = [&](bool failed, int32_t message, int32_t code) {
    if (!failed)
      return;
    vsfRaiseRC(ctx, 3000);
    xpmlog(848, message);
    result = code;
  };
  check(ctx->modelCount == 0, 141, -14);
  check(ctx->classCount != 0, 150, -17);
  check(ctx->modelCount > 1, 207, -100);
  check(ctx->partitionCount > 1, 208, -100);
  check(ctx->weightCount > 1, 209, -100);
  check(ctx->freqCount > 1, 210, -100);
  check(ctx->performanceCount > 1, 211, -100);
  check(ctx->outputCount > 1, 212, -100);
  check(ctx->modelAverageCount > 1, 251, -100);
  if (result != 0)
    return result;

  ParsedStatement *first = root->first;
  int32_t rc = parse_proc(ctx, first);
  if (rc != 0)
    return rc;
  rc = parse_model(ctx, findstmt(first, "MODEL"));
  if (rc != 0)
    return rc;
  parse_class(ctx, first);
  parse_perf(ctx, first);
  if (ParsedStatement *out = findstmt(first, "OUTPUT"))
    parse_output(ctx, out);
  if (ParsedStatement *part = findstmt(first, "PARTITION")) {
    rc = parse_partition(ctx, part);
    if (rc != 0)
      return rc;
  }
  rc = parse_scores(ctx, first);
  if (rc != 0)
    return rc;
  if (ParsedStatement *ma = findstmt(first, "MODELAVERAGE"))
    return parse_bootstrap(ctx, ma);
  return 0;
}
