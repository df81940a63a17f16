// The post-parse initialisation's shared parts: the helpers and stages that its files
// (vsfpostinit.cpp, vsfbuildshape.cpp, vsfnamelookup.cpp) call in one another, private to
// those files; their entries are declared in driver/vsfpostinit.h.
#pragma once

#include "support/driverresult.h"
#include "support/messages.h"
#include "support/stepcodes.h"

#include <initializer_list>

struct VsfContext;

namespace postinit {

// The log's note and the statement's warning of `number` (vsfpostinit.cpp).
void note(VsfMsg number, std::initializer_list<HostMsgArg> args = {});
void warn(VsfContext* ctx, VsfMsg number, std::initializer_list<HostMsgArg> args = {});
// A refusal of the checks after the statements: return code StepRc::Error, `code` to the
// caller (vsfpostinit.cpp).
[[nodiscard]] VsfStatus fail(VsfContext* ctx, VsfMsg number, DriverResult code,
                             std::initializer_list<HostMsgArg> args = {});

// The partition roles (vsfpostinit.cpp): a variable _ROLE_ in DATA=, and whether the
// statements name test rows or validation rows.
void roleVariable(VsfContext* ctx);
[[nodiscard]] bool testRowsGiven(const VsfContext* ctx);
[[nodiscard]] bool validateRowsGiven(const VsfContext* ctx);

// The stages of vsfPostInit in the other files: the role variable, the shape of the cross
// products and the thread count, and the full build's sweep setting (vsfbuildshape.cpp);
// the held-out and scoring data sets' variables, and the model's name pointers
// (vsfnamelookup.cpp).
void buildShapeAndThreads(VsfContext* ctx);
[[nodiscard]] VsfStatus fullSweepSetting(VsfContext* ctx);
[[nodiscard]] VsfStatus heldOutAndScoringSets(VsfContext* ctx);
[[nodiscard]] VsfStatus saveNamePointers(VsfContext* ctx);

} // namespace postinit
