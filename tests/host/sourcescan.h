// The project's C++ sources as text for the tests that read them: comments and literals
// blanked (offsets kept), brackets matched, argument lists split at their top-level commas.
#pragma once

#include "host/catalog.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace srcscan {

// A source file with comments and the contents of string and character literals blanked,
// so that offsets stay those of the file and nothing in a comment looks like code.
struct Source {
  std::string path; // relative to the repository
  std::string code;
  std::vector<size_t> match; // the offset of the bracket that closes/opens each bracket
};

inline std::string blankComments(const std::string& s) {
  std::string out = s;
  size_t i = 0;
  while (i < s.size()) {
    if (s.compare(i, 2, "//") == 0) {
      while (i < s.size() && s[i] != '\n')
        out[i++] = ' ';
    } else if (s.compare(i, 2, "/*") == 0) {
      size_t end = s.find("*/", i + 2);
      end = end == std::string::npos ? s.size() : end + 2;
      for (; i < end; ++i)
        if (s[i] != '\n')
          out[i] = ' ';
    } else if (s[i] == '"' || s[i] == '\'') {
      char q = s[i++];
      while (i < s.size() && s[i] != q) {
        if (s[i] == '\\')
          out[i++] = ' ';
        if (i < s.size())
          out[i++] = ' ';
      }
      ++i;
    } else {
      ++i;
    }
  }
  return out;
}

inline void matchBrackets(Source& f) {
  f.match.assign(f.code.size(), std::string::npos);
  std::vector<size_t> stack;
  for (size_t i = 0; i < f.code.size(); ++i) {
    char c = f.code[i];
    if (c == '(' || c == '{' || c == '[') {
      stack.push_back(i);
    } else if ((c == ')' || c == '}' || c == ']') && !stack.empty()) {
      f.match[i] = stack.back();
      f.match[stack.back()] = i;
      stack.pop_back();
    }
  }
}

inline bool identChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

inline std::string trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r\n"), b = s.find_last_not_of(" \t\r\n");
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

// Splits an argument list at its top-level commas.
inline std::vector<std::string> splitArgs(const std::string& s) {
  std::vector<std::string> out;
  int depth = 0;
  size_t start = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    // Angle brackets are not counted: "a > 0" is as common as a template, and the template
    // arguments of a message number hold no comma.
    if (c == '(' || c == '{' || c == '[')
      ++depth;
    else if (c == ')' || c == '}' || c == ']')
      --depth;
    else if (c == ',' && depth == 0) {
      out.push_back(trim(s.substr(start, i - start)));
      start = i + 1;
    }
  }
  if (!trim(s.substr(start)).empty() || !out.empty())
    out.push_back(trim(s.substr(start)));
  return out;
}

// The .cpp and .h files under `sub` of the repository, in path order.
inline std::vector<Source> readTree(const std::string& sub) {
  std::vector<Source> out;
  std::filesystem::path root = std::filesystem::path(QRX_SOURCE_DIR);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root / sub)) {
    std::string ext = entry.path().extension().string();
    if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h"))
      continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    Source f;
    f.path = std::filesystem::relative(entry.path(), root).generic_string();
    f.code = blankComments(text.str());
    matchBrackets(f);
    out.push_back(std::move(f));
  }
  std::sort(out.begin(), out.end(),
            [](const Source& a, const Source& b) { return a.path < b.path; });
  return out;
}

// Points the catalogue at the repository's texts while it lives.
struct CatalogueDir {
  CatalogueDir() { qrxhost::setMessageDir(QRX_SOURCE_DIR "/host/messages"); }
  ~CatalogueDir() { qrxhost::setMessageDir(""); }
};

} // namespace srcscan
