// The bridge object to the sibling module that runs the post-fit statements; its layout is
// shared with the host (support/postfit.h).
#pragma once

#include "support/postfit.h"
