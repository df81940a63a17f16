// The statement parse driver: xinit makes the parse state, vsfParse runs the host parser
// through zxlpars (vsfhostparse.cpp) with the statement hooks vsfa/vsfb, checks how often
// each statement occurred and calls the readers in order. The readers are in vsf*stmt.cpp,
// the grammar in vsfselg.cpp, the token save in vsftokensave.cpp, the parser in the host.
#include "driver/vsfparse.h"

#include "driver/vsfbridge.h"

#include "driver/vsfreaders.h"
#include "driver/vsfselg.h"
#include "effects/zeffect.h"
#include "output/vsfcontext.h"
#include "support/driverresult.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/parsedstmt.h"
#include "support/protocol.h"

#include <cctype>
#include <cstring>
#include <string>

namespace {

VsfContext* currentContext() {
  HostTaskBlock* task = hostCurrentTask();
  return task ? static_cast<VsfContext*>(task->procedureContext) : nullptr;
}

void bump(uint8_t& counter) { counter = counter ? 2 : 1; }

} // namespace

bool vsfStmtNameIs(const ParsedStatement* s, const char* name) {
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

bool vsfTokenIs(const HostToken* t, const char* word) {
  size_t n = std::strlen(word);
  if (!t || t->length != static_cast<int32_t>(n))
    return false;
  for (size_t i = 0; i < n; ++i)
    if (std::toupper(static_cast<unsigned char>(t->text[i])) != word[i])
      return false;
  return true;
}

void xinit(void*, void*, void*, void*, void*, void*) {
  HostTaskBlock* task = hostCurrentTask();
  if (!task)
    return;
  auto* root = static_cast<ParseRoot*>(xtalloc(sizeof(ParseRoot), 0x3006));
  if (!root)
    xexit(codeOf(StepRc::NoResources), 0);
  std::memset(static_cast<void*>(root), 0, sizeof *root);
  task->parseRoot = root;
  char buf[200];
  int32_t n = xoptcgt("DEBUG", buf, sizeof buf);
  if (n > 0) {
    std::string v;
    if (n < static_cast<int32_t>(sizeof buf)) {
      v.assign(buf, static_cast<size_t>(n));
    } else {
      auto* big = static_cast<char*>(xtalloc(n + 1, 0x2004));
      if (big) {
        // The length n came from the same option just before, so the copy fits.
        (void)xoptcgt("DEBUG", big, n + 1);
        v.assign(big, static_cast<size_t>(n));
        xtfree(big);
      }
    }
    for (char& c : v)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    root->syntaxTrace = v.find("SYN") != std::string::npos;
    root->semanticTrace = v.find("SEM") != std::string::npos;
  }
}

int32_t vsfa() {
  ParseRoot* root = hostParseRoot();
  VsfContext* ctx = currentContext();
  if (root && root->status != 0) {
    if (ctx)
      ctx->syntaxError = 1;
    root->status = 0;
  }
  return 0;
}

int32_t vsfb() {
  ParseRoot* root = hostParseRoot();
  VsfContext* ctx = currentContext();
  if (!root || !ctx || root->status != 0)
    return 0;
  const HostToken* t = xttkcur(xtanch());
  if (vsfTokenIs(t, "MODEL")) {
    bump(ctx->modelCount);
    if (!ctx->syntaxError) {
      int32_t nameLen = static_cast<int32_t>(stmtNumber(root->first, ProcSlot::NameLen, 20));
      zefprsi(nameLen, keyOf(ProcSlot::DirectVariables));
    }
  } else if (vsfTokenIs(t, "CLASS")) {
    if (ctx->modelCount)
      ctx->classCount = 1;
  } else if (vsfTokenIs(t, "PARTITION")) {
    bump(ctx->partitionCount);
  } else if (vsfTokenIs(t, "OUTPUT")) {
    bump(ctx->outputCount);
  } else if (vsfTokenIs(t, "FREQ") || vsfTokenIs(t, "FREQUENCY")) {
    // The aliases count too, so that a repeated statement in either form is refused.
    bump(ctx->freqCount);
  } else if (vsfTokenIs(t, "WEIGHT") || vsfTokenIs(t, "WEIGHTS") || vsfTokenIs(t, "WEIGHTS$")) {
    bump(ctx->weightCount);
  } else if (vsfTokenIs(t, "PERFORMANCE")) {
    bump(ctx->performanceCount);
  } else if (vsfTokenIs(t, "MODELAVERAGE")) {
    bump(ctx->modelAverageCount);
  }
  return 0;
}

int32_t zgetnmr(const NameListBlock* list, int64_t n, const char** text, int32_t* length) {
  if (!list || n < 0)
    return 1;
  int64_t firstIndex = 0;
  const NameListBlock* b = list;
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
  *text = reinterpret_cast<const char*>(b->names + at + 1);
  return 0;
}

ParsedStatement* findstmt(ParsedStatement* first, const char* name) {
  for (ParsedStatement* s = first; s; s = s->next)
    if (vsfStmtNameIs(s, name))
      return s;
  return nullptr;
}

void parse_effects() {}

void vsfGetNAMESTR(void* number, void* data, HostVariable* record, int32_t* counter) {
  HostVariable* v = nullptr;
  if (number && record &&
      xvname(static_cast<HostDataSet*>(data), *static_cast<int32_t*>(number), &v) == 0 && v)
    *record = *v;
  if (counter)
    ++*counter;
}

VsfStatus vsfParse(VsfContext* ctx) {
  ctx->stmt.parseStart = zdattim();
  // This host always delivers graphs (inline in the HTML output); PLOTS= may turn them off.
  ctx->stmt.plots.graphicsEnabled = 1;
  ParseHookTable hooks{};
  hooks.entries[HookEntry::Statement].after = vsfa;
  hooks.entries[HookEntry::Statement].before = vsfb;
  VsfGrammar* grammar = vsfselg();
  ctx->postFit = zxlpars(ctx, grammar, &hooks, nullptr);
  xtfree(grammar);
  ParseRoot* root = hostParseRoot();
  if (!root || root->status != 0 || ctx->syntaxError) {
    PostFitBridge* bridge = ctx->postFit;
    if (bridge != nullptr && bridge->methods != nullptr && bridge->methods->cleanup != nullptr)
      bridge->methods->cleanup(bridge, 0);
    ctx->postFit = nullptr;
    vsfRaiseRC(ctx, StepRc::StatementError);
    return statusOf(DriverResult::Refused);
  }
  VsfStatus result = VsfStatus::Ok;
  auto check = [&](bool failed, VsfMsg message, DriverResult code) {
    if (!failed)
      return;
    vsfRaiseRC(ctx, StepRc::StatementError);
    vsfLog(message);
    result = statusOf(code);
  };
  check(ctx->modelCount == 0, VsfMsg::ModelStatementRequired, DriverResult::NoModelStatement);
  check(ctx->classCount != 0, VsfMsg::ClassStatementAfterModel, DriverResult::ClassAfterModel);
  check(ctx->modelCount > 1, VsfMsg::OnlyOneModelStatement, DriverResult::Refused);
  check(ctx->partitionCount > 1, VsfMsg::OnlyOnePartitionStatement, DriverResult::Refused);
  check(ctx->weightCount > 1, VsfMsg::OnlyOneWeightStatement, DriverResult::Refused);
  check(ctx->freqCount > 1, VsfMsg::OnlyOneFreqStatement, DriverResult::Refused);
  check(ctx->performanceCount > 1, VsfMsg::OnlyOnePerformanceStatement, DriverResult::Refused);
  check(ctx->outputCount > 1, VsfMsg::OnlyOneOutputStatement, DriverResult::Refused);
  check(ctx->modelAverageCount > 1, VsfMsg::OnlyOneModelaverageStatement, DriverResult::Refused);
  if (result != VsfStatus::Ok)
    return result;

  ParsedStatement* first = root->first;
  VsfStatus rc = parse_proc(ctx, first);
  if (rc != VsfStatus::Ok)
    return rc;
  rc = parse_model(ctx, findstmt(first, "MODEL"));
  if (rc != VsfStatus::Ok)
    return rc;
  parse_class(ctx, first);
  parse_perf(ctx, first);
  if (ParsedStatement* out = findstmt(first, "OUTPUT"))
    parse_output(ctx, out);
  if (ParsedStatement* part = findstmt(first, "PARTITION")) {
    rc = parse_partition(ctx, part);
    if (rc != VsfStatus::Ok)
      return rc;
  }
  rc = parse_scores(ctx, first);
  if (rc != VsfStatus::Ok)
    return rc;
  if (ParsedStatement* ma = findstmt(first, "MODELAVERAGE"))
    return parse_bootstrap(ctx, ma);
  return VsfStatus::Ok;
}
