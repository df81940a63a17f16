// A fixture for the result printers: the stand-in host's control block and output manager,
// a zeroed procedure context with a design of named effects, a fit whose step history the
// test fills, and the JSON of the output document for structural checks.
#pragma once

#include "host/minijson.h"
#include "output/vsfcontext.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace restest {

struct ResultsFixture : ::testing::Test {
  std::unique_ptr<VsfContext> ctx;
  std::unique_ptr<LevDesign> design;
  std::vector<LevEffect> effects;
  std::vector<std::string> names;
  QkPool* pool = nullptr;
  void* doc = nullptr;
  std::vector<std::vector<double>> doubles;
  std::vector<std::vector<int32_t>> ints;
  std::vector<std::vector<uint8_t>> bytes;
  std::vector<HostVariable> variables;
  std::vector<LevVariable> numerics;

  void SetUp() override;
  void TearDown() override;

  // Names the effects of the design ("Intercept" first).
  void setEffects(const std::vector<std::string>& effectNames);
  // A step history: per entry the effect entered (or removed), the effect count, the rank
  // and the SSE; index -1 holds the values before entry 0 (0 effects, rank 0, SSE = tss).
  void setHistory(const std::vector<int32_t>& effect, const std::vector<int32_t>& effectCount,
                  const std::vector<int32_t>& rank, const std::vector<double>& sse);
  double* doubleArray(size_t n, double value = 0.0);
  int32_t* intArray(size_t n, int32_t value = 0);
  uint8_t* byteArray(size_t n, uint8_t value = 0);

  // Ends the output and returns the document's nodes.
  minijson::Value output();
};

// All tables and factoids of a node tree named `name`, depth first.
std::vector<const minijson::Value*> find(const minijson::Value& nodes, const std::string& name);
// The column index of `column` in a table node (-1 when absent).
int columnIndex(const minijson::Value& table, const std::string& column);
// The names of a table's columns.
std::vector<std::string> columnNames(const minijson::Value& table);
// A trimmed string cell.
std::string cell(const minijson::Value& table, size_t row, const std::string& column);
double number(const minijson::Value& table, size_t row, const std::string& column);

} // namespace restest
