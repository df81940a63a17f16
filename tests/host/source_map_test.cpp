// The source map stays true to the sources. Every name in backquotes in docs/architecture.md
// and docs/internals.md is a word of the code under src/, host/ or app/ (a prefix "vsfp*" or a
// suffix "*_t" begins or ends one), and every path in backquotes exists. Every .cpp under src/ and
// host/ has a header of its own name, or its head comment says "Declared in" and names headers that
// exist and that the file includes (directly or through the headers it includes).
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kRoot = QRX_SOURCE_DIR;

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool isSource(const fs::path& p) { return p.extension() == ".cpp" || p.extension() == ".h"; }

std::vector<fs::path> sourcesUnder(const std::vector<std::string>& dirs) {
  std::vector<fs::path> out;
  for (const std::string& d : dirs)
    for (const auto& e : fs::recursive_directory_iterator(kRoot / d))
      if (e.is_regular_file() && isSource(e.path()))
        out.push_back(e.path());
  return out;
}

bool wordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Every word of the code (identifiers, and the words of strings and comments too).
const std::set<std::string>& codeWords() {
  static const std::set<std::string> words = [] {
    std::set<std::string> w;
    for (const fs::path& p : sourcesUnder({"src", "host", "app"})) {
      const std::string text = readFile(p);
      for (size_t i = 0; i < text.size();) {
        if (!wordChar(text[i])) {
          ++i;
          continue;
        }
        size_t end = i;
        while (end < text.size() && wordChar(text[end]))
          ++end;
        if (!std::isdigit(static_cast<unsigned char>(text[i])))
          w.insert(text.substr(i, end - i));
        i = end;
      }
    }
    return w;
  }();
  return words;
}

// The file names of the sources, for a bare "levrow.h".
std::set<std::string> sourceFileNames() {
  std::set<std::string> names;
  for (const fs::path& p : sourcesUnder({"src", "host", "app", "tests"}))
    names.insert(p.filename().string());
  return names;
}

// What a span in backquotes names that cannot be found, or "" when it is found or is not a
// name (options, values and texts are not checked).
std::string unknownName(const std::string& span, const std::set<std::string>& files) {
  static const std::regex ident("[A-Za-z_][A-Za-z0-9_]*");
  static const std::regex prefix("([A-Za-z_][A-Za-z0-9_]*)\\*");
  static const std::regex suffix("\\*([A-Za-z0-9_]+)");
  static const std::regex path("[A-Za-z0-9_./-]+\\.(h|cpp|md|txt|tpl|csv|qrx)|[A-Za-z0-9_./-]+/");
  const std::set<std::string>& words = codeWords();
  std::smatch m;
  if (std::regex_match(span, ident))
    return words.count(span) ? "" : span;
  if (std::regex_match(span, m, prefix)) {
    auto it = words.lower_bound(m[1].str());
    return it != words.end() && it->rfind(m[1].str(), 0) == 0 ? "" : span;
  }
  if (std::regex_match(span, m, suffix)) {
    const std::string end = m[1].str();
    for (const std::string& w : words)
      if (w.size() > end.size() && w.compare(w.size() - end.size(), end.size(), end) == 0)
        return "";
    return span;
  }
  if (std::regex_match(span, path)) {
    if (span.find('/') == std::string::npos)
      return files.count(span) ? "" : span;
    return fs::exists(kRoot / span) || fs::exists(kRoot / "src" / span) ? "" : span;
  }
  return "";
}

TEST(SourceMap, EveryNameOfTheArchitectureExists) {
  const std::set<std::string> files = sourceFileNames();
  for (const char* name : {"architecture.md", "internals.md"}) {
    const fs::path doc = kRoot / "docs" / name;
    ASSERT_TRUE(fs::exists(doc)) << name;
    const std::string text = readFile(doc);
    static const std::regex quoted("`([^`\n]+)`");
    std::vector<std::string> unknown;
    int checked = 0;
    for (std::sregex_iterator it(text.begin(), text.end(), quoted), end; it != end; ++it) {
      ++checked;
      std::string span = (*it)[1].str();
      if (std::string u = unknownName(span, files); !u.empty())
        unknown.push_back(u);
    }
    EXPECT_GT(checked, 100) << name;
    std::string list;
    for (const std::string& u : unknown)
      list += " " + u;
    EXPECT_TRUE(unknown.empty()) << "names of " << name << " not found in the code:" << list;
  }
}

// The leading comment lines of a file, joined by blanks.
std::string headComment(const std::string& text) {
  std::istringstream in(text);
  std::string line, out;
  while (std::getline(in, line) && line.rfind("//", 0) == 0)
    out += line.substr(2) + " ";
  return out;
}

// The project headers a file includes, followed through the headers themselves.
std::set<std::string> includedHeaders(const fs::path& file) {
  static const std::string kInclude = "#include \"";
  std::set<std::string> seen;
  std::vector<fs::path> todo{file};
  while (!todo.empty()) {
    const std::string text = readFile(todo.back());
    todo.pop_back();
    for (size_t at = text.find(kInclude); at != std::string::npos;
         at = text.find(kInclude, at + 1)) {
      const size_t begin = at + kInclude.size();
      const std::string h = text.substr(begin, text.find('"', begin) - begin);
      if (!seen.insert(h).second)
        continue;
      for (const fs::path& base : {kRoot, kRoot / "src"})
        if (fs::exists(base / h)) {
          todo.push_back(base / h);
          break;
        }
    }
  }
  return seen;
}

TEST(SourceMap, EverySourceFileNamesTheHeaderThatDeclaresIt) {
  static const std::regex declared(
      "Declared in ([A-Za-z0-9_/]+\\.h)(?: and ([A-Za-z0-9_/]+\\.h))?");
  std::vector<std::string> problems;
  int named = 0;
  for (const fs::path& p : sourcesUnder({"src", "host"})) {
    if (p.extension() != ".cpp" || fs::exists(fs::path(p).replace_extension(".h")))
      continue;
    const std::string rel = fs::relative(p, kRoot).string();
    std::smatch m;
    const std::string head = headComment(readFile(p));
    if (!std::regex_search(head, m, declared)) {
      problems.push_back(rel + ": no \"Declared in\" in its head comment");
      continue;
    }
    ++named;
    const std::set<std::string> included = includedHeaders(p);
    for (size_t i = 1; i < m.size(); ++i) {
      if (!m[i].matched)
        continue;
      const std::string h = m[i].str();
      if (!fs::exists(kRoot / h) && !fs::exists(kRoot / "src" / h))
        problems.push_back(rel + ": " + h + " does not exist");
      else if (!included.count(h))
        problems.push_back(rel + ": " + h + " is not included");
    }
  }
  EXPECT_GT(named, 0);
  std::string list;
  for (const std::string& s : problems)
    list += "\n  " + s;
  EXPECT_TRUE(problems.empty()) << list;
}

} // namespace
