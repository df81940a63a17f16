// Output-object sequences of the constructed-effect detail tables: data tables (create,
// columns, dynamic variables, bind, rows, publish), factoids and groups, each call through
// wobmth with every failure handed to zrvqexit. The output manager is the host's.
#pragma once

#include "support/hostif.h"
#include "support/protocol.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

struct HostVariable;

namespace effout {

RvqText* text(const char* text, int32_t length = -1);
RvqText* textf(const char* format, ...);

// Calls a method; a negative result ends the run through zrvqexit.
void call(RvqObject* object, int32_t method, std::initializer_list<RvqAttr> attrs);
void call(RvqObject* object, int32_t method, std::vector<RvqAttr>& attrs);
// The attribute that ties a column to its data-set variable's descriptor.
RvqAttr descriptor(HostVariable* var);

// A data object: its columns are added by the helpers below.
RvqObject* createData(RvqObject* parent, const char* name, RvqText* description, RvqText* label);
void column(RvqObject* data, RvqColumnType type, const char* name, void* bound, int32_t width = 0);
// A column standing for a data-set variable.
void variableColumn(RvqObject* data, RvqColumnType type, const char* name, HostVariable* var,
                    const char* templateColumn, void* bound);
void dynamic(RvqObject* data, const char* name, int32_t value);
void endColumns(RvqObject* data);
// Binds to "Stat.VARSIFTER.<templ>" with Header = label (and more name/value pairs).
RvqObject* bind(RvqObject* parent, RvqObject* data, RvqText* label, const char* templ,
                const char* extraName = nullptr, RvqText* extraValue = nullptr);
void row(RvqObject* data);
void finish(RvqObject* parent, RvqObject* data, RvqObject* table);

RvqObject* openGroup(RvqObject* parent, RvqText* name, int32_t flag, uint16_t textId,
                     RvqText* label);
void endObject(RvqObject* object);

RvqObject* createFactoid(RvqObject* parent, const char* templ, const char* name, RvqText* title,
                         RvqText* description);
void entry(RvqObject* factoid, RvqText* label, int32_t value);
void entry(RvqObject* factoid, RvqText* label, RvqText* value);
void endFactoid(RvqObject* factoid);

} // namespace effout
