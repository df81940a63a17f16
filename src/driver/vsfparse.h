// Parsing the procedure's statements into the settings of the run: the parse driver, its
// statement hooks, the host-parser driver with its token save, and the name-list and
// statement-list helpers the readers share. The readers are in vsfreaders.h.
#pragma once

#include <cstdint>

struct VsfContext;
struct VsfGrammar;
struct ParseHookTable;
struct ParsedStatement;
struct NameListBlock;
struct PostFitBridge;
struct HostVariable;
struct HostParser;
struct HostToken;

// Prepares printing, logging and the parse state at procedure start.
void xinit(void *a1, void *a2, void *a3, void *a4, void *a5, void *a6);
// Parses all statements of the step; 0 or a negative code.
int32_t vsfParse(VsfContext *ctx);

// Statement hooks of the parse driver (after and before each statement); both return 0.
int32_t vsfa();
int32_t vsfb();

// The n-th name (from 0) of a name list: its characters and length; 0, or 1 when the list
// is null or has no name n.
int32_t zgetnmr(const NameListBlock *list, int64_t n, const char **text, int32_t *length);
// The first node of the list whose name (trailing blanks stripped) equals `name`.
ParsedStatement *findstmt(ParsedStatement *first, const char *name);
// Returns at once (effects are parsed by the effect callback).
void parse_effects();
// The design library's extra-variable callback: describes variable *number of data set
// `data` into `record`.
void vsfGetNAMESTR(void *number, void *data, HostVariable *record, int32_t *counter);

// The host-parser driver: runs one parse with the caller's hooks; the bridge object of the
// post-fit statements, or null.
PostFitBridge *zxlpars(VsfContext *ctx, VsfGrammar *grammar, ParseHookTable *caller,
                       char *errorByte);
// Registers the host routines and runs the host parser with the hook table.
void xsparse(VsfGrammar *grammar, ParseHookTable *hooks);

// Token save: the statements' texts as written, for the post-fit bridge.
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
