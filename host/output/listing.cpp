// The text listing of an output document: published tables with aligned columns,
// factoids as label-value lists, text lines and level notes. Hidden tables, groups and
// graphs print nothing of their own; graphs are drawn by other renderers. Columns follow
// two layout rules of the templates: a "show..." variable of 0 hides a column, and an
// integer column "OptX" marks with '*' the rows of column "X" where it is 1.
#include "host/output/numformat.h"
#include "host/output/rvqoutput.h"

#include <algorithm>
#include <strings.h>

namespace qrxhost {
namespace {

// The width of a page line: rule lines span it and centred lines are centred in it.
constexpr size_t kLineWidth = 80;

void appendLine(std::string& out, std::string line) {
  while (!line.empty() && line.back() == ' ')
    line.pop_back();
  out += line;
  out += '\n';
}

std::string pad(const std::string& text, size_t width, bool right) {
  if (text.size() >= width)
    return text;
  std::string fill(width - text.size(), ' ');
  return right ? fill + text : text + fill;
}

bool isNumeric(ColumnType type) { return type == ColumnType::Int || type == ColumnType::Double; }

bool isZero(const OutputValue& value) {
  if (const auto* i = std::get_if<int64_t>(&value))
    return *i == 0;
  if (const auto* d = std::get_if<double>(&value))
    return *d == 0.0;
  if (const auto* t = std::get_if<std::string>(&value))
    return *t == "0" || strcasecmp(t->c_str(), "false") == 0;
  return false;
}

// A column whose "show..." dynamic variable is 0 is not displayed.
bool shownColumn(const OutputColumn& column) {
  for (const auto& [name, value] : column.dynamics)
    if (name.size() > 4 && strncasecmp(name.c_str(), "show", 4) == 0 && isZero(value))
      return false;
  return true;
}

void renderTable(const OutputNode& table, std::string& out) {
  appendLine(out, table.label.empty() ? table.name : table.label);
  out += '\n';
  size_t n = table.columns.size();
  std::vector<bool> shown(n);
  std::vector<size_t> markerOf(n, n); // the "OptX" column that marks column X
  for (size_t c = 0; c < n; ++c)
    shown[c] = shownColumn(table.columns[c]);
  for (size_t c = 0; c < n; ++c) {
    const OutputColumn& column = table.columns[c];
    if (column.type != ColumnType::Int || column.name.rfind("Opt", 0) != 0)
      continue;
    for (size_t k = 0; k < n; ++k) {
      if (k != c && table.columns[k].name == column.name.substr(3)) {
        markerOf[k] = c;
        shown[c] = false;
      }
    }
  }
  std::vector<size_t> order;
  for (size_t c = 0; c < n; ++c)
    if (shown[c])
      order.push_back(c);
  std::vector<std::string> headers;
  std::vector<size_t> widths;
  for (size_t c : order) {
    const OutputColumn& column = table.columns[c];
    headers.push_back(column.label.empty() ? column.name : column.label);
    widths.push_back(headers.back().size());
  }
  std::vector<std::vector<std::string>> cells;
  cells.reserve(table.rows.size());
  for (const auto& row : table.rows) {
    std::vector<std::string> line(order.size());
    for (size_t k = 0; k < order.size(); ++k) {
      size_t c = order[k];
      if (c >= row.size())
        continue;
      line[k] = formatValue(row[c], table.columns[c].format);
      size_t marker = markerOf[c];
      if (marker < row.size()) {
        const auto* flag = std::get_if<int64_t>(&row[marker]);
        if (flag != nullptr && *flag == 1)
          line[k] += '*';
      }
      widths[k] = std::max(widths[k], line[k].size());
    }
    cells.push_back(std::move(line));
  }
  auto emit = [&](const std::vector<std::string>& line) {
    std::string text;
    for (size_t k = 0; k < order.size(); ++k) {
      if (k > 0)
        text += "  ";
      text += pad(line[k], widths[k], isNumeric(table.columns[order[k]].type));
    }
    appendLine(out, text);
  };
  emit(headers);
  for (const auto& line : cells)
    emit(line);
  if (!table.footnote.empty()) {
    out += '\n';
    appendLine(out, table.footnote);
  }
  out += '\n';
}

void renderFactoid(const OutputNode& factoid, std::string& out) {
  std::string heading = !factoid.title.empty()   ? factoid.title
                        : !factoid.label.empty() ? factoid.label
                                                 : factoid.name;
  appendLine(out, heading);
  out += '\n';
  size_t width = 0;
  for (const auto& entry : factoid.entries)
    width = std::max(width, entry.label.size());
  for (const auto& entry : factoid.entries)
    appendLine(out, pad(entry.label, width, false) + "  " + formatValue(entry.value, entry.format));
  out += '\n';
}

void renderText(const OutputNode& node, std::string& out) {
  if (node.rule != '\0') {
    appendLine(out, std::string(kLineWidth, node.rule));
    return;
  }
  if (node.align == 'c' && node.text.size() < kLineWidth)
    appendLine(out, std::string((kLineWidth - node.text.size()) / 2, ' ') + node.text);
  else
    appendLine(out, node.text);
}

void renderNodes(const std::vector<std::unique_ptr<OutputNode>>& nodes, std::string& out) {
  for (const auto& node : nodes) {
    switch (node->kind) {
    case NodeKind::Group:
      renderNodes(node->children, out);
      break;
    case NodeKind::Table:
      if (node->published && !node->hidden)
        renderTable(*node, out);
      break;
    case NodeKind::Factoid:
      renderFactoid(*node, out);
      break;
    case NodeKind::Text:
      renderText(*node, out);
      break;
    case NodeKind::Graph:
      break;
    }
  }
}

} // namespace

std::string renderListing(const OutputDocument& document) {
  std::string out;
  renderNodes(document.nodes, out);
  return out;
}

} // namespace qrxhost
