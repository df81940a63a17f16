// Regular expressions searched for in an opened page's document. std::regex tries a match at
// every character of the text, each try costly in the unoptimised sanitizer build, and a
// document with the graph libraries inlined runs to a megabyte: a search that tried a dozen
// expressions took most of a page test's time. A Pattern tries only where the literal text
// that every match starts with stands; its matches are those of std::sregex_iterator.
#pragma once

#include <cstddef>
#include <regex>
#include <string>
#include <vector>

namespace pagesearch {

// The literal text at the start of one alternative of an ECMAScript expression: up to its
// first special character, less the last character when a quantifier that allows none of it
// follows.
inline std::string leadOfAlternative(const std::string& alternative) {
  const std::string special = "\\^$.|?*+()[]{}";
  size_t end = 0;
  while (end < alternative.size() && special.find(alternative[end]) == std::string::npos)
    ++end;
  std::string lead = alternative.substr(0, end);
  if (!lead.empty() && end < alternative.size() &&
      std::string("?*{").find(alternative[end]) != std::string::npos)
    lead.pop_back();
  return lead;
}

// The literal text every match of the expression starts with: the common start of its
// top-level alternatives' leads.
inline std::string leadOf(const std::string& expression) {
  std::vector<std::string> alternatives(1);
  int depth = 0;
  bool inClass = false;
  for (size_t i = 0; i < expression.size(); ++i) {
    const char c = expression[i];
    if (c == '\\' && i + 1 < expression.size()) {
      alternatives.back() += expression.substr(i, 2);
      ++i;
      continue;
    }
    if (inClass)
      inClass = c != ']';
    else if (c == '[')
      inClass = true;
    else if (c == '(')
      ++depth;
    else if (c == ')')
      --depth;
    else if (c == '|' && depth == 0) {
      alternatives.emplace_back();
      continue;
    }
    alternatives.back() += c;
  }
  std::string lead = leadOfAlternative(alternatives[0]);
  for (const std::string& a : alternatives) {
    const std::string l = leadOfAlternative(a);
    size_t n = 0;
    while (n < lead.size() && n < l.size() && lead[n] == l[n])
      ++n;
    lead.resize(n);
  }
  return lead;
}

class Pattern {
public:
  explicit Pattern(const std::string& expression) : re_(expression), lead_(leadOf(expression)) {}

  // Every match in the text, in order and not overlapping, as std::sregex_iterator gives them.
  std::vector<std::smatch> all(const std::string& text) const {
    std::vector<std::smatch> out;
    if (lead_.empty()) {
      for (std::sregex_iterator it(text.begin(), text.end(), re_), end; it != end; ++it)
        out.push_back(*it);
      return out;
    }
    for (size_t at = text.find(lead_); at != std::string::npos; at = text.find(lead_, at)) {
      std::smatch m;
      auto flags = std::regex_constants::match_continuous;
      if (at > 0)
        flags |= std::regex_constants::match_prev_avail;
      if (std::regex_search(text.begin() + static_cast<std::ptrdiff_t>(at), text.end(), m, re_,
                            flags)) {
        out.push_back(m);
        at = static_cast<size_t>(m[0].second - text.begin()); // never empty: it holds the lead
      } else {
        ++at;
      }
    }
    return out;
  }

  int count(const std::string& text) const { return static_cast<int>(all(text).size()); }

  // The text of group `group` in every match.
  std::vector<std::string> captures(const std::string& text, int group = 1) const {
    std::vector<std::string> out;
    for (const std::smatch& m : all(text))
      out.push_back(m[group].str());
    return out;
  }

private:
  std::regex re_;
  std::string lead_;
};

} // namespace pagesearch
