// Stand-ins for the results until they are built; each reports itself as an internal
// error and returns a failure code.
#include "output/vsfresults.h"

#include "support/hoststubs.h"

namespace {
int32_t notBuilt(const char* what) {
  xebug(what);
  return -99;
}
} // namespace

int32_t vsfPrepScores(VsfContext*) { return notBuilt("vsfPrepScores is not available in this build"); }
int32_t vsfpParameterNames(VsfContext*, VsfModel*) { return notBuilt("vsfpParameterNames is not available in this build"); }
int32_t vsfMakeDesignMacroVar(VsfContext*, VsfModel*) { return notBuilt("vsfMakeDesignMacroVar is not available in this build"); }
int32_t vsfScoreResults(VsfContext *, VsfModel *) {
  return notBuilt("vsfScoreResults is not available in this build");
}
