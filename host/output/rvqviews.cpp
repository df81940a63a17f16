// Row counts of filtered views: reads a view's where-text (comparisons of numeric
// columns with numbers, joined by "and") and counts the rows of its table that pass.
// Views are made and released by the manager methods in rvqmethods.cpp.
// Declared in host/output/rvqoutput.h.
#include "host/output/rvqobjects.h"
#include "host/output/rvqoutput.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <strings.h>

namespace qrxhost {
namespace {

struct Comparison {
  size_t column;
  std::string op;
  double number;
};

bool startsWithWord(const std::string& text, size_t at, const char* word) {
  size_t n = std::strlen(word);
  if (text.size() - at < n || strncasecmp(text.c_str() + at, word, n) != 0)
    return false;
  return at + n == text.size() || !std::isalnum(static_cast<unsigned char>(text[at + n]));
}

// Parses the filter against the table's columns; nullopt when it cannot be read.
std::optional<std::vector<Comparison>> parseFilter(std::string text, const OutputNode& table) {
  size_t at = 0;
  auto skip = [&] {
    while (at < text.size() && (std::isspace(static_cast<unsigned char>(text[at])) ||
                                text[at] == '(' || text[at] == ')'))
      ++at;
  };
  skip();
  if (startsWithWord(text, at, "where")) {
    at += 5;
    skip();
    if (at < text.size() && text[at] == '=')
      ++at;
  }
  std::vector<Comparison> out;
  skip();
  if (at >= text.size())
    return out; // no condition: every row
  for (;;) {
    skip();
    size_t start = at;
    while (at < text.size() &&
           (std::isalnum(static_cast<unsigned char>(text[at])) || text[at] == '_'))
      ++at;
    if (at == start)
      return std::nullopt;
    std::string name = text.substr(start, at - start);
    size_t column = table.columns.size();
    for (size_t c = 0; c < table.columns.size(); ++c)
      if (strcasecmp(table.columns[c].name.c_str(), name.c_str()) == 0)
        column = c;
    if (column == table.columns.size())
      return std::nullopt;
    ColumnType type = table.columns[column].type;
    if (type != ColumnType::Int && type != ColumnType::Int64 && type != ColumnType::Double)
      return std::nullopt;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])))
      ++at;
    std::string op;
    while (at < text.size() && std::strchr("<>=!^", text[at]) != nullptr && op.size() < 2)
      op += text[at++];
    if (op != "<" && op != "<=" && op != ">" && op != ">=" && op != "=" && op != "!=" && op != "^=")
      return std::nullopt;
    const char* begin = text.c_str() + at;
    char* end = nullptr;
    double number = std::strtod(begin, &end);
    if (end == begin || !std::isfinite(number))
      return std::nullopt;
    at += static_cast<size_t>(end - begin);
    out.push_back(Comparison{column, op, number});
    skip();
    if (at >= text.size())
      return out;
    if (!startsWithWord(text, at, "and"))
      return std::nullopt;
    at += 3;
  }
}

// Missing values sort below every number.
bool passes(const OutputValue& value, const Comparison& c) {
  bool missing = std::holds_alternative<std::monostate>(value);
  double v = 0;
  if (const auto* i = std::get_if<int64_t>(&value))
    v = static_cast<double>(*i);
  else if (const auto* d = std::get_if<double>(&value))
    v = *d;
  else if (!missing)
    return false;
  int order = missing ? -1 : (v < c.number ? -1 : (v > c.number ? 1 : 0));
  if (c.op == "<")
    return order < 0;
  if (c.op == "<=")
    return order <= 0;
  if (c.op == ">")
    return order > 0;
  if (c.op == ">=")
    return order >= 0;
  if (c.op == "=")
    return order == 0;
  return order != 0;
}

} // namespace

std::optional<std::vector<size_t>> viewRowIndices(const OutputNode& table,
                                                  const std::string& where) {
  auto filter = parseFilter(where, table);
  if (!filter)
    return std::nullopt;
  std::vector<size_t> out;
  for (size_t r = 0; r < table.rows.size(); ++r) {
    const auto& row = table.rows[r];
    bool keep = true;
    for (const Comparison& c : *filter)
      keep = keep && c.column < row.size() && passes(row[c.column], c);
    if (keep)
      out.push_back(r);
  }
  return out;
}

bool outputViewRows(const void* view, int64_t* rows) {
  OutputDocument* doc = currentOutput();
  auto* object = static_cast<const HostObject*>(view);
  if (rows == nullptr || doc == nullptr || !doc->state || doc->state->live.count(object) == 0 ||
      object->kind != ObjKind::View)
    return false;
  auto kept = viewRowIndices(*object->record->node, object->record->where);
  if (!kept)
    return false;
  *rows = static_cast<int64_t>(kept->size());
  return true;
}

} // namespace qrxhost
