// HTML rendering of output documents: one <section> per table, factoid or graph, with
// classes the page's style sheet (below) gives their look. A graph is its Vega-Lite
// chart, drawn on the page by the graph libraries that the page carries inline.
#include "host/output/html.h"

#include "host/datadir.h"
#include "host/output/numformat.h"
#include "host/output/tableview.h"
#include "host/output/vegachart.h"
#include "host/utf8text.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <strings.h>

#ifndef QRX_WEB_DIR
#define QRX_WEB_DIR ""
#endif

namespace qrxhost {
namespace {

const char kStyle[] = R"(
body { font-family: "DejaVu Sans", Arial, Helvetica, sans-serif; font-size: 14px;
       color: #1d1d1f; background: #fafafa; margin: 0; }
header { background: #2d4a6e; color: #fff; padding: 10px 24px; }
header h1 { font-size: 18px; margin: 0; font-weight: normal; }
main { padding: 8px 24px 32px; max-width: 1200px; }
pre.log { background: #f0f0f0; border-left: 4px solid #9aa7b5; padding: 6px 10px;
          font-size: 12px; white-space: pre-wrap; margin: 12px 0; }
pre.log .error { color: #b00020; font-weight: bold; }
pre.log .warning { color: #8a5a00; }
pre.log .note { color: #2d4a6e; }
section.output { margin: 18px 0; }
section.output h2 { font-size: 15px; margin: 0 0 6px; color: #2d4a6e; }
div.tablebox { max-width: 100%; overflow-x: auto; }
table.qrx { border-collapse: collapse; background: #fff; border: 1px solid #c8cdd3; }
table.qrx th, table.qrx td { padding: 3px 10px; border-bottom: 1px solid #e3e6e9; }
table.qrx thead th { background: #e8edf3; font-weight: bold; border-bottom: 2px solid #9aa7b5;
                     vertical-align: bottom; }
table.qrx th.span { text-align: center; border-bottom: 1px solid #9aa7b5; }
table.qrx td.num, table.qrx th.num { text-align: right; font-variant-numeric: tabular-nums;
                                     white-space: pre; }
table.qrx td.txt, table.qrx th.txt { text-align: left; white-space: pre; }
table.qrx tr.rule td { border-top: 2px solid #6b7785; }
table.factoid th { text-align: left; font-weight: normal; background: #f4f6f8; }
p.footnote { font-size: 12px; color: #444; margin: 4px 0; }
p.text { margin: 6px 0; white-space: pre; }
p.text.center { text-align: center; max-width: 760px; font-weight: bold; }
hr.rule { border: none; border-top: 1px solid #9aa7b5; max-width: 760px; margin: 12px 0; }
section.graph div.graph { background: #fff; border: 1px solid #c8cdd3; display: inline-block;
                          padding: 8px; }
section.graph p.nograph { font-size: 12px; color: #8a5a00; }
)";

// Draws every graph of the page: each section's chart, rendered as SVG. A failure
// is reported on the console and in the section.
const char kDrawGraphs[] = R"(
document.querySelectorAll('section.graph').forEach(function (section) {
  var spec = JSON.parse(section.querySelector('script.vl-spec').textContent);
  var target = section.querySelector('div.graph');
  if (typeof vegaEmbed !== 'function') {
    target.outerHTML = '<p class="nograph">The graph library is not installed; scripts/setup installs it.</p>';
    return;
  }
  vegaEmbed(target, spec, {renderer: 'svg', actions: false}).catch(function (e) {
    console.error('graph ' + section.dataset.name + ': ' + e);
  });
});
)";

// A script's text that may sit inside <script>: a "</script" in it would end the element
// early, so its slash is escaped (the same text in JSON and in JavaScript strings).
std::string scriptSafe(std::string text) {
  for (size_t at = text.find("</"); at != std::string::npos; at = text.find("</", at + 2))
    if (strncasecmp(text.c_str() + at + 2, "script", 6) == 0)
      text.replace(at, 2, "<\\/");
  return text;
}

std::string readWhole(const std::filesystem::path& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// The directory of the graph libraries set by setWebDir, or empty.
std::string& chosenWebDir() {
  static std::string dir;
  return dir;
}

// The directory of the installed graph libraries (web/node_modules of the source tree).
std::filesystem::path webDir() { return dataDirectory(chosenWebDir(), "QRX_WEB_DIR", QRX_WEB_DIR); }

// The three graph libraries as inline scripts; empty when any of them is not installed.
std::string graphLibraries() {
  const char* files[] = {"vega/build/vega.min.js", "vega-lite/build/vega-lite.min.js",
                         "vega-embed/build/vega-embed.min.js"};
  std::string out;
  for (const char* file : files) {
    std::filesystem::path path = webDir() / file;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
      return "";
    out += "<script>" + scriptSafe(readWhole(path)) + "</script>\n";
  }
  return out;
}

void appendGraph(std::string& out, const OutputNode& graph) {
  out += "<section class=\"output graph\" data-name=\"" + htmlEscape(graph.name) +
         "\" data-template=\"" + htmlEscape(graph.templ) + "\">\n<div class=\"graph\"></div>\n" +
         "<script type=\"application/json\" class=\"vl-spec\">" + scriptSafe(vegaLiteSpec(graph)) +
         "</script>\n</section>\n";
}

void appendTable(std::string& out, const OutputNode& table) {
  TableView view = viewTable(table);
  out += "<section class=\"output table\" data-name=\"" + htmlEscape(table.name) + "\">\n<h2>" +
         htmlEscape(view.title) + "</h2>\n" +
         (view.title2.empty() ? "" : "<p class=\"title2\">" + htmlEscape(view.title2) + "</p>\n") +
         "<div class=\"tablebox\">\n<table class=\"qrx\">\n";
  auto cls = [&](size_t k) { return view.columns[k].numeric ? "num" : "txt"; };
  if (!view.spans.empty() || view.headers)
    out += "<thead>\n";
  if (!view.spans.empty()) {
    out += "<tr class=\"spans\">";
    size_t at = 0;
    for (const ViewSpan& span : view.spans) {
      if (span.first < at)
        continue;
      for (; at < span.first; ++at)
        out += "<th></th>";
      out += "<th class=\"span\" colspan=\"" + std::to_string(span.last - span.first + 1) + "\">" +
             htmlEscape(span.header) + "</th>";
      at = span.last + 1;
    }
    for (; at < view.columns.size(); ++at)
      out += "<th></th>";
    out += "</tr>\n";
  }
  if (view.headers) {
    out += "<tr class=\"headers\">";
    for (size_t k = 0; k < view.columns.size(); ++k)
      out += std::string("<th class=\"") + cls(k) + "\">" + htmlEscape(view.columns[k].header) +
             "</th>";
    out += "</tr>\n";
  }
  if (!view.spans.empty() || view.headers)
    out += "</thead>\n";
  out += "<tbody>\n";
  for (size_t r = 0; r < view.cells.size(); ++r) {
    out += view.ruleAbove[r] ? "<tr class=\"rule\">" : "<tr>";
    for (size_t k = 0; k < view.columns.size(); ++k)
      out += std::string("<td class=\"") + cls(k) + "\">" + htmlEscape(view.cells[r][k]) + "</td>";
    out += "</tr>\n";
  }
  // A table wider than the page scrolls inside its box instead of running off the page.
  out += "</tbody>\n</table>\n</div>\n";
  for (const std::string& note : view.footnotes)
    out += "<p class=\"footnote\">" + htmlEscape(note) + "</p>\n";
  out += "</section>\n";
}

void appendFactoid(std::string& out, const OutputNode& factoid) {
  out += "<section class=\"output factoid\" data-name=\"" + htmlEscape(factoid.name) + "\">\n<h2>" +
         htmlEscape(factoidTitle(factoid)) + "</h2>\n<table class=\"qrx factoid\">\n";
  for (const FactoidEntry& entry : factoid.entries)
    out += "<tr><th>" + htmlEscape(entry.label) + "</th><td class=\"" +
           (std::holds_alternative<std::string>(entry.value) ? "txt" : "num") + "\">" +
           htmlEscape(formatValue(entry.value, entry.format)) + "</td></tr>\n";
  out += "</table>\n</section>\n";
}

void appendText(std::string& out, const OutputNode& node) {
  if (node.rule != '\0') {
    out += "<hr class=\"rule\">\n";
    return;
  }
  out += std::string("<p class=\"text") + (node.align == 'c' ? " center" : "") + "\">" +
         htmlEscape(node.text) + "</p>\n";
}

void appendNodes(std::string& out, const std::vector<std::unique_ptr<OutputNode>>& nodes) {
  for (const auto& node : nodes) {
    switch (node->kind) {
    case NodeKind::Group:
      appendNodes(out, node->children);
      break;
    case NodeKind::Table:
      if (displayedTable(*node))
        appendTable(out, *node);
      break;
    case NodeKind::Factoid:
      appendFactoid(out, *node);
      break;
    case NodeKind::Text:
      appendText(out, *node);
      break;
    case NodeKind::Graph:
      appendGraph(out, *node);
      break;
    }
  }
}

} // namespace

// Markup characters as entities; a byte that starts no UTF-8 sequence (a CLASS value read as
// Latin-1, say) as the character of its number, &#xNN;, the one the JSON record writes as
// \u00NN, so that the page is valid UTF-8.
std::string htmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (static_cast<unsigned char>(c) >= 0x80) {
      if (const size_t length = utf8Sequence(text, i); length > 0) {
        out.append(text, i, length);
        i += length;
      } else {
        static const char kHex[] = "0123456789ABCDEF";
        const auto byte = static_cast<unsigned char>(c);
        out += "&#x";
        out += kHex[byte >> 4];
        out += kHex[byte & 15];
        out += ';';
        ++i;
      }
      continue;
    }
    switch (c) {
    case '&':
      out += "&amp;";
      break;
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    case '"':
      out += "&quot;";
      break;
    case '\'':
      out += "&#39;";
      break;
    default:
      out += c;
    }
    ++i;
  }
  return out;
}

std::string renderHtml(const OutputDocument& document) {
  std::string out;
  appendNodes(out, document.nodes);
  return out;
}

std::string htmlLogBlock(const std::vector<std::string>& lines) {
  std::string out = "<pre class=\"log\">";
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const char* cls = line.rfind("ERROR", 0) == 0     ? "error"
                      : line.rfind("WARNING", 0) == 0 ? "warning"
                      : line.rfind("NOTE", 0) == 0    ? "note"
                                                      : "plain";
    out += std::string("<span class=\"") + cls + "\">" + htmlEscape(line) + "</span>" +
           (i + 1 < lines.size() ? "\n" : "");
  }
  return out + "</pre>\n";
}

std::string graphScripts(const std::string& body) {
  if (body.find("class=\"vl-spec\"") == std::string::npos)
    return "";
  return graphLibraries() + "<script>" + kDrawGraphs + "</script>\n";
}

std::string htmlPage(const std::string& title, const std::string& body) {
  return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" +
         htmlEscape(title) + "</title>\n<style>" + kStyle +
         "</style>\n</head>\n<body>\n<header><h1>" + htmlEscape(title) +
         "</h1></header>\n<main>\n" + body + "</main>\n" + graphScripts(body) +
         "</body>\n</html>\n";
}

void setWebDir(const std::string& dir) { chosenWebDir() = dir; }

} // namespace qrxhost
