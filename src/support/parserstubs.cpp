// Forwarding stubs of the host's statement-parser group (31): tokens, the parse run,
// list slots and list expansion. Declared in support/hoststubs.h; the host implements them.
#include "support/hoststubs.h"
#include "support/parsedstmt.h"

namespace {
HostParserServices* parser() { return hostGroups(HG_PARSER)->parser; }
} // namespace

int32_t xsproc(VsfGrammar* grammar, ParseRoot* root, int32_t mode, ParseHookTable* hooks,
               void* reserved1, void* reserved2) {
  return parser()->xsproc(grammar, root, mode, hooks, reserved1, reserved2);
}
HostParser* xtanch() { return parser()->xtanch(); }
const HostToken* xttkcur(HostParser* p) { return parser()->xttkcur(p); }
const HostToken* yttkpk(HostParser* p, int32_t ahead) { return parser()->yttkpk(p, ahead); }
void ytokrla(HostParser* p) { parser()->ytokrla(p); }
double xtoknum(const HostToken* token) { return parser()->xtoknum(token); }
int32_t zaddlst(OptionSlot* slot, int32_t itemSize, int32_t more) {
  return parser()->zaddlst(slot, itemSize, more);
}
int32_t zaddvar(HostDataSet* ds, HostVarList* out, int32_t mode, int32_t flags, const char* first,
                int32_t firstLength, const char* second, int32_t secondLength, int32_t listKind) {
  return parser()->zaddvar(ds, out, mode, flags, first, firstLength, second, secondLength,
                           listKind);
}
void zadverr(ParseRoot* root, HostDataSet* ds, int32_t flags, const char* first,
             int32_t firstLength, const char* second, int32_t secondLength, HostVarList* list,
             int32_t reserved, int32_t listKind, int32_t code) {
  parser()->zadverr(root, ds, flags, first, firstLength, second, secondLength, list, reserved,
                    listKind, code);
}
int32_t xpfs(char* buffer, int32_t width, int32_t decimals, double value) {
  return parser()->xpfs(buffer, width, decimals, value);
}
int32_t xttkqsp(HostParser* p, int32_t which) { return parser()->xttkqsp(p, which); }
void xttksp(HostParser* p, int32_t which, int32_t on) { parser()->xttksp(p, which, on); }
void* xtalloc(int64_t size, uint32_t flags) { return parser()->xtalloc(size, flags); }
void xtfree(void* block) { parser()->xtfree(block); }
int32_t xoptcgt(const char* name, char* buffer, int32_t capacity) {
  return parser()->xoptcgt(name, buffer, capacity);
}
