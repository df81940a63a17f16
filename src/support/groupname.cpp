// The name of the data a fit is made on, as messages substitute it. Declared in
// support/groupname.h.
#include "support/groupname.h"

#include "support/messages.h"

#include <algorithm>
#include <cstring>

namespace {

// Written by the procedure main between BY groups only; the threads of a group read it.
char gByLine[512];
int32_t gByLength = 0;

} // namespace

void vsfSetGroupName(const char* byLine, int32_t length) {
  gByLength = byLine != nullptr ? std::clamp<int32_t>(length, 0, sizeof gByLine) : 0;
  if (gByLength > 0)
    std::memcpy(gByLine, byLine, static_cast<size_t>(gByLength));
}

HostMsgArg vsfGroupName() {
  // Formed where a message needs it, in the thread that logs the message: a buffer per
  // thread, so that workers logging at once do not write over each other's text.
  thread_local char name[600];
  const int32_t n = gByLength > 0
                        ? msgString(name, static_cast<int32_t>(sizeof name), VsfMsg::TheByGroup,
                                    {HostMsgArg(gByLine, gByLength)})
                        : msgString(name, static_cast<int32_t>(sizeof name), VsfMsg::TheDataSet);
  return HostMsgArg(name, std::max(n, 0));
}
