// Messages of the statement readers and of the checks after them: each logs a numbered
// message of the procedure's set and raises the run's return code.
#pragma once

#include "output/vsfcontext.h"
#include "support/driverresult.h"
#include "support/hoststubs.h"
#include "support/messages.h"

#include <cstdint>
#include <initializer_list>

// Logs a warning and raises the return code to 4.
inline void stmtWarn(VsfContext* ctx, VsfMsg message, std::initializer_list<HostMsgArg> args = {}) {
  vsfLog(message, args);
  vsfRaiseRC(ctx, StepRc::Warning);
}

// Logs an error, raises the return code to `rc` and returns the status of `result` for the
// caller to pass on.
[[nodiscard]] inline VsfStatus stmtFail(VsfContext* ctx, VsfMsg message, StepRc rc,
                                        DriverResult result,
                                        std::initializer_list<HostMsgArg> args = {}) {
  vsfLog(message, args);
  vsfRaiseRC(ctx, rc);
  return statusOf(result);
}
