// The output document as HTML: tables laid out by the template catalogue (the same view the
// listing uses), factoids, text lines and the log, put together into one self-contained
// page (styles inline, nothing fetched).
#pragma once

#include "host/output/outputdoc.h"

#include <string>
#include <vector>

namespace qrxhost {

// Text with &, <, >, " and ' escaped.
std::string htmlEscape(const std::string& text);
// The document's nodes as HTML elements (a fragment of the page's body).
std::string renderHtml(const OutputDocument& document);
// Log lines as one preformatted block, each line marked with its severity.
std::string htmlLogBlock(const std::vector<std::string>& lines);
// The scripts that draw the graphs of `body` (the inlined graph libraries and the drawing
// of each graph section); empty when the body has no graph.
std::string graphScripts(const std::string& body);
// A whole page around `body`, with the given title.
std::string htmlPage(const std::string& title, const std::string& body);
// Where the graph libraries are read from: `dir` when set, else $QRX_WEB_DIR, else the
// source tree's web/node_modules the build recorded. Set before a run, not during one.
void setWebDir(const std::string& dir);

} // namespace qrxhost
