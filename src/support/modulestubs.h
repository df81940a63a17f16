// The module's calls of the host's group 12 (sibling modules): each forwards to the service
// of the same name, or fails when the host has none.
#pragma once

#include "support/postfit.h"

[[nodiscard]] int32_t wiloadv(void** handle, const char* name, int32_t a, int32_t b, int32_t c,
                              int32_t d);
[[nodiscard]] int32_t viidb2g(void* handle, PostFitEntry* entry);
void xpslog(const char* text);
