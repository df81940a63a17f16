// The names of the per-resample OUTPUT columns: the prefix and the sample number, as many
// digits as the sample count needs, every name within 32 characters.
#include "output/vsfavgoutput.h"

#include <gtest/gtest.h>

TEST(AverageColumns, DigitsFollowTheSampleCount) {
  bool cut = true;
  const auto nine = vsfResampleColumnNames("sampleFreq", 9, &cut);
  EXPECT_FALSE(cut);
  ASSERT_EQ(nine.size(), 9u);
  EXPECT_EQ(nine.front(), "sampleFreq1");
  EXPECT_EQ(nine.back(), "sampleFreq9");
  const auto ten = vsfResampleColumnNames("p", 10, &cut);
  EXPECT_EQ(ten.back(), "p10");
}

TEST(AverageColumns, LongPrefixIsCutToFit) {
  bool cut = false;
  // 30 characters and two digits fit exactly; 31 do not.
  const auto fits = vsfResampleColumnNames(std::string(30, 'a'), 10, &cut);
  EXPECT_FALSE(cut);
  EXPECT_EQ(fits.back().size(), 32u);
  const auto cutNames = vsfResampleColumnNames(std::string(31, 'a'), 100, &cut);
  EXPECT_TRUE(cut);
  EXPECT_EQ(cutNames.back(), std::string(29, 'a') + "100");
  for (const auto& n : cutNames)
    EXPECT_LE(n.size(), 32u);
}
