// BY-group synchronisation of a held-out data set with the current BY group of DATA=;
// the reading pass skips the data set for the group when it has no such group.
#include "data/vsfsync.h"

#include "driver/vsfcontext.h"
#include "driver/vsfpostinit.h"
#include "support/hoststubs.h"

#include <algorithm>

int32_t vsfSynchronize(VsfContext* ctx, VsfNameRecord* names, int32_t message) {
  if (!names->bySync)
    return 0;
  const int32_t rc = xbysync(ctx->byHandle, names->data);
  if (rc == 0)
    return 0;
  char text[260];
  text[0] = '\0';
  const int32_t length =
      std::clamp(xoinfo(names->data, 81, text, static_cast<int32_t>(sizeof text)), 0,
                 static_cast<int32_t>(sizeof text) - 1);
  xpmlog(848, message, {HostMsgArg(text, length)});
  vsfRaiseRC(ctx, 4);
  return rc;
}
