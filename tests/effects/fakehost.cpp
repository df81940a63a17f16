// The fake host of the effect-library tests (see fakehost.h).
#include "fakehost.h"

#include "support/hoststubs.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace efftest {

namespace {

FakeHost* g_current = nullptr;

std::string upper(std::string s) {
  for (auto& c : s)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string argText(const HostMsgArg& a) {
  switch (a.kind) {
  case HostMsgArg::Int:
    return std::to_string(a.i);
  case HostMsgArg::Dbl:
    return std::to_string(a.d);
  default:
    return std::string(a.s ? a.s : "", a.s ? static_cast<size_t>(a.len) : 0);
  }
}

void fakeLog(int32_t set, int32_t number, const HostMsgArg* args, int32_t count) {
  Message m{set, number, {}};
  for (int32_t i = 0; i < count; ++i)
    m.values.push_back(argText(args[i]));
  g_current->messages.push_back(m);
}

[[noreturn]] void fakeExit(int32_t code, int32_t) { throw ExitCalled{code}; }

int32_t fakeOption(const char* name, char* buffer, int32_t capacity) {
  if (std::strcmp(name, "VALIDVARNAME") != 0)
    return -1;
  std::snprintf(buffer, static_cast<size_t>(capacity), "%s", g_current->validVarName.c_str());
  return static_cast<int32_t>(g_current->validVarName.size());
}

void* poolAllocate(QkPool*, size_t size, uint32_t) { return g_current->alloc(size); }
void poolFree(QkPool*, void*) {}

int32_t fakeFind(HostDataSet*, const char* name, int32_t length, int32_t* number, int32_t) {
  *number = g_current->varNumber(std::string(name, static_cast<size_t>(length)));
  return 0;
}

int32_t fakeName(HostDataSet*, int32_t number, HostVariable** out) {
  if (number < 1 || number > static_cast<int32_t>(g_current->vars.size()))
    return 1;
  *out = g_current->vars[static_cast<size_t>(number - 1)].get();
  return 0;
}

int32_t fakeFormats(HostDataSet*, int32_t, const int32_t*, int32_t) { return 0; }

const HostToken* fakePeek(HostParser*, int32_t ahead) {
  size_t at = g_current->position + static_cast<size_t>(ahead);
  if (at >= g_current->tokens.size())
    return &g_current->tokens.back();
  return &g_current->tokens[at];
}
void fakeResetPeek(HostParser*) {}
double fakeNumber(const HostToken* token) { return token->number; }

// List expansion over the fake data set: numbered ranges (x1-x3) and positional ranges.
int32_t fakeExpand(HostDataSet*, HostVarList* out, int32_t mode, int32_t, const char* first,
                   int32_t firstLength, const char* second, int32_t secondLength, int32_t kind) {
  std::string a(first ? first : "", first ? static_cast<size_t>(firstLength) : 0);
  std::string b(second ? second : "", second ? static_cast<size_t>(secondLength) : 0);
  std::vector<int32_t> numbers;
  if (kind == HLK_NUMBERED && mode == 3) {
    size_t pa = a.find_first_of("0123456789"), pb = b.find_first_of("0123456789");
    if (pa == std::string::npos || pb == std::string::npos)
      return 1;
    int lo = std::atoi(a.c_str() + pa), hi = std::atoi(b.c_str() + pb);
    for (int i = lo; i <= hi; ++i) {
      int n = g_current->varNumber(a.substr(0, pa) + std::to_string(i));
      if (n == 0)
        return 2;
      numbers.push_back(n);
    }
  } else if (kind == HLK_POSITIONAL) {
    int lo = g_current->varNumber(a), hi = g_current->varNumber(b);
    for (int i = lo; i <= hi && lo > 0; ++i)
      numbers.push_back(i);
  } else if (kind == HLK_PREFIX) {
    for (size_t i = 0; i < g_current->varInfo.size(); ++i)
      if (upper(g_current->varInfo[i].name).rfind(upper(a), 0) == 0)
        numbers.push_back(static_cast<int32_t>(i + 1));
  } else {
    return 3;
  }
  out->count = static_cast<int32_t>(numbers.size());
  out->capacity = out->count;
  out->numbers = static_cast<int32_t*>(g_current->alloc(sizeof(int32_t) * (numbers.size() + 1)));
  for (size_t i = 0; i < numbers.size(); ++i)
    out->numbers[i] = numbers[i];
  return 0;
}

void fakeListError(ParseRoot* root, HostDataSet*, int32_t, const char*, int32_t, const char*,
                   int32_t, HostVarList*, int32_t, int32_t, int32_t) {
  HostMsgArg none;
  fakeLog(848, 999, &none, 0);
  root->status = 2000;
}

int32_t fakeFormat(char* buffer, int32_t width, int32_t, double value) {
  char tmp[64];
  int n = std::snprintf(tmp, sizeof tmp, "%.12g", value);
  int w = width < 0 ? -width : width;
  std::memset(buffer, ' ', static_cast<size_t>(w));
  std::memcpy(buffer, tmp, static_cast<size_t>(n < w ? n : w));
  return w;
}

int32_t fakeAddlst(OptionSlot* slot, int32_t itemSize, int32_t more) {
  if (g_current->addlstResult != 0)
    return g_current->addlstResult;
  int32_t need = slot->value.list.count + more;
  if (need <= slot->value.list.capacity && slot->items.any != nullptr)
    return 0;
  int32_t capacity = need > 2 * slot->value.list.capacity ? need : 2 * slot->value.list.capacity;
  void* fresh = g_current->alloc(static_cast<size_t>(capacity) * static_cast<size_t>(itemSize));
  if (slot->items.any != nullptr && slot->value.list.count > 0)
    std::memcpy(fresh, slot->items.any,
                static_cast<size_t>(slot->value.list.count) * static_cast<size_t>(itemSize));
  slot->items.any = fresh;
  slot->value.list.capacity = capacity;
  return 0;
}

void fakeBug(const char* text) { throw std::runtime_error(text); }

// The data set's name (item 81) for messages; the fake data set has none.
int32_t fakeInfo(HostDataSet*, int32_t, char* buffer, int32_t capacity) {
  if (capacity > 0)
    buffer[0] = '\0';
  return 0;
}

bool isNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

} // namespace

FakeHost* current() { return g_current; }

FakeHost::FakeHost() {
  saved = v_global_gcb_anchor;
  g_current = this;
  supervisor.xpmlog = fakeLog;
  supervisor.xexit = fakeExit;
  supervisor.xoption = fakeOption;
  dataSetServices.xvfind = fakeFind;
  dataSetServices.xvname = fakeName;
  dataSetServices.xoinfo = fakeInfo;
  dataSetServices.xffile = fakeFormats;
  parserServices.yttkpk = fakePeek;
  parserServices.ytokrla = fakeResetPeek;
  parserServices.xtoknum = fakeNumber;
  parserServices.zaddvar = fakeExpand;
  parserServices.zadverr = fakeListError;
  parserServices.xpfs = fakeFormat;
  parserServices.zaddlst = fakeAddlst;
  internal.xebug = fakeBug;
  groups.supervisor = &supervisor;
  groups.dataSet = &dataSetServices;
  groups.parser = &parserServices;
  groups.internalError = &internal;
  pool.allocate = poolAllocate;
  pool.free = poolFree;
  cb.groups = &groups;
  cb.task = &task;
  cb.defaultPool = &pool;
  task.parseRoot = &root;
  v_global_gcb_anchor = &cb;
  holder = addStatement("VARSIFTER");
  root.dataSet = dataSet;
}

FakeHost::~FakeHost() {
  v_global_gcb_anchor = saved;
  for (void* b : blocks)
    std::free(b);
  g_current = nullptr;
}

void* FakeHost::alloc(size_t size) {
  void* b = std::calloc(1, size ? size : 1);
  blocks.push_back(b);
  return b;
}

int FakeHost::addVar(const std::string& name, int type, int length, int formatWidth) {
  auto v = std::make_unique<HostVariable>();
  std::memset(v.get(), 0, sizeof(HostVariable));
  std::snprintf(v->nameText, sizeof v->nameText, "%s", name.c_str());
  v->name = v->nameText;
  v->nameLength = static_cast<int16_t>(name.size());
  v->type = static_cast<uint8_t>(type);
  v->length = length;
  v->number = static_cast<int32_t>(vars.size() + 1);
  if (formatWidth > 0) {
    v->formatNameLength = 4;
    v->formatWidth = formatWidth;
  }
  vars.push_back(std::move(v));
  varInfo.push_back(FakeVar{name, type, length, formatWidth, ""});
  return static_cast<int>(vars.size());
}

int FakeHost::varNumber(const std::string& name) const {
  for (size_t i = 0; i < varInfo.size(); ++i)
    if (upper(varInfo[i].name) == upper(name))
      return static_cast<int>(i + 1);
  return 0;
}

ParsedStatement* FakeHost::addStatement(const std::string& name) {
  auto s = std::make_unique<ParsedStatement>();
  std::memset(s.get(), 0, sizeof(ParsedStatement));
  std::memset(s->name, ' ', sizeof s->name);
  std::memcpy(s->name, name.data(), name.size() < 32 ? name.size() : 32);
  auto slots = std::make_unique<OptionSlot[]>(64);
  std::memset(slots.get(), 0, sizeof(OptionSlot) * 64);
  s->slots = slots.get();
  s->slotCount = 64;
  ParsedStatement* raw = s.get();
  if (!statements.empty())
    statements.back()->next = raw;
  else
    root.first = raw;
  root.last = raw;
  statements.push_back(std::move(s));
  slotArrays.push_back(std::move(slots));
  return raw;
}

void FakeHost::setCurrent(ParsedStatement* stmt, int effectSlot) {
  root.current = stmt;
  root.effectSlot = static_cast<int16_t>(effectSlot);
}

void FakeHost::setFlag(ParsedStatement* s, int k) { s->flags[k / 8] |= 0x80u >> (k % 8); }

void FakeHost::setNumber(ParsedStatement* s, int k, double v) {
  s->slots[k].present = 1;
  s->slots[k].kind = OSK_NUMBER;
  s->slots[k].value.number = v;
}

void FakeHost::setVarList(ParsedStatement* s, int k, const std::vector<std::string>& names) {
  auto* items = static_cast<int32_t*>(alloc(sizeof(int32_t) * (names.size() + 1)));
  for (size_t i = 0; i < names.size(); ++i)
    items[i] = varNumber(names[i]);
  s->slots[k].present = 1;
  s->slots[k].kind = OSK_INTLIST;
  s->slots[k].value.list.count = static_cast<int32_t>(names.size());
  s->slots[k].value.list.capacity = static_cast<int32_t>(names.size());
  s->slots[k].items.ints = items;
}

void FakeHost::setDoubles(ParsedStatement* s, int k, const std::vector<double>& values) {
  auto* items = static_cast<double*>(alloc(sizeof(double) * (values.size() + 1)));
  for (size_t i = 0; i < values.size(); ++i)
    items[i] = values[i];
  s->slots[k].present = 1;
  s->slots[k].kind = OSK_DBLLIST;
  s->slots[k].value.list.count = static_cast<int32_t>(values.size());
  s->slots[k].items.doubles = items;
}

void FakeHost::setText(ParsedStatement* s, int k, const std::string& text) {
  texts.push_back(text);
  s->slots[k].present = 1;
  s->slots[k].kind = OSK_TEXT;
  s->slots[k].value.list.count = static_cast<int32_t>(text.size());
  s->slots[k].items.text = texts.back().data();
}

void FakeHost::setNameList(ParsedStatement* s, int k, const std::vector<std::string>& names) {
  auto* block = static_cast<NameListBlock*>(alloc(sizeof(NameListBlock)));
  size_t used = 0;
  for (const auto& n : names) {
    block->names[used++] = static_cast<uint8_t>(n.size());
    std::memcpy(block->names + used, n.data(), n.size());
    used += n.size();
  }
  block->used = static_cast<int64_t>(used);
  block->lastIndex = static_cast<int64_t>(names.size()) - 1;
  s->slots[k].present = 1;
  s->slots[k].kind = OSK_NAMELIST;
  s->slots[k].value.list.count = static_cast<int32_t>(names.size());
  s->slots[k].items.names = block;
}

void FakeHost::setClass(const std::vector<std::string>& names) { setVarList(holder, 2, names); }

const HostToken* FakeHost::token(const std::string& text, double number) {
  texts.push_back(text);
  HostToken t{};
  t.text = texts.back().data();
  t.length = static_cast<int32_t>(text.size());
  t.number = number;
  tokens.push_back(t);
  return nullptr;
}

void FakeHost::action(int code, int operand, const HostToken* tok) {
  EffectAction a{0, static_cast<int16_t>(code), static_cast<int16_t>(operand)};
  zeffect(nullptr, tok, &a);
}

ParsedStatement* FakeHost::model(const std::string& effects, int nameLen) {
  ParsedStatement* stmt = addStatement("MODEL");
  setCurrent(stmt, 1);
  zefprsi(nameLen, 1);
  // Tokens of the effect list, then the ";".
  tokens.clear();
  for (size_t i = 0; i < effects.size();) {
    char c = effects[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (isNameChar(c) && !std::isdigit(static_cast<unsigned char>(c))) {
      size_t j = i;
      while (j < effects.size() && isNameChar(effects[j]))
        ++j;
      token(effects.substr(i, j - i));
      i = j;
    } else if (std::isdigit(static_cast<unsigned char>(c))) {
      size_t j = i;
      while (j < effects.size() && std::isdigit(static_cast<unsigned char>(effects[j])))
        ++j;
      token(effects.substr(i, j - i), std::atof(effects.substr(i, j - i).c_str()));
      i = j;
    } else {
      token(std::string(1, c));
      ++i;
    }
  }
  token(";");
  position = 0;
  auto text = [&](size_t at) -> std::string {
    return at < tokens.size() ? std::string(tokens[at].text, static_cast<size_t>(tokens[at].length))
                              : ";";
  };
  auto tok = [&]() { return &tokens[position]; };
  auto term = [&]() {
    action(0);
    for (;;) {
      action(1, 0, tok());
      ++position;
      if (text(position) == "*") {
        ++position;
        continue;
      }
      break;
    }
    if (text(position) == "(") {
      ++position;
      for (;;) {
        action(2, 0, tok());
        ++position;
        if (text(position) == "=") { // var=value: the value lands in slot 9, then action 3
          ++position;
          setNumber(root.current, 9, tokens[position].number);
          action(3);
          ++position;
        }
        if (text(position) == "*") {
          ++position;
          continue;
        }
        break;
      }
      ++position; // ")"
    }
    action(5);
  };
  action(16);
  while (text(position) != ";") {
    action(8, 0);
    action(7, 0);
    term();
    for (;;) {
      if (text(position) == "|") {
        ++position;
        action(10, 0);
        term();
      } else if (text(position) == "-") {
        ++position;
        if (text(position) == "-") {
          ++position;
          action(10, 2);
        } else {
          action(10, 1);
        }
        term();
      } else {
        break;
      }
    }
    if (text(position) == "@") {
      ++position;
      action(12, 0, tok());
      ++position;
    }
    action(6);
  }
  action(17);
  return stmt;
}

ParsedStatement* FakeHost::effectStmt(const std::string& name, EffectVarKind kind,
                                      const std::vector<std::string>& vars) {
  ParsedStatement* stmt = addStatement("EFFECT");
  setCurrent(stmt, 1);
  action(14);
  setNameList(stmt, 1, {name});
  setNumber(stmt, 2, static_cast<int>(kind));
  setVarList(stmt, 3, vars);
  return stmt;
}

std::vector<std::string> FakeHost::effectNames(ParsedStatement* s, int slot) const {
  std::vector<std::string> names;
  const OptionSlot& os = s->slots[slot];
  for (int32_t i = 0; os.present && i < os.value.list.count; ++i) {
    auto* node = static_cast<EffectChainNode*>(os.items.pointers[i]);
    names.emplace_back(node->name, static_cast<size_t>(node->nameLength));
  }
  return names;
}

int FakeHost::count(MsgId id) const {
  int n = 0;
  for (const auto& m : messages)
    n += id.is(m.set, m.number);
  return n;
}

} // namespace efftest
