// Reads the template catalogue: formats.txt (display format classes) and one file per
// template, named by its path ("Stat.VARSIFTER.ANOVA.tpl"). Lines are "keyword fields",
// fields separated by " | "; '#' starts a comment line. Loaded once, on first use.
// A template shared by several objects may give one of them its own title
// ("title NAME | text").
#include "host/output/templates.h"

#include "host/datadir.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

#ifndef QRX_TEMPLATE_DIR
#define QRX_TEMPLATE_DIR "templates"
#endif

namespace qrxhost {
namespace {

namespace fs = std::filesystem;

struct Catalogue {
  std::mutex mutex;
  std::string dir;
  bool loaded = false;
  std::map<std::string, TableTemplate> templates;
  std::map<std::string, DisplayFormat> formats;
  std::vector<std::string> problems;
};

Catalogue& catalogue() {
  static Catalogue c;
  return c;
}

std::string dirInUse(const Catalogue& c) {
  return dataDirectory(c.dir, "QRX_TEMPLATE_DIR", QRX_TEMPLATE_DIR);
}

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos)
    return "";
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

// The fields of a line's rest, separated by " | " (a bar inside a word, as in "|t|",
// belongs to the text) and trimmed.
std::vector<std::string> fields(const std::string& rest) {
  std::vector<std::string> out;
  std::string padded = " " + rest + " ";
  size_t start = 0;
  while (true) {
    size_t bar = padded.find(" | ", start);
    out.push_back(trim(padded.substr(start, bar == std::string::npos ? bar : bar - start)));
    if (bar == std::string::npos)
      return out;
    start = bar + 2;
  }
}

bool parseFormat(const std::vector<std::string>& words, DisplayFormat* f) {
  static const std::map<std::string, DisplayKind> kinds = {
      {"module", DisplayKind::Module},           {"text", DisplayKind::Text},
      {"integer", DisplayKind::Integer},         {"decimals", DisplayKind::Decimals},
      {"significant", DisplayKind::Significant}, {"pvalue", DisplayKind::PValue}};
  if (words.size() < 2 || kinds.count(words[1]) == 0)
    return false;
  f->name = words[0];
  f->kind = kinds.at(words[1]);
  f->digits = words.size() > 2 ? std::atoi(words[2].c_str()) : 0;
  return f->digits >= 0 && f->digits <= 15;
}

void loadFormats(Catalogue& c, const fs::path& file) {
  std::ifstream in(file);
  if (!in) {
    c.problems.push_back(file.string() + ": cannot be read");
    return;
  }
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    line = trim(line);
    if (line.empty() || line[0] == '#')
      continue;
    std::vector<std::string> words;
    size_t pos = 0;
    while (pos < line.size()) {
      size_t end = line.find_first_of(" \t", pos);
      words.push_back(line.substr(pos, end - pos));
      pos = end == std::string::npos ? line.size() : line.find_first_not_of(" \t", end);
    }
    DisplayFormat f;
    if (words.empty() || words[0] != "format" ||
        !parseFormat(std::vector<std::string>(words.begin() + 1, words.end()), &f))
      c.problems.push_back(file.string() + ":" + std::to_string(number) + ": not a format line");
    else
      c.formats[f.name] = f;
  }
}

// One line of a template file; false when it is not understood.
bool templateLine(const std::string& keyword, const std::string& rest, TableTemplate* t) {
  std::vector<std::string> f = fields(rest);
  if (keyword == "title" && f.size() == 1) {
    t->title = f[0];
  } else if (keyword == "title" && f.size() == 2 && !f[0].empty()) {
    t->namedTitles.emplace_back(f[0], f[1]); // "title NAME | text": the object NAME's title
  } else if (keyword == "title2" && f.size() == 1) {
    t->title2 = f[0];
  } else if (keyword == "noheaders" && rest.empty()) {
    t->noHeaders = true;
  } else if (keyword == "column" && f.size() >= 3 && f.size() <= 4 && !f[0].empty()) {
    TemplateColumn col{f[0], f[1], f[2], false, ""};
    if (f.size() == 4) {
      if (f[3] == "hidden")
        col.alwaysHidden = true;
      else if (f[3].rfind("shown-by ", 0) == 0)
        col.shownBy = trim(f[3].substr(9));
      else
        return false;
    }
    t->columns.push_back(col);
  } else if (keyword == "span" && f.size() == 3) {
    t->spans.push_back({f[0], f[1], f[2]});
  } else if (keyword == "footnote" && f.size() == 2) {
    t->footnotes.push_back({f[0], f[1]});
  } else {
    return false;
  }
  return true;
}

void loadTemplate(Catalogue& c, const fs::path& file) {
  TableTemplate t;
  t.path = file.stem().string();
  std::ifstream in(file);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    line = trim(line);
    if (line.empty() || line[0] == '#')
      continue;
    size_t space = line.find_first_of(" \t");
    std::string keyword = line.substr(0, space);
    std::string rest = space == std::string::npos ? "" : trim(line.substr(space));
    if (!templateLine(keyword, rest, &t))
      c.problems.push_back(file.string() + ":" + std::to_string(number) + ": not understood");
  }
  c.templates[t.path] = std::move(t);
}

Catalogue& loaded() {
  Catalogue& c = catalogue();
  std::lock_guard<std::mutex> lock(c.mutex);
  if (c.loaded)
    return c;
  c.loaded = true;
  fs::path dir = dirInUse(c);
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    c.problems.push_back(dir.string() + ": no such directory");
    return c;
  }
  loadFormats(c, dir / "formats.txt");
  for (const auto& entry : fs::directory_iterator(dir, ec))
    if (entry.path().extension() == ".tpl")
      loadTemplate(c, entry.path());
  return c;
}

} // namespace

bool columnPatternMatches(const std::string& pattern, const std::string& name) {
  if (pattern.size() > 1 && pattern.back() == '*')
    return name.size() >= pattern.size() - 1 &&
           name.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0;
  if (pattern.size() > 1 && pattern.front() == '*')
    return name.size() >= pattern.size() - 1 &&
           name.compare(name.size() - (pattern.size() - 1), std::string::npos, pattern, 1) == 0;
  return pattern == name;
}

void setTemplateDir(const std::string& dir) {
  Catalogue& c = catalogue();
  std::lock_guard<std::mutex> lock(c.mutex);
  c.dir = dir;
  c.loaded = false;
  c.templates.clear();
  c.formats.clear();
  c.problems.clear();
}

std::string templateDir() {
  Catalogue& c = catalogue();
  std::lock_guard<std::mutex> lock(c.mutex);
  return dirInUse(c);
}

bool templateCatalogueAvailable(std::string* why) {
  Catalogue& c = loaded();
  if (c.templates.empty() || c.formats.empty()) {
    if (why != nullptr)
      *why = "no templates or formats in " + templateDir();
    return false;
  }
  return true;
}

const TableTemplate* findTemplate(const std::string& path) {
  Catalogue& c = loaded();
  auto it = c.templates.find(path);
  return it == c.templates.end() ? nullptr : &it->second;
}

std::vector<std::string> templatePaths() {
  std::vector<std::string> out;
  for (const auto& entry : loaded().templates)
    out.push_back(entry.first);
  return out;
}

const TemplateColumn* findTemplateColumn(const TableTemplate& templ, const std::string& name,
                                         const std::string& columnTemplate) {
  // A column's own name wins over its column template and over a prefix.
  for (const TemplateColumn& col : templ.columns)
    if (col.match == name)
      return &col;
  for (const TemplateColumn& col : templ.columns) {
    bool byTemplate = col.match[0] == '@' && !columnTemplate.empty() &&
                      col.match.compare(1, std::string::npos, columnTemplate) == 0;
    if (byTemplate || columnPatternMatches(col.match, name))
      return &col;
  }
  return nullptr;
}

const DisplayFormat* findDisplayFormat(const std::string& name) {
  Catalogue& c = loaded();
  auto it = c.formats.find(name);
  return it == c.formats.end() ? nullptr : &it->second;
}

std::vector<std::string> templateProblems() { return loaded().problems; }

} // namespace qrxhost
