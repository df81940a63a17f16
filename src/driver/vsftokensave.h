// Token save: the statements' texts as written, for the post-fit bridge. zttksi starts a
// save on the parser anchor, zttkus writes the current statement into the buffer, zttks
// closes it into the list and zttkse ends the save and frees it.
#pragma once

#include "support/postfit.h"

#include <cstdint>

struct HostToken;

TokenSave* zttksi(HostParser* anchor);
// Writes the statement from the current token on into the buffer from `offset`.
void zttkus(TokenSave* save, const HostToken* token, int64_t offset, int32_t peek);
// Closes the statement in the buffer: appends it to the list with one ';' at its end.
void zttks(TokenSave* save);
// Appends text to the statement in the buffer; false when memory runs out.
[[nodiscard]] bool zttkadd(TokenSave* save, const char* text, int64_t length);
void zttkse(TokenSave* save);
