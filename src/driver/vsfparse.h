// Parsing the procedure's statements into the settings of the run: the parse driver, its
// statement hooks, the host-parser driver with its token save, and the name-list and
// statement-list helpers the readers share. The readers are in vsfreaders.h.
#pragma once

#include "driver/vsftokensave.h"
#include "support/stepcodes.h"

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
void xinit(void* a1, void* a2, void* a3, void* a4, void* a5, void* a6);
// Parses all statements of the step; Ok, or the status of the refusal.
[[nodiscard]] VsfStatus vsfParse(VsfContext* ctx);

// Statement hooks of the parse driver (after and before each statement); both return 0.
[[nodiscard]] int32_t vsfa();
[[nodiscard]] int32_t vsfb();

// The n-th name (from 0) of a name list: its characters and length; 0, or 1 when the list
// is null or has no name n.
[[nodiscard]] int32_t zgetnmr(const NameListBlock* list, int64_t n, const char** text,
                              int32_t* length);
// True when the statement's name (blank-padded) is `name`.
[[nodiscard]] bool vsfStmtNameIs(const ParsedStatement* s, const char* name);
// True when the token is `word` in any case (`word` in upper case).
[[nodiscard]] bool vsfTokenIs(const HostToken* t, const char* word);
// The first node of the list whose name (trailing blanks stripped) equals `name`.
ParsedStatement* findstmt(ParsedStatement* first, const char* name);
// Returns at once (effects are parsed by the effect callback).
void parse_effects();
// The design library's extra-variable callback: describes variable *number of data set
// `data` into `record`.
void vsfGetNAMESTR(void* number, void* data, HostVariable* record, int32_t* counter);

// The host-parser driver: runs one parse with the caller's hooks; the bridge object of the
// post-fit statements, or null.
PostFitBridge* zxlpars(VsfContext* ctx, VsfGrammar* grammar, ParseHookTable* caller,
                       char* errorByte);
// Registers the host routines and runs the host parser with the hook table.
void xsparse(VsfGrammar* grammar, ParseHookTable* hooks);
