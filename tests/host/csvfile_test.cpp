// CSV parsing: column types, missing values, lengths, quoting, and the messages for
// malformed files (ragged rows, unclosed quotes, names that are not UTF-8); the threaded
// reader against a plain reference reader on random texts cut into small blocks.
#include "host/csvreference.h"
#include "host/data/csvfile.h"
#include "host/data/csvmap.h"
#include "host/pools.h"
#include "support/hostif.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include <unistd.h>

using namespace qrxhost;

namespace {

// A text the reader refuses: the line the error names and words its message holds.
struct Refused {
  const char* text;
  int line;
  const char* words;
};

void expectRefused(const Refused& c) {
  CsvTable t;
  CsvError e;
  EXPECT_FALSE(parseCsv(c.text, &t, &e)) << c.text;
  EXPECT_EQ(e.line, c.line) << c.text;
  EXPECT_NE(e.text.find(c.words), std::string::npos) << c.text << " -> " << e.text;
}

} // namespace

TEST(CsvFile, TypesMissingValuesAndLengths) {
  CsvTable t;
  CsvError e;
  ASSERT_TRUE(parseCsv("id,name,x,empty\r\n1,ab,1.5,\n2,\"c,d\",.,.\n3, e  ,-2e3,\n", &t, &e))
      << e.line << ": " << e.text;
  ASSERT_EQ(t.columns.size(), 4u);
  EXPECT_EQ(t.nobs, 3);
  EXPECT_TRUE(t.columns[0].numeric);
  EXPECT_FALSE(t.columns[1].numeric);
  EXPECT_TRUE(t.columns[2].numeric);
  EXPECT_TRUE(t.columns[3].numeric); // every value missing: numeric
  EXPECT_EQ(t.columns[1].str(1), "c,d");
  EXPECT_EQ(t.columns[1].str(2), " e"); // leading blanks kept, trailing dropped
  EXPECT_EQ(t.columns[1].length, 3);    // longest value
  EXPECT_EQ(t.columns[2].nums[0], 1.5);
  EXPECT_TRUE(isHostMissing(t.columns[2].nums[1]));
  EXPECT_EQ(t.columns[2].nums[2], -2000.0);
  for (double v : t.columns[3].nums) {
    ASSERT_TRUE(isHostMissing(v));
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    EXPECT_EQ(bits, kHostMissingBits);
  }
  EXPECT_EQ(t.lines, (std::vector<int32_t>{2, 3, 4}));
}

TEST(CsvFile, OneNonNumberMakesTheColumnCharacter) {
  CsvTable t;
  CsvError e;
  ASSERT_TRUE(parseCsv("a,b\n1,1\n2,0x10\n3,nan\n", &t, &e));
  EXPECT_TRUE(t.columns[0].numeric);
  EXPECT_FALSE(t.columns[1].numeric);    // hexadecimal is not a data-set number
  EXPECT_EQ(t.columns[1].str(2), "nan"); // a character column keeps the missing spellings
  EXPECT_EQ(t.columns[1].str(1), "0x10");
  EXPECT_EQ(t.columns[1].length, 4);
}

TEST(CsvFile, OtherProgramsMissingSpellingsAreMissingNumbers) {
  CsvTable t;
  CsvError e;
  ASSERT_TRUE(
      parseCsv("a,b,c\n1,NA,x\n2,NaN,NA\n3, nan ,y\n4,\"N/A\",z\n5,n/a,w\n6,2.5,v\n", &t, &e))
      << e.text;
  EXPECT_TRUE(t.columns[0].numeric);
  ASSERT_TRUE(t.columns[1].numeric);
  for (int i = 0; i < 5; ++i)
    EXPECT_TRUE(isHostMissing(t.columns[1].nums[i])) << i;
  EXPECT_EQ(t.columns[1].nums[5], 2.5);
  ASSERT_FALSE(t.columns[2].numeric);
  EXPECT_EQ(t.columns[2].str(1), "NA");
}

TEST(CsvFile, NumbersBeyondTheLargestDoubleAreRefused) {
  const Refused cases[] = {
      {"x,y\n1,2\n2,inf\n", 3, "column 2 (y): the value \"inf\""},
      {"x,y\n1,2\n-Infinity,3\n", 3, "column 1 (x): the value \"-Infinity\""},
      {"x,y\n1,2\n2,3\n3, 1e400\n", 4, "column 2 (y): the value \"1e400\""},
      {"x,y\n1,-1.5E+309\n2,INF\n", 2, "column 2 (y): the value \"-1.5E+309\""},
  };
  for (const Refused& c : cases)
    expectRefused(c);
  // An empty name (a row index written by R or pandas) is VARn, kept apart from given names.
  for (const auto& [text, second] : {std::pair<const char*, const char*>{"a,,c\n1,2,3\n", "VAR2"},
                                     {"var2,,c\n1,2,3\n", "VAR2_2"}}) {
    CsvTable named;
    CsvError why;
    ASSERT_TRUE(parseCsv(text, &named, &why)) << why.text;
    EXPECT_EQ(named.columns[1].name, second);
  }
  // In a character column such texts are values; tiny magnitudes read as zero.
  CsvTable t;
  CsvError e;
  ASSERT_TRUE(parseCsv("s,v\ninf,1e-400\nlow,2\n", &t, &e)) << e.text;
  EXPECT_FALSE(t.columns[0].numeric);
  EXPECT_EQ(t.columns[0].str(0), "inf");
  ASSERT_TRUE(t.columns[1].numeric);
  EXPECT_EQ(t.columns[1].nums[0], 0.0);
}

TEST(CsvFile, QuotedFieldsWithQuotesAndLineBreaks) {
  CsvTable t;
  CsvError e;
  ASSERT_TRUE(parseCsv("s,n\n\"say \"\"hi\"\"\",1\n\"two\nlines\",2\n\"\",3\n", &t, &e));
  EXPECT_EQ(t.columns[0].str(0), "say \"hi\"");
  EXPECT_EQ(t.columns[0].str(1), "two\nlines");
  EXPECT_EQ(t.columns[0].str(2), "");
  EXPECT_EQ(t.lines, (std::vector<int32_t>{2, 3, 5})); // the quoted break counts as a line
}

TEST(CsvFile, MalformedFilesNameTheLine) {
  const Refused cases[] = {
      {"a,b\n1,2\n3\n", 3, "1 values"},
      {"a,b\n1,2\n3,4,5\n", 3, "3 values"},
      {"a,b\n1,\"open\n2,3\n", 2, "not closed"},
      {"a,\xff\n1,2\n", 1, "UTF-8"},
      {"a,a\n1,2\n", 1, "twice"},
      {"", 1, "no header"},
      {"a\n1\"x\n", 2, "quote"},
  };
  for (const Refused& c : cases)
    expectRefused(c);
  CsvTable t;
  CsvError e;
  EXPECT_FALSE(readCsvFile("/nonexistent/dir/x.csv", &t, &e));
  EXPECT_EQ(e.line, 0);
}

TEST(CsvFile, NumbersAndFieldsRoundTrip) {
  for (double v : {0.1, -1.0 / 3.0, 1e-300, 123456789012345678.0, 2.5}) {
    double back = 0;
    ASSERT_TRUE(parseCsvNumber(formatCsvNumber(v), &back)) << v;
    EXPECT_EQ(back, v);
  }
  EXPECT_EQ(formatCsvNumber(hostMissing()), "");
  EXPECT_EQ(csvField("plain"), "plain");
  EXPECT_EQ(csvField("a,b"), "\"a,b\"");
  EXPECT_EQ(csvField("q\"q"), "\"q\"\"q\"");
  EXPECT_EQ(csvField(" lead"), "\" lead\"");
  // a written row parses back to the same values
  CsvTable t;
  CsvError e;
  std::string text = "s\n" + csvField("x,\"y\"\nz") + "\n";
  ASSERT_TRUE(parseCsv(text, &t, &e));
  EXPECT_EQ(t.columns[0].str(0), "x,\"y\"\nz");
  double v;
  EXPECT_FALSE(parseCsvNumber("1e", &v));
  EXPECT_FALSE(parseCsvNumber(".", &v));
  EXPECT_FALSE(parseCsvNumber("inf", &v));
  EXPECT_FALSE(parseCsvNumber("1e999", &v)); // overflows to infinity
  EXPECT_TRUE(parseCsvNumber(" +.5 ", &v));
  EXPECT_EQ(v, 0.5);
}

TEST(CsvFile, EveryFieldQuoted) {
  // writers that quote every field: quoted numbers are numbers, a quoted "." is missing
  CsvTable t;
  CsvError e;
  ASSERT_TRUE(parseCsv("\"a\",\"b\"\n\"1.5\",\"x\"\n\".\",\".\"\n", &t, &e));
  EXPECT_TRUE(t.columns[0].numeric);
  EXPECT_EQ(t.columns[0].nums[0], 1.5);
  EXPECT_TRUE(isHostMissing(t.columns[0].nums[1]));
  EXPECT_FALSE(t.columns[1].numeric);
  EXPECT_EQ(t.columns[1].str(1), "");
}

namespace {

// Random CSV texts: numbers in many spellings, missing spellings, texts with commas, quotes,
// blanks and line breaks, quoting of any field, LF and CRLF, empty lines, a byte-order mark,
// and now and then one fault (a ragged row, a stray or unclosed quote, a bare carriage
// return, a number beyond the largest double, a repeated name).
class CsvGenerator {
public:
  explicit CsvGenerator(uint64_t seed) : rng_(seed) {}

  std::string text() {
    const int ncol = pick(1, 5), nrow = pick(0, 25);
    const bool crlf = pick(0, 2) == 0;
    std::string s = pick(0, 5) == 0 ? "\xEF\xBB\xBF" : "";
    std::vector<int> kinds(static_cast<size_t>(ncol));
    for (int c = 0; c < ncol; ++c) {
      const std::string name = c == 1 && pick(0, 30) == 0
                                   ? std::string("C0")
                                   : std::string("c").append(std::to_string(c));
      s.append(c ? "," : "").append(maybeQuoted(name));
      kinds[static_cast<size_t>(c)] = pick(0, 3); // 0-2 mostly numbers, 3 text
    }
    s += crlf ? "\r\n" : "\n";
    for (int r = 0; r < nrow; ++r) {
      if (pick(0, 12) == 0)
        s += crlf ? "\r\n" : "\n"; // an empty line
      int fields = pick(0, 400) == 0 ? ncol + pick(0, 1) * 2 - 1 : ncol;
      for (int c = 0; c < fields; ++c)
        s.append(c ? "," : "").append(value(kinds[static_cast<size_t>(std::min(c, ncol - 1))]));
      if (r + 1 < nrow || pick(0, 3) != 0)
        s += crlf ? "\r\n" : "\n";
    }
    if (pick(0, 40) == 0)
      s.insert(static_cast<size_t>(pick(0, static_cast<int>(s.size()))), 1,
               "\"\r,\n"[pick(0, 3)]); // a fault somewhere, or a harmless separator
    if (pick(0, 60) == 0)
      s += "\"open\n" + std::string(static_cast<size_t>(pick(0, 40)), 'x');
    return s;
  }

private:
  int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

  std::string maybeQuoted(const std::string& v) {
    bool must = v.find_first_of(",\"\n\r") != std::string::npos;
    if (!must && pick(0, 4) != 0)
      return v;
    std::string q = "\"";
    for (char c : v)
      q += c == '"' ? std::string("\"\"") : std::string(1, c);
    q += "\"";
    if (pick(0, 30) == 0)
      q += " "; // blanks after the closing quote are allowed
    return q;
  }

  std::string number() {
    static const char* const odd[] = {"1e-400",
                                      "-0",
                                      "+.5",
                                      "5.",
                                      "1E+05",
                                      " 7 ",
                                      "-1.5e-3",
                                      "0.1",
                                      "123456789012345678901234567890",
                                      "1e400",
                                      "-inf",
                                      "Infinity",
                                      "2.2250738585072014e-308",
                                      "1e",
                                      "0x10",
                                      "4e3x"};
    if (pick(0, 15) == 0)
      return odd[pick(0, 15)];
    std::uniform_real_distribution<double> u(-1000, 1000);
    char buf[64];
    std::snprintf(buf, sizeof buf, pick(0, 1) ? "%.17g" : "%.3f", u(rng_));
    return buf;
  }

  std::string value(int kind) {
    static const char* const missing[] = {"", ".", "NA", "nan", "N/A", " . ", "NaN"};
    static const char* const texts[] = {"abc",   "a,b",     "say \"hi\"", "two\nlines",
                                        " lead", "trail  ", "x\r\ny",     "\xC3\xA9t\xC3\xA9",
                                        "\"",    "NA"};
    int k = pick(0, 9);
    std::string v = k < 2 ? missing[pick(0, 6)] : kind < 3 || k < 4 ? number() : texts[pick(0, 9)];
    return maybeQuoted(v);
  }

  std::mt19937_64 rng_;
};

// Observation r of a table against the reference, read through `rows` (which parses r's
// window first when the table is read window by window).
void expectObservation(CsvRows& rows, const csvref::Table& ref, int64_t r) {
  ASSERT_TRUE(rows.reach(r)) << r;
  ASSERT_TRUE(r >= rows.first() && r < rows.end()) << r;
  const size_t i = static_cast<size_t>(r);
  for (size_t c = 0; c < ref.names.size(); ++c) {
    if (!ref.numeric[c]) {
      EXPECT_EQ(rows.str(c, r), ref.strs[c][i]);
      EXPECT_EQ(rows.cstr(c, r)[rows.str(c, r).size()], '\0');
      continue;
    }
    const double v = rows.num(c, r);
    if (ref.missing[c][i]) {
      uint64_t bits;
      std::memcpy(&bits, &v, sizeof bits);
      EXPECT_EQ(bits, kHostMissingBits);
    } else {
      EXPECT_EQ(std::memcmp(&v, &ref.nums[c][i], sizeof(double)), 0)
          << v << " vs " << ref.nums[c][i];
    }
  }
}

// The threaded reader against the reference on the same text: outcome, error line and text,
// types, lengths, values bit for bit (in order, then from the last observation back to the
// first, so that a table read window by window goes back to windows it left), lines.
// Returns the reference's outcome: "" or the start of its error text. With `file` given, the
// text is written there and read from it.
std::string expectSameAsReference(const std::string& text, const CsvReadOptions& options,
                                  bool* windowed = nullptr, const std::string& file = "") {
  const csvref::Table ref = csvref::parse(text);
  const std::string outcome = ref.ok ? "" : ref.errorText.substr(0, 12);
  auto t = std::make_shared<CsvTable>();
  CsvError e;
  if (!file.empty())
    std::ofstream(file, std::ios::binary) << text;
  const bool ok = file.empty() ? parseCsv(text.data(), text.size(), options, t.get(), &e)
                               : readCsvFile(file, options, t.get(), &e);
  EXPECT_EQ(ok, ref.ok) << e.text << " | " << ref.errorText;
  if (!ok || !ref.ok) {
    EXPECT_EQ(e.line, ref.errorLine);
    EXPECT_EQ(e.text, ref.errorText);
    return outcome;
  }
  if (windowed)
    *windowed = t->windowed();
  EXPECT_EQ(t->columns.size(), ref.names.size());
  EXPECT_EQ(t->lines, std::vector<int32_t>(ref.lines.begin(), ref.lines.end()));
  bool sameShape = t->columns.size() == ref.names.size() && t->lines.size() == ref.lines.size();
  for (size_t c = 0; c < t->columns.size() && c < ref.names.size(); ++c) {
    const CsvColumn& col = t->columns[c];
    EXPECT_EQ(col.name, ref.names[c]);
    EXPECT_EQ(col.numeric, ref.numeric[c]) << c;
    EXPECT_EQ(col.length, ref.lengths[c]) << c;
    sameShape = sameShape && col.numeric == ref.numeric[c];
  }
  if (!sameShape)
    return outcome;
  CsvRows rows(t);
  for (int64_t r = 0; r < t->nobs; ++r)
    expectObservation(rows, ref, r);
  for (int64_t r = t->nobs - 1; r >= 0; --r)
    expectObservation(rows, ref, r);
  EXPECT_FALSE(rows.reach(t->nobs));
  return outcome;
}

} // namespace

TEST(CsvFile, ThreadedReaderMatchesTheReferenceOnRandomTexts) {
  CsvGenerator gen(20260428);
  std::mt19937 pick(7);
  std::map<std::string, int> outcomes;
  for (int round = 0; round < 1000; ++round) {
    const std::string text = gen.text();
    CsvReadOptions options;
    options.threads = 1 + static_cast<int>(pick() % 4);
    options.blockBytes = 1 + pick() % 48; // blocks cut inside records, quotes and CRLFs
    SCOPED_TRACE("round " + std::to_string(round) + ": " + text);
    ++outcomes[expectSameAsReference(text, options)];
    expectSameAsReference(text, CsvReadOptions()); // one block, one thread
    if (::testing::Test::HasFailure())
      return;
  }
  // the texts reach every kind of outcome, mostly a good parse
  EXPECT_GT(outcomes[""], 600);
  EXPECT_GE(outcomes.size(), 8u);
}

// Texts whose values exceed the memory the reader may hold are settled in one pass and read
// window by window: the same outcomes, messages with their lines, types, lengths and values
// as the reference, whatever the windows and blocks.
TEST(CsvFile, WindowedReaderMatchesTheReferenceOnRandomTexts) {
  CsvGenerator gen(20261207);
  std::mt19937 pick(11);
  std::map<std::string, int> outcomes;
  int windowed = 0;
  for (int round = 0; round < 1000; ++round) {
    const std::string text = gen.text();
    CsvReadOptions options;
    options.threads = 1 + static_cast<int>(pick() % 4);
    options.holdBytes = 1 + pick() % 64;
    options.windowBytes = pick() % 2 ? 0 : 1 + pick() % 200; // 0: a quarter of the hold
    if (pick() % 2)
      options.blockBytes = 1 + pick() % 48;
    SCOPED_TRACE("round " + std::to_string(round) + ": " + text);
    bool w = false;
    ++outcomes[expectSameAsReference(text, options, &w)];
    windowed += w;
    if (::testing::Test::HasFailure())
      return;
  }
  EXPECT_GT(outcomes[""], 600);
  EXPECT_GE(outcomes.size(), 8u);
  EXPECT_GT(windowed, 500); // most good parses went the windowed road
}

// A file read piece by piece (here every file longer than a byte, as a file the address
// space has no room for is read), whole or window by window, with blocks cut anywhere: the
// same outcomes, messages, types, lengths and values as the reference.
TEST(CsvFile, FileReadPieceByPieceMatchesTheReference) {
  CsvGenerator gen(20261208);
  std::mt19937 pick(13);
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("qrx_pieces_" + std::to_string(static_cast<long>(::getpid()))))
                               .string();
  std::map<std::string, int> outcomes;
  for (int round = 0; round < 300; ++round) {
    const std::string text = gen.text();
    CsvReadOptions options;
    options.mapBytes = 1;
    options.threads = 1 + static_cast<int>(pick() % 4);
    options.blockBytes = 1 + pick() % 48;
    if (pick() % 2)
      options.holdBytes = 1 + pick() % 64;
    SCOPED_TRACE("round " + std::to_string(round) + ": " + text);
    ++outcomes[expectSameAsReference(text, options, nullptr, path)];
    if (::testing::Test::HasFailure())
      break;
  }
  std::filesystem::remove(path);
  EXPECT_GT(outcomes[""], 175);
  EXPECT_GE(outcomes.size(), 5u);
}

namespace {

// A file of `rows` numeric rows spanning many pages; its path.
std::string writeNumbers(const std::string& name, int rows) {
  const std::string path = (std::filesystem::temp_directory_path() /
                            (name + "_" + std::to_string(static_cast<long>(::getpid()))))
                               .string();
  std::ofstream f(path, std::ios::binary);
  f << "a,b,c\n";
  for (int i = 0; i < rows; ++i)
    f << i << "," << i * 0.5 << "," << -i << "\n";
  return path;
}

// A file of writeNumbers read window by window (windows of some 16 KB of values) on two
// threads; null, with the failure added, when it cannot be read.
std::shared_ptr<CsvTable> readInWindows(const std::string& path) {
  CsvReadOptions options;
  options.threads = 2;
  options.holdBytes = 64 << 10;
  auto t = std::make_shared<CsvTable>();
  CsvError e;
  if (readCsvFile(path, options, t.get(), &e))
    return t;
  ADD_FAILURE() << e.text;
  return nullptr;
}

} // namespace

// A piece the address space has no room for is refused with the system's reason and
// counted as a failed memory request, so the step's note gives its size and the limit.
TEST(CsvFile, PieceWithoutRoomIsAFailedMemoryRequest) {
  const std::string path = writeNumbers("qrx_noroom", 100);
  MappedFile file;
  CsvError e;
  ASSERT_TRUE(file.open(path, 1, &e)) << e.text;
  ASSERT_TRUE(file.inPieces());
  (void)takeLargestFailedRequest();
  const size_t huge = size_t{1} << 60;
  MappedPiece piece;
  EXPECT_FALSE(file.mapPiece(0, huge, &piece));
  EXPECT_NE(file.readError().find("cannot be mapped into memory"), std::string::npos);
  EXPECT_EQ(takeLargestFailedRequest(), huge);
  std::filesystem::remove(path);
}

// Another process shortening the file while it is parsed: the pages that vanished read as
// zeros instead of ending the process with a bus error, and the reading is refused as a
// changed file, on one thread and on several.
TEST(CsvFile, FileShortenedWhileReadIsRefusedNotACrash) {
  for (int threads : {1, 4}) {
    const std::string path = writeNumbers("qrx_shortened", 20000);
    CsvReadOptions options;
    options.threads = threads;
    options.blockBytes = 8192;
    std::atomic<bool> cut{false};
    options.doneWith = [&](size_t, size_t) {
      if (!cut.exchange(true)) {
        ASSERT_EQ(::truncate(path.c_str(), 4096), 0);
      }
    };
    CsvTable t;
    CsvError e;
    EXPECT_FALSE(readCsvFile(path, options, &t, &e)) << threads;
    EXPECT_EQ(e.line, 0);
    EXPECT_EQ(e.text, "the file changed while it was being read");
    std::filesystem::remove(path);
  }
}

// A file read window by window and shortened between windows: the windows already read stay
// readable, a window whose text vanished is refused as a change; the first reading had found
// 20000 observations with their values.
TEST(CsvFile, FileShortenedBetweenWindowsIsAChange) {
  const std::string path = writeNumbers("qrx_shortened_windows", 20000);
  const std::shared_ptr<CsvTable> t = readInWindows(path);
  ASSERT_TRUE(t && t->windowed());
  ASSERT_EQ(t->nobs, 20000);
  CsvRows rows(t);
  ASSERT_TRUE(rows.reach(10));
  EXPECT_EQ(rows.num(1, 10), 5.0);
  ASSERT_LT(rows.end(), 20000); // more windows to come
  ASSERT_EQ(::truncate(path.c_str(), 4096), 0);
  EXPECT_TRUE(rows.reach(11)); // held already
  EXPECT_FALSE(rows.reach(19999));
  EXPECT_TRUE(rows.changed());
  std::filesystem::remove(path);
}

// Readers on several threads going through a table read window by window a few observations
// apart, as the workers of a block read do: each window is parsed once while a reader holds
// it (the window the laggards are in stays while the leaders parse the next), one no reader
// holds goes, and every reader sees its observations' values.
TEST(CsvFile, ReadersSharingWindowsParseEachWindowOnce) {
  const std::string path = writeNumbers("qrx_shared_windows", 20000);
  const std::shared_ptr<CsvTable> t = readInWindows(path);
  ASSERT_TRUE(t && t->windowed());
  CsvWindowCache windows(t);
  const std::shared_ptr<const CsvWindow> first = windows.window(0);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(windows.window(1), nullptr);
  EXPECT_EQ(windows.window(0), first); // held: kept beside the next, not parsed again
  const std::weak_ptr<const CsvWindow> left = windows.window(1);
  ASSERT_NE(windows.window(2), nullptr);
  EXPECT_TRUE(left.expired()); // held by no reader: gone with its memory
  std::atomic<int> wrong{0};
  std::vector<std::thread> readers;
  for (int k = 0; k < 8; ++k)
    readers.emplace_back([&, k] {
      CsvRows rows(t, &windows);
      for (int64_t r = k; r < t->nobs; r += 8)
        if (!rows.reach(r) || rows.num(1, r) != static_cast<double>(r) * 0.5)
          ++wrong;
    });
  for (std::thread& r : readers)
    r.join();
  EXPECT_EQ(wrong.load(), 0);
  std::filesystem::remove(path);
}

// A window parsed after one that no reader holds any more takes that window's buffers, memory
// in use already rather than fresh pages, and holds its own observations' values in them, not
// the stale ones.
TEST(CsvFile, WindowsParsedInTurnReuseTheBuffersOfThoseLeft) {
  const std::string path = writeNumbers("qrx_reused_windows", 20000);
  const std::shared_ptr<CsvTable> t = readInWindows(path);
  ASSERT_TRUE(t && t->windowed());
  CsvWindowCache windows(t);
  std::set<const double*> left;
  {
    const std::shared_ptr<const CsvWindow> first = windows.window(0);
    ASSERT_NE(first, nullptr);
    for (const CsvColumn& c : first->columns)
      left.insert(c.nums.data());
  }
  ASSERT_NE(windows.window(1), nullptr);
  const std::shared_ptr<const CsvWindow> third = windows.window(2); // the buffers passed on
  ASSERT_NE(third, nullptr);
  size_t reused = 0;
  for (const CsvColumn& c : third->columns)
    reused += left.count(c.nums.data());
  EXPECT_EQ(reused, third->columns.size());
  for (int64_t obs = third->first; obs < third->end; ++obs) {
    const auto i = static_cast<size_t>(obs - third->first);
    ASSERT_EQ(third->columns[0].nums[i], static_cast<double>(obs)) << obs;
    ASSERT_EQ(third->columns[1].nums[i], static_cast<double>(obs) * 0.5) << obs;
    ASSERT_EQ(third->columns[2].nums[i], -static_cast<double>(obs)) << obs;
  }
  std::filesystem::remove(path);
}

namespace {

// Decimal texts of every shape the number reader meets: signs, leading zeros, no whole part
// or no fraction, 1 to 20 digits before the point, fractions up to 30 digits, mantissas near
// 2^53, and the spellings that leave the common case (exponents, a plus sign).
class DecimalGenerator {
public:
  explicit DecimalGenerator(uint64_t seed) : rng_(seed) {}

  std::string next() {
    switch (pick(0, 5)) {
    case 0:
      return nearTwoTo53();
    case 1: {
      static const char* const fixed[] = {"-0",
                                          "-0.0",
                                          "0.000",
                                          "-.5",
                                          "5.",
                                          ".0",
                                          "00000000.00000001",
                                          "99999999.99999999",
                                          "12345678.12345678",
                                          "123456789.1234567",
                                          "1234567.123456789",
                                          "9007199254740992",
                                          "9007199254740993",
                                          "-9007199254740995",
                                          "0.1000000000000000055511151231257827",
                                          "1e5",
                                          "+2.5",
                                          "-1.5E-3"};
      return fixed[pick(0, 17)];
    }
    default:
      return random();
    }
  }

private:
  int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  std::string digits(int n) {
    std::string s;
    for (int k = 0; k < n; ++k)
      s += static_cast<char>('0' + pick(0, 9));
    return s;
  }
  std::string random() {
    std::string s = pick(0, 1) ? "-" : "";
    const int whole = pick(0, 3) == 0 ? pick(0, 20) : pick(0, 3);
    const int fraction = pick(0, 3) == 0 ? pick(0, 30) : pick(0, 9);
    if (pick(0, 10) == 0)
      s += std::string(static_cast<size_t>(pick(1, 4)), '0'); // leading zeros
    s += digits(whole);
    if (fraction > 0 || whole == 0 || pick(0, 2) == 0)
      s += "." + digits(fraction);
    if (s.find_first_of("0123456789") == std::string::npos)
      s += "0";
    return s;
  }
  // 2^53 + k with a point put anywhere in its digits, or sixteen digits above 2^53 split
  // eight and eight: mantissas a double does not hold exactly.
  std::string nearTwoTo53() {
    if (pick(0, 1))
      return (pick(0, 1) ? "-9" : "9") + std::to_string(pick(1000000, 9999999)) + "." + digits(8);
    const uint64_t m = (uint64_t{1} << 53) + static_cast<uint64_t>(pick(-3, 3));
    std::string s = std::to_string(m);
    s.insert(static_cast<size_t>(pick(0, static_cast<int>(s.size()))), 1, '.');
    return (pick(0, 1) ? "-" : "") + s;
  }

  std::mt19937_64 rng_;
};

} // namespace

// Every decimal a data file may hold reads as the same double as the C library's strtod
// (correctly rounded) gives, bit for bit: in the middle of a text, next to its end, on one
// thread and on several with blocks cut anywhere.
TEST(CsvFile, NumbersReadAsStrtodReadsThem) {
  DecimalGenerator gen(20261207);
  constexpr int kRows = 5000, kCols = 4;
  std::vector<std::string> texts;
  std::string csv = "a,b,c,d\n";
  for (int r = 0; r < kRows; ++r) {
    for (int c = 0; c < kCols; ++c) {
      texts.push_back(gen.next());
      csv += (c ? "," : "") + texts.back();
    }
    csv += r % 3 ? "\n" : "\r\n";
  }
  csv.pop_back(); // the last line without its line feed
  for (int threads : {1, 3}) {
    CsvReadOptions options;
    options.threads = threads;
    options.blockBytes = threads > 1 ? 997 : 0;
    CsvTable t;
    CsvError e;
    ASSERT_TRUE(parseCsv(csv.data(), csv.size(), options, &t, &e)) << e.text;
    ASSERT_EQ(t.nobs, kRows);
    for (size_t i = 0; i < texts.size(); ++i) {
      const double expected = std::strtod(texts[i].c_str(), nullptr);
      const double got = t.columns[i % kCols].nums[i / kCols];
      ASSERT_EQ(std::memcmp(&got, &expected, sizeof got), 0)
          << texts[i] << ": " << got << " vs " << expected << " (threads " << threads << ")";
    }
  }
}

// Numbers read on the plain road count their text's length: a column that turns out to hold
// a word after many numbers is as long as its longest number, and keeps the numbers as
// their texts.
TEST(CsvFile, ColumnTurningCharacterKeepsTheNumbersTexts) {
  std::string csv = "x,y\n";
  for (int r = 0; r < 300; ++r)
    csv += (r == 7 ? "-123.4567891" : "1.25") + std::string(",") + std::to_string(r) + "\n";
  csv += "ab,300\n";
  CsvTable t;
  CsvError e;
  ASSERT_TRUE(parseCsv(csv, &t, &e)) << e.text;
  ASSERT_EQ(t.nobs, 301);
  EXPECT_FALSE(t.columns[0].numeric);
  EXPECT_EQ(t.columns[0].length, 12);
  EXPECT_EQ(t.columns[0].str(7), "-123.4567891");
  EXPECT_EQ(t.columns[0].str(300), "ab");
  EXPECT_TRUE(t.columns[1].numeric);
  EXPECT_EQ(t.columns[1].nums[299], 299.0);
}

namespace {

// Texts of numbers with now and then something else in a field (a quoted number, a word, a
// missing spelling, blanks, an exponent, a number beyond the largest double, a quoted line
// break), a row with a field too few or too many, a bare carriage return, CRLF endings: the
// records the plain road starts on and hands back to the full rules mid-record.
std::string mostlyNumbers(std::mt19937_64& rng) {
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  static const char* const odd[] = {
      "\"1.5\"", "abc",      "NA", "",  " 7 ",  "1e5",     "+3",
      "1e400",   "\"x\ny\"", "-",  ".", "1.5x", "\"a,b\"", "12345678901234567890.5"};
  const int ncol = pick(1, 6), nrow = pick(1, 120);
  const bool crlf = pick(0, 3) == 0;
  const char* eol = crlf ? "\r\n" : "\n";
  std::string s;
  for (int c = 0; c < ncol; ++c)
    s += (c ? ",c" : "c") + std::to_string(c);
  s += eol;
  const int rarity = pick(20, 400);
  std::uniform_real_distribution<double> u(-100, 100);
  for (int r = 0; r < nrow; ++r) {
    const int fields = pick(0, rarity * 4) == 0 ? ncol + (pick(0, 1) ? 1 : -1) : ncol;
    for (int c = 0; c < fields; ++c) {
      char buf[48];
      std::snprintf(buf, sizeof buf, "%.*f", pick(0, 9), u(rng));
      s.append(c ? "," : "").append(pick(0, rarity) == 0 ? odd[pick(0, 13)] : buf);
    }
    if (pick(0, rarity * 8) == 0)
      s += "\r"; // a carriage return not followed by a line feed
    if (r + 1 < nrow || pick(0, 1))
      s += eol;
  }
  return s;
}

} // namespace

TEST(CsvFile, PlainRecordsHandBackToTheFullRulesMidRecord) {
  std::mt19937_64 rng(424242);
  std::mt19937 pick(5);
  std::map<std::string, int> outcomes;
  int character = 0;
  for (int round = 0; round < 600; ++round) {
    const std::string text = mostlyNumbers(rng);
    CsvReadOptions options;
    options.threads = 1 + static_cast<int>(pick() % 4);
    options.blockBytes = pick() % 2 ? 0 : 1 + pick() % 600;
    if (pick() % 4 == 0)
      options.holdBytes = 1 + pick() % 4000;
    SCOPED_TRACE("round " + std::to_string(round) + ": " + text);
    ++outcomes[expectSameAsReference(text, options)];
    CsvTable t;
    CsvError e;
    if (parseCsv(text, &t, &e))
      character += std::any_of(t.columns.begin(), t.columns.end(),
                               [](const CsvColumn& c) { return !c.numeric; });
    if (::testing::Test::HasFailure())
      return;
  }
  EXPECT_GT(outcomes[""], 300); // mostly good parses, some of every fault
  EXPECT_GE(outcomes.size(), 4u);
  EXPECT_GT(character, 50);
}

// Faults in a record the plain road starts on, once a column holds texts: a quote inside an
// unquoted text (in the last column and before it), a bare carriage return, a ragged row;
// each refused with its line as the full rules refuse it.
TEST(CsvFile, FaultsAfterPlainRecordsNameTheLine) {
  const std::string rows = "x,t,y\n1,a,2\n3,bb,4\n";
  const Refused cases[] = {
      {"\n5,cc,6\n7,d\"e,8\n", 6, "a quote inside an unquoted value"},
      {"\n5,cc,6\n7,de,8\"\n", 6, "a quote inside an unquoted value"},
      {"\n5,cc,6\n7,de\r,8\n", 6, "a carriage return inside a value"},
      {"\n5,cc,6\n7,de\n", 6, "the row has 2 values"},
      {"\n5,cc,6\n7,de,8,9\n", 6, "the row has 4 values"},
  };
  for (const Refused& c : cases) {
    const std::string text = rows + c.text;
    expectRefused({text.c_str(), c.line, c.words});
  }
}

// The rows-read count a progress line shows only grows, even when the thread that read the
// first block is the last to report it.
TEST(CsvFile, ProgressCountsNeverRunBackwards) {
  std::string text = "x\n";
  for (int i = 0; i < 4000; ++i)
    text += std::to_string(i) + "\n";
  CsvReadOptions options;
  options.threads = 4;
  options.blockBytes = 256;
  std::vector<int64_t> counts;
  std::mutex m;
  std::atomic<bool> first{true};
  options.progress = [&](int64_t rows) {
    if (first.exchange(false))
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::lock_guard<std::mutex> lock(m);
    counts.push_back(rows);
  };
  CsvTable t;
  CsvError e;
  ASSERT_TRUE(parseCsv(text.data(), text.size(), options, &t, &e)) << e.text;
  ASSERT_GT(counts.size(), 4u);
  EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end()));
  EXPECT_EQ(counts.back(), 4000);
}
