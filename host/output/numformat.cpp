// Number display of the output renderers: BEST-style, fixed decimals, p-values, and the
// names under which the JSON record describes formats.
#include "host/output/numformat.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace qrxhost {
namespace {

// "1.5E+20" -> "1.5E20", "1.234E-06" -> "1.234E-6".
std::string tidyExponent(const char* text) {
  std::string s(text);
  size_t e = s.find('E');
  if (e == std::string::npos)
    return s;
  std::string mantissa = s.substr(0, e);
  size_t k = e + 1;
  bool negative = false;
  if (k < s.size() && (s[k] == '+' || s[k] == '-')) {
    negative = s[k] == '-';
    ++k;
  }
  while (k + 1 < s.size() && s[k] == '0')
    ++k;
  return mantissa + "E" + (negative ? "-" : "") + s.substr(k);
}

bool allZeroDigits(const std::string& s) {
  for (char c : s)
    if (c >= '1' && c <= '9')
      return false;
  return true;
}

struct NamedFormat {
  std::string name; // upper case
  int width = 0;
  int decimals = -1;
};

// "PVALUE6.4", "pvalue.3", "BEST12.", "8.2": letters, optional width, '.', optional decimals.
NamedFormat parseName(const std::string& text) {
  NamedFormat f;
  size_t i = 0;
  while (i < text.size() && std::isalpha(static_cast<unsigned char>(text[i])))
    f.name += static_cast<char>(std::toupper(static_cast<unsigned char>(text[i++])));
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) && f.width < 1000)
    f.width = f.width * 10 + (text[i++] - '0');
  if (i < text.size() && text[i] == '.') {
    ++i;
    if (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
      f.decimals = 0;
      while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) &&
             f.decimals < 100)
        f.decimals = f.decimals * 10 + (text[i++] - '0');
    }
  }
  return f;
}

} // namespace

std::string formatPValue(double value, int decimals, int width) {
  if (decimals < 1)
    decimals = 4;
  if (decimals > 15)
    decimals = 15;
  if (value >= 0 && value < std::pow(10.0, -decimals))
    return "<." + std::string(static_cast<size_t>(decimals - 1), '0') + "1";
  return formatFixed(value, decimals, width > 0 ? width : decimals + 2);
}

namespace {

std::string formatNamed(double value, const std::string& name) {
  NamedFormat f = parseName(name);
  if (f.name == "PVALUE")
    return formatPValue(value, f.decimals, f.width);
  if ((f.name.empty() || f.name == "F") && f.decimals >= 0)
    return formatFixed(value, f.decimals, f.width > 0 ? f.width : kBestWidth);
  return formatBest(value, f.width > 0 ? f.width : kBestWidth);
}

} // namespace

std::string formatBest(double value, int width) {
  if (width < 1)
    width = kBestWidth;
  if (std::isnan(value))
    return ".";
  if (std::isinf(value)) {
    std::string s = value > 0 ? "Infinity" : "-Infinity";
    return static_cast<int>(s.size()) <= width ? s : std::string(value > 0 ? "I" : "-I");
  }
  if (value == 0.0)
    return "0";
  char buffer[64];
  for (int precision = width < 15 ? width : 15; precision >= 1; --precision) {
    std::snprintf(buffer, sizeof buffer, "%.*G", precision, value);
    std::string s = tidyExponent(buffer);
    if (static_cast<int>(s.size()) <= width)
      return s;
  }
  return std::string(static_cast<size_t>(width), '*');
}

std::string formatFixed(double value, int decimals, int width) {
  if (std::isnan(value))
    return ".";
  if (decimals < 0)
    decimals = 0;
  if (decimals > 30)
    decimals = 30;
  if (!std::isfinite(value) || std::fabs(value) >= 1e17)
    return formatBest(value, width);
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  std::string s(buffer);
  if (s[0] == '-' && allZeroDigits(s))
    s.erase(0, 1);
  if (static_cast<int>(s.size()) > width)
    return formatBest(value, width);
  return s;
}

std::string formatValue(const OutputValue& value, const OutputFormat& format) {
  if (std::holds_alternative<std::monostate>(value))
    return ".";
  if (const auto* text = std::get_if<std::string>(&value))
    return *text;
  int width = format.width > 0 ? format.width : kBestWidth;
  if (const auto* integer = std::get_if<int64_t>(&value)) {
    if (format.name.empty() && format.code <= 0)
      return std::to_string(*integer);
    return formatValue(OutputValue(static_cast<double>(*integer)), format);
  }
  double number = std::get<double>(value);
  if (!format.name.empty())
    return formatNamed(number, format.name);
  if (format.code >= 0 && format.code <= 15)
    return formatFixed(number, format.code, width);
  return formatBest(number, width);
}

std::string formatDecimalsOrSignificant(double value, int decimals, int digits) {
  if (std::isnan(value) || !std::isfinite(value))
    return formatBest(value);
  std::string fixed = formatFixed(value, decimals, 32);
  // A value the column's decimals would reduce to fewer than three digits of its own keeps
  // `digits` significant digits instead.
  int magnitude = value == 0.0 ? 0 : static_cast<int>(std::floor(std::log10(std::fabs(value))));
  if (value == 0.0 || magnitude + decimals >= 2)
    return fixed;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*G", digits < 1 ? 1 : digits, value);
  return tidyExponent(buffer);
}

std::string formatName(const OutputFormat& format, ColumnType type) {
  if (!format.name.empty())
    return format.name;
  int width = format.width > 0 ? format.width : kBestWidth;
  switch (type) {
  case ColumnType::Char1:
    return "$1.";
  case ColumnType::Text:
    return "$.";
  case ColumnType::Chars:
    return std::string("$").append(std::to_string(width)).append(".");
  case ColumnType::Int:
  case ColumnType::Int64:
    if (format.code <= 0)
      return std::to_string(width) + ".";
    break;
  case ColumnType::Double:
    break;
  }
  if (format.code == 0)
    return std::to_string(width) + ".";
  if (format.code >= 1 && format.code <= 15)
    return std::to_string(width) + "." + std::to_string(format.code);
  return "BEST" + std::to_string(width) + ".";
}

} // namespace qrxhost
