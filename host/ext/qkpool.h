// The host extension "qkpool": a pool of exactly n std::threads that runs each queued item
// once and posts a kernel event when the queue is empty and no item runs.
#pragma once

#include "support/hostif.h"

struct QkPuddle;

namespace qrxhost {

QkExtension* makeQkpool();

// The number of threads of a pool made by the extension (for tests).
int puddleThreadCount(QkPuddle* puddle);

} // namespace qrxhost
