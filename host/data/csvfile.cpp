// CSV parsing and writing for the host's data sets. Fields follow the usual rules: commas
// separate, double quotes enclose fields that hold commas, quotes ("") or line breaks.
// The reader cuts the text into blocks, finds where records start in each block by the
// parity of the quotes before it, and parses the blocks on several threads straight into
// the columns' final storage; the results do not depend on the number of threads.
#include "host/data/csvfile.h"
#include "host/utf8text.h"
#include "support/hostif.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include <csignal>
#include <fast_float/fast_float.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qrxhost {
namespace {

const char kChanged[] = "the file changed while it was being read";

bool validUtf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t extra;
    if (c < 0x80)
      extra = 0;
    else if (c >= 0xC2 && c <= 0xDF)
      extra = 1;
    else if (c >= 0xE0 && c <= 0xEF)
      extra = 2;
    else if (c >= 0xF0 && c <= 0xF4)
      extra = 3;
    else
      return false;
    if (i + extra >= s.size() && extra > 0)
      return false;
    for (size_t k = 1; k <= extra; ++k)
      if ((static_cast<unsigned char>(s[i + k]) >> 6) != 0x2)
        return false;
    i += extra + 1;
  }
  return true;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimView(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && isBlank(s[b]))
    ++b;
  while (e > b && isBlank(s[e - 1]))
    --e;
  return s.substr(b, e - b);
}

size_t rtrimmedSize(std::string_view s) {
  size_t e = s.size();
  while (e > 0 && isBlank(s[e - 1]))
    --e;
  return e;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool equalsNoCase(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size())
    return false;
  for (size_t i = 0; i < text.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != lower[i])
      return false;
  return true;
}

enum class NumberText { kNumber, kNotNumber, kTooLarge };

// Checks the number syntax on a trimmed view and converts it. Infinities and decimal
// numbers beyond the largest double are numbers the host cannot hold; numbers too small
// in magnitude read as zero (or a subnormal).
NumberText classifyNumber(std::string_view t, double* value) {
  if (t.empty())
    return NumberText::kNotNumber;
  size_t i = 0;
  if (t[i] == '+' || t[i] == '-')
    ++i;
  if (equalsNoCase(t.substr(i), "inf") || equalsNoCase(t.substr(i), "infinity"))
    return NumberText::kTooLarge;
  size_t digits = 0;
  while (i < t.size() && isDigit(t[i])) {
    ++i;
    ++digits;
  }
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && isDigit(t[i])) {
      ++i;
      ++digits;
    }
  }
  if (digits == 0)
    return NumberText::kNotNumber;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-'))
      ++i;
    size_t expDigits = 0;
    while (i < t.size() && isDigit(t[i])) {
      ++i;
      ++expDigits;
    }
    if (expDigits == 0)
      return NumberText::kNotNumber;
  }
  if (i != t.size())
    return NumberText::kNotNumber;
  std::string_view body = t[0] == '+' ? t.substr(1) : t;
  double v = 0;
  auto res = std::from_chars(body.data(), body.data() + body.size(), v);
  if (res.ec == std::errc::result_out_of_range)
    v = std::strtod(std::string(body).c_str(), nullptr); // over- or underflow: which one
  else if (res.ec != std::errc() || res.ptr != body.data() + body.size())
    return NumberText::kNotNumber;
  if (!std::isfinite(v))
    return NumberText::kTooLarge;
  *value = v;
  return NumberText::kNumber;
}

// Empty and "." are missing, quoted or not (writers that quote every field quote them).
bool isMissingText(std::string_view trimmed) { return trimmed.empty() || trimmed == "."; }

// The spellings other programs write for a missing number: NA, NaN and N/A in any case.
// They are missing in a numeric column; a character column keeps them as text.
bool isMissingNumberText(std::string_view trimmed) {
  return equalsNoCase(trimmed, "na") || equalsNoCase(trimmed, "nan") ||
         equalsNoCase(trimmed, "n/a");
}

// ---- records ----------------------------------------------------------------------------

// The text being read; `start` is past a byte-order mark.
struct Text {
  const char* t = nullptr;
  size_t n = 0;
  size_t start = 0;
};

// One field of a record: its raw text (between the quotes for a quoted field) and the
// number of doubled quotes in it.
struct Field {
  std::string_view raw;
  bool quoted = false;
  size_t pairs = 0;
};

struct SyntaxError {
  bool set = false;
  CsvError error;
};

// Skips empty lines (LF or CRLF alone) at a record boundary.
void skipEmptyLines(const Text& x, size_t* i, int64_t* line) {
  while (*i < x.n) {
    if (x.t[*i] == '\n') {
      ++*line;
      ++*i;
    } else if (x.t[*i] == '\r' && *i + 1 < x.n && x.t[*i + 1] == '\n') {
      ++*line;
      *i += 2;
    } else {
      break;
    }
  }
}

// A quoted field from its opening quote; false (with the error) when it is not closed or
// something other than blanks follows the closing quote.
bool quotedField(const Text& x, size_t* at, int64_t* line, Field* f, SyntaxError* err) {
  size_t i = *at;
  const int64_t quoteLine = *line;
  const size_t begin = ++i;
  f->quoted = true;
  for (;;) {
    const void* q = i < x.n ? std::memchr(x.t + i, '"', x.n - i) : nullptr;
    const size_t next = q ? static_cast<size_t>(static_cast<const char*>(q) - x.t) : x.n;
    *line += std::count(x.t + i, x.t + next, '\n');
    i = next;
    if (i >= x.n) {
      *err = {true,
              {static_cast<int>(quoteLine), "the quoted value that starts here is not closed"}};
      return false;
    }
    if (i + 1 < x.n && x.t[i + 1] == '"') {
      ++f->pairs;
      i += 2;
      continue;
    }
    break;
  }
  f->raw = std::string_view(x.t + begin, i - begin);
  ++i; // the closing quote
  // only blanks may follow the closing quote before the separator
  while (i < x.n && isBlank(x.t[i]))
    ++i;
  if (i < x.n && x.t[i] != ',' && x.t[i] != '\n' && x.t[i] != '\r') {
    *err = {true, {static_cast<int>(*line), "unexpected character after a closing quote"}};
    return false;
  }
  *at = i;
  return true;
}

bool unquotedField(const Text& x, size_t* at, int64_t line, Field* f, SyntaxError* err) {
  size_t i = *at;
  const size_t begin = i;
  while (i < x.n && x.t[i] != ',' && x.t[i] != '\n' && x.t[i] != '\r') {
    if (x.t[i] == '"') {
      *err = {true, {static_cast<int>(line), "a quote inside an unquoted value"}};
      return false;
    }
    ++i;
  }
  f->raw = std::string_view(x.t + begin, i - begin);
  *at = i;
  return true;
}

// The end of a field: true when another field follows in the same record.
bool fieldSeparator(const Text& x, size_t* i, int64_t* line, SyntaxError* err) {
  if (*i < x.n && x.t[*i] == ',') {
    ++*i;
    return true;
  }
  if (*i < x.n && x.t[*i] == '\r') {
    ++*i;
    if (*i < x.n && x.t[*i] != '\n') {
      *err = {true, {static_cast<int>(*line), "a carriage return inside a value"}};
      return false;
    }
  }
  if (*i < x.n && x.t[*i] == '\n') {
    ++*i;
    ++*line;
  }
  return false;
}

// Parses the record that starts at *i, handing each field to onField(index, field, i) where
// i is the position after the field; onField may consume a field itself and move i (the
// numeric fast path). Returns the number of fields, or -1 on a syntax error.
template <class OnField>
int64_t parseRecord(const Text& x, size_t* i, int64_t* line, SyntaxError* err, OnField&& onField) {
  for (int64_t field = 0;; ++field) {
    Field f;
    if (*i < x.n && x.t[*i] == '"') {
      if (!quotedField(x, i, line, &f, err))
        return -1;
      onField(field, f, nullptr);
    } else if (!onField(field, f, i)) {
      if (!unquotedField(x, i, *line, &f, err))
        return -1;
      onField(field, f, nullptr);
    }
    if (err->set)
      return -1;
    if (!fieldSeparator(x, i, line, err))
      return err->set ? -1 : field + 1;
  }
}

// The text of a field as a character value: unescaped, without trailing blanks; missing
// texts give the empty value.
size_t characterSize(const Field& f) {
  if (!f.quoted || f.pairs == 0) {
    const std::string_view tv = trimView(f.raw);
    return isMissingText(tv) ? 0 : rtrimmedSize(f.raw);
  }
  return rtrimmedSize(f.raw) - f.pairs; // the pairs lie before any trailing blank
}

char* writeCharacter(const Field& f, size_t size, char* out) {
  if (f.pairs == 0) {
    std::memcpy(out, f.raw.data(), size);
    return out + size;
  }
  for (size_t k = 0, w = 0; w < size; ++k, ++w) {
    out[w] = f.raw[k];
    if (f.raw[k] == '"')
      ++k; // the second quote of a pair
  }
  return out + size;
}

std::string unescaped(const Field& f) {
  if (f.pairs == 0)
    return std::string(f.raw);
  std::string s(f.raw.size() - f.pairs, '\0');
  for (size_t k = 0, w = 0; k < f.raw.size(); ++k, ++w) {
    s[w] = f.raw[k];
    if (f.raw[k] == '"')
      ++k;
  }
  return s;
}

// ---- blocks -----------------------------------------------------------------------------

bool lineStart(const Text& x, size_t p) {
  return p == x.start || (p > x.start && x.t[p - 1] == '\n');
}
bool nonEmptyAt(const Text& x, size_t p) {
  const char c = x.t[p];
  return c != '\n' && !(c == '\r' && p + 1 < x.n && x.t[p + 1] == '\n');
}

// What a first look at a block finds: its quotes and line feeds, and the records that start
// in it, counted apart by the parity of the quotes before them within the block (which of the
// two counts holds depends on the quotes before the block).
struct BlockScan {
  int64_t quotes = 0;
  int64_t newlines = 0;
  int64_t starts[2] = {0, 0};
};

// A block without quotes, in one pass that looks for quotes and line feeds together, sixteen
// bytes at a time; false (with nothing counted) when the block holds a quote.
bool scanPlainBlock(const Text& x, size_t lo, size_t hi, BlockScan* s) {
  BlockScan r;
  if (lineStart(x, lo) && nonEmptyAt(x, lo))
    ++r.starts[0];
  if (x.start > lo && x.start < hi && nonEmptyAt(x, x.start))
    ++r.starts[0]; // the first line, after a byte-order mark
  auto lineFeed = [&](size_t nl) {
    ++r.newlines;
    if (nl + 1 < hi && nonEmptyAt(x, nl + 1))
      ++r.starts[0];
  };
  size_t p = lo;
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"'), feed = _mm_set1_epi8('\n');
  for (; p + 16 <= hi; p += 16) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x.t + p));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(b, quote)))
      return false;
    for (auto m = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(b, feed))); m; m &= m - 1)
      lineFeed(p + static_cast<size_t>(std::countr_zero(m)));
  }
#endif
  for (; p < hi; ++p) {
    if (x.t[p] == '"')
      return false;
    if (x.t[p] == '\n')
      lineFeed(p);
  }
  *s = r;
  return true;
}

BlockScan scanBlock(const Text& x, size_t lo, size_t hi) {
  BlockScan s;
  if (scanPlainBlock(x, lo, hi, &s))
    return s;
  int parity = 0;
  for (size_t p = lo; p < hi; ++p) {
    if (lineStart(x, p) && nonEmptyAt(x, p))
      ++s.starts[parity];
    const char c = x.t[p];
    if (c == '"') {
      parity ^= 1;
      ++s.quotes;
    } else if (c == '\n') {
      ++s.newlines;
    }
  }
  return s;
}

// Per block and column: whether every value seen is a number, the first number the host
// cannot hold, and the bytes and longest length of the values as character values.
struct ColumnStats {
  bool numeric = true;
  int64_t badRecord = -1; // -1: none
  int64_t badLine = 0;
  std::string badText;
  uint64_t bytes = 0; // the values' lengths plus one NUL each
  int32_t longest = 0;
  // Kept by a reading that holds no numbers (the first reading of a windowed table), for the
  // notes on a column: whether it held a number, and its first text among numbers.
  bool valued = false;
  int64_t textRecord = -1; // -1: none
  int64_t textLine = 0;
  std::string text;
};

struct Block {
  size_t lo = 0, hi = 0;
  BlockScan scan;
  int parity = 0;          // quotes before the block, modulo 2
  int64_t firstLine = 1;   // line at lo
  int64_t firstRecord = 0; // records (header included) that start before the block
  int64_t records = 0;     // records that start in the block
  size_t recordStart = 0;  // where its first record starts, and that record's line
  int64_t recordLine = 0;
  SyntaxError syntax;
  bool mismatch = false; // the records found differ from the first count (the file changed)
  int64_t raggedRecord = -1;
  int64_t raggedLine = 0;
  int64_t raggedCount = 0;
  std::vector<ColumnStats> columns;
};

// Runs fn(b) for every block on up to `threads` threads, blocks handed out in order.
template <class Fn> void forEachBlock(size_t count, int threads, Fn&& fn) {
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t b; (b = next.fetch_add(1)) < count;)
      fn(b);
  };
  const size_t extra = std::min<size_t>(count, static_cast<size_t>(std::max(threads, 1))) - 1;
  std::vector<std::thread> pool;
  pool.reserve(extra);
  for (size_t k = 0; k < extra; ++k)
    pool.emplace_back(work);
  work();
  for (std::thread& t : pool)
    t.join();
}

uint64_t windowBytes(const CsvReadOptions& options) {
  return std::max<uint64_t>(options.windowBytes ? options.windowBytes : options.holdBytes / 4, 1);
}

// A text about as long as the values it holds could need windows: its blocks are cut to fit.
bool mayBeWindowed(const Text& x, const CsvReadOptions& options) {
  return options.holdBytes > 0 && x.n > options.holdBytes / 2;
}

// Cuts the text into blocks and counts them on the threads; fills in where each block's
// records begin among all records and on which line the block begins.
std::vector<Block> layBlocks(const Text& x, const CsvReadOptions& options) {
  const int threads = std::max(options.threads, 1);
  size_t size = options.blockBytes;
  if (size == 0 && mayBeWindowed(x, options)) // blocks small enough for a window of several
    size = std::clamp<size_t>(windowBytes(options) / (static_cast<size_t>(threads) * 2), 64,
                              size_t{64} << 20);
  if (size == 0)
    size = std::clamp<size_t>(x.n / (static_cast<size_t>(threads) * 8), size_t{1} << 20,
                              size_t{64} << 20);
  std::vector<Block> blocks((x.n + size - 1) / size);
  for (size_t b = 0; b < blocks.size(); ++b) {
    blocks[b].lo = b * size;
    blocks[b].hi = std::min(x.n, blocks[b].lo + size);
  }
  forEachBlock(blocks.size(), threads, [&](size_t b) {
    blocks[b].scan = scanBlock(x, blocks[b].lo, blocks[b].hi);
    if (options.doneWith)
      options.doneWith(blocks[b].lo, blocks[b].hi);
  });
  int64_t quotes = 0, lines = 1, records = 0;
  for (Block& k : blocks) {
    k.parity = static_cast<int>(quotes & 1);
    k.firstLine = lines;
    k.firstRecord = records;
    k.records = k.scan.starts[k.parity];
    quotes += k.scan.quotes;
    lines += k.scan.newlines;
    records += k.records;
  }
  return blocks;
}

// The first record start in a block (outside quotes, at a line start, not an empty line),
// with the line feeds before it; false when there is none.
bool firstRecordIn(const Text& x, const Block& k, size_t* at, int64_t* newlines) {
  int parity = k.parity;
  *newlines = 0;
  for (size_t p = k.lo; p < k.hi; ++p) {
    if (parity == 0 && lineStart(x, p) && nonEmptyAt(x, p)) {
      *at = p;
      return true;
    }
    if (x.t[p] == '"')
      parity ^= 1;
    else if (x.t[p] == '\n')
      ++*newlines;
  }
  return false;
}

// Walks the records of a block: onRecord(record index, position, line) parses the record
// at the position and returns false to stop. Marks the block when the records found differ
// from the count made before.
template <class OnRecord> void walkRecords(const Text& x, Block& k, OnRecord&& onRecord) {
  size_t i = k.recordStart;
  int64_t line = k.recordLine;
  for (int64_t r = 0; r < k.records; ++r) {
    if (r > 0) {
      skipEmptyLines(x, &i, &line);
      if (i >= k.hi) {
        k.mismatch = true;
        return;
      }
    }
    if (!onRecord(k.firstRecord + r, &i, &line))
      return;
  }
  skipEmptyLines(x, &i, &line);
  if (i < k.hi)
    k.mismatch = true;
}

// ---- the values -------------------------------------------------------------------------

// Powers of ten held exactly by a double, and as integers.
constexpr double kExactPowersOfTen[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};
constexpr uint64_t kPowersOfTen[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

uint64_t loadEight(const char* p) {
  uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

// The value of the first n (0 to 8) decimal digits of eight bytes (first byte lowest), by
// pairs, fours and eights of digits at once.
uint64_t digitsValue(uint64_t w, int n) {
  if (n == 0)
    return 0;
  uint64_t d = (w - 0x3030303030303030) << (8 * (8 - n)); // leading zero digits
  d = d * 10 + (d >> 8);
  return (((d & 0x000000FF000000FF) * (100 + (1000000ULL << 32))) +
          (((d >> 16) & 0x000000FF000000FF) * (1 + (10000ULL << 32)))) >>
         32;
}

bool endsField(char c) { return c == ',' || c == '\n' || c == '\r'; }

// Sixteen bytes of text as bit masks, bit k standing for byte k.
struct WindowMasks {
  uint32_t nondigit = 0, minus = 0, dot = 0, separator = 0;
};

WindowMasks windowMasks(const char* p) {
  WindowMasks m;
#if defined(__SSE2__)
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i d = _mm_sub_epi8(b, _mm_set1_epi8('0'));
  const __m128i digit = _mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8(9)), d);
  auto bits = [](__m128i v) { return static_cast<uint32_t>(_mm_movemask_epi8(v)); };
  auto equal = [&](char c) { return _mm_cmpeq_epi8(b, _mm_set1_epi8(c)); };
  m.nondigit = ~bits(digit) & 0xFFFF;
  m.minus = bits(equal('-'));
  m.dot = bits(equal('.'));
  m.separator = bits(_mm_or_si128(_mm_or_si128(equal(','), equal('\n')), equal('\r')));
#else
  for (uint32_t k = 0; k < 16; ++k) {
    m.nondigit |= uint32_t{!isDigit(p[k])} << k;
    m.minus |= uint32_t{p[k] == '-'} << k;
    m.dot |= uint32_t{p[k] == '.'} << k;
    m.separator |= uint32_t{endsField(p[k])} << k;
  }
#endif
  return m;
}

// The common number of a data file, an optional minus, up to eight digits and a fraction of
// up to eight (-12.034567), ending at a separator within sixteen bytes: read as its digits,
// an integer held exactly, divided by an exact power of ten, which one correctly rounded
// division makes the nearest double, the value a full conversion gives. Null for anything
// else (exponents, long numbers, the text's last bytes), left to the full conversion.
// The field's end comes from the window's masks alone, so that the reading of one field
// does not wait on the digits of the one before.
[[gnu::always_inline]] inline const char* plainDecimal(const char* s, const char* e,
                                                       double* value) {
  if (e - s < 32)
    return nullptr;
  const WindowMasks m = windowMasks(s);
  const uint32_t sign = m.minus & 1;
  const uint32_t stops = (m.nondigit & ~sign) | 0x10000;
  const int first = std::countr_zero(stops);
  const bool dot = (m.dot >> first) & 1;
  const int end = dot ? std::countr_zero(stops & (stops - 1)) : first;
  const int whole = first - static_cast<int>(sign);
  const int fraction = dot ? end - first - 1 : 0;
  if (end >= 16 || !((m.separator >> end) & 1) || whole > 8 || fraction > 8 ||
      whole + fraction == 0)
    return nullptr;
  // At most fourteen digits: an integer below 2^53, held exactly.
  const uint64_t mantissa = digitsValue(loadEight(s + sign), whole) * kPowersOfTen[fraction] +
                            digitsValue(loadEight(s + first + 1), fraction);
  // The sign goes in as a bit: a branch on it would be mispredicted on half of the values
  // of a column whose signs are random.
  const double v = static_cast<double>(mantissa) / kExactPowersOfTen[fraction];
  *value = std::bit_cast<double>(std::bit_cast<uint64_t>(v) | uint64_t{sign} << 63);
  return s + end;
}

// Reads an unquoted number in place when the field is one fast_float takes whole and it
// ends at a separator: the common case, read in one pass. Other texts take the full rules.
// Both conversions round correctly, so they give the same bits.
bool fastNumber(const Text& x, size_t* at, double* value, size_t* length) {
  const char* s = x.t + *at;
  const char* e = x.t + x.n;
  if (s == e || !(isDigit(*s) || *s == '-' || *s == '.'))
    return false;
  if (const char* end = plainDecimal(s, e, value)) {
    *length = static_cast<size_t>(end - s);
    *at = static_cast<size_t>(end - x.t);
    return true;
  }
  auto res = fast_float::from_chars(s, e, *value);
  if (res.ec != std::errc() || !std::isfinite(*value))
    return false;
  if (res.ptr != e && !endsField(*res.ptr))
    return false;
  *length = static_cast<size_t>(res.ptr - s);
  *at = static_cast<size_t>(res.ptr - x.t);
  return true;
}

bool atFieldEnd(const Text& x, size_t at) { return at >= x.n || endsField(x.t[at]); }

// The numeric value of a field in a column still numeric; clears `numeric` when the field is
// not a number and keeps the first number the host cannot hold.
double numericValue(const Field& f, int64_t record, int64_t line, ColumnStats* cs) {
  if (f.pairs > 0) { // a quote in the value: text
    cs->numeric = false;
    return hostMissing();
  }
  const std::string_view tv = trimView(f.raw);
  double v = hostMissing();
  if (isMissingText(tv) || isMissingNumberText(tv))
    return v;
  switch (classifyNumber(tv, &v)) {
  case NumberText::kNumber:
    return v;
  case NumberText::kNotNumber:
    cs->numeric = false;
    cs->textRecord = record;
    cs->textLine = line;
    cs->text = std::string(tv);
    break;
  case NumberText::kTooLarge:
    if (cs->badRecord < 0) {
      cs->badRecord = record;
      cs->badLine = line;
      cs->badText = std::string(tv);
    }
    break;
  }
  return hostMissing();
}

void noteLength(ColumnStats* cs, size_t length) {
  cs->bytes += length + 1;
  cs->longest = std::max(cs->longest, static_cast<int32_t>(length));
}

// Where the values of a parse go: the columns' storage (a column without numbers allocated
// keeps none), the lines of the observations (none when null), and the observation whose
// values are at index 0.
struct Storage {
  std::vector<CsvColumn>* columns = nullptr;
  int32_t* lines = nullptr;
  int64_t base = 0;
};

// The common record, read without splitting it into fields first: the road for data files
// of numbers, and of numbers beside columns of unquoted texts.
struct PlainRecords {
  std::vector<double*> outs;    // each column's numbers (null: not held)
  std::vector<uint8_t> numeric; // each column numeric so far in the block
  std::vector<int32_t> lengths; // the record's field lengths until it is taken whole
  std::vector<uint64_t> bytes;  // as ColumnStats, for the records read here
  std::vector<int32_t> longest;
  std::vector<uint8_t> valued; // as ColumnStats, for columns whose numbers are not held
  double missing = 0;
};

// The end of an unquoted field: the first separator, line end or quote (a quote then fails the
// caller's check for a separator, sending the record to the full rules), or the text's end.
const char* plainText(const char* q, const char* e) {
#if defined(__SSE2__)
  for (; e - q >= 16; q += 16) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    auto equal = [&](char c) { return _mm_cmpeq_epi8(b, _mm_set1_epi8(c)); };
    const __m128i stop =
        _mm_or_si128(_mm_or_si128(equal(','), equal('\n')), _mm_or_si128(equal('\r'), equal('"')));
    if (const auto m = static_cast<uint32_t>(_mm_movemask_epi8(stop)))
      return q + std::countr_zero(m);
  }
#endif
  while (q < e && !endsField(*q) && *q != '"')
    ++q;
  return q;
}

// Past the end of a record whose last field ends at `end`: a line feed, CRLF or the text's
// end (counting the line); null when something else follows.
const char* pastRecordEnd(const Text& x, const char* end, int64_t* line) {
  const char* const e = x.t + x.n;
  if (end < e && *end == '\r' && end + 1 < e && end[1] == '\n')
    ++end;
  if (end == e)
    return end;
  if (*end != '\n')
    return nullptr;
  ++*line;
  return end + 1;
}

// The fields of a plain record from q: in a numeric column each a number plainDecimal or
// fastNumber takes, or empty, written to the storage; in a column of texts an unquoted
// text. The lengths are noted. Returns the end of the last field, or null at anything else
// (a text in a numeric column, quotes, fewer fields than columns).
const char* plainFields(const Text& x, const char* q, size_t row, PlainRecords& p) {
  const char* const e = x.t + x.n;
  double* const* outs = p.outs.data();
  int32_t* lengths = p.lengths.data();
  const size_t last = p.outs.size() - 1;
  for (size_t c = 0;; ++c) {
    if (!p.numeric[c]) {
      const char* end = plainText(q, e);
      Field f;
      f.raw = std::string_view(q, static_cast<size_t>(end - q));
      lengths[c] = static_cast<int32_t>(characterSize(f));
      if (c == last)
        return end;
      if (end == e || *end != ',')
        return nullptr;
      q = end + 1;
      continue;
    }
    double v = p.missing;
    const char* end = plainDecimal(q, e, &v);
    if (!end) {
      size_t i = static_cast<size_t>(q - x.t), length = 0;
      if (!atFieldEnd(x, i) && !fastNumber(x, &i, &v, &length))
        return nullptr;
      end = x.t + i;
    }
    lengths[c] = static_cast<int32_t>(end - q);
    if (double* out = outs[c])
      out[row] = v;
    else
      p.valued[c] |= static_cast<uint8_t>(!isHostMissing(v));
    if (c == last)
      return end;
    if (end == e || *end != ',')
      return nullptr;
    q = end + 1;
  }
}

// Reads the record at *at when its fields are plain (plainFields), there are as many as
// columns and the record ends at a line feed (or CRLF, or the text's end). False for any
// other record, which the general road then reads from the same place: the numbers written
// here are written again, and no length is counted until the record is whole.
bool plainRecord(const Text& x, size_t* at, int64_t* line, size_t row, PlainRecords& p) {
  const char* end = plainFields(x, x.t + *at, row, p);
  if (!end || !(end = pastRecordEnd(x, end, line)))
    return false;
  for (size_t c = 0; c < p.lengths.size(); ++c) {
    p.bytes[c] += static_cast<uint64_t>(p.lengths[c]) + 1;
    p.longest[c] = std::max(p.longest[c], p.lengths[c]);
  }
  *at = static_cast<size_t>(end - x.t);
  return true;
}

PlainRecords plainRecords(std::vector<CsvColumn>& columns) {
  PlainRecords p;
  p.missing = hostMissing();
  for (CsvColumn& col : columns)
    p.outs.push_back(col.nums.data());
  p.numeric.assign(columns.size(), 1);
  p.lengths.assign(columns.size(), 0);
  p.bytes.assign(columns.size(), 0);
  p.longest.assign(columns.size(), 0);
  p.valued.assign(columns.size(), 0);
  return p;
}

// Adds the lengths counted on the plain road to the block's column statistics.
void addPlainLengths(const PlainRecords& p, std::vector<ColumnStats>& stats) {
  for (size_t c = 0; c < p.bytes.size(); ++c) {
    stats[c].bytes += p.bytes[c];
    stats[c].longest = std::max(stats[c].longest, p.longest[c]);
    stats[c].valued = stats[c].valued || p.valued[c] != 0;
  }
}

// The data rows of one block: numbers into the storage, types, lengths, and the first ragged
// row and syntax error.
void readBlockValues(const Text& x, Block& k, const Storage& to) {
  std::vector<CsvColumn>& columns = *to.columns;
  const int64_t ncol = static_cast<int64_t>(columns.size());
  k.columns.assign(columns.size(), ColumnStats());
  const double missing = hostMissing();
  PlainRecords plain = plainRecords(columns);
  walkRecords(x, k, [&](int64_t record, size_t* i, int64_t* line) {
    const int64_t recordLine = *line;
    const size_t row = static_cast<size_t>(record - 1 - to.base);
    if (record > 0 && to.lines)
      to.lines[row] = static_cast<int32_t>(recordLine);
    if (record > 0 && ncol > 0 && plainRecord(x, i, line, row, plain))
      return true;
    auto onField = [&](int64_t c, const Field& f, size_t* at) {
      if (record == 0 || c >= ncol)
        return false;
      ColumnStats& cs = k.columns[static_cast<size_t>(c)];
      double* out = columns[static_cast<size_t>(c)].nums.data();
      if (at) { // offered the field before it is split: an empty field or a plain number
        size_t length = 0;
        double v = missing;
        if (!atFieldEnd(x, *at) && !(cs.numeric && fastNumber(x, at, &v, &length)))
          return false;
        if (out)
          out[row] = v;
        else
          cs.valued = cs.valued || !isHostMissing(v);
        noteLength(&cs, length);
        return true;
      }
      noteLength(&cs, characterSize(f));
      if (cs.numeric) {
        const double v = numericValue(f, record, recordLine, &cs);
        if (out)
          out[row] = v;
        else
          cs.valued = cs.valued || !isHostMissing(v);
      }
      return true;
    };
    const int64_t fields = parseRecord(x, i, line, &k.syntax, onField);
    if (fields < 0)
      return false;
    if (record > 0 && fields != ncol && k.raggedRecord < 0) {
      k.raggedRecord = record;
      k.raggedLine = recordLine;
      k.raggedCount = fields;
    }
    for (size_t c = 0; c < k.columns.size(); ++c)
      plain.numeric[c] = k.columns[c].numeric;
    return true;
  });
  addPlainLengths(plain, k.columns);
}

// The character columns' values of one block, written at the block's place in each buffer.
// Writes a character value at the column's cursor for observation `row`.
void putCharacter(CsvColumn& col, uint64_t& pos, size_t row, const Field& f) {
  col.offsets[row] = pos;
  char* end = writeCharacter(f, characterSize(f), col.chars.data() + pos);
  *end = '\0';
  pos = static_cast<uint64_t>(end + 1 - col.chars.data());
}

// The record at *at when no field is quoted and there are as many fields as columns: its
// fields split at the separators into `fields` and the position moved past it. False for any
// other record, left to the full rules.
bool plainSplit(const Text& x, size_t* at, int64_t* line, std::vector<Field>& fields) {
  const char* q = x.t + *at;
  const char* const e = x.t + x.n;
  for (size_t c = 0;; ++c) {
    const char* end = plainText(q, e);
    fields[c].raw = std::string_view(q, static_cast<size_t>(end - q));
    if (c + 1 == fields.size()) {
      if (!(end = pastRecordEnd(x, end, line)))
        return false;
      *at = static_cast<size_t>(end - x.t);
      return true;
    }
    if (end == e || *end != ',')
      return false;
    q = end + 1;
  }
}

void writeBlockCharacters(const Text& x, Block& k, const Storage& to,
                          std::vector<uint64_t>& cursor) {
  std::vector<CsvColumn>& columns = *to.columns;
  std::vector<Field> fields(columns.size());
  walkRecords(x, k, [&](int64_t record, size_t* i, int64_t* line) {
    const size_t row = static_cast<size_t>(record - 1 - to.base);
    if (record > 0 && !fields.empty() && plainSplit(x, i, line, fields)) {
      for (size_t c = 0; c < columns.size(); ++c)
        if (!columns[c].numeric)
          putCharacter(columns[c], cursor[c], row, fields[c]);
      return true;
    }
    auto onField = [&](int64_t c, const Field& f, size_t* at) {
      if (at || record == 0)
        return false;
      CsvColumn& col = columns[static_cast<size_t>(c)];
      if (!col.numeric)
        putCharacter(col, cursor[static_cast<size_t>(c)], row, f);
      return true;
    };
    return parseRecord(x, i, line, &k.syntax, onField) >= 0;
  });
}

// ---- the table --------------------------------------------------------------------------

// The header record: the variables' names, checked. Syntax errors anywhere in the file come
// before the name checks, so the caller checks names after the blocks are read.
bool readHeader(const Text& x, std::vector<Field>* fields, int64_t* line, CsvError* error) {
  size_t i = x.start;
  *line = 1;
  skipEmptyLines(x, &i, line);
  if (i >= x.n) {
    *error = {1, "the file has no header line of variable names"};
    return false;
  }
  SyntaxError err;
  const int64_t headerLine = *line;
  parseRecord(x, &i, line, &err, [&](int64_t, const Field& f, size_t* at) {
    if (!at)
      fields->push_back(f);
    return false;
  });
  *line = headerLine;
  if (err.set)
    *error = err.error;
  return !err.set;
}

// The name of a column whose header is empty, as files written with a row index have in
// their first column: VARn after its column number, with _2, _3, ... added while another
// column of the header has that name.
std::string unnamedColumnName(const std::vector<Field>& fields, size_t c) {
  std::set<std::string> given;
  for (const Field& f : fields)
    given.insert(nameUpper(std::string(trimView(unescaped(f)))));
  const std::string base = "VAR" + std::to_string(c + 1);
  std::string name = base;
  for (int k = 2; given.count(nameUpper(name)) != 0; ++k)
    name = base + "_" + std::to_string(k);
  return name;
}

bool checkNames(const std::vector<Field>& fields, int64_t line, CsvTable* out, CsvError* error) {
  std::map<std::string, int> seen;
  const int ln = static_cast<int>(line);
  for (size_t c = 0; c < fields.size(); ++c) {
    std::string name(trimView(unescaped(fields[c])));
    if (!validUtf8(name)) {
      *error = {ln,
                "the name of column " + std::to_string(c + 1) + " holds a byte that is not UTF-8"};
      return false;
    }
    if (name.empty()) {
      name = unnamedColumnName(fields, c);
      out->unnamed.push_back(c);
    }
    if (name.size() > 32) {
      *error = {ln, "the name " + name + " is longer than 32 characters"};
      return false;
    }
    if (!seen.emplace(nameUpper(name), static_cast<int>(c)).second) {
      *error = {ln, "the name " + name + " is given twice"};
      return false;
    }
    out->columns[c].name = name;
  }
  return true;
}

// The error the file's text holds, in the order a reader going through it would meet them:
// the first syntax error, then the names, then the first ragged row, then the first number
// beyond the largest double in a column that stays numeric.
bool syntaxError(const std::vector<Block>& blocks, CsvError* error) {
  for (const Block& k : blocks)
    if (k.syntax.set) {
      *error = k.syntax.error;
      return true;
    }
  return false;
}

bool rowErrors(const std::vector<Block>& blocks, const std::vector<CsvColumn>& columns,
               CsvError* error) {
  for (const Block& k : blocks)
    if (k.mismatch) {
      *error = {0, kChanged};
      return true;
    }
  for (const Block& k : blocks)
    if (k.raggedRecord >= 0) {
      *error = {static_cast<int>(k.raggedLine), "the row has " + std::to_string(k.raggedCount) +
                                                    " values but the header names " +
                                                    std::to_string(columns.size()) + " variables"};
      return true;
    }
  const ColumnStats* best = nullptr;
  size_t bestColumn = 0;
  for (const Block& k : blocks) {
    for (size_t c = 0; c < k.columns.size(); ++c) {
      const ColumnStats& cs = k.columns[c];
      if (columns[c].numeric && cs.badRecord >= 0 && (!best || cs.badRecord < best->badRecord)) {
        best = &cs;
        bestColumn = c;
      }
    }
    if (best)
      break;
  }
  if (!best)
    return false;
  *error = {static_cast<int>(best->badLine),
            "column " + std::to_string(bestColumn + 1) + " (" + columns[bestColumn].name +
                "): the value \"" + best->badText +
                "\" is a number beyond the largest that can be held"};
  return true;
}

// Settles each column's type: numeric when every block found only numbers in it.
void settleTypes(const std::vector<Block>& blocks, std::vector<CsvColumn>& columns) {
  for (const Block& k : blocks)
    for (size_t c = 0; c < k.columns.size(); ++c)
      columns[c].numeric = columns[c].numeric && k.columns[c].numeric;
}

// Frees the numbers of character columns and sizes their byte buffers and lengths. True when
// some column is character.
bool sizeCharacterColumns(const std::vector<Block>& blocks, std::vector<CsvColumn>& columns,
                          int64_t nobs, ColumnStorage where) {
  bool anyCharacter = false;
  for (size_t c = 0; c < columns.size(); ++c) {
    CsvColumn& col = columns[c];
    if (col.numeric)
      continue;
    uint64_t bytes = 0;
    int32_t longest = 1;
    for (const Block& k : blocks) {
      if (k.columns.empty())
        continue;
      bytes += k.columns[c].bytes;
      longest = std::max(longest, k.columns[c].longest);
    }
    anyCharacter = true;
    col.length = longest;
    col.nums.release();
    col.chars.allocate(std::max<uint64_t>(bytes, 1), where);
    col.offsets.allocate(static_cast<size_t>(nobs) + 1, where);
    col.offsets[static_cast<size_t>(nobs)] = bytes;
  }
  return anyCharacter;
}

void writeCharacters(const Text& x, std::vector<Block>& blocks, const Storage& to,
                     const CsvReadOptions& options) {
  const std::vector<CsvColumn>& columns = *to.columns;
  std::vector<std::vector<uint64_t>> cursors(blocks.size(),
                                             std::vector<uint64_t>(columns.size(), 0));
  std::vector<uint64_t> at(columns.size(), 0);
  for (size_t b = 0; b < blocks.size(); ++b) {
    if (blocks[b].columns.empty())
      continue;
    cursors[b] = at;
    for (size_t c = 0; c < columns.size(); ++c)
      at[c] += blocks[b].columns[c].bytes;
  }
  forEachBlock(blocks.size(), options.threads, [&](size_t b) {
    if (blocks[b].records > 0)
      writeBlockCharacters(x, blocks[b], to, cursors[b]);
    if (options.doneWith)
      options.doneWith(blocks[b].lo, blocks[b].hi);
  });
}

// The blocks' records on the threads: the values, lines, types and errors.
void readBlocks(const Text& x, std::vector<Block>& blocks, const Storage& to,
                const CsvReadOptions& options) {
  // The count and its report move together under one lock: a thread reporting a smaller
  // count after another's larger one would run the shown count backwards.
  std::mutex progressLock;
  int64_t rowsRead = 0;
  forEachBlock(blocks.size(), options.threads, [&](size_t b) {
    Block& k = blocks[b];
    int64_t newlines = 0;
    if (k.records > 0) {
      if (!firstRecordIn(x, k, &k.recordStart, &newlines)) {
        k.mismatch = true;
      } else {
        k.recordLine = k.firstLine + newlines;
        readBlockValues(x, k, to);
      }
    }
    if (options.doneWith)
      options.doneWith(k.lo, k.hi);
    if (options.progress) {
      // the observations of the block: its records less the header line
      const int64_t rows = std::max<int64_t>(k.firstRecord + k.records - 1, 0) -
                           std::max<int64_t>(k.firstRecord - 1, 0);
      std::lock_guard<std::mutex> lock(progressLock);
      rowsRead += rows;
      options.progress(rowsRead);
    }
  });
}

// The character columns' lengths when their values are not held: the longest value, at least 1.
void settleCharacterLengths(const std::vector<Block>& blocks, std::vector<CsvColumn>& columns) {
  for (size_t c = 0; c < columns.size(); ++c) {
    if (columns[c].numeric)
      continue;
    int32_t longest = 1;
    for (const Block& k : blocks)
      if (!k.columns.empty())
        longest = std::max(longest, k.columns[c].longest);
    columns[c].length = longest;
  }
}

} // namespace

// The text behind a table read window by window, its blocks as the first reading settled
// them, and the windows: runs of blocks, each holding about the window's share of values.
struct CsvSource {
  std::shared_ptr<const void> owner;          // keeps the text alive (the mapped file)
  const std::atomic<bool>* changed = nullptr; // set when the text vanished under the reader
  std::function<void(size_t begin, size_t end)> doneWith;
  Text x;
  int threads = 1;
  std::vector<Block> blocks;
  std::vector<size_t> windowBlock; // first block of each window; one more: blocks.size()
  std::vector<int64_t> windowRow;  // first observation of each window; one more: nobs
};

namespace {

int64_t firstRowOf(const Block& k) { return std::max<int64_t>(k.firstRecord - 1, 0); }
int64_t endRowOf(const Block& k) { return std::max<int64_t>(k.firstRecord + k.records - 1, 0); }

// The values' bytes of a block when held: 8 per number, a character value's bytes and NUL
// and 8 for its offset.
uint64_t heldBytes(const Block& k, const std::vector<CsvColumn>& columns) {
  const uint64_t rows = static_cast<uint64_t>(endRowOf(k) - firstRowOf(k));
  uint64_t bytes = 0;
  for (size_t c = 0; c < columns.size(); ++c)
    bytes += columns[c].numeric || k.columns.empty() ? 8 * rows : 8 * rows + k.columns[c].bytes;
  return bytes;
}

// Cuts the blocks into windows of about `limit` bytes of values (at least one block each).
void layWindows(CsvSource* src, const std::vector<CsvColumn>& columns, uint64_t limit,
                int64_t nobs) {
  uint64_t held = 0;
  for (size_t b = 0; b < src->blocks.size(); ++b) {
    const uint64_t bytes = heldBytes(src->blocks[b], columns);
    if (b == 0 || (held > 0 && held + bytes > limit)) {
      src->windowBlock.push_back(b);
      src->windowRow.push_back(firstRowOf(src->blocks[b]));
      held = 0;
    }
    held += bytes;
  }
  src->windowBlock.push_back(src->blocks.size());
  src->windowRow.push_back(nobs);
}

// The whole road: every value parsed into the columns at once.
void holdValues(const Text& x, std::vector<Block>& blocks, const CsvReadOptions& options,
                CsvTable* out) {
  if (sizeCharacterColumns(blocks, out->columns, out->nobs, ColumnStorage::OwnPages))
    writeCharacters(x, blocks, Storage{&out->columns, nullptr, 0}, options);
}

// The windowed road: the blocks as settled are kept for parsing windows later.
void keepSource(const Text& x, std::vector<Block>& blocks, const CsvReadOptions& options,
                CsvTable* out) {
  settleCharacterLengths(blocks, out->columns);
  auto src = std::make_shared<CsvSource>();
  src->x = x;
  src->threads = options.threads;
  src->doneWith = options.doneWith;
  src->blocks = std::move(blocks);
  layWindows(src.get(), out->columns, windowBytes(options), out->nobs);
  out->source = std::move(src);
}

bool parseText(const Text& x, const CsvReadOptions& options, CsvTable* out, CsvError* error) {
  std::vector<Field> names;
  int64_t headerLine = 1;
  if (!readHeader(x, &names, &headerLine, error))
    return false;
  std::vector<Block> blocks = layBlocks(x, options);
  int64_t records = 0;
  for (const Block& k : blocks)
    records += k.records;
  if (records < 1) {
    *error = {0, kChanged};
    return false;
  }
  out->nobs = records - 1;
  out->columns.clear();
  out->unnamed.clear();
  out->columns.resize(names.size());
  // Beyond the bound, the first reading settles types, lengths, lines and errors only.
  const uint64_t values = static_cast<uint64_t>(out->nobs) * names.size() * 8;
  const bool windowed = options.holdBytes > 0 && values > options.holdBytes;
  if (!windowed)
    for (CsvColumn& col : out->columns)
      col.nums.allocate(static_cast<size_t>(out->nobs), ColumnStorage::OwnPages);
  out->lines.assign(static_cast<size_t>(out->nobs), 0);
  readBlocks(x, blocks, Storage{&out->columns, out->lines.data(), 0}, options);
  if (syntaxError(blocks, error) || !checkNames(names, headerLine, out, error))
    return false;
  settleTypes(blocks, out->columns);
  if (rowErrors(blocks, out->columns, error))
    return false;
  if (windowed)
    keepSource(x, blocks, options, out);
  else
    holdValues(x, blocks, options, out);
  return true;
}

// Parses window w of a table into `columns` (names, types and lengths copied from the
// table); false when the text no longer holds what the first reading found.
bool loadWindow(const CsvTable& table, size_t w, std::vector<CsvColumn>* columns) {
  const CsvSource& src = *table.source;
  std::vector<Block> blocks(src.blocks.begin() + static_cast<ptrdiff_t>(src.windowBlock[w]),
                            src.blocks.begin() + static_cast<ptrdiff_t>(src.windowBlock[w + 1]));
  const int64_t base = src.windowRow[w];
  const size_t rows = static_cast<size_t>(src.windowRow[w + 1] - base);
  columns->clear();
  columns->resize(table.columns.size());
  for (size_t c = 0; c < columns->size(); ++c) {
    (*columns)[c].name = table.columns[c].name;
    (*columns)[c].numeric = table.columns[c].numeric;
    if ((*columns)[c].numeric)
      (*columns)[c].nums.allocate(rows);
  }
  CsvReadOptions options;
  options.threads = src.threads;
  const Storage to{columns, nullptr, base};
  readBlocks(src.x, blocks, to, options);
  if (sizeCharacterColumns(blocks, *columns, static_cast<int64_t>(rows), ColumnStorage::Heap))
    writeCharacters(src.x, blocks, to, options);
  for (size_t c = 0; c < columns->size(); ++c)
    (*columns)[c].length = table.columns[c].length;
  if (src.doneWith && !blocks.empty())
    src.doneWith(blocks.front().lo, blocks.back().hi);
  const bool changed = src.changed && src.changed->load();
  return !changed && std::none_of(blocks.begin(), blocks.end(), [](const Block& k) {
    return k.syntax.set || k.mismatch || k.raggedRecord >= 0;
  });
}

} // namespace

namespace {

// firstTextAmongNumbers for a windowed table, from what the first reading kept of each block:
// the first text of the earliest block that met one, and whether a block met a number.
bool windowedTextAmongNumbers(const CsvSource& src, size_t column, int64_t* obs,
                              std::string* text) {
  bool sawNumber = false, sawText = false;
  for (const Block& k : src.blocks) {
    if (k.columns.size() <= column)
      continue;
    const ColumnStats& cs = k.columns[column];
    sawNumber = sawNumber || cs.valued;
    if (!sawText && cs.textRecord >= 0) {
      sawText = true;
      *obs = cs.textRecord - 1;
      *text = cs.text;
    }
  }
  return sawNumber && sawText;
}

} // namespace

bool firstTextAmongNumbers(const CsvTable& table, size_t column, int64_t* obs, std::string* text) {
  if (column >= table.columns.size() || table.columns[column].numeric)
    return false;
  if (table.windowed())
    return windowedTextAmongNumbers(*table.source, column, obs, text);
  const CsvColumn& col = table.columns[column];
  bool sawNumber = false, sawText = false;
  for (int64_t i = 0; i < table.nobs && !(sawNumber && sawText); ++i) {
    const std::string_view v = trimView(col.str(i));
    double value = 0;
    if (isMissingText(v) || isMissingNumberText(v))
      continue;
    if (classifyNumber(v, &value) == NumberText::kNumber) {
      sawNumber = true;
    } else if (!sawText) {
      sawText = true;
      *obs = i;
      *text = std::string(v);
    }
  }
  return sawNumber && sawText;
}

bool columnHasNoValues(const CsvTable& table, size_t column) {
  if (table.nobs <= 0 || column >= table.columns.size())
    return false;
  const CsvColumn& col = table.columns[column];
  if (table.windowed())
    return std::none_of(
        table.source->blocks.begin(), table.source->blocks.end(), [&](const Block& k) {
          return k.columns.size() > column &&
                 (col.numeric ? k.columns[column].valued : k.columns[column].longest > 0);
        });
  const auto n = static_cast<size_t>(table.nobs);
  if (!col.numeric) {
    for (size_t i = 0; i < n; ++i)
      if (!col.str(static_cast<int64_t>(i)).empty())
        return false;
    return true;
  }
  if (col.nums.size() < n)
    return false;
  for (size_t i = 0; i < n; ++i)
    if (!isHostMissing(col.nums[i]))
      return false;
  return true;
}

bool parseCsvNumber(const std::string& text, double* value) {
  return classifyNumber(trimView(text), value) == NumberText::kNumber;
}

bool parseCsv(const char* text, size_t size, const CsvReadOptions& options, CsvTable* out,
              CsvError* error) {
  Text x{text, size, 0};
  if (size >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0)
    x.start = 3; // byte-order mark
  out->columns.clear();
  out->lines.clear();
  out->nobs = 0;
  return parseText(x, options, out, error);
}

bool parseCsv(const std::string& text, CsvTable* out, CsvError* error) {
  return parseCsv(text.data(), text.size(), CsvReadOptions(), out, error);
}

namespace {

// Mapped files whose pages may vanish when another process shortens the file. Touching such
// a page raises a bus error; the handler maps a page of zeros over it and marks the file, so
// that the parse runs to its end and the reader reports the change instead of the process
// dying. The slots are read by the handler, hence plain atomics and no allocation.
struct GuardSlot {
  std::atomic<uintptr_t> begin{0};
  std::atomic<uintptr_t> end{0};
  std::atomic<bool>* changed = nullptr;
};
constexpr size_t kGuardSlots = 256;
GuardSlot gGuards[kGuardSlots];
std::mutex gGuardMutex;
struct sigaction gPreviousBus {};
uintptr_t gPageSize = 4096;

void onBusError(int, siginfo_t* info, void*) {
  const uintptr_t at = reinterpret_cast<uintptr_t>(info->si_addr);
  for (GuardSlot& g : gGuards) {
    const uintptr_t b = g.begin.load(std::memory_order_acquire);
    if (b == 0 || at < b || at >= g.end.load(std::memory_order_acquire))
      continue;
    void* page = reinterpret_cast<void*>(at & ~(gPageSize - 1));
    if (::mmap(page, gPageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) !=
        MAP_FAILED) {
      g.changed->store(true);
      return;
    }
  }
  // Not a guarded mapping: the fault repeats under the handler that was there before.
  ::sigaction(SIGBUS, &gPreviousBus, nullptr);
}

void installBusHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    gPageSize = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    struct sigaction sa {};
    sa.sa_sigaction = onBusError;
    sa.sa_flags = SA_SIGINFO;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGBUS, &sa, &gPreviousBus);
  });
}

// Guards [p, p + n) until unguard; a mapping beyond the slots stays unguarded.
GuardSlot* guard(const char* p, size_t n, std::atomic<bool>* changed) {
  installBusHandler();
  std::lock_guard<std::mutex> lock(gGuardMutex);
  for (GuardSlot& g : gGuards)
    if (g.begin.load() == 0) {
      g.changed = changed;
      g.end.store(reinterpret_cast<uintptr_t>(p) + n, std::memory_order_release);
      g.begin.store(reinterpret_cast<uintptr_t>(p), std::memory_order_release);
      return &g;
    }
  return nullptr;
}

void unguard(GuardSlot* g) {
  if (!g)
    return;
  std::lock_guard<std::mutex> lock(gGuardMutex);
  g->begin.store(0);
  g->end.store(0);
}

// A file mapped for reading; pages the parse is done with are handed back as it goes, so
// that the mapped text does not stay resident beside the columns.
class MappedFile {
public:
  ~MappedFile() {
    unguard(guard_);
    if (data_ && size_ > 0)
      ::munmap(data_, size_);
    if (fd_ >= 0)
      ::close(fd_);
  }
  bool open(const std::string& path, CsvError* error) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
      *error = {0, "the file cannot be opened"};
      return false;
    }
    size_ = static_cast<size_t>(st.st_size);
    if (size_ == 0)
      return true;
    void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd_, 0);
    if (p == MAP_FAILED) {
      *error = {0, "the file cannot be read"};
      return false;
    }
    data_ = static_cast<char*>(p);
    guard_ = guard(data_, size_, &changed_);
    ::madvise(data_, size_, MADV_SEQUENTIAL);
    return true;
  }
  const char* data() const { return data_ ? data_ : ""; }
  size_t size() const { return size_; }
  // True when pages of the file vanished while it was read (another process shortened it).
  const std::atomic<bool>& changed() const { return changed_; }
  // Drops the whole pages inside [begin, end) from the process's memory.
  void release(size_t begin, size_t end) const {
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    const size_t b = (begin + page - 1) / page * page;
    const size_t e = end / page * page;
    if (data_ && e > b)
      ::madvise(data_ + b, e - b, MADV_DONTNEED);
  }

private:
  int fd_ = -1;
  char* data_ = nullptr;
  size_t size_ = 0;
  std::atomic<bool> changed_{false};
  GuardSlot* guard_ = nullptr;
};

} // namespace

bool readCsvFile(const std::string& path, const CsvReadOptions& options, CsvTable* out,
                 CsvError* error) {
  auto file = std::make_shared<MappedFile>();
  if (!file->open(path, error))
    return false;
  CsvReadOptions mapped = options;
  const MappedFile* f = file.get(); // kept alive by the table's source when windows need it
  mapped.doneWith = [f, done = options.doneWith](size_t begin, size_t end) {
    f->release(begin, end);
    if (done)
      done(begin, end);
  };
  out->file = path;
  const bool ok = parseCsv(file->data(), file->size(), mapped, out, error);
  if (file->changed().load()) {
    *error = {0, kChanged};
    out->source.reset();
    return false;
  }
  if (ok && out->source) {
    auto src = std::const_pointer_cast<CsvSource>(out->source);
    src->owner = file;
    src->changed = &file->changed();
  }
  return ok;
}

CsvRows::CsvRows(std::shared_ptr<const CsvTable> table) : table_(std::move(table)) {
  if (!table_->windowed())
    end_ = table_->nobs;
}

bool CsvRows::load(int64_t obs) {
  if (!table_->windowed() || obs < 0 || obs >= table_->nobs || changed_)
    return false;
  const std::vector<int64_t>& starts = table_->source->windowRow;
  const size_t w = static_cast<size_t>(std::upper_bound(starts.begin(), starts.end() - 1, obs) -
                                       starts.begin()) -
                   1;
  first_ = end_ = 0;
  window_.clear();
  if (!loadWindow(*table_, w, &window_)) {
    changed_ = true;
    window_.clear();
    return false;
  }
  first_ = starts[w];
  end_ = starts[w + 1];
  return true;
}

bool readCsvFile(const std::string& path, CsvTable* out, CsvError* error) {
  return readCsvFile(path, CsvReadOptions(), out, error);
}

std::string formatCsvNumber(double value) {
  if (isHostMissing(value) || std::isnan(value))
    return std::string();
  char buf[64];
  // A product such as -1 x 0 (an EFFECT-coded column crossed with a zero) is a negative
  // zero: it is written as 0, the value it stands for.
  auto res = std::to_chars(buf, buf + sizeof buf, value == 0 ? 0.0 : value);
  return std::string(buf, res.ptr);
}

std::string csvField(const std::string& text) {
  bool quote = !text.empty() && (text.front() == ' ' || text.back() == ' ');
  for (char c : text)
    if (c == ',' || c == '"' || c == '\n' || c == '\r')
      quote = true;
  if (!quote)
    return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"')
      out += '"';
    out += c;
  }
  out += '"';
  return out;
}

} // namespace qrxhost
