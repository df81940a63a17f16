// The statement readers: each reads its statement's ParsedStatement node into the run's
// settings, applying defaults and correcting inconsistent combinations with numbered
// messages. The parse driver (vsfparse.cpp) calls them in order.
#pragma once

#include "support/stepcodes.h"

#include <cstdint>

struct VsfContext;
struct VsfPerfBlock;
struct ParsedStatement;
struct HostVariable;

// A zeroed variable record from the main pool, filled from DATA= variable `number`: Ok, or
// NoMemory when the pool has no room.
[[nodiscard]] VsfStatus vsfVariableRecord(VsfContext* ctx, int32_t number, HostVariable** out);

[[nodiscard]] VsfStatus parse_proc(VsfContext* ctx, ParsedStatement* first);
void parse_plots(VsfContext* ctx, ParsedStatement* first);
[[nodiscard]] VsfStatus parse_model(VsfContext* ctx, ParsedStatement* model);
void parse_class(VsfContext* ctx, ParsedStatement* first);
void zperform(ParsedStatement* first, VsfPerfBlock* block);
// zperform, then the copy of the hidden PERFORMANCE options into the context.
void parse_perf(VsfContext* ctx, ParsedStatement* first);
void zquerythreads(uint8_t* threadingOn, int32_t* cpuCount);
void parse_output(VsfContext* ctx, ParsedStatement* output);
[[nodiscard]] VsfStatus parse_partition(VsfContext* ctx, ParsedStatement* partition);
[[nodiscard]] VsfStatus parse_scores(VsfContext* ctx, ParsedStatement* first);
[[nodiscard]] VsfStatus parse_bootstrap(VsfContext* ctx, ParsedStatement* modelaverage);
