// Stand-in for the seed publication of the Lehmer stream until the random streams are
// built: publishing nothing is the right outcome when no stream was seeded.
#include "numerics/zranms.h"

void zranms(int64_t*, int32_t) {}
