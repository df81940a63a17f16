// Stand-ins for the statement front end until it is built: the parse step reports that
// the procedure's statements cannot be read yet, so a run ends with a message, not with
// settings that were never parsed.
#include "driver/vsfparse.h"

#include "support/hoststubs.h"

void xinit(void*, void*, void*, void*, void*, void*) {}

int32_t vsfParse(VsfContext*) {
  xebug("vsfParse: the statement front end is not available in this build");
  return -99;
}
