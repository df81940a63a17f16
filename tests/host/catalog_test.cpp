// The message catalogue: every committed set file is well formed, markers are filled in,
// unknown messages still name their set, number and values.
#include "host/catalog.h"
#include "host/hostapi.h"
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

using namespace qrxhost;

namespace {

struct TempDir {
  std::filesystem::path path;
  TempDir() {
    path = std::filesystem::temp_directory_path() /
           ("qrx_cat_" + std::to_string(static_cast<long>(::getpid())) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(path);
  }
  ~TempDir() { std::filesystem::remove_all(path); }
  void write(const std::string& name, const std::string& text) {
    std::ofstream(path / name) << text;
  }
};

struct RestoreDir {
  std::string old = messageDir();
  ~RestoreDir() { setMessageDir(""); }
};

} // namespace

TEST(Catalogue, CommittedSetFilesAreWellFormed) {
  setMessageDir(QRX_SOURCE_DIR "/host/messages");
  std::vector<std::string> problems = checkMessageCatalogue();
  for (const auto& p : problems)
    ADD_FAILURE() << p;
  EXPECT_TRUE(messageCatalogueAvailable(nullptr));
  // the messages the driver's exit path writes are there, as errors
  for (int n : {140, 142, 143, 144, 215}) {
    const MessageDef* m = findMessage(848, n);
    ASSERT_NE(m, nullptr) << n;
    EXPECT_EQ(m->severity, HostSeverity::Error) << n;
  }
  setMessageDir("");
}

TEST(Catalogue, FillsMarkersOfEveryKind) {
  RestoreDir restore;
  TempDir dir;
  dir.write("901.txt", "# comment\n\n7\tWARNING\tA %1 B %2 C %3 D %%1 %9.\n"
                       "8\tNOTE\t%2 before %1\r\n");
  setMessageDir(dir.path.string());
  HostMsgArg args[] = {HostMsgArg(42), HostMsgArg(0.25), HostMsgArg("txt")};
  EXPECT_EQ(formatMessage(901, 7, args, 3), "A 42 B 0.25 C txt D %1 .");
  EXPECT_EQ(formatMessage(901, 8, args, 2), "0.25 before 42");
  // a marker beyond the values given is left empty
  EXPECT_EQ(formatMessage(901, 8, args, 1), " before 42");
  const MessageDef* m = findMessage(901, 7);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->severity, HostSeverity::Warning);
  EXPECT_EQ(findMessage(901, 9), nullptr);
  EXPECT_EQ(findMessage(902, 1), nullptr); // no such file
}

TEST(Catalogue, MissingValueAndLengthLimitedStrings) {
  RestoreDir restore;
  TempDir dir;
  dir.write("903.txt", "1\tERROR\t[%1] [%2]\n");
  setMessageDir(dir.path.string());
  HostMsgArg args[] = {HostMsgArg(hostMissing()), HostMsgArg("abcdef", 3)};
  EXPECT_EQ(formatMessage(903, 1, args, 2), "[.] [abc]");
}

TEST(Catalogue, UnknownMessageNamesSetNumberAndValues) {
  RestoreDir restore;
  TempDir dir;
  setMessageDir(dir.path.string());
  HostMsgArg args[] = {HostMsgArg(5), HostMsgArg("x")};
  std::string text = formatMessage(904, 12, args, 2);
  EXPECT_NE(text.find("904"), std::string::npos);
  EXPECT_NE(text.find("12"), std::string::npos);
  EXPECT_NE(text.find("5, x"), std::string::npos);
  EXPECT_FALSE(messageCatalogueAvailable(nullptr)); // empty directory
}

TEST(Catalogue, MalformedLinesAreReported) {
  RestoreDir restore;
  TempDir dir;
  dir.write("905.txt", "1\tERROR\tgood\nx\tNOTE\tbad number\n2 NOTE no tabs\n3\tINFO\tbad "
                       "severity\n1\tNOTE\ttwice\n");
  setMessageDir(dir.path.string());
  std::vector<std::string> problems = checkMessageCatalogue();
  ASSERT_EQ(problems.size(), 4u);
  EXPECT_NE(problems[0].find(":2:"), std::string::npos);
  EXPECT_NE(problems[3].find(":5:"), std::string::npos);
  ASSERT_NE(findMessage(905, 1), nullptr);
  EXPECT_EQ(findMessage(905, 1)->text, "good");
}

TEST(Catalogue, BestNumberFormat) {
  // independent expectations: integers print whole, others with at most 12 characters
  EXPECT_EQ(formatBestNumber(3.0), "3");
  EXPECT_EQ(formatBestNumber(-120.0), "-120");
  EXPECT_EQ(formatBestNumber(0.1), "0.1");
  EXPECT_EQ(formatBestNumber(1.0 / 3.0), "0.3333333333");
  EXPECT_LE(formatBestNumber(-1.0 / 3.0).size(), 12u);
  EXPECT_EQ(formatBestNumber(1e20), "1E20");
  EXPECT_EQ(formatBestNumber(hostMissing()), ".");
}
