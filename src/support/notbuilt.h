// The roads of a run that this build does not have yet: each ends its step with one code,
// after a catalogued note (a road the user can ask for) or an internal-error journal line
// (a road only a later part of the run would take).
#pragma once

#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/stepcodes.h"

#include <cstdint>

// The code returned by a road this build does not run.
inline constexpr int32_t kVsfNotBuilt = codeOf(VsfStatus::InternalError);

// Logs VsfMsg::RoadFitNotAvailable naming `what` (a road the user asked for) and returns
// kVsfNotBuilt.
[[nodiscard]] inline int32_t vsfNotBuilt(const char* what) {
  vsfLog(VsfMsg::RoadFitNotAvailable, {HostMsgArg(what)});
  return kVsfNotBuilt;
}

// Journals `what` as an internal error and returns kVsfNotBuilt.
[[nodiscard]] inline int32_t vsfNotBuiltInternal(const char* what) {
  xebug(what);
  return kVsfNotBuilt;
}
