// The text listing of an output document: published tables with aligned columns,
// factoids as label-value lists, text lines and level notes. Hidden tables, groups and
// graphs print nothing of their own; graphs are drawn by other renderers.
#include "host/output/numformat.h"
#include "host/output/rvqoutput.h"

#include <algorithm>

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

void renderTable(const OutputNode& table, std::string& out) {
  appendLine(out, table.label.empty() ? table.name : table.label);
  out += '\n';
  size_t n = table.columns.size();
  std::vector<std::string> headers(n);
  std::vector<size_t> widths(n);
  for (size_t c = 0; c < n; ++c) {
    const OutputColumn& column = table.columns[c];
    headers[c] = column.label.empty() ? column.name : column.label;
    widths[c] = headers[c].size();
  }
  std::vector<std::vector<std::string>> cells;
  cells.reserve(table.rows.size());
  for (const auto& row : table.rows) {
    std::vector<std::string> line(n);
    for (size_t c = 0; c < n && c < row.size(); ++c) {
      line[c] = formatValue(row[c], table.columns[c].format);
      widths[c] = std::max(widths[c], line[c].size());
    }
    cells.push_back(std::move(line));
  }
  auto emit = [&](const std::vector<std::string>& line) {
    std::string text;
    for (size_t c = 0; c < n; ++c) {
      if (c > 0)
        text += "  ";
      text += pad(line[c], widths[c], isNumeric(table.columns[c].type));
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
