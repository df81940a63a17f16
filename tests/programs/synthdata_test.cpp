// The inputs that synthdata.h makes at run time are byte for byte those that
// scripts/synthdata.py makes, on which the committed references were computed: a change
// to one side alone fails here rather than as a distant mismatch of the fitted numbers.
#include "programs/pivotcorpus.h"
#include "programs/qrxrun.h"
#include "programs/synthdata.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

TEST(SynthData, TheScriptMakesTheSameText) {
  const std::vector<std::pair<std::string, std::string>> inputs{
      {"levelindex", synthdata::levelIndexCsv()},
      {"tinyweight", synthdata::tinyWeightCsv()},
      {"splitlasso", synthdata::splitLassoCsv()},
      {"effectempty", synthdata::effectEmptyCsv()},
      {"splitadaptive", synthdata::splitAdaptiveCsv()},
      {"nearcopy", synthdata::nearCopyCsv()},
      {"skewspline", synthdata::skewSplineCsv()},
      {"widelar", synthdata::wideLarCsv()},
      {"constantweight", synthdata::constantWeightCsv()},
      {"cvfolds", synthdata::cvFoldsCsv()},
      {"cvclasses", synthdata::cvClassesCsv()},
      {"twoclass", synthdata::twoClassCsv()},
      {"manylevels", synthdata::manyLevelsCsv()},
      {"manylevelsroles", synthdata::manyLevelsRolesCsv()},
      {"levels1000", synthdata::levelWeightCsv(1000, 60)},
      {"levels3000", synthdata::levelWeightCsv(3000, 61)},
      {"removaldrift", synthdata::removalDriftCsv()},
      {"twolevelsets", synthdata::twoLevelSetsCsv()},
      {"levelretake", synthdata::levelRetakeCsv()},
      {"effectpivot", synthdata::effectPivotCsv()},
      {"effectfold", synthdata::effectFoldCsv()},
      {"leveldrift", synthdata::levelDriftCsv()},
      {"leveldrift1155", synthdata::levelDriftCsv(1155, 2540, 75)},
      {"foldcopy", synthdata::foldCopyCsv()}};
  for (const auto& [name, text] : inputs) {
    std::string out;
    ASSERT_EQ(qrxrun::runCommand("/usr/bin/python3 '" + std::string(QRX_SOURCE_DIR) +
                                     "/scripts/synthdata.py' " + name + " 2>&1",
                                 &out),
              0)
        << out;
    EXPECT_EQ(out.size(), text.size()) << name;
    EXPECT_TRUE(out == text) << name; // not EXPECT_EQ: a mismatch would print both files
  }
}

// The corpora of nearly dependent designs that pivotcorpus.h draws as Python's generator does
// are byte for byte those that scripts/gen_pivot_rank_ref.py computed its pivots on.
TEST(SynthData, ThePivotCorporaAreTheScriptsText) {
  std::string out;
  ASSERT_EQ(qrxrun::runCommand("/usr/bin/python3 '" + std::string(QRX_SOURCE_DIR) +
                                   "/scripts/gen_pivot_rank_ref.py' --data 2>&1",
                               &out),
            0)
      << out;
  std::map<std::string, std::string> files;
  for (const auto& [name, text] : pivotcorpus::cases())
    files[name + ".csv"] = text;
  for (const auto& [name, text] : pivotcorpus::userFiles())
    files[pivotcorpus::cat("user/", name)] = text;
  std::string made;
  for (const auto& [name, text] : files) {
    made += name;
    made += '\n';
    made += text;
  }
  EXPECT_EQ(out.size(), made.size());
  EXPECT_TRUE(out == made); // not EXPECT_EQ: a mismatch would print both texts
}
