// The output document as JSON nodes: groups, tables, factoids, texts and graphs in the
// shape of the run record's "output" member, with texts quoted safely.
#include "host/output/jsonnodes.h"

#include "host/output/vegachart.h"

#include "host/output/numformat.h"
#include "host/output/rvqoutput.h"
#include "host/output/tableview.h"
#include "host/utf8text.h"

#include <charconv>
#include <cmath>

namespace qrxhost {
namespace {

void appendHex4(std::string& out, unsigned value) {
  static const char digits[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4)
    out += digits[(value >> shift) & 0xF];
}

void appendDynamics(std::string& out, const std::vector<std::pair<std::string, OutputValue>>& d) {
  out += "{";
  for (size_t k = 0; k < d.size(); ++k) {
    if (k > 0)
      out += ",";
    out += jsonQuote(d[k].first) + ":" + jsonValue(d[k].second);
  }
  out += "}";
}

const char* typeName(ColumnType type) {
  switch (type) {
  case ColumnType::Char1:
  case ColumnType::Chars:
    return "char";
  case ColumnType::Int:
  case ColumnType::Int64:
    return "int";
  case ColumnType::Double:
    return "double";
  case ColumnType::Text:
    return "text";
  }
  return "double";
}

void appendNode(std::string& out, const OutputNode& node);

void appendNodes(std::string& out, const std::vector<std::unique_ptr<OutputNode>>& nodes) {
  out += "[";
  bool first = true;
  for (const auto& node : nodes) {
    if (node->kind == NodeKind::Table && !node->published)
      continue;
    if (!first)
      out += ",";
    first = false;
    appendNode(out, *node);
  }
  out += "]";
}

void appendNode(std::string& out, const OutputNode& node) {
  switch (node.kind) {
  case NodeKind::Group:
    out += "{\"kind\":\"group\",\"name\":" + jsonQuote(node.name) +
           ",\"label\":" + jsonQuote(node.label) + ",\"children\":";
    appendNodes(out, node.children);
    out += "}";
    return;
  case NodeKind::Table: {
    out += "{\"kind\":\"table\",\"name\":" + jsonQuote(node.name) +
           ",\"template\":" + jsonQuote(node.templ) + ",\"label\":" + jsonQuote(node.label) +
           ",\"title\":" + jsonQuote(factoidTitle(node)) +
           ",\"title2\":" + jsonQuote(secondTitle(node)) +
           ",\"hidden\":" + (node.hidden ? "true" : "false") + ",\"dynamics\":";
    appendDynamics(out, node.dynamics);
    out += ",\"columns\":[";
    for (size_t c = 0; c < node.columns.size(); ++c) {
      const OutputColumn& column = node.columns[c];
      OutputFormat format = column.format;
      if (column.type == ColumnType::Chars)
        format.width = column.width;
      if (c > 0)
        out += ",";
      out += "{\"name\":" + jsonQuote(column.name) + ",\"label\":" + jsonQuote(column.label) +
             ",\"type\":\"" + typeName(column.type) +
             "\",\"format\":" + jsonQuote(formatName(format, column.type)) +
             ",\"header\":" + jsonQuote(columnHeader(node, column)) + "}";
    }
    out += "],\"rows\":[";
    for (size_t r = 0; r < node.rows.size(); ++r) {
      if (r > 0)
        out += ",";
      out += "[";
      for (size_t c = 0; c < node.rows[r].size(); ++c) {
        if (c > 0)
          out += ",";
        out += jsonValue(node.rows[r][c]);
      }
      out += "]";
    }
    out += "]}";
    return;
  }
  case NodeKind::Factoid:
    out += "{\"kind\":\"factoid\",\"name\":" + jsonQuote(node.name) +
           ",\"template\":" + jsonQuote(node.templ) +
           ",\"title\":" + jsonQuote(factoidTitle(node)) + ",\"entries\":[";
    for (size_t k = 0; k < node.entries.size(); ++k) {
      if (k > 0)
        out += ",";
      out += "{\"label\":" + jsonQuote(node.entries[k].label) +
             ",\"value\":" + jsonValue(node.entries[k].value) + "}";
    }
    out += "]}";
    return;
  case NodeKind::Text:
    out += "{\"kind\":\"text\",\"text\":" +
           jsonQuote(node.rule != '\0' ? std::string(1, node.rule) : node.text) + "}";
    return;
  case NodeKind::Graph:
    out += "{\"kind\":\"graph\",\"name\":" + jsonQuote(node.name) +
           ",\"template\":" + jsonQuote(node.templ) + ",\"data\":[";
    for (size_t k = 0; k < node.data.size(); ++k) {
      if (k > 0)
        out += ",";
      out += jsonQuote(node.data[k]);
    }
    out += "],\"dynamics\":";
    appendDynamics(out, node.dynamics);
    out += ",\"vegaLite\":" + vegaLiteSpec(node) + "}";
    return;
  }
}

} // namespace

std::string jsonQuote(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (c < 0x20 || c == 0x7F)
          appendHex4(out, c);
        else
          out += static_cast<char>(c);
      }
      ++i;
      continue;
    }
    size_t length = utf8Sequence(text, i);
    if (length == 0) {
      appendHex4(out, c);
      ++i;
    } else {
      out.append(text, i, length);
      i += length;
    }
  }
  out += '"';
  return out;
}

std::string jsonValue(const OutputValue& value) {
  if (std::holds_alternative<std::monostate>(value))
    return "null";
  if (const auto* text = std::get_if<std::string>(&value))
    return jsonQuote(*text);
  if (const auto* integer = std::get_if<int64_t>(&value))
    return std::to_string(*integer);
  double number = std::get<double>(value);
  if (std::isnan(number))
    return "null";
  if (std::isinf(number))
    return number > 0 ? "\"Infinity\"" : "\"-Infinity\"";
  char buffer[32];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
  return std::string(buffer, result.ptr);
}

std::string renderJsonNodes(const OutputDocument& document) {
  std::string out;
  appendNodes(out, document.nodes);
  return out;
}

} // namespace qrxhost
