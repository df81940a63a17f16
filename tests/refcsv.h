// The tests' one reader of comma-separated text: the reference data the scripts under
// scripts/ write into tests/data (numbers after one header line), the data files of tests/
// and examples/, and the CSV output of runs. No quoting: none of these files uses it.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// The fields of one line; a trailing comma ends the line with an empty field.
inline std::vector<std::string> csvFields(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream l(line);
  for (std::string field; std::getline(l, field, ',');)
    fields.push_back(field);
  if (!line.empty() && line.back() == ',')
    fields.emplace_back();
  return fields;
}

// A CSV text as rows of fields, the header line (if any) the first; an empty line is an
// empty row.
inline std::vector<std::vector<std::string>> csvRows(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    rows.push_back(csvFields(line));
  return rows;
}

// The CSV file at `fullPath` as rows of fields; no rows when it cannot be read.
inline std::vector<std::vector<std::string>> readCsvRows(const std::string& fullPath) {
  std::ifstream in(fullPath);
  std::stringstream text;
  text << in.rdbuf();
  return csvRows(text.str());
}

// The single number of the file `path` (relative to tests/data), which has no header.
inline double readReferenceValue(const std::string& path) {
  std::ifstream in(std::string(QRX_TEST_DATA) + "/" + path);
  double v = 0;
  in >> v;
  return v;
}

// The rows of the numeric file at `fullPath`, the header line skipped.
inline std::vector<std::vector<double>> readNumberRows(const std::string& fullPath) {
  const auto text = readCsvRows(fullPath);
  std::vector<std::vector<double>> rows;
  for (size_t r = 1; r < text.size(); ++r) {
    std::vector<double> row;
    for (const std::string& c : text[r])
      row.push_back(std::stod(c));
    rows.push_back(row);
  }
  return rows;
}

// The rows of the numeric file `path` (relative to tests/data), the header line skipped.
inline std::vector<std::vector<double>> readReferenceRows(const std::string& path) {
  return readNumberRows(std::string(QRX_TEST_DATA) + "/" + path);
}
