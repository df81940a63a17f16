// Token save: the statements' texts as written, for the post-fit bridge. zttksi starts a
// save on the parser anchor, zttkus writes the current statement into the buffer, zttks
// closes it into the list and zttkse ends the save and frees it.
#pragma once

#include <cstdint>

struct HostParser;
struct HostToken;

struct TokenSaveText {
  char *text;
  int32_t length;
  TokenSaveText *next;
};
struct TokenSave {
  char *buffer; // the current statement's text
  int64_t length;
  int64_t capacity;
  int32_t statementCount;
  HostParser *anchor;
  TokenSaveText *head;
  TokenSaveText *tail;
  int32_t hostSwitchWasOn;
};
TokenSave *zttksi(HostParser *anchor);
// Writes the statement from the current token on into the buffer from `offset`; 0.
int32_t zttkus(TokenSave *save, const HostToken *token, int64_t offset, int32_t peek);
// Closes the statement in the buffer: appends it to the list with one ';' at its end.
void zttks(TokenSave *save);
void zttkse(TokenSave *save);
