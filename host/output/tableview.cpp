// Lays a table out from its template: which columns show, their headers and formats, the
// marker columns ("Control" asks for a rule above its row, "OptX" marks the optimum of X),
// spans and footnotes. Number texts come from numformat.cpp.
#include "host/output/tableview.h"

#include "host/output/numformat.h"
#include "host/output/templates.h"

#include <algorithm>
#include <cmath>
#include <strings.h>

namespace qrxhost {
namespace {

using Dynamics = std::vector<std::pair<std::string, OutputValue>>;

const OutputValue* lookup(const Dynamics& dynamics, const std::string& name) {
  for (const auto& [key, value] : dynamics)
    if (key == name)
      return &value;
  return nullptr;
}

// A dynamic variable: the column's own, else the table's, else any column's.
const OutputValue* dynamicValue(const OutputNode& table, const OutputColumn* column,
                                const std::string& name) {
  if (column != nullptr)
    if (const OutputValue* v = lookup(column->dynamics, name))
      return v;
  if (const OutputValue* v = lookup(table.dynamics, name))
    return v;
  for (const OutputColumn& other : table.columns)
    if (const OutputValue* v = lookup(other.dynamics, name))
      return v;
  return nullptr;
}

bool isZero(const OutputValue& value) {
  if (const auto* i = std::get_if<int64_t>(&value))
    return *i == 0;
  if (const auto* d = std::get_if<double>(&value))
    return *d == 0.0;
  if (const auto* t = std::get_if<std::string>(&value))
    return t->empty() || *t == "0" || strcasecmp(t->c_str(), "false") == 0;
  return true;
}

std::string valueText(const OutputValue& value) {
  if (const auto* t = std::get_if<std::string>(&value))
    return *t;
  return formatValue(value, OutputFormat{});
}

// Replaces "{var}" by the dynamic variable's value; "{label}" and "{name}" by the column's.
std::string expand(const std::string& text, const OutputNode& table, const OutputColumn* column) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    size_t close = text[i] == '{' ? text.find('}', i) : std::string::npos;
    if (close == std::string::npos) {
      out += text[i++];
      continue;
    }
    std::string name = text.substr(i + 1, close - i - 1);
    if (column != nullptr && name == "label")
      out += column->label.empty() ? column->name : column->label;
    else if (column != nullptr && name == "name")
      out += column->name;
    else if (const OutputValue* v = dynamicValue(table, column, name))
      out += valueText(*v);
    i = close + 1;
  }
  return out;
}

const TemplateColumn* entryOf(const TableTemplate* templ, const OutputColumn& column) {
  return templ == nullptr ? nullptr
                          : findTemplateColumn(*templ, column.name, column.columnTemplate);
}

bool shown(const OutputNode& table, const OutputColumn& column, const TemplateColumn* entry) {
  for (const auto& [name, value] : column.dynamics)
    if (name.size() > 4 && strncasecmp(name.c_str(), "show", 4) == 0 && isZero(value))
      return false;
  if (entry == nullptr)
    return true;
  if (entry->alwaysHidden)
    return false;
  if (entry->shownBy.empty())
    return true;
  const OutputValue* v = dynamicValue(table, &column, entry->shownBy);
  return v != nullptr && !isZero(*v);
}

// Decimals that give the column's largest value `digits` significant digits.
int columnDecimals(const OutputNode& table, size_t c, int digits) {
  double largest = 0.0;
  for (const auto& row : table.rows)
    if (c < row.size())
      if (const auto* d = std::get_if<double>(&row[c]); d != nullptr && std::isfinite(*d))
        largest = std::max(largest, std::fabs(*d));
  if (largest == 0.0)
    return 0;
  int magnitude = static_cast<int>(std::floor(std::log10(largest)));
  return std::clamp(digits - 1 - magnitude, 0, digits - 1);
}

// The display texts of column c under its format class.
std::vector<std::string> columnTexts(const OutputNode& table, size_t c, const DisplayFormat* f) {
  const OutputColumn& column = table.columns[c];
  int decimals =
      f != nullptr && f->kind == DisplayKind::Significant ? columnDecimals(table, c, f->digits) : 0;
  std::vector<std::string> out;
  for (const auto& row : table.rows) {
    const OutputValue& value = c < row.size() ? row[c] : OutputValue{};
    const double* d = std::get_if<double>(&value);
    double number = d != nullptr ? *d : 0.0;
    if (const auto* i = std::get_if<int64_t>(&value))
      number = static_cast<double>(*i), d = &number;
    if (f == nullptr || f->kind == DisplayKind::Module || f->kind == DisplayKind::Text ||
        d == nullptr) {
      out.push_back(formatValue(value, column.format));
      continue;
    }
    switch (f->kind) {
    case DisplayKind::Integer:
      out.push_back(formatFixed(number, 0, 24));
      break;
    case DisplayKind::Decimals:
      out.push_back(formatFixed(number, f->digits, 24));
      break;
    case DisplayKind::PValue:
      out.push_back(formatPValue(number, f->digits));
      break;
    default:
      out.push_back(formatDecimalsOrSignificant(number, decimals, f->digits));
      break;
    }
  }
  return out;
}

bool isOptMarker(const OutputNode& table, size_t c, size_t* marked) {
  const OutputColumn& column = table.columns[c];
  if (column.type != ColumnType::Int || column.name.rfind("Opt", 0) != 0)
    return false;
  for (size_t k = 0; k < table.columns.size(); ++k)
    if (k != c && table.columns[k].name == column.name.substr(3)) {
      *marked = k;
      return true;
    }
  return false;
}

bool isControl(const OutputColumn& column) {
  return column.name == "Control" &&
         (column.type == ColumnType::Char1 || column.type == ColumnType::Chars);
}

bool flagged(const OutputValue& value) {
  const auto* flag = std::get_if<int64_t>(&value);
  return flag != nullptr && *flag == 1;
}

void addMarkers(const OutputNode& table, size_t marker, std::vector<std::string>& texts) {
  bool any = false;
  for (size_t r = 0; r < table.rows.size(); ++r)
    any = any || (marker < table.rows[r].size() && flagged(table.rows[r][marker]));
  if (!any)
    return;
  for (size_t r = 0; r < table.rows.size(); ++r) {
    bool mark = marker < table.rows[r].size() && flagged(table.rows[r][marker]);
    // Unmarked numbers keep a blank where the mark would be, so the digits stay aligned.
    texts[r] += mark ? "*" : " ";
  }
}

// Spans of the template whose first and last columns are shown.
void addSpans(const OutputNode& table, const TableTemplate& templ, TableView& view) {
  for (const TemplateSpan& span : templ.spans) {
    std::string first = expand(span.first, table, nullptr);
    std::string last = expand(span.last, table, nullptr);
    size_t from = view.columns.size(), to = view.columns.size();
    for (size_t k = 0; k < view.columns.size(); ++k) {
      const std::string& name = table.columns[view.columns[k].index].name;
      if (from == view.columns.size() && !first.empty() && columnPatternMatches(first, name))
        from = k;
      if (!last.empty() && columnPatternMatches(last, name))
        to = k;
    }
    std::string header = expand(span.header, table, nullptr);
    if (from < view.columns.size() && to < view.columns.size() && from <= to && !header.empty())
      view.spans.push_back({header, from, to});
  }
}

} // namespace

bool displayedTable(const OutputNode& table) {
  return table.published && !table.hidden && !table.graphsOnly;
}

std::string columnHeader(const OutputNode& table, const OutputColumn& column) {
  const TemplateColumn* entry = entryOf(findTemplate(table.templ), column);
  if (entry == nullptr)
    return column.label.empty() ? column.name : column.label;
  return expand(entry->header, table, &column);
}

std::vector<std::string> uncataloguedColumns(const OutputNode& table) {
  const TableTemplate* templ = findTemplate(table.templ);
  std::vector<std::string> out;
  for (size_t c = 0; c < table.columns.size(); ++c) {
    size_t marked;
    const OutputColumn& column = table.columns[c];
    if (isOptMarker(table, c, &marked) || isControl(column))
      continue;
    if (entryOf(templ, column) == nullptr)
      out.push_back(column.name);
  }
  return out;
}

std::string factoidTitle(const OutputNode& factoid) {
  if (!factoid.title.empty())
    return factoid.title;
  const TableTemplate* templ = findTemplate(factoid.templ);
  std::string title = templ != nullptr ? templ->title : "";
  if (templ != nullptr)
    for (const auto& [name, text] : templ->namedTitles)
      if (name == factoid.name)
        title = text;
  title = expand(title, factoid, nullptr);
  if (!title.empty())
    return title;
  return factoid.label.empty() ? factoid.name : factoid.label;
}

std::string secondTitle(const OutputNode& table) {
  const TableTemplate* templ = findTemplate(table.templ);
  return templ != nullptr ? expand(templ->title2, table, nullptr) : "";
}

TableView viewTable(const OutputNode& table) {
  TableView view;
  const TableTemplate* templ = findTemplate(table.templ);
  view.title = factoidTitle(table);
  view.title2 = secondTitle(table);
  view.headers = templ == nullptr || !templ->noHeaders;
  size_t n = table.columns.size();
  std::vector<size_t> markerOf(n, n);
  std::vector<bool> marker(n, false);
  size_t control = n;
  for (size_t c = 0; c < n; ++c) {
    size_t marked;
    if (isOptMarker(table, c, &marked)) {
      markerOf[marked] = c;
      marker[c] = true;
    } else if (isControl(table.columns[c])) {
      control = c;
      marker[c] = true;
    }
  }
  std::vector<std::vector<std::string>> texts;
  for (size_t c = 0; c < n; ++c) {
    const OutputColumn& column = table.columns[c];
    const TemplateColumn* entry = entryOf(templ, column);
    if (marker[c] || !shown(table, column, entry))
      continue;
    const DisplayFormat* format = entry != nullptr ? findDisplayFormat(entry->format) : nullptr;
    bool numeric = column.type == ColumnType::Int || column.type == ColumnType::Int64 ||
                   column.type == ColumnType::Double;
    view.columns.push_back({c, columnHeader(table, column), numeric});
    texts.push_back(columnTexts(table, c, format));
    if (markerOf[c] < n)
      addMarkers(table, markerOf[c], texts.back());
  }
  for (size_t r = 0; r < table.rows.size(); ++r) {
    std::vector<std::string> line;
    line.reserve(texts.size());
    for (const auto& column : texts)
      line.push_back(column[r]);
    view.cells.push_back(std::move(line));
    const auto& row = table.rows[r];
    view.ruleAbove.push_back(control < row.size() &&
                             valueText(row[control]).find('-') != std::string::npos);
  }
  if (templ != nullptr) {
    addSpans(table, *templ, view);
    for (const TemplateFootnote& note : templ->footnotes) {
      const OutputValue* on = note.when.empty() ? nullptr : dynamicValue(table, nullptr, note.when);
      if (note.when.empty() || (on != nullptr && !isZero(*on)))
        view.footnotes.push_back(expand(note.text, table, nullptr));
    }
  }
  if (!table.footnote.empty())
    view.footnotes.push_back(table.footnote);
  return view;
}

} // namespace qrxhost
