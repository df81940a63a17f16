// The host extension "qkpool": a pool of at most n threads, taken from the process's workers,
// that runs each queued item once and posts a kernel event when the queue is empty and no
// item runs.
#pragma once

#include "support/hostif.h"

struct QkPuddle;

namespace qrxhost {

QkExtension* makeQkpool();

// The most items of a pool made by the extension that run at once (for tests).
int puddleThreadCount(QkPuddle* puddle);

} // namespace qrxhost
