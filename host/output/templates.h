// The template catalogue: what each table template of the module looks like to a reader
// (title, worded column headers, display formats, columns hidden until a dynamic variable
// shows them, spanning headers, footnotes), read from data files under host/templates/.
// Laying tables out from it is tableview.cpp's.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace qrxhost {

// How the values of a column are displayed.
enum class DisplayKind {
  Module,      // the format the module gave the column (or the host default)
  Text,        // as it is
  Integer,     // a whole number
  Decimals,    // `digits` decimals
  Significant, // `digits` significant digits for the column's largest value, same decimals below
  PValue,      // `digits` decimals, "<.0001" below the smallest shown value
};

struct DisplayFormat {
  std::string name; // the class name the templates use ("ss", "pvalue", ...)
  DisplayKind kind = DisplayKind::Module;
  int digits = 0;
};

// One column entry. `match` is a column name, "@tmpl" for columns made from the column
// template "tmpl", "Prefix*" or "*Suffix" for the columns whose names start or end so. A
// header may name dynamic variables as "{var}"; "{label}" is the column's own label (its
// name when it has none) and "{name}" its name.
struct TemplateColumn {
  std::string match;
  std::string header;
  std::string format;
  bool alwaysHidden = false; // data for other uses, never displayed
  std::string shownBy;       // hidden unless this dynamic variable is non-zero
};

struct TemplateSpan {
  std::string header; // may name dynamic variables
  std::string first;  // first and last column of the span: names, patterns or "{dynamic}"
  std::string last;
};

struct TemplateFootnote {
  std::string when; // the dynamic variable that turns it on; empty: always
  std::string text;
};

struct TableTemplate {
  std::string path;
  std::string title;  // the heading; may name dynamic variables; the label stands in
                      // when it comes out empty
  std::string title2; // a second heading line, shown when it comes out non-empty
  std::vector<std::pair<std::string, std::string>> namedTitles; // object name, its own title
  bool noHeaders = false; // one-row text tables print their cells without a header line
  std::vector<TemplateColumn> columns;
  std::vector<TemplateSpan> spans;
  std::vector<TemplateFootnote> footnotes;
};

// The directory of the catalogue: the one set, else $QRX_TEMPLATE_DIR, else the build-time
// directory. Setting it drops what was loaded.
void setTemplateDir(const std::string& dir);
std::string templateDir();
// True when the directory holds a readable catalogue; otherwise `why` says what is wrong.
bool templateCatalogueAvailable(std::string* why);

// The template of a path, or null when the catalogue has none.
const TableTemplate* findTemplate(const std::string& path);
// Every template path of the catalogue, sorted.
std::vector<std::string> templatePaths();
// The catalogue entry for a column of `name` made from column template `columnTemplate`.
const TemplateColumn* findTemplateColumn(const TableTemplate& templ, const std::string& name,
                                         const std::string& columnTemplate);
// True when a column name matches a pattern: a name, "Prefix*" or "*Suffix".
bool columnPatternMatches(const std::string& pattern, const std::string& name);
// A display format class of formats.txt, or null.
const DisplayFormat* findDisplayFormat(const std::string& name);
// Lines of the catalogue that could not be read ("file:line: what").
std::vector<std::string> templateProblems();

} // namespace qrxhost
