// Stand-ins for post-parse initialisation, levelisation, INEST and effect records until
// they are built; each reports itself as an internal error and returns a failure code.
#include "driver/vsfeffects.h"
#include "driver/vsflev.h"
#include "driver/vsfpostinit.h"

#include "support/hoststubs.h"

namespace {
int32_t notBuilt(const char* what) {
  xebug(what);
  return -99;
}
} // namespace

int32_t vsfPostInit(VsfContext*) { return notBuilt("vsfPostInit is not available in this build"); }
int32_t vsfInitializeModel(VsfContext*) {
  return notBuilt("vsfInitializeModel is not available in this build");
}
int32_t vsfSetupInEstScatter(VsfContext*) {
  return notBuilt("vsfSetupInEstScatter is not available in this build");
}
int32_t vsfReadInEstParms(VsfContext*) {
  return notBuilt("vsfReadInEstParms is not available in this build");
}
int32_t vsfPrepEffects(VsfContext*, QkPool*) {
  return notBuilt("vsfPrepEffects is not available in this build");
}
int32_t vsfMakeEffectNames(VsfContext*, QkPool*) {
  return notBuilt("vsfMakeEffectNames is not available in this build");
}
int32_t vsfSplitEffects(VsfContext*, QkPool*) {
  return notBuilt("vsfSplitEffects is not available in this build");
}
int32_t vsfSetEffectListNParms(VsfContext*) {
  return notBuilt("vsfSetEffectListNParms is not available in this build");
}
int32_t vsfSplitHierarchy(VsfContext*, QkPool*) {
  return notBuilt("vsfSplitHierarchy is not available in this build");
}
