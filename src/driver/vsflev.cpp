// The levelisation step of a BY group: runs the design library's levelisation and maps
// its outcome to the run's return code.
#include "driver/vsflev.h"

#include "driver/vsfcontext.h"
#include "driver/vsfsteps.h"
#include "support/hoststubs.h"

#include <algorithm>

int32_t vsfLev(VsfContext* ctx) {
  int32_t result = vsfSteps().zlevrgi(&ctx->design);
  int32_t libraryCode = ctx->design.design != nullptr ? ctx->design.design->worstReturnCode : 0;
  int32_t worse = std::max(ctx->returnCode, libraryCode);
  if (result == 6) {
    vsfRaiseRC(ctx, std::max(worse, 112));
  } else {
    vsfRaiseRC(ctx, worse);
    if (result == 1) {
      xpmlog(848, 144);
      vsfRaiseRC(ctx, 108);
    }
  }
  return result;
}
