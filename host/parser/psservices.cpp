// The host parser's service group (31): the parse run, the token stream of the step,
// token peeking, list slots, the variable-list expander and its error reports, number
// formatting, the general allocator and the parse memory. The interpreter itself is in
// rdparse.cpp. Declared in host/parser/psparser.h.
#include "host/hostapi.h"
#include "host/hostlog.h"
#include "host/parser/psparser.h"
#include "host/supervisor.h"
#include "host/utf8text.h"
#include "support/hoststubs.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

namespace qrxhost {

namespace {

// ---- parse memory ----

std::vector<std::unique_ptr<uint8_t[]>>& arena() {
  static std::vector<std::unique_ptr<uint8_t[]>> blocks;
  return blocks;
}

// ---- the general allocator: blocks are freed by xtfree or at exit ----

struct Tracked {
  std::mutex mu;
  std::unordered_set<void*> live;
  ~Tracked() {
    for (void* p : live)
      std::free(p);
  }
};
Tracked& tracked() {
  static Tracked t;
  return t;
}

void* sAlloc(int64_t size, uint32_t) {
  if (size < 0 || size > (int64_t{1} << 40))
    return nullptr;
  void* p = std::calloc(1, static_cast<size_t>(size ? size : 1));
  if (p) {
    std::lock_guard<std::mutex> lock(tracked().mu);
    tracked().live.insert(p);
  }
  return p;
}
void sFree(void* p) {
  if (!p)
    return;
  {
    std::lock_guard<std::mutex> lock(tracked().mu);
    if (tracked().live.erase(p) == 0)
      return; // not ours: ignore rather than corrupt the heap
  }
  std::free(p);
}

// ---- token stream ----

HostParser& stepParser() {
  static HostParser parser;
  return parser;
}

HostParser* sTanch() {
  HostParser& p = stepParser();
  const StepSource& src = currentStepSource();
  if (p.toks.empty() || p.sourceText != src.text)
    loadParserText(&p, src.text, src.firstLine, src.firstColumn);
  return &p;
}

const HostToken* sCur(HostParser* p) {
  if (!p || p->toks.empty())
    return nullptr;
  return &p->toks[std::min(p->pos, p->toks.size() - 1)];
}
const HostToken* sPeek(HostParser* p, int32_t ahead) {
  if (!p || p->toks.empty())
    return nullptr;
  size_t i = p->pos + static_cast<size_t>(ahead < 0 ? 0 : ahead);
  return &p->toks[std::min(i, p->toks.size() - 1)];
}
void sRla(HostParser*) {}
double sNum(const HostToken* t) {
  if (!t || (t->tokenClass != TC_INT && t->tokenClass != TC_NBR))
    return hostMissing();
  return t->number;
}

int32_t sAddlst(OptionSlot* slot, int32_t itemSize, int32_t more) {
  if (!slot || itemSize <= 0 || more < 0)
    return -1;
  int64_t need = static_cast<int64_t>(slot->value.list.count) + more;
  if (slot->value.list.count < 0 || need > (1 << 28))
    return -1;
  if (need <= slot->value.list.capacity && slot->items.any)
    return 0;
  int64_t cap = std::max<int64_t>({8, 2 * static_cast<int64_t>(slot->value.list.capacity), need});
  void* fresh = parseAlloc(static_cast<size_t>(cap * itemSize));
  if (slot->items.any && slot->value.list.count > 0)
    std::memcpy(fresh, slot->items.any, static_cast<size_t>(slot->value.list.count) * itemSize);
  slot->items.any = fresh;
  slot->value.list.capacity = static_cast<int32_t>(cap);
  return 0;
}

// ---- variable lists ----

std::string up(const char* s, int32_t n) {
  return nameUpper(std::string(s ? s : "", s ? static_cast<size_t>(std::max(n, 0)) : 0));
}

struct VarInfo {
  std::string name;
  int type;
};

bool describe(HostDataSet* ds, int32_t number, VarInfo* out) {
  HostVariable* v = nullptr;
  if (xvname(ds, number, &v) != 0 || !v)
    return false;
  out->name = up(v->name, v->nameLength);
  out->type = v->type;
  return true;
}

// Splits a name into its prefix and trailing number; false when it has no digits.
bool numbered(const std::string& name, std::string* prefix, long* n) {
  size_t k = name.size();
  while (k > 0 && std::isdigit(static_cast<unsigned char>(name[k - 1])))
    --k;
  if (k == name.size() || name.size() - k > 9)
    return false;
  *prefix = name.substr(0, k);
  *n = std::strtol(name.c_str() + k, nullptr, 10);
  return true;
}

void push(HostVarList* out, int32_t number, const std::string* name) {
  if (out->count == out->capacity) {
    int32_t cap = out->capacity ? out->capacity * 2 : 16;
    auto* nums = static_cast<int32_t*>(parseAlloc(sizeof(int32_t) * cap));
    auto* names = static_cast<char**>(parseAlloc(sizeof(char*) * cap));
    auto* lens = static_cast<int32_t*>(parseAlloc(sizeof(int32_t) * cap));
    if (out->count) {
      std::memcpy(nums, out->numbers, sizeof(int32_t) * out->count);
      std::memcpy(names, out->names, sizeof(char*) * out->count);
      std::memcpy(lens, out->nameLengths, sizeof(int32_t) * out->count);
    }
    out->numbers = nums;
    out->names = names;
    out->nameLengths = lens;
    out->capacity = cap;
  }
  out->numbers[out->count] = number;
  if (name) {
    char* t = static_cast<char*>(parseAlloc(name->size() + 1));
    std::memcpy(t, name->data(), name->size());
    out->names[out->count] = t;
    out->nameLengths[out->count] = static_cast<int32_t>(name->size());
  }
  out->count++;
}

// Error codes of the expander, reported by zadverr.
enum : int32_t {
  VE_FIRST = 1,    // first name not found
  VE_SECOND = 2,   // second name not found
  VE_ORDER = 3,    // range given backwards
  VE_NONE = 4,     // no variable matches
  VE_NUMBERED = 5, // the two names do not form a numbered range
  VE_NODATA = 6,   // no data set
};

int32_t sAddvar(HostDataSet* ds, HostVarList* out, int32_t mode, int32_t, const char* first,
                int32_t firstLength, const char* second, int32_t secondLength, int32_t kind) {
  if (!out)
    return VE_NODATA;
  *out = HostVarList{};
  std::string a = up(first, firstLength), b = up(second, secondLength);
  if (kind == HLK_NUMBERED) {
    std::string pa, pb;
    long na = 0, nb = 0;
    if (!numbered(a, &pa, &na) || !numbered(b, &pb, &nb) || pa != pb)
      return VE_NUMBERED;
    if (nb < na)
      return VE_ORDER;
    if (nb - na > 100000)
      return VE_NUMBERED;
    for (long k = na; k <= nb; ++k) {
      std::string nm = pa + std::to_string(k);
      if (mode == 7) {
        push(out, 0, &nm);
        continue;
      }
      int32_t num = 0;
      if (!ds || xvfind(ds, nm.data(), static_cast<int32_t>(nm.size()), &num, 0) != 0 || num <= 0)
        return k == na ? VE_FIRST : VE_SECOND;
      push(out, num, nullptr);
    }
    return 0;
  }
  if (!ds)
    return VE_NODATA;
  int32_t nvar = xdsnvar(ds);
  auto find = [&](const std::string& nm) {
    int32_t num = 0;
    if (xvfind(ds, nm.data(), static_cast<int32_t>(nm.size()), &num, 0) != 0)
      return 0;
    return num;
  };
  switch (kind) {
  case HLK_SINGLE: {
    int32_t n = find(a);
    if (n <= 0)
      return VE_FIRST;
    push(out, n, nullptr);
    return 0;
  }
  case HLK_POSITIONAL:
  case HLK_NUMERIC_RANGE:
  case HLK_CHARACTER_RANGE: {
    int32_t p = find(a), q = find(b);
    if (p <= 0)
      return VE_FIRST;
    if (q <= 0)
      return VE_SECOND;
    if (q < p)
      return VE_ORDER;
    for (int32_t i = p; i <= q; ++i) {
      VarInfo vi;
      if (!describe(ds, i, &vi))
        continue;
      if ((kind == HLK_NUMERIC_RANGE && vi.type != 1) ||
          (kind == HLK_CHARACTER_RANGE && vi.type != 2))
        continue;
      push(out, i, nullptr);
    }
    return out->count ? 0 : VE_NONE;
  }
  case HLK_PREFIX:
  case HLK_NUMERIC:
  case HLK_CHARACTER:
  case HLK_ALL:
    for (int32_t i = 1; i <= nvar; ++i) {
      VarInfo vi;
      if (!describe(ds, i, &vi))
        continue;
      bool take = kind == HLK_ALL || (kind == HLK_NUMERIC && vi.type == 1) ||
                  (kind == HLK_CHARACTER && vi.type == 2) ||
                  (kind == HLK_PREFIX && vi.name.compare(0, a.size(), a) == 0);
      if (take)
        push(out, i, nullptr);
    }
    return out->count ? 0 : VE_NONE;
  default:
    return VE_NONE;
  }
}

void sAdverr(ParseRoot* root, HostDataSet*, int32_t, const char* first, int32_t firstLength,
             const char* second, int32_t secondLength, HostVarList*, int32_t, int32_t kind,
             int32_t code) {
  if (code == 0)
    return;
  HostParser* p = root ? root->parser : nullptr;
  const HostToken* t = p ? sCur(p) : nullptr;
  int line = t ? t->line : 0, col = t ? t->column : 0;
  std::string a(first ? first : "", first ? static_cast<size_t>(std::max(firstLength, 0)) : 0);
  std::string b(second ? second : "", second ? static_cast<size_t>(std::max(secondLength, 0)) : 0);
  if (code == VE_FIRST || code == VE_SECOND) {
    const std::string& nm = code == VE_FIRST ? a : b;
    HostMsgArg args[4] = {HostMsgArg(line), HostMsgArg(col), HostMsgArg(nm.c_str()),
                          HostMsgArg("")};
    logMessage(kParserMsgSet, PM_VARIABLE, args, 4);
  } else if (code == VE_NODATA) {
    HostMsgArg args[4] = {HostMsgArg(line), HostMsgArg(col), HostMsgArg(""), HostMsgArg("")};
    logMessage(kParserMsgSet, PM_NODATA, args, 4);
  } else {
    static const char* why[] = {"",
                                "",
                                "",
                                "the range is given backwards",
                                "no variable matches it",
                                "it is not a numbered range"};
    std::string item = a;
    if (kind >= HLK_NUMBERED && kind <= HLK_CHARACTER_RANGE)
      item += "-" + b;
    else if (kind == HLK_PREFIX)
      item += ":";
    else if (kind == HLK_NUMERIC)
      item = "_NUMERIC_";
    else if (kind == HLK_CHARACTER)
      item = "_CHARACTER_";
    else if (kind == HLK_ALL)
      item = "_ALL_";
    HostMsgArg args[4] = {HostMsgArg(line), HostMsgArg(col), HostMsgArg(item.c_str()),
                          HostMsgArg(code >= 3 && code <= 5 ? why[code] : "")};
    logMessage(kParserMsgSet, PM_VARLIST, args, 4);
  }
  if (root && root->status == kParseOk)
    root->status = kParseFailed;
}

int32_t sPfs(char* buffer, int32_t width, int32_t decimals, double value) {
  int32_t w = width < 0 ? -width : width;
  if (!buffer || w <= 0)
    return 0;
  char tmp[64];
  if (isHostMissing(value))
    std::snprintf(tmp, sizeof tmp, ".");
  else if (decimals >= 0 && decimals < 30)
    std::snprintf(tmp, sizeof tmp, "%.*f", decimals, value);
  else
    std::snprintf(tmp, sizeof tmp, "%.15g", value);
  int32_t n = static_cast<int32_t>(std::strlen(tmp));
  if (n > w)
    n = w;
  std::memset(buffer, ' ', static_cast<size_t>(w));
  if (width < 0)
    std::memcpy(buffer, tmp, static_cast<size_t>(n));
  else
    std::memcpy(buffer + (w - n), tmp, static_cast<size_t>(n));
  return w;
}

int32_t sQsp(HostParser* p, int32_t) { return p && p->tokenSave ? 1 : 0; }
void sSp(HostParser* p, int32_t, int32_t on) {
  if (p)
    p->tokenSave = on != 0;
}

int32_t sOptcgt(const char* name, char* buffer, int32_t capacity) {
  auto v = hostOption(name ? name : "");
  if (!v)
    return -1;
  int32_t n = static_cast<int32_t>(v->size());
  if (buffer && capacity > 0) {
    int32_t m = std::min(n, capacity - 1);
    std::memcpy(buffer, v->data(), static_cast<size_t>(m));
    buffer[m] = '\0';
  }
  return n;
}

int32_t sProc(VsfGrammar* grammar, ParseRoot* root, int32_t mode, ParseHookTable* hooks, void*,
              void*) {
  parseArenaReset();
  return runStatementParse(grammar, root, mode, hooks);
}

} // namespace

void* parseAlloc(size_t size) {
  auto block = std::make_unique<uint8_t[]>(size ? size : 1); // value-initialised: zeroed
  void* p = block.get();
  arena().push_back(std::move(block));
  return p;
}

void parseArenaReset() { arena().clear(); }

HostParserServices* parserServices() {
  static HostParserServices s{};
  s.xsproc = sProc;
  s.xtanch = sTanch;
  s.xttkcur = sCur;
  s.yttkpk = sPeek;
  s.ytokrla = sRla;
  s.xtoknum = sNum;
  s.zaddlst = sAddlst;
  s.zaddvar = sAddvar;
  s.zadverr = sAdverr;
  s.xpfs = sPfs;
  s.xttkqsp = sQsp;
  s.xttksp = sSp;
  s.xtalloc = sAlloc;
  s.xtfree = sFree;
  s.xoptcgt = sOptcgt;
  return &s;
}

} // namespace qrxhost
