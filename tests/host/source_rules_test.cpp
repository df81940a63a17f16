// Rules the product's sources keep, read from their text: test switches are reached only
// through the seams, and return codes are raised by name.
#include "sourcescan.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

using srcscan::readTree;
using srcscan::Source;

// The product reaches the tests' switches only through the seams of support/seams.h, whose
// hooked definitions (support/seams.cpp) are the one reader besides the switches' own file.
TEST(CatalogueScan, NoProductSourceReadsATestSwitch) {
  const std::regex reader("\\b(testHooks\\s*\\(|TestHooks\\b|HookSwitch\\b)");
  for (const Source& f : readTree("src")) {
    if (f.path.rfind("src/support/testhooks.", 0) == 0 || f.path == "src/support/seams.cpp")
      continue;
    EXPECT_FALSE(std::regex_search(f.code, reader)) << f.path << " reads a test switch";
  }
}

// Return codes are raised and ends of run taken by their StepRc names, never by number.
TEST(CatalogueScan, ReturnCodesAreRaisedByName) {
  const std::regex bare("\\b(xexit\\s*\\(\\s*-?\\d+\\s*,|(vsfRaiseRC|levRaise|raiseRc|"
                        "effSetStatus)\\s*\\(([^,();]+,)?\\s*-?\\d+\\s*\\))");
  size_t files = 0;
  for (const Source& f : readTree("src")) {
    ++files;
    std::smatch m;
    if (std::regex_search(f.code, m, bare))
      ADD_FAILURE() << f.path << ": " << m.str() << " raises a bare number";
  }
  EXPECT_GT(files, 100u);
}
