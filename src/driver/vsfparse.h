// Parsing the procedure's statements into the settings of the run.
#pragma once

#include <cstdint>

struct VsfContext;

// Prepares printing, logging and the parse state at procedure start.
void xinit(void* a1, void* a2, void* a3, void* a4, void* a5, void* a6);
// Parses all statements of the step; 0 or a negative code.
int32_t vsfParse(VsfContext* ctx);
