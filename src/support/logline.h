// An unnumbered line in the log, written through the kernel's journal at note level: the
// trace and outcome lines that the procedure prints without a message number.
#pragma once

#include "support/hostif.h"

// Writes `text` as a note line; nothing when the kernel has no journal.
inline void vsfLogLine(const char* text) {
  QkHandle* qk = Exported_QKHandle;
  if (qk != nullptr && qk->journal != nullptr && qk->journal->report != nullptr)
    qk->journal->report(qk->journal, 0, 1, text);
}
