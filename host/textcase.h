// ASCII case folding of host texts (names, keywords, file names): the host compares names
// without regard to case and writes member files in lower case.
#pragma once

#include <cctype>
#include <string>

namespace qrxhost {

inline std::string asciiUpper(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

inline std::string asciiLower(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

} // namespace qrxhost
