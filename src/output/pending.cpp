// Stand-ins for the results until they are built; each reports itself as an internal
// error and returns a failure code.
#include "output/vsfresults.h"

#include "support/notbuilt.h"

namespace {
// Each stand-in journals itself as an internal error and returns kVsfNotBuilt.
constexpr auto notBuilt = vsfNotBuiltInternal;
} // namespace

int32_t vsfpPerf(VsfContext*) { return notBuilt("vsfpPerf is not available in this build"); }
int32_t vsfTimes(VsfContext*) { return notBuilt("vsfTimes is not available in this build"); }
