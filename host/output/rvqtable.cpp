// The methods of tables (columns, rows, dynamic variables), factoids (entries, release)
// and groups (close). Rows are read from the variables bound to the columns at each emit.
// Declared in host/output/rvqmethods.h.
#include "host/output/rvqmethods.h"

#include "host/output/rvqattrs.h"
#include "host/output/rvqoutput.h"

#include <cmath>
#include <cstring>

namespace qrxhost {
namespace {

// The widest character column a table can have.
constexpr int32_t kMaxCharColumnWidth = 32767;

std::string trimRight(const char* text, size_t length) {
  while (length > 0 && (text[length - 1] == ' ' || text[length - 1] == '\0'))
    --length;
  return std::string(text, length);
}

// The current value of a bound variable.
int32_t readBound(int32_t method, const ColumnBinding& binding, OutputValue* out) {
  switch (binding.type) {
  case ColumnType::Char1: {
    char c;
    std::memcpy(&c, binding.address, 1);
    *out = trimRight(&c, 1);
    return 0;
  }
  case ColumnType::Int: {
    int32_t v;
    std::memcpy(&v, binding.address, sizeof v);
    *out = static_cast<int64_t>(v);
    return 0;
  }
  case ColumnType::Int64: {
    int64_t v;
    std::memcpy(&v, binding.address, sizeof v);
    *out = v;
    return 0;
  }
  case ColumnType::Double: {
    double v;
    std::memcpy(&v, binding.address, sizeof v);
    if (std::isnan(v))
      *out = std::monostate{};
    else
      *out = v;
    return 0;
  }
  case ColumnType::Chars: {
    auto* text = static_cast<const char*>(binding.address);
    *out = trimRight(text, strnlen(text, static_cast<size_t>(binding.width)));
    return 0;
  }
  case ColumnType::Text: {
    RvqText* text;
    std::memcpy(&text, binding.address, sizeof text);
    if (text != nullptr && !isLiveText(text))
      return outputFail(OUT_BAD_HANDLE, method, "a text column holds no valid text handle");
    *out = text != nullptr ? text->text : std::string();
    return 0;
  }
  }
  return outputFail(OUT_BAD_VALUE, method, "unknown column type");
}

} // namespace

// ---------------------------------------------------------------------------------------
// Tables
// ---------------------------------------------------------------------------------------

int32_t defineColumn(HostObject* self, int32_t method, int32_t count, RvqAttr* attrs) {
  ObjectRecord* table = self->record;
  if (table->phase != TablePhase::Columns)
    return outputFail(OUT_BAD_SEQUENCE, method,
                      "a column of table " + table->node->name + " after its columns ended");
  OutputColumn column;
  bool haveType = false;
  int32_t type = 0;
  const void* address = nullptr;
  bool haveAddress = false;
  const TextAttr texts[] = {{RvqAttrId::Name, &column.name},
                            {RvqAttrId::Label, &column.label},
                            {RvqAttrId::Template, &column.columnTemplate}};
  for (int32_t i = 0; i < count; ++i) {
    RvqAttr& a = attrs[i];
    int32_t rc = 0;
    switch (a.id) {
    case RvqAttrId::ColumnType:
      rc = readInt(method, a, &type);
      haveType = true;
      break;
    case RvqAttrId::Width:
      rc = readInt(method, a, &column.width);
      break;
    case RvqAttrId::FormatCode:
      rc = readInt(method, a, &column.format.code);
      break;
    case RvqAttrId::DynamicName:
      rc = readDynamic(method, attrs, count, &i, &column.dynamics);
      break;
    case RvqAttrId::Bound:
      if ((rc = expectType(method, a, RVQ_BOUND)) == 0) {
        address = a.value.ptr;
        haveAddress = true;
      }
      break;
    default:
      rc = readTextAttr(method, a, texts);
      break;
    }
    if (rc != 0)
      return rc;
  }
  if (!haveType)
    return missingAttr(method, RvqAttrId::ColumnType, "column type");
  if (type != 1 && type != 3 && type != 4 && type != 5 && type != 6 && type != 66)
    return outputFail(OUT_BAD_VALUE, method,
                      "column type " + std::to_string(type) + " is not known");
  if (column.name.empty())
    return missingAttr(method, RvqAttrId::Name, "column name");
  column.type = static_cast<ColumnType>(type);
  if (column.type == ColumnType::Chars) {
    if (column.width > kMaxCharColumnWidth)
      return outputFailForUser(
          OUT_BAD_VALUE, "A table cannot be shown: its column " + column.name + " would be " +
                             std::to_string(column.width) + " characters wide, more than the " +
                             std::to_string(kMaxCharColumnWidth) +
                             " a column can hold. A value of a CLASS variable (or a name) in "
                             "the data is too long to show.");
    if (column.width <= 0)
      return outputFail(OUT_BAD_VALUE, method,
                        "character column " + column.name + " needs a width (289) of 1 to 32767");
  } else if (column.type == ColumnType::Char1) {
    column.width = 1;
  }
  if (!haveAddress || address == nullptr)
    return missingAttr(method, RvqAttrId::Bound, "bound variable");
  table->bindings.push_back(ColumnBinding{column.type, column.width, address});
  table->node->columns.push_back(std::move(column));
  return 0;
}

int32_t endColumns(HostObject* self, int32_t method, int32_t, RvqAttr*) {
  ObjectRecord* table = self->record;
  if (table->phase != TablePhase::Columns)
    return outputFail(OUT_BAD_SEQUENCE, method,
                      "the columns of table " + table->node->name + " ended twice");
  table->phase = TablePhase::Rows;
  return 0;
}

int32_t emitRow(HostObject* self, int32_t method, int32_t, RvqAttr*) {
  ObjectRecord* table = self->record;
  if (table->phase == TablePhase::Ended)
    return outputFail(OUT_BAD_SEQUENCE, method,
                      "a row of table " + table->node->name + " after its rows ended");
  table->phase = TablePhase::Rows;
  std::vector<OutputValue> row(table->bindings.size());
  for (size_t c = 0; c < table->bindings.size(); ++c) {
    if (int32_t rc = readBound(method, table->bindings[c], &row[c]))
      return rc;
  }
  table->node->rows.push_back(std::move(row));
  return 0;
}

int32_t endRows(HostObject* self, int32_t, int32_t, RvqAttr*) {
  self->record->phase = TablePhase::Ended;
  return 0;
}

int32_t setDynamic(HostObject* self, int32_t method, int32_t count, RvqAttr* attrs) {
  bool any = false;
  for (int32_t i = 0; i < count; ++i) {
    if (attrs[i].id != RvqAttrId::DynamicName)
      continue;
    if (int32_t rc = readDynamic(method, attrs, count, &i, &self->record->node->dynamics))
      return rc;
    any = true;
  }
  return any ? 0 : missingAttr(method, RvqAttrId::DynamicName, "dynamic variable name");
}

// ---------------------------------------------------------------------------------------
// Factoids and groups
// ---------------------------------------------------------------------------------------

int32_t factoidEntry(HostObject* self, int32_t method, int32_t count, RvqAttr* attrs) {
  ObjectRecord* factoid = self->record;
  if (factoid->phase == TablePhase::Ended)
    return outputFail(OUT_BAD_SEQUENCE, method,
                      "an entry of factoid " + factoid->node->name + " after its entries ended");
  FactoidEntry entry;
  bool haveValue = false;
  const TextAttr texts[] = {{RvqAttrId::Label, &entry.label},
                            {RvqAttrId::FormatName, &entry.format.name}};
  for (int32_t i = 0; i < count; ++i) {
    RvqAttr& a = attrs[i];
    int32_t rc = 0;
    switch (a.id) {
    case RvqAttrId::Value:
      if (a.type == RVQ_FLAG)
        rc = outputFail(OUT_BAD_ATTRIBUTE, method, "a factoid entry value cannot be a switch");
      else
        rc = readValue(method, a, &entry.value);
      haveValue = true;
      break;
    case RvqAttrId::FormatWidth:
      rc = readInt(method, a, &entry.format.width);
      break;
    case RvqAttrId::FormatCode:
      rc = readInt(method, a, &entry.format.code);
      break;
    default:
      rc = readTextAttr(method, a, texts);
      break;
    }
    if (rc != 0)
      return rc;
  }
  if (!haveValue)
    return missingAttr(method, RvqAttrId::Value, "entry value");
  factoid->node->entries.push_back(std::move(entry));
  return 0;
}

int32_t endEntries(HostObject* self, int32_t, int32_t, RvqAttr*) {
  self->record->phase = TablePhase::Ended;
  return 0;
}

int32_t releaseFactoid(HostObject* self, int32_t, int32_t, RvqAttr*) {
  self->record->phase = TablePhase::Ended;
  outputState().live.erase(self);
  return 0;
}

// Closes the group and any group opened inside it that is still open.
int32_t closeGroup(HostObject* self, int32_t method, int32_t, RvqAttr*) {
  auto& open = outputState().openGroups;
  for (size_t k = open.size(); k-- > 0;) {
    if (open[k] != self->record)
      continue;
    while (open.size() > k) {
      outputState().live.erase(&open.back()->object);
      open.pop_back();
    }
    return 0;
  }
  return outputFail(OUT_BAD_SEQUENCE, method, "group " + self->record->node->name + " is not open");
}

} // namespace qrxhost
