// Forwarding calls of the effect callback into the host parser's service group (tokens,
// list expansion, number formatting). The host parser implements them.
#pragma once

#include "support/parsedstmt.h"

const HostToken* effPeekToken(HostParser* parser, int32_t ahead);
void effResetPeek(HostParser* parser);
double effTokenNumber(const HostToken* token);
int32_t effExpandList(HostDataSet* ds, HostVarList* out, int32_t mode, const char* first,
                      int32_t firstLength, const char* second, int32_t secondLength,
                      int32_t listKind);
void effReportListError(ParseRoot* root, HostDataSet* ds, const char* first, int32_t firstLength,
                        const char* second, int32_t secondLength, HostVarList* list,
                        int32_t listKind, int32_t code);
int32_t effFormatNumber(char* buffer, int32_t width, int32_t decimals, double value);
