// Forwarding calls of the effect callback into the host parser's service group. Each one
// marks the group as called and passes its arguments through unchanged.
#include "effects/effhost.h"

#include "support/hoststubs.h"

namespace {
HostParserServices* parserGroup() { return hostGroups(HG_PARSER)->parser; }
} // namespace

const HostToken* effPeekToken(HostParser* parser, int32_t ahead) {
  return parserGroup()->yttkpk(parser, ahead);
}
void effResetPeek(HostParser* parser) { parserGroup()->ytokrla(parser); }
double effTokenNumber(const HostToken* token) { return parserGroup()->xtoknum(token); }
int32_t effExpandList(HostDataSet* ds, HostVarList* out, int32_t mode, const char* first,
                      int32_t firstLength, const char* second, int32_t secondLength,
                      int32_t listKind) {
  return parserGroup()->zaddvar(ds, out, mode, 0, first, firstLength, second, secondLength,
                                listKind);
}
void effReportListError(ParseRoot* root, HostDataSet* ds, const char* first, int32_t firstLength,
                        const char* second, int32_t secondLength, HostVarList* list,
                        int32_t listKind, int32_t code) {
  parserGroup()->zadverr(root, ds, 0, first, firstLength, second, secondLength, list, 0, listKind,
                         code);
}
int32_t effFormatNumber(char* buffer, int32_t width, int32_t decimals, double value) {
  return parserGroup()->xpfs(buffer, width, decimals, value);
}
