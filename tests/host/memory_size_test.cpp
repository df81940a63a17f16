// The sizes MEMSIZE and CSVHOLD take: each value is the size it names, in whole kilobytes
// (the figure the host plans with), or it is refused, the message naming the option and the
// range it takes.
#include "host/ext/qkmemfig.h"
#include "host/supervisor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

TEST(MemorySize, EveryValueIsUsedOrRefused) {
  // Kilobytes worked out by hand: 1.5K and 2047 bytes drop their fraction of a kilobyte.
  const struct {
    const char* text;
    int64_t kilobytes;
  } used[] = {{"1K", 1},    {"1024", 1},     {"1.5K", 1},
              {"2047", 1},  {"2048", 2},     {"0.5M", 512},
              {"3m", 3072}, {"2G", 2097152}, {"1048576G", int64_t{1} << 40}};
  for (const auto& u : used) {
    int64_t kb = 0;
    EXPECT_TRUE(qrxhost::parseMemorySize(u.text, &kb)) << u.text;
    EXPECT_EQ(kb, u.kilobytes) << u.text;
    std::string allowed;
    EXPECT_EQ(qrxhost::checkHostOption("MEMSIZE", u.text, &allowed), qrxhost::OptionCheck::Accepted)
        << u.text;
  }

  // Below a kilobyte, past the range (one past it, and far past a 64-bit count), and texts
  // that are no size.
  for (const char* text : {"1", "1023", "0.5K", "0", "1048577G", "99999999999999G", "-5K", "1e3",
                           "inf", "nan", "K", "1KB", " 1K", "1.2.3K", ".", ""}) {
    int64_t kb = -7;
    EXPECT_FALSE(qrxhost::parseMemorySize(text, &kb)) << text;
    EXPECT_EQ(kb, -7) << text;
    for (const char* option : {"MEMSIZE", "CSVHOLD"}) {
      std::string allowed;
      EXPECT_EQ(qrxhost::checkHostOption(option, text, &allowed), qrxhost::OptionCheck::BadValue)
          << option << "=" << text;
      EXPECT_EQ(allowed.find(std::string(option) + " takes a size from 1K to 1048576G"), 0u)
          << allowed;
    }
  }
}
