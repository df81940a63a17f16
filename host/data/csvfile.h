// CSV files as data sets: parsing a file into columns (types, missing values, lengths)
// and writing rows back. Opening by name, BY groups and the services are dataset.cpp's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qrxhost {

// One variable of a parsed CSV file. Numeric columns hold doubles (missing values are
// the host's missing value); character columns hold their texts.
struct CsvColumn {
  std::string name;
  bool numeric = true;
  int32_t length = 8; // bytes: 8 for numeric, the longest value (at least 1) for character
  std::vector<double> nums;
  std::vector<std::string> strs;
};

// The parsed copy of a CSV file kept while a step runs.
struct CsvTable {
  std::string file;
  std::vector<CsvColumn> columns;
  std::vector<int32_t> lines; // line in the file where each observation starts
  int64_t nobs = 0;
};

struct CsvError {
  int line = 0; // 0: not tied to a line
  std::string text;
};

// Parses CSV text (header line of names, then one row per observation). A column is
// numeric when every non-missing value is a number; empty and "." are missing, and in a
// numeric column NA, NaN and N/A (any case) too. A numeric column holding an infinity or
// a number beyond the largest double is an error naming its line, column and text.
bool parseCsv(const std::string& text, CsvTable* out, CsvError* error);
// Reads and parses a file; a file that cannot be read is an error with line 0.
bool readCsvFile(const std::string& path, CsvTable* out, CsvError* error);

// True when the text is a number as the data sets accept it (decimal, optional sign,
// fraction and exponent; no hexadecimal, infinities or NaNs).
bool parseCsvNumber(const std::string& text, double* value);
// The shortest text that reads back as the same double; missing values give "".
std::string formatCsvNumber(double value);
// The field as written to a CSV file (quoted when it holds a comma, quote, line break or
// leading or trailing blanks).
std::string csvField(const std::string& text);

} // namespace qrxhost
