// The tests' log checks take a message by its name: a bare number is not a message.
#include "tests/msgid.h"

bool expectsModelStatement(MsgId logged) {
#ifdef QRX_COMPILE_FAIL_CONTROL
  return logged == VsfMsg::ModelStatementRequired;
#else
  return logged == 141;
#endif
}
