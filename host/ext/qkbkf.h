// The host extension "qkbkf": byte-block scratch files written and read at positions the
// caller keeps. Shares the file counter and the fault hook of host/ext/qkpgf.h.
#pragma once

#include "support/hostif.h"

namespace qrxhost {

QkExtension* makeQkbkf();

} // namespace qrxhost
