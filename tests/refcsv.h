// The reference data the scripts under scripts/ write into tests/data: comma-separated
// numbers after one header line.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// The single number of the file `path` (relative to tests/data), which has no header.
inline double readReferenceValue(const std::string& path) {
  std::ifstream in(std::string(QRX_TEST_DATA) + "/" + path);
  double v = 0;
  in >> v;
  return v;
}

// The rows of the numeric file at `fullPath`, the header line skipped.
inline std::vector<std::vector<double>> readNumberRows(const std::string& fullPath) {
  std::ifstream in(fullPath);
  std::string line;
  std::getline(in, line); // the header
  std::vector<std::vector<double>> rows;
  while (std::getline(in, line)) {
    std::vector<double> row;
    std::stringstream s(line);
    for (std::string c; std::getline(s, c, ',');)
      row.push_back(std::stod(c));
    rows.push_back(row);
  }
  return rows;
}

// The rows of the numeric file `path` (relative to tests/data), the header line skipped.
inline std::vector<std::vector<double>> readReferenceRows(const std::string& path) {
  return readNumberRows(std::string(QRX_TEST_DATA) + "/" + path);
}
