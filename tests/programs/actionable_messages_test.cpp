// Messages that tell the user what is wrong, where, and what to do, end to end through qrx:
// unsorted BY data names the values out of order on their lines, a value holding a NUL byte
// is quoted whole, a failed scratch-file write names the file, the block's size and the
// reason and every output of the step gets its note, WEIGHT values that are all zero are
// named as such, and an unreadable program file gives the system's reason.
#include "host/minijson.h"
#include "msgid.h"
#include "programs/clifixture.h"
#include "programs/qrxrun.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using clitest::Cli;
using clitest::has;
using clitest::Outcome;
using minijson::Value;

namespace {

// The log records of message m in the first step of a JSON record.
std::vector<const Value*> records(const Value& json, MsgId m) {
  std::vector<const Value*> found;
  if (!json.has("steps") || json["steps"].items.empty())
    return found;
  for (const Value& l : json["steps"][0]["log"].items)
    if (l.has("number") && m.is(static_cast<int>(l["set"].n), static_cast<int>(l["number"].n)))
      found.push_back(&l);
  return found;
}

Value parsedFile(const fs::path& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  Value v;
  std::string error;
  EXPECT_TRUE(minijson::Parser(s.str()).parse(&v, &error)) << error;
  return v;
}

} // namespace

// Rows out of BY order: the message gives the line that comes too late and the line it
// follows, each with its BY values, in that order.
TEST(ActionableMessages, UnsortedByDataNamesTheValuesOutOfOrder) {
  qrxrun::ProgramRun r =
      qrxrun::runProgram("proc varsifter data=bs; by g h; model y = x1; run;\n", "unsorted_by",
                         {{"bs.csv", "y,x1,g,h\n1,2,1,a\n2,3,1,b\n3,5,1,a\n4,4,2,a\n5,1,2,b\n"}});
  EXPECT_EQ(r.status, 2) << r.log;
  const Value* e = qrxrun::logEntry(r, qrxhost::DataMsg::NotSortedByGroups);
  ASSERT_NE(e, nullptr) << r.log;
  const Value& v = (*e)["values"];
  EXPECT_EQ(v[2].n, 3); // line 3 (g=1 h=b) ...
  EXPECT_EQ(v[3].n, 4); // ... is followed by line 4 (g=1 h=a), which belongs before it
  EXPECT_EQ(v[4].s, "g=1 h=b");
  EXPECT_EQ(v[5].s, "g=1 h=a");
}

// A NUL byte inside a value, quoted or not, does not cut the value in the note that calls
// the column character: the note quotes all of it with the byte shown.
TEST(ActionableMessages, NulByteInAValueIsShownWhole) {
  const std::string quoted("y,x1\n1,2\n2,\"3\0"
                           "4\"\n3,5\n4,4\n",
                           25);
  const std::string bare("y,x1\n1,2\n2,3\0"
                         "4\n3,5\n4,4\n",
                         23);
  for (const std::string& data : {quoted, bare}) {
    qrxrun::ProgramRun r = qrxrun::runProgram("proc varsifter data=n; model y = x1; run;\n",
                                              "nul_byte", {{"n.csv", data}});
    EXPECT_EQ(r.status, 2) << r.log;
    const Value* e = qrxrun::logEntry(r, qrxhost::DataMsg::TextAmongNumbers);
    ASSERT_NE(e, nullptr) << r.log;
    EXPECT_EQ((*e)["values"][2].n, 3);
    EXPECT_EQ((*e)["values"][3].s, "3<0x00>4");
  }
}

// All-zero weights: the error names the WEIGHT variable, not the frequencies.
TEST(ActionableMessages, ZeroWeightsAreNamed) {
  qrxrun::ProgramRun r =
      qrxrun::runProgram("proc varsifter data=wz; model y = x1; weight w; run;\n", "zero_weight",
                         {{"wz.csv", "y,x1,w\n1,2,0\n2,3,0\n3,5,0\n4,4,0\n"}});
  EXPECT_EQ(r.status, 2) << r.log;
  const Value* e = qrxrun::logEntry(r, VsfMsg::NoPositiveWeight);
  ASSERT_NE(e, nullptr) << r.log;
  EXPECT_EQ((*e)["values"][0].s, "w");
  EXPECT_FALSE(qrxrun::logged(r, VsfMsg::TrainingFrequenciesSumZero)) << r.log;
}

// A step record that cannot be written (a file size limit the scratch file passes and the
// run's JSON record does not) names the scratch file, the block and the system's reason;
// the step's OUTDESIGN= data set, item store and scoring code, never staged, each get the
// note that they were not written, and none of them is made.
TEST_F(Cli, FailedScratchWriteNamesFileSizeAndReason) {
  std::string data = "y";
  for (int c = 1; c <= 30; ++c)
    data += ",x" + std::to_string(c);
  data += "\n";
  for (int i = 0; i < 200; ++i) {
    double sum = 0;
    std::string row;
    for (int c = 1; c <= 30; ++c) {
      const double v = ((i * 37 + c * 11) % 101) / 50.0 - 1.0;
      sum += c <= 10 ? v : 0.0;
      // Appended piece by piece: GCC 12 takes "text" + std::string for an overlapping copy.
      row += ",";
      row += std::to_string(v);
    }
    data += std::to_string(sum + ((i * 7) % 13) / 13.0) + row + "\n";
  }
  write("big.csv", data);
  const std::string prog =
      write("p.qrx", "proc varsifter data=big outdesign=dz; model y = x1-x30 / "
                     "selection=forward(stop=none); store out=k; code file=c; run;\n");
  const fs::path json = dir / "r.json";
  Outcome r = clitest::shell("trap '' XFSZ; ulimit -f 8; ASAN_OPTIONS=detect_leaks=0 '" +
                             std::string(QRX_BINARY) + "' --work '" + dir.string() + "' --json '" +
                             json.string() + "' '" + prog + "'");
  EXPECT_EQ(r.status, 2) << r.out;
  const Value record = parsedFile(json);
  const auto failed = records(record, VsfMsg::StepRecordNotWritten);
  ASSERT_EQ(failed.size(), 1u) << r.out;
  const Value& v = (*failed[0])["values"];
  EXPECT_FALSE(v[1].s.empty());
  EXPECT_GT(v[2].n, 0);
  EXPECT_EQ(v[3].s, std::strerror(EFBIG));
  EXPECT_EQ(records(record, qrxhost::DataMsg::FileSkipped).size(), 3u) << r.out;
  for (const char* name : {"dz.csv", "k.json", "c.py"})
    EXPECT_FALSE(fs::exists(dir / name)) << name;
}

// A program file that cannot be read: exit 2 and the system's reason.
TEST_F(Cli, UnreadableProgramFileGivesTheReason) {
  std::string absent = "'";
  absent += (dir / "absent.qrx").string();
  absent += "'";
  Outcome r = clitest::qrx(absent);
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(has(r, std::strerror(ENOENT))) << r.out;
  if (::geteuid() != 0) {
    const std::string prog = write("locked.qrx", "%put hi;\n");
    ::chmod(prog.c_str(), 0);
    r = clitest::qrx("'" + prog + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(has(r, std::strerror(EACCES))) << r.out;
  }
}
