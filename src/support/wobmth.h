// Output-object method dispatch: finds a method by number along an object's class chain
// and calls it; zrvqexit is the one reaction to a failed output-object call.
#pragma once

#include "support/hostif.h"
#include "support/protocol.h"

// Calls method `method` of `object` (starting at class `cls`, or the object's own class
// when null) with `count` attributes. Returns the method's result, or kRvqNoMethod.
[[nodiscard]] int32_t wobmth(RvqObject* object, RvqClass* cls, int32_t method, int32_t count,
                             RvqAttr* attrs);

// Calls the class's fixed query slot (method number 2) or close slot (code 4).
[[nodiscard]] int32_t wobquery(RvqObject* object, int32_t count, RvqAttr* attrs);
[[nodiscard]] int32_t wobclose(RvqObject* object);

// Logs the host's message for `code` and ends the run with StepRc::OutputFailed, except for
// the manager status of facility 63, number 53, which is only logged.
void zrvqexit(int32_t code);

// True for the one output-delivery status that is only logged.
[[nodiscard]] bool rvqIsLogOnly(int32_t code);

// Fills attribute records.
RvqAttr rvqInt(uint16_t id, int32_t value);
RvqAttr rvqDouble(uint16_t id, double value);
RvqAttr rvqString(uint16_t id, const char* text, uint16_t length);
RvqAttr rvqHandle(uint16_t id, void* handle);
RvqAttr rvqFlag(uint16_t id, int32_t value);
RvqAttr rvqTextHandle(uint16_t id, RvqText* text);
RvqAttr rvqBound(uint16_t id, void* address);
RvqAttr rvqChar(uint16_t id, char c);
// The column-type attribute of a column definition.
RvqAttr rvqColumnType(RvqColumnType type);
