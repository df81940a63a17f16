// A small data set with two BY groups, two CLASS variables and three numeric effects, shared
// by the end-to-end tests of the listing, the page and the template catalogue, and the
// file reader they use.
#pragma once

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

// Writes d.csv into `dir`: y = 1 + 2 x1 - x2 + [c = A] + noise, BY g (1 then 2).
inline void writeByClassData(const std::filesystem::path& dir) {
  std::ofstream data(dir / "d.csv");
  data << "g,c,k,x1,x2,x3,y\n";
  for (int i = 0; i < 60; ++i)
    data << (i < 30 ? 1 : 2) << ","
         << "ABC"[i % 3] << "," << (i % 4 < 2 ? "lo" : "hi") << "," << std::sin(1.3 * i) << ","
         << std::cos(0.7 * i) << "," << std::sin(0.3 * i + 1) << ","
         << 1 + 2 * std::sin(1.3 * i) - std::cos(0.7 * i) + (i % 3 == 0) + 0.2 * std::sin(5.1 * i)
         << "\n";
}

inline std::string readFile(const std::filesystem::path& path);

// The text of that data set, for tests that hand it to a run themselves.
inline std::string byClassDataText() {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("qrx_byclass_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  writeByClassData(dir);
  std::string text = readFile(dir / "d.csv");
  std::filesystem::remove_all(dir);
  return text;
}

inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}
