// The text listing of an output document: published tables laid out by their templates
// (tableview.cpp) with aligned columns, factoids as label-value lists, text lines and
// level notes. Hidden tables, groups and graphs print nothing of their own; graphs are
// drawn by other renderers. Declared in host/output/rvqoutput.h.
#include "host/output/numformat.h"
#include "host/output/rvqoutput.h"
#include "host/output/tableview.h"

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

// The line above the headers that names a span, centred over its columns in dashes.
std::string spanLine(const TableView& view, std::vector<size_t>& widths) {
  std::string line;
  size_t at = 0; // the shown column the line has reached
  for (const ViewSpan& span : view.spans) {
    if (span.first < at)
      continue;
    size_t inner = 0;
    for (size_t k = span.first; k <= span.last; ++k)
      inner += widths[k] + (k > span.first ? 2 : 0);
    // A span header wider than its columns widens them evenly.
    for (size_t k = span.first; span.header.size() + 2 > inner; ++inner) {
      ++widths[k];
      k = k == span.last ? span.first : k + 1;
    }
    for (; at < span.first; ++at)
      line += std::string(widths[at] + 2, ' ');
    size_t left = (inner - span.header.size() - 2) / 2;
    size_t right = inner - span.header.size() - 2 - left;
    line += std::string(left, '-') + " " + span.header + " " + std::string(right, '-') + "  ";
    at = span.last + 1;
  }
  return line;
}

void renderTable(const OutputNode& table, std::string& out) {
  TableView view = viewTable(table);
  appendLine(out, view.title);
  if (!view.title2.empty())
    appendLine(out, view.title2);
  out += '\n';
  size_t n = view.columns.size();
  std::vector<size_t> widths(n, 0);
  for (size_t k = 0; k < n; ++k) {
    if (view.headers)
      widths[k] = view.columns[k].header.size();
    for (const auto& row : view.cells)
      widths[k] = std::max(widths[k], row[k].size());
  }
  std::string spans = spanLine(view, widths);
  size_t total = 0;
  for (size_t k = 0; k < n; ++k)
    total += widths[k] + (k > 0 ? 2 : 0);
  auto emit = [&](const std::vector<std::string>& line) {
    std::string text;
    for (size_t k = 0; k < n; ++k) {
      if (k > 0)
        text += "  ";
      text += pad(line[k], widths[k], view.columns[k].numeric);
    }
    appendLine(out, text);
  };
  if (!spans.empty())
    appendLine(out, spans);
  if (view.headers) {
    std::vector<std::string> headers;
    for (const ViewColumn& column : view.columns)
      headers.push_back(column.header);
    emit(headers);
  }
  for (size_t r = 0; r < view.cells.size(); ++r) {
    if (view.ruleAbove[r])
      appendLine(out, std::string(total, '-'));
    emit(view.cells[r]);
  }
  if (!view.footnotes.empty())
    out += '\n';
  for (const std::string& note : view.footnotes)
    appendLine(out, note);
  out += '\n';
}

void renderFactoid(const OutputNode& factoid, std::string& out) {
  appendLine(out, factoidTitle(factoid));
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
      if (displayedTable(*node))
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
