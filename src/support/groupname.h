// The name of the data a fit is made on, for the messages that say which fit failed: the BY
// group by its BY line while BY groups are read, else the DATA= data set as a whole. The
// procedure main sets it at the start of each BY group; any layer reads it.
#pragma once

#include "support/hostif.h"

#include <cstdint>

// Sets the name from the group's BY line; a length of 0 or less (no BY statement) names the
// whole DATA= data set.
void vsfSetGroupName(const char* byLine, int32_t length);
// The name as a substitution value, valid until the thread's next call.
[[nodiscard]] HostMsgArg vsfGroupName();
